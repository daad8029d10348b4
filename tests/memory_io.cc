#include "tests/memory_io.h"

#include <algorithm>
#include <cstring>

namespace romweave {

namespace {

int64_t read_memory(const Reader& reader, unsigned char* to, size_t size) {
  MemorySource& source = *static_cast<MemorySource*>(reader.context);
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

bool write_memory(const Writer& writer, const char* bytes, size_t size) {
  MemorySink& sink = *static_cast<MemorySink*>(writer.context);
  if (sink.fail_at >= 0 &&
      static_cast<int64_t>(sink.bytes.size() + size) > sink.fail_at) {
    return false;
  }
  sink.bytes.append(bytes, size);
  return true;
}

bool close_memory(const Writer& writer) {
  MemorySink& sink = *static_cast<MemorySink*>(writer.context);
  sink.closed = true;
  return !sink.close_fails;
}

}  // namespace

Reader memory_reader(MemorySource* source) {
  Reader reader;
  reader.read = read_memory;
  reader.context = source;
  return reader;
}

Writer memory_writer(MemorySink* sink) {
  Writer writer;
  writer.write = write_memory;
  writer.close = close_memory;
  writer.context = sink;
  return writer;
}

}  // namespace romweave
