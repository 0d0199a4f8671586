// Test doubles for the session: a COM port on the virtual null-modem cable
// whose far side is a scripted Hayes modem with a registration server behind
// it, a profile, and a UI that records what it is shown.
#pragma once

#include <chrono>
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
#include "platform/serial/serial_port.h"

namespace session::testing {

// One COM port of a test: a virtual null-modem cable whose near end the
// session opens and whose far end the test plays. What the host writes is
// handed to `peer` on the writing thread, inside the write.
class Line {
 public:
  // Without `modem_lines` the cable has none, as a pseudo-terminal.
  explicit Line(bool modem_lines = true)
      : cable(modem_lines), near(cable.end(0)), far(cable.end(1)) {
    cable.set_listener(1, [this] { Turn(); });
    // Runs on the reader thread each time its wait has looked and found
    // nothing: what had arrived by then has been handed on.
    near->set_wait_hook([this](std::uint64_t arrivals) {
      std::lock_guard g(m);
      delivered_ = arrivals;
      cv.notify_all();
    });
  }
  ~Line() {
    near->set_wait_hook(nullptr);
    cable.set_listener(1, nullptr);
  }
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  void Send(std::string_view bytes) {
    std::size_t done = 0;
    far->write(bytes.data(), bytes.size(), done, 0);
    if (done > 0) Sent();
  }
  // The far end's DTR is the host's carrier.
  void SetCarrier(bool on) {
    unsigned before = HostLines();
    far->set_dtr(on);
    if (HostLines() != before) Sent();
  }
  void Unplug() {
    cable.unplug();
    std::lock_guard g(m);
    unplugged_ = true;
    cv.notify_all();
  }
  void RefuseSettings() { cable.refuse_settings(0, true); }
  std::string Wrote() {
    std::lock_guard g(m);
    return host_wrote_;
  }
  // DTR as the far end sees it (its DSR).
  bool HostDtr() {
    unsigned lines = 0;
    far->get_modem_lines(lines);
    return (lines & platform::kLineDsr) != 0;
  }
  // RTS as the far end sees it (its CTS).
  bool HostRts() {
    unsigned lines = 0;
    far->get_modem_lines(lines);
    return (lines & platform::kLineCts) != 0;
  }
  platform::LineSettings Settings() {
    platform::LineSettings s;
    near->get_settings(s);
    return s;
  }
  // The settings of the line when the host dropped DTR (its hang-up).
  std::optional<platform::LineSettings> SettingsAtHangUp() {
    std::lock_guard g(m);
    return at_hang_up_;
  }
  // True when the host has let the port go: it opens again.
  bool Released() {
    platform::attach_virtual_port(kProbeCom, near);
    platform::SerialError e{};
    auto again = platform::open_serial_port("COM" + std::to_string(kProbeCom), {}, e);
    platform::attach_virtual_port(kProbeCom, nullptr);
    if (!again) return false;
    again->close();
    return true;
  }
  // Blocks until the reader thread has taken every event sent so far and is
  // waiting again: by then it has handed them on to its owner. False when
  // that does not happen within a generous bound (a fault, not a slow run).
  [[nodiscard]] bool WaitEventsDelivered() {
    std::unique_lock g(m);
    return cv.wait_for(g, std::chrono::seconds(30), [&] { return delivered_ >= sent_ || unplugged_; });
  }

  std::function<void(const std::string&)> peer;

 private:
  static constexpr int kProbeCom = 200;  // a COM number no test uses

  void Sent() {
    std::lock_guard g(m);
    ++sent_;
  }
  unsigned HostLines() {
    unsigned lines = 0;
    near->get_modem_lines(lines);
    return lines;
  }
  // The far end's turn: takes what the host wrote and notes its hang-up.
  void Turn() {
    unsigned lines = 0;
    if (far->get_modem_lines(lines) == platform::SerialError::None) {
      const bool dsr = (lines & platform::kLineDsr) != 0;
      if (had_dsr_ && !dsr) {
        platform::LineSettings s;
        near->get_settings(s);
        std::lock_guard g(m);
        at_hang_up_ = s;
      }
      had_dsr_ = dsr;
    }
    char buf[512];
    std::size_t got = 0;
    while (far->read(buf, sizeof buf, got) == platform::SerialError::None && got > 0) {
      std::string bytes(buf, got);
      {
        std::lock_guard g(m);
        host_wrote_ += bytes;
      }
      if (peer) peer(bytes);
    }
  }

 public:
  platform::VirtualNullModem cable;
  const std::shared_ptr<platform::SerialPort> near;
  const std::shared_ptr<platform::SerialPort> far;

 private:
  std::mutex m;
  std::condition_variable cv;
  std::uint64_t sent_ = 0;       // arrivals caused at the host's end
  std::uint64_t delivered_ = 0;  // arrivals its reader had seen when it last waited
  bool unplugged_ = false;
  bool had_dsr_ = false;
  std::string host_wrote_;
  std::optional<platform::LineSettings> at_hang_up_;
};

// Opens the lines set for COM ports; records every port asked for.
struct FakePorts {
  std::map<int, std::shared_ptr<Line>> wires;
  std::vector<int> asked;
  ModemOptions Options() {
    ModemOptions o;
    o.opener = [this](int port, platform::SerialError& error) -> std::shared_ptr<platform::SerialPort> {
      asked.push_back(port);
      auto it = wires.find(port);
      if (it == wires.end()) {
        error = platform::SerialError::FileNotFound;
        return nullptr;
      }
      // Opened by its COM name, as the wizard opens a port.
      platform::attach_virtual_port(port, it->second->near);
      auto p = platform::open_serial_port("COM" + std::to_string(port), {}, error);
      platform::attach_virtual_port(port, nullptr);
      return p;
    };
    return o;
  }
};

// A scripted Hayes modem and registration server behind a Line. Every
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

  // The far side of a Line.
  explicit FakeModem(std::shared_ptr<Line> wire) : wire_(std::move(wire)) {
    send_ = [w = wire_.get()](std::string_view b) { w->Send(b); };
    carrier_ = [w = wire_.get()](bool on) { w->SetCarrier(on); };
    wire_->peer = [this](const std::string& bytes) { OnHostBytes(bytes); };
  }
  // The far side of any line: how to send to the host and set its carrier;
  // the owner feeds what the host wrote to OnHostBytes.
  FakeModem(std::function<void(std::string_view)> send, std::function<void(bool)> carrier)
      : send_(std::move(send)), carrier_(std::move(carrier)) {}
  ~FakeModem() {
    if (wire_) wire_->peer = nullptr;
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

  std::shared_ptr<Line> wire_;
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
