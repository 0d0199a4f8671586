#include "platform/storage/files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <random>

#include "platform/storage/system_root.h"

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
  if (!check_inside_root(lock_path, &error_)) return;
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
  if (!check_inside_root(path, error)) return false;

  // A shared file keeps the mode it has (a new one gets 0644); a file that
  // holds a password is 0600 after every write, whatever it was before, so
  // a password never lands in a file others can read; a hook is 0755.
  mode_t final_mode = mode == FileMode::OwnerOnly ? 0600 : mode == FileMode::Executable ? 0755 : 0644;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      set_error(error, "cannot replace " + path.string() + ": not a regular file");
      return false;
    }
    // The rename needs only the folder, so it would replace a file the
    // caller may not write (a read-only settings file): refuse that here.
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
      set_error(error, errno_text("cannot replace", path, errno));
      return false;
    }
    if (mode == FileMode::Shared) {
      final_mode = st.st_mode & 07777;
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

  // The message names the file being saved, not the temporary one: that is
  // what the user knows, and the reason stays short enough to be read.
  auto fail = [&](const char* what) {
    int err = errno;
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    set_error(error, errno_text(what, path, err));
    return false;
  };

  // The umask may have narrowed the mode at creation; a replaced file must
  // come back exactly as it was, a new one exactly at its mode. This touches
  // only our own temporary file (O_EXCL made it ours).
  if (::fchmod(fd, final_mode) < 0) return fail("cannot set mode of");
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

bool make_folders(const std::filesystem::path& path, FileMode mode, std::string* error) {
  const mode_t folder_mode = mode == FileMode::OwnerOnly ? 0700 : 0755;
  std::filesystem::path done;
  for (const auto& part : path) {
    done /= part;
    // A folder of the root that is a link would take the new ones elsewhere.
    if (!check_inside_root(done, error)) return false;
    if (::mkdir(done.c_str(), folder_mode) == 0) {
      // mkdir's mode went through the umask; a new folder gets exactly its own.
      if (::chmod(done.c_str(), folder_mode) != 0) {
        set_error(error, errno_text("cannot set the mode of folder", done, errno));
        return false;
      }
    } else if (errno != EEXIST) {
      set_error(error, errno_text("cannot create folder", done, errno));
      return false;
    }
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    set_error(error, "cannot use " + path.string() + " as a folder");
    return false;
  }
  return true;
}

int remove_stale_temp_files(const std::filesystem::path& folder) {
  std::error_code ec;
  int removed = 0;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    // ".NAME.tmp.PID.N.RRRRRRRR", as temp_suffix() makes them.
    const std::size_t tmp = name.rfind(".tmp.");
    if (name.size() < 2 || name[0] != '.' || tmp == std::string::npos || tmp == 0) continue;
    unsigned pid = 0, n = 0, r = 0;
    char tail = 0;
    if (std::sscanf(name.c_str() + tmp, ".tmp.%u.%u.%8x%c", &pid, &n, &r, &tail) != 3) continue;
    const bool running = static_cast<pid_t>(pid) != ::getpid() &&
                         (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
    if (running) continue;  // another live writer's file
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::unlink(it->path().c_str()) == 0) ++removed;
  }
  return removed;
}

std::uint64_t replace_file_count() { return g_replacements.load(std::memory_order_relaxed); }

namespace {

// Timestamps advance in ticks (a few ms; seconds on some file systems): a
// file modified within this margin of a stamp may change again unseen.
constexpr std::int64_t kTickMarginNs = 1'000'000'000;

std::int64_t ns_of(const struct timespec& t) { return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec; }

FileStamp stamp_of(const struct stat& st) {
  FileStamp stamp;
  stamp.device = st.st_dev;
  stamp.inode = st.st_ino;
  stamp.size = st.st_size;
  stamp.mtime_ns = ns_of(st.st_mtim);
  stamp.ctime_ns = ns_of(st.st_ctim);
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  // Only the modification time: every writer sets it to "now", and a file
  // whose times were set back on purpose is still told apart by its ctime.
  stamp.racy = ns_of(now) - stamp.mtime_ns < kTickMarginNs;
  return stamp;
}

}  // namespace

