// The frame and the top-level pages driven in-process, as a person would,
// through the user-input calls; message boxes are answered from a timer.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ini_bridge.h"
#include "platform/loop/clock.h"
#include "platform/ui/message_box.h"
#include "platform/loop/message_loop.h"
#include "platform/ui/user_input.h"
#include "wizard/app.h"
#include "wizard/pages.h"
#include "support/temp_dir.h"

namespace wizard {
namespace {

namespace fs = std::filesystem;
using namespace platform;

class Pages : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path data = fs::path(VLR_SOURCE_DIR) / "data";
    for (const char* f : {"Joinwiz.ini", "vlrterms.txt", "Vlrhelp.hlp"}) fs::copy_file(data / f, dir_ / f);
    set_wizard_paths({dir_, dir_ / "Joinwiz.ini"});
    clear_bitmap_folders();
    add_bitmap_folder(data);
    register_page_templates();
    // Answers every message box with Enter and remembers its text.
    answerer_ = MessageLoop::current().set_thread_timer(5, [this](TimerId) {
      if (auto* box = window_cast<MessageBoxWindow>(active_window())) {
        messages_.push_back(box->message());
        press_key(Key::Enter);
      }
    });
  }
  void TearDown() override {
    MessageLoop::current().kill_thread_timer(answerer_);
    if (welcome_ && is_window(welcome_)) destroy_window(welcome_);
    MessageLoop::current().pump_pending();
    if (MessageLoop::current().quit_pending()) MessageLoop::current().run();
  }

  CWelcomeDialog* start(bool cash = false) {
    auto* w = new_window<CWelcomeDialog>(cash);
    welcome_ = w->CreateModeless();
    EXPECT_NE(welcome_, 0u);
    show_window(welcome_, SW_SHOW);
    return w;
  }
  void pump() { MessageLoop::current().pump_pending(); }
  // The page up in front of the welcome window.
  CBaseDialog* page() { return window_cast<CBaseDialog>(welcome()->current_page()); }
  CWelcomeDialog* welcome() { return window_cast<CWelcomeDialog>(welcome_); }
  void click_id(Dialog* d, int id) {
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(click(d->item(id))) << "control " << id;
    pump();
  }
  void type_into(Dialog* d, int id, const std::string& text) {
    d->goto_control(id);
    ASSERT_TRUE(type_text(text));
  }
  std::string profile_value(const char* key) { return welcome()->registration_profile().value_or_empty(key); }

  test_support::TempDir temp_{"wizard_pages"};
  const fs::path dir_ = temp_.path();
  HWND welcome_ = 0;
  TimerId answerer_ = 0;
  std::vector<std::string> messages_;
  ScopedVirtualClock clock_;
};

TEST_F(Pages, WelcomeStartsWithTheNewAccountChoiceAndLoadsTheProfile) {
  std::ofstream(dir_ / "Joinwiz.ini", std::ios::app) << "[User Information]\nCLIENTCODE=FROMFILE\nPAYMETHOD=CREDIT\n";
  CWelcomeDialog* w = start(true);
  EXPECT_EQ(w->is_checked(IDC_NEW_ACCOUNT), BST_CHECKED);
  EXPECT_EQ(get_focus(), w->item(IDC_NEW_ACCOUNT));
  EXPECT_EQ(profile_value("CLIENTCODE"), "VLRREG501");
  EXPECT_EQ(profile_value("PAYMETHOD"), "CASH") << "-c overrides the stored value";
}

TEST_F(Pages, BackToWelcomeAndTheOtherKindGivesTheRClientCode) {
  CWelcomeDialog* w = start();
  const Rect at = w->screen_rect();
  click_id(w, IDC_NEXT);
  ASSERT_NE(page(), nullptr);
  EXPECT_EQ(page()->template_id(), IDD_TERMS);
  EXPECT_FALSE(is_window_visible(welcome_));
  EXPECT_EQ(profile_value("CLIENTCODE"), "VLRREG501U");
  EXPECT_EQ(page()->screen_rect(), at) << "the page sits where the welcome page was";

  const HWND terms = page()->hwnd();
  click_id(page(), IDC_BACK);
  EXPECT_FALSE(is_window(terms)) << "the page is deleted when its level goes back";
  EXPECT_TRUE(is_window_visible(welcome_));
  EXPECT_EQ(w->is_checked(IDC_NEW_ACCOUNT), BST_CHECKED) << "not reset by going back, it stays checked";

  click_id(w, IDC_EXISTING_ACCOUNT);
  click_id(w, IDC_NEXT);
  EXPECT_EQ(profile_value("CLIENTCODE"), "VLRREG501R");
  EXPECT_EQ(profile_value("NEWUSER"), "no");
  EXPECT_EQ(page()->template_id(), IDD_TERMS) << "Next on the welcome page always starts at the terms";
}

