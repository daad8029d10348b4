#include "capture/crc16.h"

namespace romweave {

uint16_t crc16(const unsigned char* bytes, size_t size) {
  uint16_t crc = 0;
  for (size_t i = 0; i < size; ++i) crc = crc16_step(crc, bytes[i]);
  return crc;
}

}  // namespace romweave
