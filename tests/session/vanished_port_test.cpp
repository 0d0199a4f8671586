// A serial port that goes away looks the same to the session whether it was
// a tty (the pseudo-terminal's far side closed) or a network serial port
// (the RFC 2217 far end closed the connection): the reader's wait says the
// device is gone and reads fail with the same error.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/serial/rfc2217.h"
#include "platform/serial/serial_port.h"
#include "support/loopback_far_end.h"
#include "support/pty.h"
#include "support/temp_dir.h"

namespace session {
namespace {

using namespace platform::rfc2217;

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
    if (!agreed) test_support::send_bytes(fd, {kIac, kDo, 44});
    agreed = true;
  }
  test_support::send_bytes(fd, {kIac, kSb, 44, 101, 0, 0, 0x25, 0x80, kIac, kSe, kIac, kSb, 44, 102, 8, kIac, kSe,
           kIac, kSb, 44, 103, 1, kIac, kSe, kIac, kSb, 44, 104, 1, kIac, kSe, kIac, kSb, 44, 105, 1, kIac, kSe});
  test_support::send_bytes(fd, {'N', 'O'});
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
  test_support::Pty pty;
  ASSERT_TRUE(pty.ok());
  test_support::TempDir dir("vlr_vanish");
  platform::SerialOpenOptions tty_options;
  tty_options.lock_dirs = {dir.path()};
  platform::SerialError e{};
  auto tty = platform::open_serial_port(pty.slave(), tty_options, e);
  ASSERT_TRUE(tty) << platform::serial_error_text(e);
  const Outcome from_tty = run_until_gone(tty, [&] {
    pty.write_master("NO");
    pty.close_master();
  });

  test_support::LoopbackFarEnd far(serve_and_drop);
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
}

}  // namespace
}  // namespace session
