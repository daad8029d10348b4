// Reads, checks and copies the blocks of a capture.

#include <cstddef>
#include <cstring>

#include "capture/capture.h"
#include "capture/source_buffer.h"

namespace romweave {

namespace {

// Writes bytes to a stream: a progress line or one block's data, millions
// of times for a large image.  The C library's fwrite takes the stream's
// lock on each call, which costs more than the copy; this program has one
// thread, so with glibc the lock is skipped, and bytes that fit in the
// stream's buffer are put there directly, as glibc's own putc_unlocked()
// does with one byte.  A line-buffered or unbuffered stream has no room
// there, so every write to it goes through the library.
inline void write_bytes(const void* bytes, size_t count, FILE* stream) {
#if defined(__GLIBC__)
  if (stream->_IO_write_end - stream->_IO_write_ptr >=
      static_cast<ptrdiff_t>(count)) {
    std::memcpy(stream->_IO_write_ptr, bytes, count);
    stream->_IO_write_ptr += count;
    return;
  }
  fwrite_unlocked(bytes, 1, count, stream);
#else
  std::fwrite(bytes, 1, count, stream);
#endif
}

// "Checking Address %05X...\n", built by hand: it is printed once a block,
// millions of times for a large image.
void print_progress(uint64_t address) {
  static const char HEX[] = "0123456789ABCDEF";
  static const char PREFIX[] = "Checking Address ";
  static const char SUFFIX[] = "...\n";
  const size_t prefix_size = sizeof PREFIX - 1;
  const size_t suffix_size = sizeof SUFFIX - 1;
  char line[prefix_size + 16 + suffix_size];
  // At least five digits, as %05X gives, and as many more as the address
  // needs.
  int count = 5;
  while (count < 16 && address >> 4 * count != 0) ++count;

  std::memcpy(line, PREFIX, prefix_size);
  char* out = line + prefix_size;
  for (int shift = 4 * (count - 1); shift >= 0; shift -= 4) {
    *out++ = HEX[address >> shift & 0xF];
  }
  std::memcpy(out, SUFFIX, suffix_size);
  out += suffix_size;
  write_bytes(line, static_cast<size_t>(out - line), stdout);
}

// Called when the source gave fewer bytes than a check needs.  True when
// that was a read error, which ends the run with no fault message (the
// driver reports it); false for a plain end of file, which is a fault.
bool read_error(ConversionState& state) {
  state.input.read_failed = state.input.stream_failed;
  return state.input.read_failed;
}

}  // namespace

BlockResult read_block(ConversionState& state, int32_t payload_end) {
  print_progress(state.address);

  const int64_t position = state.input.position;
  // The first byte is read before the limit is looked at, as a reader that
  // takes one byte at a time would; a block may run past the limit.
  if (fill_source(state, 1) == 0) {
    read_error(state);
    return SOURCE_END;
  }
  if (payload_end != NO_LIMIT && position >= payload_end) return SOURCE_END;

  // Each check below looks only at bytes that came before it, so the first
  // fault is the one that reading a byte at a time would meet.
  const size_t got = fill_source(state, BLOCK_SIZE);
  const unsigned char* block = state.input.bytes + state.input.begin;
  const char* name = state.source_name.c_str();
  const unsigned expected = state.expected_block;
  const unsigned complement = 255 - expected;

  if (block[0] != SOH) {
    std::printf("%s: No SOH\n", name);
    return BLOCK_FAILED;
  }
  if (got < 2) {
    if (read_error(state)) return SOURCE_END;
    std::printf("%s: EOF at Block No.\n", name);
    return BLOCK_FAILED;
  }
  if (block[1] != expected) {
    std::printf("%s: Got %u instead of %u Block No\n", name, block[1],
                expected);
    return BLOCK_FAILED;
  }
  if (got < 3) {
    if (read_error(state)) return SOURCE_END;
    std::printf("%s: EOF at Inv. Block No.\n", name);
    return BLOCK_FAILED;
  }
  if (block[2] != complement) {
    std::printf("%s: Got %u instead of %u Inv. Block No\n", name, block[2],
                complement);
    return BLOCK_FAILED;
  }

  // The data reaches the destination before the checksum is known, so a
  // block that fails from here on leaves what was read of it behind.
  const unsigned char* data = block + 3;
  const size_t data_got = got - 3 < BLOCK_DATA_SIZE ? got - 3 : BLOCK_DATA_SIZE;
  write_bytes(data, data_got, state.destination);
  if (data_got < BLOCK_DATA_SIZE) {
    if (read_error(state)) return SOURCE_END;
    std::printf("%s: EOF at Databyte %d\n", name, static_cast<int>(data_got));
    return BLOCK_FAILED;
  }
  // Added in eight bits, which wrap modulo 256 by themselves.
  unsigned char sum = 0;
  for (size_t i = 0; i < BLOCK_DATA_SIZE; ++i) sum += data[i];

  if (got < BLOCK_SIZE) {
    if (read_error(state)) return SOURCE_END;
    std::printf("%s: EOF at checksum\n", name);
    return BLOCK_FAILED;
  }
  if (block[BLOCK_SIZE - 1] != sum) {
    std::printf("%s: Got %u instead of %u as checksum\n", name,
                block[BLOCK_SIZE - 1], sum);
    return BLOCK_FAILED;
  }

  consume_source(state, BLOCK_SIZE);
  state.address += BLOCK_DATA_SIZE;
  state.expected_block = static_cast<uint8_t>(expected + 1);
  return BLOCK_TAKEN;
}

}  // namespace romweave
