// Test doubles for the session: an in-process serial device whose far side
// is a scripted Hayes modem with a registration server behind it, a profile,
// and a UI that records what it is shown.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/loop/clock.h"
#include "platform/loop/message_loop.h"
#include "session/reg_session.h"
#include "session/serial_device.h"

namespace session::testing {

// The far side of one fake port, shared with the device the host holds.
struct FakeWire {
  std::mutex m;
  std::condition_variable cv;
  std::string to_host;
  std::string host_wrote;
  std::uint32_t events = 0;
  std::uint32_t mask = 0;
  char event_char = '\0';
  bool interrupted = false;
  bool gone = false;
  bool reader_waiting = false;  // the reader is blocked in WaitEvent
  bool dcd = false;
  bool dtr = true;
  bool modem_lines = true;
  bool refuse_settings = false;
  LineSettings settings;
  std::vector<LineSettings> applied;
  int closes = 0;
  // Called on the writing thread with what the host wrote.
  std::function<void(const std::string&)> peer;

  void Send(std::string_view bytes) {
    std::lock_guard g(m);
    to_host += bytes;
    events |= EV_RXCHAR;
    if (event_char && bytes.find(event_char) != std::string_view::npos) events |= EV_RXFLAG;
    cv.notify_all();
  }
  void SetCarrier(bool on) {
    std::lock_guard g(m);
    if (dcd == on) return;
    dcd = on;
    if (modem_lines) events |= EV_RLSD;
    cv.notify_all();
  }
  void Unplug() {
    std::lock_guard g(m);
    gone = true;
    cv.notify_all();
  }
  std::string Wrote() {
    std::lock_guard g(m);
    return host_wrote;
  }
  // Blocks until the reader thread has taken every pending event and is
  // waiting again: by then it has handed them on to its owner. False when
  // that does not happen within a generous bound (a fault, not a slow run).
  [[nodiscard]] bool WaitEventsDelivered() {
    std::unique_lock g(m);
    return cv.wait_for(g, std::chrono::seconds(30), [&] { return ((events & mask) == 0 && reader_waiting) || interrupted || gone; });
  }
};

class FakeDevice final : public SerialDevice {
 public:
  explicit FakeDevice(std::shared_ptr<FakeWire> wire) : w_(std::move(wire)) {
    std::lock_guard g(w_->m);
    w_->interrupted = false;
  }
  bool GetSettings(LineSettings& out) override {
    std::lock_guard g(w_->m);
    out = w_->settings;
    return true;
  }
  bool SetSettings(const LineSettings& s) override {
    std::lock_guard g(w_->m);
    if (w_->refuse_settings) {
      error_ = EINVAL;
      return false;
    }
    w_->settings = s;
    w_->applied.push_back(s);
    w_->event_char = s.event_char;
    return true;
  }
  long Read(char* buffer, std::size_t length) override {
    std::lock_guard g(w_->m);
    if (w_->gone) {
      error_ = EIO;
      return -1;
    }
    std::size_t n = std::min(length, w_->to_host.size());
    std::copy_n(w_->to_host.data(), n, buffer);
    w_->to_host.erase(0, n);
    return static_cast<long>(n);
  }
  long Write(const char* data, std::size_t length) override {
    std::function<void(const std::string&)> peer;
    {
      std::lock_guard g(w_->m);
      if (w_->gone) {
        error_ = EIO;
        return -1;
      }
      w_->host_wrote.append(data, length);
      peer = w_->peer;
    }
    if (peer) peer(std::string(data, length));
    return static_cast<long>(length);
  }
  void SetEventMask(std::uint32_t mask) override {
    std::lock_guard g(w_->m);
    w_->mask = mask;
    w_->cv.notify_all();
  }
  WaitResult WaitEvent(std::uint32_t& events) override {
    std::unique_lock g(w_->m);
    w_->reader_waiting = true;
    w_->cv.notify_all();
    w_->cv.wait(g, [&] { return (w_->events & w_->mask) || w_->interrupted || w_->gone; });
    w_->reader_waiting = false;
    if (w_->interrupted) return WaitResult::Interrupted;
    if (w_->gone) return WaitResult::Gone;
    events = w_->events & w_->mask;
    w_->events &= ~w_->mask;
    w_->cv.notify_all();
    return WaitResult::Events;
  }
  void Interrupt() override {
    std::lock_guard g(w_->m);
    w_->interrupted = true;
    w_->cv.notify_all();
  }
  bool SetDtr(bool on) override {
    std::lock_guard g(w_->m);
    w_->dtr = on;
    return true;
  }
  bool HasModemLines() const override { return w_->modem_lines; }
  bool CarrierDetect(bool& dcd) override {
    std::lock_guard g(w_->m);
    if (!w_->modem_lines) return false;
    dcd = w_->dcd;
    return true;
  }
  int LastError() const override { return error_; }
  int Close() override {
    std::lock_guard g(w_->m);
    ++w_->closes;
    return 0;
  }

