// The batch path, which both readings take for blocks with the checksum.

#ifndef ROMWEAVE_CAPTURE_SOUND_BLOCKS_H_
#define ROMWEAVE_CAPTURE_SOUND_BLOCKS_H_

#include <cstdint>

#include "capture/conversion_state.h"

namespace romweave {

// Takes, as read_block() would, every block that is whole in the read-ahead
// and sound and begins before `start_limit`, with its progress line.  Reads
// nothing and prints no fault; any other block is left to the caller.
void take_sound_blocks(ConversionState& state, int64_t start_limit);

}  // namespace romweave

#endif  // ROMWEAVE_CAPTURE_SOUND_BLOCKS_H_
