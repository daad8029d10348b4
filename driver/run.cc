// The run over the sources.

#include "driver/run.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "capture/capture.h"

namespace romweave {

namespace {

namespace fs = std::filesystem;

// True when both names lead to one file, however they are spelt: another
// path, a hard link or a symbolic link.  A name that leads nowhere is
// nobody's twin.
bool same_file(const char* a, const char* b) {
  std::error_code error;
  bool same = fs::equivalent(fs::path(a), fs::path(b), error);
  return !error && same;
}

bool is_directory(const char* name) {
  std::error_code error;
  return fs::is_directory(fs::path(name), error);
}

// Opens a source for reading.  A folder opens on some systems but can never
// be read as a capture, so it fails here like a missing file.
FILE* open_source(const char* name) {
  if (is_directory(name)) return nullptr;
  FILE* source = std::fopen(name, "rb");
  // The source is read in large pieces into our own buffer; a second
  // buffer inside the stream would only copy every byte once more.
  if (source != nullptr) std::setvbuf(source, nullptr, _IONBF, 0);
  return source;
}

// Buffers for standard output and the destination, far larger than the C
// library's default of one disk block: a large image means millions of
// progress lines and hundreds of megabytes of data, and every buffer-full
// costs a system call.
constexpr size_t STREAM_BUFFER_SIZE = 256 * 1024;
char stdout_buffer[STREAM_BUFFER_SIZE];
char destination_buffer[STREAM_BUFFER_SIZE];

// True when both streams write to one file, for instance a destination
// named /dev/stdout.  Such a file gets the progress lines and the data in
// the order the two buffers fill, which larger buffers would change.  Where
// the system has no inode numbers, any two files on one device count as one.
bool same_target(FILE* a, FILE* b) {
  struct stat sa;
  struct stat sb;
  if (fstat(fileno(a), &sa) != 0 || fstat(fileno(b), &sb) != 0) return true;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Gives standard output and the destination their large buffers.  Must run
// before anything is written to either.  A terminal keeps its line
// buffering, so that the progress shows as it happens.
void enlarge_buffers(FILE* destination) {
  if (isatty(fileno(stdout)) || same_target(stdout, destination)) return;
  std::setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);
  std::setvbuf(destination, destination_buffer, _IOFBF,
               sizeof destination_buffer);
}

// Flushes and closes the destination; false when any write to it failed.
bool close_destination(FILE* destination) {
  bool written = std::fflush(destination) == 0 && !std::ferror(destination);
  return std::fclose(destination) == 0 && written;
}

// Letters a to z raised to capitals; every other byte kept.  No locale.
std::string upper_case(std::string name) {
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
  }
  return name;
}

int report_same_file(const char* destination_name) {
  std::printf("Error: File %s is both source and destination !\n",
              upper_case(destination_name).c_str());
  return EXIT_DESTINATION_FAILED;
}

}  // namespace

int run_conversion(int argc, char** argv) {
  if (argc < 3) {
    std::printf("Syntax: Romweave source [source ...] destination\n");
    return EXIT_SYNTAX;
  }
  const int first_source = 1;
  const int last_source = argc - 2;
  const char* destination_name = argv[argc - 1];

  // Cutting the destination to length 0 would destroy a source that is the
  // same file, so this is settled before anything is opened.
  for (int i = first_source; i <= last_source; ++i) {
    if (same_file(argv[i], destination_name)) {
      return report_same_file(destination_name);
    }
  }

  auto state = std::make_unique<ConversionState>();
  state->destination = std::fopen(destination_name, "wb");
  if (state->destination == nullptr) {
    std::printf("Error: Unable to overwrite file %s !\n",
                upper_case(destination_name).c_str());
    return EXIT_DESTINATION_FAILED;
  }
  enlarge_buffers(state->destination);

  bool fault = false;
  for (int i = first_source; i <= last_source && !fault; ++i) {
    state->source_name = upper_case(argv[i]);
    // A source that did not exist before the destination was created may
    // name it now; reading it back would report an empty image as success.
    if (same_file(argv[i], destination_name)) {
      close_destination(state->destination);
      return report_same_file(destination_name);
    }
    // Names are opened as given: on a file system where case matters the
    // upper-cased form may name another file, or none.
    FILE* source = open_source(argv[i]);
    if (source == nullptr) {
      std::printf("Error: Unable to open file %s !\n",
                  state->source_name.c_str());
      close_destination(state->destination);
      return EXIT_SOURCE_UNREADABLE;
    }
    reset_source(*state, source);

    BlockResult result = SOURCE_END;
    const int32_t payload_end = probe_wrapper(*state);
    if (!state->input.read_failed) {
      state->expected_block = 1;
      do {
        result = read_block(*state, payload_end);
      } while (result == BLOCK_TAKEN);
    }
    std::fclose(source);

    // A read error is no end of file: taking it for one would cut the
    // image short and still print its size.
    if (state->input.read_failed) {
      std::printf("Error: Unable to read file %s !\n",
                  state->source_name.c_str());
      close_destination(state->destination);
      return EXIT_SOURCE_UNREADABLE;
    }
    fault = result == BLOCK_FAILED;
  }

  if (!close_destination(state->destination)) {
    std::printf("Error: Unable to write file %s !\n",
                upper_case(destination_name).c_str());
    return EXIT_DESTINATION_FAILED;
  }
  if (fault) return EXIT_DATA_FAULT;
  std::printf("ROM size = %05" PRIX64 "h = %" PRIu64 "KB\n", state->address,
              state->address >> 10);
  return EXIT_CLEAN;
}

}  // namespace romweave
