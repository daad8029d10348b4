// Hints for the capture mistakes that real users make.
//
// A fault message says what is wrong with a block, not why.  Some faults
// have a cause that the bytes show plainly: the sender's end of
// transmission kept behind the last block, another kind of XMODEM block, a
// cancelled transfer, a block sent again because its acknowledgement was
// lost.  For those, one more line on standard error says what happened and
// what to do, which is mostly to read the capture as a receiver would.
// Nothing here runs before a source has failed.

#include <cinttypes>
#include <cstring>

#include "capture/capture.h"
#include "capture/crc16.h"

namespace romweave {

namespace {

enum Hint {
  NO_HINT,
  CRC_CAPTURE,          // a capture of 133-byte blocks with a CRC-16
  REPEATED_BLOCK,       // a block sent twice
  ONE_K_CAPTURE,        // a capture of 1029-byte blocks
  CANCELLED,            // the sender or receiver cancelled
  END_OF_TRANSMISSION,  // the EOT behind the last block, and nothing else
};

// True when a first block, its number and complement those of block 1,
// is followed by the CRC of its data in `high` and `low`.
bool carries_crc(const unsigned char* block, unsigned char high,
                 unsigned char low) {
  return block[0] == SOH && block[1] == 1 && block[2] == 254 &&
         crc16(block + 3, BLOCK_DATA_SIZE) ==
             (static_cast<unsigned>(high) << 8 | low);
}

// True when nothing but EOT and padding follows the byte at the start of
// the read-ahead, up to the end of the source or of its string.
bool only_end_bytes_follow(SourceBuffer& in, int32_t payload_end) {
  consume_source(in, 1);
  for (;;) {
    if (payload_end != NO_LIMIT && in.position >= payload_end) return true;
    if (fill_source(in, 1) == 0) return !in.stream_failed;
    const unsigned char byte = in.bytes[in.begin];
    if (byte != EOT && byte != SUB) return false;
    consume_source(in, 1);
  }
}

// Which hint the failed block at the start of the read-ahead calls for.
Hint hint_for(ConversionState& state, int32_t payload_end,
              uint64_t blocks_taken) {
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
  if (block[0] == CAN) return CANCELLED;
  if (block[0] == EOT && only_end_bytes_follow(in, payload_end)) {
    return END_OF_TRANSMISSION;
  }
  return NO_HINT;
}

// Prints the line of `hint`, about the bytes at `offset`.
void print_hint(ConversionState& state, Hint hint, int64_t offset) {
  // With both on one terminal or file, the hint follows the fault message.
  flush_output(*state.standard_output);
  Output& err = *state.standard_error;
  switch (hint) {
    case CRC_CAPTURE:
      print(err,
            "Hint: the first block ends in the CRC-16 of its data: this is an "
            "XMODEM-CRC capture; romweave --receiver reads it as it is.\n");
      break;
    case REPEATED_BLOCK:
      print(err,
            "Hint: the block at offset %" PRId64
            " repeats the one before it "
            "byte for byte, as a sender does when an acknowledgement is "
            "lost; romweave --receiver reads the capture as it is.\n",
            offset);
      break;
    case ONE_K_CAPTURE:
      print(err,
            "Hint: 0x02 starts a 1K block: this is an XMODEM-1K capture; "
            "romweave --receiver reads it as it is.\n");
      break;
    case CANCELLED:
      print(err,
            "Hint: 0x18 at offset %" PRId64
            " cancelled the transmission: "
            "the capture is incomplete.\n",
            offset);
      break;
    case END_OF_TRANSMISSION:
      print(err,
            "Hint: offset %" PRId64
            " holds the sender's end of transmission "
            "(EOT), and every block before it is in the image; romweave "
            "--receiver reads the capture as it is.\n",
            offset);
      break;
    case NO_HINT:
      break;
  }
  flush_output(err);
}

}  // namespace

void explain_fault(ConversionState& state, int32_t payload_end,
                   uint64_t blocks_taken) {
  const int64_t offset = state.input.position;
  const Hint hint = hint_for(state, payload_end, blocks_taken);
  if (hint != NO_HINT) print_hint(state, hint, offset);
}

void explain_cancel(ConversionState& state, int64_t offset) {
  print_hint(state, CANCELLED, offset);
}

}  // namespace romweave
