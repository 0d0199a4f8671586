// Runs a piece of a test in a child process, or as an ordinary user: a child process that gives up
// root for a user id no account has (no groups, not root), the way a person
// without privileges runs the programs. Root ignores file modes, so a test
// of what a read-only file does needs this.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace test_support {

// A user id (also free as a group id) that no account and no group has.
inline uid_t fresh_uid() {
  for (uid_t id = 61234;; ++id)
    if (::getpwuid(id) == nullptr && ::getgrgid(id) == nullptr) return id;
}

// Runs `work` in a child process (which ends after it) and returns what
// `work` returned; `setup` runs first in the child and may refuse with a
// text of its own.
inline std::string run_in_child(const std::function<std::string()>& work,
                                const std::function<std::optional<std::string>()>& setup = {}) {
  int fds[2];
  if (::pipe(fds) != 0) return "no pipe";
  const pid_t child = ::fork();
  if (child < 0) return "no fork";
  if (child == 0) {
    ::close(fds[0]);
    std::optional<std::string> refused = setup ? setup() : std::nullopt;
    const std::string out = refused ? *refused : work();
    for (std::size_t done = 0; done < out.size();) {
      const ssize_t n = ::write(fds[1], out.data() + done, out.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string got;
  char buf[4096];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) got += "[child ended with status " + std::to_string(status) + "]";
  return got;
}

// Runs `work` in a child as fresh_uid(), after making `folder` (and what is
// in it) that user's and then running `prepare` as root (modes, owners),
// which returns false when it could not. Returns what `work` returned, or
// nullopt when this process cannot change users (not root): the caller
// skips then.
inline std::optional<std::string> run_as_fresh_user(const std::filesystem::path& folder,
                                                    const std::function<std::string()>& work,
                                                    const std::function<bool()>& prepare = {}) {
  if (::geteuid() != 0) return std::nullopt;
  const uid_t id = fresh_uid();
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
    if (::lchown(entry.path().c_str(), id, id) != 0) return "cannot give " + entry.path().string() + " away";
  if (::chown(folder.c_str(), id, id) != 0) return "cannot give " + folder.string() + " away";
  if (prepare && !prepare()) return "cannot prepare " + folder.string();
  return run_in_child(work, [id]() -> std::optional<std::string> {
    if (::setgroups(0, nullptr) == 0 && ::setresgid(id, id, id) == 0 && ::setresuid(id, id, id) == 0)
      return std::nullopt;
    return "cannot become user " + std::to_string(id);
  });
}

}  // namespace test_support