TEST_F(Pages, TermsShowTheFileAndEnterOnAModelessPageIsNext) {
  start();
  click_id(welcome(), IDC_NEXT);
  EXPECT_NE(page()->item_text(IDC_TERMS_TEXT).find("TERMS OF SERVICE AGREEMENT\r\n"), std::string::npos);
  ASSERT_TRUE(press_key(Key::Enter));
  pump();
  EXPECT_EQ(page()->template_id(), IDD_INTRO);
  EXPECT_EQ(page()->title(), "Setting Up a New Account");
  EXPECT_TRUE(is_window_visible(page()->item(IDC_INTRO_BILLING)));
  EXPECT_FALSE(is_window_visible(page()->item(IDC_FINISH)));
}

TEST_F(Pages, PersonalChecksStopAtTheFirstMissingFieldAndFocusIt) {
  start();
  click_id(welcome(), IDC_NEXT);
  click_id(page(), IDC_NEXT);
  click_id(page(), IDC_NEXT);
  CBaseDialog* p = page();
  ASSERT_EQ(p->template_id(), IDD_PERSONAL);
  click_id(p, IDC_NEXT);
  ASSERT_EQ(messages_, std::vector<std::string>{"You must enter your first name."});
  EXPECT_EQ(page(), p) << "the page stays";
  EXPECT_EQ(get_focus(), p->item(IDC_FIRSTNAME));

  type_into(p, IDC_FIRSTNAME, "John");
  type_into(p, IDC_LASTNAME, "Smith");
  type_into(p, IDC_ADDR1, "1 Main St");
  type_into(p, IDC_CITY, "Town");
  type_into(p, IDC_STATE, "ilx");
  EXPECT_EQ(p->item_text(IDC_STATE), "IL") << "upper case, two characters";
  type_into(p, IDC_ZIP, "62701");
  type_into(p, IDC_DAYPHONE, "555-1234");
  messages_.clear();
  click_id(p, IDC_NEXT);
  ASSERT_EQ(messages_, std::vector<std::string>{"You must provide your area code."});
  EXPECT_EQ(get_focus(), p->item(IDC_DAYAREACODE));

  type_into(p, IDC_DAYAREACODE, "217");
  click_id(p, IDC_NEXT);
  EXPECT_EQ(page()->template_id(), IDD_ACCOUNT);
  EXPECT_EQ(profile_value("DAYPHONE"), "5551234");
  click_id(page(), IDC_BACK);
  EXPECT_EQ(page()->item_text(IDC_DAYPHONE), "5551234") << "shown digits-only when entered again";
}

TEST_F(Pages, AccountChecksFocusTheFieldAndEmailFollowsTheUserId) {
  start();
  click_id(welcome(), IDC_NEXT);
  click_id(page(), IDC_NEXT);
  click_id(page(), IDC_NEXT);
  CBaseDialog* p = page();
  for (auto [id, text] : std::vector<std::pair<int, const char*>>{
           {IDC_FIRSTNAME, "J"}, {IDC_LASTNAME, "S"}, {IDC_ADDR1, "A"}, {IDC_CITY, "C"},
           {IDC_STATE, "IL"}, {IDC_ZIP, "1"}, {IDC_DAYAREACODE, "217"}, {IDC_DAYPHONE, "5"}}) {
    type_into(p, id, text);
  }
  click_id(p, IDC_NEXT);
  CBaseDialog* a = page();
  ASSERT_EQ(a->template_id(), IDD_ACCOUNT);
  EXPECT_FALSE(is_window_visible(a->item(IDC_EMAILID)));
  EXPECT_EQ(a->edit(IDC_USERID)->limit(), 8);

  type_into(a, IDC_USERID, "jsmith");
  type_into(a, IDC_PASSWORD, "secret1");
  type_into(a, IDC_PASSWORD2, "secret2");
  click_id(a, IDC_NEXT);
  ASSERT_EQ(messages_, std::vector<std::string>{"The passwords did not match.  Please re-type them."});
  EXPECT_EQ(get_focus(), a->item(IDC_PASSWORD));
  EXPECT_EQ(a->edit(IDC_PASSWORD)->sel_start(), 0);
  EXPECT_EQ(a->edit(IDC_PASSWORD)->sel_end(), 7) << "the whole text is selected";

  a->set_item_text(IDC_PASSWORD2, "secret1");
  click_id(a, IDC_NEXT);
  EXPECT_EQ(page(), a) << "no modem level yet: the page stays and nothing is said";
  EXPECT_EQ(messages_.size(), 1u);
  EXPECT_EQ(profile_value("EMAILID"), "jsmith");
  EXPECT_EQ(profile_value("PASSWORD"), "secret1");
}

