// In-process null-modem cable: two ends, each a SerialPort, bytes and modem
// lines wired across. Writes never wait: what does not fit in the far end's
// queue is refused at once (Timeout), so tests need no real time.
#include <atomic>
#include <mutex>

#include "platform/serial/serial_port.h"
#include "serial_queue.h"

namespace platform {

class VirtualEnd;

struct VirtualNullModem::Shared {
  std::mutex listener_mutex;
  std::function<void()> listeners[2];
  std::atomic<bool> unplugged{false};
  bool modem_lines = true;
  std::weak_ptr<VirtualEnd> ends[2];

  void notify(int which) {
    std::function<void()> f;
    {
      std::lock_guard lock(listener_mutex);
      f = listeners[which];
    }
    if (f) f();
  }
};

class VirtualEnd final : public serial_detail::QueuedSerialPort {
 public:
  VirtualEnd(std::shared_ptr<VirtualNullModem::Shared> shared, int which)
      : shared_(std::move(shared)), which_(which) {}

  std::string name() const override { return "virtual:" + std::to_string(which_); }
  bool is_open() const override { return !shared_->unplugged.load(); }

  SerialError get_settings(LineSettings& out) override {
    std::lock_guard lock(q_.mutex);
    out = settings_;
    return SerialError::None;
  }

  SerialError set_settings(const LineSettings& s) override {
    if (!line_settings_valid(s)) return SerialError::InvalidParameter;
    std::lock_guard lock(q_.mutex);
    if (refuse_settings_) return SerialError::InvalidParameter;
    settings_ = s;
    return SerialError::None;
  }

  bool has_modem_lines() const override { return shared_->modem_lines; }

  SerialError get_modem_lines(unsigned& lines) override {
    if (shared_->unplugged) return SerialError::DeviceNotConnected;
    if (!shared_->modem_lines) return SerialError::NotSupported;
    std::shared_ptr<VirtualEnd> far = other();
    unsigned far_out = far ? far->out_lines() : 0;
    std::lock_guard lock(q_.mutex);
    lines = out_;
    if (far_out & kLineDtr) lines |= kLineDsr | kLineDcd;
    if (far_out & kLineRts) lines |= kLineCts;
    return SerialError::None;
  }

  SerialError set_dtr(bool on) override { return set_out(kLineDtr, on, kEventDsr | kEventRlsd); }
  SerialError set_rts(bool on) override { return set_out(kLineRts, on, kEventCts); }

  SerialError write(const void* buffer, std::size_t size, std::size_t& done, int) override {
    done = 0;
    if (shared_->unplugged) return SerialError::DeviceNotConnected;
    std::shared_ptr<VirtualEnd> far = other();
    if (!far) return SerialError::DeviceNotConnected;
    done = far->receive(static_cast<const std::uint8_t*>(buffer), size);
    if (done > 0) shared_->notify(1 - which_);
    return done == size ? SerialError::None : SerialError::Timeout;
  }

  SerialError drain() override { return shared_->unplugged ? SerialError::DeviceNotConnected : SerialError::None; }

  SerialError purge(bool input, bool) override {
    if (shared_->unplugged) return SerialError::DeviceNotConnected;
    if (input) {
      std::lock_guard lock(q_.mutex);
      q_.rx.clear();
    }
    return SerialError::None;  // output never waits here, so there is none to drop
  }

  SerialError close() override {
    bool was_claimed;
    LineSettings saved;
    {
      std::lock_guard lock(q_.mutex);
      was_claimed = claimed_;
      claimed_ = false;
      saved = saved_;
    }
    if (!was_claimed) return SerialError::None;
    // As a tty with HUPCL: the lines drop when the last user closes.
    set_out(kLineDtr, false, kEventDsr | kEventRlsd);
    set_out(kLineRts, false, kEventCts);
    std::lock_guard lock(q_.mutex);
    settings_ = saved;
    q_.rx.clear();
    q_.wake();
    return SerialError::None;
  }

  // Exclusive use through open_serial_port(): false when already claimed.
  bool claim() {
    {
      std::lock_guard lock(q_.mutex);
      if (claimed_) return false;
      claimed_ = true;
      saved_ = settings_;
      q_.rx.clear();
    }
    // A tty raises DTR and RTS when it is opened.
    set_out(kLineDtr, true, kEventDsr | kEventRlsd);
    set_out(kLineRts, true, kEventCts);
    return true;
  }

