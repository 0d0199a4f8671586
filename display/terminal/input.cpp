// Keys from ncurses to the calls of platform/ui/user_input.h.
#include <curses.h>

#include "display/terminal.h"
#include "platform/ui/controls.h"
#include "platform/ui/user_input.h"
#include "platform/ui/window.h"

namespace display {

using platform::Key;

namespace {
int g_ctrl_home = 0;
int g_ctrl_end = 0;
}  // namespace

void set_ctrl_home_end_codes(int home, int end) {
  g_ctrl_home = home;
  g_ctrl_end = end;
}

Input decode_key(bool is_key_code, std::uint32_t value) {
  Input in;
  auto key = [&](Key k) {
    in.kind = Input::Kind::Key;
    in.key = k;
    return in;
  };
  if (is_key_code) {
    const int code = static_cast<int>(value);
    if (code == kKeyPasteStart || code == kKeyPasteEnd) {
      in.kind = code == kKeyPasteStart ? Input::Kind::PasteStart : Input::Kind::PasteEnd;
      return in;
    }
    if (code != 0 && (code == g_ctrl_home || code == g_ctrl_end)) {
      in.ctrl = true;
      return key(code == g_ctrl_home ? Key::Home : Key::End);
    }
    switch (code) {
      case KEY_ENTER: return key(Key::Enter);
      case KEY_BTAB: return key(Key::BackTab);
      case KEY_UP: return key(Key::Up);
      case KEY_DOWN: return key(Key::Down);
      case KEY_LEFT: return key(Key::Left);
      case KEY_RIGHT: return key(Key::Right);
      case KEY_HOME: return key(Key::Home);
      case KEY_END: return key(Key::End);
      case KEY_PPAGE: return key(Key::PageUp);
      case KEY_NPAGE: return key(Key::PageDown);
      case KEY_BACKSPACE: return key(Key::Backspace);
      case KEY_DC: return key(Key::Delete);
      case KEY_F(1): return key(Key::F1);
      case KEY_RESIZE: in.kind = Input::Kind::Resize; return in;
      default: return in;
    }
  }
  switch (value) {
    case '\r':
    case '\n': return key(Key::Enter);
    case '\t': return key(Key::Tab);
    case 27: return key(Key::Escape);
    case ' ': return key(Key::Space);
    case 8:
    case 127: return key(Key::Backspace);
    case 12: in.kind = Input::Kind::Redraw; return in;  // Ctrl-L
    default: break;
  }
  if (value < 0x20 || value == 0x7F || (value >= 0x80 && value < 0xA0) || value > 0x10FFFF) return in;
  in.kind = Input::Kind::Text;
  append_utf8(in.text, static_cast<char32_t>(value));
  return in;
}

bool combine_alt(const Input& first, const Input& next, Input& combined) {
  if (first.kind != Input::Kind::Key || first.key != Key::Escape) return false;
  char32_t letter = 0;
  if (next.kind == Input::Kind::Text) {
    const std::u32string chars = decode_utf8(next.text);
    if (chars.size() != 1) return false;
    letter = chars[0];
  } else if (next.kind == Input::Kind::Key && next.key == Key::Space) {
    letter = U' ';
  } else {
    return false;
  }
  combined = Input{};
  combined.kind = Input::Kind::Mnemonic;
  combined.letter = letter;
  return true;
}

bool deliver_input(const Input& input) {
  switch (input.kind) {
    case Input::Kind::Mnemonic: return platform::press_mnemonic(input.letter);
    case Input::Kind::Key: return platform::press_key(input.key);
    case Input::Kind::Text: return platform::type_text(input.text);
    case Input::Kind::Paste: {
      // Only into a field: pasted letters never act as mnemonics.
      const platform::HWND focus = platform::get_focus();
      if (!platform::window_cast<platform::Edit>(focus) && !platform::window_cast<platform::ComboBox>(focus))
        return false;
      return platform::type_text(input.text);
    }
    default: return false;
  }
}

}  // namespace display
