// The bad inputs people really hand the tool: leftovers of the transfer,
// another protocol's blocks, damaged wrappers, random files and awkward
// names.  Each run is checked for its whole output, exit status and
// destination; the fixture checks that no source changed and that standard
// error holds exactly the hint a row expects, or nothing.

#include <cstdio>
#include <random>

#include "tests/expected_output.h"
#include "tests/run_fixture.h"
#include "tools/capture_builder.h"

namespace romweave {
namespace {

using HostileInputTest = ToolTest;

// What a terminal program leaves behind the last block: the sender's EOT,
// ^Z padding to a record boundary, a cancel.  In a raw capture each is a
// block that does not start with SOH; behind a calculator string they lie
// past its end and are never read.
TEST_F(HostileInputTest, BytesBehindTheLastBlock) {
  const struct {
    const char* what;
    std::string tail;
    std::string hint;  // on standard error
  } tails[] = {
      {"EOT", "\x04", eot_hint(396)},
      {"^Z padding to 512 bytes", std::string(512 - 396, '\x1A'), ""},
      {"EOT, then ^Z padding", "\x04" + std::string(512 - 397, '\x1A'),
       eot_hint(396)},
      {"cancel", "\x18\x18", cancel_hint(396)},
  };
  for (const auto& tail : tails) {
    SCOPED_TRACE(tail.what);
    write_source("raw.cap", make_capture(3) + tail.tail);
    RunOptions hinted;
    hinted.expect_err = tail.hint;
    ToolRun run = this->run({"raw.cap", "rom.bin"}, hinted);
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, progress_lines(0, 0x180) + "RAW.CAP: No SOH\n");
    EXPECT_EQ(read_file("rom.bin"), sample_image(3));

    write_source("wrapped.hp", wrap_capture(make_capture(3)) + tail.tail);
    run = this->run({"wrapped.hp", "rom.bin"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, progress_lines(0, 0x180) + size_line(3 * 128));
    EXPECT_EQ(read_file("rom.bin"), sample_image(3));
  }
}

// XMODEM-1K blocks start with STX, carry 1024 bytes and a CRC.  Neither a
// capture of them nor one that switches to them after 128-byte blocks is
// taken for more than its 128-byte blocks.
TEST_F(HostileInputTest, OneKilobyteBlocksAreNotRead) {
  std::string one_k;
  for (int number = 1; number <= 2; ++number) {
    one_k += '\x02';
    one_k += static_cast<char>(number);
    one_k += static_cast<char>(255 - number);
    one_k += sample_image(8, 8 * (number - 1));
    one_k += "\x12\x34";  // CRC-16, never looked at
  }
  write_source("1k.cap", one_k);
  RunOptions hinted;
  hinted.expect_err = ONE_K_HINT;
  ToolRun run = this->run({"1k.cap", "rom.bin"}, hinted);
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.out, "Checking Address 00000...\n1K.CAP: No SOH\n");
  EXPECT_EQ(read_file("rom.bin"), "");

  write_source("mixed.cap", make_capture(2) + one_k);
  run = this->run({"mixed.cap", "rom.bin"}, hinted);
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.out, progress_lines(0, 0x100) + "MIXED.CAP: No SOH\n");
  EXPECT_EQ(read_file("rom.bin"), sample_image(2));
}

// A name given twice is read twice: its blocks join the image twice, the
// block numbers starting again at 1.  Each source is closed once read, so
// that far more of them than the process may hold open at once still join.
TEST_F(HostileInputTest, SameSourceNamedAgainAndAgain) {
  write_source("a.cap", make_capture(2));
  write_source("b.hp", wrap_capture(make_capture(1, 2)));
  std::vector<std::string> args = {"a.cap", "b.hp"};
  std::string out = progress_lines(0, 0x100) + progress_lines(0x100, 0x180);
  std::string image = sample_image(3);
  for (uint64_t address = 0x180; address < 0x180 + 40 * 0x100;
       address += 0x100) {
    args.push_back("a.cap");
    out += progress_lines(address, address + 0x100);
    image += sample_image(2);
  }
  args.push_back("rom.bin");
  RunOptions streams;
  // Wine needs more files than that for itself.
  streams.open_file_limit = windows_target() ? 0 : 24;
  const ToolRun run = this->run(args, streams);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, out + size_line(image.size()));
  EXPECT_EQ(read_file("rom.bin"), image);
}

