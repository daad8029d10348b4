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

#include <cstring>

#include "capture/crc16.h"
#include "capture/frames.h"

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
  return (base[at] == SOH || base[at] == STX) && at + 3 <= got &&
         (base[at + 1] ^ base[at + 2]) == 0xFF;
}

}  // namespace

size_t look_ahead(SourceBuffer& in, int64_t limit, size_t wanted) {
  const int64_t before_limit = limit - in.position;
  if (before_limit <= 0) return 0;
  if (before_limit < static_cast<int64_t>(wanted)) {
    wanted = static_cast<size_t>(before_limit);
  }
  const size_t got = fill_source(in, wanted);
  return got < static_cast<uint64_t>(before_limit)
             ? got
             : static_cast<size_t>(before_limit);
}

FoundFrame find_sound_frame(ConversionState& state, int64_t limit,
                            FrameCheck check, int64_t* other_end) {
  SourceBuffer& in = state.input;
  const bool sums = check != CHECK_CRC;
  const bool crcs = check != CHECK_SUM;
  // The sum and the CRC of the bytes from a span's first candidate's data
  // on, up to each byte.
  unsigned char running_sum[RUNNING];
  uint16_t running_crc[RUNNING];
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
      for (size_t i = span_end; i > span; --i) {
        if (!is_end_byte(base[i - 1])) {
          *other_end = origin + static_cast<int64_t>(i);
          break;
        }
      }
      size_t at = span;
      while (at < span_end && !starts_frame(base, at, got)) ++at;
      if (at == span_end) continue;
      // The data of the span's candidates end at most a frame's data past
      // it, the shorter frame's where no STX stands in the span.
      const size_t first = at + 3;
      const size_t reach =
          3 + (std::memchr(base + at, STX, span_end - at) != nullptr
                   ? ONE_K_DATA_SIZE
                   : BLOCK_DATA_SIZE);
      const size_t last = got - span_end < reach ? got : span_end + reach;
      if (crcs) {
        running_crc16(base + first, last - first, running_crc,
                      sums ? running_sum : nullptr);
      } else {
        unsigned sum = 0;
        running_sum[0] = 0;
        for (size_t i = first; i < last; ++i) {
          sum += base[i];
          running_sum[i - first + 1] = static_cast<unsigned char>(sum);
        }
      }
      for (; at < span_end; ++at) {
        if (!starts_frame(base, at, got) ||
            origin + static_cast<int64_t>(at) < skip_until) {
          continue;
        }
        const size_t data_size = frame_data_size(base[at]);
        const size_t check_at = at + 3 + data_size;
        const size_t from = at + 3 - first;
        const size_t to = from + data_size;
        const bool sum_ok =
            sums && check_at < got &&
            base[check_at] ==
                static_cast<unsigned char>(running_sum[to] - running_sum[from]);
        bool crc_ok = false;
        if (crcs && check_at + 1 < got) {
          const MovingTables& moving =
              data_size == BLOCK_DATA_SIZE ? MOVING_BLOCK : MOVING_ONE_K;
          const uint16_t before = running_crc[from];
          const unsigned crc = running_crc[to] ^ moving.high[before >> 8] ^
                               moving.low[before & 0xFF];
          crc_ok = (static_cast<unsigned>(base[check_at]) << 8 |
                    base[check_at + 1]) == crc;
        }
        if (!sum_ok && !crc_ok) continue;
        // Once a frame has been taken the check is known, and a copy has
        // the size of the frame taken.
        const size_t size =
            frame_size(data_size, sum_ok ? CHECK_SUM : CHECK_CRC);
        if (state.last_frame_size == size &&
            std::memcmp(base + at, state.last_frame, size) == 0) {
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
