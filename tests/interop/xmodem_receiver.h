// The receiving end of an XMODEM transfer, played against a real sender
// over pipes, so that tests can decode captures made by code that nobody
// here wrote.
//
// The receiver asks for checksum mode with NAK (or CRC mode with 'C'),
// answers every block and every EOT with ACK, and records every byte the
// sender writes to its standard output: that is the capture a line monitor
// would have seen.  It never judges a block; deciding whether the capture
// is sound is the tool's job.

#ifndef ROMWEAVE_TESTS_INTEROP_XMODEM_RECEIVER_H_
#define ROMWEAVE_TESTS_INTEROP_XMODEM_RECEIVER_H_

#include <chrono>
#include <string>
#include <vector>

namespace romweave {

constexpr char XMODEM_SOH = 0x01;
constexpr char XMODEM_EOT = 0x04;
constexpr char XMODEM_ACK = 0x06;
constexpr char XMODEM_NAK = 0x15;
constexpr char XMODEM_CRC = 'C';  // asks for CRC mode instead of NAK

// How long the receiver waits before it gives up and kills the sender.
struct ReceiveLimits {
  std::chrono::milliseconds total{60000};  // the whole transfer
  std::chrono::milliseconds quiet{15000};  // silence once the sender spoke
  // Silence before the first byte after which the NAK is sent again, if
  // the sender has taken the previous one from the pipe.
  std::chrono::milliseconds nak_again{10000};
};

// What one transfer did.
struct Transfer {
  std::string capture;   // every byte the sender wrote to standard output
  std::string messages;  // the tail of what it wrote to standard error
  int status = -1;       // exit status; -1 when it was killed or crashed
  bool timed_out = false;
  int blocks = 0;  // blocks answered with ACK
  int eots = 0;    // EOTs answered with ACK
  int naks = 0;    // NAKs sent to start the transfer
};

// Starts `command` (searched in PATH) with its standard input and output
// on pipes and receives from it, in CRC mode when `crc` is set, until it
// ends or a limit is reached; a sender still running then is killed.  It is
// always reaped.
Transfer receive_xmodem(const std::vector<std::string>& command,
                        const ReceiveLimits& limits = ReceiveLimits(),
                        bool crc = false);

// The sender of Debian's lrzsz package: ROMWEAVE_SX when set, otherwise
// `sx` or `lsx` from PATH; empty when there is none.
std::string find_sx();

// A short account of a transfer for failure messages.
std::string describe(const Transfer& transfer);

}  // namespace romweave

#endif  // ROMWEAVE_TESTS_INTEROP_XMODEM_RECEIVER_H_
