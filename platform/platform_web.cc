// The browser: no file system, only the page.  Every file the program opens
// is one the user chose on the page, found by its name; the one file it may
// create is the image, which the page then offers for download; standard
// output and standard error are the page's panes of messages, which are
// neither terminals nor files a name could lead to.
//
// The page provides the calls below as `romweaveIO`, an object it passes
// when it creates the module (web/worker.js says what each does).  Each
// function here is a line or two of JavaScript that hands the program's
// memory to one of them as a Uint8Array: the view is made here and is good
// only for that call, since the memory moves when it grows.

#include <emscripten/emscripten.h>

#include <cstring>

#include "platform/platform.h"

// Handles are the page's numbers: 1 and 2 the standard streams, larger ones
// the files opened; -1 none.  Names are UTF-8, the bytes callMain() made
// of the page's strings; identities are numbers above 0, 0 for none.

EM_JS(int, romweave_page_open, (const char* name, size_t length), {
  return Module["romweaveIO"].open(new TextDecoder().decode(
      HEAPU8.subarray(name >>> 0, (name >>> 0) + (length >>> 0))));
});

EM_JS(int, romweave_page_create, (const char* name, size_t length), {
  return Module["romweaveIO"].create(new TextDecoder().decode(
      HEAPU8.subarray(name >>> 0, (name >>> 0) + (length >>> 0))));
});

EM_JS(int, romweave_page_read, (int file, char* bytes, size_t size), {
  return Module["romweaveIO"].read(
      file, HEAPU8.subarray(bytes >>> 0, (bytes >>> 0) + (size >>> 0)));
});

EM_JS(int, romweave_page_write, (int file, const char* bytes, size_t size), {
  return Module["romweaveIO"].write(
      file, HEAPU8.subarray(bytes >>> 0, (bytes >>> 0) + (size >>> 0)));
});

EM_JS(int, romweave_page_close, (int file),
      { return Module["romweaveIO"].close(file); });

EM_JS(int, romweave_page_identify_name, (const char* name, size_t length), {
  return Module["romweaveIO"].identifyName(new TextDecoder().decode(
      HEAPU8.subarray(name >>> 0, (name >>> 0) + (length >>> 0))));
});

EM_JS(int, romweave_page_identify_file, (int file),
      { return Module["romweaveIO"].identifyFile(file); });

EM_JS(void, romweave_page_offer_receiver, (),
      { Module["romweaveIO"].offerReceiver(); });

namespace romweave {

namespace {

// The most handed over in one call, so that every count fits the int the
// page returns.
constexpr size_t LARGEST_CALL = size_t{1} << 30;

int page_handle(FileHandle file) { return static_cast<int>(file); }

FileIdentity identity_of(int number) {
  FileIdentity identity;
  identity.index = static_cast<uint64_t>(number);
  return identity;
}

}  // namespace

// Nothing to secure: the page's streams are always there, and a write to
// them never ends the program.
bool secure_standard_streams() { return false; }

FileHandle standard_output() { return 1; }
FileHandle standard_error() { return 2; }

// The page shows what the program wrote when the run is over; line by line
// would only cost calls.
OutputKind output_kind(FileHandle) { return OUTPUT_FILE; }

bool write_all(FileHandle file, const char* bytes, size_t size) {
  while (size > 0) {
    const size_t part = size < LARGEST_CALL ? size : LARGEST_CALL;
    if (!romweave_page_write(page_handle(file), bytes, part)) return false;
    bytes += part;
    size -= part;
  }
  return true;
}

Writer text_writer(FileHandle file) { return file_writer(file); }

FileHandle create_file(const char* name) {
  const int file = romweave_page_create(name, std::strlen(name));
  return file < 0 ? NO_FILE : file;
}

bool close_file(FileHandle file) {
  return romweave_page_close(page_handle(file)) != 0;
}

FileHandle open_source(const char* name) {
  const int file = romweave_page_open(name, std::strlen(name));
  return file < 0 ? NO_FILE : file;
}

int64_t read_file(FileHandle file, char* bytes, size_t size) {
  return romweave_page_read(page_handle(file), bytes,
                            size < LARGEST_CALL ? size : LARGEST_CALL);
}

IdentityLookup identify_name(const char* name, FileIdentity* identity) {
  const int number = romweave_page_identify_name(name, std::strlen(name));
  if (number <= 0) return IDENTITY_MISSING;
  *identity = identity_of(number);
  return IDENTITY_FOUND;
}

bool identify_file(FileHandle file, FileIdentity* identity) {
  const int number = romweave_page_identify_file(page_handle(file));
  if (number <= 0) return false;
  *identity = identity_of(number);
  return true;
}

void offer_receiver_reading() { romweave_page_offer_receiver(); }

// Standard output is the page, which no name leads to.
bool standard_output_is_a_file(FileIdentity*) { return false; }

std::vector<std::string> command_line(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace romweave
