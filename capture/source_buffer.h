// Read-ahead over the current source, shared by the probe and the reader.
//
// Bytes are read from the source in large pieces and kept here, so that a
// block is checked in place, the stream position is known without asking
// the stream, and the probe can look at a header without having to seek
// back when it is not one.

#ifndef ROMWEAVE_CAPTURE_SOURCE_BUFFER_H_
#define ROMWEAVE_CAPTURE_SOURCE_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace romweave {

struct ConversionState;

// How much of a source is read ahead in one go.
constexpr size_t SOURCE_BUFFER_SIZE = 64 * 1024;
// Room in front of the read-ahead for the unread end of the last one: the
// most a decoder asks for at once is a block.  Each read then lands on the
// same page-aligned place, at a page-aligned file offset, which the system
// copies to faster than to odd places.
constexpr size_t SOURCE_TAIL_ROOM = 4096;

struct SourceBuffer {
  FILE* stream = nullptr;
  alignas(4096) unsigned char bytes[SOURCE_TAIL_ROOM + SOURCE_BUFFER_SIZE];
  size_t begin = SOURCE_TAIL_ROOM;  // index of the next unread byte
  size_t end = SOURCE_TAIL_ROOM;    // one past the last byte read
  int64_t position = 0;        // file offset of bytes[begin]
  bool at_eof = false;         // the stream has no more bytes
  bool stream_failed = false;  // the stream reported an error, not an end
  // A decoder needed a byte that the stream failed to give.  Read-ahead
  // that fails past the bytes a decoder needs sets only stream_failed.
  bool read_failed = false;
};

// Makes `stream` the one read, from its first byte on.
void reset_source(SourceBuffer& input, FILE* stream);

// fill_source() when the buffer holds fewer than `wanted` unread bytes.
size_t refill_source(SourceBuffer& input, size_t wanted);

// Reads from the stream until at least `wanted` bytes (at most
// SOURCE_TAIL_ROOM) are unread in the buffer, or the stream ends or
// fails.  Returns how many bytes are unread, which is below `wanted` only
// when at_eof or stream_failed is set.  Inline because the reader asks for
// every block and the bytes are nearly always there already.
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
