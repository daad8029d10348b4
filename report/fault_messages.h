// The one message of a source's fault: what was wrong with which field of
// which block, on standard output.

#ifndef ROMWEAVE_REPORT_FAULT_MESSAGES_H_
#define ROMWEAVE_REPORT_FAULT_MESSAGES_H_

#include <string>

#include "output/output.h"
#include "xmodem/frame.h"

namespace romweave {

// Prints the message of `report` (not FAULT_NONE) on `out`, naming the
// source `name` as the messages show it, upper-cased.
void print_fault(Output& out, const std::string& name,
                 const FaultReport& report);

}  // namespace romweave

#endif  // ROMWEAVE_REPORT_FAULT_MESSAGES_H_
