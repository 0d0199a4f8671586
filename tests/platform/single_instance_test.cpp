#include "platform/shell/single_instance.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>

#include <filesystem>
#include <future>

#include "platform/loop/clock.h"
#include "support/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class SingleInstanceTest : public ::testing::Test {
 protected:
  test_support::TempDir temp_{"single_instance"};
  const fs::path run_ = temp_.path();
};

TEST_F(SingleInstanceTest, SecondCopyOfTheSameRootIsRefusedAndOtherRootsAreNot) {
  SingleInstance first("joinwiz", "/roots/a", run_);
  ASSERT_EQ(first.state(), SingleInstance::State::First) << first.error();
  SingleInstance second("joinwiz", "/roots/a", run_);
  EXPECT_EQ(second.state(), SingleInstance::State::AlreadyRunning);
  SingleInstance other_root("joinwiz", "/roots/b", run_);
  EXPECT_EQ(other_root.state(), SingleInstance::State::First);
  SingleInstance other_program("modsetctl", "/roots/a", run_);
  EXPECT_EQ(other_program.state(), SingleInstance::State::First);
}

TEST_F(SingleInstanceTest, TheLockDiesWithTheRunningCopy) {
  {
    SingleInstance first("joinwiz", "/roots/a", run_);
    ASSERT_EQ(first.state(), SingleInstance::State::First);
  }
  SingleInstance again("joinwiz", "/roots/a", run_);
  EXPECT_EQ(again.state(), SingleInstance::State::First);
}

TEST_F(SingleInstanceTest, SecondCopyAsksTheRunningCopyToComeToTheFront) {
  SingleInstance first("joinwiz", "/roots/a", run_);
  ASSERT_EQ(first.state(), SingleInstance::State::First);
  ASSERT_GE(first.request_fd(), 0);
  SingleInstance second("joinwiz", "/roots/a", run_);
  ASSERT_EQ(second.state(), SingleInstance::State::AlreadyRunning);

  auto asked = std::async(std::launch::async, [&] {
    std::string error;
    bool ok = second.ask_running_copy_to_raise(&error);
    return ok ? std::string("ok") : error;
  });
  // The running copy's loop would watch request_fd(); here we wait on it.
  pollfd p{first.request_fd(), POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 10000), 1);
  EXPECT_EQ(first.take_requests(), 1);
  EXPECT_EQ(asked.get(), "ok");
  EXPECT_EQ(first.take_requests(), 0) << "nothing more is waiting";
}

TEST_F(SingleInstanceTest, AskingWithoutAListeningCopyFailsWithAReason) {
  SingleInstance first("joinwiz", "/roots/a", run_);
  SingleInstance second("joinwiz", "/roots/a", run_);
  fs::remove(first.socket_path());  // the running copy cannot be reached
  ScopedVirtualClock clock;         // its retries take no real time
  std::string error;
  EXPECT_FALSE(second.ask_running_copy_to_raise(&error));
  EXPECT_NE(error.find("running copy"), std::string::npos) << error;
}

}  // namespace
}  // namespace platform
