// Serial port over a tty: termios2 line settings, TIOCEXCL plus a UUCP lock
// file for exclusive use, modem lines through TIOCMGET/TIOCMSET.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/loop/clock.h"
#include "platform/loop/log.h"
#include "platform/serial/serial_port.h"
#include "serial_queue.h"
#include "serial_termios.h"

namespace platform {
namespace serial_detail {

namespace {

struct SpeedEntry {
  std::uint32_t baud;
  unsigned constant;
};

constexpr SpeedEntry kSpeeds[] = {
    {50, B50},         {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},       {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},     {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},   {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

}  // namespace

unsigned standard_speed_constant(std::uint32_t baud) {
  for (const SpeedEntry& e : kSpeeds) {
    if (e.baud == baud) return e.constant;
  }
  return 0;
}

termios2 termios_for(const LineSettings& s, const termios2& base) {
  termios2 t = base;
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                      IXANY | INPCK | IUCLC | IMAXBEL);
  t.c_iflag |= IGNPAR;
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | CIBAUD);
  t.c_cflag |= CREAD | CLOCAL;
  switch (s.data_bits) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;
  }
  switch (s.parity) {
    case Parity::None: break;
    case Parity::Odd: t.c_cflag |= PARENB | PARODD; break;
    case Parity::Even: t.c_cflag |= PARENB; break;
    case Parity::Mark: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case Parity::Space: t.c_cflag |= PARENB | CMSPAR; break;
  }
  if (s.stop_bits != StopBits::One) t.c_cflag |= CSTOPB;
  if (s.rts_cts) t.c_cflag |= CRTSCTS;
  if (unsigned constant = standard_speed_constant(s.baud)) {
    t.c_cflag |= constant;
  } else {
    t.c_cflag |= BOTHER;
  }
  t.c_ispeed = s.baud;
  t.c_ospeed = s.baud;
  // VMIN 1 with O_NONBLOCK: an empty read says EAGAIN, so a read of 0 bytes
  // can only mean the line hung up (VMIN 0 would return 0 for both).
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  return t;
}

LineSettings settings_from_termios(const termios2& t) {
  LineSettings s;
  unsigned speed = t.c_cflag & CBAUD;
  s.baud = t.c_ospeed;
  if (speed != BOTHER) {
    for (const SpeedEntry& e : kSpeeds) {
      if (e.constant == speed) s.baud = e.baud;
    }
  }
  switch (t.c_cflag & CSIZE) {
    case CS5: s.data_bits = 5; break;
    case CS6: s.data_bits = 6; break;
    case CS7: s.data_bits = 7; break;
    default: s.data_bits = 8; break;
  }
  if (t.c_cflag & PARENB) {
    bool odd = t.c_cflag & PARODD;
    if (t.c_cflag & CMSPAR) {
      s.parity = odd ? Parity::Mark : Parity::Space;
    } else {
      s.parity = odd ? Parity::Odd : Parity::Even;
    }
  }
  s.stop_bits = (t.c_cflag & CSTOPB) ? StopBits::Two : StopBits::One;
  s.rts_cts = t.c_cflag & CRTSCTS;
  return s;
}

}  // namespace serial_detail

