#include "linesim/tcp_far_end.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace linesim {

TcpFarEnd::TcpFarEnd(const std::string& host, std::uint16_t port, TraceSink trace, std::string port_name)
    : trace_(std::move(trace)), name_(std::move(port_name)) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  std::string service = std::to_string(port);
  int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0 || !found) {
    state_ = State::Closed;
    trace("tcp " + host + ":" + service + " not resolved: " + gai_strerror(rc));
    return;
  }
  fd_ = ::socket(found->ai_family, found->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, found->ai_protocol);
  if (fd_ < 0) {
    state_ = State::Closed;
    trace(std::string("tcp socket failed: ") + std::strerror(errno));
  } else if (::connect(fd_, found->ai_addr, found->ai_addrlen) == 0) {
    state_ = State::Open;
  } else if (errno != EINPROGRESS) {
    close_socket(std::string("tcp connect failed: ") + std::strerror(errno));
  }
  freeaddrinfo(found);
  if (state_ == State::Open) trace("tcp connected to " + host + ":" + service);
}

TcpFarEnd::~TcpFarEnd() {
  if (fd_ >= 0) ::close(fd_);
}

void TcpFarEnd::trace(const std::string& text) const {
  if (trace_) trace_(name_ + " " + text);
}

void TcpFarEnd::close_socket(const std::string& why) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (state_ != State::Closed) trace(why);
  state_ = State::Closed;
}

short TcpFarEnd::poll_events() const {
  if (fd_ < 0) return 0;
  if (state_ == State::Connecting) return POLLOUT;
  short events = peer_eof_ ? 0 : POLLIN;
  if (!pending_.empty()) events |= POLLOUT;
  return events;
}

void TcpFarEnd::write(std::string_view bytes) {
  if (state_ == State::Closed) return;
  std::size_t room = kMaxPending > pending_.size() ? kMaxPending - pending_.size() : 0;
  if (bytes.size() > room) trace("tcp: peer not reading; " + std::to_string(bytes.size() - room) + " bytes dropped");
  pending_.append(bytes.substr(0, room));
  flush();
}

void TcpFarEnd::flush() {
  while (state_ == State::Open && !pending_.empty()) {
    ssize_t n = ::send(fd_, pending_.data(), pending_.size(), MSG_NOSIGNAL);
    if (n > 0) {
      pending_.erase(0, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return;
    } else {
      close_socket(std::string("tcp send failed: ") + std::strerror(errno));
    }
  }
}

std::size_t TcpFarEnd::read(char* out, std::size_t max) {
  if (state_ != State::Open || peer_eof_ || max == 0) return 0;
  for (;;) {
    ssize_t n = ::recv(fd_, out, max, MSG_DONTWAIT);
    if (n > 0) return static_cast<std::size_t>(n);
    if (n == 0) {
      peer_eof_ = true;
      close_socket("tcp peer closed the connection");
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK)
      close_socket(std::string("tcp receive failed: ") + std::strerror(errno));
    return 0;
  }
}

void TcpFarEnd::hang_up() {
  if (state_ == State::Closed) return;
  close_socket("tcp connection closed by hang-up");
}

void TcpFarEnd::poll() {
  if (state_ == State::Connecting) {
    pollfd p{fd_, POLLOUT, 0};
    if (::poll(&p, 1, 0) <= 0) return;
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err != 0) {
      close_socket(std::string("tcp connect failed: ") + std::strerror(err));
      return;
    }
    state_ = State::Open;
    trace("tcp connected");
  }
  flush();
}

}  // namespace linesim
