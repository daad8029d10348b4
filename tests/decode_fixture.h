// Runs the decoders on in-memory streams.

#ifndef ROMWEAVE_TESTS_DECODE_FIXTURE_H_
#define ROMWEAVE_TESTS_DECODE_FIXTURE_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "tests/expected_output.h"

namespace romweave {

// A read-only stream over `bytes` that fails with an error, not an end of
// file, once a read reaches offset `fail_at` (never when it is negative).
FILE* open_bytes(const std::string& bytes, int64_t fail_at = -1);

// What one source did to the state.
struct Decoded {
  int32_t payload_end = NO_LIMIT;
  std::vector<BlockResult> results;  // every read_block() result, in order
  std::string output;                // all that was printed
  std::string destination;           // all that was written
  uint64_t address = 0;
  unsigned expected_block = 0;
  bool read_failed = false;
};

struct DecodeOptions {
  bool probe = true;               // call probe_wrapper() first
  int32_t payload_end = NO_LIMIT;  // used when `probe` is false
  int64_t fail_at = -1;            // see open_bytes()
  int64_t start_position = 0;      // pretend the source starts this far in
  uint64_t start_address = 0;
};

// Decodes `source`, named CAP.BIN, as the driver would: the probe, then
// read_block() until it gives anything but BLOCK_TAKEN.
Decoded decode(const std::string& source, const DecodeOptions& options = {});

}  // namespace romweave

#endif  // ROMWEAVE_TESTS_DECODE_FIXTURE_H_