namespace {

using serial_detail::EventQueue;
using SteadyClock = std::chrono::steady_clock;

// Modem lines are sampled this often while a wait watches them.
constexpr int kLineSampleMs = 20;

int remaining_ms(SteadyClock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// Takes the UUCP lock `path` for this process: "%10d\n" with our PID, made
// under a temporary name and linked into place so no reader sees half a
// file. A lock whose process is gone is stale and taken over.
SerialError take_uucp_lock(const std::filesystem::path& path) {
  const pid_t self = ::getpid();
  std::filesystem::path temp = path.parent_path() / (".LTMP." + std::to_string(self));
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return serial_error_from_errno(errno);
    char text[16];
    int len = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(self));
    bool written = ::write(fd, text, static_cast<std::size_t>(len)) == len;
    ::close(fd);
    if (!written) {
      ::unlink(temp.c_str());
      return SerialError::GenFailure;
    }
    int rc = ::link(temp.c_str(), path.c_str());
    int err = errno;
    ::unlink(temp.c_str());
    if (rc == 0) return SerialError::None;
    if (err != EEXIST) return serial_error_from_errno(err);

    // Someone holds it: alive (or ourselves) means busy, gone means stale.
    char held[64] = {};
    int hfd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (hfd < 0) continue;  // removed meanwhile: try again
    ssize_t n = ::read(hfd, held, sizeof held - 1);
    ::close(hfd);
    long pid = n > 0 ? std::strtol(held, nullptr, 10) : 0;
    if (pid > 0 && (pid == self || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) {
      return SerialError::Busy;
    }
    log_info("serial", "taking over stale lock " + path.string());
    ::unlink(path.c_str());
  }
  return SerialError::Busy;
}

// Folder for the lock file: the first of the options' folders we may write.
std::filesystem::path lock_folder(const SerialOpenOptions& o) {
  std::vector<std::filesystem::path> dirs = o.lock_dirs;
  if (dirs.empty()) {
    dirs.emplace_back("/var/lock");
    if (!o.fallback_lock_dir.empty()) dirs.push_back(o.fallback_lock_dir);
  }
  for (const auto& d : dirs) {
    struct stat st {};
    if (::stat(d.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(d.c_str(), W_OK) == 0) return d;
  }
  return {};
}

class TtyPort final : public serial_detail::QueuedSerialPort {
 public:
  TtyPort(std::string name, int fd, std::filesystem::path lock, const termios2& saved, bool lines)
      : name_(std::move(name)), fd_(fd), lock_(std::move(lock)), saved_(saved), lines_(lines) {
    if (lines_) sample_lines(nullptr);
  }
  ~TtyPort() override { close(); }

  std::string name() const override { return name_; }
  bool is_open() const override { return fd_.load() >= 0; }

  SerialError get_settings(LineSettings& out) override {
    int fd = fd_.load();
    if (fd < 0) return SerialError::InvalidHandle;
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) return serial_error_from_errno(errno);
    out = serial_detail::settings_from_termios(t);
    return SerialError::None;
  }

  SerialError set_settings(const LineSettings& s) override {
    int fd = fd_.load();
    if (fd < 0) return SerialError::InvalidHandle;
    if (!line_settings_valid(s)) return SerialError::InvalidParameter;
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) return serial_error_from_errno(errno);
    termios2 next = serial_detail::termios_for(s, t);
    if (::ioctl(fd, TCSETS2, &next) != 0) return serial_error_from_errno(errno);
    return SerialError::None;
  }

  bool has_modem_lines() const override { return lines_; }

  SerialError get_modem_lines(unsigned& lines) override {
    int fd = fd_.load();
    if (fd < 0) return SerialError::InvalidHandle;
    if (!lines_) return SerialError::NotSupported;
    int bits = 0;
    if (::ioctl(fd, TIOCMGET, &bits) != 0) return serial_error_from_errno(errno);
    lines = to_lines(bits);
    return SerialError::None;
  }

  SerialError set_dtr(bool on) override { return set_line(TIOCM_DTR, on); }
  SerialError set_rts(bool on) override { return set_line(TIOCM_RTS, on); }

  SerialError write(const void* buffer, std::size_t size, std::size_t& done, int timeout_ms) override {
    done = 0;
    int fd = fd_.load();
    if (fd < 0) return SerialError::InvalidHandle;
    auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    while (done < size) {
      ssize_t n = ::write(fd, p + done, size - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) return serial_error_from_errno(errno);
      int left = remaining_ms(deadline);
      if (left == 0) return SerialError::Timeout;
      pollfd pfd{fd, POLLOUT, 0};
      int rc = ::poll(&pfd, 1, left);
      if (rc == 0) return SerialError::Timeout;
      if (rc > 0 && (pfd.revents & (POLLERR | POLLNVAL))) return SerialError::DeviceNotConnected;
    }
    return SerialError::None;
  }

