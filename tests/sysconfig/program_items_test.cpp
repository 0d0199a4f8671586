// ADDITEM: and the program-manager conversation, and the account's
// shortcuts: the commands in order, the queue, and files that
// desktop-file-validate accepts.
#include "sysconfig/program_items.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/program_runner.h"
#include "../session/fakes.h"
#include "common/ini.h"
#include "platform/shell/launcher.h"
#include "platform/loop/clock.h"
#include "platform/shell/dde.h"
#include "platform/shell/desktop_entry.h"
#include "platform/storage/files.h"
#include "platform/shell/phonebook.h"
#include "platform/shell/launcher.h"
#include "platform/shell/program_manager.h"
#include "platform/shell/xdg_places.h"
#include "platform/storage/system_root.h"
#include "session/reg_session.h"
#include "sysconfig/dialup.h"
#include "sysconfig/sysconfig.h"

namespace sysconfig {
namespace {

namespace fs = std::filesystem;
namespace dde = platform::dde;
namespace pb = platform::phonebook;
using Strings = std::vector<std::string>;

std::string Slurp(const fs::path& p) {
  std::string text;
  platform::read_file(p, text);
  return text;
}

void ExpectValid(const fs::path& file) {
  if (test_support::FindTool("desktop-file-validate").empty()) return;
  auto r = test_support::DesktopFileValidate(file);
  EXPECT_EQ(r.exit_code, 0) << file << "\n" << r.output << Slurp(file);
  EXPECT_EQ(r.output.find("error"), std::string::npos) << r.output;
}

// The merged menu file is XML that a menu reader parses (xmllint from
// libxml2; the DTD itself is not fetched).
void ExpectWellFormedMenu(const fs::path& file) {
  if (test_support::FindTool("xmllint").empty()) return;
  auto r = test_support::RunProgram({test_support::FindTool("xmllint"), "--noout", "--nonet", file.string()});
  EXPECT_EQ(r.exit_code, 0) << file << "\n" << r.output << Slurp(file);
}

// A server that accepts the conversation and records, never acknowledging
// the executes (unless told to).
struct SilentServer final : platform::MessageTarget {
  platform::HWND hwnd = platform::MessageLoop::current().register_window(this);
  Strings executes;
  int terminates = 0;
  SilentServer() { dde::add_initiate_listener(hwnd); }
  ~SilentServer() override {
    dde::remove_initiate_listener(hwnd);
    platform::MessageLoop::current().unregister_window(hwnd);
  }
  platform::LRESULT handle_message(const platform::Message& m) override {
    const auto client = static_cast<platform::HWND>(m.wparam);
    if (m.message == dde::WM_DDE_INITIATE) {
      platform::send_message(client, dde::WM_DDE_ACK, hwnd,
                             dde::make_lparam(dde::global_add_atom("PROGMAN"), dde::global_add_atom("PROGMAN")));
    } else if (m.message == dde::WM_DDE_EXECUTE) {
      const auto memory = static_cast<dde::HGLOBAL>(m.lparam);
      executes.push_back(dde::global_text(memory).value_or("<bad memory>"));
      dde::global_free(memory);
    } else if (m.message == dde::WM_DDE_TERMINATE) {
      ++terminates;
    }
    return 0;
  }
};

class ProgramItemsTest : public ::testing::Test {
 protected:
  platform::ScopedVirtualClock vclock;
  platform::ScopedSystemRoot root;
  fs::path ini = platform::known_folder(platform::KnownFolder::Program) / "Joinwiz.ini";

