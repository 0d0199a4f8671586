// User input: what a person does, as functions.
//
// The terminal renderer turns keys into these calls, the scripted user of
// the headless display makes them from its steps, and tests call them
// directly: the same calls everywhere. They act on active_window() and the
// focus window as the Windows dialog manager does:
//  - Enter: a focused push button is clicked; otherwise the dialog's default
//    button (set_default_id, else IDOK) is clicked when it exists and is
//    enabled, or IDOK is sent as a command when no such control exists.
//  - Esc: IDCANCEL is sent as a command (a message box closes as its rules say).
//  - Tab / BackTab: focus to the next / previous visible, enabled tab stop;
//    an edit gets all its text selected.
//  - Space: a focused button, check box or radio button is clicked.
//  - Up/Down/Left/Right: move the selection in a list or combo box, move the
//    check within a radio group, move the caret in an edit.
//  - Home/End: caret in an edit, first/last item in a list.
//  - Backspace/Delete and typed characters: edit the focused edit or combo
//    field (limit, upper case, read-only apply); in a list, jump to an item.
//  - F1: posts the help command (ID_HELP) to the active window.
//  - Alt+letter: the control whose "&" mnemonic is that letter acts: a push
//    button is pressed, a check box or radio button is clicked, a label or
//    group box gives the focus to the next tab stop after it. A letter that
//    matches nothing beeps. A letter typed while a button has the focus
//    acts the same way, without Alt.
#pragma once

#include <optional>
#include <string_view>

#include "platform/loop/message_loop.h"
#include "platform/ui/labels.h"  // mnemonic_of

namespace platform {

enum class Key { Enter, Escape, Tab, BackTab, Space, Up, Down, Left, Right, Home, End, PageUp, PageDown, Backspace, Delete, F1 };

// Returns false when no window took the key.
bool press_key(Key key);
// Characters typed into the focused control.
bool type_text(std::string_view text);
// Alt+`letter`: the mnemonic of the active dialog (see above). False when no
// dialog is active; a letter without a control beeps and returns true.
bool press_mnemonic(char32_t letter);
// A mouse click on a control: it takes the focus (when it can) and acts.
// False when it is not a visible, enabled control.
bool click(HWND control);
// A click on an item of a list or combo box (selects it, notifies).
bool click_item(HWND control, int index, bool double_click = false);

// "Enter", "Esc", "Tab", "Shift-Tab", "F1", "Space", "Up", ... as scripts name them.
std::optional<Key> key_from_name(std::string_view name);
const char* key_name(Key key);

}  // namespace platform
