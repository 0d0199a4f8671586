#include "platform/ui/dialog.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>

#include "platform/storage/ascii.h"
#include "platform/loop/log.h"
#include "platform/ui/display.h"
#include "platform/ui/labels.h"
#include "platform/ui/message_box.h"
#include "platform/ui/utf8.h"
#include "window_model.h"

namespace platform {

// ---------------------------------------------------------------- templates

namespace dlg {
namespace {
constexpr std::uint32_t kChild = WS_CHILD | WS_VISIBLE;
ControlTemplate make(std::string cls, std::string text, int id, int x, int y, int cx, int cy, std::uint32_t style) {
  ControlTemplate t;
  t.cls = std::move(cls);
  t.id = id;
  t.text = std::move(text);
  t.rect = {x, y, x + cx, y + cy};
  t.style = style;
  return t;
}
}  // namespace

ControlTemplate ltext(std::string text, int id, int x, int y, int cx, int cy) {
  return make("STATIC", std::move(text), id, x, y, cx, cy, kChild | WS_GROUP | SS_LEFT);
}
ControlTemplate ctext(std::string text, int id, int x, int y, int cx, int cy) {
  return make("STATIC", std::move(text), id, x, y, cx, cy, kChild | WS_GROUP | SS_CENTER);
}
ControlTemplate rtext(std::string text, int id, int x, int y, int cx, int cy) {
  return make("STATIC", std::move(text), id, x, y, cx, cy, kChild | WS_GROUP | SS_RIGHT);
}
ControlTemplate picture(std::string bitmap, int id, int x, int y, int cx, int cy) {
  return make("STATIC", std::move(bitmap), id, x, y, cx, cy, kChild | SS_BITMAP);
}
ControlTemplate groupbox(std::string text, int id, int x, int y, int cx, int cy) {
  return make("BUTTON", std::move(text), id, x, y, cx, cy, kChild | BS_GROUPBOX);
}
ControlTemplate pushbutton(std::string text, int id, int x, int y, int cx, int cy) {
  return make("BUTTON", std::move(text), id, x, y, cx, cy, kChild | WS_TABSTOP | BS_PUSHBUTTON);
}
ControlTemplate defpushbutton(std::string text, int id, int x, int y, int cx, int cy) {
  return make("BUTTON", std::move(text), id, x, y, cx, cy, kChild | WS_TABSTOP | BS_DEFPUSHBUTTON);
}
ControlTemplate ownerdraw(std::string text, int id, int x, int y, int cx, int cy) {
  return make("BUTTON", std::move(text), id, x, y, cx, cy, kChild | BS_OWNERDRAW);
}
ControlTemplate checkbox(std::string text, int id, int x, int y, int cx, int cy) {
  return make("BUTTON", std::move(text), id, x, y, cx, cy, kChild | WS_TABSTOP | BS_AUTOCHECKBOX);
}
ControlTemplate radio(std::string text, int id, int x, int y, int cx, int cy) {
  return make("BUTTON", std::move(text), id, x, y, cx, cy, kChild | BS_AUTORADIOBUTTON);
}
ControlTemplate edit(int id, int x, int y, int cx, int cy, std::uint32_t style) {
  return make("EDIT", "", id, x, y, cx, cy, kChild | WS_TABSTOP | style);
}
ControlTemplate combobox(int id, int x, int y, int cx, int cy, std::uint32_t style, std::vector<std::string> items) {
  ControlTemplate t = make("COMBOBOX", "", id, x, y, cx, cy, kChild | WS_TABSTOP | style);
  t.items = std::move(items);
  return t;
}
ControlTemplate listbox(int id, int x, int y, int cx, int cy, std::uint32_t style) {
  return make("LISTBOX", "", id, x, y, cx, cy, kChild | WS_TABSTOP | style);
}
}  // namespace dlg

namespace {
struct TemplateTable {
  std::mutex mutex;
  std::map<int, DialogTemplate> templates;
};
TemplateTable& template_table() {
  static TemplateTable t;
  return t;
}
}  // namespace

void register_dialog_template(DialogTemplate tmpl) {
  TemplateTable& t = template_table();
  std::lock_guard lock(t.mutex);
  const int id = tmpl.id;
  t.templates[id] = std::move(tmpl);
}

const DialogTemplate* find_dialog_template(int id) {
  TemplateTable& t = template_table();
  std::lock_guard lock(t.mutex);
  auto it = t.templates.find(id);
  // std::map nodes are stable; a template replaced later keeps this pointer valid.
  return it == t.templates.end() ? nullptr : &it->second;
}

std::vector<int> dialog_template_ids() {
  TemplateTable& t = template_table();
  std::lock_guard lock(t.mutex);
  std::vector<int> ids;
  ids.reserve(t.templates.size());
  for (const auto& [id, tmpl] : t.templates) ids.push_back(id);
  return ids;
}

// ---------------------------------------------------------------- Dialog

Dialog::Dialog(int template_id) : template_id_(template_id) {}

Dialog::Dialog(DialogTemplate tmpl) : tmpl_(std::move(tmpl)), template_id_(tmpl_.id), have_template_(true) {}

Dialog::~Dialog() { destroy_from_destructor(); }

bool Dialog::make_control(const ControlTemplate& ct) {
  const std::string cls = to_ascii_upper(ct.cls);
  const std::uint32_t style = (ct.style | WS_CHILD) & ~WS_POPUP;
  Control* c = nullptr;
  if (cls == "STATIC") {
    const auto t = style & SS_TYPEMASK;
    c = new_window<StaticControl>(t == SS_BITMAP ? ControlType::Picture : ControlType::Static, ct.id);
  } else if (cls == "BUTTON") {
    ControlType type = ControlType::PushButton;
    switch (style & BS_TYPEMASK) {
      case BS_CHECKBOX:
      case BS_AUTOCHECKBOX: type = ControlType::CheckBox; break;
      case BS_RADIOBUTTON:
      case BS_AUTORADIOBUTTON: type = ControlType::RadioButton; break;
      case BS_GROUPBOX: type = ControlType::GroupBox; break;
      case BS_OWNERDRAW: type = ControlType::OwnerDraw; break;
      default: break;
    }
    c = new_window<Button>(type, ct.id);
  } else if (cls == "EDIT") {
    c = new_window<Edit>(ct.id);
  } else if (cls == "COMBOBOX") {
    c = new_window<ComboBox>(ct.id);
  } else if (cls == "LISTBOX") {
    c = new_window<ListBox>(ct.id);
  } else {
    log_error("dialog", "template " + std::to_string(template_id_) + ": unknown control class \"" + ct.cls + "\"");
    return false;
  }
  const std::string text = c->type() == ControlType::Picture ? std::string() : ct.text;
  if (c->create(text, style, dlu_to_px(ct.rect), hwnd()) == 0) {
    delete c;
    return false;
  }
  if (c->type() == ControlType::Picture) c->set_text(ct.text);  // loads the bitmap
  if (auto* list = dynamic_cast<ListBox*>(c)) {
    for (const auto& item : ct.items) list->add_string(item);
  } else if (auto* combo = dynamic_cast<ComboBox*>(c)) {
    for (const auto& item : ct.items) combo->add_string(item);
  }
  if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON && c->type() == ControlType::PushButton && default_id_ == 0)
    default_id_ = ct.id;
  return true;
}