  std::size_t receive(const std::uint8_t* data, std::size_t size) {
    std::lock_guard lock(q_.mutex);
    std::size_t n = q_.push_locked(data, size);
    if (n > 0) q_.wake();
    return n;
  }

  void far_lines_changed(unsigned events) {
    {
      std::lock_guard lock(q_.mutex);
      q_.events |= events;
      ++q_.arrivals;
      q_.wake();
    }
    shared_->notify(which_);
  }

  unsigned out_lines() {
    std::lock_guard lock(q_.mutex);
    return out_;
  }

  void refuse_settings(bool refuse) {
    std::lock_guard lock(q_.mutex);
    refuse_settings_ = refuse;
  }

  void wake_for_unplug() {
    std::lock_guard lock(q_.mutex);
    q_.wake();
  }

 private:
  // Reads and counts give the far side its turn first.
  SerialError turn() override {
    if (shared_->unplugged) return SerialError::DeviceNotConnected;
    shared_->notify(1 - which_);
    return SerialError::None;
  }

  // The far end's writes fill the queue.
  SerialError fill_locked() override { return SerialError::None; }

  SerialError wait_source_locked(WaitSource&) override {
    return shared_->unplugged ? SerialError::DeviceNotConnected : SerialError::None;
  }

  std::shared_ptr<VirtualEnd> other() { return shared_->ends[1 - which_].lock(); }

  SerialError set_out(unsigned bit, bool on, unsigned far_events) {
    if (shared_->unplugged) return SerialError::DeviceNotConnected;
    if (!shared_->modem_lines) return SerialError::None;  // as a pseudo-terminal: nothing to drive
    bool changed;
    {
      std::lock_guard lock(q_.mutex);
      unsigned before = out_;
      out_ = on ? (out_ | bit) : (out_ & ~bit);
      changed = before != out_;
    }
    if (changed) {
      if (auto far = other()) far->far_lines_changed(far_events);
    }
    return SerialError::None;
  }

  std::shared_ptr<VirtualNullModem::Shared> shared_;
  int which_;
  LineSettings settings_;  // guarded by q_.mutex, as are the members below
  LineSettings saved_;
  unsigned out_ = 0;
  bool claimed_ = false;
  bool refuse_settings_ = false;
};

VirtualNullModem::VirtualNullModem(bool modem_lines) : shared_(std::make_shared<Shared>()) {
  shared_->modem_lines = modem_lines;
  for (int i = 0; i < 2; ++i) {
    auto end = std::make_shared<VirtualEnd>(shared_, i);
    shared_->ends[i] = end;
    ends_[i] = std::move(end);
  }
}

VirtualNullModem::~VirtualNullModem() {
  // Listeners often hold their end; dropping them breaks that cycle.
  std::lock_guard lock(shared_->listener_mutex);
  shared_->listeners[0] = nullptr;
  shared_->listeners[1] = nullptr;
}

std::shared_ptr<SerialPort> VirtualNullModem::end(int which) { return ends_[which == 0 ? 0 : 1]; }

void VirtualNullModem::set_listener(int which, std::function<void()> listener) {
  std::lock_guard lock(shared_->listener_mutex);
  shared_->listeners[which == 0 ? 0 : 1] = std::move(listener);
}

void VirtualNullModem::refuse_settings(int which, bool refuse) {
  static_cast<VirtualEnd*>(ends_[which == 0 ? 0 : 1].get())->refuse_settings(refuse);
}

void VirtualNullModem::unplug() {
  shared_->unplugged = true;
  for (auto& e : ends_) static_cast<VirtualEnd*>(e.get())->wake_for_unplug();
}

std::shared_ptr<SerialPort> claim_virtual_end(const std::shared_ptr<SerialPort>& end, SerialError& error) {
  error = SerialError::None;
  auto* v = dynamic_cast<VirtualEnd*>(end.get());
  if (!v) {
    error = SerialError::FileNotFound;
    return nullptr;
  }
  if (!v->is_open()) {
    error = SerialError::DeviceNotConnected;
    return nullptr;
  }
  if (!v->claim()) {
    error = SerialError::Busy;
    return nullptr;
  }
  return end;
}

}  // namespace platform
