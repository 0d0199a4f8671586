// The dialogs driven in-process by the scripted user of the headless
// display, in virtual time: "Set Up Modem" and its sub-dialogs, the modem
// search against scripted modems on virtual ports, the access-number
// dialogs, the help path, and the number to dial.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../serlink/fake_modem.h"
#include "support/child_process.h"
#include "cfg_dialog.h"
#include "display/headless.h"
#include "modset.h"
#include "number_dialogs.h"
#include "search_dialog.h"
#include "platform/loop/clock.h"
#include "platform/loop/log.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/shell/launcher.h"
#include "platform/loop/message_loop.h"
#include "platform/storage/system_root.h"
#include "platform/ui/window.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A record's text field: `text` cut to N - 1 characters, zeros after it.
template <std::size_t N>
void set(char (&field)[N], const char* text) {
  std::memset(field, 0, N);
  std::memcpy(field, text, std::min(std::strlen(text), N - 1));
}

class ModsetUi : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_.path() / "dosdevices");
    // COM ports lead nowhere unless a test puts a modem behind one.
    for (int n = 1; n <= 4; ++n)
      fs::create_symlink("/dev/pts/no-such-port", root_.path() / "dosdevices" / ("com" + std::to_string(n)));
    modset::reset_help_path();
  }
  void TearDown() override {
    if (probe_timer_) MessageLoop::current().kill_thread_timer(probe_timer_);
    display_.reset();
    // A failed script quits the loop to end the dialogs; take the quit.
    if (MessageLoop::current().quit_pending()) MessageLoop::current().run();
  }

  void script(const std::string& text) {
    display::HeadlessOptions o;
    o.script = text;
    o.default_timeout_ms = 60'000;
    o.on_failure = [this](int, const std::string& message) {
      failure_ = message;
      MessageLoop::current().quit(3);
    };
    std::string error;
    display_ = display::HeadlessDisplay::start(std::move(o), error);
    ASSERT_TRUE(display_) << error;
  }
  // The script ran to its end without a failure.
  void expect_script_done() {
    EXPECT_EQ(failure_, "");
    EXPECT_TRUE(display_ && display_->finished()) << "script stopped at step " << (display_ ? display_->next_step() : 0);
  }
  std::string transcript() const {
    std::string all;
    for (const auto& l : display_->transcript()) all += l + "\n";
    return all;
  }
  // Calls `probe` whenever dialog `id` is the active window.
  void when_active(int id, std::function<void(Dialog&)> probe) {
    probes_[id] = std::move(probe);
    if (probe_timer_) return;
    probe_timer_ = MessageLoop::current().set_thread_timer(5, [this](TimerId) {
      auto* d = window_cast<Dialog>(active_window());
      if (!d) return;
      auto it = probes_.find(d->template_id());
      if (it != probes_.end()) it->second(*d);
    });
  }
  fs::path ini() const { return root_.path() / "drive_c/windows/TARK_NET.INI"; }
  void write_ini(const std::string& text) {
    fs::create_directories(ini().parent_path());
    std::ofstream(ini(), std::ios::binary) << text;
  }
  void put_modem(const char* port, std::int32_t comm, std::int32_t baud, const char* setup = "") {
    CfgModemInfo m{};
    ASSERT_GE(CfgGetModemInfo(&m), 0);
    set(m.PortName, port);
    m.CommPort = comm;
    m.BaudRate = baud;
    set(m.SetupString, setup);
    ASSERT_EQ(CfgPutModemInfo(&m), CFG_OK);
  }
  CfgModemInfo modem() {
    CfgModemInfo m{};
    EXPECT_GE(CfgGetModemInfo(&m), 0);
    return m;
  }
  CfgDialingInfo dialing() {
    CfgDialingInfo d{};
    EXPECT_GE(CfgGetDialingInfo(&d), 0);
    return d;
  }

  ScopedSystemRoot root_;
  ScopedVirtualClock clock_;
  std::unique_ptr<display::HeadlessDisplay> display_;
  std::string failure_;
  std::map<int, std::function<void(Dialog&)>> probes_;
  TimerId probe_timer_ = 0;
};

// ---- CfgUiSetupDialog: modes --------------------------------------------------

