// The built tool, run on files in a fresh folder: its standard output,
// exit status and destination, and sources that stay as they were.

#include <algorithm>
#include <filesystem>

#include "tests/expected_output.h"
#include "tests/run_fixture.h"
#include "tools/capture_builder.h"

namespace romweave {
namespace {

namespace fs = std::filesystem;

using RunTest = ToolTest;

// One argument or none is no conversion: it asks for help or the version,
// or is a mistake.  Two names always are one, however they look.
TEST_F(RunTest, OneArgumentOrNoneConvertsNothing) {
  const std::string syntax =
      "Syntax: Romweave source [source ...] destination\n";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out;  // for --help, the first line
  } cases[] = {
      {{}, 4, syntax},
      {{"rom.bin"}, 4, syntax},
      {{"-x"}, 4, syntax},
      {{"--version"}, 0, "romweave " ROMWEAVE_VERSION "\n"},
      {{"--help"}, 0, syntax},
      // The option asks for a reading, and still needs two names.
      {{"-r"}, 4, syntax},
      {{"--receiver", "rom.bin"}, 4, syntax},
      {{"-r", "--", "rom.bin"}, 4, syntax},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "no argument" : c.args[0]);
    const ToolRun run = this->run(c.args);
    EXPECT_EQ(run.status, c.status);
    if (c.args == std::vector<std::string>{"--help"}) {
      EXPECT_EQ(run.out.substr(0, c.out.size()), c.out);
      EXPECT_GT(std::count(run.out.begin(), run.out.end(), '\n'), 1);
      EXPECT_NE(run.out.find("man romweave"), std::string::npos) << run.out;
      EXPECT_EQ(run.out.back(), '\n');
    } else {
      EXPECT_EQ(run.out, c.out);
    }
    EXPECT_TRUE(fs::is_empty(folder_)) << "nothing may be created";
  }

  write_source("--help", make_capture(1));
  ToolRun run = this->run({"--help", "rom.bin"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, progress_lines(0, 0x80) + size_line(128));
  EXPECT_EQ(read_file("rom.bin"), sample_image(1));

  // Only the first argument is the option, and a "--" behind it is skipped
  // once; the rest are names.
  write_source("-r", make_capture(1) + "\x04");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-r", "--", "-r", "rom.bin"}, {"--receiver", "-r", "rom.bin"}}) {
    run = this->run(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, progress_lines(0, 0x80) + size_line(128));
    EXPECT_EQ(read_file("rom.bin"), sample_image(1));
  }
  RunOptions plain;
  plain.expect_err = eot_hint(132);
  run = this->run({"--help", "-r", "rom.bin"}, plain);
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.out, progress_lines(0, 0x80) + progress_lines(0x80, 0x100) +
                         "-R: No SOH\n");
}