// The user ID and password length limits at their edges: 5 and 8 for a new
// account, 1 for an existing one (whose user ID may have up to 27).
TEST_F(Pages, AccountLengthsAtTheirEdges) {
  const std::string kUserIdNew = "Please enter between 5 and 8 characters for your User ID.";
  const std::string kPasswordNew = "Please enter between 5 and 8 characters for your password.";
  const std::string kUserIdOld = "Please enter between 1 and 27 characters for your User ID.";
  const std::string kPasswordOld = "Please enter between 1 and 8 characters for your password.";
  struct Case {
    bool existing;
    std::string user_id;
    std::string password;
    std::string message;  // empty: accepted
  };
  const Case cases[] = {
      {false, "abcd", "secret", kUserIdNew},
      {false, "abcde", "secret", ""},
      {false, "abcdefgh", "secret", ""},
      {false, "jsmith", "abcd", kPasswordNew},
      {false, "jsmith", "abcde", ""},
      {false, "jsmith", "abcdefgh", ""},
      {true, "", "p", kUserIdOld},
      {true, "a", "p", ""},
      {true, std::string(27, 'u'), "p", ""},
      {true, "a", "", kPasswordOld},
      {true, "a", "abcdefgh", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.existing ? "existing" : "new") + " '" + c.user_id + "' '" + c.password + "'");
    start();
    if (c.existing) click_id(welcome(), IDC_EXISTING_ACCOUNT);
    click_id(welcome(), IDC_NEXT);
    click_id(page(), IDC_NEXT);
    click_id(page(), IDC_NEXT);
    CBaseDialog* p = page();
    for (auto [id, text] : std::vector<std::pair<int, const char*>>{
             {IDC_FIRSTNAME, "J"}, {IDC_LASTNAME, "S"}, {IDC_ADDR1, "A"}, {IDC_CITY, "C"},
             {IDC_STATE, "IL"}, {IDC_ZIP, "1"}, {IDC_DAYAREACODE, "217"}, {IDC_DAYPHONE, "5"}}) {
      type_into(p, id, text);
    }
    click_id(p, IDC_NEXT);
    CBaseDialog* a = page();
    ASSERT_EQ(a->template_id(), IDD_ACCOUNT);
    a->set_item_text(IDC_USERID, c.user_id);
    a->set_item_text(IDC_PASSWORD, c.password);
    a->set_item_text(IDC_PASSWORD2, c.password);
    if (c.existing) a->set_item_text(IDC_EMAILID, "js");
    messages_.clear();
    click_id(a, IDC_NEXT);
    if (c.message.empty()) {
      EXPECT_TRUE(messages_.empty()) << messages_.front();
      EXPECT_EQ(profile_value("USERID"), c.user_id);
      EXPECT_EQ(profile_value("PASSWORD"), c.password);
    } else {
      EXPECT_EQ(messages_, std::vector<std::string>{c.message});
      EXPECT_EQ(page(), a) << "the page stays";
    }
    destroy_window(welcome_);
    welcome_ = 0;
    pump();
    if (MessageLoop::current().quit_pending()) MessageLoop::current().run();
  }
}

