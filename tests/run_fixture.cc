#include "tests/run_fixture.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
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

bool ToolTest::windows_target() {
  const std::string tool = tool_path();
  return tool.size() >= 4 && tool.compare(tool.size() - 4, 4, ".exe") == 0;
}

ToolRun ToolTest::run(const std::vector<std::string>& args) {
  const std::string out_name = folder_ + ".out";
  const std::string err_name = folder_ + ".err";
  std::vector<std::string> command;
  const char* runner = std::getenv("ROMWEAVE_RUNNER");
  if (runner != nullptr && *runner != '\0') command.push_back(runner);
  command.push_back(tool_path());
  command.insert(command.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : command) argv.push_back(arg.data());
  argv.push_back(nullptr);

  ToolRun result;
  const pid_t child = fork();
  if (child == 0) {
    // Only async-signal-safe calls between fork and exec.
    int out = open(out_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in = open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0 || chdir(folder_.c_str()) != 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int wait_status = 0;
  if (child > 0 && waitpid(child, &wait_status, 0) == child &&
      WIFEXITED(wait_status)) {
    result.status = WEXITSTATUS(wait_status);
  }
  // A Windows program ends its lines with CR LF on standard output, the C
  // runtime's text mode turning every LF into that pair; a bare LF would
  // mean standard output lost its text mode somewhere.
  result.out = slurp(out_name);
  if (windows_target()) {
    const std::string lines = without_carriage_returns(result.out);
    EXPECT_EQ(result.out.size() - lines.size(),
              static_cast<size_t>(std::count(lines.begin(), lines.end(), '\n')))
        << "every line of a Windows tool ends in CR LF";
    result.out = lines;
  }
  result.err = slurp(err_name);
  if (!windows_target()) {
    EXPECT_EQ(result.err, "") << "nothing goes to stderr";
  }
  std::remove(out_name.c_str());
  std::remove(err_name.c_str());

  for (const auto& [name, bytes] : sources_) {
    EXPECT_EQ(read_file(name), bytes) << "source " << name << " changed";
  }
  return result;
}

}  // namespace romweave