bool Dialog::make_window(HWND owner) {
  if (!have_template_) {
    const DialogTemplate* t = find_dialog_template(template_id_);
    if (!t) {
      log_error("dialog", "no dialog template " + std::to_string(template_id_));
      return false;
    }
    tmpl_ = *t;
    have_template_ = true;
  }
  Rect r = dlu_to_px(tmpl_.rect);
  if (Window* o = window_from_handle(owner)) {
    Rect orect = o->screen_rect();
    r = {orect.left + r.left, orect.top + r.top, orect.left + r.right, orect.top + r.bottom};
  }
  const std::uint32_t style = (tmpl_.style | WS_POPUP) & ~(WS_VISIBLE | WS_CHILD);
  if (create(tmpl_.caption, style, r, 0, top_level_of(owner)) == 0) return false;
  for (const auto& ct : tmpl_.controls) {
    if (!make_control(ct)) {
      log_error("dialog", "template " + std::to_string(template_id_) + ": control " + std::to_string(ct.id) +
                              " could not be made");
      destroy_window(hwnd());
      return false;
    }
  }
  if (tmpl_.style & DS_CENTER) centre_over(hwnd(), owner);
  return true;
}

void Dialog::init_dialog() {
  const LRESULT set_default_focus = send_message(hwnd(), WM_INITDIALOG);
  if (set_default_focus && window_from_handle(hwnd()) == this && focus_ == 0) {
    HWND first = next_tab_item(0, false);
    if (first) goto_control_handle(first);
  }
}

