// The hints: one line on standard error after a fault, saying what the
// bytes show went wrong and what to do, which is mostly to read the capture
// as the XMODEM receiver read it.  Which hint a fault calls for is decided
// where the fault is found; here is only what each one says.

#ifndef ROMWEAVE_REPORT_HINTS_H_
#define ROMWEAVE_REPORT_HINTS_H_

#include <cstdint>

#include "output/output.h"

namespace romweave {

enum HintKind {
  HINT_CRC_CAPTURE,          // the first block ends in the CRC-16 of its data
  HINT_REPEATED_BLOCK,       // the block at `offset` repeats the one before
  HINT_ONE_K_CAPTURE,        // 0x02, the start of a 1K block
  HINT_END_OF_TRANSMISSION,  // the EOT at `offset` ends the transfer
  HINT_RESENT,               // the sender sent `block` again at `other`
  HINT_NOISE_EOT,            // the EOT at `offset` is noise: `block` follows
                             // at `other`
  HINT_NOISE_BEFORE_EOT,     // noise at `offset` before the EOT at `other`
  HINT_RECEIVER_READS,       // a receiver reads on, skipping several things
  HINT_CANCELLED,            // 0x18 at `offset` cancelled the transfer
};

// A hint, with the places in the file and the block it names.
struct Hint {
  HintKind kind = HINT_CANCELLED;
  int64_t offset = 0;
  unsigned block = 0;
  int64_t other = 0;
};

// True for every hint that points to --receiver: all but the cancel's.
inline bool names_receiver(HintKind kind) { return kind != HINT_CANCELLED; }

// Prints the hint's line on `err`, after handing over what `out` holds: with
// both on one terminal or file, the hint follows the fault message.
void print_hint(Output& out, Output& err, const Hint& hint);

}  // namespace romweave

#endif  // ROMWEAVE_REPORT_HINTS_H_
