// Where the desktop's launchers go and what may be put there: the desktop
// folder as xdg-user-dir finds it, the user's menu folders from the
// base-directory variables, the programs that can run here, the short
// helpers run to their end, and the demand-dialing unit's refusals.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/shell/autodial.h"
#include "platform/shell/launcher.h"
#include "platform/shell/xdg_places.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Sets (or, with nullopt, unsets) a variable for the scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(XdgPlaces, DesktopFolderAsXdgUserDirFindsIt) {
  const test_support::TempDir temp("xdg_places");
  const fs::path home = temp.path();
  fs::create_directories(home / ".config");
  struct Case {
    const char* name;
    std::optional<std::string> variable;  // XDG_DESKTOP_DIR
    const char* user_dirs;                // user-dirs.dirs, nullptr: none
    fs::path want;
  } cases[] = {
      {"variable first", "/srv/desk", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n", "/srv/desk"},
      {"relative variable ignored", "desk", nullptr, home / "Desktop"},
      {"user-dirs under home", std::nullopt, "# comment\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n",
       home / "Schreibtisch"},
      {"user-dirs absolute", std::nullopt, "XDG_DESKTOP_DIR=\"/data/desk top\"\n", "/data/desk top"},
      {"user-dirs escaped quote", std::nullopt, "XDG_DESKTOP_DIR=\"$HOME/a\\\"b\"\n", home / "a\"b"},
      {"other keys only", std::nullopt, "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n", home / "Desktop"},
      {"unclosed quote", std::nullopt, "XDG_DESKTOP_DIR=\"$HOME/x\n", home / "Desktop"},
      {"nothing", std::nullopt, nullptr, home / "Desktop"},
  };
  ScopedEnv h("HOME", home.string());
  ScopedEnv c("XDG_CONFIG_HOME", std::nullopt);
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    ScopedEnv d("XDG_DESKTOP_DIR", tc.variable);
    fs::remove(home / ".config" / "user-dirs.dirs");
    if (tc.user_dirs) std::ofstream(home / ".config" / "user-dirs.dirs") << tc.user_dirs;
    EXPECT_EQ(platform::xdg::desktop_dir(), tc.want);
  }
}

TEST(XdgPlaces, MenuFoldersFollowTheVariables) {
  ScopedEnv h("HOME", "/home/u");
  {
    ScopedEnv d("XDG_DATA_HOME", "/t/data");
    ScopedEnv c("XDG_CONFIG_HOME", "/t/config");
    const auto places = platform::xdg::user_menu_places();
    EXPECT_EQ(places.applications, "/t/data/applications");
    EXPECT_EQ(places.directories, "/t/data/desktop-directories");
    EXPECT_EQ(places.merged_menus, "/t/config/menus/applications-merged");
  }
  ScopedEnv d("XDG_DATA_HOME", std::nullopt);
  ScopedEnv c("XDG_CONFIG_HOME", "relative");
  const auto places = platform::xdg::user_menu_places();
  EXPECT_EQ(places.applications, "/home/u/.local/share/applications");
  EXPECT_EQ(places.merged_menus, "/home/u/.config/menus/applications-merged");
}

TEST(AutodialUnit, RefusesWhatCannotBeAUnitLine) {
  namespace ad = platform::autodial;
  auto text = ad::AutodialUnitText("Tarkel - 100% Account", "tarkel-100-account", "/usr/sbin/pppd");
  ASSERT_TRUE(text);
  EXPECT_NE(text->find("Description=Dial-up on demand: Tarkel - 100%% Account\n"), std::string::npos) << *text;
  EXPECT_NE(text->find("\nExecStart=/usr/sbin/pppd call tarkel-100-account nodetach demand idle "), std::string::npos);
  EXPECT_FALSE(ad::AutodialUnitText("x", "bad name", "/usr/sbin/pppd"));
  EXPECT_FALSE(ad::AutodialUnitText("x", "", "/usr/sbin/pppd"));
  EXPECT_FALSE(ad::AutodialUnitText("x", "x", "pppd"));
  EXPECT_FALSE(ad::AutodialUnitText("x", "x", "/opt/my ppp/pppd"));
  EXPECT_EQ(ad::AutodialUnitName("tarkel-veloran-account"), "veloran-autodial-tarkel-veloran-account.service");
}

}  // namespace

namespace {

TEST(RunProgram, CollectsOutputAndExitStatus) {
  std::string output;
  EXPECT_EQ(platform::run_program({"/bin/sh", "-c", "echo out; echo err >&2; read x || exit 3"}, &output), 3)
      << "standard input is empty";
  EXPECT_EQ(output, "out\nerr\n");
  EXPECT_EQ(platform::run_program({"/nonexistent/program"}), -1);
}

TEST(RunnableProgram, NamesWhatCannotRunHere) {
  const test_support::TempDir temp("runnable");
  const fs::path dir = temp.path();
  std::ofstream(dir / "app.exe") << "MZ\x90";
  std::ofstream(dir / "tool") << "#!/bin/sh\n";
  std::ofstream(dir / "notes") << "text";
  fs::permissions(dir / "app.exe", fs::perms::owner_all);
  fs::permissions(dir / "tool", fs::perms::owner_all);
  struct Case {
    std::string program;
    bool runs;
    const char* why;
  } cases[] = {
      {(dir / "tool").string(), true, ""},
      {(dir / "app.exe").string(), false, "is a Windows program"},
      {(dir / "notes").string(), false, "is not executable"},
      {(dir / "missing").string(), false, "does not exist"},
      {"sh", true, ""},
      {"no-such-program-here", false, "is not installed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    std::string why;
    EXPECT_EQ(!platform::runnable_program(c.program, &why).empty(), c.runs);
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
  }
}

}  // namespace
