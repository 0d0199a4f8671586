// Single instance: one running copy of a program per user and system root.
//
// The first copy takes an flock() on a lock file in the user's runtime folder
// ($XDG_RUNTIME_DIR, else /tmp/vlr-UID made 0700 and checked to be ours) and
// listens on a unix socket beside it. A later copy finds the lock taken and,
// instead of guessing which window is the running copy's, asks it over the
// socket to bring its window to the front ("RAISE", answered "OK"). The lock
// dies with the process, so a crashed copy never blocks the next start.
//
// Index: SingleInstance (acquire, request_fd, take_requests),
//        ask_running_copy_to_raise.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

class SingleInstance {
 public:
  enum class State { First, AlreadyRunning, Failed };

  // Tries to become the running copy of `program` for `key` (the root path).
  // `runtime_dir` overrides the runtime folder (tests); empty means default.
  SingleInstance(std::string_view program, const std::filesystem::path& key,
                 const std::filesystem::path& runtime_dir = {});
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  State state() const { return state_; }
  // Why state() is Failed (then the caller may run anyway, unguarded).
  const std::string& error() const { return error_; }

  // First copy: readable when another copy is asking; watch it in the loop.
  // -1 otherwise.
  int request_fd() const { return listen_fd_; }
  // First copy: answers every waiting request without blocking for long;
  // returns how many asked us to come to the front.
  int take_requests();

  // Later copy: asks the running copy to come to the front. Retries for a
  // short while, since the running copy may still be starting. True once it
  // answered; false (with `error`) if it never did.
  bool ask_running_copy_to_raise(std::string* error = nullptr) const;

  const std::filesystem::path& socket_path() const { return socket_path_; }

 private:
  State state_ = State::Failed;
  std::string error_;
  int lock_fd_ = -1;
  int listen_fd_ = -1;
  std::filesystem::path lock_path_;
  std::filesystem::path socket_path_;
};

// The per-user runtime folder that single-instance files live in; created
// owner-only when missing. Empty (and `error`) when no safe folder exists.
std::filesystem::path user_runtime_dir(std::string* error = nullptr);

}  // namespace platform
