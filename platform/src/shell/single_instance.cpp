#include "platform/shell/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/loop/clock.h"

namespace platform {

namespace {

constexpr const char kRequest[] = "RAISE\n";
constexpr const char kAnswer[] = "OK\n";
constexpr int kConnectTries = 100;        // the running copy may still be binding
constexpr std::int64_t kConnectStepMs = 20;
constexpr int kAnswerWaitMs = 2000;
constexpr int kRequestWaitMs = 200;

std::string errno_text(const std::string& what) { return what + ": " + std::strerror(errno); }

// A folder we may keep a lock and a socket in: ours, a real folder, 0700.
bool safe_private_dir(const std::filesystem::path& dir) {
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0;
}

std::uint64_t fnv1a(std::string_view text) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

bool fill_address(const std::filesystem::path& path, sockaddr_un& addr, std::string* error) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  const std::string p = path.string();
  if (p.size() >= sizeof addr.sun_path) {
    if (error) *error = "socket path too long: " + p;
    return false;
  }
  std::memcpy(addr.sun_path, p.c_str(), p.size() + 1);
  return true;
}

}  // namespace

std::filesystem::path user_runtime_dir(std::string* error) {
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) {
    if (safe_private_dir(xdg)) return xdg;
  }
  std::filesystem::path dir = "/tmp/vlr-" + std::to_string(getuid());
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    if (error) *error = errno_text("cannot create " + dir.string());
    return {};
  }
  if (!safe_private_dir(dir)) {
    if (error) *error = dir.string() + " is not a private folder of this user";
    return {};
  }
  return dir;
}

SingleInstance::SingleInstance(std::string_view program, const std::filesystem::path& key,
                               const std::filesystem::path& runtime_dir) {
  std::filesystem::path dir = runtime_dir;
  if (dir.empty()) {
    dir = user_runtime_dir(&error_);
    if (dir.empty()) return;
  }
  std::error_code ec;
  std::filesystem::path canonical = std::filesystem::weakly_canonical(key, ec);
  if (ec) canonical = std::filesystem::absolute(key, ec);
  char tag[17];
  std::snprintf(tag, sizeof tag, "%016llx",
                static_cast<unsigned long long>(fnv1a(canonical.string())));
  const std::string base = std::string(program) + "-" + tag;
  lock_path_ = dir / (base + ".lock");
  socket_path_ = dir / (base + ".sock");

  lock_fd_ = open(lock_path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lock_fd_ < 0) {
    error_ = errno_text("cannot open " + lock_path_.string());
    return;
  }
  if (flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      state_ = State::AlreadyRunning;
    } else {
      error_ = errno_text("cannot lock " + lock_path_.string());
    }
    close(lock_fd_);
    lock_fd_ = -1;
    return;
  }

  // We hold the lock, so a socket file left here is a dead copy's.
  sockaddr_un addr{};
  if (!fill_address(socket_path_, addr, &error_)) return;
  unlink(socket_path_.c_str());
  listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listen_fd_, 4) != 0) {
    // Still the only copy: the lock holds. Later copies just cannot raise us.
    error_ = errno_text("cannot listen on " + socket_path_.string());
    if (listen_fd_ >= 0) close(listen_fd_);
    listen_fd_ = -1;
  }
  state_ = State::First;
}

SingleInstance::~SingleInstance() {
  if (listen_fd_ >= 0) {
    close(listen_fd_);
    unlink(socket_path_.c_str());
  }
  if (lock_fd_ >= 0) close(lock_fd_);
}

int SingleInstance::take_requests() {
  if (listen_fd_ < 0) return 0;
  int raised = 0;
  for (;;) {
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) break;
    pollfd p{fd, POLLIN, 0};
    char buf[16] = {};
    std::size_t got = 0;
    while (got < sizeof kRequest - 1 && poll(&p, 1, kRequestWaitMs) > 0) {
      ssize_t n = read(fd, buf + got, sizeof kRequest - 1 - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    if (got == sizeof kRequest - 1 && std::memcmp(buf, kRequest, got) == 0) {
      ++raised;
      ssize_t w = send(fd, kAnswer, sizeof kAnswer - 1, MSG_NOSIGNAL);
      (void)w;  // the asker may have gone; nothing to do about it
    }
    close(fd);
  }
  return raised;
}

bool SingleInstance::ask_running_copy_to_raise(std::string* error) const {
  sockaddr_un addr{};
  std::string why;
  if (socket_path_.empty()) {
    if (error) *error = "no running copy is known";
    return false;
  }
  if (!fill_address(socket_path_, addr, error)) return false;
  for (int attempt = 0; attempt < kConnectTries; ++attempt) {
    if (attempt) clock().sleep_ms(kConnectStepMs);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      why = errno_text("socket");
      break;
    }
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      why = errno_text("cannot reach the running copy at " + socket_path_.string());
      close(fd);
      continue;
    }
    bool ok = send(fd, kRequest, sizeof kRequest - 1, MSG_NOSIGNAL) ==
              static_cast<ssize_t>(sizeof kRequest - 1);
    char buf[4] = {};
    std::size_t got = 0;
    pollfd p{fd, POLLIN, 0};
    while (ok && got < sizeof kAnswer - 1 && poll(&p, 1, kAnswerWaitMs) > 0) {
      ssize_t n = read(fd, buf + got, sizeof kAnswer - 1 - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    close(fd);
    if (ok && got == sizeof kAnswer - 1 && std::memcmp(buf, kAnswer, got) == 0) return true;
    why = "the running copy did not answer";
    break;
  }
  if (error) *error = why;
  return false;
}

}  // namespace platform
