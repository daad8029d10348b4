// Reads a capture as the XMODEM receiver on that line would have.
//
// A sender repeats a frame that noise damaged, or whose acknowledgement
// was lost, and ends with EOT, which it may have to send again; a receiver
// may ask for a CRC-16 instead of the checksum, and a sender may send 1K
// frames.  The receiver on the line made its file from these bytes, and so
// does this reading, by these rules, without ever guessing:
//
// - A source's check is the one that the first frame taken passes; where
//   that frame passes both, the one under which the next frame is block 2,
//   else the one under which it is an EOT or the end of the source, and
//   the checksum where that settles nothing.
// - A damaged frame, or stray bytes where a frame should start, is skipped
//   only where the first sound frame after it is the one expected next
//   (copies of the frame just taken aside): the sender's retransmission.
//   Any other frame, or none, fails the source at the damaged one, with
//   the message and the destination bytes of the plain reading.
// - A copy of the frame just taken is skipped; a frame with its number
//   that is not its copy is a fault.
// - EOT ends the source unless a sound frame follows it: the one expected
//   next makes it noise, any other fails the source.  CAN CAN cancels.
//
// What the reading skipped or met is told in one note on standard error.

#include <cinttypes>
#include <cstdint>
#include <cstring>
#include <string>

#include "capture/capture.h"
#include "capture/crc16.h"
#include "capture/frames.h"
#include "capture/progress_line.h"

namespace romweave {

namespace {

// How many offsets of each kind a note lists.
constexpr uint64_t NOTE_OFFSETS = 8;

// Places where the reading skipped bytes of one kind.
struct Skips {
  uint64_t count = 0;
  int64_t first[NOTE_OFFSETS] = {};

  void add(int64_t offset) {
    if (count < NOTE_OFFSETS) first[count] = offset;
    ++count;
  }
};

// How a source that did not fail came to its end.
enum Ending {
  ENDED_AT_EOT,           // an EOT, with nothing but EOT, SUB, CAN or BS behind
  ENDED_AT_EOT_AND_MORE,  // an EOT, with other bytes behind, but no frame
  ENDED_WITHOUT_EOT,      // the end of the source or of its string
};

// The reading of one source.
struct Reception {
  Reception(ConversionState& state, int64_t limit)
      : state(state), limit(limit) {}

