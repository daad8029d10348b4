// A slow reading of one source as an XMODEM receiver, written from the
// receiver's rules alone, to hold the tool's fast reading to.
//
// Every candidate frame is checked from scratch, its sum added up and its
// CRC-16 worked out a bit at a time, at every offset the rules look at: no
// running values, no spans, no batch of sound blocks.  It is far too slow
// for the tool and small enough to check by reading.

#ifndef ROMWEAVE_FUZZ_RECEIVER_MODEL_H_
#define ROMWEAVE_FUZZ_RECEIVER_MODEL_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "capture/capture.h"
#include "capture/decode_source.h"

namespace romweave {

// What the wrapper probe makes of the first `readable` bytes of a source,
// `error` telling whether a read error, not the end, comes behind them.
struct ProbedSource {
  bool read_failed = false;        // the 13 bytes of a header could not be read
  size_t start = 0;                // the first byte behind the header, if any
  int32_t payload_end = NO_LIMIT;  // the end of a calculator string
};

ProbedSource probe_bytes(const std::string& bytes, size_t readable, bool error);

// What the receiver's reading of one source prints and writes.
struct ReceiverReading {
  SourceVerdict verdict = VERDICT_CLEAN;
  std::string output;    // progress lines, then a fault's message
  std::string errors;    // the note, then a cancel's hint
  std::string image;     // the data of the frames taken, and of a fault
  uint64_t address = 0;  // the data bytes taken over all sources, after it
  // A read error lies among the bytes the reading may need: the tool may
  // stop at any step before the end with VERDICT_UNREADABLE, having printed
  // and written only a prefix of the above, which is the reading of the
  // source cut at the error.
  bool may_stop_early = false;
};

// Reads `bytes`, the source named `name`, as the receiver on the line
// would have, from `address` on; `fail_at`, when not negative, is the
// offset at which reading the source fails.
ReceiverReading read_as_receiver(const std::string& bytes,
                                 const std::string& name, uint64_t address,
                                 int64_t fail_at = -1);

}  // namespace romweave

#endif  // ROMWEAVE_FUZZ_RECEIVER_MODEL_H_
