// The server's decisions and the end of the call: WAIT:, PRICEPLAN:,
// DOWNLOADFILE: and TRANSFER:, over the fake modem with recording prompts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fakes.h"
#include "platform/loop/clock.h"
#include "platform/storage/system_root.h"
#include "session/reg_session.h"

namespace session {
namespace {

namespace fs = std::filesystem;
using testing::FakeModem;
using testing::FakePage;
using testing::FakePorts;
using testing::FakePrompts;
using testing::Line;
using testing::MapProfile;
using testing::RecordingUi;
using Strings = std::vector<std::string>;

constexpr std::int64_t kLimit = 10 * 60 * 1000;

struct ClosingUi final : SessionUi {
  RecordingUi& inner;
  int closes = 0;
  explicit ClosingUi(RecordingUi& r) : inner(r) {}
  void ShowModemText(std::string_view t, bool f) override { inner.ShowModemText(t, f); }
  void ShowSessionText(std::string_view t, bool f) override { inner.ShowSessionText(t, f); }
  void ShowSentLine(std::string_view l) override { inner.ShowSentLine(l); }
  void MessageBox(std::string_view t, MessageIcon i) override { inner.MessageBox(t, i); }
  void CloseStatusWindow() override { ++closes; }
};

class ServerCommands : public ::testing::Test {
 protected:
  platform::ScopedVirtualClock vclock;
  platform::ScopedSystemRoot root;
  FakePorts ports;
  std::shared_ptr<Line> wire = std::make_shared<Line>();
  FakeModem modem{wire};
  MapProfile profile;
  RecordingUi recorded;
  ClosingUi ui{recorded};
  FakePage page;
  FakePrompts prompts;
  std::unique_ptr<CRegSessionDialog> session;
  fs::path dir;
  std::vector<std::string> events;  // CONFIG: and the shortcuts, in order

  void SetUp() override {
    ports.wires[2] = wire;
    profile.values = {{"COMPORT", "2"},    {"COMSPEED", "57600"}, {"MODEMINIT", "ATZ"}, {"DIALMETHOD", "TONE"},
                      {"CWDISABLE", "FALSE"}, {"USERID", "jdoe"},  {"PASSWORD", "pw"},  {"PRICEPLAN", ""},
                      {"NEWUSER", "yes"},  {"STATE", "CA"},      {"DAYAREACODE", "408"},
                      {"POPAREACODE", "old"}, {"POPNUMBER", "old"}};
    char tmpl[] = "/tmp/session_cmds_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    modem.prompt = "user:\r\n";
    prompts.profile = &profile;
  }
  void TearDown() override {
    session.reset();
    fs::remove_all(dir);
  }
  void Phones(const std::string& text) { std::ofstream(dir / "phones.txt", std::ios::binary) << text; }

