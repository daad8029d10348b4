// XMODEM's CRC-16: polynomial 0x1021, from 0, no reflection, sent high
// byte first behind a frame's data.
//
// Besides the CRC of a frame's data, a frame search needs the CRC of any
// stretch of the capture, at every position.  With C(a) the CRC of the
// bytes from some origin up to offset a, the CRC of the bytes [a, b) is
// C(b) xor C(a) moved on by b - a zero bytes: the CRC is linear, and a
// message's leading zero bytes do not change it.  Moving a CRC on by a
// fixed number of bytes is itself linear, so for each frame size it is two
// tables of 256 values, one for each byte of the CRC.

#ifndef ROMWEAVE_XMODEM_CRC16_H_
#define ROMWEAVE_XMODEM_CRC16_H_

#include <array>
#include <cstddef>
#include <cstdint>

namespace romweave {

using Crc16Table = std::array<uint16_t, 256>;

// The CRC of a message one byte long, for each byte, then of that byte
// followed by one zero byte, by two, and so on: with these, several bytes
// are added to a CRC at once, each by a lookup of its own.
constexpr std::array<Crc16Table, 8> make_crc16_tables() {
  std::array<Crc16Table, 8> tables{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    unsigned crc = byte << 8;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) != 0 ? (crc << 1 ^ 0x1021) : crc << 1;
    }
    tables[0][byte] = static_cast<uint16_t>(crc);
  }
  for (size_t zeros = 1; zeros < 8; ++zeros) {
    for (unsigned byte = 0; byte < 256; ++byte) {
      const uint16_t crc = tables[zeros - 1][byte];
      tables[zeros][byte] =
          static_cast<uint16_t>(crc << 8 ^ tables[0][crc >> 8]);
    }
  }
  return tables;
}

inline constexpr std::array<Crc16Table, 8> CRC16_TABLES = make_crc16_tables();
inline constexpr const Crc16Table& CRC16_TABLE = CRC16_TABLES[0];

// The CRC of the bytes so far with `byte` added behind them.
constexpr uint16_t crc16_step(uint16_t crc, unsigned char byte) {
  return static_cast<uint16_t>(crc << 8 ^
                               CRC16_TABLE[(crc >> 8 ^ byte) & 0xFF]);
}

// A CRC moved on by `length` zero bytes, for the CRC's high byte (`high`)
// or its low byte.  Each of the sixteen bits is moved on once, and the
// tables built from those, which keeps the work within what a compiler
// does at once.
constexpr Crc16Table make_crc16_moving_table(size_t length, bool high) {
  uint16_t moved[8] = {};
  for (int bit = 0; bit < 8; ++bit) {
    uint16_t crc = static_cast<uint16_t>(1u << (high ? bit + 8 : bit));
    for (size_t i = 0; i < length; ++i) crc = crc16_step(crc, 0);
    moved[bit] = crc;
  }
  Crc16Table table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    uint16_t share = 0;
    for (int bit = 0; bit < 8; ++bit) {
      if ((byte >> bit & 1) != 0) share ^= moved[bit];
    }
    table[byte] = share;
  }
  return table;
}

// The CRC of `size` bytes.
uint16_t crc16(const unsigned char* bytes, size_t size);

// Writes to running[i] the CRC of the first i of `size` bytes, for i from 0
// to `size`.
void running_crc16(const unsigned char* bytes, size_t size, uint16_t* running);

}  // namespace romweave

#endif  // ROMWEAVE_XMODEM_CRC16_H_
