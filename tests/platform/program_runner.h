// Runs a real program (pppd, chat, desktop-file-validate) for the tests that
// check what we write against the program that reads it.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace vlr_test {

struct ProgramResult {
  int exit_code = -1;  // -1: did not run or was killed
  std::string output;  // standard output and error together
};

// Runs argv (argv[0] a path) with standard input from /dev/null, or from
// `stdin_fd` when that is given, and collects its output.
inline ProgramResult RunProgram(const std::vector<std::string>& args, int stdin_fd = -1, int stdout_fd = -1) {
  ProgramResult r;
  int pipefd[2];
  if (::pipe(pipefd) != 0) return r;
  const pid_t pid = ::fork();
  if (pid < 0) return r;
  if (pid == 0) {
    int in = stdin_fd >= 0 ? stdin_fd : ::open("/dev/null", O_RDONLY);
    ::dup2(in, 0);
    ::dup2(stdout_fd >= 0 ? stdout_fd : pipefd[1], 1);
    ::dup2(pipefd[1], 2);
    ::close(pipefd[0]);
    std::vector<char*> argv;
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(copy[0].c_str(), argv.data());
    ::_exit(127);
  }
  ::close(pipefd[1]);
  char buf[4096];
  ssize_t n;
  while ((n = ::read(pipefd[0], buf, sizeof buf)) > 0) r.output.append(buf, static_cast<std::size_t>(n));
  ::close(pipefd[0]);
  int status = 0;
  if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
  return r;
}

inline std::string FindTool(const char* name) {
  for (const char* dir : {"/usr/sbin", "/usr/bin", "/sbin", "/bin"}) {
    std::string p = std::string(dir) + "/" + name;
    if (::access(p.c_str(), X_OK) == 0) return p;
  }
  return {};
}

// pppd's verdict on an options file: 0 or 4 (no kernel PPP here) mean the
// options parsed; 2 means an option error.
inline ProgramResult PppdDryRun(const std::filesystem::path& options_file) {
  return RunProgram({FindTool("pppd"), "file", options_file.string(), "dryrun", "nodetach"});
}

inline ProgramResult DesktopFileValidate(const std::filesystem::path& file) {
  return RunProgram({FindTool("desktop-file-validate"), file.string()});
}

}  // namespace vlr_test
