// A scripted Hayes modem on the far end of a virtual null-modem cable, for
// tests in virtual time. It answers synchronously whenever the library
// writes or reads (the cable's listener), so no threads are involved.
#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/loop/clock.h"
#include "platform/serial/serial_port.h"

namespace serlink_test {

class FakeModem {
 public:
  // Silent: a device that never answers (a port with nothing behind it).
  explicit FakeModem(int com_number, bool silent = false) : com_(com_number), silent_(silent) {
    line_ = cable_.end(1);
    platform::attach_virtual_port(com_, cable_.end(0));
    cable_.set_listener(1, [this] { turn(); });
  }
  ~FakeModem() { platform::attach_virtual_port(com_, nullptr); }

  std::string ati0 = "Generic";
  std::string ati3 = "Modem";
  std::set<std::string> refused;   // commands answered "ERROR"
  std::uint32_t max_baud = 1u << 30;  // answers nothing above this line speed
  bool echo = true;
  bool final_word = true;  // "OK" after an identity answer (ATI0, ATI3)
  std::int64_t guard_ms = 200;
  // Answer to a dial ("CONNECT 28800", "BUSY", ...) given the number; empty:
  // say nothing.
  std::function<std::string(const std::string&)> on_dial = [](const std::string&) { return "CONNECT 28800"; };
  // Bytes from the computer while on line; the host's reply is returned.
  std::function<std::string(const std::string&)> on_data;

  std::vector<std::string> commands;  // every command line received (no CR)
  std::string raw;                    // every byte received
  bool online = false;

  platform::VirtualNullModem& cable() { return cable_; }
  // Sends bytes to the computer now.
  void send(const std::string& bytes) {
    std::size_t done = 0;
    line_->write(bytes.data(), bytes.size(), done, 0);
  }
  bool sent(const std::string& command) const {
    for (const auto& c : commands) {
      if (c == command) return true;
    }
    return false;
  }

 private:
  void reply(const std::string& text) { send("\r\n" + text + "\r\n"); }

  void turn() {
    if (busy_) return;
    busy_ = true;
    char buf[512];
    std::size_t got = 0;
    while (line_->read(buf, sizeof buf, got) == platform::SerialError::None && got > 0) {
      raw.append(buf, got);
      if (!silent_) take(std::string(buf, got));
    }
    const std::int64_t now = platform::clock().now_ms();
    if (online && pluses_ == 3 && now - last_plus_ >= guard_ms) {
      online = false;
      pluses_ = 0;
      reply("OK");
    }
    busy_ = false;
  }

  void take(const std::string& bytes) {
    const std::int64_t now = platform::clock().now_ms();
    if (online) {
      for (char c : bytes) {
        if (c == '+' && (pluses_ > 0 || now - last_data_ >= guard_ms)) {
          ++pluses_;
          last_plus_ = now;
        } else {
          pluses_ = 0;
        }
      }
      last_data_ = now;
      if (pluses_ == 0 && on_data) {
        std::string answer = on_data(bytes);
        if (!answer.empty()) send(answer);
      }
      return;
    }
    for (char c : bytes) {
      if (c != '\r') {
        pending_ += c;
        continue;
      }
      std::string line = pending_;
      pending_.clear();
      // Bytes sent before a line ("+++" without an answer) are not part of it.
      std::size_t at = line.find_first_of("Aa");
      if (at == std::string::npos) continue;
      line = line.substr(at);
      commands.push_back(line);
      platform::LineSettings s;
      cable_.end(0)->get_settings(s);
      if (s.baud > max_baud) continue;  // garbled at this speed: no answer
      if (echo) send(line + "\r");
      execute(line);
    }
  }

  void execute(const std::string& line) {
    std::string body = line.substr(2);
    std::size_t start = body.find_first_not_of(' ');
    body = start == std::string::npos ? "" : body.substr(start);
    if (line.find(" E ") != std::string::npos || line.find("E0") != std::string::npos ||
        (line.size() >= 2 && line.substr(line.size() - 2) == " E")) {
      echo = false;
    }
    if (refused.count(body)) return reply("ERROR");
    if (body == "I0" || body == "I3") {
      reply(body == "I0" ? ati0 : ati3);
      if (final_word) reply("OK");
      return;
    }
    if (body.rfind("DT", 0) == 0 || body.rfind("DP", 0) == 0 || body.rfind("D", 0) == 0) {
      if (!body.empty() && body.back() == ';') return reply("OK");
      std::string answer = on_dial(body);
      if (answer.rfind("CONNECT", 0) == 0) online = true;
      if (!answer.empty()) reply(answer);
      return;
    }
    reply("OK");
  }

  int com_;
  bool silent_;
  platform::VirtualNullModem cable_;
  std::shared_ptr<platform::SerialPort> line_;
  std::string pending_;
  int pluses_ = 0;
  std::int64_t last_plus_ = 0;
  std::int64_t last_data_ = 0;
  bool busy_ = false;
};

}  // namespace serlink_test
