// POSIX systems: descriptors, stat() identities, names as bytes.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/platform.h"

namespace romweave {

namespace {

int descriptor(FileHandle file) { return static_cast<int>(file); }

FileIdentity identity_of(const struct stat& status) {
  FileIdentity identity;
  identity.volume = static_cast<uint64_t>(status.st_dev);
  identity.index = static_cast<uint64_t>(status.st_ino);
  return identity;
}

}  // namespace

bool secure_standard_streams() {
  bool output_closed = false;
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == 1) output_closed = true;
    // The lowest free number is taken, which is this one: the ones below
    // are open by now.
    const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null != fd && null >= 0) close(null);
  }
  std::signal(SIGPIPE, SIG_IGN);
  return output_closed;
}

FileHandle standard_output() { return STDOUT_FILENO; }
FileHandle standard_error() { return STDERR_FILENO; }

OutputKind output_kind(FileHandle file) {
  return isatty(descriptor(file)) ? OUTPUT_TERMINAL : OUTPUT_FILE;
}

bool write_all(FileHandle file, const char* bytes, size_t size) {
  while (size > 0) {
    const ssize_t written = write(descriptor(file), bytes, size);
    if (written > 0) {
      bytes += written;
      size -= static_cast<size_t>(written);
    } else if (written < 0 && errno == EINTR) {
      continue;
    } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A non-blocking file that is full for now: wait until it takes more.
      pollfd ready = {descriptor(file), POLLOUT, 0};
      if (poll(&ready, 1, -1) < 0 && errno != EINTR) return false;
    } else {
      return false;
    }
  }
  return true;
}

Writer text_writer(FileHandle file) { return file_writer(file); }

FileHandle create_file(const char* name) {
  int fd;
  do {
    fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? NO_FILE : fd;
}

bool close_file(FileHandle file) {
  // After an interrupted close() the descriptor is gone on Linux and its
  // state unknown elsewhere; closing it again could close another file.
  return close(descriptor(file)) == 0 || errno == EINTR;
}

FileHandle open_source(const char* name) {
  int fd;
  do {
    fd = open(name, O_RDONLY | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return NO_FILE;
  struct stat status;
  if (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
    close(fd);
    return NO_FILE;
  }
  return fd;
}

int64_t read_file(FileHandle file, char* bytes, size_t size) {
  ssize_t got;
  do {
    got = read(descriptor(file), bytes, size);
  } while (got < 0 && errno == EINTR);
  return got;
}

IdentityLookup identify_name(const char* name, FileIdentity* identity) {
  struct stat status;
  if (stat(name, &status) == 0) {
    *identity = identity_of(status);
    return IDENTITY_FOUND;
  }
  // An empty name, a missing file, or a path through something that is
  // no folder: nothing is there.
  return errno == ENOENT || errno == ENOTDIR ? IDENTITY_MISSING
                                             : IDENTITY_UNKNOWN;
}

bool identify_file(FileHandle file, FileIdentity* identity) {
  struct stat status;
  if (fstat(descriptor(file), &status) != 0) return false;
  *identity = identity_of(status);
  return true;
}

void offer_receiver_reading() {}

bool standard_output_is_a_file(FileIdentity* identity) {
  struct stat status;
  if (fstat(STDOUT_FILENO, &status) != 0) return false;
  if (!S_ISREG(status.st_mode) && !S_ISFIFO(status.st_mode)) return false;
  *identity = identity_of(status);
  return true;
}

std::vector<std::string> command_line(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace romweave
