// Network serial ports: RFC 2217 over TCP behind the SerialPort interface.
//
// The far end (ser2net, a terminal server) holds the real port; we send it
// line settings, DTR/RTS and purges as COM-PORT-OPTION commands and get
// modem-state notifications back. Answers the far end owes come within the
// open options' network time-out or the port counts as gone, and a dropped
// connection is a vanished device: callers see the results a tty gives when
// its device goes away.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/loop/clock.h"
#include "platform/loop/log.h"
#include "platform/serial/rfc2217.h"
#include "platform/serial/serial_port.h"
#include "serial_queue.h"

namespace platform {
namespace {

using namespace rfc2217;
using serial_detail::EventQueue;
using SteadyClock = std::chrono::steady_clock;

// Longest single sleep of a wait that also watches the clock or other state.
constexpr int kWaitStepMs = 20;

int remaining_ms(SteadyClock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

std::uint8_t parity_code(Parity p) {
  switch (p) {
    case Parity::Odd: return kParityOdd;
    case Parity::Even: return kParityEven;
    case Parity::Mark: return kParityMark;
    case Parity::Space: return kParitySpace;
    default: return kParityNone;
  }
}

Parity parity_of(std::uint8_t code) {
  switch (code) {
    case kParityOdd: return Parity::Odd;
    case kParityEven: return Parity::Even;
    case kParityMark: return Parity::Mark;
    case kParitySpace: return Parity::Space;
    default: return Parity::None;
  }
}

std::uint8_t stop_code(StopBits s) {
  switch (s) {
    case StopBits::Two: return kStopTwo;
    case StopBits::OneHalf: return kStopOneHalf;
    default: return kStopOne;
  }
}

StopBits stop_of(std::uint8_t code) {
  switch (code) {
    case kStopTwo: return StopBits::Two;
    case kStopOneHalf: return StopBits::OneHalf;
    default: return StopBits::One;
  }
}

unsigned lines_of(std::uint8_t state) {
  unsigned lines = 0;
  if (state & kModemCd) lines |= kLineDcd;
  if (state & kModemRi) lines |= kLineRing;
  if (state & kModemDsr) lines |= kLineDsr;
  if (state & kModemCts) lines |= kLineCts;
  return lines;
}

// Connects to host:port within `timeout_ms`; -1 and errno on failure.
int connect_tcp(const std::string& host, std::uint16_t port, int timeout_ms, std::string& why) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    why = std::string("cannot find ") + host + ": " + ::gai_strerror(rc);
    errno = ENOENT;
    return -1;
  }
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
  int err = ECONNREFUSED;
  for (addrinfo* a = found; a; a = a->ai_next) {
    int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      err = errno;
      continue;
    }
    if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
      err = errno;
      ::close(fd);
      continue;
    }
    pollfd p{fd, POLLOUT, 0};
    int rc = ::poll(&p, 1, remaining_ms(deadline));
    int so_error = 0;
    socklen_t len = sizeof so_error;
    if (rc == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &so_error, &len) == 0 && so_error == 0) {
      int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      ::freeaddrinfo(found);
      return fd;
    }
    err = rc == 0 ? ETIMEDOUT : (so_error ? so_error : errno);
    ::close(fd);
  }
  ::freeaddrinfo(found);
  why = "cannot connect to " + host + ":" + service + ": " + std::strerror(err);
  errno = err;
  return -1;
}

// "COM2:" -> "COM2", so that log lines read "COM2: ...".
std::string log_label(std::string name) {
  if (!name.empty() && name.back() == ':') name.pop_back();
  return name;
}

class Rfc2217Port final : public serial_detail::QueuedSerialPort {
 public:
  Rfc2217Port(std::string name, int fd, int timeout_ms)
      : name_(std::move(name)), label_(log_label(name_)), fd_(fd), timeout_ms_(timeout_ms) {}
  ~Rfc2217Port() override { close(); }

