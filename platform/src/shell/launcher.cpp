#include "platform/shell/launcher.h"

#include <errno.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "platform/loop/log.h"

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

}  // namespace

int launch_program(const std::vector<std::string>& argv) { return launch_program(argv, 0, 0); }

int launch_program(const std::vector<std::string>& argv, HWND notify, unsigned message) {
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
  const int rc = ::posix_spawn(&pid, argv[0].c_str(), nullptr, nullptr, words.data(), environ);
  if (rc != 0) {
    log_warn("launcher", "cannot start " + argv[0] + ": " + std::to_string(rc));
    return winexec_error(rc);
  }
  log_info("launcher", "started " + argv[0] + " (pid " + std::to_string(pid) + ")");
  // The program runs on its own; collect its end so no zombie is left, and
  // tell the window that asked (posting works from any thread).
  std::thread([pid, notify, message] {
    int status = 0;
    pid_t r = 0;
    while ((r = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    if (notify == 0) return;
    int code = 0;
    if (r == pid && WIFEXITED(status)) code = WEXITSTATUS(status);
    else if (r == pid && WIFSIGNALED(status)) code = 128 + WTERMSIG(status);
    post_message(notify, message, static_cast<WPARAM>(code));
  }).detach();
  return kLaunchStarted;
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
  return launch_program({(dir / "modsetctl").string(), "setup"}, notify, message);
}

}  // namespace platform