  SerialError drain() override {
    int fd = fd_.load();
    if (fd < 0) return SerialError::InvalidHandle;
    if (::ioctl(fd, TCSBRK, 1) != 0) return serial_error_from_errno(errno);
    return SerialError::None;
  }

  SerialError purge(bool input, bool output) override {
    int fd = fd_.load();
    if (fd < 0) return SerialError::InvalidHandle;
    if (!input && !output) return SerialError::None;
    int which = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
    int rc = ::ioctl(fd, TCFLSH, which);
    int err = errno;
    if (input) {
      std::lock_guard lock(q_.mutex);
      q_.rx.clear();
    }
    return rc == 0 ? SerialError::None : serial_error_from_errno(err);
  }

  SerialError wait_readable(int timeout_ms) override {
    // Under a virtual clock the descriptor is only looked at: time advances
    // instead of passing.
    const bool virtual_time = clock().is_virtual();
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    bool advanced = false;
    for (;;) {
      int fd;
      {
        std::lock_guard lock(q_.mutex);
        fd = fd_.load();
        if (fd < 0) return SerialError::InvalidHandle;
        if (!q_.rx.empty()) return SerialError::None;
        if (gone_) return SerialError::DeviceNotConnected;
        wait_begins_locked();
      }
      pollfd pfd{fd, POLLIN, 0};
      int rc = ::poll(&pfd, 1, virtual_time ? 0 : remaining_ms(deadline));
      if (rc < 0 && errno != EINTR) return serial_error_from_errno(errno);
      if (rc > 0) {
        std::lock_guard lock(q_.mutex);
        SerialError e = fill_locked();
        if (!q_.rx.empty()) return SerialError::None;
        if (e != SerialError::None) return e;
      }
      if (virtual_time) {
        if (advanced || timeout_ms <= 0) return SerialError::Timeout;
        clock().sleep_ms(timeout_ms);
        advanced = true;
        continue;
      }
      if (remaining_ms(deadline) == 0) return SerialError::Timeout;
    }
  }

  SerialError close() override {
    std::lock_guard lock(q_.mutex);
    int fd = fd_.exchange(-1);
    if (fd < 0) return SerialError::None;
    // Put back what we found; a vanished device cannot take it, which is fine.
    ::ioctl(fd, TCSETS2, &saved_);
    ::ioctl(fd, TIOCNXCL);
    SerialError e = ::close(fd) == 0 ? SerialError::None : serial_error_from_errno(errno);
    if (!lock_.empty()) ::unlink(lock_.c_str());
    q_.rx.clear();
    q_.wake();
    return e;
  }

 private:
  static unsigned to_lines(int bits) {
    unsigned lines = 0;
    if (bits & TIOCM_DTR) lines |= kLineDtr;
    if (bits & TIOCM_RTS) lines |= kLineRts;
    if (bits & TIOCM_CTS) lines |= kLineCts;
    if (bits & TIOCM_DSR) lines |= kLineDsr;
    if (bits & TIOCM_CAR) lines |= kLineDcd;
    if (bits & TIOCM_RNG) lines |= kLineRing;
    return lines;
  }

