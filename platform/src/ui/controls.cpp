#include "platform/ui/controls.h"

#include <algorithm>
#include <cctype>

#include "platform/ui/dialog.h"
#include "platform/ui/display.h"
#include "platform/ui/labels.h"
#include "platform/ui/utf8.h"
#include "window_model.h"

namespace platform {

namespace {

// Windows compares list items with lstrcmpi: case-insensitive.
int compare_nocase(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int ca = std::tolower(static_cast<unsigned char>(a[i]));
    const int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool starts_nocase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && compare_nocase(text.substr(0, prefix.size()), prefix) == 0;
}

void state_changed(HWND h) { WindowModel::current().notify(h, WindowEvent::StateChanged); }

constexpr int kDefaultEditLimit = 30000;

// An arrow key's step: -1 for Up and Left, 1 for Down and Right, 0 for others.
int arrow_step(Key key) {
  switch (key) {
    case Key::Up:
    case Key::Left:
      return -1;
    case Key::Down:
    case Key::Right:
      return 1;
    default:
      return 0;
  }
}

// Page Up is one page back, Page Down one forward, 0 for other keys.
int page_step(Key key) { return key == Key::PageUp ? -1 : key == Key::PageDown ? 1 : 0; }

// "Password: at most 8 characters" for a field whose limit cut the input.
void notify_limit(const Control& field, int limit) {
  const std::string label = label_text_of(field.hwnd());
  show_notice(field.hwnd(), (label.empty() ? std::string("This field") : label) + ": at most " +
                                std::to_string(limit) + (limit == 1 ? " character" : " characters"));
}

}  // namespace

// ---------------------------------------------------------------- Control

bool Control::takes_focus() const {
  switch (type()) {
    case ControlType::Static:
    case ControlType::Picture:
    case ControlType::GroupBox:
      return false;
    default:
      return true;
  }
}

void Control::notify(unsigned code) {
  if (parent() == 0) return;
  send_message(parent(), WM_COMMAND, make_wparam(static_cast<unsigned>(id_), code),
               static_cast<LPARAM>(hwnd()));
}

HWND get_dlg_item(HWND dialog, int id) {
  Window* d = window_from_handle(dialog);
  if (!d) return 0;
  for (HWND c : d->children()) {
    auto* ctl = dynamic_cast<Control*>(window_from_handle(c));
    if (ctl && ctl->id() == id) return c;
  }
  return 0;
}

int get_dlg_ctrl_id(HWND control) {
  auto* ctl = dynamic_cast<Control*>(window_from_handle(control));
  return ctl ? ctl->id() : 0;
}

// ---------------------------------------------------------------- Static

void StaticControl::set_bitmap(std::shared_ptr<const Bitmap> bmp) {
  bitmap_ = std::move(bmp);
  if (hwnd()) state_changed(hwnd());
  invalidate();
}

void StaticControl::set_text(std::string_view text) {
  Window::set_text(text);
  if (type() == ControlType::Picture) set_bitmap(load_bitmap_resource(this->text()));
}

// ---------------------------------------------------------------- Button

void Button::set_check(int state) {
  state = std::clamp(state, 0, 2);
  if (state == check_) return;
  check_ = state;
  if (hwnd()) state_changed(hwnd());
  invalidate();
}

bool Button::is_auto() const {
  const auto t = style() & BS_TYPEMASK;
  return t == BS_AUTOCHECKBOX || t == BS_AUTORADIOBUTTON;
}

std::vector<HWND> Button::radio_group() const {
  std::vector<HWND> group;
  Window* parent = window_from_handle(this->parent());
  if (!parent) return group;
  const auto& kids = parent->children();
  auto me = std::find(kids.begin(), kids.end(), hwnd());
  if (me == kids.end()) return group;
  // Back to the control that starts the group (WS_GROUP), then forward to the next start.
  auto start = me;
  while (start != kids.begin()) {
    Window* w = window_from_handle(*start);
    if (w && (w->style() & WS_GROUP)) break;
    --start;
  }
  for (auto it = start; it != kids.end(); ++it) {
    Window* w = window_from_handle(*it);
    if (it != start && w && (w->style() & WS_GROUP)) break;
    auto* b = dynamic_cast<Button*>(w);
    if (b && b->type() == ControlType::RadioButton) group.push_back(*it);
  }
  return group;
}

void Button::user_click() {
  Hold hold(this);
  const auto t = style() & BS_TYPEMASK;
  if (t == BS_AUTOCHECKBOX) {
    set_check(check_ == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
  } else if (t == BS_AUTORADIOBUTTON) {
    for (HWND h : radio_group()) {
      auto* b = window_cast<Button>(h);
      if (b && h != hwnd() && (b->style() & BS_TYPEMASK) == BS_AUTORADIOBUTTON) b->set_check(BST_UNCHECKED);
    }
    set_check(BST_CHECKED);
  }
  notify(BN_CLICKED);
}

bool Button::handle_key(Key key) {
  if (key == Key::Enter && type() != ControlType::PushButton && type() != ControlType::OwnerDraw) return false;
  if (key == Key::Enter || key == Key::Space) {
    if (type() == ControlType::GroupBox) return false;
    user_click();
    return true;
  }
  const int step = arrow_step(key);
  if (step == 0 || type() != ControlType::RadioButton) return false;
  const auto group = radio_group();
  const auto me = std::find(group.begin(), group.end(), hwnd());
  if (me == group.end()) return false;
  // The next shown, enabled button of the group that way round, wrapping.
  const int n = static_cast<int>(group.size());
  const int i = static_cast<int>(me - group.begin());
  for (int k = 1; k < n; ++k) {
    const HWND h = group[static_cast<std::size_t>(((i + step * k) % n + n) % n)];
    if (!is_window_visible(h) || !is_window_enabled(h)) continue;
    if (auto* d = window_cast<Dialog>(parent())) d->goto_control_handle(h);
    if (auto* b = window_cast<Button>(h)) b->user_click();
    break;
  }
  return true;
}

// ---------------------------------------------------------------- Edit

void Edit::set_limit(int max_chars) {
  limit_ = std::max(max_chars, 0);
  if (hwnd()) state_changed(hwnd());
}

void Edit::set_read_only(bool read_only) {
  set_style(read_only ? (style() | ES_READONLY) : (style() & ~ES_READONLY));
}

std::string Edit::display_text() const {
  return is_password() ? std::string(utf8_length(text()), '*') : text();
}

int Edit::length() const { return static_cast<int>(utf8_length(text())); }

int Edit::effective_limit() const { return limit_ > 0 ? limit_ : kDefaultEditLimit; }

void Edit::set_sel(int start, int end) {
  const int n = length();
  if (end < 0 || end > n) end = n;
  start = std::clamp(start, 0, n);
  sel_start_ = std::min(start, end);
  sel_end_ = std::max(start, end);
  if (hwnd()) state_changed(hwnd());
}

void Edit::set_text(std::string_view text) {
  Hold hold(this);
  const bool changed = text != this->text();
  Window::set_text(text);
  sel_start_ = sel_end_ = 0;
  if (changed && hwnd()) notify(EN_CHANGE);
}

void Edit::replace_selection(std::string_view chars) {
  std::string t = text();
  const std::size_t from = utf8_offset(t, static_cast<std::size_t>(sel_start_));
  const std::size_t to = utf8_offset(t, static_cast<std::size_t>(sel_end_));
  t.replace(from, to - from, chars);
  const int caret = sel_start_ + static_cast<int>(utf8_length(chars));
  Window::set_text(t);
  sel_start_ = sel_end_ = caret;
}

bool Edit::user_type(std::string_view chars) {
  if (is_read_only()) return false;
  Hold hold(this);
  // Counted and cut in characters, never inside one.
  std::string in;
  int count = 0;
  const int max = limit_ > 0 ? limit_ : kDefaultEditLimit;
  const int kept = length() - (sel_end_ - sel_start_);
  const int room = std::max(0, max - kept);
  bool cut = false;
  for (std::size_t pos = 0; pos < chars.size();) {
    char32_t c = utf8_next(chars, pos);
    if ((c == U'\r' || c == U'\n') && is_multi_line()) {
      // A line break is two characters (CR LF), as in Windows; "\r\n" is one.
      if (c == U'\r' && pos < chars.size() && chars[pos] == '\n') ++pos;
      if (count + 2 > room) {
        cut = true;
        break;
      }
      in += "\r\n";
      count += 2;
      continue;
    }
    if (c == U'\r' || c == U'\n') {
      // One line: a run of line breaks between words is one blank.
      while (pos < chars.size() && (chars[pos] == '\r' || chars[pos] == '\n')) ++pos;
      if (pos == chars.size() || (in.empty() && kept == 0)) continue;
      c = U' ';
    }
    if ((c < 0x20 && c != U'\t') || c == 0x7F || (c >= 0x80 && c < 0xA0)) continue;
    if (is_upper_case() && c >= U'a' && c <= U'z') c = c - U'a' + U'A';
    if (count + 1 > room) {
      cut = true;
      break;
    }
    utf8_append(in, c);
    ++count;
  }
  if (!in.empty() || sel_end_ > sel_start_) {
    replace_selection(in);
    notify(EN_CHANGE);
  }
  if (cut) notify(EN_MAXTEXT);
  return !cut;
}

void Edit::user_backspace() {
  if (is_read_only()) return;
  Hold hold(this);
  if (sel_end_ == sel_start_) {
    if (sel_start_ == 0) return;
    --sel_start_;
  }
  replace_selection("");
  notify(EN_CHANGE);
}

void Edit::user_delete() {
  if (is_read_only()) return;
  Hold hold(this);
  if (sel_end_ == sel_start_) {
    if (sel_end_ >= static_cast<int>(text().size())) return;
    ++sel_end_;
  }
  replace_selection("");
  notify(EN_CHANGE);
}

void Edit::user_move_caret(int position, bool extend) {
  const int n = length();
  position = std::clamp(position, 0, n);
  if (extend) {
    sel_end_ = position;
    if (sel_end_ < sel_start_) std::swap(sel_start_, sel_end_);
  } else {
    sel_start_ = sel_end_ = position;
  }
  if (hwnd()) state_changed(hwnd());
}

int Edit::visible_rows() const { return std::max(1, rect().height() / 13); }

void Edit::user_move_lines(int delta) {
  // Positions are characters: work on the decoded text.
  std::u32string t;
  for (std::size_t pos = 0; pos < text().size();) t += utf8_next(text(), pos);
  const int n = static_cast<int>(t.size());
  int caret = std::clamp(sel_end_, 0, n);
  int line_start = caret;
  while (line_start > 0 && t[static_cast<std::size_t>(line_start - 1)] != U'\n') --line_start;
  const int column = caret - line_start;
  int target = line_start;
  for (; delta < 0 && target > 0; ++delta) {  // to the start of the previous line
    --target;
    while (target > 0 && t[static_cast<std::size_t>(target - 1)] != U'\n') --target;
  }
  for (; delta > 0; --delta) {  // to the start of the next line
    const auto next = t.find(U'\n', static_cast<std::size_t>(target));
    if (next == std::u32string::npos) break;
    target = static_cast<int>(next) + 1;
  }
  int line_end = target;
  while (line_end < n && t[static_cast<std::size_t>(line_end)] != U'\n' && t[static_cast<std::size_t>(line_end)] != U'\r') ++line_end;
  user_move_caret(std::min(target + column, line_end));
}

bool Edit::handle_key(Key key) {
  if (const int step = arrow_step(key)) {
    if (key == Key::Left || key == Key::Right) user_move_caret(sel_end() + step);
    else if (is_multi_line()) user_move_lines(step);
    return true;
  }
  if (const int page = page_step(key)) {
    if (!is_multi_line()) return false;
    user_move_lines(page * visible_rows());
    return true;
  }
  switch (key) {
    case Key::Enter:
      if (!is_multi_line() || !(style() & ES_WANTRETURN)) return false;
      user_type("\r\n");
      return true;
    case Key::Space:
      return handle_chars(" ");
    case Key::Home:
    case Key::End:
      user_move_caret(key == Key::Home ? 0 : length());
      return true;
    case Key::Backspace:
      user_backspace();
      return true;
    case Key::Delete:
      user_delete();
      return true;
    default:
      return false;
  }
}

bool Edit::handle_chars(std::string_view chars) {
  Hold hold(this);
  if (!user_type(chars) && window_from_handle(hwnd()) == this) notify_limit(*this, effective_limit());
  return true;
}

// ---------------------------------------------------------------- ItemList

std::string ItemList::item_text(int index) const {
  return index >= 0 && index < count() ? texts_[static_cast<std::size_t>(index)] : std::string();
}

std::intptr_t ItemList::item_data(int index) const {
  return index >= 0 && index < count() ? items_[static_cast<std::size_t>(index)] : -1;
}

bool ItemList::set_item_data(int index, std::intptr_t data) {
  if (index < 0 || index >= count()) return false;
  items_[static_cast<std::size_t>(index)] = data;
  return true;
}

int ItemList::find_prefix(int start, std::string_view prefix) const {
  const int n = count();
  for (int k = 1; k <= n; ++k) {
    const int i = ((start < 0 ? -1 : start) + k) % n;
    if (starts_nocase(texts_[static_cast<std::size_t>(i)], prefix)) return i;
  }
  return -1;
}

int ItemList::find_exact(int start, std::string_view text) const {
  const int n = count();
  for (int k = 1; k <= n; ++k) {
    const int i = ((start < 0 ? -1 : start) + k) % n;
    if (compare_nocase(texts_[static_cast<std::size_t>(i)], text) == 0) return i;
  }
  return -1;
}

int ItemList::add(std::string_view text, bool sorted) {
  std::size_t pos = texts_.size();
  if (sorted) {
    pos = 0;
    while (pos < texts_.size() && compare_nocase(texts_[pos], text) <= 0) ++pos;
  }
  texts_.insert(texts_.begin() + static_cast<std::ptrdiff_t>(pos), std::string(text));
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(pos), 0);
  return static_cast<int>(pos);
}

int ItemList::insert(int index, std::string_view text) {
  if (index < -1 || index > count()) return -1;
  const std::size_t pos = index < 0 ? texts_.size() : static_cast<std::size_t>(index);
  texts_.insert(texts_.begin() + static_cast<std::ptrdiff_t>(pos), std::string(text));
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(pos), 0);
  return static_cast<int>(pos);
}