  // Negotiation, the modem-state mask, and the settings found at open.
  SerialError start() {
    std::vector<std::uint8_t> hello;
    {
      std::lock_guard lock(q_.mutex);
      hello = codec_.start();
    }
    if (!send_all(hello)) return fail_open("the connection closed at once");
    auto accepted = [this] { return codec_.com_port_accepted() || codec_.com_port_refused(); };
    if (!wait_until(accepted)) return fail_open("no answer to the COM-PORT-OPTION request");
    {
      std::lock_guard lock(q_.mutex);
      if (codec_.com_port_refused()) {
        log_warn("serial", label_ + ": the far end does not speak RFC 2217 (COM-PORT-OPTION refused)");
        return SerialError::BadUnit;
      }
    }
    // Carrier, DSR, CTS and ring changes only; no line-state (error) reports.
    std::vector<std::uint8_t> setup = Rfc2217Codec::command(kSetModemStateMask, {0xFF});
    append(setup, Rfc2217Codec::command(kSetLineStateMask, {0}));
    // Value 0 asks for the current setting.
    append(setup, Rfc2217Codec::set_baud_rate(0));
    append(setup, Rfc2217Codec::command(kSetDataSize, {0}));
    append(setup, Rfc2217Codec::command(kSetParity, {0}));
    append(setup, Rfc2217Codec::command(kSetStopSize, {0}));
    append(setup, Rfc2217Codec::command(kSetControl, {kControlQueryFlow}));
    if (!send_all(setup)) return SerialError::FileNotFound;
    // ser2net answers the two masks with the current states rather than
    // with an echo of the mask, so only the settings are waited for.
    for (std::uint8_t c : {kSetBaudRate, kSetDataSize, kSetParity, kSetStopSize, kSetControl}) {
      if (!await_reply(c)) return fail_open("no answer to the settings query");
    }
    saved_ = settings_;
    saved_valid_ = true;
    return SerialError::None;
  }

  std::string name() const override { return name_; }
  bool is_open() const override { return fd_.load() >= 0; }

  SerialError get_settings(LineSettings& out) override {
    if (!is_open()) return SerialError::InvalidHandle;
    std::lock_guard lock(q_.mutex);
    out = settings_;
    return gone_ ? SerialError::DeviceNotConnected : SerialError::None;
  }

  SerialError set_settings(const LineSettings& s) override {
    if (!is_open()) return SerialError::InvalidHandle;
    if (!line_settings_valid(s)) return SerialError::InvalidParameter;
    if (SerialError e = send_settings(s); e != SerialError::None) return e;
    for (std::uint8_t c : {kSetBaudRate, kSetDataSize, kSetParity, kSetStopSize, kSetControl}) {
      if (!await_reply(c)) return lost("no answer to a settings command");
    }
    return SerialError::None;
  }

  bool has_modem_lines() const override {
    // Known only once the far end reports lines: a port server in front of
    // a pseudo-terminal reports none, and NO CARRIER then tells the loss.
    std::lock_guard lock(q_.mutex);
    return lines_reported_;
  }

  SerialError get_modem_lines(unsigned& lines) override {
    if (!is_open()) return SerialError::InvalidHandle;
    std::lock_guard lock(q_.mutex);
    if (!lines_reported_) return SerialError::NotSupported;
    lines = lines_of(modem_state_) | (dtr_ ? kLineDtr : 0u) | (rts_ ? kLineRts : 0u);
    return gone_ ? SerialError::DeviceNotConnected : SerialError::None;
  }

  SerialError set_dtr(bool on) override {
    dtr_ = on;
    return send_command(kSetControl, {on ? kControlDtrOn : kControlDtrOff});
  }
  SerialError set_rts(bool on) override {
    rts_ = on;
    return send_command(kSetControl, {on ? kControlRtsOn : kControlRtsOff});
  }

  SerialError write(const void* buffer, std::size_t size, std::size_t& done, int timeout_ms) override {
    done = 0;
    if (!is_open()) return SerialError::InvalidHandle;
    {
      std::lock_guard lock(q_.mutex);
      if (gone_) return SerialError::DeviceNotConnected;
    }
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    std::vector<std::uint8_t> escaped;
    Rfc2217Codec::escape(p, size, escaped);
    std::size_t sent = 0;
    SerialError e = send_until(escaped, sent, deadline);
    // Count the data bytes whose every escaped byte went out.
    for (std::size_t i = 0, wire = 0; i < size; ++i) {
      wire += p[i] == kIac ? 2 : 1;
      if (wire > sent) break;
      done = i + 1;
    }
    if (e == SerialError::Timeout && sent > 0 && sent < escaped.size()) {
      // Half an escape or half a chunk on the wire: the rest must follow,
      // or the far end would read the stream wrongly.
      std::size_t rest = sent;
      send_until(escaped, rest, SteadyClock::now() + std::chrono::milliseconds(timeout_ms_));
      if (rest < escaped.size()) return lost("the far end stopped taking data");
      done = size;
      return SerialError::None;
    }
    return e;
  }

