#include "tools/capture_builder.h"

namespace romweave {

unsigned char sample_byte(uint64_t offset) {
  uint64_t x = (offset + 1) * 0x9E3779B97F4A7C15ULL;
  x ^= x >> 29;
  x *= 0xBF58476D1CE4E5B9ULL;
  return static_cast<unsigned char>(x >> 56);
}

std::string sample_image(size_t blocks, uint64_t first) {
  std::string image(blocks * 128, '\0');
  for (size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<char>(sample_byte(first * 128 + i));
  }
  return image;
}

void append_block(std::string& out, uint8_t number, const unsigned char* data) {
  unsigned sum = 0;
  for (int i = 0; i < 128; ++i) sum += data[i];
  out += '\x01';
  out += static_cast<char>(number);
  out += static_cast<char>(255 - number);
  out.append(reinterpret_cast<const char*>(data), 128);
  out += static_cast<char>(sum & 0xFF);
}

std::string make_capture(size_t blocks, uint64_t first) {
  const std::string image = sample_image(blocks, first);
  std::string capture;
  capture.reserve(blocks * 132);
  for (size_t i = 0; i < blocks; ++i) {
    append_block(
        capture, static_cast<uint8_t>(i + 1),
        reinterpret_cast<const unsigned char*>(image.data()) + i * 128);
  }
  return capture;
}

std::string wrapper_header(size_t characters, char revision) {
  const uint32_t prolog = 0x02A2C;
  const uint32_t length = static_cast<uint32_t>(5 + 2 * characters) & 0xFFFFF;
  std::string header = "HPHP48-";
  header += revision;
  header += static_cast<char>(prolog & 0xFF);
  header += static_cast<char>(prolog >> 8 & 0xFF);
  header += static_cast<char>((prolog >> 16 & 0x0F) | (length & 0x0F) << 4);
  header += static_cast<char>(length >> 4 & 0xFF);
  header += static_cast<char>(length >> 12 & 0xFF);
  return header;
}

std::string wrap_capture(const std::string& capture, char revision) {
  return wrapper_header(capture.size(), revision) + capture;
}

}  // namespace romweave
