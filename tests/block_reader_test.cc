#include <gtest/gtest.h>

#include "capture/capture.h"
#include "capture/crc16.h"
#include "tests/decode_fixture.h"
#include "tools/capture_builder.h"

namespace romweave {
namespace {

TEST(ReadBlockTest, TakesEveryGoodBlockAndEndsWithTheSource) {
  const Decoded decoded = decode(make_capture(3));
  EXPECT_EQ(decoded.verdict, SOURCE_CLEAN);
  EXPECT_EQ(decoded.output, progress_lines(0, 0x180));
  EXPECT_EQ(decoded.destination, sample_image(3));
  EXPECT_EQ(decoded.address, 0x180u);
  EXPECT_EQ(decoded.expected_block, 4u);
}

TEST(ReadBlockTest, EmptySourceEndsAtOnce) {
  const Decoded decoded = decode("");
  EXPECT_EQ(decoded.verdict, SOURCE_CLEAN);
  EXPECT_EQ(decoded.output, "Checking Address 00000...\n");
  EXPECT_EQ(decoded.destination, "");
}

TEST(ReadBlockTest, BlockNumbersWrapPast255) {
  const Decoded decoded = decode(make_capture(300));
  EXPECT_EQ(decoded.verdict, SOURCE_CLEAN);
  EXPECT_EQ(decoded.destination, sample_image(300));
  EXPECT_EQ(decoded.expected_block, 301u % 256);

  // The 256th block must carry 0, not 256's neighbour.
  std::string capture = make_capture(257);
  capture[255 * 132 + 1] = 1;
  capture[255 * 132 + 2] = static_cast<char>(254);
  const Decoded wrong = decode(capture);
  EXPECT_EQ(wrong.verdict, SOURCE_FAULTY);
  EXPECT_EQ(wrong.output, progress_lines(0, 255 * 128) +
                              "CAP.BIN: Got 1 instead of 0 Block No\n");
}

std::string note(const std::string& text);

// Each fault in the second of three blocks: how the block is broken, the
// message, how many of its data bytes reach the destination, and the hint
// on standard error, where the bytes show what went wrong, with the offset
// of that block in the file.
struct Fault {
  const char* what;
  void (*damage)(std::string& capture);  // on a three-block capture
  const char* message;
  size_t partial;
  std::string hint;
};

const size_t SECOND = 132;  // offset of the second block

std::vector<Fault> faults(uint64_t offset) {
  return {
      {"end of transmission, then EOT and padding",
       [](std::string& c) {
         c.replace(SECOND, c.npos, "\x04\x04\x1A\x04\x1A");
       },
       "CAP.BIN: No SOH\n", 0, eot_hint(offset)},
      {"end of transmission, other bytes behind",
       [](std::string& c) { c[SECOND] = 0x04; }, "CAP.BIN: No SOH\n", 0, ""},
      {"1K block start", [](std::string& c) { c[SECOND] = 0x02; },
       "CAP.BIN: No SOH\n", 0, ONE_K_HINT},
      {"cancelled",
       [](std::string& c) { c.replace(SECOND, c.npos, "\x18\x18"); },
       "CAP.BIN: No SOH\n", 0, cancel_hint(offset)},
      // Where a receiver would read on to a clean end, the hint says so.
      {"a lone CAN, then the block",
       [](std::string& c) { c.insert(SECOND, "\x18"); }, "CAP.BIN: No SOH\n", 0,
       resent_hint(2, offset + 1)},
      {"stray bytes, then the block",
       [](std::string& c) { c.insert(SECOND, "\x55\xAA\x13"); },
       "CAP.BIN: No SOH\n", 0, resent_hint(2, offset + 3)},
      {"a damaged block, then the sender's second copy",
       [](std::string& c) {
         c.insert(SECOND, c.substr(SECOND, 132));
         c[SECOND + 2] = 2;
       },
       "CAP.BIN: Got 2 instead of 253 Inv. Block No\n", 0,
       resent_hint(2, offset + 132)},
      {"two stretches of stray bytes, each before a block",
       [](std::string& c) {
         c.insert(SECOND + 132, "\x55");
         c.insert(SECOND, "\x55");
       },
       "CAP.BIN: No SOH\n", 0, RECEIVER_HINT},
      {"a noise EOT, then the block",
       [](std::string& c) { c.insert(SECOND, "\x04"); }, "CAP.BIN: No SOH\n", 0,
       noise_eot_hint(offset, 2, offset + 1)},
      {"end of transmission, a stray byte and the EOT again",
       [](std::string& c) { c.replace(SECOND, c.npos, "\x04\x55\x04"); },
       "CAP.BIN: No SOH\n", 0, eot_hint(offset)},
      {"noise, then the end of transmission",
       [](std::string& c) { c.replace(SECOND, c.npos, "\x2E\x0C\x04"); },
       "CAP.BIN: No SOH\n", 0, noise_hint(offset, offset + 2)},
      // A frame that the receiver may never have taken.
      {"noise holding the next header, then the end of transmission",
       [](std::string& c) {
         c.replace(SECOND, c.npos, "\x55\x02\x02\xFD\x04");
       },
       "CAP.BIN: No SOH\n", 0, ""},
      {"stray byte", [](std::string& c) { c[SECOND] = 0x55; },
       "CAP.BIN: No SOH\n", 0, ""},
      {"block repeated",
       [](std::string& c) { c.replace(SECOND, 132, c, 0, 132); },
       "CAP.BIN: Got 1 instead of 2 Block No\n", 0,
       repeated_block_hint(offset)},
      {"block repeated at the very end",
       [](std::string& c) { c.replace(SECOND, c.npos, c, 0, 132); },
       "CAP.BIN: Got 1 instead of 2 Block No\n", 0,
       repeated_block_hint(offset)},
      {"block repeated with a byte changed",
       [](std::string& c) {
         c.replace(SECOND, 132, c, 0, 132);
         c[SECOND + 9] ^= 0x10;
       },
       "CAP.BIN: Got 1 instead of 2 Block No\n", 0, ""},
      {"bad complement", [](std::string& c) { c[SECOND + 2] = 2; },
       "CAP.BIN: Got 2 instead of 253 Inv. Block No\n", 0, ""},
      {"checksum differs",
       [](std::string& c) {
         c.replace(SECOND + 3, 128, 128, '\x01');  // sums to 128
         c[SECOND + 131] = 127;
       },
       "CAP.BIN: Got 127 instead of 128 as checksum\n", 128, ""},
      // A check of the wrong byte would take this one.
      {"checksum differs, the last data byte being the sum",
       [](std::string& c) {
         c.replace(SECOND + 3, 128, std::string(127, '\0') + '\x80');
         c[SECOND + 131] = 127;
       },
       "CAP.BIN: Got 127 instead of 128 as checksum\n", 128, ""},
  };
}

// Each fault alone and behind 256 sound blocks, whose numbers bring the
// next ones back to 1, so that the batch path meets it deep in its loop;
// and read a byte at a time, so that read_block() takes every block.
TEST(ReadBlockTest, EachFaultGivesItsOneMessage) {
  for (const size_t lead : {0, 256}) {
    for (const size_t piece : {0, 1}) {
      const uint64_t address = lead * 128;
      for (const Fault& fault : faults(lead * 132 + SECOND)) {
        SCOPED_TRACE(std::string(fault.what) + " behind " +
                     std::to_string(lead) + " blocks" +
                     (piece == 0 ? "" : ", a byte at a time"));
        std::string capture = make_capture(3);
        fault.damage(capture);
        const DecodeOptions options = {
            -1, 0, std::vector<size_t>(piece != 0 ? 1 : 0, piece), false};
        const Decoded decoded = decode(make_capture(lead) + capture, options);
        EXPECT_EQ(decoded.verdict, SOURCE_FAULTY);
        EXPECT_EQ(decoded.output,
                  progress_lines(0, address + 0x80) + fault.message);
        EXPECT_EQ(decoded.hint, fault.hint);
        const std::string partial =
            fault.partial == 0 ? "" : capture.substr(SECOND + 3, fault.partial);
        EXPECT_TRUE(decoded.destination ==
                    sample_image(lead) + sample_image(1) + partial);
        EXPECT_EQ(decoded.address, address + 0x80);
        EXPECT_EQ(decoded.expected_block, 2u);
      }
    }
  }
}

// The 133-byte blocks of an XMODEM-CRC capture of the sample image.
std::string crc_capture(size_t blocks, uint64_t first) {
  return make_frames(blocks, {128, true}, first);
}

// A CRC capture fails at its first block, or, when the CRC's high byte
// equals the sum, at its second, and either way gets the CRC hint, raw or
// wrapped.  A checksum capture never does, however it is broken there.
TEST(ReadBlockTest, CrcCapturesGetTheirHint) {
  // The check value of CRC-16/XMODEM.
  ASSERT_EQ(bitwise_crc16("123456789"), 0x31C3u);
  uint64_t equal = 0;  // the first image block whose CRC's high byte is its sum
  while ((bitwise_crc16(sample_image(1, equal)) >> 8) !=
         static_cast<unsigned char>(make_capture(1, equal)[131])) {
    ++equal;
  }
  const std::string other = crc_capture(3, equal + 1);
  ASSERT_NE(other[131], make_capture(1, equal + 1)[131]);
  for (const bool wrapped : {false, true}) {
    for (const std::string& capture : {crc_capture(3, equal), other}) {
      const Decoded decoded = decode(wrapped ? wrap_capture(capture) : capture);
      EXPECT_EQ(decoded.verdict, SOURCE_FAULTY);
      EXPECT_EQ(decoded.hint, CRC_HINT);
    }
  }
  std::string flipped = make_capture(3);
  flipped[10] ^= 0x01;
  EXPECT_EQ(decode(flipped).hint, "");
}

// An EOT counts as the end of the transmission when no sound frame follows
// it to the end of the string, whatever lies behind that.
TEST(ReadBlockTest, EndOfTransmissionInsideAString) {
  const std::string string = make_capture(1) + "\x04\x1A\x04";
  EXPECT_EQ(decode(wrap_capture(string) + "\x55junk").hint, eot_hint(13 + 132));
  EXPECT_EQ(decode(wrap_capture(string) + make_capture(2)).hint,
            eot_hint(13 + 132));
  EXPECT_EQ(decode(wrap_capture(string + make_capture(2, 5))).hint, "");
}

// A capture cut at every length, raw and wrapped (whose length field then
// runs past the end of its file), handed over in pieces of several sizes,
// so that blocks straddle reads at every offset: each cut inside a block
// gives the message of the field it is in, and leaves the data bytes read.
TEST(ReadBlockTest, CapturesCutAtEveryLength) {
  const std::string good = make_capture(3);
  const std::string image = sample_image(3);
  const std::vector<std::vector<size_t>> pieces = {{}, {1}, {7}, {131, 133}};
  for (const bool wrapped : {false, true}) {
    const std::string source = wrapped ? wrap_capture(good) : good;
    const size_t header = wrapped ? WRAPPER_HEADER_SIZE : 0;
    for (size_t length = 0; length <= good.size(); ++length) {
      const size_t whole = length / 132;
      const size_t rest = length % 132;
      const size_t partial = rest <= 3 ? 0 : std::min<size_t>(rest - 3, 128);
      std::string message;
      if (rest == 1) message = "CAP.BIN: EOF at Block No.\n";
      if (rest == 2) message = "CAP.BIN: EOF at Inv. Block No.\n";
      if (rest >= 3 && rest < 131) {
        message = "CAP.BIN: EOF at Databyte " + std::to_string(rest - 3) + "\n";
      }
      if (rest == 131) message = "CAP.BIN: EOF at checksum\n";
      // A receiver finds no frame after the cut one, and reads the same.
      for (const bool receiver : {false, true}) {
        for (const std::vector<size_t>& piece : pieces) {
          SCOPED_TRACE((wrapped ? "wrapped, length " : "raw, length ") +
                       std::to_string(length) + ", pieces of " +
                       (piece.empty() ? "any size" : std::to_string(piece[0])) +
                       (receiver ? ", as a receiver" : ""));
          const DecodeOptions options = {-1, 0, piece, receiver};
          const Decoded decoded =
              decode(source.substr(0, header + length), options);
          EXPECT_EQ(decoded.verdict, rest == 0 ? SOURCE_CLEAN : SOURCE_FAULTY);
          EXPECT_EQ(decoded.address, whole * 128);
          EXPECT_EQ(decoded.output, progress_lines(0, whole * 128) + message);
          EXPECT_EQ(decoded.destination,
                    image.substr(0, whole * 128 + partial));
          EXPECT_EQ(decoded.hint,
                    receiver && rest == 0
                        ? note("no EOT at its end, so the transfer may not "
                               "have finished")
                        : "");
        }
      }
    }
  }
}

TEST(ReadBlockTest, PayloadEndIsLookedAtOnlyWhereABlockBegins) {
  // A string of one block ends at offset 145; the good block behind it is
  // not looked at.
  const std::string capture = make_capture(3);
  Decoded decoded = decode(wrapper_header(132) + capture);
  EXPECT_EQ(decoded.verdict, SOURCE_CLEAN);
  EXPECT_EQ(decoded.destination, sample_image(1));

  // A block that begins before the end, at 200, is read whole.
  decoded = decode(wrapper_header(200 - 13) + capture);
  EXPECT_EQ(decoded.verdict, SOURCE_CLEAN);
  EXPECT_EQ(decoded.destination, sample_image(2));
}

TEST(ReadBlockTest, NoLimitReadsPastTwoGibibytes) {
  // Only the offset counter is moved: no test writes a 2 GiB file.
  MemoryRun run;
  MemorySource memory;
  memory.bytes = make_capture(3);
  read_from(run.state->input, memory_reader(&memory));
  run.state->input.position = NO_LIMIT - 140;
  for (int block = 0; block < 3; ++block) {
    EXPECT_EQ(read_block(*run.state, NO_LIMIT), BLOCK_TAKEN);
  }
  EXPECT_EQ(read_block(*run.state, NO_LIMIT), SOURCE_END);
  EXPECT_EQ(run.destination(), sample_image(3));
}

TEST(ReadBlockTest, AddressesTakeAsManyDigitsAsTheyNeed) {
  EXPECT_EQ(decode(make_capture(1), {-1, 0xFFFFFF80u, {}}).output,
            "Checking Address FFFFFF80...\nChecking Address 100000000...\n");
  // Across each edge where the address takes one digit more, and where a
  // digit turns from 7 to 8 or from 9 to A.
  for (const uint64_t start :
       {0xFFF00ull, 0x7FFF00ull, 0xFFFF00ull, 0xFFFFF00ull, 0xFFFFFF00ull,
        0x7FFFFFFF00ull, 0xFFFFFFFFF00ull, 0x9F00ull}) {
    const Decoded decoded = decode(make_capture(3), {-1, start, {}});
    EXPECT_EQ(decoded.output, progress_lines(start, start + 3 * 128))
        << std::hex << start;
  }
}

TEST(ReadBlockTest, ReadErrorEndsTheSourceWithoutAFaultMessage) {
  const std::string capture = make_capture(3);
  // Fails at the start of a block, inside its header, inside its data and
  // before its checksum, with the bytes before it handed over whole or in
  // pieces.
  for (int64_t fail_at : {132, 133, 134, 135 + 40, 132 + 131}) {
    for (const size_t piece : {0, 7}) {
      SCOPED_TRACE("fail at " + std::to_string(fail_at) + ", pieces of " +
                   std::to_string(piece));
      DecodeOptions options;
      options.fail_at = fail_at;
      if (piece != 0) options.pieces = {piece};
      const Decoded decoded = decode(capture, options);
      const size_t whole = static_cast<size_t>(fail_at) / 132;
      const size_t rest = static_cast<size_t>(fail_at) % 132;
      EXPECT_EQ(decoded.verdict, SOURCE_UNREADABLE);
      EXPECT_EQ(decoded.output, progress_lines(0, whole * 128));
      EXPECT_EQ(
          decoded.destination,
          sample_image(3).substr(0, whole * 128 + (rest > 3 ? rest - 3 : 0)));
    }
  }

  // A fault found before the failing byte is needed is reported as such.
  std::string broken = capture;
  broken[132] = 0x04;
  DecodeOptions options;
  options.fail_at = 140;
  const Decoded decoded = decode(broken, options);
  EXPECT_EQ(decoded.verdict, SOURCE_FAULTY);
  EXPECT_EQ(decoded.output, progress_lines(0, 0x80) + "CAP.BIN: No SOH\n");
}

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
    const Decoded decoded = decode(capture, {-1, 0, {}, true});
    EXPECT_EQ(decoded.verdict,
              c.message.empty() ? SOURCE_CLEAN : SOURCE_FAULTY);
    EXPECT_EQ(decoded.output, output);
    EXPECT_EQ(decoded.hint, c.errors);
    EXPECT_TRUE(decoded.destination == image)
        << decoded.destination.size() << " bytes written, " << image.size()
        << " expected";
  }
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
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DecodeOptions options;
    options.fail_at = c.fail_at;
    options.receiver = true;
    const Decoded decoded = decode(c.capture, options);
    EXPECT_EQ(decoded.verdict, SOURCE_UNREADABLE);
    EXPECT_EQ(decoded.output, progress_lines(0, c.blocks * 128));
    EXPECT_EQ(decoded.hint, "");
    EXPECT_EQ(decoded.destination.size(), c.blocks * 128);
  }
}

// The CRCs and sums of every prefix, which the frame search works from,
// and the CRC of a whole stretch, each against one worked out a bit or a
// byte at a time; for every length up to 253, so that each of the search's
// unrolled steps ends a stretch somewhere.
TEST(ReceiverTest, CrcsAndSumsOfEveryPrefix) {
  const std::string bytes = sample_image(2).substr(0, 253);
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  for (size_t length = 0; length <= bytes.size(); ++length) {
    std::vector<uint16_t> running(length + 1);
    std::vector<unsigned char> sums(length + 1);
    running_crc16(data, length, running.data(), sums.data());
    unsigned sum = 0;
    for (size_t size = 0; size <= length; ++size) {
      EXPECT_EQ(running[size], bitwise_crc16(bytes.substr(0, size))) << size;
      EXPECT_EQ(crc16(data, size), running[size]) << size;
      EXPECT_EQ(sums[size], sum & 0xFF) << size;
      if (size < length) sum += data[size];
    }
  }
}

}  // namespace
}  // namespace romweave
