// The far end of a network serial port in a test: a listening socket on
// 127.0.0.1 whose one connection is served by a script on its own thread.
// The script gets the connected socket and plays the device server; when
// it returns the connection closes, which the port sees as the device
// going away.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

class LoopbackFarEnd {
 public:
  explicit LoopbackFarEnd(std::function<void(int fd)> script);
  // Stops waiting for a connection that never came and waits for the
  // script to end.
  ~LoopbackFarEnd();
  LoopbackFarEnd(const LoopbackFarEnd&) = delete;
  LoopbackFarEnd& operator=(const LoopbackFarEnd&) = delete;

  int port() const { return port_; }
  // The port's name for the network serial port: "rfc2217://127.0.0.1:PORT".
  std::string url() const;

 private:
  int listen_ = -1;
  int port_ = 0;
  std::thread thread_;
};

// Reads from `fd` until `want` was seen or the peer closed; returns all read.
std::vector<std::uint8_t> read_until(int fd, const std::vector<std::uint8_t>& want);
// Writes `bytes` to `fd` (a far end that cannot write lets the test fail on
// what the port then lacks).
void send_bytes(int fd, const std::vector<std::uint8_t>& bytes);
// A loopback TCP port that nothing listens on at the moment of the call:
// connecting to it is refused.
int unused_loopback_port();

}  // namespace test_support
