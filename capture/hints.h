// Which hint, if any, a fault of the plain reading calls for.

#ifndef ROMWEAVE_CAPTURE_HINTS_H_
#define ROMWEAVE_CAPTURE_HINTS_H_

#include <cstdint>

#include "capture/conversion_state.h"

namespace romweave {

// Follows a read_block() that gave BLOCK_FAILED, with the source still at
// the failed block, `blocks_taken` blocks into it: when the bytes show the
// end of the transmission, a 1K block, a cancel, a CRC capture, a block
// sent twice, or anything else that the receiver's reading reads on, prints
// one line saying so on standard error, after flushing standard output.
// It may read on to the end of the source, or `limit`; a read error only
// means no hint.  The counters are left as they were.
void explain_fault(ConversionState& state, int64_t limit,
                   uint64_t blocks_taken);

}  // namespace romweave

#endif  // ROMWEAVE_CAPTURE_HINTS_H_
