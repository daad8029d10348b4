// Fuzz target: arbitrary bytes as one or two sources, run through the
// wrapper probe and the block reader as the driver runs them, and checked
// against what a reader taking one byte at a time must do.
//
// The first input byte chooses how the rest is used (fuzz_input.h):
//   TWO_SOURCES  two sources in a row; the next two bytes (little-endian)
//                say where the first one ends
//   READ_ERROR   the last source fails with a read error at the offset
//                given by the next two bytes (little-endian)
//   AFTER_LEAD   the first source begins with LEAD_BLOCKS sound blocks, so
//                that what follows straddles the end of the first read-ahead
//   IN_PIECES    every read gives at most 1 + the next byte bytes, as a
//                pipe may
//   RECEIVER     the sources are read as an XMODEM receiver would
// Everything behind those bytes is the sources' content.
//
// Every input must leave, for each source: exactly one progress line per
// attempt, with the address of the blocks taken so far; exactly one fault
// message when a block failed and none otherwise; 128 bytes in the
// destination per block taken, plus the data bytes read of a failed block
// (at most 128); `address` = 128 x the blocks taken; a result that is
// one of the three; and on standard error nothing, or one hint line after
// a fault, which names --receiver, the block's own hints aside, exactly
// where the model below reads the source to a clean end.  A receiver's reading
// must give the same whether the bytes come whole or in pieces, the same as the
// plain reading where that takes every block, and only progress lines but for a
// fault's, an image of the frames taken and at most one frame's more, at most a
// note and a cancel's hint. Above all it must be what the slow model of
// receiver_model.h reads, source after source: verdict, standard output,
// standard error, image and address; a read error may only make the tool stop
// sooner, the source unreadable, with part of what the model prints and writes
// for the source cut there.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "capture/decode_source.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/receiver_model.h"
#include "tests/decode_fixture.h"
#include "tools/capture_builder.h"

