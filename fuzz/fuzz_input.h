// How the fuzz target reads its input, shared with the seed writer.

#ifndef ROMWEAVE_FUZZ_FUZZ_INPUT_H_
#define ROMWEAVE_FUZZ_FUZZ_INPUT_H_

#include <cstddef>

#include "capture/source_buffer.h"
#include "xmodem/frame.h"

namespace romweave {

// Bits of the first input byte; the offsets they ask for follow it, two
// bytes each (little-endian), in this order, then the piece size.
constexpr unsigned char TWO_SOURCES = 1;  // split the rest at an offset
constexpr unsigned char READ_ERROR = 2;   // the last source fails at one
constexpr unsigned char AFTER_LEAD = 4;   // LEAD_BLOCKS in front of source 1
constexpr unsigned char IN_PIECES = 8;    // sources handed over in pieces of
                                          // 1 + the next byte
constexpr unsigned char RECEIVER = 16;    // read as an XMODEM receiver

// As many sound blocks as the first read-ahead holds whole, so that the
// block behind them crosses its end.
constexpr size_t LEAD_BLOCKS = SOURCE_BUFFER_SIZE / BLOCK_SIZE;

}  // namespace romweave

#endif  // ROMWEAVE_FUZZ_FUZZ_INPUT_H_
