// The progress line, "Checking Address %05X...\n", built by hand.
//
// It is printed once a block, millions of times for a large image, so it is
// not left to a general-purpose formatter.  Below 4 GiB it is built from
// the address's eight nibbles kept one to a byte, the least significant
// first: all eight become characters at once, and the next block's nibbles
// are one addition away.  Everything here is inline, for the batch path's
// loop.

#ifndef ROMWEAVE_REPORT_PROGRESS_LINE_H_
#define ROMWEAVE_REPORT_PROGRESS_LINE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "output/output.h"

namespace romweave {

constexpr char PROGRESS_PREFIX[] = "Checking Address ";
constexpr char PROGRESS_SUFFIX[] = "...\n";
constexpr size_t PROGRESS_PREFIX_SIZE = sizeof PROGRESS_PREFIX - 1;
constexpr size_t PROGRESS_SUFFIX_SIZE = sizeof PROGRESS_SUFFIX - 1;
// The longest progress line: sixteen digits.
constexpr size_t PROGRESS_ROOM =
    PROGRESS_PREFIX_SIZE + 16 + PROGRESS_SUFFIX_SIZE;

// The nibbles of an address below 4 GiB, one to a byte.
inline uint64_t spread_nibbles(uint32_t value) {
  uint64_t x = value;
  x = (x | x << 16) & 0x0000FFFF0000FFFFu;
  x = (x | x << 8) & 0x00FF00FF00FF00FFu;
  return (x | x << 4) & 0x0F0F0F0F0F0F0F0Fu;
}

// The nibbles of the address 128 bytes on: 8 added to nibble 1, and each
// carry passed on through the high half of its byte, filled with ones.
inline uint64_t next_nibbles(uint64_t nibbles) {
  return ((nibbles | 0xF0F0F0F0F0F0F0F0u) + 0x0800u) & 0x0F0F0F0F0F0F0F0Fu;
}

// How many digits an address below 4 GiB takes: at least five, as %05X
// gives, and up to eight.
inline size_t narrow_digits(uint64_t address) {
  return 5 + (address >> 20 != 0) + (address >> 24 != 0) + (address >> 28 != 0);
}

// Writes the line of an address below 4 GiB at `line`, which has
// PROGRESS_ROOM bytes, and returns its size.  All eight digits are
// written, the first where the prefix then goes over those not needed.
inline size_t write_narrow_line(char* line, uint64_t nibbles, size_t digits) {
  // '0' added to each nibble, and 7 more to those of 10 and up, for 'A'.
  const uint64_t letters =
      (nibbles + 0x0606060606060606u) >> 4 & 0x0101010101010101u;
  const uint64_t text = nibbles + 0x3030303030303030u + letters * 7;
  char* const first = line + PROGRESS_PREFIX_SIZE + digits - 8;
  for (int i = 0; i < 8; ++i) {
    first[i] = static_cast<char>(text >> 8 * (7 - i));
  }
  std::memcpy(line, PROGRESS_PREFIX, PROGRESS_PREFIX_SIZE);
  std::memcpy(line + PROGRESS_PREFIX_SIZE + digits, PROGRESS_SUFFIX,
              PROGRESS_SUFFIX_SIZE);
  return PROGRESS_PREFIX_SIZE + digits + PROGRESS_SUFFIX_SIZE;
}

// Writes the line of any address at `line`, which has PROGRESS_ROOM bytes,
// and returns its size.
inline size_t format_progress(char* line, uint64_t address) {
  if (address >> 32 == 0) {
    return write_narrow_line(line,
                             spread_nibbles(static_cast<uint32_t>(address)),
                             narrow_digits(address));
  }
  // An image past 4 GiB: as many digits as the address needs.
  static constexpr char HEX[] = "0123456789ABCDEF";
  int digits = 9;
  while (digits < 16 && address >> 4 * digits != 0) ++digits;
  std::memcpy(line, PROGRESS_PREFIX, PROGRESS_PREFIX_SIZE);
  for (int i = 0; i < digits; ++i) {
    line[PROGRESS_PREFIX_SIZE + i] = HEX[address >> 4 * (digits - 1 - i) & 0xF];
  }
  std::memcpy(line + PROGRESS_PREFIX_SIZE + digits, PROGRESS_SUFFIX,
              PROGRESS_SUFFIX_SIZE);
  return PROGRESS_PREFIX_SIZE + digits + PROGRESS_SUFFIX_SIZE;
}

// Prints the line of `address`, built in place where the output allows.
inline void print_progress(Output& out, uint64_t address) {
  char* room = room_in_place(out, PROGRESS_ROOM);
  if (room != nullptr) {
    keep_in_place(out, format_progress(room, address));
  } else {
    char line[PROGRESS_ROOM];
    put_text_slowly(out, line, format_progress(line, address));
  }
}

}  // namespace romweave

#endif  // ROMWEAVE_REPORT_PROGRESS_LINE_H_
