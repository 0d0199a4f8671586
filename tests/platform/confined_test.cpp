// Confinement: opens beneath a folder refuse links and escapes, with openat2
// and with the component walk alike; files for passwords are owner-only.
#include "platform/storage/confined.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/storage/system_root.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string read_fd(int fd) {
  std::string out;
  char buf[256];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
  return out;
}

const char* method_name(ConfineMethod m) {
  return m == ConfineMethod::Walk ? "Walk" : m == ConfineMethod::Openat2 ? "Openat2" : "Auto";
}

// Every case runs with each mechanism.
class Confined : public ::testing::TestWithParam<ConfineMethod> {
 protected:
  void SetUp() override {
    if (GetParam() == ConfineMethod::Openat2 && !openat2_available()) {
      GTEST_SKIP() << "openat2 is not available on this kernel";
    }
    set_confine_method(GetParam());
    base_ = known_folder(KnownFolder::Program);
    outside_ = outside_root_.path();
    std::ofstream(outside_ / "secret") << "outside";
    std::ofstream(base_ / "inside.txt") << "inside";
    fs::create_directories(base_ / "sub");
  }
  void TearDown() override { set_confine_method(ConfineMethod::Auto); }

  ScopedSystemRoot outside_root_;  // a folder that is not beneath the root below
  ScopedSystemRoot root_;          // constructed second: the current root
  fs::path base_;
  fs::path outside_;
};

TEST_P(Confined, OpensAndCreatesBeneath) {
  OpenResult r = open_beneath(base_, "inside.txt", O_RDONLY);
  ASSERT_TRUE(r) << r.error;
  EXPECT_EQ(read_fd(r.fd.get()), "inside");

  r = open_beneath(base_, "sub/new.txt", O_WRONLY | O_CREAT | O_EXCL);
  ASSERT_TRUE(r) << r.error;
  ASSERT_EQ(::write(r.fd.get(), "x", 1), 1);
  EXPECT_EQ(slurp(base_ / "sub/new.txt"), "x");
}

TEST_P(Confined, RefusesLinksAndEscapes) {
  fs::create_directory_symlink(outside_, base_ / "out_dir");
  fs::create_symlink(outside_ / "secret", base_ / "out_file");
  fs::create_symlink(outside_ / "not_there", base_ / "dangling");
  fs::create_symlink("inside.txt", base_ / "in_link");

  struct Case {
    const char* name;
    const char* relative;
    int flags;
    int expected_errno;
    const char* reason;
  } cases[] = {
      {"folder link pointing out", "out_dir/secret", O_RDONLY, ELOOP, "symbolic link"},
      {"create through folder link", "out_dir/planted", O_WRONLY | O_CREAT, ELOOP,
       "symbolic link"},
      {"file link pointing out", "out_file", O_RDONLY, ELOOP, "symbolic link"},
      {"write through file link", "out_file", O_WRONLY | O_TRUNC, ELOOP, "symbolic link"},
      {"create through dangling link", "dangling", O_WRONLY | O_CREAT, ELOOP, "symbolic link"},
      {"link that stays inside", "in_link", O_RDONLY, ELOOP, "symbolic link"},
      {"O_PATH on a link", "out_file", O_PATH, ELOOP, "symbolic link"},
      {"parent", "../inside.txt", O_RDONLY, EINVAL, "relative path"},
      {"inner parent", "sub/../../x", O_RDONLY, EINVAL, "relative path"},
      {"absolute", "/etc/passwd", O_RDONLY, EINVAL, "relative path"},
      {"empty", "", O_RDONLY, EINVAL, "relative path"},
      {"missing", "sub/none.txt", O_RDONLY, ENOENT, "does not exist"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " / " + method_name(GetParam()));
    OpenResult r = open_beneath(base_, c.relative, c.flags);
    EXPECT_FALSE(r);
    EXPECT_EQ(r.errno_value, c.expected_errno) << r.error;
    EXPECT_NE(r.error.find(c.reason), std::string::npos) << r.error;
  }
  // Nothing was written outside, and the outside file is untouched.
  EXPECT_FALSE(fs::exists(outside_ / "planted"));
  EXPECT_FALSE(fs::exists(outside_ / "not_there"));
  EXPECT_EQ(slurp(outside_ / "secret"), "outside");
}

TEST_P(Confined, ServerNameThroughPlantedLinkIsRefused) {
  fs::create_directory_symlink(outside_, base_ / "DATA");
  RootPath p = translate_path("data\\x.ini");
  ASSERT_TRUE(p) << p.error;
  EXPECT_EQ(p.relative, "drive_c/veloran/DATA/x.ini");
  OpenResult r = open_translated(p, O_WRONLY | O_CREAT | O_APPEND);
  EXPECT_FALSE(r);
  EXPECT_EQ(r.errno_value, ELOOP) << r.error;
  std::string error;
  EXPECT_FALSE(check_translated(p, &error));
  EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(outside_ / "x.ini"));
}

TEST_P(Confined, DriveLinkedOutIsRefused) {
  // The root's own drive_c replaced by a link: every server name is refused.
  fs::remove_all(root_.path() / "drive_c");
  fs::create_directory_symlink(outside_, root_.path() / "drive_c");
  OpenResult r = open_beneath(root_.path(), "drive_c/secret", O_RDONLY);
  EXPECT_FALSE(r);
  EXPECT_EQ(r.errno_value, ELOOP) << r.error;
}

