// The scripted user drives sample pages through the same calls a person's
// keys make; time is virtual throughout.
#include <unistd.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "display/headless.h"
#include "platform/loop/clock.h"
#include "platform/loop/message_loop.h"
#include "sample_pages.h"
#include "support/temp_dir.h"

using namespace platform;
using display::HeadlessDisplay;
using display::HeadlessOptions;

namespace {

struct Outcome {
  int exit_code = 0;
  bool failed = false;
  int failure_code = 0;
  std::string failure;
  std::vector<std::string> transcript;
};

class Script : public ::testing::Test {
 protected:
  void SetUp() override {
    sample::register_templates();
    set_application_name("Sample");
    master_ = new_window<sample::Master>();
    ASSERT_NE(master_->create("Master", WS_POPUP, {0, 0, 10, 10}), 0u);
    page_ = new_window<sample::PersonalPage>(master_->hwnd());
  }
  void TearDown() override {
    if (!page_created_) delete page_;  // never made a window: still ours
    if (master_hwnd()) destroy_window(master_hwnd());
    EXPECT_TRUE(top_level_windows().empty());
  }
  HWND master_hwnd() { return is_window(master_h_) ? master_h_ : (master_ ? (master_h_ = master_->hwnd()) : 0); }

  HWND create_page() {
    master_h_ = master_->hwnd();
    page_created_ = true;
    HWND h = page_->create_modeless(master_->hwnd());
    show_window(h, SW_SHOW);
    return h;
  }

  // Runs the loop with `script` until the program (here: the master) quits,
  // the script fails, or the last step is done and `quit_when_done` is set.
  Outcome run(const std::string& script, bool quit_when_done = false, const std::string& transcript_path = "") {
    Outcome r;
    HeadlessOptions o;
    o.script = script;
    o.transcript_path = transcript_path;
    o.on_failure = [&r](int code, const std::string& message) {
      r.failed = true;
      r.failure_code = code;
      r.failure = message;
      post_quit_message(code);
    };
    if (quit_when_done) o.on_finished = [] { post_quit_message(0); };
    std::string error;
    auto d = HeadlessDisplay::start(std::move(o), error);
    EXPECT_TRUE(d) << error;
    if (!d) return r;
    if (create_page_in_run_) {
      create_page_in_run_ = false;
      create_page();
    }
    r.exit_code = MessageLoop::current().run();
    r.transcript = d->transcript();
    return r;
  }

