#include "support/pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace test_support {

Pty::Pty() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) return;
  const char* name = nullptr;
  if (::grantpt(master_) == 0 && ::unlockpt(master_) == 0) name = ::ptsname(master_);
  if (name == nullptr) {
    close_master();
    return;
  }
  slave_ = name;
}

Pty::~Pty() { close_master(); }

void Pty::close_master() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

std::string Pty::read_master() {
  char buf[256];
  const ssize_t n = master_ >= 0 ? ::read(master_, buf, sizeof buf) : -1;
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

bool Pty::write_master(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = master_ >= 0 ? ::write(master_, bytes.data(), bytes.size()) : -1;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace test_support