TEST_P(Confined, MakeDirsRefusesLinks) {
  fs::create_directory_symlink(outside_, base_ / "out_dir");
  std::string error;
  EXPECT_TRUE(make_dirs_beneath(base_, "a/b/c", FileMode::Shared, &error)) << error;
  EXPECT_TRUE(fs::is_directory(base_ / "a/b/c"));
  EXPECT_FALSE(make_dirs_beneath(base_, "out_dir/made", FileMode::Shared, &error));
  EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(outside_ / "made"));
}

TEST_P(Confined, CheckBeneathForPathWriters) {
  fs::create_symlink(outside_ / "secret", base_ / "link.ini");
  std::string error;
  EXPECT_TRUE(check_beneath(base_, "inside.txt", &error)) << error;
  EXPECT_TRUE(check_beneath(base_, "sub/new.ini", &error)) << error;  // may be created
  EXPECT_FALSE(check_beneath(base_, "link.ini", &error));
  EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
  EXPECT_FALSE(check_beneath(base_, "sub", &error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  EXPECT_FALSE(check_beneath(base_, "none/x.ini", &error));
  EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
}

TEST_P(Confined, OwnerOnlyFilesAreCreatedAt0600) {
  mode_t old_mask = ::umask(0);  // the mode must not depend on a tight umask
  OpenResult secret = open_beneath(base_, "pap-secrets", O_WRONLY | O_CREAT | O_EXCL,
                                   FileMode::OwnerOnly);
  OpenResult shared = open_beneath(base_, "shared.ini", O_WRONLY | O_CREAT | O_EXCL);
  ::umask(old_mask);
  ASSERT_TRUE(secret) << secret.error;
  ASSERT_TRUE(shared) << shared.error;
  struct stat st;
  ASSERT_EQ(::fstat(secret.fd.get(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::fstat(shared.fd.get(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_P(Confined, ReplaceTranslatedKeepsPasswordsPrivate) {
  mode_t old_mask = ::umask(0);
  std::string error;
  bool secret = replace_translated(translate_path("SECRETS.TXT"), "user pass\n",
                                   FileMode::OwnerOnly, &error);
  bool shared = replace_translated(translate_path("PLAIN.TXT"), "x\n", FileMode::Shared, &error);
  ::umask(old_mask);
  ASSERT_TRUE(secret) << error;
  ASSERT_TRUE(shared) << error;
  struct stat st;
  ASSERT_EQ(::stat((base_ / "SECRETS.TXT").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat((base_ / "PLAIN.TXT").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_EQ(slurp(base_ / "SECRETS.TXT"), "user pass\n");

  // Through a link pointing out: refused, nothing written outside.
  fs::create_symlink(outside_ / "secret", base_ / "LINKED.TXT");
  EXPECT_FALSE(replace_translated(translate_path("linked.txt"), "evil", FileMode::Shared, &error));
  EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
  EXPECT_EQ(slurp(outside_ / "secret"), "outside");
  EXPECT_FALSE(replace_translated(translate_path("..\\x"), "evil", FileMode::Shared, &error));
  EXPECT_NE(error.find("refused"), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Methods, Confined,
                         ::testing::Values(ConfineMethod::Openat2, ConfineMethod::Walk,
                                           ConfineMethod::Auto),
                         [](const auto& info) { return std::string(method_name(info.param)); });

// Makes openat2 answer ENOSYS in this process, as an old kernel would.
bool hide_openat2() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog prog{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) == 0;
}

// In a child process: openat2 known present, then it vanishes; Auto falls
// back to the walk on its first ENOSYS and keeps the rule.
bool fallback_checks() {
  ScopedSystemRoot root;
  fs::path base = known_folder(KnownFolder::Program);
  std::ofstream(base / "inside.txt") << "inside";
  fs::create_symlink("/etc/passwd", base / "out");
  bool ok = openat2_available();
  ok = ok && hide_openat2();
  set_confine_method(ConfineMethod::Openat2);
  OpenResult forced = open_beneath(base, "inside.txt", O_RDONLY);
  ok = ok && !forced && forced.errno_value == ENOSYS;
  set_confine_method(ConfineMethod::Auto);
  ok = ok && open_beneath(base, "inside.txt", O_RDONLY);
  ok = ok && !openat2_available();
  OpenResult link = open_beneath(base, "out", O_RDONLY);
  ok = ok && !link && link.errno_value == ELOOP;
  return ok;  // the temporary root is removed here
}

void fallback_child() { std::_Exit(fallback_checks() ? 0 : 1); }

TEST(ConfinedFallback, MissingOpenat2FallsBackToTheWalk) {
  if (!openat2_available()) GTEST_SKIP() << "openat2 is missing already; the walk is tested above";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(fallback_child(), ::testing::ExitedWithCode(0), "");
}

TEST(ConfinedFd, MovesAndCloses) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[1]);
  {
    UniqueFd a(fds[0]);
    UniqueFd b(std::move(a));
    EXPECT_FALSE(a.valid());
    EXPECT_EQ(b.get(), fds[0]);
    a = std::move(b);
    EXPECT_EQ(a.get(), fds[0]);
  }
  EXPECT_EQ(::fcntl(fds[0], F_GETFD), -1);  // closed once, by its last owner
}

}  // namespace
}  // namespace platform
