// Windows: handles, wide-character names and file indexes.  Every name is
// UTF-8 inside the program and turned into UTF-16 only here, so no name
// goes through the ANSI code page.

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstring>

#include "platform/platform.h"

namespace romweave {

namespace {

HANDLE handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle file_handle(HANDLE handle) {
  return handle == nullptr || handle == INVALID_HANDLE_VALUE
             ? NO_FILE
             : reinterpret_cast<FileHandle>(handle);
}

std::wstring wide(const char* text, size_t size) {
  if (size == 0) return std::wstring();
  const int count =
      MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0);
  std::wstring result(static_cast<size_t>(count), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(size), &result[0],
                      count);
  return result;
}

std::wstring wide(const char* name) { return wide(name, std::strlen(name)); }

std::string utf8(const wchar_t* text) {
  const int count =
      WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (count <= 1) return std::string();
  std::string result(static_cast<size_t>(count), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], count, nullptr,
                      nullptr);
  result.resize(static_cast<size_t>(count) - 1);
  return result;
}

// How much of `size` bytes one ReadFile or WriteFile call takes: its count
// has 32 bits.
DWORD one_call(size_t size) {
  return size < 0x40000000 ? static_cast<DWORD>(size) : 0x40000000;
}

bool identify(HANDLE file, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(file, &information)) return false;
  identity->volume = information.dwVolumeSerialNumber;
  identity->index = static_cast<uint64_t>(information.nFileIndexHigh) << 32 |
                    information.nFileIndexLow;
  return true;
}

// Writes UTF-8 text to a console as characters.  Whole lines come here, a
// long one handed over whole, so no character is split between two calls.
bool write_to_console(const Writer& writer, const char* text, size_t size) {
  const std::wstring characters = wide(text, size);
  const wchar_t* left = characters.data();
  size_t count = characters.size();
  while (count > 0) {
    DWORD written = 0;
    DWORD part = count < 8192 ? static_cast<DWORD>(count) : 8192;
    // Nor is a character past U+FFFF, which takes two units.
    if (part < count && IS_HIGH_SURROGATE(left[part - 1])) --part;
    if (!WriteConsoleW(handle(writer.file), left, part, &written, nullptr) ||
        written == 0) {
      return false;
    }
    left += written;
    count -= written;
  }
  return true;
}

}  // namespace

bool secure_standard_streams() {
  // Files are opened as handles of their own, which never take the place
  // of a standard one; only a missing standard output needs telling.
  return file_handle(GetStdHandle(STD_OUTPUT_HANDLE)) == NO_FILE;
}

FileHandle standard_output() {
  return file_handle(GetStdHandle(STD_OUTPUT_HANDLE));
}

FileHandle standard_error() {
  return file_handle(GetStdHandle(STD_ERROR_HANDLE));
}

OutputKind output_kind(FileHandle file) {
  // Not _isatty(), which also holds for the NUL device.
  DWORD mode;
  return file != NO_FILE && GetConsoleMode(handle(file), &mode) ? OUTPUT_CONSOLE
                                                                : OUTPUT_FILE;
}

bool write_all(FileHandle file, const char* bytes, size_t size) {
  if (file == NO_FILE) return false;
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(handle(file), bytes, one_call(size), &written, nullptr) ||
        written == 0) {
      return false;
    }
    bytes += written;
    size -= written;
  }
  return true;
}

Writer text_writer(FileHandle file) {
  Writer writer = file_writer(file);
  if (output_kind(file) == OUTPUT_CONSOLE) writer.write = write_to_console;
  return writer;
}

FileHandle create_file(const char* name) {
  return file_handle(CreateFileW(wide(name).c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool close_file(FileHandle file) { return CloseHandle(handle(file)) != 0; }

FileHandle open_source(const char* name) {
  // Without FILE_FLAG_BACKUP_SEMANTICS a folder does not open: it is never
  // a capture.  Others may go on writing the file or even delete it: the
  // destination, created just before, is open for writing, and a source
  // that turns out to be it must open, to be told apart, not fail to share.
  return file_handle(
      CreateFileW(wide(name).c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

int64_t read_file(FileHandle file, char* bytes, size_t size) {
  DWORD got = 0;
  if (ReadFile(handle(file), bytes, one_call(size), &got, nullptr)) return got;
  // A pipe whose writer has closed it has come to its end.
  return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
}

IdentityLookup identify_name(const char* name, FileIdentity* identity) {
  // No access is asked for, only the file's attributes: this opens files
  // that others hold open, and folders too.
  HANDLE file =
      CreateFileW(wide(name).c_str(), 0,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                   error == ERROR_INVALID_NAME
               ? IDENTITY_MISSING
               : IDENTITY_UNKNOWN;
  }
  // A device such as NUL has no file index, and is no file on disk that
  // creating the destination could cut or a source could read back: it is
  // compared with nothing, like a name with nothing behind it.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return IDENTITY_MISSING;
  }
  const bool known = identify(file, identity);
  CloseHandle(file);
  return known ? IDENTITY_FOUND : IDENTITY_UNKNOWN;
}

bool identify_file(FileHandle file, FileIdentity* identity) {
  return file != NO_FILE && identify(handle(file), identity);
}

void offer_receiver_reading() {}

bool standard_output_is_a_file(FileIdentity* identity) {
  const FileHandle file = standard_output();
  if (file == NO_FILE) return false;
  const DWORD type = GetFileType(handle(file));
  if (type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE) return false;
  // A pipe has no file index; no identity, no refusal.
  return identify(handle(file), identity);
}

std::vector<std::string> command_line(int argc, char** argv) {
  (void)argc;
  (void)argv;
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> names;
  for (int i = 0; arguments != nullptr && i < count; ++i) {
    names.push_back(utf8(arguments[i]));
  }
  LocalFree(arguments);
  return names;
}

}  // namespace romweave
