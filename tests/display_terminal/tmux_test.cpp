// termdemo in a real terminal: a detached tmux session shows the sample
// page; keys sent to it reach the controls, message boxes come up on top,
// a resize redraws, and the program ends with the terminal given back.
// Skipped where tmux is missing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Runs a command without a shell; returns its exit status and standard output.
int run(const std::vector<std::string>& args, std::string* out = nullptr) {
  int pipefd[2];
  if (pipe(pipefd) != 0) return -1;
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    dup2(pipefd[1], STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDERR_FILENO);
    close(pipefd[0]);
    close(pipefd[1]);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(pipefd[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(pipefd[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
  close(pipefd[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class TmuxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (run({"tmux", "-V"}) != 0) GTEST_SKIP() << "tmux is not installed";
    demo = fs::path(VLR_BIN_DIR) / "termdemo";
    if (!fs::exists(demo)) GTEST_SKIP() << "termdemo is not built";
    socket = "vlr-termdemo-" + std::to_string(getpid());
    dir = fs::temp_directory_path() / socket;
    fs::create_directories(dir);
    result = dir / "result.txt";
  }
  void TearDown() override {
    if (!socket.empty()) run({"tmux", "-L", socket, "kill-server"});
    std::error_code ec;
    if (!dir.empty()) fs::remove_all(dir, ec);
  }

  int tmux(std::vector<std::string> args, std::string* out = nullptr) {
    args.insert(args.begin(), {"tmux", "-f", "/dev/null", "-L", socket});
    return run(args, out);
  }
  std::string screen() {
    std::string out;
    tmux({"capture-pane", "-p", "-t", "demo"}, &out);
    return out;
  }
  // Waits (a few seconds at most) for the program in the terminal; this is
  // another process on real time, so there is no virtual clock to use.
  bool wait_for(const std::function<bool()>& ready) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      if (ready()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  bool wait_for_text(const std::string& text) {
    return wait_for([&] { return screen().find(text) != std::string::npos; });
  }
  void keys(std::vector<std::string> k) {
    k.insert(k.begin(), {"send-keys", "-t", "demo"});
    tmux(k);
  }

  fs::path demo, dir, result;
  std::string socket;
};

TEST_F(TmuxTest, SamplePageShowsAndAnswersKeys) {
  ASSERT_EQ(tmux({"new-session", "-d", "-s", "demo", "-x", "100", "-y", "40", "-e", "LANG=C.UTF-8", "-e",
                  "VLR_LOG=" + (dir / "log.txt").string(), demo.string() + " --display terminal --result " +
                      result.string()}),
            0);
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
  tmux({"send-keys", "-R", "-t", "demo"});
  ASSERT_TRUE(wait_for([&] { return screen().find("Sample Account Page") == std::string::npos; })) << screen();
  tmux({"resize-window", "-t", "demo", "-x", "90", "-y", "35"});
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
  ASSERT_EQ(tmux({"new-session", "-d", "-s", "demo", "-x", "80", "-y", "40", "-e", "LANG=C.UTF-8", "-e",
                  "VLR_LOG=" + (dir / "log.txt").string(), demo.string() + " --display terminal --result " +
                      result.string()}),
            0);
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
  ASSERT_EQ(tmux({"new-session", "-d", "-s", "demo", "-x", "100", "-y", "40", "-e", "LANG=C.UTF-8", "-e",
                  "VLR_LOG=" + (dir / "log.txt").string(), "sh", "-c", script}),
            0);
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
