// The receiving end of an XMODEM transfer, played against a real sender
// over pipes, so that tests can decode captures made by code that nobody
// here wrote; and the sending end of a recorded transfer, played again to
// a real receiver, so that its file can be compared with the tool's image.
//
// The receiver asks for checksum mode with NAK (or CRC mode with 'C'),
// answers every frame and every EOT, with ACK unless told otherwise, and
// records every byte the sender writes to its standard output: that is the
// capture a line monitor would have seen.  It never judges a frame;
// deciding whether the capture is sound is the tool's job.

#ifndef ROMWEAVE_TESTS_INTEROP_XMODEM_RECEIVER_H_
#define ROMWEAVE_TESTS_INTEROP_XMODEM_RECEIVER_H_

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace romweave {

constexpr char XMODEM_SOH = 0x01;  // starts a frame of 128 data bytes
constexpr char XMODEM_STX = 0x02;  // starts a frame of 1024 data bytes
constexpr char XMODEM_EOT = 0x04;
constexpr char XMODEM_ACK = 0x06;
constexpr char XMODEM_NAK = 0x15;
constexpr char XMODEM_CRC = 'C';  // asks for CRC mode instead of NAK

// How long each end waits before it gives up and kills the other.
struct ReceiveLimits {
  std::chrono::milliseconds total{60000};  // the whole transfer
  std::chrono::milliseconds quiet{15000};  // silence once the sender spoke
  // Silence before the first byte after which the NAK is sent again, if
  // the sender has taken the previous one from the pipe.
  std::chrono::milliseconds nak_again{10000};
};

// How the receiver answers a frame or an EOT.
enum LineAnswer {
  ANSWER_ACK,      // taken
  ANSWER_NAK,      // asked for again
  ANSWER_GARBLED,  // an ACK that noise turned into 0x86, then the NAK of a
                   // receiver whose wait for the next frame ran out
  ANSWER_DAMAGED,  // recorded with one bit flipped, as noise would, and
                   // asked for again
};

enum LineUnitKind { LINE_FRAME, LINE_EOT };

// One answer other than ACK: to the `nth` frame (resends counted) or EOT
// of the transfer, from 1.
struct LineEvent {
  LineUnitKind kind;
  int nth;
  LineAnswer answer;
  size_t flip_at = 3;  // ANSWER_DAMAGED: the byte of the frame whose top
                       // bit is flipped; 3 is the first data byte
};

// How the receiver plays its side of one transfer.
struct LineScript {
  bool crc = false;               // ask for CRC-16 with 'C', not NAK
  std::vector<LineEvent> events;  // answered other than with ACK
};

// A frame or an EOT as the receiver recorded and answered it.
struct LineUnit {
  size_t offset;  // in the capture
  size_t size;    // bytes: the whole frame, or 1 for an EOT
  char start;     // its first byte as sent: XMODEM_SOH, _STX or _EOT
  LineAnswer answer;
};

// What one transfer did.
struct Transfer {
  std::string capture;   // every byte the sender wrote to standard output,
                         // damaged where the script said so
  std::string messages;  // the tail of what it wrote to standard error
  int status = -1;       // exit status; -1 when it was killed or crashed
  bool timed_out = false;
  std::vector<LineUnit> units;  // the frames and EOTs answered, in order
  int naks = 0;                 // NAKs (or 'C's) sent to start the transfer
};

// Starts `command` (searched in PATH) with its standard input and output
// on pipes and receives from it as `script` says, until it ends or a limit
// is reached; a sender still running then is killed.  It is always reaped.
Transfer receive_xmodem(const std::vector<std::string>& command,
                        const ReceiveLimits& limits = ReceiveLimits(),
                        const LineScript& script = LineScript());

// Starts the receiver `command` and plays the sender's side of `recorded`
// to it: each of its units, as recorded, once the receiver has answered
// the one before (or asked to start), up to the first EOT, where its input
// ends.  Returns the receiver's exit status, or -1 when it was killed at a
// limit or crashed; its messages go to `messages`.
int replay_xmodem(const std::vector<std::string>& command,
                  const Transfer& recorded, const ReceiveLimits& limits,
                  std::string* messages);

// The sender and the receiver of Debian's lrzsz package: ROMWEAVE_SX or
// ROMWEAVE_RX when set, otherwise `sx` or `lsx`, `rx` or `lrx` from PATH;
// empty when there is none.
std::string find_sx();
std::string find_rx();

// A short account of a transfer for failure messages.
std::string describe(const Transfer& transfer);

}  // namespace romweave

#endif  // ROMWEAVE_TESTS_INTEROP_XMODEM_RECEIVER_H_