  SerialError drain() override {
    // What we wrote is in the kernel's socket buffer already; the far end's
    // own transmit queue cannot be observed through RFC 2217.
    return is_open() ? SerialError::None : SerialError::InvalidHandle;
  }

  SerialError purge(bool input, bool output) override {
    if (!is_open()) return SerialError::InvalidHandle;
    if (!input && !output) return SerialError::None;
    if (input) {
      std::lock_guard lock(q_.mutex);
      fill_locked();
      q_.rx.clear();
    }
    return send_command(kPurgeData, {input && output ? kPurgeBoth : (input ? kPurgeReceive : kPurgeTransmit)});
  }

  SerialError close() override {
    int fd = fd_.load();
    if (fd < 0) return SerialError::None;
    bool gone;
    {
      std::lock_guard lock(q_.mutex);
      gone = gone_;
    }
    if (!gone) {
      // Dropping DTR hangs the modem up, as closing a tty does; then the
      // settings found at open go back. Nothing is waited for.
      std::vector<std::uint8_t> bye = Rfc2217Codec::command(kSetControl, {kControlDtrOff});
      if (saved_valid_) append(bye, settings_commands(saved_));
      std::size_t sent = 0;
      send_until(bye, sent, SteadyClock::now() + std::chrono::milliseconds(kWaitStepMs * 5));
    }
    std::lock_guard lock(q_.mutex);
    fd = fd_.exchange(-1);
    if (fd < 0) return SerialError::None;
    SerialError e = ::close(fd) == 0 ? SerialError::None : serial_error_from_errno(errno);
    q_.rx.clear();
    q_.wake();
    return e;
  }

 private:
  static void append(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& more) {
    out.insert(out.end(), more.begin(), more.end());
  }

  static std::vector<std::uint8_t> settings_commands(const LineSettings& s) {
    std::vector<std::uint8_t> out = Rfc2217Codec::set_baud_rate(s.baud);
    append(out, Rfc2217Codec::command(kSetDataSize, {static_cast<std::uint8_t>(s.data_bits)}));
    append(out, Rfc2217Codec::command(kSetParity, {parity_code(s.parity)}));
    append(out, Rfc2217Codec::command(kSetStopSize, {stop_code(s.stop_bits)}));
    append(out, Rfc2217Codec::command(kSetControl, {s.rts_cts ? kControlHardware : kControlNoFlow}));
    return out;
  }

  SerialError send_settings(const LineSettings& s) {
    {
      std::lock_guard lock(q_.mutex);
      if (gone_) return SerialError::DeviceNotConnected;
      // Answers to earlier commands must not count for these.
      codec_.replies().clear();
      settings_ = s;
    }
    return send_all(settings_commands(s)) ? SerialError::None : SerialError::DeviceNotConnected;
  }

  SerialError send_command(std::uint8_t command, std::vector<std::uint8_t> value) {
    if (!is_open()) return SerialError::InvalidHandle;
    {
      std::lock_guard lock(q_.mutex);
      if (gone_) return SerialError::DeviceNotConnected;
    }
    return send_all(Rfc2217Codec::command(command, value)) ? SerialError::None : SerialError::DeviceNotConnected;
  }

  SerialError fail_open(const std::string& why) {
    log_warn("serial", label_ + ": " + why);
    return SerialError::FileNotFound;
  }

  // A time-out or a dropped connection: the port is gone from now on.
  SerialError lost(const std::string& why) {
    std::lock_guard lock(q_.mutex);
    if (!gone_) log_warn("serial", label_ + ": " + why + "; the port counts as gone");
    gone_ = true;
    q_.wake();
    return SerialError::DeviceNotConnected;
  }

  bool send_all(const std::vector<std::uint8_t>& bytes) {
    std::size_t sent = 0;
    SerialError e = send_until(bytes, sent, SteadyClock::now() + std::chrono::milliseconds(timeout_ms_));
    if (e == SerialError::Timeout) lost("the far end stopped taking data");
    return e == SerialError::None;
  }

