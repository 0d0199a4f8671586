#include "session/reg_session.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fakes.h"
#include "platform/loop/clock.h"

namespace session {
namespace {

using namespace std::string_literals;
using testing::FakeModem;
using testing::FakePage;
using testing::FakePorts;
using testing::Line;
using testing::MapProfile;
using testing::RecordingUi;
using Step = FakeModem::Step;
using Strings = std::vector<std::string>;

constexpr std::int64_t kLimit = 10 * 60 * 1000;  // virtual time a test may run

class SessionTest : public ::testing::Test {
 protected:
  platform::ScopedVirtualClock vclock;
  FakePorts ports;
  std::shared_ptr<Line> wire = std::make_shared<Line>();
  FakeModem modem{wire};
  MapProfile profile;
  RecordingUi ui;
  FakePage page;
  std::unique_ptr<CRegSessionDialog> session;

  void SetUp() override {
    ports.wires[2] = wire;
    profile.values = {{"COMPORT", "2"},        {"COMSPEED", "57600"},   {"MODEMINIT", "ATE0Q0V1"},
                      {"DIALMETHOD", "TONE"},  {"CWDISABLE", "FALSE"},  {"CWDISABLESTR", "*70,"},
                      {"OUTSIDEACCESS", ""},   {"USERID", "jdoe"},      {"FIRSTNAME", "John"},
                      {"PRICEPLAN", ""},       {"NEWUSER", "yes"},      {"COMINFO", ""}};
  }

  void Make() {
    session = std::make_unique<CRegSessionDialog>(page.hwnd, ui, ports.Options());
    session->SetProfile(&profile);
    session->SetPhoneNumber("5551234");
    session->SetLoginName("vlrreg");
  }

  unsigned Call() {
    Make();
    session->Start();
    return page.RunUntilOutcome(kLimit);
  }

