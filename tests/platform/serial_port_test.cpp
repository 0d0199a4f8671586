// Serial ports: COM name resolution, exclusive use (UUCP lock), a real
// pseudo-terminal round trip, the virtual null-modem pair, interruptible
// waits and the handle table.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial/serial_port.h"
#include "support/pty.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

using test_support::Pty;
using test_support::TempDir;

std::string file_text(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

SerialOpenOptions options_for(const TempDir& dir) {
  SerialOpenOptions o;
  o.dosdevices = dir.path() / "dosdevices";
  o.lock_dirs = {dir.path() / "lock"};
  fs::create_directories(o.dosdevices);
  fs::create_directories(o.lock_dirs[0]);
  return o;
}

TEST(SerialNames, ComNamesResolveThroughDosdevicesElseTtyS) {
  TempDir dir;
  fs::create_directories(dir.path() / "dosdevices");
  fs::create_symlink("/dev/pts/7", dir.path() / "dosdevices/com2");
  EXPECT_EQ(serial_device_path("COM2", dir.path() / "dosdevices"), dir.path() / "dosdevices/com2");
  EXPECT_EQ(serial_device_path("com2:", dir.path() / "dosdevices"), dir.path() / "dosdevices/com2");
  EXPECT_EQ(serial_device_path("COM1:", dir.path() / "dosdevices"), dir.path() / "dosdevices/com1") << "no link: absent";
  EXPECT_EQ(serial_device_path("COM4", ""), "/dev/ttyS3");
  for (const char* not_com : {"COM0", "COM", "LPT1", "COMX", "COM1:x", "/dev/ttyS0", ""}) {
    EXPECT_EQ(serial_device_path(not_com, ""), fs::path()) << not_com;
  }
}

// A root marks a port absent with a link to nothing: the name must not fall
// back to the machine's own /dev/ttyS device, and opening it fails cleanly.
TEST(SerialNames, LinkToNothingMarksThePortAbsent) {
  TempDir dir;
  SerialOpenOptions o = options_for(dir);
  fs::create_symlink(dir.path() / "no-such-device", o.dosdevices / "com1");
  EXPECT_EQ(serial_device_path("COM1", o.dosdevices), o.dosdevices / "com1");
  SerialError e{};
  EXPECT_EQ(open_serial_port("COM1:", o, e), nullptr);
  EXPECT_EQ(e, SerialError::FileNotFound);
  EXPECT_TRUE(fs::is_empty(o.lock_dirs[0]));
}

TEST(SerialNames, LockNamesFollowTheRealPath) {
  EXPECT_EQ(uucp_lock_name("/dev/ttyS0"), "LCK..ttyS0");
  EXPECT_EQ(uucp_lock_name("/dev/pts/3"), "LCK..pts_3");
  EXPECT_EQ(uucp_lock_name("/tmp/x/dev"), "LCK..tmp_x_dev");
}

TEST(SerialOpen, MissingDeviceAndNotATty) {
  TempDir dir;
  SerialOpenOptions o = options_for(dir);
  fs::create_symlink("/dev/pts/no-such-pty", o.dosdevices / "com1");
  SerialError e{};
  EXPECT_EQ(open_serial_port("COM1", o, e), nullptr);
  EXPECT_EQ(e, SerialError::FileNotFound);
  EXPECT_EQ(open_serial_port("", o, e), nullptr);
  EXPECT_EQ(e, SerialError::FileNotFound);
  std::ofstream(dir.path() / "plain") << "x";
  fs::create_symlink(dir.path() / "plain", o.dosdevices / "com3");
  EXPECT_EQ(open_serial_port("COM3", o, e), nullptr);
  EXPECT_EQ(e, SerialError::BadUnit);
  EXPECT_TRUE(fs::is_empty(o.lock_dirs[0])) << "a failed open leaves no lock behind";
}

TEST(SerialOpen, LockFileMakesThePortExclusiveAndStaleLocksAreTakenOver) {
  TempDir dir;
  SerialOpenOptions o = options_for(dir);
  Pty pty;
  fs::create_symlink(pty.slave(), o.dosdevices / "com1");
  fs::path lock = o.lock_dirs[0] / uucp_lock_name(fs::canonical(pty.slave()));

  // A live process (our parent) holds it: in use.
  {
    std::ofstream(lock) << std::string(10 - std::to_string(getppid()).size(), ' ') << getppid() << "\n";
    SerialError e{};
    EXPECT_EQ(open_serial_port("COM1", o, e), nullptr);
    EXPECT_EQ(e, SerialError::Busy);
  }
  // A process that has ended: stale, taken over, rewritten with our PID.
  pid_t child = fork();
  if (child == 0) _exit(0);
  ::waitpid(child, nullptr, 0);
  {
    std::ofstream(lock, std::ios::trunc) << "     " << child << "\n";
  }
  SerialError e{};
  auto port = open_serial_port("COM1", o, e);
  ASSERT_NE(port, nullptr) << serial_error_text(e);
  char expected[16];
  std::snprintf(expected, sizeof expected, "%10d\n", static_cast<int>(getpid()));
  EXPECT_EQ(file_text(lock), expected);

  // The same device under another name shares the lock.
  auto second = open_serial_port(pty.slave(), o, e);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(e, SerialError::Busy);

  EXPECT_EQ(port->close(), SerialError::None);
  EXPECT_FALSE(fs::exists(lock));
  auto again = open_serial_port(pty.slave(), o, e);
  EXPECT_NE(again, nullptr);
}

TEST(SerialPty, RoundTripWithCustomSpeedAndEventCharacter) {
  TempDir dir;
  SerialOpenOptions o = options_for(dir);
  Pty pty;
  fs::create_symlink(pty.slave(), o.dosdevices / "com2");
  SerialError e{};
  auto port = open_serial_port("COM2:", o, e);
  ASSERT_NE(port, nullptr) << serial_error_text(e);
  EXPECT_FALSE(port->has_modem_lines());
  unsigned lines = 0;
  EXPECT_EQ(port->get_modem_lines(lines), SerialError::NotSupported);
  EXPECT_EQ(port->set_dtr(false), SerialError::None) << "no lines to drive: accepted";

  LineSettings s{56000, 8, Parity::None, StopBits::One, true};
  ASSERT_EQ(port->set_settings(s), SerialError::None);
  LineSettings back;
  ASSERT_EQ(port->get_settings(back), SerialError::None);
  EXPECT_EQ(back, s);
  s.data_bits = 9;
  EXPECT_EQ(port->set_settings(s), SerialError::InvalidParameter);

  std::size_t done = 0;
  ASSERT_EQ(port->write("AT\r", 3, done, 100), SerialError::None);
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(pty.read_master(), "AT\r") << "raw mode: no CR translation";

  std::size_t got = 0;
  char buf[64];
  EXPECT_EQ(port->read(buf, sizeof buf, got), SerialError::None);
  EXPECT_EQ(got, 0u) << "reads never block";

  port->set_event_mask(kEventRxChar | kEventRxFlag, '\n');
  ASSERT_EQ(::write(pty.master(), "OK\r", 3), 3);
  unsigned ev = 0;
  ASSERT_EQ(port->wait_event(ev, 5000), SerialError::None);
  EXPECT_EQ(ev & kEventRxChar, kEventRxChar);
  ASSERT_EQ(::write(pty.master(), "\n", 1), 1);
  ASSERT_EQ(port->wait_event(ev, 5000), SerialError::None);
  EXPECT_EQ(ev, kEventRxChar | kEventRxFlag);
  std::size_t avail = 0;
  EXPECT_EQ(port->bytes_available(avail), SerialError::None);
  EXPECT_EQ(avail, 4u);
  EXPECT_EQ(port->read(buf, sizeof buf, got), SerialError::None);
  EXPECT_EQ(std::string(buf, got), "OK\r\n");

  ASSERT_EQ(::write(pty.master(), "junk", 4), 4);
  EXPECT_EQ(port->wait_event(ev, 5000), SerialError::None);
  EXPECT_EQ(port->purge(true, true), SerialError::None);
  EXPECT_EQ(port->bytes_available(avail), SerialError::None);
  EXPECT_EQ(avail, 0u);
}

TEST(SerialPty, ClosedPeerEndsReadsAndWaitsWithAnError) {
  TempDir dir;
  SerialOpenOptions o = options_for(dir);
  Pty pty;
  SerialError e{};
  auto port = open_serial_port(pty.slave(), o, e);
  ASSERT_NE(port, nullptr);
  ASSERT_EQ(::write(pty.master(), "last", 4), 4);
  port->set_event_mask(kEventRxChar);
  unsigned ev = 0;
  ASSERT_EQ(port->wait_event(ev, 5000), SerialError::None);
  pty.close_master();
  char buf[16];
  std::size_t got = 0;
  EXPECT_EQ(port->read(buf, sizeof buf, got), SerialError::None) << "bytes before the hang-up still arrive";
  EXPECT_EQ(std::string(buf, got), "last");
  EXPECT_EQ(port->read(buf, sizeof buf, got), SerialError::DeviceNotConnected);
  EXPECT_EQ(port->wait_event(ev, 5000), SerialError::DeviceNotConnected);
  std::size_t done = 0;
  EXPECT_NE(port->write("x", 1, done, 100), SerialError::None);
}

TEST(SerialWait, AnotherThreadInterruptsABlockedWait) {
  VirtualNullModem cable;
  Pty pty;
  TempDir dir;
  SerialError e{};
  auto tty = open_serial_port(pty.slave(), options_for(dir), e);
  ASSERT_NE(tty, nullptr);
  for (const auto& port : {cable.end(0), tty}) {
    port->set_event_mask(kEventRxChar);
    SerialError result = SerialError::None;
    std::mutex m;
    std::condition_variable cv;
    bool blocking = false;
    port->set_wait_hook([&](std::uint64_t) {
      std::lock_guard g(m);
      blocking = true;
      cv.notify_all();
    });
    std::thread reader([&] {
      unsigned ev = 0;
      result = port->wait_event(ev);  // no time-out: only the interrupt ends it
    });
    // The interrupt is latched, so one sent before the wait began would end
    // it too; here it must wake a wait that has looked and is blocking.
    bool blocked;
    {
      std::unique_lock g(m);
      blocked = cv.wait_for(g, std::chrono::seconds(30), [&] { return blocking; });
    }
    port->interrupt_wait();
    reader.join();
    port->set_wait_hook(nullptr);
    ASSERT_TRUE(blocked) << port->name() << ": the reader never blocked";
    EXPECT_EQ(result, SerialError::OperationAborted) << port->name();
  }
}

TEST(SerialVirtual, BytesAndModemLinesCrossTheCable) {
  VirtualNullModem cable;
  auto a = cable.end(0);
  auto b = cable.end(1);
  int b_turns = 0;
  cable.set_listener(1, [&] { ++b_turns; });

  b->set_event_mask(kEventRxChar | kEventDsr | kEventRlsd | kEventCts);
  std::size_t done = 0;
  ASSERT_EQ(a->write("ATZ\r", 4, done, 0), SerialError::None);
  EXPECT_EQ(b_turns, 1) << "the far side hears bytes at once";
  unsigned ev = 0;
  ASSERT_EQ(b->wait_event(ev, 0), SerialError::None);
  EXPECT_EQ(ev, kEventRxChar);
  char buf[8];
  std::size_t got = 0;
  ASSERT_EQ(b->read(buf, sizeof buf, got), SerialError::None);
  EXPECT_EQ(std::string(buf, got), "ATZ\r");

  std::size_t avail = 0;
  a->bytes_available(avail);
  EXPECT_EQ(b_turns, 2) << "a reader on one side gives the other a turn";

  unsigned lines = 0;
  ASSERT_EQ(b->get_modem_lines(lines), SerialError::None);
  EXPECT_EQ(lines & (kLineDsr | kLineDcd | kLineCts), 0u);
  a->set_dtr(true);
  ASSERT_EQ(b->wait_event(ev, 0), SerialError::None);
  EXPECT_EQ(ev, kEventDsr | kEventRlsd);
  b->get_modem_lines(lines);
  EXPECT_EQ(lines & (kLineDsr | kLineDcd), kLineDsr | kLineDcd);
  a->set_rts(true);
  ASSERT_EQ(b->wait_event(ev, 0), SerialError::None);
  EXPECT_EQ(ev, kEventCts);
  EXPECT_EQ(b->wait_event(ev, 0), SerialError::Timeout) << "events are not reported twice";

  cable.unplug();
  EXPECT_EQ(a->write("x", 1, done, 0), SerialError::DeviceNotConnected);
  EXPECT_EQ(b->read(buf, sizeof buf, got), SerialError::DeviceNotConnected);
  EXPECT_EQ(b->wait_event(ev, -1), SerialError::DeviceNotConnected);
}

TEST(SerialVirtual, CableWithoutModemLinesIsAPseudoTerminal) {
  VirtualNullModem cable(false);
  auto a = cable.end(0);
  auto b = cable.end(1);
  EXPECT_FALSE(a->has_modem_lines());
  unsigned lines = 0;
  EXPECT_EQ(b->get_modem_lines(lines), SerialError::NotSupported);
  b->set_event_mask(kEventModemLines);
  EXPECT_EQ(a->set_dtr(true), SerialError::None) << "accepted";
  unsigned ev = 0;
  EXPECT_EQ(b->wait_event(ev, 0), SerialError::Timeout) << "and nothing changes across";
}

TEST(SerialVirtual, AnEndThatRefusesSettingsKeepsItsOwn) {
  VirtualNullModem cable;
  auto a = cable.end(0);
  LineSettings before;
  ASSERT_EQ(a->get_settings(before), SerialError::None);
  LineSettings next = before;
  next.baud = 57600;
  cable.refuse_settings(0, true);
  EXPECT_EQ(a->set_settings(next), SerialError::InvalidParameter);
  LineSettings now;
  a->get_settings(now);
  EXPECT_EQ(now, before);
  cable.refuse_settings(0, false);
  EXPECT_EQ(a->set_settings(next), SerialError::None);
}

// The wait hook tells what a blocking wait had seen: a test knows its bytes
// were looked at without sleeping.
TEST(SerialVirtual, WaitHookCountsWhatArrivedBeforeTheWaitBlocked) {
  VirtualNullModem cable;
  auto near = cable.end(0);
  auto far = cable.end(1);
  std::mutex m;
  std::condition_variable cv;
  std::vector<std::uint64_t> seen;
  near->set_wait_hook([&](std::uint64_t arrivals) {
    std::lock_guard g(m);
    seen.push_back(arrivals);
    cv.notify_all();
  });
  near->set_event_mask(kEventRxFlag, '\r');
  std::size_t done = 0;
  far->write("AT", 2, done, 0);  // no event character: the wait goes on
  far->set_dtr(true);            // masked out too
  std::thread far_side([&] {
    {
      std::unique_lock g(m);
      cv.wait_for(g, std::chrono::seconds(30), [&] { return !seen.empty(); });
    }
    std::size_t n = 0;
    far->write("\r", 1, n, 0);  // ends the wait
  });
  unsigned ev = 0;
  EXPECT_EQ(near->wait_event(ev, -1), SerialError::None);
  far_side.join();
  EXPECT_EQ(ev, kEventRxFlag);
  // Stale wake-ups may make the wait look more than once before it blocks.
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), 2u) << "both arrivals came before the first look";
  EXPECT_EQ(seen.back(), 2u) << "the third ended the wait";
  near->set_wait_hook(nullptr);
}