  ScopedVirtualClock clock_;
  bool create_page_in_run_ = false;  // so the transcript sees the page shown
  bool page_created_ = false;
  sample::Master* master_ = nullptr;
  HWND master_h_ = 0;
  sample::PersonalPage* page_ = nullptr;
};

bool has_line(const Outcome& r, const std::string& line) {
  return std::find(r.transcript.begin(), r.transcript.end(), line) != r.transcript.end();
}

TEST_F(Script, FailingValidationKeepsThePageUpAndMovesFocusToTheField) {
  create_page_in_run_ = true;
  Outcome r = run(
      "wait 102\n"
      "set 3012 Smith\n"
      "click 3031\n"
      "expect-message You must enter your first name.\n"
      "answer OK\n",
      true);
  ASSERT_FALSE(r.failed) << r.failure;
  const HWND page = page_->hwnd();
  EXPECT_TRUE(master_->received.empty());  // nothing was posted: the page stays
  ASSERT_TRUE(is_window_visible(page));
  EXPECT_EQ(get_focus(), page_->item(3021));
  EXPECT_EQ(active_window(), page);
  EXPECT_TRUE(has_line(r, "dialog 102 \"Personal Information\" title \"Personal Information\"")) << r.transcript[0];
  EXPECT_TRUE(has_line(r, "message-box \"Entry error\" icon exclamation \"You must enter your first name.\""));
  EXPECT_TRUE(has_line(r, "step 5: answer OK"));

  // The user corrects the field and goes on with Enter.
  r = run("set 3021 John\nkey Enter\n");
  ASSERT_FALSE(r.failed) << r.failure;
  EXPECT_EQ(r.exit_code, static_cast<int>(sample::WM_WIZ_NEXT));
  EXPECT_EQ(page_->first, "John");
}

TEST_F(Script, EnterOnAModelessPageDoesWhatItsDefaultButtonDoes) {
  struct Case {
    int default_id;
    unsigned posted;
  };
  for (Case c : {Case{3031, sample::WM_WIZ_NEXT}, Case{3033, sample::WM_WIZ_FINISH}}) {
    SCOPED_TRACE(c.default_id);
    if (!is_window(page_->hwnd())) {
      create_page();
    }
    // What a wizard page's finish mode does: move the default and show the button.
    page_->set_default_id(c.default_id);
    page_->show_item(3033, c.default_id == 3033);
    master_->received.clear();
    Outcome r = run("wait 102\nset 3021 John\nkey Enter\n");
    ASSERT_FALSE(r.failed) << r.failure;
    EXPECT_EQ(master_->received, std::vector<unsigned>{c.posted});
    EXPECT_EQ(page_->ok_calls, 0);  // the framework's OK step is not what Enter runs
    EXPECT_TRUE(page_->button(c.default_id)->is_default());
  }
}

TEST_F(Script, EnterWithoutADefaultButtonRunsOk) {
  DialogTemplate t;
  t.id = 130;
  t.caption = "Plain";
  t.rect = {0, 0, 100, 40};
  t.controls = {dlg::edit(10, 4, 4, 60, 12), dlg::pushbutton("OK", IDOK, 4, 20, 40, 14)};
  register_dialog_template(t);
  struct Plain final : Dialog {
    Plain() : Dialog(130) {}
    std::string text;
    void do_data_exchange(DataExchange& dx) override { dx.text(10, text); }
  };
  Plain plain;
  int result = 0;
  auto timer = MessageLoop::current().set_thread_timer(1, [&](TimerId id) {
    MessageLoop::current().kill_thread_timer(id);
    result = plain.do_modal(0);
    post_quit_message(0);
  });
  ASSERT_NE(timer, 0u);
  Outcome r = run("wait 130\nset 10 abc\nkey Enter\n");
  ASSERT_FALSE(r.failed) << r.failure;
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(plain.text, "abc");
}

// A page whose window timer opens a modal prompt from its second tick.
class TickingPage final : public sample::PersonalPage {
 public:
  using PersonalPage::PersonalPage;
  int ticks = 0;
  int ticks_when_prompt_opened = -1;
  int ticks_when_prompt_closed = -1;
  int prompt_result = 0;
  bool owner_was_disabled = false;
  std::string answer;

