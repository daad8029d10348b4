#include "report/note.h"

#include <cinttypes>
#include <cstdio>

namespace romweave {

namespace {

std::string decimal(int64_t number) {
  char text[32];
  std::snprintf(text, sizeof text, "%" PRId64, number);
  return text;
}

// Appends "; " where the text holds an item already.
void next_item(std::string& text) {
  if (!text.empty()) text += "; ";
}

// Appends "a damaged stretch skipped at offset N", or "K damaged stretches
// skipped at offsets A, B and C", the first NOTE_OFFSETS of them listed.
void append_skips(std::string& text, const SkipList& skips, const char* one,
                  const char* many) {
  if (skips.count == 0) return;
  next_item(text);
  if (skips.count == 1) {
    text += std::string(one) + " skipped at offset " + decimal(skips.first[0]);
    return;
  }
  text += decimal(static_cast<int64_t>(skips.count)) + " " + many +
          " skipped at offsets ";
  const uint64_t listed =
      skips.count < NOTE_OFFSETS ? skips.count : NOTE_OFFSETS;
  for (uint64_t i = 0; i < listed; ++i) {
    if (i > 0) {
      text += i + 1 == listed && listed == skips.count ? " and " : ", ";
    }
    text += decimal(skips.first[i]);
  }
  if (skips.count > listed) {
    text +=
        " and " + decimal(static_cast<int64_t>(skips.count - listed)) + " more";
  }
}

}  // namespace

void print_note(Output& out, Output& err, const std::string& name,
                const ReceptionRecord& record, bool ended) {
  std::string text;
  if (record.crc || record.one_k) {
    text = record.one_k && record.crc ? "1K frames with a CRC-16"
           : record.one_k             ? "1K frames"
                                      : "frames with a CRC-16";
  }
  append_skips(text, record.damaged, "a damaged stretch", "damaged stretches");
  append_skips(text, record.copies, "a repeated frame", "repeated frames");
  append_skips(text, record.noise_eots, "a noise EOT", "noise EOTs");
  const std::string eot = decimal(record.eot_offset);
  if (record.noise_offset >= 0) {
    next_item(text);
    text += "noise skipped before the EOT at offset " + eot;
  }
  if (ended && record.ending == ENDED_WITHOUT_EOT) {
    next_item(text);
    text += "no EOT at its end, so the transfer may not have finished";
  } else if (ended && record.ending == ENDED_AT_EOT_AND_MORE) {
    next_item(text);
    text +=
        "the EOT at offset " + eot + " ended it, with other bytes behind it";
  }
  if (text.empty()) return;
  // With both on one terminal or file, the note follows the last line.
  flush_output(out);
  print(err, "Note: %s, read as an XMODEM receiver: %s.\n", name.c_str(),
        text.c_str());
  flush_output(err);
}

}  // namespace romweave
