#include "platform/storage/confined.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

namespace platform {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

namespace {

std::atomic<ConfineMethod> g_method{ConfineMethod::Auto};
// -1 unknown, 0 missing, 1 present.
std::atomic<int> g_openat2_state{-1};

mode_t file_mode(FileMode mode) {
  return mode == FileMode::OwnerOnly ? 0600 : mode == FileMode::Executable ? 0755 : 0644;
}
mode_t dir_mode(FileMode mode) { return mode == FileMode::OwnerOnly ? 0700 : 0755; }

std::string quoted(const std::filesystem::path& base, std::string_view relative) {
  std::string text = "\"";
  text += (base / std::string(relative)).string();
  text += "\"";
  return text;
}

std::string reason(int err) {
  switch (err) {
    case ELOOP: return "passes through a symbolic link (refused)";
    case EXDEV: return "leads outside its folder (refused)";
    case ENOENT: return "does not exist";
    case ENOTDIR: return "has a component that is not a folder";
    case EACCES:
    case EPERM: return "permission denied";
    case EEXIST: return "already exists";
    case EISDIR: return "is a folder";
    default: return std::strerror(err);
  }
}

OpenResult failure(const std::filesystem::path& base, std::string_view relative, int err,
                   std::string_view why = {}) {
  OpenResult r;
  r.errno_value = err;
  r.error = quoted(base, relative) + ": " + (why.empty() ? reason(err) : std::string(why));
  return r;
}

// Splits a '/' path into components; false when it is absolute, empty, or
// holds an empty, "." or ".." component.
bool split_relative(std::string_view relative, std::vector<std::string>& parts) {
  parts.clear();
  if (relative.empty() || relative.front() == '/') return false;
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = relative.find('/', start);
    if (end == std::string_view::npos) end = relative.size();
    std::string_view part = relative.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    parts.emplace_back(part);
    start = end + 1;
  }
  return !parts.empty();
}

long sys_openat2(int dirfd, const char* path, open_how* how) {
  return ::syscall(SYS_openat2, dirfd, path, how, sizeof(*how));
}

UniqueFd open_base(const std::filesystem::path& base) {
  return UniqueFd(::open(base.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// openat2 path: one call with the kernel enforcing the rule. Returns -errno.
int open_with_openat2(int basefd, std::string_view relative, int flags, mode_t mode) {
  open_how how{};
  how.flags = static_cast<unsigned>(flags | O_CLOEXEC);
  // O_TMPFILE includes O_DIRECTORY: test all its bits. A mode without
  // O_CREAT or O_TMPFILE makes openat2 answer EINVAL.
  bool creates = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
  how.mode = creates ? mode : 0;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  std::string path(relative);
  for (int attempt = 0; attempt < 8; ++attempt) {
    long fd = sys_openat2(basefd, path.c_str(), &how);
    if (fd >= 0) return static_cast<int>(fd);
    // EAGAIN: a concurrent rename raced the lookup; the kernel asks to retry.
    if (errno != EAGAIN && errno != EINTR) return -errno;
  }
  return -EAGAIN;
}

// -errno of a failed openat of `name` in `dir`; O_DIRECTORY | O_NOFOLLOW on a
// link answers ENOTDIR, which is reported as what it really is: a link.
int open_error(int dir, const std::string& name) {
  int err = errno;
  struct stat st;
  if (err == ENOTDIR && ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(st.st_mode)) {
    err = ELOOP;
  }
  return -err;
}

// Fallback: walk component by component, refusing links at every step.
// Returns the descriptor or -errno.
int open_with_walk(int basefd, const std::vector<std::string>& parts, int flags, mode_t mode) {
  UniqueFd holder;
  int dir = basefd;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    int next = ::openat(dir, parts[i].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) return open_error(dir, parts[i]);
    holder.reset(next);
    dir = next;
  }
  int fd = ::openat(dir, parts.back().c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return open_error(dir, parts.back());
  // With O_PATH a trailing link is opened as the link itself: refuse it.
  if (flags & O_PATH) {
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISLNK(st.st_mode)) {
      ::close(fd);
      return -ELOOP;
    }
  }
  return fd;
}

}  // namespace

void set_confine_method(ConfineMethod method) { g_method.store(method); }
ConfineMethod confine_method() { return g_method.load(); }

bool openat2_available() {
  int state = g_openat2_state.load();
  if (state < 0) {
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH;
    long fd = sys_openat2(AT_FDCWD, ".", &how);
    state = (fd < 0 && errno == ENOSYS) ? 0 : 1;
    if (fd >= 0) ::close(static_cast<int>(fd));
    g_openat2_state.store(state);
  }
  return state == 1;
}

OpenResult open_beneath(const std::filesystem::path& base, std::string_view relative, int flags,
                        FileMode mode) {
  std::vector<std::string> parts;
  if (!split_relative(relative, parts)) {
    return failure(base, relative, EINVAL,
                   "is not a plain relative path (absolute, empty, \".\" or \"..\" refused)");
  }
  UniqueFd basefd = open_base(base);
  if (!basefd.valid()) {
    int err = errno;
    OpenResult r;
    r.errno_value = err;
    r.error = "folder \"" + base.string() + "\": " + reason(err);
    return r;
  }

  int result = -ENOSYS;
  ConfineMethod method = g_method.load();
  if (method != ConfineMethod::Walk && (method == ConfineMethod::Openat2 || openat2_available())) {
    result = open_with_openat2(basefd.get(), relative, flags, file_mode(mode));
    if (result == -ENOSYS) {
      g_openat2_state.store(0);
      if (method == ConfineMethod::Openat2) {
        return failure(base, relative, ENOSYS, "openat2 is not available on this kernel");
      }
    }
  }
  if (result == -ENOSYS) result = open_with_walk(basefd.get(), parts, flags, file_mode(mode));

  if (result < 0) return failure(base, relative, -result);
  OpenResult r;
  r.fd.reset(result);
  return r;
}

bool make_dirs_beneath(const std::filesystem::path& base, std::string_view relative,
                       FileMode mode, std::string* error) {
  std::vector<std::string> parts;
  if (!split_relative(relative, parts)) {
    if (error) *error = quoted(base, relative) + ": is not a plain relative path";
    return false;
  }
  UniqueFd dir = open_base(base);
  if (!dir.valid()) {
    if (error) *error = "folder \"" + base.string() + "\": " + reason(errno);
    return false;
  }
  std::string done;
  for (const std::string& part : parts) {
    done += done.empty() ? part : "/" + part;
    if (::mkdirat(dir.get(), part.c_str(), dir_mode(mode)) != 0 && errno != EEXIST) {
      if (error) *error = quoted(base, done) + ": cannot create folder: " + reason(errno);
      return false;
    }
    int next = ::openat(dir.get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      int err = errno;
      struct stat st;
      if (::fstatat(dir.get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(st.st_mode)) {
        err = ELOOP;
      }
      if (error) *error = quoted(base, done) + ": " + reason(err);
      return false;
    }
    dir.reset(next);
  }
  return true;
}

bool check_beneath(const std::filesystem::path& base, std::string_view relative,
                   std::string* error) {
  std::vector<std::string> parts;
  if (!split_relative(relative, parts)) {
    if (error) *error = quoted(base, relative) + ": is not a plain relative path";
    return false;
  }
  std::string_view parent;
  if (std::size_t slash = relative.rfind('/'); slash != std::string_view::npos) {
    parent = relative.substr(0, slash);
  }
  UniqueFd dir;
  if (parent.empty()) {
    dir = open_base(base);
    if (!dir.valid()) {
      if (error) *error = "folder \"" + base.string() + "\": " + reason(errno);
      return false;
    }
  } else {
    OpenResult opened = open_beneath(base, parent, O_PATH | O_DIRECTORY);
    if (!opened) {
      if (error) *error = opened.error;
      return false;
    }
    dir = std::move(opened.fd);
  }
  struct stat st;
  if (::fstatat(dir.get(), parts.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return true;  // a new file: fine
    if (error) *error = quoted(base, relative) + ": " + reason(errno);
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    if (error) *error = quoted(base, relative) + ": " + reason(ELOOP);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    if (error) *error = quoted(base, relative) + ": is not a regular file";
    return false;
  }
  return true;
}

}  // namespace platform
