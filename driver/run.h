// The run over the sources: command line, streams, exit status.

#ifndef ROMWEAVE_DRIVER_RUN_H_
#define ROMWEAVE_DRIVER_RUN_H_

namespace romweave {

// Exit statuses of a run.
enum ExitStatus {
  EXIT_CLEAN = 0,               // every source ended without a fault
  EXIT_SOURCE_UNREADABLE = 1,   // a source could not be opened or read
  EXIT_DESTINATION_FAILED = 2,  // the destination could not be opened or
                                // written, or is also a source
  EXIT_DATA_FAULT = 3,          // a block of a source was faulty
  EXIT_SYNTAX = 4,              // fewer than two names were given
};

// Runs `romweave source [source ...] destination` with the given argument
// vector (element 0 is the program's name) and returns the exit status.
// All messages go to standard output.
int run_conversion(int argc, char** argv);

}  // namespace romweave

#endif  // ROMWEAVE_DRIVER_RUN_H_
