// Capture decoding: the wrapper probe and the block reader.
//
// A capture is the byte stream of one XMODEM transmission exactly as it
// came over the line: 132-byte blocks, back to back, each made of a start
// byte, a block number, its ones' complement, 128 data bytes and an 8-bit
// arithmetic checksum of the data.  A capture may also have been kept on an
// HP 48 calculator as a string object and saved in the calculator's binary
// transfer format, which puts a 13-byte header in front of the characters;
// probe_wrapper() recognises that header and says where the string ends.
//
// The decoders own nothing.  They work on the streams and counters held in
// one ConversionState, which the driver opens, fills in and closes.

#ifndef ROMWEAVE_CAPTURE_CAPTURE_H_
#define ROMWEAVE_CAPTURE_CAPTURE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace romweave {

// One block on the line:
//   start byte    (1)    SOH
//   block number  (1)    1 for a source's first block, then +1 modulo 256
//   complement    (1)    255 minus the block number
//   data          (128)
//   checksum      (1)    sum of the data bytes modulo 256
constexpr unsigned char SOH = 0x01;
constexpr size_t BLOCK_DATA_SIZE = 128;
constexpr size_t BLOCK_SIZE = 1 + 1 + 1 + BLOCK_DATA_SIZE + 1;

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

// How much of a source is read ahead in one go.
constexpr size_t SOURCE_BUFFER_SIZE = 64 * 1024;

// What one read_block() call found.
enum BlockResult {
  BLOCK_TAKEN = 0,   // a sound block was read and its data written
  SOURCE_END = 1,    // no further block in this source; nothing printed
  BLOCK_FAILED = 2,  // a fault was found and its one message printed
};

// Bytes of the current source read ahead of the decoders.  Keeping them
// here lets a block be checked in place and the stream position be known
// without asking the stream, and lets the probe look at the header without
// having to seek back when it is not one.
struct SourceBuffer {
  unsigned char bytes[SOURCE_BUFFER_SIZE];
  size_t begin = 0;            // index of the next unread byte
  size_t end = 0;              // one past the last byte read from the stream
  int64_t position = 0;        // file offset of bytes[begin]
  bool at_eof = false;         // the stream has no more bytes
  bool stream_failed = false;  // the stream reported an error, not an end
  // A decoder needed a byte that the stream failed to give.  Read-ahead
  // that fails past the bytes a decoder needs sets only stream_failed.
  bool read_failed = false;
};

// The state of one run, shared by the driver and the decoders.
struct ConversionState {
  // Destination image, opened for binary writing by the driver.
  FILE* destination = nullptr;
  // Current source, opened for binary reading by the driver.
  FILE* source = nullptr;
  // Read-ahead of `source`; reset_source() empties it for a new source.
  SourceBuffer input;
  // Upper-cased name of the current source, as the fault messages show it.
  std::string source_name;
  // Data bytes taken so far over all sources; +128 per block taken.
  uint64_t address = 0;
  // Number the next block must carry: 1 for a source's first block.
  uint8_t expected_block = 1;
};

// Makes `source` the current source, read from its first byte on.
void reset_source(ConversionState& state, FILE* source);

// Looks at the start of a freshly reset source.  A calculator string header
// is skipped and the offset just behind the string is returned; any other
// source is left at offset 0 (or at 13 behind a header whose object is not
// a string) and NO_LIMIT is returned.  Prints nothing.  A read error is
// left in state.input.read_failed for the driver to report.
int32_t probe_wrapper(ConversionState& state);

// Prints the progress line, then takes one block from the source: checks
// its start byte, number, complement and checksum, writes its data to the
// destination, and advances `address` and `expected_block`.  No block
// begins at or past `payload_end`.  On BLOCK_FAILED one fault message has
// been printed and the data bytes read of the failed block have been
// written; `address` and `expected_block` are unchanged.  A read error
// gives SOURCE_END with state.input.read_failed set and no message.
BlockResult read_block(ConversionState& state, int32_t payload_end);

}  // namespace romweave

#endif  // ROMWEAVE_CAPTURE_CAPTURE_H_
