#include "platform/storage/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>

namespace platform {
namespace {

std::atomic<std::uint64_t> g_replacements{0};

std::string errno_text(const char* what, const std::filesystem::path& path, int err) {
  return std::string(what) + " " + path.string() + ": " + std::strerror(err);
}

void set_error(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

// Retries close-free calls interrupted by a signal.
template <typename F>
auto retry_eintr(F f) {
  for (;;) {
    auto r = f();
    if (r >= 0 || errno != EINTR) return r;
  }
}

bool write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// A name no other writer in this or another process will pick at once; the
// O_EXCL open below settles any clash anyway.
std::string temp_suffix() {
  static std::atomic<unsigned> counter{0};
  thread_local std::mt19937 rng{std::random_device{}()};
  char buf[64];
  std::snprintf(buf, sizeof buf, ".tmp.%d.%u.%08x", static_cast<int>(::getpid()),
                counter.fetch_add(1), static_cast<unsigned>(rng()));
  return buf;
}

}  // namespace

FileLock::FileLock(const std::filesystem::path& data_path) {
  std::filesystem::path lock_path = data_path;
  lock_path += ".lock";
  int fd = retry_eintr([&] {
    return ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  });
  if (fd < 0) {
    error_ = errno_text("cannot open lock file", lock_path, errno);
    return;
  }
  if (retry_eintr([&] { return ::flock(fd, LOCK_EX); }) < 0) {
    error_ = errno_text("cannot lock", lock_path, errno);
    ::close(fd);
    return;
  }
  fd_ = fd;
}

FileLock::~FileLock() {
  // Closing the descriptor releases the flock.
  if (fd_ >= 0) ::close(fd_);
}

FolderLock::FolderLock(const std::filesystem::path& dir) {
  int fd = retry_eintr([&] { return ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (fd < 0) {
    error_ = errno_text("cannot open folder", dir, errno);
    return;
  }
  if (retry_eintr([&] { return ::flock(fd, LOCK_EX); }) < 0) {
    error_ = errno_text("cannot lock", dir, errno);
    ::close(fd);
    return;
  }
  fd_ = fd;
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

bool replace_file(const std::filesystem::path& path, std::string_view contents, FileMode mode,
                  std::string* error) {
  std::filesystem::path dir = path.parent_path();
  if (dir.empty()) dir = ".";
  if (!path.has_filename()) {
    set_error(error, "cannot replace " + path.string() + ": not a file name");
    return false;
  }

  // A shared file keeps the mode it has (a new one gets 0644); a file that
  // holds a password is 0600 after every write, whatever it was before, so
  // a password never lands in a file others can read; a hook is 0755.
  mode_t final_mode = mode == FileMode::OwnerOnly ? 0600 : mode == FileMode::Executable ? 0755 : 0644;
  bool keep_existing_mode = false;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      set_error(error, "cannot replace " + path.string() + ": not a regular file");
      return false;
    }
    if (mode == FileMode::Shared) {
      final_mode = st.st_mode & 07777;
      keep_existing_mode = true;
    }
  }

  std::filesystem::path temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    // Built by append: GCC 12 warns falsely (-Wrestrict) on "." + string.
    std::string name(1, '.');
    name.append(path.filename().native()).append(temp_suffix());
    temp = dir / name;
    fd = retry_eintr([&] {
      return ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, final_mode);
    });
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    set_error(error, errno_text("cannot create temporary file for", path, errno));
    return false;
  }

  auto fail = [&](const char* what) {
    int err = errno;
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    set_error(error, errno_text(what, temp, err));
    return false;
  };

  // The umask may have narrowed the mode at creation; a replaced file must
  // come back exactly as it was. This touches only our own temporary file.
  if (keep_existing_mode && ::fchmod(fd, final_mode) < 0) return fail("cannot set mode of");
  // 0600 asks for nothing the umask could take away; O_EXCL made the file ours.
  if (!write_all(fd, contents)) return fail("cannot write");
  if (::fsync(fd) < 0) return fail("cannot flush");
  int rc = ::close(fd);
  fd = -1;
  if (rc < 0 && errno != EINTR) return fail("cannot close");
  if (::rename(temp.c_str(), path.c_str()) < 0) return fail("cannot rename over the target");
  g_replacements.fetch_add(1, std::memory_order_relaxed);

  // Make the rename itself durable. The new file is in place already, so a
  // failure here is reported but the contents are not rolled back.
  int dfd = retry_eintr([&] { return ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (dfd < 0) {
    set_error(error, errno_text("cannot open folder to flush", dir, errno));
    return false;
  }
  if (::fsync(dfd) < 0 && errno != EINVAL) {
    int err = errno;
    ::close(dfd);
    set_error(error, errno_text("cannot flush folder", dir, err));
    return false;
  }
  ::close(dfd);
  return true;
}

std::uint64_t replace_file_count() { return g_replacements.load(std::memory_order_relaxed); }

bool read_file(const std::filesystem::path& path, std::string& contents, std::string* error,
               bool* missing) {
  if (missing) *missing = false;
  int fd = retry_eintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
  if (fd < 0) {
    int err = errno;
    if (missing) *missing = (err == ENOENT || err == ENOTDIR);
    set_error(error, errno_text("cannot open", path, err));
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    set_error(error, "cannot read " + path.string() + ": is a folder");
    return false;
  }
  std::string out;
  if (st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      set_error(error, errno_text("cannot read", path, err));
      return false;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  contents = std::move(out);
  return true;
}

}  // namespace platform