TEST(SerialVirtual, AttachedEndOpensByComNameOnceAtATime) {
  VirtualNullModem cable;
  attach_virtual_port(3, cable.end(0));
  SerialOpenOptions o;
  SerialError e{};
  auto port = open_serial_port("COM3:", o, e);
  ASSERT_NE(port, nullptr);
  unsigned lines = 0;
  cable.end(1)->get_modem_lines(lines);
  EXPECT_TRUE(lines & kLineDcd) << "opening raises DTR";
  EXPECT_EQ(open_serial_port("COM3", o, e), nullptr);
  EXPECT_EQ(e, SerialError::Busy);
  LineSettings s{128000, 8, Parity::None, StopBits::One, false};
  port->set_settings(s);
  port->close();
  cable.end(1)->get_modem_lines(lines);
  EXPECT_FALSE(lines & kLineDcd) << "closing drops DTR";
  LineSettings after;
  cable.end(0)->get_settings(after);
  EXPECT_EQ(after, LineSettings{}) << "settings found at open come back";
  EXPECT_NE(open_serial_port("COM3", o, e), nullptr);
  attach_virtual_port(3, nullptr);
}

TEST(SerialHandles, TableNamesPortsUntilReleased) {
  VirtualNullModem cable;
  std::int32_t h = register_serial_handle(cable.end(0));
  EXPECT_GT(h, 0);
  EXPECT_EQ(serial_port_from_handle(h), cable.end(0));
  release_serial_handle(h);
  EXPECT_EQ(serial_port_from_handle(h), nullptr);
  EXPECT_EQ(serial_port_from_handle(0), nullptr);
}

TEST(SerialErrors, EveryErrorHasAText) {
  EXPECT_STREQ(serial_error_text(SerialError::Busy), "the serial port is in use by another program");
  EXPECT_EQ(serial_error_from_errno(ENOENT), SerialError::FileNotFound);
  EXPECT_EQ(serial_error_from_errno(EBUSY), SerialError::Busy);
  EXPECT_EQ(serial_error_from_errno(EIO), SerialError::DeviceNotConnected);
}

}  // namespace
}  // namespace platform
