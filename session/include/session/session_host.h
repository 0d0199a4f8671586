// What the registration session needs from the wizard, as small interfaces
// the wizard implements: the profile as a key/value store, the status
// outputs and message boxes, and the prompts that server commands open.
// The session never includes a wizard page.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/loop/message_loop.h"

namespace session {

// Outcome messages posted to the page (wParam and lParam 0).
inline constexpr unsigned WM_WIZ_RESULT_OK = platform::WM_USER + 505;       // 1529
inline constexpr unsigned WM_WIZ_RESULT_FAILED = platform::WM_USER + 506;   // 1530
inline constexpr unsigned WM_WIZ_SESSION_CLOSED = platform::WM_USER + 508;  // 1532

// The registration profile: upper-case keys, exact lookup.
class ProfileStore {
 public:
  virtual ~ProfileStore() = default;
  // True and the value if the key exists; `value` is untouched otherwise.
  virtual bool Get(std::string_view key, std::string& value) const = 0;
  // Replaces the key's value or adds the key.
  virtual void Set(std::string_view key, std::string_view value) = 0;
};

enum class MessageIcon { None, Information, Exclamation };

// Where the session shows its progress: the "Modem:" and "Session:" lines of
// the status window, and the fields of its own diagnostic dialog.
class SessionUi {
 public:
  virtual ~SessionUi() = default;
  // The "Modem:" line; `take_focus`: the status window takes the keyboard
  // focus first.
  virtual void ShowModemText(std::string_view text, bool take_focus) = 0;
  // The "Session:" text.
  virtual void ShowSessionText(std::string_view text, bool take_focus) = 0;
  // The last received line and the last sent reply (diagnostic fields).
  virtual void ShowReceivedLine(std::string_view /*line*/) {}
  virtual void ShowSentLine(std::string_view /*line*/) {}
  // True while the diagnostic dialog is shown: only then do the dialer's
  // failures open message boxes.
  virtual bool IsVisible() const { return false; }
  // Disables and hides the status window's Cancel: the session can no
  // longer be stopped (the computer is being configured).
  virtual void DisableCancel() {}
  // A modal message box (application title, OK button); returns when closed.
  virtual void MessageBox(std::string_view text, MessageIcon icon) = 0;
  // Closes the status window through the page (before configuring).
  virtual void CloseStatusWindow() {}
};

// The page dialogs that server commands open modally. Each returns when the
// user has closed the dialog; message flow goes on meanwhile (the session's
// ticks run, and may even destroy the session: the caller checks).
class SessionPrompts {
 public:
  virtual ~SessionPrompts() = default;
  // The billing page on the profile; true after its checks passed and it
  // stored the card in the profile, false on Cancel.
  virtual bool RunBilling() = 0;
  // The plan list with the description of the selected plan. The 1-based
  // selection (0 when none was selected), or nothing on Cancel.
  virtual std::optional<int> RunPricePlan(const std::vector<std::string>& names,
                                          const std::vector<std::string>& descriptions) = 0;
  // The one-line input prompt; `new_account` sets the user-ID limit. The
  // text entered, or nothing on Cancel.
  virtual std::optional<std::string> RunUserInput(std::string_view text, bool new_account) = 0;
  // The access-number list of `entries` (lines of phones.txt); on OK the
  // chosen entry is stored as POPAREACODE and POPNUMBER. False on Cancel.
  virtual bool RunAccessNumber(const std::vector<std::string>& entries) = 0;
};

}  // namespace session
