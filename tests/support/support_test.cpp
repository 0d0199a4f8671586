// The test helpers themselves: a temporary folder goes with what is in it,
// the pseudo-terminal carries bytes both ways and shows its far side going,
// the loopback far end serves one connection and closes it, and the tmux
// driver types into a program and reads its screen.
#include <fcntl.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/loopback_far_end.h"
#include "support/pty.h"
#include "support/temp_dir.h"
#include "support/tmux_session.h"

namespace test_support {
namespace {

namespace fs = std::filesystem;

TEST(TempDir, IsAFreshEmptyFolderRemovedWithItsContents) {
  fs::path kept;
  {
    TempDir a("vlr_support");
    TempDir b("vlr_support");
    kept = a.path();
    ASSERT_TRUE(fs::is_directory(a.path()));
    EXPECT_TRUE(fs::is_empty(a.path()));
    EXPECT_NE(a.path(), b.path());
    EXPECT_EQ(a.path().filename().string().rfind("vlr_support_", 0), 0u) << a.path();
    EXPECT_EQ(a / "x", a.path() / "x");
    fs::create_directories(a / "deep/er");
    std::ofstream(a / "deep/er/file") << "text";
    fs::create_symlink("/", a / "link");
  }
  EXPECT_FALSE(fs::exists(kept));
  EXPECT_TRUE(fs::exists("/")) << "a link inside is removed, not followed";
}

TEST(TempDir, GoesEvenWhenATestTookItsPermissionsAway) {
  fs::path kept;
  {
    TempDir dir("vlr_support");
    kept = dir.path();
    fs::create_directories(dir / "locked/inner");
    std::ofstream(dir / "locked/inner/file") << "text";
    fs::permissions(dir / "locked/inner", fs::perms::none);
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
  }
  EXPECT_FALSE(fs::exists(kept));
}

// Opens the slave side raw, as a serial port would be.
int open_raw(const std::string& slave) {
  const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return fd;
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(fd, TCSANOW, &t);
  return fd;
}

TEST(Pty, CarriesBytesBothWaysAndShowsTheMasterGoing) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  const int port = open_raw(pty.slave());
  ASSERT_GE(port, 0) << pty.slave();

  ASSERT_TRUE(pty.write_master("RING\r\n"));
  char buf[16];
  ASSERT_EQ(::read(port, buf, sizeof buf), 6);
  EXPECT_EQ(std::string(buf, 6), "RING\r\n");

  ASSERT_EQ(::write(port, "ATA\r", 4), 4);
  EXPECT_EQ(pty.read_master(), "ATA\r");

  pty.close_master();
  EXPECT_FALSE(pty.ok());
  EXPECT_FALSE(pty.write_master("x"));
  EXPECT_LE(::read(port, buf, sizeof buf), 0) << "a vanished master ends the slave's reads";
  ::close(port);
}

int connect_to(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    const int error = errno;
    ::close(fd);
    return -error;
  }
  return fd;
}

TEST(LoopbackFarEnd, ServesOneConnectionThenClosesIt) {
  std::vector<std::uint8_t> heard;
  {
    LoopbackFarEnd far_end([&](int fd) {
      heard = read_until(fd, {'A', 'T', '\r'});
      send_bytes(fd, {'O', 'K'});
    });
    EXPECT_EQ(far_end.url(), "rfc2217://127.0.0.1:" + std::to_string(far_end.port()));
    const int fd = connect_to(far_end.port());
    ASSERT_GE(fd, 0) << -fd;
    ASSERT_EQ(::write(fd, "xAT\r", 4), 4);
    const std::vector<std::uint8_t> answer = read_until(fd, {0x01});  // until the far end closes
    EXPECT_EQ(std::string(answer.begin(), answer.end()), "OK");
    ::close(fd);
  }
  EXPECT_EQ(std::string(heard.begin(), heard.end()), "xAT\r");
}

TEST(LoopbackFarEnd, GoesAwayWithoutAConnectionAndAFreePortRefuses) {
  bool served = false;
  { LoopbackFarEnd unused([&](int) { served = true; }); }
  EXPECT_FALSE(served);
  const int port = unused_loopback_port();
  ASSERT_GT(port, 0);
  EXPECT_EQ(connect_to(port), -ECONNREFUSED);
}

TEST(TmuxSession, TypesIntoAProgramAndReadsItsScreen) {
  if (!TmuxSession::available()) GTEST_SKIP() << "tmux is not installed";
  TmuxSession tmux("support");
  ASSERT_EQ(tmux.start(40, 10, {"GREETING=ready"}, {"sh -c 'echo $GREETING; read answer; echo got:$answer; sleep 30'"}), 0);
  ASSERT_TRUE(tmux.wait_for_text("ready")) << tmux.screen();
  tmux.keys({"hello", "Enter"});
  ASSERT_TRUE(tmux.wait_for_text("got:hello")) << tmux.screen();
  EXPECT_FALSE(TmuxSession::wait_for([] { return false; }, std::chrono::milliseconds(100)));
}

}  // namespace
}  // namespace test_support
