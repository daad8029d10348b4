// Buffered output of the program's own: standard output, standard error and
// the destination image.
//
// Each Output is a buffer that the program fills and hands to its writer
// when it is full, when a line is finished on a terminal, or when asked.
// A hand-over that fails marks the Output as failed; from then on whatever
// is written to it is dropped, and the caller decides what that failure
// means.  Nothing here touches a C library's streams, so the same code runs
// on every system; the writers of files sit in platform/.

#ifndef ROMWEAVE_OUTPUT_OUTPUT_H_
#define ROMWEAVE_OUTPUT_OUTPUT_H_

#include <cstddef>
#include <cstring>

#include "platform/platform.h"

namespace romweave {

struct Output {
  Writer writer;  // where the bytes go
  char* buffer = nullptr;
  size_t capacity = 0;
  size_t used = 0;  // bytes in `buffer` not yet handed over
  // Text goes out as it is given: not to a terminal, not with CR LF.  Only
  // such an output takes the fast path of put_text().
  bool plain = true;
  bool crlf = false;     // every "\n" of a text goes out as "\r\n"
  bool by_line = false;  // a finished line is handed over at once
  bool failed = false;   // a hand-over failed; all later bytes are dropped
};

// An output of binary data to `writer`, buffered in `buffer`.
Output binary_output(const Writer& writer, char* buffer, size_t capacity);

// An output of text lines to `writer`, standard output or standard error:
// line ends as the system wants them, and, `by_line`, each line at once,
// where a person reads along.
Output text_output(const Writer& writer, bool by_line, char* buffer,
                   size_t capacity);

// An output that takes every byte and keeps none, buffered in `buffer`:
// for a reading that is only tried, to see where it would lead.
Output discarding_output(char* buffer, size_t capacity);

// Hands the buffered bytes over.  False once the output has failed.
bool flush_output(Output& out);

// Flushes and closes the writer.  False when any hand-over or the closing
// failed.
bool close_output(Output& out);

// put_bytes() and put_text() when the bytes do not simply fit.
void put_bytes_slowly(Output& out, const char* bytes, size_t size);
void put_text_slowly(Output& out, const char* text, size_t size);

// Appends bytes as they are.  Inline: a large image means millions of
// calls, nearly all of which only copy.
inline void put_bytes(Output& out, const void* bytes, size_t size) {
  if (out.capacity - out.used >= size) {
    std::memcpy(out.buffer + out.used, bytes, size);
    out.used += size;
    return;
  }
  put_bytes_slowly(out, static_cast<const char*>(bytes), size);
}

// Appends text, which may hold whole lines.
inline void put_text(Output& out, const char* text, size_t size) {
  if (out.plain && out.capacity - out.used >= size) {
    std::memcpy(out.buffer + out.used, text, size);
    out.used += size;
    return;
  }
  put_text_slowly(out, text, size);
}

// Where `size` bytes can be written straight into the buffer, to be
// built or copied there in place; nullptr when the output needs them
// through put_bytes() or put_text().  keep_in_place() then takes them.
inline char* room_in_place(const Output& out, size_t size) {
  return out.plain && out.capacity - out.used >= size ? out.buffer + out.used
                                                      : nullptr;
}

inline void keep_in_place(Output& out, size_t size) { out.used += size; }

// How many bytes room_in_place() can give at most.
inline size_t room_left(const Output& out) {
  return out.plain ? out.capacity - out.used : 0;
}

// Appends text formatted as by printf().
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void print(Output& out, const char* format, ...);

}  // namespace romweave

#endif  // ROMWEAVE_OUTPUT_OUTPUT_H_
