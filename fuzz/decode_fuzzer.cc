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
// a fault.  A receiver's reading must give what a plain model of its rules,
// which checks every candidate frame from scratch, gives: the output, the
// image and the verdict, with at most a note and a cancel hint on standard
// error.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "fuzz/fuzz_input.h"
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
  size_t taken = 0;  // frames
  uint64_t taken_bytes = 0;
  BlockResult last = SOURCE_END;
  // A receiver's reading: whether a note and a cancel hint follow, and
  // whether bytes past a read error would have been needed.
  bool note = false;
  bool cancelled = false;
  bool error_ahead = false;
};

Expected expect_plain(const Source& source, uint64_t address) {
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

  if (error && readable < WRAPPER_HEADER_SIZE) {
    e.read_failed = true;
    return e;
  }
  size_t at = 0;
  if (readable >= WRAPPER_HEADER_SIZE && b.compare(0, 7, "HPHP48-") == 0) {
    at = WRAPPER_HEADER_SIZE;
    const uint32_t prolog = byte(8) | byte(9) << 8 | (byte(10) & 0x0Fu) << 16;
    const auto length =
        static_cast<int32_t>(byte(10) >> 4 | byte(11) << 4 | byte(12) << 12);
    if (prolog == STRING_PROLOG) e.payload_end = 13 + (length - 4) / 2;
  }

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


// The receiver's rules, worked out from scratch at every candidate frame.
struct ReceiverModel {
  const std::string& b;
  size_t end;  // no byte at or past it is read
  unsigned check = 0;  // 0 unknown, 1 checksum, 2 CRC
  std::string last;    // the frame taken last

  unsigned byte(size_t at) const { return static_cast<uint8_t>(b[at]); }
  static size_t data_size(unsigned start) {
    return start == 1 ? 128 : start == 2 ? 1024 : 0;
  }
  // The size of the frame at `at` that passes check `c`, or 0.
  size_t sound(size_t at, unsigned c) const {
    const size_t data = at < end ? data_size(byte(at)) : 0;
    const size_t size = 3 + data + c;
    if (data == 0 || at + size > end || (byte(at + 1) ^ byte(at + 2)) != 0xFF) {
      return 0;
    }
    const std::string bytes = b.substr(at + 3, data);
    unsigned sum = 0;
    for (const char c8 : bytes) sum += static_cast<uint8_t>(c8);
    const unsigned found =
        c == 2 ? byte(at + 3 + data) << 8 | byte(at + 4 + data) : byte(at + 3 + data);
    return found == (c == 2 ? bitwise_crc16(bytes) : (sum & 0xFF)) ? size : 0;
  }
  // Either check while none is known.
  size_t sound_now(size_t at) const {
    if (check != 0) return sound(at, check);
    const size_t by_sum = sound(at, 1);
    return by_sum != 0 ? by_sum : sound(at, 2);
  }
  // The first sound frame from `from` on that is no copy of `last`, or
  // `end`.
  size_t search(size_t from) const {
    for (size_t at = from; at < end; ++at) {
      const size_t size = sound_now(at);
      if (size == 0) continue;
      if (b.compare(at, size, last) == 0) {
        at += size - 1;
        continue;
      }
      return at;
    }
    return end;
  }
};

Expected expect_receiver(const Source& source, uint64_t address) {
  Expected e;
  const std::string& b = source.bytes;
  const bool error =
      source.fail_at >= 0 && static_cast<uint64_t>(source.fail_at) <= b.size();
  const size_t readable =
      error ? static_cast<size_t>(source.fail_at) : b.size();
  if (error && readable < WRAPPER_HEADER_SIZE) {
    e.read_failed = true;
    return e;
  }
  size_t at = 0;
  size_t limit = SIZE_MAX;  // the string's end, if any
  if (readable >= WRAPPER_HEADER_SIZE && b.compare(0, 7, "HPHP48-") == 0) {
    at = WRAPPER_HEADER_SIZE;
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(b[i]); };
    const uint32_t prolog = byte(8) | byte(9) << 8 | (byte(10) & 0x0Fu) << 16;
    const auto length =
        static_cast<int32_t>(byte(10) >> 4 | byte(11) << 4 | byte(12) << 12);
    if (prolog == STRING_PROLOG) {
      const int32_t string_end = 13 + (length - 4) / 2;
      limit = string_end < 0 ? 0 : static_cast<size_t>(string_end);
    }
  }
  // A read error before the string's end is met by a reading that needs
  // the byte there; one at the end of a file is no end of file.
  e.error_ahead = error && readable < limit;
  ReceiverModel m = {b, std::min(limit, readable), 0, {}};
  const std::string name = source.name + ": ";
  char message[128];
  uint8_t expected = 1;
  bool skipped = false;  // bytes skipped, or a 1K frame taken: worth a note
  for (;;) {
    e.output += progress_lines(address, address);
    if (at >= m.end) {
      e.note = true;  // no EOT at the end
      return e;
    }
    const unsigned start = m.byte(at);
    if (start == EOT) {
      const size_t found = m.search(at + 1);
      if (found == m.end) {
        bool only_end = true;
        for (size_t i = at + 1; i < m.end; ++i) {
          const unsigned c = m.byte(i);
          only_end = only_end && (c == EOT || c == SUB || c == CAN || c == BS);
        }
        e.note = skipped || m.check == 2 || !only_end;
        return e;
      }
      if (m.byte(found + 1) != expected) {
        e.output += name + "No SOH\n";
        e.last = BLOCK_FAILED;
        e.note = skipped || m.check == 2;
        return e;
      }
      skipped = true;
      at = found;
      continue;
    }
    if (start == CAN && at + 1 < m.end && m.byte(at + 1) == CAN) {
      e.output += name + "No SOH\n";
      e.last = BLOCK_FAILED;
      e.note = skipped || m.check == 2;
      e.cancelled = true;
      return e;
    }
    const size_t data = ReceiverModel::data_size(start);
    const size_t size = data != 0 ? m.sound_now(at) : 0;
    if (size != 0 && m.byte(at + 1) == expected) {
      if (m.check == 0) {
        const size_t by_crc = m.sound(at, 2);
        m.check = by_crc == 0 ? 1 : m.sound(at, 1) == 0 ? 2 : 0;
        if (m.check == 0) {
          // Both: the reading that goes on to block 2, an EOT or the end.
          const auto goes_on = [&](size_t next, unsigned c) {
            if (next >= m.end) return true;
            if (m.byte(next) == EOT) return true;
            return m.sound(next, c) != 0 &&
                   m.byte(next + 1) == static_cast<uint8_t>(expected + 1);
          };
          const bool by_sum_on = goes_on(at + 3 + data + 1, 1);
          const bool by_crc_on = goes_on(at + 3 + data + 2, 2);
          m.check = by_crc_on && !by_sum_on ? 2 : 1;
        }
      }
      const size_t taken = 3 + data + m.check;
      e.written.append(b, at + 3, data);
      m.last = b.substr(at, taken);
      ++e.taken;
      e.taken_bytes += data;
      skipped = skipped || data == ONE_K_DATA_SIZE;
      address += data;
      ++expected;
      at += taken;
      continue;
    }
    if (size != 0) {
      if (b.compare(at, size, m.last) == 0) {
        skipped = true;
        at += size;
        continue;
      }
      std::snprintf(message, sizeof message, "Got %u instead of %u Block No\n",
                    m.byte(at + 1), static_cast<unsigned>(expected));
      e.output += name + message;
      e.last = BLOCK_FAILED;
      e.note = skipped || m.check == 2;
      return e;
    }
    // Damaged: skipped where the next sound frame is the one expected.
    const size_t found = m.search(at + 1);
    if (found < m.end && m.byte(found + 1) == expected) {
      skipped = true;
      at = found;
      continue;
    }
    // The plain reading's fault, with this source's check.
    const size_t got = m.end - at;
    const unsigned complement = 255 - expected;
    const unsigned check_size = m.check == 2 ? 2 : 1;
    e.last = BLOCK_FAILED;
    e.note = skipped || m.check == 2;
    if (data == 0) {
      std::snprintf(message, sizeof message, "No SOH\n");
    } else if (got < 2) {
      std::snprintf(message, sizeof message, "EOF at Block No.\n");
    } else if (m.byte(at + 1) != expected) {
      std::snprintf(message, sizeof message, "Got %u instead of %u Block No\n",
                    m.byte(at + 1), static_cast<unsigned>(expected));
    } else if (got < 3) {
      std::snprintf(message, sizeof message, "EOF at Inv. Block No.\n");
    } else if (m.byte(at + 2) != complement) {
      std::snprintf(message, sizeof message,
                    "Got %u instead of %u Inv. Block No\n", m.byte(at + 2),
                    complement);
    } else {
      const size_t read = std::min(got - 3, data);
      e.written.append(b, at + 3, read);
      if (read < data) {
        std::snprintf(message, sizeof message, "EOF at Databyte %d\n",
                      static_cast<int>(read));
      } else if (got < 3 + data + check_size) {
        std::snprintf(message, sizeof message, "EOF at checksum\n");
      } else {
        const std::string bytes = b.substr(at + 3, data);
        unsigned sum = 0;
        for (const char c8 : bytes) sum += static_cast<uint8_t>(c8);
        const size_t check_at = at + 3 + data;
        std::snprintf(message, sizeof message,
                      "Got %u instead of %u as checksum\n",
                      check_size == 2
                          ? m.byte(check_at) << 8 | m.byte(check_at + 1)
                          : m.byte(check_at),
                      check_size == 2 ? bitwise_crc16(bytes) : sum & 0xFF);
      }
    }
    e.output += name + message;
    return e;
  }
}

