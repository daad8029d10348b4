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

// Keeps the tail of the sender's status messages, which can run to a line
// per block.
constexpr size_t MESSAGES_KEPT = 4096;

// What the receiver sends for each LineAnswer, in its order.
const char* const ANSWER_BYTES[] = {"\x06", "\x15", "\x86\x15", "\x15"};

// The bit that ANSWER_DAMAGED flips.
constexpr char NOISE_BIT = '\x80';

// Bytes of a frame after its start byte: number, complement, data, and a
// checksum or, in CRC mode, two CRC bytes; 0 for a byte that starts none.
size_t frame_tail(char start, bool crc) {
  const size_t data = start == XMODEM_SOH   ? 128
                      : start == XMODEM_STX ? 1024
                                            : 0;
  return data == 0 ? 0 : 1 + 1 + data + (crc ? 2 : 1);
}

// A child process with its three standard streams on pipes.
struct Child {
  pid_t pid = -1;
  int in = -1;      // its standard input
  int out = -1;     // its standard output
  int errors = -1;  // its standard error
};

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

void send_bytes(int fd, const char* bytes, size_t size) {
  // A process that has gone away is noticed when its output ends.
  while (size > 0) {
    const ssize_t put = write(fd, bytes, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    bytes += put;
    size -= static_cast<size_t>(put);
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

// Reads what the child wrote to standard error, if `ready`; closes the
// pipe at its end.
void read_errors(Child& child, bool ready, std::string& messages) {
  if (ready && !read_some(child.errors, messages)) close_fd(child.errors);
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

std::string find_program(const char* variable, const char* name,
                         const char* other_name) {
  const char* chosen = std::getenv(variable);
  if (chosen != nullptr && *chosen != '\0') return chosen;
  std::string found;
  if (on_path(name, found) || on_path(other_name, found)) return found;
  return "";
}

// Starts `command`, searched in PATH, with its standard streams on pipes;
// false when that fails.  Writes to a child that has quit must not end the
// test process, so SIGPIPE is ignored from here on.
bool start_child(const std::vector<std::string>& command, Child* child) {
  signal(SIGPIPE, SIG_IGN);
  int ends[3][2];
  for (int i = 0; i < 3; ++i) {
    if (pipe2(ends[i], O_CLOEXEC) != 0) {
      for (int j = 0; j < i; ++j) close(ends[j][0]), close(ends[j][1]);
      return false;
    }
  }
  std::vector<std::string> words = command;
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  child->pid = fork();
  if (child->pid == 0) {
    // Only async-signal-safe calls between fork and exec.  dup2 clears
    // close-on-exec on the copies, so only these three stay open.
    dup2(ends[0][0], 0);
    dup2(ends[1][1], 1);
    dup2(ends[2][1], 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(ends[0][0]);
  close(ends[1][1]);
  close(ends[2][1]);
  child->in = ends[0][1];
  child->out = ends[1][0];
  child->errors = ends[2][0];
  if (child->pid >= 0) return true;
  close_fd(child->in), close_fd(child->out), close_fd(child->errors);
  return false;
}

// Lets the child finish and reaps it, reading its messages into
// `messages`; kills it at once when `kill_now`, else at `deadline`.
// Closes its pipes.  Returns its exit status, or -1 when it was killed
// (then `killed` is set) or crashed.
int finish_child(Child& child, Clock::time_point deadline, bool kill_now,
                 std::string& messages, bool* killed) {
  int wait_status = 0;
  bool reaped = false;
  for (;;) {
    const pid_t done = waitpid(child.pid, &wait_status, WNOHANG);
    if (done == child.pid) {
      reaped = true;
      break;
    }
    if (done < 0 && errno != EINTR) break;
    if (kill_now || Clock::now() >= deadline) {
      *killed = true;
      kill(child.pid, SIGKILL);
      pid_t gone;
      do {
        gone = waitpid(child.pid, &wait_status, 0);
      } while (gone < 0 && errno == EINTR);
      reaped = gone == child.pid;
      break;
    }
    pollfd watched = {child.errors, POLLIN, 0};
    if (child.errors >= 0) {
      read_errors(child, poll(&watched, 1, 20) > 0, messages);
    } else {
      poll(nullptr, 0, 20);
    }
  }
  if (child.errors >= 0) {
    // Whatever the child left behind; the pipe has no writer any more.
    pollfd left = {child.errors, POLLIN, 0};
    while (poll(&left, 1, 0) > 0 && read_some(child.errors, messages)) {
    }
  }
  close_fd(child.errors), close_fd(child.out), close_fd(child.in);
  if (messages.size() > MESSAGES_KEPT) {
    messages.erase(0, messages.size() - MESSAGES_KEPT);
  }
  return reaped && !*killed && WIFEXITED(wait_status) ? WEXITSTATUS(wait_status)
                                                      : -1;
}

// The scripted answer to the `nth` unit of `kind`: ACK unless an event
// names it.
const LineEvent* event_for(const LineScript& script, LineUnitKind kind,
                           int nth) {
  for (const LineEvent& event : script.events) {
    if (event.kind == kind && event.nth == nth) return &event;
  }
  return nullptr;
}

}  // namespace

Transfer receive_xmodem(const std::vector<std::string>& command,
                        const ReceiveLimits& limits, const LineScript& script) {
  const char start = script.crc ? XMODEM_CRC : XMODEM_NAK;
  Transfer transfer;
  Child child;
  if (!start_child(command, &child)) return transfer;

  const Clock::time_point deadline = Clock::now() + limits.total;
  Clock::time_point last_heard = Clock::now();
  Clock::time_point last_nak = Clock::now();
  // The pipe keeps the NAK until the sender is ready to read it.
  send_bytes(child.in, &start, 1);
  ++transfer.naks;

  // Answers the unit just completed, so that the sender never finds a
  // reply waiting before it asks for one.
  int counted[2] = {0, 0};  // frames and EOTs so far
  const auto answer = [&](LineUnit unit, LineUnitKind kind) {
    const LineEvent* event = event_for(script, kind, ++counted[kind]);
    unit.answer = event != nullptr ? event->answer : ANSWER_ACK;
    if (unit.answer == ANSWER_DAMAGED && event->flip_at < unit.size) {
      transfer.capture[unit.offset + event->flip_at] ^= NOISE_BIT;
    }
    transfer.units.push_back(unit);
    const char* reply = ANSWER_BYTES[unit.answer];
    send_bytes(child.in, reply, std::char_traits<char>::length(reply));
  };

  size_t frame_left = 0;  // bytes of the current frame still to come
  LineUnit frame{};
  while (child.out >= 0) {
    const Clock::time_point now = Clock::now();
    const bool started = !transfer.capture.empty();
    if (now >= deadline || (started && now - last_heard >= limits.quiet)) {
      transfer.timed_out = true;
      break;
    }
    if (!started && now - last_nak >= limits.nak_again &&
        pipe_drained(child.in)) {
      send_bytes(child.in, &start, 1);
      ++transfer.naks;
      last_nak = now;
    }
    Clock::time_point wake =
        std::min(deadline, started ? last_heard + limits.quiet
                                   : last_nak + limits.nak_again);
    pollfd watched[2] = {{child.out, POLLIN, 0}, {child.errors, POLLIN, 0}};
    if (poll(watched, child.errors >= 0 ? 2 : 1, milliseconds_until(wake)) <
        0) {
      if (errno == EINTR) continue;
      transfer.timed_out = true;
      break;
    }
    if (child.errors >= 0) {
      read_errors(child, watched[1].revents != 0, transfer.messages);
    }
    if (watched[0].revents == 0) continue;
    const size_t seen = transfer.capture.size();
    if (!read_some(child.out, transfer.capture)) break;
    last_heard = Clock::now();
    for (size_t i = seen; i < transfer.capture.size(); ++i) {
      const char byte = transfer.capture[i];
      if (frame_left > 0) {
        if (--frame_left == 0) answer(frame, LINE_FRAME);
      } else if ((frame_left = frame_tail(byte, script.crc)) > 0) {
        frame = {i, 1 + frame_left, byte, ANSWER_ACK};
      } else if (byte == XMODEM_EOT) {
        answer({i, 1, byte, ANSWER_ACK}, LINE_EOT);
      }
      // Anything else between frames goes unanswered, as noise would.
    }
  }

  // The sender's output has ended or a limit was reached: let it finish
  // its status messages and exit, but not beyond the deadline.
  transfer.status = finish_child(child, deadline, transfer.timed_out,
                                 transfer.messages, &transfer.timed_out);
  return transfer;
}

int replay_xmodem(const std::vector<std::string>& command,
                  const Transfer& recorded, const ReceiveLimits& limits,
                  std::string* messages) {
  Child child;
  if (!start_child(command, &child)) return -1;
  const Clock::time_point deadline = Clock::now() + limits.total;
  Clock::time_point last_heard = Clock::now();
  bool timed_out = false;
  std::string answers;
  size_t next = 0;  // the unit to send at the next answer
  if (recorded.units.empty()) close_fd(child.in);
  while (child.out >= 0) {
    const Clock::time_point now = Clock::now();
    if (now >= deadline || now - last_heard >= limits.quiet) {
      timed_out = true;
      break;
    }
    pollfd watched[2] = {{child.out, POLLIN, 0}, {child.errors, POLLIN, 0}};
    const int wait =
        milliseconds_until(std::min(deadline, last_heard + limits.quiet));
    if (poll(watched, child.errors >= 0 ? 2 : 1, wait) < 0) {
      if (errno == EINTR) continue;
      timed_out = true;
      break;
    }
    if (child.errors >= 0) {
      read_errors(child, watched[1].revents != 0, *messages);
    }
    if (watched[0].revents == 0) continue;
    if (!read_some(child.out, answers)) break;
    last_heard = Clock::now();
    if (child.in < 0) continue;
    const LineUnit& unit = recorded.units[next++];
    send_bytes(child.in, recorded.capture.data() + unit.offset, unit.size);
    // Nothing follows the first EOT: the end of the receiver's input stands
    // for the quiet line that rx waits a second for before it acknowledges
    // an EOT.
    if (unit.start == XMODEM_EOT || next == recorded.units.size()) {
      close_fd(child.in);
    }
  }
  bool killed = false;
  return finish_child(child, deadline, timed_out, *messages, &killed);
}

std::string find_sx() { return find_program("ROMWEAVE_SX", "sx", "lsx"); }

std::string find_rx() { return find_program("ROMWEAVE_RX", "rx", "lrx"); }

std::string describe(const Transfer& transfer) {
  int frames = 0, eots = 0, other_answers = 0;
  for (const LineUnit& unit : transfer.units) {
    ++(unit.start == XMODEM_EOT ? eots : frames);
    if (unit.answer != ANSWER_ACK) ++other_answers;
  }
  std::ostringstream account;
  account << "sender status " << transfer.status
          << (transfer.timed_out ? ", timed out" : "") << ", "
          << transfer.capture.size() << " bytes sent, " << frames
          << " frames and " << eots << " EOTs answered, " << other_answers
          << " of them not with ACK, " << transfer.naks
          << " NAKs to start; its messages: " << transfer.messages;
  return account.str();
}

}  // namespace romweave
