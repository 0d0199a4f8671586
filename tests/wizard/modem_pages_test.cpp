// The modem level driven in-process: the Modem Setup master with the library
// and shell calls replaced (found, not found, several ports, aborts, the
// telephony check), the confirm and dialing-information pages, and one run
// through the real libserlink against a scripted modem on a virtual port.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "../serlink/fake_modem.h"
#include "platform/loop/clock.h"
#include "platform/ui/display.h"
#include "platform/ui/message_box.h"
#include "platform/loop/message_loop.h"
#include "platform/storage/system_root.h"
#include "platform/ui/user_input.h"
#include "wizard/modem_level.h"
#include "wizard/pages.h"
#include "support/temp_dir.h"

namespace wizard {
namespace {

namespace fs = std::filesystem;
using namespace platform;

// A modem the fake library "finds": port index, speed code, strings.
struct FakeFind {
  std::vector<int> ports;  // indexes answered by the enumeration
  std::int32_t enumerate_rc = 0;
  std::int32_t configure_rc = 0;
  std::int32_t speed = 8;
  std::string reset = "AT &F";
  std::string setup = "AT W1 &K3";
};

class ModemPages : public ::testing::Test {
 protected:
  void SetUp() override {
    set_wizard_paths({dir_, dir_ / "Joinwiz.ini"});
    clear_bitmap_folders();
    add_bitmap_folder(fs::path(VLR_SOURCE_DIR) / "data");
    register_page_templates();
    register_modem_templates();
    profile_.SetDefaults(default_profile_keys());
    install_fakes();
    // Answers every message box with Enter and remembers its text.
    answerer_ = MessageLoop::current().set_thread_timer(5, [this](TimerId) {
      if (auto* box = window_cast<MessageBoxWindow>(active_window())) {
        messages_.push_back(box->message());
        press_key(Key::Enter);
      } else if (auto* select = window_cast<CModemSelectDialog>(active_window())) {
        if (on_select) on_select(*select);
      }
    });
  }
  void TearDown() override {
    MessageLoop::current().kill_thread_timer(answerer_);
    if (host_ && is_window(host_)) destroy_window(host_);
    pump();
    set_modem_services(default_modem_services());
  }

  void install_fakes() {
    ModemServices s;
    s.enumerate = [this](ModemPortList* list) {
      ++enumerations_;
      statuses_.push_back(status_text());
      if (during_enumeration) during_enumeration(list);
      std::uint32_t n = 0;
      for (int port : find_.ports) {
        if (n == list->count) break;
        list->entries[n]->port = port;
        std::snprintf(list->entries[n]->name, SERLINK_PORT_NAME_SIZE, "COM%d:", port + 1);
        ++n;
      }
      list->count = n;
      return find_.enumerate_rc != SERLINK_OK ? find_.enumerate_rc : (n > 0 ? SERLINK_OK : SERLINK_E_NO_MODEM);
    };
    s.configure = [this](ModemAutoConfigRecord* r) {
      statuses_.push_back(status_text());
      configured_port_ = r->metrics.channel;
      if (find_.configure_rc != 0) return find_.configure_rc;
      r->metrics.speed = find_.speed;
      std::strcpy(r->reset, find_.reset.c_str());
      std::strcpy(r->setup, find_.setup.c_str());
      return 0;
    };
    s.probe = [this] {
      ++probe_calls_;
      return probe_;
    };
    s.start_control_panel = [this](HWND notify, unsigned message) {
      ++panel_starts_;
      panel_notify_ = notify;
      panel_message_ = message;
      return panel_result_;
    };
    set_modem_services(s);
  }

  // Status line of the detection page that is up (or of `detect_`).
  std::string status_text() {
    HWND h = detect_ ? detect_ : (host() ? host()->current_page() : 0);
    auto* d = window_cast<CModemDetectDialog>(h);
    return d ? d->item_text(IDC_DETECT_STATUS) : std::string();
  }

