#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/loop/clock.h"
#include "platform/ui/dialog.h"
#include "platform/ui/display.h"
#include "platform/loop/message_loop.h"
#include "platform/ui/user_input.h"
#include "platform/ui/utf8.h"
#include "platform/ui/window.h"

using namespace platform;

namespace {

// Records the messages every window of a test receives, in order.
std::vector<std::string>* g_log = nullptr;

class Logged final : public Window {
 public:
  explicit Logged(std::string name, bool* deleted = nullptr) : name_(std::move(name)), deleted_(deleted) {}
  ~Logged() override {
    if (deleted_) *deleted_ = true;
  }
  std::function<void(const Message&)> on_message;

 protected:
  LRESULT window_proc(const Message& msg) override {
    if (g_log && (msg.message == WM_DESTROY || msg.message == WM_NCDESTROY || msg.message >= WM_USER)) {
      g_log->push_back(name_ + (msg.message == WM_DESTROY ? " destroy" : msg.message == WM_NCDESTROY ? " ncdestroy"
                                                                                                      : " user"));
    }
    if (on_message) on_message(msg);
    return Window::window_proc(msg);
  }

 private:
  std::string name_;
  bool* deleted_;
};

class WindowModelTest : public ::testing::Test {
 protected:
  void SetUp() override { g_log = &log_; }
  void TearDown() override {
    g_log = nullptr;
    for (HWND h : top_level_windows()) destroy_window(h);
  }
  std::vector<std::string> log_;
  ScopedVirtualClock clock_;
};

TEST_F(WindowModelTest, DestroyTakesOwnedPopupsAndChildrenFirst) {
  auto* top = new_window<Logged>("top");
  HWND t = top->create("Top", WS_POPUP, {0, 0, 100, 100});
  auto* child = new_window<Logged>("child");
  child->create("", WS_CHILD, {0, 0, 10, 10}, t);
  auto* grandchild = new_window<Logged>("grandchild");
  grandchild->create("", WS_CHILD, {0, 0, 5, 5}, child->hwnd());
  auto* popup = new_window<Logged>("popup");
  HWND p = popup->create("Popup", WS_POPUP, {0, 0, 10, 10}, 0, t);
  auto* popup_child = new_window<Logged>("popup child");
  popup_child->create("", WS_CHILD, {0, 0, 5, 5}, p);

  ASSERT_TRUE(destroy_window(t));
  const std::vector<std::string> want = {"popup child destroy", "popup child ncdestroy", "popup destroy",
                                         "popup ncdestroy",     "grandchild destroy",    "grandchild ncdestroy",
                                         "child destroy",       "child ncdestroy",       "top destroy",
                                         "top ncdestroy"};
  EXPECT_EQ(log_, want);
  EXPECT_FALSE(is_window(t));
  EXPECT_FALSE(is_window(p));
  EXPECT_TRUE(top_level_windows().empty());
}

TEST_F(WindowModelTest, ObjectIsDeletedAfterItsLastMessage) {
  bool deleted = false;
  auto* w = new_window<Logged>("w", &deleted);
  HWND h = w->create("W", WS_POPUP, {0, 0, 10, 10});
  bool alive_after_destroy = false;
  w->on_message = [&](const Message& m) {
    if (m.message == WM_USER + 1) {
      destroy_window(h);
      alive_after_destroy = !deleted;  // still on the stack: not deleted yet
      post_quit_message(0);
    }
  };
  post_message(h, WM_USER + 1);
  post_message(h, WM_USER + 2);  // dropped: the window is gone
  MessageLoop::current().run();
  EXPECT_TRUE(alive_after_destroy);
  EXPECT_TRUE(deleted);
  EXPECT_EQ(log_, (std::vector<std::string>{"w user", "w destroy", "w ncdestroy"}));
}

TEST_F(WindowModelTest, OwnedWindowsGoWithTheirObject) {
  HWND h = 0;
  {
    Logged w("stack");
    h = w.create("S", WS_POPUP, {0, 0, 10, 10});
    ASSERT_TRUE(is_window(h));
  }
  EXPECT_FALSE(is_window(h));
}

TEST_F(WindowModelTest, PlacementCentreAndOver) {
  set_screen_size(800, 600);
  Logged a("a"), b("b");
  HWND ha = a.create("A", WS_POPUP, {10, 20, 110, 70});
  HWND hb = b.create("B", WS_POPUP, {300, 300, 351, 331});
  ASSERT_TRUE(centre_window(ha));
  EXPECT_EQ(a.rect(), (Rect{350, 275, 450, 325}));
  ASSERT_TRUE(place_over(hb, ha));
  EXPECT_EQ(b.rect(), (Rect{350, 275, 401, 306}));
  set_screen_size(801, 601);
  centre_window(hb);
  EXPECT_EQ(b.rect().left, (801 - 51) / 2);
  EXPECT_EQ(b.rect().top, (601 - 31) / 2);
  set_screen_size(800, 600);
  EXPECT_EQ(dlu_to_px({0, 0, 300, 239}), (Rect{0, 0, 450, 388}));
}

TEST_F(WindowModelTest, ShowingActivatesAndOwnedPopupsStayAbove) {
  Logged owner("owner"), popup("popup"), other("other");
  HWND ho = owner.create("O", WS_POPUP, {0, 0, 10, 10});
  HWND hp = popup.create("P", WS_POPUP, {0, 0, 10, 10}, 0, ho);
  HWND hx = other.create("X", WS_POPUP, {0, 0, 10, 10});
  show_window(ho, SW_SHOW);
  show_window(hp, SW_SHOW);
  show_window(hx, SW_SHOW);
  EXPECT_EQ(active_window(), hx);
  bring_to_top(ho);
  EXPECT_EQ(top_level_windows(), (std::vector<HWND>{hx, ho, hp}));
  show_window(hp, SW_HIDE);
  enable_window(ho, false);
  EXPECT_EQ(active_window(), hx);
  EXPECT_FALSE(is_window_visible(hp));
}

// ---------------------------------------------------------------- dialogs

DialogTemplate focus_template() {
  DialogTemplate t;
  t.id = 700;
  t.caption = "Focus";
  t.rect = {0, 0, 200, 150};
  t.controls = {
      dlg::ltext("Name:", IDC_STATIC, 4, 4, 30, 8),
      dlg::edit(10, 40, 4, 60, 12),
      dlg::edit(11, 40, 20, 60, 12).disabled(),
      dlg::edit(12, 40, 36, 60, 12).hidden(),
      dlg::radio("A", 20, 4, 52, 30, 10).group().tabstop(),
      dlg::radio("B", 21, 40, 52, 30, 10),
      dlg::radio("C", 22, 80, 52, 30, 10),
      dlg::listbox(30, 4, 66, 80, 27).group(),  // 44 px high: 3 rows
      dlg::checkbox("Check", 40, 90, 66, 50, 10),
      dlg::defpushbutton("OK", IDOK, 4, 130, 40, 14),
      dlg::pushbutton("Cancel", IDCANCEL, 50, 130, 40, 14),
  };
  return t;
}

class Focus final : public Dialog {
 public:
  Focus() : Dialog(focus_template()) {}
  std::vector<std::pair<int, int>> commands;

