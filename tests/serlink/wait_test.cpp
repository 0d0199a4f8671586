// The library's waits for data, in virtual time: a response wait ends when
// the answer is there and lasts its whole time-out when none comes; the
// event handler runs at least every 5 ms all along, and what it does (close
// the channel, make the status callback stop) still counts. Identification
// ends at the answer's final word.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <set>

#include "fixture.h"

namespace serlink_test {
namespace {

using WaitTest = SerlinkTest;

// A modem that answers each command line `delay_ms` after it came, on its
// turn (the cable's listener), as a real modem answers after a while.
class LateModem {
 public:
  LateModem(int com_number, std::int64_t delay_ms) : com_(com_number), delay_(delay_ms) {
    line_ = cable_.end(1);
    platform::attach_virtual_port(com_, cable_.end(0));
    cable_.set_listener(1, [this] { turn(); });
  }
  ~LateModem() { platform::attach_virtual_port(com_, nullptr); }

 private:
  void turn() {
    char buf[256];
    std::size_t got = 0;
    const std::int64_t now = platform::clock().now_ms();
    while (line_->read(buf, sizeof buf, got) == platform::SerialError::None && got > 0) {
      for (std::size_t i = 0; i < got; ++i) {
        if (buf[i] == '\r') due_.push_back(now + delay_);
      }
    }
    while (!due_.empty() && now >= due_.front()) {
      due_.erase(due_.begin());
      std::size_t done = 0;
      line_->write("\r\nOK\r\n", 6, done, 0);
    }
  }

