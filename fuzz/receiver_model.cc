#include "fuzz/receiver_model.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/expected_output.h"
#include "tools/capture_builder.h"

namespace romweave {

ProbedSource probe_bytes(const std::string& bytes, size_t readable,
                         bool error) {
  ProbedSource probed;
  if (error && readable < WRAPPER_HEADER_SIZE) {
    probed.read_failed = true;
    return probed;
  }
  const auto byte = [&](size_t at) -> unsigned {
    return static_cast<uint8_t>(bytes[at]);
  };
  if (readable >= WRAPPER_HEADER_SIZE &&
      bytes.compare(0, 7, WRAPPER_SIGNATURE) == 0) {
    probed.start = WRAPPER_HEADER_SIZE;
    const uint32_t prolog = byte(8) | byte(9) << 8 | (byte(10) & 0x0Fu) << 16;
    const auto length =
        static_cast<int32_t>(byte(10) >> 4 | byte(11) << 4 | byte(12) << 12);
    if (prolog == STRING_PROLOG) probed.payload_end = 13 + (length - 4) / 2;
  }
  return probed;
}

namespace {

enum Check { UNKNOWN, CHECKSUM, CRC16 };
enum Found { NO_FRAME, FRAME_EXPECTED, OTHER_FRAME };

// "a thing skipped at offset N", or "K things skipped at offsets A, B and
// C", of which only the first eight are listed; nothing for no offset.
std::string skipped(const char* one, const char* many,
                    const std::vector<size_t>& offsets) {
  if (offsets.empty()) return "";
  if (offsets.size() == 1) {
    return std::string(one) + " skipped at offset " +
           std::to_string(offsets[0]);
  }
  std::string text =
      std::to_string(offsets.size()) + " " + many + " skipped at offsets ";
  const size_t listed = std::min<size_t>(offsets.size(), 8);
  for (size_t i = 0; i < listed; ++i) {
    if (i > 0) text += i + 1 == offsets.size() ? " and " : ", ";
    text += std::to_string(offsets[i]);
  }
  if (offsets.size() > listed) {
    text += " and " + std::to_string(offsets.size() - listed) + " more";
  }
  return text;
}

struct Reading {
  Reading(const std::string& bytes, size_t limit, const std::string& upper)
      : b(bytes), end(limit), name(upper) {}

  const std::string& b;
  const size_t end;  // the source's end, its string's, or the read error
  const std::string name;
  ReceiverReading r;
  uint8_t expected = 1;
  Check check = UNKNOWN;
  std::string last;  // the last frame taken from the source
  bool one_k = false;
  std::vector<size_t> stretches, copies, noise_eots;
  int64_t noise_eot = -1;  // the EOT that ended the source after noise
  int64_t eot = -1;        // the EOT that ended the source
  int64_t cancel = -1;     // the CAN CAN that failed it

  unsigned byte(size_t at) const { return static_cast<uint8_t>(b[at]); }
  // What either side sends to end a transfer.
  static bool end_byte(unsigned c) {
    return c == EOT || c == SUB || c == CAN || c == BS;
  }
  bool starts_frame(size_t at) const {
    return at < end && (byte(at) == SOH || byte(at) == STX);
  }
  size_t data_size(size_t at) const {
    return byte(at) == STX ? ONE_K_DATA_SIZE : BLOCK_DATA_SIZE;
  }
  static size_t check_size(Check c) { return c == CRC16 ? CRC_SIZE : 1; }
  size_t frame_size(size_t at, Check c) const {
    return 3 + data_size(at) + check_size(c);
  }
  // The check of the `size` data bytes at `at`, worked out from scratch.
  unsigned check_of(size_t at, size_t size, Check c) const {
    if (c == CRC16) return bitwise_crc16(b.substr(at, size));
    unsigned sum = 0;
    for (size_t i = 0; i < size; ++i) sum += byte(at + i);
    return sum & 0xFF;
  }
  // The check the frame carries at `at`.
  unsigned check_sent(size_t at, Check c) const {
    return c == CRC16 ? byte(at) << 8 | byte(at + 1) : byte(at);
  }

