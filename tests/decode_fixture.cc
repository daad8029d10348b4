#include "tests/decode_fixture.h"

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace romweave {

namespace {

struct Cookie {
  std::string bytes;
  int64_t fail_at;
  size_t offset = 0;
};

ssize_t cookie_read(void* opaque, char* buffer, size_t size) {
  auto* cookie = static_cast<Cookie*>(opaque);
  if (cookie->fail_at >= 0 &&
      static_cast<int64_t>(cookie->offset) >= cookie->fail_at) {
    return -1;
  }
  size_t left = cookie->bytes.size() - cookie->offset;
  if (cookie->fail_at >= 0) {
    left =
        std::min(left, static_cast<size_t>(cookie->fail_at) - cookie->offset);
  }
  const size_t count = std::min(size, left);
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

Decoded decode(const std::string& source, const DecodeOptions& options) {
  auto state = std::make_unique<ConversionState>();
  char* written = nullptr;
  size_t written_size = 0;
  state->destination = open_memstream(&written, &written_size);
  state->source_name = "CAP.BIN";
  state->address = options.start_address;
  FILE* stream = open_bytes(source, options.fail_at);
  reset_source(*state, stream);
  state->input.position = options.start_position;

  Decoded decoded;
  testing::internal::CaptureStdout();
  decoded.payload_end =
      options.probe ? probe_wrapper(*state) : options.payload_end;
  if (!state->input.read_failed) {
    state->expected_block = 1;
    do {
      decoded.results.push_back(read_block(*state, decoded.payload_end));
    } while (decoded.results.back() == BLOCK_TAKEN);
  }
  std::fflush(stdout);
  decoded.output = testing::internal::GetCapturedStdout();

  std::fclose(stream);
  std::fclose(state->destination);
  decoded.destination.assign(written, written_size);
  std::free(written);
  decoded.address = state->address;
  decoded.expected_block = state->expected_block;
  decoded.read_failed = state->input.read_failed;
  return decoded;
}

}  // namespace romweave
