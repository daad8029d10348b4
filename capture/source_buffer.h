// Read-ahead over the current source, shared by the probe and the reader.
//
// Bytes are read from the source in large pieces and kept here, so that a
// block is checked in place, the stream position is known without asking
// the system, and the probe can look at a header without having to seek
// back when it is not one.  Each read takes what the system gives at once,
// so the bytes of a pipe are decoded as they arrive.

#ifndef ROMWEAVE_CAPTURE_SOURCE_BUFFER_H_
#define ROMWEAVE_CAPTURE_SOURCE_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace romweave {

// How much of a source is read ahead in one go.
constexpr size_t SOURCE_BUFFER_SIZE = 64 * 1024;
// Room in front of the read-ahead for the unread end of the last one: the
// most a decoder asks for at once is a block and a byte.  Each read then
// lands on the same page-aligned place, at a page-aligned file offset,
// which the system copies to faster than to odd places.
constexpr size_t SOURCE_TAIL_ROOM = 4096;

// A source held in memory, read as a file would be (for tests and the
// fuzzer): handed over in pieces of the sizes in `pieces`, taken in turn
// (all that is asked for when it is empty), and failing with an error, not
// an end, once a read reaches offset `fail_at` (never when it is negative).
struct MemorySource {
  std::string bytes;
  std::vector<size_t> pieces;
  int64_t fail_at = -1;
  size_t offset = 0;      // of the next byte to hand over
  size_t next_piece = 0;  // index into `pieces`
};

struct SourceBuffer {
  // Where the bytes come from: a file, or, when `memory` is set, that.
  FileHandle file = NO_FILE;
  MemorySource* memory = nullptr;
  alignas(4096) unsigned char bytes[SOURCE_TAIL_ROOM + SOURCE_BUFFER_SIZE];
  size_t begin = SOURCE_TAIL_ROOM;  // index of the next unread byte
  size_t end = SOURCE_TAIL_ROOM;    // one past the last byte read
  int64_t position = 0;             // file offset of bytes[begin]
  bool at_eof = false;              // the source has no more bytes
  bool stream_failed = false;       // the source reported an error, not an end
  // A decoder needed a byte that the source failed to give.  Read-ahead
  // that fails past the bytes a decoder needs sets only stream_failed.
  bool read_failed = false;
};

// Makes `file`, or `memory`, the source read, from its first byte on.
void read_from_file(SourceBuffer& input, FileHandle file);
void read_from_memory(SourceBuffer& input, MemorySource* memory);

// fill_source() when the buffer holds fewer than `wanted` unread bytes.
size_t refill_source(SourceBuffer& input, size_t wanted);

// Reads until at least `wanted` bytes (at most SOURCE_TAIL_ROOM) are unread
// in the buffer, or the source ends or fails.  Returns how many bytes are
// unread, which is below `wanted` only when at_eof or stream_failed is set.
// Inline because the reader asks for every block and the bytes are nearly
// always there already.
inline size_t fill_source(SourceBuffer& input, size_t wanted) {
  const size_t unread = input.end - input.begin;
  return unread >= wanted ? unread : refill_source(input, wanted);
}

// Marks `count` unread bytes as read.
inline void consume_source(SourceBuffer& input, size_t count) {
  input.begin += count;
  input.position += static_cast<int64_t>(count);
}

}  // namespace romweave

#endif  // ROMWEAVE_CAPTURE_SOURCE_BUFFER_H_
