// The built tool on captures made by a real XMODEM sender: `sx` from the
// lrzsz package, driven by the receiver in xmodem_receiver.h.  Our own
// capture builder could share a misreading with the decoder; these captures
// cannot.
//
// What sx does, as found by running it (lrzsz 0.12.21): after a NAK it
// sends 132-byte checksum blocks numbered from 1, fills the last block with
// 0x1A (Ctrl-Z, the CP/M end-of-file mark), ends with one EOT once each
// block is acknowledged, and exits with status 0.  An empty file is sent as
// a lone EOT: no block at all.  After 'C' the blocks end in a CRC-16.  With
// -k it sends 1K frames, each one block number, for as long as more than
// 896 bytes remain, then 128-byte blocks: its last 1K frame is mostly fill
// only when 897 to 1023 bytes remain.  After a NAK the 1K frames end in
// the one-byte checksum, after 'C' in a CRC-16.
//
// It answers a NAK at once with the same frame, byte for byte, and a NAK
// of its EOT with another EOT; 'C' counts as a NAK, but answering the
// first checksum block with 'C' switches it to CRC-16, that block resent
// first.  Any other byte where it waits for ACK (0x86 too, an ACK with its
// top bit flipped) makes it read on: it sends the frame again only after
// 60 seconds, or at once on a NAK.  So a garbled answer here is followed by
// the NAK that a receiver sends when its own wait for the next frame runs
// out.  Each answer counts: a second NAK for one frame has it sent twice
// more, and the ACKs after it then answer the wrong frames.  Refused
// eleven times, a frame, or ten times, the EOT, it gives up at once, sends
// ten CANs and ten backspaces and exits with status 128: only silence
// costs it time.
//
// rx, lrzsz's receiver, writes every data byte of every frame, fill
// included.  It discards what it read ahead whenever it answers, so it is
// fed one frame per answer; it waits for a second of quiet on the line
// before it acknowledges an EOT, and before it refuses most damaged frames.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "tests/expected_output.h"
#include "tests/interop/xmodem_receiver.h"
#include "tests/run_fixture.h"
#include "tools/capture_builder.h"

namespace romweave {
namespace {

// What sx fills the last block with.
constexpr char SX_FILL = 0x1A;

// Compares images of up to 256 KiB and names the first byte that differs,
// rather than printing both.
testing::AssertionResult same_image(const std::string& got,
                                    const std::string& expected) {
  if (got == expected) return testing::AssertionSuccess();
  size_t at = 0;
  while (at < got.size() && at < expected.size() && got[at] == expected[at])
    ++at;
  return testing::AssertionFailure()
         << "the image has " << got.size() << " bytes, " << expected.size()
         << " expected; the first difference is at offset " << at;
}

// `bytes` with sx's fill up to a whole number of blocks.
std::string filled(const std::string& bytes) {
  return bytes + std::string((128 - bytes.size() % 128) % 128, SX_FILL);
}

// How sx is asked to send: 'C' or NAK to start, and 1K frames with -k.
struct SxMode {
  const char* name;
  bool crc;
  bool one_k;
};

constexpr SxMode CHECKSUM = {"Checksum", false, false};
constexpr SxMode CRC = {"Crc", true, false};
constexpr SxMode ONE_K_AFTER_NAK = {"OneKAfterNak", false, true};
constexpr SxMode ONE_K_AFTER_C = {"OneKAfterC", true, true};
constexpr SxMode SX_MODES[] = {CHECKSUM, CRC, ONE_K_AFTER_NAK, ONE_K_AFTER_C};

// The data sizes of the frames sx sends for `bytes` bytes: 128-byte
// blocks, or with -k 1K frames for as long as more than seven blocks'
// worth remain.
std::vector<size_t> sx_frames(size_t bytes, bool one_k) {
  std::vector<size_t> frames;
  for (size_t sent = 0; sent < bytes; sent += frames.back()) {
    frames.push_back(one_k && bytes - sent > 7 * 128 ? 1024 : 128);
  }
  return frames;
}

// What the receiver on the line writes: the payload and sx's fill up to
// the end of its last frame.
std::string sx_image(const std::string& payload, bool one_k) {
  size_t size = 0;
  for (size_t frame : sx_frames(payload.size(), one_k)) size += frame;
  return payload + std::string(size - payload.size(), SX_FILL);
}

// The progress lines of the receiver's reading of `transfer`: one before
// each frame and one at the EOT that ends it.  A frame moves the address
// on unless it is damaged, or is sent again after a sound frame that was
// refused (no case here refuses a frame sent again).
std::string receiver_lines(const Transfer& transfer) {
  std::string lines;
  uint64_t address = 0;
  bool copy = false;
  for (const LineUnit& unit : transfer.units) {
    lines += progress_line(address);
    if (unit.start == XMODEM_EOT) break;
    if (unit.answer != ANSWER_DAMAGED && !copy) {
      address += unit.start == XMODEM_STX ? 1024 : 128;
    }
    copy = unit.answer == ANSWER_NAK || unit.answer == ANSWER_GARBLED;
  }
  return lines;
}

std::string without_eot(const std::string& capture) {
  return capture.substr(0, capture.size() - 1);
}

std::string sample_bytes(size_t size, uint64_t from = 0) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>(sample_byte(from + i));
  }
  return bytes;
}

