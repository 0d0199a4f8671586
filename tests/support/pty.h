// A pseudo-terminal pair: the test holds the master and plays the device's
// far side; the code under test opens slave() as its serial port.
#pragma once

#include <string>
#include <string_view>

namespace test_support {

class Pty {
 public:
  Pty();  // ok() says whether the pair could be made
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool ok() const { return master_ >= 0 && !slave_.empty(); }
  int master() const { return master_; }
  const std::string& slave() const { return slave_; }

  // Closing the master is what a device that vanishes looks like.
  void close_master();
  // One read of what the slave side wrote (blocks until something comes);
  // empty at end or error.
  std::string read_master();
  // Writes all of `bytes` to the slave's reader; false when it could not.
  bool write_master(std::string_view bytes);

 private:
  int master_ = -1;
  std::string slave_;
};

}  // namespace test_support
