#include "output/output.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace romweave {

namespace {

// Hands `size` bytes to the writer, past the output's buffer.
bool hand_over(Output& out, const char* bytes, size_t size) {
  return out.writer.write(out.writer, bytes, size);
}

bool discard(const Writer&, const char*, size_t) { return true; }

}  // namespace

Output binary_output(const Writer& writer, char* buffer, size_t capacity) {
  Output out;
  out.writer = writer;
  out.buffer = buffer;
  out.capacity = capacity;
  return out;
}

Output discarding_output(char* buffer, size_t capacity) {
  Writer writer;
  writer.write = discard;
  return binary_output(writer, buffer, capacity);
}

Output text_output(const Writer& writer, bool by_line, char* buffer,
                   size_t capacity) {
  Output out = binary_output(writer, buffer, capacity);
  out.crlf = CRLF_LINE_ENDS;
  out.by_line = by_line;
  out.plain = !out.crlf && !out.by_line;
  return out;
}

bool flush_output(Output& out) {
  if (out.used > 0 && !out.failed) {
    out.failed = !hand_over(out, out.buffer, out.used);
  }
  out.used = 0;
  return !out.failed;
}

bool close_output(Output& out) {
  flush_output(out);
  if (out.writer.close != nullptr && !out.writer.close(out.writer)) {
    out.failed = true;
  }
  out.writer.close = nullptr;
  return !out.failed;
}

void put_bytes_slowly(Output& out, const char* bytes, size_t size) {
  if (out.failed) {
    out.used = 0;
    return;
  }
  while (size > 0) {
    if (out.used == out.capacity && !flush_output(out)) return;
    // Nothing is buffered and more than a buffer-full is given: hand it
    // over without copying it first.
    if (out.used == 0 && size >= out.capacity) {
      out.failed = !hand_over(out, bytes, size);
      return;
    }
    const size_t room = out.capacity - out.used;
    const size_t part = size < room ? size : room;
    std::memcpy(out.buffer + out.used, bytes, part);
    out.used += part;
    bytes += part;
    size -= part;
  }
}

void put_text_slowly(Output& out, const char* text, size_t size) {
  if (out.plain) {
    put_bytes_slowly(out, text, size);
    return;
  }
  for (const char* end = text + size; text < end;) {
    const char* newline =
        static_cast<const char*>(std::memchr(text, '\n', end - text));
    const size_t line = (newline != nullptr ? newline : end) - text;
    // A line a person reads along is never split between two hand-overs,
    // so that on a console every character arrives whole.
    if (out.by_line && out.capacity - out.used < line + 2) flush_output(out);
    put_bytes(out, text, line);
    if (newline == nullptr) return;
    put_bytes(out, out.crlf ? "\r\n" : "\n", out.crlf ? 2 : 1);
    if (out.by_line) flush_output(out);
    text = newline + 1;
  }
}

// A printf-style format keeps each message whole and readable at a glance;
// the compiler checks its arguments (see the declaration).
// NOLINTNEXTLINE(cert-dcl50-cpp)
void print(Output& out, const char* format, ...) {
  if (out.failed) return;
  // Messages fit a line of this size unless a name is very long; such a
  // message is formatted once more at its full size.
  char line[512];
  va_list arguments;
  va_start(arguments, format);
  va_list again;
  va_copy(again, arguments);
  const int size = std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  if (size >= 0 && static_cast<size_t>(size) < sizeof line) {
    put_text(out, line, static_cast<size_t>(size));
  } else if (size >= 0) {
    std::string longer(static_cast<size_t>(size) + 1, '\0');
    std::vsnprintf(&longer[0], longer.size(), format, again);
    put_text(out, longer.data(), static_cast<size_t>(size));
  }
  va_end(again);
}

}  // namespace romweave
