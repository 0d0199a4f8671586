#include "platform/storage/files.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "platform/storage/system_root.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class FilesTest : public ::testing::Test {
 protected:
  // Every entry of the test folder, sorted.
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  static mode_t mode_of(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0);
    return st.st_mode & 07777;
  }
  test_support::TempDir temp_{"vlr_files"};
  const fs::path dir_ = temp_.path();
};

TEST_F(FilesTest, ReplaceCreatesThenReplacesWithoutLeavingTemporaries) {
  fs::path p = dir_ / "a.ini";
  std::string err;
  ASSERT_TRUE(platform::replace_file(p, "first\n", platform::FileMode::Shared, &err)) << err;
  std::string text;
  ASSERT_TRUE(platform::read_file(p, text, &err)) << err;
  EXPECT_EQ(text, "first\n");
  ASSERT_TRUE(platform::replace_file(p, std::string("se\0cond", 7), platform::FileMode::Shared, &err)) << err;
  ASSERT_TRUE(platform::read_file(p, text, &err)) << err;
  EXPECT_EQ(text, std::string("se\0cond", 7));
  EXPECT_EQ(entries(), std::vector<std::string>{"a.ini"});
}

TEST_F(FilesTest, SharedFilesKeepTheirModeAndPasswordFilesEndOwnerOnly) {
  mode_t old_umask = ::umask(022);
  fs::path secret = dir_ / "secret";
  ASSERT_TRUE(platform::replace_file(secret, "pw", platform::FileMode::OwnerOnly));
  EXPECT_EQ(mode_of(secret), 0600u);
  fs::path shared = dir_ / "shared";
  ASSERT_TRUE(platform::replace_file(shared, "x", platform::FileMode::Shared));
  EXPECT_EQ(mode_of(shared), 0644u);

  // A shared write keeps whatever mode the file has.
  ASSERT_EQ(::chmod(shared.c_str(), 0640), 0);
  ASSERT_TRUE(platform::replace_file(shared, "y", platform::FileMode::Shared));
  EXPECT_EQ(mode_of(shared), 0640u);
  ASSERT_TRUE(platform::replace_file(secret, "pw2", platform::FileMode::Shared));
  EXPECT_EQ(mode_of(secret), 0600u);
  // A password written into a file others could read leaves it owner-only.
  for (mode_t before : {0644u, 0666u, 0640u, 0604u}) {
    ASSERT_EQ(::chmod(shared.c_str(), before), 0);
    const std::uint64_t writes = platform::replace_file_count();
    ASSERT_TRUE(platform::replace_file(shared, "PASSWORD=pw", platform::FileMode::OwnerOnly));
    EXPECT_EQ(mode_of(shared), 0600u) << std::oct << before;
    EXPECT_EQ(platform::replace_file_count(), writes + 1);
  }
  ::umask(old_umask);
}

