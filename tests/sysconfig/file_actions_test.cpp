#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/ini.h"
#include "platform/storage/system_root.h"
#include "sysconfig/sysconfig.h"

namespace sysconfig {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

class FileActionsTest : public ::testing::Test {
 protected:
  platform::ScopedSystemRoot root;
  fs::path windows = platform::known_folder(platform::KnownFolder::Windows);
  fs::path system = platform::known_folder(platform::KnownFolder::System);
  fs::path program = platform::known_folder(platform::KnownFolder::Program);
  fs::path drive_c = platform::known_folder(platform::KnownFolder::DriveC);
  // A folder beside the root that nothing may reach.
  fs::path outside = root.path().parent_path() / (root.path().filename().string() + "-outside");

  void SetUp() override { fs::create_directories(outside); }
  void TearDown() override { fs::remove_all(outside); }

  std::string Ini(const fs::path& file, const char* section, const char* key) {
    return common::get_private_profile_string(section, key, "<missing>", 256, file);
  }
};

TEST(IniModPath, DirectoryCodes) {
  struct Case {
    const char* code;
    const char* install_dir;
    const char* expected;
  };
  const Case cases[] = {
      {"WIN", "", "C:\\WINDOWS\\test.ini"},
      {"win", "C:\\VELORAN\\", "C:\\WINDOWS\\test.ini"},
      {"WinSys", "", "C:\\WINDOWS\\SYSTEM\\test.ini"},
      {".", "", "test.ini"},
      {".", "C:\\VELORAN\\", "C:\\VELORAN\\test.ini"},
      {"DATA", "C:\\VELORAN\\", "C:\\VELORAN\\DATA\\test.ini"},
      {"data", "C:\\VELORAN\\", "C:\\VELORAN\\data\\test.ini"},
      {"DATA", "", "DATA\\test.ini"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IniModPath(c.code, "test.ini", c.install_dir), c.expected) << c.code << " / " << c.install_dir;
  }
}

TEST_F(FileActionsTest, IniModWritesWhereTheCodeSays) {
  fs::create_directories(program / "DATA");
  struct Case {
    const char* arguments;
    const char* install_dir;
    fs::path file;
    const char* section;
    const char* key;
    const char* value;
  };
  const Case cases[] = {
      {"WIN\ttest.ini\tMail\tServer\tmail.veloran.net", "", windows / "test.ini", "Mail", "Server",
       "mail.veloran.net"},
      {"win\ttest.ini\tMail\tPort\t25", "", windows / "test.ini", "Mail", "Port", "25"},
      {"WINSYS\tsys.ini\tboot\tshell\tprogman.exe", "", system / "sys.ini", "boot", "shell", "progman.exe"},
      {".\tbare.ini\tS\tK\tbefore transfer", "", windows / "bare.ini", "S", "K", "before transfer"},
      {".\tvlr.ini\tS\tK\tafter transfer", "C:\\VELORAN\\", program / "vlr.ini", "S", "K", "after transfer"},
      {"DATA\tsub.ini\tS\tK\tin DATA", "C:\\VELORAN\\", program / "DATA" / "sub.ini", "S", "K", "in DATA"},
      {"WIN\ttest.ini\tMail\tFour", "", windows / "test.ini", "Mail", "Four", "Four"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    std::string why;
    EXPECT_TRUE(IniModCommand(c.arguments, c.install_dir, &why)) << why;
    EXPECT_EQ(Ini(c.file, c.section, c.key), c.value);
  }
}

// A value field can never be empty on the wire: a line ending in a TAB has
// an empty remainder and is refused (below), and without it the last field
// repeats. An existing key is then left as it was.
TEST_F(FileActionsTest, IniModLineEndingInTabKeepsTheKey) {
  ASSERT_TRUE(IniModCommand("WIN\ttest.ini\tS\tK\tv", ""));
  EXPECT_FALSE(IniModCommand("WIN\ttest.ini\tS\tK\t", ""));
  EXPECT_EQ(Ini(windows / "test.ini", "S", "K"), "v");
}

TEST_F(FileActionsTest, IniModRefusalsChangeNothing) {
  WriteAll(outside / "victim.ini", "[S]\nK=old\n");
  fs::create_symlink(outside / "victim.ini", windows / "link.ini");
  fs::create_symlink(outside, program / "LINKDIR");
  const std::string outside_rel = "..\\..\\..\\" + outside.filename().string() + "\\victim.ini";
  struct Case {
    const char* name;
    std::string arguments;
    const char* install_dir;
    const char* reason;  // a part of the refusal's message
  };
  const Case cases[] = {
      {"no arguments", "", "", "fields missing"},
      {"line ends with a TAB", "WIN\ttest.ini\tS\t", "", "fields missing"},
      {"dot-dot in the file name", "WIN\t" + outside_rel + "\tS\tK\tnew", "", "\"..\" is not allowed"},
      {"dot-dot as the directory code", "..\\..\\..\\" + outside.filename().string() + "\tvictim.ini\tS\tK\tnew",
       "C:\\VELORAN\\", "\"..\" is not allowed"},
      {"device name", "WIN\tCON\tS\tK\tnew", "", "\"CON\" is a device name"},
      {"device name with extension", "WIN\tnul.ini\tS\tK\tnew", "", "\"nul.ini\" is a device name"},
      {"drive letter inside the name", "WIN\tD:\\x.ini\tS\tK\tnew", "", "the character ':' is not allowed"},
      {"other drive as install folder", ".\tx.ini\tS\tK\tnew", "D:\\", "drive D: does not exist"},
      {"UNC install folder", ".\tx.ini\tS\tK\tnew", "\\\\server\\share\\", "UNC names"},
      {"symbolic link as the file", "WIN\tlink.ini\tS\tK\tnew", "", "link.ini\": passes through a symbolic link"},
      {"symbolic link as a folder", "LINKDIR\tvictim.ini\tS\tK\tnew", "C:\\VELORAN\\", "LINKDIR\": passes through a symbolic link"},
      {"missing folder", "NOSUCH\tx.ini\tS\tK\tnew", "C:\\VELORAN\\", "NOSUCH\": does not exist"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string why;
    EXPECT_FALSE(IniModCommand(c.arguments, c.install_dir, &why));
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
  }
  EXPECT_EQ(ReadAll(outside / "victim.ini"), "[S]\nK=old\n");
  EXPECT_TRUE(fs::is_symlink(windows / "link.ini"));
  EXPECT_FALSE(fs::exists(program / "NOSUCH"));
  EXPECT_FALSE(fs::exists(windows / "test.ini"));
}

TEST(AppendFileName, UpperCaseAndCurrentFolder) {
  EXPECT_EQ(AppendFileName("readme.txt"), ".\\README.TXT");
  EXPECT_EQ(AppendFileName("\\autoexec.bat"), "\\AUTOEXEC.BAT");
  EXPECT_EQ(AppendFileName(".\\x.txt"), ".\\X.TXT");
  EXPECT_EQ(AppendFileName("sub\\x.txt"), ".\\SUB\\X.TXT");
  EXPECT_EQ(AppendFileName(""), ".\\");
}

TEST_F(FileActionsTest, AppendFileAddsLinesInOrder) {
  std::string why;
  ASSERT_TRUE(AppendFileCommand("readme.txt\tfirst line", &why)) << why;
  ASSERT_TRUE(AppendFileCommand("README.TXT\tsecond\tignored", &why)) << why;
  EXPECT_EQ(ReadAll(program / "README.TXT"), "first line\r\nsecond\r\n");

  WriteAll(drive_c / "AUTOEXEC.BAT", "@ECHO OFF\r\n");
  ASSERT_TRUE(AppendFileCommand("\\autoexec.bat\tSET VLR=1", &why)) << why;
  EXPECT_EQ(ReadAll(drive_c / "AUTOEXEC.BAT"), "@ECHO OFF\r\nSET VLR=1\r\n");

  // One field: the name is the line too.
  ASSERT_TRUE(AppendFileCommand("notes.txt", &why)) << why;
  EXPECT_EQ(ReadAll(program / "NOTES.TXT"), "notes.txt\r\n");

  // An existing file whose name differs only in case is the one appended to.
  WriteAll(program / "config.sys", "FILES=30\r\n");
  ASSERT_TRUE(AppendFileCommand("Config.Sys\tBUFFERS=20", &why)) << why;
  EXPECT_EQ(ReadAll(program / "config.sys"), "FILES=30\r\nBUFFERS=20\r\n");
  EXPECT_FALSE(fs::exists(program / "CONFIG.SYS"));
}

// A write that fails after part of the line went out (here the file-size
// limit lets three bytes through) cuts the file back to what it was: no half
// line is left. In a child process, so the limit stays there.
TEST_F(FileActionsTest, AppendFileCutsTheFileBackAfterAFailedWrite) {
  const std::string before = "@ECHO OFF\r\nPATH=C:\\DOS\r\n";
  WriteAll(drive_c / "AUTOEXEC.BAT", before);
  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(report[0]);
    std::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
    rlimit limit{static_cast<rlim_t>(before.size() + 3), static_cast<rlim_t>(before.size() + 3)};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::string why;
    const bool ok = AppendFileCommand("\\autoexec.bat\tSET VELORAN=C:\\VELORAN\\NET", &why);
    const std::string out = (ok ? "appended: " : "refused: ") + why;
    (void)!::write(report[1], out.data(), out.size());
    ::_exit(0);
  }
  ::close(report[1]);
  std::string got;
  char buf[512];
  for (ssize_t n; (n = ::read(report[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<std::size_t>(n));
  ::close(report[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(got.rfind("refused: APPENDFILE: cannot write to ", 0), 0u) << got;
  EXPECT_NE(got.find("File too large"), std::string::npos) << got;
  EXPECT_EQ(ReadAll(drive_c / "AUTOEXEC.BAT"), before);
}

TEST_F(FileActionsTest, AppendFileRefusalsChangeNothing) {
  WriteAll(outside / "victim.txt", "old\n");
  fs::create_symlink(outside / "victim.txt", program / "LINK.TXT");
  fs::create_symlink(outside, program / "LINKDIR");
  fs::create_directory(program / "FOLDER");
  ASSERT_EQ(mkfifo((program / "PIPE").c_str(), 0600), 0);
  const std::string up = "..\\..\\..\\" + outside.filename().string() + "\\victim.txt";
  struct Case {
    const char* name;
    std::string arguments;
    const char* reason;  // a part of the refusal's message
  };
  const Case cases[] = {
      {"no arguments", "", "fields missing"},
      {"empty name", "\tline", "names a folder, not a file"},
      {"dot-dot", up + "\tline", "\"..\" is not allowed"},
      {"dot-dot from the drive root", "\\..\\" + outside.filename().string() + "\\victim.txt\tline", "\"..\" is not allowed"},
      {"device CON", "con\tline", "\"CON\" is a device name"},
      {"device with extension", "nul.txt\tline", "\"NUL.TXT\" is a device name"},
      {"device COM1", "\\com1\tline", "\"COM1\" is a device name"},
      {"device path prefix", "\\\\.\\COM1\tline", "\\\\.\\ prefixes are not allowed"},
      {"long path prefix", "\\\\?\\C:\\X.TXT\tline", "UNC names and the \\\\?\\"},
      {"other drive", ".\\D:\\X.TXT\tline", "the character ':' is not allowed"},
      {"symbolic link", "link.txt\tline", "LINK.TXT\": passes through a symbolic link"},
      {"through a linked folder", "linkdir\\victim.txt\tline", "VICTIM.TXT\": passes through a symbolic link"},
      {"a folder", "folder\tline", "FOLDER\": is a folder"},
      {"a FIFO", "pipe\tline", "PIPE\": No such device or address"},
      {"missing folder", "nosuch\\x.txt\tline", "X.TXT\": does not exist"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string why;
    EXPECT_FALSE(AppendFileCommand(c.arguments, &why));
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
  }
  EXPECT_EQ(ReadAll(outside / "victim.txt"), "old\n");
  EXPECT_TRUE(fs::is_symlink(program / "LINK.TXT"));
  EXPECT_FALSE(fs::exists(program / "NOSUCH"));
}

}  // namespace
}  // namespace sysconfig
