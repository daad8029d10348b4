// The lines the tool prints, as the tests expect them.

#ifndef ROMWEAVE_TESTS_EXPECTED_OUTPUT_H_
#define ROMWEAVE_TESTS_EXPECTED_OUTPUT_H_

#include <cstdint>
#include <cstdio>
#include <string>

namespace romweave {

// The progress lines printed before the blocks at addresses `first`,
// `first` + 128, ... up to and including `last`.
inline std::string progress_lines(uint64_t first, uint64_t last) {
  std::string lines;
  char line[64];
  for (uint64_t address = first; address <= last; address += 128) {
    std::snprintf(line, sizeof line, "Checking Address %05llX...\n",
                  static_cast<unsigned long long>(address));
    lines += line;
  }
  return lines;
}

// The size line of an image of `bytes` bytes.
inline std::string size_line(uint64_t bytes) {
  char line[64];
  std::snprintf(line, sizeof line, "ROM size = %05llXh = %lluKB\n",
                static_cast<unsigned long long>(bytes),
                static_cast<unsigned long long>(bytes / 1024));
  return line;
}

}  // namespace romweave

#endif  // ROMWEAVE_TESTS_EXPECTED_OUTPUT_H_
