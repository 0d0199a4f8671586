#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/ini.h"
#include "platform/loop/log.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using namespace std::string_literals;
using common::get_private_profile_string;
using common::write_private_profile_string;

namespace {

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void put(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << text;
}

// Moves the file's times an hour back, as for a file written long ago.
void age(const fs::path& p) {
  struct timespec times[2];
  ::clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= 3600;
  times[1] = times[0];
  ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

class PrivateProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    common::ini_cache_clear();
  }
  fs::path copy_fixture(const char* name) {
    fs::path to = dir_ / name;
    fs::copy_file(fs::path(VLR_TEST_DATA_DIR) / name, to);
    return to;
  }
  test_support::TempDir temp_{"vlr_ini"};
  const fs::path dir_ = temp_.path();
};

TEST_F(PrivateProfileTest, ValueIsCutToBufferSizeLessOne) {
  fs::path ini = dir_ / "Joinwiz.ini";
  const std::string value40 = "0123456789012345678901234567890123456789";
  put(ini, "[Dialing Information]\nREGNUMBER=" + value40 + "\n");
  EXPECT_EQ(get_private_profile_string("Dialing Information", "REGNUMBER", "", 32, ini), value40.substr(0, 31));

  // The buffer form writes 31 characters and a NUL, and nothing past 32 bytes.
  char buffer[48];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(get_private_profile_string("Dialing Information", "REGNUMBER", "", buffer, 32, ini), 31u);
  EXPECT_EQ(std::string(buffer), value40.substr(0, 31));
  for (size_t i = 32; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#') << i;

  struct Case {
    size_t size;
    std::string expected;
  };
  for (const Case& c : std::vector<Case>{{0, ""}, {1, ""}, {2, "0"}, {40, value40.substr(0, 39)}, {41, value40},
                                         {500, value40}}) {
    EXPECT_EQ(get_private_profile_string("dialing information", "regnumber", "", c.size, ini), c.expected)
        << c.size;
  }
}

TEST_F(PrivateProfileTest, DefaultWhenFileSectionOrKeyIsMissing) {
  fs::path ini = dir_ / "a.ini";
  put(ini, "[S]\nk=v\nempty=\n");
  struct Case {
    const char* name;
    fs::path file;
    const char* section;
    const char* key;
    const char* def;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"missing file", dir_ / "none.ini", "S", "k", "dflt", "dflt"},
      {"missing folder", dir_ / "no" / "a.ini", "S", "k", "dflt", "dflt"},
      {"missing section", ini, "T", "k", "dflt", "dflt"},
      {"missing key", ini, "S", "x", "dflt", "dflt"},
      {"present key", ini, "S", "k", "dflt", "v"},
      {"empty value is a value", ini, "S", "empty", "dflt", ""},
      {"null default", ini, "S", "x", nullptr, ""},
      {"default loses trailing blanks", ini, "S", "x", " d \t ", " d"},
      {"default is cut too", ini, "S", "x", "0123456789", "0123"},
      {"folder instead of file", dir_, "S", "k", "dflt", "dflt"},
      {"FIFO instead of file (must not hang)", dir_ / "fifo", "S", "k", "dflt", "dflt"},
  };
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  for (const auto& c : cases) {
    size_t size = std::strcmp(c.name, "default is cut too") == 0 ? 5 : 127;
    EXPECT_EQ(get_private_profile_string(c.section, c.key, c.def, size, c.file), c.expected) << c.name;
  }
}

TEST_F(PrivateProfileTest, ListsKeysAndSections) {
  fs::path ini = copy_fixture("odd_lf.ini");
  EXPECT_EQ(get_private_profile_string("user information", nullptr, "", 3073, ini), "USERID\0PASSWORD\0"s);
  EXPECT_EQ(get_private_profile_string(nullptr, nullptr, "", 3073, ini), "User Information\0Windows\0"s);
  // A missing section lists nothing, whatever the default.
  EXPECT_EQ(get_private_profile_string("NSV POP List", nullptr, "dflt", 3073, ini), "");
  EXPECT_EQ(get_private_profile_string("NSV POP List", nullptr, "", 3073, dir_ / "none.ini"), "");

  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(get_private_profile_string("NSV POP List", nullptr, "", buffer, sizeof buffer, ini), 0u);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], '\0');
}

