// Dialogs: windows made from templates, run modeless or modal.
//
// Principles:
//  - A DialogTemplate is written in code: id, caption, size in dialog units,
//    and its controls (class, id, text, rectangle, style, list items). The
//    builders in namespace `dlg` mirror the resource statements (LTEXT,
//    PUSHBUTTON, EDITTEXT, ...) and set the same default styles; modifiers
//    (.hidden(), .disabled(), .group(), ...) adjust them. Templates are
//    registered by id at start-up, so a page is constructed from its id.
//  - create_modeless() makes the window (hidden unless the template has
//    WS_VISIBLE), fills list and combo items, runs on_init_dialog() and
//    returns the handle. do_modal() does the same, disables the owner, shows
//    the dialog, runs a nested MessageLoop::run_modal() (timers and posted
//    messages keep flowing) and returns the code given to end_dialog(); the
//    owner is enabled and activated again and the window destroyed before it
//    returns.
//  - Commands: on_command() sees every WM_COMMAND first; IDOK goes to on_ok(),
//    IDCANCEL to on_cancel(), ID_HELP to on_help() when on_command() did not
//    take it. on_ok() runs update_data(true) and ends a modal dialog with
//    IDOK; on_cancel() ends it with IDCANCEL. In a modeless dialog end_dialog()
//    only hides it.
//  - Data exchange: do_data_exchange(DataExchange&) lists the member/control
//    pairs; update_data(true) moves controls into members and fails at the
//    first check that fails (its message box is shown, the focus goes to the
//    field, the rest is not moved); update_data(false) moves members into
//    controls. on_init_dialog() runs update_data(false) in the base.
//  - Painting: the dialog fills its background, draws its picture controls,
//    calls on_paint() (titles) and then on_draw_item() for each visible
//    owner-draw button; everything goes to the paint record.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/user_input.h"
#include "platform/ui/window.h"

namespace platform {

// Standard command ids.
enum : int { IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7 };
enum : int { ID_HELP = 57670, IDC_STATIC = -1 };
// Dialog styles.
enum : std::uint32_t { DS_MODALFRAME = 0x80, DS_CENTER = 0x800 };
// Default-button messages (wparam of DM_SETDEFID is the id).
enum : unsigned { DM_GETDEFID = WM_USER + 0, DM_SETDEFID = WM_USER + 1 };

struct ControlTemplate {
  std::string cls;  // "BUTTON", "EDIT", "STATIC", "LISTBOX", "COMBOBOX"
  int id = IDC_STATIC;
  std::string text;
  Rect rect;  // dialog units: left, top, right, bottom
  std::uint32_t style = 0;
  std::vector<std::string> items;  // initial list or combo items, in order