// 256 KiB of pseudo-random code broken by runs of the bytes that mean
// something on an XMODEM line (SOH, EOT, NAK, sx's fill) and of the cleared
// and erased bytes that ROMs are full of.  The runs begin and end inside
// blocks, straddle block borders and fill whole blocks; the image ends in
// bytes that look like sx's own fill.
std::string rom_image() {
  std::string image = sample_bytes(256 * 1024, 1 << 20);
  const char kinds[] = {0x01, 0x04, 0x15, 0x1A, 0x00, '\xFF'};
  const size_t lengths[] = {1, 2, 127, 128, 129, 131, 132, 133, 256, 700, 2048};
  size_t at = 0;
  for (size_t i = 0; at < 96 * 1024; ++i) {
    const size_t length = lengths[i % std::size(lengths)];
    image.replace(at, length, length, kinds[i % std::size(kinds)]);
    at += length + 1 + i * 37 % 200;
  }
  for (size_t i = 0; i < std::size(kinds); ++i) {
    image.replace(100 * 1024 + i * 256, 256, 256, kinds[i]);
  }
  image.replace(192 * 1024, 64 * 1024, 64 * 1024, '\xFF');
  image.replace(image.size() - 100, 100, 100, SX_FILL);
  return image;
}

// Runs the tests on a machine with lrzsz's sx and rx; CI must have them,
// so there a missing one is a failure, not a skip.
class SxTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    if (HasFatalFailure()) return;
    sx_ = find_sx();
    rx_ = find_rx();
    if (!sx_.empty() && !rx_.empty()) return;
    const char* ci = std::getenv("CI");
    if (ci != nullptr && *ci != '\0') {
      FAIL()
          << "sx or rx is not installed: install lrzsz (.ci/interop.sh does)";
    }
    GTEST_SKIP() << "sx or rx is not installed (apt-get install lrzsz)";
  }

  // Sends `payload` as a file with `sx --xmodem --binary` in `mode`, the
  // receiver answering as `events` say, and leaves in `transfer` what
  // went over the line.
  void send(const std::string& payload, Transfer* transfer,
            const SxMode& mode = CHECKSUM,
            const std::vector<LineEvent>& events = {}) {
    const std::string name = "payload" + std::to_string(++files_) + ".bin";
    write_file(name, payload);
    std::vector<std::string> command = {sx_, "--xmodem", "--binary"};
    if (mode.one_k) command.push_back("--1k");
    command.push_back(path(name));
    *transfer = receive_xmodem(command, ReceiveLimits(), {mode.crc, events});
    ASSERT_FALSE(transfer->timed_out) << describe(*transfer);
    ASSERT_EQ(transfer->status, 0) << describe(*transfer);
    // Each frame was acknowledged once, in the sizes foreseen, and the
    // transfer ended in an EOT: one, and one more for each EOT refused.
    std::vector<size_t> taken;
    size_t eots = 0;
    for (const LineUnit& unit : transfer->units) {
      if (unit.start == XMODEM_EOT) ++eots;
      if (unit.start != XMODEM_EOT && unit.answer == ANSWER_ACK) {
        taken.push_back(unit.start == XMODEM_STX ? 1024 : 128);
      }
    }
    size_t eots_refused = 0;
    for (const LineEvent& event : events) {
      if (event.kind == LINE_EOT) ++eots_refused;
    }
    ASSERT_EQ(taken, sx_frames(payload.size(), mode.one_k))
        << describe(*transfer);
    ASSERT_EQ(eots, 1 + eots_refused) << describe(*transfer);
    ASSERT_EQ(transfer->capture.back(), XMODEM_EOT) << describe(*transfer);
  }

  void send(const std::string& payload, std::string* capture,
            const SxMode& mode = CHECKSUM) {
    Transfer transfer;
    send(payload, &transfer, mode);
    *capture = transfer.capture;
  }

  // Reads the capture of `transfer`, EOTs and all, with --receiver, and
  // checks that it gives what rx, fed the same bytes, writes: the payload
  // and sx's fill; and that the note says `note`.
  void read_as_receiver(const std::string& payload, const SxMode& mode,
                        const Transfer& transfer, const std::string& note) {
    const std::string image = sx_image(payload, mode.one_k);
    write_source("sx.cap", transfer.capture);
    RunOptions noted;
    noted.expect_err = receiver_note("SX.CAP", note);
    const ToolRun run = this->run({"--receiver", "sx.cap", "rom.bin"}, noted);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, receiver_lines(transfer) + size_line(image.size()));
    EXPECT_TRUE(same_image(read_file("rom.bin"), image));

    const std::string name = "rx" + std::to_string(++files_) + ".bin";
    // --unrestrict lets rx write to a path that is not in its folder.
    std::vector<std::string> command = {rx_, "--xmodem", "--binary", "--quiet",
                                        "--unrestrict"};
    if (mode.crc) command.push_back("--with-crc");
    command.push_back(path(name));
    std::string messages;
    EXPECT_EQ(replay_xmodem(command, transfer, ReceiveLimits(), &messages), 0)
        << messages;
    EXPECT_TRUE(same_image(read_file(name), image)) << "written by rx";
  }

  std::string sx_;
  std::string rx_;
  int files_ = 0;
};

