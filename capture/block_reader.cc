// Reads, checks and copies the blocks of a capture.

#include <algorithm>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "capture/capture.h"

namespace romweave {

namespace {

constexpr char HEX[] = "0123456789ABCDEF";
constexpr char PREFIX[] = "Checking Address ";
constexpr char SUFFIX[] = "...\n";
constexpr size_t PREFIX_SIZE = sizeof PREFIX - 1;
constexpr size_t SUFFIX_SIZE = sizeof SUFFIX - 1;
// The longest progress line: sixteen digits.
constexpr size_t PROGRESS_ROOM = PREFIX_SIZE + 16 + SUFFIX_SIZE;

// A block's progress line, "Checking Address %05X...\n", is printed once
// a block, millions of times for a large image, so it is built by hand.
// Below 4 GiB it is built from the address's eight nibbles kept one to a
// byte, the least significant first: all eight become characters at once,
// and the next block's nibbles are one addition away.

uint64_t spread_nibbles(uint32_t value) {
  uint64_t x = value;
  x = (x | x << 16) & 0x0000FFFF0000FFFFu;
  x = (x | x << 8) & 0x00FF00FF00FF00FFu;
  return (x | x << 4) & 0x0F0F0F0F0F0F0F0Fu;
}

// The nibbles of the address 128 bytes on: 8 added to nibble 1, and each
// carry passed on through the high half of its byte, filled with ones.
uint64_t next_nibbles(uint64_t nibbles) {
  return ((nibbles | 0xF0F0F0F0F0F0F0F0u) + 0x0800u) & 0x0F0F0F0F0F0F0F0Fu;
}

// How many digits an address below 4 GiB takes: at least five, as %05X
// gives, and up to eight.
size_t narrow_digits(uint64_t address) {
  return 5 + (address >> 20 != 0) + (address >> 24 != 0) + (address >> 28 != 0);
}

// Writes the line of an address below 4 GiB at `line`, which has
// PROGRESS_ROOM bytes, and returns its size.  All eight digits are
// written, the first where the prefix then goes over those not needed.
size_t write_narrow_line(char* line, uint64_t nibbles, size_t digits) {
  // '0' added to each nibble, and 7 more to those of 10 and up, for 'A'.
  const uint64_t letters =
      (nibbles + 0x0606060606060606u) >> 4 & 0x0101010101010101u;
  const uint64_t text = nibbles + 0x3030303030303030u + letters * 7;
  char* const first = line + PREFIX_SIZE + digits - 8;
  for (int i = 0; i < 8; ++i) first[i] = static_cast<char>(text >> 8 * (7 - i));
  std::memcpy(line, PREFIX, PREFIX_SIZE);
  std::memcpy(line + PREFIX_SIZE + digits, SUFFIX, SUFFIX_SIZE);
  return PREFIX_SIZE + digits + SUFFIX_SIZE;
}

// Writes the line of any address at `line`, which has PROGRESS_ROOM bytes,
// and returns its size.
size_t format_progress(char* line, uint64_t address) {
  if (address >> 32 == 0) {
    return write_narrow_line(line,
                             spread_nibbles(static_cast<uint32_t>(address)),
                             narrow_digits(address));
  }
  // An image past 4 GiB: as many digits as the address needs.
  int digits = 9;
  while (digits < 16 && address >> 4 * digits != 0) ++digits;
  std::memcpy(line, PREFIX, PREFIX_SIZE);
  for (int i = 0; i < digits; ++i) {
    line[PREFIX_SIZE + i] = HEX[address >> 4 * (digits - 1 - i) & 0xF];
  }
  std::memcpy(line + PREFIX_SIZE + digits, SUFFIX, SUFFIX_SIZE);
  return PREFIX_SIZE + digits + SUFFIX_SIZE;
}

void print_progress(Output& out, uint64_t address) {
  char* room = room_in_place(out, PROGRESS_ROOM);
  if (room != nullptr) {
    keep_in_place(out, format_progress(room, address));
  } else {
    char line[PROGRESS_ROOM];
    put_text_slowly(out, line, format_progress(line, address));
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
#if defined(__SSE2__)
  // Sixteen bytes at a time, and the sixteen sums added up across at the
  // end, which the compiler does not find by itself.  The plain loop below
  // serves every other processor.
  __m128i sums = _mm_setzero_si128();
  for (size_t i = 0; i < BLOCK_DATA_SIZE; i += 16) {
    const __m128i part =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), part);
    sums = _mm_add_epi8(sums, part);
  }
  sums = _mm_sad_epu8(sums, _mm_setzero_si128());
  return static_cast<unsigned char>(_mm_cvtsi128_si32(sums) +
                                    _mm_extract_epi16(sums, 4));
#else
  unsigned char sum = 0;
  for (size_t i = 0; i < BLOCK_DATA_SIZE; ++i) {
    to[i] = static_cast<char>(data[i]);
    sum += data[i];
  }
  return sum;
#endif
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
  // Lines that need no CR or flush of their own are written in place too.
  const bool in_place = !out.failed && out.plain;
  for (;;) {
    // As many blocks as are at hand and as the outputs have room for in
    // place, taken with every counter and place in a local: to the
    // compiler, any byte stored into an output could be one of them, which
    // it would read back after every store.
    size_t count = fill_source(in, BLOCK_SIZE) / BLOCK_SIZE;
    if (payload_end != NO_LIMIT) {
      // Only the blocks that begin before the limit.
      const int64_t before = payload_end - in.position;
      const size_t starts =
          before > 0 ? static_cast<size_t>(before - 1) / BLOCK_SIZE + 1 : 0;
      count = std::min(count, starts);
    }
    count = std::min(count, room_left(destination) / BLOCK_DATA_SIZE);
    if (in_place) count = std::min(count, room_left(out) / PROGRESS_ROOM);
    // Lines below 4 GiB are built from nibbles, over a batch whose
    // addresses all take as many digits.
    const bool narrow = in_place && state.address >> 32 == 0;
    size_t digits = 0;
    uint64_t nibbles = 0;
    if (narrow) {
      digits = narrow_digits(state.address);
      const uint64_t wider = uint64_t{1} << 4 * digits;
      count = std::min(count, static_cast<size_t>((wider - state.address - 1) /
                                                  BLOCK_DATA_SIZE) +
                                  1);
      nibbles = spread_nibbles(static_cast<uint32_t>(state.address));
    }
    if (count == 0) return;
    char* const data_start =
        room_in_place(destination, count * BLOCK_DATA_SIZE);
    char* const text_start =
        in_place ? room_in_place(out, count * PROGRESS_ROOM) : nullptr;
    char* data = data_start;
    char* text = text_start;
    const unsigned char* block = in.bytes + in.begin;
    uint64_t address = state.address;
    uint8_t expected = state.expected_block;
    size_t taken = 0;
    for (; taken < count; ++taken, block += BLOCK_SIZE,
                          address += BLOCK_DATA_SIZE, ++expected,
                          data += BLOCK_DATA_SIZE) {
      if (block[0] != SOH || block[1] != expected ||
          block[2] != 255 - expected ||
          // The data is copied while it is added up; a block that then
          // turns out faulty is not kept.
          block[BLOCK_SIZE - 1] != copy_and_sum(data, block + 3)) {
        break;
      }
      if (narrow) {
        text += write_narrow_line(text, nibbles, digits);
        nibbles = next_nibbles(nibbles);
      } else if (in_place) {
        text += format_progress(text, address);
      } else if (!out.failed) {
        print_progress(out, address);
      }
    }
    keep_in_place(destination, static_cast<size_t>(data - data_start));
    if (in_place) keep_in_place(out, static_cast<size_t>(text - text_start));
    consume_source(in, taken * BLOCK_SIZE);
    state.address = address;
    state.expected_block = expected;
    // read_block() takes a block that is not sound, or for which a buffer
    // has no room, from its start.
    if (taken < count) return;
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
