// The reference registration server: a script that talks to the caller.
//
// A scenario file is read line by line; blank lines and lines starting with
// "#" are skipped. Each line is a keyword and, after one blank, its argument
// (taken as written: no trimming; use "\s" for a blank at the end):
//
//   prompt TEXT             prompt the next login sends (default "user:")
//   login PATTERN           send the prompt, read the log-in name, check it,
//                           then send CR LF (a log-in echoes the line end)
//   send TEXT               send TEXT and a CR
//   sendraw TEXT            send TEXT alone (no line end)
//   expect PATTERN          read the next line; a mismatch fails the call
//   if PATTERN goto LABEL   jump when the last line read matches
//   goto LABEL
//   label LABEL
//   pause MS                wait MS milliseconds
//   timeout SECONDS         how long login and expect wait (default 300)
//   hangup                  drop the call
//   end                     stop; read and trace lines until the caller hangs up
//
// Texts and patterns use C escapes: "\t" TAB, "\r", "\n", "\\", "\s" blank,
// "\xHH". A PATTERN is "*" (any line), TEXT followed by "*" (any line that
// starts with TEXT), or TEXT (exactly that line); "\*" is a literal star.
// A script without a login step starts with "login *". The end of the file
// is an "end". A failed expectation, a time-out or a log-in that does not
// match is traced ("srv! ...") and hangs up.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "linesim/far_end.h"

namespace linesim {

struct LinePattern {
  enum class Kind { Any, Exact, Prefix };
  Kind kind = Kind::Any;
  std::string text;
  bool matches(std::string_view line) const;
  std::string describe() const;  // as it would be written, escaped
};

struct ScenarioStep {
  enum class Op { Prompt, Login, Send, SendRaw, Expect, If, Goto, Label, Pause, Timeout, Hangup, End };
  Op op = Op::End;
  std::string text;       // Prompt, Send, SendRaw: the bytes; Goto/If/Label: the label
  LinePattern pattern;    // Login, Expect, If
  std::int64_t value = 0; // Pause: ms; Timeout: seconds
  std::size_t target = 0; // Goto, If: step index
  int source_line = 0;
};

class Scenario {
 public:
  // Parses a scenario text. On error returns nullptr and "line N: reason".
  static std::shared_ptr<const Scenario> parse(std::string_view text, std::string* error);
  // Reads and parses a file; errors name the file.
  static std::shared_ptr<const Scenario> load(const std::string& path, std::string* error);

  const std::vector<ScenarioStep>& steps() const { return steps_; }

 private:
  std::vector<ScenarioStep> steps_;
};

class ScenarioServer final : public FarEnd {
 public:
  static constexpr std::size_t kMaxLine = 4096;     // longer lines are cut
  static constexpr std::size_t kMaxQueued = 1024;   // unread lines kept

  ScenarioServer(std::shared_ptr<const Scenario> scenario, TraceSink trace, std::string port_name);

  State state() const override { return closed_ ? State::Closed : State::Open; }
  void write(std::string_view bytes) override;
  std::size_t read(char* out, std::size_t max) override;
  void hang_up() override;
  void poll() override;
  std::optional<std::int64_t> next_due_ms() const override;

  // For tests and the trace: every line received (the log-in name first).
  const std::vector<std::string>& received() const { return received_; }
  // Empty while all went to plan, else why the server gave up.
  const std::string& failure() const { return failure_; }
  // True once the script reached "end" (or its last line).
  bool finished() const { return finished_; }

 private:
  void trace(std::string_view tag, std::string_view text) const;
  void send(std::string_view bytes);
  void fail(const std::string& why);
  void add_line(std::string line);

  std::shared_ptr<const Scenario> scenario_;
  TraceSink trace_;
  std::string name_;
  std::string prompt_ = "user:";
  std::int64_t timeout_ms_ = 300'000;
  std::size_t pc_ = 0;
  bool prompt_sent_ = false;                 // the current login step sent its prompt
  std::optional<std::int64_t> wait_deadline_;
  std::optional<std::int64_t> pause_until_;
  std::string partial_;
  bool partial_cut_ = false;
  std::deque<std::string> lines_;
  std::string last_line_;
  std::string out_;
  std::vector<std::string> received_;
  std::string failure_;
  bool closed_ = false;
  bool finished_ = false;
};

}  // namespace linesim
