#include "xmodem/crc16.h"

namespace romweave {

namespace {

const Crc16Table& T0 = CRC16_TABLES[0];
const Crc16Table& T1 = CRC16_TABLES[1];
const Crc16Table& T2 = CRC16_TABLES[2];
const Crc16Table& T3 = CRC16_TABLES[3];

}  // namespace

uint16_t crc16(const unsigned char* bytes, size_t size) {
  // Eight bytes a lookup each: the CRC's two bytes meet the first two, and
  // each byte's share is that of the byte with as many zeros behind it as
  // bytes follow it.
  const auto& t = CRC16_TABLES;
  unsigned crc = 0;
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    const unsigned char* b = bytes + i;
    crc = t[7][(crc >> 8) ^ b[0]] ^ t[6][(crc & 0xFF) ^ b[1]] ^ t[5][b[2]] ^
          t[4][b[3]] ^ t[3][b[4]] ^ t[2][b[5]] ^ t[1][b[6]] ^ t[0][b[7]];
  }
  for (; i < size; ++i) crc = crc16_step(static_cast<uint16_t>(crc), bytes[i]);
  return static_cast<uint16_t>(crc);
}

void running_crc16(const unsigned char* bytes, size_t size, uint16_t* running) {
  // Four bytes a step on the way, and the CRCs within each four worked out
  // from the one before them, off the way, so that one lookup's wait does
  // not hold up the next.
  unsigned crc = 0;
  running[0] = 0;
  size_t i = 0;
  for (; i + 4 <= size; i += 4) {
    const unsigned char* b = bytes + i;
    const unsigned high = (crc >> 8) ^ b[0];
    const unsigned low = (crc & 0xFF) ^ b[1];
    running[i + 1] = static_cast<uint16_t>(T0[high] ^ (crc & 0xFF) << 8);
    running[i + 2] = static_cast<uint16_t>(T1[high] ^ T0[low]);
    running[i + 3] = static_cast<uint16_t>(T2[high] ^ T1[low] ^ T0[b[2]]);
    crc = T3[high] ^ T2[low] ^ T1[b[2]] ^ T0[b[3]];
    running[i + 4] = static_cast<uint16_t>(crc);
  }
  for (; i < size; ++i) {
    crc = crc16_step(static_cast<uint16_t>(crc), bytes[i]);
    running[i + 1] = static_cast<uint16_t>(crc);
  }
}

}  // namespace romweave
