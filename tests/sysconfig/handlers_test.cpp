// The commands through the session's line protocol, in-process: each
// received line is answered as the server expects and changes the computer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../session/fakes.h"
#include "common/ini.h"
#include "platform/loop/clock.h"
#include "platform/storage/files.h"
#include "platform/storage/registry.h"
#include "platform/storage/system_root.h"
#include "session/reg_session.h"
#include "sysconfig/sysconfig.h"

namespace sysconfig {
namespace {

namespace fs = std::filesystem;
namespace reg = platform::reg;
using namespace std::string_literals;
using Strings = std::vector<std::string>;

class HandlersTest : public ::testing::Test {
 protected:
  platform::ScopedVirtualClock vclock;
  platform::ScopedSystemRoot root;
  session::testing::FakePorts ports;
  session::testing::RecordingUi ui;
  session::testing::FakePage page;
  session::CRegSessionDialog session{page.hwnd, ui, ports.Options()};

  void SetUp() override { InstallCommandHandlers(session); }

  // Handles `line` and returns the reply it got ("" for none).
  std::string Reply(const std::string& line) {
    std::size_t before = ui.sent.size();
    session.HandleLine(line);
    if (ui.sent.size() == before) return "";
    EXPECT_EQ(ui.sent.size(), before + 1) << line;
    return ui.sent.back();
  }
};

TEST_F(HandlersTest, CommandsAreAnsweredAndTakeEffect) {
  const fs::path program = platform::known_folder(platform::KnownFolder::Program);
  const fs::path windows = platform::known_folder(platform::KnownFolder::Windows);
  struct Case {
    const char* line;
    const char* reply;
  };
  const Case cases[] = {
      {"REGMOD:\tHKEY_CURRENT_USER\tSoftware\\Veloran\tREG_SZ\tUser\tjdoe", "REPLY: OK"},
      {"regmod:\tHKEY_CURRENT_USER\tSoftware\\Veloran\tREG_BINARY\tCount\t300", "REPLY: OK"},
      {"REGMOD:\thkey_current_user\tSoftware\\Veloran\tREG_SZ\tX\ty", "REPLY: ERROR"},
      {"REGMOD:\tHKEY_CURRENT_USER\tSoftware\\Veloran\tREG_DWORD\tD\t1", "REPLY: ERROR"},
      {"REGMOD:", "REPLY: ERROR"},
      {"INIMOD:\tWIN\ttest.ini\tMail\tServer\tmail.veloran.net", "REPLY: OK"},
      {"INIMOD:\t.\tvlr.ini\tS\tK\tv", "REPLY: OK"},
      {"INIMOD:\tWIN\t..\\..\\escape.ini\tS\tK\tv", "REPLY: ERROR"},
      {"INIMOD:\tWIN\ttest.ini\tS\t", "REPLY: ERROR"},
      {"APPENDFILE:\treadme.txt\tline one", "REPLY: OK"},
      {"APPENDFILE:\treadme.txt\tline two", "REPLY: OK"},
      {"APPENDFILE:\t..\\escape.txt\tx", "REPLY: ERROR"},
      {"APPENDFILE:\tCON\tx", "REPLY: ERROR"},
      {"APPENDFILE:", "REPLY: ERROR"},
      {"REGMOD: HKEY_CURRENT_USER", ""},  // a blank instead of the TAB matches nothing
  };
  for (const Case& c : cases) EXPECT_EQ(Reply(c.line), c.reply) << c.line;

  reg::Registry& registry = reg::system_registry();
  reg::Key key;
  ASSERT_EQ(registry.open_key(reg::root_key(reg::Root::CurrentUser), "Software\\Veloran", &key), reg::ERROR_SUCCESS);
  reg::Value v;
  ASSERT_EQ(registry.query_value(key, "User", &v), reg::ERROR_SUCCESS);
  EXPECT_EQ(v.data, "jdoe\0"s);
  ASSERT_EQ(registry.query_value(key, "Count", &v), reg::ERROR_SUCCESS);
  EXPECT_EQ(v.data, "\x2c\x01\0\0"s);
  EXPECT_NE(registry.query_value(key, "D", &v), reg::ERROR_SUCCESS);

  EXPECT_EQ(common::get_private_profile_string("Mail", "Server", "", 64, windows / "test.ini"), "mail.veloran.net");
  // Before TRANSFER: installDir is empty: the bare name lands in the Windows folder.
  EXPECT_EQ(common::get_private_profile_string("S", "K", "", 64, windows / "vlr.ini"), "v");

  std::ifstream in(program / "README.TXT", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "line one\r\nline two\r\n");
  EXPECT_FALSE(fs::exists(root.path().parent_path() / "escape.txt"));
  EXPECT_FALSE(fs::exists(root.path().parent_path() / "escape.ini"));
}

// "k\k\...\k" with `levels` one-letter keys.
std::string DeepKey(std::size_t levels) {
  std::string path = "k";
  for (std::size_t i = 1; i < levels; ++i) path += "\\k";
  return path;
}

TEST_F(HandlersTest, RegModOfKeysDeeperThan512LevelsIsRefusedAndWritesNothing) {
  // Ten lines of about 5 KB, each a key of 2,500 levels: refused one by
  // one, and the hive stays as it was (once each grew it by megabytes).
  ASSERT_EQ(Reply("REGMOD:\tHKEY_CURRENT_USER\tSoftware\tREG_SZ\tv\tbefore"), "REPLY: OK");
  reg::Registry& registry = reg::system_registry();
  ASSERT_EQ(registry.flush(), reg::ERROR_SUCCESS);  // written as when the line goes quiet
  const fs::path hive = registry.hive_path(reg::Root::CurrentUser);
  const auto size_before = fs::file_size(hive);
  for (int i = 0; i < 10; ++i) {
    std::string line = "REGMOD:\tHKEY_CURRENT_USER\t" + DeepKey(2500) + "\tREG_SZ\tname" +
                       std::to_string(i) + "\tdata";
    ASSERT_GT(line.size(), 5000u);
    EXPECT_EQ(Reply(line), "REPLY: ERROR") << i;
  }
  EXPECT_EQ(Reply("REGMOD:\tHKEY_CURRENT_USER\t" + DeepKey(513) + "\tREG_SZ\tv\tx"), "REPLY: ERROR");
  EXPECT_EQ(fs::file_size(hive), size_before);
  reg::Key key;
  EXPECT_EQ(registry.open_key(reg::root_key(reg::Root::CurrentUser), "k", &key), reg::ERROR_FILE_NOT_FOUND);

  // The deepest key allowed is still stored.
  EXPECT_EQ(Reply("REGMOD:\tHKEY_CURRENT_USER\t" + DeepKey(512) + "\tREG_SZ\tv\tx"), "REPLY: OK");
  ASSERT_EQ(registry.open_key(reg::root_key(reg::Root::CurrentUser), DeepKey(512), &key), reg::ERROR_SUCCESS);
}

TEST_F(HandlersTest, ABurstOfRegModsIsGatheredAndWrittenWhenTheLineGoesQuiet) {
  // Each REGMOD: is answered at once; the hive is written when the line goes
  // quiet, at the latest a second after the first unwritten change, and at
  // the end of the call, not once per line.
  reg::Registry& registry = reg::system_registry();
  const fs::path hive = registry.hive_path(reg::Root::CurrentUser);
  const auto regmod = [&](int i) {
    return Reply("REGMOD:\tHKEY_CURRENT_USER\tSoftware\\Veloran\tREG_SZ\tV" + std::to_string(i) + "\t" +
                 std::string(5000, 'd'));
  };
  const std::uint64_t writes = platform::replace_file_count();
  for (int i = 0; i < 50; ++i) ASSERT_EQ(regmod(i), "REPLY: OK");
  EXPECT_EQ(platform::replace_file_count(), writes) << "nothing written while the line is busy";
  EXPECT_FALSE(fs::exists(hive));
  reg::Key key;
  ASSERT_EQ(registry.open_key(reg::root_key(reg::Root::CurrentUser), "Software\\Veloran", &key), reg::ERROR_SUCCESS);
  reg::Value v;
  EXPECT_EQ(registry.query_value(key, "V49", &v), reg::ERROR_SUCCESS) << "the values are there at once";

  WriteBackRegistry(registry, session::LinePace::Busy);
  EXPECT_EQ(platform::replace_file_count(), writes);
  vclock.get().advance(kRegistryWriteBackMs);
  WriteBackRegistry(registry, session::LinePace::Busy);  // a second after the first change
  EXPECT_EQ(platform::replace_file_count(), writes + 1);
  reg::Registry reader(registry.folder());  // another process's view: the file
  reg::Key other;
  ASSERT_EQ(reader.open_key(reg::root_key(reg::Root::CurrentUser), "Software\\Veloran", &other), reg::ERROR_SUCCESS);
  EXPECT_EQ(reader.query_value(other, "V49", &v), reg::ERROR_SUCCESS);

  for (int i = 50; i < 60; ++i) ASSERT_EQ(regmod(i), "REPLY: OK");
  WriteBackRegistry(registry, session::LinePace::Quiet);
  EXPECT_EQ(platform::replace_file_count(), writes + 2);
  WriteBackRegistry(registry, session::LinePace::Quiet);  // nothing new: no write
  EXPECT_EQ(platform::replace_file_count(), writes + 2);

  ASSERT_EQ(regmod(60), "REPLY: OK");
  WriteBackRegistry(registry, session::LinePace::CallEnds);
  EXPECT_EQ(platform::replace_file_count(), writes + 3);
  ASSERT_EQ(reader.query_value(other, "V60", &v), reg::ERROR_SUCCESS);
  // After the call every change is written at once again.
  ASSERT_EQ(registry.set_string(key, "After", "x"), reg::ERROR_SUCCESS);
  EXPECT_EQ(platform::replace_file_count(), writes + 4);
}

TEST_F(HandlersTest, IniModFollowsTheInstallFolderSetByTransfer) {
  const fs::path program = platform::known_folder(platform::KnownFolder::Program);
  fs::create_directories(program / "DATA");
  session.installDir = "C:\\VELORAN\\";
  EXPECT_EQ(Reply("INIMOD:\t.\tvlr.ini\tS\tK\there"), "REPLY: OK");
  EXPECT_EQ(Reply("INIMOD:\tDATA\tsub.ini\tS\tK\tthere"), "REPLY: OK");
  EXPECT_EQ(common::get_private_profile_string("S", "K", "", 64, program / "vlr.ini"), "here");
  EXPECT_EQ(common::get_private_profile_string("S", "K", "", 64, program / "DATA" / "sub.ini"), "there");
}

}  // namespace
}  // namespace sysconfig
