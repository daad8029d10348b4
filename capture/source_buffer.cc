#include "capture/source_buffer.h"

#include <cstring>

namespace romweave {

namespace {

void start_over(SourceBuffer& input) {
  input.begin = SOURCE_FRONT_ROOM;
  input.end = SOURCE_FRONT_ROOM;
  input.position = 0;
  input.at_eof = false;
  input.stream_failed = false;
  input.read_failed = false;
}

}  // namespace

void read_from(SourceBuffer& input, const Reader& reader) {
  start_over(input);
  input.reader = reader;
}

size_t refill_source(SourceBuffer& in, size_t wanted) {
  while (in.end - in.begin < wanted && !in.at_eof && !in.stream_failed) {
    // Once the read-ahead is used up, its unread end moves to the room in
    // front of it, so that a whole block always fits.  After a short read,
    // as from a pipe, the next one fills the rest first.
    if (in.end == sizeof in.bytes) {
      const size_t unread = in.end - in.begin;
      std::memmove(in.bytes + SOURCE_FRONT_ROOM - unread, in.bytes + in.begin,
                   unread);
      in.begin = SOURCE_FRONT_ROOM - unread;
      in.end = SOURCE_FRONT_ROOM;
    }
    unsigned char* const to = in.bytes + in.end;
    const size_t room = sizeof in.bytes - in.end;
    const int64_t got = in.reader.read(in.reader, to, room);
    // Bytes that came before an error or the end are still good; the
    // condition is only acted on once they have been used up.
    if (got < 0) {
      in.stream_failed = true;
    } else if (got == 0) {
      in.at_eof = true;
    } else {
      in.end += static_cast<size_t>(got);
    }
  }
  return in.end - in.begin;
}

size_t look_ahead(SourceBuffer& in, int64_t limit, size_t wanted) {
  const int64_t before_limit = limit - in.position;
  if (before_limit <= 0) return 0;
  if (before_limit < static_cast<int64_t>(wanted)) {
    wanted = static_cast<size_t>(before_limit);
  }
  const size_t got = fill_source(in, wanted);
  return got < static_cast<uint64_t>(before_limit)
             ? got
             : static_cast<size_t>(before_limit);
}

}  // namespace romweave