  SerialError set_line(int bit, bool on) {
    int fd = fd_.load();
    if (fd < 0) return SerialError::InvalidHandle;
    if (!lines_) return SerialError::None;  // a pseudo-terminal: nothing to drive
    if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit) != 0) return serial_error_from_errno(errno);
    return SerialError::None;
  }

  SerialError wait_source_locked(WaitSource& source) override {
    source.fd = fd_.load();
    if (source.fd < 0) return SerialError::InvalidHandle;
    if (gone_) return SerialError::DeviceNotConnected;
    // TIOCMIWAIT blocks in the kernel and cannot be combined with poll():
    // watched lines are sampled instead.
    if (watching_lines_locked()) source.step_ms = kLineSampleMs;
    return SerialError::None;
  }

  void woke_locked(bool readable) override {
    if (readable) fill_locked();
    if (watching_lines_locked()) sample_lines(&q_.events);
  }

  bool watching_lines_locked() const { return lines_ && (q_.mask & kEventModemLines); }

  // Notes changes of the input lines since the last sample as events.
  void sample_lines(unsigned* events) {
    int bits = 0;
    int fd = fd_.load();
    if (fd < 0 || ::ioctl(fd, TIOCMGET, &bits) != 0) return;
    unsigned now = to_lines(bits);
    unsigned changed = now ^ last_lines_;
    last_lines_ = now;
    if (!events) return;
    if (changed & kLineCts) *events |= kEventCts;
    if (changed & kLineDsr) *events |= kEventDsr;
    if (changed & kLineDcd) *events |= kEventRlsd;
    if (changed & kLineRing) *events |= kEventRing;
  }

  // Moves what the driver holds into the queue.
  SerialError fill_locked() override {
    int fd = fd_.load();
    if (fd < 0) return SerialError::InvalidHandle;
    if (gone_) return SerialError::DeviceNotConnected;
    std::uint8_t buf[4096];
    while (q_.rx.size() < EventQueue::kCapacity) {
      std::size_t room = EventQueue::kCapacity - q_.rx.size();
      ssize_t n = ::read(fd, buf, room < sizeof buf ? room : sizeof buf);
      if (n > 0) {
        q_.push_locked(buf, static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return SerialError::None;
      // 0 (hung up) or EIO (the other side of a pseudo-terminal closed).
      gone_ = true;
      return n == 0 ? SerialError::DeviceNotConnected : serial_error_from_errno(errno);
    }
    return SerialError::None;
  }

  std::string name_;
  std::atomic<int> fd_;
  std::filesystem::path lock_;
  termios2 saved_;
  bool lines_;
  bool gone_ = false;  // guarded by q_.mutex
  unsigned last_lines_ = 0;
};

}  // namespace

std::shared_ptr<SerialPort> open_tty_port(const std::string& name, const std::filesystem::path& path,
                                          const SerialOpenOptions& options, SerialError& error) {
  error = SerialError::None;
  std::error_code ec;
  std::filesystem::path real = std::filesystem::canonical(path, ec);
  if (ec) {
    error = serial_error_from_errno(ec.value() == ENOENT ? ENOENT : ec.value());
    return nullptr;
  }
  struct stat st {};
  if (::stat(real.c_str(), &st) != 0) {
    error = serial_error_from_errno(errno);
    return nullptr;
  }
  if (!S_ISCHR(st.st_mode)) {
    error = SerialError::BadUnit;
    return nullptr;
  }

  std::filesystem::path lock;
  std::filesystem::path folder = lock_folder(options);
  if (!folder.empty()) {
    lock = folder / uucp_lock_name(real);
    error = take_uucp_lock(lock);
    if (error != SerialError::None) return nullptr;
  } else {
    log_warn("serial", "no writable lock folder; " + real.string() + " is guarded by TIOCEXCL only");
  }
  auto fail = [&](SerialError e, int fd) -> std::shared_ptr<SerialPort> {
    if (fd >= 0) ::close(fd);
    if (!lock.empty()) ::unlink(lock.c_str());
    error = e;
    return nullptr;
  };

  int fd = ::open(real.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail(serial_error_from_errno(errno), -1);
  if (::ioctl(fd, TIOCEXCL) != 0) return fail(serial_error_from_errno(errno), fd);
  termios2 saved{};
  if (::ioctl(fd, TCGETS2, &saved) != 0) return fail(serial_error_from_errno(errno), fd);
  // Raw mode at once, keeping the speed and framing the device had.
  termios2 raw = serial_detail::termios_for(serial_detail::settings_from_termios(saved), saved);
  if (::ioctl(fd, TCSETS2, &raw) != 0) return fail(serial_error_from_errno(errno), fd);
  int bits = 0;
  bool lines = ::ioctl(fd, TIOCMGET, &bits) == 0;
  if (lines) {
    int on = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIS, &on);
  }
  return std::make_shared<TtyPort>(name, fd, lock, saved, lines);
}

}  // namespace platform
