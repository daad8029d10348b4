// Hints for the capture mistakes that real users make.
//
// A fault message says what is wrong with a block, not why.  Some faults
// have a cause that the bytes show plainly: another kind of XMODEM block, a
// CRC-16 where the checksum belongs, a block sent again because its
// acknowledgement was lost.  Others show only in what follows: the sender's
// end of transmission kept behind the last block, a block that noise
// damaged and the sender sent again further on, a cancelled transfer.  For
// those the rest of the source is read as an XMODEM receiver would read
// it, printing nothing; where that reading comes to a clean end, the hint
// names the option that reads the capture so.  Nothing here runs before a
// source has failed.

#include "capture/hints.h"

#include "platform/platform.h"
#include "receiver/receiver.h"
#include "report/hints.h"
#include "report/note.h"
#include "xmodem/crc16.h"

namespace romweave {

namespace {

// True when a first block, its number and complement those of block 1,
// is followed by the CRC of its data in `high` and `low`.
bool carries_crc(const unsigned char* block, unsigned char high,
                 unsigned char low) {
  return block[0] == SOH && block[1] == 1 && block[2] == 254 &&
         crc16(block + FRAME_HEADER_SIZE, BLOCK_DATA_SIZE) ==
             (static_cast<unsigned>(high) << 8 | low);
}

// The hint that the failed block at the start of the `got` bytes at
// `block` (got > 0) calls for by itself, if any.
bool hint_of_block(const ConversionState& state, const unsigned char* block,
                   size_t got, uint64_t blocks_taken, Hint* hint) {
  // A CRC block is one byte longer: the first fails on its checksum, or,
  // when the CRC's high byte happens to equal the sum, its low byte stands
  // where the second block should start.
  if ((blocks_taken == 0 && got > BLOCK_SIZE &&
       carries_crc(block, block[BLOCK_SIZE - 1], block[BLOCK_SIZE])) ||
      (blocks_taken == 1 &&
       carries_crc(state.last_frame, state.last_frame[BLOCK_SIZE - 1],
                   block[0]))) {
    hint->kind = HINT_CRC_CAPTURE;
  } else if (blocks_taken > 0 && got >= BLOCK_SIZE &&
             repeats_last_frame(state, block, BLOCK_SIZE)) {
    hint->kind = HINT_REPEATED_BLOCK;
  } else if (block[0] == STX) {
    hint->kind = HINT_ONE_K_CAPTURE;
  } else {
    return false;
  }
  return true;
}

// The hint for a source that the receiver's reading, tried from the failed
// block at `offset` on, reads to a clean end, as `record` tells it: what it
// skips where that is one thing.
Hint receiver_hint(const ReceptionRecord& r, int64_t offset) {
  const uint64_t skipped = r.damaged.count + r.copies.count +
                           r.noise_eots.count + (r.noise_offset >= 0 ? 1 : 0);
  Hint hint;
  hint.offset = offset;
  hint.block = r.resumed_number;
  hint.other = r.resumed_offset;
  // Skipping nothing, it can only have ended at the EOT where the block
  // failed.
  if (skipped == 0) {
    hint.kind = HINT_END_OF_TRANSMISSION;
  } else if (skipped == 1 && r.damaged.count == 1) {
    hint.kind = HINT_RESENT;
  } else if (skipped == 1 && r.noise_eots.count == 1) {
    hint.kind = HINT_NOISE_EOT;
  } else if (skipped == 1 && r.noise_offset >= 0) {
    // The noise begins where the block failed.
    hint.kind = HINT_NOISE_BEFORE_EOT;
    hint.other = r.eot_offset;
  } else {
    hint.kind = HINT_RECEIVER_READS;
  }
  return hint;
}

}  // namespace

void explain_fault(ConversionState& state, int64_t limit,
                   uint64_t blocks_taken) {
  SourceBuffer& in = state.input;
  // The failed block, and the byte behind it that a CRC block would need.
  const size_t got = fill_source(in, BLOCK_SIZE + 1);
  if (got == 0) return;
  const bool cancel = in.bytes[in.begin] == CAN;
  Hint hint;
  hint.offset = in.position;
  if (!hint_of_block(state, in.bytes + in.begin, got, blocks_taken, &hint)) {
    // The blocks taken settled the check as a receiver settles it: a first
    // block that carried a CRC too has had its hint above.
    ReceptionRecord record;
    const FrameCheck check = blocks_taken == 0 ? CHECK_UNKNOWN : CHECK_SUM;
    if (receiver_would_read(state, limit, check, &record)) {
      hint = receiver_hint(record, hint.offset);
    } else if (!cancel) {
      return;
    }
  }
  print_hint(*state.standard_output, *state.standard_error, hint);
  if (names_receiver(hint.kind)) offer_receiver_reading();
}

}  // namespace romweave
