#include "capture/source_buffer.h"

#include <algorithm>
#include <cstring>

namespace romweave {

namespace {

void start_over(SourceBuffer& input) {
  input.begin = SOURCE_TAIL_ROOM;
  input.end = SOURCE_TAIL_ROOM;
  input.position = 0;
  input.at_eof = false;
  input.stream_failed = false;
  input.read_failed = false;
}

int64_t read_memory(MemorySource& source, unsigned char* to, size_t size) {
  size_t end = source.bytes.size();
  if (source.fail_at >= 0) {
    if (static_cast<int64_t>(source.offset) >= source.fail_at) return -1;
    end = std::min(end, static_cast<size_t>(source.fail_at));
  }
  size_t count = std::min(size, end - source.offset);
  if (!source.pieces.empty()) {
    count = std::min(count, source.pieces[source.next_piece]);
    source.next_piece = (source.next_piece + 1) % source.pieces.size();
  }
  std::memcpy(to, source.bytes.data() + source.offset, count);
  source.offset += count;
  return static_cast<int64_t>(count);
}

}  // namespace

void read_from_file(SourceBuffer& input, FileHandle file) {
  start_over(input);
  input.file = file;
  input.memory = nullptr;
}

void read_from_memory(SourceBuffer& input, MemorySource* memory) {
  start_over(input);
  input.file = NO_FILE;
  input.memory = memory;
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
    unsigned char* const to = in.bytes + in.end;
    const size_t room = sizeof in.bytes - in.end;
    const int64_t got =
        in.memory != nullptr
            ? read_memory(*in.memory, to, room)
            : read_file(in.file, reinterpret_cast<char*>(to), room);
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

}  // namespace romweave
