// System root: choice of the root, known folders, translation of Windows
// paths (good and refused), matching of names without regard to case.
#include "platform/storage/system_root.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

namespace platform {
namespace {

namespace fs = std::filesystem;

// Sets or clears an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) ::setenv(name, value, 1);
    else ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_) ::setenv(name_, old_->c_str(), 1);
    else ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(ChooseRoot, OptionThenEnvironmentThenXdgThenHome) {
  ScopedEnv home("HOME", "/home/ann");
  {
    ScopedEnv root("VLR_ROOT", "/srv/vlr");
    ScopedEnv xdg("XDG_DATA_HOME", "/data");
    RootChoice c = choose_root("/opt/prefix");
    EXPECT_EQ(c.path, "/opt/prefix");
    EXPECT_EQ(c.source, "--root");
    c = choose_root(nullptr);
    EXPECT_EQ(c.path, "/srv/vlr");
    EXPECT_EQ(c.source, "VLR_ROOT");
  }
  {
    ScopedEnv root("VLR_ROOT", "");
    ScopedEnv xdg("XDG_DATA_HOME", "/data");
    RootChoice c = choose_root(nullptr);
    EXPECT_EQ(c.path, "/data/veloran");
    EXPECT_EQ(c.source, "XDG_DATA_HOME");
  }
  {
    ScopedEnv root("VLR_ROOT", nullptr);
    ScopedEnv xdg("XDG_DATA_HOME", "relative/ignored");
    RootChoice c = choose_root(nullptr);
    ASSERT_TRUE(c) << c.error;
    EXPECT_EQ(c.path, "/home/ann/.local/share/veloran");
    EXPECT_EQ(c.source, "HOME");
  }
}

TEST(ChooseRoot, RelativeOptionIsMadeAbsolute) {
  RootChoice c = choose_root("some/where/../root");
  EXPECT_TRUE(c.path.is_absolute());
  EXPECT_EQ(c.path, (fs::current_path() / "some/root"));
}

TEST(SystemRoot, ScopedRootIsFreshAndRestored) {
  fs::path outer;
  {
    ScopedSystemRoot first;
    outer = system_root();
    EXPECT_EQ(outer, first.path());
    {
      ScopedSystemRoot second;
      EXPECT_EQ(system_root(), second.path());
      EXPECT_NE(second.path(), first.path());
    }
    EXPECT_EQ(system_root(), outer);
    EXPECT_TRUE(fs::is_directory(outer));
  }
  EXPECT_FALSE(fs::exists(outer));
}

TEST(SystemRoot, SetRootRefusesAFile) {
  ScopedSystemRoot scoped;
  fs::path file = scoped.path() / "plain";
  std::ofstream(file) << "x";
  std::string error;
  EXPECT_FALSE(set_system_root(file, &error));
  EXPECT_NE(error.find("plain"), std::string::npos) << error;
  EXPECT_EQ(system_root(), scoped.path());  // the previous root stays
}

TEST(SystemRoot, KnownFoldersAreCreatedOnDemand) {
  ScopedSystemRoot scoped;
  struct Case {
    KnownFolder folder;
    const char* relative;
    const char* windows;
  } cases[] = {
      {KnownFolder::DriveC, "drive_c", "C:\\"},
      {KnownFolder::Windows, "drive_c/windows", "C:\\WINDOWS"},
      {KnownFolder::System, "drive_c/windows/system", "C:\\WINDOWS\\SYSTEM"},
      {KnownFolder::Program, "drive_c/veloran", "C:\\VELORAN"},
      {KnownFolder::Registry, "registry", ""},
      {KnownFolder::DosDevices, "dosdevices", ""},
      {KnownFolder::Desktop, "desktop", ""},
      {KnownFolder::StartMenu, "start_menu", ""},
      {KnownFolder::PhoneBook, "phonebook", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.relative);
    EXPECT_FALSE(fs::exists(scoped.path() / c.relative));
    fs::path p = known_folder(c.folder);
    EXPECT_EQ(p, scoped.path() / c.relative);
    EXPECT_TRUE(fs::is_directory(p));
    EXPECT_EQ(known_folder_relative(c.folder), c.relative);
    EXPECT_EQ(known_folder_windows_name(c.folder), c.windows);
  }
  struct stat st;
  ASSERT_EQ(::stat((scoped.path() / "registry").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(SystemRoot, KnownFolderBehindALinkIsRefused) {
  ScopedSystemRoot scoped;
  ScopedSystemRoot elsewhere;  // now the current root; switch back below
  fs::path outside = elsewhere.path();
  ASSERT_TRUE(set_system_root(scoped.path()));
  fs::create_symlink(outside, scoped.path() / "desktop");
  std::string error;
  EXPECT_FALSE(ensure_known_folder(KnownFolder::Desktop, &error));
  EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
}

struct PathCase {
  const char* name;
  const char* windows_path;
  RelativeTo relative_to;
  const char* expected;  // relative to the root, or nullptr when refused
  const char* reason;    // part of the error when refused
};

const PathCase kPathCases[] = {
    {"root of drive C", "\\AUTOEXEC.BAT", RelativeTo::Program, "drive_c/AUTOEXEC.BAT", nullptr},
    {"dot relative", ".\\README.TXT", RelativeTo::Program, "drive_c/veloran/README.TXT", nullptr},
    {"bare name", "readme.txt", RelativeTo::Program, "drive_c/veloran/readme.txt", nullptr},
    {"full path", "C:\\X\\Y.INI", RelativeTo::Program, "drive_c/X/Y.INI", nullptr},
    {"lower drive, slashes", "c:/x/y.ini", RelativeTo::Program, "drive_c/x/y.ini", nullptr},
    {"drive relative", "C:Y.INI", RelativeTo::Program, "drive_c/veloran/Y.INI", nullptr},
    {"windows directory", "test.ini", RelativeTo::Windows, "drive_c/windows/test.ini", nullptr},
    {"system directory", "test.ini", RelativeTo::System, "drive_c/windows/system/test.ini",
     nullptr},
    {"subfolder of program", "C:\\VELORAN\\DATA\\x.ini", RelativeTo::Program,
     "drive_c/VELORAN/DATA/x.ini", nullptr},
    {"doubled separators", "DATA\\\\x.ini", RelativeTo::Program, "drive_c/veloran/DATA/x.ini",
     nullptr},
    {"inner dot", "a\\.\\b", RelativeTo::Program, "drive_c/veloran/a/b", nullptr},
    {"device-like but longer", "console.txt", RelativeTo::Program, "drive_c/veloran/console.txt",
     nullptr},
    {"COM10 is a name", "COM10", RelativeTo::Program, "drive_c/veloran/COM10", nullptr},
    {"inner dots", "a.b.c", RelativeTo::Program, "drive_c/veloran/a.b.c", nullptr},

    {"empty", "", RelativeTo::Program, nullptr, "empty"},
    {"parent", "..\\x", RelativeTo::Program, nullptr, "\"..\" is not allowed"},
    {"absolute escape", "C:\\..\\..\\etc\\passwd", RelativeTo::Program, nullptr, "\"..\""},
    {"parent that stays inside", "a\\..\\b", RelativeTo::Windows, nullptr, "\"..\""},
    {"parent with slashes", "/../x", RelativeTo::Program, nullptr, "\"..\""},
    {"other drive", "D:\\x.ini", RelativeTo::Program, nullptr, "drive D: does not exist"},
    {"other drive lower", "z:x", RelativeTo::Program, nullptr, "drive Z:"},
    {"long-path prefix", "\\\\?\\C:\\x", RelativeTo::Program, nullptr, "UNC"},
    {"device namespace", "\\\\.\\COM1", RelativeTo::Program, nullptr, "UNC"},
    {"UNC share", "\\\\server\\share\\x", RelativeTo::Program, nullptr, "UNC"},
    {"UNC with slashes", "//server/share", RelativeTo::Program, nullptr, "UNC"},
    {"NUL", "NUL", RelativeTo::Program, nullptr, "device name"},
    {"nul with extension", "nul.txt", RelativeTo::Program, nullptr, "device name"},
    {"COM1", "C:\\COM1", RelativeTo::Program, nullptr, "device name"},
    {"LPT9 in a folder", "x\\lpt9.ini", RelativeTo::Program, nullptr, "device name"},
    {"AUX with blank", "aux .txt", RelativeTo::Program, nullptr, "device name"},
    {"PRN", "prn", RelativeTo::Windows, nullptr, "device name"},
    {"CONOUT$", "CONOUT$", RelativeTo::Program, nullptr, "device name"},
    {"control character", "a\x01" "b", RelativeTo::Program, nullptr, "control character"},
    {"tab", "a\tb", RelativeTo::Program, nullptr, "control character"},
    {"newline", "a\nb", RelativeTo::Program, nullptr, "control character"},
    {"delete", "a\x7f", RelativeTo::Program, nullptr, "control character"},
    {"stream colon", "file.txt:stream", RelativeTo::Program, nullptr, "':'"},
    {"wildcard", "x?.ini", RelativeTo::Program, nullptr, "'?'"},
    {"star", "*.ini", RelativeTo::Program, nullptr, "'*'"},
    {"pipe", "a|b", RelativeTo::Program, nullptr, "'|'"},
    {"angle", "a<b", RelativeTo::Program, nullptr, "'<'"},
    {"quote", "a\"b", RelativeTo::Program, nullptr, "'\"'"},
    {"trailing dot", "name.", RelativeTo::Program, nullptr, "ending in a dot"},
    {"three dots", "...", RelativeTo::Program, nullptr, "ending in a dot"},
    {"trailing blank", "name ", RelativeTo::Program, nullptr, "blank"},
    {"drive root only", "C:\\", RelativeTo::Program, nullptr, "names a folder"},
    {"backslash only", "\\", RelativeTo::Program, nullptr, "names a folder"},
    {"dot only", ".", RelativeTo::Program, nullptr, "names a folder"},
    {"drive only", "C:", RelativeTo::Program, nullptr, "names a folder"},
};

TEST(NormalizePath, Table) {
  for (const PathCase& c : kPathCases) {
    SCOPED_TRACE(c.name);
    std::string error;
    std::string got = normalize_path(c.windows_path, c.relative_to, &error);
    if (c.expected) {
      EXPECT_EQ(got, c.expected);
      EXPECT_EQ(error, "");
    } else {
      EXPECT_EQ(got, "");
      EXPECT_NE(error.find(c.reason), std::string::npos) << error;
      EXPECT_NE(error.find("refused"), std::string::npos) << error;
    }
  }
}

TEST(NormalizePath, OverlongNamesAreRefused) {
  std::string error;
  EXPECT_EQ(normalize_path(std::string(256, 'a'), RelativeTo::Program, &error), "");
  EXPECT_NE(error.find("255"), std::string::npos) << error;
  EXPECT_NE(normalize_path(std::string(255, 'a'), RelativeTo::Program, &error), "");
  std::string deep;
  for (int i = 0; i < 120; ++i) deep += "abcdefgh\\";
  EXPECT_EQ(normalize_path(deep + "x", RelativeTo::Program, &error), "");
  EXPECT_NE(error.find("1024"), std::string::npos) << error;
}

TEST(NormalizePath, ErrorShowsControlCharactersEscaped) {
  std::string error;
  normalize_path("a\nb", RelativeTo::Program, &error);
  EXPECT_EQ(error.find('\n'), std::string::npos);
  EXPECT_NE(error.find("a\\x0Ab"), std::string::npos) << error;
}

TEST(TranslatePath, RefusalCarriesTheReason) {
  ScopedSystemRoot scoped;
  RootPath p = translate_path("..\\..\\etc\\passwd");
  EXPECT_FALSE(p);
  EXPECT_NE(p.error.find("\"..\" is not allowed"), std::string::npos) << p.error;
  OpenResult opened = open_translated(p, O_RDONLY);
  EXPECT_FALSE(opened);
  EXPECT_EQ(opened.error, p.error);
}

TEST(TranslatePath, MatchesExistingNamesWithoutRegardToCase) {
  ScopedSystemRoot scoped;
  fs::path win = known_folder(KnownFolder::Windows);
  std::ofstream(win / "Test.INI") << "[a]\n";
  fs::create_directories(known_folder(KnownFolder::Program) / "Data");

  struct Case {
    const char* windows_path;
    RelativeTo relative_to;
    const char* expected;
  } cases[] = {
      {"C:\\WINDOWS\\TEST.ini", RelativeTo::Program, "drive_c/windows/Test.INI"},
      {"test.ini", RelativeTo::Windows, "drive_c/windows/Test.INI"},
      {"\\Windows\\New.ini", RelativeTo::Program, "drive_c/windows/New.ini"},
      {"DATA\\x.ini", RelativeTo::Program, "drive_c/veloran/Data/x.ini"},
      {"c:\\veloran\\data\\X.INI", RelativeTo::Program, "drive_c/veloran/Data/X.INI"},
      {"missing\\deeper\\X.INI", RelativeTo::Program, "drive_c/veloran/missing/deeper/X.INI"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.windows_path);
    RootPath p = translate_path(c.windows_path, c.relative_to);
    ASSERT_TRUE(p) << p.error;
    EXPECT_EQ(p.root, scoped.path());
    EXPECT_EQ(p.relative, c.expected);
    EXPECT_EQ(p.full(), scoped.path() / c.expected);
  }
}

TEST(TranslatePath, ExactNameWinsOverOtherCase) {
  ScopedSystemRoot scoped;
  fs::path prog = known_folder(KnownFolder::Program);
  std::ofstream(prog / "readme.txt") << "lower";
  std::ofstream(prog / "README.TXT") << "upper";
  EXPECT_EQ(translate_path("README.TXT").relative, "drive_c/veloran/README.TXT");
  EXPECT_EQ(translate_path("readme.txt").relative, "drive_c/veloran/readme.txt");
  // Neither spelled this way: the first in byte order is taken, every time.
  EXPECT_EQ(translate_path("ReadMe.Txt").relative, "drive_c/veloran/README.TXT");
}

}  // namespace
}  // namespace platform
