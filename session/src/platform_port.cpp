#include "session/platform_port.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/loop/log.h"

namespace session {
namespace {

constexpr int kWriteTimeoutMs = 2000;

int ErrnoOf(platform::SerialError e) {
  using platform::SerialError;
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

class PlatformDevice final : public SerialDevice {
 public:
  explicit PlatformDevice(std::shared_ptr<platform::SerialPort> port) : port_(std::move(port)) {}
  ~PlatformDevice() override { Close(); }

  bool GetSettings(LineSettings& out) override {
    platform::LineSettings s;
    if (!Ok(port_->get_settings(s))) return false;
    out.baud = s.baud;
    out.byte_size = s.data_bits;
    out.parity = static_cast<Parity>(s.parity);
    out.stop_bits = s.stop_bits == platform::StopBits::Two ? 2 : 1;
    out.cts_flow = s.rts_cts;
    out.rts_enable = rts_;
    out.dtr_enable = dtr_;
    out.event_char = event_char_;
    return true;
  }

  bool SetSettings(const LineSettings& in) override {
    platform::LineSettings s;
    s.baud = in.baud;
    s.data_bits = in.byte_size;
    s.parity = static_cast<platform::Parity>(in.parity);
    s.stop_bits = in.stop_bits == 2 ? platform::StopBits::Two : platform::StopBits::One;
    // termios has one switch for both directions of hardware handshake.
    s.rts_cts = in.cts_flow;
    if (!Ok(port_->set_settings(s))) return false;
    if (in.rts_enable != rts_) port_->set_rts(in.rts_enable);
    if (in.dtr_enable != dtr_) port_->set_dtr(in.dtr_enable);
    rts_ = in.rts_enable;
    dtr_ = in.dtr_enable;
    event_char_ = in.event_char;
    port_->set_event_mask(mask_, event_char_);
    return true;
  }

  long Read(char* buffer, std::size_t length) override {
    std::size_t got = 0;
    if (!Ok(port_->read(buffer, length, got))) return -1;
    return static_cast<long>(got);
  }

  long Write(const char* data, std::size_t length) override {
    std::size_t done = 0;
    platform::SerialError e = port_->write(data, length, done, kWriteTimeoutMs);
    if (done > 0) return static_cast<long>(done);
    Ok(e == platform::SerialError::None ? platform::SerialError::Timeout : e);
    return -1;
  }

  void SetEventMask(std::uint32_t mask) override {
    mask_ = mask;
    port_->set_event_mask(mask, event_char_);
  }

  WaitResult WaitEvent(std::uint32_t& events) override {
    for (;;) {
      if (stop_.load()) return WaitResult::Interrupted;
      unsigned bits = 0;
      platform::SerialError e = port_->wait_event(bits, -1);
      if (stop_.load()) return WaitResult::Interrupted;
      switch (e) {
        case platform::SerialError::None:
          events = bits;
          return WaitResult::Events;
        case platform::SerialError::OperationAborted:
          continue;  // not ours: only Interrupt() stops the reader
        case platform::SerialError::DeviceNotConnected:
        case platform::SerialError::IoDevice:
        case platform::SerialError::InvalidHandle:
          return WaitResult::Gone;
        default:
          // A failed wait is retried, as the comm error is cleared; a short
          // pause keeps a persistent fault from spinning.
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
          continue;
      }
    }
  }

  void Interrupt() override {
    stop_.store(true);
    port_->interrupt_wait();
  }

  bool SetDtr(bool on) override {
    dtr_ = on;
    return Ok(port_->set_dtr(on));
  }

  bool HasModemLines() const override { return port_->has_modem_lines(); }

  bool CarrierDetect(bool& dcd) override {
    if (!port_->has_modem_lines()) return false;
    unsigned lines = 0;
    if (port_->get_modem_lines(lines) != platform::SerialError::None) return false;
    dcd = (lines & platform::kLineDcd) != 0;
    return true;
  }

  int LastError() const override { return error_; }

  int Close() override {
    if (closed_) return 0;
    closed_ = true;
    return ErrnoOf(port_->close());
  }

 private:
  bool Ok(platform::SerialError e) {
    if (e == platform::SerialError::None) return true;
    error_ = ErrnoOf(e);
    return false;
  }

  std::shared_ptr<platform::SerialPort> port_;
  std::atomic<bool> stop_{false};
  std::uint32_t mask_ = 0;
  char event_char_ = '\0';
  bool rts_ = true;
  bool dtr_ = true;
  bool closed_ = false;
  int error_ = 0;
};

}  // namespace

std::unique_ptr<SerialDevice> AdaptSerialPort(std::shared_ptr<platform::SerialPort> port) {
  return std::make_unique<PlatformDevice>(std::move(port));
}

ModemOptions PlatformModemOptions(platform::SerialOpenOptions open_options,
                                  std::function<void(std::string_view)> alert) {
  ModemOptions o;
  o.alert = std::move(alert);
  o.opener = [open_options](int port, int& error) -> std::unique_ptr<SerialDevice> {
    platform::SerialError e = platform::SerialError::None;
    auto p = platform::open_serial_port("COM" + std::to_string(port), open_options, e);
    if (!p || e != platform::SerialError::None) {
      error = ErrnoOf(e == platform::SerialError::None ? platform::SerialError::FileNotFound : e);
      platform::log_info("session", "COM" + std::to_string(port) + ": " + platform::serial_error_text(e));
      return nullptr;
    }
    return AdaptSerialPort(std::move(p));
  };
  return o;
}

}  // namespace session

