// What the driver calls for each source: its reading, plain or as an
// XMODEM receiver, from the first byte to the verdict.

#ifndef ROMWEAVE_CAPTURE_DECODE_SOURCE_H_
#define ROMWEAVE_CAPTURE_DECODE_SOURCE_H_

#include "capture/conversion_state.h"

namespace romweave {

// How decode_source() found a source.
enum SourceVerdict {
  VERDICT_CLEAN,       // its blocks were all sound, and are in the image
  VERDICT_FAULTY,      // a block was not; its one message has been printed
  VERDICT_UNREADABLE,  // reading it failed; nothing printed about it
};

// Decodes the source that state.input has just been set to read: looks for
// a calculator string header, then takes block after block from block
// number 1 on until the source ends or a block fails, in the plain reading
// or, with state.receiver set, as an XMODEM receiver.  Each block's
// progress line is printed and its data written as it is taken; after a
// fault or a read error the data bytes read of the last block have been
// written too.  A fault whose bytes show a known capture mistake gets a
// hint on standard error; a receiver's reading that skipped or met
// anything worth saying gets a note there first.
SourceVerdict decode_source(ConversionState& state);

}  // namespace romweave

#endif  // ROMWEAVE_CAPTURE_DECODE_SOURCE_H_
