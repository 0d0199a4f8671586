// What pppd and chat say, in plain words.
//
// `joinwiz --connect` runs pppd in the foreground (`nodetach`), which writes
// its log to standard output; chat runs with -s, so its lines ("send
// (ATDT...)", "abort on (BUSY)") come along on the same pipe. The pure
// functions here turn that log into steps for the status window and, once
// pppd has ended, its exit status plus what the log showed into one sentence
// with the next step. Nothing here touches a process or a port.
//
// Index: PppdLog (Feed, the facts seen), ChatResult, PppdExit, StepText,
// FailureContext, FailureText.
#pragma once

#include <string>
#include <string_view>

namespace wizard {

// pppd's exit statuses (man pppd, EXIT STATUS), and two of our own for a
// pppd that could not be started at all.
enum PppdExit : int {
  kPppdOk = 0,
  kPppdFatalError = 1,
  kPppdOptionError = 2,
  kPppdNotRoot = 3,
  kPppdNoKernelSupport = 4,
  kPppdUserRequest = 5,
  kPppdLockFailed = 6,
  kPppdOpenFailed = 7,
  kPppdConnectFailed = 8,
  kPppdPtyCommandFailed = 9,
  kPppdNegotiationFailed = 10,
  kPppdPeerAuthFailed = 11,
  kPppdIdleTimeout = 12,
  kPppdConnectTime = 13,
  kPppdCallback = 14,
  kPppdPeerDead = 15,
  kPppdHangup = 16,
  kPppdLoopback = 17,
  kPppdInitFailed = 18,
  kPppdAuthToPeerFailed = 19,
  kPppdTrafficLimit = 20,
  kPppdCallerIdAuthFailed = 21,
  kPppdLastKnown = kPppdCallerIdAuthFailed,
  // Not pppd's: the program is missing, or this user may not run it.
  kPppdMissing = -1,
  kPppdNotPermitted = -2,
};

// The last modem result chat saw, from its -v -s lines.
enum class ChatResult {
  None,        // chat said nothing of a result
  Connect,     // "CONNECT" matched
  Busy,        // abort on (BUSY)
  NoCarrier,   // abort on (NO CARRIER)
  NoDialtone,  // abort on (NO DIALTONE) or (NO DIAL TONE)
  NoAnswer,    // abort on (NO ANSWER)
  Error,       // abort on (ERROR): the modem refused a command
  Timeout,     // "alarm": nothing came in time
};

// Where the call is, as the status window shows it.
enum class ConnectStep { Starting, Dialing, ModemAnswered, Authenticating, Connected, Ended };

// Reads pppd's log line by line and keeps what the sentences need.
class PppdLog {
 public:
  // One line without its newline. True when it moved the call to a new step
  // or changed what the step shows (the status text should be redrawn).
  bool Feed(std::string_view line);

  ConnectStep step() const { return step_; }
  ChatResult chat() const { return chat_; }
  bool dial_sent() const { return !dialed_.empty(); }
  const std::string& dialed() const { return dialed_; }        // "ATDT8005550147"
  const std::string& modem_result() const { return result_; }  // "CONNECT 33600", "BUSY"
  const std::string& speed() const { return speed_; }          // from "CONNECT 33600", may be empty
  const std::string& local_address() const { return local_; }
  const std::string& interface() const { return interface_; }
  bool auth_refused() const { return auth_refused_; }
  bool no_kernel_support() const { return no_kernel_; }
  bool entry_missing() const { return entry_missing_; }
  bool device_busy() const { return device_busy_; }
  bool device_denied() const { return device_denied_; }
  const std::string& locked_by() const { return locked_by_; }  // pid from "is locked by pid N"
  // The last line pppd wrote that is not chat's, for statuses we cannot
  // explain further.
  const std::string& last_pppd_line() const { return last_pppd_; }

 private:
  ConnectStep step_ = ConnectStep::Starting;
  ChatResult chat_ = ChatResult::None;
  std::string dialed_, result_, speed_, local_, interface_, locked_by_, last_pppd_;
  bool auth_refused_ = false, no_kernel_ = false, entry_missing_ = false;
  bool device_busy_ = false, device_denied_ = false;
  bool expecting_connect_ = false;
};

// The status line for the step the log has reached: "Dialing 8005550147...",
// "Modem: CONNECT 33600", "Verifying user name and password...",
// "Connected at 33600 bps, local address 10.0.0.5".
std::string StepText(const PppdLog& log, std::string_view number);

// What the sentences name.
struct FailureContext {
  std::string device;           // the modem's tty
  std::string entry;            // the entry's file name (pon NAME)
  std::string user;             // this login, for the usermod commands
  std::string install_command;  // "sudo /usr/bin/joinwiz --install-dialup"
};

// One sentence (or two) in plain words with the next step, for pppd's exit
// status `status` (PppdExit, or any other number) and what `log` showed.
// kPppdUserRequest after the user's own Cancel is no failure: the caller
// does not ask then.
std::string FailureText(int status, const PppdLog& log, const FailureContext& context);

}  // namespace wizard
