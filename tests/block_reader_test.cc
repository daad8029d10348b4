#include <gtest/gtest.h>

#include "capture/capture.h"
#include "tests/decode_fixture.h"
#include "tools/capture_builder.h"
#include "xmodem/frame.h"

namespace romweave {
namespace {

TEST(ReadBlockTest, TakesEveryGoodBlockAndEndsWithTheSource) {
  const Decoded decoded = decode(make_capture(3));
  EXPECT_EQ(decoded.verdict, VERDICT_CLEAN);
  EXPECT_EQ(decoded.output, progress_lines(0, 0x180));
  EXPECT_EQ(decoded.destination, sample_image(3));
  EXPECT_EQ(decoded.address, 0x180u);
  EXPECT_EQ(decoded.expected_block, 4u);
}

TEST(ReadBlockTest, EmptySourceEndsAtOnce) {
  const Decoded decoded = decode("");
  EXPECT_EQ(decoded.verdict, VERDICT_CLEAN);
  EXPECT_EQ(decoded.output, "Checking Address 00000...\n");
  EXPECT_EQ(decoded.destination, "");
}

TEST(ReadBlockTest, BlockNumbersWrapPast255) {
  const Decoded decoded = decode(make_capture(300));
  EXPECT_EQ(decoded.verdict, VERDICT_CLEAN);
  EXPECT_EQ(decoded.destination, sample_image(300));
  EXPECT_EQ(decoded.expected_block, 301u % 256);

  // The 256th block must carry 0, not 256's neighbour.
  std::string capture = make_capture(257);
  capture[255 * 132 + 1] = 1;
  capture[255 * 132 + 2] = static_cast<char>(254);
  const Decoded wrong = decode(capture);
  EXPECT_EQ(wrong.verdict, VERDICT_FAULTY);
  EXPECT_EQ(wrong.output, progress_lines(0, 255 * 128) +
                              "CAP.BIN: Got 1 instead of 0 Block No\n");
}

// Each fault in the second of three blocks: how the block is broken, the
// message, how many of its data bytes reach the destination, and the hint
// on standard error, where the bytes show what went wrong, with the offset
// of that block in the file.
const size_t SECOND = 132;  // offset of the second block

struct Fault {
  const char* what;
  void (*damage)(std::string& capture);  // on a three-block capture
  std::string message;
  size_t partial;
  std::string hint;
};

// The block reader's message for the second block of a capture turned into
// a CRC frame: the CRC's high byte where the checksum belongs.
std::string crc_block_message() {
  std::string block = make_capture(2).substr(SECOND);
  unsigned sum = static_cast<unsigned char>(block[131]);
  unsigned high = bitwise_crc16(block.substr(3, 128)) >> 8;
  return "CAP.BIN: Got " + std::to_string(high) + " instead of " +
         std::to_string(sum) + " as checksum\n";
}

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
      // The check is the one the first block settled: a receiver takes no
      // CRC frame after it.
      {"blocks 2 and 3 CRC frames, then the EOT",
       [](std::string& c) {
         std::string frames;
         append_frame(frames, 2, c.substr(SECOND + 3, 128), true);
         append_frame(frames, 3, c.substr(2 * SECOND + 3, 128), true);
         c.replace(SECOND, c.npos, frames + "\x04");
       },
       crc_block_message(), 128, ""},
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
        const DecodeOptions options = DecodeOptions().in_pieces(
            std::vector<size_t>(piece != 0 ? 1 : 0, piece));
        const Decoded decoded = decode(make_capture(lead) + capture, options);
        EXPECT_EQ(decoded.verdict, VERDICT_FAULTY);
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
      EXPECT_EQ(decoded.verdict, VERDICT_FAULTY);
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
          const DecodeOptions options =
              DecodeOptions().in_pieces(piece).as_receiver(receiver);
          const Decoded decoded =
              decode(source.substr(0, header + length), options);
          EXPECT_EQ(decoded.verdict,
                    rest == 0 ? VERDICT_CLEAN : VERDICT_FAULTY);
          EXPECT_EQ(decoded.address, whole * 128);
          EXPECT_EQ(decoded.output, progress_lines(0, whole * 128) + message);
          EXPECT_EQ(decoded.destination,
                    image.substr(0, whole * 128 + partial));
          EXPECT_EQ(decoded.hint,
                    receiver && rest == 0
                        ? receiver_note("CAP.BIN",
                                        "no EOT at its end, so the transfer "
                                        "may not have finished")
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
  EXPECT_EQ(decoded.verdict, VERDICT_CLEAN);
  EXPECT_EQ(decoded.destination, sample_image(1));

  // A block that begins before the end, at 200, is read whole.
  decoded = decode(wrapper_header(200 - 13) + capture);
  EXPECT_EQ(decoded.verdict, VERDICT_CLEAN);
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
  EXPECT_EQ(
      decode(make_capture(1), DecodeOptions().starting_at(0xFFFFFF80u)).output,
      "Checking Address FFFFFF80...\nChecking Address 100000000...\n");
  // Across each edge where the address takes one digit more, and where a
  // digit turns from 7 to 8 or from 9 to A.
  for (const uint64_t start :
       {0xFFF00ull, 0x7FFF00ull, 0xFFFF00ull, 0xFFFFF00ull, 0xFFFFFF00ull,
        0x7FFFFFFF00ull, 0xFFFFFFFFF00ull, 0x9F00ull}) {
    const Decoded decoded =
        decode(make_capture(3), DecodeOptions().starting_at(start));
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
      EXPECT_EQ(decoded.verdict, VERDICT_UNREADABLE);
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
  EXPECT_EQ(decoded.verdict, VERDICT_FAULTY);
  EXPECT_EQ(decoded.output, progress_lines(0, 0x80) + "CAP.BIN: No SOH\n");
}

}  // namespace
}  // namespace romweave
