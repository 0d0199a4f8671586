// "Dialing the Network" driven in-process by the scripted user, in virtual
// time, against the simulated modem and registration server of linesim on a
// virtual null-modem cable behind COM2.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "display/headless.h"
#include "ini_bridge.h"
#include "linesim/exchange.h"
#include "linesim/modem.h"
#include "platform/loop/clock.h"
#include "platform/loop/message_loop.h"
#include "platform/storage/registry.h"
#include "platform/storage/system_root.h"
#include "platform/serial/serial_port.h"
#include "platform/ui/window.h"
#include "session/platform_port.h"
#include "session/reg_session.h"
#include "wizard/dialing_dialogs.h"
#include "wizard/dialing_page.h"
#include "wizard/pages.h"
#include "support/temp_dir.h"

namespace wizard {
namespace {

namespace fs = std::filesystem;
using namespace platform;

constexpr int kNoOutcome = 99;
constexpr std::int64_t kRunLimitMs = 20 * 60 * 1000;

// Stands in for the modem level's master: records what the page posts to it
// and ends the run when the page cancels up to it.
class MasterStandIn final : public Window {
 public:
  std::vector<unsigned> posted;

 protected:
  LRESULT window_proc(const Message& msg) override {
    if (msg.message >= WM_WIZ_BACK && msg.message <= WM_WIZ_SESSION_CLOSED) {
      posted.push_back(msg.message);
      if (msg.message == WM_WIZ_CANCEL) MessageLoop::current().quit(0);
      return 0;
    }
    return Window::window_proc(msg);
  }
};

// linesim's modem at the far end of the cable: what the wizard writes is fed
// to it, what it answers goes back, its carrier is the cable's DTR.
class SimulatedLine {
 public:
  explicit SimulatedLine(std::vector<std::string>& trace)
      : exchange_([&trace, this](std::string_view line) {
          std::lock_guard g(trace_mutex_);
          trace.emplace_back(line);
        }),
        modem_("COM2", *linesim::find_profile("generic"), &exchange_) {
    far_->set_dtr(false);
    attach_virtual_port(2, cable_.end(0));
    cable_.set_listener(1, [this] { Service(); });
    ticker_ = MessageLoop::current().set_thread_timer(5, [this](TimerId) { Service(); });
  }
  ~SimulatedLine() {
    MessageLoop::current().kill_thread_timer(ticker_);
    cable_.set_listener(1, nullptr);
    attach_virtual_port(2, nullptr);
  }
  std::string AddRoute(const std::string& route) { return exchange_.add_route(route); }

 private:
  void Service() {
    std::lock_guard g(m_);
    char buf[512];
    std::size_t got = 0;
    while (far_->read(buf, sizeof buf, got) == SerialError::None && got > 0) modem_.feed(std::string(buf, got));
    unsigned lines = 0;
    if (far_->get_modem_lines(lines) == SerialError::None) modem_.set_dtr((lines & kLineDsr) != 0);
    modem_.tick();
    const std::string out = modem_.take_output();
    if (!out.empty()) {
      std::size_t done = 0;
      far_->write(out.data(), out.size(), done, 0);
    }
    const bool dcd = modem_.lines().dcd;
    if (dcd != dcd_) far_->set_dtr(dcd_ = dcd);
  }

