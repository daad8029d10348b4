// Reads, checks and copies the blocks of a capture, one at a time.

#include <cstddef>

#include "capture/capture.h"
#include "report/fault_messages.h"
#include "report/progress_line.h"

namespace romweave {

namespace {

// True for the faults of a block that the source ends inside.
bool cut_short(FrameFault fault) {
  return fault == FAULT_EOF_AT_NUMBER || fault == FAULT_EOF_AT_INVERSE ||
         fault == FAULT_EOF_AT_DATA || fault == FAULT_EOF_AT_CHECK;
}

}  // namespace

BlockResult read_block(ConversionState& state, int32_t payload_end) {
  Output& out = *state.standard_output;
  if (!out.failed) print_progress(out, state.address);

  SourceBuffer& in = state.input;
  const int64_t position = in.position;
  // The first byte is read before the limit is looked at, as a reader that
  // takes one byte at a time would; a block may run past the limit.
  if (fill_source(in, 1) == 0) {
    in.read_failed = in.stream_failed;
    return SOURCE_END;
  }
  if (position >= source_limit(payload_end)) return SOURCE_END;

  const size_t got = fill_source(in, BLOCK_SIZE);
  const unsigned char* block = in.bytes + in.begin;
  // Only SOH starts a block here: a 1K frame's STX is "No SOH".
  const FaultReport report =
      first_fault(block, got, block[0] == SOH ? BLOCK_DATA_SIZE : 0, CHECK_SUM,
                  state.expected_block);
  // The data reach the destination before the checksum is known, so a
  // block that fails from there on leaves what was read of it behind.
  put_bytes(*state.destination, block + FRAME_HEADER_SIZE, report.data_read);
  if (report.fault == FAULT_NONE) {
    book_taken_frames(state, block, BLOCK_SIZE, BLOCK_DATA_SIZE, 1);
    return BLOCK_TAKEN;
  }
  // A source cut short by a read error has no fault of its own: the
  // driver reports the error.
  if (cut_short(report.fault) && in.stream_failed) {
    in.read_failed = true;
    return SOURCE_END;
  }
  print_fault(out, state.source_name, report);
  return BLOCK_FAILED;
}

}  // namespace romweave