struct Payload {
  const char* name;
  std::string (*bytes)();
};

const Payload PAYLOADS[] = {
    {"Empty", [] { return std::string(); }},
    {"OneByte", [] { return sample_bytes(1); }},
    {"OneShortOfABlock", [] { return sample_bytes(127); }},
    {"OneBlock", [] { return sample_bytes(128); }},
    {"OneOverABlock", [] { return sample_bytes(129); }},
    // 301 blocks: numbers 1 to 255, then 0, then 1 to 45.
    {"BlockNumbersWrap", [] { return sample_bytes(300 * 128 + 5); }},
    // With -k, the least that sx sends as a last 1K frame, mostly fill.
    {"LastOneKFrameFilled", [] { return sample_bytes(2 * 1024 + 897); }},
    {"RomImage256K", rom_image},
};

void PrintTo(const Payload& payload, std::ostream* out) {
  *out << payload.name;
}

class SxPayloadTest : public SxTest,
                      public testing::WithParamInterface<Payload> {};

TEST_P(SxPayloadTest, CaptureWithoutItsEotConvertsCleanly) {
  const std::string payload = GetParam().bytes();
  std::string capture;
  ASSERT_NO_FATAL_FAILURE(send(payload, &capture));
  write_source("sx.cap", without_eot(capture));
  const ToolRun run = this->run({"sx.cap", "rom.bin"});
  const uint64_t size = filled(payload).size();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, progress_lines(0, size) + size_line(size));
  EXPECT_TRUE(same_image(read_file("rom.bin"), filled(payload)));
}

TEST_P(SxPayloadTest, CaptureAsSentFaultsAtItsEot) {
  const std::string payload = GetParam().bytes();
  std::string capture;
  ASSERT_NO_FATAL_FAILURE(send(payload, &capture));
  write_source("sx.cap", capture);
  RunOptions hinted;
  hinted.expect_err = eot_hint(capture.size() - 1);
  const ToolRun run = this->run({"sx.cap", "rom.bin"}, hinted);
  const uint64_t size = filled(payload).size();
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.out, progress_lines(0, size) + "SX.CAP: No SOH\n");
  EXPECT_TRUE(same_image(read_file("rom.bin"), filled(payload)));
}

