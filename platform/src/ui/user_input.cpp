#include "platform/ui/user_input.h"

#include <array>
#include <cctype>
#include <string>

#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"

namespace platform {

namespace {

Dialog* active_dialog() { return window_cast<Dialog>(active_window()); }

// A control a person can reach: visible, enabled, in an enabled window.
Control* reachable(HWND hwnd) {
  auto* c = window_cast<Control>(hwnd);
  if (!c || !c->is_visible() || !c->is_enabled()) return nullptr;
  if (!is_window_enabled(top_level_of(hwnd))) return nullptr;
  return c;
}

struct KeyName {
  Key key;
  const char* name;
};
constexpr std::array<KeyName, 17> kKeyNames{{
    {Key::Enter, "Enter"},
    {Key::Escape, "Esc"},
    {Key::Tab, "Tab"},
    {Key::BackTab, "Shift-Tab"},
    {Key::Space, "Space"},
    {Key::Up, "Up"},
    {Key::Down, "Down"},
    {Key::Left, "Left"},
    {Key::Right, "Right"},
    {Key::Home, "Home"},
    {Key::End, "End"},
    {Key::PageUp, "PageUp"},
    {Key::PageDown, "PageDown"},
    {Key::Backspace, "Backspace"},
    {Key::Delete, "Delete"},
    {Key::F1, "F1"},
    {Key::Escape, "Escape"},
}};

}  // namespace

bool press_key(Key key) {
  Dialog* d = active_dialog();
  return d && d->handle_key(key);
}

bool type_text(std::string_view text) {
  Dialog* d = active_dialog();
  return d && d->handle_chars(text);
}

bool press_mnemonic(char32_t letter) {
  Dialog* d = active_dialog();
  return d && d->handle_mnemonic(letter);
}

bool click(HWND control) {
  Control* c = reachable(control);
  if (!c) return false;
  Window::Hold hold(c);
  auto* d = window_cast<Dialog>(c->parent());
  if (d) set_active_window(d->hwnd());
  if (d && c->takes_focus()) {
    if (auto* e = dynamic_cast<Edit*>(c)) {
      d->goto_control_handle(control);
      e->user_move_caret(e->length());
    } else {
      d->goto_control_handle(control);
    }
  }
  if (auto* b = dynamic_cast<Button*>(c); b && b->type() != ControlType::GroupBox) b->user_click();
  return true;
}

bool click_item(HWND control, int index, bool double_click) {
  Control* c = reachable(control);
  if (!c) return false;
  Window::Hold hold(c);
  if (auto* d = window_cast<Dialog>(c->parent())) {
    set_active_window(d->hwnd());
    d->goto_control_handle(control);
  }
  if (auto* l = dynamic_cast<ListBox*>(c)) {
    if (index < 0 || index >= l->count()) return false;
    double_click ? l->user_double_click(index) : l->user_select(index);
    return true;
  }
  if (auto* cb = dynamic_cast<ComboBox*>(c)) {
    if (index < 0 || index >= cb->count()) return false;
    cb->user_select(index);
    return true;
  }
  return false;
}

std::optional<Key> key_from_name(std::string_view name) {
  for (const auto& k : kKeyNames) {
    std::string_view n = k.name;
    if (n.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < n.size() && same; ++i)
      same = std::tolower(static_cast<unsigned char>(n[i])) == std::tolower(static_cast<unsigned char>(name[i]));
    if (same) return k.key;
  }
  return std::nullopt;
}

const char* key_name(Key key) {
  for (const auto& k : kKeyNames)
    if (k.key == key) return k.name;
  return "?";
}

}  // namespace platform
