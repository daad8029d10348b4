#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/capture.h"
#include "tests/decode_fixture.h"
#include "tools/capture_builder.h"

namespace romweave {
namespace {

// Frame `n` carrying `data`: 128 bytes behind SOH or 1024 behind STX, with
// the checksum or a CRC-16.
std::string frame(unsigned n, const std::string& data, bool crc = false) {
  std::string out;
  append_frame(out, static_cast<uint8_t>(n), data, crc);
  return out;
}

std::string sample_block(unsigned n) {
  return frame(n, sample_image(1, n - 1));
}

std::string damaged(std::string bytes, size_t at) {
  bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
  return bytes;
}

std::string note(const std::string& text) {
  return "Note: CAP.BIN, read as an XMODEM receiver: " + text + ".\n";
}

// Data whose CRC-16 is their sum, as its high byte, and `low`: a frame of
// them passes both checks where `low` follows its checksum.
std::string data_passing_both(unsigned char low) {
  for (uint64_t first = 0;; ++first) {
    std::string data = sample_image(1, first);
    for (unsigned last = 0; last < 0x10000; ++last) {
      data[126] = static_cast<char>(last >> 8);
      data[127] = static_cast<char>(last & 0xFF);
      unsigned sum = 0;
      for (const char byte : data) sum += static_cast<unsigned char>(byte);
      if (bitwise_crc16(data) == ((sum & 0xFF) << 8 | low)) return data;
    }
  }
}

// The receiver's reading: for each capture, made of parts, the parts whose
// data are taken, the addresses of the progress lines, the fault message
// and what goes to standard error.
TEST(ReceiverTest, ReadsWhatTheReceiverOnTheLineRead) {
  const std::string eot = "\x04", can = "\x18";
  const std::string k1 = frame(1, sample_image(8, 0));
  const std::string kc1 = frame(1, sample_image(8, 0), true);
  const std::string c1 = frame(1, sample_image(1, 0), true);
  const std::string c2 = frame(2, sample_image(1, 1), true);
  // Data holding a frame start with the number expected, where the search
  // must slide its sums along to the real frame.
  std::string looks_like = sample_block(2);
  looks_like.replace(40, 3, "\x01\x02\xFD");
  std::string crc_looks_like = c1;
  crc_looks_like.replace(40, 3, "\x01\x01\xFE");
  std::string one_k_looks_like = kc1;
  one_k_looks_like.replace(30, 3, "\x02\x01\xFE");
  std::string sum_looks_like = sample_block(1);
  sum_looks_like.replace(40, 3, "\x01\x01\xFE");
  const std::string kc2 = frame(2, sample_image(8, 8), true);
  // A 1K frame whose data noise changed so that they sum to its CRC's high
  // byte: under the checksum it is sound, as one such frame in 256 is.
  const std::string k_data = sample_image(8, 16);
  std::string k_sum_by_chance = frame(1, k_data, true);
  const unsigned k_sum = static_cast<unsigned char>(frame(1, k_data)[1027]);
  const unsigned k_crc_high = static_cast<unsigned char>(k_sum_by_chance[1027]);
  k_sum_by_chance[100] =
      static_cast<char>(k_sum_by_chance[100] + k_crc_high - k_sum);
  std::string eot_in_data = sample_block(2);
  eot_in_data[3 + 10] = EOT;
  eot_in_data[0] = static_cast<char>(0x81);
  std::string bad_complement = sample_block(2);
  bad_complement[2] = 2;
  std::string damaged_1k;
  for (int i = 0; i < 5; ++i) damaged_1k += damaged(kc2, 100 + i);
  std::string bad_crc = kc2;
  bad_crc.back() = static_cast<char>(bad_crc.back() ^ 1);
  std::string changed = sample_image(1, 1);
  changed[5] = 'x';
  const unsigned sum2 = static_cast<unsigned char>(sample_block(2)[131]);
  const unsigned crc2 = static_cast<unsigned char>(kc2[1027]) << 8 |
                        static_cast<unsigned char>(kc2[1028]);
  std::vector<std::string> resent = {sample_block(1)};
  std::vector<size_t> resent_taken = {0};
  std::vector<uint64_t> resent_lines = {0};
  std::string resent_offsets;
  for (unsigned n = 2; n <= 11; ++n) {
    if (n <= 9) {
      resent_offsets += (n > 2 ? n < 9 ? ", " : " and " : "") +
                        std::to_string(132 + (n - 2) * 264);
    }
    resent.push_back(damaged(sample_block(n), 70));
    resent.push_back(sample_block(n));
    resent_taken.push_back(resent.size() - 1);
    resent_lines.insert(resent_lines.end(), 2, (n - 1) * 128);
  }
  resent_offsets.replace(resent_offsets.rfind(" and "), 5, ", ");
  resent.push_back(eot);
  resent_lines.push_back(11 * 128);
  // clang-format off
  const struct {
    const char* what;
    std::vector<std::string> parts;
    std::vector<size_t> taken;
    std::vector<uint64_t> lines;
    std::string message;
    std::string left;  // the data read of a failed frame
    std::string errors;
  } cases[] = {
      {"EOTs, padding, the cancel string and backspaces after the last block",
       {sample_block(1), sample_block(2),
        std::string(10, 4) + "\x1A\x1A" + std::string(10, 0x18) + std::string(10, 8)},
       {0, 1}, {0, 0x80, 0x100}, "", "", ""},
      {"CRC-16 frames", {c1, c2, eot + eot}, {0, 1}, {0, 0x80, 0x100}, "", "",
       note("frames with a CRC-16")},
      {"1K frames with the checksum, the last one of 128 bytes",
       {k1, frame(2, sample_image(8, 8)), frame(3, sample_image(1, 16)), eot},
       {0, 1, 2}, {0, 0x400, 0x800, 0x880}, "", "", note("1K frames")},
      {"a first block that passes both checks, the checksum's by block 2",
       {frame(1, data_passing_both(SOH)), sample_block(2), eot}, {0, 1},
       {0, 0x80, 0x100}, "", "", ""},
      {"a first CRC frame that passes both checks, the CRC's by frame 2",
       {frame(1, data_passing_both(0x55), true), c2, eot}, {0, 1},
       {0, 0x80, 0x100}, "", "", note("frames with a CRC-16")},
      // Read with the checksum, its CRC's low byte is an EOT: a weaker sign.
      {"a first CRC frame that passes both checks, an EOT behind its sum",
       {frame(1, data_passing_both(EOT), true), c2, eot}, {0, 1},
       {0, 0x80, 0x100}, "", "", note("frames with a CRC-16")},
      // Read with the checksum, its CRC's low byte starts a block 2 that is
      // not sound.
      {"a first CRC frame that passes both checks, a 1K frame 2 behind it",
       {frame(1, data_passing_both(SOH), true), frame(2, sample_image(8, 1), true), eot},
       {0, 1}, {0, 0x80, 0x480}, "", "", note("1K frames with a CRC-16")},
      {"a first CRC frame that passes both checks, a frame start behind its sum",
       {frame(1, data_passing_both(SOH), true), eot}, {0}, {0, 0x80}, "", "",
       note("frames with a CRC-16")},
      // Its CRC's low byte is the EOT: either check ends there, and the
      // checksum is the one taken.
      {"a first block that passes both checks, the EOT behind either",
       {frame(1, data_passing_both(EOT)), eot}, {0}, {0, 0x80}, "", "", ""},
      {"a damaged frame and the sender's second copy",
       {sample_block(1), damaged(sample_block(2), 50), sample_block(2), sample_block(3), eot}, {0, 2, 3},
       {0, 0x80, 0x80, 0x100, 0x180}, "", "",
       note("a damaged stretch skipped at offset 132")},
      {"a damaged frame whose data hold a frame start",
       {sample_block(1), looks_like, sample_block(2), eot}, {0, 2}, {0, 0x80, 0x80, 0x100},
       "", "", note("a damaged stretch skipped at offset 132")},
      {"a damaged first CRC frame whose data hold a frame start",
       {crc_looks_like, c1, c2, eot}, {1, 2}, {0, 0, 0x80, 0x100}, "", "",
       note("frames with a CRC-16; a damaged stretch skipped at offset 0")},
      {"a damaged first block whose data hold a frame start",
       {sum_looks_like, sample_block(1), sample_block(2), eot}, {1, 2},
       {0, 0, 0x80, 0x100}, "", "", note("a damaged stretch skipped at offset 0")},
      {"more than 4 KiB of damage before the sender's copy",
       {sample_block(1), std::string(5000, 0x55), sample_block(2), eot}, {0, 2},
       {0, 0x80, 0x80, 0x100}, "", "", note("a damaged stretch skipped at offset 132")},
      {"five damaged 1K frames before the sound one",
       {kc1, damaged_1k, kc2, eot}, {0, 2}, {0, 0x400, 0x400, 0x800}, "", "",
       note("1K frames with a CRC-16; a damaged stretch skipped at offset 1029")},
      {"a damaged CRC frame, then its copy at the very end",
       {c1, damaged(c2, 50), c2}, {0, 2}, {0, 0x80, 0x80, 0x100}, "", "",
       note("frames with a CRC-16; a damaged stretch skipped at offset 133; no "
            "EOT at its end, so the transfer may not have finished")},
      {"a damaged first 1K frame whose data hold a frame start",
       {one_k_looks_like, kc1, eot}, {1}, {0, 0, 0x400}, "", "",
       note("1K frames with a CRC-16; a damaged stretch skipped at offset "
            "0")},
      {"a copy, damaged, then the copy again",
       {sample_block(1), sample_block(2), damaged(sample_block(2), 9), sample_block(2), sample_block(3), eot},
       {0, 1, 4}, {0, 0x80, 0x100, 0x100, 0x180}, "", "",
       note("a damaged stretch skipped at offset 264")},
      {"ten damaged frames, each sent again", resent, resent_taken,
       resent_lines, "", "",
       note("10 damaged stretches skipped at offsets " + resent_offsets +
            " and 2 more")},
      {"garbage between blocks, and the block after it twice",
       {sample_block(1), "\x55\xAA\x13", sample_block(2), sample_block(2), sample_block(3), eot},
       {0, 2, 4}, {0, 0x80, 0x80, 0x100, 0x100, 0x180}, "", "",
       note("a damaged stretch skipped at offset 132; a repeated frame "
            "skipped at offset 267")},
      {"a lone CAN", {sample_block(1), can, sample_block(2), eot}, {0, 2},
       {0, 0x80, 0x80, 0x100}, "", "",
       note("a damaged stretch skipped at offset 132")},
      {"a noise EOT", {sample_block(1), eot, sample_block(2), eot}, {0, 2},
       {0, 0x80, 0x80, 0x100}, "", "", note("a noise EOT skipped at offset 132")},
      {"two noise EOTs",
       {sample_block(1), eot, sample_block(2), eot, sample_block(3), eot}, {0, 2, 4},
       {0, 0x80, 0x80, 0x100, 0x100, 0x180}, "", "",
       note("2 noise EOTs skipped at offsets 132 and 265")},
      // Noise where the EOT should be: the sender sends its EOT again.
      {"noise, then the EOT, behind the last block",
       {sample_block(1), sample_block(2), "\x2E\x0C", eot}, {0, 1},
       {0, 0x80, 0x100, 0x100}, "", "",
       note("noise skipped before the EOT at offset 266")},
      {"noise, then the EOT twice", {sample_block(1), "\x53", eot, eot}, {0},
       {0, 0x80, 0x80}, "", "", note("noise skipped before the EOT at offset 133")},
      {"noise before the only EOT of an empty transfer", {"\x55\x66", eot}, {},
       {0, 0}, "", "", note("noise skipped before the EOT at offset 2")},
      {"noise before the EOT of a CRC transfer", {c1, c2, "\x43", eot}, {0, 1},
       {0, 0x80, 0x100, 0x100}, "", "",
       note("frames with a CRC-16; noise skipped before the EOT at offset 267")},
      {"63 bytes of noise, then the EOT and the ends of a transfer",
       {sample_block(1), std::string(63, 0x55), eot, "\x1A\x04\x18\x18\x08"}, {0},
       {0, 0x80, 0x80}, "", "", note("noise skipped before the EOT at offset 195")},
      {"noise holding a start byte and the next number, then the EOT",
       {sample_block(1), "\x55\x01\x02\x77", eot}, {0}, {0, 0x80, 0x80}, "", "",
       note("noise skipped before the EOT at offset 136")},
      {"noise holding a start byte and the next complement, then the EOT",
       {sample_block(1), "\x55\x02\x77\xFD", eot}, {0}, {0, 0x80, 0x80}, "", "",
       note("noise skipped before the EOT at offset 136")},
      {"noise whose 0x04 has the sender's next frame behind it",
       {sample_block(1), "\x55\x04\x66", sample_block(2), eot}, {0, 2},
       {0, 0x80, 0x80, 0x100}, "", "", note("a damaged stretch skipped at offset 132")},
      {"a copy at the very end", {sample_block(1), sample_block(2), sample_block(2)}, {0, 1},
       {0, 0x80, 0x100, 0x100}, "", "",
       note("a repeated frame skipped at offset 264; no EOT at its end, so "
            "the transfer may not have finished")},
      {"an EOT with a copy of the last frame behind it",
       {sample_block(1), eot, sample_block(1)}, {0}, {0, 0x80}, "", "",
       note("the EOT at offset 132 ended it, with other bytes behind it")},
      // Faults: the plain reading's message, and its partial data.
      // Refusals a reader could avoid only by rules wider than these, as
      // the soak met them.  Copies of the last frame that the sender sent
      // again behind noise count as noise, 64 bytes or more.
      {"noise, then two copies of the last frame and the EOT",
       {sample_block(1), sample_block(2), "\x55\x66\x77", sample_block(2),
        sample_block(2), eot}, {0, 1}, {0, 0x80, 0x100}, "No SOH", "", ""},
      // One check holds for a whole transfer.
      {"a 1K frame with the checksum, then the same with a CRC-16",
       {frame(1, k_data), frame(1, k_data, true), eot}, {0}, {0, 0x400},
       "Got 1 instead of 2 Block No", "", note("1K frames")},
      {"a damaged first 1K CRC frame that passes the checksum, then its copy",
       {k_sum_by_chance, frame(1, k_data, true), eot}, {0}, {0, 0x400},
       "No SOH", "", note("1K frames")},
      {"64 bytes of noise, then the EOT",
       {sample_block(1), std::string(64, 0x55), eot}, {0}, {0, 0x80}, "No SOH", "",
       ""},
      {"noise holding CAN CAN, then the EOT",
       {sample_block(1), "\x55\x18\x18\x55", eot}, {0}, {0, 0x80}, "No SOH", "",
       ""},
      {"noise holding the next frame's header, then the EOT",
       {sample_block(1), "\x55\x02\x02\xFD", eot}, {0}, {0, 0x80}, "No SOH", "",
       ""},
      {"noise, then the EOT and other bytes", {sample_block(1), "\x55", eot, "\x77"},
       {0}, {0, 0x80}, "No SOH", "", ""},
      // Its 0x04 is no EOT: the frame's bytes run on behind it.
      {"a damaged last block whose data hold a 0x04, never sent again",
       {sample_block(1), eot_in_data, eot, eot}, {0}, {0, 0x80}, "No SOH", "", ""},
      {"a damaged last block whose data hold a 0x04, the capture cut behind it",
       {sample_block(1), eot_in_data}, {0}, {0, 0x80}, "No SOH", "", ""},
      {"noise, an EOT, then another transfer's block 1",
       {sample_block(1), "\x55", eot, frame(1, sample_image(1, 9))}, {0},
       {0, 0x80}, "No SOH", "", ""},
      {"a complement damaged, the block never sent again",
       {sample_block(1), bad_complement}, {0}, {0, 0x80},
       "Got 2 instead of 253 Inv. Block No", "", ""},
      {"a string of two blocks with a third behind it",
       {wrapper_header(264), sample_block(1), sample_block(2), sample_block(3)},
       {1, 2}, {0, 0x80, 0x100}, "", "",
       note("no EOT at its end, so the transfer may not have finished")},
      {"a damaged frame, then a frame of another number",
       {sample_block(1), sample_block(2).substr(0, 131) + char(sum2 + 1), sample_block(4)}, {0},
       {0, 0x80},
       "Got " + std::to_string((sum2 + 1) & 0xFF) + " instead of " +
           std::to_string(sum2) + " as checksum",
       sample_image(1, 1), ""},
      {"a repeated frame whose data differ",
       {sample_block(1), sample_block(2), frame(2, changed)}, {0, 1}, {0, 0x80, 0x100},
       "Got 2 instead of 3 Block No", "", ""},
      {"an EOT, then another transfer's block 1",
       {sample_block(1), eot, frame(1, sample_image(1, 9))}, {0}, {0, 0x80}, "No SOH",
       "", ""},
      {"CAN CAN", {sample_block(1), can + can}, {0}, {0, 0x80}, "No SOH", "",
       cancel_hint(132)},
      {"CAN CAN at the very start", {can + can}, {}, {0}, "No SOH", "",
       cancel_hint(0)},
      {"a 1K frame whose CRC differs", {kc1, bad_crc}, {0}, {0, 0x400},
       "Got " + std::to_string(crc2 ^ 1) + " instead of " +
           std::to_string(crc2) + " as checksum",
       sample_image(8, 8), note("1K frames with a CRC-16")},
      {"a 1K frame cut short", {k1.substr(0, 3 + 700)}, {}, {0},
       "EOF at Databyte 700", sample_image(8).substr(0, 700), ""},
      {"a string that ends inside a 1K frame",
       {wrapper_header(600), k1}, {}, {0}, "EOF at Databyte 597",
       sample_image(8).substr(0, 597), ""},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string capture, image;
    for (const std::string& part : c.parts) capture += part;
    for (const size_t i : c.taken) {
      image += c.parts[i].substr(3, c.parts[i][0] == SOH ? 128 : 1024);
    }
    std::string output;
    for (const uint64_t address : c.lines) {
      output += progress_lines(address, address);
    }
    if (!c.message.empty()) output += "CAP.BIN: " + c.message + "\n";
    image += c.left;
    const Decoded decoded = decode(capture, DecodeOptions().as_receiver());
    EXPECT_EQ(decoded.verdict,
              c.message.empty() ? VERDICT_CLEAN : VERDICT_FAULTY);
    EXPECT_EQ(decoded.output, output);
    EXPECT_EQ(decoded.hint, c.errors);
    EXPECT_TRUE(decoded.destination == image)
        << decoded.destination.size() << " bytes written, " << image.size()
        << " expected";
  }
}

// Bytes a search read ahead of may end in a read error exactly where a
// frame, or the bytes that settle the check, end: those are at hand, and
// the frame is taken.
TEST(ReceiverTest, ReadErrorsJustBehindWhatAStepNeeds) {
  std::string crc = frame(1, sample_image(1, 0), true);
  crc += damaged(frame(2, sample_image(1, 1), true), 50);
  crc += frame(2, sample_image(1, 1), true);
  std::string both = "\x55" + frame(1, data_passing_both(SOH));
  both += make_capture(11).substr(132) + "\x04";
  const struct {
    const char* what;
    std::string capture;
    int64_t fail_at;
    size_t bytes;  // the data taken before the error
  } cases[] = {
      {"a CRC frame found by a search", crc, 3 * 133, 2 * 128},
      {"the bytes that settle the check, behind a search", both, 1 + 1162,
       8 * 128},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Decoded decoded =
        decode(c.capture, DecodeOptions().failing_at(c.fail_at).as_receiver());
    EXPECT_EQ(decoded.verdict, VERDICT_UNREADABLE);
    EXPECT_EQ(decoded.destination.size(), c.bytes);
  }
}

// A header of the frame expected next whose complement is the EOT: the
// EOT ends nothing, and the noise is no noise.
TEST(ReceiverTest, NoiseBeforeAnEotThatCompletesAHeader) {
  const Decoded decoded = decode(make_capture(250) + "\x55\x01\xFB\x04",
                                 DecodeOptions().as_receiver());
  EXPECT_EQ(decoded.verdict, VERDICT_FAULTY);
  EXPECT_EQ(decoded.output, progress_lines(0, 250 * 128) + "CAP.BIN: No SOH\n");
  EXPECT_EQ(decode(make_capture(250) + "\x55\x01\xFA\x04",
                   DecodeOptions().as_receiver())
                .verdict,
            VERDICT_CLEAN);
}

// A read error ends the receiver's reading as unreadable, without a note,
// wherever a step needs the byte: inside a frame, behind a first frame that
// might end in a CRC, or among the bytes that settle the check.
TEST(ReceiverTest, ReadErrorsEndTheSourceWithoutANote) {
  const std::string both =
      frame(1, data_passing_both(SOH)) + make_capture(11).substr(132) + "\x04";
  const std::string three = make_capture(3) + "\x04";
  const struct {
    const char* what;
    std::string capture;
    int64_t fail_at;
    size_t blocks;  // taken before the error
  } cases[] = {
      {"behind a first block that might end in a CRC", three, 132, 0},
      {"inside the data of block 2", three, 175, 1},
      {"at the end, the EOT's search needing it", three, 397, 3},
      {"among the bytes that settle the check", both, 140, 0},
      {"at the end, behind a first block that passes both checks", both,
       static_cast<int64_t>(both.size()), 11},
      // Exactly the bytes wanted are at hand: enough.
      {"just behind a first block that might end in a CRC", three, 133, 1},
      {"just behind the bytes that settle the check", both, 1162, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DecodeOptions options;
    options.fail_at = c.fail_at;
    options.receiver = true;
    const Decoded decoded = decode(c.capture, options);
    EXPECT_EQ(decoded.verdict, VERDICT_UNREADABLE);
    EXPECT_EQ(decoded.output, progress_lines(0, c.blocks * 128));
    EXPECT_EQ(decoded.hint, "");
    EXPECT_EQ(decoded.destination.size(), c.blocks * 128);
  }
}

}  // namespace
}  // namespace romweave
