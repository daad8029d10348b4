// Every call into the operating system, which differs between POSIX
// systems, Windows and the browser page: the command line, the standard
// streams, opening, reading, writing and closing files, telling files
// apart, and recognising a terminal or console.  Everything above them,
// buffering, decoding, formatting and checking, is one code path on every
// system, and reads and writes through a Reader and a Writer: the ones
// made here for files, or a test's own.  platform_posix.cc,
// platform_windows.cc and platform_web.cc each implement this header;
// file_io.cc makes the readers and writers of files for all three.
//
// Names are UTF-8 (on POSIX systems: whatever bytes the user gave) and are
// passed to the system without any detour through a code page.

#ifndef ROMWEAVE_PLATFORM_PLATFORM_H_
#define ROMWEAVE_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace romweave {

// A file descriptor on POSIX systems, a HANDLE on Windows, one of the
// page's numbers in the browser.
using FileHandle = intptr_t;
// No file: -1 is both an invalid descriptor and INVALID_HANDLE_VALUE.
constexpr FileHandle NO_FILE = -1;

// Lines written to standard output and standard error end in CR LF on
// Windows, as every console program's there do, and in LF elsewhere.
#ifdef _WIN32
constexpr bool CRLF_LINE_ENDS = true;
#else
constexpr bool CRLF_LINE_ENDS = false;
#endif

// Makes the standard streams safe to run with: a standard descriptor that
// is closed is reopened on the null device, so that no file this run opens
// can take its number, and a write to a pipe whose reader has gone fails
// instead of ending the process.  Returns true when standard output was
// closed.  Must run before anything is opened.
bool secure_standard_streams();

FileHandle standard_output();
FileHandle standard_error();

// How bytes written to a handle reach the user.
enum OutputKind {
  OUTPUT_FILE,      // a file, a pipe, a device: bytes as they are
  OUTPUT_TERMINAL,  // a terminal: bytes as they are, each line at once
  OUTPUT_CONSOLE,   // a Windows console: characters, each line at once
};
OutputKind output_kind(FileHandle file);

// Hands all `size` bytes to `file`, in as many calls as it takes, waiting
// while a non-blocking file is full.  False when the system refused them.
bool write_all(FileHandle file, const char* bytes, size_t size);

// Where the bytes of a source come from.
struct Reader {
  // Reads at most `size` bytes into `bytes`, as many as there are at once:
  // returns their number, 0 at the end, or -1 when reading failed.
  int64_t (*read)(const Reader& reader, unsigned char* bytes,
                  size_t size) = nullptr;
  FileHandle file = NO_FILE;  // what a file's reader reads
  void* context = nullptr;    // what any other reader reads
};

// Where the bytes of an output go.
struct Writer {
  // Hands over all `size` bytes; false when they were refused.
  bool (*write)(const Writer& writer, const char* bytes, size_t size) = nullptr;
  // Closes what was written to; false when that failed, as for a write
  // the system had delayed.
  bool (*close)(const Writer& writer) = nullptr;
  FileHandle file = NO_FILE;  // what a file's writer writes to
  void* context = nullptr;    // what any other writer writes to
};

// Reads `file`, which it leaves open.
Reader file_reader(FileHandle file);

// Writes bytes to `file` as they are, and closes it.
Writer file_writer(FileHandle file);

// Writes UTF-8 text to `file` and closes it: to a Windows console as
// characters, and to anything else as file_writer() does.
Writer text_writer(FileHandle file);

// Creates `name`, or cuts it to length 0, for binary writing.  NO_FILE when
// that fails, as for a folder.
FileHandle create_file(const char* name);

// False when the system reported an error on closing, such as a write it
// had delayed.
bool close_file(FileHandle file);

// Opens `name` for reading.  NO_FILE when that fails, or when it is a
// folder, which some systems open but which is never a capture.
FileHandle open_source(const char* name);

// Reads at most `size` bytes into `bytes`, as many as the system gives at
// once: a pipe's bytes are taken as they arrive.  Returns their number, 0
// at the end of the file, or -1 when the system reported an error.  An
// interrupted call is made again.
int64_t read_file(FileHandle file, char* bytes, size_t size);

// What makes two names, or a name and an open file, one file: device and
// inode, or volume serial number and file index.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
};

inline bool operator==(const FileIdentity& a, const FileIdentity& b) {
  return a.volume == b.volume && a.index == b.index;
}

enum IdentityLookup {
  IDENTITY_FOUND,    // the name leads to a file, whose identity was taken
  IDENTITY_MISSING,  // nothing is there under that name
  IDENTITY_UNKNOWN,  // something may be there, but it cannot be told apart
};

// The identity of the file `name` leads to, following links.
IdentityLookup identify_name(const char* name, FileIdentity* identity);

// The identity of an open file; false when there is none to have.
bool identify_file(FileHandle file, FileIdentity* identity);

// True when standard output is a regular file or a pipe, which another name
// on the command line could also lead to, and its identity could be taken.
// A terminal or a device such as the null device is never such a file.
bool standard_output_is_a_file(FileIdentity* identity);

// Tells where the user reads the hints that a hint has named the
// receiver's reading (--receiver) as the way to read a source: the page in
// a browser then offers to run again that way.  On a terminal or console
// the hint's line says it all, and this does nothing.
void offer_receiver_reading();

// The command line as UTF-8 strings, element 0 being the program's name.
// Windows gives it as wide characters and ignores `argv`.
std::vector<std::string> command_line(int argc, char** argv);

}  // namespace romweave

#endif  // ROMWEAVE_PLATFORM_PLATFORM_H_