  // Sends from `sent` on until all went or `deadline` passed.
  SerialError send_until(const std::vector<std::uint8_t>& bytes, std::size_t& sent, SteadyClock::time_point deadline) {
    SerialError e = SerialError::None;
    {
      std::lock_guard send_lock(send_mutex_);
      int fd = fd_.load();
      if (fd < 0) return SerialError::InvalidHandle;
      while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
          sent += static_cast<std::size_t>(n);
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
          e = SerialError::DeviceNotConnected;
          break;
        }
        int left = remaining_ms(deadline);
        if (left == 0) return SerialError::Timeout;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, left < kWaitStepMs ? left : kWaitStepMs);
      }
    }
    // q_.mutex is taken before send_mutex_ elsewhere: never the other way.
    if (e == SerialError::DeviceNotConnected) {
      std::lock_guard lock(q_.mutex);
      mark_gone_locked("the connection dropped");
    }
    return e;
  }

  // Waits (receiving meanwhile) until `done()` holds, with q_.mutex held for
  // each look; false when the time-out passed or the connection dropped.
  // Time is the platform clock's, so tests give a silent far end a virtual
  // time-out: each step then looks at the socket briefly and moves time on.
  template <class Done>
  bool wait_until(Done done) {
    Clock& c = clock();
    const std::int64_t deadline = c.now_ms() + timeout_ms_;
    for (;;) {
      int fd;
      {
        std::lock_guard lock(q_.mutex);
        fill_locked();
        if (done()) return true;
        if (gone_) return false;
        fd = fd_.load();
      }
      const std::int64_t left = deadline - c.now_ms();
      if (left <= 0 || fd < 0) return false;
      pollfd p{fd, POLLIN, 0};
      if (c.is_virtual()) {
        if (::poll(&p, 1, 1) == 0) c.sleep_ms(left < kWaitStepMs ? left : kWaitStepMs);
      } else {
        ::poll(&p, 1, static_cast<int>(left < kWaitStepMs ? left : kWaitStepMs));
      }
    }
  }

  // Waits for the server's answer to `command`, taking it from the replies.
  bool await_reply(std::uint8_t command) {
    return wait_until([&] {
      auto& replies = codec_.replies();
      for (auto it = replies.begin(); it != replies.end(); ++it) {
        if (it->command != command) continue;
        take_reply_locked(*it);
        replies.erase(it);
        return true;
      }
      return false;
    });
  }

  // The far end's answer is what it really set: the settings follow it.
  void take_reply_locked(const ComPortReply& r) {
    if (r.value.empty()) return;
    switch (r.command) {
      case kSetBaudRate:
        if (r.value.size() >= 4) {
          std::uint32_t baud = (std::uint32_t{r.value[0]} << 24) | (std::uint32_t{r.value[1]} << 16) |
                               (std::uint32_t{r.value[2]} << 8) | r.value[3];
          if (baud > 0) settings_.baud = baud;
        }
        break;
      case kSetDataSize:
        if (r.value[0] >= 5 && r.value[0] <= 8) settings_.data_bits = r.value[0];
        break;
      case kSetParity:
        if (r.value[0] >= kParityNone && r.value[0] <= kParitySpace) settings_.parity = parity_of(r.value[0]);
        break;
      case kSetStopSize:
        if (r.value[0] >= kStopOne && r.value[0] <= kStopOneHalf) settings_.stop_bits = stop_of(r.value[0]);
        break;
      case kSetControl:
        if (r.value[0] == kControlNoFlow || r.value[0] == kControlXonXoff) settings_.rts_cts = false;
        if (r.value[0] == kControlHardware) settings_.rts_cts = true;
        break;
      default: break;
    }
  }

  void mark_gone_locked(const std::string& why) {
    if (!gone_) log_warn("serial", label_ + ": " + why);
    gone_ = true;
    q_.wake();
  }

  SerialError wait_source_locked(WaitSource& source) override {
    source.fd = fd_.load();
    if (source.fd < 0) return SerialError::InvalidHandle;
    return gone_ ? SerialError::DeviceNotConnected : SerialError::None;
  }

  // Takes what the socket holds through the codec into the queue, answers
  // negotiation, notes modem-line changes as events.
  SerialError fill_locked() override {
    int fd = fd_.load();
    if (fd < 0) return SerialError::InvalidHandle;
    if (gone_) return SerialError::DeviceNotConnected;
    std::uint8_t buf[4096];
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> answers;
    for (;;) {
      // Room for what a full buffer could carry: telnet never grows data.
      if (q_.rx.size() >= EventQueue::kCapacity) break;
      std::size_t room = EventQueue::kCapacity - q_.rx.size();
      ssize_t n = ::recv(fd, buf, room < sizeof buf ? room : sizeof buf, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) break;
      if (n <= 0) {
        mark_gone_locked(n == 0 ? "the far end closed the connection" : "the connection dropped");
        break;
      }
      data.clear();
      codec_.feed(buf, static_cast<std::size_t>(n), data, answers);
      if (!data.empty()) q_.push_locked(data.data(), data.size());
      note_modem_state_locked();
    }
    if (!answers.empty()) {
      // The send lock is never taken with q_.mutex wanted, so this order is safe.
      std::size_t sent = 0;
      int fd_now = fd_.load();
      std::lock_guard send_lock(send_mutex_);
      while (fd_now >= 0 && sent < answers.size()) {
        ssize_t n = ::send(fd_now, answers.data() + sent, answers.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0) break;  // a few bytes of negotiation; a full socket means trouble the next send sees
        sent += static_cast<std::size_t>(n);
      }
    }
    return gone_ && q_.rx.empty() ? SerialError::DeviceNotConnected : SerialError::None;
  }

  void note_modem_state_locked() {
    std::optional<std::uint8_t> state = codec_.modem_state();
    if (!state || codec_.modem_state_count() == modem_state_seen_) return;
    modem_state_seen_ = codec_.modem_state_count();
    const std::uint8_t before = lines_reported_ ? modem_state_ : 0;
    const std::uint8_t changed = static_cast<std::uint8_t>((before ^ *state) & 0xF0);
    if (!lines_reported_ && (*state & (kModemCd | kModemDsr | kModemCts))) lines_reported_ = true;
    if (lines_reported_) {
      if ((changed & kModemCd) || (*state & kModemDeltaCd)) q_.events |= kEventRlsd;
      if ((changed & kModemDsr) || (*state & kModemDeltaDsr)) q_.events |= kEventDsr;
      if ((changed & kModemCts) || (*state & kModemDeltaCts)) q_.events |= kEventCts;
      if ((changed & kModemRi) || (*state & kModemRiTrailingEdge)) q_.events |= kEventRing;
    }
    modem_state_ = *state;
  }

  std::string name_;
  std::string label_;  // for the log
  std::atomic<int> fd_;
  const int timeout_ms_;
  std::mutex send_mutex_;
  // Guarded by q_.mutex:
  Rfc2217Codec codec_;
  LineSettings settings_;
  LineSettings saved_;
  bool saved_valid_ = false;
  bool gone_ = false;
  bool lines_reported_ = false;
  std::uint8_t modem_state_ = 0;
  std::uint64_t modem_state_seen_ = 0;
  // Written by the caller's thread only.
  std::atomic<bool> dtr_{true};
  std::atomic<bool> rts_{true};
};

}  // namespace

std::shared_ptr<SerialPort> open_rfc2217_port(const std::string& name, const std::string& url,
                                              const SerialOpenOptions& options, SerialError& error) {
  error = SerialError::None;
  const std::string label = log_label(name);
  std::string host;
  std::uint16_t port = 0;
  if (!parse_rfc2217_url(url, host, port)) {
    log_warn("serial", label + ": \"" + url + "\" is not rfc2217://HOST:PORT");
    error = SerialError::FileNotFound;
    return nullptr;
  }
  std::string why;
  int fd = connect_tcp(host, port, options.network_timeout_ms, why);
  if (fd < 0) {
    log_info("serial", label + ": " + why);
    error = SerialError::FileNotFound;  // as a tty that is not there
    return nullptr;
  }
  auto p = std::make_shared<Rfc2217Port>(name, fd, options.network_timeout_ms);
  error = p->start();
  if (error != SerialError::None) {
    p->close();
    return nullptr;
  }
  log_info("serial", label + ": " + url + " is open");
  return p;
}

}  // namespace platform