 private:
  std::shared_ptr<FakeWire> w_;
  int error_ = 0;
};

// Opens the wires set for COM ports; records every port asked for.
struct FakePorts {
  std::map<int, std::shared_ptr<FakeWire>> wires;
  std::vector<int> asked;
  ModemOptions Options() {
    ModemOptions o;
    o.opener = [this](int port, int& error) -> std::unique_ptr<SerialDevice> {
      asked.push_back(port);
      auto it = wires.find(port);
      if (it == wires.end()) {
        error = ENOENT;
        return nullptr;
      }
      return std::make_unique<FakeDevice>(it->second);
    };
    return o;
  }
};

// A scripted Hayes modem and registration server behind a FakeWire. Every
// reaction runs on the host's thread, inside its write, or on a thread timer
// of its message loop: deterministic in virtual time.
class FakeModem {
 public:
  struct Step {
    std::string send;  // bytes sent as they are
    int replies = 0;   // reply lines awaited before the next step
    std::function<void()> action = nullptr;  // runs after the bytes are sent
  };
  // What the dial gives: "CONNECT 28800", "BUSY", "NO DIALTONE", ... or ""
  // for no answer at all.
  std::string dial_result = "CONNECT 28800";
  bool silent = false;             // answers no command at all
  std::int64_t prompt_delay_ms = 0;  // from CONNECT to "user:"
  std::string prompt = "user:";
  std::vector<Step> script;
  std::vector<std::string> commands;        // AT commands received
  std::vector<std::string> server_received;  // lines after CONNECT
  bool connected = false;

  // The far side of a FakeWire.
  explicit FakeModem(std::shared_ptr<FakeWire> wire) : wire_(std::move(wire)) {
    send_ = [w = wire_.get()](std::string_view b) { w->Send(b); };
    carrier_ = [w = wire_.get()](bool on) { w->SetCarrier(on); };
    wire_->peer = [this](const std::string& bytes) { OnHostBytes(bytes); };
  }
  // The far side of any line: how to send to the host and set its carrier;
  // the owner feeds what the host wrote to OnHostBytes.
  FakeModem(std::function<void(std::string_view)> send, std::function<void(bool)> carrier)
      : send_(std::move(send)), carrier_(std::move(carrier)) {}
  ~FakeModem() {
    if (wire_) {
      std::lock_guard g(wire_->m);
      wire_->peer = nullptr;
    }
    for (auto t : timers_) platform::MessageLoop::current().kill_thread_timer(t);
  }

  // Runs `fn` `ms` of virtual time from now on the loop.
  void After(std::int64_t ms, std::function<void()> fn) {
    auto id = platform::MessageLoop::current().set_thread_timer(ms, [this, fn](platform::TimerId t) {
      platform::MessageLoop::current().kill_thread_timer(t);
      fn();
    });
    timers_.push_back(id);
  }

  // The far end hangs up: the modem reports it and drops carrier.
  void HangUpFarEnd() {
    connected = false;
    send_("\r\nNO CARRIER\r\n");
    carrier_(false);
  }

  void OnHostBytes(const std::string& bytes) {
    pending_ += bytes;
    std::size_t cr;
    while ((cr = pending_.find('\r')) != std::string::npos) {
      std::string line = pending_.substr(0, cr);
      pending_.erase(0, cr + 1);
      if (connected) {
        OnServerLine(line);
      } else {
        OnCommand(line);
      }
    }
  }

 private:

  void OnCommand(const std::string& line) {
    if (line.empty()) return;
    commands.push_back(line);
    if (silent) return;
    if (line.rfind("ATD", 0) == 0 || line.rfind("atd", 0) == 0) {
      if (dial_result.empty()) return;
      send_("\r\n" + dial_result + "\r\n");
      if (dial_result.rfind("CONNECT", 0) == 0) {
        connected = true;
        carrier_(true);
        if (prompt_delay_ms > 0) {
          After(prompt_delay_ms, [this] { if (connected) send_(prompt); });
        } else {
          send_(prompt);
        }
      }
      return;
    }
    send_("\r\nOK\r\n");
  }

  void OnServerLine(const std::string& line) {
    server_received.push_back(line);
    if (server_received.size() == 1) {
      RunSteps();  // the log-in name
      return;
    }
    if (awaiting_ > 0 && --awaiting_ == 0) RunSteps();
  }

  void RunSteps() {
    while (next_ < script.size()) {
      const Step& s = script[next_++];
      if (!s.send.empty()) send_(s.send);
      if (s.action) s.action();
      if (s.replies > 0) {
        awaiting_ = s.replies;
        return;
      }
    }
  }

