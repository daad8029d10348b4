#include "tests/decode_fixture.h"

namespace romweave {

MemoryRun::MemoryRun()
    : state(std::make_unique<ConversionState>()),
      standard_output_(
          memory_output(&printed_, output_buffer_, sizeof output_buffer_)),
      standard_error_(
          memory_output(&errors_, error_buffer_, sizeof error_buffer_)),
      destination_(memory_output(&written_, destination_buffer_,
                                 sizeof destination_buffer_)) {
  state->standard_output = &standard_output_;
  state->standard_error = &standard_error_;
  state->destination = &destination_;
  state->source_name = "CAP.BIN";
}

std::string MemoryRun::output() {
  flush_output(standard_output_);
  return printed_;
}

std::string MemoryRun::errors() {
  flush_output(standard_error_);
  return errors_;
}

std::string MemoryRun::destination() {
  flush_output(destination_);
  return written_;
}

Decoded decode(const std::string& source, const DecodeOptions& options) {
  MemoryRun run;
  run.state->address = options.start_address;
  run.state->receiver = options.receiver;
  MemorySource memory;
  memory.bytes = source;
  memory.fail_at = options.fail_at;
  memory.pieces = options.pieces;
  read_from_memory(run.state->input, &memory);
  Decoded decoded;
  decoded.end = decode_source(*run.state);
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
  read_from_memory(run.state->input, &memory);
  return probe_wrapper(*run.state);
}

}  // namespace romweave