  std::mutex trace_mutex_;
  std::recursive_mutex m_;
  VirtualNullModem cable_;
  std::shared_ptr<SerialPort> far_ = cable_.end(1);
  linesim::Exchange exchange_;
  linesim::Modem modem_;
  bool dcd_ = false;
  TimerId ticker_ = 0;
};

std::string scenario(const char* name) {
  return (fs::path(VLR_SOURCE_DIR) / "data" / "scenarios" / name).string();
}

class DialingPage : public ::testing::Test {
 protected:
  // Registry, dosdevices and the like of every run go to a root of its own.
  ScopedSystemRoot root_;
  void SetUp() override {
    const fs::path data = fs::path(VLR_SOURCE_DIR) / "data";
    for (const char* f : {"Joinwiz.ini", "Vlrhelp.hlp", "phones.txt"}) fs::copy_file(data / f, dir_ / f);
    set_wizard_paths({dir_, dir_ / "Joinwiz.ini"});
    clear_bitmap_folders();
    add_bitmap_folder(data);
    register_page_templates();
    set_application_name("joinwiz");
    set_dialing_port_options([] { return session::PlatformModemOptions({}); });
    profile_.SetDefaults(default_profile_keys());
    for (auto [k, v] : {std::pair{"NEWUSER", "yes"}, {"USERID", "jsmith"}, {"PASSWORD", "secret1"},
                        {"FIRSTNAME", "John"}, {"LASTNAME", "Smith"}, {"CLIENTCODE", "VLRREG501U"},
                        {"COMPORT", "2"}, {"COMSPEED", "38400"}, {"STATE", "IL"}, {"DAYAREACODE", "217"}})
      profile_.Set(k, v);
    line_ = std::make_unique<SimulatedLine>(trace_);
  }
  void TearDown() override {
    display_.reset();
    line_.reset();
    if (master_ && is_window(master_)) destroy_window(master_);
    MessageLoop::current().pump_pending();
    if (MessageLoop::current().quit_pending()) MessageLoop::current().run();
    set_dialing_port_options(nullptr);
  }

  // Makes the page under a stand-in master, runs `script` and the loop until
  // the page ends the wizard (0 on Cancel up the levels, 1 on abort) or the
  // script is done and nothing more happens.
  int Run(const std::string& script) {
    auto* master = new_window<MasterStandIn>();
    master_ = master->create("Modem Setup", WS_POPUP, {0, 0, 450, 388});
    CBaseDialog* page = CreateDialingPage(&profile_, master_);
    EXPECT_NE(page, nullptr);
    page_ = page->CreateModeless();
    EXPECT_NE(page_, 0u);
    page->SetFinishMode(false);
    show_window(page_, SW_SHOW);

    display::HeadlessOptions o;
    o.script = script;
    o.on_failure = [this](int, const std::string& message) {
      failure_ = message;
      MessageLoop::current().quit(3);
    };
    o.on_finished = [this] { finished_at_ = platform::clock().now_ms(); };
    std::string error;
    display_ = display::HeadlessDisplay::start(std::move(o), error);
    EXPECT_NE(display_, nullptr) << error;
    // After the last step, a few seconds of quiet end the run.
    const TimerId guard = MessageLoop::current().set_thread_timer(100, [this](TimerId) {
      const std::int64_t now = platform::clock().now_ms();
      if ((finished_at_ >= 0 && now - finished_at_ > 5000) || now > kRunLimitMs) {
        MessageLoop::current().quit(kNoOutcome);
      }
    });
    const int code = MessageLoop::current().run();
    MessageLoop::current().kill_thread_timer(guard);
    EXPECT_EQ(failure_, "");
    return code;
  }

  bool Traced(const std::string& text) const {
    for (const auto& line : trace_)
      if (line.find(text) != std::string::npos) return true;
    return false;
  }
  int TraceCount(const std::string& text) const {
    int n = 0;
    for (const auto& line : trace_)
      if (line.find(text) != std::string::npos) ++n;
    return n;
  }
  bool Transcribed(const std::string& text) const {
    for (const auto& line : display_->transcript())
      if (line.find(text) != std::string::npos) return true;
    return false;
  }
  std::string Saved(const char* key) { return ini_read(kUserInfoSection, key, "<none>", 128, dir_ / "Joinwiz.ini"); }
  const std::vector<unsigned>& Posted() { return window_cast<MasterStandIn>(master_)->posted; }
  CDialNetworkDialog* Page() { return window_cast<CDialNetworkDialog>(page_); }

