// Capture decoding: the wrapper probe, the block reader, and the reading
// of an XMODEM receiver.
//
// A capture is the byte stream of one XMODEM transmission exactly as it
// came over the line: 132-byte blocks, back to back, each made of a start
// byte, a block number, its ones' complement, 128 data bytes and an 8-bit
// arithmetic checksum of the data.  A capture may also have been kept on an
// HP 48 calculator as a string object and saved in the calculator's binary
// transfer format, which puts a 13-byte header in front of the characters;
// probe_wrapper() recognises that header and says where the string ends.
//
// Asked to, the decoders read a capture as an XMODEM receiver on that line
// would have: 1K blocks and CRC-16 checks too, the sender's second copy of
// a damaged or unacknowledged block, and the end of transmission.
//
// The decoders own nothing.  They work on the outputs, counters and source
// held in one ConversionState, which the driver fills in.

#ifndef ROMWEAVE_CAPTURE_CAPTURE_H_
#define ROMWEAVE_CAPTURE_CAPTURE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "capture/source_buffer.h"
#include "output/output.h"

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

// What else a receiver meets on the line.  A frame is a block as above,
// or one that starts with STX and carries 1024 data bytes; either may end
// in a CRC-16 of its data (polynomial 0x1021 from 0, high byte first)
// instead of the checksum, one or the other for a whole transmission.
constexpr unsigned char STX = 0x02;  // starts a frame of 1024 data bytes
constexpr unsigned char EOT = 0x04;  // the sender's end of transmission
constexpr unsigned char BS = 0x08;   // sent after a cancel, to erase it
constexpr unsigned char CAN = 0x18;  // two in a row cancel the transfer
constexpr unsigned char SUB = 0x1A;  // padding, CP/M's end of file
constexpr size_t ONE_K_DATA_SIZE = 1024;
constexpr size_t CRC_SIZE = 2;
constexpr size_t MAX_FRAME_SIZE = 1 + 1 + 1 + ONE_K_DATA_SIZE + CRC_SIZE;

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

// The offset at or past which no byte of a source counts, as the decoders
// past the probe take it: payload_end, or no limit at all.  A source may
// be larger than NO_LIMIT bytes.
constexpr int64_t UNLIMITED = INT64_MAX;
inline int64_t source_limit(int32_t payload_end) {
  return payload_end == NO_LIMIT ? UNLIMITED : payload_end;
}

// The state of one run, shared by the driver and the decoders.
struct ConversionState {
  // The image: the data of every block taken.
  Output* destination = nullptr;
  // Progress lines and fault messages.  Once it has failed, nothing more
  // is formatted for it.
  Output* standard_output = nullptr;
  // Hints on what a fault in a source's data means, and the notes of a
  // receiver's reading.
  Output* standard_error = nullptr;
  // Upper-cased name of the current source, as the fault messages show it.
  std::string source_name;
  // Read as an XMODEM receiver would: the user asked for it.
  bool receiver = false;
  // Data bytes taken so far over all sources; +128 per block taken, +1024
  // per 1K frame.
  uint64_t address = 0;
  // Number the next block must carry: 1 for a source's first block.
  uint8_t expected_block = 1;
  // The last frame taken from the current source, kept for the hints and
  // to know a copy of it: by the time a later frame comes, the read-ahead
  // may have moved past it.  Its size is 0 before the source's first.
  unsigned char last_frame[MAX_FRAME_SIZE];
  size_t last_frame_size = 0;
  // The current source and its read-ahead.
  SourceBuffer input;
};

// How decode_source() found a source.
enum SourceVerdict {
  SOURCE_CLEAN,       // its blocks were all sound, and are in the image
  SOURCE_FAULTY,      // a block was not; its one message has been printed
  SOURCE_UNREADABLE,  // reading it failed; nothing printed about it
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

// What one read_block() call found.
enum BlockResult {
  BLOCK_TAKEN = 0,   // a sound block was read and its data written
  SOURCE_END = 1,    // no further block in this source; nothing printed
  BLOCK_FAILED = 2,  // a fault was found and its one message printed
};

// The steps of decode_source().

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

// Takes, as read_block() would, every block that is whole in the read-ahead
// and sound and begins before `start_limit`.  Reads nothing and prints no
// fault; any other block is left to the caller.
void take_sound_blocks(ConversionState& state, int64_t start_limit);

// Reads the rest of a probed source as an XMODEM receiver: frames of 128
// or 1024 bytes, with the checksum or a CRC-16; damaged frames and copies
// of the frame just taken skipped where a later frame shows the sender's
// retransmission; the end of transmission.  Prints a progress line before
// each attempt and, when the source ends or fails, the note and the cancel
// hint on standard error.  The verdict is that of decode_source().
SourceVerdict receive_source(ConversionState& state, int32_t payload_end);

// Follows a read_block() that gave BLOCK_FAILED, with the source still at
// the failed block, `blocks_taken` blocks into it: when the bytes show the
// end of the transmission, a 1K block, a cancel, a CRC capture or a block
// sent twice, prints one line saying so on standard error, after flushing
// standard output.  It may read on to the end of the source; a read error
// only means no hint.
void explain_fault(ConversionState& state, int32_t payload_end,
                   uint64_t blocks_taken);

// The hint for a transfer cancelled by CAN CAN at `offset`, as
// explain_fault() gives it.
void explain_cancel(ConversionState& state, int64_t offset);

}  // namespace romweave

#endif  // ROMWEAVE_CAPTURE_CAPTURE_H_