  ControlTemplate& hidden() { style &= ~WS_VISIBLE; return *this; }
  ControlTemplate& disabled() { style |= WS_DISABLED; return *this; }
  ControlTemplate& group() { style |= WS_GROUP; return *this; }
  ControlTemplate& tabstop(bool on = true) { on ? style |= WS_TABSTOP : style &= ~WS_TABSTOP; return *this; }
  ControlTemplate& with(std::uint32_t bits) { style |= bits; return *this; }
  ControlTemplate& without(std::uint32_t bits) { style &= ~bits; return *this; }
  ControlTemplate& with_items(std::vector<std::string> list) { items = std::move(list); return *this; }
};

struct DialogTemplate {
  int id = 0;
  std::string caption;
  Rect rect;  // dialog units; left/top are where the dialog opens
  std::uint32_t style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  std::vector<ControlTemplate> controls;
};

// Builders with the resource compiler's defaults (WS_CHILD | WS_VISIBLE, plus
// WS_TABSTOP for buttons, edits, lists and combos). x, y, cx, cy in dialog units.
namespace dlg {
ControlTemplate ltext(std::string text, int id, int x, int y, int cx, int cy);
ControlTemplate ctext(std::string text, int id, int x, int y, int cx, int cy);
ControlTemplate rtext(std::string text, int id, int x, int y, int cx, int cy);
// A picture showing the bitmap resource `bitmap` (SS_BITMAP).
ControlTemplate picture(std::string bitmap, int id, int x, int y, int cx, int cy);
ControlTemplate groupbox(std::string text, int id, int x, int y, int cx, int cy);
ControlTemplate pushbutton(std::string text, int id, int x, int y, int cx, int cy);
ControlTemplate defpushbutton(std::string text, int id, int x, int y, int cx, int cy);
// An owner-draw button (its dialog draws it); the text names its bitmaps.
ControlTemplate ownerdraw(std::string text, int id, int x, int y, int cx, int cy);
ControlTemplate checkbox(std::string text, int id, int x, int y, int cx, int cy);  // BS_AUTOCHECKBOX
ControlTemplate radio(std::string text, int id, int x, int y, int cx, int cy);     // BS_AUTORADIOBUTTON
ControlTemplate edit(int id, int x, int y, int cx, int cy, std::uint32_t style = ES_AUTOHSCROLL);
ControlTemplate combobox(int id, int x, int y, int cx, int cy, std::uint32_t style = CBS_DROPDOWNLIST,
                         std::vector<std::string> items = {});
ControlTemplate listbox(int id, int x, int y, int cx, int cy, std::uint32_t style = LBS_NOTIFY);
}  // namespace dlg

// Process-wide template table. Registering an id again replaces the template.
void register_dialog_template(DialogTemplate tmpl);
const DialogTemplate* find_dialog_template(int id);
// Ids of the registered templates, in ascending order.
std::vector<int> dialog_template_ids();

class Dialog;

// Moves values between members and controls (MFC's DDX/DDV).
class DataExchange {
 public:
  DataExchange(Dialog& dialog, bool save) : dialog_(dialog), save_(save) {}
  bool saving() const { return save_; }
  bool failed() const { return failed_; }
  Dialog& dialog() { return dialog_; }

  // Each call does nothing once an earlier one failed. A control that does not
  // exist fails the exchange (logged), so a wrong id cannot pass silently.
  void text(int id, std::string& value);
  // Text with a maximum length. Saving: longer text shows "Please enter no
  // more than %1 characters." (%1 = max) and fails. Loading: moves the text
  // and sets the control's limit to max.
  void text(int id, std::string& value, int max_chars);
  void check(int id, int& value);  // BST_* state
  void check(int id, bool& value);
  // Radio group starting at `first_id`: index of the checked button, -1 none.
  void radio(int first_id, int& index);
  // List or combo selection by index (-1 none).
  void list_index(int id, int& index);
  // List or combo text. Saving: the selected item's text (a combo with an
  // edit field: the field's text). Loading: selects the first item starting
  // with the value; a combo with an edit field shows the value when none does.
  void list_string(int id, std::string& value);

  // Marks the exchange failed with focus on control `id` (0: focus stays);
  // for checks of one's own after their message was shown.
  void fail(int id = 0);

 private:
  HWND control(int id, ControlType expected_a, ControlType expected_b);
  Dialog& dialog_;
  bool save_;
  bool failed_ = false;
};

// Passed to on_draw_item for an owner-draw button.
struct DrawItem {
  DC& dc;        // the dialog's paint DC (pixels, dialog client coordinates)
  int id;
  HWND control;
  Rect rect;     // the control's rectangle in the dialog
  bool selected;
  bool focused;
  bool disabled;
};

class Dialog : public Window {
 public:
  // The template is looked up in the table when the window is made.
  explicit Dialog(int template_id);
  explicit Dialog(DialogTemplate tmpl);
  ~Dialog() override;

  WindowKind kind() const override { return WindowKind::Dialog; }
  int template_id() const { return template_id_; }

