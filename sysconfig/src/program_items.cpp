// ADDITEM: through the program manager's DDE conversation, and the account's
// desktop and Start-menu shortcuts.
#include "sysconfig/program_items.h"

#include <vector>

#include "common/ini.h"
#include "platform/shell/dde.h"
#include "platform/shell/launcher.h"
#include "platform/storage/files.h"
#include "platform/loop/log.h"
#include "platform/ui/message_box.h"
#include "platform/shell/launcher.h"
#include "platform/shell/phonebook.h"
#include "platform/shell/xdg_places.h"
#include "platform/shell/program_manager.h"
#include "platform/storage/system_root.h"
#include "session/line_protocol.h"
#include "session/reg_session.h"
#include "sysconfig/dialup.h"
#include "sysconfig/setup_report.h"

namespace sysconfig {
namespace {

namespace fs = std::filesystem;
namespace dde = platform::dde;

constexpr std::string_view kComponent = "sysconfig";
constexpr std::size_t kGroupBuffer = 200;  // "Group" read into 200 characters

// Characters that would change how the program manager splits a command.
bool SafeForCommand(std::string_view text, bool quoted) {
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f || c == '"') return false;
    if (!quoted && (c == '[' || c == ']' || c == '(' || c == ')' || c == ',')) return false;
  }
  return true;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return out;
}

std::string ReadGroup(const fs::path& ini_file) {
  return common::get_private_profile_string("Windows", "Group", "", kGroupBuffer, ini_file);
}

}  // namespace

// ---- CDDEWnd ---------------------------------------------------------------

CDDEWnd::CDDEWnd() { hwnd_ = platform::MessageLoop::current().register_window(this); }

CDDEWnd::~CDDEWnd() {
  if (state_ == Connected) platform::post_message(server_, dde::WM_DDE_TERMINATE, hwnd_, 0);
  state_ = Idle;
  if (hwnd_ != 0) platform::MessageLoop::current().unregister_window(hwnd_);
}

void CDDEWnd::Initiate(std::string_view application, std::string_view topic) {
  const dde::ATOM app = dde::global_add_atom(application);
  const dde::ATOM top = dde::global_add_atom(topic);
  state_ = Initiating;
  // The program manager answers during the broadcast.
  dde::broadcast_initiate(hwnd_, dde::make_lparam(app, top));
  dde::global_delete_atom(app);
  dde::global_delete_atom(top);
}

void CDDEWnd::Execute(std::string_view command) {
  if (state_ != Connected && state_ != Executing && !queue_) queue_.emplace();
  if (queue_) {
    queue_->emplace_back(command);
    if (!queueTimerActive_) {
      if (platform::MessageLoop::current().set_timer(hwnd_, kQueueTimerId, kQueuePeriodMs) == 0) {
        platform::message_box(0, kNoTimersText, platform::application_name(), platform::MB_OK);
      } else {
        queueTimerActive_ = true;
      }
    }
    return;
  }
  Post(std::string(command));
}

void CDDEWnd::Post(const std::string& command) {
  if (outstanding_ > kMaxOutstanding) {
    platform::log_warn(kComponent, "program-manager command dropped, too many unacknowledged: " +
                                       session::Printable(command));
    return;
  }
  const dde::HGLOBAL memory = dde::global_alloc_text(command);
  if (memory == 0) {
    platform::log_warn(kComponent, "no memory for a program-manager command");
    return;
  }
  if (!platform::post_message(server_, dde::WM_DDE_EXECUTE, hwnd_, static_cast<platform::LPARAM>(memory))) {
    // The server is gone; nobody will acknowledge or free it.
    dde::global_free(memory);
    platform::log_warn(kComponent, "the program manager is gone: command not sent");
    return;
  }
  ++outstanding_;
  state_ = Executing;
}

void CDDEWnd::CreateGroup(std::string_view group) { Execute("[CreateGroup(" + std::string(group) + ")]"); }

void CDDEWnd::ShowGroup(std::string_view group, int how) {
  Execute("[ShowGroup(" + std::string(group) + "," + std::to_string(how) + ")]");
}

void CDDEWnd::DeleteItem(std::string_view item) { Execute("[DeleteItem(" + std::string(item) + ")]"); }

void CDDEWnd::AddItem(std::string_view command_line, std::string_view item, std::string_view icon_file) {
  Execute("[AddItem(" + std::string(command_line) + "," + std::string(item) + "," + std::string(icon_file) + ")]");
}

void CDDEWnd::OnAck(platform::HWND sender, platform::LPARAM lparam) {
  if (state_ == Initiating) {
    dde::global_delete_atom(dde::low_word(lparam));
    dde::global_delete_atom(dde::high_word(lparam));
    if (dde::low_word(lparam) & 0x8000) {
      server_ = sender;
      state_ = Connected;
    } else {
      state_ = Refused;
    }
  } else if (state_ == Executing) {
    if (dde::high_word(lparam) != 0) dde::global_free(dde::high_word(lparam));
    if (--outstanding_ <= 0) {
      outstanding_ = 0;
      state_ = Connected;
    }
  }
}