  std::int64_t Now() { return platform::clock().now_ms(); }
  Strings Replies() { return Strings(modem.server_received.begin() + 1, modem.server_received.end()); }
};

TEST_F(SessionTest, WholeCallFromDialToStatusComplete) {
  modem.prompt = "user:\r\n";
  modem.script = {
      {"REQUEST:\tFIRSTNAME\r\n", 1},
      {"request:\tuserid\r", 1},
      {"INFO:\tPLAN\tP1\tBasic\tcheap\r", 1},
      {"INFO:\tPLAN\tP2\tPlus\r", 1},
      {"INFO:\tRATE\tx\r", 1},
      {"REQUEST:\tNOSUCHKEY\r", 1},
      {"HELLO:\tx\r", 0},
      {"REQUEST:\r", 1},
      {"STATUS:\tCreating account\tstep 2\r", 1},
      {"STATUS:\tcomplete\r", 0},
  };
  EXPECT_EQ(Call(), WM_WIZ_RESULT_OK);
  // Opening the port resets the modem, and so does the dial sequence.
  EXPECT_EQ(modem.commands, (Strings{"AT&F", "AT&F", "ATE0Q0V1", "ATDt5551234"}));
  ASSERT_FALSE(modem.server_received.empty());
  EXPECT_EQ(modem.server_received[0], "vlrreg");
  EXPECT_EQ(Replies(), (Strings{"REPLY: John", "REPLY: jdoe", "REPLY: OK", "REPLY: OK", "REPLY: ERROR",
                                "REPLY: ERROR", "REPLY: ERROR", "REPLY: OK"}));
  EXPECT_EQ(session->planCodes, (Strings{"P1", "P2"}));
  EXPECT_EQ(session->planNames, (Strings{"Basic", "Plus"}));
  EXPECT_EQ(session->planDescriptions, (Strings{"cheap", "Plus"}));
  EXPECT_EQ(ui.session, (Strings{"Creating account\tstep 2"}));
  EXPECT_EQ(profile.values["COMINFO"], "COM2 57600");
  EXPECT_EQ(session->Port(), nullptr);  // hung up
  EXPECT_FALSE(wire->HostDtr());
  EXPECT_EQ(ui.LastModem(), "Disconnected");
  for (const char* t : {"Initializing modem...", "Dialing  ...", "Logging in...", "Connected", "Hanging up..."})
    EXPECT_NE(std::find(ui.modem.begin(), ui.modem.end(), t), ui.modem.end()) << t;
  EXPECT_TRUE(ui.boxes.empty());
  page.RunFor(5000);
  EXPECT_EQ(page.outcomes.size(), 1u);
  EXPECT_FALSE(session->TimerActive());
}

TEST_F(SessionTest, DialCommandFromTheDialingOptions) {
  profile.values["DIALMETHOD"] = "PULSE";
  profile.values["OUTSIDEACCESS"] = "9,";
  profile.values["CWDISABLE"] = "TRUE";
  modem.dial_result = "BUSY";
  Call();
  EXPECT_EQ(modem.commands.back(), "ATDp9,*70,5551234");
  EXPECT_NE(wire->Wrote().find("ATDp9,*70,5551234\r"), std::string::npos);
}

TEST_F(SessionTest, ModemRefusalsEndTheCallWithTheModemsLine) {
  for (const char* word : {"BUSY", "NO DIALTONE", "NO DIAL TONE", "NO CARRIER"}) {
    SCOPED_TRACE(word);
    auto w = std::make_shared<Line>();
    ports.wires[2] = w;
    FakeModem m(w);
    m.dial_result = word;
    ui.modem.clear();
    page.outcomes.clear();
    std::int64_t t0 = Now();
    EXPECT_EQ(Call(), WM_WIZ_RESULT_FAILED);
    EXPECT_LT(Now() - t0, 10000);
    EXPECT_EQ(ui.LastModem(), word);
    EXPECT_EQ(session->Port(), nullptr);
    EXPECT_FALSE(w->HostDtr());
    EXPECT_TRUE(ui.boxes.empty());
  }
}

TEST_F(SessionTest, SilentModemTimesOutSixtySecondsAfterTheDial) {
  modem.silent = true;
  ui.visible = true;  // the diagnostic dialog shows its message boxes
  Make();
  session->Start();
  std::int64_t dialled = Now();
  EXPECT_EQ(page.RunUntilOutcome(kLimit), WM_WIZ_RESULT_FAILED);
  EXPECT_EQ(Now() - dialled, 60000);
  EXPECT_EQ(ui.boxes, (Strings{"The connection has timed out!"}));
  EXPECT_EQ(ui.LastModem(), "Disconnected");
}

TEST_F(SessionTest, ModemWithoutDialResultTimesOutWithoutBoxWhenHidden) {
  modem.dial_result = "";
  EXPECT_EQ(Call(), WM_WIZ_RESULT_FAILED);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(ui.LastModem(), "Disconnected");
}

TEST_F(SessionTest, PromptAfter59SecondsLogsIn) {
  modem.prompt_delay_ms = 59000;
  modem.prompt = "user:\r\n";
  modem.script = {{"STATUS:\tCOMPLETE\r", 0}};
  EXPECT_EQ(Call(), WM_WIZ_RESULT_OK);
  EXPECT_EQ(modem.server_received, (Strings{"vlrreg"}));
}

TEST_F(SessionTest, NoPromptWithinSixtySecondsEndsTheCall) {
  modem.prompt_delay_ms = 61000;
  ui.visible = true;
  EXPECT_EQ(Call(), WM_WIZ_RESULT_FAILED);
  EXPECT_EQ(ui.boxes, (Strings{"Did not receive login prompt!"}));
  EXPECT_TRUE(modem.server_received.empty());
}

TEST_F(SessionTest, ChatterWithoutPromptStillTimesOut) {
  modem.prompt = "Welcome to the network";  // no line end, no prompt
  EXPECT_EQ(Call(), WM_WIZ_RESULT_FAILED);
  EXPECT_TRUE(modem.server_received.empty());
}

TEST_F(SessionTest, PromptSplitAcrossReads) {
  modem.prompt = "us";
  modem.script = {{"STATUS:\tCOMPLETE\r", 0}};
  Make();
  session->Start();
  modem.After(3000, [&] { wire->Send("er:\r\n"); });
  EXPECT_EQ(page.RunUntilOutcome(kLimit), WM_WIZ_RESULT_OK);
  EXPECT_EQ(modem.server_received, (Strings{"vlrreg"}));
}

TEST_F(SessionTest, PromptBytesStartTheFirstSessionLine) {
  // Without a line end after "user:", the first command joins the prompt
  // and matches nothing; the next one is answered.
  modem.script = {{"REQUEST:\tUSERID\rREQUEST:\tFIRSTNAME\r", 1}, {"STATUS:\tCOMPLETE\r", 0}};
  EXPECT_EQ(Call(), WM_WIZ_RESULT_OK);
  EXPECT_EQ(Replies(), (Strings{"REPLY: John"}));
}

TEST_F(SessionTest, FloodBeforeThePromptDoesNotHideIt) {
  modem.prompt = std::string(9000, '#') + "user:";
  modem.script = {{"\r\nSTATUS:\tCOMPLETE\r", 0}};
  EXPECT_EQ(Call(), WM_WIZ_RESULT_OK);
}

TEST_F(SessionTest, CarrierLostInTheSessionFails) {
  for (bool lines : {true, false}) {
    SCOPED_TRACE(lines ? "modem lines" : "pseudo-terminal");
    auto w = std::make_shared<Line>(lines);
    ports.wires[2] = w;
    FakeModem m(w);
    m.prompt = "user:\r\n";
    m.script = {{"REQUEST:\tUSERID\r", 1}, {"", 0, [&m] { m.HangUpFarEnd(); }}};
    page.outcomes.clear();
    EXPECT_EQ(Call(), WM_WIZ_RESULT_FAILED);
    EXPECT_EQ(m.server_received, (Strings{"vlrreg", "REPLY: jdoe"}));
    EXPECT_EQ(ui.LastModem(), "Disconnected");
    EXPECT_EQ(session->Port(), nullptr);
  }
}

TEST_F(SessionTest, CarrierLostWhileWaitingForThePrompt) {
  modem.prompt = "";
  Make();
  session->Start();
  modem.After(5000, [&] { modem.HangUpFarEnd(); });
  std::int64_t t0 = Now();
  EXPECT_EQ(page.RunUntilOutcome(kLimit), WM_WIZ_RESULT_FAILED);
  EXPECT_LT(Now() - t0, 10000);
  EXPECT_EQ(ui.LastModem(), "Disconnected");
}

TEST_F(SessionTest, PortThatVanishesInTheSessionFails) {
  modem.prompt = "user:\r\n";
  modem.script = {{"", 0, [&] { wire->Unplug(); }}};
  EXPECT_EQ(Call(), WM_WIZ_RESULT_FAILED);
  EXPECT_EQ(ui.LastModem(), "Disconnected");
}

TEST_F(SessionTest, PortGoneOrMissingFailsAtTheInitialisationString) {
  ui.visible = true;
  wire->Unplug();
  EXPECT_EQ(Call(), WM_WIZ_RESULT_FAILED);
  EXPECT_EQ(ui.boxes, (Strings{"Error sending initialization string."}));

  ui.boxes.clear();
  profile.values["COMPORT"] = "";
  profile.values["COMINFO"] = "";
  EXPECT_EQ(Call(), WM_WIZ_RESULT_FAILED);
  EXPECT_EQ(ui.boxes, (Strings{"Error sending initialization string."}));
  EXPECT_EQ(profile.values["COMINFO"], "");  // no port, nothing recorded
}

TEST_F(SessionTest, BadLinesNeverStallTheSession) {
  modem.prompt = "user:\r\n";
  modem.script = {
      {"\r\n\0\0\0\r"s + "BOGUS:\tx\r" + "REQUEST: USERID\r" + std::string(5000, 'z') + "\r" + "REQUEST:\tUSERID\r", 1},
      {std::string(7000, 'y') + "\rREQUEST:\tFIRSTNAME\r", 1},
      {"REQUEST:\t" + std::string(6000, 'k') + "\r\nREQUEST:\tUSERID\r", 1},
      {"STATUS:\tCOMPLETE\r", 0},
  };
  EXPECT_EQ(Call(), WM_WIZ_RESULT_OK);
  // The overlong REQUEST: is dropped whole: no reply for it.
  EXPECT_EQ(Replies(), (Strings{"REPLY: jdoe", "REPLY: John", "REPLY: jdoe"}));
}

TEST_F(SessionTest, OneLinePerTickInOrder) {
  modem.prompt = "user:\r\n";
  modem.script = {{"REQUEST:\tUSERID\rREQUEST:\tFIRSTNAME\r", 2}, {"STATUS:\tCOMPLETE\r", 0}};
  EXPECT_EQ(Call(), WM_WIZ_RESULT_OK);
  EXPECT_EQ(Replies(), (Strings{"REPLY: jdoe", "REPLY: John"}));
  ASSERT_EQ(ui.sent_at.size(), 2u);
  EXPECT_GT(ui.sent_at[1], ui.sent_at[0]);  // two ticks
}

TEST_F(SessionTest, FailureIsAnsweredBeforeTheBoxAndClosesTheSession) {
  modem.prompt = "user:\r\n";
  modem.script = {{"FAILURE:\tx\r", 1}, {"", 0, [&] { modem.HangUpFarEnd(); }}};
  Strings at_box;
  ui.on_box = [&] {
    at_box = modem.server_received;
    page.RunFor(2000);  // the box is modal: messages flow meanwhile
  };
  EXPECT_EQ(Call(), WM_WIZ_SESSION_CLOSED);
  EXPECT_EQ(ui.boxes, (Strings{std::string(kFailureMessage)}));
  EXPECT_EQ(at_box, (Strings{"vlrreg", "REPLY: OK"}));
  page.RunFor(2000);
  EXPECT_EQ(page.outcomes, (std::vector<unsigned>{WM_WIZ_SESSION_CLOSED}));
  session->HangUp();  // what the page does on WM_WIZ_SESSION_CLOSED
  EXPECT_FALSE(wire->HostDtr());
}

TEST_F(SessionTest, PageMayDeleteTheSessionInsideAHandlersModalLoop) {
  modem.prompt = "user:\r\n";
  modem.script = {{"FAILURE:\r", 1}};
  ui.on_box = [&] { session.reset(); };
  Make();
  session->Start();
  page.RunFor(10000);
  EXPECT_EQ(session, nullptr);
  EXPECT_TRUE(page.outcomes.empty());
  EXPECT_FALSE(wire->HostDtr());
}

TEST_F(SessionTest, HangUpByThePageStopsTheTicks) {
  modem.prompt = "user:\r\n";
  Make();
  session->Start();
  modem.After(3000, [&] { session->HangUp(); });
  page.RunFor(5000);
  EXPECT_FALSE(session->TimerActive());
  EXPECT_TRUE(page.outcomes.empty());
  EXPECT_EQ(ui.LastModem(), "Disconnected");
}

TEST_F(SessionTest, LinesArrivingDuringAPromptAreHandledFirst) {
  modem.prompt = "user:\r\n";
  modem.script = {{"INFO:\tPLAN\tP1\tBasic\r", 1},
                  {"WAIT:\tPAYMENTPLAN\rREQUEST:\tUSERID\r", 2},
                  {"REQUEST:\tPRICEPLAN\r", 1},
                  {"STATUS:\tCOMPLETE\r", 0}};
  Make();
  testing::FakePrompts prompts;
  prompts.session = session.get();
  prompts.during = [&] { page.RunFor(500); };  // a modal prompt
  session->SetPrompts(&prompts);
  session->Start();
  EXPECT_EQ(page.RunUntilOutcome(kLimit), WM_WIZ_RESULT_OK);
  EXPECT_EQ(prompts.asked, (Strings{"PLAN"}));
  EXPECT_EQ(Replies(), (Strings{"REPLY: OK", "REPLY: jdoe", "REPLY: CONTINUE", "REPLY: PLAN1"}));
  EXPECT_EQ(prompts.focus_during, (std::vector<bool>{false}));
  EXPECT_TRUE(session->focusOnStatus);
}

TEST_F(SessionTest, DiagnosticConnectProbesAndDials) {
  ui.visible = true;
  Make();
  session->SetPhoneNumber("");
  session->Connect();
  EXPECT_EQ(ui.boxes, (Strings{"Please enter a phone number."}));
  session->SetPhoneNumber("5551234");
  modem.dial_result = "BUSY";
  session->Connect();
  EXPECT_EQ(page.RunUntilOutcome(kLimit), WM_WIZ_RESULT_FAILED);
  EXPECT_NE(wire->Wrote().find("atdt 5551234\r"), std::string::npos);
  EXPECT_EQ(profile.values["COMINFO"], "COM2 256000");
  EXPECT_EQ(ui.LastModem(), "BUSY");

  ports.wires.clear();
  ui.boxes.clear();
  session->Connect();
  EXPECT_EQ(ui.boxes, (Strings{"Could not find a modem!"}));
  EXPECT_EQ(ui.LastModem(), "Disconnected");
}

// --- the command table, line by line, without a port ---

class HandleLineTest : public SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    Make();
  }
  Strings Handle(std::string_view line) {
    ui.sent.clear();
    session->HandleLine(line);
    return ui.sent;
  }
};

