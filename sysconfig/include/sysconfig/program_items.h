// Program groups and shortcuts: ADDITEM: and the account's shortcuts.
//
// ADDITEM: asks for a program item in a program-manager group. The wizard
// talks to the program manager ("PROGMAN") as the Windows shell wanted: a
// hidden window, CDDEWnd, holds a DDE conversation (platform/shell/dde.h) and
// sends the four command strings; platform/shell/program_manager.h is the server
// that turns them into freedesktop menu files. Without a server the
// conversation is never accepted and the commands wait in the queue.
//
// After TRANSFER: the account's dial-up entry gets a launcher on the desktop
// (and in the Start-menu group unless the group is "None") that dials it
// with `pon`, as Debian's ppp package provides. The root keeps its copies;
// the user's desktop folder and menu get theirs (XDG places), and the
// program manager publishes the ADDITEM: items that can run here.
//
// Values are data: an ADDITEM: field holding a character of the command
// syntax ('[', ']', '(', ')', ',', '"') or a control character could change
// what the program manager reads, so such an item is refused (logged; the
// server gets no reply either way). Paths go through the root's translation
// and confinement in the server.
//
// Index: CDDEWnd, AddItemCommand, kShortcutGroup, StripGroupQuotes,
// EntryLauncher, CreateEntryShortcut, TrustLauncher, CreateAccountShortcuts,
// InstallProgramHandlers.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/shell/desktop_entry.h"
#include "platform/storage/files.h"
#include "platform/loop/message_loop.h"

namespace session {
class CRegSessionDialog;
}

namespace sysconfig {

class CDDEWnd final : public platform::MessageTarget {
 public:
  enum State : std::uint16_t { Initiating = 0, Connected = 1, Idle = 2, Refused = 3, Executing = 4 };
  static constexpr platform::TimerId kQueueTimerId = 0xA5A5;
  static constexpr std::int64_t kQueuePeriodMs = 100;
  static constexpr int kMaxOutstanding = 8;  // more than this: dropped
  static constexpr std::string_view kTitle = "DDE Window";
  static constexpr std::string_view kNoTimersText = "No timers are available";

  CDDEWnd();
  // Ends a connected conversation.
  ~CDDEWnd() override;
  CDDEWnd(const CDDEWnd&) = delete;
  CDDEWnd& operator=(const CDDEWnd&) = delete;

  bool Created() const { return hwnd_ != 0; }
  platform::HWND hwnd() const { return hwnd_; }

  void Initiate(std::string_view application, std::string_view topic);
  void Execute(std::string_view command);
  void CreateGroup(std::string_view group);
  void ShowGroup(std::string_view group, int how);
  void DeleteItem(std::string_view item);
  void AddItem(std::string_view command_line, std::string_view item, std::string_view icon_file);

  State state() const { return state_; }
  platform::HWND server() const { return server_; }
  int outstanding() const { return outstanding_; }
  bool HasQueue() const { return queue_.has_value(); }
  std::size_t QueueLength() const { return queue_ ? queue_->size() : 0; }
  bool QueueTimerActive() const { return queueTimerActive_; }

  platform::LRESULT handle_message(const platform::Message& msg) override;

 private:
  void Post(const std::string& command);
  void OnAck(platform::HWND sender, platform::LPARAM lparam);
  void OnQueueTimer();
  void StopQueueTimer();

  platform::HWND hwnd_ = 0;
  State state_ = Idle;
  platform::HWND server_ = 0;
  bool queueTimerActive_ = false;
  std::optional<std::deque<std::string>> queue_;
  int outstanding_ = 0;
};

// ADDITEM: with its argument text (group, item name, command line, icon
// file). `dde` is the session's window, made on first use; `ini_file` is
// Joinwiz.ini (its "Windows" "Group" is the group); `program_dir` the
// program's Windows folder with its backslash ("C:\VELORAN\"). Sends no
// reply. Returns whether the four commands were handed to the window.
bool AddItemCommand(std::unique_ptr<CDDEWnd>& dde, std::string_view arguments,
                    const std::filesystem::path& ini_file, std::string_view program_dir);

// The group setting as shipped (string resource 3); "Client" reads it from
// Joinwiz.ini instead.
inline constexpr std::string_view kShortcutGroup = "None";

// Quote rule of the group: after the first '"' if there is one, then
// before the next.
std::string StripGroupQuotes(std::string_view group);

// The launcher of a dial-up entry: Name the entry, Exec `pon NAME`.
platform::desktop::Entry EntryLauncher(std::string_view entry_name, std::string_view safe_name);

// Writes the launcher of the phone-book entry named `entry_name` (matched
// without regard to case) at `path` (".lnk" becomes ".desktop"). False when
// there is no such entry or the file cannot be written (not reported).
// `phonebook_dir` empty: the root's.
bool CreateEntryShortcut(std::string_view entry_name, const std::filesystem::path& path,
                         const std::filesystem::path& phonebook_dir = {},
                         platform::FileMode mode = platform::FileMode::Shared);

// Marks a launcher on the desktop trusted the way GNOME's file manager
// wants it (`gio set FILE metadata::trusted true`). False and `why` when gio
// is missing or refuses (no session bus, a desktop without metadata).
bool TrustLauncher(const std::filesystem::path& file, std::string* why = nullptr);

// The desktop shortcut and, unless the group is "None", the Start-menu one.
// Each is made in the system root (its desktop/ and start_menu/) and where
// desktops look: the launcher in the user's desktop folder (executable and,
// where gio can, trusted), the menu item in the user's menu (xdg_places.h).
// `group_setting` is what string resource 3 holds; `ini_file` Joinwiz.ini.
// The paths of the shortcuts made are added to `made` when given.
void CreateAccountShortcuts(const std::filesystem::path& ini_file, std::string_view group_setting = kShortcutGroup,
                            std::vector<std::filesystem::path>* made = nullptr);
void CreateAccountShortcuts(session::CRegSessionDialog& session);

// The program's INI file in the root (Joinwiz.ini, any case).
std::filesystem::path ProgramIniFile();
// The program folder's Windows name with its backslash.
std::string ProgramDirWindows();

// Installs ADDITEM: and the shortcuts hook; the session owns the CDDEWnd
// through its hook.
void InstallProgramHandlers(session::CRegSessionDialog& session);

}  // namespace sysconfig
