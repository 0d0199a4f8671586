// Control texts with "&" mnemonics, and the field a label names.
//
// Every renderer and the dialog manager read a control text the same way,
// from here: "&" marks the character after it as a mnemonic (Alt+that
// letter acts on the control), "&&" is a literal "&", and a lone "&" at the
// very end of a text marks nothing and is shown as it is.
//
// A label (static text or group box) names the first control after it, in
// the dialog's child order, that is shown and takes the focus: its mnemonic
// reaches that control, and a field's label is the text shown right before it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/loop/message_loop.h"

namespace platform {

struct MnemonicText {
  std::string shown;                // the text without its "&" marks
  std::vector<std::size_t> marked;  // byte offsets in `shown` of each marked character
  bool ends_with_mark = false;      // a lone "&" ended the text (kept in `shown`)
};
MnemonicText parse_mnemonics(std::string_view text);

// The text as shown: parse_mnemonics(text).shown ("Fish && &Chips" -> "Fish & Chips").
std::string strip_mnemonics(std::string_view text);

// The mnemonic of a control text ("&Next >" -> 'n'): its first marked
// character, lower case for ASCII letters; 0 when there is none.
char32_t mnemonic_of(std::string_view text);

// The control `label` names (see above), or 0. With `enabled_only`, disabled
// controls are passed over too, as a mnemonic passes them.
HWND field_named_by(HWND label, bool enabled_only);

// The static text that names `field`: the control shown right before it, when
// that is a static text naming it; 0 when there is none.
HWND label_of_field(HWND field);

// What names `field` on screen: its label's text without the mnemonic mark
// and the trailing colon ("&Password:" -> "Password"); empty when none.
std::string label_text_of(HWND field);

}  // namespace platform