 protected:
  bool on_command(int id, int code, HWND) override {
    commands.push_back({id, code});
    return id == IDOK || id == IDCANCEL;
  }
};

TEST_F(WindowModelTest, TabOrderSkipsDisabledHiddenAndTreatsARadioGroupAsOneStop) {
  Focus d;
  HWND h = d.create_modeless(0);
  ASSERT_NE(h, 0u);
  show_window(h, SW_SHOW);
  EXPECT_EQ(get_focus(), d.item(10));  // first tab stop
  d.check_button(21, BST_CHECKED);
  std::vector<int> order;
  for (int i = 0; i < 6; ++i) {
    press_key(Key::Tab);
    order.push_back(get_dlg_ctrl_id(get_focus()));
  }
  EXPECT_EQ(order, (std::vector<int>{21, 30, 40, IDOK, IDCANCEL, 10}));
  press_key(Key::BackTab);
  EXPECT_EQ(get_dlg_ctrl_id(get_focus()), IDCANCEL);

  // Arrows move the check within the group and notify.
  d.goto_control(21);
  d.commands.clear();
  press_key(Key::Down);
  EXPECT_EQ(get_dlg_ctrl_id(get_focus()), 22);
  EXPECT_EQ(d.is_checked(22), BST_CHECKED);
  EXPECT_EQ(d.is_checked(21), BST_UNCHECKED);
  EXPECT_EQ(d.commands, (std::vector<std::pair<int, int>>{{22, BN_CLICKED}}));
}

TEST_F(WindowModelTest, EditTypingLimitSelectionAndNotifications) {
  Focus d;
  HWND h = d.create_modeless(0);
  show_window(h, SW_SHOW);
  Edit* e = d.edit(10);
  e->set_limit(5);
  d.commands.clear();
  type_text("abcdefg");
  EXPECT_EQ(e->text(), "abcde");
  EXPECT_EQ(d.commands, (std::vector<std::pair<int, int>>{{10, EN_CHANGE}, {10, EN_MAXTEXT}}));
  press_key(Key::Backspace);
  press_key(Key::Home);
  type_text("X");
  EXPECT_EQ(e->text(), "Xabcd");
  // Tab away and back selects everything; typing replaces it.
  press_key(Key::Tab);
  press_key(Key::BackTab);
  EXPECT_EQ(e->sel_start(), 0);
  EXPECT_EQ(e->sel_end(), 5);
  type_text("zz");
  EXPECT_EQ(e->text(), "zz");
  e->set_read_only(true);
  type_text("q");
  EXPECT_EQ(e->text(), "zz");
  // Text set by the program is not limited.
  e->set_text("longer than five");
  EXPECT_EQ(e->text(), "longer than five");
}

TEST_F(WindowModelTest, EditLimitsCaretAndBackspaceCountCharactersNotBytes) {
  Focus d;
  HWND h = d.create_modeless(0);
  show_window(h, SW_SHOW);
  Edit* e = d.edit(10);
  e->set_limit(8);
  type_text("pässw0rdX");
  EXPECT_EQ(e->text(), "pässw0rd") << "8 characters, 9 bytes";
  EXPECT_EQ(e->length(), 8);
  EXPECT_EQ(e->display_text(), "pässw0rd");
  press_key(Key::Home);
  press_key(Key::Right);
  press_key(Key::Right);
  press_key(Key::Backspace);  // the two bytes of "ä" go together
  EXPECT_EQ(e->text(), "pssw0rd");
  type_text("€");
  EXPECT_EQ(e->text(), "p€ssw0rd");
  press_key(Key::Delete);
  EXPECT_EQ(e->text(), "p€sw0rd");
  press_key(Key::End);
  EXPECT_EQ(e->sel_end(), 7);
  // A limit that falls inside a four-byte character keeps it out whole.
  e->set_text("");
  e->set_limit(2);
  type_text("a🏠b");
  EXPECT_EQ(e->text(), "a🏠");
  // Bytes of no valid sequence are their Latin-1 letters.
  e->set_limit(0);
  e->set_text("");
  type_text("Caf\xE9");
  EXPECT_EQ(e->text(), "Café");
}

TEST(Utf8, LengthsOffsetsAndAsciiTest) {
  struct Case {
    const char* text;
    std::size_t chars;
    std::size_t offset_of_2;
    bool ascii;
  } cases[] = {
      {"", 0, 0, true},
      {"abc", 3, 2, true},
      {"äbc", 3, 3, false},
      {"東京", 2, 6, false},
      {"\xF0\x9F\x8F\xA0x", 2, 5, false},  // four bytes, then one
      {"\xE9t\xE9", 3, 2, false},           // invalid bytes count one each
      {"\xE2\x82", 2, 2, false},            // a cut sequence
      {"tab\there", 8, 2, false},           // tab is not printable
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf8_length(c.text), c.chars) << c.text;
    EXPECT_EQ(utf8_offset(c.text, 2), c.offset_of_2) << c.text;
    EXPECT_EQ(is_printable_ascii(c.text), c.ascii) << c.text;
  }
  EXPECT_EQ(utf8_sanitize("\xE9t\xE2\x82\xAC"), "ét€");
}