bool ItemList::remove(int index) {
  if (index < 0 || index >= count()) return false;
  texts_.erase(texts_.begin() + index);
  items_.erase(items_.begin() + index);
  return true;
}

void ItemList::clear() {
  texts_.clear();
  items_.clear();
}

// ---------------------------------------------------------------- ListBox

int ListBox::add_string(std::string_view text) {
  const int i = add(text, is_sorted());
  if (sel_ >= i) ++sel_;
  state_changed(hwnd());
  invalidate();
  return i;
}

int ListBox::insert_string(int index, std::string_view text) {
  const int i = insert(index, text);
  if (i < 0) return LB_ERR;
  if (sel_ >= i) ++sel_;
  state_changed(hwnd());
  invalidate();
  return i;
}

int ListBox::delete_string(int index) {
  if (!remove(index)) return LB_ERR;
  if (sel_ == index) sel_ = -1;
  else if (sel_ > index) --sel_;
  top_ = std::clamp(top_, 0, max_top_index());
  state_changed(hwnd());
  invalidate();
  return count();
}

void ListBox::reset_content() {
  clear();
  sel_ = -1;
  top_ = 0;
  state_changed(hwnd());
  invalidate();
}

int ListBox::set_cur_sel(int index) {
  if (index < -1 || index >= count()) {
    sel_ = -1;
    state_changed(hwnd());
    return LB_ERR;
  }
  sel_ = index;
  scroll_into_view();
  state_changed(hwnd());
  invalidate();
  return index;
}

