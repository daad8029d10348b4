#include "capture/source_buffer.h"

#include <cstring>

namespace romweave {

void reset_source(SourceBuffer& input, FILE* stream) {
  input.stream = stream;
  input.begin = SOURCE_TAIL_ROOM;
  input.end = SOURCE_TAIL_ROOM;
  input.position = 0;
  input.at_eof = false;
  input.stream_failed = false;
  input.read_failed = false;
}

size_t refill_source(SourceBuffer& in, size_t wanted) {
  while (in.end - in.begin < wanted && !in.at_eof && !in.stream_failed) {
    // Once the read-ahead is used up, its unread end moves to the room in
    // front of it, so that a whole block always fits.  After a short read,
    // as from a pipe, the next one fills the rest first.
    if (in.end == sizeof in.bytes) {
      const size_t unread = in.end - in.begin;
      std::memmove(in.bytes + SOURCE_TAIL_ROOM - unread, in.bytes + in.begin,
                   unread);
      in.begin = SOURCE_TAIL_ROOM - unread;
      in.end = SOURCE_TAIL_ROOM;
    }
    const size_t got = std::fread(in.bytes + in.end, 1,
                                  sizeof in.bytes - in.end, in.stream);
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
