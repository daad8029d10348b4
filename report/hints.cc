#include "report/hints.h"

#include <cinttypes>

namespace romweave {

void print_hint(Output& out, Output& err, const Hint& hint) {
  flush_output(out);
  switch (hint.kind) {
    case HINT_CRC_CAPTURE:
      print(err,
            "Hint: the first block ends in the CRC-16 of its data: this is an "
            "XMODEM-CRC capture; romweave --receiver reads it as it is.\n");
      break;
    case HINT_REPEATED_BLOCK:
      print(err,
            "Hint: the block at offset %" PRId64
            " repeats the one before it byte for byte, as a sender does when "
            "an acknowledgement is lost; romweave --receiver reads the "
            "capture as it is.\n",
            hint.offset);
      break;
    case HINT_ONE_K_CAPTURE:
      print(err,
            "Hint: 0x02 starts a 1K block: this is an XMODEM-1K capture; "
            "romweave --receiver reads it as it is.\n");
      break;
    case HINT_END_OF_TRANSMISSION:
      print(err,
            "Hint: offset %" PRId64
            " holds the sender's end of transmission (EOT), and every block "
            "before it is in the image; romweave --receiver reads the capture "
            "as it is.\n",
            hint.offset);
      break;
    case HINT_RESENT:
      print(err,
            "Hint: the sender sent block %u again at offset %" PRId64
            ": romweave --receiver skips the damaged bytes before it.\n",
            hint.block, hint.other);
      break;
    case HINT_NOISE_EOT:
      print(err,
            "Hint: the EOT at offset %" PRId64
            " is noise: block %u follows it at offset %" PRId64
            "; romweave --receiver skips it.\n",
            hint.offset, hint.block, hint.other);
      break;
    case HINT_NOISE_BEFORE_EOT:
      print(err,
            "Hint: the bytes at offset %" PRId64
            " are noise before the sender's end of transmission (EOT) at "
            "offset %" PRId64 "; romweave --receiver skips them.\n",
            hint.offset, hint.other);
      break;
    case HINT_RECEIVER_READS:
      print(err,
            "Hint: read as an XMODEM receiver reads it, the capture comes to a "
            "clean end: romweave --receiver reads it, and its note tells what "
            "it skips.\n");
      break;
    case HINT_CANCELLED:
      print(err,
            "Hint: 0x18 at offset %" PRId64
            " cancelled the transmission: the capture is incomplete.\n",
            hint.offset);
      break;
  }
  flush_output(err);
}

}  // namespace romweave