HWND Dialog::create_modeless(HWND owner) {
  if (hwnd() != 0) return 0;
  Hold hold(this);
  if (!make_window(owner)) return 0;
  const HWND h = hwnd();
  init_dialog();
  if (window_from_handle(h) != this) return 0;
  if (tmpl_.style & WS_VISIBLE) show_window(h, SW_SHOW);
  return h;
}

int Dialog::do_modal(HWND owner) {
  if (hwnd() != 0) return -1;
  Hold hold(this);
  if (owner == 0 && owner_defaults_to_active_) owner = active_window();
  const HWND owner_top = top_level_of(owner);
  if (!make_window(owner_top)) return -1;
  const HWND h = hwnd();
  const bool owner_was_enabled = owner_top && is_window_enabled(owner_top);
  if (owner_was_enabled) enable_window(owner_top, false);

  ModalState state;
  modal_ = &state;
  result_ = -1;
  init_dialog();
  if (window_from_handle(h) == this && !state.ended) {
    show_window(h, SW_SHOW);
    MessageLoop::current().run_modal(state);
  }
  modal_ = nullptr;
  const int result = state.ended ? state.result : -1;
  result_ = result;
  // The owner comes back before the dialog goes, so activation returns to it.
  if (owner_was_enabled) enable_window(owner_top, true);
  if (window_from_handle(h) == this) {
    show_window(h, SW_HIDE);
    destroy_window(h);
  }
  if (owner_top && is_window_visible(owner_top) && is_window_enabled(owner_top)) set_active_window(owner_top);
  return result;
}

void Dialog::end_dialog(int result) {
  result_ = result;
  if (modal_) {
    MessageLoop::current().end_modal(*modal_, result);
  } else if (hwnd()) {
    show_window(hwnd(), SW_HIDE);
  }
}

std::string Dialog::item_text(int id) const { return get_window_text(item(id)); }

bool Dialog::set_item_text(int id, std::string_view text) { return set_window_text(item(id), text); }

int Dialog::is_checked(int id) const {
  Button* b = button(id);
  return b ? b->check() : BST_UNCHECKED;
}

bool Dialog::check_button(int id, int state) {
  Button* b = button(id);
  if (!b) return false;
  b->set_check(state);
  return true;
}

bool Dialog::check_radio(int first, int last, int id) {
  bool found = false;
  for (HWND c : children()) {
    auto* b = dynamic_cast<Button*>(window_from_handle(c));
    if (!b || b->id() < first || b->id() > last) continue;
    b->set_check(b->id() == id ? BST_CHECKED : BST_UNCHECKED);
    found = found || b->id() == id;
  }
  return found;
}

bool Dialog::enable_item(int id, bool enable) {
  HWND h = item(id);
  if (!h) return false;
  enable_window(h, enable);
  return true;
}

bool Dialog::show_item(int id, bool show) {
  HWND h = item(id);
  if (!h) return false;
  show_window(h, show ? SW_SHOWNA : SW_HIDE);
  return true;
}

void Dialog::set_default_id(int id) {
  if (Button* old = button(default_id_); old && old->type() == ControlType::PushButton)
    old->set_style((old->style() & ~BS_TYPEMASK) | BS_PUSHBUTTON);
  default_id_ = id;
  if (Button* b = button(id); b && b->type() == ControlType::PushButton)
    b->set_style((b->style() & ~BS_TYPEMASK) | BS_DEFPUSHBUTTON);
}

int Dialog::default_id() const { return default_id_ != 0 ? default_id_ : IDOK; }

void Dialog::goto_control(int id) {
  if (HWND h = item(id)) goto_control_handle(h);
}

void Dialog::goto_control_handle(HWND control) {
  Window* w = window_from_handle(control);
  if (!w || w->parent() != hwnd()) return;
  if (auto* e = dynamic_cast<Edit*>(w)) e->select_all();
  focus_ = control;
  // The thread's focus moves only while the dialog is up; a hidden dialog
  // remembers the control and gives it the focus when it is shown.
  if (is_visible()) set_focus(control);
}

