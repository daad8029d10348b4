// What an XMODEM frame is: its layout, its check, and its first fault as a
// reader taking one byte at a time meets it.  Both readings of a capture
// and the capture builder share these; nothing here knows of sources,
// outputs or messages.

#ifndef ROMWEAVE_XMODEM_FRAME_H_
#define ROMWEAVE_XMODEM_FRAME_H_

#include <cstddef>
#include <cstdint>

namespace romweave {

// The bytes that mean something on an XMODEM line.
constexpr unsigned char SOH = 0x01;  // starts a frame of 128 data bytes
constexpr unsigned char STX = 0x02;  // starts a frame of 1024 data bytes
constexpr unsigned char EOT = 0x04;  // the sender's end of transmission
constexpr unsigned char BS = 0x08;   // sent after a cancel, to erase it
constexpr unsigned char CAN = 0x18;  // two in a row cancel the transfer
constexpr unsigned char SUB = 0x1A;  // padding, CP/M's end of file

// A frame's header:
//   start byte    (1)    SOH or STX
//   number        (1)    1 for a source's first frame, then +1 modulo 256
//   complement    (1)    255 minus the number
constexpr size_t FRAME_HEADER_SIZE = 1 + 1 + 1;

// One block, the frame of the plain reading:
//   header        (3)    SOH, number, complement
//   data          (128)
//   checksum      (1)    sum of the data bytes modulo 256
constexpr size_t BLOCK_DATA_SIZE = 128;
constexpr size_t SUM_SIZE = 1;
constexpr size_t BLOCK_SIZE = FRAME_HEADER_SIZE + BLOCK_DATA_SIZE + SUM_SIZE;

// A receiver also takes frames of 1024 data bytes behind STX, and either
// size may end in a CRC-16 of its data (polynomial 0x1021 from 0, high byte
// first) instead of the checksum: one or the other for a whole
// transmission.
constexpr size_t ONE_K_DATA_SIZE = 1024;
constexpr size_t CRC_SIZE = 2;
constexpr size_t MAX_FRAME_SIZE =
    FRAME_HEADER_SIZE + ONE_K_DATA_SIZE + CRC_SIZE;

// How the frames of a source end: one check for the whole transmission,
// unknown to a receiver until it takes the first frame.
enum FrameCheck { CHECK_UNKNOWN, CHECK_SUM, CHECK_CRC };

// The data size of a frame that starts with `start`, or 0 for a byte that
// starts none.
inline size_t frame_data_size(unsigned char start) {
  return start == SOH ? BLOCK_DATA_SIZE : start == STX ? ONE_K_DATA_SIZE : 0;
}

// The size of a frame of `data_size` data bytes ending in `check`, which is
// known.
inline size_t frame_size(size_t data_size, FrameCheck check) {
  return FRAME_HEADER_SIZE + data_size +
         (check == CHECK_CRC ? CRC_SIZE : SUM_SIZE);
}

// The checksum of `size` data bytes: their sum modulo 256.
inline unsigned char sum8(const unsigned char* data, size_t size) {
  // Added in eight bits, which wrap modulo 256 by themselves.
  unsigned char sum = 0;
  for (size_t i = 0; i < size; ++i) sum += data[i];
  return sum;
}

// Writes to running[i] the checksum of the first i of `size` bytes, for i
// from 0 to `size`: the sum of any stretch of them is then one subtraction.
void running_sum8(const unsigned char* bytes, size_t size,
                  unsigned char* running);

// The bytes that end a transfer on either side and may follow its EOT: more
// EOTs, SUB padding, and a receiver's cancel, CAN, with the backspaces (BS)
// that erase it on a terminal.  Any other byte behind an EOT is worth a
// note.
inline bool is_end_byte(unsigned char byte) {
  return byte == EOT || byte == SUB || byte == CAN || byte == BS;
}

// True when the `got` bytes at `frame` hold a whole frame of `data_size`
// data bytes whose complement fits its number and whose `check` (known)
// fits its data.  Its number may be any.
bool frame_is_sound(const unsigned char* frame, size_t got, size_t data_size,
                    FrameCheck check);

// The first fault of a frame, field by field, as a reader taking one byte
// at a time meets it.
enum FrameFault {
  FAULT_NONE,
  FAULT_NO_SOH,          // the start byte is no frame's
  FAULT_EOF_AT_NUMBER,   // the source ends before the block number
  FAULT_NUMBER,          // not the number expected
  FAULT_EOF_AT_INVERSE,  // the source ends before the complement
  FAULT_INVERSE,         // not the complement of the number expected
  FAULT_EOF_AT_DATA,     // the source ends inside the data
  FAULT_EOF_AT_CHECK,    // the source ends before the whole check
  FAULT_CHECK,           // the check differs from the data's
};

// A fault with what its message shows: the value found (or, at the end of
// the data, how many data bytes came) and the one wanted; and how many of
// the frame's data bytes a reader has read by then, which it has written.
struct FaultReport {
  FrameFault fault = FAULT_NONE;
  unsigned found = 0;
  unsigned wanted = 0;
  size_t data_read = 0;
};

// The first fault of the frame in the `got` bytes at `frame` (got > 0),
// which carries `data_size` data bytes (0: its start byte starts no frame
// the reader takes) and ends in `check` (known), where the number
// `expected` is due; FAULT_NONE for a sound frame.  A field the bytes end
// before is an end-of-file fault.
FaultReport first_fault(const unsigned char* frame, size_t got,
                        size_t data_size, FrameCheck check, unsigned expected);

}  // namespace romweave

#endif  // ROMWEAVE_XMODEM_FRAME_H_
