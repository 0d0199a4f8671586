// Message boxes: modal dialogs with a text, a caption, an icon and buttons.
//
// A message box is a Dialog (kind MessageBox) built on the fly, centred over
// its owner (the screen when none) and run modally: the owner is disabled
// while it is up. Enter presses the default (first) button; Esc gives Cancel
// when there is a Cancel button, OK for an OK-only box, and nothing for
// Yes/No. Renderers and the scripted user read text(), caption(), icon() and
// the buttons through the MessageBoxWindow object.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/dialog.h"

namespace platform {

enum : unsigned {
  MB_OK = 0x0,
  MB_OKCANCEL = 0x1,
  MB_YESNO = 0x4,
  MB_TYPEMASK = 0xF,
  MB_ICONSTOP = 0x10,  // also MB_ICONHAND, MB_ICONERROR
  MB_ICONQUESTION = 0x20,
  MB_ICONEXCLAMATION = 0x30,
  MB_ICONINFORMATION = 0x40,
  MB_ICONMASK = 0xF0,
};

enum class MessageIcon { None, Stop, Question, Exclamation, Information };
const char* icon_name(MessageIcon icon);  // "none", "stop", "question", ...

class MessageBoxWindow final : public Dialog {
 public:
  MessageBoxWindow(std::string text, std::string caption, unsigned type);
  WindowKind kind() const override { return WindowKind::MessageBox; }
  const std::string& message() const { return message_; }
  const std::string& caption() const { return caption_; }
  MessageIcon icon() const;
  unsigned type() const { return type_; }
  // Button ids in order (IDOK, IDCANCEL, IDYES, IDNO).
  std::vector<int> buttons() const;
  // Id of the static control that holds the text.
  static constexpr int kTextId = 0xFFFF;

 protected:
  bool on_init_dialog() override;
  bool on_command(int id, int code, HWND control) override;

 private:
  std::string message_;
  std::string caption_;
  unsigned type_;
};

// Shows a message box owned by `owner` (0: none) and returns the button
// pressed (IDOK, IDCANCEL, IDYES, IDNO), or -1 when the loop was quit.
int message_box(HWND owner, std::string_view text, std::string_view caption, unsigned type);

// The application's message box: caption is the application name, owner the
// active window.
int app_message_box(std::string_view text, unsigned type = MB_OK | MB_ICONEXCLAMATION);
void set_application_name(std::string name);
const std::string& application_name();

// Replaces %1, %2, ... in `format` with `args` (a missing argument leaves the
// marker), as the framework's message formatting did.
std::string format_message(std::string_view format, const std::vector<std::string>& args);

// The default system sound; renderers are told through Display::beep().
void message_beep();

}  // namespace platform
