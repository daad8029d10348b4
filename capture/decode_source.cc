// The reading of one source, from the probe to the verdict.

#include "capture/decode_source.h"

#include "capture/capture.h"
#include "capture/hints.h"
#include "capture/sound_blocks.h"
#include "receiver/receiver.h"

namespace romweave {

SourceVerdict decode_source(ConversionState& state) {
  const int32_t payload_end = probe_wrapper(state);
  if (state.input.read_failed) return VERDICT_UNREADABLE;
  state.expected_block = 1;
  state.last_frame_size = 0;
  const int64_t limit = source_limit(payload_end);
  if (state.receiver) return receive_source(state, limit);

  // Nearly every block goes the batch path's way; read_block() takes the
  // one it leaves, and finds the end or the fault.
  const uint64_t start = state.address;
  BlockResult result;
  do {
    take_sound_blocks(state, limit);
    result = read_block(state, payload_end);
  } while (result == BLOCK_TAKEN);
  if (state.input.read_failed) return VERDICT_UNREADABLE;
  if (result == SOURCE_END) return VERDICT_CLEAN;
  explain_fault(state, limit, (state.address - start) / BLOCK_DATA_SIZE);
  return VERDICT_FAULTY;
}

}  // namespace romweave