  bool sound_as(size_t at, Check c) const {
    if (!starts_frame(at) || end - at < frame_size(at, c)) return false;
    const size_t size = data_size(at);
    return byte(at + 2) == 255 - byte(at + 1) &&
           check_of(at + 3, size, c) == check_sent(at + 3 + size, c);
  }
  bool sound(size_t at) const {
    if (check != UNKNOWN) return sound_as(at, check);
    return sound_as(at, CHECKSUM) || sound_as(at, CRC16);
  }
  bool copy(size_t at) const {
    return !last.empty() && end - at >= last.size() &&
           b.compare(at, last.size(), last) == 0;
  }

  // The first sound frame from `at` on that is not a copy, passing over
  // every copy whole; `at` is left on it.
  Found search(size_t& at) const {
    while (at < end) {
      if (copy(at)) {
        at += last.size();
      } else if (sound(at)) {
        return byte(at + 1) == expected ? FRAME_EXPECTED : OTHER_FRAME;
      } else {
        ++at;
      }
    }
    return NO_FRAME;
  }

  // The check of the first frame taken, at `at`.
  Check settle(size_t at) const {
    const bool by_sum = sound_as(at, CHECKSUM), by_crc = sound_as(at, CRC16);
    if (!by_crc) return CHECKSUM;
    if (!by_sum) return CRC16;
    const auto next_frame = [&](Check c) {
      const size_t behind = at + frame_size(at, c);
      return sound_as(behind, c) &&
             byte(behind + 1) == static_cast<uint8_t>(expected + 1);
    };
    const auto ends = [&](Check c) {
      const size_t behind = at + frame_size(at, c);
      return behind >= end || byte(behind) == EOT;
    };
    if (next_frame(CHECKSUM)) return CHECKSUM;
    if (next_frame(CRC16)) return CRC16;
    if (ends(CHECKSUM)) return CHECKSUM;
    if (ends(CRC16)) return CRC16;
    return CHECKSUM;
  }

  // Takes the sound frame numbered as expected at `at`; returns its size.
  size_t take(size_t at) {
    if (check == UNKNOWN) check = settle(at);
    const size_t size = data_size(at);
    r.image.append(b, at + 3, size);
    r.address += size;
    one_k = one_k || size == ONE_K_DATA_SIZE;
    ++expected;
    last = b.substr(at, frame_size(at, check));
    return last.size();
  }

  void fault(const std::string& message) {
    r.output += name + ": " + message + "\n";
    r.verdict = VERDICT_FAULTY;
  }
  void mismatch(unsigned got, unsigned wanted, const char* field) {
    fault("Got " + std::to_string(got) + " instead of " +
          std::to_string(wanted) + " " + field);
  }

  // The plain reading's fault in the frame at `at`, field by field.
  void plain_fault(size_t at) {
    if (!starts_frame(at)) return fault("No SOH");
    if (at + 1 >= end) return fault("EOF at Block No.");
    if (byte(at + 1) != expected) {
      return mismatch(byte(at + 1), expected, "Block No");
    }
    if (at + 2 >= end) return fault("EOF at Inv. Block No.");
    if (byte(at + 2) != 255u - expected) {
      return mismatch(byte(at + 2), 255u - expected, "Inv. Block No");
    }
    const size_t size = data_size(at), data = at + 3;
    const size_t got = std::min(end - data, size);
    r.image.append(b, data, got);
    if (got < size) return fault("EOF at Databyte " + std::to_string(got));
    // The CRC-16 is the frame's check only once the reading knows it is.
    const Check c = check == CRC16 ? CRC16 : CHECKSUM;
    if (end - data - size < check_size(c)) return fault("EOF at checksum");
    const unsigned sent = check_sent(data + size, c);
    const unsigned wanted = check_of(data, size, c);
    if (sent != wanted) {
      return mismatch(sent, wanted, "as checksum");
    }
    std::fprintf(stderr, "receiver model: the frame at %zu is sound\n", at);
    std::abort();
  }

  // Whether the bytes from `at` on are noise before the end; `eot_at` is
  // left on the EOT of the end, which only the ends of a transfer follow.
  bool noise_before_end(size_t at, size_t& eot_at) const {
    size_t last_other = at;
    for (size_t i = at + 1; i < end; ++i) {
      if (!end_byte(byte(i))) last_other = i;
    }
    eot_at = last_other + 1;
    while (eot_at < end && byte(eot_at) != EOT) ++eot_at;
    if (eot_at >= end || eot_at - at >= 64) return false;
    for (size_t i = at; i < eot_at; ++i) {
      if (byte(i) == CAN && byte(i + 1) == CAN) return false;
      if ((byte(i) == SOH || byte(i) == STX) && i + 2 < end &&
          byte(i + 1) == expected && byte(i + 2) == 255u - expected) {
        return false;
      }
    }
    return true;
  }

