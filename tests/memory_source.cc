#include "tests/memory_source.h"

#include <sys/types.h>

#include <algorithm>
#include <cstring>

namespace romweave {

namespace {

struct Cookie {
  std::string bytes;
  int64_t fail_at;
  size_t offset = 0;
};

ssize_t cookie_read(void* opaque, char* buffer, size_t size) {
  auto* cookie = static_cast<Cookie*>(opaque);
  size_t end = cookie->bytes.size();
  if (cookie->fail_at >= 0) {
    if (static_cast<int64_t>(cookie->offset) >= cookie->fail_at) return -1;
    end = std::min(end, static_cast<size_t>(cookie->fail_at));
  }
  const size_t count = std::min(size, end - cookie->offset);
  std::memcpy(buffer, cookie->bytes.data() + cookie->offset, count);
  cookie->offset += count;
  return static_cast<ssize_t>(count);
}

int cookie_close(void* opaque) {
  delete static_cast<Cookie*>(opaque);
  return 0;
}

}  // namespace

FILE* open_bytes(const std::string& bytes, int64_t fail_at) {
  cookie_io_functions_t functions = {};
  functions.read = cookie_read;
  functions.close = cookie_close;
  return fopencookie(new Cookie{bytes, fail_at}, "rb", functions);
}

}  // namespace romweave
