// Controls: the child windows of a dialog.
//
// Principles:
//  - A control is a child Window with an id; its dialog (the parent) gets
//    WM_COMMAND with wparam = make_wparam(id, code) and lparam = the control's
//    handle, sent at once, as the Windows controls send them:
//      buttons   BN_CLICKED after a click (check boxes and radio buttons
//                change their state first);
//      edits     EN_CHANGE after each change of the text (typed or set);
//      lists     LBN_SELCHANGE when the user changes the selection,
//                LBN_DBLCLK on a double click;
//      combos    CBN_SELCHANGE when the user picks another item,
//                CBN_EDITCHANGE when the user types into the edit field.
//    Selections made by the program send nothing, as in Windows.
//  - Methods named user_* are what a person does (the text limit and
//    upper-casing apply, notifications follow); renderers and the scripted
//    user reach them through platform/ui/user_input.h. The other methods are the
//    program's (like the control messages), and do not notify unless said.
//  - Styles keep their Windows values; the control's type is fixed by class
//    and style when it is created from a template.
//  - A list box shows height / 13 rows (one row is 8 dialog units); the top
//    index follows the selection when the user moves it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/user_input.h"
#include "platform/ui/window.h"

namespace platform {

// Button styles.
enum : std::uint32_t {
  BS_PUSHBUTTON = 0x0,
  BS_DEFPUSHBUTTON = 0x1,
  BS_CHECKBOX = 0x2,
  BS_AUTOCHECKBOX = 0x3,
  BS_RADIOBUTTON = 0x4,
  BS_GROUPBOX = 0x7,
  BS_AUTORADIOBUTTON = 0x9,
  BS_OWNERDRAW = 0xB,
  BS_TYPEMASK = 0xF,
};
// Edit styles.
enum : std::uint32_t {
  ES_LEFT = 0x0,
  ES_MULTILINE = 0x4,
  ES_UPPERCASE = 0x8,
  ES_PASSWORD = 0x20,
  ES_AUTOVSCROLL = 0x40,
  ES_AUTOHSCROLL = 0x80,
  ES_READONLY = 0x800,
  ES_WANTRETURN = 0x1000,
};
// Static styles.
enum : std::uint32_t { SS_LEFT = 0x0, SS_CENTER = 0x1, SS_RIGHT = 0x2, SS_BITMAP = 0xE, SS_TYPEMASK = 0x1F };
// List box and combo box styles.
enum : std::uint32_t {
  LBS_NOTIFY = 0x1,
  LBS_SORT = 0x2,
  CBS_SIMPLE = 0x1,
  CBS_DROPDOWN = 0x2,
  CBS_DROPDOWNLIST = 0x3,
  CBS_TYPEMASK = 0x3,
  CBS_AUTOHSCROLL = 0x40,
  CBS_SORT = 0x100,
};
// Notification codes.
enum : unsigned {
  BN_CLICKED = 0,
  EN_SETFOCUS = 0x100,
  EN_KILLFOCUS = 0x200,
  EN_CHANGE = 0x300,
  EN_MAXTEXT = 0x501,
  LBN_SELCHANGE = 1,
  LBN_DBLCLK = 2,
  CBN_SELCHANGE = 1,
  CBN_DBLCLK = 2,
  CBN_EDITCHANGE = 5,
};
// Check states; list results.
enum : int { BST_UNCHECKED = 0, BST_CHECKED = 1, BST_INDETERMINATE = 2 };
enum : int { LB_ERR = -1, CB_ERR = -1 };

enum class ControlType {
  Static,      // text
  Picture,     // SS_BITMAP: shows a bitmap resource named by its text
  GroupBox,
  PushButton,  // also the default push button (BS_DEFPUSHBUTTON)
  CheckBox,
  RadioButton,
  OwnerDraw,   // a button its dialog draws (on_draw_item)
  Edit,
  ComboBox,
  ListBox,
};

class Control : public Window {
 public:
  Control(ControlType type, int id) : type_(type), id_(id) {}
  WindowKind kind() const override { return WindowKind::Control; }
  ControlType type() const { return type_; }
  int id() const { return id_; }
  // Whether Tab stops here and a click gives it the focus.
  bool is_tab_stop() const { return (style() & WS_TABSTOP) != 0; }
  bool takes_focus() const;
  // WM_COMMAND to the parent dialog.
  void notify(unsigned code);