// Non-ASCII input as typed on the personal and account pages: names and
// addresses are stored whole (limits count characters, never bytes); the
// log-in values are refused with the box, so nothing reaches the server
// changed.
struct NonAsciiCase {
  const char* name;
  int id;              // control typed into
  const char* typed;
  const char* key;     // profile key it lands in ("" when refused)
  const char* stored;  // value stored, or the start of the message
};
const NonAsciiCase kNonAsciiCases[] = {
    {"FirstNameOf20TwoByteLetters", IDC_FIRSTNAME, "ÄÖÜäöüßéèêÄÖÜäöüßéèê", "FIRSTNAME", "ÄÖÜäöüßéèêÄÖÜäöüßéèê"},
    {"LimitCutsAfter20CharactersNotInsideOne", IDC_LASTNAME, "Müller-Lüdenscheidtxyz", "LASTNAME",
     "Müller-Lüdenscheidtx"},
    {"CityInCjk", IDC_CITY, "東京都千代田区", "CITY", "東京都千代田区"},
    {"StateTwoCharactersAsciiUpperCased", IDC_STATE, "qé", "STATE", "Qé"},
    {"AddressWithAnEmoji", IDC_ADDR1, "1 Rue de l'Église 🏠", "ADDR1", "1 Rue de l'Église 🏠"},
    {"InvalidUtf8ByteKeptAsItsLatin1Letter", IDC_COMPANY, "Caf\xE9", "COMPANY", "Café"},
    {"PasswordOf8CharactersIsRefused", IDC_PASSWORD, "pässw0rd", "", "Your password may use only"},
    {"UserIdWithAnAccentIsRefused", IDC_USERID, "jösmith", "", "Your User ID may use only"},
};

class NonAscii : public Pages, public ::testing::WithParamInterface<NonAsciiCase> {};

TEST_P(NonAscii, StoredWholeOrRefusedWithTheBox) {
  const NonAsciiCase& c = GetParam();
  start();
  click_id(welcome(), IDC_NEXT);
  click_id(page(), IDC_NEXT);
  click_id(page(), IDC_NEXT);
  CBaseDialog* p = page();
  ASSERT_EQ(p->template_id(), IDD_PERSONAL);
  for (auto [id, text] : std::vector<std::pair<int, const char*>>{
           {IDC_FIRSTNAME, "J"}, {IDC_LASTNAME, "S"}, {IDC_ADDR1, "A"}, {IDC_CITY, "C"},
           {IDC_STATE, "IL"}, {IDC_ZIP, "1"}, {IDC_DAYAREACODE, "217"}, {IDC_DAYPHONE, "5"}}) {
    if (id != c.id) type_into(p, id, text);
  }
  if (p->item(c.id)) {
    type_into(p, c.id, c.typed);
  }
  click_id(p, IDC_NEXT);
  CBaseDialog* a = page();
  ASSERT_EQ(a->template_id(), IDD_ACCOUNT);
  const bool account_field = c.id == IDC_USERID || c.id == IDC_PASSWORD;
  type_into(a, IDC_USERID, c.id == IDC_USERID ? c.typed : "jsmith");
  type_into(a, IDC_PASSWORD, c.id == IDC_PASSWORD ? c.typed : "secret1");
  type_into(a, IDC_PASSWORD2, c.id == IDC_PASSWORD ? c.typed : "secret1");
  if (c.id == IDC_PASSWORD) {
    EXPECT_EQ(a->edit(IDC_PASSWORD)->display_text(), "********") << "8 characters, 8 stars";
  }
  click_id(a, IDC_NEXT);
  if (account_field) {
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].rfind(c.stored, 0), 0u) << messages_[0];
    EXPECT_EQ(get_focus(), a->item(c.id));
    EXPECT_EQ(a->item_text(c.id), c.typed) << "the field keeps all that was typed";
  } else {
    EXPECT_TRUE(messages_.empty()) << (messages_.empty() ? "" : messages_[0]);
    EXPECT_EQ(profile_value(c.key), c.stored);
  }
}