TEST_F(WindowModelTest, ArrowsAndPagesMoveTheCaretByLinesInAMultiLineEdit) {
  Focus d;
  HWND h = d.create_modeless(0);
  show_window(h, SW_SHOW);
  Edit* e = d.edit(10);
  e->set_style(e->style() | ES_MULTILINE);
  // Lines: "first line" (0), "ab" (12), "" (16), "third one here" (18), CR LF endings.
  e->set_text("first line\r\nab\r\n\r\nthird one here");
  d.goto_control(10);
  e->user_move_caret(6);
  struct Step {
    Key key;
    int caret;
  };
  // The column is kept where the line is long enough, else the caret stops
  // at the line's end (before its CR).
  for (const Step& s : {Step{Key::Down, 14}, Step{Key::Down, 16}, Step{Key::Down, 18}, Step{Key::Down, 18},
                        Step{Key::Up, 16}, Step{Key::Up, 12}, Step{Key::Up, 0}, Step{Key::Up, 0}}) {
    press_key(s.key);
    EXPECT_EQ(e->sel_end(), s.caret) << key_name(s.key);
  }
  // The 12-dialog-unit edit shows one line: a page is one line.
  press_key(Key::PageDown);
  EXPECT_EQ(e->sel_end(), 12);
  e->user_move_caret(25);
  press_key(Key::PageUp);
  EXPECT_EQ(e->sel_end(), 16);
}

