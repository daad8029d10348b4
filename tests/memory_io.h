// A reader and a writer in memory, for the unit tests and the fuzzer: the
// program reads and writes through them as through a file's, and they
// hand bytes over in pieces, or fail, where a test asks them to.

#ifndef ROMWEAVE_TESTS_MEMORY_IO_H_
#define ROMWEAVE_TESTS_MEMORY_IO_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace romweave {

// A source held in memory: handed over in pieces of the sizes in `pieces`,
// taken in turn (all that is asked for when it is empty), and failing with
// an error, not an end, once a read reaches offset `fail_at` (never when
// it is negative).
struct MemorySource {
  std::string bytes;
  std::vector<size_t> pieces;
  int64_t fail_at = -1;
  size_t offset = 0;      // of the next byte to hand over
  size_t next_piece = 0;  // index into `pieces`
};

Reader memory_reader(MemorySource* source);

// What a memory writer took: every byte handed over, or, once the bytes
// would reach `fail_at` (never when it is negative), a refusal; closing
// fails when `close_fails` is set.
struct MemorySink {
  std::string bytes;
  int64_t fail_at = -1;
  bool close_fails = false;
  bool closed = false;
};

Writer memory_writer(MemorySink* sink);

}  // namespace romweave

#endif  // ROMWEAVE_TESTS_MEMORY_IO_H_
