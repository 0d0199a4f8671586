// A TCP peer as the far end of a call: bytes are bridged both ways.
#pragma once

#include <cstdint>
#include <string>

#include "linesim/far_end.h"

namespace linesim {

class TcpFarEnd final : public FarEnd {
 public:
  static constexpr std::size_t kMaxPending = 64 * 1024;  // unsent bytes kept towards the peer

  // Starts a non-blocking connect to host:port (numeric or resolvable name).
  TcpFarEnd(const std::string& host, std::uint16_t port, TraceSink trace, std::string port_name);
  ~TcpFarEnd() override;
  TcpFarEnd(const TcpFarEnd&) = delete;
  TcpFarEnd& operator=(const TcpFarEnd&) = delete;

  State state() const override { return state_; }
  void write(std::string_view bytes) override;
  std::size_t read(char* out, std::size_t max) override;
  void hang_up() override;
  void poll() override;
  int fd() const override { return fd_; }
  short poll_events() const override;

 private:
  void close_socket(const std::string& why);
  void flush();
  void trace(const std::string& text) const;

  int fd_ = -1;
  State state_ = State::Connecting;
  std::string pending_;  // caller's bytes not yet written to the socket
  bool peer_eof_ = false;
  TraceSink trace_;
  std::string name_;
};

}  // namespace linesim
