#include "session/imodem.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

#include "platform/loop/clock.h"
#include "platform/loop/log.h"

namespace session {
namespace {

constexpr std::int64_t kWaitStepMs = 2;  // poll step of WaitFor

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
  int error = 0;
  std::unique_ptr<SerialDevice> device;
  if (port >= 1 && port <= 9 && options_.opener) {
    device = options_.opener(port, error);
  } else {
    error = ENOENT;
  }
  if (!device) {
    errorCode_ = static_cast<std::uint32_t>(error ? error : ENOENT);
    platform::log_info("session", "COM" + std::to_string(port) + " not opened: " + std::strerror(static_cast<int>(errorCode_)));
    return false;
  }
  handle_ = std::move(device);
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
    handle_->Close();
    handle_.reset();
    return false;
  }
  savedDcbValid_ = handle_->GetSettings(savedDcb_);
  isOpen_ = true;
  port_ = port;
  return true;
}

bool iModem::ApplyLineSettings(std::uint32_t speed, bool& skipped) {
  skipped = false;
  LineSettings s;
  if (savedDcbValid_) {
    s = savedDcb_;
  } else if (!handle_->GetSettings(s)) {
    skipped = true;
    return true;
  }
  s.baud = speed;
  s.byte_size = 8;
  s.parity = Parity::None;
  s.stop_bits = 1;
  s.cts_flow = true;
  s.rts_enable = true;
  s.event_char = '\r';
  if (!handle_->SetSettings(s)) {
    errorCode_ = static_cast<std::uint32_t>(handle_->LastError());
    if (errorCode_ == 0) errorCode_ = EIO;
    return false;
  }
  return true;
}

void iModem::ReaderThread() {
  SerialDevice* device = handle_.get();
  for (;;) {
    std::uint32_t events = 0;
    WaitResult r = device->WaitEvent(events);
    if (r == WaitResult::Interrupted) return;
    std::lock_guard guard(lock_);
    if (r == WaitResult::Gone) {
      portLost_ = true;  // nothing more will come; waiting again would spin
      return;
    }
    pendingEvents_ |= events;
  }
}

std::uint32_t iModem::Close() {
  std::uint32_t result = 0;
  if (handle_) {
    if (savedDcbValid_) {
      handle_->SetSettings(savedDcb_);
      savedDcbValid_ = false;
    }
    handle_->SetDtr(false);  // the modem hangs up when DTR drops
    handle_->Interrupt();
    if (thread_.joinable()) thread_.join();
    int rc = handle_->Close();
    if (rc != 0) result = static_cast<std::uint32_t>(rc);
    handle_.reset();
  }
  isOpen_ = false;
  return result;
}

void iModem::SetEventMask(std::uint32_t mask) {
  eventMask_ = mask;
  if (isOpen_) handle_->SetEventMask(mask);
}

void iModem::SetLineMode(bool line_mode) {
  std::uint32_t mask = eventMask_ | EV_RXCHAR | EV_RXFLAG;
  mask &= line_mode ? ~static_cast<std::uint32_t>(EV_RXCHAR) : ~static_cast<std::uint32_t>(EV_RXFLAG);
  SetEventMask(mask);
}

bool iModem::HasModemLines() const { return handle_ && handle_->HasModemLines(); }

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
  if (taken & EV_RLSD) {
    // Read the line itself where the device has one: a late rise event must
    // not turn a carrier believed present into a loss.
    bool dcd = false;
    if (handle_ && handle_->CarrierDetect(dcd)) {
      carrier_ = dcd;
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
  if (carrier_ && handle_ && !handle_->HasModemLines() && TakeNoCarrierLine()) {
    carrier_ = false;
    return EvCarrierLost;
  }
  bool raw = (eventMask_ & EV_RXCHAR) != 0;
  bool line = !raw && (eventMask_ & EV_RXFLAG) != 0;
  if (raw && count_ > 0) return EvRawData;
  if (line && (LineEnd() >= 0 || count_ == kReceiveBufferSize)) return EvLine;
  return idle;
}

std::size_t iModem::Read() {
  if (!isOpen_ || !buffer_ || count_ >= kReceiveBufferSize) return 0;
  long n = handle_->Read(buffer_.get() + count_, kReceiveBufferSize - count_);
  if (n <= 0) {
    int error = n < 0 ? handle_->LastError() : 0;
    if (error != 0) {
      errorCode_ = static_cast<std::uint32_t>(error);
      if (IsPortGoneError(error)) {
        std::lock_guard guard(lock_);
        portLost_ = true;
      }
    }
    return 0;
  }
  count_ += static_cast<std::size_t>(n);
  if (skippingOverlong_) DropOverlongTail();
  return static_cast<std::size_t>(n);
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
  long n = handle_->Write(data, length);
  if (n <= 0) {
    int error = handle_->LastError();
    errorCode_ = static_cast<std::uint32_t>(error ? error : EIO);
    if (IsPortGoneError(error)) {
      std::lock_guard guard(lock_);
      portLost_ = true;
    }
    return 0;
  }
  return static_cast<std::size_t>(n);
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

}  // namespace session