HWND Dialog::next_tab_item(HWND from, bool previous) const {
  const auto& kids = children();
  const int n = static_cast<int>(kids.size());
  if (n == 0) return 0;
  int start = -1;
  for (int i = 0; i < n; ++i)
    if (kids[static_cast<std::size_t>(i)] == from) start = i;
  std::vector<HWND> from_group;
  if (auto* fb = window_cast<Button>(from); fb && fb->type() == ControlType::RadioButton) from_group = fb->radio_group();
  for (int k = 1; k <= n; ++k) {
    int i = start < 0 ? (previous ? n - k : k - 1) : ((start + (previous ? -k : k)) % n + n) % n;
    const HWND h = kids[static_cast<std::size_t>(i)];
    auto* c = window_cast<Control>(h);
    // The control's own visibility: a dialog that is not shown yet (during
    // WM_INITDIALOG) still has a tab order.
    if (!c || !c->has_visible_style() || !c->is_enabled() || !c->takes_focus()) continue;
    if (c->type() == ControlType::RadioButton) {
      auto* b = static_cast<Button*>(c);
      if (std::find(from_group.begin(), from_group.end(), h) != from_group.end()) continue;
      // A radio group is one stop: its checked button, else the one reached.
      for (HWND g : b->radio_group()) {
        auto* gb = window_cast<Button>(g);
        if (gb && gb->check() == BST_CHECKED && gb->has_visible_style() && gb->is_enabled()) return g;
      }
      return h;
    }
    if (c->is_tab_stop()) return h;
  }
  return 0;
}

void Dialog::next_control(bool previous) {
  HWND next = next_tab_item(focus_, previous);
  if (next) goto_control_handle(next);
}

bool Dialog::update_data(bool save) {
  Hold hold(this);
  DataExchange dx(*this, save);
  do_data_exchange(dx);
  return !dx.failed();
}

bool Dialog::on_init_dialog() {
  update_data(false);
  return true;
}

bool Dialog::on_command(int, int, HWND) { return false; }

void Dialog::on_ok() {
  if (!update_data(true)) return;
  end_dialog(IDOK);
}

void Dialog::on_cancel() { end_dialog(IDCANCEL); }

void Dialog::on_help() {}

void Dialog::do_data_exchange(DataExchange&) {}

void Dialog::on_draw_item(DrawItem&) {}

void Dialog::on_show(bool) {}

LRESULT Dialog::window_proc(const Message& msg) {
  switch (msg.message) {
    case WM_INITDIALOG:
      return on_init_dialog() ? 1 : 0;
    case WM_COMMAND: {
      const int id = static_cast<int>(static_cast<std::int16_t>(loword(msg.wparam)));
      const int code = static_cast<int>(hiword(msg.wparam));
      const HWND ctl = static_cast<HWND>(msg.lparam);
      // Ids above 32767 (ID_HELP) arrive as their unsigned value.
      const int cmd = id < 0 && id != IDC_STATIC ? static_cast<int>(loword(msg.wparam)) : id;
      if (on_command(cmd, code, ctl)) return 0;
      if (code != BN_CLICKED) return 0;
      if (cmd == IDOK) on_ok();
      else if (cmd == IDCANCEL) on_cancel();
      else if (cmd == ID_HELP) on_help();
      return 0;
    }
    case WM_CLOSE:
      send_message(hwnd(), WM_COMMAND, make_wparam(IDCANCEL, BN_CLICKED), 0);
      return 0;
    case WM_SHOWWINDOW:
      on_show(msg.wparam != 0);
      return 0;
    case DM_SETDEFID:
      set_default_id(static_cast<int>(msg.wparam));
      return 1;
    case DM_GETDEFID:
      return static_cast<LRESULT>(make_wparam(static_cast<unsigned>(default_id()), 0x534B));  // DC_HASDEFID
    default:
      return Window::window_proc(msg);
  }
}

