#include "platform/shell/program_manager.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/shell/dde.h"
#include "platform/shell/launcher.h"
#include "platform/storage/files.h"
#include "platform/storage/product_names.h"
#include "platform/storage/system_root.h"
#include "platform/loop/log.h"
#include "platform/shell/phonebook.h"
#include "platform/storage/system_root.h"

namespace platform {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kComponent = "progman";

bool Fail(std::string* why, std::string text) {
  log_warn(kComponent, text);
  if (why) *why = std::move(text);
  return false;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return out;
}

std::string SafeName(std::string_view name) { return phonebook::safe_entry_name(name); }

bool WriteFile(const fs::path& path, std::string_view text, std::string* why) {
  make_folders(path.parent_path());  // a failure shows in the write
  std::string old;
  if (read_file(path, old) && old == text) return true;
  std::string error;
  if (!replace_file(path, text, FileMode::Shared, &error)) return Fail(why, error);
  return true;
}

// A Windows path of an AddItem command as a path in the root.
// Quiet: only report failures when asked to.
std::optional<fs::path> RootFile(std::string_view windows_path, std::string* why, bool quiet = false) {
  RootPath path = translate_path(windows_path, RelativeTo::Program);
  std::string error;
  if (!path) {
    error = "AddItem: " + path.error;
  } else if (!check_translated(path, &error)) {
    error = "AddItem: refused path: " + error;
  } else {
    return path.full();
  }
  if (!quiet) Fail(why, error);
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<ProgmanCommand>> ParseProgmanCommands(std::string_view text) {
  std::vector<ProgmanCommand> commands;
  std::size_t i = 0;
  auto skip_blanks = [&] {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) ++i;
  };
  skip_blanks();
  if (i >= text.size()) return std::nullopt;
  while (i < text.size()) {
    if (text[i] != '[') return std::nullopt;
    ++i;
    ProgmanCommand cmd;
    while (i < text.size() && text[i] != '(' && text[i] != ']') cmd.name += text[i++];
    if (cmd.name.empty() || i >= text.size()) return std::nullopt;
    if (text[i] == '(') {
      ++i;
      std::string arg;
      bool closed = false;
      while (i < text.size()) {
        char c = text[i];
        if (c == '"') {
          std::size_t end = text.find('"', i + 1);
          if (end == std::string_view::npos) return std::nullopt;
          arg.append(text.substr(i + 1, end - i - 1));
          i = end + 1;
        } else if (c == ',') {
          cmd.args.push_back(std::move(arg));
          arg.clear();
          ++i;
        } else if (c == ')') {
          cmd.args.push_back(std::move(arg));
          ++i;
          closed = true;
          break;
        } else {
          arg += c;
          ++i;
        }
      }
      if (!closed) return std::nullopt;
    }
    if (i >= text.size() || text[i] != ']') return std::nullopt;
    ++i;
    commands.push_back(std::move(cmd));
    skip_blanks();
  }
  return commands;
}

// ---- ProgramMenu --------------------------------------------------------

namespace {

// An item of no group goes straight into the programs menu.
// Files carry the product's vendor prefix, as xdg-desktop-menu wants one.
std::string ItemFile(std::string_view group, std::string_view item) {
  const std::string& vendor = product_names().vendor;
  if (group.empty()) return vendor + SafeName(item) + ".desktop";
  return vendor + SafeName(group) + "_" + SafeName(item) + ".desktop";
}
std::string GroupId(std::string_view group) { return product_names().vendor + SafeName(group); }

bool RemoveFile(const fs::path& path, std::string* why) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
  return Fail(why, "cannot remove " + path.string() + ": " + std::strerror(errno));
}

// The item files of `group` in an applications folder, sorted.
std::vector<std::string> GroupItems(const fs::path& applications, std::string_view group) {
  std::vector<std::string> items;
  std::error_code ec;
  const std::string prefix = GroupId(group) + "_";
  for (fs::directory_iterator it(applications, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string file = it->path().filename().string();
    if (file.rfind(prefix, 0) == 0 && it->path().extension() == ".desktop") items.push_back(file);
  }
  std::sort(items.begin(), items.end());
  return items;
}

}  // namespace

ProgramMenu::ProgramMenu(fs::path folder)
    : folder_(folder.empty() ? known_folder(KnownFolder::StartMenu) : std::move(folder)),
      root_(xdg::menu_places_under(folder_)) {}

ProgramMenu::ProgramMenu(fs::path folder, xdg::MenuPlaces user) : ProgramMenu(std::move(folder)) {
  user_ = std::move(user);
}

fs::path ProgramMenu::ItemPath(std::string_view group, std::string_view item) const {
  return root_.applications / ItemFile(group, item);
}
fs::path ProgramMenu::DirectoryPath(std::string_view group) const {
  return root_.directories / (GroupId(group) + ".directory");
}
fs::path ProgramMenu::MenuPath(std::string_view group) const { return root_.merged_menus / (GroupId(group) + ".menu"); }
fs::path ProgramMenu::UserItemPath(std::string_view group, std::string_view item) const {
  return publishing() ? user_.applications / ItemFile(group, item) : fs::path();
}

bool ProgramMenu::WriteMenu(const xdg::MenuPlaces& places, std::string_view group, std::string* why) {
  const std::string id = GroupId(group);
  // Only our own safe file names reach the XML: nothing needs escaping.
  std::string xml =
      "<!DOCTYPE Menu PUBLIC \"-//freedesktop//DTD Menu 1.0//EN\"\n"
      "    \"http://www.freedesktop.org/standards/menu-spec/menu-1.0.dtd\">\n"
      "<Menu>\n"
      "    <Name>Applications</Name>\n"
      "<Menu>\n"
      "    <Name>" + id + "</Name>\n"
      "    <Directory>" + id + ".directory</Directory>\n"
      "    <Include>\n";
  for (const std::string& file : GroupItems(places.applications, group)) {
    xml += "    <Filename>" + file + "</Filename>\n";
  }
  xml +=
      "    </Include>\n"
      "</Menu>\n"
      "</Menu>\n";
  return WriteFile(places.merged_menus / (id + ".menu"), xml, why);
}

bool ProgramMenu::CreateGroup(std::string_view group, std::string* why) {
  desktop::Entry dir;
  dir.type = "Directory";
  dir.name = std::string(group);
  dir.icon = "folder";
  auto text = desktop::entry_text(dir, why);
  if (!text) return Fail(why, "CreateGroup: the group name cannot be written: " + (why ? *why : std::string()));
  std::error_code ec;
  if (!WriteFile(DirectoryPath(group), *text, why)) return false;
  if (!fs::exists(MenuPath(group), ec) && !WriteMenu(root_, group, why)) return false;
  current_ = std::string(group);
  return true;
}

bool ProgramMenu::ShowGroup(std::string_view group, std::string* why) {
  std::error_code ec;
  if (!fs::exists(DirectoryPath(group), ec)) return Fail(why, "ShowGroup: no group \"" + std::string(group) + "\"");
  current_ = std::string(group);
  return true;
}

bool ProgramMenu::DeleteItem(std::string_view item, std::string* why) {
  if (current_.empty()) return Fail(why, "DeleteItem: no current group");
  const fs::path path = ItemPath(current_, item);
  if (std::string error; !check_inside_root(path, &error)) return Fail(why, "DeleteItem: " + error);
  if (!RemoveFile(path, why) || !WriteMenu(root_, current_, why)) return false;
  return !publishing() || UnpublishItem(current_, item, why);
}

bool ProgramMenu::AddItem(std::string_view item, const desktop::Entry& entry, std::string* why) {
  if (current_.empty()) return Fail(why, "AddItem: no current group");
  auto text = desktop::entry_text(entry, why);
  if (!text) return Fail(why, "AddItem: the item cannot be written: " + (why ? *why : std::string()));
  if (!WriteFile(ItemPath(current_, item), *text, why) || !WriteMenu(root_, current_, why)) return false;
  return !publishing() || PublishItem(current_, item, entry, *text, why);
}

bool ProgramMenu::PublishItem(std::string_view group, std::string_view item, const desktop::Entry& entry,
                              std::string_view text, std::string* why) {
  std::string cannot;
  if (entry.type == "Application" && runnable_program(entry.exec.empty() ? std::string() : entry.exec[0], &cannot)
                                         .empty()) {
    log_info(kComponent, "\"" + std::string(item) + "\" stays in " + ItemPath(group, item).string() +
                             ", not in the menu: " + cannot);
    return UnpublishItem(group, item, why);
  }
  if (!WriteFile(UserItemPath(group, item), text, why)) return false;
  log_info(kComponent, "menu item \"" + std::string(item) + "\": " + UserItemPath(group, item).string());
  return SyncUserGroup(group, why);
}

bool ProgramMenu::UnpublishItem(std::string_view group, std::string_view item, std::string* why) {
  return RemoveFile(UserItemPath(group, item), why) && SyncUserGroup(group, why);
}

bool ProgramMenu::SyncUserGroup(std::string_view group, std::string* why) {
  const fs::path directory = user_.directories / (GroupId(group) + ".directory");
  const fs::path menu = user_.merged_menus / (GroupId(group) + ".menu");
  if (GroupItems(user_.applications, group).empty()) {
    // An empty group would only be an empty folder in the menu.
    return RemoveFile(menu, why) && RemoveFile(directory, why);
  }
  std::string text;
  if (!read_file(DirectoryPath(group), text)) return Fail(why, "no group file " + DirectoryPath(group).string());
  return WriteFile(directory, text, why) && WriteMenu(user_, group, why);
}

bool ProgramMenu::AddItemToGroup(std::string_view group, std::string_view item, const desktop::Entry& entry,
                                 std::string* why) {
  if (group.empty()) {
    // No group: straight into the programs menu, where the desktop files it
    // by the entry's categories.
    auto text = desktop::entry_text(entry, why);
    if (!text) return Fail(why, "AddItem: the item cannot be written: " + (why ? *why : std::string()));
    if (!WriteFile(ItemPath(group, item), *text, why)) return false;
    if (!publishing()) return true;
    std::string cannot;
    if (entry.type == "Application" &&
        runnable_program(entry.exec.empty() ? std::string() : entry.exec[0], &cannot).empty()) {
      log_info(kComponent, "\"" + std::string(item) + "\" stays in " + ItemPath(group, item).string() +
                               ", not in the menu: " + cannot);
      return RemoveFile(UserItemPath(group, item), why);
    }
    return WriteFile(UserItemPath(group, item), *text, why);
  }
  const std::string previous = current_;
  const bool ok = CreateGroup(group, why) && AddItem(item, entry, why);
  if (!previous.empty()) current_ = previous;
  return ok;
}

bool ProgramMenu::Execute(const ProgmanCommand& command, std::string* why) {
  const std::string name = Lower(command.name);
  const auto& a = command.args;
  if (name == "creategroup" && !a.empty()) return CreateGroup(a[0], why);
  if (name == "showgroup" && !a.empty()) return ShowGroup(a[0], why);
  if (name == "deleteitem" && !a.empty()) return DeleteItem(a[0], why);
  if (name == "additem" && !a.empty()) {
    const std::string& command_line = a[0];
    const std::string item = a.size() > 1 && !a[1].empty() ? a[1] : command_line;
    // The program is the whole command line when that names a file, else
    // the text before its first blank, the rest its arguments.
    std::vector<std::string> argv;
    std::string discard;
    auto whole = RootFile(command_line, &discard, true);
    std::error_code ec;
    if (whole && fs::exists(*whole, ec)) {
      argv.push_back(whole->string());
    } else {
      std::size_t blank = command_line.find(' ');
      auto program = RootFile(command_line.substr(0, blank), why);
      if (!program) return false;
      argv.push_back(program->string());
      std::size_t at = blank;
      while (at != std::string::npos) {
        std::size_t next = command_line.find(' ', at + 1);
        std::string word = command_line.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
        if (!word.empty()) argv.push_back(word);
        at = next;
      }
    }
    desktop::Entry entry;
    entry.name = item;
    entry.exec = argv;
    if (a.size() > 2 && !a[2].empty()) {
      auto icon = RootFile(a[2], why);
      if (!icon) return false;
      entry.icon = icon->string();
    }
    return AddItem(item, entry, why);
  }
  return Fail(why, "unknown program-manager command \"" + command.name + "\"");
}

// ---- ProgramManagerService ---------------------------------------------

ProgramManagerService::ProgramManagerService(fs::path folder) : menu_(std::move(folder)) {
  hwnd_ = MessageLoop::current().register_window(this);
  dde::add_initiate_listener(hwnd_);
}

ProgramManagerService::ProgramManagerService(fs::path folder, xdg::MenuPlaces user)
    : menu_(std::move(folder), std::move(user)) {
  hwnd_ = MessageLoop::current().register_window(this);
  dde::add_initiate_listener(hwnd_);
}

ProgramManagerService::~ProgramManagerService() {
  dde::remove_initiate_listener(hwnd_);
  for (HWND client : clients_) post_message(client, dde::WM_DDE_TERMINATE, hwnd_, 0);
  MessageLoop::current().unregister_window(hwnd_);
}

LRESULT ProgramManagerService::handle_message(const Message& msg) {
  const HWND client = static_cast<HWND>(msg.wparam);
  switch (msg.message) {
    case dde::WM_DDE_INITIATE: {
      auto app = dde::global_atom_name(dde::low_word(msg.lparam));
      auto topic = dde::global_atom_name(dde::high_word(msg.lparam));
      // No atom means "any" application or topic.
      const bool app_ok = dde::low_word(msg.lparam) == 0 || (app && Lower(*app) == "progman");
      const bool topic_ok = dde::high_word(msg.lparam) == 0 || (topic && Lower(*topic) == "progman");
      if (!app_ok || !topic_ok) return 0;
      clients_.push_back(client);
      send_message(client, dde::WM_DDE_ACK, hwnd_,
                   dde::make_lparam(dde::global_add_atom("PROGMAN"), dde::global_add_atom("PROGMAN")));
      return 0;
    }
    case dde::WM_DDE_EXECUTE: {
      const dde::HGLOBAL memory = static_cast<dde::HGLOBAL>(static_cast<std::uint32_t>(msg.lparam) & 0xFFFF);
      std::uint16_t status = 0;
      if (auto text = dde::global_text(memory)) {
        executed_.push_back(*text);
        auto commands = ParseProgmanCommands(*text);
        if (!commands) {
          log_warn(kComponent, "execute string refused: not program-manager commands");
        } else {
          bool ok = true;
          for (const ProgmanCommand& c : *commands) ok = menu_.Execute(c) && ok;
          if (ok) status = dde::kDdeAck;
        }
      }
      // The client frees the memory when the acknowledgement comes back.
      post_message(client, dde::WM_DDE_ACK, hwnd_, dde::make_lparam(status, memory));
      return 0;
    }
    case dde::WM_DDE_TERMINATE: {
      auto it = std::find(clients_.begin(), clients_.end(), client);
      if (it != clients_.end()) {
        clients_.erase(it);
        post_message(client, dde::WM_DDE_TERMINATE, hwnd_, 0);
      }
      return 0;
    }
    default:
      return 0;
  }
}

}  // namespace platform
