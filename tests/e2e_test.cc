// The built tool, run on files in a fresh folder: its standard output,
// exit status and destination, and sources that stay as they were.

#include <filesystem>

#include "tests/expected_output.h"
#include "tests/run_fixture.h"
#include "tools/capture_builder.h"

namespace romweave {
namespace {

namespace fs = std::filesystem;

using RunTest = ToolTest;

TEST_F(RunTest, FewerThanTwoNamesGiveTheSyntaxLine) {
  for (const auto& args :
       {std::vector<std::string>{}, std::vector<std::string>{"rom.bin"}}) {
    const ToolRun run = this->run(args);
    EXPECT_EQ(run.status, 4);
    EXPECT_EQ(run.out, "Syntax: Romweave source [source ...] destination\n");
    EXPECT_TRUE(fs::is_empty(folder_)) << "nothing may be created";
  }
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
  for (const std::string bad : {"missing.cap", "folder", "-x"}) {
    SCOPED_TRACE(bad);
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
  ToolRun run = this->run({"good.cap", "/dev/full"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, progress_lines(0, 40 * 128) +
                         "Error: Unable to write file /DEV/FULL !\n");

  // A fault message printed before it stays.
  std::string broken = make_capture(40);
  broken.resize(broken.size() - 1);
  write_source("broken.cap", broken);
  run = this->run({"broken.cap", "/dev/full"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, progress_lines(0, 39 * 128) +
                         "BROKEN.CAP: EOF at checksum\n" +
                         "Error: Unable to write file /DEV/FULL !\n");
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