 protected:
  bool on_init_dialog() override {
    set_timer(7, 250);
    return PersonalPage::on_init_dialog();
  }
  LRESULT window_proc(const Message& msg) override {
    if (msg.message != WM_TIMER || msg.wparam != 7) return PersonalPage::window_proc(msg);
    ++ticks;
    set_item_text(4000, "ticks: " + std::to_string(ticks));
    if (ticks == 2) {
      sample::UserInputDialog prompt;
      ticks_when_prompt_opened = ticks;
      prompt_result = prompt.do_modal(hwnd());
      ticks_when_prompt_closed = ticks;
      answer = prompt.answer;
      post_quit_message(0);
    } else if (ticks_when_prompt_opened > 0 && ticks_when_prompt_closed < 0) {
      owner_was_disabled = !is_window_enabled(hwnd());
    }
    return 0;
  }
};

TEST_F(Script, ModalDialogFromATimerTickWhileTheOwnersTimerKeepsTicking) {
  delete page_;
  auto* ticking = new_window<TickingPage>(master_->hwnd());
  page_ = ticking;
  const HWND page = create_page();
  const std::int64_t start = clock_.get().now_ms();
  Outcome r = run(
      "wait 102\n"
      "wait 106\n"
      "expect-text 4000 ticks: 8\n"
      "set 3022 hello\n"
      "click 1\n");
  ASSERT_FALSE(r.failed) << r.failure;
  EXPECT_EQ(ticking->prompt_result, IDOK);
  EXPECT_EQ(ticking->answer, "hello");
  EXPECT_EQ(ticking->ticks_when_prompt_opened, 2);
  EXPECT_GE(ticking->ticks_when_prompt_closed, 8);
  EXPECT_TRUE(ticking->owner_was_disabled);
  EXPECT_TRUE(is_window_enabled(page));
  EXPECT_EQ(active_window(), page);
  EXPECT_GE(clock_.get().now_ms() - start, 8 * 250);
  EXPECT_TRUE(has_line(r, "dialog 106 \"User input\" title \"\""));
}

TEST_F(Script, MaximumLengthMessageKeepsThePageAndSelectsTheField) {
  page_->last = "Abcdefghij";  // longer than the exchange allows (8)
  create_page();
  Outcome r = run(
      "wait 102\n"
      "set 3021 John\n"
      "click 3031\n"
      "expect-message Please enter no more than 8 characters.\n"
      "answer OK\n",
      true);
  ASSERT_FALSE(r.failed) << r.failure;
  EXPECT_TRUE(has_line(r, "message-box \"Sample\" icon exclamation \"Please enter no more than 8 characters.\""));
  EXPECT_TRUE(master_->received.empty());
  EXPECT_EQ(get_focus(), page_->item(3012));
  EXPECT_EQ(page_->edit(3012)->sel_start(), 0);
  EXPECT_EQ(page_->edit(3012)->sel_end(), 10);
  EXPECT_EQ(page_->last, "Abcdefghij");  // the member keeps its value

  // Typed text stops at the limit that loading set; upper-case edits capitalise.
  r = run(
      "set 3012 Abcdefghijkl\n"
      "expect-text 3012 Abcdefgh\n"
      "set 3017 ca\n"
      "expect-text 3017 CA\n"
      "key Enter\n");
  ASSERT_FALSE(r.failed) << r.failure;
  EXPECT_EQ(master_->received, std::vector<unsigned>{sample::WM_WIZ_NEXT});
  EXPECT_EQ(page_->last, "Abcdefgh");
  EXPECT_EQ(page_->state, "CA");
  // The cut is said in the transcript; capitals alone are no change.
  EXPECT_TRUE(has_line(r, "note: control 3012 took \"Abcdefgh\" of \"Abcdefghijkl\" (at most 8 characters)"));
  EXPECT_EQ(std::count_if(r.transcript.begin(), r.transcript.end(),
                          [](const std::string& l) { return l.rfind("note:", 0) == 0; }),
            1);
}

TEST_F(Script, DataExchangeBothWaysWithChecksListsAndRadios) {
  page_->first = "Ann";
  page_->call_waiting = true;
  page_->code = "70#,";
  page_->method = 1;
  create_page();
  EXPECT_EQ(page_->is_checked(3043), BST_CHECKED);
  EXPECT_EQ(page_->item_text(3044), "70#,");
  EXPECT_EQ(page_->is_checked(3047), BST_CHECKED);
  EXPECT_EQ(page_->is_checked(3046), BST_UNCHECKED);
  EXPECT_EQ(page_->combo(3044)->items(), (std::vector<std::string>{"*70,", "1170,", "70#,"}));  // sorted
  Outcome r = run(
      "wait 102\n"
      "uncheck 3043\n"
      "select 3044 1170,\n"
      "check 3046\n"
      "click 3031\n");
  ASSERT_FALSE(r.failed) << r.failure;
  EXPECT_FALSE(page_->call_waiting);
  EXPECT_EQ(page_->code, "1170,");
  EXPECT_EQ(page_->method, 0);
  EXPECT_EQ(page_->is_checked(3047), BST_UNCHECKED);
}

TEST_F(Script, F1AndTheHelpButtonReachTheDialog) {
  create_page();
  Outcome r = run("wait 102\nkey F1\nclick 2040\nkey Esc\n");
  ASSERT_FALSE(r.failed) << r.failure;
  EXPECT_EQ(page_->help_calls, 2);
  EXPECT_EQ(master_->received, std::vector<unsigned>{sample::WM_WIZ_CANCEL});
}

TEST_F(Script, AStepNotDoneInTimeEndsWithCode3NamingLineAndStep) {
  create_page();
  const std::int64_t start = clock_.get().now_ms();
  Outcome r = run("# waits for a dialog that never comes\ntimeout 2\nwait 999\n");
  EXPECT_TRUE(r.failed);
  EXPECT_EQ(r.failure_code, 3);
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.failure, "script line 3: wait 999: not done within 2 s: dialog 999 is not shown and enabled");
  const std::int64_t waited = clock_.get().now_ms() - start;
  EXPECT_GE(waited, 2000);
  EXPECT_LT(waited, 2100);
}

// Every window hidden and none active: a step by id waits for its control
// (and runs out of time) instead of looking into an empty list of windows.
TEST_F(Script, AStepWaitsWhileEveryWindowIsHidden) {
  master_h_ = master_->hwnd();
  page_created_ = true;
  page_->create_modeless(master_->hwnd());
  ASSERT_FALSE(top_level_windows().empty());
  set_active_window(0);
  ASSERT_EQ(active_window(), 0u);
  Outcome r = run("timeout 2\nclick 3031\n");
  EXPECT_TRUE(r.failed);
  EXPECT_EQ(r.failure, "script line 2: click 3031: not done within 2 s: control 3031 does not exist");
}

