// The terminal display refuses to open where it cannot work, says why, and
// leaves nothing behind: a later open on a usable terminal succeeds.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "display/terminal.h"
#include "platform/ui/display.h"

extern "C" platform::Display* vlr_display_open(const platform::DisplayOptions* options, std::string* error);

namespace {

// Puts /dev/null on standard input and output for the scope.
struct NoTerminal {
  NoTerminal() {
    in_ = ::dup(STDIN_FILENO);
    out_ = ::dup(STDOUT_FILENO);
    int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
  }
  ~NoTerminal() {
    ::dup2(in_, STDIN_FILENO);
    ::dup2(out_, STDOUT_FILENO);
    ::close(in_);
    ::close(out_);
  }
  int in_ = -1, out_ = -1;
};

TEST(TerminalOpen, WithoutATerminalIsRefused) {
  NoTerminal none;
  std::string error;
  EXPECT_EQ(display::TerminalDisplay::open(error), nullptr);
  EXPECT_EQ(error, "the terminal display needs a terminal on standard input and output");
}

TEST(TerminalOpen, AnAnswersScriptIsRefused) {
  platform::DisplayOptions options;
  options.name = "terminal";
  options.answers = "script.txt";
  std::string error;
  EXPECT_EQ(vlr_display_open(&options, &error), nullptr);
  EXPECT_EQ(error, "the terminal display takes no answers script");
}

// In a child on a pseudo-terminal: an unknown TERM fails the open with the
// TERM named; then, with a known one, the open succeeds. The child reports
// on a pipe and ends with _exit (ncurses keeps its failed screen record,
// which is the library's own).
TEST(TerminalOpen, UnknownTermIsRefusedAndLeavesNothingBehind) {
  int master = -1, slave = -1;
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  int report[2];
  ASSERT_EQ(::pipe2(report, O_CLOEXEC), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(report[0]);
    ::dup2(slave, STDIN_FILENO);
    ::dup2(slave, STDOUT_FILENO);
    std::string out;
    ::setenv("TERM", "no-such-terminal-vlr", 1);
    std::string error;
    out += display::TerminalDisplay::open(error) ? "opened\n" : error + "\n";
    ::setenv("TERM", "vt100", 1);
    error.clear();
    {
      auto d = display::TerminalDisplay::open(error);
      out += d ? "opened\n" : error + "\n";
    }
    (void)!::write(report[1], out.data(), out.size());
    ::_exit(0);
  }
  ::close(report[1]);
  ::close(slave);
  // Reads the report; drains what the child writes to its terminal meanwhile.
  std::string got;
  for (;;) {
    pollfd p[2] = {{report[0], POLLIN, 0}, {master, POLLIN, 0}};
    if (::poll(p, 2, 30'000) <= 0) break;
    char buf[512];
    if (p[1].revents & POLLIN) (void)!::read(master, buf, sizeof buf);
    if (p[0].revents & (POLLIN | POLLHUP)) {
      ssize_t n = ::read(report[0], buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
  }
  ::close(report[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::close(master);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(got, "cannot start the terminal (TERM=no-such-terminal-vlr)\nopened\n");
}

}  // namespace
