// A program started with --answers loads the headless display by name and
// ends with exit code 3 when its script fails.
#include <unistd.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include <algorithm>

#include "support/temp_dir.h"

namespace {

struct Result {
  int exit_code = -1;
  std::string err;
  std::string transcript;
};

Result run_program(const std::string& script) {
  namespace fs = std::filesystem;
  const test_support::TempDir temp("vlr-program");
  const fs::path dir = temp.path();
  std::ofstream(dir / "answers.txt") << script;
  const std::string cmd = std::string(VLR_BIN_DIR) + "/display_sample_program --virtual-clock --answers " + (dir / "answers.txt").string() +
                          " --transcript " + (dir / "transcript.txt").string() + " 2>" + (dir / "err.txt").string();
  Result r;
  const int status = std::system(cmd.c_str());
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream e(dir / "err.txt");
  std::stringstream es;
  es << e.rdbuf();
  r.err = es.str();
  std::ifstream t(dir / "transcript.txt");
  std::stringstream ts;
  ts << t.rdbuf();
  r.transcript = ts.str();
  return r;
}

TEST(HeadlessProgram, ScriptDrivesTheProgramToItsEnd) {
  Result r = run_program("wait 102\nset 3021 John\nkey Enter\n");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.transcript,
            "dialog 102 \"Personal Information\" title \"Personal Information\"\n"
            "step 1: wait 102\n"
            "step 2: set 3021 John\n"
            "step 3: key Enter\n");
}

TEST(HeadlessProgram, FailingScriptEndsWithCode3AndSaysWhere) {
  struct Case {
    const char* script;
    const char* message;
  };
  const Case cases[] = {
      {"wait 102\nwait 103\n",
       "script line 2: wait 103: not done within 120 s: dialog 103 is not shown and enabled\n"},
      {"wait 102\nfly away\n", "script line 2: fly away: unknown step\n"},
      {"wait 102\nclick 3031\n",
       "end of script: a message box that no step expects: \"You must enter your first name.\"\n"},
      {"timeout 30\nwait 102\n", "end of script: the program did not end within 30 s\n"},
  };
  for (const auto& c : cases) {
    Result r = run_program(c.script);
    EXPECT_EQ(r.exit_code, 3) << c.script;
    EXPECT_EQ(r.err.substr(0, std::string(c.message).size()), c.message) << c.script;
  }
}

TEST(HeadlessProgram, AFailedStepListsTheControlsOfTheActiveDialog) {
  Result r = run_program("wait 102\ntimeout 1\nset 9999 x\n");
  EXPECT_EQ(r.exit_code, 3);
  std::istringstream lines(r.err);
  std::vector<std::string> got;
  for (std::string line; std::getline(lines, line);) got.push_back(line);
  ASSERT_GE(got.size(), 3u) << r.err;
  EXPECT_EQ(got[0].rfind("script line 3: set 9999 x: not done within 1 s: control 9999 does not exist", 0), 0u)
      << got[0];
  EXPECT_EQ(got[1], "controls of the active dialog 102 \"Personal Information\" (id, class, text):");
  for (const char* want : {"  3021 edit \"\"", "  -1 static \"First Name:\"", "  3031 button \"&Next >\"",
                           "  3033 button \"&Finish\" hidden", "  3043 check-box \"Di&sable Call Waiting with:\""}) {
    EXPECT_NE(std::find(got.begin(), got.end(), want), got.end()) << want << "\n" << r.err;
  }
}

TEST(HeadlessProgram, StepsNameControlsByTheirLabelsAndDialogsByTheirCaptions) {
  Result r = run_program("wait \"Personal Information\"\nset \"First Name:\" John\nexpect-text 3021 John\n"
                         "set \"Last Name\" Smith\nexpect-text 3012 Smith\nclick \"Next >\"\n");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.transcript.find("step 6: click \"Next >\""), std::string::npos) << r.transcript;
}

}  // namespace