void CDDEWnd::StopQueueTimer() {
  platform::MessageLoop::current().kill_timer(hwnd_, kQueueTimerId);
  queueTimerActive_ = false;
}

void CDDEWnd::OnQueueTimer() {
  if (!queue_) {
    StopQueueTimer();
    return;
  }
  if (state_ != Connected && state_ != Executing) return;  // wait for the conversation
  if (queue_->empty()) {
    queue_.reset();
    StopQueueTimer();
    return;
  }
  std::string command = std::move(queue_->front());
  queue_->pop_front();
  Post(command);
}

platform::LRESULT CDDEWnd::handle_message(const platform::Message& msg) {
  switch (msg.message) {
    case dde::WM_DDE_ACK:
      OnAck(static_cast<platform::HWND>(msg.wparam), msg.lparam);
      return 0;
    case platform::WM_TIMER:
      if (msg.wparam == kQueueTimerId) OnQueueTimer();
      return 0;
    default:
      return 0;
  }
}

// ---- ADDITEM: ----------------------------------------------------------------

bool AddItemCommand(std::unique_ptr<CDDEWnd>& dde_window, std::string_view arguments, const fs::path& ini_file,
                    std::string_view program_dir) {
  // 1.
  std::string_view remainder = arguments;
  std::vector<std::string> f;
  if (!session::NextFields(remainder, 3, f)) {
    platform::log_info(kComponent, "ADDITEM: fields missing: nothing done");
    return false;
  }
  std::string item = f[1];
  std::string command_line = f[2];
  std::string icon;
  session::NextField(icon, remainder);
  // 2. The group comes from Joinwiz.ini, not from the command.
  const std::string group = ReadGroup(ini_file);
  // 4. Names without a leading backslash lie in the program folder.
  if (command_line.empty() || command_line[0] != '\\') command_line.insert(0, program_dir);
  if (!icon.empty() && icon[0] != '\\') icon.insert(0, program_dir);
  if (!SafeForCommand(group, false) || !SafeForCommand(item, false) || !SafeForCommand(command_line, true) ||
      !SafeForCommand(icon, false)) {
    platform::log_warn(kComponent, "ADDITEM: refused, a field holds a quote, bracket, comma or control character: \"" +
                                       session::Printable(arguments) + "\"");
    return false;
  }
  // 3.
  if (!dde_window) {
    auto made = std::make_unique<CDDEWnd>();
    if (!made->Created()) {
      platform::log_warn(kComponent, "ADDITEM: the DDE window could not be made");
      return false;
    }
    dde_window = std::move(made);
    dde_window->Initiate("PROGMAN", "PROGMAN");
  }
  // 5., 6.
  dde_window->CreateGroup(group);
  dde_window->ShowGroup(group, 1);
  dde_window->DeleteItem(item);
  dde_window->AddItem("\"" + command_line + "\"", item, icon);
  return true;
}

// ---- Shortcuts ---------------------------------------------------------------

std::string StripGroupQuotes(std::string_view group) {
  std::string g(group);
  if (auto q = g.find('"'); q != std::string::npos) g = g.substr(q + 1);
  if (auto q = g.find('"'); q != std::string::npos) g = g.substr(0, q);
  return g;
}

platform::desktop::Entry EntryLauncher(std::string_view entry_name, std::string_view safe_name) {
  platform::desktop::Entry e;
  e.name = std::string(entry_name);
  e.comment = "Dial the Veloran Network";
  // The Connect window of the wizard beside us, on this root: it shows the
  // dial, the modem's answer and why a call failed, where pon says nothing.
  e.exec = {(platform::program_folder() / "joinwiz").string(), "--root", platform::system_root().string(),
            "--connect", std::string(safe_name)};
  e.icon = "network-wired";
  e.categories = "Network;Dialup;";
  return e;
}

namespace {

// The phone-book entry named `entry_name` (any case).
std::optional<std::string> FindEntry(std::string_view entry_name, const fs::path& phonebook_dir) {
  platform::phonebook::PhoneBook book(phonebook_dir);
  for (const std::string& name : book.entry_names()) {
    if (Lower(name) == Lower(entry_name)) return name;
  }
  return std::nullopt;
}

}  // namespace

bool CreateEntryShortcut(std::string_view entry_name, const fs::path& path, const fs::path& phonebook_dir,
                         platform::FileMode mode) {
  const std::optional<std::string> found = FindEntry(entry_name, phonebook_dir);
  if (!found) return false;
  std::string why;
  auto text = platform::desktop::entry_text(EntryLauncher(*found, platform::phonebook::safe_entry_name(*found)), &why);
  if (!text) {
    platform::log_warn(kComponent, "shortcut not made: " + why);
    return false;
  }
  const fs::path file = path.parent_path() / platform::desktop::shortcut_file_name(path.filename().string());
  platform::make_folders(file.parent_path());  // a failure shows in the write
  if (!platform::replace_file(file, *text, mode, &why)) {
    platform::log_warn(kComponent, "shortcut not saved: " + why);
    return false;
  }
  return true;
}