int ListBox::select_string(int start, std::string_view prefix) {
  const int i = find_prefix(start, prefix);
  if (i < 0) return LB_ERR;
  return set_cur_sel(i);
}

int ListBox::set_top_index(int index) {
  if (index < 0 || (index >= count() && count() > 0)) return LB_ERR;
  // As LB_SETTOPINDEX: the item goes to the top unless that would scroll
  // past the last full page; then the last page shows.
  top_ = std::min(index, max_top_index());
  state_changed(hwnd());
  invalidate();
  return 0;
}

int ListBox::visible_rows() const { return std::max(1, rect().height() / 13); }

int ListBox::max_top_index() const { return std::max(0, count() - visible_rows()); }

void ListBox::scroll_into_view() {
  if (sel_ >= 0) {
    if (sel_ < top_) top_ = sel_;
    else if (sel_ >= top_ + visible_rows()) top_ = sel_ - visible_rows() + 1;
  }
  top_ = std::clamp(top_, 0, max_top_index());
}

void ListBox::user_select(int index) {
  if (index < 0 || index >= count()) return;
  Hold hold(this);
  const bool changed = index != sel_;
  set_cur_sel(index);
  if (changed) notify(LBN_SELCHANGE);
}

void ListBox::user_double_click(int index) {
  if (index < 0 || index >= count()) return;
  Hold hold(this);
  user_select(index);
  notify(LBN_DBLCLK);
}