TEST_P(SxPayloadTest, WrappedCaptureConvertsToTheSameImage) {
  const std::string payload = GetParam().bytes();
  std::string capture;
  ASSERT_NO_FATAL_FAILURE(send(payload, &capture));
  const uint64_t size = filled(payload).size();
  const std::string wrapped = wrap_capture(without_eot(capture));
  const struct {
    const char* name;
    std::string bytes;
    int status;
    std::string last_line;
    std::string hint;
  } cases[] = {
      {"sx.hp", wrapped, 0, size_line(size), ""},
      // As after the wrapped file itself went over XMODEM: the fill behind
      // the string is never read.
      {"filled.hp", filled(wrapped), 0, size_line(size), ""},
      {"eot.hp", filled(wrap_capture(capture)), 3, "EOT.HP: No SOH\n",
       eot_hint(13 + capture.size() - 1)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    write_source(c.name, c.bytes);
    RunOptions streams;
    streams.expect_err = c.hint;
    const ToolRun run = this->run({c.name, "rom.bin"}, streams);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, progress_lines(0, size) + c.last_line);
    EXPECT_TRUE(same_image(read_file("rom.bin"), filled(payload)));
  }
}

// What the note says of a clean transfer in `mode`: how its frames end
// and whether any was 1K; nothing for checksum blocks, or for no frame.
std::string mode_note(const SxMode& mode, const Transfer& transfer) {
  bool frames = false, one_k = false;
  for (const LineUnit& unit : transfer.units) {
    frames = frames || unit.start != XMODEM_EOT;
    one_k = one_k || unit.start == XMODEM_STX;
  }
  return one_k && mode.crc    ? "1K frames with a CRC-16"
         : one_k              ? "1K frames"
         : mode.crc && frames ? "frames with a CRC-16"
                              : "";
}

TEST_P(SxPayloadTest, ReceiverReadsEveryModeAsSent) {
  const std::string payload = GetParam().bytes();
  for (const SxMode& mode : SX_MODES) {
    SCOPED_TRACE(mode.name);
    Transfer transfer;
    ASSERT_NO_FATAL_FAILURE(send(payload, &transfer, mode));
    read_as_receiver(payload, mode, transfer, mode_note(mode, transfer));
  }
}

INSTANTIATE_TEST_SUITE_P(Payloads, SxPayloadTest, testing::ValuesIn(PAYLOADS),
                         [](const testing::TestParamInfo<Payload>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(SxTest, RealCapturesAreJoinedInOrder) {
  const std::vector<std::string> payloads = {
      sample_bytes(129, 1000), sample_bytes(300 * 128 + 5, 2000),
      sample_bytes(1, 3000), "", sample_bytes(127, 4000)};
  std::vector<std::string> captures(payloads.size());
  for (size_t i = 0; i < payloads.size(); ++i) {
    ASSERT_NO_FATAL_FAILURE(send(payloads[i], &captures[i]));
  }
  write_source("a.cap", without_eot(captures[0]));
  write_source("b.hp", filled(wrap_capture(without_eot(captures[1]))));
  write_source("c.cap", without_eot(captures[2]));
  write_source("d.cap", without_eot(captures[3]));
  write_source("e.cap", without_eot(captures[4]));
  ToolRun run =
      this->run({"a.cap", "b.hp", "c.cap", "d.cap", "e.cap", "rom.bin"});
  std::string image, out;
  for (const std::string& payload : payloads) {
    out += progress_lines(image.size(), image.size() + filled(payload).size());
    image += filled(payload);
  }
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, out + size_line(image.size()));
  EXPECT_TRUE(same_image(read_file("rom.bin"), image));

  // A capture kept with its EOT ends the run there, with the data of all
  // the captures before it and of its own blocks.
  write_source("c-eot.cap", captures[2]);
  RunOptions hinted;
  hinted.expect_err = eot_hint(captures[2].size() - 1);
  run = this->run({"a.cap", "b.hp", "c-eot.cap", "e.cap", "rom.bin"}, hinted);
  image = filled(payloads[0]) + filled(payloads[1]) + filled(payloads[2]);
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.out, progress_lines(0, 0x100) +
                         progress_lines(0x100, 0x100 + 301 * 128) +
                         progress_lines(0x100 + 301 * 128, image.size()) +
                         "C-EOT.CAP: No SOH\n");
  EXPECT_TRUE(same_image(read_file("rom.bin"), image));
}

