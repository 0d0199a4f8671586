#include "support/tmux_session.h"

#include <unistd.h>

#include <thread>

#include "support/program_runner.h"

namespace test_support {

namespace {

// Runs tmux (found where the system keeps programs) with `args`; its exit
// status, and what it printed in `out` when given.
int run_tmux(const std::vector<std::string>& args, std::string* out) {
  static const std::string tmux = FindTool("tmux");
  if (tmux.empty()) return -1;
  std::vector<std::string> argv = {tmux};
  argv.insert(argv.end(), args.begin(), args.end());
  ProgramResult r = RunProgram(argv);
  if (out) *out = std::move(r.output);
  return r.exit_code;
}

}  // namespace

TmuxSession::TmuxSession(const std::string& name)
    : session_(name), socket_("vlr-" + name + "-" + std::to_string(::getpid())) {}

TmuxSession::~TmuxSession() { tmux({"kill-server"}); }

bool TmuxSession::available() { return run_tmux({"-V"}, nullptr) == 0; }

int TmuxSession::start(int width, int height, const std::vector<std::string>& env,
                       const std::vector<std::string>& command) {
  std::vector<std::string> args = {"new-session", "-d", "-s", session_, "-x", std::to_string(width),
                                   "-y", std::to_string(height)};
  for (const auto& e : env) args.insert(args.end(), {"-e", e});
  args.insert(args.end(), command.begin(), command.end());
  return tmux(std::move(args));
}

int TmuxSession::tmux(std::vector<std::string> args, std::string* out) {
  // No configuration file: the user's own must not change what the pane shows.
  args.insert(args.begin(), {"-f", "/dev/null", "-L", socket_});
  return run_tmux(args, out);
}

std::string TmuxSession::screen() {
  std::string out;
  tmux({"capture-pane", "-p", "-t", session_}, &out);
  return out;
}

void TmuxSession::keys(std::vector<std::string> keys) {
  keys.insert(keys.begin(), {"send-keys", "-t", session_});
  tmux(std::move(keys));
}

void TmuxSession::resize(int width, int height) {
  tmux({"resize-window", "-t", session_, "-x", std::to_string(width), "-y", std::to_string(height)});
}

bool TmuxSession::wait_for(const std::function<bool()>& ready, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return ready();
}

bool TmuxSession::wait_for_text(const std::string& text) {
  return wait_for([&] { return screen().find(text) != std::string::npos; });
}

}  // namespace test_support
