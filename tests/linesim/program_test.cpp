// The linesim program end to end over real pseudo-terminals.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr int kEventLimitMs = 15'000;  // how long an expected event may take on a loaded machine

struct Process {
  pid_t pid = -1;
  int out = -1;
  ~Process() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    if (out >= 0) ::close(out);
  }
  int stop(int sig = SIGTERM) {
    ::kill(pid, sig);
    int status = 0;
    ::waitpid(pid, &status, 0);
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
};

void start(Process& p, const std::vector<std::string>& args) {
  int pipefd[2];
  ASSERT_EQ(::pipe(pipefd), 0);
  p.pid = ::fork();
  ASSERT_GE(p.pid, 0);
  if (p.pid == 0) {
    ::dup2(pipefd[1], 1);
    ::close(pipefd[0]);
    std::vector<char*> argv;
    std::string program = std::string(VLR_BIN_DIR) + "/linesim";
    argv.push_back(program.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(pipefd[1]);
  p.out = pipefd[0];
}

// Reads from fd until `text` has arrived; returns everything read.
std::string read_until(int fd, const std::string& text) {
  std::string got;
  while (got.find(text) == std::string::npos) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, kEventLimitMs) <= 0) break;
    char buf[512];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

int open_port(const fs::path& link) {
  int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
  if (fd >= 0) {
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
  }
  return fd;
}

void say(int fd, const std::string& text) { ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size())); }

std::string slurp(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Program : public ::testing::Test {
 protected:
  test_support::TempDir temp{"linesim_test"};
  const fs::path dir = temp.path();
};

TEST_F(Program, TalksAtDialsTheServerAndRemovesItsLinks) {
  {
    std::ofstream s(dir / "server.txt");
    s << "login alice\nsend REQUEST:\\tFIRSTNAME\nexpect REPLY: Ann\nsend STATUS:\\tCOMPLETE\nend\n";
  }
  fs::path root = dir / "root";
  Process p;
  start(p, {"--root", root.string(), "--modem", "COM2", "--silent", "COM3", "--modem", "COM4=nofactory",
            "--dial", "5551234=busy,scenario:" + (dir / "server.txt").string(), "--trace", (dir / "trace.txt").string()});
  ASSERT_EQ(read_until(p.out, "\n"), "ready\n");
  for (const char* com : {"com2", "com3", "com4"}) {
    ASSERT_TRUE(fs::is_symlink(root / "dosdevices" / com)) << com;
    EXPECT_EQ(fs::read_symlink(root / "dosdevices" / com).string().rfind("/dev/pts/", 0), 0u);
  }
  EXPECT_FALSE(fs::exists(root / "dosdevices" / "com1"));

  int com2 = open_port(root / "dosdevices" / "com2");
  ASSERT_GE(com2, 0);
  say(com2, "\r\rAT&F\r");
  EXPECT_EQ(read_until(com2, "OK\r\n"), "\r\rAT&F\r\r\nOK\r\n");
  say(com2, "ATE0Q0V1&C1&D2S2=43S7=60S12=50\r");
  read_until(com2, "OK\r\n");
  say(com2, "ATI3\r");
  EXPECT_EQ(read_until(com2, "OK\r\n"), "\r\nLinesim Data/Fax\r\n\r\nOK\r\n");
  say(com2, "ATDT9,5551234\r");
  EXPECT_EQ(read_until(com2, "BUSY\r\n"), "\r\nBUSY\r\n");
  say(com2, "ATDT9,5551234\r");
  EXPECT_EQ(read_until(com2, "user:"), "\r\nCONNECT 28800\r\nuser:");
  say(com2, "alice\r");
  EXPECT_EQ(read_until(com2, "FIRSTNAME\r"), "\r\nREQUEST:\tFIRSTNAME\r");
  say(com2, "REPLY: Ann\r");
  EXPECT_EQ(read_until(com2, "COMPLETE\r"), "STATUS:\tCOMPLETE\r");
  ::close(com2);  // closing the port is the hang-up of a pseudo-terminal

  int com3 = open_port(root / "dosdevices" / "com3");
  ASSERT_GE(com3, 0);
  say(com3, "AT\r");
  int com4 = open_port(root / "dosdevices" / "com4");
  say(com4, "ATE0&F\r");
  EXPECT_EQ(read_until(com4, "ERROR\r\n"), "ATE0&F\r\r\nERROR\r\n");
  ::close(com3);
  ::close(com4);

  com2 = open_port(root / "dosdevices" / "com2");
  say(com2, "AT\r");
  EXPECT_EQ(read_until(com2, "OK\r\n"), "\r\nOK\r\n");  // back in command state, E0 kept
  ::close(com2);

  EXPECT_EQ(p.stop(), 0);
  EXPECT_FALSE(fs::exists(root / "dosdevices" / "com2"));
  EXPECT_FALSE(fs::is_symlink(root / "dosdevices" / "com3"));
  std::string trace = slurp(dir / "trace.txt");
  for (const char* line : {"COM2 at< ATDT9,5551234\n", "COM2 call 9,5551234 -> busy\n", "COM2 srv< alice\n",
                           "COM2 srv< REPLY: Ann\n", "COM2 port closed (DTR off)\n", "COM2 srv caller hung up\n",
                           "COM4 at> ERROR\n", "linesim stopping on signal 15\n"})
    EXPECT_NE(trace.find(line), std::string::npos) << line << "\n" << trace;
  EXPECT_EQ(trace.find("COM3 at<"), std::string::npos) << "the silent port answered";
}

TEST_F(Program, BadCommandLinesAreRefused) {
  const std::vector<std::vector<std::string>> bad = {
      {"--modem", "COM2"},
      {"--root", dir.string()},
      {"--root", dir.string(), "--modem", "COM2=nosuch"},
      {"--root", dir.string(), "--modem", "LPT1"},
      {"--root", dir.string(), "--modem", "COM2", "--silent", "COM2"},
      {"--root", dir.string(), "--modem", "COM2", "--dial", "5551234=nowhere"},
      {"--root", dir.string(), "--modem", "COM2", "--dial", "5551234=scenario:/no/such.txt"},
  };
  for (const auto& args : bad) {
    Process p;
    start(p, args);
    std::string out = read_until(p.out, "\n");
    int status = 0;
    ::waitpid(p.pid, &status, 0);
    p.pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << args.back();
    EXPECT_EQ(out, "");
  }
}

TEST_F(Program, ReplacesAStaleLinkButNotAFile) {
  fs::create_directories(dir / "root" / "dosdevices");
  fs::create_symlink("/dev/null", dir / "root" / "dosdevices" / "com2");
  std::ofstream(dir / "root" / "dosdevices" / "com3") << "a file";
  {
    Process p;
    start(p, {"--root", (dir / "root").string(), "--modem", "COM2"});
    ASSERT_EQ(read_until(p.out, "\n"), "ready\n");
    EXPECT_NE(fs::read_symlink(dir / "root" / "dosdevices" / "com2").string(), "/dev/null");
    EXPECT_EQ(p.stop(SIGINT), 0);
  }
  Process p;
  start(p, {"--root", (dir / "root").string(), "--modem", "COM3"});
  EXPECT_EQ(read_until(p.out, "\n"), "");
  int status = 0;
  ::waitpid(p.pid, &status, 0);
  p.pid = -1;
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(slurp(dir / "root" / "dosdevices" / "com3"), "a file");
}

}  // namespace
