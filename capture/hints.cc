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
// names the option that reads the capture so.  One line on standard error
// says what happened and what to do.  Nothing here runs before a source
// has failed.

#include <cinttypes>
#include <cstring>

#include "capture/capture.h"
#include "capture/crc16.h"
#include "capture/frames.h"

namespace romweave {

namespace {

enum Hint {
  NO_HINT,
  CRC_CAPTURE,     // a capture of 133-byte blocks with a CRC-16
  REPEATED_BLOCK,  // a block sent twice
  ONE_K_CAPTURE,   // a capture of 1029-byte blocks
};

// True when a first block, its number and complement those of block 1,
// is followed by the CRC of its data in `high` and `low`.
bool carries_crc(const unsigned char* block, unsigned char high,
                 unsigned char low) {
  return block[0] == SOH && block[1] == 1 && block[2] == 254 &&
         crc16(block + 3, BLOCK_DATA_SIZE) ==
             (static_cast<unsigned>(high) << 8 | low);
}

// Which hint the bytes of the failed block, at the start of the read-ahead,
// call for by themselves.
Hint hint_for(ConversionState& state, uint64_t blocks_taken) {
  SourceBuffer& in = state.input;
  // The failed block, and the byte behind it that a CRC block would need.
  const size_t got = fill_source(in, BLOCK_SIZE + 1);
  const unsigned char* block = in.bytes + in.begin;
  if (got == 0) return NO_HINT;
  // A CRC block is one byte longer: the first fails on its checksum, or,
  // when the CRC's high byte happens to equal the sum, its low byte stands
  // where the second block should start.
  if ((blocks_taken == 0 && got > BLOCK_SIZE &&
       carries_crc(block, block[BLOCK_SIZE - 1], block[BLOCK_SIZE])) ||
      (blocks_taken == 1 &&
       carries_crc(state.last_frame, state.last_frame[BLOCK_SIZE - 1],
                   block[0]))) {
    return CRC_CAPTURE;
  }
  if (block[0] == SOH && blocks_taken > 0 && got >= BLOCK_SIZE &&
      block[1] == static_cast<uint8_t>(state.expected_block - 1) &&
      std::memcmp(block, state.last_frame, BLOCK_SIZE) == 0) {
    return REPEATED_BLOCK;
  }
  if (block[0] == STX) return ONE_K_CAPTURE;
  return NO_HINT;
}

// Standard error, for a hint: with both on one terminal or file, the hint
// follows the fault message.
Output& hint_output(ConversionState& state) {
  flush_output(*state.standard_output);
  return *state.standard_error;
}

void print_hint(ConversionState& state, Hint hint, int64_t offset) {
  switch (hint) {
    case CRC_CAPTURE:
      print(hint_output(state),
            "Hint: the first block ends in the CRC-16 of its data: this is an "
            "XMODEM-CRC capture; romweave --receiver reads it as it is.\n");
      break;
    case REPEATED_BLOCK:
      print(hint_output(state),
            "Hint: the block at offset %" PRId64
            " repeats the one before it byte for byte, as a sender does "
            "when an acknowledgement is lost; romweave --receiver reads "
            "the capture as it is.\n",
            offset);
      break;
    case ONE_K_CAPTURE:
      print(hint_output(state),
            "Hint: 0x02 starts a 1K block: this is an XMODEM-1K capture; "
            "romweave --receiver reads it as it is.\n");
      break;
    case NO_HINT:
      return;
  }
  flush_output(*state.standard_error);
  offer_receiver_reading();
}

// The hint for a source that the receiver's reading, tried from the
// failed block at `offset` on, reads to a clean end, as `record` tells it:
// what it skips where that is one thing.
void print_receiver_hint(ConversionState& state, const ReceptionRecord& r,
                         int64_t offset) {
  const uint64_t skipped = r.damaged.count + r.copies.count +
                           r.noise_eots.count + (r.noise_offset >= 0 ? 1 : 0);
  if (skipped == 0 && r.ending != ENDED_WITHOUT_EOT && r.eot_offset == offset) {
    print(hint_output(state),
          "Hint: offset %" PRId64
          " holds the sender's end of transmission (EOT), and every block "
          "before it is in the image; romweave --receiver reads the capture "
          "as it is.\n",
          offset);
  } else if (skipped == 1 && r.damaged.count == 1) {
    print(hint_output(state),
          "Hint: the sender sent block %u again at offset %" PRId64
          ": romweave --receiver skips the damaged bytes before it.\n",
          r.resumed_number, r.resumed_offset);
  } else if (skipped == 1 && r.noise_eots.count == 1) {
    print(hint_output(state),
          "Hint: the EOT at offset %" PRId64
          " is noise: block %u follows it at offset %" PRId64
          "; romweave --receiver skips it.\n",
          r.noise_eots.first[0], r.resumed_number, r.resumed_offset);
  } else if (skipped == 1 && r.noise_offset >= 0) {
    print(hint_output(state),
          "Hint: the bytes at offset %" PRId64
          " are noise before the sender's end of transmission (EOT) at "
          "offset %" PRId64 "; romweave --receiver skips them.\n",
          r.noise_offset, r.eot_offset);
  } else {
    print(hint_output(state),
          "Hint: read as an XMODEM receiver reads it, the capture comes to a "
          "clean end: romweave --receiver reads it, and its note tells what "
          "it skips.\n");
  }
  flush_output(*state.standard_error);
  offer_receiver_reading();
}

}  // namespace

void explain_fault(ConversionState& state, int32_t payload_end,
                   uint64_t blocks_taken) {
  SourceBuffer& in = state.input;
  const int64_t offset = in.position;
  const Hint hint = hint_for(state, blocks_taken);
  if (hint != NO_HINT) {
    print_hint(state, hint, offset);
    return;
  }
  const bool cancel = fill_source(in, 1) > 0 && in.bytes[in.begin] == CAN;
  // The blocks taken settled the check as the receiver settles it: a first
  // block that carried a CRC too has had its hint above.
  ReceptionRecord record;
  if (receiver_would_read(state, source_limit(payload_end),
                          blocks_taken == 0 ? CHECK_UNKNOWN : CHECK_SUM,
                          &record)) {
    print_receiver_hint(state, record, offset);
  } else if (cancel) {
    explain_cancel(state, offset);
  }
}

void explain_cancel(ConversionState& state, int64_t offset) {
  print(hint_output(state),
        "Hint: 0x18 at offset %" PRId64
        " cancelled the transmission: the capture is incomplete.\n",
        offset);
  flush_output(*state.standard_error);
}

}  // namespace romweave
