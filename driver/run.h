// The run over the sources: command line, files, exit status.

#ifndef ROMWEAVE_DRIVER_RUN_H_
#define ROMWEAVE_DRIVER_RUN_H_

namespace romweave {

// Exit statuses of a run.  When several apply, the lowest but 0 wins.
enum ExitStatus {
  EXIT_CLEAN = 0,               // every source ended without a fault
  EXIT_SOURCE_UNREADABLE = 1,   // a source could not be opened or read
  EXIT_DESTINATION_FAILED = 2,  // the destination could not be opened or
                                // written, or is also a source, or a file
                                // named is also standard output
  EXIT_DATA_FAULT = 3,          // a block of a source was faulty
  EXIT_SYNTAX = 4,              // fewer than two names were given
  EXIT_OUTPUT_FAILED = 5,       // all went well but for standard output,
                                // which could not be written
};

// Runs `romweave [-r|--receiver [--]] source [source ...] destination` with
// the given argument vector (element 0 is the program's name) and returns
// the exit status.  Messages go to standard output; standard error gets
// only what standard output cannot take: that it failed, or that it is one
// of the files, and the hints and notes on what a source's bytes showed.
int run_conversion(int argc, char** argv);

}  // namespace romweave

#endif  // ROMWEAVE_DRIVER_RUN_H_
