// Reads, checks and copies the blocks of a capture.

#include <cstddef>
#include <cstring>

#include "capture/capture.h"
#include "capture/progress_line.h"

namespace romweave {

namespace {

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
    print(out, "%s: Got %u instead of %u Block No\n", name, block[1], expected);
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

  std::memcpy(state.last_block, block, BLOCK_SIZE);
  consume_source(in, BLOCK_SIZE);
  state.address += BLOCK_DATA_SIZE;
  state.expected_block = static_cast<uint8_t>(expected + 1);
  return BLOCK_TAKEN;
}

SourceVerdict decode_source(ConversionState& state) {
  const int32_t payload_end = probe_wrapper(state);
  if (state.input.read_failed) return SOURCE_UNREADABLE;
  state.expected_block = 1;
  const uint64_t start = state.address;
  BlockResult result;
  do {
    take_sound_blocks(state, payload_end);
    result = read_block(state, payload_end);
  } while (result == BLOCK_TAKEN);
  if (state.input.read_failed) return SOURCE_UNREADABLE;
  if (result == SOURCE_END) return SOURCE_CLEAN;
  explain_fault(state, payload_end, (state.address - start) / BLOCK_DATA_SIZE);
  return SOURCE_FAULTY;
}

}  // namespace romweave