  void SetUp() override { SetGroup("Online"); }
  void SetGroup(const char* group) {
    ASSERT_NE(common::write_private_profile_string("Windows", "Group", group, ini), 0);
  }
  // Lets the loop deliver what is posted and the queue timer tick `ticks`
  // times.
  void Run(int ticks = 0) {
    platform::MessageLoop::current().pump_pending();
    for (int i = 0; i < ticks; ++i) {
      vclock.get().advance(CDDEWnd::kQueuePeriodMs);
      platform::MessageLoop::current().pump_pending();
    }
    platform::MessageLoop::current().pump_pending();
  }
};

TEST_F(ProgramItemsTest, AddItemSendsTheFourCommandsAndLeavesAValidItem) {
  platform::ProgramManagerService service;
  std::ofstream(platform::known_folder(platform::KnownFolder::Program) / "app.exe") << "x";
  std::unique_ptr<CDDEWnd> window;
  ASSERT_TRUE(AddItemCommand(window, "Any\tSign On\tapp.exe", ini, ProgramDirWindows()));
  Run();
  EXPECT_EQ(service.executed(), (Strings{"[CreateGroup(Online)]", "[ShowGroup(Online,1)]", "[DeleteItem(Sign On)]",
                                         "[AddItem(\"C:\\VELORAN\\app.exe\",Sign On,C:\\VELORAN\\app.exe)]"}));
  EXPECT_EQ(window->state(), CDDEWnd::Connected);
  EXPECT_EQ(window->outstanding(), 0);
  const fs::path item = service.menu().ItemPath("Online", "Sign On");
  ASSERT_TRUE(fs::exists(item));
  ExpectValid(item);
  ExpectValid(service.menu().DirectoryPath("Online"));
  ExpectWellFormedMenu(service.menu().MenuPath("Online"));
  auto keys = platform::desktop::ReadGroup(Slurp(item));
  ASSERT_TRUE(keys);
  EXPECT_EQ(platform::desktop::UnescapeString(keys->at("Name")), "Sign On");

  // The same item again replaces it; the window is reused without a new
  // initiation.
  ASSERT_TRUE(AddItemCommand(window, "Any\tSign On\tapp.exe", ini, ProgramDirWindows()));
  Run();
  EXPECT_EQ(service.executed().size(), 8u);
  EXPECT_TRUE(fs::exists(item));
}

TEST_F(ProgramItemsTest, FieldRulesOfTheCommand) {
  struct Case {
    const char* arguments;
    Strings sent;  // empty: nothing sent
  };
  const Case cases[] = {
      {"G\tItem\t\\TOOLS\\t.exe",
       {"[CreateGroup(Online)]", "[ShowGroup(Online,1)]", "[DeleteItem(Item)]",
        "[AddItem(\"\\TOOLS\\t.exe\",Item,\\TOOLS\\t.exe)]"}},
      {"G\tItem\tD:\\x.exe\ticon.ico",
       {"[CreateGroup(Online)]", "[ShowGroup(Online,1)]", "[DeleteItem(Item)]",
        "[AddItem(\"C:\\VELORAN\\D:\\x.exe\",Item,C:\\VELORAN\\icon.ico)]"}},
      {"G\tItem\tc.exe\t",
       {"[CreateGroup(Online)]", "[ShowGroup(Online,1)]", "[DeleteItem(Item)]",
        "[AddItem(\"C:\\VELORAN\\c.exe\",Item,)]"}},
      {"G\tItem\t", {}},
      {"", {}},
      {"G\tItem, with comma\tc.exe", {}},
      {"G\tItem)]\t[x\tc.exe", {}},
      {"G\tquote\"d\tc.exe", {}},
      {"G\tItem\tc.exe\"),x(\"", {}},
      {"G\tnew\nline\tc.exe", {}},
  };
  for (const Case& c : cases) {
    SilentServer server;
    std::unique_ptr<CDDEWnd> window;
    const bool sent = AddItemCommand(window, c.arguments, ini, ProgramDirWindows());
    Run();
    EXPECT_EQ(sent, !c.sent.empty()) << c.arguments;
    EXPECT_EQ(server.executes, c.sent) << c.arguments;
  }
}

TEST_F(ProgramItemsTest, WithoutAProgramManagerCommandsWaitInTheQueue) {
  std::unique_ptr<CDDEWnd> window;
  ASSERT_TRUE(AddItemCommand(window, "Any\tSign On\tapp.exe", ini, ProgramDirWindows()));
  Run(50);
  EXPECT_EQ(window->state(), CDDEWnd::Initiating);
  EXPECT_EQ(window->QueueLength(), 4u);
  EXPECT_TRUE(window->QueueTimerActive());
  // A program manager that starts later hears nothing: nobody initiates
  // again.
  SilentServer late;
  Run(10);
  EXPECT_TRUE(late.executes.empty());
  EXPECT_EQ(window->QueueLength(), 4u);
}

TEST_F(ProgramItemsTest, TheQueueDrainsOneCommandPerTickOnceConnected) {
  SilentServer server;
  CDDEWnd window;
  window.Execute("[A()]");  // idle: no conversation, so the queue is made
  window.Execute("[B()]");
  window.Execute("[C()]");
  ASSERT_TRUE(window.HasQueue());
  window.Initiate("PROGMAN", "PROGMAN");
  EXPECT_EQ(window.state(), CDDEWnd::Connected);
  window.Execute("[D()]");  // a queue exists: it goes behind the others
  Run(1);
  EXPECT_EQ(server.executes, (Strings{"[A()]"}));
  Run(2);
  EXPECT_EQ(server.executes, (Strings{"[A()]", "[B()]", "[C()]"}));
  Run(1);
  EXPECT_EQ(server.executes.size(), 4u);
  EXPECT_TRUE(window.HasQueue());  // emptied, removed on the next tick
  Run(1);
  EXPECT_FALSE(window.HasQueue());
  EXPECT_FALSE(window.QueueTimerActive());
  EXPECT_EQ(window.state(), CDDEWnd::Executing);  // nothing acknowledged
  EXPECT_EQ(window.outstanding(), 4);
}

TEST_F(ProgramItemsTest, MoreThanNineUnacknowledgedCommandsAreDropped) {
  SilentServer server;
  {
    CDDEWnd window;
    window.Initiate("PROGMAN", "PROGMAN");
    for (int i = 0; i < 12; ++i) window.Execute("[C(" + std::to_string(i) + ")]");
    Run();
    EXPECT_EQ(window.outstanding(), 9);
    EXPECT_EQ(server.executes.size(), 9u);
    EXPECT_EQ(server.executes.back(), "[C(8)]");
    EXPECT_EQ(server.terminates, 0);
  }
  // Destroyed while executing: no terminate (only a connected window posts one).
  Run();
  EXPECT_EQ(server.terminates, 0);
}

TEST_F(ProgramItemsTest, AcknowledgementsFreeTheMemory) {
  const std::size_t blocks = dde::global_blocks_in_use();
  platform::ProgramManagerService service;
  {
    CDDEWnd window;
    window.Initiate("PROGMAN", "PROGMAN");
    EXPECT_EQ(window.server(), service.hwnd());
    window.CreateGroup("Online");
    window.ShowGroup("Online", 1);
    EXPECT_EQ(window.state(), CDDEWnd::Executing);
    Run();
    EXPECT_EQ(window.state(), CDDEWnd::Connected);
    EXPECT_EQ(dde::global_blocks_in_use(), blocks);
  }
}

TEST_F(ProgramItemsTest, DestroyingAConnectedWindowTerminates) {
  SilentServer server;
  {
    CDDEWnd window;
    window.Initiate("progman", "PROGMAN");
    EXPECT_EQ(window.state(), CDDEWnd::Connected);
    EXPECT_EQ(window.server(), server.hwnd);
  }
  Run();
  EXPECT_EQ(server.terminates, 1);
}

// The user's desktop and menu of the test, in the root's folder.
class ScopedXdgPlaces {
 public:
  explicit ScopedXdgPlaces(const fs::path& base) : base_(base) {
    for (const auto& [name, sub] : kVariables) {
      if (const char* old = std::getenv(name)) old_.emplace_back(name, old);
      ::setenv(name, (base / sub).c_str(), 1);
    }
  }
  ~ScopedXdgPlaces() {
    for (const auto& [name, sub] : kVariables) ::unsetenv(name);
    for (const auto& [name, value] : old_) ::setenv(name.c_str(), value.c_str(), 1);
  }
  fs::path desktop() const { return base_ / "Desktop"; }
  // The menu as pyxdg reads it, from a root menu that merges the user's
  // applications-merged folder as desktops ship one: "SUBMENU<TAB>NAME<TAB>ID".
  std::string MenuItems() const {
    fs::create_directories(base_ / "etc" / "menus");
    std::ofstream(base_ / "etc" / "menus" / "applications.menu")
        << "<!DOCTYPE Menu PUBLIC \"-//freedesktop//DTD Menu 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/menu-spec/menu-1.0.dtd\">\n"
           "<Menu><Name>Applications</Name><DefaultAppDirs/><DefaultDirectoryDirs/><DefaultMergeDirs/></Menu>\n";
    auto result = test_support::RunProgram({"/usr/bin/env", "XDG_CONFIG_DIRS=" + (base_ / "etc").string(),
                                        "XDG_DATA_DIRS=" + (base_ / "none").string(), "XDG_MENU_PREFIX=", "/usr/bin/python3",
                                        std::string(VLR_SOURCE_DIR) + "/tests/e2e/menu_items.py"});
    EXPECT_EQ(result.exit_code, 0) << result.output;
    return result.output;
  }

