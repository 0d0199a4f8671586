#include "session/imodem.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <system_error>

#include "platform/loop/clock.h"
#include "platform/loop/log.h"

namespace session {
namespace {

using platform::SerialError;

constexpr std::int64_t kWaitStepMs = 2;  // poll step of WaitFor
constexpr int kWriteTimeoutMs = 2000;

// The error codes iModem reports are errno values.
int ErrnoOf(SerialError e) {
  switch (e) {
    case SerialError::None: return 0;
    case SerialError::FileNotFound: return ENOENT;
    case SerialError::AccessDenied: return EACCES;
    case SerialError::InvalidHandle: return EBADF;
    case SerialError::NotEnoughMemory: return ENOMEM;
    case SerialError::BadUnit: return ENOTTY;
    case SerialError::NotSupported: return ENOTSUP;
    case SerialError::InvalidParameter: return EINVAL;
    case SerialError::Busy: return EBUSY;
    case SerialError::OperationAborted: return EINTR;
    case SerialError::DeviceNotConnected: return ENXIO;
    case SerialError::Timeout: return ETIMEDOUT;
    case SerialError::IoDevice:
    case SerialError::GenFailure:
    default: return EIO;
  }
}

// True for read and write errors that mean the device is gone for good.
bool IsPortGoneError(SerialError e) {
  switch (e) {
    case SerialError::FileNotFound:
    case SerialError::InvalidHandle:
    case SerialError::GenFailure:
    case SerialError::IoDevice:
    case SerialError::DeviceNotConnected: return true;
    default: return false;
  }
}

std::unique_ptr<char[]> AllocateBuffer(std::uint32_t& code, std::string& text) {
  try {
    auto buffer = std::make_unique<char[]>(kReceiveBufferSize + 1);
    return buffer;
  } catch (const std::bad_alloc&) {
    code = kErrorAllocation;
    text = "Memory allocation failed!";
    return nullptr;
  }
}

}  // namespace

iModem::iModem(ModemOptions options) : options_(std::move(options)) {
  buffer_ = AllocateBuffer(errorCode_, errorText_);
}

iModem::iModem(int port, long speed, ModemOptions options) : options_(std::move(options)) {
  buffer_ = AllocateBuffer(errorCode_, errorText_);
  if (!buffer_) return;
  if (!OpenPort(port)) return;
  bool skipped = false;
  if (!ApplyLineSettings(TableSpeed(speed), skipped)) {
    std::uint32_t code = errorCode_;
    Close();
    errorCode_ = code;
    return;
  }
  port_ = port;
  speed_ = TableSpeed(speed);
  Reset();
  Clear();
  SetEventMask(kEventMaskAll);
}

iModem::~iModem() { Close(); }

bool iModem::OpenPort(int port) {
  if (!buffer_) return false;
  SerialError error = SerialError::None;
  std::shared_ptr<platform::SerialPort> device;
  if (port >= 1 && port <= 9 && options_.opener) device = options_.opener(port, error);
  if (!device) {
    errorCode_ = static_cast<std::uint32_t>(ErrnoOf(error == SerialError::None ? SerialError::FileNotFound : error));
    platform::log_info("session", "COM" + std::to_string(port) + " not opened: " + std::strerror(static_cast<int>(errorCode_)));
    return false;
  }
  handle_ = std::move(device);
  eventChar_ = '\0';
  stopReader_ = false;
  {
    std::lock_guard guard(lock_);
    pendingEvents_ = 0;
    portLost_ = false;
  }
  try {
    thread_ = std::thread(&iModem::ReaderThread, this);
  } catch (const std::system_error&) {
    if (options_.alert) options_.alert("Thread not created!  :-(");
    platform::log_error("session", "reader thread not created");
    handle_->close();
    handle_.reset();
    return false;
  }
  savedDcbValid_ = handle_->get_settings(savedDcb_) == SerialError::None;
  isOpen_ = true;
  port_ = port;
  return true;
}

bool iModem::ApplyLineSettings(std::uint32_t speed, bool& skipped) {
  skipped = false;
  platform::LineSettings s;
  if (savedDcbValid_) {
    s = savedDcb_;
  } else if (handle_->get_settings(s) != SerialError::None) {
    skipped = true;
    return true;
  }
  // 8N1 with hardware handshake; RTS and DTR stay on as the open left them.
  s.baud = speed;
  s.data_bits = 8;
  s.parity = platform::Parity::None;
  s.stop_bits = platform::StopBits::One;
  s.rts_cts = true;
  if (SerialError e = handle_->set_settings(s); e != SerialError::None) {
    errorCode_ = static_cast<std::uint32_t>(ErrnoOf(e));
    return false;
  }
  eventChar_ = '\r';
  handle_->set_event_mask(eventMask_, eventChar_);
  return true;
}

void iModem::ReaderThread() {
  platform::SerialPort* port = handle_.get();
  for (;;) {
    if (stopReader_.load()) return;
    unsigned events = 0;
    SerialError e = port->wait_event(events, -1);
    if (stopReader_.load()) return;
    switch (e) {
      case SerialError::None: {
        std::lock_guard guard(lock_);
        pendingEvents_ |= events;
        continue;
      }
      case SerialError::OperationAborted:
        continue;  // not ours: only Close() stops the reader
      case SerialError::DeviceNotConnected:
      case SerialError::IoDevice:
      case SerialError::InvalidHandle: {
        std::lock_guard guard(lock_);
        portLost_ = true;  // nothing more will come; waiting again would spin
        return;
      }
      default:
        // A failed wait is retried, as the comm error is cleared; a short
        // pause keeps a persistent fault from spinning.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        continue;
    }
  }
}

std::uint32_t iModem::Close() {
  std::uint32_t result = 0;
  if (handle_) {
    if (savedDcbValid_) {
      handle_->set_settings(savedDcb_);
      savedDcbValid_ = false;
    }
    handle_->set_dtr(false);  // the modem hangs up when DTR drops
    stopReader_ = true;
    handle_->interrupt_wait();
    if (thread_.joinable()) thread_.join();
    result = static_cast<std::uint32_t>(ErrnoOf(handle_->close()));
    handle_.reset();
  }
  isOpen_ = false;
  return result;
}

void iModem::SetEventMask(std::uint32_t mask) {
  eventMask_ = mask;
  if (isOpen_) handle_->set_event_mask(mask, eventChar_);
}

void iModem::SetLineMode(bool line_mode) {
  std::uint32_t mask = eventMask_ | platform::kEventRxChar | platform::kEventRxFlag;
  mask &= line_mode ? ~static_cast<std::uint32_t>(platform::kEventRxChar)
                    : ~static_cast<std::uint32_t>(platform::kEventRxFlag);
  SetEventMask(mask);
}

bool iModem::HasModemLines() const { return handle_ && handle_->has_modem_lines(); }

bool iModem::PortLost() const {
  std::lock_guard guard(lock_);
  return portLost_;
}

std::uint32_t iModem::PendingEvents() const {
  std::lock_guard guard(lock_);
  return pendingEvents_;
}

bool iModem::TakeNoCarrierLine() {
  long end = LineEnd();
  if (end < 0 || !IsNoCarrierLine(std::string_view(buffer_.get(), static_cast<std::size_t>(end)))) return false;
  Consume(static_cast<std::size_t>(end) + 1);
  return true;
}

ModemEvent iModem::Poll() {
  ModemEvent idle = carrier_ ? EvIdleConnected : EvCarrierLost;
  std::uint32_t taken = 0;
  {
    std::lock_guard guard(lock_);
    taken = pendingEvents_ & eventMask_;
    pendingEvents_ &= ~eventMask_;
  }
  if (taken & platform::kEventRlsd) {
    // Read the line itself where the device has one: a late rise event must
    // not turn a carrier believed present into a loss.
    unsigned lines = 0;
    if (HasModemLines() && handle_->get_modem_lines(lines) == SerialError::None) {
      carrier_ = (lines & platform::kLineDcd) != 0;
    } else {
      carrier_ = !carrier_;
    }
    if (!carrier_) return EvCarrierLost;
  }
  Read();
  if (carrier_ && PortLost()) {
    carrier_ = false;
    platform::log_warn("session", "the serial port went away");
    return EvCarrierLost;
  }
  if (carrier_ && handle_ && !handle_->has_modem_lines() && TakeNoCarrierLine()) {
    carrier_ = false;
    return EvCarrierLost;
  }
  bool raw = (eventMask_ & platform::kEventRxChar) != 0;
  bool line = !raw && (eventMask_ & platform::kEventRxFlag) != 0;
  if (raw && count_ > 0) return EvRawData;
  if (line && (LineEnd() >= 0 || count_ == kReceiveBufferSize)) return EvLine;
  return idle;
}

std::size_t iModem::Read() {
  if (!isOpen_ || !buffer_ || count_ >= kReceiveBufferSize) return 0;
  std::size_t n = 0;
  if (SerialError e = handle_->read(buffer_.get() + count_, kReceiveBufferSize - count_, n); e != SerialError::None) {
    errorCode_ = static_cast<std::uint32_t>(ErrnoOf(e));
    if (IsPortGoneError(e)) {
      std::lock_guard guard(lock_);
      portLost_ = true;
    }
    return 0;
  }
  if (n == 0) return 0;
  count_ += n;
  if (skippingOverlong_) DropOverlongTail();
  return n;
}

void iModem::DropOverlongTail() {
  long end = LineEnd();
  if (end < 0) {
    count_ = 0;
    return;
  }
  Consume(static_cast<std::size_t>(end) + 1);
  skippingOverlong_ = false;
}

std::size_t iModem::Write(const char* data, std::size_t length) {
  if (!isOpen_ || length == 0) return 0;
  std::size_t done = 0;
  SerialError e = handle_->write(data, length, done, kWriteTimeoutMs);
  if (done > 0) return done;
  if (e == SerialError::None) e = SerialError::Timeout;
  errorCode_ = static_cast<std::uint32_t>(ErrnoOf(e));
  if (IsPortGoneError(e)) {
    std::lock_guard guard(lock_);
    portLost_ = true;
  }
  return 0;
}

std::size_t iModem::WriteText(std::string_view text) { return Write(text.data(), text.size()); }

std::size_t iModem::WriteLine(std::string_view text) {
  std::string line(text);
  line += '\r';
  return Write(line.data(), line.size());
}

std::size_t iModem::Reset() {
  Drain();
  Clear();
  std::size_t written = WriteText(kResetString);
  WaitFor("OK", 1000);
  Drain();
  Clear();
  return written;
}

void iModem::Drain() {
  while (isOpen_) {
    platform::clock().sleep_ms(1);
    if (Read() == 0) break;
  }
}

void iModem::Clear() {
  count_ = 0;
  skippingOverlong_ = false;
}

long iModem::LineEnd() const { return session::LineEnd(Buffered()); }

void iModem::ReadLine(std::string& line) {
  long end = LineEnd();
  if (end < 0) {
    if (count_ == kReceiveBufferSize) {
      // Part of a line is not a command: the whole line is dropped, up to
      // its end, and the empty result is handled as nothing.
      line.clear();
      count_ = 0;
      skippingOverlong_ = true;
      platform::log_warn("session", "received line longer than " + std::to_string(kReceiveBufferSize) +
                                        " bytes: dropped up to its end, not run");
      return;
    }
    line.clear();
    return;
  }
  line.assign(buffer_.get(), static_cast<std::size_t>(end));
  Consume(static_cast<std::size_t>(end) + 1);
}

std::string iModem::Peek(std::size_t length) const {
  return std::string(buffer_.get(), std::min(count_, length));
}

void iModem::Consume(std::size_t n) {
  if (n >= count_) {
    count_ = 0;
    return;
  }
  std::memmove(buffer_.get(), buffer_.get() + n, count_ - n);
  count_ -= n;
}

std::size_t iModem::Find(std::string_view text) const { return FindText(Buffered(), text); }

std::size_t iModem::WaitFor(std::string_view text, std::int64_t ms) {
  platform::Clock& clock = platform::clock();
  std::int64_t deadline = clock.now_ms() + ms;
  for (;;) {
    std::int64_t now = clock.now_ms();
    if (now >= deadline) break;
    if (Read() > 0) {
      std::size_t pos = Find(text);
      if (pos != 0) return pos;
    }
    if (!isOpen_) break;
    clock.sleep_ms(std::min(kWaitStepMs, deadline - now));
  }
  if (text == "OK") Read();  // the answer may have come with the last step
  return Find(text);
}

bool iModem::Probe(const Progress& port_progress, const Progress& speed_progress) {
  for (int port = 1; port <= 9; ++port) {
    if (port_progress) port_progress("COM" + std::to_string(port));
    if (!OpenPort(port)) continue;
    for (std::uint32_t speed : kSpeedTable) {
      if (speed_progress) speed_progress("Trying " + std::to_string(speed) + " bps");
      bool skipped = false;
      if (!ApplyLineSettings(speed, skipped) || skipped) continue;
      Reset();
      Clear();
      WriteText(kProbeInit);
      if (WaitFor("OK", 1000) != 0) {
        port_ = port;
        speed_ = speed;
        SetEventMask(kEventMaskAll);
        return true;
      }
    }
    Close();
  }
  return false;
}

ModemOptions PlatformModemOptions(platform::SerialOpenOptions open_options,
                                  std::function<void(std::string_view)> alert) {
  ModemOptions o;
  o.alert = std::move(alert);
  o.opener = [open_options](int port, SerialError& error) {
    const std::string name = "COM" + std::to_string(port);
    auto p = platform::open_serial_port(name, open_options, error);
    if (!p) platform::log_info("session", name + ": " + platform::serial_error_text(error));
    return p;
  };
  return o;
}

}  // namespace session
