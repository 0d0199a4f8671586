#include "wizard/command_line.h"

#include <gtest/gtest.h>

namespace wizard {
namespace {

struct CashCase {
  const char* name;
  std::vector<std::string> args;
  bool cash;
};

TEST(CommandLine, CashIsLookedForOnlyInWhatOurOptionsLeave) {
  const CashCase cases[] = {
      {"alone", {"-c"}, true},
      {"inside a longer text", {"foo", "bar-cx"}, true},
      {"after our options", {"--root", "/tmp/r", "-c"}, true},
      {"in the root path", {"--root", "/tmp/a-c"}, false},
      {"in the root path, joined form", {"--root=/tmp/a-c"}, false},
      {"in the answers and transcript", {"--answers", "x-c.txt", "--transcript", "t-c"}, false},
      {"upper case is not it", {"-C"}, false},
      {"nothing", {}, false},
  };
  for (const auto& c : cases) {
    ParseResult r = parse_command_line(c.args);
    ASSERT_TRUE(r.ok) << c.name << ": " << r.error;
    EXPECT_EQ(r.line.cash, c.cash) << c.name;
  }
}

TEST(CommandLine, ReadsOurOptions) {
  ParseResult r = parse_command_line({"--root", "R", "--ui", "headless", "--answers", "A",
                                      "--transcript=T", "-c"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(*r.line.root, "R");
  EXPECT_EQ(r.line.ui, UiKind::Headless);
  EXPECT_EQ(*r.line.answers, "A");
  EXPECT_EQ(*r.line.transcript, "T");
  EXPECT_EQ(r.line.remaining, "-c");
  EXPECT_FALSE(r.line.help);
}

TEST(CommandLine, TheDesktopDisplayTakesATranscript) {
  ParseResult r = parse_command_line({"--ui", "gtk", "--transcript", "t"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.line.ui, UiKind::Gtk);
  EXPECT_EQ(*r.line.transcript, "t");
}

TEST(CommandLine, BadOptionsAreNamed) {
  struct Bad {
    std::vector<std::string> args;
    const char* mentions;
  } cases[] = {
      {{"--root"}, "--root"},
      {{"--ui", "desktop"}, "--ui"},
      {{"--root="}, "--root"},
      {{"--ui", "terminal", "--answers", "a"}, "--answers"},
      {{"--transcript", "t"}, "needs --answers SCRIPT"},
      {{"--ui", "terminal", "--transcript=t"}, "needs --answers SCRIPT"},
      {{"--ui", "gtk", "--answers", "a"}, "cannot be used with --ui gtk"},
  };
  for (const auto& c : cases) {
    ParseResult r = parse_command_line(c.args);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find(c.mentions), std::string::npos) << r.error;
  }
}

TEST(CommandLine, ConnectTakesAnOptionalEntry) {
  struct Case {
    std::vector<std::string> args;
    const char* entry;
  };
  const Case cases[] = {
      {{"--connect"}, ""},
      {{"--connect", "tarkel-veloran-account"}, "tarkel-veloran-account"},
      {{"--connect=tarkel-veloran-account"}, "tarkel-veloran-account"},
      {{"--connect", "--answers", "a", "--transcript", "t"}, ""},
      {{"--connect", "x-c", "--ppp-dir", "/tmp/p"}, "x-c"},
  };
  for (const Case& c : cases) {
    ParseResult r = parse_command_line(c.args);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.line.connect);
    EXPECT_EQ(r.line.connect_entry, c.entry);
    EXPECT_FALSE(r.line.cash) << "the entry's name is no -c";
  }
  EXPECT_FALSE(parse_command_line({"--connect", "--install-dialup"}).ok);
  EXPECT_FALSE(parse_command_line({"--udev-dir", "/tmp/u"}).ok);
  EXPECT_TRUE(parse_command_line({"--install-dialup", "--udev-dir", "/tmp/u"}).ok);
}

TEST(CommandLine, HelpAndVersion) {
  EXPECT_TRUE(parse_command_line({"--help"}).line.help);
  EXPECT_TRUE(parse_command_line({"--version"}).line.version);
  EXPECT_TRUE(parse_command_line({"--help-script"}).line.help_script);
  EXPECT_NE(usage_text("joinwiz").find("--help-script"), std::string::npos);
  EXPECT_NE(usage_text("joinwiz").find("--answers SCRIPT"), std::string::npos);
}

}  // namespace
}  // namespace wizard
