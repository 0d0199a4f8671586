// Common set-up of the library tests: virtual time, a private system root
// (ScopedSystemRoot) whose COM links lead nowhere (so no test touches the machine's real
// /dev/ttyS*), a fresh library state, and a recorder for traces and status.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fake_modem.h"
#include "platform/loop/clock.h"
#include "platform/loop/message_loop.h"
#include "platform/storage/system_root.h"
#include "serlink.h"
#include "serlink_internal.h"

namespace serlink_test {

inline std::vector<std::string>& traces() {
  static std::vector<std::string> lines;
  return lines;
}

inline void record_trace(const char* format, const char* text) {
  char line[1024];
  if (text) {
    std::snprintf(line, sizeof line, format, text);
  } else {
    std::snprintf(line, sizeof line, "%s", format);
  }
  traces().push_back(line);
}

class SerlinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = system_root_.path();
    std::filesystem::create_directories(root_ / "dosdevices");
    for (int n = 1; n <= 4; ++n) {
      std::filesystem::create_symlink("/dev/pts/no-such-port", root_ / "dosdevices" / ("com" + std::to_string(n)));
    }
    ASSERT_EQ(SerlinkInitialization(1), SERLINK_OK);
    traces().clear();
    ConnectSetParm(1, record_trace);
  }

  void TearDown() override {
    ConnectShutdown(nullptr);
    SioSetPrivilegedMode(0);
    std::int32_t port = 0;
    SerialChannelClose(&port);
    SerlinkTermination(1);
    SerlinkInitialization(1);
  }

  // Opens COM(port+1) through the library with default metrics.
  std::int32_t open_port(std::int32_t port, std::int32_t in = 128, std::int32_t out = 128) {
    SerialOpenRequest r{port, in, out};
    return SerialChannelOpen(&r);
  }

  // Lines sent by the library, as traced ("Send: ..." without the prefix).
  std::vector<std::string> sent_lines() const {
    std::vector<std::string> out;
    for (const auto& t : traces()) {
      if (t.rfind("Send: ", 0) == 0) out.push_back(t.substr(6));
    }
    return out;
  }

  platform::ScopedVirtualClock clock_;
  platform::ScopedSystemRoot system_root_;
  std::filesystem::path root_;
};

}  // namespace serlink_test
