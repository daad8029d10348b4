// Reads, checks and copies the blocks of a capture.

#include <cstddef>
#include <cstring>

#include "capture/capture.h"
#include "capture/frames.h"
#include "capture/progress_line.h"

namespace romweave {

namespace {

unsigned char checksum(const unsigned char* data) {
  // Added in eight bits, which wrap modulo 256 by themselves.
  unsigned char sum = 0;
  for (size_t i = 0; i < BLOCK_DATA_SIZE; ++i) sum += data[i];
  return sum;
}

// Called when the source gave fewer bytes than a check needs: records in
// read_failed whether that was a read error, which ends the source with no
// fault message (the driver reports it), and returns it; a plain end of
// file is a fault.
bool record_read_error(ConversionState& state) {
  state.input.read_failed = state.input.stream_failed;
  return state.input.read_failed;
}

}  // namespace

void print_fault(ConversionState& state, const FaultReport& report) {
  Output& out = *state.standard_output;
  const char* name = state.source_name.c_str();
  const unsigned found = report.found;
  const unsigned wanted = report.wanted;
  switch (report.fault) {
    case FAULT_NONE:
      break;
    case FAULT_NO_SOH:
      print(out, "%s: No SOH\n", name);
      break;
    case FAULT_EOF_AT_NUMBER:
      print(out, "%s: EOF at Block No.\n", name);
      break;
    case FAULT_NUMBER:
      print(out, "%s: Got %u instead of %u Block No\n", name, found, wanted);
      break;
    case FAULT_EOF_AT_INVERSE:
      print(out, "%s: EOF at Inv. Block No.\n", name);
      break;
    case FAULT_INVERSE:
      print(out, "%s: Got %u instead of %u Inv. Block No\n", name, found,
            wanted);
      break;
    case FAULT_EOF_AT_DATA:
      print(out, "%s: EOF at Databyte %d\n", name, static_cast<int>(found));
      break;
    case FAULT_EOF_AT_CHECK:
      print(out, "%s: EOF at checksum\n", name);
      break;
    case FAULT_CHECK:
      print(out, "%s: Got %u instead of %u as checksum\n", name, found, wanted);
      break;
  }
}

BlockResult read_block(ConversionState& state, int32_t payload_end) {
  Output& out = *state.standard_output;
  if (!out.failed) print_progress(out, state.address);

  SourceBuffer& in = state.input;
  const int64_t position = in.position;
  // The first byte is read before the limit is looked at, as a reader that
  // takes one byte at a time would; a block may run past the limit.
  if (fill_source(in, 1) == 0) {
    record_read_error(state);
    return SOURCE_END;
  }
  if (payload_end != NO_LIMIT && position >= payload_end) return SOURCE_END;

  // Each check below looks only at bytes that came before it, so the first
  // fault is the one that reading a byte at a time would meet.
  const size_t got = fill_source(in, BLOCK_SIZE);
  const unsigned char* block = in.bytes + in.begin;
  const unsigned expected = state.expected_block;
  const unsigned complement = 255 - expected;
  FaultReport report;

  if (block[0] != SOH) {
    report.fault = FAULT_NO_SOH;
  } else if (got < 2) {
    report.fault = FAULT_EOF_AT_NUMBER;
  } else if (block[1] != expected) {
    report = {FAULT_NUMBER, block[1], expected};
  } else if (got < 3) {
    report.fault = FAULT_EOF_AT_INVERSE;
  } else if (block[2] != complement) {
    report = {FAULT_INVERSE, block[2], complement};
  } else {
    // The data reaches the destination before the checksum is known, so a
    // block that fails from here on leaves what was read of it behind.
    const unsigned char* data = block + 3;
    const size_t data_got =
        got - 3 < BLOCK_DATA_SIZE ? got - 3 : BLOCK_DATA_SIZE;
    put_bytes(*state.destination, data, data_got);
    if (data_got < BLOCK_DATA_SIZE) {
      report = {FAULT_EOF_AT_DATA, static_cast<unsigned>(data_got), 0};
    } else if (got < BLOCK_SIZE) {
      report.fault = FAULT_EOF_AT_CHECK;
    } else {
      const unsigned sum = checksum(data);
      if (block[BLOCK_SIZE - 1] != sum) {
        report = {FAULT_CHECK, block[BLOCK_SIZE - 1], sum};
      }
    }
  }
  if (report.fault != FAULT_NONE) {
    // A source cut short by a read error has no fault of its own: the
    // driver reports the error.
    const bool cut = report.fault == FAULT_EOF_AT_NUMBER ||
                     report.fault == FAULT_EOF_AT_INVERSE ||
                     report.fault == FAULT_EOF_AT_DATA ||
                     report.fault == FAULT_EOF_AT_CHECK;
    if (cut && record_read_error(state)) return SOURCE_END;
    print_fault(state, report);
    return BLOCK_FAILED;
  }

  book_taken_frames(state, block, BLOCK_SIZE, BLOCK_DATA_SIZE, 1);
  return BLOCK_TAKEN;
}

SourceVerdict decode_source(ConversionState& state) {
  const int32_t payload_end = probe_wrapper(state);
  if (state.input.read_failed) return SOURCE_UNREADABLE;
  state.expected_block = 1;
  state.last_frame_size = 0;
  if (state.receiver) return receive_source(state, payload_end);
  const uint64_t start = state.address;
  BlockResult result;
  do {
    take_sound_blocks(state, source_limit(payload_end));
    result = read_block(state, payload_end);
  } while (result == BLOCK_TAKEN);
  if (state.input.read_failed) return SOURCE_UNREADABLE;
  if (result == SOURCE_END) return SOURCE_CLEAN;
  explain_fault(state, payload_end, (state.address - start) / BLOCK_DATA_SIZE);
  return SOURCE_FAULTY;
}

}  // namespace romweave
