#include "wizard/pppd_report.h"

#include <string>

namespace wizard {

namespace {

bool starts_with(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }
bool contains(std::string_view s, std::string_view part) { return s.find(part) != std::string_view::npos; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// chat writes control characters as ^M; what it received is shown that way.
std::string_view strip_carets(std::string_view s) {
  while (s.size() >= 2 && s.substr(s.size() - 2) == "^M") s.remove_suffix(2);
  while (s.size() >= 2 && s.substr(0, 2) == "^M") s.remove_prefix(2);
  return trim(s);
}

ChatResult result_of(std::string_view word) {
  if (word == "BUSY") return ChatResult::Busy;
  if (word == "NO CARRIER") return ChatResult::NoCarrier;
  if (word == "NO DIALTONE" || word == "NO DIAL TONE") return ChatResult::NoDialtone;
  if (word == "NO ANSWER") return ChatResult::NoAnswer;
  if (word == "ERROR") return ChatResult::Error;
  return ChatResult::None;
}

// The first word after `marker` up to a blank or the end.
std::string word_after(std::string_view line, std::string_view marker) {
  std::size_t at = line.find(marker);
  if (at == std::string_view::npos) return {};
  std::string_view rest = trim(line.substr(at + marker.size()));
  return std::string(rest.substr(0, rest.find(' ')));
}

}  // namespace

bool PppdLog::Feed(std::string_view raw) {
  const std::string_view line = trim(raw);
  if (line.empty()) return false;
  const ConnectStep before_step = step_;
  const std::string before_result = result_, before_local = local_;

  // ---- chat's lines (chat -v -s) ----
  if (starts_with(line, "send (")) {
    std::string_view sent = line.substr(6);
    if (!sent.empty() && sent.back() == ')') sent.remove_suffix(1);
    sent = strip_carets(sent);
    if (starts_with(sent, "ATD")) {
      dialed_ = std::string(sent);
      step_ = ConnectStep::Dialing;
    }
    return step_ != before_step;
  }
  if (starts_with(line, "expect (")) {
    expecting_connect_ = contains(line, "CONNECT");
    return false;
  }
  if (starts_with(line, "Failed (")) {
    std::string_view reason = line.substr(8);
    if (!reason.empty() && reason.back() == ')') reason.remove_suffix(1);
    if (ChatResult r = result_of(reason); r != ChatResult::None) {
      chat_ = r;
      result_ = std::string(reason);
    }
    return result_ != before_result;
  }
  if (line == "alarm" || line == "Failed") {
    if (chat_ == ChatResult::None) chat_ = ChatResult::Timeout;
    return false;
  }
  if (line == "-- got it") {
    if (expecting_connect_) {
      chat_ = ChatResult::Connect;
      if (result_.empty()) result_ = "CONNECT";
      step_ = ConnectStep::ModemAnswered;
    }
    return step_ != before_step || result_ != before_result;
  }
  if (line == "-- failed") return false;
  // What chat received, shown as it came: a modem result word on a line of
  // its own ("CONNECT 33600^M", "BUSY^M").
  {
    const std::string_view received = strip_carets(line);
    if (starts_with(received, "CONNECT")) {
      result_ = std::string(received);
      std::string_view rest = trim(received.substr(7));
      std::size_t digits = 0;
      while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
      if (digits > 0) speed_ = std::string(rest.substr(0, digits));
      return result_ != before_result;
    }
    if (ChatResult r = result_of(received); r != ChatResult::None) {
      result_ = std::string(received);
      return result_ != before_result;
    }
  }

  // ---- pppd's own lines ----
  last_pppd_ = std::string(line);
  if (contains(line, "Serial connection established")) {
    if (step_ < ConnectStep::ModemAnswered) step_ = ConnectStep::ModemAnswered;
  } else if (starts_with(line, "Connect: ")) {
    interface_ = word_after(line, "Connect: ");
    step_ = ConnectStep::Authenticating;
  } else if (contains(line, "authentication failed") || starts_with(line, "Remote message: Authentication") ||
             contains(line, "Authentication failure")) {
    auth_refused_ = true;
  } else if (starts_with(line, "local  IP address") || starts_with(line, "local IP address")) {
    local_ = word_after(line, "address");
    step_ = ConnectStep::Connected;
  } else if (contains(line, "kernel support for PPP") || contains(line, "PPP discipline") ||
             contains(line, "attach to channel") || contains(line, "create new ppp unit") ||
             contains(line, "/dev/ppp")) {
    no_kernel_ = true;
  } else if (starts_with(line, "Can't open options file") || contains(line, "/peers/")) {
    entry_missing_ = entry_missing_ || contains(line, "No such file");
  } else if (contains(line, "is locked by pid")) {
    locked_by_ = word_after(line, "is locked by pid");
    device_busy_ = true;
  } else if (starts_with(line, "Failed to open")) {
    device_busy_ = device_busy_ || contains(line, "busy");
    device_denied_ = device_denied_ || contains(line, "Permission denied");
  } else if (contains(line, "Connection terminated") || contains(line, "Exit.")) {
    step_ = ConnectStep::Ended;
  }
  return step_ != before_step || local_ != before_local;
}

std::string StepText(const PppdLog& log, std::string_view number) {
  switch (log.step()) {
    case ConnectStep::Starting: return "Opening the modem...";
    case ConnectStep::Dialing: return "Dialing " + std::string(number) + "...";
    case ConnectStep::ModemAnswered: return "Modem: " + (log.modem_result().empty() ? "CONNECT" : log.modem_result());
    case ConnectStep::Authenticating: return "Verifying user name and password...";
    case ConnectStep::Connected: {
      std::string text = "Connected";
      if (!log.speed().empty()) text += " at " + log.speed() + " bps";
      if (!log.local_address().empty()) text += ", local address " + log.local_address();
      return text;
    }
    case ConnectStep::Ended: return "Disconnected.";
  }
  return {};
}

std::string FailureText(int status, const PppdLog& log, const FailureContext& c) {
  const std::string device = c.device.empty() ? "the modem's port" : c.device;
  const std::string user = c.user.empty() ? "$USER" : c.user;
  const std::string relogin = "; then log out and log in again, so that the new group counts.";
  const std::string busy =
      device + " is in use by another program" +
      (log.locked_by().empty() ? std::string() : " (process " + log.locked_by() + ")") +
      ". Close that program, or wait until it lets go of the modem, and dial again.";
  const std::string no_kernel =
      "This computer's kernel has no PPP support, so the connection could not start after the modem answered. "
      "Load it with: sudo modprobe ppp_async (or use a kernel built with PPP).";
  const std::string not_installed =
      "The entry \"" + c.entry + "\" is not installed for the system, so pppd cannot find it. Install it with: " +
      c.install_command;
  const std::string not_permitted =
      "You are not allowed to run pppd. Join the dip group with: sudo usermod -aG dip " + user + relogin;

  // What the log shows says more than some statuses do.
  if (log.no_kernel_support() && (status == kPppdFatalError || status == kPppdNoKernelSupport)) return no_kernel;
  if (log.auth_refused() && status != kPppdUserRequest) {
    return "The Veloran Network refused your user name or password. Check both (letters in the right case) and "
           "dial again.";
  }
  switch (status) {
    case kPppdMissing:
      return "pppd, the program that makes the connection, is not installed. Install it with: sudo apt install ppp";
    case kPppdNotPermitted:
    case kPppdNotRoot:
      return not_permitted;
    case kPppdOk:
      return "The Veloran Network ended the connection.";
    case kPppdFatalError:
      return "pppd stopped on an error" +
             (log.last_pppd_line().empty() ? std::string() : " (\"" + log.last_pppd_line() + "\")") +
             ". Dial again; if it happens again, restart the computer.";
    case kPppdOptionError:
      if (log.entry_missing()) return not_installed;
      return "pppd did not accept the settings of the entry \"" + c.entry + "\"" +
             (log.last_pppd_line().empty() ? std::string() : " (\"" + log.last_pppd_line() + "\")") +
             ". Install it again with: " + c.install_command;
    case kPppdNoKernelSupport:
      return no_kernel;
    case kPppdUserRequest:
      return "The connection was ended.";
    case kPppdLockFailed:
      return busy;
    case kPppdOpenFailed:
      if (log.device_denied()) {
        return "You are not allowed to use " + device + ". Join the dialout group with: sudo usermod -aG dialout " +
               user + relogin;
      }
      if (log.device_busy()) return busy;
      return device + " could not be opened. Check that the modem is plugged in and turned on, and that the entry "
                      "names the right port.";
    case kPppdConnectFailed:
      switch (log.chat()) {
        case ChatResult::Busy:
          return "The line is busy. Wait a few minutes and dial again, or choose another access number.";
        case ChatResult::NoDialtone:
          return "There is no dial tone. Check that the phone cord goes from the modem's LINE socket to the wall "
                 "jack, and that nobody is on the phone.";
        case ChatResult::NoCarrier:
        case ChatResult::NoAnswer:
          return "The number did not answer (no carrier). Check the access number and dial again; if it keeps "
                 "happening, choose another access number.";
        case ChatResult::Error:
          return "The modem refused a command (ERROR). Check the modem's settings and its initialisation string, "
                 "then dial again.";
        case ChatResult::Timeout:
          if (log.dial_sent()) {
            return "The number did not answer in time (no carrier). Check the access number and dial again.";
          }
          return "The modem does not answer. Check that it is turned on and connected to " + device +
                 ", and that this is the right port.";
        case ChatResult::None:
        case ChatResult::Connect:
          break;
      }
      return "The dialing script failed before the modem connected. Check the modem and the port " + device +
             ", then dial again.";
    case kPppdPtyCommandFailed:
      return "pppd could not run the command of its pty option. Check the entry's settings.";
    case kPppdNegotiationFailed:
      return "The modems connected, but the Veloran Network and this computer could not agree on a connection. "
             "Dial again; if it happens again, choose another access number.";
    case kPppdPeerAuthFailed:
      return "The computer that answered did not identify itself as the Veloran Network. Check the access number.";
    case kPppdIdleTimeout:
      return "The connection was ended because it was idle.";
    case kPppdConnectTime:
      return "The connection was ended because it reached its time limit.";
    case kPppdCallback:
      return "The Veloran Network will call this computer back; keep the modem on the line.";
    case kPppdPeerDead:
      return "The connection was lost: the Veloran Network stopped answering. Dial again.";
    case kPppdHangup:
      return "The modem hung up: the line was dropped. Check the phone cord and dial again.";
    case kPppdLoopback:
      return "The modem is talking to itself (a loopback was found on the line). Check the modem and dial again.";
    case kPppdInitFailed:
      return "The modem's initialisation script failed. Check the modem and the port " + device + ".";
    case kPppdAuthToPeerFailed:
      return "The Veloran Network refused your user name or password. Check both (letters in the right case) and "
             "dial again.";
    case kPppdTrafficLimit:
      return "The connection was ended because it reached its data limit.";
    case kPppdCallerIdAuthFailed:
      return "The Veloran Network refused the call because of the calling number. Check that caller ID is not "
             "blocked on this line.";
    default:
      return "pppd ended with status " + std::to_string(status) + ", which this program does not know. See man pppd, "
             "EXIT STATUS.";
  }
}

}  // namespace wizard