bool stamp_file(const std::filesystem::path& path, FileStamp* stamp, int* err) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (err) *err = errno;
    return false;
  }
  if (stamp) *stamp = stamp_of(st);
  return true;
}

WholeFile read_whole_file(const std::filesystem::path& path, std::size_t max_size, ReadSource source) {
  WholeFile file;
  auto fail = [&](ReadStatus status, int err) {
    file.status = status;
    file.error_number = err;
    file.contents.clear();
    return std::move(file);
  };
  // O_NONBLOCK: a FIFO put in place of the file must not hang the open; it
  // is refused below as not a regular file.
  // A stream the caller accepts is opened the ordinary way, which waits for a
  // pipe's writer as any program reading a pipe does.
  int open_flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
  struct stat named {};
  if (source == ReadSource::FileOrStream && ::stat(path.c_str(), &named) == 0 &&
      (S_ISFIFO(named.st_mode) || S_ISCHR(named.st_mode)))
    open_flags &= ~O_NONBLOCK;
  const int fd = retry_eintr([&] { return ::open(path.c_str(), open_flags); });
  if (fd < 0) return fail(ReadStatus::CannotOpen, errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) < 0) return fail(ReadStatus::CannotStat, errno);
  const bool stream = source == ReadSource::FileOrStream && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode));
  if (!S_ISREG(st.st_mode) && !stream) {
    file.folder = S_ISDIR(st.st_mode);
    return fail(ReadStatus::NotRegular, 0);
  }
  if (stream) st.st_size = 0;  // read to its end, within the limit
  else if (static_cast<std::uint64_t>(st.st_size) > max_size) return fail(ReadStatus::TooLarge, 0);
  // Reads block as they always do (a slow disk or a pipe's writer waits).
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::string& text = file.contents;
  // One spare byte so the read that finds the end needs no reallocation.
  text.resize(std::min(static_cast<std::size_t>(st.st_size) + 1, max_size + 1));
  std::size_t got = 0;
  for (;;) {
    if (got == text.size()) {
      // The file may have grown since fstat (or stat gave 0, as /proc does);
      // look for more, within the limit.
      if (text.size() > max_size) return fail(ReadStatus::Grew, 0);
      text.resize(std::min(text.size() + 65536, max_size + 1));
    }
    const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(ReadStatus::CannotRead, errno);
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  text.resize(got);
  // The stamp after reading: a file that changed while it was read will not
  // match the next stat, and is read again.
  struct stat after {};
  if (::fstat(fd, &after) == 0) st = after;
  file.stamp = stamp_of(st);
  if (static_cast<std::int64_t>(got) != file.stamp.size) file.stamp.size = -1;
  return file;
}

bool read_file(const std::filesystem::path& path, std::string& contents, std::string* error,
               bool* missing, ReadSource source) {
  WholeFile file = read_whole_file(path, std::numeric_limits<std::size_t>::max() - 1, source);
  if (missing) *missing = file.missing();
  switch (file.status) {
    case ReadStatus::Ok:
      contents = std::move(file.contents);
      return true;
    case ReadStatus::CannotOpen:
      set_error(error, errno_text("cannot open", path, file.error_number));
      return false;
    case ReadStatus::NotRegular:
      set_error(error, "cannot read " + path.string() + (file.folder ? ": is a folder" : ": not a regular file"));
      return false;
    case ReadStatus::TooLarge:
    case ReadStatus::Grew:
      set_error(error, "cannot read " + path.string() + ": too large");
      return false;
    case ReadStatus::CannotStat:
    case ReadStatus::CannotRead:
      break;
  }
  set_error(error, errno_text("cannot read", path, file.error_number));
  return false;
}

}  // namespace platform
