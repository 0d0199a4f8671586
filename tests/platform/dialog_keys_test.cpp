// What each key does to each kind of focused control, and the dialog's own
// keys whatever has the focus; the "&" mnemonics and labels every renderer
// reads.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/loop/clock.h"
#include "platform/loop/message_loop.h"
#include "platform/ui/dialog.h"
#include "platform/ui/labels.h"
#include "platform/ui/user_input.h"

using namespace platform;

namespace {

using Commands = std::vector<std::pair<int, int>>;

class Keys final : public Dialog {
 public:
  Keys() : Dialog(tmpl()) {}
  Commands commands;

  static DialogTemplate tmpl() {
    DialogTemplate t;
    t.id = 702;
    t.caption = "Keys";
    t.rect = {0, 0, 220, 160};
    t.controls = {
        dlg::ltext("&Name:", IDC_STATIC, 4, 4, 30, 8),
        dlg::edit(10, 40, 4, 60, 12),
        dlg::edit(11, 40, 20, 60, 40, ES_MULTILINE | ES_WANTRETURN),
        dlg::radio("A", 20, 4, 64, 30, 10).group().tabstop(),
        dlg::radio("B", 21, 40, 64, 30, 10),
        dlg::radio("C", 22, 80, 64, 30, 10),
        dlg::listbox(30, 4, 78, 80, 40).group().with_items({"one", "two", "three"}),
        dlg::combobox(40, 90, 78, 60, 50).with_items({"x", "y", "z"}),
        dlg::combobox(41, 150, 78, 60, 50, CBS_DROPDOWN).with_items({"x", "y", "z"}),
        dlg::checkbox("Check", 50, 90, 100, 50, 10),
        dlg::pushbutton("Push", 60, 150, 100, 40, 14),
        dlg::ownerdraw("Drawn", 70, 150, 116, 40, 14).tabstop(),
        dlg::defpushbutton("OK", IDOK, 4, 140, 40, 14),
        dlg::pushbutton("Cancel", IDCANCEL, 50, 140, 40, 14),
    };
    return t;
  }