  ConversionState& state;
  int64_t limit;  // no byte at or past it is read
  FrameCheck check = CHECK_UNKNOWN;
  bool one_k = false;  // a 1K frame was taken
  Skips damaged;
  Skips copies;
  Skips noise_eots;
  Ending ending = ENDED_WITHOUT_EOT;
  int64_t eot_offset = 0;
  int64_t cancel_offset = -1;  // where CAN CAN cancelled, or -1
  // The data bytes the plain reading writes of a damaged frame, kept
  // while the bytes after it are searched.
  unsigned char damaged_data[ONE_K_DATA_SIZE] = {};
};

// What one attempt did.
enum Step {
  STEP_ON,      // a frame was taken or bytes skipped: read on
  STEP_END,     // the source ended, or reading it failed (read_failed)
  STEP_FAILED,  // a fault; its message has been printed
};

unsigned char sum_of(const unsigned char* data, size_t size) {
  unsigned sum = 0;
  for (size_t i = 0; i < size; ++i) sum += data[i];
  return static_cast<unsigned char>(sum);
}

unsigned check_found(const unsigned char* at, FrameCheck check) {
  return check == CHECK_CRC ? static_cast<unsigned>(at[0]) << 8 | at[1] : at[0];
}

unsigned check_wanted(const unsigned char* data, size_t size,
                      FrameCheck check) {
  return check == CHECK_CRC ? crc16(data, size) : sum_of(data, size);
}

// True when the `got` bytes at `frame` hold a whole frame, of `data_size`
// data bytes, whose complement fits its number and whose `check` fits its
// data.
bool sound(const unsigned char* frame, size_t got, size_t data_size,
           FrameCheck check) {
  return got >= frame_size(data_size, check) && (frame[1] ^ frame[2]) == 0xFF &&
         check_found(frame + 3 + data_size, check) ==
             check_wanted(frame + 3, data_size, check);
}

// The first fault of the frame in the `got` bytes at `frame`, as the plain
// reading meets it, with `check` (never unknown here) and the number
// `expected`; `data_read` is how many of its data bytes the plain reading
// writes.
FaultReport plain_fault(const unsigned char* frame, size_t got,
                        FrameCheck check, unsigned expected,
                        size_t* data_read) {
  *data_read = 0;
  const size_t data_size = frame_data_size(frame[0]);
  const unsigned complement = 255 - expected;
  if (data_size == 0) return {FAULT_NO_SOH, 0, 0};
  if (got < 2) return {FAULT_EOF_AT_NUMBER, 0, 0};
  if (frame[1] != expected) return {FAULT_NUMBER, frame[1], expected};
  if (got < 3) return {FAULT_EOF_AT_INVERSE, 0, 0};
  if (frame[2] != complement) return {FAULT_INVERSE, frame[2], complement};
  *data_read = got - 3 < data_size ? got - 3 : data_size;
  if (*data_read < data_size) {
    return {FAULT_EOF_AT_DATA, static_cast<unsigned>(*data_read), 0};
  }
  if (got < frame_size(data_size, check)) return {FAULT_EOF_AT_CHECK, 0, 0};
  return {FAULT_CHECK, check_found(frame + 3 + data_size, check),
          check_wanted(frame + 3, data_size, check)};
}

// How the reading with one check goes on after a first frame.
enum Sequel {
  GOES_ASTRAY,  // to anything else
  GOES_TO_END,  // to an EOT or the end of the source
  GOES_ON,      // to a sound frame with the next number
};

// Where the reading with `check` goes `at` bytes into the `got` at `bytes`
// (`ends`: nothing comes after those bytes) when it expects `number`.
Sequel sequel(const unsigned char* bytes, size_t got, bool ends, size_t at,
              FrameCheck check, unsigned number) {
  if (at >= got) return ends ? GOES_TO_END : GOES_ASTRAY;
  if (bytes[at] == EOT) return GOES_TO_END;
  const size_t data_size = frame_data_size(bytes[at]);
  return data_size != 0 && got - at >= 2 && bytes[at + 1] == number &&
                 sound(bytes + at, got - at, data_size, check)
             ? GOES_ON
             : GOES_ASTRAY;
}

// The check of a source whose first frame, of `data_size` data bytes and
// at the start of the read-ahead, passes both: the one whose reading goes
// on to a sound block 2; else the one whose reading goes on to an EOT or
// the end; the checksum where both or neither do.  A sound block 2 is the
// stronger sign: one byte in 256 is an EOT, and a CRC's low byte may be.
FrameCheck settle_check(Reception& r, size_t data_size) {
  SourceBuffer& in = r.state.input;
  const size_t wanted = frame_size(data_size, CHECK_CRC) + MAX_FRAME_SIZE;
  const size_t got = look_ahead(in, r.limit, wanted);
  // The bytes that would settle it could not be read.
  if (got < wanted && in.stream_failed) in.read_failed = true;
  const bool ends = got < wanted;
  const unsigned char* bytes = in.bytes + in.begin;
  const unsigned next = (r.state.expected_block + 1) & 0xFF;
  const Sequel by_sum = sequel(
      bytes, got, ends, frame_size(data_size, CHECK_SUM), CHECK_SUM, next);
  const Sequel by_crc = sequel(
      bytes, got, ends, frame_size(data_size, CHECK_CRC), CHECK_CRC, next);
  return by_crc > by_sum ? CHECK_CRC : CHECK_SUM;
}

// Takes the sound frame, numbered as expected, at the start of the
// read-ahead.
void take_frame(Reception& r, size_t data_size) {
  ConversionState& state = r.state;
  const SourceBuffer& in = state.input;
  const unsigned char* frame = in.bytes + in.begin;
  const size_t size = frame_size(data_size, r.check);
  put_bytes(*state.destination, frame + 3, data_size);
  book_taken_frames(state, frame, size, data_size, 1);
  if (data_size == ONE_K_DATA_SIZE) r.one_k = true;
}

// The attempt after an EOT at the current position.
Step after_eot(Reception& r) {
  const SourceBuffer& in = r.state.input;
  const int64_t offset = in.position;
  bool only_end_bytes = false;
  switch (find_sound_frame(r.state, r.limit, r.check, &only_end_bytes)) {
    case FOUND_NONE:
      if (in.read_failed) return STEP_END;
      r.ending = only_end_bytes ? ENDED_AT_EOT : ENDED_AT_EOT_AND_MORE;
      r.eot_offset = offset;
      return STEP_END;
    case FOUND_EXPECTED:
      r.noise_eots.add(offset);
      return STEP_ON;
    case FOUND_OTHER:
      break;
  }
  print_fault(r.state, {FAULT_NO_SOH, 0, 0});
  return STEP_FAILED;
}

// The attempt at a damaged frame, or stray bytes, at the current position,
// of which `got` bytes are at hand.
Step after_damage(Reception& r, size_t got) {
  ConversionState& state = r.state;
  SourceBuffer& in = state.input;
  const int64_t offset = in.position;
  size_t data_read = 0;
  const FaultReport fault = plain_fault(
      in.bytes + in.begin, got, r.check == CHECK_CRC ? CHECK_CRC : CHECK_SUM,
      state.expected_block, &data_read);
  if (data_read > 0) {
    std::memcpy(r.damaged_data, in.bytes + in.begin + 3, data_read);
  }
  bool only_end_bytes = false;
  const FoundFrame found =
      find_sound_frame(state, r.limit, r.check, &only_end_bytes);
  if (in.read_failed) return STEP_END;
  if (found == FOUND_EXPECTED) {
    r.damaged.add(offset);
    return STEP_ON;
  }
  put_bytes(*state.destination, r.damaged_data, data_read);
  print_fault(state, fault);
  return STEP_FAILED;
}

// One attempt: prints the progress line, then takes a frame, skips a copy
// or a stretch of damaged bytes, or comes to the end or a fault.
Step receive_frame(Reception& r) {
  ConversionState& state = r.state;
  SourceBuffer& in = state.input;
  Output& out = *state.standard_output;
  if (!out.failed) print_progress(out, state.address);

  size_t got = look_ahead(in, r.limit, 2);
  if (got == 0) {
    in.read_failed = in.stream_failed;
    return STEP_END;
  }
  const unsigned char start = in.bytes[in.begin];
  if (start == EOT) return after_eot(r);
  if (start == CAN && got >= 2 && in.bytes[in.begin + 1] == CAN) {
    r.cancel_offset = in.position;
    print_fault(state, {FAULT_NO_SOH, 0, 0});
    return STEP_FAILED;
  }
  const size_t data_size = frame_data_size(start);
  if (data_size == 0) return after_damage(r, got);

  const size_t wanted =
      frame_size(data_size, r.check == CHECK_SUM ? CHECK_SUM : CHECK_CRC);
  got = look_ahead(in, r.limit, wanted);
  if (got < wanted && in.stream_failed) {
    in.read_failed = true;
    return STEP_END;
  }
  const unsigned char* frame = in.bytes + in.begin;
  const bool sum_ok =
      r.check != CHECK_CRC && sound(frame, got, data_size, CHECK_SUM);
  const bool crc_ok =
      r.check != CHECK_SUM && sound(frame, got, data_size, CHECK_CRC);
  if (!sum_ok && !crc_ok) return after_damage(r, got);

  const unsigned number = frame[1];
  if (number == state.expected_block) {
    if (r.check == CHECK_UNKNOWN) {
      r.check = !crc_ok   ? CHECK_SUM
                : !sum_ok ? CHECK_CRC
                          : settle_check(r, data_size);
      if (in.read_failed) return STEP_END;
    }
    take_frame(r, data_size);
    return STEP_ON;
  }
  // A frame is taken before any copy of it, so the check is known here.
  const size_t size = frame_size(data_size, r.check);
  if (state.last_frame_size == size &&
      std::memcmp(frame, state.last_frame, size) == 0) {
    r.copies.add(in.position);
    consume_source(in, size);
    return STEP_ON;
  }
  print_fault(state, {FAULT_NUMBER, number, state.expected_block});
  return STEP_FAILED;
}

// Appends ", 1, 2 and 3" style lists: "at offset N" or "at offsets ...".
void append_skips(std::string& text, const Skips& skips, const char* one,
                  const char* many) {
  if (skips.count == 0) return;
  if (!text.empty()) text += "; ";
  char number[32];
  if (skips.count == 1) {
    std::snprintf(number, sizeof number, "%" PRId64, skips.first[0]);
    text += std::string(one) + " skipped at offset " + number;
    return;
  }
  std::snprintf(number, sizeof number, "%" PRIu64, skips.count);
  text += std::string(number) + " " + many + " skipped at offsets ";
  const uint64_t listed =
      skips.count < NOTE_OFFSETS ? skips.count : NOTE_OFFSETS;
  for (uint64_t i = 0; i < listed; ++i) {
    std::snprintf(number, sizeof number, "%" PRId64, skips.first[i]);
    if (i > 0) {
      text += i + 1 == listed && listed == skips.count ? " and " : ", ";
    }
    text += number;
  }
  if (skips.count > listed) {
    std::snprintf(number, sizeof number, "%" PRIu64, skips.count - listed);
    text += std::string(" and ") + number + " more";
  }
}

// The note on what the reading of a source did, when there is anything to
// say: a transfer that ends in its EOT and needed nothing else gets none.
void print_note(Reception& r, Step last) {
  std::string text;
  if (r.check == CHECK_CRC || r.one_k) {
    text = r.one_k && r.check == CHECK_CRC ? "1K frames with a CRC-16"
           : r.one_k                       ? "1K frames"
                                           : "frames with a CRC-16";
  }
  append_skips(text, r.damaged, "a damaged stretch", "damaged stretches");
  append_skips(text, r.copies, "a repeated frame", "repeated frames");
  append_skips(text, r.noise_eots, "a noise EOT", "noise EOTs");
  if (last == STEP_END && r.ending != ENDED_AT_EOT) {
    if (!text.empty()) text += "; ";
    if (r.ending == ENDED_WITHOUT_EOT) {
      text += "no EOT at its end, so the transfer may not have finished";
    } else {
      char number[32];
      std::snprintf(number, sizeof number, "%" PRId64, r.eot_offset);
      text += std::string("the EOT at offset ") + number +
              " ended it, with other bytes behind it";
    }
  }
  if (text.empty()) return;
  // With both on one terminal or file, the note follows the last line.
  flush_output(*r.state.standard_output);
  print(*r.state.standard_error, "Note: %s, read as an XMODEM receiver: %s.\n",
        r.state.source_name.c_str(), text.c_str());
  flush_output(*r.state.standard_error);
}

}  // namespace

SourceVerdict receive_source(ConversionState& state, int32_t payload_end) {
  Reception r(state, payload_end == NO_LIMIT ? INT64_MAX : payload_end);
  // Blocks with the checksum go the batch path's way, up to those that end
  // at or before the string's end: a receiver's frame never runs past it.
  const int32_t whole_blocks_end =
      payload_end == NO_LIMIT
          ? NO_LIMIT
          : payload_end - static_cast<int32_t>(BLOCK_SIZE - 1);
  Step step;
  do {
    if (r.check == CHECK_SUM) take_sound_blocks(state, whole_blocks_end);
    step = receive_frame(r);
  } while (step == STEP_ON);
  if (state.input.read_failed) return SOURCE_UNREADABLE;
  print_note(r, step);
  if (r.cancel_offset >= 0) explain_cancel(state, r.cancel_offset);
  return step == STEP_END ? SOURCE_CLEAN : SOURCE_FAULTY;
}

}  // namespace romweave
