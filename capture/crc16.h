// XMODEM's CRC-16: polynomial 0x1021, from 0, no reflection, sent high
// byte first behind a frame's data.
//
// Besides the CRC of a frame's data, a frame search needs the CRC of a
// window of data that slides along the capture a byte at a time.  With the
// CRC of bytes [s, s + n) known, that of [s + 1, s + n + 1) is one step in
// for the byte entering and one table lookup out for the byte leaving: a
// byte's share of a CRC is its value times x^(8 * bytes behind it + 16),
// modulo the polynomial, which for a window of fixed length is a table of
// 256 values.

#ifndef ROMWEAVE_CAPTURE_CRC16_H_
#define ROMWEAVE_CAPTURE_CRC16_H_

#include <array>
#include <cstddef>
#include <cstdint>

namespace romweave {

using Crc16Table = std::array<uint16_t, 256>;

// The CRC of a message one byte long, for each byte.
constexpr Crc16Table make_crc16_table() {
  Crc16Table table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    unsigned crc = byte << 8;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) != 0 ? (crc << 1 ^ 0x1021) : crc << 1;
    }
    table[byte] = static_cast<uint16_t>(crc);
  }
  return table;
}

inline constexpr Crc16Table CRC16_TABLE = make_crc16_table();

// The CRC of the bytes so far with `byte` added behind them.
constexpr uint16_t crc16_step(uint16_t crc, unsigned char byte) {
  return static_cast<uint16_t>(crc << 8 ^ CRC16_TABLE[(crc >> 8 ^ byte) & 0xFF]);
}

// For each byte, its share of the CRC of a window whose `length` - 1 other
// bytes lie behind it: what leaves the CRC as it leaves the window.  That
// share is the byte's own CRC moved on by as many zero bytes, which is
// linear: each of its sixteen bits is moved on once, and the table built
// from those, which keeps the work within what a compiler does at once.
constexpr Crc16Table make_crc16_leaving_table(size_t length) {
  uint16_t moved[16] = {};
  for (int bit = 0; bit < 16; ++bit) {
    uint16_t crc = static_cast<uint16_t>(1u << bit);
    for (size_t i = 1; i < length; ++i) crc = crc16_step(crc, 0);
    moved[bit] = crc;
  }
  Crc16Table table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    uint16_t share = 0;
    for (int bit = 0; bit < 16; ++bit) {
      if ((CRC16_TABLE[byte] >> bit & 1) != 0) share ^= moved[bit];
    }
    table[byte] = share;
  }
  return table;
}

// The CRC of `size` bytes.
uint16_t crc16(const unsigned char* bytes, size_t size);

}  // namespace romweave

#endif  // ROMWEAVE_CAPTURE_CRC16_H_