  // What the focused control does with a key or typed characters (the dialog
  // offers them here first and keeps Tab, Enter, Esc, F1 and mnemonics for
  // what the control leaves); true when the control used them. What a
  // field's limit cuts off is not dropped silently: show_notice() names the
  // field and its limit ("Password: at most 8 characters").
  virtual bool handle_key(Key) { return false; }
  virtual bool handle_chars(std::string_view) { return false; }

 private:
  ControlType type_;
  int id_;
};

class StaticControl final : public Control {
 public:
  StaticControl(ControlType type, int id) : Control(type, id) {}
  // Picture: the bitmap named by the text (nullptr when missing).
  std::shared_ptr<const Bitmap> bitmap() const { return bitmap_; }
  void set_bitmap(std::shared_ptr<const Bitmap> bmp);
  void set_text(std::string_view text) override;

 private:
  std::shared_ptr<const Bitmap> bitmap_;
};

class Button final : public Control {
 public:
  Button(ControlType type, int id) : Control(type, id) {}
  int check() const { return check_; }
  void set_check(int state);  // no notification
  bool is_default() const { return (style() & BS_TYPEMASK) == BS_DEFPUSHBUTTON; }
  bool is_auto() const;
  // The user clicks: an auto check box toggles, an auto radio button checks
  // itself and clears the others of its group; then BN_CLICKED.
  void user_click();
  // The radio buttons of this button's group, in tab order (WS_GROUP starts one).
  std::vector<HWND> radio_group() const;
  // Owner-draw: pressed state while the user holds it (always false here).
  bool pressed() const { return false; }
  // Enter presses a push button, Space clicks any button, arrows move the
  // check within a radio group.
  bool handle_key(Key key) override;

 private:
  int check_ = BST_UNCHECKED;
};

class Edit final : public Control {
 public:
  explicit Edit(int id) : Control(ControlType::Edit, id) {}
  // 0 is no limit (the Windows default of 30000 applies).
  void set_limit(int max_chars);
  int limit() const { return limit_; }
  // The limit that applies: limit(), or the default for none.
  int effective_limit() const;
  bool is_password() const { return (style() & ES_PASSWORD) != 0; }
  bool is_read_only() const { return (style() & ES_READONLY) != 0; }
  bool is_multi_line() const { return (style() & ES_MULTILINE) != 0; }
  bool is_upper_case() const { return (style() & ES_UPPERCASE) != 0; }
  void set_read_only(bool read_only);
  // Text as shown: '*' for each character of a password.
  std::string display_text() const;
  // Length in characters (UTF-8 decoded); limits, selections and the caret
  // count characters, never bytes.
  int length() const;

  // Selection [start, end) in characters; the caret is at end.
  void set_sel(int start, int end);
  void select_all() { set_sel(0, -1); }
  int sel_start() const { return sel_start_; }
  int sel_end() const { return sel_end_; }
  // Setting the text (program): no limit applies, caret to the start,
  // EN_CHANGE follows.
  void set_text(std::string_view text) override;

  // Typing: replaces the selection with `chars` (UTF-8; a byte that begins no
  // valid sequence is taken as its Latin-1 character) as far as the limit
  // allows, whole characters only,
  // upper-cased for ES_UPPERCASE; nothing for a read-only edit. A one-line
  // edit takes a line break (a pasted one) as a blank, and none at the end.
  // EN_CHANGE when something changed. Returns false when the limit cut the
  // input (EN_MAXTEXT follows).
  bool user_type(std::string_view chars);
  void user_backspace();
  void user_delete();
  void user_move_caret(int position, bool extend = false);
  // Multi-line: moves the caret `delta` lines up (negative) or down, keeping
  // its column where the target line is long enough.
  void user_move_lines(int delta);
  // Lines that fit the control's height (at least 1).
  int visible_rows() const;

  // Caret keys, Backspace, Delete; Space and characters type; Enter types a
  // line break into a multi-line edit with ES_WANTRETURN.
  bool handle_key(Key key) override;
  bool handle_chars(std::string_view chars) override;