// A transfer in which the receiver answered some frames or EOTs with
// something other than ACK, and what the note must say of it.
struct LineCase {
  const char* name;
  SxMode mode;
  size_t payload_size;
  std::vector<LineEvent> events;
  const char* note;
};

void PrintTo(const LineCase& line, std::ostream* out) { *out << line.name; }

const LineCase LINE_CASES[] = {
    {"NakedFrame",
     CHECKSUM,
     300,
     {{LINE_FRAME, 2, ANSWER_NAK}},
     "a repeated frame skipped at offset 264"},
    {"GarbledAck",
     CRC,
     300,
     {{LINE_FRAME, 3, ANSWER_GARBLED}},
     "frames with a CRC-16; a repeated frame skipped at offset 399"},
    {"DamagedData",
     CHECKSUM,
     300,
     {{LINE_FRAME, 2, ANSWER_DAMAGED, 70}},
     "a damaged stretch skipped at offset 132"},
    {"NakedEot", CHECKSUM, 300, {{LINE_EOT, 1, ANSWER_NAK}}, ""},
    // 1K, 1K, then four blocks: the first refused once, the last damaged
    // in its start byte.
    {"OneKAfterNak",
     ONE_K_AFTER_NAK,
     2500,
     {{LINE_FRAME, 1, ANSWER_NAK}, {LINE_FRAME, 7, ANSWER_DAMAGED, 0}},
     "1K frames; a damaged stretch skipped at offset 3480; a repeated frame "
     "skipped at offset 1028"},
    // Three 1K frames, the first damaged while the check is still unknown.
    {"OneKAfterC",
     ONE_K_AFTER_C,
     2 * 1024 + 897,
     {{LINE_FRAME, 1, ANSWER_DAMAGED, 0},
      {LINE_FRAME, 3, ANSWER_GARBLED},
      {LINE_EOT, 1, ANSWER_NAK}},
     "1K frames with a CRC-16; a damaged stretch skipped at offset 0; a "
     "repeated frame skipped at offset 3087"},
};

class SxLineTest : public SxTest,
                   public testing::WithParamInterface<LineCase> {};

TEST_P(SxLineTest, ReceiverReadsTheCaptureAsRecorded) {
  const LineCase& line = GetParam();
  const std::string payload = sample_bytes(line.payload_size, 5000);
  Transfer transfer;
  ASSERT_NO_FATAL_FAILURE(send(payload, &transfer, line.mode, line.events));
  read_as_receiver(payload, line.mode, transfer, line.note);
}

INSTANTIATE_TEST_SUITE_P(LineEvents, SxLineTest, testing::ValuesIn(LINE_CASES),
                         [](const testing::TestParamInfo<LineCase>& info) {
                           return std::string(info.param.name);
                         });

// Without --receiver, a frame sent twice still ends the reading at the
// copy, with the hint that points to the option.
TEST_F(SxTest, PlainReadingStopsAtAFrameSentTwice) {
  const std::string payload = sample_bytes(300);
  Transfer transfer;
  ASSERT_NO_FATAL_FAILURE(
      send(payload, &transfer, CHECKSUM, {{LINE_FRAME, 2, ANSWER_NAK}}));
  write_source("sx.cap", transfer.capture);
  RunOptions hinted;
  hinted.expect_err = repeated_block_hint(264);
  const ToolRun run = this->run({"sx.cap", "rom.bin"}, hinted);
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.out,
            progress_lines(0, 0x100) + "SX.CAP: Got 2 instead of 3 Block No\n");
  EXPECT_TRUE(same_image(read_file("rom.bin"), payload.substr(0, 256)));
}

// A first CRC block whose data also sum to its CRC's high byte, while the
// low byte is 0x04: read with the checksum it is sound too, and an EOT
// follows it, as block 2 follows it read with its CRC.  Block 2 is the
// stronger sign, and the image is all five blocks, as rx writes them.  One
// transfer in 65536 made in CRC mode starts so.
TEST_F(SxTest, CrcBlockThatAlsoEndsAsAChecksumBlockBeforeAnEot) {
  std::string payload = sample_bytes(5 * 128, 9000);
  for (uint32_t n = 0;; ++n) {
    payload.replace(0, 3,
                    {static_cast<char>(n), static_cast<char>(n >> 8),
                     static_cast<char>(n >> 16)});
    const std::string block = payload.substr(0, 128);
    unsigned sum = 0;
    for (char byte : block) sum += static_cast<unsigned char>(byte);
    const uint16_t crc = bitwise_crc16(block);
    if ((crc & 0xFF) == XMODEM_EOT && crc >> 8 == (sum & 0xFF)) break;
  }
  Transfer transfer;
  ASSERT_NO_FATAL_FAILURE(send(payload, &transfer, CRC));
  read_as_receiver(payload, CRC, transfer, "frames with a CRC-16");
}

