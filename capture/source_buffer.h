// Read-ahead over the current source, shared by the probe and the reader.
//
// Bytes are read from the source in large reads and kept here, so that a
// block is checked in place, the stream position is known without asking
// the system, and the probe can look at a header without having to seek
// back when it is not one.  Each read takes what the system gives at once,
// so the bytes of a pipe are decoded as they arrive.

#ifndef ROMWEAVE_CAPTURE_SOURCE_BUFFER_H_
#define ROMWEAVE_CAPTURE_SOURCE_BUFFER_H_

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace romweave {

// How much of a source is read ahead in one go.
constexpr size_t SOURCE_BUFFER_SIZE = 64 * 1024;
// Room in front of the read-ahead, where the unread end of the last one
// moves: the most a decoder asks for at once is a 1K frame and the one
// behind it.  Each read then lands on the same page-aligned place, at a
// page-aligned file offset, which the system copies to faster than to odd
// places.
constexpr size_t SOURCE_FRONT_ROOM = 4096;

struct SourceBuffer {
  Reader reader;  // where the bytes come from
  alignas(4096) unsigned char bytes[SOURCE_FRONT_ROOM + SOURCE_BUFFER_SIZE];
  size_t begin = SOURCE_FRONT_ROOM;  // index of the next unread byte
  size_t end = SOURCE_FRONT_ROOM;    // one past the last byte read
  int64_t position = 0;              // file offset of bytes[begin]
  bool at_eof = false;               // the source has no more bytes
  bool stream_failed = false;        // the source reported an error, not an end
  // A decoder needed a byte that the source failed to give.  Read-ahead
  // that fails past the bytes a decoder needs sets only stream_failed.
  bool read_failed = false;
};

// Makes what `reader` reads the source, from its first byte on.
void read_from(SourceBuffer& input, const Reader& reader);

// fill_source() when the buffer holds fewer than `wanted` unread bytes.
size_t refill_source(SourceBuffer& input, size_t wanted);

// Reads until at least `wanted` bytes (at most SOURCE_FRONT_ROOM) are unread
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

// The offset at or past which no byte of a source counts, such as the end
// of a calculator string; UNLIMITED for none.
constexpr int64_t UNLIMITED = INT64_MAX;

// Makes up to `wanted` bytes (at most SOURCE_FRONT_ROOM) from the current
// position on readable in the read-ahead, none at or past `limit`, and
// returns how many are.  Fewer than wanted means that the source, or the
// part of it before `limit`, ends there, or that reading failed
// (stream_failed).
size_t look_ahead(SourceBuffer& input, int64_t limit, size_t wanted);

}  // namespace romweave

#endif  // ROMWEAVE_CAPTURE_SOURCE_BUFFER_H_