  void Make() {
    session = std::make_unique<CRegSessionDialog>(page.hwnd, ui, ports.Options());
    session->SetProfile(&profile);
    session->SetPhoneNumber("5551234");
    session->SetLoginName("vlrreg");
    session->SetPrompts(&prompts);
    session->SetProgramDir(dir);
    prompts.session = session.get();
    session->SetCommandHook("CONFIG:", [this](CRegSessionDialog& s, std::string_view args) {
      events.push_back("CONFIG " + std::string(args) + (s.Port() ? " on line" : " off line"));
      s.SendAck(true);
    });
    session->SetShortcutsHook([this](CRegSessionDialog&) { events.emplace_back("SHORTCUTS"); });
  }
  unsigned Call() {
    Make();
    session->Start();
    return page.RunUntilOutcome(kLimit);
  }
  Strings Replies() { return Strings(modem.server_received.begin() + 1, modem.server_received.end()); }
};

TEST_F(ServerCommands, ThreePlansTheUserPicksTheSecond) {
  prompts.plan = 2;
  modem.script = {{"INFO:\tPLAN\tP10\tBasic\t10 hours\r", 1},
                  {"INFO:\tPLAN\tP30\tStandard\t30 hours\r", 1},
                  {"INFO:\tPLAN\tPUNL\tUnlimited\r", 1},
                  {"WAIT:\tPAYMENTPLAN\r", 1},
                  {"REQUEST:\tPRICEPLAN\r", 1},
                  {"STATUS:\tCOMPLETE\r", 0}};
  EXPECT_EQ(Call(), WM_WIZ_RESULT_OK);
  EXPECT_EQ(Replies(), (Strings{"REPLY: OK", "REPLY: OK", "REPLY: OK", "REPLY: CONTINUE", "REPLY: PLAN2"}));
  EXPECT_EQ(prompts.plan_names, (Strings{"Basic", "Standard", "Unlimited"}));
  EXPECT_EQ(prompts.plan_descriptions, (Strings{"10 hours", "30 hours", "Unlimited"}));
  EXPECT_EQ(profile.values["PRICEPLAN"], "P30");
  EXPECT_EQ(session->planTag, "PLAN2");
}

TEST_F(ServerCommands, UserIdAndPasswordPromptsChangeTheProfile) {
  struct Case {
    const char* code;
    const char* newuser;
    std::string_view text;
    const char* key;
    bool new_account;
  } cases[] = {
      {"USEDID", "yes", kUsedIdPrompt, "USERID", true},
      {"usedid", "no", kUsedIdPrompt, "USERID", false},
      {"RUSERID", "", kWrongUserIdPrompt, "USERID", true},
      {"RPASSWORD", "yes", kWrongPasswordPrompt, "PASSWORD", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    profile.values["NEWUSER"] = c.newuser;
    prompts.asked.clear();
    prompts.input = std::string("typed");
    Make();
    recorded.sent.clear();
    session->HandleLine(std::string("WAIT:\t") + c.code);
    EXPECT_EQ(prompts.asked, (Strings{"INPUT " + std::string(c.text)}));
    EXPECT_EQ(prompts.new_account, c.new_account);
    EXPECT_EQ(profile.values[c.key], "typed");
    EXPECT_EQ(recorded.sent, (Strings{"REPLY: CONTINUE"}));
    profile.values[c.key] = "before";
  }
}

TEST_F(ServerCommands, CodesWithoutAPromptContinueAtOnce) {
  Make();
  for (const char* line : {"WAIT:\tPHONES", "WAIT:\tSOMETHING", "WAIT:\tbadcc2", "WAIT:\t\x01\xff"}) {
    recorded.sent.clear();
    session->HandleLine(line);
    EXPECT_EQ(recorded.sent, (Strings{"REPLY: CONTINUE"})) << line;
  }
  EXPECT_TRUE(prompts.asked.empty());
}

TEST_F(ServerCommands, BadCardOpensTheBillingPage) {
  modem.script = {{"WAIT:\tbadcc\r", 1}, {"STATUS:\tCOMPLETE\r", 0}};
  EXPECT_EQ(Call(), WM_WIZ_RESULT_OK);
  EXPECT_EQ(prompts.asked, (Strings{"BILLING"}));
  EXPECT_EQ(Replies(), (Strings{"REPLY: CONTINUE"}));
  EXPECT_EQ(prompts.focus_during, (std::vector<bool>{false}));
  EXPECT_TRUE(session->focusOnStatus);
}

TEST_F(ServerCommands, ACancelledPromptSendsNothingHangsUpAndClosesTheSession) {
  struct Case {
    const char* code;
    std::function<void()> cancel;
  } cases[] = {
      {"BADCC", [this] { prompts.billing_ok = false; }},
      {"PAYMENTPLAN", [this] { prompts.plan = std::nullopt; }},
      {"USEDID", [this] { prompts.input = std::nullopt; }},
      {"RPASSWORD", [this] { prompts.input = std::nullopt; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    auto w = std::make_shared<Line>();
    ports.wires[2] = w;
    FakeModem m(w);
    m.prompt = "user:\r\n";
    m.script = {{std::string("WAIT:\t") + c.code + "\r", 1}, {"REQUEST:\tUSERID\r", 1}};
    c.cancel();
    profile.values["USERID"] = "jdoe";
    profile.values["PRICEPLAN"] = "";
    page.outcomes.clear();
    EXPECT_EQ(Call(), WM_WIZ_SESSION_CLOSED);
    EXPECT_EQ(m.server_received, (Strings{"vlrreg"}));
    EXPECT_EQ(session->Port(), nullptr);
    EXPECT_FALSE(w->HostDtr());
    EXPECT_EQ(profile.values["USERID"], "jdoe");
    EXPECT_EQ(profile.values["PRICEPLAN"], "");
    page.RunFor(2000);
    EXPECT_EQ(page.outcomes, (std::vector<unsigned>{WM_WIZ_SESSION_CLOSED}));
    prompts = FakePrompts{};
    prompts.profile = &profile;
  }
}

TEST_F(ServerCommands, APromptOpenedInsideAnotherLeavesTheFocusFlagOffUntilTheOuterCloses) {
  modem.script = {{"WAIT:\tUSEDID\r", 0},
                  {"", 0, [this] { modem.After(100, [this] { wire->Send("WAIT:\tBADCC\r"); }); }},
                  {"", 2},
                  {"STATUS:\tCOMPLETE\r", 0}};
  bool outer = true;
  std::vector<bool> after_inner;
  prompts.during = [&] {
    if (!outer) return;  // the billing page closes at once
    outer = false;
    page.RunFor(1000);  // the user takes a while; the BADCC line comes meanwhile
    after_inner.push_back(session->focusOnStatus);
  };
  EXPECT_EQ(Call(), WM_WIZ_RESULT_OK);
  EXPECT_EQ(prompts.asked, (Strings{"INPUT " + std::string(kUsedIdPrompt), "BILLING"}));
  EXPECT_EQ(prompts.focus_during, (std::vector<bool>{false, false}));
  EXPECT_EQ(after_inner, (std::vector<bool>{false}));
  EXPECT_TRUE(session->focusOnStatus);
  EXPECT_EQ(Replies(), (Strings{"REPLY: CONTINUE", "REPLY: CONTINUE"}));
}

TEST_F(ServerCommands, PromptsSentWithoutWaitingNestAtMostFourDeepTheRestAreRefused) {
  // Each open prompt is a nested loop in which the next line is handled; a
  // server that never waits would stack them until the stack runs out.
  Make();
  int depth = 0, deepest = 0;
  prompts.during = [&] {
    ++depth;
    deepest = std::max(deepest, depth);
    if (depth < kMaxOpenPrompts) {
      session->HandleLine("WAIT:\tUSEDID");  // the next line, handled inside this prompt
    } else {
      for (int i = 0; i < 1000; ++i) session->HandleLine("WAIT:\tRUSERID");
    }
    --depth;
  };
  session->HandleLine("WAIT:\tUSEDID");
  EXPECT_EQ(deepest, kMaxOpenPrompts);
  EXPECT_EQ(prompts.asked.size(), static_cast<std::size_t>(kMaxOpenPrompts));
  ASSERT_EQ(recorded.sent.size(), 1000u + kMaxOpenPrompts);
  EXPECT_EQ(std::count(recorded.sent.begin(), recorded.sent.end(), "REPLY: ERROR"), 1000);
  EXPECT_EQ(std::count(recorded.sent.end() - kMaxOpenPrompts, recorded.sent.end(), "REPLY: CONTINUE"),
            kMaxOpenPrompts);
  EXPECT_EQ(session->openPrompts, 0);
  EXPECT_EQ(session->waitsRefused, 1000u);
  // With the prompts closed, a prompt opens again.
  prompts.during = nullptr;
  recorded.sent.clear();
  session->HandleLine("WAIT:\tUSEDID");
  EXPECT_EQ(recorded.sent, (Strings{"REPLY: CONTINUE"}));
}

TEST_F(ServerCommands, APlanCodeHoldingANulNeverReachesTheProfile) {
  // The profile file cannot hold a NUL: stored, it would stop the save.
  Make();
  profile.values["PRICEPLAN"] = "P10";
  const std::string nul_code("P30\0X", 5);
  session->HandleLine("PRICEPLAN:\t" + nul_code);
  session->HandleLine("INFO:\tPLAN\t" + nul_code + "\tStandard\t30 hours");
  EXPECT_EQ(recorded.sent, (Strings{"REPLY: OK", "REPLY: ERROR", "REPLY: ERROR"}));
  EXPECT_EQ(profile.values["PRICEPLAN"], "P10");
  EXPECT_TRUE(session->planCodes.empty());
}

TEST_F(ServerCommands, WithoutPromptsAPromptCountsAsCancelled) {
  Make();
  session->SetPrompts(nullptr);
  session->HandleLine("WAIT:\tUSEDID");
  EXPECT_TRUE(recorded.sent.empty());
  page.RunFor(10);
  EXPECT_EQ(page.outcomes, (std::vector<unsigned>{WM_WIZ_SESSION_CLOSED}));
}

TEST_F(ServerCommands, PricePlanSelectionOutsideTheListChangesNothing) {
  Make();
  session->HandleLine("INFO:\tPLAN\tP1\tOne");
  for (int chosen : {0, 2, -1}) {
    prompts.plan = chosen;
    recorded.sent.clear();
    session->HandleLine("WAIT:\tPAYMENTPLAN");
    EXPECT_EQ(recorded.sent, (Strings{"REPLY: CONTINUE"})) << chosen;
    EXPECT_EQ(profile.values["PRICEPLAN"], "") << chosen;
    EXPECT_EQ(session->planTag, "") << chosen;
  }
}

TEST_F(ServerCommands, AtMostAHundredPlans) {
  Make();
  for (int i = 1; i <= 250; ++i) {
    recorded.sent.clear();
    session->HandleLine("INFO:\tPLAN\tP" + std::to_string(i) + "\tPlan\tAbout");
    EXPECT_EQ(recorded.sent, (Strings{i <= 100 ? "REPLY: OK" : "REPLY: ERROR"})) << i;
  }
  EXPECT_EQ(session->planCodes.size(), kMaxPlans);
  EXPECT_EQ(session->planNames.size(), kMaxPlans);
  EXPECT_EQ(session->planCodes.back(), "P100");
}

TEST_F(ServerCommands, PricePlanCommandStoresTheCode) {
  Make();
  session->HandleLine("PRICEPLAN:\tP30");
  EXPECT_EQ(profile.values["PRICEPLAN"], "P30");
  session->HandleLine("PRICEPLAN:");
  EXPECT_EQ(profile.values["PRICEPLAN"], "P30");
  EXPECT_EQ(recorded.sent, (Strings{"REPLY: OK", "REPLY: OK", "REPLY: OK", "REPLY: ERROR"}));
}

TEST_F(ServerCommands, TransferWithSeveralNumbersShowsTheListThenConfiguresAndSucceeds) {
  Phones("[P30]\n1=408 5551234 CA San Jose\n2=212 5550000 NY New York\n[P10]\n3=907 5551111 AK Juneau\n");
  profile.values["PRICEPLAN"] = "P30";
  prompts.pop_area = "212";
  prompts.pop_number = "5550000";
  // A line after TRANSFER: is never handled: the timer stops first.
  modem.script = {{"TRANSFER:\r", 2}, {"REQUEST:\tUSERID\r", 0}};
  std::int64_t t0 = platform::clock().now_ms();
  EXPECT_EQ(Call(), WM_WIZ_RESULT_OK);
  EXPECT_EQ(Replies(), (Strings{"REPLY: OK", "REPLY: OK"}));
  EXPECT_EQ(prompts.asked, (Strings{"ACCESS"}));
  EXPECT_EQ(prompts.access_entries, (Strings{"1=408 5551234 CA San Jose", "2=212 5550000 NY New York"}));
  EXPECT_EQ(prompts.focus_during, (std::vector<bool>{false}));
  EXPECT_EQ(profile.values["POPAREACODE"], "212");
  EXPECT_EQ(profile.values["POPNUMBER"], "5550000");
  EXPECT_EQ(recorded.session, (Strings{std::string(kTransferText)}));
  EXPECT_EQ(ui.closes, 1);
  EXPECT_EQ(events, (Strings{"CONFIG AUTO off line", "SHORTCUTS"}));
  EXPECT_EQ(session->installDir, "C:\\VELORAN\\");
  EXPECT_EQ(session->Port(), nullptr);
  EXPECT_FALSE(wire->HostDtr());
  EXPECT_LT(platform::clock().now_ms() - t0, 5000);
  // CONFIG:'s reply finds no port: shown only.
  EXPECT_EQ(recorded.sent.back(), "REPLY: OK");
}

TEST_F(ServerCommands, TransferWithOneNumberTakesItAndWaitsFiveSeconds) {
  Phones("[P10]\r\n7=907 5551111 AK Juneau\r\n[P100]\r\n");
  profile.values["PRICEPLAN"] = "P10";
  modem.script = {{"TRANSFER:\r", 2}, {"", 0, [this] { modem.After(1000, [this] { wire->Send("STATUS:\tx\r"); }); }}};
  Make();
  std::int64_t replied_at = -1;
  session->SetShortcutsHook([&](CRegSessionDialog&) { replied_at = platform::clock().now_ms(); });
  session->Start();
  std::int64_t t0 = platform::clock().now_ms();
  EXPECT_EQ(page.RunUntilOutcome(kLimit), WM_WIZ_RESULT_OK);
  EXPECT_TRUE(prompts.asked.empty());
  EXPECT_EQ(profile.values["POPAREACODE"], "907");
  EXPECT_EQ(profile.values["POPNUMBER"], "5551111");
  EXPECT_GE(replied_at - t0, 5000);
  EXPECT_EQ(Replies(), (Strings{"REPLY: OK", "REPLY: OK"}));  // the STATUS: line is never handled
}

TEST_F(ServerCommands, TransferWithoutUsableNumbersKeepsTheOldOnes) {
  struct Case {
    const char* name;
    const char* phones;  // nullptr: no file
    const char* plan;
  } cases[] = {
      {"no file", nullptr, "P10"},
      {"no section", "[P30]\n1=408 5551234 CA San Jose\n", "P10"},
      {"empty section", "[P10]\n\n[P30]\n1=408 5551234 CA San Jose\n", "P10"},
      {"one entry without a third field", "[P10]\n408 5551234\n", "P10"},
      {"entries with fewer than four fields", "[P10]\n408 5551234 CA\n1=212\n", "P10"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(dir / "phones.txt");
    if (c.phones) Phones(c.phones);
    profile.values["PRICEPLAN"] = c.plan;
    profile.values["POPAREACODE"] = "old";
    profile.values["POPNUMBER"] = "old";
    prompts.asked.clear();
    events.clear();
    page.outcomes.clear();
    Make();
    session->HandleLine("TRANSFER:");
    page.RunFor(10);
    EXPECT_TRUE(prompts.asked.empty());
    EXPECT_EQ(profile.values["POPAREACODE"], "old");
    EXPECT_EQ(profile.values["POPNUMBER"], "old");
    EXPECT_EQ(events, (Strings{"CONFIG AUTO off line", "SHORTCUTS"}));
    EXPECT_EQ(page.outcomes, (std::vector<unsigned>{WM_WIZ_RESULT_OK}));
  }
}

TEST_F(ServerCommands, PhonesFileIsAFolder) {
  fs::create_directory(dir / "phones.txt");
  profile.values["PRICEPLAN"] = "P10";
  Make();
  session->HandleLine("TRANSFER:");
  page.RunFor(10);
  EXPECT_TRUE(prompts.asked.empty());
  EXPECT_EQ(page.outcomes, (std::vector<unsigned>{WM_WIZ_RESULT_OK}));
}

TEST_F(ServerCommands, CancelledAccessNumberClosesTheSessionWithoutConfiguring) {
  Phones("[P30]\n1=408 5551234 CA San Jose\n2=212 5550000 NY New York\n");
  profile.values["PRICEPLAN"] = "P30";
  prompts.access_ok = false;
  modem.script = {{"TRANSFER:\r", 2}};
  EXPECT_EQ(Call(), WM_WIZ_SESSION_CLOSED);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(profile.values["POPAREACODE"], "old");
  EXPECT_EQ(session->Port(), nullptr);
  EXPECT_FALSE(wire->HostDtr());
}

TEST_F(ServerCommands, PageDeletingTheSessionInsideAPromptEndsTheHandler) {
  Phones("[P30]\n1=408 5551234 CA San Jose\n2=212 5550000 NY New York\n");
  profile.values["PRICEPLAN"] = "P30";
  for (const char* line : {"WAIT:\tUSEDID", "TRANSFER:"}) {
    SCOPED_TRACE(line);
    Make();
    events.clear();
    page.outcomes.clear();
    prompts.during = [this] { session.reset(); };
    CRegSessionDialog* raw = session.get();
    raw->HandleLine(line);
    EXPECT_EQ(session, nullptr);
    page.RunFor(10);
    EXPECT_TRUE(page.outcomes.empty());
    EXPECT_TRUE(events.empty());
    prompts.during = nullptr;
  }
}

}  // namespace
}  // namespace session