  ScopedVirtualClock clock_;
  test_support::TempDir temp_{"wizard_dialing"};
  const fs::path dir_ = temp_.path();
  RegistrationProfile profile_;
  std::vector<std::string> trace_;
  std::unique_ptr<SimulatedLine> line_;
  std::unique_ptr<display::HeadlessDisplay> display_;
  HWND master_ = 0;
  HWND page_ = 0;
  std::string failure_;
  std::int64_t finished_at_ = -1;
};

constexpr const char* kFinish =
    "wait 120\n"
    "expect-text 3002 jsmith\n"
    "expect-text 3003 secret1\n"
    "expect-text 2035 (800) 555-0147\n"
    "click 3033\n";

TEST_F(DialingPage, NewAccountEndsWithTheAccountCreatedDialogAndRegistered) {
  ASSERT_EQ(line_->AddRoute("5550100=scenario:" + scenario("new-account.txt")), "");
  EXPECT_EQ(Run(std::string("wait 116\nexpect-text 2018 to create an account\nclick 3031\n") + kFinish +
                "expect-text 2023 has been created"),
            0);
  EXPECT_TRUE(Transcribed("dialog 117 \"Account Registration Status\""));
  EXPECT_TRUE(Transcribed("title \"Your Account has been Created!\""));
  EXPECT_TRUE(Traced("COM2 at< ATDt5550100"));
  EXPECT_TRUE(Traced("COM2 srv< vlrreg"));
  EXPECT_TRUE(Traced("COM2 srv< REPLY: yes"));
  EXPECT_TRUE(Traced("COM2 srv< REPLY: COM2 38400"));
  EXPECT_FALSE(Traced("srv!"));
  EXPECT_EQ(profile_.value_or_empty("COMINFO"), "COM2 38400");
  EXPECT_EQ(Saved("REGISTERED"), "YES");
  EXPECT_EQ(Saved("ACCNAME"), "Tarkel - Veloran Account");
  EXPECT_EQ(Posted(), std::vector<unsigned>{WM_WIZ_CANCEL});
  // The session and its status window are gone before the closing dialog.
  ASSERT_NE(Page(), nullptr);
  EXPECT_EQ(Page()->Session(), nullptr);
  EXPECT_EQ(Page()->StatusWindow(), 0u);
}

TEST_F(DialingPage, EnterOnThePageDialsAsNextDoes) {
  ASSERT_EQ(line_->AddRoute("5550100=scenario:" + scenario("new-account.txt")), "");
  EXPECT_EQ(Run(std::string("wait 116\nkey Enter\n") + kFinish), 0);
  EXPECT_TRUE(Traced("COM2 at< ATDt5550100"));
  EXPECT_EQ(Saved("REGISTERED"), "YES");
}

TEST_F(DialingPage, AProfileWithoutREGNUMBERSaysSoAndDoesNotDial) {
  ASSERT_EQ(line_->AddRoute("5550100=scenario:" + scenario("new-account.txt")), "");
  for (const char* broken : {"[Dialing Information]\nREGSERVER=vlrreg\n",  // no REGNUMBER line
                             "[Dialing Information]\nREGNUMBER=\nREGSERVER=vlrreg\n", ""}) {
    SCOPED_TRACE(broken);
    std::ofstream(dir_ / "Joinwiz.ini", std::ios::trunc) << broken;
    EXPECT_EQ(Run("wait 116\nclick 3031\n"
                  "expect-message has no REGNUMBER setting in section [Dialing Information]\n"
                  "answer OK\nwait 116\n"),
              kNoOutcome);
    EXPECT_FALSE(Traced("ATD")) << "nothing dialed";
    ASSERT_NE(Page(), nullptr);
    EXPECT_EQ(Page()->Session(), nullptr);
    EXPECT_TRUE(is_window_enabled(page_)) << "the page stays usable";
    display_.reset();
    destroy_window(master_);
    MessageLoop::current().pump_pending();
    finished_at_ = -1;
  }
}

TEST_F(DialingPage, ExistingAccountSaysTheSoftwareIsConfigured) {
  profile_.Set("NEWUSER", "no");
  profile_.Set("EMAILID", "js");
  ASSERT_EQ(line_->AddRoute("5550100=scenario:" + scenario("existing-account.txt")), "");
  EXPECT_EQ(Run(std::string("wait 116\nexpect-text 2018 Network.  Check\nclick 3031\n") +
                "wait 120\nexpect-text 2023 Veloran Account on your Desktop.\nclick 3033\n"),
            0);
  EXPECT_TRUE(Transcribed("title \"Your Software has been Configured!\""));
  EXPECT_TRUE(Traced("COM2 srv< REPLY: no"));
  EXPECT_FALSE(Traced("srv!"));
  EXPECT_EQ(Saved("REGISTERED"), "YES");
}

// The server's configuration commands run during the call and are answered;
// what they change lies in the system root, and a path out of it is refused.
TEST_F(DialingPage, ConfigurationCommandsChangeTheComputerInsideTheRoot) {
  ScopedSystemRoot root;
  profile_.Set("NEWUSER", "no");
  const fs::path file = dir_ / "configure.txt";
  {
    std::ofstream out(file);
    out << "timeout 120\nlogin *\n"
           "send REGMOD:\\tHKEY_CURRENT_USER\\tSoftware\\\\Veloran\\tREG_SZ\\tUser\\tjsmith\n"
           "expect REPLY: OK\n"
           "send INIMOD:\\tWIN\\tvlr.ini\\tMail\\tServer\\tmail.veloran.net\n"
           "expect REPLY: OK\n"
           "send APPENDFILE:\\t\\\\autoexec.bat\\tSET VLR=1\n"
           "expect REPLY: OK\n"
           "send APPENDFILE:\\t..\\\\escape.txt\\tx\n"
           "expect REPLY: ERROR\n"
           "send STATUS:\\tCOMPLETE\nend\n";
  }
  ASSERT_EQ(line_->AddRoute("5550100=scenario:" + file.string()), "");
  EXPECT_EQ(Run(std::string("wait 116\nclick 3031\nwait 120\nclick 3033\n")), 0);
  EXPECT_FALSE(Traced("srv!"));
  EXPECT_EQ(TraceCount("srv< REPLY: OK"), 3);
  EXPECT_TRUE(Traced("srv< REPLY: ERROR"));
  reg::Key key;
  ASSERT_EQ(reg::system_registry().open_key(reg::root_key(reg::Root::CurrentUser), "Software\\Veloran", &key),
            reg::ERROR_SUCCESS);
  reg::Value value;
  ASSERT_EQ(reg::system_registry().query_value(key, "User", &value), reg::ERROR_SUCCESS);
  EXPECT_EQ(value.data, std::string("jsmith", 7));
  EXPECT_EQ(ini_read("Mail", "Server", "", 64, known_folder(KnownFolder::Windows) / "vlr.ini"), "mail.veloran.net");
  std::ifstream autoexec(known_folder(KnownFolder::DriveC) / "AUTOEXEC.BAT", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(autoexec)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "SET VLR=1\r\n");
  EXPECT_FALSE(fs::exists(root.path().parent_path() / "escape.txt"));
}

TEST_F(DialingPage, BusyShowsConnectionFailedAndRetryDialsAgainWithANewSession) {
  ASSERT_EQ(line_->AddRoute("5550100=busy,scenario:" + scenario("new-account.txt")), "");
  EXPECT_EQ(Run(std::string("wait 116\nclick 3031\nwait 119\nexpect-text 3049 BUSY\nclick 3031\n") + kFinish), 0);
  EXPECT_TRUE(Transcribed("title \"Connection Failed\""));
  EXPECT_EQ(TraceCount("COM2 at< ATDt5550100"), 2);
  EXPECT_TRUE(Traced("-> busy"));
  EXPECT_EQ(Saved("REGISTERED"), "YES");
}

TEST_F(DialingPage, AbortInConnectionFailedEndsWithExitCodeOneAndSavesNothing) {
  ASSERT_EQ(line_->AddRoute("5550100=busy"), "");
  EXPECT_EQ(Run("wait 116\nclick 3031\nwait 119\nclick 2\n"), kExitConnectionAbandoned);
  EXPECT_EQ(Saved("REGISTERED"), "<none>");
  EXPECT_EQ(Saved("USERID"), "<none>");
  EXPECT_TRUE(Posted().empty());
}

TEST_F(DialingPage, BackInConnectionFailedShowsThePageWithoutDialing) {
  ASSERT_EQ(line_->AddRoute("5550100=no-carrier"), "");
  EXPECT_EQ(Run("wait 116\nclick 3031\nwait 119\nclick 3000\nwait 116\n"), kNoOutcome);
  ASSERT_NE(Page(), nullptr);
  EXPECT_TRUE(is_window_visible(page_));
  EXPECT_TRUE(is_window_enabled(page_));
  EXPECT_EQ(TraceCount("at< ATD"), 1);
}

TEST_F(DialingPage, StatusCancelWhileDialingReturnsToThePageAndNextDialsAgain) {
  ASSERT_EQ(line_->AddRoute("5550100=scenario:" + scenario("new-account.txt")), "");
  EXPECT_EQ(Run(std::string("wait 116\nclick 3031\nwait 117\nexpect-text 3049 Dialing\nclick 2013\n"
                            "wait 116\nclick 3031\n") +
                kFinish),
            0);
  EXPECT_EQ(TraceCount("at< ATDt5550100"), 2);
  EXPECT_EQ(Saved("REGISTERED"), "YES");
}

TEST_F(DialingPage, StatusCancelLeavesAnEnabledPageWithoutStatusWindow) {
  ASSERT_EQ(line_->AddRoute("5550100=scenario:" + scenario("new-account.txt")), "");
  EXPECT_EQ(Run("wait 116\nclick 3031\nwait 117\nclick 2013\nwait 116\n"), kNoOutcome);
  ASSERT_NE(Page(), nullptr);
  EXPECT_TRUE(is_window_enabled(page_));
  EXPECT_EQ(Page()->StatusWindow(), 0u);
  ASSERT_NE(Page()->Session(), nullptr);
  EXPECT_EQ(Page()->Session()->Port(), nullptr);  // hung up
  EXPECT_FALSE(Traced("srv< vlrreg"));
}

TEST_F(DialingPage, ServerFailureShowsTheMessageAndReturnsToThePage) {
  ASSERT_EQ(line_->AddRoute("5550100=scenario:" + scenario("server-failure.txt")), "");
  EXPECT_EQ(Run("wait 116\nclick 3031\nexpect-message Remote Server has experienced some difficulties\n"
                "answer OK\nwait 116\n"),
            kNoOutcome);
  EXPECT_TRUE(Traced("COM2 srv< REPLY: OK"));
  EXPECT_FALSE(Traced("srv!"));
  ASSERT_NE(Page(), nullptr);
  EXPECT_EQ(Page()->StatusWindow(), 0u);
  EXPECT_EQ(Saved("REGISTERED"), "<none>");
}

TEST_F(DialingPage, ServerHangingUpMidwayIsAFailedConnection) {
  ASSERT_EQ(line_->AddRoute("5550100=scenario:" + scenario("hangup-midway.txt")), "");
  EXPECT_EQ(Run("wait 116\nclick 3031\nwait 119\nexpect-text 3049 Disconnected\nclick 3000\n"), kNoOutcome);
  EXPECT_TRUE(Traced("srv< REPLY: Smith"));
  // A call that breaks off registers nothing.
  EXPECT_EQ(Saved("REGISTERED"), "<none>");
  EXPECT_EQ(Saved("USERID"), "<none>");
}

// ---- the server's decisions, against the real session and dialogs ----------

TEST_F(DialingPage, PlanChoiceThenTransferWithTheUsersAccessNumberPreselected) {
  ASSERT_EQ(line_->AddRoute("5550100=scenario:" + scenario("plan-choice.txt")), "");
  EXPECT_EQ(Run("wait 116\nclick 3031\n"
                "wait 103\nexpect-text 3031 10 hours a month\nselect 3005 Standard\nexpect-text 3031 30 hours\n"
                "click 1\n"
                "wait 121\nclick 1\n" +
                std::string(kFinish)),
            0);
  EXPECT_TRUE(Traced("COM2 srv< REPLY: CONTINUE"));
  EXPECT_TRUE(Traced("COM2 srv< REPLY: PLAN2"));
  EXPECT_EQ(TraceCount("COM2 srv< REPLY: OK"), 8);  // three plans, PRICEPLAN: twice, STATUS:, TRANSFER: twice
  EXPECT_FALSE(Traced("srv!"));
  EXPECT_TRUE(Transcribed("dialog 103 \"Pricing Plan Information\""));
  EXPECT_TRUE(Transcribed("dialog 121 \"Access Number Information\""));
  EXPECT_EQ(profile_.value_or_empty("PRICEPLAN"), "P30");
  // "IL, (217) 5550190, Springfield" was preselected and taken with OK.
  EXPECT_EQ(profile_.value_or_empty("POPAREACODE"), "217");
  EXPECT_EQ(profile_.value_or_empty("POPNUMBER"), "5550190");
  EXPECT_EQ(Saved("REGISTERED"), "YES");
}

TEST_F(DialingPage, PlanWithOneAccessNumberTakesItWithoutAList) {
  ASSERT_EQ(line_->AddRoute("5550100=scenario:" + scenario("plan-choice.txt")), "");
  const std::int64_t t0 = platform::clock().now_ms();
  EXPECT_EQ(Run("wait 116\nclick 3031\nwait 103\nselect 3005 Unlimited\nclick 1\n" + std::string(kFinish)), 0);
  EXPECT_TRUE(Traced("COM2 srv< REPLY: PLAN3"));
  EXPECT_FALSE(Transcribed("dialog 121"));
  EXPECT_EQ(profile_.value_or_empty("PRICEPLAN"), "PUNL");
  EXPECT_EQ(profile_.value_or_empty("POPAREACODE"), "217");
  EXPECT_EQ(profile_.value_or_empty("POPNUMBER"), "5550199");
  EXPECT_GE(platform::clock().now_ms() - t0, 5000);
  EXPECT_EQ(Saved("REGISTERED"), "YES");
}

TEST_F(DialingPage, UsedIdPromptGivesTheServerAnotherUserId) {
  profile_.Set("USERID", "taken");
  ASSERT_EQ(line_->AddRoute("5550100=scenario:" + scenario("used-id.txt")), "");
  EXPECT_EQ(Run("wait 116\nclick 3031\n"
                "wait 106\nexpect-text 2024 already in use\nset 3022 jsmith2345\nexpect-text 3022 jsmith23\n"
                "click 1\n"
                "wait 120\nexpect-text 3002 jsmith23\nclick 3033\n"),
            0);
  EXPECT_TRUE(Transcribed("dialog 106 \"User input\""));
  EXPECT_TRUE(Traced("COM2 srv< REPLY: taken"));
  EXPECT_TRUE(Traced("COM2 srv< REPLY: CONTINUE"));
  EXPECT_TRUE(Traced("COM2 srv< REPLY: jsmith23"));
  EXPECT_FALSE(Traced("srv!"));
  EXPECT_EQ(profile_.value_or_empty("USERID"), "jsmith23");
}

TEST_F(DialingPage, BadCardIsCorrectedOnTheBillingPage) {
  ASSERT_EQ(line_->AddRoute("5550100=scenario:" + scenario("bad-card.txt")), "");
  EXPECT_EQ(Run("wait 116\nclick 3031\n"
                "wait 101\nselect 3008 Visa\nset 3009 4111111111111112\nset 3010 7\nset 3011 97\nclick 3031\n"
                "expect-message Your credit card number is invalid\nanswer OK\n"
                "set 3009 4111111111111111\nset 3010 13\nclick 3031\n"
                "expect-message Please enter month less than 13 and greater than 0 please\nanswer OK\n"
                "set 3010 07\nclick 3031\n" +
                std::string(kFinish)),
            0);
  EXPECT_TRUE(Transcribed("dialog 101 \"Credit Card Information\" title \"Credit Card Information\""));
  // The card on file was empty: the first answer, then the billing page.
  EXPECT_NE(std::find(trace_.begin(), trace_.end(), "COM2 srv< REPLY: "), trace_.end());
  EXPECT_EQ(TraceCount("COM2 srv< REPLY: CONTINUE"), 1);
  EXPECT_TRUE(Traced("COM2 srv< REPLY: 4111111111111111"));
  EXPECT_TRUE(Traced("COM2 srv< REPLY: 07"));
  EXPECT_TRUE(Traced("COM2 srv< REPLY: 97"));
  EXPECT_FALSE(Traced("srv!"));
  EXPECT_EQ(profile_.value_or_empty("CCTYPE"), "Visa");
  EXPECT_EQ(Saved("CCNUM"), "<none>");
}

TEST_F(DialingPage, CancelledPromptHangsUpKeepsThePageAndNextDialsAgain) {
  ASSERT_EQ(line_->AddRoute("5550100=scenario:" + scenario("cancelled-prompt.txt")), "");
  EXPECT_EQ(Run("wait 116\nclick 3031\nwait 103\nkey Esc\n"
                "wait 116\nexpect-text 2018 to create an account\nclick 3031\n"
                "wait 103\nclick 1\n" +
                std::string(kFinish)),
            0);
  EXPECT_EQ(TraceCount("COM2 at< ATDt5550100"), 2);
  EXPECT_EQ(TraceCount("COM2 srv< REPLY: CONTINUE"), 1);
  EXPECT_TRUE(Traced("COM2 srv< REPLY: PLAN1"));
  EXPECT_EQ(Saved("REGISTERED"), "YES");
}

TEST_F(DialingPage, CancelledPromptLeavesTheEnabledPageWithoutStatusWindow) {
  ASSERT_EQ(line_->AddRoute("5550100=scenario:" + scenario("cancelled-prompt.txt")), "");
  EXPECT_EQ(Run("wait 116\nclick 3031\nwait 103\nkey Esc\nwait 116\n"), kNoOutcome);
  ASSERT_NE(Page(), nullptr);
  EXPECT_TRUE(is_window_visible(page_));
  EXPECT_TRUE(is_window_enabled(page_));
  EXPECT_EQ(Page()->StatusWindow(), 0u);
  ASSERT_NE(Page()->Session(), nullptr);
  EXPECT_EQ(Page()->Session()->Port(), nullptr);  // hung up
  EXPECT_FALSE(Traced("srv< REPLY: CONTINUE"));
  EXPECT_TRUE(Posted().empty());
}

}  // namespace
}  // namespace wizard

