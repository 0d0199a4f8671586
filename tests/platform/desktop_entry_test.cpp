// Desktop entries and the program manager: what we write is what
// desktop-file-validate accepts and what a reader gets back.
#include "platform/shell/desktop_entry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/loop/clock.h"
#include "platform/shell/dde.h"
#include "platform/storage/files.h"
#include "platform/loop/message_loop.h"
#include "platform/shell/program_manager.h"
#include "platform/storage/system_root.h"
#include "support/program_runner.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

std::string Slurp(const fs::path& p) {
  std::string text;
  read_file(p, text);
  return text;
}

// Names a server or profile may hold: none may add a key or an argument.
const std::vector<std::string>& NastyNames() {
  static const std::vector<std::string> names = {
      "Sign On",
      "quote\"in",
      "back\\slash",
      "new\nExec=/bin/evil",
      "cr\rIcon=evil",
      "tab\tname",
      " leading blank",
      "percent %f %%",
      "dollar $HOME `id`",
      "[Desktop Entry]",
      "semi;colon",
      "caf\xe9",              // Latin-1
      "caf\xc3\xa9",          // UTF-8
      "connect",
  };
  return names;
}

void ExpectValid(const fs::path& file) {
  if (test_support::FindTool("desktop-file-validate").empty()) return;
  auto r = test_support::DesktopFileValidate(file);
  EXPECT_EQ(r.exit_code, 0) << file << "\n" << r.output << Slurp(file);
  EXPECT_EQ(r.output.find("error"), std::string::npos) << r.output << Slurp(file);
}

TEST(DesktopEntryTest, InjectionTableValidatesAndReadsBack) {
  if (test_support::FindTool("desktop-file-validate").empty()) {
    GTEST_SKIP() << "desktop-file-validate (desktop-file-utils) is not installed";
  }
  ScopedSystemRoot root;
  const fs::path file = root.path() / "item.desktop";
  for (const std::string& name : NastyNames()) {
    desktop::Entry e;
    e.name = name;
    e.comment = name;
    e.exec = {"/opt/a dir/prog", name, "plain"};
    e.icon = "/opt/a dir/icon " + name;
    auto text = desktop::EntryText(e);
    ASSERT_TRUE(text) << name;
    ASSERT_TRUE(replace_file(file, *text));
    ExpectValid(file);
    auto keys = desktop::ReadGroup(*text);
    ASSERT_TRUE(keys) << *text;
    EXPECT_EQ(keys->size(), 6u) << *text;  // Type Name Comment Exec Terminal Icon: nothing added
    const bool latin1 = name == "caf\xe9";
    const std::string utf8 = latin1 ? "caf\xc3\xa9" : name;
    EXPECT_EQ(desktop::UnescapeString(keys->at("Name")), utf8);
    auto argv = desktop::SplitExec(desktop::UnescapeString(keys->at("Exec")));
    ASSERT_TRUE(argv) << keys->at("Exec");
    EXPECT_EQ(*argv, (std::vector<std::string>{"/opt/a dir/prog", utf8, "plain"}));
  }
}

TEST(DesktopEntryTest, RefusesControlCharacters) {
  desktop::Entry e;
  e.exec = {"/bin/true"};
  for (std::string bad : {"bell\a"s, "nul\0"s, "esc\x1b[2J"s, "del\x7f"s}) {
    e.name = bad;
    std::string why;
    EXPECT_FALSE(desktop::EntryText(e, &why)) << bad;
    EXPECT_FALSE(why.empty());
  }
  e.name = "ok";
  e.exec = {};
  EXPECT_FALSE(desktop::EntryText(e));
}

