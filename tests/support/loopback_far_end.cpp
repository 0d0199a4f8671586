#include "support/loopback_far_end.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace test_support {

namespace {

// Binds a TCP socket to an ephemeral port of 127.0.0.1; returns the socket
// (or -1) and sets `port`.
int bind_loopback(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ::close(fd);
    return -1;
  }
  port = ntohs(a.sin_port);
  return fd;
}

}  // namespace

LoopbackFarEnd::LoopbackFarEnd(std::function<void(int fd)> script) {
  listen_ = bind_loopback(port_);
  if (listen_ >= 0) ::listen(listen_, 1);
  thread_ = std::thread([this, script = std::move(script)] {
    const int fd = listen_ >= 0 ? ::accept(listen_, nullptr, nullptr) : -1;
    if (fd < 0) return;
    script(fd);
    ::close(fd);
  });
}

LoopbackFarEnd::~LoopbackFarEnd() {
  // Shutting the listening socket down wakes an accept still waiting.
  if (listen_ >= 0) ::shutdown(listen_, SHUT_RDWR);
  thread_.join();
  if (listen_ >= 0) ::close(listen_);
}

std::string LoopbackFarEnd::url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

std::vector<std::uint8_t> read_until(int fd, const std::vector<std::uint8_t>& want) {
  std::vector<std::uint8_t> got;
  std::uint8_t buf[512];
  while (std::search(got.begin(), got.end(), want.begin(), want.end()) == got.end()) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    got.insert(got.end(), buf, buf + n);
  }
  return got;
}

void send_bytes(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

int unused_loopback_port() {
  int port = 0;
  const int fd = bind_loopback(port);
  if (fd < 0) return 0;
  ::close(fd);
  return port;
}

}  // namespace test_support
