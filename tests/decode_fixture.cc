#include "tests/decode_fixture.h"

namespace romweave {

MemoryRun::MemoryRun()
    : state(std::make_unique<ConversionState>()),
      standard_output_(memory_output(&printed_, output_buffer_,
                                     sizeof output_buffer_)),
      destination_(memory_output(&written_, destination_buffer_,
                                 sizeof destination_buffer_)) {
  state->standard_output = &standard_output_;
  state->destination = &destination_;
  state->source_name = "CAP.BIN";
}

std::string MemoryRun::output() {
  flush_output(standard_output_);
  return printed_;
}

std::string MemoryRun::destination() {
  flush_output(destination_);
  return written_;
}

Decoded decode(const std::string& source, const DecodeOptions& options) {
  MemoryRun run;
  run.state->address = options.start_address;
  FILE* stream = open_bytes(source, options.fail_at);
  Decoded decoded;
  decoded.end = decode_source(*run.state, stream);
  std::fclose(stream);
  decoded.output = run.output();
  decoded.destination = run.destination();
  decoded.address = run.state->address;
  decoded.expected_block = run.state->expected_block;
  return decoded;
}

int32_t probe(const std::string& source) {
  MemoryRun run;
  FILE* stream = open_bytes(source);
  reset_source(run.state->input, stream);
  const int32_t payload_end = probe_wrapper(*run.state);
  std::fclose(stream);
  return payload_end;
}

}  // namespace romweave
