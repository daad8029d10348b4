// The run over the sources.

#include "driver/run.h"

#include <cinttypes>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "capture/decode_source.h"
#include "output/output.h"
#include "platform/platform.h"

#ifndef ROMWEAVE_VERSION
#define ROMWEAVE_VERSION "unknown"
#endif

namespace romweave {

namespace {

const char SYNTAX_LINE[] = "Syntax: Romweave source [source ...] destination\n";

const char HELP[] =
    "        romweave -r|--receiver [--] source [source ...] destination\n"
    "        romweave --help|--version\n"
    "Joins the data of the blocks of each source, in the order given, into\n"
    "the destination.  A source is a raw XMODEM capture (132-byte blocks,\n"
    "8-bit checksum) or one kept as an HP 48 string.\n"
    "-r, --receiver  (first argument only) read each source as an XMODEM\n"
    "                receiver would: 1K frames, CRC-16, the sender's\n"
    "                retransmissions, EOT; a note on standard error tells\n"
    "                what was skipped.\n"
    "Exit status: 0 image written; 1 a source could not be opened or read;\n"
    "2 the destination could not be written, or is also a source or\n"
    "standard output; 3 a fault in a source's data; 4 wrong arguments;\n"
    "5 image written, but standard output could not be.\n"
    "See man romweave for the formats, the option and every message.\n";

// Buffers for standard output and the destination.  A large image means
// millions of progress lines and hundreds of megabytes of data, and every
// buffer-full costs a system call; a small one is over in a millisecond or
// two, of which every page of buffer touched for the first time takes its
// share.  64 KiB, as much as `dd bs=64K` moves at a time, measured as
// fast as larger buffers on a large image and faster on a small one.
// Standard error carries a line or two.
constexpr size_t OUTPUT_BUFFER_SIZE = 64 * 1024;
// Page-aligned, as the system copies from such places fastest.
alignas(4096) char standard_output_buffer[OUTPUT_BUFFER_SIZE];
alignas(4096) char destination_buffer[OUTPUT_BUFFER_SIZE];
char standard_error_buffer[1024];

// Letters a to z raised to capitals; every other byte kept.  No locale.
std::string upper_case(std::string name) {
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
  }
  return name;
}

// What can go wrong with the files of a run, as its messages say it.  Every
// message of the driver's own about a file is here; those about a source's
// bytes are in report/.
enum FileError {
  ALSO_STANDARD_OUTPUT,         // a name leads to standard output's file
  CANNOT_OVERWRITE,             // the destination cannot be created
  BOTH_SOURCE_AND_DESTINATION,  // the destination is also a source
  CANNOT_OPEN,                  // a source cannot be opened
  CANNOT_READ,                  // reading a source failed
  CANNOT_WRITE,                 // writing the destination failed
  CANNOT_WRITE_STANDARD_OUTPUT,
};

// Prints the message of `error` about the file `name` on `out`; names are
// shown upper-cased, as everywhere.
void print_error(Output& out, FileError error, const std::string& name) {
  const std::string shown = upper_case(name);
  const char* file = shown.c_str();
  switch (error) {
    case ALSO_STANDARD_OUTPUT:
      print(out, "Error: File %s is also standard output !\n", file);
      break;
    case CANNOT_OVERWRITE:
      print(out, "Error: Unable to overwrite file %s !\n", file);
      break;
    case BOTH_SOURCE_AND_DESTINATION:
      print(out, "Error: File %s is both source and destination !\n", file);
      break;
    case CANNOT_OPEN:
      print(out, "Error: Unable to open file %s !\n", file);
      break;
    case CANNOT_READ:
      print(out, "Error: Unable to read file %s !\n", file);
      break;
    case CANNOT_WRITE:
      print(out, "Error: Unable to write file %s !\n", file);
      break;
    case CANNOT_WRITE_STANDARD_OUTPUT:
      print(out, "Error: Unable to write standard output !\n");
      break;
  }
}

// The checks made before anything is opened: no name may lead to standard
// output, which would mix progress lines into the image or feed them back
// as a source, and the destination, which is about to be cut to length 0,
// may be no source.  Returns the exit status of a refusal, or EXIT_CLEAN.
ExitStatus check_names(const std::vector<std::string>& names, Output& out,
                       Output& err) {
  const std::string& destination = names.back();
  FileIdentity output;
  if (standard_output_is_a_file(&output)) {
    for (const std::string& name : names) {
      FileIdentity identity;
      if (identify_name(name.c_str(), &identity) == IDENTITY_FOUND &&
          identity == output) {
        print_error(err, ALSO_STANDARD_OUTPUT, name);
        return EXIT_DESTINATION_FAILED;
      }
    }
  }

  FileIdentity target;
  switch (identify_name(destination.c_str(), &target)) {
    case IDENTITY_MISSING:
      return EXIT_CLEAN;
    case IDENTITY_UNKNOWN:
      // A destination that cannot be told apart from the sources is never
      // cut: it could be one of them.
      print_error(out, CANNOT_OVERWRITE, destination);
      return EXIT_DESTINATION_FAILED;
    case IDENTITY_FOUND:
      break;
  }
  for (size_t i = 0; i + 1 < names.size(); ++i) {
    FileIdentity identity;
    // A source that is not there, or cannot be looked at, cannot be opened
    // either: its run stops there, with nothing of it read.
    if (identify_name(names[i].c_str(), &identity) == IDENTITY_FOUND &&
        identity == target) {
      print_error(out, BOTH_SOURCE_AND_DESTINATION, destination);
      return EXIT_DESTINATION_FAILED;
    }
  }
  return EXIT_CLEAN;
}

// The destination of a run, once created.
struct Destination {
  std::string name;
  Output output;
  FileIdentity identity;  // what it was created as, where that is known
  bool known = false;
};

// Opens the source `name` and decodes it into the destination; returns
// EXIT_CLEAN or EXIT_DATA_FAULT, or the status of a file that failed, whose
// message it has printed.
ExitStatus decode_file(ConversionState& state, const std::string& name,
                       const Destination& destination) {
  Output& out = *state.standard_output;
  state.source_name = upper_case(name);
  // Names are opened as given: on a file system where case matters the
  // upper-cased form may name another file, or none.
  const FileHandle source = open_source(name.c_str());
  if (source == NO_FILE) {
    print_error(out, CANNOT_OPEN, name);
    return EXIT_SOURCE_UNREADABLE;
  }
  // A source that did not exist before the destination was created may be
  // it now; reading it back would report an empty image as success.
  FileIdentity identity;
  if (destination.known && identify_file(source, &identity) &&
      identity == destination.identity) {
    close_file(source);
    print_error(out, BOTH_SOURCE_AND_DESTINATION, destination.name);
    return EXIT_DESTINATION_FAILED;
  }
  read_from(state.input, file_reader(source));
  const SourceVerdict verdict = decode_source(state);
  // Only read from: nothing it could report on closing concerns the run.
  close_file(source);
  switch (verdict) {
    case VERDICT_CLEAN:
      return EXIT_CLEAN;
    case VERDICT_FAULTY:
      return EXIT_DATA_FAULT;
    case VERDICT_UNREADABLE:
      break;
  }
  // A read error is no end of file: taking it for one would cut the image
  // short and still print its size.
  print_error(out, CANNOT_READ, name);
  return EXIT_SOURCE_UNREADABLE;
}

// Joins the sources into the destination; `names` are the sources and,
// last, the destination.  `receiver`: read them as an XMODEM receiver.
ExitStatus join_sources(const std::vector<std::string>& names, bool receiver,
                        Output& out, Output& err) {
  const ExitStatus refused = check_names(names, out, err);
  if (refused != EXIT_CLEAN) return refused;

  Destination destination;
  destination.name = names.back();
  const FileHandle file = create_file(destination.name.c_str());
  if (file == NO_FILE) {
    print_error(out, CANNOT_OVERWRITE, destination.name);
    return EXIT_DESTINATION_FAILED;
  }
  destination.output = binary_output(file_writer(file), destination_buffer,
                                     sizeof destination_buffer);
  destination.known = identify_file(file, &destination.identity);

  // Default-initialised, not value-initialised: the read-ahead's bytes are
  // not zeroed first, which would cost a page fault for every page of it.
  const std::unique_ptr<ConversionState> state(new ConversionState);
  state->destination = &destination.output;
  state->standard_output = &out;
  state->standard_error = &err;
  state->receiver = receiver;
  ExitStatus status = EXIT_CLEAN;
  for (size_t i = 0; i + 1 < names.size() && status == EXIT_CLEAN; ++i) {
    status = decode_file(*state, names[i], destination);
  }
  // A fault in the data still leaves the image of the sources before it,
  // which must then be written whole.
  const bool written = close_output(destination.output);
  if (status != EXIT_CLEAN && status != EXIT_DATA_FAULT) return status;
  if (!written) {
    print_error(out, CANNOT_WRITE, destination.name);
    return EXIT_DESTINATION_FAILED;
  }
  if (status == EXIT_DATA_FAULT) return status;
  print(out, "ROM size = %05" PRIX64 "h = %" PRIu64 "KB\n", state->address,
        state->address >> 10);
  return EXIT_CLEAN;
}

// What the command line asks for, once the standard streams are safe: help,
// the version, or a conversion.
ExitStatus follow_command_line(const std::vector<std::string>& arguments,
                               Output& out, Output& err) {
  if (arguments.size() == 2 && arguments[1] == "--help") {
    put_text(out, SYNTAX_LINE, sizeof SYNTAX_LINE - 1);
    put_text(out, HELP, sizeof HELP - 1);
    return EXIT_CLEAN;
  }
  if (arguments.size() == 2 && arguments[1] == "--version") {
    print(out, "romweave %s\n", ROMWEAVE_VERSION);
    return EXIT_CLEAN;
  }
  // Only the first argument may ask for the receiver's reading; a "--"
  // right behind it lets the first name begin with a dash.  Every other
  // argument is a name, whatever it looks like.
  std::ptrdiff_t first = 1;
  const bool receiver = arguments.size() > 1 &&
                        (arguments[1] == "-r" || arguments[1] == "--receiver");
  if (receiver) {
    first = arguments.size() > 2 && arguments[2] == "--" ? 3 : 2;
  }
  if (arguments.end() - arguments.begin() < first + 2) {
    put_text(out, SYNTAX_LINE, sizeof SYNTAX_LINE - 1);
    return EXIT_SYNTAX;
  }
  return join_sources(
      std::vector<std::string>(arguments.begin() + first, arguments.end()),
      receiver, out, err);
}

}  // namespace

int run_conversion(int argc, char** argv) {
  const bool output_closed = secure_standard_streams();
  Output out =
      text_output(text_writer(standard_output()),
                  output_kind(standard_output()) != OUTPUT_FILE,
                  standard_output_buffer, sizeof standard_output_buffer);
  Output err = text_output(text_writer(standard_error()),
                           output_kind(standard_error()) != OUTPUT_FILE,
                           standard_error_buffer, sizeof standard_error_buffer);
  // A closed standard output has been replaced by the null device, where
  // nothing written is ever seen.
  out.failed = output_closed;

  ExitStatus status = follow_command_line(command_line(argc, argv), out, err);
  flush_output(err);
  if (!close_output(out)) {
    print_error(err, CANNOT_WRITE_STANDARD_OUTPUT, "");
    if (status == EXIT_CLEAN) status = EXIT_OUTPUT_FAILED;
  }
  flush_output(err);
  return status;
}

}  // namespace romweave
