#include "platform/ui/labels.h"

#include <algorithm>
#include <cctype>

#include "platform/ui/controls.h"
#include "platform/ui/utf8.h"

namespace platform {

MnemonicText parse_mnemonics(std::string_view text) {
  MnemonicText m;
  m.shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      if (i + 1 == text.size()) {
        m.ends_with_mark = true;
      } else if (text[++i] != '&') {
        m.marked.push_back(m.shown.size());
      }
    }
    m.shown += text[i];
  }
  return m;
}

std::string strip_mnemonics(std::string_view text) { return parse_mnemonics(text).shown; }

char32_t mnemonic_of(std::string_view text) {
  const MnemonicText m = parse_mnemonics(text);
  if (m.marked.empty()) return 0;
  std::size_t pos = m.marked.front();
  const char32_t c = utf8_next(m.shown, pos);
  return c < 0x80 ? static_cast<char32_t>(std::tolower(static_cast<int>(c))) : c;
}

namespace {

bool is_label(const Control& c) { return c.type() == ControlType::Static || c.type() == ControlType::GroupBox; }

}  // namespace

HWND field_named_by(HWND label, bool enabled_only) {
  const auto* l = window_cast<Control>(label);
  const Window* parent = l ? window_from_handle(l->parent()) : nullptr;
  if (!parent || !is_label(*l)) return 0;
  const auto& kids = parent->children();
  for (auto it = std::find(kids.begin(), kids.end(), label); it != kids.end(); ++it) {
    const auto* c = window_cast<Control>(*it);
    if (c && c->has_visible_style() && c->takes_focus() && (!enabled_only || c->is_enabled())) return *it;
  }
  return 0;
}

HWND label_of_field(HWND field) {
  const auto* f = window_cast<Control>(field);
  const Window* parent = f ? window_from_handle(f->parent()) : nullptr;
  if (!parent) return 0;
  const auto& kids = parent->children();
  const auto at = std::find(kids.begin(), kids.end(), field);
  if (at == kids.end()) return 0;
  for (auto it = at; it != kids.begin();) {
    const auto* c = window_cast<Control>(*--it);
    if (!c || !c->has_visible_style()) continue;
    return c->type() == ControlType::Static && field_named_by(*it, false) == field ? *it : 0;
  }
  return 0;
}

std::string label_text_of(HWND field) {
  std::string label = strip_mnemonics(get_window_text(label_of_field(field)));
  while (!label.empty() && (label.back() == ':' || label.back() == ' ')) label.pop_back();
  return label;
}

}  // namespace platform
