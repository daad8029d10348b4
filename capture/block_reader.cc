// Reads, checks and copies the blocks of a capture.

#include <cstddef>
#include <cstring>

#include "capture/capture.h"

namespace romweave {

namespace {

constexpr char HEX[] = "0123456789ABCDEF";

// The two upper-case hexadecimal digits of every byte.
struct HexPairs {
  char digits[256][2];
};

constexpr HexPairs hex_pairs() {
  HexPairs pairs = {};
  for (int i = 0; i < 256; ++i) {
    pairs.digits[i][0] = HEX[i >> 4];
    pairs.digits[i][1] = HEX[i & 0xF];
  }
  return pairs;
}

constexpr HexPairs HEX_PAIRS = hex_pairs();

// "Checking Address %05X...\n", built by hand and in place: it is printed
// once a block, millions of times for a large image.
inline void print_progress(Output& out, uint64_t address) {
  static const char PREFIX[] = "Checking Address ";
  static const char SUFFIX[] = "...\n";
  constexpr size_t PREFIX_SIZE = sizeof PREFIX - 1;
  constexpr size_t SUFFIX_SIZE = sizeof SUFFIX - 1;
  // At least five digits, as %05X gives, and as many more as the address
  // needs.
  int digits = 5;
  while (digits < 16 && address >> 4 * digits != 0) ++digits;
  const size_t size = PREFIX_SIZE + digits + SUFFIX_SIZE;

  // Built in place: a line built elsewhere and copied in would be read
  // back before its last bytes were stored.
  char elsewhere[PREFIX_SIZE + 16 + SUFFIX_SIZE];
  char* room = room_in_place(out, size);
  char* const line = room != nullptr ? room : elsewhere;
  std::memcpy(line, PREFIX, PREFIX_SIZE);
  char* const end = line + PREFIX_SIZE + digits;
  char* digit = end;
  uint64_t rest = address;
  for (int left = digits; left >= 2; left -= 2, rest >>= 8) {
    digit -= 2;
    std::memcpy(digit, HEX_PAIRS.digits[rest & 0xFF], 2);
  }
  if (digit > line + PREFIX_SIZE) *--digit = HEX[rest & 0xF];
  std::memcpy(end, SUFFIX, SUFFIX_SIZE);
  if (room != nullptr) {
    keep_in_place(out, size);
  } else {
    put_text_slowly(out, elsewhere, size);
  }
}

unsigned char checksum(const unsigned char* data) {
  // Added in eight bits, which wrap modulo 256 by themselves.
  unsigned char sum = 0;
  for (size_t i = 0; i < BLOCK_DATA_SIZE; ++i) sum += data[i];
  return sum;
}

// checksum() of the data while copying it to `to`, in one pass.
unsigned char copy_and_sum(char* to, const unsigned char* data) {
  unsigned char sum = 0;
  for (size_t i = 0; i < BLOCK_DATA_SIZE; ++i) {
    to[i] = static_cast<char>(data[i]);
    sum += data[i];
  }
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
  bool going = true;
  while (going && fill_source(in, BLOCK_SIZE) >= BLOCK_SIZE) {
    // The blocks at hand, with the counters in locals: to the compiler,
    // any byte stored into an output could be one of them, which it would
    // read back after every store.
    const unsigned char* block = in.bytes + in.begin;
    const unsigned char* const end = in.bytes + in.end;
    int64_t position = in.position;
    uint64_t address = state.address;
    uint8_t expected = state.expected_block;
    for (; end - block >= static_cast<ptrdiff_t>(BLOCK_SIZE);
         block += BLOCK_SIZE, position += BLOCK_SIZE,
         address += BLOCK_DATA_SIZE, ++expected) {
      if ((payload_end != NO_LIMIT && position >= payload_end) ||
          block[0] != SOH || block[1] != expected ||
          block[2] != 255 - expected) {
        going = false;
        break;
      }
      // The data is copied while it is added up.  A block that then turns
      // out faulty is not kept, and read_block() takes it from the start,
      // as it takes a block when the destination's buffer is full.
      char* room = room_in_place(destination, BLOCK_DATA_SIZE);
      if (room == nullptr ||
          block[BLOCK_SIZE - 1] != copy_and_sum(room, block + 3)) {
        going = false;
        break;
      }
      keep_in_place(destination, BLOCK_DATA_SIZE);
      if (!out.failed) print_progress(out, address);
    }
    in.begin = static_cast<size_t>(block - in.bytes);
    in.position = position;
    state.address = address;
    state.expected_block = expected;
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
