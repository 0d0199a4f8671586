// A serial port that goes away looks the same to the session whether it was
// a tty (the pseudo-terminal's far side closed) or a network serial port
// (the RFC 2217 far end closed the connection): the reader's wait says the
// device is gone and reads fail with the same error.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial/rfc2217.h"
#include "platform/serial/serial_port.h"

namespace session {
namespace {

namespace fs = std::filesystem;
using namespace platform::rfc2217;

// One connection on 127.0.0.1 served by `script`.
class FarEnd {
 public:
  explicit FarEnd(std::function<void(int)> script) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, 1);
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this, script = std::move(script)] {
      int fd = ::accept(listen_, nullptr, nullptr);
      if (fd < 0) return;
      script(fd);
      ::close(fd);
    });
  }
  ~FarEnd() {
    ::shutdown(listen_, SHUT_RDWR);
    ::close(listen_);
    thread_.join();
  }
  std::string url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

 private:
  int listen_ = -1;
  int port_ = 0;
  std::thread thread_;
};

void put(int fd, std::vector<std::uint8_t> b) { [[maybe_unused]] auto n = ::write(fd, b.data(), b.size()); }

// Agrees, answers the settings query, sends "NO" and hangs up.
void serve_and_drop(int fd) {
  std::uint8_t buf[256];
  std::vector<std::uint8_t> got;
  bool agreed = false;
  const std::vector<std::uint8_t> last = {kIac, kSb, 44, 5, 0, kIac, kSe};  // the query's last command
  while (std::search(got.begin(), got.end(), last.begin(), last.end()) == got.end()) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return;
    got.insert(got.end(), buf, buf + n);
    if (!agreed) put(fd, {kIac, kDo, 44});
    agreed = true;
  }
  put(fd, {kIac, kSb, 44, 101, 0, 0, 0x25, 0x80, kIac, kSe, kIac, kSb, 44, 102, 8, kIac, kSe,
           kIac, kSb, 44, 103, 1, kIac, kSe, kIac, kSb, 44, 104, 1, kIac, kSe, kIac, kSb, 44, 105, 1, kIac, kSe});
  put(fd, {'N', 'O'});
}

struct Outcome {
  std::string before;  // bytes read before the end
  platform::SerialError wait = platform::SerialError::None;
  std::size_t read = 0;
  platform::SerialError error = platform::SerialError::None;
};

Outcome run_until_gone(const std::shared_ptr<platform::SerialPort>& port, const std::function<void()>& vanish) {
  port->set_event_mask(platform::kEventRxChar);
  vanish();
  Outcome o;
  for (int i = 0; i < 20; ++i) {
    unsigned events = 0;
    o.wait = port->wait_event(events);
    char buf[16];
    std::size_t n = 0;
    port->read(buf, sizeof buf, n);
    o.before.append(buf, n);
    if (o.wait == platform::SerialError::DeviceNotConnected) break;
  }
  char buf[4];
  o.error = port->read(buf, sizeof buf, o.read);
  port->close();
  return o;
}

TEST(VanishedPort, NetworkPortEndsAsAPseudoTerminalDoes) {
  // The tty: the far side of a pseudo-terminal writes "NO" and closes.
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ::grantpt(master);
  ::unlockpt(master);
  char dir_template[] = "/tmp/vlr_vanish_XXXXXX";
  ASSERT_NE(::mkdtemp(dir_template), nullptr);
  platform::SerialOpenOptions tty_options;
  tty_options.lock_dirs = {dir_template};
  platform::SerialError e{};
  auto tty = platform::open_serial_port(::ptsname(master), tty_options, e);
  ASSERT_TRUE(tty) << platform::serial_error_text(e);
  const Outcome from_tty = run_until_gone(tty, [&] {
    put(master, {'N', 'O'});
    ::close(master);
  });

  FarEnd far(serve_and_drop);
  auto net = platform::open_serial_port(far.url(), {}, e);
  ASSERT_TRUE(net) << platform::serial_error_text(e);
  const Outcome from_net = run_until_gone(net, [] {});

  EXPECT_EQ(from_tty.wait, platform::SerialError::DeviceNotConnected);
  EXPECT_EQ(from_tty.read, 0u);
  EXPECT_NE(from_tty.error, platform::SerialError::None);
  // The kernel drops what a pseudo-terminal held when its far side closes;
  // the network port hands out what came before the hang-up.
  EXPECT_EQ(from_net.before, "NO");
  EXPECT_EQ(from_net.wait, from_tty.wait);
  EXPECT_EQ(from_net.read, from_tty.read);
  EXPECT_EQ(from_net.error, from_tty.error);
  fs::remove_all(dir_template);
}

}  // namespace
}  // namespace session
