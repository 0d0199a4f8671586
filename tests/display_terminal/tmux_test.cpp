// termdemo in a real terminal: a detached tmux session shows the sample
// page; keys sent to it reach the controls, message boxes come up on top,
// a resize redraws, and the program ends with the terminal given back.
// Skipped where tmux is missing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/tmux_session.h"

namespace {

namespace fs = std::filesystem;

class TmuxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test_support::TmuxSession::available()) GTEST_SKIP() << "tmux is not installed";
    demo = fs::path(VLR_BIN_DIR) / "termdemo";
    if (!fs::exists(demo)) GTEST_SKIP() << "termdemo is not built";
    result = dir / "result.txt";
  }

  // Starts `command` in the session "demo", width x height.
  int start(int width, int height, const std::vector<std::string>& command) {
    return session.start(width, height, {"LANG=C.UTF-8", "VLR_LOG=" + (dir / "log.txt").string()}, command);
  }
  std::string screen() { return session.screen(); }
  bool wait_for(const std::function<bool()>& ready) { return test_support::TmuxSession::wait_for(ready); }
  bool wait_for_text(const std::string& text) { return session.wait_for_text(text); }
  void keys(std::vector<std::string> k) { session.keys(std::move(k)); }

  test_support::TempDir dir{"vlr-termdemo"};
  test_support::TmuxSession session{"demo"};
  fs::path demo, result;
};

TEST_F(TmuxTest, SamplePageShowsAndAnswersKeys) {
  ASSERT_EQ(start(100, 40, {demo.string() + " --display terminal --result " + result.string()}), 0);
  ASSERT_TRUE(wait_for_text("Sample Account Page")) << screen();
  const std::string first = screen();
  EXPECT_NE(first.find("Veloran Sign-up"), std::string::npos);
  EXPECT_NE(first.find("[ ] Send me news"), std::string::npos) << "check box not drawn";
  EXPECT_NE(first.find("(*) Credit card"), std::string::npos);
  EXPECT_NE(first.find("[  Next >  ]"), std::string::npos);

  keys({"jane", "Tab", "Down", "Tab", "Down", "Tab", "Space"});
  ASSERT_TRUE(wait_for_text("[X] Send me news")) << screen();
  keys({"Enter"});
  ASSERT_TRUE(wait_for_text("Thank you, JANE. Plan: Standard, paid by cash on COM2.")) << screen();
  keys({"Enter"});
  ASSERT_TRUE(wait_for([&] { return screen().find("Thank you") == std::string::npos; })) << screen();

  // A smaller terminal: the page is drawn again, cut at the new edge. The
  // pane is wiped first (a reset of tmux's own terminal, which the program
  // does not see), so what shows after the resize is the program's redraw,
  // not tmux's copy of the old screen cut to size.
  session.tmux({"send-keys", "-R", "-t", session.session()});
  ASSERT_TRUE(wait_for([&] { return screen().find("Sample Account Page") == std::string::npos; })) << screen();
  session.resize(90, 35);
  ASSERT_TRUE(wait_for([&] {
    std::istringstream lines(screen());
    std::string line;
    int rows = 0;
    bool title = false;
    while (std::getline(lines, line)) {
      ++rows;
      title = title || line.find("Sample Account Page") != std::string::npos;
    }
    return rows == 35 && title;
  })) << screen();

  keys({"F1"});
  ASSERT_TRUE(wait_for_text("Fill in the fields and press Next.")) << screen();
  // Esc closes the help box; the next Esc, typed ahead, reaches the page.
  keys({"Escape"});
  ASSERT_TRUE(wait_for([&] { return screen().find("Fill in the fields") == std::string::npos; })) << screen();
  keys({"Escape"});
  ASSERT_TRUE(wait_for_text("Do you want to leave the sign-up?")) << screen();
  keys({"Enter"});

  ASSERT_TRUE(wait_for([&] { return fs::exists(result) && fs::file_size(result) > 0; })) << screen();
  std::ifstream in(result);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_EQ(s.str(), "name=JANE\nplan=1\npayment=1\nnews=1\nport=COM2\n");
}

TEST_F(TmuxTest, AltLettersReachTheirControlsAndALoneEscStillCancels) {
  ASSERT_EQ(start(80, 40, {demo.string() + " --display terminal --result " + result.string()}), 0);
  ASSERT_TRUE(wait_for_text("Sample Account Page")) << screen();
  // Alt+S clicks the check box, Alt+A the "Cash" radio button; the page stays.
  keys({"M-s"});
  ASSERT_TRUE(wait_for_text("[X] Send me news")) << screen();
  keys({"M-a"});
  ASSERT_TRUE(wait_for_text("(*) Cash")) << screen();
  // Alt+N (the label "Name:") puts the focus in the name field: typing lands there.
  keys({"M-n", "ann"});
  ASSERT_TRUE(wait_for_text("ANN")) << screen();
  EXPECT_NE(screen().find("Sample Account Page"), std::string::npos) << "no Alt key ended the page";
  keys({"Escape"});
  ASSERT_TRUE(wait_for_text("Do you want to leave the sign-up?")) << screen();
  keys({"Enter"});
  ASSERT_TRUE(wait_for([&] { return fs::exists(result) && fs::file_size(result) > 0; })) << screen();
}

TEST_F(TmuxTest, CtrlCEndsTheProgramWithTheTerminalRestored) {
  // The shell catches SIGINT itself (a trap, not an ignore, so the program
  // gets the default back) and stays to show what the program left behind.
  const std::string script = "trap true INT; " + demo.string() + "; echo EXIT=$?; stty -a; sleep 20";
  ASSERT_EQ(start(100, 40, {"sh", "-c", script}), 0);
  ASSERT_TRUE(wait_for_text("Sample Account Page")) << screen();
  keys({"C-c"});
  ASSERT_TRUE(wait_for_text("EXIT=")) << screen();
  const std::string after = screen();
  EXPECT_NE(after.find("EXIT=130"), std::string::npos) << after;  // ended by SIGINT
  // Back on the normal screen, in line mode with echo.
  EXPECT_EQ(after.find("Sample Account Page"), std::string::npos) << after;
  EXPECT_NE(after.find(" icanon"), std::string::npos) << after;
  EXPECT_NE(after.find(" echo "), std::string::npos) << after;
}

}  // namespace
