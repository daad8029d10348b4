// mkcapture: writes a sound sample capture, and optionally the image that
// it carries, for demonstrations, benchmarks and fuzzing seeds.
//
//   mkcapture [--wrap] [--crc] [--1k] [--first K] [--image IMAGE] BLOCKS
//   CAPTURE mkcapture --help

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/capture_builder.h"
#include "xmodem/frame.h"

namespace {

using romweave::BLOCK_DATA_SIZE;

const char USAGE[] =
    "usage: mkcapture [--wrap] [--crc] [--1k] [--first K] [--image IMAGE] "
    "BLOCKS CAPTURE\n";

// The capture holds BLOCKS blocks numbered from 1 that carry the sample
// image from block index K on, so that captures made with K = 0, then
// K = the first one's BLOCKS, and so on, join into one sample image.
const char HELP[] =
    "Writes a sound XMODEM capture of BLOCKS blocks, numbered from 1, that\n"
    "carries a fixed sample image: something to try romweave on, or to\n"
    "test it with.  Blocks of 128 data bytes take 132 bytes, 133 with a\n"
    "CRC-16.\n"
    "\n"
    "  --wrap         keep the capture in an HP 48 string (3971 blocks max.)\n"
    "  --crc          end each block in a CRC-16 instead of the checksum\n"
    "  --1k           send 1024-byte blocks (STX); BLOCKS then counts them,\n"
    "                 and K counts 128-byte blocks still\n"
    "  --first K      carry the sample image from block K on (default 0), so\n"
    "                 that captures made with K = 0, then K = the first one's\n"
    "                 BLOCKS, and so on, join into one image\n"
    "  --image IMAGE  also write the image the capture carries\n"
    "  --help         show this help\n";

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

bool write_all(FILE* file, const std::string& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
  bool wrap = false;
  romweave::FrameKind kind;
  unsigned long long first = 0;
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
    } else if (std::strcmp(argv[i], "--first") == 0 && i + 1 < argc) {
      if (!parse_count(argv[++i], &first)) return usage();
    } else if (std::strcmp(argv[i], "--image") == 0 && i + 1 < argc) {
      image_name = argv[++i];
    } else {
      return usage();
    }
  }
  unsigned long long blocks = 0;
  if (argc - i != 2 || !parse_count(argv[i], &blocks)) return usage();
  const char* capture_name = argv[i + 1];
  const unsigned long long per_frame = kind.data_size / BLOCK_DATA_SIZE;
  const unsigned long long frame_size = kind.data_size + (kind.crc ? 5 : 4);
  if (wrap && blocks * frame_size > romweave::MAX_STRING_CHARACTERS) {
    std::fprintf(stderr, "mkcapture: %llu blocks do not fit in a string\n",
                 blocks);
    return 2;
  }

  FILE* capture = std::fopen(capture_name, "wb");
  FILE* image = image_name ? std::fopen(image_name, "wb") : nullptr;
  if (capture == nullptr || (image_name != nullptr && image == nullptr)) {
    std::fprintf(stderr, "mkcapture: cannot create output\n");
    return 1;
  }
  bool ok = !wrap ||
            write_all(capture, romweave::wrapper_header(blocks * frame_size));
  // Written a slice at a time, so that a capture of any size needs little
  // memory.
  const unsigned long long SLICE = 4096;
  for (unsigned long long done = 0; ok && done < blocks; done += SLICE) {
    const size_t count =
        static_cast<size_t>(blocks - done < SLICE ? blocks - done : SLICE);
    const std::string data =
        romweave::sample_image(count * per_frame, first + done * per_frame);
    std::string slice;
    slice.reserve(count * frame_size);
    for (size_t b = 0; b < count; ++b) {
      romweave::append_frame(slice, static_cast<uint8_t>(done + b + 1),
                             data.substr(b * kind.data_size, kind.data_size),
                             kind.crc);
    }
    ok = write_all(capture, slice) &&
         (image == nullptr || write_all(image, data));
  }
  ok = std::fclose(capture) == 0 && ok;
  if (image != nullptr) ok = std::fclose(image) == 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "mkcapture: write failed\n");
    return 1;
  }
  return 0;
}
