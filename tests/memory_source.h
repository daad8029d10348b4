// A source held in memory, for the unit tests and the fuzzer.

#ifndef ROMWEAVE_TESTS_MEMORY_SOURCE_H_
#define ROMWEAVE_TESTS_MEMORY_SOURCE_H_

#include <cstdint>
#include <cstdio>
#include <string>

namespace romweave {

// A read-only stream over a copy of `bytes` that fails with an error, not
// an end of file, once a read reaches offset `fail_at` (never when it is
// negative).  Close it with fclose().
FILE* open_bytes(const std::string& bytes, int64_t fail_at = -1);

}  // namespace romweave

#endif  // ROMWEAVE_TESTS_MEMORY_SOURCE_H_
