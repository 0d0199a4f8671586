// Program manager: program groups and items as freedesktop menu entries.
//
// What the Windows shell's program manager kept as groups of icons lives in
// the root's start_menu/ in the layout `xdg-desktop-menu install` makes
// (VENDOR-: the product's vendor prefix, product_names.h):
//
//   applications/VENDOR-GROUP_ITEM.desktop         one per item
//   desktop-directories/VENDOR-GROUP.directory     one per group (its name)
//   menus/applications-merged/VENDOR-GROUP.menu    the group's submenu,
//                                                  listing its items
//
// GROUP and ITEM are the names made file-name safe; the names themselves
// are only ever values of Name= keys (desktop_entry.h).
//
// A menu made with the user's places (xdg_places.h) also publishes each
// item whose program can run here (launcher.h, runnable_program) into the
// user's own menu, in the same layout split over XDG_DATA_HOME and
// XDG_CONFIG_HOME, as Wine's menu builder does. An item whose program
// cannot run (a Windows program in drive_c) stays in the root only and is
// logged; a group shows in the user's menu only while it has an item there.
//
// ProgramMenu does the four program-manager commands on those files.
// ProgramManagerService is the "PROGMAN" server of the DDE conversation
// (dde.h): it answers the initiate broadcast for application and topic
// "PROGMAN", carries out each execute string (ParseProgmanCommands) and
// acknowledges it, handing the memory back to the client to free.
//
// Index: ProgmanCommand, ParseProgmanCommands, ProgramMenu,
// ProgramManagerService.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/shell/desktop_entry.h"
#include "platform/shell/xdg_places.h"
#include "platform/loop/message_loop.h"

namespace platform {

// One "[Name(arg,arg)]" of an execute string. An argument in double quotes
// may hold ',' and ')'; the quotes are removed.
struct ProgmanCommand {
  std::string name;
  std::vector<std::string> args;
};
// The commands of an execute string; nothing when it is not a sequence of
// well-formed commands (blanks between them are allowed).
std::optional<std::vector<ProgmanCommand>> ParseProgmanCommands(std::string_view text);

class ProgramMenu {
 public:
  // `folder`: the start menu; empty: the system root's start_menu/.
  explicit ProgramMenu(std::filesystem::path folder = {});
  // The same, also publishing runnable items into `user` (the user's menu).
  ProgramMenu(std::filesystem::path folder, xdg::MenuPlaces user);
  const std::filesystem::path& folder() const { return folder_; }
  bool publishing() const { return !user_.applications.empty(); }

  // Makes the group (its .directory and .menu) if missing; it becomes the
  // current group.
  bool CreateGroup(std::string_view group, std::string* why = nullptr);
  // Makes an existing group the current one.
  bool ShowGroup(std::string_view group, std::string* why = nullptr);
  // Removes the item from the current group (missing: fine).
  bool DeleteItem(std::string_view item, std::string* why = nullptr);
  // Adds (replaces) an item of the current group, as `entry`.
  bool AddItem(std::string_view item, const desktop::Entry& entry, std::string* why = nullptr);
  // The same on a named group, made if missing (shortcuts use it); with an
  // empty group name the item goes straight into the programs menu.
  bool AddItemToGroup(std::string_view group, std::string_view item, const desktop::Entry& entry,
                      std::string* why = nullptr);

  // Carries out one parsed command (CreateGroup, ShowGroup, DeleteItem,
  // AddItem; names ignore case). AddItem's command line and icon file are
  // Windows paths: translated into the root, a refused path fails the
  // command. Unknown commands fail.
  bool Execute(const ProgmanCommand& command, std::string* why = nullptr);

  // An item's file; an empty group: an item of no group.
  std::filesystem::path ItemPath(std::string_view group, std::string_view item) const;
  std::filesystem::path DirectoryPath(std::string_view group) const;
  std::filesystem::path MenuPath(std::string_view group) const;
  // The item's copy in the user's menu; empty when not publishing.
  std::filesystem::path UserItemPath(std::string_view group, std::string_view item) const;

 private:
  bool WriteMenu(const xdg::MenuPlaces& places, std::string_view group, std::string* why);
  bool PublishItem(std::string_view group, std::string_view item, const desktop::Entry& entry,
                   std::string_view text, std::string* why);
  bool UnpublishItem(std::string_view group, std::string_view item, std::string* why);
  bool SyncUserGroup(std::string_view group, std::string* why);
  std::filesystem::path folder_;
  xdg::MenuPlaces root_;
  xdg::MenuPlaces user_;
  std::string current_;
};

// The "PROGMAN" DDE server on the calling thread's message loop, for as
// long as the object lives.
class ProgramManagerService final : public MessageTarget {
 public:
  explicit ProgramManagerService(std::filesystem::path folder = {});
  ProgramManagerService(std::filesystem::path folder, xdg::MenuPlaces user);
  ~ProgramManagerService() override;
  ProgramManagerService(const ProgramManagerService&) = delete;
  ProgramManagerService& operator=(const ProgramManagerService&) = delete;

  HWND hwnd() const { return hwnd_; }
  ProgramMenu& menu() { return menu_; }
  // Every execute string received, in order (for tests and logs).
  const std::vector<std::string>& executed() const { return executed_; }

  LRESULT handle_message(const Message& msg) override;

 private:
  HWND hwnd_ = 0;
  ProgramMenu menu_;
  std::vector<std::string> executed_;
  std::vector<HWND> clients_;
};

}  // namespace platform