  void pump(int rounds = 20) {
    for (int i = 0; i < rounds; ++i) {
      clock_.get().advance(10);
      MessageLoop::current().pump_pending();
    }
  }
  CModemSetupDialog* start_host() {
    auto* h = new_window<CModemSetupDialog>(&profile_, HWND{0});
    host_ = h->CreateModeless();
    EXPECT_NE(host_, 0u);
    show_window(host_, SW_SHOW);
    pump();
    return h;
  }
  CModemSetupDialog* host() { return window_cast<CModemSetupDialog>(host_); }
  CBaseDialog* page() { return host() ? window_cast<CBaseDialog>(host()->current_page()) : nullptr; }
  int page_template() { return page() ? page()->template_id() : 0; }
  void click_id(Dialog* d, int id) {
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(click(d->item(id))) << "control " << id;
    pump();
  }
  void next() { click_id(page() ? static_cast<Dialog*>(page()) : host(), IDC_NEXT); }
  std::string value(const char* key) { return profile_.value_or_empty(key); }

  test_support::TempDir temp_{"wizard_modem"};
  const fs::path dir_ = temp_.path();
  RegistrationProfile profile_;
  HWND host_ = 0;
  HWND detect_ = 0;
  TimerId answerer_ = 0;
  FakeFind find_;
  int probe_ = 1;
  int panel_result_ = 33;
  int panel_starts_ = 0;
  int probe_calls_ = 0;
  HWND panel_notify_ = 0;
  unsigned panel_message_ = 0;
  int enumerations_ = 0;
  std::int32_t configured_port_ = -1;
  std::vector<std::string> statuses_;
  std::vector<std::string> messages_;
  std::function<void(CModemSelectDialog&)> on_select;
  std::function<void(ModemPortList*)> during_enumeration;
  ScopedVirtualClock clock_;
};

TEST_F(ModemPages, OneModemOnTheSecondPortIsStoredAndShownOnModemFound) {
  find_.ports = {1};
  start_host();
  next();
  ASSERT_EQ(page_template(), IDD_MODEM_FOUND);
  EXPECT_EQ(statuses_, (std::vector<std::string>{"Checking All the ports", "Auto Configuring Modem..."}));
  EXPECT_EQ(configured_port_, 1);
  EXPECT_EQ(value("COMPORT"), "2");
  EXPECT_EQ(value("COMSPEED"), "38400");
  EXPECT_EQ(value("MODEMINIT"), "ATW1&K3");
  EXPECT_EQ(value("MODEMRST"), "AT&F");
  EXPECT_EQ(value("MODEMTYPE"), "Generic modem");
  EXPECT_EQ(page()->item_text(IDC_FOUND_PORT), "COM2");
  EXPECT_EQ(page()->item_text(IDC_FOUND_INIT), "ATW1&K3");
  EXPECT_FALSE(is_window_enabled(page()->item(IDC_FOUND_INIT)));
  // Box not ticked: Next goes past Confirm straight to Dialing Information.
  next();
  EXPECT_EQ(page_template(), IDD_DIALING_INFO);
  EXPECT_EQ(value("USEDETECTED"), "TRUE");
  EXPECT_EQ(value("DETECTMODEM"), "TRUE");
  EXPECT_FALSE(host()->specify_settings());
  // Back from Dialing Information skips Confirm and lands on Modem Found;
  // back again skips detection and shows the Modem Setup page.
  click_id(page(), IDC_BACK);
  EXPECT_EQ(page_template(), IDD_MODEM_FOUND);
  click_id(page(), IDC_BACK);
  EXPECT_EQ(host()->current_page(), 0u);
  EXPECT_TRUE(is_window_visible(host_));
  EXPECT_EQ(enumerations_, 1);
}

TEST_F(ModemPages, DetectionPageStatusTextsAndButtons) {
  struct Case {
    const char* name;
    FakeFind find;
    std::string status;
    bool ok;
  } cases[] = {
      {"found at speed code 8", {{1}, 0, 0, 8}, "Found on COM2 @38400 bps", true},
      {"found at speed code 9 (57600)", {{3}, 0, 0, 9}, "Found on COM4 @57600 bps", true},
      {"no modem", {{}, 0}, "Failed", false},
      {"enumeration stopped", {{}, SERLINK_E_STOPPED}, "User aborted", false},
      {"configuration stopped", {{0}, 0, SERLINK_E_STOPPED}, "User aborted", false},
      {"no modem on configuring", {{0}, 0, SERLINK_E_NO_MODEM}, "Failed", false},
      {"port problem on configuring", {{0}, 0, SERLINK_E_PORT_IN_USE}, "Failed", false},
      {"time-out on configuring", {{0}, 0, SERLINK_NO_LINE}, "Failed", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    find_ = c.find;
    // The page alone, under a plain window that records what it is told.
    struct Recorder : Window {
      std::vector<unsigned> got;
      LRESULT window_proc(const Message& m) override {
        if (m.message >= WM_USER) got.push_back(m.message);
        return Window::window_proc(m);
      }
    } parent;
    ASSERT_NE(parent.create("recorder", WS_POPUP, Rect{0, 0, 10, 10}), 0u);
    auto* d = new_window<CModemDetectDialog>(&profile_, parent.hwnd());
    detect_ = d->CreateModeless();
    ASSERT_NE(detect_, 0u);
    d->SetFinishMode(false);
    show_window(detect_, SW_SHOW);
    EXPECT_EQ(d->item_text(IDC_DETECT_STATUS), "Identifying modem");
    for (int id : {IDC_BACK, IDC_NEXT, IDC_FINISH}) EXPECT_FALSE(is_window_enabled(d->item(id))) << id;
    EXPECT_TRUE(is_window_enabled(d->item(IDCANCEL)));
    EXPECT_TRUE(d->running());
    pump();
    EXPECT_EQ(d->item_text(IDC_DETECT_STATUS), c.status);
    EXPECT_FALSE(d->running());
    EXPECT_EQ(parent.got, std::vector<unsigned>{c.ok ? WM_WIZ_RESULT_OK : WM_WIZ_RESULT_FAILED});
    destroy_window(detect_);
    detect_ = 0;
    pump(1);
  }
}

TEST_F(ModemPages, TwoModemsAskForThePortAndOkWithoutAChoiceComplains) {
  find_.ports = {0, 2};
  std::vector<std::string> listed;
  int turns = 0;
  on_select = [&](CModemSelectDialog& d) {
    if (d.is_ending()) return;
    ComboBox* c = d.combo(IDC_COM_PORT_LIST);
    if (turns++ == 0) {
      listed = c->items();
      click(d.item(IDOK));  // nothing chosen yet
    } else if (!messages_.empty()) {
      click_item(d.item(IDC_COM_PORT_LIST), 1);
      click(d.item(IDOK));
    }
  };
  start_host();
  next();
  EXPECT_EQ(listed, (std::vector<std::string>{"COM1", "COM3"}));
  EXPECT_EQ(messages_, std::vector<std::string>{"Please Select a com port first"});
  EXPECT_EQ(configured_port_, 2);
  EXPECT_EQ(value("COMPORT"), "3");
  EXPECT_EQ(page_template(), IDD_MODEM_FOUND);
}

TEST_F(ModemPages, CancelledSelectionLeavesTheDetectionPageWithOnlyCancel) {
  find_.ports = {0, 1};
  on_select = [](CModemSelectDialog& d) {
    if (!d.is_ending()) press_key(Key::Escape);
  };
  start_host();
  next();
  ASSERT_EQ(page_template(), IDD_MODEM_DETECT);
  EXPECT_EQ(page()->item_text(IDC_DETECT_STATUS), "Found 2 ports");
  for (int id : {IDC_BACK, IDC_NEXT, IDC_FINISH}) EXPECT_FALSE(is_window_enabled(page()->item(id))) << id;
  EXPECT_EQ(configured_port_, -1);
  EXPECT_EQ(value("COMPORT"), "2");  // the default, untouched
}

TEST_F(ModemPages, CancelWhileTheLibraryWaitsStopsItAndTheLevelCancels) {
  find_.ports = {1};
  std::int32_t stop_answer = -1;
  during_enumeration = [&](ModemPortList* list) {
    // What the library's event handler does while it waits: the user's
    // Cancel gets through, and the next status check asks to stop.
    ASSERT_NE(list->status, nullptr);
    EXPECT_EQ(list->status(nullptr), 0);
    ASSERT_NE(page(), nullptr);
    ASSERT_TRUE(click(page()->item(IDCANCEL)));
    MessageLoop::current().pump_pending();
    stop_answer = list->status(nullptr);
    find_.enumerate_rc = SERLINK_E_STOPPED;
  };
  start_host();
  const HWND detect = (next(), host() ? host()->current_page() : 0);
  EXPECT_EQ(stop_answer, 1);
  EXPECT_FALSE(is_window(detect));
  EXPECT_EQ(host()->current_page(), 0u) << "the level was cancelled, not moved on";
  EXPECT_EQ(configured_port_, -1);
}

TEST_F(ModemPages, TheLibrarysProgressTextsShowBelowTheStatusLine) {
  find_.ports = {1};
  std::vector<std::pair<std::string, std::string>> seen;  // status line, progress line
  during_enumeration = [&](ModemPortList* list) {
    ASSERT_NE(list->status, nullptr);
    for (const char* text : {"Looking for a modem on COM1.", "Looking for a modem on COM2."}) {
      EXPECT_EQ(list->status(text), 0);
      ASSERT_NE(page(), nullptr);
      ASSERT_TRUE(is_window_visible(page()->item(IDC_DETECT_PROGRESS)));
      seen.emplace_back(page()->item_text(IDC_DETECT_STATUS), page()->item_text(IDC_DETECT_PROGRESS));
    }
  };
  start_host();
  next();
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, std::string>>{
                      {"Checking All the ports", "Looking for a modem on COM1."},
                      {"Checking All the ports", "Looking for a modem on COM2."}}));
}

TEST_F(ModemPages, NotFoundLeadsToConfirmWhereTheUserTypesTheSettings) {
  find_.ports = {};
  start_host();
  next();
  ASSERT_EQ(page_template(), IDD_MODEM_NOT_FOUND);
  EXPECT_FALSE(host()->detected());
  next();
  ASSERT_EQ(page_template(), IDD_CONFIRM_MODEM);
  Dialog* p = page();
  EXPECT_EQ(p->item_text(IDC_COM_PORT_LIST), "COM2");
  EXPECT_EQ(p->item_text(IDC_SPEED_LIST), "9600");
  EXPECT_FALSE(is_window_visible(p->item(IDC_INIT_STRING)));
  click_id(p, IDC_EDIT_INIT_BUTTON);
  EXPECT_TRUE(is_window_visible(p->item(IDC_INIT_STRING)));
  EXPECT_FALSE(is_window_enabled(p->item(IDC_EDIT_INIT_BUTTON)));
  click_item(p->item(IDC_COM_PORT_LIST), 2);
  click_item(p->item(IDC_SPEED_LIST), 8);
  p->goto_control(IDC_INIT_STRING);
  ASSERT_TRUE(type_text("AT &F E0 V1"));
  next();
  EXPECT_EQ(page_template(), IDD_DIALING_INFO);
  EXPECT_EQ(value("COMPORT"), "3");
  EXPECT_EQ(value("COMSPEED"), "57600");
  EXPECT_EQ(value("MODEMINIT"), "AT&FE0V1");
  // Back: Confirm again, with what was saved.
  click_id(page(), IDC_BACK);
  ASSERT_EQ(page_template(), IDD_CONFIRM_MODEM);
  EXPECT_EQ(page()->item_text(IDC_COM_PORT_LIST), "COM3");
  EXPECT_EQ(page()->item_text(IDC_INIT_STRING), "AT&FE0V1");
}

TEST_F(ModemPages, ConfirmBackDiscardsChangesAndUnknownPortIsAnEntryError) {
  profile_.Set("DETECTMODEM", "FALSE");
  profile_.Set("COMPORT", "12");
  start_host();
  EXPECT_TRUE(host()->dont_detect());
  EXPECT_FALSE(is_window_visible(host()->item(IDC_DONT_DETECT)));
  next();
  ASSERT_EQ(page_template(), IDD_CONFIRM_MODEM) << "no detection when it is switched off";
  EXPECT_EQ(enumerations_, 0);
  EXPECT_EQ(page()->combo(IDC_COM_PORT_LIST)->cur_sel(), -1);
  next();
  EXPECT_EQ(messages_, std::vector<std::string>{"Please select the com port of your modem."});
  EXPECT_EQ(page_template(), IDD_CONFIRM_MODEM);
  EXPECT_EQ(value("COMPORT"), "12");
  click_item(page()->item(IDC_COM_PORT_LIST), 0);
  click_id(page(), IDC_BACK);
  EXPECT_EQ(value("COMPORT"), "12") << "Back keeps nothing of the page";
  EXPECT_EQ(host()->current_page(), 0u);
  EXPECT_EQ(value("DETECTMODEM"), "FALSE");
}

TEST_F(ModemPages, TickedBoxOnModemFoundLeadsToConfirm) {
  find_.ports = {1};
  start_host();
  next();
  ASSERT_EQ(page_template(), IDD_MODEM_FOUND);
  click_id(page(), IDC_DONT_USE_INIT);
  next();
  EXPECT_EQ(page_template(), IDD_CONFIRM_MODEM);
  EXPECT_EQ(value("USEDETECTED"), "FALSE");
  EXPECT_TRUE(host()->specify_settings());
  click_id(page(), IDC_BACK);
  ASSERT_EQ(page_template(), IDD_MODEM_FOUND);
  EXPECT_EQ(page()->is_checked(IDC_DONT_USE_INIT), BST_CHECKED);
}

TEST_F(ModemPages, TelephonyCheckStartsTheControlPanelOnlyWithoutAModem) {
  struct Case {
    int probe;
    int panel;
    int starts;
    std::vector<std::string> messages;
  } cases[] = {
      {1, 33, 0, {}},
      {0, 33, 1, {}},
      {0, 2, 1, {"WinExec failed; error code = 2"}},
  };
  struct Notices : Display {
    bool terminal = false;
    std::vector<std::string> seen;
    void window_event(HWND, WindowEvent) override {}
    void notice(HWND, const std::string& text) override { seen.push_back(text); }
    bool uses_terminal() const override { return terminal; }
  } notices;
  set_display(&notices);
  for (const bool terminal : {false, true}) {
    notices.terminal = terminal;
    for (const Case& c : cases) {
      SCOPED_TRACE(terminal ? "in a terminal" : "on the desktop");
      probe_ = c.probe;
      panel_result_ = c.panel;
      panel_starts_ = 0;
      messages_.clear();
      notices.seen.clear();
      start_host();
      // One line says why; in a terminal the panel, which takes the
      // screen, starts a moment later.
      EXPECT_EQ(notices.seen, c.starts ? std::vector<std::string>{"No modem was found on any COM port: opening Set Up Modem."}
                                       : std::vector<std::string>{});
      EXPECT_EQ(panel_starts_, terminal ? 0 : c.starts);
      pump(150);
      EXPECT_EQ(panel_starts_, c.starts);
      EXPECT_EQ(messages_, c.messages);
      destroy_window(host_);
      pump(1);
    }
  }
  set_display(nullptr);
}

TEST_F(ModemPages, TelephonyCheckRunsAgainWhenTheControlPanelEnds) {
  for (int found_after : {1, 0}) {
    SCOPED_TRACE(found_after ? "a modem was set up" : "still no modem");
    probe_ = 0;
    panel_result_ = 33;
    panel_starts_ = 0;
    probe_calls_ = 0;
    messages_.clear();
    start_host();
    pump(150);
    ASSERT_EQ(panel_starts_, 1);
    EXPECT_EQ(panel_notify_, host_) << "the panel's end is told to the Modem Setup page";
    EXPECT_EQ(probe_calls_, 1);
    probe_ = found_after;
    ASSERT_TRUE(post_message(panel_notify_, panel_message_, 0));  // the panel ended
    pump();
    EXPECT_EQ(probe_calls_, 2) << "the check ran again";
    EXPECT_EQ(panel_starts_, 1) << "the panel is not forced on the user again";
    EXPECT_TRUE(messages_.empty());
    destroy_window(host_);
    pump(1);
  }
}

TEST_F(ModemPages, DialingInformationDefaultsAndSaving) {
  auto* d = new_window<CDialingInfoDialog>(&profile_, HWND{0});
  ASSERT_NE(d->CreateModeless(), 0u);
  const HWND h = d->hwnd();
  show_window(h, SW_SHOW);
  EXPECT_EQ(d->is_checked(IDC_CW_DISABLE), BST_UNCHECKED);
  EXPECT_FALSE(is_window_enabled(d->item(IDC_CW_CODE)));
  EXPECT_EQ(d->item_text(IDC_CW_CODE), "");
  EXPECT_EQ(d->is_checked(IDC_TONE), BST_CHECKED);
  EXPECT_EQ(d->combo(IDC_CW_CODE)->items(), (std::vector<std::string>{"*70,", "1170,", "70#,"}));
  EXPECT_EQ(d->edit(IDC_OUTSIDE_ACCESS)->limit(), 1);

  click_id(d, IDC_CW_DISABLE);
  EXPECT_TRUE(is_window_enabled(d->item(IDC_CW_CODE)));
  d->goto_control(IDC_CW_CODE);
  ASSERT_TRUE(type_text("*82,"));  // not one of the list's codes
  d->goto_control(IDC_OUTSIDE_ACCESS);
  type_text("91");
  click_id(d, IDC_PULSE);
  ASSERT_TRUE(d->TransferData(true));
  EXPECT_EQ(value("CWDISABLE"), "TRUE");
  EXPECT_EQ(value("CWDISABLESTR"), "*82,");
  EXPECT_EQ(value("OUTSIDEACCESS"), "9");
  EXPECT_EQ(value("DIALMETHOD"), "PULSE");

  // Unchecking keeps the code; a lower-case "tone" shows and saves as pulse.
  click_id(d, IDC_CW_DISABLE);
  EXPECT_FALSE(is_window_enabled(d->item(IDC_CW_CODE)));
  profile_.Set("DIALMETHOD", "tone");
  ASSERT_TRUE(d->TransferData(true));
  EXPECT_EQ(value("CWDISABLE"), "FALSE");
  EXPECT_EQ(value("CWDISABLESTR"), "*82,");
  ASSERT_TRUE(d->TransferData(false));
  EXPECT_EQ(d->is_checked(IDC_PULSE), BST_CHECKED);
  ASSERT_TRUE(d->TransferData(true));
  EXPECT_EQ(value("DIALMETHOD"), "PULSE");
  destroy_window(h);
  pump(1);
}

TEST(ModemHelpers, BlanksAndSpeedTexts) {
  EXPECT_EQ(remove_blanks("AT W1"), "ATW1");
  EXPECT_EQ(remove_blanks("AT &F"), "AT&F");
  EXPECT_EQ(remove_blanks(" A T  Z "), "ATZ");
  EXPECT_EQ(remove_blanks("AT\\N3"), "AT\\N3");
  const std::pair<int, const char*> speeds[] = {{5, "9600"},    {6, "14400"}, {7, "19200"}, {8, "38400"},
                                                {9, "57600"},   {10, "115200"}, {2, "2400"}, {3, "4800"},
                                                {0, "1200"},    {1, "1200"}};
  for (auto [code, text] : speeds) EXPECT_EQ(speed_text(code), text) << code;
}

// The real library against a scripted modem on COM2; the other ports are
// links to nothing.
TEST_F(ModemPages, DetectionThroughSerlinkFindsTheModemOnCom2) {
  set_modem_services(ModemServices{{}, {}, [] { return 1; }, [](HWND, unsigned) { return 33; }});
  ScopedSystemRoot root;
  fs::create_directories(root.path() / "dosdevices");
  for (int n = 1; n <= 4; ++n) {
    fs::create_symlink(root.path() / "nothing", root.path() / "dosdevices" / ("com" + std::to_string(n)));
  }
  serlink_test::FakeModem modem(2);
  modem.ati0 = "288";
  modem.ati3 = "Sportster 28800";
  modem.refused = {"&Q5"};
  start_host();
  next();
  pump(200);
  ASSERT_EQ(page_template(), IDD_MODEM_FOUND);
  EXPECT_EQ(value("COMPORT"), "2");
  EXPECT_EQ(value("COMSPEED"), "38400");
  EXPECT_EQ(value("MODEMRST"), "AT&F");
  EXPECT_EQ(value("MODEMINIT").rfind("ATW1X4&B1&C1&D2&K3&S0", 0), 0u) << value("MODEMINIT");
  EXPECT_EQ(value("MODEMINIT").find(' '), std::string::npos);
  EXPECT_TRUE(modem.sent("AT I0"));
}

}  // namespace
}  // namespace wizard