void ListBox::user_key(int delta) {
  if (count() == 0) return;
  int i = sel_ < 0 ? (delta > 0 ? 0 : count() - 1) : std::clamp(sel_ + delta, 0, count() - 1);
  user_select(i);
}

void ListBox::user_type_char(char c) {
  const int i = find_prefix(sel_, std::string_view(&c, 1));
  if (i >= 0) user_select(i);
}

bool ListBox::handle_key(Key key) {
  if (const int step = arrow_step(key)) {
    user_key(step);
    return true;
  }
  if (const int page = page_step(key)) {
    user_key(page * visible_rows());
    return true;
  }
  if ((key == Key::Home || key == Key::End) && count() > 0) {
    user_select(key == Key::Home ? 0 : count() - 1);
    return true;
  }
  return false;
}

bool ListBox::handle_chars(std::string_view chars) {
  Hold hold(this);
  for (char ch : chars) user_type_char(ch);
  return true;
}

// ---------------------------------------------------------------- ComboBox

int ComboBox::add_string(std::string_view text) {
  const int i = add(text, is_sorted());
  if (sel_ >= i) ++sel_;
  state_changed(hwnd());
  return i;
}

int ComboBox::insert_string(int index, std::string_view text) {
  const int i = insert(index, text);
  if (i < 0) return CB_ERR;
  if (sel_ >= i) ++sel_;
  state_changed(hwnd());
  return i;
}

