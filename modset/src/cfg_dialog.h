// CCfgDialog: the base of every dialog of the library (centring, help through
// the library's help path, F1), the library's help path, and the display
// that the library's dialogs run on.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/ui/dialog.h"

namespace modset {

class CCfgDialog : public platform::Dialog {
 public:
  // `owner` is the dialog that opens this one; 0 for none.
  CCfgDialog(int template_id, platform::HWND owner);
  // Runs modally over the owner given at construction.
  int DoModal() { return do_modal(owner_); }
  bool help_allowed() const { return help_allowed_ != 0; }

 protected:
  // Base initialisation: fills the controls from the members, then centres
  // the dialog over its owner (the screen when it has none).
  bool on_init_dialog() override;
  // F1 or the Help button: a beep when help is not allowed, else the help
  // topic 0x20000 + template number from the library's help path.
  void on_help() override;

  int help_allowed_ = 1;
  platform::HWND owner_ = 0;
};

// A message box of the library (OK only) owned by `owner`.
void cfg_message_box(platform::HWND owner, int text_id, int caption_id, unsigned icon,
                     const std::string& argument = {});

// The library's help path: at most kHelpPathMax characters.
inline constexpr std::size_t kHelpPathMax = 1030;
// Replaces the help path; false (nothing changed) for a path that is too long.
bool set_help_path(std::string_view path);
// The help path buffer; filled with the default path (modset.hlp beside the
// program that owns the active window) when it is still empty and a window
// is active. Owned by the library.
const char* help_path();
// Forgets the help path (tests).
void reset_help_path();

// Shows help topic `context` of the help file `file` (text topics "[N]
// Title", as the wizard's help file), owned by `owner`.
void show_help_topic(platform::HWND owner, const std::string& file, int context);

// Makes sure the calling thread has a display for the dialogs: the one
// installed, or the one the environment names (platform/ui/display.h). False
// and `error` when there is none.
bool ensure_display(std::string& error);

}  // namespace modset
