// The loops that hand bytes to the system and take them back, where the
// system gives or takes fewer than asked: a pipe that holds a page at a
// time, and a timer whose signal interrupts the calls every 200 us.

#include "platform/platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "tools/capture_builder.h"

namespace romweave {
namespace {

void ignore(int) {}

TEST(PlatformTest, ShortAndInterruptedCallsLoseNoByte) {
  // Without SA_RESTART, so that a signal makes a waiting call return.  A
  // reader that gives up must fail the writer, not end the test program.
  struct sigaction interrupt = {}, before = {}, pipe_before = {};
  interrupt.sa_handler = ignore;
  sigaction(SIGALRM, &interrupt, &before);
  sigaction(SIGPIPE, &interrupt, &pipe_before);
  const itimerval every = {{0, 200}, {0, 200}}, stop = {};
  setitimer(ITIMER_REAL, &every, nullptr);

  const std::string bytes = sample_image(8 * 1024);  // 1 MiB
  for (const bool blocking : {true, false}) {
    SCOPED_TRACE(blocking ? "blocking" : "non-blocking");
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
#ifdef F_SETPIPE_SZ
    fcntl(ends[1], F_SETPIPE_SZ, 4096);
#endif
    if (!blocking) fcntl(ends[1], F_SETFL, O_NONBLOCK);
    bool written = false;
    std::thread writer([&] {
      written = write_all(ends[1], bytes.data(), bytes.size());
      close(ends[1]);
    });
    std::string got;
    char part[1000];
    int64_t count;
    while ((count = read_file(ends[0], part, sizeof part)) > 0) {
      got.append(part, static_cast<size_t>(count));
    }
    close(ends[0]);
    writer.join();
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(written);
    EXPECT_TRUE(got == bytes) << got.size() << " bytes of " << bytes.size();
  }
  setitimer(ITIMER_REAL, &stop, nullptr);
  sigaction(SIGALRM, &before, nullptr);
  sigaction(SIGPIPE, &pipe_before, nullptr);
}

}  // namespace
}  // namespace romweave
