// The lines the tool prints, as the tests expect them.

#ifndef ROMWEAVE_TESTS_EXPECTED_OUTPUT_H_
#define ROMWEAVE_TESTS_EXPECTED_OUTPUT_H_

#include <cstdint>
#include <cstdio>
#include <string>

namespace romweave {

// The progress line printed before an attempt at `address`.
inline std::string progress_line(uint64_t address) {
  char line[64];
  std::snprintf(line, sizeof line, "Checking Address %05llX...\n",
                static_cast<unsigned long long>(address));
  return line;
}

// The progress lines printed before the blocks at addresses `first`,
// `first` + 128, ... up to and including `last`.
inline std::string progress_lines(uint64_t first, uint64_t last) {
  std::string lines;
  for (uint64_t address = first; address <= last; address += 128) {
    lines += progress_line(address);
  }
  return lines;
}

// The size line of an image of `bytes` bytes.
inline std::string size_line(uint64_t bytes) {
  char line[64];
  std::snprintf(line, sizeof line, "ROM size = %05llXh = %lluKB\n",
                static_cast<unsigned long long>(bytes),
                static_cast<unsigned long long>(bytes / 1024));
  return line;
}

// The hints on standard error that follow some faults; offsets in the file.
inline std::string eot_hint(uint64_t offset) {
  const std::string at = std::to_string(offset);
  return "Hint: offset " + at +
         " holds the sender's end of transmission (EOT), and every block "
         "before it is in the image; romweave --receiver reads the capture "
         "as it is.\n";
}

inline std::string repeated_block_hint(uint64_t offset) {
  return "Hint: the block at offset " + std::to_string(offset) +
         " repeats the one before it byte for byte, as a sender does when an "
         "acknowledgement is lost; romweave --receiver reads the capture as it "
         "is.\n";
}

inline std::string cancel_hint(uint64_t offset) {
  return "Hint: 0x18 at offset " + std::to_string(offset) +
         " cancelled the transmission: the capture is incomplete.\n";
}

// The hints of a source that a receiver's reading reads to a clean end,
// skipping one thing, or more than one.
inline std::string resent_hint(unsigned block, uint64_t offset) {
  return "Hint: the sender sent block " + std::to_string(block) +
         " again at offset " + std::to_string(offset) +
         ": romweave --receiver skips the damaged bytes before it.\n";
}

inline std::string noise_eot_hint(uint64_t eot, unsigned block,
                                  uint64_t offset) {
  return "Hint: the EOT at offset " + std::to_string(eot) +
         " is noise: block " + std::to_string(block) +
         " follows it at offset " + std::to_string(offset) +
         "; romweave --receiver skips it.\n";
}

inline std::string noise_hint(uint64_t noise, uint64_t eot) {
  return "Hint: the bytes at offset " + std::to_string(noise) +
         " are noise before the sender's end of transmission (EOT) at "
         "offset " +
         std::to_string(eot) + "; romweave --receiver skips them.\n";
}

constexpr char RECEIVER_HINT[] =
    "Hint: read as an XMODEM receiver reads it, the capture comes to a clean "
    "end: romweave --receiver reads it, and its note tells what it skips.\n";

// The note of the receiver's reading on `source` (as the messages show
// it), saying `what`; none when there is nothing to say.
inline std::string receiver_note(const std::string& source,
                                 const std::string& what) {
  return what.empty() ? std::string()
                      : "Note: " + source +
                            ", read as an XMODEM receiver: " + what + ".\n";
}

constexpr char ONE_K_HINT[] =
    "Hint: 0x02 starts a 1K block: this is an XMODEM-1K capture; romweave "
    "--receiver reads it as it is.\n";

constexpr char CRC_HINT[] =
    "Hint: the first block ends in the CRC-16 of its data: this is an "
    "XMODEM-CRC capture; romweave --receiver reads it as it is.\n";

}  // namespace romweave

#endif  // ROMWEAVE_TESTS_EXPECTED_OUTPUT_H_
