// Headless display and scripted user.
//
// The headless display draws nothing; it writes a transcript and drives the
// program through a script, one step a line ("#" starts a comment):
//   wait DIALOG-ID            the dialog made from that template is shown and enabled
//   set CONTROL-ID TEXT       replace the text of an edit or combo box, as typed
//   check CONTROL-ID / uncheck CONTROL-ID
//   select CONTROL-ID TEXT    list or combo item by its text
//   click CONTROL-ID
//   key Enter|Esc|Tab|Shift-Tab|Space|F1|Alt+LETTER (the "&" mnemonic)
//   expect-message TEXT       a message box whose text contains TEXT is up
//   answer OK|Cancel|Yes|No   closes the message box with that button
//   expect-text CONTROL-ID TEXT   the control's text contains TEXT
//   timeout SECONDS           time-out of the steps after it (default 120)
// CONTROL-ID may also be a label in double quotes: a button, check box or
// radio button by its own text ("Next >", "&" marks left out), any other
// control by the static text before it ("First Name:", or without the
// colon), as the label's mnemonic reaches it. `wait "CAPTION"` waits for a
// dialog by its caption.
// Each step waits until its target exists, is visible and is enabled (for
// expect-text: until the text matches), then acts through the calls of
// platform/ui/user_input.h. Controls are looked up in the active window first,
// then in the other visible top-level windows from the top.
//
// The scripted user runs inside the program's own message loop: a thread
// timer polls the current step, and the action itself is posted to a hidden
// window of its own, so a click that opens a modal dialog or a message box
// runs its nested loop with the script still going. Time-outs use the
// platform clock, so tests run them in virtual time.
//
// A step not done within its time-out, an unknown step, or a message box that
// no step expects ends the run: on_failure gets exit code 3 and a message
// "script line N: STEP: reason". The default (program use) writes the message
// and the controls of the active dialog (id, class, text: what a step could
// name) to standard error, flushes the transcript and ends the process with 3.
// When expect_end is set, the program must end (its windows gone or the loop
// quit) within the time-out after the last step.
//
// Transcript, one line each:
//   dialog ID "CAPTION" title "PAINTED TITLE"
//   message-box "CAPTION" icon ICON "TEXT"
//   step N: LINE
//   note: control ID took "TEXT" of "SET TEXT" (at most N characters)
//                             (a set whose text the field's limit cut)
//   beep
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/display.h"

namespace display {

struct ScriptStep {
  int line = 0;          // 1-based line in the script
  std::string verb;      // "wait", "set", ...
  std::string target;    // id or key or button name; empty for expect-message
  std::string text;      // rest of the line
  std::string source;    // the line as written, for messages
};

// Parses a script; unknown verbs and missing arguments give false and
// "script line N: LINE: reason" in `error`.
bool parse_script(std::string_view text, std::vector<ScriptStep>& steps, std::string& error);

struct HeadlessOptions {
  std::string script;                 // script text
  std::string transcript_path;        // appended line by line; empty: none
  std::int64_t poll_ms = 10;          // how often the current step is tried
  std::int64_t default_timeout_ms = 120'000;
  bool expect_end = false;            // the program must end after the last step
  // Called once on failure; the default prints and exits with `code` (3).
  std::function<void(int code, const std::string& message)> on_failure;
  // Called once when the last step is done.
  std::function<void()> on_finished;
  // For a library's dialogs inside another program: after a failure (with
  // expect_end, also a dialog still open a time-out after the last step)
  // every modal dialog and message box that is up, or comes up later, is
  // ended at the next poll, so the calls that run them return -1 instead
  // of waiting for a user that is gone.
  bool end_dialogs_after_failure = false;
};

class HeadlessDisplay final : public platform::Display {
 public:
  // Starts the scripted user on the calling thread's loop and installs the
  // display. nullptr and `error` for a bad script or transcript path.
  static std::unique_ptr<HeadlessDisplay> start(HeadlessOptions options, std::string& error);
  ~HeadlessDisplay() override;

  void window_event(platform::HWND hwnd, platform::WindowEvent event) override;
  void beep() override;

  bool finished() const;                 // every step done
  bool failed() const { return failed_; }
  const std::string& failure() const { return failure_; }
  const std::vector<std::string>& transcript() const { return lines_; }
  std::size_t next_step() const { return next_; }

  struct Impl;

 private:
  HeadlessDisplay() = default;
  void tick();
  void act(std::size_t index);
  bool ready(const ScriptStep& step, std::string& why);
  void write(const std::string& line);
  void fail(const std::string& message);
  std::unique_ptr<Impl> impl_;
  std::vector<std::string> lines_;
  std::size_t next_ = 0;
  bool failed_ = false;
  std::string failure_;
};

}  // namespace display