void Dialog::paint_content(DC& dc) {
  // Pictures first, then the dialog's own drawing, then owner-draw buttons.
  for (HWND h : children()) {
    auto* s = window_cast<StaticControl>(h);
    if (!s || s->type() != ControlType::Picture || !s->is_visible() || !s->bitmap()) continue;
    Bitmap copy = *s->bitmap();
    DC src(&copy);
    dc.set_control_id(s->id());
    dc.bit_blt(s->rect().left, s->rect().top, copy.width(), copy.height(), src, 0, 0, Rop::SrcCopy);
    dc.set_control_id(0);
  }
  on_paint(dc);
  for (HWND h : children()) {
    auto* b = window_cast<Button>(h);
    if (!b || b->type() != ControlType::OwnerDraw || !b->is_visible()) continue;
    dc.set_control_id(b->id());
    DrawItem item{dc, b->id(), h, b->rect(), b->pressed(), get_focus() == h, !b->is_enabled()};
    on_draw_item(item);
    dc.set_control_id(0);
  }
}

Control* Dialog::focused_control() const {
  auto* c = window_cast<Control>(focus_);
  return c && c->parent() == hwnd() && c->is_visible() && c->is_enabled() ? c : nullptr;
}

bool Dialog::handle_key(Key key) {
  Hold hold(this);
  switch (key) {
    case Key::Escape: {
      HWND c = item(IDCANCEL);
      if (c && !is_window_enabled(c)) {
        message_beep();
        return true;
      }
      send_message(hwnd(), WM_COMMAND, make_wparam(IDCANCEL, BN_CLICKED), static_cast<LPARAM>(c));
      return true;
    }
    case Key::Tab:
    case Key::BackTab:
      next_control(key == Key::BackTab);
      return true;
    case Key::F1:
      post_message(hwnd(), WM_COMMAND, make_wparam(static_cast<unsigned>(ID_HELP), BN_CLICKED), 0);
      return true;
    default:
      break;
  }
  if (Control* c = focused_control(); c && c->handle_key(key)) return true;
  if (key != Key::Enter) return false;
  // Enter the focused control left: the default button.
  const int id = default_id();
  if (HWND d = item(id)) {
    auto* b = window_cast<Button>(d);
    if (b && b->is_visible() && b->is_enabled()) {
      b->user_click();
    } else {
      message_beep();
    }
    return true;
  }
  send_message(hwnd(), WM_COMMAND, make_wparam(static_cast<unsigned>(id), BN_CLICKED), 0);
  return true;
}

bool Dialog::handle_chars(std::string_view chars) {
  Hold hold(this);
  Control* c = focused_control();
  if (!c) return false;
  if (c->handle_chars(chars)) return true;
  // A button takes no characters: as in Windows, a letter typed while one
  // has the focus is a mnemonic, the same as with Alt.
  if (dynamic_cast<Button*>(c)) {
    std::size_t pos = 0;
    const char32_t letter = chars.empty() ? 0 : utf8_next(chars, pos);
    if (letter > U' ' && pos == chars.size()) return handle_mnemonic(letter);
  }
  return false;
}

bool Dialog::handle_mnemonic(char32_t letter) {
  Hold hold(this);
  if (letter < 0x80) letter = static_cast<char32_t>(std::tolower(static_cast<int>(letter)));
  const auto& kids = children();
  for (std::size_t i = 0; i < kids.size(); ++i) {
    auto* c = window_cast<Control>(kids[i]);
    if (!c || !c->is_visible() || !c->is_enabled()) continue;
    if (c->type() == ControlType::Edit || c->type() == ControlType::ComboBox || c->type() == ControlType::ListBox ||
        c->type() == ControlType::Picture)
      continue;
    // A message box shows its text as it is: no mnemonics there.
    if (c->id() == MessageBoxWindow::kTextId && kind() == WindowKind::MessageBox) continue;
    if (mnemonic_of(c->text()) != letter) continue;
    if (c->type() == ControlType::Static || c->type() == ControlType::GroupBox) {
      if (HWND field = field_named_by(kids[i], true)) {
        goto_control_handle(field);
        return true;
      }
      continue;
    }
    auto* b = static_cast<Button*>(c);
    if (b->type() != ControlType::PushButton && b->type() != ControlType::OwnerDraw) goto_control_handle(kids[i]);
    b->user_click();
    return true;
  }
  message_beep();
  return true;
}

// ---------------------------------------------------------------- DataExchange