// Lists that do not fit: cut to size - 2 and closed by two NULs (what
// Windows does), never written past the buffer.
TEST_F(PrivateProfileTest, ListThatDoesNotFitIsCutAsWindowsDoes) {
  fs::path ini = dir_ / "pop.ini";
  put(ini, "[NSV POP List]\nabc=1\ndef=2\n");
  struct Case {
    size_t size;
    std::string chars;  // the counted characters
  };
  const std::vector<Case> cases = {
      {20, "abc\0def\0"s}, {9, "abc\0def\0"s}, {8, "abc\0de"s}, {6, "abc\0"s},
      {5, "abc"s},         {3, "a"s},          {2, ""s},         {1, ""s},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(get_private_profile_string("NSV POP List", nullptr, "", c.size, ini), c.chars) << c.size;
    std::vector<char> buffer(c.size + 4, '#');
    size_t n = get_private_profile_string("NSV POP List", nullptr, "", buffer.data(), c.size, ini);
    EXPECT_EQ(n, c.chars.size()) << c.size;
    EXPECT_EQ(std::string(buffer.data(), n), c.chars) << c.size;
    EXPECT_EQ(buffer[n], '\0') << c.size;
    if (n + 1 < c.size) {
      EXPECT_EQ(buffer[n + 1], '\0') << c.size;
    }
    for (size_t i = c.size; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], '#') << c.size << " at " << i;
  }
}

TEST_F(PrivateProfileTest, WriteCreatesFileSectionAndKey) {
  fs::path ini = dir_ / "test.ini";
  ASSERT_NE(write_private_profile_string("Section", "Key", "Value", ini), 0);
  EXPECT_EQ(slurp(ini), "[Section]\nKey=Value\n");
  EXPECT_EQ(get_private_profile_string("section", "key", "", 127, ini), "Value");
  ASSERT_NE(write_private_profile_string("Section", "Other", "", ini), 0);
  EXPECT_EQ(slurp(ini), "[Section]\nKey=Value\nOther=\n");
  // No temporary or stray file beside it, apart from the lock file.
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"test.ini", "test.ini.lock"}));
}

TEST_F(PrivateProfileTest, DeleteKeySectionAndFlush) {
  fs::path ini = dir_ / "TARK_NET.INI";
  put(ini, "[Keep]\na=1\n[NSV POP List]\np1=555\np2=556\n[Keep2]\nb=2\n");
  EXPECT_NE(write_private_profile_string("NSV POP List", "p1", nullptr, ini), 0);
  EXPECT_EQ(slurp(ini), "[Keep]\na=1\n[NSV POP List]\np2=556\n[Keep2]\nb=2\n");
  EXPECT_NE(write_private_profile_string("nsv pop list", nullptr, nullptr, ini), 0);
  EXPECT_EQ(slurp(ini), "[Keep]\na=1\n[Keep2]\nb=2\n");
  EXPECT_NE(write_private_profile_string(nullptr, nullptr, nullptr, ini), 0);
  // Deleting what is not there succeeds and changes nothing.
  EXPECT_NE(write_private_profile_string("Keep", "zz", nullptr, ini), 0);
  EXPECT_NE(write_private_profile_string("Gone", nullptr, nullptr, ini), 0);
  EXPECT_EQ(slurp(ini), "[Keep]\na=1\n[Keep2]\nb=2\n");
  // ... and never creates a missing file.
  EXPECT_NE(write_private_profile_string("S", "k", nullptr, dir_ / "none.ini"), 0);
  EXPECT_NE(write_private_profile_string("S", nullptr, nullptr, dir_ / "none.ini"), 0);
  EXPECT_FALSE(fs::exists(dir_ / "none.ini"));
}

