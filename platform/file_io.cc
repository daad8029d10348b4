// The reader and the writer of a file, on every system: the platform's
// own calls behind the interfaces the program reads and writes through.

#include "platform/platform.h"

namespace romweave {

namespace {

int64_t read_from_file(const Reader& reader, unsigned char* bytes,
                       size_t size) {
  return read_file(reader.file, reinterpret_cast<char*>(bytes), size);
}

bool write_to_file(const Writer& writer, const char* bytes, size_t size) {
  return write_all(writer.file, bytes, size);
}

bool close_written_file(const Writer& writer) {
  return close_file(writer.file);
}

}  // namespace

Reader file_reader(FileHandle file) {
  Reader reader;
  reader.read = read_from_file;
  reader.file = file;
  return reader;
}

Writer file_writer(FileHandle file) {
  Writer writer;
  writer.write = write_to_file;
  writer.close = close_written_file;
  writer.file = file;
  return writer;
}

}  // namespace romweave