// A capture made in CRC mode, as when the receiver asked with 'C': its
// first block fails, and the hint says why.
TEST_F(SxTest, CrcCaptureGetsItsHint) {
  std::string capture;
  ASSERT_NO_FATAL_FAILURE(send(sample_bytes(300 * 128 + 5), &capture, CRC));
  write_source("crc.cap", capture);
  RunOptions hinted;
  hinted.expect_err = CRC_HINT;
  const ToolRun run = this->run({"crc.cap", "rom.bin"}, hinted);
  EXPECT_EQ(run.status, 3);
}

// The 256 KiB image makes a string whose length in nibbles needs the top
// bit of its 20-bit field.  Sending that wrapped file through sx once more
// gives a file with real fill behind the string.
TEST_F(SxTest, LargeWrappedImageSurvivesASecondTransfer) {
  const std::string image = rom_image();
  std::string capture;
  ASSERT_NO_FATAL_FAILURE(send(image, &capture));
  const std::string wrapped = wrap_capture(without_eot(capture));
  ASSERT_GE(static_cast<unsigned char>(wrapped[12]), 0x80);

  std::string outer;
  ASSERT_NO_FATAL_FAILURE(send(wrapped, &outer));
  write_source("outer.cap", without_eot(outer));
  ToolRun run = this->run({"outer.cap", "inner.hp"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, progress_lines(0, filled(wrapped).size()) +
                         size_line(filled(wrapped).size()));
  const std::string inner = read_file("inner.hp");
  ASSERT_TRUE(same_image(inner, filled(wrapped)));
  ASSERT_GT(inner.size(), wrapped.size());

  write_source("inner.hp", inner);
  run = this->run({"inner.hp", "rom.bin"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, progress_lines(0, image.size()) + size_line(image.size()));
  EXPECT_TRUE(same_image(read_file("rom.bin"), image));
}

// The receiver itself must never hang a test run, whatever the sender does.
TEST(XmodemReceiverTest, GivesUpOnASenderThatStaysSilentOrStalls) {
  using std::chrono::milliseconds;
  const auto timed = [](const std::vector<std::string>& command,
                        const ReceiveLimits& limits, Transfer* transfer) {
    const auto start = std::chrono::steady_clock::now();
    *transfer = receive_xmodem(command, limits);
    return std::chrono::steady_clock::now() - start;
  };
  ReceiveLimits limits;
  limits.total = milliseconds(1500);
  limits.quiet = milliseconds(300);
  limits.nak_again = milliseconds(100);
  Transfer transfer;

  // Never reads: the first NAK stays in the pipe and is not repeated.
  auto took = timed({"sh", "-c", "exec sleep 30"}, limits, &transfer);
  EXPECT_TRUE(transfer.timed_out);
  EXPECT_EQ(transfer.status, -1);
  EXPECT_EQ(transfer.naks, 1);
  EXPECT_LT(took, std::chrono::seconds(10));

  // Reads but never answers (its output stays open on descriptor 3): the
  // NAK is repeated.
  took = timed({"sh", "-c", "exec cat 3>&1 >/dev/null"}, limits, &transfer);
  EXPECT_TRUE(transfer.timed_out);
  EXPECT_GT(transfer.naks, 1);
  EXPECT_LT(took, std::chrono::seconds(10));

  // Stops in the middle of a block: the quiet limit ends it long before
  // the total one.
  limits.total = milliseconds(20000);
  took = timed({"sh", "-c", "printf '\\001\\001\\376'; exec sleep 30"}, limits,
               &transfer);
  EXPECT_TRUE(transfer.timed_out);
  EXPECT_EQ(transfer.capture, "\x01\x01\xFE");
  EXPECT_TRUE(transfer.units.empty());
  EXPECT_LT(took, std::chrono::seconds(10));
}

}  // namespace
}  // namespace romweave