TEST_F(PrivateProfileTest, FailedWritesSayZeroAndChangeNothing) {
  fs::path ini = dir_ / "a.ini";
  put(ini, "[S]\nk=v\n");
  struct Case {
    const char* name;
    const char* section;
    const char* key;
    const char* value;
    fs::path file;
  };
  const std::vector<Case> cases = {
      {"no section with a key", nullptr, "k", "v", ini},
      {"no section with a value", nullptr, nullptr, "v", ini},
      {"empty file name", "S", "k", "v", fs::path()},
      {"missing folder", "S", "k", "v", dir_ / "no" / "a.ini"},
      {"line break in value", "S", "k", "a\r\n[Injected]\r\nx=1", ini},
      {"equals in key", "S", "k=x", "v", ini},
      {"bracket in section", "S]", "k", "v", ini},
      {"folder as file", "S", "k", "v", dir_},
      {"FIFO as file", "S", "k", "v", dir_ / "fifo"},
  };
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  for (const auto& c : cases) {
    EXPECT_EQ(write_private_profile_string(c.section, c.key, c.value, c.file), 0) << c.name;
    EXPECT_EQ(slurp(ini), "[S]\nk=v\n") << c.name;
  }
  EXPECT_FALSE(fs::exists(dir_ / "no"));
}

// Lines the call does not name stay as they were, in order, CR LF included.
TEST_F(PrivateProfileTest, WritesKeepEveryOtherLineOfAForeignFile) {
  fs::path ini = copy_fixture("shared_crlf.ini");
  ASSERT_NE(write_private_profile_string("DIALING INFORMATION", "dial type", "0", ini), 0);
  ASSERT_NE(write_private_profile_string("Dialing Information", "Dial Blind", "1", ini), 0);
  ASSERT_NE(write_private_profile_string("Modem Information", "Port Name", "COM2", ini), 0);
  EXPECT_EQ(slurp(ini), slurp(fs::path(VLR_TEST_DATA_DIR) / "shared_crlf.after.ini"));
  EXPECT_EQ(get_private_profile_string("Dialing Information", "Dial Prefix", "", 260, ini), "9,");
  EXPECT_EQ(get_private_profile_string("PPU Price Info", "Note", "", 260, ini), "quoted");
}

TEST_F(PrivateProfileTest, OddFileReadsFirstOfDuplicatesAndKeepsTheRest) {
  fs::path ini = copy_fixture("odd_lf.ini");
  const std::string before = slurp(ini);
  EXPECT_EQ(get_private_profile_string("User Information", "USERID", "", 127, ini), "jdoe");
  EXPECT_EQ(get_private_profile_string("User Information", "LATER", "dflt", 127, ini), "dflt");
  EXPECT_EQ(get_private_profile_string("Windows", "Group", "", 199, ini), "Online");
  ASSERT_NE(write_private_profile_string("Windows", "Group", "Online", ini), 0);
  EXPECT_EQ(slurp(ini), before);  // same value: file untouched
  ASSERT_NE(write_private_profile_string("Windows", "Extra", "1", ini), 0);
  EXPECT_EQ(slurp(ini), before + "\nExtra=1");
  ASSERT_NE(write_private_profile_string("User Information", "USERID", "new", ini), 0);
  std::string expected = before + "\nExtra=1";
  expected.replace(expected.find("USERID=jdoe"), 11, "USERID=new");
  EXPECT_EQ(slurp(ini), expected);
}

TEST_F(PrivateProfileTest, MegabyteLineAndNulBytesReadAndSurviveAWrite) {
  fs::path ini = dir_ / "long.ini";
  const std::string text = "[S]\nlong=" + std::string(1 << 20, 'x') + "\nnul=a\0b\n\0\0junk\0\n"s + "k=v";
  put(ini, text);
  EXPECT_EQ(get_private_profile_string("S", "long", "", 127, ini), std::string(126, 'x'));
  EXPECT_EQ(get_private_profile_string("S", "nul", "", 127, ini), "a");
  EXPECT_EQ(get_private_profile_string("S", "k", "", 127, ini), "v");
  ASSERT_NE(write_private_profile_string("S", "k2", "w", ini), 0);
  EXPECT_EQ(slurp(ini), text + "\nk2=w");
}

TEST_F(PrivateProfileTest, FileAboveTheSizeLimitIsNeitherReadNorRewritten) {
  fs::path ini = dir_ / "huge.ini";
  put(ini, "[S]\nk=v\n");
  ASSERT_EQ(::truncate(ini.c_str(), static_cast<off_t>(common::kMaxIniFileSize) + 1), 0);
  EXPECT_EQ(get_private_profile_string("S", "k", "dflt", 127, ini), "dflt");
  EXPECT_EQ(write_private_profile_string("S", "k", "w", ini), 0);
  EXPECT_EQ(fs::file_size(ini), common::kMaxIniFileSize + 1);
  EXPECT_EQ(slurp(ini).substr(0, 8), "[S]\nk=v\n");
}