TEST_F(WindowModelTest, ListBoxSortingInsertionSearchAndScrolling) {
  Focus d;
  HWND h = d.create_modeless(0);
  show_window(h, SW_SHOW);
  ListBox* l = d.list(30);
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(l->visible_rows(), 3);
  for (const char* s : {"CA, (408) 5551234, San Jose", "NY, (212) 5550000, New York", "ca, (415) 5550100, SF"})
    l->add_string(s);
  EXPECT_EQ(l->insert_string(1, "AZ, (602) 5550000, Phoenix"), 1);
  EXPECT_EQ(l->insert_string(9, "x"), LB_ERR);
  EXPECT_EQ(l->select_string(-1, "ca, (415)"), 3);
  EXPECT_EQ(l->find_prefix(-1, "CA, (408)"), 0);
  EXPECT_EQ(l->find_prefix(0, "ca"), 3);  // search starts after `start`, case-insensitive
  EXPECT_EQ(l->find_prefix(-1, "TX"), LB_ERR);
  l->set_cur_sel(0);
  l->set_top_index(0);
  d.goto_control(30);
  d.commands.clear();
  press_key(Key::End);
  EXPECT_EQ(l->cur_sel(), 3);
  EXPECT_EQ(l->top_index(), 1);
  EXPECT_EQ(d.commands, (std::vector<std::pair<int, int>>{{30, LBN_SELCHANGE}}));
  d.commands.clear();
  ASSERT_TRUE(click_item(l->hwnd(), 1, true));
  EXPECT_EQ(d.commands, (std::vector<std::pair<int, int>>{{30, LBN_SELCHANGE}, {30, LBN_DBLCLK}}));
  EXPECT_EQ(l->delete_string(0), 3);
  EXPECT_EQ(l->cur_sel(), 0);
}

// The top row of a list box (3 rows here) never passes count - visible rows:
// the last page is always full, so the entries above a preselected one stay
// on screen or behind a scroll mark.
TEST_F(WindowModelTest, ListBoxTopRowStopsAtTheLastFullPage) {
  struct Case {
    const char* name;
    int count;
    int select;     // set_cur_sel first; -1: none
    int requested;  // set_top_index
    int result;     // what set_top_index returns
    int top;        // top_index() after it
  };
  const Case cases[] = {
      {"three entries fit: the third at the top is refused as a scroll", 3, 2, 2, 0, 0},
      {"three entries fit: the second asked for", 3, 1, 1, 0, 0},
      {"four entries: the last asked for shows the last page", 4, 3, 3, 0, 1},
      {"four entries: the second fits at the top", 4, 1, 1, 0, 1},
      {"ten entries: the middle one goes to the top", 10, 5, 5, 0, 5},
      {"ten entries: the ninth stops at the last page", 10, 8, 8, 0, 7},
      {"ten entries: the top asked for", 10, -1, 0, 0, 0},
      {"one past the end is an error and keeps the top", 4, -1, 4, LB_ERR, 0},
      {"a negative index is an error", 4, -1, -1, LB_ERR, 0},
      {"an empty list stays at 0", 0, -1, 0, 0, 0},
  };
  for (const Case& c : cases) {
    Focus d;
    ASSERT_NE(d.create_modeless(0), 0u);
    ListBox* l = d.list(30);
    ASSERT_EQ(l->visible_rows(), 3);
    for (int i = 0; i < c.count; ++i) l->add_string("entry " + std::to_string(10 + i));
    l->set_cur_sel(c.select);
    l->set_top_index(0);
    EXPECT_EQ(l->set_top_index(c.requested), c.result) << c.name;
    EXPECT_EQ(l->top_index(), c.top) << c.name;
    EXPECT_LE(l->top_index(), l->max_top_index()) << c.name;
    destroy_window(d.hwnd());
  }
}

