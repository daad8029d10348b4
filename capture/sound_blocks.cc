// The batch path: nearly every block of a capture is sound, and comes
// through here.
//
// read_block() reads a block as the format describes it, one check after
// another, with a progress line and a possible message each time.  That is
// more than a sound block needs.  take_sound_blocks() takes, in one loop,
// every block that is whole in the read-ahead and sound, copying and
// summing its data in one pass and building its progress line in place.
// It never reads, never prints a fault and never takes a block that is not
// sound: the first such block, a block not yet read whole, the end of the
// source and any limit to it are left to read_block(), which takes that
// block again from its start.

#include <algorithm>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "capture/sound_blocks.h"
#include "report/progress_line.h"

namespace romweave {

namespace {

// The sum of a block's data modulo 256 while copying it to `to`, in one
// pass.
unsigned char copy_and_sum(char* to, const unsigned char* data) {
#if defined(__SSE2__)
  // Sixteen bytes at a time, and the sixteen sums added up across at the
  // end, which the compiler does not find by itself.  The plain loop below
  // serves every other processor.
  __m128i sums = _mm_setzero_si128();
  for (size_t i = 0; i < BLOCK_DATA_SIZE; i += 16) {
    const __m128i part =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), part);
    sums = _mm_add_epi8(sums, part);
  }
  sums = _mm_sad_epu8(sums, _mm_setzero_si128());
  return static_cast<unsigned char>(_mm_cvtsi128_si32(sums) +
                                    _mm_extract_epi16(sums, 4));
#else
  unsigned char sum = 0;
  for (size_t i = 0; i < BLOCK_DATA_SIZE; ++i) {
    to[i] = static_cast<char>(data[i]);
    sum += data[i];
  }
  return sum;
#endif
}

// How many blocks the next batch may take: those whole in the read-ahead
// that begin before `start_limit`, with room in place for their data and,
// `in_place`, their lines; lines built from nibbles (`narrow`) all take as
// many digits as the first.
size_t batch_size(const ConversionState& state, int64_t start_limit,
                  bool in_place, bool narrow) {
  const SourceBuffer& in = state.input;
  const int64_t before = start_limit - in.position;
  if (before <= 0) return 0;
  size_t count = (in.end - in.begin) / BLOCK_SIZE;
  const uint64_t starts = static_cast<uint64_t>(before - 1) / BLOCK_SIZE + 1;
  if (starts < count) count = static_cast<size_t>(starts);
  count = std::min(count, room_left(*state.destination) / BLOCK_DATA_SIZE);
  if (in_place) {
    count = std::min(count, room_left(*state.standard_output) / PROGRESS_ROOM);
  }
  if (narrow) {
    const uint64_t wider = uint64_t{1} << 4 * narrow_digits(state.address);
    const uint64_t below = (wider - state.address - 1) / BLOCK_DATA_SIZE + 1;
    if (below < count) count = static_cast<size_t>(below);
  }
  return count;
}

}  // namespace

void take_sound_blocks(ConversionState& state, int64_t start_limit) {
  SourceBuffer& in = state.input;
  Output& out = *state.standard_output;
  Output& destination = *state.destination;
  // Lines that need no CR or flush of their own are written in place too.
  const bool in_place = !out.failed && out.plain;
  for (;;) {
    // Lines below 4 GiB are built from nibbles.
    const bool narrow = in_place && state.address >> 32 == 0;
    const size_t count = batch_size(state, start_limit, in_place, narrow);
    if (count == 0) return;
    // Every counter and place in a local: to the compiler, any byte stored
    // into an output could be one of them, which it would read back after
    // every store.
    const size_t digits = narrow ? narrow_digits(state.address) : 0;
    uint64_t nibbles =
        narrow ? spread_nibbles(static_cast<uint32_t>(state.address)) : 0;
    char* const data_start =
        room_in_place(destination, count * BLOCK_DATA_SIZE);
    char* const text_start =
        in_place ? room_in_place(out, count * PROGRESS_ROOM) : nullptr;
    char* data = data_start;
    char* text = text_start;
    const unsigned char* block = in.bytes + in.begin;
    uint64_t address = state.address;
    uint8_t expected = state.expected_block;
    size_t taken = 0;
    for (; taken < count; ++taken, block += BLOCK_SIZE,
                          address += BLOCK_DATA_SIZE, ++expected,
                          data += BLOCK_DATA_SIZE) {
      if (block[0] != SOH || block[1] != expected ||
          block[2] != 255 - expected ||
          // The data is copied while it is added up; a block that then
          // turns out faulty is not kept.
          block[BLOCK_SIZE - 1] !=
              copy_and_sum(data, block + FRAME_HEADER_SIZE)) {
        break;
      }
      if (narrow) {
        text += write_narrow_line(text, nibbles, digits);
        nibbles = next_nibbles(nibbles);
      } else if (in_place) {
        text += format_progress(text, address);
      } else if (!out.failed) {
        print_progress(out, address);
      }
    }
    keep_in_place(destination, static_cast<size_t>(data - data_start));
    if (in_place) keep_in_place(out, static_cast<size_t>(text - text_start));
    if (taken > 0) {
      book_taken_frames(state, block - BLOCK_SIZE, BLOCK_SIZE, BLOCK_DATA_SIZE,
                        taken);
    }
    if (taken < count) return;
  }
}

}  // namespace romweave