TEST_F(HandleLineTest, Replies) {
  profile.values["EMPTY"] = "";
  struct Case {
    const char* name;
    std::string line;
    Strings replies;
  } cases[] = {
      {"request", "REQUEST:\tUSERID", {"REPLY: jdoe"}},
      {"keyword and key in any case", "request:\tuserid", {"REPLY: jdoe"}},
      {"missing key", "REQUEST:\tNOSUCHKEY", {"REPLY: ERROR"}},
      {"no TAB", "REQUEST:", {"REPLY: ERROR"}},
      {"blank instead of TAB", "REQUEST: USERID", {}},
      {"empty value", "REQUEST:\tEMPTY", {"REPLY: "}},
      {"key with NUL", "REQUEST:\tUSER\0ID"s, {"REPLY: ERROR"}},
      {"info with four fields", "INFO:\tplan\tP1\tBasic\tcheap", {"REPLY: OK"}},
      {"info not a plan", "INFO:\tRATE\tx", {"REPLY: ERROR"}},
      {"info ending with TAB", "INFO:\tPLAN\tP1\t", {"REPLY: ERROR"}},
      {"info without arguments", "INFO:", {"REPLY: ERROR"}},
      {"status text", "STATUS:\tWorking", {"REPLY: OK"}},
      {"unknown keyword", "HELLO:\tx", {}},
      {"empty line", "", {}},
      {"only a TAB", "\t", {}},
      {"hooked command without hook", "CONFIG:\tAUTO", {}},
      {"hooked command in lower case", "regmod:\tHKEY_CURRENT_USER", {}},
      {"download", "DOWNLOADFILE:\tfile.zip", {"REPLY: OK"}},
      {"download without arguments", "DOWNLOADFILE:", {"REPLY: OK"}},
      {"price plan with a code", "PRICEPLAN:\tP30", {"REPLY: OK", "REPLY: OK"}},
      {"price plan in lower case", "priceplan:\tP10", {"REPLY: OK", "REPLY: OK"}},
      {"price plan without a code", "PRICEPLAN:", {"REPLY: OK", "REPLY: ERROR"}},
      {"price plan ending with TAB", "PRICEPLAN:\t", {"REPLY: OK", "REPLY: ERROR"}},
      {"wait without a code", "WAIT:", {"REPLY: ERROR"}},
      {"wait with an empty code", "WAIT:\t", {"REPLY: ERROR"}},
      {"wait for phones", "WAIT:\tPHONES", {"REPLY: CONTINUE"}},
      {"wait for something unknown", "WAIT:\tSOMETHING", {"REPLY: CONTINUE"}},
      {"wait code with a blank", "WAIT:\tUSED ID", {"REPLY: CONTINUE"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Handle(c.line), c.replies) << c.name;
}

TEST_F(HandleLineTest, InfoPlansInOrderAndTheLastFieldRepeats) {
  Handle("INFO:\tPLAN\tP1\tBasic");
  Handle("INFO:\tPLAN");
  Handle("INFO:\tRATE\tx");
  EXPECT_EQ(session->planCodes, (Strings{"P1", "PLAN"}));
  EXPECT_EQ(session->planNames, (Strings{"Basic", "PLAN"}));
  EXPECT_EQ(session->planDescriptions, (Strings{"Basic", "PLAN"}));
}

TEST_F(HandleLineTest, PricePlanIsAnsweredWithThePlanTag) {
  session->planTag = "PLAN2";
  profile.values["PRICEPLAN"] = "P2";
  EXPECT_EQ(Handle("REQUEST:\tPRICEPLAN"), (Strings{"REPLY: PLAN2"}));
  profile.values.erase("PRICEPLAN");
  EXPECT_EQ(Handle("REQUEST:\tPRICEPLAN"), (Strings{"REPLY: ERROR"}));
}

TEST_F(HandleLineTest, StatusCompleteInAnyCaseEndsTheCall) {
  for (const char* word : {"COMPLETE", "complete", "Complete"}) {
    page.outcomes.clear();
    EXPECT_EQ(Handle(std::string("STATUS:\t") + word), Strings{});
    page.RunFor(10);
    EXPECT_EQ(page.outcomes, (std::vector<unsigned>{WM_WIZ_RESULT_OK})) << word;
    Make();
  }
}

TEST_F(HandleLineTest, CommandTableIsCompleteAndInOrder) {
  Strings keywords;
  const ServerCommand* e = ServerCommandTable;
  for (; e->keyword[0] != '\0'; ++e) {
    keywords.emplace_back(e->keyword);
    EXPECT_NE(e->handler, nullptr);
  }
  EXPECT_EQ(e->handler, nullptr);
  EXPECT_EQ(keywords, (Strings{"REQUEST:", "INFO:", "WAIT:", "INIMOD:", "REGMOD:", "ADDITEM:", "STATUS:",
                               "APPENDFILE:", "DOWNLOADFILE:", "TRANSFER:", "CONFIG:", "FAILURE:", "PRICEPLAN:"}));
}

TEST_F(HandleLineTest, HooksReceiveTheArgumentText) {
  std::vector<std::pair<std::string, std::string>> calls;
  for (const char* k : {"INIMOD:", "REGMOD:", "ADDITEM:", "APPENDFILE:", "CONFIG:"}) {
    EXPECT_TRUE(session->SetCommandHook(k, [&calls, k](CRegSessionDialog& s, std::string_view args) {
      calls.emplace_back(k, std::string(args));
      s.SendAck(true);
    })) << k;
  }
  for (const char* own : {"REQUEST:", "INFO:", "WAIT:", "STATUS:", "DOWNLOADFILE:", "TRANSFER:", "FAILURE:",
                          "PRICEPLAN:", "BOGUS:"}) {
    EXPECT_FALSE(session->SetCommandHook(own, nullptr)) << own;
  }
  EXPECT_EQ(Handle("config:\tAUTO"), (Strings{"REPLY: OK"}));
  EXPECT_EQ(Handle("REGMOD:\tHKLM\tSoftware\\X\tREG_SZ\tname\tdata"), (Strings{"REPLY: OK"}));
  EXPECT_EQ(calls, (std::vector<std::pair<std::string, std::string>>{
                       {"CONFIG:", "AUTO"}, {"REGMOD:", "HKLM\tSoftware\\X\tREG_SZ\tname\tdata"}}));
}

TEST_F(HandleLineTest, LoginNameAndNumberAreCutTo31Characters) {
  session->SetLoginName(std::string(40, 'n'));
  session->SetPhoneNumber(std::string(40, '5'));
  EXPECT_EQ(session->LoginName().size(), 31u);
  EXPECT_EQ(session->PhoneNumber().size(), 31u);
}

}  // namespace
}  // namespace session

namespace session {
namespace {

TEST_F(HandleLineTest, DialingInformationFromTheIniFile) {
  auto dir = std::filesystem::temp_directory_path() / ("session_ini_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto ini = dir / "Joinwiz.ini";
  {
    std::ofstream f(ini);
    f << "[Dialing Information]\nREGNUMBER=5550147\nREGSERVER=" << std::string(40, 'r') << "\n";
  }
  session->LoadDialingInformation(ini);
  EXPECT_EQ(session->PhoneNumber(), "5550147");
  EXPECT_EQ(session->LoginName(), std::string(31, 'r'));
  session->LoadDialingInformation(dir / "missing.ini");
  EXPECT_EQ(session->PhoneNumber(), "");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace session