int ComboBox::delete_string(int index) {
  if (!remove(index)) return CB_ERR;
  if (sel_ == index) sel_ = -1;
  else if (sel_ > index) --sel_;
  state_changed(hwnd());
  return count();
}

void ComboBox::reset_content() {
  clear();
  sel_ = -1;
  Window::set_text("");
  state_changed(hwnd());
}

int ComboBox::set_cur_sel(int index) {
  if (index < -1 || index >= count()) {
    sel_ = -1;
    if (!has_edit()) Window::set_text("");
    state_changed(hwnd());
    return CB_ERR;
  }
  sel_ = index;
  Window::set_text(index < 0 ? std::string() : item_text(index));
  state_changed(hwnd());
  return index;
}

int ComboBox::select_string(int start, std::string_view prefix) {
  const int i = find_prefix(start, prefix);
  if (i < 0) return CB_ERR;
  return set_cur_sel(i);
}

void ComboBox::set_text(std::string_view text) {
  if (!has_edit()) {
    // A drop-down list shows only its items: setting the text selects one.
    const int i = find_exact(-1, text);
    set_cur_sel(i);
    return;
  }
  Window::set_text(text);
}

int ComboBox::effective_limit() const { return limit_ > 0 ? limit_ : kDefaultEditLimit; }

void ComboBox::user_select(int index) {
  if (index < 0 || index >= count()) return;
  Hold hold(this);
  const bool changed = index != sel_;
  set_cur_sel(index);
  if (changed) notify(CBN_SELCHANGE);
}

void ComboBox::user_key(int delta) {
  if (count() == 0) return;
  int i = sel_ < 0 ? (delta > 0 ? 0 : count() - 1) : std::clamp(sel_ + delta, 0, count() - 1);
  user_select(i);
}

bool ComboBox::user_type(std::string_view chars) {
  Hold hold(this);
  if (!has_edit()) {
    for (char c : chars) {
      const int i = find_prefix(sel_, std::string_view(&c, 1));
      if (i >= 0) user_select(i);
    }
    return true;
  }
  std::string in;
  const int max = limit_ > 0 ? limit_ : kDefaultEditLimit;
  const int room = std::max(0, max - static_cast<int>(utf8_length(text())));
  int count = 0;
  bool cut = false;
  for (std::size_t pos = 0; pos < chars.size();) {
    const char32_t c = utf8_next(chars, pos);
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) continue;
    if (count == room) {
      cut = true;
      break;
    }
    utf8_append(in, c);
    ++count;
  }
  if (!in.empty()) {
    sel_ = -1;
    Window::set_text(text() + in);
    state_changed(hwnd());
    notify(CBN_EDITCHANGE);
  }
  return !cut;
}

void ComboBox::user_backspace() {
  if (!has_edit() || text().empty()) return;
  Hold hold(this);
  sel_ = -1;
  Window::set_text(utf8_prefix(text(), utf8_length(text()) - 1));
  state_changed(hwnd());
  notify(CBN_EDITCHANGE);
}

bool ComboBox::user_replace(std::string_view chars) {
  Hold hold(this);
  if (!has_edit()) return user_type(chars);
  if (!text().empty()) {
    sel_ = -1;
    Window::set_text("");
    state_changed(hwnd());
    notify(CBN_EDITCHANGE);
  }
  return user_type(chars);
}

bool ComboBox::handle_key(Key key) {
  if (const int step = arrow_step(key)) {
    user_key(step);
    return true;
  }
  if (key == Key::Backspace) {
    user_backspace();
    return true;
  }
  return key == Key::Space && handle_chars(" ");
}

bool ComboBox::handle_chars(std::string_view chars) {
  Hold hold(this);
  if (!user_type(chars) && window_from_handle(hwnd()) == this) notify_limit(*this, effective_limit());
  return true;
}

}  // namespace platform