  void read(size_t at) {
    for (;;) {
      r.output += progress_line(r.address);
      if (at >= end) return;
      size_t found_at = at + 1;
      if (byte(at) == EOT) {
        const Found found = search(found_at);
        if (found == NO_FRAME) {
          eot = static_cast<int64_t>(at);
          return;
        }
        if (found == OTHER_FRAME) return fault("No SOH");
        noise_eots.push_back(at);
        at = found_at;
        continue;
      }
      if (byte(at) == CAN && at + 1 < end && byte(at + 1) == CAN) {
        cancel = static_cast<int64_t>(at);
        return fault("No SOH");
      }
      if (sound(at)) {
        if (byte(at + 1) == expected) {
          at += take(at);
        } else if (copy(at)) {
          copies.push_back(at);
          at += last.size();
        } else {
          return mismatch(byte(at + 1), expected, "Block No");
        }
        continue;
      }
      const Found found = search(found_at);
      size_t eot_at = 0;
      if (found == FRAME_EXPECTED) {
        stretches.push_back(at);
        at = found_at;
      } else if (found == NO_FRAME && noise_before_end(at, eot_at)) {
        r.output += progress_line(r.address);
        noise_eot = eot = static_cast<int64_t>(eot_at);
        return;
      } else {
        return plain_fault(at);
      }
    }
  }

  std::string note() const {
    const bool crc_check = check == CRC16;
    std::vector<std::string> parts = {
        one_k && crc_check ? "1K frames with a CRC-16"
        : one_k            ? "1K frames"
        : crc_check        ? "frames with a CRC-16"
                           : "",
        skipped("a damaged stretch", "damaged stretches", stretches),
        skipped("a repeated frame", "repeated frames", copies),
        skipped("a noise EOT", "noise EOTs", noise_eots)};
    if (noise_eot >= 0) {
      parts.push_back("noise skipped before the EOT at offset " +
                      std::to_string(noise_eot));
    }
    bool others_behind = false;
    for (size_t i = static_cast<size_t>(eot + 1); eot >= 0 && i < end; ++i) {
      others_behind = others_behind || !end_byte(byte(i));
    }
    if (r.verdict == VERDICT_CLEAN && eot < 0) {
      parts.push_back(
          "no EOT at its end, so the transfer may not have finished");
    } else if (r.verdict == VERDICT_CLEAN && others_behind) {
      parts.push_back("the EOT at offset " + std::to_string(eot) +
                      " ended it, with other bytes behind it");
    }
    std::string text;
    for (const std::string& part : parts) {
      if (!part.empty()) text += (text.empty() ? "" : "; ") + part;
    }
    return receiver_note(name, text);
  }
};

}  // namespace

ReceiverReading read_as_receiver(const std::string& bytes,
                                 const std::string& name, uint64_t address,
                                 int64_t fail_at) {
  // A read error at the end of the source, where the reading looks for
  // more, still counts; one past it never happens.
  const bool error =
      fail_at >= 0 && static_cast<uint64_t>(fail_at) <= bytes.size();
  const size_t readable = error ? static_cast<size_t>(fail_at) : bytes.size();
  const ProbedSource probed = probe_bytes(bytes, readable, error);
  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(std::toupper(c));
  ReceiverReading unreadable;
  unreadable.verdict = VERDICT_UNREADABLE;
  unreadable.address = address;
  if (probed.read_failed) return unreadable;

  // No byte at or past a string's end is read, so an error there is none.
  const size_t string_end =
      static_cast<size_t>(std::max<int32_t>(probed.payload_end, 0));
  Reading reading(bytes, std::min(readable, string_end), upper);
  reading.r.address = address;
  reading.r.may_stop_early = error && readable < string_end;
  reading.read(probed.start);
  reading.r.errors = reading.note();
  if (reading.cancel >= 0) {
    reading.r.errors += cancel_hint(static_cast<uint64_t>(reading.cancel));
  }
  return reading.r;
}

}  // namespace romweave