 private:
  static constexpr std::pair<const char*, const char*> kVariables[] = {
      {"XDG_DATA_HOME", "data"}, {"XDG_CONFIG_HOME", "config"}, {"XDG_DESKTOP_DIR", "Desktop"}};
  fs::path base_;
  std::vector<std::pair<std::string, std::string>> old_;
};

TEST_F(ProgramItemsTest, ShortcutsOpenTheConnectWindowOfTheEntry) {
  ScopedXdgPlaces xdg(root.path() / "xdg");
  std::vector<fs::path> made;
  // No entry: no shortcut, no message.
  CreateAccountShortcuts(ini, "None", &made);
  EXPECT_TRUE(made.empty());
  EXPECT_TRUE(fs::is_empty(platform::known_folder(platform::KnownFolder::Desktop)));

  pb::PhoneBook book;
  pb::EntryProperties props;
  props.device = "/dev/null";
  props.dial_command = "ATDT5550199";
  ASSERT_EQ(book.SetEntryProperties(kAccountEntryName, props), pb::kPbSuccess);

  CreateAccountShortcuts(ini, "None", &made);
  const fs::path desktop =
      platform::known_folder(platform::KnownFolder::Desktop) / "Tarkel - Veloran Account.desktop";
  // The root keeps its copy; the user's desktop gets an executable one.
  const fs::path user_desktop = xdg.desktop() / "Tarkel - Veloran Account.desktop";
  EXPECT_EQ(made, (std::vector<fs::path>{desktop, user_desktop}));
  ExpectValid(desktop);
  ExpectValid(user_desktop);
  EXPECT_EQ(Slurp(user_desktop), Slurp(desktop));
  EXPECT_EQ(fs::status(user_desktop).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
  EXPECT_EQ(fs::status(desktop).permissions() & fs::perms::owner_exec, fs::perms::none);
  auto keys = platform::desktop::ReadGroup(Slurp(desktop));
  ASSERT_TRUE(keys);
  EXPECT_EQ(platform::desktop::SplitExec(platform::desktop::UnescapeString(keys->at("Exec"))),
            (Strings{(platform::program_folder() / "joinwiz").string(), "--root", platform::system_root().string(),
                     "--connect", "tarkel-veloran-account"}));
  EXPECT_FALSE(fs::exists(platform::known_folder(platform::KnownFolder::StartMenu) / "applications"));
  EXPECT_FALSE(fs::exists(root.path() / "xdg" / "data" / "applications"));

  // "Client" takes the group from Joinwiz.ini (quotes stripped).
  SetGroup("x\"Online\"y");
  made.clear();
  CreateAccountShortcuts(ini, "Client", &made);
  platform::ProgramMenu menu({}, platform::xdg::user_menu_places());
  const bool joinwiz_here = !platform::runnable_program((platform::program_folder() / "joinwiz").string()).empty();
  ASSERT_EQ(made.size(), joinwiz_here ? 4u : 3u);
  EXPECT_EQ(made[2], menu.ItemPath("Online", kAccountEntryName));
  ExpectValid(made[2]);
  ExpectValid(menu.DirectoryPath("Online"));
  EXPECT_NE(Slurp(menu.MenuPath("Online")).find("veloran-online_tarkel-veloran-account.desktop"), std::string::npos);
  if (joinwiz_here) {
    // In the user's menu, as a desktop's menu reader finds it.
    EXPECT_EQ(made[3], menu.UserItemPath("Online", kAccountEntryName));
    EXPECT_EQ(xdg.MenuItems(), "Online\tTarkel - Veloran Account\tveloran-online_tarkel-veloran-account.desktop\n");
  }

  // An absent key is written back empty.
  ASSERT_NE(common::write_private_profile_string("Windows", "Group", nullptr, ini), 0);
  made.clear();
  CreateAccountShortcuts(ini, "Client", &made);
  EXPECT_EQ(common::get_private_profile_string("Windows", "Group", "<absent>", 200, ini), "");
  // No group: the Start-menu shortcut goes straight into the programs menu,
  // in no submenu of its own.
  ASSERT_EQ(made.size(), joinwiz_here ? 4u : 3u);
  EXPECT_EQ(made[2], menu.ItemPath("", kAccountEntryName));
  EXPECT_EQ(made[2].filename(), "veloran-tarkel-veloran-account.desktop");
  ExpectValid(made[2]);
  if (joinwiz_here) {
    // In the user's programs menu too, in no submenu.
    EXPECT_EQ(made[3], menu.UserItemPath("", kAccountEntryName));
    EXPECT_EQ(made[3].filename(), "veloran-tarkel-veloran-account.desktop");
  }
  EXPECT_FALSE(fs::exists(menu.DirectoryPath("")));
  EXPECT_FALSE(fs::exists(menu.MenuPath("")));

  // A shortcut path ending in .lnk (any case) ends in .desktop.
  const fs::path lnk = root.path() / "elsewhere" / "Shortcut.LNK";
  EXPECT_TRUE(CreateEntryShortcut("tarkel - VELORAN account", lnk));
  EXPECT_TRUE(fs::exists(root.path() / "elsewhere" / "Shortcut.desktop"));
  EXPECT_FALSE(CreateEntryShortcut("Other Entry", lnk));
}

TEST_F(ProgramItemsTest, OnlyItemsThatCanRunHereReachTheUsersMenu) {
  ScopedXdgPlaces xdg(root.path() / "xdg");
  const fs::path program = platform::known_folder(platform::KnownFolder::Program);
  std::ofstream(program / "app.exe") << "MZ\x90";
  std::ofstream(program / "news.sh") << "#!/bin/sh\n";
  std::ofstream(program / "readme.txt") << "text";
  fs::permissions(program / "app.exe", fs::perms::owner_all);
  fs::permissions(program / "news.sh", fs::perms::owner_all);
  platform::ProgramMenu menu({}, platform::xdg::user_menu_places());
  ASSERT_TRUE(menu.CreateGroup("Online"));
  // A group without an item there is no folder in the user's menu.
  EXPECT_FALSE(fs::exists(platform::xdg::user_menu_places().merged_menus / "veloran-online.menu"));
  struct Case {
    const char* item;
    const char* command;
    bool in_user_menu;
  } cases[] = {
      {"Sign On", "C:\\VELORAN\\app.exe", false},   // a Windows program
      {"News", "C:\\VELORAN\\news.sh", true},       // runs here
      {"Read Me", "C:\\VELORAN\\readme.txt", false},  // not executable
      {"Gone", "C:\\VELORAN\\missing", false},      // not there
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    std::string why;
    ASSERT_TRUE(menu.Execute({"AddItem", {c.command, c.item, ""}}, &why)) << why;
    EXPECT_TRUE(fs::exists(menu.ItemPath("Online", c.item))) << "the root keeps every item";
    EXPECT_EQ(fs::exists(menu.UserItemPath("Online", c.item)), c.in_user_menu);
  }
  ExpectValid(menu.UserItemPath("Online", "News"));
  EXPECT_EQ(xdg.MenuItems(), "Online\tNews\tveloran-online_news.desktop\n");

  // Deleting the item takes it out of both; the empty group leaves the
  // user's menu and stays in the root.
  ASSERT_TRUE(menu.DeleteItem("News"));
  EXPECT_FALSE(fs::exists(menu.ItemPath("Online", "News")));
  EXPECT_FALSE(fs::exists(menu.UserItemPath("Online", "News")));
  EXPECT_FALSE(fs::exists(platform::xdg::user_menu_places().merged_menus / "veloran-online.menu"));
  EXPECT_FALSE(fs::exists(platform::xdg::user_menu_places().directories / "veloran-online.directory"));
  EXPECT_TRUE(fs::exists(menu.DirectoryPath("Online")));
  EXPECT_EQ(xdg.MenuItems(), "");
}

TEST(StripGroupQuotesTest, Table) {
  EXPECT_EQ(StripGroupQuotes("Online"), "Online");
  EXPECT_EQ(StripGroupQuotes("\"Online\""), "Online");
  EXPECT_EQ(StripGroupQuotes("a\"b"), "b");
  EXPECT_EQ(StripGroupQuotes("a\"b\"c\"d"), "b");
}

// Through the session: the hooks installed with the other commands.
TEST_F(ProgramItemsTest, TheSessionRunsAddItemWithoutReplyAndMakesShortcuts) {
  session::testing::FakePorts ports;
  session::testing::RecordingUi ui;
  session::testing::FakePage page;
  platform::ProgramManagerService service;
  std::ofstream(platform::known_folder(platform::KnownFolder::Program) / "app.exe") << "x";
  {
    session::CRegSessionDialog session{page.hwnd, ui, ports.Options()};
    InstallCommandHandlers(session);
    session.HandleLine("ADDITEM:\tAny\tSign On\tapp.exe");
    Run();
    EXPECT_TRUE(ui.sent.empty());
    EXPECT_EQ(service.executed().size(), 4u);
    pb::PhoneBook book;
    pb::EntryProperties props;
    props.device = "/dev/null";
    props.dial_command = "ATDT5550199";
    ASSERT_EQ(book.SetEntryProperties(kAccountEntryName, props), pb::kPbSuccess);
    session.RunShortcutsHook();
    EXPECT_TRUE(fs::exists(platform::known_folder(platform::KnownFolder::Desktop) / "Tarkel - Veloran Account.desktop"));
  }
  // The session's window went with it and ended the conversation.
  Run();
  EXPECT_TRUE(fs::exists(service.menu().ItemPath("Online", "Sign On")));
}

}  // namespace
}  // namespace sysconfig