INSTANTIATE_TEST_SUITE_P(Inputs, NonAscii, ::testing::ValuesIn(kNonAsciiCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pages, CancelOnAPageSavesTheProfileAndEndsTheProgram) {
  std::ofstream(dir_ / "Joinwiz.ini", std::ios::app) << "[User Information]\nADDR4=Suite 9\nCUSTOM=x\n";
  start();
  click_id(welcome(), IDC_NEXT);
  click_id(page(), IDC_NEXT);
  ASSERT_TRUE(press_key(Key::Escape));
  pump();
  EXPECT_FALSE(is_window(welcome_));
  ASSERT_TRUE(MessageLoop::current().quit_pending());
  EXPECT_EQ(MessageLoop::current().run(), 0);
  const fs::path ini = dir_ / "Joinwiz.ini";
  EXPECT_EQ(ini_read(kUserInfoSection, "NEWUSER", "?", 127, ini), "yes");
  EXPECT_EQ(ini_read(kUserInfoSection, "ADDR4", "?", 127, ini), "Suite 9");
  EXPECT_EQ(ini_read(kUserInfoSection, "CUSTOM", "?", 127, ini), "x");
  EXPECT_EQ(ini_read(kUserInfoSection, "CLIENTCODE", "absent", 127, ini), "absent");
  EXPECT_EQ(ini_read(kUserInfoSection, "CCNUM", "absent", 127, ini), "absent");
  EXPECT_EQ(ini_read("Dialing Information", "REGNUMBER", "", 32, ini), "5550100");
}

TEST_F(Pages, AProfileThatCannotBeSavedIsToldAndEndsWithItsOwnCode) {
  // A full disk, as the file-size limit makes it: the save fails and the
  // user is told which file and why; the run does not end with 0.
  start();
  const fs::path ini = dir_ / "Joinwiz.ini";
  const std::string before = [&] {
    std::ifstream in(ini, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }();
  struct sigaction ignore {}, old_action {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &old_action);
  rlimit old_limit{};
  ::getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit small = old_limit;
  small.rlim_cur = 64;
  ::setrlimit(RLIMIT_FSIZE, &small);
  send_message(welcome_, WM_CLOSE);
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  ::sigaction(SIGXFSZ, &old_action, nullptr);
  pump();
  EXPECT_FALSE(is_window(welcome_));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].rfind(kProfileNotSavedText, 0), 0u) << messages_[0];
  EXPECT_NE(messages_[0].find(ini.string()), std::string::npos) << messages_[0];
  EXPECT_NE(messages_[0].find("File too large"), std::string::npos) << messages_[0];
  ASSERT_TRUE(MessageLoop::current().quit_pending());
  EXPECT_EQ(MessageLoop::current().run(), kExitProfileNotSaved);
  std::ifstream in(ini, std::ios::binary);
  std::ostringstream after;
  after << in.rdbuf();
  EXPECT_EQ(after.str(), before) << "the old file stays whole";
}

TEST_F(Pages, TheCloseBoxOfTheWelcomePageIsCancel) {
  start();
  send_message(welcome_, WM_CLOSE);
  EXPECT_FALSE(is_window(welcome_));
  ASSERT_TRUE(MessageLoop::current().quit_pending());
  EXPECT_EQ(MessageLoop::current().run(), 0);
  EXPECT_EQ(ini_read(kUserInfoSection, "COMSPEED", "?", 127, dir_ / "Joinwiz.ini"), "9600");
}

TEST_F(Pages, FinishWritesTheAccountNameBeforeTakingTheData) {
  start();
  click_id(welcome(), IDC_NEXT);
  click_id(page(), IDC_NEXT);
  CBaseDialog* intro = page();
  intro->SetFinishMode(true);
  EXPECT_TRUE(is_window_visible(intro->item(IDC_FINISH)));
  EXPECT_FALSE(is_window_visible(intro->item(IDC_NEXT)));
  EXPECT_EQ(intro->default_id(), IDC_FINISH);
  click_id(intro, IDC_FINISH);
  const fs::path ini = dir_ / "Joinwiz.ini";
  EXPECT_EQ(ini_read(kUserInfoSection, "ACCNAME", "", 127, ini), "Tarkel - Veloran Account");
  EXPECT_EQ(ini_read(kUserInfoSection, "REGISTERED", "", 127, ini), "YES");
  EXPECT_TRUE(is_window_visible(welcome_)) << "Finish returns to the level's own page";
  EXPECT_EQ(welcome()->current_page(), 0u);
}

TEST_F(Pages, TermsFileLinesAreJoinedWithCrLfAndLongLinesSplit) {
  const fs::path f = dir_ / "t.txt";
  std::ofstream(f) << "one\r\ntwo\n" << std::string(1500, 'x') << "\nlast without end";
  const std::string text = CTermsDialog::load_terms(f);
  EXPECT_EQ(text, "one\r\ntwo\r\n" + std::string(1023, 'x') + "\r\n" + std::string(477, 'x') +
                      "\r\nlast without end\r\n");
  EXPECT_EQ(CTermsDialog::load_terms(dir_ / "missing.txt"), "");
}

}  // namespace
}  // namespace wizard