TEST_F(RunTest, SourcesAreJoinedInOrder) {
  write_source("a.cap", make_capture(1024, 0));
  write_source("b.hp", wrap_capture(make_capture(512, 1024)) + "padding");
  write_source("c.cap", make_capture(512, 1536));
  const ToolRun run = this->run({"a.cap", "b.hp", "c.cap", "rom.bin"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, progress_lines(0, 0x20000) +
                         progress_lines(0x20000, 0x30000) +
                         progress_lines(0x30000, 0x40000) +
                         "ROM size = 40000h = 256KB\n");
  EXPECT_EQ(read_file("rom.bin"), sample_image(2048));
}

TEST_F(RunTest, SmallAndEmptyImages) {
  write_source("one.cap", make_capture(1));
  write_source("two.hp", wrap_capture(make_capture(2, 1)));
  ToolRun run = this->run({"one.cap", "two.hp", "rom.bin"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, progress_lines(0, 0x80) + progress_lines(0x80, 0x180) +
                         "ROM size = 00180h = 0KB\n");
  EXPECT_EQ(read_file("rom.bin"), sample_image(3));

  write_source("empty.cap", "");
  run = this->run({"empty.cap", "rom.bin"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "Checking Address 00000...\nROM size = 00000h = 0KB\n");
  EXPECT_EQ(read_file("rom.bin"), "");
}

TEST_F(RunTest, DataFaultStopsTheRunWithStatus3) {
  std::string broken = make_capture(3);
  broken.resize(132 + 3 + 50);
  write_source("data1.cap", broken);
  write_source("next.cap", make_capture(1));
  ToolRun run = this->run({"data1.cap", "next.cap", "rom.bin"});
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.out,
            progress_lines(0, 0x80) + "DATA1.CAP: EOF at Databyte 50\n");
  EXPECT_EQ(read_file("rom.bin"), sample_image(2).substr(0, 128 + 50));

  // The sources behind a faulty one are never opened, even a missing one.
  run = this->run({"data1.cap", "missing.cap", "rom.bin"});
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.out,
            progress_lines(0, 0x80) + "DATA1.CAP: EOF at Databyte 50\n");
}

TEST_F(RunTest, UnopenableSourceEndsTheRunWithStatus1) {
  write_source("good.cap", make_capture(2));
  fs::create_directory(path("folder"));
  // Messages longer than most, from names of 611 bytes and of those that
  // make them one byte shorter than, as long as, and one byte longer than
  // the line they are formatted in.
  std::string deep;
  for (int i = 0; i < 240; ++i) deep += "d/";
  for (const std::string& bad : std::vector<std::string>{
           "missing.cap", "folder", "-x", deep + "x", deep + "xx", deep + "xxx",
           deep + deep.substr(0, 120) + "x.cap"}) {
    SCOPED_TRACE(bad.substr(0, 20));
    const ToolRun run = this->run({"good.cap", bad, "rom.bin"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, progress_lines(0, 0x100) +
                           "Error: Unable to open file " +
                           ToolTest::upper(bad) + " !\n");
    EXPECT_EQ(read_file("rom.bin"), sample_image(2));
  }
}

TEST_F(RunTest, SourcesAreOpenedUnderTheirNameAsGiven) {
  SKIP_UNLESS_LINUX_TARGET();  // Windows names ignore case anyway
  write_source("lower.cap", make_capture(1));
  write_source("LOWER.CAP", "not a capture");
  const ToolRun run = this->run({"lower.cap", "rom.bin"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(read_file("rom.bin"), sample_image(1));
}

TEST_F(RunTest, ExistingDestinationIsCutBeforeAnySourceIsRead) {
  write_file("rom.bin", "old image");
  const ToolRun run = this->run({"missing.cap", "rom.bin"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Error: Unable to open file MISSING.CAP !\n");
  EXPECT_EQ(read_file("rom.bin"), "");
}

TEST_F(RunTest, UnwritableDestinationGivesStatus2) {
  write_source("good.cap", make_capture(1));
  fs::create_directory(path("folder"));
  for (const std::string bad : {"no/such/rom.bin", "folder"}) {
    const ToolRun run = this->run({"good.cap", bad});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "Error: Unable to overwrite file " +
                           ToolTest::upper(bad) + " !\n");
  }
}

TEST_F(RunTest, DestinationThatIsAlsoASourceIsRefused) {
  write_source("cap.bin", make_capture(2));
  write_source("other.cap", make_capture(1));
  std::vector<std::string> same_names = {"cap.bin", "./cap.bin"};
  fs::create_hard_link(path("cap.bin"), path("hard.bin"));
  same_names.push_back("hard.bin");
  std::error_code no_symlinks;
  fs::create_symlink("cap.bin", path("soft.bin"), no_symlinks);
  if (!no_symlinks) same_names.push_back("soft.bin");
  for (const std::string& destination : same_names) {
    SCOPED_TRACE(destination);
    const ToolRun run = this->run({"other.cap", "cap.bin", destination});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "Error: File " + ToolTest::upper(destination) +
                           " is both source and destination !\n");
  }
  EXPECT_FALSE(exists("rom.bin"));

  // A missing source must not be read back from the destination just made.
  const ToolRun run = this->run({"new.bin", "new.bin"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "Error: File NEW.BIN is both source and destination !\n");
}

TEST_F(RunTest, FailedWritesAreNotPassedOffAsSuccess) {
  SKIP_UNLESS_LINUX_TARGET();
  write_source("good.cap", make_capture(40));
  // A full disk, and a pipe whose reader has gone, which must not end the
  // tool by SIGPIPE.
  for (const bool broken_pipe : {false, true}) {
    const std::string destination =
        broken_pipe ? "/proc/self/fd/3" : "/dev/full";
    SCOPED_TRACE(destination);
    RunOptions streams;
    streams.broken_pipe_as_3 = broken_pipe;
    const ToolRun run = this->run({"good.cap", destination}, streams);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, progress_lines(0, 40 * 128) +
                           "Error: Unable to write file " + upper(destination) +
                           " !\n");
  }

  // A fault message printed before it stays.
  std::string broken = make_capture(40);
  broken.resize(broken.size() - 1);
  write_source("broken.cap", broken);
  const ToolRun run = this->run({"broken.cap", "/dev/full"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, progress_lines(0, 39 * 128) +
                         "BROKEN.CAP: EOF at checksum\n" +
                         "Error: Unable to write file /DEV/FULL !\n");
}

// Standard streams that are closed, fail, or are one of the files.  A
// failed standard output costs nothing but itself: the image is written in
// full, one line on standard error says so, and a run that would have
// ended with 0 ends with 5.  A standard output that is one of the files
// refuses the run before anything is opened, so the old image stays.  The
// capture prints far more than a pipe holds.
TEST_F(RunTest, StandardStreamsThatFailOrAreFiles) {
  const std::string capture = make_capture(3000);
  const std::string image = sample_image(3000);
  const std::string failed = "Error: Unable to write standard output !\n";
  const auto also = [](const std::string& name) {
    return "Error: File " + name + " is also standard output !\n";
  };
  const std::vector<std::string> convert = {"a.cap", "rom.bin"};
  const std::string old_image = "old image";
  const struct {
    const char* what;
    std::vector<std::string> args;
    RunOptions streams;
    int status;
    std::string image;  // rom.bin after the run
  } cases[] = {
      {"standard output closed",
       convert,
       {STDOUT_CLOSED, "", failed},
       5,
       image},
      {"standard output full",
       convert,
       {STDOUT_FILE, "/dev/full", failed},
       5,
       image},
      {"standard output a pipe nobody reads",
       convert,
       {STDOUT_BROKEN_PIPE, "", failed},
       5,
       image},
      {"standard output full, standard error closed",
       convert,
       {STDOUT_FILE, "/dev/full", "", /*stderr_closed=*/true},
       5,
       image},
      {"standard output a non-blocking pipe, read late",
       convert,
       {STDOUT_SLOW_PIPE, "", ""},
       0,
       image},
      {"standard input closed",
       convert,
       {STDOUT_CAUGHT, "", "", false, /*stdin_closed=*/true},
       0,
       image},
      {"standard output full, a data fault",
       {"broken.cap", "rom.bin"},
       {STDOUT_FILE, "/dev/full", failed},
       3,
       image.substr(0, 2999 * 128 + 50)},
      {"standard output full, --help",
       {"--help"},
       {STDOUT_FILE, "/dev/full", failed},
       5,
       old_image},
      {"standard output appended to a source",
       {"a.cap", "b.cap", "rom.bin"},
       {STDOUT_APPEND, "b.cap", also("B.CAP")},
       2,
       old_image},
      {"standard output redirected to the destination",
       convert,
       {STDOUT_FILE, "rom.bin", also("ROM.BIN")},
       2,
       ""},
      {"standard output appended to the destination",
       convert,
       {STDOUT_APPEND, "rom.bin", also("ROM.BIN")},
       2,
       old_image},
      {"destination /dev/stdout, standard output a file",
       {"a.cap", "/dev/stdout"},
       {STDOUT_CAUGHT, "", also("/DEV/STDOUT")},
       2,
       old_image},
      {"/dev/null as destination and standard output",
       {"a.cap", "/dev/null"},
       {STDOUT_FILE, "/dev/null", ""},
       0,
       old_image},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // Under Wine, the /dev files are Linux's, and a standard output handed
    // over from Linux as a file has no identity that the tool could take,
    // so it is never refused there.
    const bool to_file = c.streams.stdout_kind == STDOUT_FILE ||
                         c.streams.stdout_kind == STDOUT_APPEND;
    // A non-blocking pipe is a POSIX matter.
    if (ToolTest::windows_target() &&
        (to_file || c.args.back().rfind("/dev/", 0) == 0 ||
         c.streams.stdout_kind == STDOUT_SLOW_PIPE)) {
      continue;
    }
    write_source("a.cap", capture);
    write_source("b.cap", make_capture(1, 3000));
    write_source("broken.cap", capture.substr(0, 2999 * 132 + 3 + 50));
    write_file("rom.bin", old_image);
    const ToolRun run = this->run(c.args, c.streams);
    EXPECT_EQ(run.status, c.status);
    // Standard output is caught in three rows: two clean, one refused.
    const bool caught = c.streams.stdout_kind == STDOUT_CAUGHT ||
                        c.streams.stdout_kind == STDOUT_SLOW_PIPE;
    EXPECT_EQ(run.out, caught && c.status == 0 ? progress_lines(0, 3000 * 128) +
                                                     size_line(3000 * 128)
                                               : "");
    const std::string made = read_file("rom.bin");
    EXPECT_TRUE(made == c.image) << "rom.bin differs: " << made.size()
                                 << " bytes for " << c.image.size();
  }
}

// A hint follows its fault message also where standard error goes to the
// same file, and it never changes the outcome: with standard error closed,
// full or a pipe nobody reads, the status is the data's and the image whole.
TEST_F(RunTest, HintsFollowTheirFaultAndChangeNothing) {
  write_source("eot.cap", make_capture(3000) + "\x04");
  const std::string lines = progress_lines(0, 3000 * 128) + "EOT.CAP: No SOH\n";
  const struct {
    const char* what;
    StdoutKind stdout_kind;
    const char* stdout_file;
    bool stderr_closed;
    std::string out;
  } cases[] = {
      {"2>&1 into a file", STDOUT_CAUGHT, "", false,
       lines + eot_hint(3000 * 132)},
      {"standard error closed", STDOUT_CAUGHT, "", true, lines},
      {"2>&1, both full", STDOUT_FILE, "/dev/full", false, ""},
      {"2>&1, both a pipe nobody reads", STDOUT_BROKEN_PIPE, "", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (windows_target() && c.stdout_kind == STDOUT_FILE) continue;
    RunOptions streams;
    streams.stdout_kind = c.stdout_kind;
    streams.stdout_file = c.stdout_file;
    streams.stderr_closed = c.stderr_closed;
    streams.errors_to_output = !c.stderr_closed;
    const ToolRun run = this->run({"eot.cap", "rom.bin"}, streams);
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, c.out);
    EXPECT_TRUE(read_file("rom.bin") == sample_image(3000));
  }
}

// A receiver's note follows the lines of its source where standard error
// goes to the same file: the lines are handed over before it.
TEST_F(RunTest, NotesFollowTheLinesOfTheirSource) {
  write_source("cut.cap", make_capture(3000));
  write_source("eot.cap", make_capture(1, 3000) + "\x04");
  RunOptions streams;
  streams.errors_to_output = true;
  const ToolRun run =
      this->run({"-r", "cut.cap", "eot.cap", "rom.bin"}, streams);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, progress_lines(0, 3000 * 128) +
                         receiver_note("CUT.CAP",
                                       "no EOT at its end, so the transfer "
                                       "may not have finished") +
                         progress_lines(3000 * 128, 3001 * 128) +
                         size_line(3001 * 128));
  EXPECT_TRUE(read_file("rom.bin") == sample_image(3001));
}

// On a terminal every line arrives as it would in a file, and as soon as it
// is finished: with a source that comes slowly through a FIFO, the lines
// of its first block are there before the rest has come.
TEST_F(RunTest, LinesReachATerminalAsSoonAsTheyAreFinished) {
  if (windows_target() || !has_terminals()) {
    GTEST_SKIP() << "no pseudo-terminal, or Wine's own terminal codes";
  }
  std::string cut = make_capture(3);
  cut.resize(2 * 132 + 3 + 47);
  write_source("clean.cap", make_capture(3));
  write_source("wrapped.hp", wrap_capture(make_capture(2, 3)));
  write_source("cut.cap", cut);
  write_source("eot.cap", make_capture(1) + "\x04");
  // Standard error on the terminal too, as in a terminal session.
  RunOptions terminal;
  terminal.stdout_kind = STDOUT_TERMINAL;
  terminal.errors_to_output = true;
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out;
  } cases[] = {
      {{"clean.cap", "wrapped.hp", "rom.bin"},
       0,
       progress_lines(0, 0x180) + progress_lines(0x180, 0x280) +
           size_line(5 * 128)},
      {{"clean.cap", "cut.cap", "rom.bin"},
       3,
       progress_lines(0, 0x180) + progress_lines(0x180, 0x280) +
           "CUT.CAP: EOF at Databyte 47\n"},
      {{"clean.cap", "eot.cap", "rom.bin"},
       3,
       progress_lines(0, 0x180) + progress_lines(0x180, 0x200) +
           "EOT.CAP: No SOH\n" + eot_hint(132)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    const ToolRun run = this->run(c.args, terminal);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
  }

  // Text of many lines, as --help prints, arrives byte for byte.
  const std::string help = this->run({"--help"}).out;
  EXPECT_EQ(this->run({"--help"}, terminal).out, help);

  const std::string capture = make_capture(3);
  RunOptions slow = terminal;
  slow.fifo = "slow.cap";
  slow.feed = {{capture.substr(0, 132), "Checking Address 00080..."},
               {capture.substr(132), ""}};
  const ToolRun run = this->run({"slow.cap", "rom.bin"}, slow);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, progress_lines(0, 0x180) + size_line(3 * 128));
  EXPECT_EQ(read_file("rom.bin"), sample_image(3));
}

TEST_F(RunTest, ReadErrorIsNoEndOfFile) {
  SKIP_UNLESS_LINUX_TARGET();
  write_source("good.cap", make_capture(2));
  const ToolRun run = this->run({"good.cap", "/proc/self/mem", "rom.bin"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, progress_lines(0, 0x100) +
                         "Error: Unable to read file /PROC/SELF/MEM !\n");
  EXPECT_EQ(read_file("rom.bin"), sample_image(2));
}

}  // namespace
}  // namespace romweave
