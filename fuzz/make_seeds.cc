// make_seeds: writes the fuzzer's seed corpus, or checks that a folder
// holds exactly that corpus.
//
//   make_seeds FOLDER           writes the seeds into FOLDER
//   make_seeds --check FOLDER   fails unless FOLDER holds exactly the seeds
//
// Each seed starts with the control byte of decode_fuzzer.cc (and the
// offsets it asks for), followed by sources built by the capture builder:
// sound captures, raw and wrapped, then ones cut short or broken in one
// place.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "fuzz/fuzz_input.h"
#include "tools/capture_builder.h"

namespace {

namespace fs = std::filesystem;
using romweave::make_capture;
using romweave::wrap_capture;

std::string little_endian_16(unsigned value) {
  return {static_cast<char>(value & 0xFF),
          static_cast<char>(value >> 8 & 0xFF)};
}

// The first byte of a seed, with the bits of fuzz_input.h.
std::string control(unsigned char bits) {
  return std::string(1, static_cast<char>(bits));
}

std::string one(const std::string& source) { return control(0) + source; }

std::map<std::string, std::string> seeds() {
  std::map<std::string, std::string> s;
  const std::string three = make_capture(3);

  s["raw-3-blocks"] = one(three);
  s["wrapped-2-blocks-padded"] =
      one(wrap_capture(make_capture(2)) + "\x1A\x1A");
  s["cut-after-start"] = one(three.substr(0, 132 + 1));
  s["cut-after-number"] = one(three.substr(0, 132 + 2));
  s["cut-in-data"] = one(three.substr(0, 132 + 3 + 60));
  s["cut-before-checksum"] = one(three.substr(0, 2 * 132 - 1));
  s["wrapped-cut-in-header"] = one(wrap_capture(three).substr(0, 9));

  std::string checksum = make_capture(2);
  checksum.back() = static_cast<char>(checksum.back() + 1);
  s["bad-checksum"] = one(checksum);
  std::string complement = make_capture(1);
  complement[2] = 0x00;
  s["bad-complement"] = one(complement);
  std::string repeated = make_capture(2);
  repeated.replace(132, 132, repeated, 0, 132);
  s["repeated-block"] = one(repeated);
  s["eot-after-last-block"] = one(make_capture(1) + "\x04");
  s["1k-block-start"] =
      one(std::string("\x02\x01\xFE", 3) + std::string(16, 'x'));

  // A length field one nibble short: the half byte counts as a whole one.
  std::string odd = wrap_capture(make_capture(1));
  odd[10] = static_cast<char>(odd[10] - 0x10);
  s["wrapped-odd-nibbles"] = one(odd);
  std::string other = wrap_capture(make_capture(1));
  other[8] = 0x2D;  // a prolog that is no string
  s["wrapped-other-object"] = one(other);

  const std::string first = make_capture(1);
  s["two-sources"] = control(romweave::TWO_SOURCES) +
                     little_endian_16(first.size()) + first +
                     wrap_capture(make_capture(1, 1));
  s["read-error-in-data"] =
      control(romweave::READ_ERROR) + little_endian_16(200) + make_capture(2);
  s["read-error-in-header"] = control(romweave::READ_ERROR) +
                              little_endian_16(5) +
                              wrap_capture(make_capture(1));

  // The two blocks behind the lead carry its numbers on.
  std::string behind_lead = control(romweave::AFTER_LEAD);
  const std::string image = romweave::sample_image(2, romweave::LEAD_BLOCKS);
  for (size_t i = 0; i < 2; ++i) {
    romweave::append_block(
        behind_lead, static_cast<uint8_t>(romweave::LEAD_BLOCKS + 1 + i),
        reinterpret_cast<const unsigned char*>(image.data()) + i * 128);
  }
  s["behind-read-ahead"] = behind_lead;
  // Read 7 bytes at a time, as a slow pipe hands them over.
  s["pieces-of-7"] = control(romweave::IN_PIECES) + std::string(1, 6) +
                     wrap_capture(make_capture(2)) + "\x04";

  // Read as a receiver: CRC-16 and 1K frames, a damaged frame and its
  // retransmission, a copy, a noise EOT, the closing EOTs and a cancel.
  using romweave::make_frames;
  const std::string receiver = control(romweave::RECEIVER);
  s["receiver-crc"] = receiver + make_frames(3, {128, true}) + "\x04\x04";
  std::string one_k = make_frames(2, {1024, true});
  romweave::append_frame(one_k, 3, romweave::sample_image(1, 16), true);
  s["receiver-1k-then-block"] = receiver + one_k + "\x04\x18\x18\x08";
  std::string damaged = make_capture(2).substr(132, 132);
  damaged[40] = static_cast<char>(damaged[40] ^ 0x20);
  s["receiver-resent"] = receiver + make_capture(1) + damaged +
                         make_capture(2).substr(132) + "\x04";
  s["receiver-copy-and-noise-eot"] = receiver + make_capture(1) +
                                     make_capture(1) + "\x04" +
                                     make_capture(2).substr(132) + "\x04";
  s["receiver-cancel"] = receiver + make_capture(1) + "\x18\x18";
  s["receiver-string-ends-in-1k"] =
      receiver + romweave::wrapper_header(600) + make_frames(1, {1024, false});
  // The plain reading takes the last block whole; the receiver stops at the
  // string's end.
  s["receiver-string-ends-in-last-block"] =
      receiver + romweave::wrapper_header(2 * 132 - 7) + make_capture(2) +
      "\x04";
  s["receiver-pieces-of-5"] =
      control(romweave::RECEIVER | romweave::IN_PIECES) + std::string(1, 4) +
      make_capture(1) + damaged + make_capture(2).substr(132) + "\x04";

  // Noise before the end: line noise in front of the EOT, or behind it; an
  // EOT turned into another byte, then the sender's second one; and the
  // three kinds of noise that may hide a frame and so fail the source: too
  // long to be noise, a cancel in it, the start of the next frame in it.
  const std::string two = make_capture(2);
  s["receiver-noise-before-eot"] = receiver + two + "\x55\xAA\x13\x04";
  s["receiver-noise-after-eot"] = receiver + two + "\x04\x55\xAA\x13";
  s["receiver-damaged-eot"] = receiver + two + "\x84\x04";
  s["receiver-noise-of-64-bytes"] =
      receiver + two + std::string(64, '\x55') + "\x04";
  s["receiver-noise-with-cancel"] = receiver + two + "\x55\x18\x18\x04";
  s["receiver-noise-with-next-start"] =
      receiver + two + std::string("\x55\x01\x03\xFC\x55\x04", 6);
  // A last frame, its complement damaged, holding a 0x04 near its start,
  // never sent again: its bytes run on past that 0x04, no EOT of the end.
  std::string holding_eot = make_capture(3).substr(264);
  holding_eot[2] = static_cast<char>(holding_eot[2] ^ 0x80);
  holding_eot[20] = 0x04;
  s["receiver-damaged-frame-holding-0x04"] =
      receiver + two + holding_eot + "\x04";

  // More than 4 KiB of damage, past the frame search's first span, before
  // the frame is resent whole, or before the end.
  std::string far = make_capture(1);
  for (int i = 0; i < 40; ++i) far += damaged;
  s["receiver-5k-damage-then-end"] = receiver + far + "\x04";
  s["receiver-resent-after-5k-damage"] =
      receiver + far + make_capture(3).substr(132) + "\x04";
  std::string one_k_far = make_frames(1, {1024, true});
  std::string one_k_damaged = make_frames(2, {1024, true}).substr(1029);
  const std::string one_k_resent = one_k_damaged;
  one_k_damaged[700] = static_cast<char>(one_k_damaged[700] ^ 0x01);
  for (int i = 0; i < 5; ++i) one_k_far += one_k_damaged;
  s["receiver-1k-resent-after-5k-damage"] =
      receiver + one_k_far + one_k_resent + "\x04";
  return s;
}

std::string slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)),
                     std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  const bool check = argc == 3 && std::strcmp(argv[1], "--check") == 0;
  if (argc != 2 && !check) {
    std::fprintf(stderr, "usage: make_seeds [--check] FOLDER\n");
    return 2;
  }
  const fs::path folder = argv[argc - 1];
  const auto wanted = seeds();

  if (!check) {
    fs::create_directories(folder);
    for (const auto& [name, bytes] : wanted) {
      std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      if (!out) {
        std::fprintf(stderr, "make_seeds: cannot write %s\n", name.c_str());
        return 1;
      }
    }
    return 0;
  }

  int differences = 0;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (wanted.count(entry.path().filename().string()) == 0) {
      std::fprintf(stderr, "make_seeds: %s is no seed\n",
                   entry.path().string().c_str());
      ++differences;
    }
  }
  for (const auto& [name, bytes] : wanted) {
    if (slurp(folder / name) != bytes) {
      std::fprintf(stderr, "make_seeds: %s is missing or out of date\n",
                   (folder / name).string().c_str());
      ++differences;
    }
  }
  if (error) {
    std::fprintf(stderr, "make_seeds: cannot list %s\n",
                 folder.string().c_str());
    return 1;
  }
  return differences == 0 ? 0 : 1;
}
