// Read-ahead over the current source, shared by the probe and the reader.

#ifndef ROMWEAVE_CAPTURE_SOURCE_BUFFER_H_
#define ROMWEAVE_CAPTURE_SOURCE_BUFFER_H_

#include <cstddef>

#include "capture/capture.h"

namespace romweave {

// fill_source() when the buffer holds fewer than `wanted` unread bytes.
size_t refill_source(ConversionState& state, size_t wanted);

// Reads from the stream until at least `wanted` bytes (at most
// SOURCE_BUFFER_SIZE) are unread in the buffer, or the stream ends or
// fails.  Returns how many bytes are unread, which is below `wanted` only
// when input.at_eof or input.stream_failed is set.  Inline because the
// reader asks twice a block and the bytes are nearly always there already.
inline size_t fill_source(ConversionState& state, size_t wanted) {
  const size_t unread = state.input.end - state.input.begin;
  return unread >= wanted ? unread : refill_source(state, wanted);
}

// Marks `count` unread bytes as read.
inline void consume_source(ConversionState& state, size_t count) {
  state.input.begin += count;
  state.input.position += static_cast<int64_t>(count);
}

}  // namespace romweave

#endif  // ROMWEAVE_CAPTURE_SOURCE_BUFFER_H_
