// Runs the decoders on sources in memory, with standard output and the
// destination in memory too.

#ifndef ROMWEAVE_TESTS_DECODE_FIXTURE_H_
#define ROMWEAVE_TESTS_DECODE_FIXTURE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "capture/capture.h"
#include "capture/decode_source.h"
#include "tests/expected_output.h"
#include "tests/memory_io.h"

namespace romweave {

// A ConversionState whose outputs collect what is printed and written.
struct MemoryRun {
  MemoryRun();
  // Everything printed or written so far.
  std::string output();
  std::string errors();
  std::string destination();

  std::unique_ptr<ConversionState> state;

 private:
  MemorySink printed_;
  MemorySink errors_;
  MemorySink written_;
  char output_buffer_[4096] = {};
  char error_buffer_[256] = {};
  char destination_buffer_[4096] = {};
  Output standard_output_;
  Output standard_error_;
  Output destination_;
};

// What decoding one source did.
struct Decoded {
  SourceVerdict verdict = VERDICT_CLEAN;
  std::string output;       // all that was printed
  std::string hint;         // all that went to standard error
  std::string destination;  // all that was written
  uint64_t address = 0;
  unsigned expected_block = 0;
};

// How the source is read (see MemorySource), each set by name:
// decode(capture, DecodeOptions().in_pieces({7}).as_receiver()).
struct DecodeOptions {
  int64_t fail_at = -1;        // reading fails at this offset
  uint64_t start_address = 0;  // the address before the source
  std::vector<size_t> pieces;  // the sizes the bytes come in
  bool receiver = false;       // read as an XMODEM receiver

  DecodeOptions& failing_at(int64_t offset) {
    fail_at = offset;
    return *this;
  }
  DecodeOptions& starting_at(uint64_t address) {
    start_address = address;
    return *this;
  }
  DecodeOptions& in_pieces(std::vector<size_t> sizes) {
    pieces = std::move(sizes);
    return *this;
  }
  DecodeOptions& as_receiver(bool yes = true) {
    receiver = yes;
    return *this;
  }
};

// Decodes `source`, named CAP.BIN, as the driver does.
Decoded decode(const std::string& source, const DecodeOptions& options = {});

// What probe_wrapper() makes of the start of `source`.
int32_t probe(const std::string& source);

}  // namespace romweave

#endif  // ROMWEAVE_TESTS_DECODE_FIXTURE_H_
