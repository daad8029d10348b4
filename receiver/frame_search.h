// The receiver's search for the next sound frame, as a receiver finds the
// sender's retransmission after a damaged frame or a noise EOT.

#ifndef ROMWEAVE_RECEIVER_FRAME_SEARCH_H_
#define ROMWEAVE_RECEIVER_FRAME_SEARCH_H_

#include <cstdint>

#include "capture/conversion_state.h"
#include "xmodem/frame.h"

namespace romweave {

// What find_sound_frame() found.
enum FoundFrame {
  FOUND_NONE,      // no sound frame up to the end, or a read error
  FOUND_EXPECTED,  // a sound frame with the number expected next
  FOUND_OTHER,     // a sound frame with another number
};

// Looks, from the byte after the current position up to `limit` (or the
// end of the source), for the first sound frame that is not a copy of the
// last frame taken; copies are skipped whole.  A frame is sound when it is
// whole, its complement fits its number and its check, or either check
// while `check` is unknown, fits its data.  Leaves the source at the frame
// found, or at the end; FOUND_NONE for a read error sets read_failed.
// `other_end` is where the bytes passed over stop being end bytes
// (is_end_byte()) for good: the offset just behind the last that is not
// one, or the current position where none is.  Each position costs the
// same, whatever the bytes: a candidate's sum and CRC come from running
// values.
FoundFrame find_sound_frame(ConversionState& state, int64_t limit,
                            FrameCheck check, int64_t* other_end);

}  // namespace romweave

#endif  // ROMWEAVE_RECEIVER_FRAME_SEARCH_H_
