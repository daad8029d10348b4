// The progress lines the tool prints before the blocks at addresses
// `first`, `first` + 128, ... up to and including `last`.

#ifndef ROMWEAVE_TESTS_PROGRESS_LINES_H_
#define ROMWEAVE_TESTS_PROGRESS_LINES_H_

#include <cstdint>
#include <cstdio>
#include <string>

namespace romweave {

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

}  // namespace romweave

#endif  // ROMWEAVE_TESTS_PROGRESS_LINES_H_
