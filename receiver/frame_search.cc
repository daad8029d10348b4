// Finding the next sound frame after a damaged one, as a receiver finds the
// sender's retransmission.
//
// Any byte may start a frame.  Checking each candidate from scratch would
// cost its whole data, up to 1024 bytes, at every position, which a
// capture of nothing but frame starts turns into thousands of times the
// cost of reading it.  So the bytes are added up once, a span at a time,
// into running sums and CRCs, from which the sum and the CRC of any
// candidate's data are a subtraction or two table lookups away: each
// position costs the same, whatever the bytes.

#include "receiver/frame_search.h"

#include <cstring>

#include "xmodem/crc16.h"

namespace romweave {

namespace {

// A CRC moved on by the data of a frame of each size, a table for each of
// its bytes.
struct MovingTables {
  Crc16Table high;
  Crc16Table low;
};
constexpr MovingTables MOVING_BLOCK = {
    make_crc16_moving_table(BLOCK_DATA_SIZE, true),
    make_crc16_moving_table(BLOCK_DATA_SIZE, false)};
constexpr MovingTables MOVING_ONE_K = {
    make_crc16_moving_table(ONE_K_DATA_SIZE, true),
    make_crc16_moving_table(ONE_K_DATA_SIZE, false)};

// Positions looked at in one go, and the running values their frames'
// data need.
constexpr size_t SPAN = 4096;
constexpr size_t RUNNING = SPAN + ONE_K_DATA_SIZE + 1;
// Bytes wanted ahead: the largest frame, and room to go on.
constexpr size_t WANTED_AHEAD = 2048;
static_assert(WANTED_AHEAD <= SOURCE_FRONT_ROOM &&
                  WANTED_AHEAD > MAX_FRAME_SIZE,
              "the read-ahead keeps a frame and its neighbour");

// True when a frame may start at `at`: a start byte, and a complement
// that fits the number, all among the `got` bytes at `base`.
bool starts_frame(const unsigned char* base, size_t at, size_t got) {
  return (base[at] == SOH || base[at] == STX) &&
         at + FRAME_HEADER_SIZE <= got && (base[at + 1] ^ base[at + 2]) == 0xFF;
}

// The sums and the CRCs of the bytes of a window from `first` on, up to
// each byte, for the checks still possible.
struct Running {
  bool sums;
  bool crcs;
  size_t first = 0;
  unsigned char sum[RUNNING];
  uint16_t crc[RUNNING];
};

// Fills `running` for the candidates of the span [at, span_end) of the
// `got` bytes at `base`, `at` being its first: their data end at most a
// frame's data past it, the shorter frame's where no STX stands in it.
void run_over_span(const unsigned char* base, size_t at, size_t span_end,
                   size_t got, Running& running) {
  running.first = at + FRAME_HEADER_SIZE;
  const size_t reach =
      FRAME_HEADER_SIZE + (std::memchr(base + at, STX, span_end - at) != nullptr
                               ? ONE_K_DATA_SIZE
                               : BLOCK_DATA_SIZE);
  const size_t last = got - span_end < reach ? got : span_end + reach;
  const unsigned char* bytes = base + running.first;
  const size_t size = last - running.first;
  if (running.sums) running_sum8(bytes, size, running.sum);
  if (running.crcs) running_crc16(bytes, size, running.crc);
}

// The check that the candidate at `at` of the `got` bytes at `base` passes,
// the checksum first where it passes both, or CHECK_UNKNOWN for neither.
FrameCheck check_passed(const unsigned char* base, size_t at, size_t got,
                        const Running& running) {
  const size_t data_size = frame_data_size(base[at]);
  const size_t check_at = at + FRAME_HEADER_SIZE + data_size;
  const size_t from = at + FRAME_HEADER_SIZE - running.first;
  const size_t to = from + data_size;
  if (running.sums && check_at < got &&
      base[check_at] ==
          static_cast<unsigned char>(running.sum[to] - running.sum[from])) {
    return CHECK_SUM;
  }
  if (running.crcs && check_at + 1 < got) {
    const MovingTables& moving =
        data_size == BLOCK_DATA_SIZE ? MOVING_BLOCK : MOVING_ONE_K;
    const uint16_t before = running.crc[from];
    const unsigned crc =
        running.crc[to] ^ moving.high[before >> 8] ^ moving.low[before & 0xFF];
    if ((static_cast<unsigned>(base[check_at]) << 8 | base[check_at + 1]) ==
        crc) {
      return CHECK_CRC;
    }
  }
  return CHECK_UNKNOWN;
}

// Moves `other_end` behind the last byte of the span [span, span_end) of
// the window at `base`, `origin` in the source, that is not an end byte.
void note_other_bytes(const unsigned char* base, size_t span, size_t span_end,
                      int64_t origin, int64_t* other_end) {
  for (size_t i = span_end; i > span; --i) {
    if (!is_end_byte(base[i - 1])) {
      *other_end = origin + static_cast<int64_t>(i);
      return;
    }
  }
}

}  // namespace

FoundFrame find_sound_frame(ConversionState& state, int64_t limit,
                            FrameCheck check, int64_t* other_end) {
  SourceBuffer& in = state.input;
  Running running;
  running.sums = check != CHECK_CRC;
  running.crcs = check != CHECK_SUM;
  *other_end = in.position;
  int64_t skip_until = 0;  // the end of the last copy skipped
  consume_source(in, 1);
  for (;;) {
    const size_t got = look_ahead(in, limit, WANTED_AHEAD);
    if (got == 0) {
      in.read_failed = in.stream_failed;
      return FOUND_NONE;
    }
    const unsigned char* const base = in.bytes + in.begin;
    const int64_t origin = in.position;
    // Where the source goes on beyond reach, only positions whose largest
    // frame is whole in the read-ahead; where it ends, all.
    const size_t stop = got < WANTED_AHEAD ? got : got - MAX_FRAME_SIZE + 1;
    for (size_t span = 0; span < stop; span += SPAN) {
      const size_t span_end = stop - span < SPAN ? stop : span + SPAN;
      note_other_bytes(base, span, span_end, origin, other_end);
      size_t at = span;
      while (at < span_end && !starts_frame(base, at, got)) ++at;
      if (at == span_end) continue;
      run_over_span(base, at, span_end, got, running);
      for (; at < span_end; ++at) {
        if (!starts_frame(base, at, got) ||
            origin + static_cast<int64_t>(at) < skip_until) {
          continue;
        }
        const FrameCheck passed = check_passed(base, at, got, running);
        if (passed == CHECK_UNKNOWN) continue;
        // Once a frame has been taken the check is known, and a copy has
        // the size of the frame taken.
        const size_t size = frame_size(frame_data_size(base[at]), passed);
        if (repeats_last_frame(state, base + at, size)) {
          skip_until = origin + static_cast<int64_t>(at + size);
          continue;
        }
        const bool expected = base[at + 1] == state.expected_block;
        consume_source(in, at);
        return expected ? FOUND_EXPECTED : FOUND_OTHER;
      }
    }
    consume_source(in, stop);
  }
}

}  // namespace romweave
