// mkcapture: writes a sound sample capture, and optionally the image that
// it carries, for demonstrations, benchmarks and fuzzing seeds; or one
// made to fail, for the benchmark's slow inputs.
//
//   mkcapture [--wrap] [--crc] [--1k] [--bad-check] [--first K | --data HEX]
//             [--image IMAGE] [--fill HEX] [--size BYTES] BLOCKS CAPTURE
//   mkcapture --help

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/capture_builder.h"
#include "xmodem/frame.h"

namespace {

using romweave::BLOCK_DATA_SIZE;

const char USAGE[] =
    "usage: mkcapture [--wrap] [--crc] [--1k] [--bad-check]\n"
    "                 [--first K | --data HEX]\n"
    "                 [--image IMAGE] [--fill HEX] [--size BYTES] BLOCKS "
    "CAPTURE\n";

// The capture holds BLOCKS blocks numbered from 1 that carry the sample
// image from block index K on, so that captures made with K = 0, then
// K = the first one's BLOCKS, and so on, join into one sample image.
const char HELP[] =
    "Writes a sound XMODEM capture of BLOCKS blocks, numbered from 1, that\n"
    "carries a fixed sample image: something to try romweave on, or to\n"
    "test it with.  Blocks of 128 data bytes take 132 bytes, 133 with a\n"
    "CRC-16.  --bad-check, --fill and --size make captures that fail, for\n"
    "the benchmark.\n"
    "\n"
    "  --wrap         keep the capture in an HP 48 string (3971 blocks max.)\n"
    "  --crc          end each block in a CRC-16 instead of the checksum\n"
    "  --1k           send 1024-byte blocks (STX); BLOCKS then counts them,\n"
    "                 and K counts 128-byte blocks still\n"
    "  --bad-check    end each block in a wrong check, its checksum or the\n"
    "                 low byte of its CRC-16 plus 1\n"
    "  --first K      carry the sample image from block K on (default 0), so\n"
    "                 that captures made with K = 0, then K = the first one's\n"
    "                 BLOCKS, and so on, join into one image\n"
    "  --data HEX     carry the bytes HEX (such as 00ff), repeated, in every\n"
    "                 block instead of the sample image\n"
    "  --image IMAGE  also write the image the capture carries: the data of\n"
    "                 its whole blocks\n"
    "  --fill HEX     behind the blocks, the bytes HEX (such as 0101fe)\n"
    "                 repeated up to --size\n"
    "  --size BYTES   end the capture at BYTES bytes, within the blocks or\n"
    "                 at the end of the fill (not with --wrap)\n"
    "  --help         show this help\n"
    "\n"
    "A sound block, then 01 01 FE to 64 MiB:\n"
    "  mkcapture --fill 0101fe --size 67108864 1 slow.cap\n";

int usage() {
  std::fputs(USAGE, stderr);
  return 2;
}

// Help asked for goes to standard output, and is checked like any output.
int help() {
  std::fputs(USAGE, stdout);
  std::fputs(HELP, stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "mkcapture: write failed\n");
    return 1;
  }
  return 0;
}

