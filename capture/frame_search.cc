// Finding the next sound frame after a damaged one, as a receiver finds the
// sender's retransmission.
//
// Any byte may start a frame.  Checking each candidate from scratch would
// cost its whole data, up to 1024 bytes, at every position, which a
// capture of nothing but frame starts turns into thousands of times the
// cost of reading it.  So the sum and the CRC of a candidate's data are
// slid along from the last candidate of its size instead, a byte in and a
// byte out at a time, and each position costs the same whatever the bytes.

#include <cstring>

#include "capture/crc16.h"
#include "capture/frames.h"

namespace romweave {

namespace {

// What leaves a CRC as a byte leaves the data of a frame of each size.
constexpr Crc16Table LEAVING_BLOCK = make_crc16_leaving_table(BLOCK_DATA_SIZE);
constexpr Crc16Table LEAVING_ONE_K = make_crc16_leaving_table(ONE_K_DATA_SIZE);

// Bytes kept behind the position looked at: as far back as the data of a
// candidate within reach of the next one may begin.
constexpr size_t KEPT_BEHIND = 3 + ONE_K_DATA_SIZE;
// Bytes wanted ahead of it: the largest frame, and room to go on.
constexpr size_t WANTED_AHEAD = 2048;
static_assert(KEPT_BEHIND + WANTED_AHEAD <= SOURCE_TAIL_ROOM,
              "the read-ahead keeps a frame and its neighbour");

// The sum and the CRC of `length` bytes from offset `start`, the data of
// the last candidate of one frame size.
struct Window {
  size_t length;
  const Crc16Table* leaving;
  int64_t start = -1;  // -1: none yet
  unsigned char sum = 0;
  uint16_t crc = 0;
};

// Moves `window` to start at offset `start`, sliding it when it overlaps
// where it was and adding it up anew when not.  `base` holds the byte at
// offset `origin`, and every byte from the window's old start to its new
// end.  Only the sums a check needs are kept.
void move_window(Window& window, const unsigned char* base, int64_t origin,
                 int64_t start, bool sums, bool crcs) {
  const size_t length = window.length;
  if (window.start >= 0 && start - window.start < static_cast<int64_t>(length)) {
    const unsigned char* leaving = base + (window.start - origin);
    const unsigned char* const stop = base + (start - origin);
    unsigned char sum = window.sum;
    uint16_t crc = window.crc;
    for (; leaving < stop; ++leaving) {
      if (sums) sum = static_cast<unsigned char>(sum + leaving[length] - *leaving);
      if (crcs) {
        crc = crc16_step(static_cast<uint16_t>(crc ^ (*window.leaving)[*leaving]),
                         leaving[length]);
      }
    }
    window.sum = sum;
    window.crc = crc;
  } else {
    const unsigned char* data = base + (start - origin);
    unsigned char sum = 0;
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
      if (sums) sum = static_cast<unsigned char>(sum + data[i]);
      if (crcs) crc = crc16_step(crc, data[i]);
    }
    window.sum = sum;
    window.crc = crc;
  }
  window.start = start;
}

bool is_end_byte(unsigned char byte) {
  return byte == EOT || byte == SUB || byte == CAN || byte == BS;
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
                            FrameCheck check, bool* only_end_bytes) {
  SourceBuffer& in = state.input;
  const bool sums = check != CHECK_CRC;
  const bool crcs = check != CHECK_SUM;
  Window block = {BLOCK_DATA_SIZE, &LEAVING_BLOCK};
  Window one_k = {ONE_K_DATA_SIZE, &LEAVING_ONE_K};
  bool end_bytes = true;
  int64_t next = in.position + 1;  // the next position to look at
  int64_t skip_until = next;       // the end of the last copy skipped
  for (;;) {
    if (next - in.position > static_cast<int64_t>(KEPT_BEHIND)) {
      consume_source(in, static_cast<size_t>(next - in.position) - KEPT_BEHIND);
    }
    const size_t behind = static_cast<size_t>(next - in.position);
    const size_t got = look_ahead(in, limit, behind + WANTED_AHEAD);
    if (got <= behind) {
      consume_source(in, got);
      in.read_failed = in.stream_failed;
      *only_end_bytes = end_bytes;
      return FOUND_NONE;
    }
    const unsigned char* const base = in.bytes + in.begin;
    const int64_t origin = in.position;
    // Where the source goes on beyond reach, only positions whose largest
    // frame is whole in the read-ahead; where it ends, all.
    const size_t stop =
        got < behind + WANTED_AHEAD ? got : got - MAX_FRAME_SIZE + 1;
    for (size_t i = behind; i < stop; ++i) {
      const unsigned char start = base[i];
      end_bytes = end_bytes && is_end_byte(start);
      const size_t data_size = frame_data_size(start);
      if (data_size == 0 || i + 3 > got ||
          (base[i + 1] ^ base[i + 2]) != 0xFF ||
          origin + static_cast<int64_t>(i) < skip_until) {
        continue;
      }
      const size_t check_at = i + 3 + data_size;
      const bool sum_whole = sums && check_at + 1 <= got;
      const bool crc_whole = crcs && check_at + CRC_SIZE <= got;
      if (!sum_whole && !crc_whole) continue;
      Window& window = data_size == BLOCK_DATA_SIZE ? block : one_k;
      move_window(window, base, origin, origin + static_cast<int64_t>(i) + 3,
                  sums, crcs);
      const bool sum_ok = sum_whole && base[check_at] == window.sum;
      const bool crc_ok =
          crc_whole &&
          (static_cast<unsigned>(base[check_at]) << 8 | base[check_at + 1]) ==
              window.crc;
      if (!sum_ok && !crc_ok) continue;
      // Once a frame has been taken the check is known, and a copy has
      // the size of the frame taken.
      const size_t size = frame_size(data_size, sum_ok ? CHECK_SUM : CHECK_CRC);
      if (state.last_frame_size == size &&
          std::memcmp(base + i, state.last_frame, size) == 0) {
        skip_until = origin + static_cast<int64_t>(i + size);
        continue;
      }
      const bool expected = base[i + 1] == state.expected_block;
      consume_source(in, i);
      *only_end_bytes = false;
      return expected ? FOUND_EXPECTED : FOUND_OTHER;
    }
    next = origin + static_cast<int64_t>(stop);
  }
}

}  // namespace romweave