HWND DataExchange::control(int id, ControlType a, ControlType b) {
  HWND h = dialog_.item(id);
  auto* c = window_cast<Control>(h);
  if (!c || (c->type() != a && c->type() != b)) {
    log_error("dialog", "data exchange: template " + std::to_string(dialog_.template_id()) + " has no suitable control " +
                            std::to_string(id));
    failed_ = true;
    return 0;
  }
  return h;
}

void DataExchange::text(int id, std::string& value) {
  if (failed_) return;
  HWND h = dialog_.item(id);
  if (!window_cast<Control>(h)) {
    control(id, ControlType::Edit, ControlType::Edit);  // logs and fails
    return;
  }
  if (save_) value = get_window_text(h);
  else set_window_text(h, value);
}

void DataExchange::text(int id, std::string& value, int max_chars) {
  if (failed_) return;
  HWND h = dialog_.item(id);
  if (!window_cast<Control>(h)) {
    control(id, ControlType::Edit, ControlType::Edit);
    return;
  }
  if (!save_) {
    set_window_text(h, value);
    if (auto* e = window_cast<Edit>(h)) e->set_limit(max_chars);
    else if (auto* c = window_cast<ComboBox>(h)) c->set_limit(max_chars);
    return;
  }
  std::string typed = get_window_text(h);
  if (static_cast<int>(utf8_length(typed)) > max_chars) {
    message_box(dialog_.hwnd(),
                format_message("Please enter no more than %1 characters.", {std::to_string(max_chars)}),
                application_name(), MB_OK | MB_ICONEXCLAMATION);
    fail(id);
    return;
  }
  value = std::move(typed);
}

void DataExchange::check(int id, int& value) {
  if (failed_) return;
  HWND h = control(id, ControlType::CheckBox, ControlType::RadioButton);
  if (!h) return;
  auto* b = window_cast<Button>(h);
  if (save_) value = b->check();
  else b->set_check(value);
}

void DataExchange::check(int id, bool& value) {
  int v = value ? BST_CHECKED : BST_UNCHECKED;
  check(id, v);
  if (save_ && !failed_) value = v == BST_CHECKED;
}

void DataExchange::radio(int first_id, int& index) {
  if (failed_) return;
  HWND h = control(first_id, ControlType::RadioButton, ControlType::RadioButton);
  if (!h) return;
  auto group = window_cast<Button>(h)->radio_group();
  auto start = std::find(group.begin(), group.end(), h);
  if (save_) {
    index = -1;
    for (auto it = start; it != group.end(); ++it)
      if (window_cast<Button>(*it)->check() == BST_CHECKED) {
        index = static_cast<int>(it - start);
        break;
      }
    return;
  }
  for (auto it = start; it != group.end(); ++it)
    window_cast<Button>(*it)->set_check(static_cast<int>(it - start) == index ? BST_CHECKED : BST_UNCHECKED);
}

void DataExchange::list_index(int id, int& index) {
  if (failed_) return;
  HWND h = control(id, ControlType::ListBox, ControlType::ComboBox);
  if (!h) return;
  if (auto* l = window_cast<ListBox>(h)) {
    if (save_) index = l->cur_sel();
    else l->set_cur_sel(index);
  } else if (auto* c = window_cast<ComboBox>(h)) {
    if (save_) index = c->cur_sel();
    else c->set_cur_sel(index);
  }
}

void DataExchange::list_string(int id, std::string& value) {
  if (failed_) return;
  HWND h = control(id, ControlType::ListBox, ControlType::ComboBox);
  if (!h) return;
  if (auto* l = window_cast<ListBox>(h)) {
    if (save_) value = l->item_text(l->cur_sel());
    else if (l->select_string(-1, value) == LB_ERR) l->set_cur_sel(-1);
  } else if (auto* c = window_cast<ComboBox>(h)) {
    if (save_) {
      value = c->has_edit() ? c->text() : c->item_text(c->cur_sel());
    } else if (c->select_string(-1, value) == CB_ERR) {
      if (c->has_edit()) c->set_text(value);
      else c->set_cur_sel(-1);
    }
  }
}

void DataExchange::fail(int id) {
  failed_ = true;
  if (id != 0 && dialog_.item(id)) dialog_.goto_control(id);
}

}  // namespace platform
