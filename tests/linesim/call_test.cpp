// Dialing, routing, call progress, data mode, escape and hang-up, in
// virtual time.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <atomic>
#include <chrono>
#include <thread>
#include <unistd.h>

#include "harness.h"
#include "linesim/scenario.h"

namespace linesim::test {
namespace {

// Ticks in virtual time until `text` has come out; returns the virtual ms it
// took, or -1 when it did not come within `limit_ms`.
std::int64_t wait_for(Bench& b, const std::string& text, std::string& seen, std::int64_t limit_ms = 400'000) {
  std::int64_t start = b.clock.get().now_ms();
  while (b.clock.get().now_ms() - start <= limit_ms) {
    seen += b.run(10, 10);
    if (seen.find(text) != std::string::npos) return b.clock.get().now_ms() - start;
  }
  return -1;
}

TEST(NumberMatch, DigitsEndWithTheNumber) {
  struct Case {
    const char* dialed;
    const char* number;
    bool match;
  } cases[] = {
      {"5551234", "5551234", true},      {"9,*70,5551234", "5551234", true}, {"T 555-1234", "555 1234", true},
      {"1(800)5551234", "5551234", true}, {"5551234", "15551234", false},   {"5551235", "5551234", false},
      {"", "5551234", false},             {"5551234", "", false},           {"5551234W", "5551234", true},
  };
  for (const Case& c : cases) EXPECT_EQ(number_matches(c.dialed, c.number), c.match) << c.dialed << " vs " << c.number;
}

TEST(Routes, SuccessiveCallsTakeTargetsInTurnAndTheLastStays) {
  Exchange ex;
  ASSERT_EQ(ex.add_route("5551234=busy,no-carrier,scenario:s.txt", {{"s.txt", "end\n"}}), "");
  std::vector<std::string> got;
  for (int i = 0; i < 4; ++i) got.push_back(ex.route("9,5551234")->text());
  EXPECT_EQ(got, (std::vector<std::string>{"busy", "no-carrier", "scenario:s.txt", "scenario:s.txt"}));
}

TEST(Routes, LongestNumberWins) {
  Exchange ex;
  ASSERT_EQ(ex.add_route("1234=busy"), "");
  ASSERT_EQ(ex.add_route("555-1234=no-answer"), "");
  EXPECT_EQ(ex.route("95551234")->text(), "no-answer");
  EXPECT_EQ(ex.route("1234")->text(), "busy");
  EXPECT_FALSE(ex.route("4321").has_value());
}

TEST(Routes, BadRoutesAreRefusedWithAReason) {
  for (const char* bad : {"5551234", "abc=busy", "5551234=nowhere", "5551234=host:99999", "5551234=host:",
                          "5551234=scenario:", "5551234=busy,,busy", "5551234=scenario:/no/such/file.txt"}) {
    Exchange ex;
    EXPECT_NE(ex.add_route(bad), "") << bad;
  }
  Exchange ex;
  std::string why = ex.add_route("1=scenario:bad.txt", {{"bad.txt", "sned x\n"}});
  EXPECT_NE(why.find("bad.txt: line 1"), std::string::npos) << why;
  EXPECT_EQ(ex.add_route("1=127.0.0.1:7000"), "");
  EXPECT_EQ(ex.route("1")->text(), "127.0.0.1:7000");
}

struct Outcome {
  const char* name;
  const char* target;    // route of 5551234, or nullptr for none
  const char* setup;     // commands before dialing
  const char* dial;
  const char* word;
  std::int64_t at_ms;    // when the word is due
};

class CallProgress : public ::testing::TestWithParam<Outcome> {};

TEST_P(CallProgress, AnswersInTime) {
  const Outcome& c = GetParam();
  Bench b;
  if (c.target) {
    ASSERT_EQ(b.exchange.add_route(std::string("5551234=") + c.target), "");
  }
  b.at("ATE0S7=30\r");
  b.at(std::string("AT") + c.setup + "\r");
  std::string seen;
  b.at(std::string("AT") + c.dial + "\r");
  std::int64_t took = wait_for(b, std::string("\r\n") + c.word + "\r\n", seen);
  EXPECT_GE(took, c.at_ms - 10) << seen;
  EXPECT_LE(took, c.at_ms + 20) << seen;
  EXPECT_EQ(b.modem->mode(), Modem::Mode::Command);
  EXPECT_FALSE(b.modem->lines().dcd);
  EXPECT_EQ(b.at("AT\r"), "\r\nOK\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Targets, CallProgress,
    ::testing::Values(Outcome{"busy", "busy", "", "DT5551234", "BUSY", 700 + 2000},
                      Outcome{"busy_blind", "busy", "X0", "DT5551234", "NO CARRIER", 700 + 30'000},
                      Outcome{"busy_after_comma", "busy", "", "DT9,5551234", "BUSY", 800 + 2000 + 2000},
                      Outcome{"busy_pulse", "busy", "", "DP5551234", "BUSY", 2500 + 7 * 600 + 2000},
                      Outcome{"no_answer", "no-answer", "", "DT5551234", "NO ANSWER", 700 + 30'000},
                      Outcome{"no_carrier", "no-carrier", "", "DT5551234", "NO CARRIER", 700 + 4000},
                      Outcome{"no_dialtone", "no-dialtone", "", "DT5551234", "NO DIALTONE", 2000},
                      Outcome{"no_dialtone_blind", "no-dialtone", "X1", "DT5551234", "NO CARRIER", 700 + 30'000},
                      Outcome{"no_route", nullptr, "", "DT5551234", "NO CARRIER", 700 + 30'000},
                      Outcome{"wait_for_tone", "busy", "", "DT9W5551234", "BUSY", 800 + 1000 + 2000},
                      Outcome{"quiet_answer", "busy", "", "DT9@5551234", "BUSY", 800 + 2000 + 2000},
                      Outcome{"flash", "busy", "", "DT!5551234", "BUSY", 500 + 700 + 2000}),
    [](const ::testing::TestParamInfo<Outcome>& info) { return std::string(info.param.name); });

TEST(Dial, SemicolonDialsInPartsOfOneNumber) {
  Bench b;
  ASSERT_EQ(b.exchange.add_route("5551234=busy"), "");
  b.at("ATE0\r");
  std::string seen;
  b.at("ATDT 555;\r");
  EXPECT_EQ(wait_for(b, "\r\nOK\r\n", seen), 300);
  EXPECT_EQ(b.modem->mode(), Modem::Mode::Command);
  b.at("ATD1234\r");
  EXPECT_GE(wait_for(b, "\r\nBUSY\r\n", seen), 2400);
  EXPECT_TRUE(b.traced("call 5551234 -> busy"));
}

// "L" dials the last number again (its digits take their time again); with
// no number dialed yet it is refused.
TEST(Dial, LRedialsTheLastNumber) {
  Bench b;
  ASSERT_EQ(b.exchange.add_route("5551234=busy"), "");
  b.at("ATE0\r");
  EXPECT_EQ(b.at("ATDL\r"), "\r\nERROR\r\n");
  std::string seen;
  b.at("ATDT5551234\r");
  EXPECT_EQ(wait_for(b, "\r\nBUSY\r\n", seen), 700 + 2000);
  seen.clear();
  b.at("ATDL\r");
  EXPECT_EQ(wait_for(b, "\r\nBUSY\r\n", seen), 700 + 2000) << seen;
  int calls = 0;
  for (const auto& line : b.trace) calls += line.find("call 5551234 -> busy") != std::string::npos;
  EXPECT_EQ(calls, 2);
}

TEST(Dial, AnyByteAbortsTheCall) {
  Bench b;
  ASSERT_EQ(b.exchange.add_route("5551234=no-answer"), "");
  b.at("ATE0\r");
  b.at("ATDT5551234\r\n");  // the LF after the CR is not a key
  b.run(1000);
  EXPECT_EQ(b.modem->mode(), Modem::Mode::Dialing);
  EXPECT_EQ(b.at("x"), "\r\nNO CARRIER\r\n");
  EXPECT_EQ(b.modem->mode(), Modem::Mode::Command);
}

const char* kServer =
    "login alice\n"
    "send REQUEST:\\tFIRSTNAME\n"
    "expect REPLY: Ann\n"
    "send STATUS:\\tCOMPLETE\n"
    "end\n";

// A modem connected to a scenario server on 5551234, echo off.
struct Connected : Bench {
  explicit Connected(const std::string& setup = "", const std::string& script = kServer,
                     const std::string& marker = "CONNECT") {
    EXPECT_EQ(exchange.add_route("5551234=scenario:s.txt", {{"s.txt", script}}), "");
    at("ATE0" + setup + "\r");
    at("ATDT5551234\r");
    EXPECT_GE(wait_for(*this, marker, seen), 0) << seen;
  }
  std::string seen;
};

TEST(Call, ConnectsLogsInAndTalks) {
  Connected b;
  EXPECT_EQ(b.seen, "\r\nCONNECT 28800\r\n");
  EXPECT_TRUE(b.modem->lines().dcd);
  EXPECT_EQ(b.modem->mode(), Modem::Mode::Online);
  std::string got;
  EXPECT_GE(wait_for(b, "user:", got), 0);
  b.modem->feed("alice\r");
  EXPECT_GE(wait_for(b, "FIRSTNAME\r", got), 0);
  EXPECT_EQ(got, "user:\r\nREQUEST:\tFIRSTNAME\r");
  b.modem->feed("REPLY: Ann\r");
  EXPECT_GE(wait_for(b, "COMPLETE\r", got), 0);
  EXPECT_TRUE(b.traced("COM2 srv< REPLY: Ann"));
}

// Drives the modem as a poll loop does: sleep until next_due_ms(), tick.
// Returns the output once `text` is there, or what came before the modem
// had nothing more to wake up for.
std::string host_until(Bench& b, const std::string& text) {
  std::string got;
  for (int i = 0; i < 100'000 && got.find(text) == std::string::npos; ++i) {
    auto due = b.modem->next_due_ms();
    if (!due) break;  // a host would sleep forever here
    b.clock.get().advance_to(*due);
    b.modem->tick();
    got += b.modem->take_output();
  }
  return got;
}

TEST(Call, AHostThatSleepsUntilNextDueMissesNothing) {
  Bench b;
  ASSERT_EQ(b.exchange.add_route("5551234=scenario:s.txt", {{"s.txt", kServer}}), "");
  b.at("ATE0DT5551234\r");
  EXPECT_EQ(host_until(b, "user:"), "\r\nCONNECT 28800\r\nuser:");
  b.modem->feed("alice\r");
  b.modem->tick();
  EXPECT_EQ(host_until(b, "FIRSTNAME\r"), "\r\nREQUEST:\tFIRSTNAME\r");
  b.modem->feed("REPLY: Ann\r");
  b.modem->tick();
  EXPECT_EQ(host_until(b, "COMPLETE\r"), "STATUS:\tCOMPLETE\r");
  EXPECT_FALSE(b.modem->next_due_ms().has_value());  // idle: nothing to wake for
}

TEST(Call, ConnectFormsFollowWXAndV) {
  struct Case {
    const char* setup;
    const char* expect;
  } cases[] = {
      {"W1", "\r\nCARRIER 28800\r\n\r\nPROTOCOL: LAPM\r\n\r\nCOMPRESSION: V.42BIS\r\n\r\nCONNECT 28800\r\n"},
      {"X0", "\r\nCONNECT\r\n"},
      {"V0", "64\r"},
  };
  for (const Case& c : cases) {
    Connected b(c.setup, kServer, c.expect);
    EXPECT_EQ(b.seen, c.expect) << c.setup;
  }
}

TEST(Call, FarEndHangUpDeliversItsBytesThenNoCarrier) {
  Connected b("", "login *\nsend FAILURE:\nhangup\n");
  std::string got;
  b.modem->feed("bob\r");
  EXPECT_GE(wait_for(b, "NO CARRIER", got), 0);
  EXPECT_EQ(got, "user:\r\nFAILURE:\r\r\nNO CARRIER\r\n");
  EXPECT_EQ(b.modem->mode(), Modem::Mode::Command);
  EXPECT_FALSE(b.modem->lines().dcd);
}

TEST(Call, DataIsPacedAtTheConnectSpeed) {
  // 28800 bit/s is 2880 bytes a second with start and stop bits.
  Connected b("", "login *\nsend " + std::string(2879, 'x') + "\nend\n");
  std::string got;
  b.modem->feed("bob\r");
  ASSERT_GE(wait_for(b, "user:\r\nx", got), 0);
  got += b.run(500);
  EXPECT_GE(got.size(), 1300u);
  EXPECT_LE(got.size(), 1600u);
  got += b.run(600);
  EXPECT_EQ(got.size(), 7u + 2880u);
}

struct EscapeCase {
  const char* name;
  int s12;
  std::vector<std::pair<std::string, std::int64_t>> steps;  // bytes, then ms of silence
  bool escapes;
};

class Escape : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(Escape, NeedsItsGuardTimes) {
  const EscapeCase& c = GetParam();
  Connected b("S12=" + std::to_string(c.s12));
  std::string got;
  for (const auto& [bytes, ms] : c.steps) {
    b.modem->feed(bytes);
    got += b.run(ms, 5);
  }
  bool escaped = got.find("\r\nOK\r\n") != std::string::npos;
  EXPECT_EQ(escaped, c.escapes) << got;
  EXPECT_EQ(b.modem->mode(), c.escapes ? Modem::Mode::OnlineCommand : Modem::Mode::Online);
}

INSTANTIATE_TEST_SUITE_P(
    GuardTimes, Escape,
    ::testing::Values(EscapeCase{"guard_before_and_after", 50, {{"", 1100}, {"+++", 1050}}, true},
                      EscapeCase{"not_yet_after_900ms", 50, {{"", 1100}, {"+++", 900}}, false},
                      EscapeCase{"data_just_before", 50, {{"", 1100}, {"x", 500}, {"+++", 1100}}, false},
                      EscapeCase{"data_right_after", 50, {{"", 1100}, {"+++", 500}, {"y", 1500}}, false},
                      EscapeCase{"pluses_too_far_apart", 50, {{"", 1100}, {"+", 1200}, {"++", 1500}}, false},
                      EscapeCase{"four_pluses", 50, {{"", 1100}, {"++++", 1500}}, false},
                      EscapeCase{"short_guard_s12_12", 12, {{"", 300}, {"+++", 300}}, true},
                      EscapeCase{"pluses_one_by_one", 50, {{"", 1100}, {"+", 100}, {"+", 100}, {"+", 1100}}, true}),
    [](const ::testing::TestParamInfo<EscapeCase>& info) { return std::string(info.param.name); });

TEST(Escape, BackOnlineWithOAndHangUpWithH) {
  Connected b;
  std::string got;
  b.run(1100);
  b.modem->feed("+++");
  b.run(1100);
  EXPECT_EQ(b.at("ATO\r"), "\r\nCONNECT 28800\r\n");
  EXPECT_EQ(b.modem->mode(), Modem::Mode::Online);
  b.run(1100);
  b.modem->feed("+++");
  b.run(1100);
  EXPECT_EQ(b.at("ATDT5551234\r"), "\r\nERROR\r\n");  // already in a call
  EXPECT_EQ(b.at("ATH\r"), "\r\nOK\r\n");
  EXPECT_EQ(b.modem->mode(), Modem::Mode::Command);
  EXPECT_FALSE(b.modem->lines().dcd);
  EXPECT_TRUE(b.traced("COM2 srv caller hung up"));
  EXPECT_TRUE(b.traced("COM2 srv< ++++++ (no line end)"));  // the escape travelled as data
}

TEST(Dtr, DropHangsUpAsAndDSays) {
  {
    Connected b;  // &D2 by default
    b.modem->set_dtr(false);
    EXPECT_EQ(b.modem->take_output(), "\r\nNO CARRIER\r\n");
    EXPECT_EQ(b.modem->mode(), Modem::Mode::Command);
    EXPECT_TRUE(b.traced("COM2 srv caller hung up"));
  }
  {
    Connected b("&D0");
    b.modem->set_dtr(false);
    EXPECT_EQ(b.modem->mode(), Modem::Mode::Online);
  }
  {
    Connected b("&D1");
    b.modem->set_dtr(false);
    EXPECT_EQ(b.modem->take_output(), "\r\nOK\r\n");
    EXPECT_EQ(b.modem->mode(), Modem::Mode::OnlineCommand);
  }
  {
    Connected b("&D3S7=20&W");
    b.at("+++");
    b.modem->set_dtr(false);
    EXPECT_EQ(b.modem->mode(), Modem::Mode::Command);
    EXPECT_EQ(b.modem->s_register(7), 20);
  }
}

// A TCP peer on loopback: real sockets, virtual time for the modem. Every
// wait of the peer is bounded, and the destructor wakes and joins its thread,
// so a failed expectation in the test never leaves it hanging.
class TcpPeer {
 public:
  static constexpr int kWaitMs = 10'000;  // a fault, not a slow machine

  TcpPeer() {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ok_ = listen_ >= 0 && ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    socklen_t len = sizeof a;
    ok_ = ok_ && ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) == 0;
    port_ = ntohs(a.sin_port);
  }
  ~TcpPeer() {
    // Wakes a peer thread still blocked in poll on either socket.
    if (listen_ >= 0) ::shutdown(listen_, SHUT_RDWR);
    if (int c = conn_.load(); c >= 0) ::shutdown(c, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    if (conn_ >= 0) ::close(conn_);
    if (listen_ >= 0) ::close(listen_);
  }
  bool ok() const { return ok_; }
  int port() const { return port_; }
  // Starts listening, and a thread that echoes `n` bytes back, then closes
  // when `close_after` is set, or else records whether it sees the
  // connection end.
  void serve_echo(std::size_t n, bool close_after) {
    ok_ = ok_ && ::listen(listen_, 1) == 0;
    thread_ = std::thread([this, n, close_after] {
      if (!ready(listen_)) return;
      int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) return;
      conn_ = c;
      std::size_t done = 0;
      char buf[256];
      while (done < n && ready(c)) {
        ssize_t got = ::recv(c, buf, sizeof buf, MSG_DONTWAIT);
        if (got <= 0) break;
        ::send(c, buf, static_cast<std::size_t>(got), MSG_NOSIGNAL);
        done += static_cast<std::size_t>(got);
      }
      echoed_ = done;
      if (close_after) {
        ::shutdown(c, SHUT_RDWR);
      } else {
        char ch;
        saw_eof_ = ready(c) && ::recv(c, &ch, 1, MSG_DONTWAIT) == 0;
      }
    });
  }
  // Waits for the peer thread to finish (each of its waits is bounded).
  void finish() {
    if (thread_.joinable()) thread_.join();
  }
  std::size_t echoed() const { return echoed_; }
  bool saw_eof() const { return saw_eof_; }

 private:
  static bool ready(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, kWaitMs) == 1 && (p.revents & (POLLIN | POLLHUP | POLLERR));
  }

  int listen_ = -1, port_ = 0;
  std::atomic<int> conn_{-1};
  bool ok_ = false;
  std::thread thread_;
  std::atomic<std::size_t> echoed_{0};
  std::atomic<bool> saw_eof_{false};
};

// Runs the modem in virtual time until `text` has come out, blocking on the
// far socket for as long as the modem has nothing due of its own or has a
// real connect or send in progress: virtual time moves on only once the
// real I/O it waits for has happened, however loaded the machine. Returns
// the virtual ms taken, or -1 after TcpPeer::kWaitMs of real time.
std::int64_t wait_tcp(Bench& b, const std::string& text, std::string& seen) {
  auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(TcpPeer::kWaitMs);
  std::int64_t start = b.clock.get().now_ms();
  while (std::chrono::steady_clock::now() < give_up) {
    if (int fd = b.modem->far_fd(); fd >= 0) {
      short events = b.modem->far_events();
      bool blocks = (events & POLLOUT) || !b.modem->next_due_ms();
      if (events != 0 && blocks) {
        pollfd p{fd, events, 0};
        ::poll(&p, 1, 100);
      }
    }
    seen += b.run(10, 10);
    if (seen.find(text) != std::string::npos) return b.clock.get().now_ms() - start;
  }
  return -1;
}

TEST(Tcp, BridgesBothWaysAndEndsWithNoCarrier) {
  TcpPeer peer;
  peer.serve_echo(6, true);
  ASSERT_TRUE(peer.ok());
  Bench b;
  ASSERT_EQ(b.exchange.add_route("5551234=127.0.0.1:" + std::to_string(peer.port())), "");
  b.at("ATE0\r");
  b.at("ATDT5551234\r");
  std::string seen;
  ASSERT_GE(wait_tcp(b, "CONNECT 28800\r\n", seen), 0) << seen;
  b.modem->feed("hello\r");
  EXPECT_GE(wait_tcp(b, "hello\r", seen), 0) << seen;
  EXPECT_GE(wait_tcp(b, "NO CARRIER", seen), 0) << seen;
  peer.finish();
  EXPECT_EQ(peer.echoed(), 6u);
  EXPECT_EQ(seen, "\r\nCONNECT 28800\r\nhello\r\r\nNO CARRIER\r\n");
  EXPECT_EQ(b.modem->mode(), Modem::Mode::Command);
}

TEST(Tcp, HangUpClosesTheConnection) {
  TcpPeer peer;
  peer.serve_echo(2, false);
  ASSERT_TRUE(peer.ok());
  Bench b;
  ASSERT_EQ(b.exchange.add_route("5551234=127.0.0.1:" + std::to_string(peer.port())), "");
  b.at("ATE0\r");
  b.at("ATDT5551234\r");
  std::string seen;
  ASSERT_GE(wait_tcp(b, "CONNECT", seen), 0);
  b.modem->feed("hi");
  ASSERT_GE(wait_tcp(b, "hi", seen), 0);
  b.modem->set_dtr(false);
  peer.finish();
  EXPECT_TRUE(peer.saw_eof());
}

TEST(Tcp, RefusedConnectionIsNoCarrier) {
  // The port stays bound for the whole test but nobody listens on it: the
  // connection is refused, and no other program can take the port meanwhile.
  TcpPeer closed;
  ASSERT_TRUE(closed.ok());
  Bench b;
  ASSERT_EQ(b.exchange.add_route("5551234=127.0.0.1:" + std::to_string(closed.port())), "");
  b.at("ATE0\r");
  b.at("ATDT5551234\r");
  std::string seen;
  EXPECT_GE(wait_tcp(b, "\r\nNO CARRIER\r\n", seen), 0) << seen;
  EXPECT_EQ(seen.find("CONNECT"), std::string::npos);
}

}  // namespace
}  // namespace linesim::test