bool TrustLauncher(const fs::path& file, std::string* why) {
  const fs::path gio = platform::runnable_program("gio");
  if (gio.empty()) {
    if (why) *why = "gio is not installed";
    return false;
  }
  std::string output;
  const int rc = platform::run_program({gio.string(), "set", file.string(), "metadata::trusted", "true"}, &output);
  if (rc != 0) {
    if (why) *why = "gio set " + file.string() + " metadata::trusted true: " + (output.empty() ? "exit " + std::to_string(rc) : output);
    while (why && !why->empty() && why->back() == '\n') why->pop_back();
    return false;
  }
  return true;
}

void CreateAccountShortcuts(const fs::path& ini_file, std::string_view group_setting, std::vector<fs::path>* made) {
  std::string group(group_setting);
  if (group == "Client") {
    group = ReadGroup(ini_file);
    // Written back as read: an absent key is thereby made, empty.
    common::write_private_profile_string("Windows", "Group", group.c_str(), ini_file);
  }
  group = StripGroupQuotes(group);
  const std::string name(kAccountEntryName);
  const std::string file_name = platform::desktop::shortcut_file_name(name);
  // The root keeps its copy; the user's desktop gets an executable one, which
  // file managers run only when it is also marked trusted.
  const fs::path root_desktop = platform::known_folder(platform::KnownFolder::Desktop);
  if (CreateEntryShortcut(name, root_desktop / name) && made) made->push_back(root_desktop / file_name);
  if (const fs::path desktop = platform::xdg::desktop_dir(); !desktop.empty()) {
    if (CreateEntryShortcut(name, desktop / name, {}, platform::FileMode::Executable)) {
      if (made) made->push_back(desktop / file_name);
      std::string why;
      if (!TrustLauncher(desktop / file_name, &why)) {
        platform::log_info(kComponent, "launcher not marked trusted (" + why + "): the desktop may ask before running it");
      }
    }
  }
  if (group == "None") return;
  const std::optional<std::string> found = FindEntry(name, {});
  if (!found) return;
  platform::ProgramMenu menu({}, platform::xdg::user_menu_places());
  std::string why;
  if (menu.AddItemToGroup(group, name, EntryLauncher(*found, platform::phonebook::safe_entry_name(*found)), &why)) {
    if (made) made->push_back(menu.ItemPath(group, name));
    if (made && fs::exists(menu.UserItemPath(group, name))) made->push_back(menu.UserItemPath(group, name));
  } else {
    platform::log_warn(kComponent, "Start-menu shortcut not made: " + why);
  }
}

void CreateAccountShortcuts(session::CRegSessionDialog&) {
  std::vector<fs::path> made;
  CreateAccountShortcuts(ProgramIniFile(), kShortcutGroup, &made);
  // The run's report counts the launchers the user sees (desktop, menu);
  // the root's copies only where no copy of the user's could be made.
  const std::string root = platform::system_root().string() + "/";
  std::vector<fs::path> seen;
  for (const fs::path& p : made) {
    if (p.string().rfind(root, 0) != 0) seen.push_back(p);
  }
  auto& launchers = ThisRun().launchers;
  for (const fs::path& p : seen.empty() ? made : seen) launchers.push_back(p);
}

fs::path ProgramIniFile() {
  platform::RootPath path = platform::translate_path("Joinwiz.ini", platform::RelativeTo::Program);
  if (!path) return platform::known_folder(platform::KnownFolder::Program) / "Joinwiz.ini";
  return path.full();
}

std::string ProgramDirWindows() {
  std::string dir(platform::known_folder_windows_name(platform::KnownFolder::Program));
  if (dir.empty() || dir.back() != '\\') dir += '\\';
  return dir;
}

void InstallProgramHandlers(session::CRegSessionDialog& session) {
  // The hook owns the window, and the session owns the hook: the window
  // goes (ending its conversation) when the session does.
  auto window = std::make_shared<std::unique_ptr<CDDEWnd>>();
  session.SetCommandHook("ADDITEM:", [window](session::CRegSessionDialog&, std::string_view arguments) {
    AddItemCommand(*window, arguments, ProgramIniFile(), ProgramDirWindows());
  });
  session.SetShortcutsHook([](session::CRegSessionDialog& s) { CreateAccountShortcuts(s); });
  session.SetCommandHook("CONFIG:", [](session::CRegSessionDialog& s, std::string_view arguments) {
    ConfigCommand(s, arguments);
  });
}

}  // namespace sysconfig
