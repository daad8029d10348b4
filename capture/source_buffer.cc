#include "capture/source_buffer.h"

#include <cstring>

namespace romweave {

void reset_source(SourceBuffer& input, FILE* stream) {
  input.stream = stream;
  input.begin = 0;
  input.end = 0;
  input.position = 0;
  input.at_eof = false;
  input.stream_failed = false;
  input.read_failed = false;
}

size_t refill_source(SourceBuffer& in, size_t wanted) {
  while (in.end - in.begin < wanted && !in.at_eof && !in.stream_failed) {
    // Keep the unread tail at the front so that a whole block always fits.
    if (in.begin > 0) {
      std::memmove(in.bytes, in.bytes + in.begin, in.end - in.begin);
      in.end -= in.begin;
      in.begin = 0;
    }
    const size_t got = std::fread(in.bytes + in.end, 1,
                                  SOURCE_BUFFER_SIZE - in.end, in.stream);
    in.end += got;
    // Bytes that came before an error or the end are still good; the
    // condition is only acted on once they have been used up.
    if (std::ferror(in.stream)) {
      in.stream_failed = true;
    } else if (got == 0) {
      in.at_eof = true;
    }
  }
  return in.end - in.begin;
}

}  // namespace romweave
