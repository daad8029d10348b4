#include "tests/run_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#if __has_include(<pty.h>)
#include <pty.h>
#define ROMWEAVE_HAS_OPENPTY 1
#elif __has_include(<util.h>)
#include <util.h>
#define ROMWEAVE_HAS_OPENPTY 1
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace romweave {

namespace fs = std::filesystem;

namespace {

std::string tool_path() {
  const char* chosen = std::getenv("ROMWEAVE_BINARY");
  return fs::absolute(chosen != nullptr && *chosen != '\0' ? chosen
                                                           : ROMWEAVE_BINARY)
      .string();
}

std::string slurp(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string without_carriage_returns(const std::string& text) {
  std::string lines;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lines += text[i];
  }
  return lines;
}

// The write end of a pipe whose read end is already closed.
int broken_pipe() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return -1;
  close(ends[0]);
  return ends[1];
}

// Opens a pseudo-terminal: the tool's end in `tool`, the reader's in
// `reader`, both close-on-exec.
bool open_terminal(int* reader, int* tool) {
#ifdef ROMWEAVE_HAS_OPENPTY
  if (openpty(reader, tool, nullptr, nullptr, nullptr) != 0) return false;
  fcntl(*reader, F_SETFD, FD_CLOEXEC);
  fcntl(*tool, F_SETFD, FD_CLOEXEC);
  return true;
#else
  (void)reader;
  (void)tool;
  return false;
#endif
}

// Reads `fd` into `text` until `shown` is in it (true), or until its end
// or the deadline (false).  An empty `shown` reads to the end.
bool read_until(int fd, std::string& text, const std::string& shown,
                std::chrono::steady_clock::time_point deadline) {
  char part[4096];
  while (shown.empty() || text.find(shown) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd ready = {fd, POLLIN, 0};
    const int events = poll(&ready, 1, static_cast<int>(left.count()));
    if (events < 0 && errno != EINTR) return false;
    if (events <= 0) continue;
    const ssize_t got = read(fd, part, sizeof part);
    // A terminal whose other end has been closed gives EIO: its end.
    if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
      return shown.empty();
    }
    if (got > 0) text.append(part, static_cast<size_t>(got));
  }
  return true;
}

// Puts `fd` on descriptor `target` of a child about to start the tool.  A
// descriptor already in place keeps its close-on-exec flag through dup2,
// so that flag is cleared instead.
bool move_to(int fd, int target) {
  if (fd == target) return fcntl(fd, F_SETFD, 0) == 0;
  return dup2(fd, target) == target;
}

}  // namespace

void ToolTest::SetUp() {
  std::string pattern =
      (fs::temp_directory_path() / "romweave-test-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  folder_ = pattern;
}

void ToolTest::TearDown() {
  std::error_code ignored;
  fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add,
                  ignored);
  fs::remove_all(folder_, ignored);
}

std::string ToolTest::path(const std::string& name) const {
  return (fs::path(folder_) / name).string();
}

void ToolTest::write_file(const std::string& name, const std::string& bytes) {
  std::ofstream out(path(name), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << name;
}

void ToolTest::write_source(const std::string& name, const std::string& bytes) {
  write_file(name, bytes);
  sources_[name] = bytes;
}

std::string ToolTest::read_file(const std::string& name) const {
  return slurp(path(name));
}

bool ToolTest::exists(const std::string& name) const {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(path(name), ignored));
}

std::string ToolTest::upper(std::string name) {
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return name;
}

bool ToolTest::has_terminals() {
  int reader, tool;
  if (!open_terminal(&reader, &tool)) return false;
  close(reader);
  close(tool);
  return true;
}

bool ToolTest::windows_target() {
  const std::string tool = tool_path();
  return tool.size() >= 4 && tool.compare(tool.size() - 4, 4, ".exe") == 0;
}

