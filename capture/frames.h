// What the block reader and the receiver's reading share: the faults a
// frame can have, as the messages name them, and the frame layouts a
// receiver reads.  Internal to capture/.

#ifndef ROMWEAVE_CAPTURE_FRAMES_H_
#define ROMWEAVE_CAPTURE_FRAMES_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "capture/capture.h"

namespace romweave {

// The first fault a frame has, field by field, as a reader taking one byte
// at a time meets it.
enum FrameFault {
  FAULT_NONE,
  FAULT_NO_SOH,          // the start byte is no frame's
  FAULT_EOF_AT_NUMBER,   // the source ends before the block number
  FAULT_NUMBER,          // not the number expected
  FAULT_EOF_AT_INVERSE,  // the source ends before the complement
  FAULT_INVERSE,         // not the complement of the number expected
  FAULT_EOF_AT_DATA,     // the source ends inside the data
  FAULT_EOF_AT_CHECK,    // the source ends before the whole check
  FAULT_CHECK,           // the check differs from the data's
};

// A fault with what its message shows: the value found (or, at the end of
// the data, how many data bytes came) and the one wanted.
struct FaultReport {
  FrameFault fault = FAULT_NONE;
  unsigned found = 0;
  unsigned wanted = 0;
};

// Prints the fault's one message, naming the current source.
void print_fault(ConversionState& state, const FaultReport& report);

// Books `count` sound frames of `size` bytes, each carrying `data_size`
// data bytes, as taken: the last of them, at `last`, is kept as the frame
// just taken, the counters move on and the source moves past them.  Their
// data have been written.
inline void book_taken_frames(ConversionState& state, const unsigned char* last,
                              size_t size, size_t data_size, size_t count) {
  std::memcpy(state.last_frame, last, size);
  state.last_frame_size = size;
  consume_source(state.input, count * size);
  state.address += data_size * count;
  state.expected_block = static_cast<uint8_t>(state.expected_block + count);
}

// How the frames of a source end: one check for the whole transmission,
// unknown until its first frame is taken.
enum FrameCheck { CHECK_UNKNOWN, CHECK_SUM, CHECK_CRC };

// The data size of a frame that starts with `start`, or 0 for a byte that
// starts none.
inline size_t frame_data_size(unsigned char start) {
  return start == SOH ? BLOCK_DATA_SIZE : start == STX ? ONE_K_DATA_SIZE : 0;
}

// The size of a frame of `data_size` data bytes ending in `check`.
inline size_t frame_size(size_t data_size, FrameCheck check) {
  return 3 + data_size + (check == CHECK_CRC ? CRC_SIZE : 1);
}

// Makes up to `wanted` bytes (at most SOURCE_FRONT_ROOM) from the current
// position on readable in the read-ahead, none at or past `limit`, and
// returns how many are.  Fewer than wanted means the source, or its
// string, ends there, or that reading failed (stream_failed).
size_t look_ahead(SourceBuffer& in, int64_t limit, size_t wanted);

// What find_sound_frame() found.
enum FoundFrame {
  FOUND_NONE,      // no sound frame up to the end, or a read error
  FOUND_EXPECTED,  // a sound frame with the number expected next
  FOUND_OTHER,     // a sound frame with another number
};

// Looks, from the byte after the current position up to `limit` (or the
// end of the source), for the first sound frame that is not a copy of
// state.last_frame; copies are skipped whole.  A frame is sound when it is
// whole, its complement fits its number and its check, or either check
// while `check` is unknown, fits its data.  Leaves the source at the frame
// found, or at the end; FOUND_NONE for a read error sets read_failed.
// `only_end_bytes` tells whether every byte passed over was EOT, SUB, CAN or
// BS.  Each position costs the same, whatever the bytes: a candidate's sum and
// CRC come from running values.
FoundFrame find_sound_frame(ConversionState& state, int64_t limit,
                            FrameCheck check, bool* only_end_bytes);

}  // namespace romweave

#endif  // ROMWEAVE_CAPTURE_FRAMES_H_