  // Makes the window owned by `owner` (0: none). 0 when the template is
  // missing or a control cannot be made (logged).
  HWND create_modeless(HWND owner);
  // Runs modally; returns end_dialog's code, -1 when the dialog could not be
  // made or the loop was quit (the quit stays pending for the outer loops).
  int do_modal(HWND owner = 0);
  void end_dialog(int result);
  bool is_modal() const { return modal_ != nullptr; }
  // A modal dialog whose end_dialog() was called but whose loop has not
  // returned yet: still on screen, no longer taking input.
  bool is_ending() const { return modal_ != nullptr && modal_->ended; }
  int result() const { return result_; }

  // Controls by id.
  HWND item(int id) const { return get_dlg_item(hwnd(), id); }
  template <class T>
  T* control(int id) const { return window_cast<T>(item(id)); }
  Edit* edit(int id) const { return control<Edit>(id); }
  Button* button(int id) const { return control<Button>(id); }
  ComboBox* combo(int id) const { return control<ComboBox>(id); }
  ListBox* list(int id) const { return control<ListBox>(id); }
  std::string item_text(int id) const;
  bool set_item_text(int id, std::string_view text);
  int is_checked(int id) const;
  bool check_button(int id, int state);
  // Checks `id` and clears the other buttons from first to last.
  bool check_radio(int first, int last, int id);
  bool enable_item(int id, bool enable);
  bool show_item(int id, bool show);

  // Default button (DM_SETDEFID): the button that Enter presses. Moving it
  // gives the new one BS_DEFPUSHBUTTON and the old one BS_PUSHBUTTON.
  void set_default_id(int id);
  int default_id() const;

  // Focus moves. goto_control is the dialog manager's "next control with an
  // explicit handle": the control gets the focus and an edit has all of its
  // text selected.
  void goto_control(int id);
  void goto_control_handle(HWND control);
  // Tab order: next (or previous) visible, enabled tab stop after the focus.
  void next_control(bool previous = false);
  HWND next_tab_item(HWND from, bool previous) const;
  // The control that has (or last had) the focus in this dialog.
  HWND focus_control() const { return focus_; }

  bool update_data(bool save);

  // Keyboard (dialog manager). True when the key was used. Tab, Esc and F1
  // are the dialog's; other keys go to the focused control first
  // (Control::handle_key), and Enter it leaves presses the default button.
  bool handle_key(Key key);
  // Typed or pasted characters into the focused control
  // (Control::handle_chars); a letter a button leaves is its mnemonic.
  bool handle_chars(std::string_view chars);
  // Alt+letter: see platform/ui/user_input.h.
  bool handle_mnemonic(char32_t letter);

 protected:
  // After the controls exist, before the dialog is shown. Return true to let
  // the dialog give the focus to its first tab stop; false when the handler
  // set the focus itself. The base runs update_data(false) and returns true.
  virtual bool on_init_dialog();
  // Every WM_COMMAND; return true when handled.
  virtual bool on_command(int id, int code, HWND control);
  virtual void on_ok();
  virtual void on_cancel();
  // ID_HELP (F1 or a Help button with that id); the base does nothing.
  virtual void on_help();
  virtual void do_data_exchange(DataExchange& dx);
  // Owner-draw buttons; the base draws nothing.
  virtual void on_draw_item(DrawItem& item);
  // Called when the dialog is shown (true) or hidden (false).
  virtual void on_show(bool shown);

  LRESULT window_proc(const Message& msg) override;

 private:
  friend class WindowModel;
  void paint_content(DC& dc) final;
  bool make_window(HWND owner);
  bool make_control(const ControlTemplate& ct);
  void init_dialog();
  void set_focus_control(HWND h) { focus_ = h; }
  // The control with the focus when it is this dialog's, shown and enabled.
  Control* focused_control() const;

  DialogTemplate tmpl_;
  int template_id_ = 0;
  bool have_template_ = false;
  int default_id_ = 0;
  HWND focus_ = 0;
  ModalState* modal_ = nullptr;
  int result_ = 0;

 protected:
  // Message boxes run without an owner when given none; other dialogs take
  // the active window as owner then, as the framework did with its main window.
  bool owner_defaults_to_active_ = true;
};

}  // namespace platform