TEST_F(WindowModelTest, ListBoxTopRowComesBackWhenEntriesGo) {
  Focus d;
  ASSERT_NE(d.create_modeless(0), 0u);
  ListBox* l = d.list(30);
  for (int i = 0; i < 6; ++i) l->add_string("entry " + std::to_string(10 + i));
  l->set_top_index(3);
  EXPECT_EQ(l->top_index(), 3);
  // Two gone from the end: the last page (entries 1 to 3) is full again.
  l->delete_string(5);
  l->delete_string(4);
  EXPECT_EQ(l->top_index(), 1);
  // The selection moved by keys keeps the page full too.
  l->set_cur_sel(3);
  l->user_key(-3);
  EXPECT_EQ(l->cur_sel(), 0);
  EXPECT_EQ(l->top_index(), 0);
}

// Typed or pasted text that a field's limit cuts is not dropped silently:
// the display gets a notice naming the field and its limit.
TEST_F(WindowModelTest, TextBeyondAFieldsLimitGivesANoticeThatNamesTheLimit) {
  struct Notices : Display {
    std::vector<std::pair<HWND, std::string>> seen;
    void window_event(HWND, WindowEvent) override {}
    void notice(HWND control, const std::string& text) override { seen.emplace_back(control, text); }
  } notices;
  set_display(&notices);
  DialogTemplate t;
  t.id = 0;
  t.caption = "Account";
  t.rect = {0, 0, 200, 80};
  t.controls = {dlg::ltext("&Password:", IDC_STATIC, 4, 4, 40, 8), dlg::edit(10, 50, 4, 60, 12, ES_PASSWORD),
                dlg::ltext("Month:", IDC_STATIC, 4, 20, 40, 8), dlg::edit(11, 50, 20, 60, 12),
                dlg::edit(12, 50, 36, 60, 12)};
  Dialog d(std::move(t));
  show_window(d.create_modeless(0), SW_SHOW);
  d.edit(10)->set_limit(8);
  d.edit(11)->set_limit(2);
  d.edit(12)->set_limit(3);
  struct Case {
    int id;
    const char* typed;
    const char* kept;
    const char* notice;  // empty: none
  };
  const Case cases[] = {
      {10, "secret12", "secret12", ""},
      {10, "longsecret12", "longsecr", "Password: at most 8 characters"},
      {11, "7", "7", ""},
      {11, "123", "12", "Month: at most 2 characters"},
      {12, "abcd", "abc", "This field: at most 3 characters"},
  };
  for (const Case& c : cases) {
    notices.seen.clear();
    d.goto_control(c.id);  // selects what is there: typing replaces it
    EXPECT_TRUE(type_text(c.typed));
    EXPECT_EQ(d.item_text(c.id), c.kept) << c.typed;
    if (*c.notice == '\0') {
      EXPECT_TRUE(notices.seen.empty()) << c.typed;
    } else {
      ASSERT_EQ(notices.seen.size(), 1u) << c.typed;
      EXPECT_EQ(notices.seen[0].first, d.item(c.id));
      EXPECT_EQ(notices.seen[0].second, c.notice);
    }
  }
  set_display(nullptr);
}

