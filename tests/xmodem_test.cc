#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/capture_builder.h"
#include "xmodem/crc16.h"
#include "xmodem/frame.h"

namespace romweave {
namespace {

// The CRCs and sums of every prefix, which a receiver's frame search works
// from, and the CRC of a whole stretch, each against one worked out a bit or a
// byte at a time; for every length up to 253, so that each of the search's
// unrolled steps ends a stretch somewhere.
TEST(XmodemTest, CrcsAndSumsOfEveryPrefix) {
  const std::string bytes = sample_image(2).substr(0, 253);
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  for (size_t length = 0; length <= bytes.size(); ++length) {
    std::vector<uint16_t> running(length + 1);
    std::vector<unsigned char> sums(length + 1);
    running_crc16(data, length, running.data());
    running_sum8(data, length, sums.data());
    unsigned sum = 0;
    for (size_t size = 0; size <= length; ++size) {
      EXPECT_EQ(running[size], bitwise_crc16(bytes.substr(0, size))) << size;
      EXPECT_EQ(crc16(data, size), running[size]) << size;
      EXPECT_EQ(sums[size], sum & 0xFF) << size;
      if (size < length) sum += data[size];
    }
  }
}

}  // namespace
}  // namespace romweave