 private:
  void replace_selection(std::string_view chars);
  int limit_ = 0;
  int sel_start_ = 0;
  int sel_end_ = 0;
};

// Items shared by list boxes and combo boxes.
class ItemList {
 public:
  int count() const { return static_cast<int>(items_.size()); }
  std::string item_text(int index) const;  // empty when out of range
  std::intptr_t item_data(int index) const;
  bool set_item_data(int index, std::intptr_t data);
  const std::vector<std::string>& items() const { return texts_; }
  // Case-insensitive search from after `start` (-1: from the top), wrapping.
  int find_prefix(int start, std::string_view prefix) const;
  int find_exact(int start, std::string_view text) const;

 protected:
  int add(std::string_view text, bool sorted);
  int insert(int index, std::string_view text);
  bool remove(int index);
  void clear();

 private:
  std::vector<std::string> texts_;
  std::vector<std::intptr_t> items_;  // item data
};

class ListBox final : public Control, public ItemList {
 public:
  explicit ListBox(int id) : Control(ControlType::ListBox, id) {}
  bool is_sorted() const { return (style() & LBS_SORT) != 0; }
  // Adds in sorted place (case-insensitive) or at the end; returns the index.
  int add_string(std::string_view text);
  // Inserts at `index` (-1: end); no sorting. LB_ERR when out of range.
  int insert_string(int index, std::string_view text);
  int delete_string(int index);  // remaining count, LB_ERR
  void reset_content();
  int cur_sel() const { return sel_; }
  int set_cur_sel(int index);  // -1 clears; LB_ERR when out of range
  // Selects the first item from after `start` whose text begins with
  // `prefix` (case-insensitive); returns its index or LB_ERR.
  int select_string(int start, std::string_view prefix);
  int top_index() const { return top_; }
  // Scrolls `index` to the top row, or as near as the list allows: the top
  // row never passes count() - visible_rows(), so the last page is always
  // full and the entries above it stay reachable. LB_ERR when out of range.
  int set_top_index(int index);
  int visible_rows() const;
  // The highest top row: count() - visible_rows(), at least 0.
  int max_top_index() const;

  void user_select(int index);        // LBN_SELCHANGE
  void user_double_click(int index);  // selects, then LBN_DBLCLK
  void user_key(int delta);           // arrows: move the selection by delta
  void user_type_char(char c);        // jump to the next item starting with c

  // Arrows, Home/End, Page Up/Down move the selection; characters jump.
  bool handle_key(Key key) override;
  bool handle_chars(std::string_view chars) override;

 private:
  void scroll_into_view();
  int sel_ = -1;
  int top_ = 0;
};

class ComboBox final : public Control, public ItemList {
 public:
  explicit ComboBox(int id) : Control(ControlType::ComboBox, id) {}
  bool has_edit() const { return (style() & CBS_TYPEMASK) != CBS_DROPDOWNLIST; }
  bool is_sorted() const { return (style() & CBS_SORT) != 0; }
  int add_string(std::string_view text);
  int insert_string(int index, std::string_view text);
  int delete_string(int index);
  void reset_content();
  int cur_sel() const { return sel_; }
  // Selects (and shows its text in the field); -1 clears. CB_ERR when out of range.
  int set_cur_sel(int index);
  int select_string(int start, std::string_view prefix);
  // Limit of the edit field (0: none).
  void set_limit(int max_chars) { limit_ = max_chars; }
  int limit() const { return limit_; }
  int effective_limit() const;
  // The field's text: for a drop-down list, the selected item's.
  void set_text(std::string_view text) override;

  void user_select(int index);  // CBN_SELCHANGE
  void user_key(int delta);
  // Typing into the field (drop-down with edit): clears the list selection,
  // CBN_EDITCHANGE. A drop-down list jumps to the next matching item instead.
  bool user_type(std::string_view chars);
  void user_backspace();
  // Replaces the whole field as typed (select all + type).
  bool user_replace(std::string_view chars);

  // Arrows move the selection, Backspace and Space and characters edit.
  bool handle_key(Key key) override;
  bool handle_chars(std::string_view chars) override;

 private:
  int sel_ = -1;
  int limit_ = 0;
};

// The control of the dialog `dialog` with `id`, or 0.
HWND get_dlg_item(HWND dialog, int id);
// The control id of a control handle, 0 for none.
int get_dlg_ctrl_id(HWND control);

}  // namespace platform
