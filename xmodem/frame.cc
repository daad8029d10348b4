#include "xmodem/frame.h"

#include "xmodem/crc16.h"

namespace romweave {

namespace {

// The check a frame carries behind its `data_size` data bytes.
unsigned check_found(const unsigned char* frame, size_t data_size,
                     FrameCheck check) {
  const unsigned char* at = frame + FRAME_HEADER_SIZE + data_size;
  return check == CHECK_CRC ? static_cast<unsigned>(at[0]) << 8 | at[1] : at[0];
}

// The check that a frame's data call for.
unsigned check_wanted(const unsigned char* frame, size_t data_size,
                      FrameCheck check) {
  const unsigned char* data = frame + FRAME_HEADER_SIZE;
  return check == CHECK_CRC ? crc16(data, data_size) : sum8(data, data_size);
}

}  // namespace

void running_sum8(const unsigned char* bytes, size_t size,
                  unsigned char* running) {
  unsigned char sum = 0;
  running[0] = 0;
  for (size_t i = 0; i < size; ++i) {
    sum = static_cast<unsigned char>(sum + bytes[i]);
    running[i + 1] = sum;
  }
}

bool frame_is_sound(const unsigned char* frame, size_t got, size_t data_size,
                    FrameCheck check) {
  return got >= frame_size(data_size, check) && (frame[1] ^ frame[2]) == 0xFF &&
         check_found(frame, data_size, check) ==
             check_wanted(frame, data_size, check);
}

FaultReport first_fault(const unsigned char* frame, size_t got,
                        size_t data_size, FrameCheck check, unsigned expected) {
  const unsigned complement = 255 - expected;
  if (data_size == 0) return {FAULT_NO_SOH, 0, 0, 0};
  if (got < 2) return {FAULT_EOF_AT_NUMBER, 0, 0, 0};
  if (frame[1] != expected) return {FAULT_NUMBER, frame[1], expected, 0};
  if (got < 3) return {FAULT_EOF_AT_INVERSE, 0, 0, 0};
  if (frame[2] != complement) return {FAULT_INVERSE, frame[2], complement, 0};
  const size_t after_header = got - FRAME_HEADER_SIZE;
  if (after_header < data_size) {
    const auto read = static_cast<unsigned>(after_header);
    return {FAULT_EOF_AT_DATA, read, 0, after_header};
  }
  if (got < frame_size(data_size, check)) {
    return {FAULT_EOF_AT_CHECK, 0, 0, data_size};
  }
  const unsigned found = check_found(frame, data_size, check);
  const unsigned wanted = check_wanted(frame, data_size, check);
  if (found != wanted) return {FAULT_CHECK, found, wanted, data_size};
  return {FAULT_NONE, 0, 0, data_size};
}

}  // namespace romweave