// A pasted line break is text: a one-line field takes it as a blank, a
// multi-line one as a line break; it never presses a button.
TEST_F(WindowModelTest, LineBreaksInTextTypedIntoAField) {
  DialogTemplate t;
  t.id = 0;
  t.caption = "Address";
  t.rect = {0, 0, 200, 80};
  t.controls = {dlg::edit(10, 4, 4, 100, 12), dlg::edit(11, 4, 20, 100, 40, ES_MULTILINE),
                dlg::defpushbutton("OK", IDOK, 4, 64, 40, 14)};
  struct Case {
    int id;
    const char* typed;
    const char* kept;
  };
  const Case cases[] = {
      {10, "12 Main St\nSpringfield", "12 Main St Springfield"},
      {10, "12 Main St\r\n\r\nSpringfield\r\n", "12 Main St Springfield"},
      {10, "\nSpringfield", "Springfield"},
      {11, "12 Main St\nSpringfield", "12 Main St\r\nSpringfield"},
      {11, "a\r\nb", "a\r\nb"},
  };
  for (const Case& c : cases) {
    Dialog d(t);
    show_window(d.create_modeless(0), SW_SHOW);
    d.goto_control(c.id);
    EXPECT_TRUE(type_text(c.typed));
    EXPECT_EQ(d.item_text(c.id), c.kept) << c.typed;
    EXPECT_TRUE(is_window_visible(d.hwnd())) << "OK was pressed: " << c.typed;
    destroy_window(d.hwnd());
  }
}

// A display that counts the beeps.
struct Beeper : Display {
  int beeps = 0;
  void window_event(HWND, WindowEvent) override {}
  void beep() override { ++beeps; }
};

TEST_F(WindowModelTest, EscOnADisabledCancelButtonBeepsAndSendsNothing) {
  Beeper beeper;
  set_display(&beeper);
  Focus d;
  HWND h = d.create_modeless(0);
  show_window(h, SW_SHOW);
  d.enable_item(IDCANCEL, false);
  d.commands.clear();
  press_key(Key::Escape);
  EXPECT_TRUE(d.commands.empty());
  EXPECT_EQ(beeper.beeps, 1);
  d.enable_item(IDCANCEL, true);
  press_key(Key::Escape);
  EXPECT_EQ(d.commands, (std::vector<std::pair<int, int>>{{IDCANCEL, BN_CLICKED}}));
  set_display(nullptr);
}

class Mnemonics final : public Dialog {
 public:
  Mnemonics() : Dialog(tmpl()) {}
  std::vector<std::pair<int, int>> commands;
  static DialogTemplate tmpl() {
    DialogTemplate t;
    t.id = 701;
    t.caption = "Mnemonics";
    t.rect = {0, 0, 200, 150};
    t.controls = {
        dlg::ltext("&Full name:", IDC_STATIC, 4, 4, 30, 8),
        dlg::edit(10, 40, 4, 60, 12),
        dlg::ltext("&City:", IDC_STATIC, 4, 20, 30, 8),
        dlg::edit(11, 40, 20, 60, 12),
        dlg::checkbox("&Tone dialing", 40, 4, 40, 80, 10),
        dlg::ltext("Fish && &Chips", IDC_STATIC, 4, 60, 80, 8),  // "&&" is no mnemonic; C is taken above
        dlg::pushbutton("< &Back", 3000, 4, 130, 40, 14),
        dlg::defpushbutton("&Next >", 3031, 50, 130, 40, 14),
        dlg::pushbutton("&Cancel", IDCANCEL, 100, 130, 40, 14).disabled(),
    };
    return t;
  }

 protected:
  bool on_command(int id, int code, HWND) override {
    commands.push_back({id, code});
    return true;
  }
};

TEST_F(WindowModelTest, AltLetterPressesButtonsAndFocusesTheFieldAfterALabel) {
  Beeper beeper;
  set_display(&beeper);
  Mnemonics d;
  HWND h = d.create_modeless(0);
  show_window(h, SW_SHOW);
  EXPECT_EQ(mnemonic_of("&Next >"), U'n');
  EXPECT_EQ(mnemonic_of("Fish && Chips"), 0u);
  EXPECT_EQ(mnemonic_of("Stra\xC3\x9F&\xC3\xA9"), U'\u00E9');

  EXPECT_TRUE(press_mnemonic(U'N'));  // upper or lower case alike
  EXPECT_TRUE(press_mnemonic(U'b'));
  EXPECT_EQ(d.commands, (std::vector<std::pair<int, int>>{{3031, BN_CLICKED}, {3000, BN_CLICKED}}));
  d.commands.clear();
  // A label gives the focus to the field after it; the first of two C's wins.
  EXPECT_TRUE(press_mnemonic(U'c'));
  EXPECT_EQ(get_focus(), d.item(11));
  EXPECT_TRUE(press_mnemonic(U'f'));
  EXPECT_EQ(get_focus(), d.item(10));
  // A check box takes the focus and toggles.
  EXPECT_TRUE(press_mnemonic(U't'));
  EXPECT_EQ(get_focus(), d.item(40));
  EXPECT_EQ(d.is_checked(40), BST_CHECKED);
  EXPECT_EQ(d.commands, (std::vector<std::pair<int, int>>{{40, BN_CLICKED}}));
  // No control has Q; the disabled Cancel does not count: both beep.
  d.commands.clear();
  EXPECT_TRUE(press_mnemonic(U'q'));
  EXPECT_EQ(beeper.beeps, 1);
  EXPECT_TRUE(d.commands.empty());
  // With the focus on a button a plain letter is a mnemonic; in an edit it is typed.
  EXPECT_TRUE(type_text("b"));
  EXPECT_EQ(d.commands, (std::vector<std::pair<int, int>>{{3000, BN_CLICKED}}));
  d.goto_control(10);
  d.commands.clear();
  EXPECT_TRUE(type_text("b"));
  EXPECT_EQ(d.edit(10)->text(), "b");
  EXPECT_EQ(d.commands, (std::vector<std::pair<int, int>>{{10, EN_CHANGE}}));
  set_display(nullptr);
}