TEST(DesktopEntryTest, ShortcutFileNames) {
  EXPECT_EQ(desktop::ShortcutFileName("Tarkel - Veloran Account"), "Tarkel - Veloran Account.desktop");
  EXPECT_EQ(desktop::ShortcutFileName("x.lnk"), "x.desktop");
  EXPECT_EQ(desktop::ShortcutFileName("x.LNK"), "x.desktop");
  EXPECT_EQ(desktop::ShortcutFileName("x.LnK"), "x.desktop");
  EXPECT_EQ(desktop::ShortcutFileName("lnk"), "lnk.desktop");
}

TEST(ProgmanCommandsTest, ParseTable) {
  auto cmds = ParseProgmanCommands("[CreateGroup(Online)][ShowGroup(Online,1)] [AddItem(\"C:\\A (x), b.exe\",Sign On,C:\\I.ico)]");
  ASSERT_TRUE(cmds);
  ASSERT_EQ(cmds->size(), 3u);
  EXPECT_EQ((*cmds)[0].name, "CreateGroup");
  EXPECT_EQ((*cmds)[1].args, (std::vector<std::string>{"Online", "1"}));
  EXPECT_EQ((*cmds)[2].args, (std::vector<std::string>{"C:\\A (x), b.exe", "Sign On", "C:\\I.ico"}));
  for (const char* bad : {"", "CreateGroup(x)", "[CreateGroup(x]", "[(x)]", "[AddItem(\"x)]", "[A(b)]junk"}) {
    EXPECT_FALSE(ParseProgmanCommands(bad)) << bad;
  }
}

class ProgramManagerTest : public ::testing::Test {
 protected:
  ScopedVirtualClock vclock;
  ScopedSystemRoot root;
};

TEST_F(ProgramManagerTest, MenuLayoutValidates) {
  ProgramMenu menu;
  ASSERT_TRUE(menu.CreateGroup("Online"));
  const fs::path program = known_folder(KnownFolder::Program);
  std::ofstream(program / "app.exe") << "x";
  ASSERT_TRUE(menu.Execute({"AddItem", {"C:\\VELORAN\\app.exe", "Sign On", "C:\\VELORAN\\app.exe"}}));
  const fs::path item = menu.ItemPath("Online", "Sign On");
  ASSERT_TRUE(fs::exists(item));
  ExpectValid(item);
  ExpectValid(menu.DirectoryPath("Online"));
  auto keys = desktop::ReadGroup(Slurp(item));
  ASSERT_TRUE(keys);
  EXPECT_EQ(desktop::SplitExec(desktop::UnescapeString(keys->at("Exec"))),
            (std::vector<std::string>{(program / "app.exe").string()}));
  EXPECT_EQ(desktop::UnescapeString(keys->at("Icon")), (program / "app.exe").string());
  const std::string xml = Slurp(menu.MenuPath("Online"));
  EXPECT_NE(xml.find("<Filename>veloran-online_sign-on.desktop</Filename>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<Directory>veloran-online.directory</Directory>"), std::string::npos) << xml;
  if (!test_support::FindTool("xmllint").empty()) {
    auto wellformed = test_support::RunProgram({test_support::FindTool("xmllint"), "--noout", "--nonet",
                                            menu.MenuPath("Online").string()});
    EXPECT_EQ(wellformed.exit_code, 0) << wellformed.output << xml;
  }

  ASSERT_TRUE(menu.DeleteItem("Sign On"));
  EXPECT_FALSE(fs::exists(item));
  EXPECT_EQ(Slurp(menu.MenuPath("Online")).find("<Filename>"), std::string::npos);

  // Server paths stay in the root.
  for (const char* bad : {"..\\..\\x.exe", "D:\\x.exe", "\\\\?\\C:\\x.exe", "CON", "C:\\VELORAN\\C:\\x.exe"}) {
    std::string why;
    EXPECT_FALSE(menu.Execute({"AddItem", {bad, "Bad", ""}}, &why)) << bad;
    EXPECT_FALSE(why.empty());
  }
  EXPECT_FALSE(menu.Execute({"AddItem", {"C:\\VELORAN\\app.exe", "Bad", "..\\..\\etc\\passwd"}}));
  EXPECT_FALSE(fs::exists(menu.ItemPath("Online", "Bad")));
  EXPECT_FALSE(menu.Execute({"Reboot", {}}));
}

