#include "report/fault_messages.h"

namespace romweave {

void print_fault(Output& out, const std::string& name,
                 const FaultReport& report) {
  const char* source = name.c_str();
  const unsigned found = report.found;
  const unsigned wanted = report.wanted;
  switch (report.fault) {
    case FAULT_NONE:
      break;
    case FAULT_NO_SOH:
      print(out, "%s: No SOH\n", source);
      break;
    case FAULT_EOF_AT_NUMBER:
      print(out, "%s: EOF at Block No.\n", source);
      break;
    case FAULT_NUMBER:
      print(out, "%s: Got %u instead of %u Block No\n", source, found, wanted);
      break;
    case FAULT_EOF_AT_INVERSE:
      print(out, "%s: EOF at Inv. Block No.\n", source);
      break;
    case FAULT_INVERSE:
      print(out, "%s: Got %u instead of %u Inv. Block No\n", source, found,
            wanted);
      break;
    case FAULT_EOF_AT_DATA:
      print(out, "%s: EOF at Databyte %d\n", source, static_cast<int>(found));
      break;
    case FAULT_EOF_AT_CHECK:
      print(out, "%s: EOF at checksum\n", source);
      break;
    case FAULT_CHECK:
      print(out, "%s: Got %u instead of %u as checksum\n", source, found,
            wanted);
      break;
  }
}

}  // namespace romweave
