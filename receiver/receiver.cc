// Reads a capture as the XMODEM receiver on that line would have.
//
// A sender repeats a frame that noise damaged, or whose acknowledgement
// was lost, and ends with EOT, which it may have to send again; a receiver
// may ask for a CRC-16 instead of the checksum, and a sender may send 1K
// frames.  The receiver on the line made its file from these bytes, and so
// does this reading, by the rules below, without ever guessing: what they
// do not explain is a fault.
//
// Frames.  A frame is a start byte, SOH for 128 data bytes or STX for
// 1024, its number, the number's complement, the data and a check: the
// sum of the data modulo 256 (one byte), or their CRC-16 (polynomial
// 0x1021 from 0, high byte first).  One check holds for a whole source;
// it is unknown until the first frame is taken.  A frame at an offset is
// sound when all its bytes lie in the source (in the string, for a
// calculator string: no byte at or past the string's end is ever read),
// its complement is 255 minus its number, and its check fits its data;
// while the check is unknown, when either check does.  A copy is a sound
// frame that is byte for byte, and in size, the last frame taken from the
// current source.
//
// The search from an offset looks at every offset from there on, in turn,
// up to the end of the source, for the first sound frame that is not a
// copy.  A copy it meets is passed over whole: no frame that starts inside
// it counts.  It finds the frame expected next (the number expected), a
// frame of another number, or none.
//
// The reading goes attempt by attempt from the first byte behind the
// calculator's header, or the source's first byte (offsets here are
// offsets in the file).  Each attempt prints the progress line with the
// address (the data bytes taken so far, over all sources), then looks at
// the byte where it stands, P:
//
// 1. None left, at the end of the source or of its string: the source
//    ends, without an EOT.
// 2. EOT: the search from P + 1.  No frame: the source ends at this EOT.
//    The frame expected next: the EOT was noise, skipped; the next attempt
//    is at that frame.  Another frame: the fault "No SOH".
// 3. CAN and another CAN: the transfer was cancelled: the fault "No SOH".
// 4. SOH or STX, and the frame there sound:
//    - numbered as expected: it is taken.  Its data go to the image, the
//      address moves on by its data size, the number expected by 1 modulo
//      256, and it is the last frame taken; the next attempt is behind it.
//      The first frame taken settles the check: the one it passes; where
//      it passes both, the one under which the bytes behind it (behind
//      the one-byte or the two-byte check) begin a sound frame with the
//      next number, else the one under which they begin with an EOT or the
//      source ends there, else the checksum.
//    - a copy: skipped; the next attempt is behind it.
//    - any other: the fault "Got N instead of E Block No", N its number
//      and E the one expected.
// 5. Anything else (another byte, a lone CAN, a frame that is not sound):
//    a damaged stretch, and the search from P + 1.
//    - The frame expected next: the stretch is skipped up to it; the next
//      attempt is at that frame.
//    - None, and the bytes from P on are noise before the end (below): the
//      noise is skipped, and the attempt at its EOT, which prints its own
//      progress line, ends the source at that EOT.
//    - Otherwise the source fails with the fault that the plain reading
//      meets in the frame at P, field by field: "No SOH" for a byte that
//      starts no frame; for a frame, in this order, the end of the source
//      before its number, its number, the end before its complement, its
//      complement, the end inside its data, the end before its check, its
//      check, each with the plain reading's message, where a frame has its
//      own data size (1024 behind STX) and the CRC-16 is its check only
//      once the check is known to be that (the message then shows the
//      16-bit values).  The data bytes of that frame that lie in the
//      source (all of them where it is whole) go to the image, as the
//      plain reading writes them; nothing else does.
//
// Noise before the end: where a damaged stretch at P is followed by no
// sound frame (copies aside), the EOT of the end is the first EOT behind
// the last byte from P + 1 on that is not an end byte (EOT, SUB, CAN and
// BS, the ends of a transfer on either side), or behind P where there is
// none: nothing but such bytes follows it.  The bytes from P up to that
// EOT are noise, and the EOT ends the source, only where all of these hold:
//    - they are fewer than 64: too few to hold a frame, even one that lost
//      bytes on the line (an EOT with other bytes behind it may be a 0x04
//      in the data of a damaged frame, whose bytes run on);
//    - they hold no CAN followed by CAN;
//    - none of them is an SOH or STX followed by the number expected and
//      its complement (which may be the EOT itself): such bytes may
//      be a frame that the sender sent and the receiver never took.
//
// The source ends cleanly at its end, at an EOT or after noise at an EOT;
// every other outcome above is its one fault message, and the source
// fails.
//
// A read error: the reading of a source that fails to read at offset F is
// that of the source cut at F, up to the first step that needs a byte at
// or past F; that step, instead of meeting the end, makes the source
// unreadable: no fault message and no note are printed, and the lines
// printed and the data taken so far stand.  (A step looks ahead by at most
// a frame and its neighbour, except the search, which reads on to the
// frame it finds.)
//
// The note.  After a source that ended cleanly or failed, one line on
// standard error, when there is anything to say, standard output having
// been flushed first: "Note: NAME, read as an XMODEM receiver: TEXT.\n",
// NAME the upper-cased source name, TEXT these parts in this order, joined
// by "; ", each only where it applies:
//    - "1K frames with a CRC-16", "1K frames" or "frames with a CRC-16":
//      a 1K frame was taken, the check is the CRC-16, or both;
//    - "a damaged stretch skipped at offset N", or, for K > 1, "K damaged
//      stretches skipped at offsets A, B and C": the offsets P of the
//      stretches skipped, in order; only the first eight are listed, and
//      for K = 8 + J the list reads "A, B, C, D, E, F, G, H and J more";
//    - the same for "a repeated frame" / "repeated frames" (the copies
//      skipped, at their offsets) and "a noise EOT" / "noise EOTs";
//    - "noise skipped before the EOT at offset E": the source ended at the
//      EOT at E after noise;
//    - only for a source that ended cleanly: "no EOT at its end, so the
//      transfer may not have finished" where it ended without one, or "the
//      EOT at offset E ended it, with other bytes behind it" where bytes
//      other than EOT, SUB, CAN and BS (the ends of a transfer on either
//      side) follow the EOT it ended at.
// After a cancel, the cancel's hint follows the note: "Hint: 0x18 at
// offset P cancelled the transmission: the capture is incomplete.\n".