namespace romweave {
namespace {

#define CHECK(condition)                                  \
  do {                                                    \
    if (!(condition)) check_failed(__LINE__, #condition); \
  } while (0)

[[noreturn]] void check_failed(int line, const char* condition) {
  std::fprintf(stderr, "decode_fuzzer.cc:%d: check failed: %s\n", line,
               condition);
  std::abort();
}

struct Source {
  std::string name;
  std::string bytes;
  int64_t fail_at = -1;  // offset at which reading fails; -1: never
  size_t piece = 0;      // the most a read gives; 0: all it is asked for
  bool receiver = false;
};

unsigned little_endian_16(const uint8_t* data, size_t size, size_t& at) {
  unsigned value = 0;
  if (at < size) value |= data[at++];
  if (at < size) value |= static_cast<unsigned>(data[at++]) << 8;
  return value;
}

std::vector<Source> sources_from(const uint8_t* data, size_t size) {
  const uint8_t control = size > 0 ? data[0] : 0;
  size_t at = size > 0 ? 1 : 0;
  const bool two = control & TWO_SOURCES;
  const bool failing = control & READ_ERROR;
  const bool lead = control & AFTER_LEAD;
  const bool receiver = control & RECEIVER;
  const size_t split = two ? little_endian_16(data, size, at) : 0;
  const unsigned fail_at = failing ? little_endian_16(data, size, at) : 0;
  const size_t piece =
      (control & IN_PIECES) != 0 ? 1 + (at < size ? data[at++] : 0) : 0;
  const std::string content(reinterpret_cast<const char*>(data) + at,
                            size - at);

  std::vector<Source> sources;
  if (two) {
    const size_t first = split < content.size() ? split : content.size();
    sources.push_back({"A.CAP", content.substr(0, first)});
    sources.push_back({"B.CAP", content.substr(first)});
  } else {
    sources.push_back({"A.CAP", content});
  }
  if (lead) {
    static const std::string LEAD = make_capture(LEAD_BLOCKS);
    sources.front().bytes.insert(0, LEAD);
  }
  if (failing) {
    sources.back().fail_at = fail_at;
    if (lead && sources.size() == 1) {
      sources.back().fail_at += static_cast<int64_t>(LEAD_BLOCKS * BLOCK_SIZE);
    }
  }
  for (Source& source : sources) {
    source.piece = piece;
    source.receiver = receiver;
  }
  return sources;
}

// What one source must do, worked out a byte at a time from the formats.
struct Expected {
  int32_t payload_end = NO_LIMIT;
  bool read_failed = false;
  std::string output;
  std::string written;
  size_t taken = 0;
  BlockResult last = SOURCE_END;
};

Expected expect(const Source& source, uint64_t address) {
  Expected e;
  const std::string& b = source.bytes;
  const bool error =
      source.fail_at >= 0 && static_cast<uint64_t>(source.fail_at) <= b.size();
  // Bytes that can be read before the end or the error.
  const size_t readable =
      error ? static_cast<size_t>(source.fail_at) : b.size();
  const auto byte = [&](size_t at) -> unsigned {
    return static_cast<uint8_t>(b[at]);
  };

  const ProbedSource probed = probe_bytes(b, readable, error);
  if (probed.read_failed) {
    e.read_failed = true;
    return e;
  }
  size_t at = probed.start;
  e.payload_end = probed.payload_end;

  const std::string name = source.name + ": ";
  char message[128];
  uint8_t number = 1;
  for (;; ++e.taken, address += BLOCK_DATA_SIZE, ++number, at += BLOCK_SIZE) {
    e.output += progress_lines(address, address);
    const unsigned expected = number;
    const unsigned complement = 255 - expected;
    // A byte the block needs is missing: an error, or a fault to report.
    const auto missing = [&](size_t offset, const char* fault) {
      if (at + offset < readable) return false;
      if (error) {
        e.read_failed = true;
        e.last = SOURCE_END;
      } else {
        e.output += name + fault;
        e.last = BLOCK_FAILED;
      }
      return true;
    };
    const auto fault = [&](const char* text) {
      e.output += name + text;
      e.last = BLOCK_FAILED;
    };

    if (at >= readable) {
      e.read_failed = error;
      return e;
    }
    if (e.payload_end != NO_LIMIT &&
        static_cast<int64_t>(at) >= e.payload_end) {
      return e;
    }
    if (byte(at) != SOH) {
      fault("No SOH\n");
      return e;
    }
    if (missing(1, "EOF at Block No.\n")) return e;
    if (byte(at + 1) != expected) {
      std::snprintf(message, sizeof message, "Got %u instead of %u Block No\n",
                    byte(at + 1), expected);
      fault(message);
      return e;
    }
    if (missing(2, "EOF at Inv. Block No.\n")) return e;
    if (byte(at + 2) != complement) {
      std::snprintf(message, sizeof message,
                    "Got %u instead of %u Inv. Block No\n", byte(at + 2),
                    complement);
      fault(message);
      return e;
    }
    // Every data byte read goes to the destination, even when the block
    // then fails.
    const size_t got = std::min(readable - (at + 3), BLOCK_DATA_SIZE);
    e.written.append(b, at + 3, got);
    if (got < BLOCK_DATA_SIZE) {
      std::snprintf(message, sizeof message, "EOF at Databyte %d\n",
                    static_cast<int>(got));
      missing(3 + got, message);
      return e;
    }
    unsigned sum = 0;
    for (size_t i = 0; i < BLOCK_DATA_SIZE; ++i) sum += byte(at + 3 + i);
    sum &= 0xFF;
    if (missing(131, "EOF at checksum\n")) return e;
    if (byte(at + 131) != sum) {
      std::snprintf(message, sizeof message,
                    "Got %u instead of %u as checksum\n", byte(at + 131), sum);
      fault(message);
      return e;
    }
  }
}

bool starts_with(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// What a run over the sources printed and wrote.
struct Outcome {
  std::vector<SourceVerdict> verdicts;
  std::string output;
  std::string errors;
  std::string image;
  uint64_t address = 0;

  bool operator==(const Outcome& other) const {
    return verdicts == other.verdicts && output == other.output &&
           errors == other.errors && image == other.image &&
           address == other.address;
  }
};

// The receiver's reading of each source, checked for what holds whatever
// the bytes: the image grows by the data of the frames taken and at most
// one frame's bytes of a fault; every line is a progress line but a last
// fault message; standard error holds at most a note and a cancel's hint.
Outcome receive_sources(const std::vector<Source>& sources, bool whole) {
  MemoryRun run;
  ConversionState& state = *run.state;
  state.receiver = true;
  Outcome outcome;
  for (const Source& source : sources) {
    const uint64_t address_before = state.address;
    const size_t image_before = outcome.image.size();
    state.source_name = source.name;
    MemorySource memory;
    memory.bytes = source.bytes;
    memory.fail_at = source.fail_at;
    if (source.piece != 0 && !whole) memory.pieces = {source.piece};
    read_from(state.input, memory_reader(&memory));
    const SourceVerdict end = decode_source(state);
    outcome.verdicts.push_back(end);
    const std::string printed = run.output().substr(outcome.output.size());
    const std::string errors = run.errors().substr(outcome.errors.size());
    outcome.output += printed;
    outcome.errors += errors;
    outcome.image = run.destination();
    outcome.address = state.address;

    const uint64_t taken = state.address - address_before;
    CHECK(taken % BLOCK_DATA_SIZE == 0);
    CHECK(outcome.image.size() >= image_before + taken);
    const size_t partial = outcome.image.size() - image_before - taken;
    CHECK(partial <= ONE_K_DATA_SIZE && (end != VERDICT_CLEAN || partial == 0));
    const size_t last_line =
        printed.empty() ? 0 : printed.rfind('\n', printed.size() - 2) + 1;
    CHECK(!printed.empty() || end == VERDICT_UNREADABLE);
    if (end == VERDICT_FAULTY) {
      CHECK(printed.compare(last_line, source.name.size() + 2,
                            source.name + ": ") == 0);
    }
    const std::string lines =
        end == VERDICT_FAULTY ? printed.substr(0, last_line) : printed;
    for (size_t at = 0; at < lines.size(); at = lines.find('\n', at) + 1) {
      CHECK(starts_with(lines.substr(at), "Checking Address "));
    }
    if (!lines.empty()) {
      CHECK(starts_with(lines, progress_lines(address_before, address_before)));
      if (end != VERDICT_UNREADABLE) {
        const std::string last = progress_lines(state.address, state.address);
        CHECK(lines.compare(lines.size() - last.size(), last.size(), last) ==
              0);
      }
    }
    const std::string note =
        "Note: " + source.name + ", read as an XMODEM receiver: ";
    const std::string hint = starts_with(errors, note)
                                 ? errors.substr(errors.find('\n') + 1)
                                 : errors;
    CHECK(end != VERDICT_UNREADABLE || errors.empty());
    CHECK(hint.empty() || (end == VERDICT_FAULTY &&
                           starts_with(hint, "Hint: 0x18 at offset ") &&
                           hint.find('\n') == hint.size() - 1));
    if (end != VERDICT_CLEAN) break;
  }
  return outcome;
}

// Prints an outcome, so that a disagreement shows: its image by size and
// where it first differs from `other`'s.
void dump(const char* whose, const Outcome& outcome, const Outcome& other) {
  std::string verdicts;
  for (const SourceVerdict verdict : outcome.verdicts) {
    verdicts += " " + std::to_string(verdict);
  }
  const auto differ = std::mismatch(
      outcome.image.begin(),
      outcome.image.begin() + static_cast<std::ptrdiff_t>(std::min(
                                  outcome.image.size(), other.image.size())),
      other.image.begin());
  std::fprintf(stderr,
               "%s: verdicts%s, address %llu, image of %zu bytes, the same "
               "for %zu\n%s%s",
               whose, verdicts.c_str(),
               static_cast<unsigned long long>(outcome.address),
               outcome.image.size(),
               static_cast<size_t>(differ.first - outcome.image.begin()),
               outcome.output.c_str(), outcome.errors.c_str());
}

// The tool's reading of the sources must be the slow model's, source after
// source; a read error may only stop it early, unreadable, with what it
// printed and wrote so far.
void check_against_model(const std::vector<Source>& sources,
                         const Outcome& tool) {
  Outcome model;
  Outcome before_last;
  bool may_stop_early = false;
  for (const Source& source : sources) {
    before_last = model;
    const ReceiverReading reading = read_as_receiver(
        source.bytes, source.name, model.address, source.fail_at);
    model.verdicts.push_back(reading.verdict);
    model.output += reading.output;
    model.errors += reading.errors;
    model.image += reading.image;
    model.address = reading.address;
    may_stop_early = reading.may_stop_early;
    if (reading.verdict != VERDICT_CLEAN) break;
  }
  if (tool == model) return;
  const size_t count = model.verdicts.size();
  const bool stopped_early =
      may_stop_early && tool.verdicts.size() == count &&
      std::equal(model.verdicts.begin(), model.verdicts.end() - 1,
                 tool.verdicts.begin()) &&
      tool.verdicts.back() == VERDICT_UNREADABLE &&
      starts_with(model.output, tool.output) &&
      tool.output.size() >= before_last.output.size() &&
      starts_with(model.image, tool.image) &&
      tool.image.size() >= before_last.image.size() &&
      tool.errors == before_last.errors && tool.address <= model.address;
  if (!stopped_early) {
    dump("tool", tool, model);
    dump("model", model, tool);
  }
  CHECK(stopped_early);
}

void run_sources(const std::vector<Source>& sources) {
  if (sources.front().receiver) {
    // The reading does not depend on how the bytes come, and it is the
    // model's; where the plain reading takes every block, and each lies in
    // its string, the receiver takes the same ones.
    const Outcome outcome = receive_sources(sources, false);
    CHECK(outcome == receive_sources(sources, true));
    check_against_model(sources, outcome);
    std::vector<Source> plain = sources;
    for (Source& source : plain) source.receiver = false;
    MemoryRun run;
    bool clean = true;
    bool in_strings = true;
    for (const Source& source : plain) {
      const uint64_t address_before = run.state->address;
      run.state->source_name = source.name;
      MemorySource memory;
      memory.bytes = source.bytes;
      memory.fail_at = source.fail_at;
      read_from(run.state->input, memory_reader(&memory));
      clean = decode_source(*run.state) == VERDICT_CLEAN;
      if (!clean) break;
      // The plain reading takes a block that begins in a string whole; the
      // receiver reads no byte past the string's end.
      const ProbedSource probed =
          probe_bytes(source.bytes, source.bytes.size(), false);
      const uint64_t blocks =
          (run.state->address - address_before) / BLOCK_DATA_SIZE;
      in_strings = in_strings &&
                   (blocks == 0 ||
                    static_cast<int64_t>(probed.start + blocks * BLOCK_SIZE) <=
                        probed.payload_end);
    }
    if (clean && in_strings) {
      CHECK(outcome.output == run.output());
      CHECK(outcome.image == run.destination());
    }
    return;
  }
  MemoryRun run;
  ConversionState& state = *run.state;
  std::string expected_image;
  size_t output_before = 0;
  uint64_t blocks_taken = 0;
  for (const Source& source : sources) {
    const Expected e = expect(source, state.address);
    const uint64_t address_before = state.address;
    const size_t image_before = expected_image.size();

    state.source_name = source.name;
    MemorySource memory;
    memory.bytes = source.bytes;
    memory.fail_at = source.fail_at;
    if (source.piece != 0) memory.pieces = {source.piece};
    read_from(state.input, memory_reader(&memory));
    const SourceVerdict end = decode_source(state);

    CHECK(end == VERDICT_CLEAN || end == VERDICT_FAULTY ||
          end == VERDICT_UNREADABLE);
    CHECK(end == (e.read_failed            ? VERDICT_UNREADABLE
                  : e.last == BLOCK_FAILED ? VERDICT_FAULTY
                                           : VERDICT_CLEAN));

    // address = 128 x the blocks taken, over all sources.
    CHECK(state.address >= address_before);
    CHECK((state.address - address_before) % BLOCK_DATA_SIZE == 0);
    const uint64_t taken = (state.address - address_before) / BLOCK_DATA_SIZE;
    CHECK(taken == e.taken);
    blocks_taken += taken;
    CHECK(state.address == BLOCK_DATA_SIZE * blocks_taken);
    if (end != VERDICT_UNREADABLE || !e.output.empty()) {
      CHECK(state.expected_block == static_cast<uint8_t>(1 + taken));
    }

    // The destination grows by 128 bytes a block taken, plus the data read
    // of a block that failed or could not be read to its end; a clean end
    // adds nothing more.
    const std::string image = run.destination();
    expected_image += e.written;
    CHECK(image.size() >= image_before + BLOCK_DATA_SIZE * taken);
    const size_t partial =
        image.size() - image_before - BLOCK_DATA_SIZE * taken;
    CHECK(partial <= BLOCK_DATA_SIZE);
    if (end == VERDICT_CLEAN) CHECK(partial == 0);
    CHECK(image == expected_image);

    // One progress line per attempt, then one fault message exactly when a
    // block failed, naming the source.
    const std::string output = run.output();
    const std::string printed = output.substr(output_before);
    output_before = output.size();
    size_t lines = 0;
    for (char c : printed) lines += c == '\n';
    const bool failed = end == VERDICT_FAULTY;
    if (!printed.empty()) CHECK(lines == taken + 1 + (failed ? 1 : 0));
    if (failed) {
      const size_t last_line = printed.rfind('\n', printed.size() - 2) + 1;
      CHECK(printed.compare(last_line, source.name.size() + 2,
                            source.name + ": ") == 0);
    }
    CHECK(printed == e.output);

    // Standard error holds at most one hint, and only after a fault: the
    // source is the last one read.
    const std::string hint = run.errors();
    CHECK(hint.empty() || (failed && starts_with(hint, "Hint: ") &&
                           hint.find('\n') == hint.size() - 1));
    // Past the hints that the failed block's own bytes call for, a hint
    // names --receiver exactly where the receiver's reading, as the model
    // reads the whole source, comes to a clean end, and the cancel's hint
    // stands only where it does not.
    const bool of_block =
        starts_with(hint, "Hint: the first block ends in the CRC-16") ||
        starts_with(hint, "Hint: the block at offset ") ||
        starts_with(hint, "Hint: 0x02 starts a 1K block");
    const bool error =
        source.fail_at >= 0 &&
        static_cast<uint64_t>(source.fail_at) <= source.bytes.size();
    if (failed && !of_block && !error) {
      const bool reads =
          read_as_receiver(source.bytes, source.name, address_before).verdict ==
          VERDICT_CLEAN;
      CHECK(reads == (hint.find("--receiver") != std::string::npos));
      CHECK(!reads || !starts_with(hint, "Hint: 0x18"));
    }

    // The driver stops at the first source that did not end cleanly.
    if (end != VERDICT_CLEAN) break;
  }
}

}  // namespace
}  // namespace romweave

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  romweave::run_sources(romweave::sources_from(data, size));
  return 0;
}
