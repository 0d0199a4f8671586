// pppd's exit statuses and chat's results to the sentences of the Connect
// window, and the steps read from captured pppd logs.
#include "wizard/pppd_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wizard {
namespace {

const FailureContext kContext{"/dev/ttyACM0", "tarkel-veloran-account", "ann",
                              "sudo /usr/bin/joinwiz --root /home/ann/.local/share/joinwiz --install-dialup"};

PppdLog LogOf(const std::vector<std::string>& lines) {
  PppdLog log;
  for (const std::string& line : lines) log.Feed(line);
  return log;
}

// What chat -v -s printed through pppd in runs against linesim's modems,
// up to the dial.
const std::vector<std::string> kDialed = {
    "abort on (BUSY)", "abort on (NO CARRIER)", "abort on (NO DIALTONE)", "timeout set to 60 seconds",
    "send (ATZ^M)",    "expect (OK)",           "ATZ^M^M",                "OK",
    " -- got it",      "send (ATDT8005550147^M)", "expect (CONNECT)",     "^M",
    "ATDT8005550147^M^M"};

std::vector<std::string> Then(std::vector<std::string> lines) {
  std::vector<std::string> all = kDialed;
  all.insert(all.end(), lines.begin(), lines.end());
  return all;
}

struct Case {
  const char* name;
  int status;
  std::vector<std::string> log;
  const char* sentence_holds;
};

// Every status pppd documents (0 to 21), the two of our own, chat's results
// and the log lines that say more than a status does.
TEST(PppdReport, EveryStatusAndChatResultHasItsSentence) {
  const std::vector<Case> cases = {
      {"ok", kPppdOk, {}, "ended the connection"},
      {"fatal error", kPppdFatalError, {"Couldn't create pipe"}, "stopped on an error (\"Couldn't create pipe\")"},
      {"no PPP discipline", kPppdFatalError,
       Then({"CONNECT", " -- got it", "Serial connection established.",
             "Couldn't set tty to PPP discipline: Invalid argument"}),
       "kernel has no PPP support"},
      {"option error", kPppdOptionError, {"unrecognized option 'foo'"}, "did not accept the settings"},
      {"entry not installed", kPppdOptionError,
       {"Can't open options file /etc/ppp/peers/tarkel-veloran-account: No such file or directory"},
       "is not installed for the system, so pppd cannot find it. Install it with: sudo /usr/bin/joinwiz"},
      {"not root", kPppdNotRoot, {}, "sudo usermod -aG dip ann; then log out and log in again"},
      {"no kernel support", kPppdNoKernelSupport, {}, "sudo modprobe ppp_async"},
      {"user request", kPppdUserRequest, {"Terminating on signal 15."}, "The connection was ended."},
      {"lock failed", kPppdLockFailed, {"Device ttyACM0 is locked by pid 812"},
       "/dev/ttyACM0 is in use by another program (process 812)"},
      {"open failed, denied", kPppdOpenFailed, {"Failed to open /dev/ttyACM0: Permission denied"},
       "sudo usermod -aG dialout ann"},
      {"open failed, busy", kPppdOpenFailed, {"Failed to open /dev/ttyACM0: Device or resource busy"},
       "in use by another program"},
      {"open failed", kPppdOpenFailed, {"Failed to open /dev/ttyACM0: No such file or directory"},
       "could not be opened. Check that the modem is plugged in"},
      {"busy", kPppdConnectFailed, Then({"BUSY", " -- failed", "Failed (BUSY)", "Connect script failed"}),
       "The line is busy"},
      {"no carrier", kPppdConnectFailed,
       Then({"NO CARRIER", " -- failed", "Failed (NO CARRIER)", "Connect script failed"}), "(no carrier)"},
      {"no dialtone", kPppdConnectFailed,
       Then({"NO DIALTONE", " -- failed", "Failed (NO DIALTONE)", "Connect script failed"}),
       "There is no dial tone. Check that the phone cord"},
      {"no dial tone with blank", kPppdConnectFailed, Then({"Failed (NO DIAL TONE)", "Connect script failed"}),
       "There is no dial tone"},
      {"no answer", kPppdConnectFailed, Then({"Failed (NO ANSWER)", "Connect script failed"}), "(no carrier)"},
      {"modem error", kPppdConnectFailed,
       {"send (ATZ^M)", "expect (OK)", "ERROR", " -- failed", "Failed (ERROR)", "Connect script failed"},
       "The modem refused a command (ERROR)"},
      {"silent modem", kPppdConnectFailed, {"send (ATZ^M)", "expect (OK)", "alarm", "Failed", "Connect script failed"},
       "The modem does not answer. Check that it is turned on and connected to /dev/ttyACM0"},
      {"no answer in time", kPppdConnectFailed, Then({"alarm", "Failed", "Connect script failed"}),
       "did not answer in time"},
      {"script failed otherwise", kPppdConnectFailed, {"Connect script failed"}, "The dialing script failed"},
      {"pty command", kPppdPtyCommandFailed, {}, "pty option"},
      {"negotiation", kPppdNegotiationFailed, {}, "could not agree on a connection"},
      {"peer auth", kPppdPeerAuthFailed, {}, "did not identify itself"},
      {"idle", kPppdIdleTimeout, {}, "because it was idle"},
      {"connect time", kPppdConnectTime, {}, "reached its time limit"},
      {"callback", kPppdCallback, {}, "call this computer back"},
      {"peer dead", kPppdPeerDead, {}, "stopped answering"},
      {"hangup", kPppdHangup, {"Modem hangup"}, "The modem hung up"},
      {"loopback", kPppdLoopback, {}, "loopback"},
      {"init script", kPppdInitFailed, {}, "initialisation script failed"},
      {"auth to peer", kPppdAuthToPeerFailed, {}, "refused your user name or password"},
      {"auth refused in the log", kPppdNegotiationFailed, {"PAP authentication failed"},
       "refused your user name or password"},
      {"traffic limit", kPppdTrafficLimit, {}, "data limit"},
      {"caller id", kPppdCallerIdAuthFailed, {}, "calling number"},
      {"pppd missing", kPppdMissing, {}, "sudo apt install ppp"},
      {"pppd not permitted", kPppdNotPermitted, {}, "Join the dip group with: sudo usermod -aG dip ann"},
      {"unknown", 99, {}, "status 99, which this program does not know"},
  };
  for (const Case& c : cases) {
    const std::string text = FailureText(c.status, LogOf(c.log), kContext);
    EXPECT_NE(text.find(c.sentence_holds), std::string::npos) << c.name << ": " << text;
  }
  // No documented status falls through to the sentence for unknown ones.
  for (int status = kPppdOk; status <= kPppdLastKnown; ++status) {
    const std::string text = FailureText(status, PppdLog(), kContext);
    EXPECT_EQ(text.find("does not know"), std::string::npos) << status << ": " << text;
  }
}

TEST(PppdReport, StepsFollowTheLog) {
  PppdLog log;
  const std::string number = "8005550147";
  EXPECT_EQ(StepText(log, number), "Opening the modem...");
  for (const std::string& line : kDialed) log.Feed(line);
  EXPECT_EQ(log.step(), ConnectStep::Dialing);
  EXPECT_EQ(log.dialed(), "ATDT8005550147");
  EXPECT_EQ(StepText(log, number), "Dialing 8005550147...");
  // The OK before the dial is no modem answer to the call.
  EXPECT_EQ(log.chat(), ChatResult::None);

  EXPECT_TRUE(log.Feed("CONNECT 33600^M"));
  EXPECT_TRUE(log.Feed(" -- got it"));
  EXPECT_EQ(log.chat(), ChatResult::Connect);
  EXPECT_EQ(StepText(log, number), "Modem: CONNECT 33600");
  log.Feed("Serial connection established.");
  log.Feed("Using interface ppp0");
  EXPECT_TRUE(log.Feed("Connect: ppp0 <--> /dev/ttyACM0"));
  EXPECT_EQ(StepText(log, number), "Verifying user name and password...");
  log.Feed("PAP authentication succeeded");
  EXPECT_FALSE(log.auth_refused());
  EXPECT_TRUE(log.Feed("local  IP address 10.11.12.13"));
  log.Feed("remote IP address 10.0.0.1");
  EXPECT_EQ(StepText(log, number), "Connected at 33600 bps, local address 10.11.12.13");
  EXPECT_EQ(log.interface(), "ppp0");
}

// chat's ABORT lines at the start name every result word: they must not
// count as the modem's answer.
TEST(PppdReport, AbortSetupIsNoResult) {
  const PppdLog log = LogOf({"abort on (BUSY)", "abort on (NO CARRIER)", "Connect script failed"});
  EXPECT_EQ(log.chat(), ChatResult::None);
  EXPECT_TRUE(log.modem_result().empty());
}

}  // namespace
}  // namespace wizard