TEST_F(FilesTest, FailureLeavesOldFileAndNoTemporary) {
  if (::geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
  fs::path p = dir_ / "a.ini";
  ASSERT_TRUE(platform::replace_file(p, "old"));
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  std::string err;
  EXPECT_FALSE(platform::replace_file(p, "new", platform::FileMode::Shared, &err));
  EXPECT_NE(err.find("a.ini"), std::string::npos) << err;
  fs::permissions(dir_, fs::perms::owner_all);
  std::string text;
  ASSERT_TRUE(platform::read_file(p, text));
  EXPECT_EQ(text, "old");
  EXPECT_EQ(entries(), std::vector<std::string>{"a.ini"});
}

// The rename only needs the folder: a file the user may not write (read-only,
// or another user's) must still not be replaced, whatever mode the write
// asks for. Run as an ordinary user, in a folder that user owns.
TEST_F(FilesTest, AFileTheUserMayNotWriteIsNotReplaced) {
  struct Case {
    const char* name;
    mode_t mode;
    bool root_owned;
    platform::FileMode write_mode;
  } const cases[] = {
      {"read-only.ini", 0444, false, platform::FileMode::Shared},
      {"owner-read.ini", 0400, false, platform::FileMode::OwnerOnly},
      {"hook", 0555, false, platform::FileMode::Executable},
      {"roots.ini", 0644, true, platform::FileMode::Shared},
  };
  for (const Case& c : cases) ASSERT_TRUE(platform::replace_file(dir_ / c.name, "old"));
  auto outcome = test_support::run_as_fresh_user(dir_, [&] {
    std::string out;
    for (const Case& c : cases) {
      std::string err;
      const bool ok = platform::replace_file(dir_ / c.name, "new", c.write_mode, &err);
      out += std::string(c.name) + (ok ? " replaced" : " refused: " + err) + "\n";
    }
    std::string err;
    out += platform::replace_file(dir_ / "writable.ini", "new", platform::FileMode::Shared, &err) ? "writable.ini replaced\n" : err;
    return out;
  }, [&] {
    for (const Case& c : cases) {
      if (c.root_owned && ::chown((dir_ / c.name).c_str(), 0, 0) != 0) return false;
      if (::chmod((dir_ / c.name).c_str(), c.mode) != 0) return false;
    }
    return true;
  });
  if (!outcome) GTEST_SKIP() << "needs root to become another user";
  std::string expected;
  for (const Case& c : cases)
    expected += std::string(c.name) + " refused: cannot replace " + (dir_ / c.name).string() + ": Permission denied\n";
  EXPECT_EQ(*outcome, expected + "writable.ini replaced\n");
  for (const Case& c : cases) {
    std::string text;
    ASSERT_TRUE(platform::read_file(dir_ / c.name, text));
    EXPECT_EQ(text, "old") << c.name;
    EXPECT_EQ(mode_of(dir_ / c.name), c.mode) << c.name;
  }
  std::vector<std::string> names = {"hook", "owner-read.ini", "read-only.ini", "roots.ini", "writable.ini"};
  EXPECT_EQ(entries(), names);
}

// A write that fails half-way (file size limit) must leave the old file and
// no temporary. Run in a child so the limit does not touch the test process.
TEST_F(FilesTest, FailedWriteLeavesOldFileAndNoTemporary) {
  fs::path p = dir_ / "a.ini";
  ASSERT_TRUE(platform::replace_file(p, "old"));
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim {16, 16};
    if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) ::_exit(2);
    std::string err;
    bool ok = platform::replace_file(p, std::string(4096, 'n'), platform::FileMode::Shared, &err);
    ::_exit(!ok && err.find("cannot write") != std::string::npos ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::string text;
  ASSERT_TRUE(platform::read_file(p, text));
  EXPECT_EQ(text, "old");
  EXPECT_EQ(entries(), std::vector<std::string>{"a.ini"});
}

TEST_F(FilesTest, UmaskZeroGivesFoldersAndFilesTheirOwnModes) {
  const mode_t old = ::umask(0);
  std::string err;
  const bool made = platform::make_folders(dir_ / "a" / "b", platform::FileMode::Shared, &err) &&
                    platform::make_folders(dir_ / "secret", platform::FileMode::OwnerOnly, &err) &&
                    platform::replace_file(dir_ / "a" / "b" / "f", "x", platform::FileMode::Shared, &err) &&
                    platform::replace_file(dir_ / "a" / "h", "x", platform::FileMode::Executable, &err);
  ::umask(old);
  ASSERT_TRUE(made) << err;
  EXPECT_EQ(mode_of(dir_ / "a"), 0755u);
  EXPECT_EQ(mode_of(dir_ / "a" / "b"), 0755u);
  EXPECT_EQ(mode_of(dir_ / "secret"), 0700u);
  EXPECT_EQ(mode_of(dir_ / "a" / "b" / "f"), 0644u);
  EXPECT_EQ(mode_of(dir_ / "a" / "h"), 0755u);
}

TEST_F(FilesTest, StaleTemporaryFilesOfDeadWritersAreRemoved) {
  // A writer killed between creating its temporary file and the rename.
  std::string dead_pid = "4194303";  // above the default pid_max: never running
  const std::string stale = ".Joinwiz.ini.tmp." + dead_pid + ".3.0badc0de";
  const std::string alive = ".Joinwiz.ini.tmp." + std::to_string(::getppid()) + ".0.12345678";
  for (const std::string& name : {stale, alive, std::string(".notes.tmp.old"), std::string("Joinwiz.ini")}) {
    std::ofstream(dir_ / name) << "x";
  }
  EXPECT_EQ(platform::remove_stale_temp_files(dir_), 1);
  EXPECT_EQ(entries(), (std::vector<std::string>{alive, ".notes.tmp.old", "Joinwiz.ini"}));
}

TEST_F(FilesTest, AFolderOfTheRootThatIsALinkIsNotWrittenThrough) {
  platform::ScopedSystemRoot root;
  const fs::path elsewhere = dir_ / "elsewhere";
  fs::create_directories(elsewhere);
  fs::create_directory_symlink(elsewhere, root.path() / "registry");
  std::string err;
  EXPECT_FALSE(platform::replace_file(root.path() / "registry" / "hive.reg", "x", platform::FileMode::OwnerOnly, &err));
  EXPECT_NE(err.find("symbolic link"), std::string::npos) << err;
  platform::FileLock lock(root.path() / "registry" / "hive.reg");
  EXPECT_FALSE(lock.locked());
  EXPECT_TRUE(fs::is_empty(elsewhere)) << "not even a lock file";
  // Outside the root nothing is judged: a link the user made is theirs.
  fs::create_directory_symlink(elsewhere, dir_ / "mine");
  EXPECT_TRUE(platform::replace_file(dir_ / "mine" / "f", "x", platform::FileMode::Shared, &err)) << err;
}

TEST_F(FilesTest, ReplaceRefusesAFolderAndAMissingFolder) {
  fs::create_directory(dir_ / "sub");
  std::string err;
  EXPECT_FALSE(platform::replace_file(dir_ / "sub", "x", platform::FileMode::Shared, &err));
  EXPECT_FALSE(err.empty());
  err.clear();
  EXPECT_FALSE(platform::replace_file(dir_ / "nope" / "a.ini", "x", platform::FileMode::Shared, &err));
  EXPECT_NE(err.find("temporary"), std::string::npos) << err;
}

TEST_F(FilesTest, ReadTellsMissingFromUnreadable) {
  std::string text = "kept";
  std::string err;
  bool missing = false;
  EXPECT_FALSE(platform::read_file(dir_ / "none", text, &err, &missing));
  EXPECT_TRUE(missing);
  EXPECT_EQ(text, "kept");
  EXPECT_FALSE(platform::read_file(dir_, text, &err, &missing));
  EXPECT_FALSE(missing);
  EXPECT_FALSE(err.empty());
}

TEST_F(FilesTest, LockIsOnASeparateFileAndExcludesOtherHolders) {
  fs::path p = dir_ / "a.ini";
  {
    platform::FileLock lock(p);
    ASSERT_TRUE(lock.locked()) << lock.error();
    EXPECT_TRUE(fs::exists(dir_ / "a.ini.lock"));
    // A second open file description cannot take the lock while we hold it.
    int fd = ::open((dir_ / "a.ini.lock").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    // The lock survives replacement of the data file.
    ASSERT_TRUE(platform::replace_file(p, "x"));
    EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
  }
  int fd = ::open((dir_ / "a.ini.lock").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
}

TEST_F(FilesTest, LockInMissingFolderReportsError) {
  platform::FileLock lock(dir_ / "nope" / "a.ini");
  EXPECT_FALSE(lock.locked());
  EXPECT_NE(lock.error().find("a.ini.lock"), std::string::npos) << lock.error();
}

// Two processes append a line each under the lock, read-modify-write, many
// times: every line must be there in the end.
TEST_F(FilesTest, LockedReadModifyWriteLosesNothingAcrossProcesses) {
  fs::path p = dir_ / "count.txt";
  ASSERT_TRUE(platform::replace_file(p, ""));
  constexpr int kRounds = 200;
  auto work = [&](char tag) {
    for (int i = 0; i < kRounds; ++i) {
      platform::FileLock lock(p);
      if (!lock.locked()) return false;
      std::string text;
      if (!platform::read_file(p, text)) return false;
      text += tag;
      if (!platform::replace_file(p, text)) return false;
    }
    return true;
  };
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(work('b') ? 0 : 1);
  EXPECT_TRUE(work('a'));
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::string text;
  ASSERT_TRUE(platform::read_file(p, text));
  EXPECT_EQ(std::count(text.begin(), text.end(), 'a'), kRounds);
  EXPECT_EQ(std::count(text.begin(), text.end(), 'b'), kRounds);
}

}  // namespace