// Files with nothing to give: they add no block and no fault, wherever
// they stand among the sources.
TEST_F(HostileInputTest, EmptySourcesAddNothing) {
  write_source("a.cap", make_capture(1));
  write_source("empty.cap", "");
  write_source("empty.hp", wrapper_header(0));  // a string of no characters
  write_source("b.cap", make_capture(1, 1));
  const ToolRun run =
      this->run({"a.cap", "empty.cap", "empty.hp", "b.cap", "rom.bin"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, progress_lines(0, 0x80) + progress_lines(0x80, 0x80) +
                         progress_lines(0x80, 0x80) +
                         progress_lines(0x80, 0x100) + size_line(2 * 128));
  EXPECT_EQ(read_file("rom.bin"), sample_image(2));
}

// The wrong file handed over: random bytes are refused at their first
// byte, however long the file, and nothing of them reaches the image.
TEST_F(HostileInputTest, RandomBytesAreRefusedAtOnce) {
  std::mt19937 random(20240607);
  for (const size_t size : {1, 131, 132, 4096, 1 << 20}) {
    SCOPED_TRACE("size " + std::to_string(size));
    std::string noise(size, '\0');
    for (char& c : noise) c = static_cast<char>(random() & 0xFF);
    // Without an EOT: a few bytes before one may be noise before the end of
    // a transfer, which gets a hint.
    for (char& c : noise) c = c == '\x04' ? '\x05' : c;
    // The few seeds that would start a block or a header are not noise.
    ASSERT_NE(noise[0], '\x01');
    ASSERT_NE(noise[0], 'H');
    write_source("noise.bin", noise);
    const ToolRun run = this->run({"noise.bin", "rom.bin"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "Checking Address 00000...\nNOISE.BIN: No SOH\n");
    EXPECT_EQ(read_file("rom.bin"), "");
  }
}

// A device that never ends gets its fault at once: the look for a hint in
// what follows stops after a bounded stretch.
TEST_F(HostileInputTest, EndlessSourceEndsInItsFault) {
  if (windows_target()) GTEST_SKIP() << "no /dev/zero";
  const ToolRun run = this->run({"/dev/zero", "rom.bin"});
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.out, "Checking Address 00000...\n/DEV/ZERO: No SOH\n");
  EXPECT_EQ(read_file("rom.bin"), "");
}

// Length fields that do not match the capture: the string's end is where
// block reading stops, an odd nibble count rounds half a byte up to a
// whole one, and a length past the end of the file leaves the file's end
// to end the reading.
TEST_F(HostileInputTest, WrapperLengthFields) {
  const std::string capture = make_capture(2);  // 264 characters
  const struct {
    const char* what;
    uint32_t nibbles;
    std::string behind;  // bytes behind the capture in the file
    int status;
    std::string tail;  // what follows the progress lines
  } cases[] = {
      {"one nibble short: the half byte counts", 4 + 2 * 264, "\x1A", 0,
       size_line(2 * 128)},
      {"one nibble over: the byte behind is read", 6 + 2 * 264, "\x1A", 3,
       "ODD.HP: No SOH\n"},
      {"one nibble over, nothing behind", 6 + 2 * 264, "", 0,
       size_line(2 * 128)},
      {"largest length, short file", 0xFFFFF, "", 0, size_line(2 * 128)},
      {"largest length, padding behind", 0xFFFFF, "\x1A\x1A", 3,
       "ODD.HP: No SOH\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    write_source("odd.hp",
                 wrapper_header_of_length(c.nibbles) + capture + c.behind);
    const ToolRun run = this->run({"odd.hp", "rom.bin"});
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, progress_lines(0, 0x100) + c.tail);
    EXPECT_EQ(read_file("rom.bin"), sample_image(2));
  }
}

