// The note of the receiver's reading: one line on standard error that says
// what the reading of a source skipped or met, made from a plain record of
// it that the reading fills in.

#ifndef ROMWEAVE_REPORT_NOTE_H_
#define ROMWEAVE_REPORT_NOTE_H_

#include <cstdint>
#include <string>

#include "output/output.h"

namespace romweave {

// How many offsets of each kind a note lists.
constexpr uint64_t NOTE_OFFSETS = 8;

// Places where bytes of one kind were skipped: how many, and the first few.
struct SkipList {
  uint64_t count = 0;
  int64_t first[NOTE_OFFSETS] = {};

  void add(int64_t offset) {
    if (count < NOTE_OFFSETS) first[count] = offset;
    ++count;
  }
};

// How a source that the receiver's reading did not fail came to its end.
enum Ending {
  ENDED_AT_EOT,           // an EOT, with nothing but end bytes behind it
  ENDED_AT_EOT_AND_MORE,  // an EOT, with other bytes behind, but no frame
  ENDED_WITHOUT_EOT,      // the end of the source or of its string
};

// What the receiver's reading of one source did.
struct ReceptionRecord {
  bool crc = false;           // the frames end in a CRC-16
  bool one_k = false;         // a 1K frame was taken
  SkipList damaged;           // damaged stretches, each up to the sender's copy
  SkipList copies;            // copies of the frame just taken
  SkipList noise_eots;        // EOTs with the frame expected next behind them
  int64_t noise_offset = -1;  // noise before the EOT it ended at, or -1
  Ending ending = ENDED_WITHOUT_EOT;
  int64_t eot_offset = -1;     // the EOT it ended at, or -1
  int64_t cancel_offset = -1;  // where CAN CAN cancelled, or -1
  // Where the reading went on after the last damaged stretch or noise EOT,
  // and the number of the frame it found there.
  int64_t resumed_offset = -1;
  unsigned resumed_number = 0;
};

// Prints the note on the source `name` on `err`, after handing over what
// `out` holds, when the record holds anything to say; `ended` tells that
// the source came to its end rather than to a fault, which the ending
// items are for.  A transfer that ends in its EOT and needed nothing else
// gets none.
void print_note(Output& out, Output& err, const std::string& name,
                const ReceptionRecord& record, bool ended);

}  // namespace romweave

#endif  // ROMWEAVE_REPORT_NOTE_H_
