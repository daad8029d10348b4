// Runs the built tool in a fresh temporary folder.

#ifndef ROMWEAVE_TESTS_RUN_FIXTURE_H_
#define ROMWEAVE_TESTS_RUN_FIXTURE_H_

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace romweave {

// What one run of the tool did.
struct ToolRun {
  int status = -1;  // exit status, or -1 when it did not exit normally
  std::string out;  // standard output when caught; a Windows tool's CR LF
                    // read as LF
  std::string err;  // standard error, as written
};

// Where a run's standard output goes.
enum StdoutKind {
  STDOUT_CAUGHT,       // a file of the fixture's, returned in ToolRun::out
  STDOUT_CLOSED,       // descriptor 1 closed
  STDOUT_BROKEN_PIPE,  // a pipe whose read end is closed before the run
  STDOUT_FILE,         // `> stdout_file`: created or cut, as the shell does
  STDOUT_APPEND,       // `>> stdout_file`
  STDOUT_SLOW_PIPE,    // a non-blocking pipe, read only once the tool has
                       // filled it; returned in ToolRun::out
  STDOUT_TERMINAL,     // a pseudo-terminal; returned in ToolRun::out with
                       // its CR LF read as LF
};

// One step of feeding a FIFO source: `bytes` are written to it, then the
// terminal must show `shown` before the next step, for at most a minute
// (room for valgrind and emulators).
struct FeedStep {
  std::string bytes;
  std::string shown;
};

// The standard streams of one run.  The defaults suit most tests: output
// and errors caught, nothing to read.
struct RunOptions {
  StdoutKind stdout_kind = STDOUT_CAUGHT;
  // For STDOUT_FILE and STDOUT_APPEND: a name in the folder, or an absolute
  // one such as /dev/full.
  std::string stdout_file;
  // What standard error must hold.  A Windows tool's may also carry Wine's
  // own messages, so there it need only contain this.
  std::string expect_err;
  bool stderr_closed = false;
  bool stdin_closed = false;
  // Descriptor 3 is a pipe whose read end is closed before the run, so
  // that /proc/self/fd/3 names a pipe whose reader has gone.
  bool broken_pipe_as_3 = false;
  // The most files the tool may hold open at once; 0 leaves it as it is.
  int open_file_limit = 0;
  // A FIFO of this name is made in the folder and fed as `feed` says,
  // then closed.
  std::string fifo{};
  std::vector<FeedStep> feed{};
  // Standard error goes where standard output goes, as with 2>&1.
  bool errors_to_output = false;
};

// Each test gets a fresh folder that is the tool's working folder, so file
// names are passed relative to it.  The tool is the freshly built one, or
// the one named by ROMWEAVE_BINARY, started through ROMWEAVE_RUNNER (such
// as `wine`) when that is set, else through a cross build's emulator.
class ToolTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes a file in the folder and remembers it as a source that no run
  // may change.
  void write_source(const std::string& name, const std::string& bytes);
  // Writes a file in the folder without any such promise.
  void write_file(const std::string& name, const std::string& bytes);
  std::string read_file(const std::string& name) const;
  bool exists(const std::string& name) const;
  std::string path(const std::string& name) const;

  // Runs the tool with these arguments and streams and checks, as a
  // failure of the test, its standard error and that no file written by
  // write_source() changed.  The tool starts with SIGPIPE at its default,
  // whatever the test program's is.
  ToolRun run(const std::vector<std::string>& args,
              const RunOptions& options = {});
  // The checks run() makes of a finished run; turns a Windows tool's CR LF
  // into LF.
  void check_run(ToolRun& result, const RunOptions& options) const;

  // `name` as the tool's messages show it: a to z in capitals.
  static std::string upper(std::string name);

  // True when the tool under test is a Windows program.
  static bool windows_target();
  // True when this system has pseudo-terminals the tests can open.
  static bool has_terminals();

  std::string folder_;
  std::map<std::string, std::string> sources_;
};

// Skips a test that needs files only Linux has.
#define SKIP_UNLESS_LINUX_TARGET()                             \
  do {                                                         \
    if (::romweave::ToolTest::windows_target())                \
      GTEST_SKIP() << "needs a file that only Linux provides"; \
  } while (0)

}  // namespace romweave

#endif  // ROMWEAVE_TESTS_RUN_FIXTURE_H_