namespace {

// The descriptors a run's tool gets as 0 to 3 (-1: closed), and where its
// standard output is read while it runs (-1: nowhere).
struct Streams {
  int fds[4] = {-1, -1, -1, -1};
  int reader = -1;
  bool ready = true;  // every descriptor asked for could be made
};

// Opens what `options` asks for, all close-on-exec and above 2, the test
// program's own standard descriptors being open.
Streams open_streams(const RunOptions& options, const std::string& out_name,
                     const std::string& err_name,
                     const std::string& stdout_file) {
  Streams streams;
  int* const fds = streams.fds;
  const int to_file = O_WRONLY | O_CREAT | O_CLOEXEC;
  if (!options.stdin_closed) fds[0] = open("/dev/null", O_RDONLY | O_CLOEXEC);
  switch (options.stdout_kind) {
    case STDOUT_CAUGHT:
      fds[1] = open(out_name.c_str(), to_file | O_TRUNC, 0600);
      break;
    case STDOUT_CLOSED:
      break;
    case STDOUT_BROKEN_PIPE:
      fds[1] = broken_pipe();
      break;
    case STDOUT_FILE:
      fds[1] = open(stdout_file.c_str(), to_file | O_TRUNC, 0644);
      break;
    case STDOUT_APPEND:
      fds[1] = open(stdout_file.c_str(), to_file | O_APPEND, 0644);
      break;
    case STDOUT_SLOW_PIPE: {
      int ends[2];
      if (pipe2(ends, O_CLOEXEC) == 0) {
        fcntl(ends[1], F_SETFL, O_NONBLOCK);
        streams.reader = ends[0];
        fds[1] = ends[1];
      }
      break;
    }
    case STDOUT_TERMINAL:
      open_terminal(&streams.reader, &fds[1]);
      break;
  }
  if (options.errors_to_output && fds[1] >= 0) {
    fds[2] = fcntl(fds[1], F_DUPFD_CLOEXEC, 3);
  } else if (!options.stderr_closed) {
    fds[2] = open(err_name.c_str(), to_file | O_TRUNC, 0600);
  }
  if (options.broken_pipe_as_3) fds[3] = broken_pipe();
  const bool wanted[4] = {!options.stdin_closed,
                          options.stdout_kind != STDOUT_CLOSED,
                          !options.stderr_closed, options.broken_pipe_as_3};
  for (int fd = 0; fd < 4; ++fd) {
    if (wanted[fd] && fds[fd] < 0) streams.ready = false;
  }
  return streams;
}

// Starts `argv` in `folder` with the streams as its descriptors 0 to 3,
// at most `open_file_limit` files open (0: as it is) and SIGPIPE at its
// default, whatever the test program's is.  Returns the child, or -1.
pid_t start_tool(std::vector<char*>& argv, const std::string& folder,
                 const Streams& streams, int open_file_limit) {
  if (!streams.ready) return -1;
  const pid_t child = fork();
  if (child != 0) return child;
  // Only async-signal-safe calls between fork and exec.
  if (chdir(folder.c_str()) != 0) _exit(127);
  for (int fd = 0; fd < 4; ++fd) {
    if (streams.fds[fd] < 0) {
      close(fd);
    } else if (!move_to(streams.fds[fd], fd)) {
      _exit(127);
    }
  }
  if (open_file_limit > 0) {
    const rlimit limit = {static_cast<rlim_t>(open_file_limit),
                          static_cast<rlim_t>(open_file_limit)};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(127);
  }
  signal(SIGPIPE, SIG_DFL);
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  sigprocmask(SIG_UNBLOCK, &pipe_signal, nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

// Feeds the FIFO `fifo` step by step, once the tool has opened it, each
// step's bytes only after the terminal at `reader` showed the last one's
// text, which lands in `shown`.
void feed_fifo(const std::string& fifo, const std::vector<FeedStep>& feed,
               int reader, std::string& shown,
               std::chrono::steady_clock::time_point deadline) {
  int fd = -1;
  while (fd < 0 && std::chrono::steady_clock::now() < deadline) {
    fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) poll(nullptr, 0, 10);
  }
  EXPECT_GE(fd, 0) << "the tool never opened " << fifo;
  for (const FeedStep& step : feed) {
    if (fd < 0) break;
    fcntl(fd, F_SETFL, 0);
    EXPECT_TRUE(write(fd, step.bytes.data(), step.bytes.size()) ==
                static_cast<ssize_t>(step.bytes.size()));
    EXPECT_TRUE(step.shown.empty() ||
                read_until(reader, shown, step.shown, deadline))
        << "the terminal did not show \"" << step.shown
        << "\" before the rest of the source came; it showed:\n"
        << shown;
  }
  if (fd >= 0) close(fd);
}

}  // namespace

ToolRun ToolTest::run(const std::vector<std::string>& args,
                      const RunOptions& options) {
  const std::string out_name = folder_ + ".out";
  const std::string err_name = folder_ + ".err";
  std::vector<std::string> command;
  // ROMWEAVE_RUNNER set, even empty, wins over a cross build's emulator.
  const char* runner = std::getenv("ROMWEAVE_RUNNER");
  if (runner == nullptr) runner = ROMWEAVE_DEFAULT_RUNNER;
  if (*runner != '\0') command.push_back(runner);
  command.push_back(tool_path());
  command.insert(command.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : command) argv.push_back(arg.data());
  argv.push_back(nullptr);

  ToolRun result;
  if (!options.fifo.empty() && mkfifo(path(options.fifo).c_str(), 0600) != 0) {
    ADD_FAILURE() << "cannot make the FIFO " << options.fifo;
  }
  const Streams streams =
      open_streams(options, out_name, err_name, path(options.stdout_file));
  const pid_t child =
      start_tool(argv, folder_, streams, options.open_file_limit);
  for (const int fd : streams.fds) {
    if (fd >= 0) close(fd);
  }
  EXPECT_TRUE(child > 0) << "cannot start the tool";
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::minutes(1);
  if (!options.fifo.empty() && child > 0) {
    feed_fifo(path(options.fifo), options.feed, streams.reader, result.out,
              deadline);
  }
  if (streams.reader >= 0) {
    if (options.stdout_kind == STDOUT_SLOW_PIPE) {
      // Long enough for the tool to fill the pipe and find it full.
      const timespec wait = {0, 300 * 1000 * 1000};
      nanosleep(&wait, nullptr);
    }
    read_until(streams.reader, result.out, "",
               std::chrono::steady_clock::now() + std::chrono::minutes(1));
    close(streams.reader);
    if (options.stdout_kind == STDOUT_TERMINAL) {
      result.out = without_carriage_returns(result.out);
    }
  }
  int wait_status = 0;
  if (child > 0 && waitpid(child, &wait_status, 0) == child &&
      WIFEXITED(wait_status)) {
    result.status = WEXITSTATUS(wait_status);
  }
  if (options.stdout_kind == STDOUT_CAUGHT) result.out = slurp(out_name);
  if (!options.stderr_closed) result.err = slurp(err_name);
  std::remove(out_name.c_str());
  std::remove(err_name.c_str());
  check_run(result, options);
  return result;
}

void ToolTest::check_run(ToolRun& result, const RunOptions& options) const {
  // A Windows program ends its lines with CR LF on standard output, the C
  // runtime's text mode turning every LF into that pair; a bare LF would
  // mean standard output lost its text mode somewhere.
  if (windows_target()) {
    const std::string lines = without_carriage_returns(result.out);
    EXPECT_EQ(result.out.size() - lines.size(),
              static_cast<size_t>(std::count(lines.begin(), lines.end(), '\n')))
        << "every line of a Windows tool ends in CR LF";
    result.out = lines;
    EXPECT_NE(without_carriage_returns(result.err).find(options.expect_err),
              std::string::npos)
        << "standard error: " << result.err;
  } else {
    EXPECT_EQ(result.err, options.expect_err) << "standard error";
  }
  for (const auto& [name, bytes] : sources_) {
    const std::string now = read_file(name);
    EXPECT_TRUE(now == bytes) << "source " << name << " changed: " << now.size()
                              << " bytes, were " << bytes.size();
  }
}

}  // namespace romweave
