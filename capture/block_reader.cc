// Reads, checks and copies the blocks of a capture.

#include "capture/capture.h"
#include "capture/source_buffer.h"

namespace romweave {

namespace {

// "Checking Address %05X...\n", built by hand: it is printed once a block,
// millions of times for a large image.
void print_progress(uint64_t address) {
  static const char HEX[] = "0123456789ABCDEF";
  static const char PREFIX[] = "Checking Address ";
  static const char SUFFIX[] = "...\n";
  char line[sizeof PREFIX - 1 + 16 + sizeof SUFFIX - 1];
  char digits[16];
  int count = 0;
  do {
    digits[count++] = HEX[address & 0xF];
    address >>= 4;
  } while (address != 0);
  while (count < 5) digits[count++] = '0';

  char* out = line;
  for (const char* p = PREFIX; *p != '\0'; ++p) *out++ = *p;
  while (count > 0) *out++ = digits[--count];
  for (const char* p = SUFFIX; *p != '\0'; ++p) *out++ = *p;
  std::fwrite(line, 1, static_cast<size_t>(out - line), stdout);
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
  std::fwrite(data, 1, data_got, state.destination);
  if (data_got < BLOCK_DATA_SIZE) {
    if (read_error(state)) return SOURCE_END;
    std::printf("%s: EOF at Databyte %d\n", name, static_cast<int>(data_got));
    return BLOCK_FAILED;
  }
  unsigned sum = 0;
  for (size_t i = 0; i < BLOCK_DATA_SIZE; ++i) sum += data[i];
  sum &= 0xFF;

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
