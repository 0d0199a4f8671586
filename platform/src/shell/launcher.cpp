#include "platform/shell/launcher.h"

#include <errno.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
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

// Starts the program with `env`; once it has ended, `on_end` is called on
// the reaper thread with its exit status (128 + the signal).
int spawn(const std::vector<std::string>& argv, char** env, std::function<void(int)> on_end) {
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
  const int rc = ::posix_spawn(&pid, argv[0].c_str(), nullptr, nullptr, words.data(), env);
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
  // Posting works from any thread.
  return spawn(argv, environ, [notify, message](int code) {
    if (notify != 0) post_message(notify, message, static_cast<WPARAM>(code));
  });
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

std::filesystem::path program_folder() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : self.parent_path();
}

int launch_modem_control_panel(const std::filesystem::path& folder) { return launch_modem_control_panel(0, 0, folder); }

int launch_modem_control_panel(HWND notify, unsigned message, const std::filesystem::path& folder) {
  const std::filesystem::path dir = folder.empty() ? program_folder() : folder;
  if (dir.empty()) return 3;
  return launch_interactive_program({(dir / "modsetctl").string(), "setup"}, notify, message);
}

}  // namespace platform
