#include <gtest/gtest.h>

#include "capture/capture.h"
#include "tests/decode_fixture.h"
#include "tools/capture_builder.h"

namespace romweave {
namespace {

// A header with the given revision and the five object bytes b8..b12.
std::string header_with(char revision, const std::string& object) {
  return std::string("HPHP48-") + revision + object;
}

TEST(ProbeWrapperTest, RawCaptureIsReadFromItsFirstByte) {
  const std::string capture = make_capture(2);
  EXPECT_EQ(probe(capture), NO_LIMIT);
  const Decoded decoded = decode(capture);
  EXPECT_EQ(decoded.destination, sample_image(2));
  EXPECT_EQ(decoded.verdict, VERDICT_CLEAN);
}

TEST(ProbeWrapperTest, ShortSourceIsReadFromItsFirstByte) {
  // Too short for a header, though it starts like one: every byte is
  // still there for the block reader, which finds no start byte.
  EXPECT_EQ(probe("HPHP48-W,*"), NO_LIMIT);
  const Decoded decoded = decode("HPHP48-W,*");
  EXPECT_EQ(decoded.output, progress_lines(0, 0) + "CAP.BIN: No SOH\n");

  // A short source that is a block fragment is read as one.
  EXPECT_EQ(probe(make_capture(1).substr(0, 12)), NO_LIMIT);
  const Decoded fragment = decode(make_capture(1).substr(0, 12));
  EXPECT_EQ(fragment.destination, sample_image(1).substr(0, 9));
}

TEST(ProbeWrapperTest, StringHeaderGivesTheEndOfTheString) {
  const std::string object("\x2C\x2A\xD0\x10\x00", 5);  // L = 269
  for (char revision : {'A', 'X', '\0', '\xFF'}) {
    const std::string source =
        header_with(revision, object) + make_capture(1) + "junk";
    EXPECT_EQ(probe(source), 145) << "revision " << int(revision);
    const Decoded decoded = decode(source);
    EXPECT_EQ(decoded.verdict, VERDICT_CLEAN);
    EXPECT_EQ(decoded.destination, sample_image(1));
  }
}

TEST(ProbeWrapperTest, OtherObjectIsReadToTheEndBehindTheHeader) {
  // Prolog 0x02A2D is no string: no limit, blocks from offset 13 on.
  const std::string header =
      header_with('W', std::string("\x2D\x2A\xD0\x10\x00", 5));
  EXPECT_EQ(probe(header + make_capture(3)), NO_LIMIT);
  const Decoded decoded = decode(header + make_capture(3));
  EXPECT_EQ(decoded.destination, sample_image(3));
}

TEST(ProbeWrapperTest, SignatureIsCaseSensitive) {
  std::string wrapped = wrap_capture(make_capture(1));
  wrapped[1] = 'p';
  EXPECT_EQ(probe(wrapped), NO_LIMIT);
  const Decoded decoded = decode(wrapped);
  EXPECT_EQ(decoded.output, progress_lines(0, 0) + "CAP.BIN: No SOH\n");
}

TEST(ProbeWrapperTest, LengthFieldIsHalvedTowardZero) {
  // L in nibbles -> offset of the end of the string.
  const struct {
    uint32_t length;
    int32_t end;
  } cases[] = {{0, 11}, {1, 12}, {2, 12},    {3, 13},          {4, 13},
               {5, 13}, {6, 14}, {269, 145}, {0xFFFFF, 524298}};
  for (const auto& c : cases) {
    const std::string header = wrapper_header_of_length(c.length);
    EXPECT_EQ(probe(header + make_capture(2)), c.end) << "L = " << c.length;
    if (c.end <= 13) {
      // No block begins before the end of such a string.
      const Decoded decoded = decode(header + make_capture(2));
      EXPECT_EQ(decoded.verdict, VERDICT_CLEAN);
      EXPECT_EQ(decoded.output, progress_lines(0, 0));
      EXPECT_EQ(decoded.destination, "");
    }
  }
}

TEST(ProbeWrapperTest, ReadErrorInTheHeaderIsReported) {
  DecodeOptions options;
  options.fail_at = 5;
  const Decoded decoded = decode(wrap_capture(make_capture(1)), options);
  EXPECT_EQ(decoded.verdict, VERDICT_UNREADABLE);
  EXPECT_EQ(decoded.output, "");

  // An error right behind a whole header, or past it, is none of the
  // probe's business: the block reader meets it.
  options.fail_at = 13;
  const Decoded behind = decode(wrap_capture(make_capture(1)), options);
  EXPECT_EQ(behind.verdict, VERDICT_UNREADABLE);
  EXPECT_EQ(behind.output, progress_lines(0, 0));
  EXPECT_EQ(behind.destination, "");

  options.fail_at = 20;
  const Decoded later = decode(wrap_capture(make_capture(1)), options);
  EXPECT_EQ(later.output, progress_lines(0, 0));
  EXPECT_EQ(later.verdict, VERDICT_UNREADABLE);
  EXPECT_EQ(later.destination, sample_image(1).substr(0, 4));
}

}  // namespace
}  // namespace romweave
