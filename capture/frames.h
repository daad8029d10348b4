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
// `other_end` is where the bytes passed over stop being end bytes for
// good: the offset just behind the last that is not one, or the current
// position where none is.  Each position costs the same, whatever the
// bytes: a candidate's sum and CRC come from running values.
FoundFrame find_sound_frame(ConversionState& state, int64_t limit,
                            FrameCheck check, int64_t* other_end);

// The bytes that end a transfer on either side and may follow its EOT: more
// EOTs, SUB padding, and a receiver's cancel, CAN, with the backspaces
// (BS) that erase it on a terminal.  Nothing else is worth a note there.
inline bool is_end_byte(unsigned char byte) {
  return byte == EOT || byte == SUB || byte == CAN || byte == BS;
}

// How many offsets of each kind the receiver's note lists.
constexpr uint64_t NOTE_OFFSETS = 8;

// Places where the receiver's reading skipped bytes of one kind: how many,
// and the first few.
struct SkipList {
  uint64_t count = 0;
  int64_t first[NOTE_OFFSETS] = {};

  void add(int64_t offset) {
    if (count < NOTE_OFFSETS) first[count] = offset;
    ++count;
  }
};

// How a source that the receiver's reading did not fail came to its end.
enum Ending {
  ENDED_AT_EOT,           // an EOT, with nothing but end bytes behind it
  ENDED_AT_EOT_AND_MORE,  // an EOT, with other bytes behind, but no frame
  ENDED_WITHOUT_EOT,      // the end of the source or of its string
};

// What the receiver's reading of one source did, as its note and the
// plain reading's hints tell it.
struct ReceptionRecord {
  bool crc = false;           // the frames end in a CRC-16
  bool one_k = false;         // a 1K frame was taken
  SkipList damaged;           // damaged stretches, each up to the sender's copy
  SkipList copies;            // copies of the frame just taken
  SkipList noise_eots;        // EOTs with the frame expected next behind them
  int64_t noise_offset = -1;  // noise before the EOT it ended at, or -1
  Ending ending = ENDED_WITHOUT_EOT;
  int64_t eot_offset = 0;      // the EOT it ended at
  int64_t cancel_offset = -1;  // where CAN CAN cancelled, or -1
  // Where the reading went on after the first damaged stretch or noise
  // EOT, and the number of the frame it found there.
  int64_t resumed_offset = -1;
  unsigned resumed_number = 0;
};

// Reads on from the current position as the XMODEM receiver would, up to
// `limit`, printing and writing nothing, and tells whether that reading
// comes to a clean end; `record` says what it skipped.  `check` is the
// source's check as far as the frames before the current position show it.
// The counters and the last frame of `state` are as they were, the source
// is read on; a read error, or a source that goes on past
// RECEIVER_TRIAL_LIMIT bytes from here, means false.
bool receiver_would_read(ConversionState& state, int64_t limit,
                         FrameCheck check, ReceptionRecord* record);

// How far the trial above reads at most: a capture of any machine this
// tool is for is far smaller, and a device that never ends must not keep
// a failed run from ending.
constexpr int64_t RECEIVER_TRIAL_LIMIT = int64_t{1} << 28;

}  // namespace romweave

#endif  // ROMWEAVE_CAPTURE_FRAMES_H_
