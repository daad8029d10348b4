#include "tools/capture_builder.h"

#include "capture/capture.h"

namespace romweave {

namespace {

constexpr bool spells(const char* text, const char* expected) {
  for (; *text == *expected; ++text, ++expected) {
    if (*text == '\0') return true;
  }
  return false;
}

}  // namespace

// The captures that tests are made from share the decoder's constants, so
// each is checked here against the format's own numbers: a wrong one would
// otherwise hide in both.
static_assert(SOH == 0x01 && STX == 0x02, "start bytes");
static_assert(ONE_K_DATA_SIZE == 1024, "1K frame");
static_assert(BLOCK_DATA_SIZE == 128 && BLOCK_SIZE == 132, "block layout");
static_assert(WRAPPER_HEADER_SIZE == 13, "wrapper header size");
static_assert(STRING_PROLOG == 0x02A2C, "string prolog");
static_assert(spells(WRAPPER_SIGNATURE, "HPHP48-"), "wrapper signature");

unsigned char sample_byte(uint64_t offset) {
  uint64_t x = (offset + 1) * 0x9E3779B97F4A7C15ULL;
  x ^= x >> 29;
  x *= 0xBF58476D1CE4E5B9ULL;
  return static_cast<unsigned char>(x >> 56);
}

std::string sample_image(size_t blocks, uint64_t first) {
  std::string image(blocks * BLOCK_DATA_SIZE, '\0');
  for (size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<char>(sample_byte(first * BLOCK_DATA_SIZE + i));
  }
  return image;
}

void append_block(std::string& out, uint8_t number, const unsigned char* data) {
  unsigned sum = 0;
  for (size_t i = 0; i < BLOCK_DATA_SIZE; ++i) sum += data[i];
  out += static_cast<char>(SOH);
  out += static_cast<char>(number);
  out += static_cast<char>(255 - number);
  out.append(reinterpret_cast<const char*>(data), BLOCK_DATA_SIZE);
  out += static_cast<char>(sum & 0xFF);
}

std::string make_capture(size_t blocks, uint64_t first) {
  const std::string image = sample_image(blocks, first);
  std::string capture;
  capture.reserve(blocks * BLOCK_SIZE);
  for (size_t i = 0; i < blocks; ++i) {
    append_block(capture, static_cast<uint8_t>(i + 1),
                 reinterpret_cast<const unsigned char*>(image.data()) +
                     i * BLOCK_DATA_SIZE);
  }
  return capture;
}

uint16_t bitwise_crc16(const std::string& data) {
  unsigned crc = 0;
  for (const char byte : data) {
    crc ^= static_cast<unsigned>(static_cast<unsigned char>(byte)) << 8;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc << 1 ^ ((crc & 0x8000) != 0 ? 0x1021 : 0)) & 0xFFFF;
    }
  }
  return static_cast<uint16_t>(crc);
}

void append_frame(std::string& out, uint8_t number, const std::string& data,
                  bool crc) {
  out += static_cast<char>(data.size() == BLOCK_DATA_SIZE ? SOH : STX);
  out += static_cast<char>(number);
  out += static_cast<char>(255 - number);
  out += data;
  if (crc) {
    const uint16_t check = bitwise_crc16(data);
    out += static_cast<char>(check >> 8);
    out += static_cast<char>(check & 0xFF);
  } else {
    unsigned sum = 0;
    for (const char byte : data) sum += static_cast<unsigned char>(byte);
    out += static_cast<char>(sum & 0xFF);
  }
}

std::string make_frames(size_t frames, FrameKind kind, uint64_t first) {
  const size_t blocks = kind.data_size / BLOCK_DATA_SIZE;
  std::string capture;
  capture.reserve(frames * (kind.data_size + 5));
  for (size_t i = 0; i < frames; ++i) {
    append_frame(capture, static_cast<uint8_t>(i + 1),
                 sample_image(blocks, first + i * blocks), kind.crc);
  }
  return capture;
}

std::string wrapper_header_of_length(uint32_t nibbles, char revision) {
  const uint32_t prolog = STRING_PROLOG;
  const uint32_t length = nibbles & 0xFFFFF;  // 20 bits
  std::string header = WRAPPER_SIGNATURE;
  header += revision;
  header += static_cast<char>(prolog & 0xFF);
  header += static_cast<char>(prolog >> 8 & 0xFF);
  header += static_cast<char>((prolog >> 16 & 0x0F) | (length & 0x0F) << 4);
  header += static_cast<char>(length >> 4 & 0xFF);
  header += static_cast<char>(length >> 12 & 0xFF);
  return header;
}

std::string wrapper_header(size_t characters, char revision) {
  return wrapper_header_of_length(static_cast<uint32_t>(5 + 2 * characters),
                                  revision);
}

std::string wrap_capture(const std::string& capture, char revision) {
  return wrapper_header(capture.size(), revision) + capture;
}

}  // namespace romweave
