// The reading of a capture as the XMODEM receiver on that line would have
// read it: its rules are at the top of receiver.cc.

#ifndef ROMWEAVE_RECEIVER_RECEIVER_H_
#define ROMWEAVE_RECEIVER_RECEIVER_H_

#include <cstdint>

#include "capture/conversion_state.h"
#include "capture/decode_source.h"
#include "report/note.h"
#include "xmodem/frame.h"

namespace romweave {

// Reads the rest of a probed source, up to `limit`, as an XMODEM receiver:
// prints a progress line before each attempt and, when the source ends or
// fails, the note and the cancel hint on standard error.  The verdict is
// that of decode_source().
SourceVerdict receive_source(ConversionState& state, int64_t limit);

// Reads on from the current position as the XMODEM receiver would, up to
// `limit`, printing and writing nothing, and tells whether that reading
// comes to a clean end; `record` says what it skipped.  `check` is the
// source's check as far as the frames before the current position show it.
// The counters of `state` are left as they were, and the source read on;
// a read error, or a source that goes on past RECEIVER_TRIAL_LIMIT bytes
// from here, means false.
bool receiver_would_read(ConversionState& state, int64_t limit,
                         FrameCheck check, ReceptionRecord* record);

// How far the trial above reads at most: a capture of any machine this
// tool is for is far smaller, and a device that never ends must not keep
// a failed run from ending.
constexpr int64_t RECEIVER_TRIAL_LIMIT = int64_t{1} << 28;

}  // namespace romweave

#endif  // ROMWEAVE_RECEIVER_RECEIVER_H_
