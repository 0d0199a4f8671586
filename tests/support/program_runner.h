// Runs a real program (pppd, chat, desktop-file-validate) for the tests that
// check what we write against the program that reads it.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

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

// pppd's whole option check of an options file: `pppd file FILE dryrun`
// with the LD_PRELOAD shim that lets /dev/ppp open (tests/ppp_shim), so pppd
// reads and checks every option instead of stopping where the kernel has
// no PPP. Exit 0 and the options in effect on standard error, or 2 for an
// option error.
inline ProgramResult PppdDryRun(const std::filesystem::path& options_file) {
  return RunProgram({"/usr/bin/env", std::string("LD_PRELOAD=") + VLR_BIN_DIR + "/libdev_ppp_shim.so", FindTool("pppd"), "file",
                     options_file.string(), "dryrun", "nodetach"});
}

// One line of pppd's "pppd options in effect:" list: the option's first
// word, the rest, and where it came from ("/etc/ppp/peers/x", "command
// line").
struct PppdOption {
  std::string name, value, source;
};
inline std::vector<PppdOption> PppdOptionsInEffect(const std::string& output) {
  std::vector<PppdOption> options;
  const std::string head = "pppd options in effect:\n";
  std::size_t at = output.find(head);
  if (at == std::string::npos) return options;
  at += head.size();
  while (at < output.size()) {
    std::size_t eol = output.find('\n', at);
    const std::string line = output.substr(at, eol == std::string::npos ? std::string::npos : eol - at);
    at = eol == std::string::npos ? output.size() : eol + 1;
    const std::size_t mark = line.find("\t\t# (from ");
    if (mark == std::string::npos) break;
    const std::string option = line.substr(0, mark);
    const std::size_t blank = option.find(' ');
    std::string source = line.substr(mark + 10);
    if (!source.empty() && source.back() == ')') source.pop_back();
    options.push_back({option.substr(0, blank), blank == std::string::npos ? "" : option.substr(blank + 1), source});
  }
  return options;
}
// The value of option `name` as pppd took it; nothing when it is not in
// effect.
inline std::optional<std::string> PppdOptionValue(const std::vector<PppdOption>& options, const std::string& name) {
  for (const PppdOption& o : options) {
    if (o.name == name) return o.value;
  }
  return std::nullopt;
}

inline ProgramResult DesktopFileValidate(const std::filesystem::path& file) {
  return RunProgram({FindTool("desktop-file-validate"), file.string()});
}

}  // namespace test_support