// Names with spaces, leading dashes, letters of other scripts and bytes
// past ASCII are plain names: no option, no standard input, no character
// set.  Messages show them with a to z raised and every other byte as it
// was, on Windows too, which takes its names as UTF-16.  Each name joins,
// fails, is missing, names the destination twice and has no folder.
TEST_F(HostileInputTest, AwkwardNamesAreUsedAsGiven) {
  const struct {
    std::string source;
    std::string second;  // the second source, missing at first
    std::string destination;
    bool utf8;  // false: no Windows name has these bytes
  } names[] = {
      {"my capture.cap", "part two.cap", "rom image.bin", true},
      {"-", "--x", "-o", true},
      {"--", "-2.cap", "--help", true},
      {"-v.cap", "--.cap", "-", true},
      {"café.cap", "déjà.cap", "röm.bin", true},
      {"Дамп-1.cap", "нет.cap", "образ.bin", true},
      {"转储.cap", "第二.cap", "镜像.bin", true},
      // Outside the Basic Multilingual Plane: two UTF-16 units each.
      {"💾.cap", "📼.cap", "🧩.bin", true},
      // a and z, and the bytes either side of a to z and of A to Z.
      {"`az{@[", "{z}", "[a@`.bin", true},
      // Latin-1 and a stray byte.
      {"\xE9t\xE9.cap", "\xE9\xE9.cap", "\xFF.bin", false},
  };
  std::string cut = make_capture(2);
  cut.pop_back();
  for (const auto& n : names) {
    SCOPED_TRACE(n.source + ", " + n.second + " -> " + n.destination);
    if (!n.utf8 && ToolTest::windows_target()) continue;
    write_source(n.source, make_capture(2));
    const std::string nowhere = n.second + "/" + n.destination;
    ToolRun run = this->run({n.source, nowhere});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out,
              "Error: Unable to overwrite file " + upper(nowhere) + " !\n");
    EXPECT_FALSE(exists(n.second));

    run = this->run({n.source, n.second, n.destination});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, progress_lines(0, 0x100) +
                           "Error: Unable to open file " + upper(n.second) +
                           " !\n");
    EXPECT_EQ(read_file(n.destination), sample_image(2));

    write_source(n.second, make_capture(1, 2));
    run = this->run({n.source, n.second, n.destination});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, progress_lines(0, 0x100) + progress_lines(0x100, 0x180) +
                           size_line(3 * 128));
    EXPECT_EQ(read_file(n.destination), sample_image(3));

    write_source(n.source, cut);
    run = this->run({n.source, n.destination});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, progress_lines(0, 0x80) + upper(n.source) +
                           ": EOF at checksum\n");
    EXPECT_EQ(read_file(n.destination), sample_image(2));

    // The fixture checks that the source is left as it was.
    run = this->run({n.source, "./" + n.source});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "Error: File ./" + upper(n.source) +
                           " is both source and destination !\n");
    // A later row writes "-" as its destination.
    sources_.erase(n.source);
    sources_.erase(n.second);
  }
}

// The null device, by the name each system gives it, takes the image of a
// run that only checks its captures: it is no file that could be cut or
// read back, so it is never refused as one.
TEST_F(HostileInputTest, NullDeviceAsDestination) {
  write_source("a.cap", make_capture(2));
  const ToolRun run =
      this->run({"a.cap", ToolTest::windows_target() ? "NUL" : "/dev/null"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, progress_lines(0, 0x100) + size_line(2 * 128));
}

// The destination is settled before any source is opened, so its fault
// wins over a source's; an empty name, as a script with an unset variable
// passes, is a name that cannot be opened.
TEST_F(HostileInputTest, DestinationFaultsComeFirst) {
  write_source("good.cap", make_capture(1));
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out;
  } cases[] = {
      {{"missing.cap", "no/such/rom.bin"},
       2,
       "Error: Unable to overwrite file NO/SUCH/ROM.BIN !\n"},
      {{"missing.cap", "good.cap/rom.bin"},
       2,
       "Error: Unable to overwrite file GOOD.CAP/ROM.BIN !\n"},
      {{"good.cap", ""}, 2, "Error: Unable to overwrite file  !\n"},
      // Longer than a name may be: whatever it is cannot be looked at.
      {{"good.cap", std::string(300, 'n')},
       2,
       "Error: Unable to overwrite file " + std::string(300, 'N') + " !\n"},
      {{"good.cap", "", "rom.bin"},
       1,
       progress_lines(0, 0x80) + "Error: Unable to open file  !\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " ... " + c.args.back());
    const ToolRun run = this->run(c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
  }
  EXPECT_FALSE(exists("no"));
  EXPECT_EQ(read_file("rom.bin"), sample_image(1));
}

}  // namespace
}  // namespace romweave
