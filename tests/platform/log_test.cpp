// The one logger: its level threshold, its file, and the environment that
// sets both when a program starts.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/loop/log.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using platform::LogLevel;

std::string slurp(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void log_every_level(const std::string& tag) {
  platform::log_error("t", "error " + tag);
  platform::log_warn("t", "warn " + tag);
  platform::log_info("t", "info " + tag);
  platform::log_debug("t", "debug " + tag);
}

class LogTest : public ::testing::Test {
 protected:
  void TearDown() override {
    platform::set_log_file("");
    platform::set_log_level(LogLevel::Warn);
  }
  test_support::TempDir temp_{"vlr-log"};
  const fs::path dir_ = temp_.path();
};

TEST_F(LogTest, ControlBytesFromOutsideReachNoTerminalAndTheFileIsOwnerOnly) {
  const fs::path file = dir_ / "printable.log";
  ::umask(022);
  ASSERT_TRUE(platform::set_log_file(file.string()));
  platform::log_warn("t", "name \x1b]0;owned\x07\x1b[2J end");
  platform::log_warn("t\x1b[1m", "csi \x9b" "1m, a line\nbreak, utf-8 caf\xc3\xa9, C1 \xc2\x9b, cut \xc3");
  platform::set_log_file("");
  EXPECT_EQ(slurp(file),
            "WARN t: name \\x1B]0;owned\\x07\\x1B[2J end\n"
            "WARN t\\x1B[1m: csi \\x9B1m, a line\\x0Abreak, utf-8 caf\xc3\xa9, C1 \\xC2\\x9B, cut \\xC3\n");
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "a debug trace may name the account";
}

TEST_F(LogTest, ThresholdKeepsLevelsUpToIt) {
  const fs::path file = dir_ / "levels.log";
  ASSERT_TRUE(platform::set_log_file(file.string()));
  struct Case {
    LogLevel level;
    const char* tag;
    const char* lines;
  } cases[] = {
      {LogLevel::Error, "e", "ERROR t: error e\n"},
      {LogLevel::Warn, "w", "ERROR t: error w\nWARN t: warn w\n"},
      {LogLevel::Info, "i", "ERROR t: error i\nWARN t: warn i\nINFO t: info i\n"},
      {LogLevel::Debug, "d", "ERROR t: error d\nWARN t: warn d\nINFO t: info d\nDEBUG t: debug d\n"},
  };
  std::string want;
  for (const Case& c : cases) {
    platform::set_log_level(c.level);
    EXPECT_TRUE(platform::log_enabled(c.level));
    EXPECT_EQ(platform::log_enabled(LogLevel::Debug), c.level == LogLevel::Debug);
    log_every_level(c.tag);
    want += c.lines;
  }
  EXPECT_EQ(slurp(file), want);
}

TEST_F(LogTest, FileThatCannotBeOpenedKeepsTheOldDestination) {
  const fs::path file = dir_ / "kept.log";
  ASSERT_TRUE(platform::set_log_file(file.string()));
  platform::log_warn("t", "before");
  EXPECT_FALSE(platform::set_log_file((dir_ / "no" / "such" / "folder.log").string()));
  EXPECT_FALSE(platform::set_log_file(dir_.string()));  // a folder
  platform::log_warn("t", "after");
  EXPECT_EQ(slurp(file), "WARN t: before\nWARN t: after\n");
  // Appended, never truncated, when set again.
  ASSERT_TRUE(platform::set_log_file(file.string()));
  platform::log_warn("t", "again");
  EXPECT_EQ(slurp(file), "WARN t: before\nWARN t: after\nWARN t: again\n");
}

// A library inside another program: quiet on standard error until a file
// is named (set_log_file, or VLR_LOG at start).
TEST_F(LogTest, QuietDropsLinesUntilAFileIsNamed) {
  const fs::path err = dir_ / "stderr", file = dir_ / "quiet.log";
  std::fflush(stderr);
  const int saved = ::dup(STDERR_FILENO);
  const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ::dup2(fd, STDERR_FILENO);
  ::close(fd);
  platform::set_log_quiet();
  platform::log_error("t", "dropped");
  ASSERT_TRUE(platform::set_log_file(file.string()));
  platform::log_warn("t", "kept");
  ASSERT_TRUE(platform::set_log_file(""));
  platform::log_warn("t", "on standard error again");
  std::fflush(stderr);
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  EXPECT_EQ(slurp(file), "WARN t: kept\n");
  EXPECT_EQ(slurp(err), "WARN t: on standard error again\n");
}

// Run only as a child of the test below, in a fresh process whose logger
// starts from VLR_LOG and VLR_LOG_LEVEL.
TEST(DISABLED_LogChild, LogsEveryLevel) { log_every_level("child"); }

// Starts this test program again with the environment given; returns its
// exit status.
int run_child(const std::vector<std::string>& env_extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string v(*e);
    if (v.rfind("VLR_LOG", 0) != 0) env.push_back(v);
  }
  env.insert(env.end(), env_extra.begin(), env_extra.end());
  std::vector<char*> envp;
  for (auto& v : env) envp.push_back(v.data());
  envp.push_back(nullptr);
  std::string exe = "/proc/self/exe", filter = "--gtest_filter=DISABLED_LogChild.*", also = "--gtest_also_run_disabled_tests";
  char* argv[] = {exe.data(), filter.data(), also.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return status;
}

TEST_F(LogTest, EnvironmentNamesTheFileAndTheLevel) {
  struct Case {
    const char* level;  // nullptr: not set
    const char* lines;
  } cases[] = {
      {nullptr, "ERROR t: error child\nWARN t: warn child\n"},  // warn by default
      {"error", "ERROR t: error child\n"},
      {"info", "ERROR t: error child\nWARN t: warn child\nINFO t: info child\n"},
      {"debug", "ERROR t: error child\nWARN t: warn child\nINFO t: info child\nDEBUG t: debug child\n"},
      {"loud", "ERROR t: error child\nWARN t: warn child\n"},  // unknown: the default
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level ? c.level : "(unset)");
    const fs::path file = dir_ / (std::string("env-") + (c.level ? c.level : "unset") + ".log");
    std::vector<std::string> env = {"VLR_LOG=" + file.string()};
    if (c.level) env.push_back(std::string("VLR_LOG_LEVEL=") + c.level);
    int status = run_child(env);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(slurp(file), c.lines);
  }
}

}  // namespace