bool parse_count(const char* text, unsigned long long* value) {
  char* end = nullptr;
  *value = std::strtoull(text, &end, 10);
  return *text != '\0' && *end == '\0';
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Pairs of hex digits, at least one pair.
bool parse_hex(const char* text, std::string* bytes) {
  bytes->clear();
  for (; text[0] != '\0'; text += 2) {
    const int high = hex_digit(text[0]);
    const int low = text[1] == '\0' ? -1 : hex_digit(text[1]);
    if (high < 0 || low < 0) return false;
    *bytes += static_cast<char>(high << 4 | low);
  }
  return !bytes->empty();
}

// The capture's file, which takes no byte past its size.
struct Capture {
  FILE* file;
  unsigned long long room;
};

// `pattern` repeated, the last time cut, to `size` bytes.
std::string repeated(const std::string& pattern, size_t size) {
  std::string bytes;
  bytes.reserve(size + pattern.size());
  while (bytes.size() < size) bytes += pattern;
  bytes.resize(size);
  return bytes;
}

bool write_all(FILE* file, const std::string& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

bool write_capped(Capture& capture, const std::string& bytes) {
  const size_t count = bytes.size() < capture.room
                           ? bytes.size()
                           : static_cast<size_t>(capture.room);
  capture.room -= count;
  return std::fwrite(bytes.data(), 1, count, capture.file) == count;
}

}  // namespace

int main(int argc, char** argv) {
  bool wrap = false, bad_check = false;
  romweave::FrameKind kind;
  unsigned long long first = 0, size = 0;
  bool sized = false;
  std::string fill, pattern;
  const char* image_name = nullptr;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      return help();
    } else if (std::strcmp(argv[i], "--wrap") == 0) {
      wrap = true;
    } else if (std::strcmp(argv[i], "--crc") == 0) {
      kind.crc = true;
    } else if (std::strcmp(argv[i], "--1k") == 0) {
      kind.data_size = romweave::ONE_K_DATA_SIZE;
    } else if (std::strcmp(argv[i], "--bad-check") == 0) {
      bad_check = true;
    } else if (std::strcmp(argv[i], "--first") == 0 && i + 1 < argc) {
      if (!parse_count(argv[++i], &first)) return usage();
    } else if (std::strcmp(argv[i], "--image") == 0 && i + 1 < argc) {
      image_name = argv[++i];
    } else if (std::strcmp(argv[i], "--data") == 0 && i + 1 < argc) {
      if (!parse_hex(argv[++i], &pattern)) return usage();
    } else if (std::strcmp(argv[i], "--fill") == 0 && i + 1 < argc) {
      if (!parse_hex(argv[++i], &fill)) return usage();
    } else if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
      if (!parse_count(argv[++i], &size)) return usage();
      sized = true;
    } else {
      return usage();
    }
  }
  unsigned long long blocks = 0;
  if (argc - i != 2 || !parse_count(argv[i], &blocks)) return usage();
  if ((!fill.empty() && !sized) || (sized && wrap) ||
      (!pattern.empty() && first != 0)) {
    return usage();
  }
  const char* capture_name = argv[i + 1];
  const unsigned long long per_frame = kind.data_size / BLOCK_DATA_SIZE;
  const unsigned long long frame_size = kind.data_size + (kind.crc ? 5 : 4);
  if (wrap && blocks * frame_size > romweave::MAX_STRING_CHARACTERS) {
    std::fprintf(stderr, "mkcapture: %llu blocks do not fit in a string\n",
                 blocks);
    return 2;
  }
  if (sized && fill.empty() && size > blocks * frame_size) {
    std::fprintf(stderr,
                 "mkcapture: %llu blocks end before %llu bytes: --fill says "
                 "what follows them\n",
                 blocks, size);
    return 2;
  }
  // The blocks that --size leaves whole, whose data is the image.
  const unsigned long long whole =
      sized && size / frame_size < blocks ? size / frame_size : blocks;

  Capture capture = {std::fopen(capture_name, "wb"), sized ? size : ~0ULL};
  FILE* image = image_name ? std::fopen(image_name, "wb") : nullptr;
  if (capture.file == nullptr || (image_name != nullptr && image == nullptr)) {
    std::fprintf(stderr, "mkcapture: cannot create output\n");
    return 1;
  }
  bool ok =
      !wrap ||
      write_capped(capture, romweave::wrapper_header(blocks * frame_size));
  // Written a slice at a time, so that a capture of any size needs little
  // memory.
  const unsigned long long SLICE = 4096;
  for (unsigned long long done = 0; ok && done < blocks && capture.room > 0;
       done += SLICE) {
    const size_t count =
        static_cast<size_t>(blocks - done < SLICE ? blocks - done : SLICE);
    const std::string data =
        pattern.empty() ? romweave::sample_image(count * per_frame,
                                                 first + done * per_frame)
                        : repeated(repeated(pattern, kind.data_size),
                                   count * kind.data_size);
    std::string slice;
    slice.reserve(count * frame_size);
    for (size_t b = 0; b < count; ++b) {
      romweave::append_frame(slice, static_cast<uint8_t>(done + b + 1),
                             data.substr(b * kind.data_size, kind.data_size),
                             kind.crc);
      if (bad_check) slice.back() = static_cast<char>(slice.back() + 1);
    }
    const unsigned long long left = whole > done ? whole - done : 0;
    const size_t taken = static_cast<size_t>(left < count ? left : count);
    ok = write_capped(capture, slice) &&
         (image == nullptr ||
          write_all(image, data.substr(0, taken * kind.data_size)));
  }
  if (!fill.empty()) {
    // Whole patterns in each write, so that the pattern runs on unbroken.
    const std::string run =
        repeated(fill, (SLICE * frame_size / fill.size() + 1) * fill.size());
    while (ok && capture.room > 0) ok = write_capped(capture, run);
  }
  ok = std::fclose(capture.file) == 0 && ok;
  if (image != nullptr) ok = std::fclose(image) == 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "mkcapture: write failed\n");
    return 1;
  }
  return 0;
}
