#include "tests/decode_fixture.h"

namespace romweave {

MemoryRun::MemoryRun()
    : state(std::make_unique<ConversionState>()),
      standard_output_(binary_output(memory_writer(&printed_), output_buffer_,
                                     sizeof output_buffer_)),
      standard_error_(binary_output(memory_writer(&errors_), error_buffer_,
                                    sizeof error_buffer_)),
      destination_(binary_output(memory_writer(&written_), destination_buffer_,
                                 sizeof destination_buffer_)) {
  state->standard_output = &standard_output_;
  state->standard_error = &standard_error_;
  state->destination = &destination_;
  state->source_name = "CAP.BIN";
}

std::string MemoryRun::output() {
  flush_output(standard_output_);
  return printed_.bytes;
}

std::string MemoryRun::errors() {
  flush_output(standard_error_);
  return errors_.bytes;
}

std::string MemoryRun::destination() {
  flush_output(destination_);
  return written_.bytes;
}

Decoded decode(const std::string& source, const DecodeOptions& options) {
  MemoryRun run;
  run.state->address = options.start_address;
  run.state->receiver = options.receiver;
  MemorySource memory;
  memory.bytes = source;
  memory.fail_at = options.fail_at;
  memory.pieces = options.pieces;
  read_from(run.state->input, memory_reader(&memory));
  Decoded decoded;
  decoded.verdict = decode_source(*run.state);
  decoded.output = run.output();
  decoded.hint = run.errors();
  decoded.destination = run.destination();
  decoded.address = run.state->address;
  decoded.expected_block = run.state->expected_block;
  return decoded;
}

int32_t probe(const std::string& source) {
  MemoryRun run;
  MemorySource memory;
  memory.bytes = source;
  read_from(run.state->input, memory_reader(&memory));
  return probe_wrapper(*run.state);
}

}  // namespace romweave
