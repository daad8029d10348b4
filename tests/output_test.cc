// What an Output makes of a writer that fails.

#include "output/output.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/memory_io.h"

namespace romweave {
namespace {

// A refused write or a failed close is never taken for success: closing
// says so, the writer is closed all the same, and nothing more is handed
// over once a write failed.
TEST(OutputTest, FailuresAreReportedOnClosing) {
  const struct {
    const char* what;
    int64_t fail_at;
    bool close_fails;
    std::string kept;
  } cases[] = {
      {"all written, closing fails", -1, true, "0123456789"},
      {"the second buffer-full refused", 6, false, "0123"},
      {"all written and closed", -1, false, "0123456789"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MemorySink sink;
    sink.fail_at = c.fail_at;
    sink.close_fails = c.close_fails;
    char buffer[4];
    Output out = binary_output(memory_writer(&sink), buffer, sizeof buffer);
    for (const char* part : {"0123", "4567", "89"}) {
      put_bytes(out, part, std::strlen(part));
    }
    EXPECT_EQ(close_output(out), c.fail_at < 0 && !c.close_fails);
    EXPECT_TRUE(sink.closed);
    EXPECT_EQ(sink.bytes, c.kept);
  }
}

}  // namespace
}  // namespace romweave