Expected expect(const Source& source, uint64_t address) {
  if (source.receiver) return expect_receiver(source, address);
  Expected e = expect_plain(source, address);
  e.taken_bytes = BLOCK_DATA_SIZE * e.taken;
  return e;
}

bool starts_with(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

void run_sources(const std::vector<Source>& sources) {
  MemoryRun run;
  ConversionState& state = *run.state;
  std::string expected_image;
  size_t output_before = 0;
  size_t errors_before = 0;
  for (const Source& source : sources) {
    const Expected e = expect(source, state.address);
    const uint64_t address_before = state.address;
    const size_t image_before = expected_image.size();

    state.source_name = source.name;
    state.receiver = source.receiver;
    MemorySource memory;
    memory.bytes = source.bytes;
    memory.fail_at = source.fail_at;
    if (source.piece != 0) memory.pieces = {source.piece};
    read_from_memory(state.input, &memory);
    const SourceVerdict end = decode_source(state);
    const std::string image = run.destination();
    const std::string output = run.output();
    const std::string printed = output.substr(output_before);
    output_before = output.size();
    const std::string all_errors = run.errors();
    const std::string errors = all_errors.substr(errors_before);
    errors_before = all_errors.size();
    CHECK(end == SOURCE_CLEAN || end == SOURCE_FAULTY ||
          end == SOURCE_UNREADABLE);

    if (source.receiver && e.error_ahead) {
      // Bytes past the read error may or may not be needed: a reading that
      // needed them stops where the model, which takes the error for the
      // end, goes on.
      if (end == SOURCE_UNREADABLE) {
        CHECK(starts_with(e.output, printed));
        CHECK(starts_with(expected_image + e.written, image));
        CHECK(errors.empty());
        break;
      }
      CHECK(end == SOURCE_FAULTY);
    }
    CHECK(end == (e.read_failed            ? SOURCE_UNREADABLE
                  : e.last == BLOCK_FAILED ? SOURCE_FAULTY
                                           : SOURCE_CLEAN));
    CHECK(state.address - address_before == e.taken_bytes);
    if (end != SOURCE_UNREADABLE || !e.output.empty()) {
      CHECK(state.expected_block == static_cast<uint8_t>(1 + e.taken));
    }
    // The destination grows by the data of each frame taken, plus the data
    // read of one that failed or could not be read to its end; a clean end
    // adds nothing more.
    expected_image += e.written;
    CHECK(image == expected_image);
    CHECK(printed == e.output);
    const bool failed = end == SOURCE_FAULTY;
    if (failed) {
      const size_t last_line = printed.rfind('\n', printed.size() - 2) + 1;
      CHECK(printed.compare(last_line, source.name.size() + 2,
                            source.name + ": ") == 0);
    }

    if (source.receiver) {
      // A note when the reading has anything to say, then the hint of a
      // cancel, each one line.
      const std::string note = "Note: " + source.name + ", read as an XMODEM receiver: ";
      const size_t note_end = errors.find('\n');
      CHECK(e.note == starts_with(errors, note));
      const std::string rest =
          e.note ? errors.substr(note_end + 1) : errors;
      CHECK(e.cancelled == starts_with(rest, "Hint: 0x18 at offset "));
      CHECK(rest.empty() || rest.find('\n') == rest.size() - 1);
    } else {
      // One progress line per attempt, then one fault message exactly when
      // a block failed; at most one hint, and only after a fault.
      size_t lines = 0;
      for (char c : printed) lines += c == '\n';
      const size_t partial =
          image.size() - image_before - BLOCK_DATA_SIZE * e.taken;
      CHECK(partial <= BLOCK_DATA_SIZE);
      if (!printed.empty()) CHECK(lines == e.taken + 1 + (failed ? 1 : 0));
      CHECK(errors.empty() ||
            (failed && starts_with(errors, "Hint: ") &&
             errors.find('\n') == errors.size() - 1));
    }

    // The driver stops at the first source that did not end cleanly.
    if (end != SOURCE_CLEAN) break;
  }
}

}  // namespace
}  // namespace romweave

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  romweave::run_sources(romweave::sources_from(data, size));
  return 0;
}