// A DDE client by hand: the service answers the broadcast and acknowledges
// each execute with the memory handle for the client to free.
struct Client final : MessageTarget {
  HWND hwnd = MessageLoop::current().register_window(this);
  std::vector<Message> acks;
  ~Client() override { MessageLoop::current().unregister_window(hwnd); }
  LRESULT handle_message(const Message& m) override {
    if (m.message == dde::WM_DDE_ACK) acks.push_back(m);
    return 0;
  }
};

TEST_F(ProgramManagerTest, ServiceAnswersTheConversation) {
  ProgramManagerService service;
  Client client;
  const dde::ATOM app = dde::global_add_atom("PROGMAN");
  const dde::ATOM other = dde::global_add_atom("EXCEL");
  dde::broadcast_initiate(client.hwnd, dde::make_lparam(other, other));
  EXPECT_TRUE(client.acks.empty());
  dde::broadcast_initiate(client.hwnd, dde::make_lparam(app, app));
  ASSERT_EQ(client.acks.size(), 1u);
  EXPECT_EQ(client.acks[0].wparam, service.hwnd());
  EXPECT_TRUE(dde::low_word(client.acks[0].lparam) & 0x8000);
  EXPECT_EQ(dde::global_atom_name(dde::low_word(client.acks[0].lparam)), "PROGMAN");
  // The client owns the atoms of the answer.
  EXPECT_TRUE(dde::global_delete_atom(dde::low_word(client.acks[0].lparam)));
  EXPECT_TRUE(dde::global_delete_atom(dde::high_word(client.acks[0].lparam)));

  const std::size_t blocks = dde::global_blocks_in_use();
  const dde::HGLOBAL good = dde::global_alloc_text("[CreateGroup(Online)][ShowGroup(Online,1)]");
  const dde::HGLOBAL bad = dde::global_alloc_text("not a command");
  post_message(service.hwnd(), dde::WM_DDE_EXECUTE, client.hwnd, good);
  post_message(service.hwnd(), dde::WM_DDE_EXECUTE, client.hwnd, bad);
  MessageLoop::current().pump_pending();
  MessageLoop::current().pump_pending();
  ASSERT_EQ(client.acks.size(), 3u);
  EXPECT_EQ(dde::low_word(client.acks[1].lparam), dde::kDdeAck);
  EXPECT_EQ(dde::high_word(client.acks[1].lparam), good);
  EXPECT_EQ(dde::low_word(client.acks[2].lparam), 0);
  EXPECT_EQ(dde::high_word(client.acks[2].lparam), bad);
  EXPECT_TRUE(dde::global_free(good));
  EXPECT_TRUE(dde::global_free(bad));
  EXPECT_EQ(dde::global_blocks_in_use(), blocks);
  EXPECT_TRUE(fs::exists(service.menu().DirectoryPath("Online")));
  EXPECT_EQ(service.executed().size(), 2u);
  dde::global_delete_atom(app);
  dde::global_delete_atom(other);
}

TEST(DdeAtomsTest, CountedAndCaseless) {
  const dde::ATOM a = dde::global_add_atom("AtomTest");
  EXPECT_GE(a, 0xC000);
  EXPECT_EQ(dde::global_add_atom("ATOMTEST"), a);
  EXPECT_TRUE(dde::global_delete_atom(a));
  EXPECT_EQ(dde::global_atom_name(a), "AtomTest");
  EXPECT_TRUE(dde::global_delete_atom(a));
  EXPECT_FALSE(dde::global_atom_name(a));
  EXPECT_EQ(dde::global_add_atom(""), 0);
  EXPECT_EQ(dde::global_add_atom(std::string(256, 'x')), 0);
}

}  // namespace
}  // namespace platform
