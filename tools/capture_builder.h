// Builds sound captures, raw or in the calculator's string wrapper, so that
// tests, samples and benchmarks can start from a valid capture and break
// one thing at a time.

#ifndef ROMWEAVE_TOOLS_CAPTURE_BUILDER_H_
#define ROMWEAVE_TOOLS_CAPTURE_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace romweave {

// Byte at `offset` of the sample image: a fixed pseudo-random sequence, so
// that an image can be checked without keeping a copy of it.
unsigned char sample_byte(uint64_t offset);

// `blocks` blocks of the sample image, from block index `first` on.
std::string sample_image(size_t blocks, uint64_t first = 0);

// Appends one sound block numbered `number` carrying data[0..127].
void append_block(std::string& out, uint8_t number, const unsigned char* data);

// A sound raw capture of `blocks` blocks numbered from 1, carrying
// sample_image(blocks, first).
std::string make_capture(size_t blocks, uint64_t first = 0);

// The frames an XMODEM receiver may also take: 1024 data bytes behind STX
// instead of 128 behind SOH, and a CRC-16 instead of the checksum.
struct FrameKind {
  size_t data_size = 128;
  bool crc = false;
};

// XMODEM's CRC-16 (polynomial 0x1021, from 0), worked out a bit at a time,
// apart from the decoder's tables.
uint16_t bitwise_crc16(const std::string& data);

// Appends one sound frame numbered `number` carrying `data`, 128 or 1024
// bytes, ending in its checksum or, with `crc`, its CRC-16.
void append_frame(std::string& out, uint8_t number, const std::string& data,
                  bool crc);

// A sound capture of `frames` frames of `kind` numbered from 1, carrying
// the sample image from 128-byte block `first` on.
std::string make_frames(size_t frames, FrameKind kind, uint64_t first = 0);

// The most characters a calculator string holds: its length field has 20
// bits, and counts its own five nibbles and two for each character.
constexpr size_t MAX_STRING_CHARACTERS = (0xFFFFF - 5) / 2;

// The 13-byte header of a calculator string of `characters` characters,
// at most MAX_STRING_CHARACTERS.
std::string wrapper_header(size_t characters, char revision = 'W');

// The same header with its length field, in nibbles, set to the low 20
// bits of `nibbles`, whether or not it fits what follows.
std::string wrapper_header_of_length(uint32_t nibbles, char revision = 'W');

// `capture` as the characters of a calculator string.
std::string wrap_capture(const std::string& capture, char revision = 'W');

}  // namespace romweave

#endif  // ROMWEAVE_TOOLS_CAPTURE_BUILDER_H_