  std::shared_ptr<FakeWire> wire_;
  std::function<void(std::string_view)> send_;
  std::function<void(bool)> carrier_;
  std::string pending_;
  std::size_t next_ = 0;
  int awaiting_ = 0;
  std::vector<platform::TimerId> timers_;
};

struct MapProfile final : ProfileStore {
  std::map<std::string, std::string> values;
  bool Get(std::string_view key, std::string& value) const override {
    auto it = values.find(std::string(key));
    if (it == values.end()) return false;
    value = it->second;
    return true;
  }
  void Set(std::string_view key, std::string_view value) override { values[std::string(key)] = std::string(value); }
};

struct RecordingUi final : SessionUi {
  std::vector<std::string> modem;
  std::vector<std::string> session;
  std::vector<std::string> boxes;
  std::vector<std::string> received;
  std::vector<std::string> sent;
  std::vector<std::int64_t> sent_at;
  bool visible = false;
  std::function<void()> on_box;  // runs inside the modal box
  void ShowModemText(std::string_view t, bool) override { modem.emplace_back(t); }
  void ShowSessionText(std::string_view t, bool) override { session.emplace_back(t); }
  void ShowReceivedLine(std::string_view l) override { received.emplace_back(l); }
  void ShowSentLine(std::string_view l) override {
    sent.emplace_back(l);
    sent_at.push_back(platform::clock().now_ms());
  }
  bool IsVisible() const override { return visible; }
  int cancel_disabled = 0;
  void DisableCancel() override { ++cancel_disabled; }
  void MessageBox(std::string_view t, MessageIcon) override {
    boxes.emplace_back(t);
    if (on_box) on_box();
  }
  std::string LastModem() const { return modem.empty() ? "" : modem.back(); }
};

// The page's prompts: record what they are asked and answer as told. A
// prompt is modal, so `during` runs inside it (lines keep flowing then).
struct FakePrompts final : SessionPrompts {
  std::vector<std::string> asked;  // "BILLING", "PLAN", "INPUT text", "ACCESS"
  bool billing_ok = true;
  std::optional<int> plan = 1;
  std::optional<std::string> input = std::string("newid");
  bool access_ok = true;
  std::string pop_area = "408", pop_number = "5551234";
  ProfileStore* profile = nullptr;  // where the access-number choice goes
  std::vector<std::string> plan_names, plan_descriptions, access_entries;
  bool new_account = false;
  std::vector<bool> focus_during;  // the session's focus flag inside each prompt
  CRegSessionDialog* session = nullptr;
  std::function<void()> during;

  void Inside() {
    if (session) focus_during.push_back(session->focusOnStatus);
    if (during) during();
  }
  bool RunBilling() override {
    asked.emplace_back("BILLING");
    Inside();
    return billing_ok;
  }
  std::optional<int> RunPricePlan(const std::vector<std::string>& names,
                                  const std::vector<std::string>& descriptions) override {
    asked.emplace_back("PLAN");
    plan_names = names;
    plan_descriptions = descriptions;
    Inside();
    return plan;
  }
  std::optional<std::string> RunUserInput(std::string_view text, bool is_new) override {
    asked.emplace_back("INPUT " + std::string(text));
    new_account = is_new;
    Inside();
    return input;
  }
  bool RunAccessNumber(const std::vector<std::string>& entries) override {
    asked.emplace_back("ACCESS");
    access_entries = entries;
    Inside();
    if (access_ok && profile) {
      profile->Set("POPAREACODE", pop_area);
      profile->Set("POPNUMBER", pop_number);
    }
    return access_ok;
  }
};

// The page: records the outcome messages and ends the running modal loop at
// the first one.
struct FakePage final : platform::MessageTarget {
  std::vector<unsigned> outcomes;
  platform::ModalState* modal = nullptr;
  std::function<void(unsigned)> on_outcome;
  platform::HWND hwnd = platform::MessageLoop::current().register_window(this);
  ~FakePage() override { platform::MessageLoop::current().unregister_window(hwnd); }
  platform::LRESULT handle_message(const platform::Message& m) override {
    if (m.message == WM_WIZ_RESULT_OK || m.message == WM_WIZ_RESULT_FAILED || m.message == WM_WIZ_SESSION_CLOSED) {
      outcomes.push_back(m.message);
      if (on_outcome) on_outcome(m.message);
      if (modal) platform::MessageLoop::current().end_modal(*modal, static_cast<int>(m.message));
    }
    return 0;
  }
  // Runs the loop until an outcome arrives or `limit_ms` of (virtual) time
  // passes; returns the outcome message or 0.
  unsigned RunUntilOutcome(std::int64_t limit_ms) {
    platform::ModalState state;
    modal = &state;
    auto& loop = platform::MessageLoop::current();
    auto guard = loop.set_thread_timer(limit_ms, [&](platform::TimerId) { loop.end_modal(state, 0); });
    int r = loop.run_modal(state);
    loop.kill_thread_timer(guard);
    modal = nullptr;
    return static_cast<unsigned>(r);
  }
  // Runs the loop for `ms` of (virtual) time.
  void RunFor(std::int64_t ms) {
    platform::ModalState state;
    auto& loop = platform::MessageLoop::current();
    auto t = loop.set_thread_timer(ms, [&](platform::TimerId) { loop.end_modal(state, 0); });
    loop.run_modal(state);
    loop.kill_thread_timer(t);
  }
};

}  // namespace session::testing