TEST_F(WindowModelTest, DefaultButtonMovesWithItsStyle) {
  Focus d;
  d.create_modeless(0);
  EXPECT_EQ(d.default_id(), IDOK);
  d.set_default_id(IDCANCEL);
  EXPECT_FALSE(d.button(IDOK)->is_default());
  EXPECT_TRUE(d.button(IDCANCEL)->is_default());
  send_message(d.hwnd(), DM_SETDEFID, IDOK);
  EXPECT_EQ(d.default_id(), IDOK);
  EXPECT_TRUE(d.button(IDOK)->is_default());
}

TEST_F(WindowModelTest, MissingTemplateOrControlClassFailsCleanly) {
  Dialog missing(4242);
  EXPECT_EQ(missing.create_modeless(0), 0u);
  DialogTemplate t = focus_template();
  t.id = 701;
  t.controls.push_back(ControlTemplate{"SCROLLBAR", 99, "", {0, 0, 1, 1}, WS_CHILD, {}});
  Dialog bad(t);
  EXPECT_EQ(bad.do_modal(0), -1);
  EXPECT_TRUE(top_level_windows().empty());
}

TEST(DisplayArgs, AnswersAndTranscriptAreTakenOut) {
  std::string a0 = "joinwiz", a1 = "-c", a2 = "--answers", a3 = "run.txt", a4 = "--transcript=out.txt", a5 = "x";
  char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), a4.data(), a5.data(), nullptr};
  int argc = 6;
  DisplayOptions o;
  std::string error;
  ASSERT_TRUE(parse_display_args(argc, argv, o, error)) << error;
  EXPECT_EQ(argc, 3);
  EXPECT_STREQ(argv[1], "-c");
  EXPECT_STREQ(argv[2], "x");
  EXPECT_EQ(argv[3], nullptr);
  EXPECT_EQ(o.name, "headless");
  EXPECT_EQ(o.answers, "run.txt");
  EXPECT_EQ(o.transcript, "out.txt");

  std::string b2 = "--answers";
  char* bad[] = {a0.data(), b2.data(), nullptr};
  argc = 2;
  DisplayOptions o2;
  EXPECT_FALSE(parse_display_args(argc, bad, o2, error));
  EXPECT_EQ(error, "option --answers needs a value");

  std::string c1 = "--transcript", c2 = "t.txt";
  char* lone[] = {a0.data(), c1.data(), c2.data(), nullptr};
  argc = 3;
  DisplayOptions o3;
  EXPECT_FALSE(parse_display_args(argc, lone, o3, error));
  EXPECT_EQ(error, "--transcript needs --answers");
}

TEST(DisplayArgs, UnknownDisplayLibraryIsReported) {
  DisplayOptions o;
  o.name = "nonesuch";
  std::string error;
  EXPECT_EQ(open_display(o, error), nullptr);
  EXPECT_NE(error.find("libdisplay-nonesuch.so"), std::string::npos) << error;
  o.name = "../evil";
  EXPECT_EQ(open_display(o, error), nullptr);
  EXPECT_EQ(error, "bad display name \"../evil\"");
}

}  // namespace
