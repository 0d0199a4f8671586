#include "platform/loop/message_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/loop/clock.h"

namespace platform {
namespace {

// A window that records what it receives, with the virtual time of arrival.
struct Recorder : MessageTarget {
  struct Entry {
    unsigned message;
    WPARAM wparam;
    std::int64_t at;
    bool operator==(const Entry&) const = default;
  };
  std::vector<Entry> log;
  std::function<void(const Message&)> on_message;
  HWND hwnd = MessageLoop::current().register_window(this);

  ~Recorder() override { MessageLoop::current().unregister_window(hwnd); }

  LRESULT handle_message(const Message& m) override {
    log.push_back({m.message, m.wparam, clock().now_ms()});
    if (on_message) on_message(m);
    return static_cast<LRESULT>(m.wparam) + 1;
  }
};

class MessageLoopTest : public ::testing::Test {
 protected:
  ScopedVirtualClock vclock{0};
  MessageLoop& loop = MessageLoop::current();

  // Runs the loop until virtual time `until`, then quits.
  void run_until(std::int64_t until) {
    TimerId stop = loop.set_thread_timer(until - clock().now_ms(), [this](TimerId id) {
      loop.kill_thread_timer(id);
      loop.quit(0);
    });
    ASSERT_NE(stop, 0u);
    loop.run();
  }
};

TEST_F(MessageLoopTest, TimersFireAtTheirPeriodsInDueOrder) {
  Recorder w;
  std::vector<std::pair<std::int64_t, std::string>> ticks;
  w.on_message = [&](const Message& m) {
    if (m.message == WM_TIMER) ticks.push_back({clock().now_ms(), "w" + std::to_string(m.wparam)});
  };
  loop.set_timer(w.hwnd, 1, 100);
  loop.set_timer(w.hwnd, 2, 250);
  TimerId t = loop.set_thread_timer(70, [&](TimerId) { ticks.push_back({clock().now_ms(), "t"}); });

  run_until(520);
  loop.kill_thread_timer(t);

  std::vector<std::pair<std::int64_t, std::string>> expected = {
      {70, "t"},   {100, "w1"}, {140, "t"},  {200, "w1"}, {210, "t"}, {250, "w2"},
      {280, "t"},  {300, "w1"}, {350, "t"},  {400, "w1"}, {420, "t"}, {490, "t"},
      {500, "w1"}, {500, "w2"},
  };
  EXPECT_EQ(ticks, expected);
}

TEST_F(MessageLoopTest, ASixtySecondTimeoutRunsWithoutWaiting) {
  bool fired = false;
  loop.set_thread_timer(60'000, [&](TimerId id) {
    fired = true;
    loop.kill_thread_timer(id);
    loop.quit(7);
  });
  EXPECT_EQ(loop.run(), 7);
  EXPECT_TRUE(fired);
  EXPECT_EQ(clock().now_ms(), 60'000);
}

TEST_F(MessageLoopTest, TimerKilledFromItsOwnTickFiresNoMore) {
  int thread_ticks = 0;
  loop.set_thread_timer(10, [&](TimerId id) {
    if (++thread_ticks == 3) loop.kill_thread_timer(id);
  });
  Recorder w;
  w.on_message = [&](const Message& m) {
    if (m.message == WM_TIMER) loop.kill_timer(w.hwnd, m.wparam);
  };
  loop.set_timer(w.hwnd, 5, 10);
  run_until(200);
  EXPECT_EQ(thread_ticks, 3);
  EXPECT_EQ(w.log.size(), 1u);
}

TEST_F(MessageLoopTest, TimerRestartedFromItsTickTakesTheNewPeriod) {
  Recorder w;
  w.on_message = [&](const Message& m) {
    if (m.message == WM_TIMER && w.log.size() == 1) loop.set_timer(w.hwnd, 1, 50);
  };
  loop.set_timer(w.hwnd, 1, 10);
  run_until(125);
  std::vector<std::int64_t> times;
  for (auto& e : w.log) times.push_back(e.at);
  EXPECT_EQ(times, (std::vector<std::int64_t>{10, 60, 110}));
}

TEST_F(MessageLoopTest, MessagePostedToADestroyedWindowIsDropped) {
  auto w = std::make_unique<Recorder>();
  HWND h = w->hwnd;
  ASSERT_TRUE(post_message(h, WM_USER + 1));
  w.reset();  // unregistered with the message still queued
  EXPECT_FALSE(is_window(h));
  EXPECT_FALSE(post_message(h, WM_USER + 2));
  EXPECT_EQ(send_message(h, WM_USER + 3), 0);
  EXPECT_TRUE(loop.pump_pending());  // must not touch the freed window

  Recorder other;  // a new window never gets the old handle
  EXPECT_NE(other.hwnd, h);
}

TEST_F(MessageLoopTest, PostedMessagesArriveInOrderBeforeDueTimers) {
  Recorder w;
  loop.set_timer(w.hwnd, 9, 0);
  post_message(w.hwnd, WM_USER + 1, 1);
  post_message(w.hwnd, WM_USER + 2, 2);
  EXPECT_TRUE(loop.pump_pending());
  ASSERT_EQ(w.log.size(), 3u);
  EXPECT_EQ(w.log[0].message, WM_USER + 1u);
  EXPECT_EQ(w.log[1].message, WM_USER + 2u);
  EXPECT_EQ(w.log[2].message, WM_TIMER);
  EXPECT_EQ(w.log[2].wparam, 9u);
}

TEST_F(MessageLoopTest, SendCallsTheHandlerAtOnceAndReturnsItsResult) {
  Recorder w;
  EXPECT_EQ(send_message(w.hwnd, WM_USER, 41), 42);
  ASSERT_EQ(w.log.size(), 1u);
}

TEST_F(MessageLoopTest, ModalLoopKeepsTheOwnersTimerTickingAndReturnsItsResult) {
  Recorder owner;
  ModalState modal;
  int modal_result = 0;
  int ticks_during_modal = 0;
  bool in_modal = false;
  owner.on_message = [&](const Message& m) {
    if (m.message != WM_TIMER) return;
    if (in_modal) {
      ++ticks_during_modal;
      return;
    }
    if (owner.log.size() == 1) {
      // A modal prompt opened from a timer tick, as the session's prompts are.
      in_modal = true;
      loop.set_thread_timer(1000, [&](TimerId id) {
        loop.kill_thread_timer(id);
        loop.end_modal(modal, 6);
      });
      EXPECT_EQ(loop.nesting_depth(), 1);
      modal_result = loop.run_modal(modal);
      in_modal = false;
      loop.quit(0);
    }
  };
  loop.set_timer(owner.hwnd, 1, 100);
  loop.run();
  EXPECT_EQ(modal_result, 6);
  EXPECT_EQ(ticks_during_modal, 10);
}

TEST_F(MessageLoopTest, QuitEndsNestedLoopsThenTheOuterRun) {
  Recorder w;
  int modal_result = 0;
  w.on_message = [&](const Message& m) {
    if (m.message == WM_USER) {
      ModalState modal;
      post_message(w.hwnd, WM_USER + 1);
      modal_result = loop.run_modal(modal);
    } else if (m.message == WM_USER + 1) {
      post_quit_message(3);
    }
  };
  post_message(w.hwnd, WM_USER);
  EXPECT_EQ(loop.run(), 3);
  EXPECT_EQ(modal_result, -1);
  EXPECT_FALSE(loop.quit_pending());
}

TEST_F(MessageLoopTest, PumpPendingNeverWaitsNorMovesTime) {
  TimerId t = loop.set_thread_timer(5000, [](TimerId) {});
  std::int64_t before = clock().now_ms();
  EXPECT_TRUE(loop.pump_pending());
  EXPECT_EQ(clock().now_ms(), before);
  loop.kill_thread_timer(t);
}

TEST_F(MessageLoopTest, WatchedDescriptorCallsBackWhenReadable) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string got;
  loop.watch_fd(fds[0], [&] {
    char buf[16];
    ssize_t n = read(fds[0], buf, sizeof buf);
    if (n > 0) got.append(buf, n);
    loop.quit(0);
  });
  ASSERT_EQ(write(fds[1], "hi", 2), 2);
  loop.run();
  loop.unwatch_fd(fds[0]);
  close(fds[0]);
  close(fds[1]);
  EXPECT_EQ(got, "hi");
}

TEST(MessageLoopThreads, PostAndSendFromAnotherThreadRunOnTheOwnersThread) {
  MessageLoop& loop = MessageLoop::current();
  Recorder w;
  std::thread::id handled_on;
  w.on_message = [&](const Message& m) {
    (void)m;
    handled_on = std::this_thread::get_id();
    // Sent messages may overtake posted ones, as on Windows: wait for both.
    if (w.log.size() == 2) loop.quit(0);
  };
  LRESULT sent = 0;
  std::thread other([&] {
    post_message(w.hwnd, WM_USER + 1, 10);
    sent = send_message(w.hwnd, WM_USER + 2, 20);
  });
  loop.run();
  other.join();
  EXPECT_EQ(handled_on, std::this_thread::get_id());
  EXPECT_EQ(sent, 21);
  ASSERT_EQ(w.log.size(), 2u);
}

}  // namespace
}  // namespace platform
