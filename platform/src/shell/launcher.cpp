#include "platform/shell/launcher.h"

#include <errno.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string_view>
#include <thread>

#include "platform/loop/log.h"
#include "platform/ui/display.h"

extern char** environ;

namespace platform {

namespace {

// WinExec's error values for the errno of a failed start.
int winexec_error(int err) {
  switch (err) {
    case ENOENT: return 2;
    case ENOTDIR: return 3;
    case EACCES:
    case EPERM: return 5;
    case ENOEXEC: return 11;
    default: return 0;
  }
}

// Starts the program with `env` (its output into the file `output`, when
// given); once it has ended, `on_end` is called on the reaper thread with
// its exit status (128 + the signal).
int spawn(const std::vector<std::string>& argv, char** env, std::function<void(int)> on_end,
          const std::filesystem::path& output = {}) {
  if (argv.empty() || argv[0].empty()) return 2;
  // Checked first so a missing program is reported at once, whatever the
  // C library's spawn reports for a failed exec.
  if (::access(argv[0].c_str(), X_OK) != 0) {
    const int err = errno;
    log_warn("launcher", "cannot start " + argv[0] + ": " + std::to_string(err));
    return winexec_error(err);
  }
  std::vector<char*> words;
  for (const auto& w : argv) words.push_back(const_cast<char*>(w.c_str()));
  words.push_back(nullptr);
  pid_t pid = 0;
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  if (!output.empty()) {
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0600);
    ::posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  }
  const int rc = ::posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, words.data(), env);
  ::posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    log_warn("launcher", "cannot start " + argv[0] + ": " + std::to_string(rc));
    return winexec_error(rc);
  }
  log_info("launcher", "started " + argv[0] + " (pid " + std::to_string(pid) + ")");
  // The program runs on its own; collect its end so no zombie is left.
  std::thread([pid, on_end = std::move(on_end)] {
    int status = 0;
    pid_t r = 0;
    while ((r = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    int code = 0;
    if (r == pid && WIFEXITED(status)) code = WEXITSTATUS(status);
    else if (r == pid && WIFSIGNALED(status)) code = 128 + WTERMSIG(status);
    if (on_end) on_end(code);
  }).detach();
  return kLaunchStarted;
}

// Takes the terminal back on the thread that lent it, when the program
// that had it has ended; then tells the window that asked.
class TerminalReturn final : public MessageTarget {
 public:
  TerminalReturn(HWND notify, unsigned message) : notify_(notify), message_(message) {
    self_ = MessageLoop::current().register_window(this);
  }
  HWND handle() const { return self_; }
  LRESULT handle_message(const Message& msg) override {
    if (Display* d = current_display()) d->lend_terminal(false);
    if (notify_ != 0) post_message(notify_, message_, msg.wparam);
    MessageLoop::current().unregister_window(self_);
    delete this;
    return 0;
  }

 private:
  HWND self_ = 0;
  HWND notify_;
  unsigned message_;
};

}  // namespace

int launch_program(const std::vector<std::string>& argv) { return launch_program(argv, 0, 0); }

int launch_program(const std::vector<std::string>& argv, HWND notify, unsigned message) {
  return launch_program(argv, notify, message, {});
}

int launch_program(const std::vector<std::string>& argv, HWND notify, unsigned message,
                   const std::filesystem::path& output) {
  // Posting works from any thread.
  return spawn(
      argv, environ,
      [notify, message](int code) {
        if (notify != 0) post_message(notify, message, static_cast<WPARAM>(code));
      },
      output);
}

int launch_interactive_program(const std::vector<std::string>& argv, HWND notify, unsigned message) {
  Display* display = current_display();
  if (display == nullptr || !display->uses_terminal()) return launch_program(argv, notify, message);
  // The program draws on the same terminal, whatever display it would pick.
  std::vector<std::string> env_text;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "VLR_UI=", 7) != 0) env_text.emplace_back(*e);
  env_text.emplace_back("VLR_UI=terminal");
  std::vector<char*> env;
  for (auto& e : env_text) env.push_back(e.data());
  env.push_back(nullptr);
  auto* back = new TerminalReturn(notify, message);
  const HWND back_hwnd = back->handle();
  display->lend_terminal(true);
  const int started = spawn(argv, env.data(), [back_hwnd](int code) {
    post_message(back_hwnd, WM_USER, static_cast<WPARAM>(code));
  });
  if (started != kLaunchStarted) {
    display->lend_terminal(false);
    MessageLoop::current().unregister_window(back_hwnd);
    delete back;
  }
  return started;
}

int run_program(const std::vector<std::string>& argv, std::string* output) {
  if (argv.empty() || argv[0].empty()) return -1;
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return -1;
  std::vector<char*> words;
  for (const auto& w : argv) words.push_back(const_cast<char*>(w.c_str()));
  words.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  ::posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, words.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_fds[1]);
  if (rc != 0) {
    ::close(pipe_fds[0]);
    log_warn("launcher", "cannot start " + argv[0] + ": " + std::to_string(rc));
    return -1;
  }
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(pipe_fds[0], buffer, sizeof buffer);
    if (n > 0) {
      if (output) output->append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(pipe_fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

std::filesystem::path runnable_program(const std::string& program, std::string* why) {
  namespace fs = std::filesystem;
  auto refuse = [why](std::string text) {
    if (why) *why = std::move(text);
    return fs::path();
  };
  if (program.empty()) return refuse("no program");
  fs::path found;
  if (program.find('/') != std::string::npos) {
    found = program;
  } else {
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (found.empty()) {
      const std::size_t colon = dirs.find(':');
      const fs::path candidate = fs::path(dirs.substr(0, colon).empty() ? "." : dirs.substr(0, colon)) / program;
      if (::access(candidate.c_str(), X_OK) == 0 && fs::is_regular_file(candidate)) found = candidate;
      if (colon == std::string_view::npos) break;
      dirs.remove_prefix(colon + 1);
    }
    if (found.empty()) return refuse(program + " is not installed (not found on PATH)");
  }
  std::error_code ec;
  if (!fs::is_regular_file(found, ec)) return refuse(found.string() + " does not exist");
  if (::access(found.c_str(), X_OK) != 0) return refuse(found.string() + " is not executable");
  char magic[2] = {};
  if (FILE* f = std::fopen(found.c_str(), "rb")) {
    const std::size_t n = std::fread(magic, 1, sizeof magic, f);
    std::fclose(f);
    if (n == 2 && magic[0] == 'M' && magic[1] == 'Z') return refuse(found.string() + " is a Windows program");
  }
  return found;
}

std::filesystem::path program_folder() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : self.parent_path();
}

int launch_program_beside(std::string_view program, const std::vector<std::string>& arguments, HWND notify,
                          unsigned message, const std::filesystem::path& folder) {
  const std::filesystem::path dir = folder.empty() ? program_folder() : folder;
  if (dir.empty()) return 3;
  std::vector<std::string> argv{(dir / program).string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return launch_interactive_program(argv, notify, message);
}

}  // namespace platform