TEST_F(ModsetUi, ModeChoosesTheDialogAndThePhoneNumbersButton) {
  struct Case {
    std::int32_t mode;
    int dialog;
    int phone_button;  // -1: not that dialog
  } cases[] = {{0, 30101, 0}, {33, 30101, 1}, {1, 30101, 0}, {160, 30101, 1}, {32, 30107, -1}, {128, 30106, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE("mode " + std::to_string(c.mode));
    int seen = -1;
    probes_.clear();
    when_active(c.dialog, [&](Dialog& d) {
      if (c.phone_button >= 0) seen = is_window_visible(d.item(119)) && is_window_enabled(d.item(119)) ? 1 : 0;
    });
    script("wait " + std::to_string(c.dialog) + "\nkey Esc\n");
    EXPECT_EQ(CfgUiSetupDialog(c.mode, 0, nullptr), CFG_CANCELLED);
    expect_script_done();
    EXPECT_EQ(seen, c.phone_button);
  }
  EXPECT_FALSE(fs::exists(ini())) << "closing with Cancel right away stores nothing";
}

// ---- Set Up Modem -------------------------------------------------------------

TEST_F(ModsetUi, OkStoresPortSpeedSpeakerAndDialing) {
  put_modem("COM1", 0, 2);
  script(R"(wait 30101
expect-text 109 2400
select 107 COM3
select 109 28800
set 128 9,
set 129 *70,
click 112
click 115
uncheck 116
click 1
)");
  EXPECT_EQ(CfgUiSetupDialog(0, 0, nullptr), CFG_OK);
  expect_script_done();
  const CfgModemInfo m = modem();
  EXPECT_STREQ(m.PortName, "COM3");
  EXPECT_EQ(m.CommPort, 2);
  EXPECT_EQ(m.BaudRate, 13) << "28800 has code 13";
  EXPECT_EQ(m.SpeakerOff, 1);
  const CfgDialingInfo d = dialing();
  EXPECT_EQ(d.DialType, 0);
  EXPECT_EQ(d.DialBlind, 1);
  EXPECT_STREQ(d.DialPrefix, "9,");
  EXPECT_STREQ(d.DisableCallWaiting, "*70,");
  EXPECT_NE(slurp(ini()).find("Port Name=COM3\n"), std::string::npos);
  EXPECT_NE(slurp(ini()).find("Comm Port=2\n"), std::string::npos);
}

TEST_F(ModsetUi, SpeedCodesShowAtTheirListPosition) {
  struct Case {
    std::int32_t code;
    const char* shown;
  } cases[] = {{2, "2400"}, {4, "2400"}, {13, "28800"}, {7, "19200"}, {8, "38400"}, {10, "115200"}, {-5, "2400"}, {99, "2400"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    put_modem("COM1", 0, c.code);
    script(std::string("wait 30101\nexpect-text 109 ") + c.shown + "\nkey Esc\n");
    EXPECT_EQ(CfgUiSetupDialog(0, 0, nullptr), CFG_CANCELLED);
    expect_script_done();
  }
}

TEST_F(ModsetUi, OutOfRangePortAndDialTypeAreKeptByOk) {
  put_modem("/dev/ttyUSB0", 7, 4);
  CfgDialingInfo d = dialing();
  d.DialType = 5;
  ASSERT_EQ(CfgPutDialingInfo(&d), CFG_OK);
  int port_sel = 0, pulse = 0;
  when_active(30101, [&](Dialog& dlg) {
    port_sel = dlg.combo(107)->cur_sel();
    pulse = dlg.is_checked(112);
  });
  script("wait 30101\nclick 1\n");
  EXPECT_EQ(CfgUiSetupDialog(0, 0, nullptr), CFG_OK);
  expect_script_done();
  EXPECT_EQ(port_sel, -1) << "port index 7 is none of COM1 to COM4";
  EXPECT_EQ(pulse, BST_CHECKED) << "any dial type but 1 is pulse";
  EXPECT_STREQ(modem().PortName, "/dev/ttyUSB0");
  EXPECT_EQ(modem().CommPort, 7);
  EXPECT_EQ(modem().BaudRate, 2) << "the unknown code shows as 2400 and is stored as it";
  EXPECT_EQ(dialing().DialType, 0);
}

TEST_F(ModsetUi, TwoSavesWithTheSpeakerSilentStoreThePatchedString) {
  // "&Advanced..." saves first; OK saves again from the patched read.
  script(R"(wait 30101
click 115
click 118
wait 30102
key Esc
wait 30101
click 1
)");
  EXPECT_EQ(CfgUiSetupDialog(0, 0, nullptr), CFG_OK);
  expect_script_done();
  EXPECT_NE(slurp(ini()).find("Setup String=\" M0\"\n"), std::string::npos) << slurp(ini());
  EXPECT_STREQ(modem().SetupString, " M0") << "the leading blank survives the file";
}

TEST_F(ModsetUi, CancelRestoresTheSnapshotsAfterAdvancedStored) {
  put_modem("COM2", 1, 8, "AT &K3");
  CfgDialingInfo d = dialing();
  set(d.DialPrefix, "8,");
  ASSERT_EQ(CfgPutDialingInfo(&d), CFG_OK);
  const CfgModemInfo modem_before = modem();
  const CfgDialingInfo dialing_before = dialing();
  script(R"(wait 30101
select 107 COM4
set 128 9,
click 118
wait 30102
set 3013 AT &F
set 3011 ATM0X3
click 1
wait 30101
click 2
)");
  EXPECT_EQ(CfgUiSetupDialog(0, 0, nullptr), CFG_CANCELLED);
  expect_script_done();
  const CfgModemInfo m = modem();
  EXPECT_STREQ(m.PortName, modem_before.PortName);
  EXPECT_EQ(m.CommPort, modem_before.CommPort);
  EXPECT_STREQ(m.ResetString, modem_before.ResetString);
  EXPECT_STREQ(m.SetupString, modem_before.SetupString);
  EXPECT_EQ(m.SpeakerOff, modem_before.SpeakerOff);
  EXPECT_EQ(std::memcmp(&dialing_before, &d, 0), 0);
  EXPECT_STREQ(dialing().DialPrefix, dialing_before.DialPrefix);
  EXPECT_EQ(dialing().DialBlind, dialing_before.DialBlind);
}

TEST_F(ModsetUi, CancelWithoutASaveLeavesTheFileAlone) {
  put_modem("COM2", 1, 8);
  const std::string before = slurp(ini());
  script("wait 30101\nselect 107 COM4\nclick 2\n");
  EXPECT_EQ(CfgUiSetupDialog(0, 0, nullptr), CFG_CANCELLED);
  expect_script_done();
  EXPECT_EQ(slurp(ini()), before);
}

TEST_F(ModsetUi, AdvancedInitStringSetsSpeakerAndBlindDialing) {
  int silent = -1, wait_box = -1;
  when_active(30101, [&](Dialog& d) {
    silent = d.is_checked(115);
    wait_box = d.is_checked(116);
  });
  script(R"(wait 30101
click 118
wait 30102
set 3011 ATM0X3
click 1
wait 30101
click 1
)");
  EXPECT_EQ(CfgUiSetupDialog(0, 0, nullptr), CFG_OK);
  expect_script_done();
  EXPECT_EQ(modem().SpeakerOff, 1);
  EXPECT_EQ(dialing().DialBlind, 1);
  EXPECT_EQ(silent, BST_CHECKED);
  EXPECT_EQ(wait_box, BST_UNCHECKED);
  EXPECT_STREQ(modem().SetupString, "ATM0X3");
}

TEST_F(ModsetUi, ADamagedFileGivesDefaultsAndKeepsForeignSections) {
  write_ini(std::string("\x01\x02garbage\n[PPU]\nKey=1\n[Modem Information]\nBaud Rate=zz\n\0\xff", 48));
  script("wait 30101\nexpect-text 109 2400\nclick 1\n");
  EXPECT_EQ(CfgUiSetupDialog(0, 0, nullptr), CFG_OK);
  expect_script_done();
  const std::string after = slurp(ini());
  EXPECT_NE(after.find("[PPU]\nKey=1\n"), std::string::npos) << "another program's section survives";
  EXPECT_EQ(modem().BaudRate, 2);
}

TEST_F(ModsetUi, AFileThatIsAFolderIsReportedAndTheDialogStaysOpen) {
  fs::create_directories(ini());
  script(R"(wait 30101
click 1
expect-message Problem saving the settings!
answer OK
wait 30101
click 2
)");
  EXPECT_EQ(CfgUiSetupDialog(0, 0, nullptr), CFG_CANCELLED);
  expect_script_done();
  EXPECT_NE(transcript().find("message-box \"Modem and Dialing Settings\" icon stop"), std::string::npos)
      << transcript();
  EXPECT_TRUE(fs::is_directory(ini()));
  EXPECT_TRUE(fs::is_empty(ini()));
}

// ---- A display from the environment ----------------------------------------------

// A program that installed no display gets the scripted user from its
// environment. A script that fails, runs out of steps or cannot be parsed
// never ends or hangs that program: each dialog call returns CFG_E_UI, the
// reason goes to the log file asked for, and nothing reaches the program's
// standard error. Each case runs in a child, as a fresh program would.
TEST_F(ModsetUi, AScriptThatFailsEndsTheDialogsNotTheProgram) {
  struct Case {
    const char* name;
    const char* script;
    const char* log_line;
  } const cases[] = {
      {"a step that cannot act", "wait 30101\ncheck 128\n",
       "ERROR headless: script line 2: check 128: control 128 is not a check box or radio button: the open "
       "dialogs are ended\n"},
      {"out of steps", "timeout 5\nwait 30101\n",
       "ERROR headless: end of script: a dialog is still open after 5 s: the open dialogs are ended\n"},
      {"an unknown step", "wait 30101\nfrobnicate 3\n", "ERROR modset: no display for the dialogs: script line 2: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path answers = root_.path() / "answers", log = root_.path() / "modset.log",
                   err = root_.path() / "stderr";
    std::ofstream(answers) << c.script;
    fs::remove(log);
    const std::string outcome = test_support::run_in_child([&] {
      ::setenv("VLR_UI", "headless", 1);
      ::setenv("VLR_ANSWERS", answers.c_str(), 1);
      const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(fd, STDERR_FILENO);
      std::string results = std::to_string(CfgUiSetupDialog(0, 0, nullptr));
      // Asked for now, as VLR_LOG does at start: the second call's lines.
      platform::set_log_file(log.string());
      results += " " + std::to_string(CfgUiSetupDialog(0, 0, nullptr));
      return results;
    });
    EXPECT_EQ(outcome, std::to_string(CFG_E_UI) + " " + std::to_string(CFG_E_UI));
    EXPECT_EQ(slurp(err), "") << "the library wrote to its host's standard error";
    if (std::string(c.name) == "an unknown step") {
      EXPECT_EQ(slurp(log).rfind(c.log_line, 0), 0u) << slurp(log);
    } else {
      // The second dialog is ended as soon as it opens: the user is gone.
      EXPECT_NE(slurp(log).find("ERROR modset: the dialog could not be shown, or was ended without its user"),
                std::string::npos)
          << slurp(log);
    }
  }
}

// The first call's reason, written where the program asked from the start.
TEST_F(ModsetUi, AFailingScriptIsLoggedWhereAsked) {
  const fs::path answers = root_.path() / "answers", log = root_.path() / "modset.log";
  for (const auto& [script, line] : std::vector<std::pair<std::string, std::string>>{
           {"wait 30101\ncheck 128\n", "ERROR headless: script line 2: check 128: control 128 is not a check box or "
                                         "radio button: the open dialogs are ended\n"},
           {"timeout 5\nwait 30101\n",
            "ERROR headless: end of script: a dialog is still open after 5 s: the open dialogs are ended\n"}}) {
    std::ofstream(answers) << script;
    fs::remove(log);
    const std::string outcome = test_support::run_in_child([&] {
      ::setenv("VLR_UI", "headless", 1);
      ::setenv("VLR_ANSWERS", answers.c_str(), 1);
      platform::set_log_file(log.string());
      return std::to_string(CfgUiSetupDialog(0, 0, nullptr));
    });
    EXPECT_EQ(outcome, std::to_string(CFG_E_UI));
    EXPECT_EQ(slurp(log).rfind(line, 0), 0u) << slurp(log);
  }
}

// ---- Help ---------------------------------------------------------------------

TEST_F(ModsetUi, HelpPathLimits) {
  const char* path = nullptr;
  EXPECT_EQ(CfgUiGetHelpFile(nullptr), CFG_E_PARAM);
  EXPECT_EQ(CfgUiSetHelpFile(nullptr), CFG_E_PARAM);
  ASSERT_EQ(CfgUiGetHelpFile(&path), CFG_OK);
  EXPECT_STREQ(path, "") << "no active window: no default";
  const std::string p1030(1030, 'a'), p1031(1031, 'b'), p5000(5000, 'c');
  EXPECT_EQ(CfgUiSetHelpFile(p1030.c_str()), CFG_OK);
  ASSERT_EQ(CfgUiGetHelpFile(&path), CFG_OK);
  EXPECT_EQ(std::string(path), p1030);
  EXPECT_EQ(CfgUiSetHelpFile(p1031.c_str()), CFG_E_PARAM);
  EXPECT_EQ(CfgUiSetHelpFile(p5000.c_str()), CFG_E_PARAM);
  ASSERT_EQ(CfgUiGetHelpFile(&path), CFG_OK);
  EXPECT_EQ(std::string(path), p1030) << "a refused path changes nothing";
}

TEST_F(ModsetUi, DefaultHelpPathIsModsetHlpBesideTheProgram) {
  std::string seen;
  when_active(30101, [&](Dialog&) {
    const char* p = nullptr;
    if (seen.empty() && CfgUiGetHelpFile(&p) == CFG_OK) seen = p;
  });
  script("wait 30101\nkey Esc\n");
  EXPECT_EQ(CfgUiSetupDialog(0, 0, nullptr), CFG_CANCELLED);
  expect_script_done();
  EXPECT_EQ(seen, (program_folder() / "modset.hlp").string());
}

TEST_F(ModsetUi, F1OpensTheDialogsTopicOrBeepsWithoutHelp) {
  const fs::path help = root_.path() / "modset.hlp";
  std::ofstream(help) << "; topics\n[161173] Setting Up Your Modem\nChoose the port\nand the speed.\n\n"
                         "Then OK.\n[161179] Access numbers\nPick one.\n";
  ASSERT_EQ(CfgUiSetHelpFile(help.c_str()), CFG_OK);
  std::string text;
  when_active(30190, [&](Dialog& d) { text = d.item_text(3100); });
  script(R"(wait 30101
key F1
wait 30190
click 1
wait 30101
key Esc
)");
  EXPECT_EQ(CfgUiSetupDialog(0, 0, nullptr), CFG_CANCELLED);
  expect_script_done();
  EXPECT_EQ(text, "Choose the port and the speed.\r\n\r\nThen OK.");
  EXPECT_NE(transcript().find("dialog 30190 \"Modem Settings Help - Setting Up Your Modem\""), std::string::npos);

  // The Zrs dialog allows no help: F1 beeps.
  script("wait 30106\nkey F1\nkey Esc\n");
  EXPECT_EQ(CfgUiSetupDialog(128, 0, nullptr), CFG_CANCELLED);
  expect_script_done();
  EXPECT_NE(transcript().find("beep"), std::string::npos);

  // A topic the file lacks, and a file that is not there, are said so.
  script("wait 30101\nclick 118\nwait 30102\nkey F1\nexpect-message Help topic 161174 is not in\nanswer OK\n"
         "key Esc\nwait 30101\nkey Esc\n");
  EXPECT_EQ(CfgUiSetupDialog(0, 0, nullptr), CFG_CANCELLED);
  expect_script_done();
  ASSERT_EQ(CfgUiSetHelpFile((root_.path() / "none.hlp").c_str()), CFG_OK);
  script("wait 30107\nkey F1\nexpect-message Cannot open the help file\nanswer OK\nkey Esc\n");
  EXPECT_EQ(CfgUiSetupDialog(32, 0, nullptr), CFG_CANCELLED);
  expect_script_done();
}

// ---- Access numbers -----------------------------------------------------------

TEST_F(ModsetUi, NumberToDial) {
  struct Case {
    const char* area;
    const char* selected;
    std::int32_t use_selected;
    const char* custom;
    const char* want;
  } cases[] = {
      {"415", "415-555-0100", 1, "", "5550100"},
      {"212", "415-555-0100", 1, "", "14155550100"},
      {"415", "(415) 555-0100", 1, "", "14155550100"},
      {"415", "415 555-0100 x#;*,9", 1, "", "5550100#;*,9"},
      {"", "", 1, "", ""},  // both empty: the zero bytes match, a local call
      {"415", "415-555-0100", 0, "9,555-0100", "9,555-0100"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.selected);
    CfgNsvConfigInfo n{};
    set(n.AreaCode, c.area);
    set(n.SelectedAccess, c.selected);
    set(n.CustomAccess, c.custom);
    n.UseSelectedPop = c.use_selected;
    ASSERT_EQ(CfgPutNsvConfigInfo(&n), CFG_OK);
    char number[64];
    std::memset(number, 'x', sizeof number);
    EXPECT_GE(CfgGetNsvAccessInfo(number), 0);
    EXPECT_STREQ(number, c.want);
  }
  EXPECT_EQ(CfgGetNsvAccessInfo(nullptr), CFG_E_PARAM);
}

TEST_F(ModsetUi, NumberToDialNeverStoredOrUnreadable) {
  char number[64] = "old";
  EXPECT_EQ(CfgGetNsvAccessInfo(number), CFG_DEFAULTS);
  EXPECT_STREQ(number, "");
  fs::create_directories(ini());
  std::strcpy(number, "old");
  EXPECT_EQ(CfgGetNsvAccessInfo(number), CFG_E_READ);
  EXPECT_STREQ(number, "");
}

TEST_F(ModsetUi, NumberToDialLongestResultFits) {
  CfgDialingInfo d = dialing();
  set(d.DialLongDistance, "1234567");
  ASSERT_EQ(CfgPutDialingInfo(&d), CFG_OK);
  CfgNsvConfigInfo n{};
  set(n.AreaCode, "999");
  set(n.SelectedAccess, std::string(39, '5').c_str());
  n.UseSelectedPop = 1;
  ASSERT_EQ(CfgPutNsvConfigInfo(&n), CFG_OK);
  char number[64];
  EXPECT_EQ(CfgGetNsvAccessInfo(number), CFG_OK);
  EXPECT_EQ(std::strlen(number), 46u);
}

TEST_F(ModsetUi, PreviewOfTheNumberToBeDialed) {
  EXPECT_EQ(modset::nsv_preview_number("415-555-0100", "415", "1"), "-555-0100");
  EXPECT_EQ(modset::nsv_preview_number("415-555-0100", "212", "1"), "1415-555-0100");
  EXPECT_EQ(modset::nsv_preview_number("(415) 555-0100", "415", "1"), ") 555-0100");
  EXPECT_EQ(modset::nsv_preview_number("SF 415-555-0100 (main)", "", "1"), "1415-555-0100 (");
  EXPECT_EQ(modset::nsv_preview_number("no digits", "415", "1"), "");
  EXPECT_EQ(modset::nsv_preview_number("41", "41", "1"), "");
}

class NsvDialog : public ModsetUi {
 protected:
  void store_pops(std::int32_t count, const char* selected = "", const char* area = "") {
    pops_.assign(static_cast<std::size_t>(count), CfgNsvPopEntry{});
    for (std::int32_t i = 0; i < count; ++i) {
      set(pops_[i].Pop, ("P" + std::to_string(i)).c_str());
      char number[40];
      std::snprintf(number, sizeof number, "%03d-555-%04d", 415 + (i % 3), static_cast<int>(i % 10000));
      set(pops_[i].AccessNumber, number);
    }
    CfgNsvConfigInfo n{};
    set(n.SelectedAccess, selected);
    set(n.AreaCode, area);
    n.UseSelectedPop = 1;
    n.PopList = {count, pops_.data()};
    ASSERT_EQ(CfgPutNsvConfigInfo(&n), CFG_OK);
  }
  std::string pop_section() {
    const std::string all = slurp(ini());
    const auto at = all.find("[NSV POP List]");
    return at == std::string::npos ? std::string() : all.substr(at, all.find("\n[", at + 1) - at);
  }
  CfgNsvConfigInfo nsv() {
    CfgNsvConfigInfo n{};
    EXPECT_GE(CfgGetNsvConfigInfo(&n), 0);
    return n;
  }
  std::vector<CfgNsvPopEntry> pops_;
};

TEST_F(NsvDialog, PreviewFollowsAreaCodeListAndOverride) {
  store_pops(3, "415-555-0000", "415");
  std::string described;
  when_active(30107, [&](Dialog& d) { described = d.item_text(147); });
  script(R"(wait 30107
expect-text 141 415-555-0000
expect-text 145 -555-0000
set 138 212
expect-text 145 1415-555-0000
select 141 416-555-0001
expect-text 145 1416-555-0001
set 140 555-0100
check 139
expect-text 145 555-0100
click 1
)");
  EXPECT_EQ(CfgUiSetupDialog(32, 0, nullptr), CFG_OK);
  expect_script_done();
  EXPECT_EQ(described, "Select the phone number to use for connecting to Internet services offered through your "
                       "Tarkel software.");
  const std::string file = slurp(ini());
  EXPECT_NE(file.find("Use Selected Pop=\n"), std::string::npos) << "override: the default 0, stored empty";
  EXPECT_NE(file.find("Custom Access=555-0100\n"), std::string::npos);
  EXPECT_NE(file.find("Area Code=212\n"), std::string::npos);
  EXPECT_NE(file.find("Selected Access=416-555-0001\n"), std::string::npos);
}

TEST_F(NsvDialog, DialedFirstIsCallWaitingThenPrefixAndTheDescriptionIsTheCallers) {
  CfgDialingInfo d = dialing();
  set(d.DisableCallWaiting, "*70,");
  set(d.DialPrefix, "9,");
  ASSERT_EQ(CfgPutDialingInfo(&d), CFG_OK);
  script("wait 30107\nexpect-text 144 *70,9,\nexpect-text 147 Pick a number\nkey Esc\n");
  EXPECT_EQ(CfgUiSetupDialog(32, 0, "Pick a number"), CFG_CANCELLED);
  expect_script_done();
}

TEST_F(NsvDialog, AFullPopListIsShownAndNotRewritten) {
  store_pops(512);
  const std::string before = pop_section();
  ASSERT_NE(before.find("P511=416-555-0511"), std::string::npos);
  int items = 0;
  when_active(30107, [&](Dialog& dlg) { items = dlg.combo(141)->count(); });
  script("wait 30107\nexpect-text 141 415-555-0000\nselect 141 416-555-0511\nset 138 415\nclick 1\n");
  EXPECT_EQ(CfgUiSetupDialog(32, 0, nullptr), CFG_OK);
  expect_script_done();
  EXPECT_EQ(items, 512);
  EXPECT_EQ(pop_section(), before) << "the dialog only reads the POP list";
  EXPECT_STREQ(nsv().SelectedAccess, "416-555-0511");
  EXPECT_EQ(nsv().UseSelectedPop, 1);
}

TEST_F(NsvDialog, InvalidOverridesAreRefusedAndNothingIsStored) {
  store_pops(2);
  const std::string before = slurp(ini());
  const std::string forty(40, '5');
  script(R"(wait 30107
check 139
set 140 call the office
click 1
expect-message The supplied phone number is invalid.
answer OK
uncheck 139
set 140 )" + forty + R"(
click 1
expect-message Please enter a valid phone number.
answer OK
check 139
click 1
expect-message The supplied phone number is invalid.
answer OK
key Esc
)");
  EXPECT_EQ(CfgUiSetupDialog(32, 0, nullptr), CFG_CANCELLED);
  expect_script_done();
  EXPECT_EQ(slurp(ini()), before);
  EXPECT_NE(transcript().find("message-box \"Dialing Settings\" icon stop"), std::string::npos);
}

TEST_F(NsvDialog, AnOverrideOf39CharactersFitsExactly) {
  store_pops(1);
  const std::string number = "9," + std::string(37, '5');
  script("wait 30107\ncheck 139\nset 140 " + number + "\nexpect-text 145 " + number + "\nclick 1\n");
  EXPECT_EQ(CfgUiSetupDialog(32, 0, nullptr), CFG_OK);
  expect_script_done();
  EXPECT_EQ(std::string(nsv().CustomAccess), number);
  EXPECT_EQ(nsv().UseSelectedPop, 0);
  char dial[64];
  EXPECT_EQ(CfgGetNsvAccessInfo(dial), CFG_OK);
  EXPECT_EQ(std::string(dial), number);
}

TEST_F(NsvDialog, NoPopListLeavesTheListAndPreviewEmpty) {
  int items = -1, sel = 0;
  when_active(30107, [&](Dialog& d) {
    items = d.combo(141)->count();
    sel = d.combo(141)->cur_sel();
  });
  script("wait 30107\nexpect-text 145 \nkey Esc\n");
  EXPECT_EQ(CfgUiSetupDialog(32, 0, nullptr), CFG_CANCELLED);
  expect_script_done();
  EXPECT_EQ(items, 0);
  EXPECT_EQ(sel, -1);
}

TEST_F(ModsetUi, ZrsDialogListsTollFreeThenCustomAndChecksTypedNumbers) {
  CfgZrsAccessInfo z{};
  ASSERT_GE(CfgGetZrsAccessInfo(&z), 0);
  set(z.CustomAccessNumber, "555-0123");
  z.UseCustomAccess = 1;
  ASSERT_EQ(CfgPutZrsAccessInfo(&z), CFG_OK);
  std::vector<std::string> items;
  int sel = -2;
  when_active(30106, [&](Dialog& d) {
    items = d.combo(137)->items();
    sel = d.combo(137)->cur_sel();
  });
  script(R"(wait 30106
set 137 no digits here
click 1
expect-message The supplied phone number is invalid.
answer OK
select 137 U.S. or Canada Call (toll free)
click 1
)");
  EXPECT_EQ(CfgUiSetupDialog(128, 0, nullptr), CFG_OK);
  expect_script_done();
  EXPECT_EQ(items, (std::vector<std::string>{"U.S. or Canada Call (toll free)", "555-0123"}));
  EXPECT_EQ(sel == 1 || sel == 0, true);
  ASSERT_GE(CfgGetZrsAccessInfo(&z), 0);
  EXPECT_EQ(z.UseCustomAccess, 0);
  EXPECT_STREQ(z.CustomAccessNumber, "555-0123") << "the custom number stays for the next time";

  script("wait 30106\nset 137 1-800-555-0100\nclick 1\n");
  EXPECT_EQ(CfgUiSetupDialog(128, 0, nullptr), CFG_OK);
  expect_script_done();
  ASSERT_GE(CfgGetZrsAccessInfo(&z), 0);
  EXPECT_EQ(z.UseCustomAccess, 1);
  EXPECT_STREQ(z.CustomAccessNumber, "1-800-555-0100");
}

// ---- The modem search ---------------------------------------------------------

using Search = ModsetUi;

TEST_F(Search, OneModemIsConfiguredAndPhoneLineSettingsFollow) {
  serlink_test::FakeModem com2(2);
  com2.ati0 = "288";
  com2.ati3 = "Sportster";
  script(R"(wait 30103
wait 30104
set 128 9,
click 112
click 1
)");
  EXPECT_EQ(CfgUiAutoDetectDialog(0, 1), CFG_OK);
  expect_script_done();
  const CfgModemInfo m = modem();
  EXPECT_STREQ(m.PortName, "COM2:");
  EXPECT_EQ(m.CommPort, 1);
  EXPECT_EQ(m.FlowControl, 12);
  EXPECT_STREQ(m.ResetString, "AT &F");
  EXPECT_EQ(std::string(m.SetupString).rfind("AT W1 X4", 0), 0u) << m.SetupString;
  EXPECT_STREQ(dialing().DialPrefix, "9,");
  EXPECT_EQ(dialing().DialType, 0);
}

TEST_F(Search, CancellingThePhoneLineDialogStillSucceeds) {
  serlink_test::FakeModem com1(1);
  script("wait 30103\nwait 30104\nkey Esc\n");
  EXPECT_EQ(CfgUiAutoDetectDialog(0, 1), CFG_OK);
  expect_script_done();
  EXPECT_STREQ(modem().PortName, "COM1:");
  EXPECT_FALSE(fs::exists(ini()) && slurp(ini()).find("[Dialing Information]") != std::string::npos);
}

TEST_F(Search, TwoModemsAskWhichOne) {
  serlink_test::FakeModem com2(2), com3(3);
  std::vector<std::string> names;
  when_active(30105, [&](Dialog& d) { names = d.list(143)->items(); });
  script("wait 30105\nselect 143 COM3:\nclick 1\n");
  EXPECT_EQ(CfgUiAutoDetectDialog(0, 0), CFG_OK);
  expect_script_done();
  EXPECT_EQ(names, (std::vector<std::string>{"COM2:", "COM3:"}));
  EXPECT_STREQ(modem().PortName, "COM3:");
  EXPECT_EQ(modem().CommPort, 2);
  EXPECT_TRUE(com2.commands.size() > 0);
}

TEST_F(Search, FirstPortOnlyTakesTheFirstModemWithoutAsking) {
  serlink_test::FakeModem com2(2), com3(3);
  script("wait 30103\n");
  EXPECT_EQ(CfgUiAutoDetectDialog(1, 0), CFG_OK);
  expect_script_done();
  EXPECT_STREQ(modem().PortName, "COM2:");
  EXPECT_TRUE(com3.commands.empty()) << "the enumeration stopped at COM2";
  EXPECT_EQ(transcript().find("dialog 30105"), std::string::npos);
}

TEST_F(Search, CancelInSelectAModemStoresNothing) {
  serlink_test::FakeModem com2(2), com3(3);
  script("wait 30105\nclick 2\n");
  EXPECT_EQ(CfgUiAutoDetectDialog(0, 0), CFG_CANCELLED);
  expect_script_done();
  EXPECT_FALSE(fs::exists(ini()));
  EXPECT_EQ(transcript().find("message-box"), std::string::npos) << "a stop has no message";
}

TEST_F(Search, NoModemSaysSoAndCancels) {
  // Nothing behind any port: the message comes at once.
  script("expect-message A modem was not found.\nanswer OK\n");
  EXPECT_EQ(CfgUiAutoDetectDialog(0, 0), CFG_CANCELLED);
  expect_script_done();
  EXPECT_NE(transcript().find("message-box \"Modem Auto-Detect\" icon exclamation \"A modem was not found.\""),
            std::string::npos)
      << transcript();
  EXPECT_FALSE(fs::exists(ini()));
}

TEST_F(Search, CancelDuringTheSearchStopsItAndStoresNothing) {
  serlink_test::FakeModem silent(1, true);  // probing it takes seconds
  put_modem("COM4", 3, 9);
  const std::string before = slurp(ini());
  script("wait 30103\nexpect-text 3026 Looking for a modem on COM1:....\nclick 2\n");
  EXPECT_EQ(CfgUiAutoDetectDialog(0, 0), CFG_CANCELLED);
  expect_script_done();
  EXPECT_EQ(slurp(ini()), before);
  EXPECT_EQ(transcript().find("message-box"), std::string::npos);
}

TEST_F(Search, ASecondSearchWhileOneRunsIsRefused) {
  serlink_test::FakeModem silent(1, true);
  std::int32_t second = 0;
  bool tried = false;
  when_active(30103, [&](Dialog&) {
    if (tried || !modset::search_running()) return;
    tried = true;
    second = CfgUiAutoDetectDialog(0, 0);
  });
  script("wait 30103\nexpect-text 3026 Looking for a modem\nclick 2\n");
  EXPECT_EQ(CfgUiAutoDetectDialog(0, 0), CFG_CANCELLED);
  expect_script_done();
  EXPECT_TRUE(tried);
  EXPECT_EQ(second, CFG_E_UI);
}

TEST_F(Search, FindModemFromSetUpModemShowsTheFoundPort) {
  serlink_test::FakeModem com3(3);
  script(R"(wait 30101
set 128 8,
click 117
wait 30101
expect-text 107 COM3
click 2
)");
  EXPECT_EQ(CfgUiSetupDialog(0, 0, nullptr), CFG_CANCELLED);
  expect_script_done();
  EXPECT_STREQ(modem().PortName, "COM3:") << "the search's store stays after Cancel";
  EXPECT_STREQ(dialing().DialPrefix, "") << "Set Up Modem itself stored nothing";
}

TEST_F(Search, AStoreThatFailsAfterTheConfigurationIsReportedButEndsWithOk) {
  serlink_test::FakeModem com2(2);
  fs::create_directories(ini());  // TARK_NET.INI cannot be read or written
  script("expect-message Error configuring the modem on port COM2:.\nanswer OK\n");
  EXPECT_EQ(CfgUiAutoDetectDialog(0, 0), CFG_OK);
  expect_script_done();
  EXPECT_TRUE(fs::is_empty(ini()));
}

TEST_F(Search, F1InTheSearchDialogBeeps) {
  serlink_test::FakeModem silent(1, true);
  script("wait 30103\nexpect-text 3026 Looking\nkey F1\nclick 2\n");
  EXPECT_EQ(CfgUiAutoDetectDialog(0, 0), CFG_CANCELLED);
  expect_script_done();
  EXPECT_NE(transcript().find("beep"), std::string::npos);
}

}  // namespace
