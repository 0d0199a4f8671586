// Connection sign-on: registration, argument checks, alternating numbers,
// sign-on with ACCEPT: and REJECT:, adopted handles, a vanished device.
#include <cstring>

#include "fixture.h"

namespace serlink_test {
namespace {

using ConnectTest = SerlinkTest;

struct Report {
  std::int32_t state;
  std::string detail;
};
std::vector<Report> g_reports;
std::int32_t record_state(std::int32_t state, const char* detail) {
  g_reports.push_back({state, detail ? detail : ""});
  return 0;
}
std::vector<std::int32_t> states() {
  std::vector<std::int32_t> out;
  for (const auto& r : g_reports) out.push_back(r.state);
  return out;
}
bool is_final(std::int32_t s) { return s <= SERLINK_CONNECT_COMPLETE; }

// Pumps the thread's loop in virtual time until a final state is reported
// (or `limit_ms` of virtual time passes).
void run_until_final(std::int64_t limit_ms = 600000) {
  auto& loop = platform::MessageLoop::current();
  platform::ModalState until;
  const std::int64_t start = platform::clock().now_ms();
  auto t = loop.set_thread_timer(100, [&](platform::TimerId) {
    if ((!g_reports.empty() && is_final(g_reports.back().state)) || platform::clock().now_ms() - start > limit_ms) {
      loop.end_modal(until, 0);
    }
  });
  loop.run_modal(until);
  loop.kill_thread_timer(t);
}

const char* kCommands[2] = {"&F", "&K3"};

ConnectDialSetup dial_setup(const char* primary, const char* secondary, std::int32_t retries) {
  ConnectDialSetup s{};
  s.port = 0;
  s.speed = 9;
  s.data_bits = 8;
  s.commands = kCommands;
  s.primary = {SERLINK_DIAL_TONE, 30, retries, primary};
  s.secondary = {SERLINK_DIAL_TONE, 30, retries, secondary};
  return s;
}

TEST_F(ConnectTest, RegistrationAndArgumentChecks) {
  ConnectShutdown(nullptr);
  ConnectRequest r{SERLINK_TYPE_DIAL_SIGNON, nullptr, "user", nullptr};
  EXPECT_EQ(ConnectProcess(&r), SERLINK_CONNECT_E_NOT_REGISTERED);
  EXPECT_EQ(ConnectRegistration(), SERLINK_OK);
  EXPECT_EQ(ConnectRegistration(), SERLINK_CONNECT_E_REGISTERED);
  std::string s32(32, 'u'), s31(31, 'u');
  r.signon = s32.c_str();
  EXPECT_EQ(ConnectProcess(&r), SERLINK_CONNECT_E_SIGNON_TEXT);
  r.signon = nullptr;
  EXPECT_EQ(ConnectProcess(&r), SERLINK_CONNECT_E_SIGNON_TEXT);
  r.signon = s31.c_str();
  r.type = SERLINK_TYPE_REFUSED_1;
  EXPECT_EQ(ConnectProcess(&r), SERLINK_CONNECT_E_PORT) << "31 characters pass the check";
  r.type = SERLINK_TYPE_REFUSED_3;
  EXPECT_EQ(ConnectProcess(&r), SERLINK_CONNECT_E_PORT);
  r.type = SERLINK_TYPE_ADOPT + 1;
  EXPECT_EQ(ConnectProcess(&r), SERLINK_CONNECT_E_TYPE);
  EXPECT_EQ(ConnectSetParm(SERLINK_PARM_NONE, nullptr), SERLINK_OK);
  EXPECT_EQ(ConnectSetParm(SERLINK_PARM_TRACE + 1, nullptr), SERLINK_CONNECT_E_SELECTOR);
  EXPECT_EQ(ConnectShutdown(nullptr), SERLINK_OK);
  EXPECT_EQ(ConnectRegistration(), SERLINK_OK) << "shut down: registration again";
}

TEST_F(ConnectTest, BusyNumbersAlternateUntilNoneIsLeft) {
  FakeModem com1(1);
  std::vector<std::string> dialed;
  com1.on_dial = [&](const std::string& body) {
    dialed.push_back(body);
    return std::string("BUSY");
  };
  ASSERT_EQ(ConnectRegistration(), SERLINK_OK);
  ConnectDialSetup setup = dial_setup("5550001", "5550002", 1);
  g_reports.clear();
  ConnectRequest r{SERLINK_TYPE_DIAL, &setup, nullptr, record_state};
  ASSERT_EQ(ConnectProcess(&r), SERLINK_CONNECT_WAITING);
  run_until_final();
  EXPECT_EQ(dialed, (std::vector<std::string>{"DT 5550001", "DT 5550002", "DT 5550001", "DT 5550002"}));
  // Each look at the modem's answer is first an abort check with state
  // SERLINK_CONNECT_WAITING.
  constexpr std::int32_t kWaiting = SERLINK_CONNECT_WAITING;
  constexpr std::int32_t kBusy = SERLINK_CONNECT_E_BUSY;
  EXPECT_EQ(states(), (std::vector<std::int32_t>{SERLINK_CONNECT_OPENING, SERLINK_CONNECT_INITIALIZING,
                                                 SERLINK_CONNECT_DIALING_PRIMARY, kWaiting, kWaiting, kBusy,
                                                 SERLINK_CONNECT_DIALING_SECONDARY, kWaiting, kWaiting, kBusy,
                                                 SERLINK_CONNECT_DIALING_PRIMARY, kWaiting, kWaiting, kBusy,
                                                 SERLINK_CONNECT_DIALING_SECONDARY, kWaiting, kWaiting, kBusy,
                                                 SERLINK_CONNECT_E_NO_NUMBER}));
  EXPECT_FALSE(serlink::channel_open()) << "hung up and closed";
  EXPECT_EQ(traces().size() > 0 ? traces()[0] : "", SerlinkVersion());
  EXPECT_EQ(traces()[1], "Port ID: COM1: @ 57600 bps");
}

TEST_F(ConnectTest, SignOnAnswersThePromptAndIsAccepted) {
  FakeModem com1(1);
  std::string received;
  com1.on_data = [&](const std::string& bytes) -> std::string {
    received += bytes;
    if (bytes == "\r") return "\r\nWelcome to the host\r\nSign-on:";
    if (received.find("guest\r") != std::string::npos) return "\r\nACCEPT: hello guest\r\n";
    return "";
  };
  ASSERT_EQ(ConnectRegistration(), SERLINK_OK);
  ConnectDialSetup setup = dial_setup("5550001", nullptr, 0);
  g_reports.clear();
  ConnectRequest r{SERLINK_TYPE_DIAL_SIGNON, &setup, "guest", record_state};
  ASSERT_EQ(ConnectProcess(&r), SERLINK_CONNECT_WAITING);
  run_until_final();
  ASSERT_FALSE(g_reports.empty());
  EXPECT_EQ(g_reports.back().state, SERLINK_CONNECT_COMPLETE);
  EXPECT_NE(std::find(states().begin(), states().end(), SERLINK_CONNECT_CONNECTED), states().end());
  EXPECT_NE(received.find("guest\r"), std::string::npos);
  bool traced_accept = false;
  for (const auto& t : traces()) traced_accept |= t.rfind("Recv: ", 0) == 0 && t.find("ACCEPT: hello guest\r\n") != std::string::npos;
  EXPECT_TRUE(traced_accept);
  EXPECT_TRUE(serlink::channel_open()) << "the port stays open after success";
  EXPECT_EQ(ConnectShutdown(nullptr), SERLINK_OK);
  EXPECT_FALSE(serlink::channel_open());
}

TEST_F(ConnectTest, RejectReportsTheLineFromItsColon) {
  FakeModem com1(1);
  com1.on_data = [&](const std::string& bytes) -> std::string {
    if (bytes == "\r") return "Sign-on:";
    return "REJECT: unknown user\nmore";
  };
  ASSERT_EQ(ConnectRegistration(), SERLINK_OK);
  ConnectDialSetup setup = dial_setup("5550001", nullptr, 0);
  g_reports.clear();
  ConnectRequest r{SERLINK_TYPE_DIAL_SIGNON, &setup, "nobody", record_state};
  ASSERT_EQ(ConnectProcess(&r), SERLINK_CONNECT_WAITING);
  run_until_final();
  ASSERT_FALSE(g_reports.empty());
  EXPECT_EQ(g_reports.back().state, SERLINK_CONNECT_E_REJECTED);
  EXPECT_EQ(g_reports.back().detail, ": unknown user\n");
  EXPECT_FALSE(serlink::channel_open());
}

TEST_F(ConnectTest, SilentHostAfterThePromptTimesOutAndRedials) {
  FakeModem com1(1);
  int dials = 0;
  com1.on_dial = [&](const std::string&) {
    ++dials;
    return std::string("CONNECT 9600");
  };
  com1.on_data = [&](const std::string& bytes) -> std::string { return bytes == "\r" ? "Sign-on:" : ""; };
  ASSERT_EQ(ConnectRegistration(), SERLINK_OK);
  ConnectDialSetup setup = dial_setup("5550001", nullptr, 0);
  g_reports.clear();
  ConnectRequest r{SERLINK_TYPE_DIAL_SIGNON, &setup, "guest", record_state};
  ASSERT_EQ(ConnectProcess(&r), SERLINK_CONNECT_WAITING);
  run_until_final();
  auto s = states();
  EXPECT_NE(std::find(s.begin(), s.end(), SERLINK_CONNECT_E_TIMEOUT), s.end()) << "no acceptance in time";
  EXPECT_EQ(s.back(), SERLINK_CONNECT_E_NO_NUMBER) << "one number, no retries: nothing left to dial";
  EXPECT_EQ(dials, 1);
}

TEST_F(ConnectTest, AdoptedHandleWithoutSignOnIsCompleteAtOnce) {
  platform::VirtualNullModem cable;
  std::int32_t handle = platform::register_serial_handle(cable.end(0));
  ConnectAdoptSetup adopt{handle};
  ASSERT_EQ(ConnectRegistration(), SERLINK_OK);
  ConnectRequest r{SERLINK_TYPE_ADOPT, &adopt, nullptr, record_state};
  EXPECT_EQ(ConnectProcess(&r), SERLINK_CONNECT_COMPLETE);
  EXPECT_TRUE(serlink::channel_open());
  EXPECT_EQ(ConnectShutdown(nullptr), SERLINK_OK);
  EXPECT_FALSE(serlink::channel_open());
  EXPECT_TRUE(cable.end(0)->is_open()) << "the handle belongs to the caller";
  platform::release_serial_handle(handle);
}

// The trace names the speed the channel programs, for every code of the
// speed table (4800, 14400 and 38400 have two codes or an odd one).
TEST_F(ConnectTest, PortTraceNamesTheSpeedOfEveryCode) {
  const std::pair<std::int32_t, const char*> table[] = {{2, "2400"},  {3, "4800"},   {4, "4800"},   {5, "9600"},
                                                        {6, "14400"}, {7, "19200"},  {8, "38400"},  {9, "57600"},
                                                        {10, "115200"}, {13, "38400"}, {1, "1200"}, {14, "1200"}};
  FakeModem silent(1, true);
  for (const auto& [code, text] : table) {
    ASSERT_EQ(ConnectRegistration(), SERLINK_OK);
    ConnectDialSetup setup = dial_setup("5550001", nullptr, 0);
    setup.speed = code;
    traces().clear();
    ConnectSetParm(SERLINK_PARM_TRACE, record_trace);
    ConnectRequest r{SERLINK_TYPE_DIAL, &setup, nullptr, record_state};
    EXPECT_EQ(ConnectProcess(&r), SERLINK_CONNECT_E_NO_MODEM);
    ASSERT_GE(traces().size(), 2u);
    EXPECT_EQ(traces()[1], std::string("Port ID: COM1: @ ") + text + " bps") << "speed code " << code;
    ConnectShutdown(nullptr);
  }
}

TEST_F(ConnectTest, NoModemOnThePort) {
  FakeModem silent(1, true);
  ASSERT_EQ(ConnectRegistration(), SERLINK_OK);
  ConnectDialSetup setup = dial_setup("5550001", nullptr, 0);
  g_reports.clear();
  ConnectRequest r{SERLINK_TYPE_DIAL, &setup, nullptr, record_state};
  EXPECT_EQ(ConnectProcess(&r), SERLINK_CONNECT_E_NO_MODEM);
  EXPECT_FALSE(serlink::channel_open());
  EXPECT_EQ(ConnectSetParm(SERLINK_PARM_TRACE, nullptr), SERLINK_OK);
}

TEST_F(ConnectTest, DeviceThatVanishesWhileDialingEndsWithAnError) {
  FakeModem com1(1);
  com1.on_dial = [&](const std::string&) { return std::string(); };  // rings for ever
  ASSERT_EQ(ConnectRegistration(), SERLINK_OK);
  ConnectDialSetup setup = dial_setup("5550001", nullptr, 0);
  g_reports.clear();
  ConnectRequest r{SERLINK_TYPE_DIAL, &setup, nullptr, record_state};
  ASSERT_EQ(ConnectProcess(&r), SERLINK_CONNECT_WAITING);
  com1.send("garbage that wakes the poll");
  com1.cable().unplug();
  run_until_final(120000);
  ASSERT_FALSE(g_reports.empty());
  EXPECT_LT(g_reports.back().state, SERLINK_CONNECT_COMPLETE);
}

}  // namespace
}  // namespace serlink_test
