// Capture decoding: the wrapper probe and the block reader, the two steps
// that the plain reading of a source repeats.
//
// A capture is the byte stream of one XMODEM transmission exactly as it
// came over the line: 132-byte blocks, back to back, each made of a start
// byte, a block number, its ones' complement, 128 data bytes and an 8-bit
// arithmetic checksum of the data (xmodem/frame.h).  A capture may also
// have been kept on an HP 48 calculator as a string object and saved in the
// calculator's binary transfer format, which puts a 13-byte header in front
// of the characters; probe_wrapper() recognises that header and says where
// the string ends.
//
// The decoders own nothing.  They work on the outputs, counters and source
// held in one ConversionState, which the driver fills in; decode_source()
// (capture/decode_source.h) runs them over a source.

#ifndef ROMWEAVE_CAPTURE_CAPTURE_H_
#define ROMWEAVE_CAPTURE_CAPTURE_H_

#include <cstddef>
#include <cstdint>

#include "capture/conversion_state.h"
#include "xmodem/frame.h"

namespace romweave {

// The calculator's binary transfer header:
//   signature     (7)    "HPHP48-", compared byte for byte
//   revision      (1)    not examined
//   object        (5)    ten nibbles, low nibble of each byte first: the
//                        20-bit prolog, then the 20-bit length L in nibbles
//                        (L counts its own five nibbles and the characters)
//   characters    (L/2 - 2 bytes, here the capture itself)
constexpr size_t WRAPPER_HEADER_SIZE = 13;
constexpr char WRAPPER_SIGNATURE[] = "HPHP48-";
constexpr uint32_t STRING_PROLOG = 0x02A2C;

// A payload_end that sets no limit: the source is read to its end.
constexpr int32_t NO_LIMIT = 0x7FFFFFFF;

// The limit that every other step takes (source_buffer.h): payload_end as
// a 64-bit offset, or none at all, since a source may be larger than
// NO_LIMIT bytes.
inline int64_t source_limit(int32_t payload_end) {
  return payload_end == NO_LIMIT ? UNLIMITED : payload_end;
}

// What one read_block() call found.
enum BlockResult {
  BLOCK_TAKEN = 0,   // a sound block was read and its data written
  SOURCE_END = 1,    // no further block in this source; nothing printed
  BLOCK_FAILED = 2,  // a fault was found and its one message printed
};

// Looks at the start of a freshly reset source.  A calculator string header
// is skipped and the offset just behind the string is returned; any other
// source is left at offset 0 (or at 13 behind a header whose object is not
// a string) and NO_LIMIT is returned.  Prints nothing; a read error is left
// in state.input.read_failed.
int32_t probe_wrapper(ConversionState& state);

// Prints the progress line, then takes one block: checks its start byte,
// number, complement and checksum, writes its data to the destination, and
// advances `address` and `expected_block`.  No block begins at or past
// `payload_end`.  On BLOCK_FAILED one fault message has been printed and
// the data bytes read of the failed block have been written; `address` and
// `expected_block` are unchanged.  A read error gives SOURCE_END with
// state.input.read_failed set and no message.
BlockResult read_block(ConversionState& state, int32_t payload_end);

}  // namespace romweave

#endif  // ROMWEAVE_CAPTURE_CAPTURE_H_