#include "receiver/receiver.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "capture/sound_blocks.h"
#include "receiver/frame_search.h"
#include "report/fault_messages.h"
#include "report/hints.h"
#include "report/progress_line.h"

namespace romweave {

namespace {

// Noise before the end is fewer bytes than this.
constexpr int64_t NOISE_LIMIT = 64;

// The reading of one source.
struct Reception {
  Reception(ConversionState& state, int64_t limit)
      : state(state), limit(limit) {}

  ConversionState& state;
  int64_t limit;  // no byte at or past it is read
  FrameCheck check = CHECK_UNKNOWN;
  ReceptionRecord record;
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

// The check an attempt reads a frame with: while it is unknown, the CRC,
// whose frames are the longer, so that the frame can be tried with both.
FrameCheck check_to_read(FrameCheck check) {
  return check == CHECK_SUM ? CHECK_SUM : CHECK_CRC;
}

// The check a damaged frame's fault is told with: while it is unknown, the
// checksum, as the plain reading tells it.
FrameCheck check_to_tell(FrameCheck check) {
  return check == CHECK_CRC ? CHECK_CRC : CHECK_SUM;
}

// How the reading with one check goes on after a first frame.
enum Sequel {
  GOES_ASTRAY,  // to anything else
  GOES_TO_END,  // to an EOT or the end of the source
  GOES_ON,      // to a sound frame with the next number
};

// Where the reading with `check` goes `at` bytes into the `got` at `bytes`
// when it expects `number`.  The bytes end only where the source does: they
// hold a frame and the largest one behind it.
Sequel sequel(const unsigned char* bytes, size_t got, size_t at,
              FrameCheck check, unsigned number) {
  if (at >= got || bytes[at] == EOT) return GOES_TO_END;
  const size_t data_size = frame_data_size(bytes[at]);
  return data_size != 0 &&
                 frame_is_sound(bytes + at, got - at, data_size, check) &&
                 bytes[at + 1] == number
             ? GOES_ON
             : GOES_ASTRAY;
}

// The check of a source whose first frame, of `data_size` data bytes and
// at the start of the read-ahead, passes both.  A sound block 2 behind it
// is the strongest sign, and only one check can show it: under the other
// it would start on the first one's number.  An EOT or the end of the
// source is a weaker one, as one byte in 256 is an EOT and a CRC's low byte
// may be.  Where that settles nothing, the checksum, the plain reading's.
FrameCheck settle_check(Reception& r, size_t data_size) {
  SourceBuffer& in = r.state.input;
  const size_t wanted = frame_size(data_size, CHECK_CRC) + MAX_FRAME_SIZE;
  const size_t got = look_ahead(in, r.limit, wanted);
  // The bytes that would settle it could not be read.
  if (got < wanted && in.stream_failed) in.read_failed = true;
  const unsigned char* bytes = in.bytes + in.begin;
  const unsigned next = (r.state.expected_block + 1) & 0xFF;
  const Sequel by_sum =
      sequel(bytes, got, frame_size(data_size, CHECK_SUM), CHECK_SUM, next);
  const Sequel by_crc =
      sequel(bytes, got, frame_size(data_size, CHECK_CRC), CHECK_CRC, next);
  if (by_crc == GOES_ON) return CHECK_CRC;
  if (by_crc == GOES_TO_END && by_sum == GOES_ASTRAY) return CHECK_CRC;
  return CHECK_SUM;
}

// Takes the sound frame, numbered as expected, at the start of the
// read-ahead.
void take_frame(Reception& r, size_t data_size) {
  ConversionState& state = r.state;
  const SourceBuffer& in = state.input;
  const unsigned char* frame = in.bytes + in.begin;
  const size_t size = frame_size(data_size, r.check);
  put_bytes(*state.destination, frame + FRAME_HEADER_SIZE, data_size);
  book_taken_frames(state, frame, size, data_size, 1);
  if (data_size == ONE_K_DATA_SIZE) r.record.one_k = true;
}

// Notes, after a damaged stretch or a noise EOT, where the reading goes
// on: at the frame found, at the current position.
void note_resumption(Reception& r) {
  const SourceBuffer& in = r.state.input;
  r.record.resumed_offset = in.position;
  r.record.resumed_number = in.bytes[in.begin + 1];
}

// Ends the source at the EOT at `eot`, the search after it having passed
// over bytes up to `other_end` that are not end bytes.
Step end_at_eot(Reception& r, int64_t eot, int64_t other_end) {
  r.record.ending = other_end <= eot ? ENDED_AT_EOT : ENDED_AT_EOT_AND_MORE;
  r.record.eot_offset = eot;
  return STEP_END;
}

// The attempt after an EOT at the current position.
Step after_eot(Reception& r) {
  const SourceBuffer& in = r.state.input;
  const int64_t offset = in.position;
  int64_t other_end = 0;
  switch (find_sound_frame(r.state, r.limit, r.check, &other_end)) {
    case FOUND_NONE:
      if (in.read_failed) return STEP_END;
      return end_at_eot(r, offset, other_end);
    case FOUND_EXPECTED:
      r.record.noise_eots.add(offset);
      note_resumption(r);
      return STEP_ON;
    case FOUND_OTHER:
      break;
  }
  print_fault(*r.state.standard_output, r.state.source_name,
              {FAULT_NO_SOH, 0, 0, 0});
  return STEP_FAILED;
}

// Where the EOT of the end lies among the `got` bytes at `bytes`, the start
// of a damaged stretch, when they are noise before it, or -1 where they
// cannot be: the first EOT from `from` on (no byte from there on being
// other than an end byte), fewer than NOISE_LIMIT bytes in, with no CAN CAN
// before it and no start byte followed by `expected` and its complement.
// Such a header may be a frame that the receiver never took, and a frame
// at all would need more bytes.
int64_t noise_before_eot(const unsigned char* bytes, size_t got,
                         unsigned expected, int64_t from) {
  const size_t end = got < NOISE_LIMIT ? got : NOISE_LIMIT;
  for (size_t at = 0; at < end; ++at) {
    if (bytes[at] == EOT && static_cast<int64_t>(at) >= from) {
      return static_cast<int64_t>(at);
    }
    if (bytes[at] == CAN && at + 1 < got && bytes[at + 1] == CAN) return -1;
    if (frame_data_size(bytes[at]) != 0 && at + 2 < got &&
        bytes[at + 1] == expected && bytes[at + 2] == 255 - expected) {
      return -1;
    }
  }
  return -1;
}

// The attempt at a damaged frame, or stray bytes, at the current position,
// of which `got` bytes are at hand.
Step after_damage(Reception& r, size_t got) {
  ConversionState& state = r.state;
  SourceBuffer& in = state.input;
  const int64_t offset = in.position;
  const unsigned char* bytes = in.bytes + in.begin;
  const FaultReport fault =
      first_fault(bytes, got, frame_data_size(bytes[0]), check_to_tell(r.check),
                  state.expected_block);
  if (fault.data_read > 0) {
    std::memcpy(r.damaged_data, bytes + FRAME_HEADER_SIZE, fault.data_read);
  }
  // The bytes that may be noise, kept while the search reads on.
  unsigned char near[NOISE_LIMIT];
  const size_t at_hand = look_ahead(in, r.limit, sizeof near);
  const size_t near_got = at_hand < sizeof near ? at_hand : sizeof near;
  std::memcpy(near, in.bytes + in.begin, near_got);
  int64_t other_end = 0;
  const FoundFrame found =
      find_sound_frame(state, r.limit, r.check, &other_end);
  if (in.read_failed) return STEP_END;
  if (found == FOUND_EXPECTED) {
    r.record.damaged.add(offset);
    note_resumption(r);
    return STEP_ON;
  }
  Output& out = *state.standard_output;
  const int64_t noise =
      found == FOUND_NONE
          ? noise_before_eot(near, near_got, state.expected_block,
                             other_end - offset)
          : -1;
  if (noise >= 0) {
    // The attempt at the EOT, behind the noise, ends the source.
    r.record.noise_offset = offset;
    if (!out.failed) print_progress(out, state.address);
    return end_at_eot(r, offset + noise, other_end);
  }
  put_bytes(*state.destination, r.damaged_data, fault.data_read);
  print_fault(out, state.source_name, fault);
  return STEP_FAILED;
}

// The attempt at a frame of `data_size` data bytes at the current position:
// takes it, skips it as a copy, or passes it to after_damage().
Step at_frame(Reception& r, size_t data_size) {
  ConversionState& state = r.state;
  SourceBuffer& in = state.input;
  const size_t wanted = frame_size(data_size, check_to_read(r.check));
  const size_t got = look_ahead(in, r.limit, wanted);
  if (got < wanted && in.stream_failed) {
    in.read_failed = true;
    return STEP_END;
  }
  const unsigned char* frame = in.bytes + in.begin;
  const bool sum_ok =
      r.check != CHECK_CRC && frame_is_sound(frame, got, data_size, CHECK_SUM);
  const bool crc_ok =
      r.check != CHECK_SUM && frame_is_sound(frame, got, data_size, CHECK_CRC);
  if (!sum_ok && !crc_ok) return after_damage(r, got);

  const unsigned number = frame[1];
  if (number == state.expected_block) {
    if (r.check == CHECK_UNKNOWN) {
      r.check = !crc_ok   ? CHECK_SUM
                : !sum_ok ? CHECK_CRC
                          : settle_check(r, data_size);
      r.record.crc = r.check == CHECK_CRC;
      if (in.read_failed) return STEP_END;
    }
    take_frame(r, data_size);
    return STEP_ON;
  }
  // A frame is taken before any copy of it, so the check is known here.
  const size_t size = frame_size(data_size, r.check);
  if (repeats_last_frame(state, frame, size)) {
    r.record.copies.add(in.position);
    consume_source(in, size);
    return STEP_ON;
  }
  print_fault(*state.standard_output, state.source_name,
              {FAULT_NUMBER, number, state.expected_block, 0});
  return STEP_FAILED;
}

// One attempt: prints the progress line, then takes a frame, skips a copy
// or a stretch of damaged bytes, or comes to the end or a fault.
Step receive_frame(Reception& r) {
  ConversionState& state = r.state;
  SourceBuffer& in = state.input;
  Output& out = *state.standard_output;
  if (!out.failed) print_progress(out, state.address);

  const size_t got = look_ahead(in, r.limit, 2);
  if (got == 0) {
    in.read_failed = in.stream_failed;
    r.record.ending = ENDED_WITHOUT_EOT;
    return STEP_END;
  }
  const unsigned char start = in.bytes[in.begin];
  if (start == EOT) return after_eot(r);
  if (start == CAN && got >= 2 && in.bytes[in.begin + 1] == CAN) {
    r.record.cancel_offset = in.position;
    print_fault(out, state.source_name, {FAULT_NO_SOH, 0, 0, 0});
    return STEP_FAILED;
  }
  const size_t data_size = frame_data_size(start);
  return data_size == 0 ? after_damage(r, got) : at_frame(r, data_size);
}

// Reads attempt after attempt up to the end or a fault.  Blocks with the
// checksum go the batch path's way, up to those that end at or before the
// limit: a receiver's frame never runs past it.
Step receive_frames(Reception& r) {
  const int64_t whole_blocks_start_limit =
      r.limit == UNLIMITED ? UNLIMITED
                           : r.limit - static_cast<int64_t>(BLOCK_SIZE - 1);
  Step step;
  do {
    if (r.check == CHECK_SUM) {
      take_sound_blocks(r.state, whole_blocks_start_limit);
    }
    step = receive_frame(r);
  } while (step == STEP_ON);
  return step;
}

}  // namespace

SourceVerdict receive_source(ConversionState& state, int64_t limit) {
  Reception r(state, limit);
  const Step step = receive_frames(r);
  if (state.input.read_failed) return VERDICT_UNREADABLE;
  Output& out = *state.standard_output;
  Output& err = *state.standard_error;
  print_note(out, err, state.source_name, r.record, step == STEP_END);
  if (r.record.cancel_offset >= 0) {
    Hint cancelled;
    cancelled.kind = HINT_CANCELLED;
    cancelled.offset = r.record.cancel_offset;
    print_hint(out, err, cancelled);
  }
  return step == STEP_END ? VERDICT_CLEAN : VERDICT_FAULTY;
}

bool receiver_would_read(ConversionState& state, int64_t limit,
                         FrameCheck check, ReceptionRecord* record) {
  SourceBuffer& in = state.input;
  const int64_t trial_end = in.position + RECEIVER_TRIAL_LIMIT;
  const bool cut = trial_end < limit;
  // Everything the trial prints or writes goes nowhere.
  std::vector<char> scratch(2 * 64 * 1024);
  Output data = discarding_output(scratch.data(), scratch.size() / 2);
  Output lines = discarding_output(scratch.data() + scratch.size() / 2,
                                   scratch.size() / 2);
  Output* const outputs[] = {state.destination, state.standard_output,
                             state.standard_error};
  const uint64_t address = state.address;
  const uint8_t expected_block = state.expected_block;
  state.destination = &data;
  state.standard_output = &lines;
  state.standard_error = &lines;

  Reception r(state, cut ? trial_end : limit);
  r.check = check;
  bool clean = receive_frames(r) == STEP_END && !in.read_failed;
  // The trial's end is no end of the source.
  if (cut && in.position >= trial_end && fill_source(in, 1) > 0) {
    clean = false;
  }
  *record = r.record;

  state.destination = outputs[0];
  state.standard_output = outputs[1];
  state.standard_error = outputs[2];
  state.address = address;
  state.expected_block = expected_block;
  return clean;
}

}  // namespace romweave