namespace wizard {
namespace {

TEST_F(DialingPage, ConfigHidesTheStatusCancelAndMakesTheEntry) {
  const fs::path file = dir_ / "config.txt";
  std::ofstream(file) << "timeout 120\nlogin *\nsend CONFIG:\\tAUTO\nexpect REPLY: OK\npause 2000\n"
                         "send STATUS:\\tCOMPLETE\nend\n";
  ASSERT_EQ(line_->AddRoute("5550100=scenario:" + file.string()), "");
  profile_.Set("POPAREACODE", "800");
  profile_.Set("POPNUMBER", "5550147");
  // The call runs on the virtual port attached as COM2; the dial-up entry
  // needs a character device behind COM2's link to name in its peers file.
  const fs::path dosdevices = known_folder(KnownFolder::DosDevices);
  fs::create_directories(dosdevices);
  fs::create_symlink("/dev/null", dosdevices / "com2");
  // While the server pauses after CONFIG:, the status window's Cancel is
  // disabled and hidden.
  bool checked = false;
  const TimerId probe = MessageLoop::current().set_thread_timer(50, [&](TimerId) {
    if (checked || TraceCount("srv< REPLY: OK") < 1) return;
    CStatusDialog* status = Page() ? Page()->Status() : nullptr;
    ASSERT_NE(status, nullptr);
    EXPECT_FALSE(is_window_enabled(status->item(IDC_STATUS_CANCEL)));
    EXPECT_FALSE(is_window_visible(status->item(IDC_STATUS_CANCEL)));
    checked = true;
  });
  EXPECT_EQ(Run("wait 116\nclick 3031\nwait 120\nclick 3033\n"), 0);
  MessageLoop::current().kill_thread_timer(probe);
  EXPECT_TRUE(checked);
  EXPECT_TRUE(fs::exists(known_folder(KnownFolder::PhoneBook) / "peers" / "tarkel-veloran-account"));
}

}  // namespace
}  // namespace wizard
