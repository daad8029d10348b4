// Reads, checks and copies the blocks of a capture.

#include <cstddef>
#include <cstring>

#include "capture/capture.h"

namespace romweave {

namespace {

// "Checking Address %05X...\n", built by hand: it is printed once a block,
// millions of times for a large image.
void print_progress(Output& out, uint64_t address) {
  static const char HEX[] = "0123456789ABCDEF";
  static const char LINE[] = "Checking Address 00000...\n";
  constexpr size_t LINE_SIZE = sizeof LINE - 1;
  constexpr size_t DIGITS_AT = 17;
  char line[LINE_SIZE + 16];
  std::memcpy(line, LINE, LINE_SIZE);
  // The five digits of any image below 1 MiB; a larger address takes as
  // many more as it needs.
  int digits = 5;
  while (digits < 16 && address >> 4 * digits != 0) ++digits;
  for (int i = 0; i < digits; ++i) {
    line[DIGITS_AT + i] = HEX[address >> 4 * (digits - 1 - i) & 0xF];
  }
  if (digits == 5) {
    put_text(out, line, LINE_SIZE);  // a fixed size copies fastest
    return;
  }
  std::memcpy(line + DIGITS_AT + digits, LINE + DIGITS_AT + 5,
              LINE_SIZE - DIGITS_AT - 5);
  put_text(out, line, LINE_SIZE + digits - 5);
}

unsigned char checksum(const unsigned char* data) {
  // Added in eight bits, which wrap modulo 256 by themselves.
  unsigned char sum = 0;
  for (size_t i = 0; i < BLOCK_DATA_SIZE; ++i) sum += data[i];
  return sum;
}

// Called when the source gave fewer bytes than a check needs.  True when
// that was a read error, which ends the source with no fault message (the
// driver reports it); false for a plain end of file, which is a fault.
bool read_error(ConversionState& state) {
  state.input.read_failed = state.input.stream_failed;
  return state.input.read_failed;
}

// Takes blocks for as long as a whole one is at hand and sound, as
// read_block() would, and leaves the first that is not, the end of the
// source and any limit to it.  Nearly every block of a capture comes
// through here.
void take_sound_blocks(ConversionState& state, int32_t payload_end) {
  SourceBuffer& in = state.input;
  Output& out = *state.standard_output;
  Output& destination = *state.destination;
  while (fill_source(in, BLOCK_SIZE) >= BLOCK_SIZE &&
         (payload_end == NO_LIMIT || in.position < payload_end)) {
    const unsigned char* block = in.bytes + in.begin;
    const unsigned expected = state.expected_block;
    if (block[0] != SOH || block[1] != expected ||
        block[2] != 255 - expected ||
        block[BLOCK_SIZE - 1] != checksum(block + 3)) {
      return;
    }
    if (!out.failed) print_progress(out, state.address);
    put_bytes(destination, block + 3, BLOCK_DATA_SIZE);
    consume_source(in, BLOCK_SIZE);
    state.address += BLOCK_DATA_SIZE;
    state.expected_block = static_cast<uint8_t>(expected + 1);
  }
}

}  // namespace

BlockResult read_block(ConversionState& state, int32_t payload_end) {
  Output& out = *state.standard_output;
  if (!out.failed) print_progress(out, state.address);

  SourceBuffer& in = state.input;
  const int64_t position = in.position;
  // The first byte is read before the limit is looked at, as a reader that
  // takes one byte at a time would; a block may run past the limit.
  if (fill_source(in, 1) == 0) {
    read_error(state);
    return SOURCE_END;
  }
  if (payload_end != NO_LIMIT && position >= payload_end) return SOURCE_END;

  // Each check below looks only at bytes that came before it, so the first
  // fault is the one that reading a byte at a time would meet.
  const size_t got = fill_source(in, BLOCK_SIZE);
  const unsigned char* block = in.bytes + in.begin;
  const char* name = state.source_name.c_str();
  const unsigned expected = state.expected_block;
  const unsigned complement = 255 - expected;

  if (block[0] != SOH) {
    print(out, "%s: No SOH\n", name);
    return BLOCK_FAILED;
  }
  if (got < 2) {
    if (read_error(state)) return SOURCE_END;
    print(out, "%s: EOF at Block No.\n", name);
    return BLOCK_FAILED;
  }
  if (block[1] != expected) {
    print(out, "%s: Got %u instead of %u Block No\n", name, block[1],
          expected);
    return BLOCK_FAILED;
  }
  if (got < 3) {
    if (read_error(state)) return SOURCE_END;
    print(out, "%s: EOF at Inv. Block No.\n", name);
    return BLOCK_FAILED;
  }
  if (block[2] != complement) {
    print(out, "%s: Got %u instead of %u Inv. Block No\n", name, block[2],
          complement);
    return BLOCK_FAILED;
  }

  // The data reaches the destination before the checksum is known, so a
  // block that fails from here on leaves what was read of it behind.
  const unsigned char* data = block + 3;
  const size_t data_got = got - 3 < BLOCK_DATA_SIZE ? got - 3 : BLOCK_DATA_SIZE;
  put_bytes(*state.destination, data, data_got);
  if (data_got < BLOCK_DATA_SIZE) {
    if (read_error(state)) return SOURCE_END;
    print(out, "%s: EOF at Databyte %d\n", name, static_cast<int>(data_got));
    return BLOCK_FAILED;
  }
  const unsigned char sum = checksum(data);

  if (got < BLOCK_SIZE) {
    if (read_error(state)) return SOURCE_END;
    print(out, "%s: EOF at checksum\n", name);
    return BLOCK_FAILED;
  }
  if (block[BLOCK_SIZE - 1] != sum) {
    print(out, "%s: Got %u instead of %u as checksum\n", name,
          block[BLOCK_SIZE - 1], sum);
    return BLOCK_FAILED;
  }

  consume_source(in, BLOCK_SIZE);
  state.address += BLOCK_DATA_SIZE;
  state.expected_block = static_cast<uint8_t>(expected + 1);
  return BLOCK_TAKEN;
}

SourceEnd decode_source(ConversionState& state, FILE* source) {
  reset_source(state.input, source);
  const int32_t payload_end = probe_wrapper(state);
  if (state.input.read_failed) return SOURCE_UNREADABLE;
  state.expected_block = 1;
  BlockResult result;
  do {
    take_sound_blocks(state, payload_end);
    result = read_block(state, payload_end);
  } while (result == BLOCK_TAKEN);
  if (state.input.read_failed) return SOURCE_UNREADABLE;
  return result == BLOCK_FAILED ? SOURCE_FAULTY : SOURCE_CLEAN;
}

}  // namespace romweave
