// A program in a detached tmux session on a tmux server of the test's own,
// read (capture-pane) and typed into (send-keys) as a person at a terminal
// would. The shell scripts of tests/e2e do the same through tmux_lib.sh.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace test_support {

class TmuxSession {
 public:
  // `name` is the server's and the session's name; the server's gets the
  // process id, so tests that run at the same time never share one.
  explicit TmuxSession(const std::string& name);
  // Ends the server and every program in it.
  ~TmuxSession();
  TmuxSession(const TmuxSession&) = delete;
  TmuxSession& operator=(const TmuxSession&) = delete;

  // Whether tmux can be run here (tests skip without it).
  static bool available();

  // Starts `command` (one shell line, or a program and its arguments) in a
  // terminal of width x height with `env` ("NAME=value") added; the exit
  // status of tmux new-session.
  int start(int width, int height, const std::vector<std::string>& env, const std::vector<std::string>& command);
  // Runs tmux with `args` against this server; its exit status, and its
  // standard output in `out` when given.
  int tmux(std::vector<std::string> args, std::string* out = nullptr);

  const std::string& session() const { return session_; }
  // The pane's text now.
  std::string screen();
  // Keys by tmux's names ("Tab", "Enter", "M-n"), or words typed as they are.
  void keys(std::vector<std::string> keys);
  void resize(int width, int height);

  // Waits (real time: another process on another terminal, so no virtual
  // clock to use) until `ready` holds; false after `limit`.
  static bool wait_for(const std::function<bool()>& ready, std::chrono::milliseconds limit = std::chrono::seconds(20));
  bool wait_for_text(const std::string& text);

 private:
  std::string session_;
  std::string socket_;
};

}  // namespace test_support