 protected:
  bool on_command(int id, int code, HWND) override {
    commands.push_back({id, code});
    return true;
  }
};

// The focused control's state in a few characters: an edit's text and caret
// ("abc|1"), a list's selection ("sel 1"), a combo box's selection and text
// ("sel 1 y"), the checks of the radio group ("010") or a check box ("1").
std::string state_of(const Keys& d, int id) {
  if (const Edit* e = d.edit(id)) {
    std::string text;
    for (char c : e->text()) text += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    return text + "|" + std::to_string(e->sel_end());
  }
  if (const ListBox* l = d.list(id)) return "sel " + std::to_string(l->cur_sel());
  if (const ComboBox* c = d.combo(id)) return "sel " + std::to_string(c->cur_sel()) + " " + c->text();
  if (id >= 20 && id <= 22) {
    std::string checks;
    for (int r = 20; r <= 22; ++r) checks += std::to_string(d.is_checked(r));
    return checks;
  }
  return std::to_string(d.is_checked(id));
}

struct KeyCase {
  int control;
  Key key;
  bool used;
  Commands commands;
  int focus;          // the control with the focus afterwards
  std::string state;  // state_of(control) afterwards
};

constexpr int kEdit = 10, kMultiLine = 11, kRadio = 21, kList = 30, kDropList = 40, kDropDown = 41, kCheck = 50,
              kPush = 60, kDrawn = 70;
const std::pair<int, int> kOk{IDOK, static_cast<int>(BN_CLICKED)};

// Before each key: the edit holds "abc" with the caret after "a", the
// multi-line edit "ab" CR LF "cd" with the caret after "c", radio B is
// checked, the list and the combo boxes select their second item, the
// drop-down's field holds "qu".
const std::vector<KeyCase> kKeyCases = {
    // A one-line edit: Enter is the default button's; caret keys; editing.
    {kEdit, Key::Enter, true, {kOk}, kEdit, "abc|1"},
    {kEdit, Key::Space, true, {{kEdit, EN_CHANGE}}, kEdit, "a bc|2"},
    {kEdit, Key::Up, true, {}, kEdit, "abc|1"},
    {kEdit, Key::Down, true, {}, kEdit, "abc|1"},
    {kEdit, Key::Left, true, {}, kEdit, "abc|0"},
    {kEdit, Key::Right, true, {}, kEdit, "abc|2"},
    {kEdit, Key::Home, true, {}, kEdit, "abc|0"},
    {kEdit, Key::End, true, {}, kEdit, "abc|3"},
    {kEdit, Key::PageUp, false, {}, kEdit, "abc|1"},
    {kEdit, Key::PageDown, false, {}, kEdit, "abc|1"},
    {kEdit, Key::Backspace, true, {{kEdit, EN_CHANGE}}, kEdit, "bc|0"},
    {kEdit, Key::Delete, true, {{kEdit, EN_CHANGE}}, kEdit, "ac|1"},
    // A multi-line edit with ES_WANTRETURN takes Enter as a line break.
    {kMultiLine, Key::Enter, true, {{kMultiLine, EN_CHANGE}}, kMultiLine, "ab\\r\\nc\\r\\nd|7"},
    {kMultiLine, Key::Space, true, {{kMultiLine, EN_CHANGE}}, kMultiLine, "ab\\r\\nc d|6"},
    {kMultiLine, Key::Up, true, {}, kMultiLine, "ab\\r\\ncd|1"},
    {kMultiLine, Key::Down, true, {}, kMultiLine, "ab\\r\\ncd|5"},
    {kMultiLine, Key::Left, true, {}, kMultiLine, "ab\\r\\ncd|4"},
    {kMultiLine, Key::Right, true, {}, kMultiLine, "ab\\r\\ncd|6"},
    {kMultiLine, Key::Home, true, {}, kMultiLine, "ab\\r\\ncd|0"},
    {kMultiLine, Key::End, true, {}, kMultiLine, "ab\\r\\ncd|6"},
    {kMultiLine, Key::PageUp, true, {}, kMultiLine, "ab\\r\\ncd|1"},
    {kMultiLine, Key::PageDown, true, {}, kMultiLine, "ab\\r\\ncd|5"},
    {kMultiLine, Key::Backspace, true, {{kMultiLine, EN_CHANGE}}, kMultiLine, "ab\\r\\nd|4"},
    {kMultiLine, Key::Delete, true, {{kMultiLine, EN_CHANGE}}, kMultiLine, "ab\\r\\nc|5"},
    // A radio button: Space clicks it, arrows move the check round the group.
    {kRadio, Key::Enter, true, {kOk}, kRadio, "010"},
    {kRadio, Key::Space, true, {{kRadio, BN_CLICKED}}, kRadio, "010"},
    {kRadio, Key::Up, true, {{20, BN_CLICKED}}, 20, "100"},
    {kRadio, Key::Left, true, {{20, BN_CLICKED}}, 20, "100"},
    {kRadio, Key::Down, true, {{22, BN_CLICKED}}, 22, "001"},
    {kRadio, Key::Right, true, {{22, BN_CLICKED}}, 22, "001"},
    {kRadio, Key::Home, false, {}, kRadio, "010"},
    {kRadio, Key::End, false, {}, kRadio, "010"},
    {kRadio, Key::PageUp, false, {}, kRadio, "010"},
    {kRadio, Key::PageDown, false, {}, kRadio, "010"},
    {kRadio, Key::Backspace, false, {}, kRadio, "010"},
    {kRadio, Key::Delete, false, {}, kRadio, "010"},
    // A list box moves its selection; Space and editing keys do nothing.
    {kList, Key::Enter, true, {kOk}, kList, "sel 1"},
    {kList, Key::Space, false, {}, kList, "sel 1"},
    {kList, Key::Up, true, {{kList, LBN_SELCHANGE}}, kList, "sel 0"},
    {kList, Key::Left, true, {{kList, LBN_SELCHANGE}}, kList, "sel 0"},
    {kList, Key::Down, true, {{kList, LBN_SELCHANGE}}, kList, "sel 2"},
    {kList, Key::Right, true, {{kList, LBN_SELCHANGE}}, kList, "sel 2"},
    {kList, Key::Home, true, {{kList, LBN_SELCHANGE}}, kList, "sel 0"},
    {kList, Key::End, true, {{kList, LBN_SELCHANGE}}, kList, "sel 2"},
    {kList, Key::PageUp, true, {{kList, LBN_SELCHANGE}}, kList, "sel 0"},
    {kList, Key::PageDown, true, {{kList, LBN_SELCHANGE}}, kList, "sel 2"},
    {kList, Key::Backspace, false, {}, kList, "sel 1"},
    {kList, Key::Delete, false, {}, kList, "sel 1"},
    // A drop-down list: arrows pick, Space and Backspace go to the field.
    {kDropList, Key::Enter, true, {kOk}, kDropList, "sel 1 y"},
    {kDropList, Key::Space, true, {}, kDropList, "sel 1 y"},
    {kDropList, Key::Up, true, {{kDropList, CBN_SELCHANGE}}, kDropList, "sel 0 x"},
    {kDropList, Key::Left, true, {{kDropList, CBN_SELCHANGE}}, kDropList, "sel 0 x"},
    {kDropList, Key::Down, true, {{kDropList, CBN_SELCHANGE}}, kDropList, "sel 2 z"},
    {kDropList, Key::Right, true, {{kDropList, CBN_SELCHANGE}}, kDropList, "sel 2 z"},
    {kDropList, Key::Home, false, {}, kDropList, "sel 1 y"},
    {kDropList, Key::End, false, {}, kDropList, "sel 1 y"},
    {kDropList, Key::PageUp, false, {}, kDropList, "sel 1 y"},
    {kDropList, Key::PageDown, false, {}, kDropList, "sel 1 y"},
    {kDropList, Key::Backspace, true, {}, kDropList, "sel 1 y"},
    {kDropList, Key::Delete, false, {}, kDropList, "sel 1 y"},
    // A drop-down with a field edits it.
    {kDropDown, Key::Space, true, {{kDropDown, CBN_EDITCHANGE}}, kDropDown, "sel -1 qu "},
    {kDropDown, Key::Backspace, true, {{kDropDown, CBN_EDITCHANGE}}, kDropDown, "sel -1 q"},
    {kDropDown, Key::Delete, false, {}, kDropDown, "sel -1 qu"},
    // A check box: Space clicks it, Enter is the default button's.
    {kCheck, Key::Enter, true, {kOk}, kCheck, "0"},
    {kCheck, Key::Space, true, {{kCheck, BN_CLICKED}}, kCheck, "1"},
    {kCheck, Key::Down, false, {}, kCheck, "0"},
    {kCheck, Key::Home, false, {}, kCheck, "0"},
    {kCheck, Key::Backspace, false, {}, kCheck, "0"},
    // Push buttons, owner-drawn ones too, take Enter and Space themselves.
    {kPush, Key::Enter, true, {{kPush, BN_CLICKED}}, kPush, "0"},
    {kPush, Key::Space, true, {{kPush, BN_CLICKED}}, kPush, "0"},
    {kPush, Key::Down, false, {}, kPush, "0"},
    {kPush, Key::Delete, false, {}, kPush, "0"},
    {kDrawn, Key::Enter, true, {{kDrawn, BN_CLICKED}}, kDrawn, "0"},
    {kDrawn, Key::Space, true, {{kDrawn, BN_CLICKED}}, kDrawn, "0"},
    {kDrawn, Key::Up, false, {}, kDrawn, "0"},
};

// Shows `d` in the state kKeyCases start from, `id` focused with the caret
// where they say, and forgets the commands that caused.
void start(Keys& d, int id) {
  ASSERT_NE(d.create_modeless(0), 0u);
  show_window(d.hwnd(), SW_SHOW);
  d.edit(kEdit)->set_text("abc");
  d.edit(kMultiLine)->set_text("ab\r\ncd");
  d.check_button(kRadio, BST_CHECKED);
  d.list(kList)->set_cur_sel(1);
  d.combo(kDropList)->set_cur_sel(1);
  d.combo(kDropDown)->set_text("qu");
  d.goto_control(id);
  if (id == kEdit) d.edit(kEdit)->set_sel(1, 1);
  if (id == kMultiLine) d.edit(kMultiLine)->set_sel(5, 5);
  d.commands.clear();
}

TEST(DialogKeys, EachKeyOnEachKindOfFocusedControl) {
  ScopedVirtualClock clock;
  for (const KeyCase& c : kKeyCases) {
    SCOPED_TRACE("control " + std::to_string(c.control) + ", key " + key_name(c.key));
    Keys d;  // a fresh dialog: every case starts from the same state
    start(d, c.control);
    EXPECT_EQ(press_key(c.key), c.used);
    EXPECT_EQ(d.commands, c.commands);
    EXPECT_EQ(get_dlg_ctrl_id(get_focus()), c.focus);
    EXPECT_EQ(state_of(d, c.control), c.state);
    destroy_window(d.hwnd());
  }
}

TEST(DialogKeys, TabEscAndF1AreTheDialogsWhateverHasTheFocus) {
  ScopedVirtualClock clock;
  for (int id : {kEdit, kMultiLine, kRadio, kList, kDropList, kDropDown, kCheck, kPush, kDrawn}) {
    SCOPED_TRACE("control " + std::to_string(id));
    Keys d;
    start(d, id);
    EXPECT_TRUE(press_key(Key::Escape));
    EXPECT_TRUE(press_key(Key::F1));
    MessageLoop::current().pump_pending();  // help is posted
    EXPECT_EQ(d.commands, (Commands{{IDCANCEL, BN_CLICKED}, {ID_HELP, BN_CLICKED}}));
    EXPECT_EQ(get_dlg_ctrl_id(get_focus()), id);
    EXPECT_TRUE(press_key(Key::Tab));
    EXPECT_NE(get_dlg_ctrl_id(get_focus()), id);
    EXPECT_TRUE(press_key(Key::BackTab));
    EXPECT_EQ(get_dlg_ctrl_id(get_focus()), id);
    destroy_window(d.hwnd());
  }
}

TEST(MnemonicText, MarksAndWhatIsShown) {
  struct Case {
    const char* text;
    const char* shown;
    std::vector<std::size_t> marked;
    bool ends_with_mark;
    char32_t mnemonic;
  };
  const Case cases[] = {
      {"&Next >", "Next >", {0}, false, U'n'},
      {"< &Back", "< Back", {2}, false, U'b'},
      {"Fish && Chips", "Fish & Chips", {}, false, 0},
      {"Fish && &Chips", "Fish & Chips", {7}, false, U'c'},
      {"&&&Tone", "&Tone", {1}, false, U't'},
      {"&A and &B", "A and B", {0, 6}, false, U'a'},  // the first mark is the mnemonic
      {"Rock &", "Rock &", {}, true, 0},
      {"Rock &&", "Rock &", {}, false, 0},
      {"&", "&", {}, true, 0},
      {"", "", {}, false, 0},
      {"no marks", "no marks", {}, false, 0},
      {"Stra\xC3\x9F&\xC3\xA9", "Stra\xC3\x9F\xC3\xA9", {6}, false, U'\u00E9'},
      {"&\xC3\x89t\xC3\xA9", "\xC3\x89t\xC3\xA9", {0}, false, U'\u00C9'},  // no case folding outside ASCII
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const MnemonicText m = parse_mnemonics(c.text);
    EXPECT_EQ(m.shown, c.shown);
    EXPECT_EQ(strip_mnemonics(c.text), c.shown);
    EXPECT_EQ(m.marked, c.marked);
    EXPECT_EQ(m.ends_with_mark, c.ends_with_mark);
    EXPECT_EQ(mnemonic_of(c.text), c.mnemonic);
  }
}

class Labels final : public Dialog {
 public:
  Labels() : Dialog(tmpl()) {}
  static DialogTemplate tmpl() {
    DialogTemplate t;
    t.id = 703;
    t.caption = "Labels";
    t.rect = {0, 0, 200, 150};
    t.controls = {
        dlg::ltext("&Password:", 100, 4, 4, 30, 8),
        dlg::edit(10, 40, 4, 60, 12),
        dlg::ltext("Hidden field:", 101, 4, 20, 30, 8),
        dlg::edit(11, 40, 20, 60, 12).hidden(),
        dlg::edit(12, 40, 20, 60, 12).disabled(),
        dlg::ltext("&Two", 102, 4, 36, 30, 8),
        dlg::ltext("lines:", 103, 4, 44, 30, 8),
        dlg::edit(13, 40, 36, 60, 12),
        dlg::groupbox("&Dialing", 104, 4, 60, 120, 30),
        dlg::checkbox("&Tone", 14, 10, 70, 50, 10),
        dlg::edit(15, 70, 70, 40, 12),
        dlg::ltext("Nothing after", 105, 4, 100, 60, 8),
    };
    return t;
  }
};

TEST(Labels, WhichFieldALabelNamesAndTheLabelOfAField) {
  ScopedVirtualClock clock;
  Labels d;
  HWND h = d.create_modeless(0);
  ASSERT_NE(h, 0u);
  show_window(h, SW_SHOW);
  const auto field = [&](int label, bool enabled_only) {
    return get_dlg_ctrl_id(field_named_by(d.item(label), enabled_only));
  };
  EXPECT_EQ(field(100, false), 10);
  // A hidden field is passed over; a disabled one only by a mnemonic.
  EXPECT_EQ(field(101, false), 12);
  EXPECT_EQ(field(101, true), 13);
  // Two labels before one field both name it.
  EXPECT_EQ(field(102, false), 13);
  EXPECT_EQ(field(103, false), 13);
  // A group box names the first field inside it: a check box counts.
  EXPECT_EQ(field(104, false), 14);
  EXPECT_EQ(field(105, false), 0);
  EXPECT_EQ(field_named_by(d.item(10), false), 0u);  // a field is no label

  // A field's label is the static text right before it.
  EXPECT_EQ(label_text_of(d.item(10)), "Password");
  EXPECT_EQ(label_text_of(d.item(12)), "Hidden field");
  EXPECT_EQ(label_text_of(d.item(13)), "lines");
  // A check box before a field is no label; neither is a group box.
  EXPECT_EQ(label_of_field(d.item(15)), 0u);
  EXPECT_EQ(label_of_field(d.item(14)), 0u);
  EXPECT_EQ(label_text_of(d.item(15)), "");
  destroy_window(h);
}

}  // namespace
