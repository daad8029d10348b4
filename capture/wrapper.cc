// Recognises a capture kept as a calculator string object.

#include <cstring>

#include "capture/capture.h"

namespace romweave {

int32_t probe_wrapper(ConversionState& state) {
  size_t got = fill_source(state.input, WRAPPER_HEADER_SIZE);
  if (got < WRAPPER_HEADER_SIZE && state.input.stream_failed) {
    state.input.read_failed = true;
    return NO_LIMIT;
  }
  const unsigned char* header = state.input.bytes + state.input.begin;
  // A raw capture, or one too short to hold a header, is read from its
  // first byte: nothing has been consumed, so there is nothing to seek.
  if (got < WRAPPER_HEADER_SIZE ||
      std::memcmp(header, WRAPPER_SIGNATURE, sizeof WRAPPER_SIGNATURE - 1) !=
          0) {
    return NO_LIMIT;
  }
  consume_source(state.input, WRAPPER_HEADER_SIZE);

  const uint32_t prolog = header[8] | header[9] << 8 |
                          static_cast<uint32_t>(header[10] & 0x0F) << 16;
  if (prolog != STRING_PROLOG) {
    return NO_LIMIT;
  }
  const int32_t length = header[10] >> 4 | header[11] << 4 |
                         static_cast<int32_t>(header[12]) << 12;
  // Signed division truncated toward zero: a length below 4 gives an end
  // at or before offset 13, and an odd half byte counts as a whole one.
  return static_cast<int32_t>(WRAPPER_HEADER_SIZE) + (length - 4) / 2;
}

}  // namespace romweave
