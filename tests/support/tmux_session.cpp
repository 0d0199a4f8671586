#include "support/tmux_session.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace test_support {

namespace {

// Runs tmux without a shell, its standard error thrown away: the server it
// starts keeps the descriptors it was given, so a pipe there would never
// reach its end. Returns tmux's exit status (-1 when it did not end
// normally) and its standard output in `out`.
int run_tmux(const std::vector<std::string>& args, std::string* out) {
  int pipefd[2];
  if (::pipe(pipefd) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(pipefd[0]);
    ::close(pipefd[1]);
    return -1;
  }
  if (pid == 0) {
    ::dup2(pipefd[1], STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) ::dup2(null, STDERR_FILENO);
    ::close(pipefd[0]);
    ::close(pipefd[1]);
    std::vector<char*> argv = {const_cast<char*>("tmux")};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(pipefd[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = ::read(pipefd[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
  ::close(pipefd[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
