// Runs the fuzz target once on each file named, or on each file in each
// folder named, without libFuzzer: the seed corpus and any saved crash can
// be replayed by any compiler's build, sanitized or not.  A failed check
// aborts.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

bool replay(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)),
                          std::istreambuf_iterator<char>());
  if (in.bad()) {
    std::fprintf(stderr, "cannot read %s\n", file.string().c_str());
    return false;
  }
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()),
                         bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    if (fs::is_directory(argv[i], error)) {
      for (const auto& entry : fs::directory_iterator(argv[i])) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
    } else {
      files.emplace_back(argv[i]);
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "usage: decode_fuzz_replay FILE|FOLDER...\n");
    return 2;
  }
  for (const fs::path& file : files) {
    if (!replay(file)) return 1;
  }
  std::printf("%zu inputs replayed\n", files.size());
  return 0;
}
