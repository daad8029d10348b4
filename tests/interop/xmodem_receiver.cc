#include "tests/interop/xmodem_receiver.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace romweave {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes of a block after its SOH: number, complement, data, and a
// checksum or, in CRC mode, two CRC bytes.
constexpr int BLOCK_TAIL = 1 + 1 + 128 + 1;

// Keeps the tail of the sender's status messages, which can run to a line
// per block.
constexpr size_t MESSAGES_KEPT = 4096;

void send_byte(int fd, char byte) {
  // A sender that has gone away is noticed when its output ends.
  while (write(fd, &byte, 1) < 0 && errno == EINTR) {
  }
}

// True when the sender has read everything written to it so far.
bool pipe_drained(int fd) {
  int waiting = 0;
  return ioctl(fd, FIONREAD, &waiting) != 0 || waiting == 0;
}

// Reads what is there into `text`; false at the end of the pipe.
bool read_some(int fd, std::string& text) {
  char chunk[16384];
  ssize_t got;
  do {
    got = read(fd, chunk, sizeof chunk);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) return false;
  text.append(chunk, static_cast<size_t>(got));
  return true;
}

int milliseconds_until(Clock::time_point when) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      when - Clock::now());
  return static_cast<int>(std::clamp<long long>(left.count() + 1, 0, 60000));
}

bool on_path(const std::string& name, std::string& found) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) {
      found = candidate;
      return true;
    }
  }
  return false;
}

}  // namespace

Transfer receive_xmodem(const std::vector<std::string>& command,
                        const ReceiveLimits& limits, bool crc) {
  const char start = crc ? XMODEM_CRC : XMODEM_NAK;
  Transfer transfer;
  // An ACK written after the sender quit must not end the test process.
  signal(SIGPIPE, SIG_IGN);

  int to_sender[2], from_sender[2], sender_errors[2];
  if (pipe2(to_sender, O_CLOEXEC) != 0) return transfer;
  if (pipe2(from_sender, O_CLOEXEC) != 0) {
    close(to_sender[0]), close(to_sender[1]);
    return transfer;
  }
  if (pipe2(sender_errors, O_CLOEXEC) != 0) {
    close(to_sender[0]), close(to_sender[1]);
    close(from_sender[0]), close(from_sender[1]);
    return transfer;
  }
  std::vector<std::string> words = command;
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  const pid_t sender = fork();
  if (sender == 0) {
    // Only async-signal-safe calls between fork and exec.  dup2 clears
    // close-on-exec on the copies, so only these three stay open.
    dup2(to_sender[0], 0);
    dup2(from_sender[1], 1);
    dup2(sender_errors[1], 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(to_sender[0]);
  close(from_sender[1]);
  close(sender_errors[1]);
  if (sender < 0) {
    close(to_sender[1]), close(from_sender[0]), close(sender_errors[0]);
    return transfer;
  }
  const int line_in = to_sender[1];
  int line_out = from_sender[0];
  int errors = sender_errors[0];

  const Clock::time_point deadline = Clock::now() + limits.total;
  Clock::time_point last_heard = Clock::now();
  Clock::time_point last_nak = Clock::now();
  // The pipe keeps the NAK until the sender is ready to read it.
  send_byte(line_in, start);
  ++transfer.naks;

  int block_left = 0;  // bytes of the current block still to come
  while (line_out >= 0) {
    const Clock::time_point now = Clock::now();
    const bool started = !transfer.capture.empty();
    if (now >= deadline || (started && now - last_heard >= limits.quiet)) {
      transfer.timed_out = true;
      break;
    }
    if (!started && now - last_nak >= limits.nak_again &&
        pipe_drained(line_in)) {
      send_byte(line_in, start);
      ++transfer.naks;
      last_nak = now;
    }
    Clock::time_point wake =
        std::min(deadline, started ? last_heard + limits.quiet
                                   : last_nak + limits.nak_again);
    pollfd watched[2] = {{line_out, POLLIN, 0}, {errors, POLLIN, 0}};
    if (poll(watched, errors >= 0 ? 2 : 1, milliseconds_until(wake)) < 0) {
      if (errno == EINTR) continue;
      transfer.timed_out = true;
      break;
    }
    if (errors >= 0 && watched[1].revents != 0 &&
        !read_some(errors, transfer.messages)) {
      close(errors);
      errors = -1;
    }
    if (watched[0].revents == 0) continue;
    const size_t seen = transfer.capture.size();
    if (!read_some(line_out, transfer.capture)) {
      close(line_out);
      line_out = -1;
      break;
    }
    last_heard = Clock::now();
    // Answer each block once all of it is in, and each EOT, so that the
    // sender never finds a reply waiting before it asks for one.
    for (size_t i = seen; i < transfer.capture.size(); ++i) {
      const char byte = transfer.capture[i];
      if (block_left > 0) {
        if (--block_left == 0) {
          send_byte(line_in, XMODEM_ACK);
          ++transfer.blocks;
        }
      } else if (byte == XMODEM_SOH) {
        block_left = BLOCK_TAIL + (crc ? 1 : 0);
      } else if (byte == XMODEM_EOT) {
        send_byte(line_in, XMODEM_ACK);
        ++transfer.eots;
      }
      // Anything else between blocks goes unanswered, as noise would.
    }
  }

  // The sender's output has ended or a limit was reached: let it finish
  // its status messages and exit, but not beyond the deadline.
  int wait_status = 0;
  bool reaped = false;
  for (;;) {
    const pid_t done = waitpid(sender, &wait_status, WNOHANG);
    if (done == sender) {
      reaped = true;
      break;
    }
    if (done < 0 && errno != EINTR) break;
    if (transfer.timed_out || Clock::now() >= deadline) {
      transfer.timed_out = true;
      kill(sender, SIGKILL);
      pid_t killed;
      do {
        killed = waitpid(sender, &wait_status, 0);
      } while (killed < 0 && errno == EINTR);
      reaped = killed == sender;
      break;
    }
    pollfd watched = {errors, POLLIN, 0};
    if (errors >= 0) {
      if (poll(&watched, 1, 20) > 0 && !read_some(errors, transfer.messages)) {
        close(errors);
        errors = -1;
      }
    } else {
      poll(nullptr, 0, 20);
    }
  }
  if (errors >= 0) {
    // Whatever the sender left behind; the pipe has no writer any more.
    pollfd left = {errors, POLLIN, 0};
    while (poll(&left, 1, 0) > 0 && read_some(errors, transfer.messages)) {
    }
    close(errors);
  }
  if (line_out >= 0) close(line_out);
  close(line_in);
  if (transfer.messages.size() > MESSAGES_KEPT) {
    transfer.messages.erase(0, transfer.messages.size() - MESSAGES_KEPT);
  }
  if (reaped && !transfer.timed_out && WIFEXITED(wait_status)) {
    transfer.status = WEXITSTATUS(wait_status);
  }
  return transfer;
}

std::string find_sx() {
  const char* chosen = std::getenv("ROMWEAVE_SX");
  if (chosen != nullptr && *chosen != '\0') return chosen;
  std::string found;
  if (on_path("sx", found) || on_path("lsx", found)) return found;
  return "";
}

std::string describe(const Transfer& transfer) {
  std::ostringstream account;
  account << "sender status " << transfer.status
          << (transfer.timed_out ? ", timed out" : "") << ", "
          << transfer.capture.size() << " bytes sent, " << transfer.blocks
          << " blocks and " << transfer.eots << " EOTs answered, "
          << transfer.naks << " NAKs; its messages: " << transfer.messages;
  return account.str();
}

}  // namespace romweave