TEST_F(PrivateProfileTest, UnchangedFileIsParsedOnce) {
  fs::path ini = dir_ / "a.ini";
  put(ini, "[S]\nk=v\n");
  age(ini);
  auto before = common::ini_cache_stats();
  for (int i = 0; i < 100; ++i) ASSERT_EQ(get_private_profile_string("S", "k", "", 127, ini), "v");
  auto after = common::ini_cache_stats();
  EXPECT_EQ(after.parses - before.parses, 1u);
  EXPECT_EQ(after.hits - before.hits, 99u);
  EXPECT_EQ(after.verified - before.verified, 0u);
}

// A file changed within a timestamp tick of being cached is confirmed by its
// bytes (no parse) while it is that young.
TEST_F(PrivateProfileTest, YoungFileIsConfirmedByContentNotReparsed) {
  fs::path ini = dir_ / "a.ini";
  put(ini, "[S]\nk=v\n");
  auto before = common::ini_cache_stats();
  for (int i = 0; i < 10; ++i) ASSERT_EQ(get_private_profile_string("S", "k", "", 127, ini), "v");
  auto after = common::ini_cache_stats();
  EXPECT_EQ(after.parses - before.parses, 1u);
  EXPECT_EQ(after.verified - before.verified + after.hits - before.hits, 9u);
}

TEST_F(PrivateProfileTest, ChangesAreSeenWhateverTheWriter) {
  fs::path ini = dir_ / "a.ini";
  put(ini, "[S]\nk=1\n");
  age(ini);
  EXPECT_EQ(get_private_profile_string("S", "k", "", 127, ini), "1");
  // Through this module.
  ASSERT_NE(write_private_profile_string("S", "k", "2", ini), 0);
  EXPECT_EQ(get_private_profile_string("S", "k", "", 127, ini), "2");
  // Rewritten in place, same size, times set back to what they were: the
  // change time still tells.
  age(ini);
  EXPECT_EQ(get_private_profile_string("S", "k", "", 127, ini), "2");
  struct stat st {};
  ASSERT_EQ(::stat(ini.c_str(), &st), 0);
  {
    int fd = ::open(ini.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, "3", 1, 6), 1);
    ::close(fd);
  }
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, ini.c_str(), times, 0), 0);
  EXPECT_EQ(get_private_profile_string("S", "k", "", 127, ini), "3");
  // Removed: back to the default.
  fs::remove(ini);
  EXPECT_EQ(get_private_profile_string("S", "k", "gone", 127, ini), "gone");
}

TEST_F(PrivateProfileTest, AFolderInPlaceOfTheFileIsReportedOnceUntilItIsMended) {
  fs::path ini = dir_ / "Joinwiz.ini";
  fs::create_directories(ini);
  const fs::path log = dir_ / "log.txt";
  ASSERT_TRUE(platform::set_log_file(log.string()));
  for (int i = 0; i < 43; ++i) EXPECT_EQ(get_private_profile_string("User Information", "K", "d", 127, ini), "d");
  fs::remove(ini);
  put(ini, "[User Information]\nK=v\n");
  EXPECT_EQ(get_private_profile_string("User Information", "K", "d", 127, ini), "v");
  fs::remove(ini);
  fs::create_directories(ini);
  EXPECT_EQ(get_private_profile_string("User Information", "K", "d", 127, ini), "d");
  platform::set_log_file("");
  std::ifstream in(log);
  int warnings = 0;
  for (std::string line; std::getline(in, line);) warnings += line.rfind("WARN", 0) == 0 ? 1 : 0;
  EXPECT_EQ(warnings, 2) << "once, and once more after it was readable in between";
}

