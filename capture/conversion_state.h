// The state of one run, shared by the driver and both readings of a
// capture: the outputs, the counters, and the current source with its
// read-ahead.

#ifndef ROMWEAVE_CAPTURE_CONVERSION_STATE_H_
#define ROMWEAVE_CAPTURE_CONVERSION_STATE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "capture/source_buffer.h"
#include "output/output.h"
#include "xmodem/frame.h"

namespace romweave {

struct ConversionState {
  // The image: the data of every block taken.
  Output* destination = nullptr;
  // Progress lines and fault messages.  Once it has failed, nothing more
  // is formatted for it.
  Output* standard_output = nullptr;
  // Hints on what a fault in a source's data means, and the notes of a
  // receiver's reading.
  Output* standard_error = nullptr;
  // Upper-cased name of the current source, as the fault messages show it.
  std::string source_name;
  // Read as an XMODEM receiver would: the user asked for it.
  bool receiver = false;
  // Data bytes taken so far over all sources; +128 per block taken, +1024
  // per 1K frame.
  uint64_t address = 0;
  // Number the next block must carry: 1 for a source's first block.
  uint8_t expected_block = 1;
  // The last frame taken from the current source, kept for the hints and
  // to know a copy of it: by the time a later frame comes, the read-ahead
  // may have moved past it.  Its size is 0 before the source's first.
  unsigned char last_frame[MAX_FRAME_SIZE];
  size_t last_frame_size = 0;
  // The current source and its read-ahead.
  SourceBuffer input;
};

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

// True when the `size` bytes at `frame` are, byte for byte, the last frame
// taken from the current source: the copy a sender sends when it missed
// the acknowledgement.
inline bool repeats_last_frame(const ConversionState& state,
                               const unsigned char* frame, size_t size) {
  return state.last_frame_size == size &&
         std::memcmp(frame, state.last_frame, size) == 0;
}

}  // namespace romweave

#endif  // ROMWEAVE_CAPTURE_CONVERSION_STATE_H_