  int com_;
  std::int64_t delay_;
  platform::VirtualNullModem cable_;
  std::shared_ptr<platform::SerialPort> line_;
  std::vector<std::int64_t> due_;
};

std::vector<std::int64_t> g_calls;  // virtual times of the handler's calls
void note_call(int32_t) { g_calls.push_back(platform::clock().now_ms()); }

// Longest time between the start, the handler's calls and the end.
std::int64_t longest_gap(std::int64_t start, std::int64_t end) {
  std::int64_t gap = 0, last = start;
  for (std::int64_t t : g_calls) {
    gap = std::max(gap, t - last);
    last = t;
  }
  return std::max(gap, end - last);
}

TEST_F(WaitTest, AResponseWaitEndsWhenTheAnswerComes) {
  ASSERT_EQ(SerlinkSetEventHandler(note_call, 4), SERLINK_OK);
  for (std::int64_t delay : {0, 3, 250, 730, 990}) {
    SCOPED_TRACE(delay);
    LateModem com1(1, delay);
    ASSERT_EQ(open_port(0), SERLINK_OK);
    ASSERT_EQ(serlink::probe(0), 0) << "command state, so the command goes out as it is";
    ASSERT_EQ(serlink::send_command(0, "AT"), 0);
    g_calls.clear();
    char line[SERLINK_RESPONSE_SIZE];
    std::int32_t code = 0;
    const std::int64_t start = platform::clock().now_ms();
    EXPECT_EQ(serlink::read_response(0, 1, line, code), SERLINK_OK);
    const std::int64_t end = platform::clock().now_ms();
    EXPECT_EQ(code, MODEM_RESULT_OK);
    EXPECT_STREQ(line, "OK");
    // The answer, then the written 10 ms pause for the line feed after CR.
    EXPECT_GE(end - start, delay + 10);
    EXPECT_LE(end - start, delay + 10 + serlink::kWaitStepMs) << "seen within one step of its arrival";
    EXPECT_LE(longest_gap(start, end), serlink::kWaitStepMs) << "the handler ran all along";
    std::int32_t port = 0;
    SerialChannelClose(&port);
  }
  SerlinkSetEventHandler(nullptr, 4);
}

TEST_F(WaitTest, AResponseWaitLastsItsTimeOutWhenNothingComes) {
  FakeModem silent(1, true);
  ASSERT_EQ(open_port(0), SERLINK_OK);
  for (bool with_handler : {true, false}) {
    if (with_handler) {
      ASSERT_EQ(SerlinkSetEventHandler(note_call, 4), SERLINK_OK);
    }
    for (std::int32_t seconds : {1, 3}) {
      SCOPED_TRACE(std::to_string(seconds) + (with_handler ? " s, handler" : " s"));
      g_calls.clear();
      char line[SERLINK_RESPONSE_SIZE] = "junk";
      std::int32_t code = 0;
      const std::int64_t start = platform::clock().now_ms();
      EXPECT_EQ(serlink::read_response(0, seconds, line, code), SERLINK_NO_LINE);
      const std::int64_t end = platform::clock().now_ms();
      EXPECT_EQ(code, MODEM_RESULT_OTHER);
      EXPECT_STREQ(line, "");
      EXPECT_GE(end - start, seconds * 1000);
      EXPECT_LE(end - start, seconds * 1000 + serlink::kWaitStepMs);
      if (with_handler) {
        EXPECT_LE(longest_gap(start, end), serlink::kWaitStepMs);
        EXPECT_GE(static_cast<std::int64_t>(g_calls.size()), seconds * 1000 / serlink::kWaitStepMs - 1);
      } else {
        EXPECT_TRUE(g_calls.empty());
      }
    }
    if (with_handler) SerlinkSetEventHandler(nullptr, 4);
  }
}

TEST_F(WaitTest, DataWaitOfZeroOnlyLooks) {
  FakeModem silent(1, true);
  ASSERT_EQ(open_port(0), SERLINK_OK);
  ASSERT_EQ(SerlinkSetEventHandler(note_call, 4), SERLINK_OK);
  g_calls.clear();
  const std::int64_t start = platform::clock().now_ms();
  EXPECT_FALSE(serlink::library_wait_for_input(0));
  EXPECT_EQ(platform::clock().now_ms(), start);
  EXPECT_TRUE(g_calls.empty());
  silent.send("x");
  EXPECT_TRUE(serlink::library_wait_for_input(1000)) << "bytes there: at once";
  EXPECT_EQ(platform::clock().now_ms(), start);
  SerlinkSetEventHandler(nullptr, 4);
}

int g_close_at = 0;
void close_on_call(int32_t) {
  if (++g_close_at == 3) {
    std::int32_t port = 0;
    SerialChannelClose(&port);
  }
}

TEST_F(WaitTest, AHandlerThatClosesTheChannelEndsTheWait) {
  FakeModem silent(1, true);
  ASSERT_EQ(open_port(0), SERLINK_OK);
  g_close_at = 0;
  ASSERT_EQ(SerlinkSetEventHandler(close_on_call, 5), SERLINK_OK);
  char line[SERLINK_RESPONSE_SIZE];
  std::int32_t code = 0;
  const std::int64_t start = platform::clock().now_ms();
  EXPECT_EQ(serlink::read_response(0, 1, line, code), SERLINK_E_NOT_OPEN);
  EXPECT_LE(platform::clock().now_ms() - start, 3 * serlink::kWaitStepMs);
  SerlinkSetEventHandler(nullptr, 5);
}

// Modset's pattern: the handler notices the user's Cancel, the next status
// call stops the operation.
bool g_cancelled = false;
std::int64_t g_cancel_at = 0;
void cancel_later(int32_t) {
  if (platform::clock().now_ms() >= g_cancel_at) g_cancelled = true;
}
int32_t stop_when_cancelled(const char*) { return g_cancelled ? 1 : 0; }

TEST_F(WaitTest, CancelNoticedDuringAWaitStopsAtTheNextStatus) {
  FakeModem silent1(1, true), silent2(2, true);
  g_cancelled = false;
  g_cancel_at = platform::clock().now_ms() + 500;  // during COM1's probe
  ASSERT_EQ(SerlinkSetEventHandler(cancel_later, 6), SERLINK_OK);
  SerialPortName names[4] = {};
  SerialPortName* entries[4] = {&names[0], &names[1], &names[2], &names[3]};
  ModemPortList list{4, entries, stop_when_cancelled};
  const std::int64_t start = platform::clock().now_ms();
  EXPECT_EQ(ModemPortEnumeration(&list), SERLINK_E_STOPPED);
  EXPECT_EQ(list.count, 0u);
  EXPECT_TRUE(silent2.raw.empty()) << "COM2 was never probed";
  EXPECT_LT(platform::clock().now_ms() - start, 12000) << "one probe, not two";
  SerlinkSetEventHandler(nullptr, 6);
}

// Time-outs the identification ran into: the empty lines it traced.
int empty_reads() {
  return static_cast<int>(std::count(traces().begin(), traces().end(), std::string("Recv: ")));
}

TEST_F(WaitTest, IdentificationEndsAtTheFinalWord) {
  struct Case {
    const char* name;
    bool final_word;
    std::set<std::string> refused;
    int timeouts;
  };
  const Case table[] = {
      {"answers end with OK", true, {}, 0},
      {"ATI3 refused with ERROR", true, {"I3"}, 0},
      // ATI0's second read and the end of ATI3's answer: two written waits.
      {"no final word: the time-outs", false, {}, 2},
  };
  std::int64_t took[3] = {};
  for (std::size_t i = 0; i < std::size(table); ++i) {
    const Case& c = table[i];
    SCOPED_TRACE(c.name);
    FakeModem com1(1);
    com1.ati0 = "288";
    com1.ati3 = "Sportster 28800";
    com1.final_word = c.final_word;
    com1.refused = c.refused;
    traces().clear();
    char reset[SERLINK_RESET_SIZE], setup[SERLINK_SETUP_SIZE];
    ModemAutoConfigRecord rec{{0, 0, 0, 0, 0, 0}, reset, setup, nullptr};
    const std::int64_t start = platform::clock().now_ms();
    ASSERT_EQ(ModemAutoConfigure(&rec), SERLINK_OK);
    took[i] = platform::clock().now_ms() - start;
    EXPECT_EQ(empty_reads(), c.timeouts);
    EXPECT_EQ(rec.metrics.speed, 8) << "the answers were read: ATI0 \"288\" starts at speed code 8";
  }
  // Two seconds of time-outs, less the 10 ms pauses after the two "OK" lines
  // that modem does not send.
  EXPECT_GE(took[2] - took[0], 2000 - 2 * 10) << "only a modem without a final word waits out the seconds";
  EXPECT_LT(took[1] - took[0], 100);
}

}  // namespace
}  // namespace serlink_test