TEST_F(PrivateProfileTest, FileModes) {
  const auto owner_rw = fs::perms::owner_read | fs::perms::owner_write;
  fs::path created = dir_ / "Joinwiz.ini";
  ASSERT_NE(write_private_profile_string("User Information", "PASSWORD", "pw", created,
                                         platform::FileMode::OwnerOnly), 0);
  EXPECT_EQ(fs::status(created).permissions() & fs::perms::all, owner_rw);

  fs::path ini = dir_ / "secret.ini";
  put(ini, "[S]\nk=v\n");
  fs::permissions(ini, fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_NE(write_private_profile_string("S", "k", "w", ini), 0);
  EXPECT_EQ(fs::status(ini).permissions() & fs::perms::all, owner_rw);
}

TEST_F(PrivateProfileTest, UpdateAppliesSeveralEditsInOneReplacement) {
  fs::path ini = dir_ / "a.ini";
  put(ini, "[Other]\nx=1\n[Rec]\nold=1\n");
  ASSERT_TRUE(common::update_ini_file(ini, [](common::IniDocument& doc) {
    doc.remove_section("Rec");
    return doc.set("Rec", "a", "1") && doc.set("Rec", "b", "2");
  }));
  EXPECT_EQ(slurp(ini), "[Other]\nx=1\n\n[Rec]\na=1\nb=2\n");
  std::string error;
  EXPECT_FALSE(common::update_ini_file(ini, [](common::IniDocument& doc) {
    doc.set("Rec", "c", "3");
    return false;
  }, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(slurp(ini), "[Other]\nx=1\n\n[Rec]\na=1\nb=2\n");
}

// Threads of one process writing different keys of one file, with readers
// running alongside: every write is kept.
TEST_F(PrivateProfileTest, ThreadsWritingDifferentKeysLoseNothing) {
  fs::path ini = dir_ / "shared.ini";
  constexpr int kThreads = 4, kWrites = 50;
  auto key_of = [](int t, int i) { return std::string("t").append(std::to_string(t)).append("_").append(std::to_string(i)); };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kWrites; ++i) {
        std::string key = key_of(t, i);
        EXPECT_NE(write_private_profile_string("S", key.c_str(), std::to_string(i).c_str(), ini), 0);
        (void)get_private_profile_string("S", key.c_str(), "", 127, ini);
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kWrites; ++i) {
      std::string key = key_of(t, i);
      EXPECT_EQ(get_private_profile_string("S", key.c_str(), "lost", 127, ini), std::to_string(i)) << key;
    }
  }
}

// Two processes write different keys of one file 50 times each; no write
// may be lost. Without the lock, a lost write shows within a few dozen
// interleaved writes; each write costs two fsyncs, so more only slows CI.
TEST_F(PrivateProfileTest, TwoProcessesWritingDifferentKeysLoseNothing) {
  fs::path ini = dir_ / "TARK_NET.INI";
  constexpr int kWrites = 50;
  auto writer = [&](const char* section, const char* prefix) {
    for (int i = 0; i < kWrites; ++i) {
      std::string key = prefix + std::to_string(i);
      if (!write_private_profile_string(section, key.c_str(), std::to_string(i * 7).c_str(), ini)) return false;
    }
    return true;
  };
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(writer("Shared", "child") ? 0 : 1);
  EXPECT_TRUE(writer("Shared", "parent"));
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  common::IniDocument doc;
  ASSERT_TRUE(common::load_ini_file(ini, doc));
  EXPECT_EQ(doc.keys("Shared").size(), 2u * kWrites);
  int missing = 0;
  for (const char* prefix : {"child", "parent"}) {
    for (int i = 0; i < kWrites; ++i) {
      auto v = doc.get("Shared", prefix + std::to_string(i));
      if (v != std::to_string(i * 7)) ++missing;
    }
  }
  EXPECT_EQ(missing, 0);
}

}  // namespace

namespace {

// A write never goes through a link to its target (which may lie anywhere).
TEST_F(PrivateProfileTest, WriteReplacesALinkNotItsTarget) {
  fs::path target = dir_ / "target.ini";
  put(target, "[S]\nk=v\n");
  fs::path link = dir_ / "link.ini";
  fs::create_symlink(target, link);
  EXPECT_EQ(get_private_profile_string("S", "k", "", 127, link), "v");
  ASSERT_NE(write_private_profile_string("S", "k", "w", link), 0);
  EXPECT_FALSE(fs::is_symlink(link));
  EXPECT_EQ(slurp(link), "[S]\nk=w\n");
  EXPECT_EQ(slurp(target), "[S]\nk=v\n");
}

}  // namespace
