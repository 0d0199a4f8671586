// Waiting for received bytes (SerialPort::wait_readable): ends when bytes are
// there, lasts its time-out when none come, reports a device that went away,
// and keeps to the process's clock (a virtual clock advances instead of the
// wait sleeping).
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "platform/loop/clock.h"
#include "platform/serial/serial_port.h"
#include "support/pty.h"
#include "support/temp_dir.h"

namespace platform {
namespace {

using Steady = std::chrono::steady_clock;

// A pseudo-terminal whose slave side is opened as a port, its lock file in
// a folder of its own.
class PtyPort {
 public:
  PtyPort() {
    SerialOpenOptions o;
    o.lock_dirs = {dir_.path()};
    SerialError e{};
    if (pty_.ok()) port_ = open_serial_port(pty_.slave(), o, e);
  }
  ~PtyPort() {
    if (port_) port_->close();
  }
  void close_master() { pty_.close_master(); }
  void send(const std::string& bytes) { ASSERT_TRUE(pty_.write_master(bytes)); }
  SerialPort& port() { return *port_; }
  bool ok() const { return port_ != nullptr; }

 private:
  test_support::TempDir dir_{"vlr_wait"};
  test_support::Pty pty_;
  std::shared_ptr<SerialPort> port_;
};

double seconds_since(Steady::time_point t) { return std::chrono::duration<double>(Steady::now() - t).count(); }

TEST(SerialWaitReadable, PtyBytesEndTheWait) {
  PtyPort pty;
  ASSERT_TRUE(pty.ok());
  pty.send("OK\r\n");
  const auto t0 = Steady::now();
  EXPECT_EQ(pty.port().wait_readable(10000), SerialError::None) << "bytes already there";
  EXPECT_LT(seconds_since(t0), 5.0);

  char buf[16];
  std::size_t got = 0;
  ASSERT_EQ(pty.port().read(buf, sizeof buf, got), SerialError::None);
  EXPECT_EQ(std::string(buf, got), "OK\r\n") << "the wait takes nothing away";

  // Bytes that come while the wait blocks end it long before its time-out:
  // the writer sends once the wait has looked and found nothing.
  std::promise<void> blocking;
  bool told = false;
  pty.port().set_wait_hook([&](std::uint64_t) {
    if (!told) blocking.set_value();
    told = true;
  });
  std::thread writer([&] {
    blocking.get_future().wait();
    pty.send("RING\r\n");
  });
  const auto t1 = Steady::now();
  EXPECT_EQ(pty.port().wait_readable(10000), SerialError::None);
  EXPECT_LT(seconds_since(t1), 5.0);
  writer.join();
  pty.port().set_wait_hook(nullptr);
}

TEST(SerialWaitReadable, PtyWaitLastsItsTimeOutInVirtualTime) {
  PtyPort pty;
  ASSERT_TRUE(pty.ok());
  ScopedVirtualClock vclock;
  const std::int64_t start = clock().now_ms();
  const auto t0 = Steady::now();
  EXPECT_EQ(pty.port().wait_readable(60000), SerialError::Timeout);
  EXPECT_EQ(clock().now_ms() - start, 60000) << "the whole time-out, in virtual time";
  EXPECT_LT(seconds_since(t0), 5.0) << "without sleeping it";
  pty.send("x");
  EXPECT_EQ(pty.port().wait_readable(60000), SerialError::None);
  EXPECT_EQ(clock().now_ms() - start, 60000) << "bytes there: no time passes";
}

TEST(SerialWaitReadable, PtyClosedPeerEndsTheWaitWithAnError) {
  PtyPort pty;
  ASSERT_TRUE(pty.ok());
  pty.send("last");
  ASSERT_EQ(pty.port().wait_readable(10000), SerialError::None);
  pty.close_master();
  EXPECT_EQ(pty.port().wait_readable(10000), SerialError::None) << "bytes before the hang-up first";
  char buf[16];
  std::size_t got = 0;
  ASSERT_EQ(pty.port().read(buf, sizeof buf, got), SerialError::None);
  const auto t0 = Steady::now();
  EXPECT_EQ(pty.port().wait_readable(10000), SerialError::DeviceNotConnected);
  EXPECT_LT(seconds_since(t0), 5.0) << "a hung-up line does not wait out the time-out";
}

TEST(SerialWaitReadable, VirtualPairGivesTheFarEndItsTurn) {
  ScopedVirtualClock vclock;
  VirtualNullModem cable;
  auto near = cable.end(0);
  auto far = cable.end(1);
  const std::int64_t start = clock().now_ms();
  std::int64_t answer_at = start + 30;
  // The far end answers on its turn once its time has come.
  cable.set_listener(1, [&] {
    if (answer_at != 0 && clock().now_ms() >= answer_at) {
      answer_at = 0;
      std::size_t done = 0;
      far->write("OK", 2, done, 0);
    }
  });
  EXPECT_EQ(near->wait_readable(20), SerialError::Timeout);
  EXPECT_EQ(clock().now_ms() - start, 20);
  EXPECT_EQ(near->wait_readable(20), SerialError::None) << "answered at 30 ms, seen at the end of the step";
  EXPECT_EQ(clock().now_ms() - start, 40);
  cable.unplug();
  EXPECT_EQ(near->wait_readable(20), SerialError::DeviceNotConnected);
}

}  // namespace
}  // namespace platform
