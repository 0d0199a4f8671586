// The linesim program run as a separate process, for tests and benchmarks
// that talk to it over real pseudo-terminals.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace linesim {

// Starts `program` with `args` and waits until it prints "ready" (all its
// links exist); stops it with SIGTERM and reaps it when destroyed.
class Process {
 public:
  Process(const std::string& program, std::vector<std::string> args) {
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string seen;
    char c;
    while (pid_ > 0 && ::read(out[0], &c, 1) == 1) {
      seen += c;
      if (seen.find("ready\n") != std::string::npos) {
        ready_ = true;
        break;
      }
    }
    ::close(out[0]);
  }
  ~Process() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool ready() const { return ready_; }

 private:
  pid_t pid_ = -1;
  bool ready_ = false;
};

}  // namespace linesim