TEST_F(Script, TheDefaultTimeOutIs120Seconds) {
  create_page();
  const std::int64_t start = clock_.get().now_ms();
  Outcome r = run("expect-text 3021 never\n");
  ASSERT_TRUE(r.failed);
  EXPECT_EQ(r.failure, "script line 1: expect-text 3021 never: not done within 120 s: control 3021 says \"\"");
  EXPECT_GE(clock_.get().now_ms() - start, 120'000);
}

TEST_F(Script, AMessageBoxThatNoStepExpectsEndsTheRun) {
  create_page();
  Outcome r = run("wait 102\nclick 3031\nwait 105\n");
  ASSERT_TRUE(r.failed);
  EXPECT_EQ(r.failure_code, 3);
  EXPECT_EQ(r.failure,
            "script line 3: wait 105: a message box that no step expects: \"You must enter your first name.\"");
}

TEST_F(Script, AStepThatCannotActFails) {
  create_page();
  struct Case {
    const char* script;
    const char* failure;
  };
  const Case cases[] = {
      {"uncheck 3046\n", "script line 1: uncheck 3046: a radio button is unchecked by checking another"},
      {"check 3021\n", "script line 1: check 3021: control 3021 is not a check box or radio button"},
      {"set 3043 x\n", "script line 1: set 3043 x: control 3043 is not an edit or combo box"},
  };
  for (const auto& c : cases) {
    Outcome r = run(c.script);
    EXPECT_TRUE(r.failed) << c.script;
    EXPECT_EQ(r.failure, c.failure);
  }
}

TEST_F(Script, TranscriptFileHasOneLinePerDialogBoxAndStep) {
  create_page();
  const test_support::TempDir dir("vlr-transcript");
  const auto path = dir / "transcript.txt";
  Outcome r = run("wait 102\nclick 3031\nexpect-message first name\nanswer OK\nset 3021 Jo\nclick 3031\n", false,
              path.string());
  ASSERT_FALSE(r.failed) << r.failure;
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  const std::vector<std::string> want = {
      "step 1: wait 102",
      "step 2: click 3031",
      "message-box \"Entry error\" icon exclamation \"You must enter your first name.\"",
      "step 3: expect-message first name",
      "step 4: answer OK",
      "step 5: set 3021 Jo",
      "step 6: click 3031",
  };
  EXPECT_EQ(lines, want);
  EXPECT_EQ(lines, r.transcript);
}

TEST(ScriptParse, BadStepsNameTheirLine) {
  struct Case {
    const char* script;
    const char* error;
  };
  const Case cases[] = {
      {"jump 3", "script line 1: jump 3: unknown step"},
      {"# c\n\nkey Ctrl-X", "script line 3: key Ctrl-X: unknown key (Enter, Esc, Tab, Shift-Tab, Space, F1, Alt+N, ...)"},
      {"answer Maybe", "script line 1: answer Maybe: answer must be OK, Cancel, Yes or No"},
      {"wait abc", "script line 1: wait abc: not a number or a quoted label: abc"},
      {"set \"First Name: x", "script line 1: set \"First Name: x: a quoted label needs its closing quote"},
      {"click \"Next\"x", "script line 1: click \"Next\"x: a blank must follow the quoted label"},
      {"timeout 0", "script line 1: timeout 0: timeout needs a positive number of seconds"},
      {"expect-message", "script line 1: expect-message: missing text"},
      {"click", "script line 1: click: missing argument"},
      {"check 3043 now", "script line 1: check 3043 now: unexpected text after the step"},
  };
  for (const auto& c : cases) {
    std::vector<display::ScriptStep> steps;
    std::string error;
    EXPECT_FALSE(display::parse_script(c.script, steps, error)) << c.script;
    EXPECT_EQ(error, c.error);
  }
}

TEST(ScriptParse, TextIsTheRestOfTheLineAsTyped) {
  std::vector<display::ScriptStep> steps;
  std::string error;
  ASSERT_TRUE(display::parse_script("  set 3021 Mary  Ann \r\n#x\nset 3044 70#,\nset 3021 \n", steps, error)) << error;
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[0].text, "Mary  Ann ");
  EXPECT_EQ(steps[0].line, 1);
  EXPECT_EQ(steps[1].text, "70#,");
  EXPECT_EQ(steps[1].line, 3);
  EXPECT_EQ(steps[2].text, "");
}

}  // namespace
