// RFC 2217: the telnet parser and encoder as tables of byte strings, and the
// network port against a scripted far end on 127.0.0.1.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/loop/clock.h"
#include "platform/serial/rfc2217.h"
#include "platform/serial/serial_port.h"
#include "support/loopback_far_end.h"

namespace platform {
namespace {

using namespace rfc2217;
using Bytes = std::vector<std::uint8_t>;

Bytes B(std::initializer_list<int> v) {
  Bytes b;
  for (int x : v) b.push_back(static_cast<std::uint8_t>(x));
  return b;
}
Bytes S(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct Fed {
  Bytes data;
  Bytes answers;
};

Fed feed(Rfc2217Codec& c, const Bytes& in) {
  Fed f;
  c.feed(in.data(), in.size(), f.data, f.answers);
  return f;
}

TEST(Rfc2217Codec, StartAsksForComPortBinaryAndSga) {
  Rfc2217Codec c;
  EXPECT_EQ(c.start(), B({kIac, kWill, 44, kIac, kWill, 0, kIac, kWill, 3, kIac, kDo, 0, kIac, kDo, 3}));
  EXPECT_FALSE(c.com_port_accepted());
}

TEST(Rfc2217Codec, NegotiationAnswers) {
  struct Case {
    const char* name;
    Bytes in;
    Bytes answers;
  };
  const Case cases[] = {
      {"DO COM-PORT answers our WILL: nothing to say", B({kIac, kDo, 44}), {}},
      {"DO BINARY and WILL BINARY answer ours", B({kIac, kDo, 0, kIac, kWill, 0}), {}},
      {"WILL ECHO is taken", B({kIac, kWill, 1}), B({kIac, kDo, 1})},
      {"WILL ECHO again changes nothing", B({kIac, kWill, 1}), {}},
      {"WILL TERMINAL-TYPE is refused", B({kIac, kWill, 24}), B({kIac, kDont, 24})},
      {"DO TERMINAL-TYPE is refused", B({kIac, kDo, 24}), B({kIac, kWont, 24})},
      {"DO ECHO (we echo) is refused", B({kIac, kDo, 1}), B({kIac, kWont, 1})},
      {"WONT ECHO turns it off, answered", B({kIac, kWont, 1}), B({kIac, kDont, 1})},
      {"WONT for an option never on: silence", B({kIac, kWont, 5}), {}},
      {"DO SGA answers ours", B({kIac, kDo, 3}), {}},
      {"DONT SGA after it was on: answered", B({kIac, kDont, 3}), B({kIac, kWont, 3})},
  };
  Rfc2217Codec c;
  c.start();
  for (const Case& k : cases) {
    Fed f = feed(c, k.in);
    EXPECT_EQ(f.answers, k.answers) << k.name;
    EXPECT_TRUE(f.data.empty()) << k.name;
  }
  EXPECT_TRUE(c.com_port_accepted());
  EXPECT_FALSE(c.com_port_refused());
  EXPECT_TRUE(c.server_binary());
}

TEST(Rfc2217Codec, RefusedComPort) {
  Rfc2217Codec c;
  c.start();
  Fed f = feed(c, B({kIac, kDont, 44}));
  EXPECT_TRUE(f.answers.empty()) << "the refusal answers our request";
  EXPECT_TRUE(c.com_port_refused());
  EXPECT_FALSE(c.com_port_accepted());
}

TEST(Rfc2217Codec, DataUnescaping) {
  struct Case {
    const char* name;
    bool binary;
    std::vector<Bytes> chunks;  // fed one after another
    Bytes data;
  };
  const Case cases[] = {
      {"plain", true, {S("OK\r\n")}, S("OK\r\n")},
      {"IAC IAC is one 0xFF", true, {B({'A', kIac, kIac, 'B'})}, B({'A', 0xFF, 'B'})},
      {"IAC IAC split across reads", true, {B({'A', kIac}), B({kIac, 'B'})}, B({'A', 0xFF, 'B'})},
      {"NOP and GA vanish", true, {B({'A', kIac, kNop, 'B', kIac, 249})}, S("AB")},
      {"CR NUL is CR without BINARY", false, {B({'\r', 0, 'x'})}, S("\rx")},
      {"CR NUL split across reads", false, {B({'\r'}), B({0, 'x'})}, S("\rx")},
      {"CR LF stays without BINARY", false, {S("\r\n")}, S("\r\n")},
      {"CR NUL stays in BINARY", true, {B({'\r', 0})}, B({'\r', 0})},
      {"negotiation inside data", true, {B({'A', kIac, kWill, 3, 'B'})}, S("AB")},
      {"a subnegotiation inside data", true, {B({'A', kIac, kSb, 44, 107, 0x80, kIac, kSe, 'B'})}, S("AB")},
  };
  for (const Case& k : cases) {
    Rfc2217Codec c;
    c.start();
    if (k.binary) feed(c, B({kIac, kWill, 0}));
    Bytes data;
    for (const Bytes& chunk : k.chunks) {
      Fed f = feed(c, chunk);
      data.insert(data.end(), f.data.begin(), f.data.end());
    }
    EXPECT_EQ(data, k.data) << k.name;
  }
}

TEST(Rfc2217Codec, ServerAnswersAndNotifications) {
  Rfc2217Codec c;
  c.start();
  feed(c, cat({B({kIac, kSb, 44, 101, 0, 0, 0x96, 0, kIac, kSe}),       // baud 38400
               B({kIac, kSb, 44, 102, 8, kIac, kSe}),                    // data size 8
               B({kIac, kSb, 44, 105, kIac, kIac, kIac, kSe}),           // control 0xFF, escaped
               B({kIac, kSb, 44, 107, 0xB0, kIac, kSe}),                 // CD DSR CTS
               B({kIac, kSb, 44, 106, 0x60, kIac, kSe}),                 // line state
               B({kIac, kSb, 44, 108, kIac, kSe})}));                    // suspend
  ASSERT_EQ(c.replies().size(), 3u);
  EXPECT_EQ(c.replies()[0].command, kSetBaudRate);
  EXPECT_EQ(c.replies()[0].value, B({0, 0, 0x96, 0}));
  EXPECT_EQ(c.replies()[1].command, kSetDataSize);
  EXPECT_EQ(c.replies()[2].value, B({0xFF}));
  EXPECT_EQ(c.modem_state(), 0xB0);
  EXPECT_EQ(c.modem_state_count(), 1u);
  EXPECT_EQ(c.line_state(), 0x60);
  EXPECT_TRUE(c.suspended());
  feed(c, B({kIac, kSb, 44, 109, kIac, kSe}));
  EXPECT_FALSE(c.suspended());
}

TEST(Rfc2217Codec, HostileInputStaysBounded) {
  Rfc2217Codec c;
  c.start();
  // An endless subnegotiation is dropped whole; what follows still parses.
  Bytes big = B({kIac, kSb, 44, 107});
  big.insert(big.end(), 10000, 0x80);
  Bytes rest = cat({big, B({kIac, kSe, 'O', 'K'})});
  Fed f = feed(c, rest);
  EXPECT_EQ(f.data, S("OK"));
  EXPECT_FALSE(c.modem_state());
  // Broken off by a command: the command counts, the fragment does not.
  f = feed(c, B({kIac, kSb, 44, 107, 0x80, kIac, kWill, 24, 'X'}));
  EXPECT_EQ(f.answers, B({kIac, kDont, 24}));
  EXPECT_EQ(f.data, S("X"));
  EXPECT_FALSE(c.modem_state());
  // A flood of answers keeps the newest only.
  Bytes flood;
  for (int i = 0; i < 1000; ++i) flood = cat({flood, B({kIac, kSb, 44, 102, 7, kIac, kSe})});
  feed(c, flood);
  EXPECT_LE(c.replies().size(), 64u);
  // Short or foreign subnegotiations carry nothing.
  feed(c, B({kIac, kSb, kIac, kSe, kIac, kSb, 44, kIac, kSe, kIac, kSb, 24, 1, kIac, kSe, kIac, kSb, 44, 7, 1,
             kIac, kSe}));
  EXPECT_FALSE(c.modem_state());
}

// Random bytes in random pieces, weighted towards IAC and the telnet verbs:
// the codec never hands out more data than it was given, and its stores stay
// bounded. (A fuzz target calls feed() the same way.)
TEST(Rfc2217Codec, RandomInputKeepsItsBounds) {
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7FFF;
  };
  const std::uint8_t common[] = {kIac, kSb, kSe, kWill, kWont, kDo, kDont, 44, 0, 1, 3, 101, 107, '\r'};
  Rfc2217Codec c;
  c.start();
  std::size_t given = 0, handed_out = 0;
  for (int round = 0; round < 2000; ++round) {
    Bytes in(next() % 64);
    for (auto& b : in) b = next() % 3 ? common[next() % sizeof common] : static_cast<std::uint8_t>(next());
    Fed f = feed(c, in);
    given += in.size();
    handed_out += f.data.size();
    ASSERT_LE(handed_out, given);
    ASSERT_LE(c.replies().size(), 64u);
    ASSERT_LE(f.answers.size(), 3 * in.size());
  }
}

TEST(Rfc2217Codec, Encoders) {
  EXPECT_EQ(Rfc2217Codec::set_baud_rate(38400), B({kIac, kSb, 44, 1, 0, 0, 0x96, 0, kIac, kSe}));
  EXPECT_EQ(Rfc2217Codec::command(kSetControl, {kControlDtrOff}), B({kIac, kSb, 44, 5, 9, kIac, kSe}));
  EXPECT_EQ(Rfc2217Codec::command(kSetBaudRate, {0xFF}), B({kIac, kSb, 44, 1, kIac, kIac, kIac, kSe}));
  Bytes out;
  const Bytes in = B({'a', 0xFF, 'b'});
  Rfc2217Codec::escape(in.data(), in.size(), out);
  EXPECT_EQ(out, B({'a', 0xFF, 0xFF, 'b'}));
}

TEST(Rfc2217Url, Table) {
  struct Case {
    const char* url;
    bool ok;
    const char* host;
    std::uint16_t port;
  };
  const Case cases[] = {
      {"rfc2217://127.0.0.1:7000", true, "127.0.0.1", 7000},
      {"rfc2217://modems.example:2217", true, "modems.example", 2217},
      {"rfc2217://[::1]:7000", true, "::1", 7000},
      {"rfc2217://::1:7000", false, "", 0},
      {"rfc2217://host", false, "", 0},
      {"rfc2217://host:", false, "", 0},
      {"rfc2217://host:0", false, "", 0},
      {"rfc2217://host:65536", false, "", 0},
      {"rfc2217://host:70x", false, "", 0},
      {"rfc2217://:7000", false, "", 0},
      {"rfc2217://a b:7000", false, "", 0},
      {"rfc2217://host/x:7000", false, "", 0},
      {"telnet://host:7000", false, "", 0},
      {"/dev/ttyS0", false, "", 0},
  };
  for (const Case& c : cases) {
    std::string host;
    std::uint16_t port = 0;
    EXPECT_EQ(parse_rfc2217_url(c.url, host, port), c.ok) << c.url;
    if (c.ok) {
      EXPECT_EQ(host, c.host) << c.url;
      EXPECT_EQ(port, c.port) << c.url;
    }
  }
}

// ---- the port against a scripted far end -----------------------------------

using test_support::read_until;
using test_support::send_bytes;
using test_support::LoopbackFarEnd;

// Reads from `fd` until the peer closes.
void read_until_closed(int fd) {
  std::uint8_t buf[512];
  while (::read(fd, buf, sizeof buf) > 0) {
  }
}


// A far end that agrees and answers the seven open-time commands the way
// ser2net does (the current settings: 9600 8N1, no flow control).
void answer_open(int fd) {
  read_until(fd, B({kIac, kWill, 44}));
  send_bytes(fd, B({kIac, kDo, 44, kIac, kWill, 0, kIac, kDo, 0}));
  read_until(fd, B({kIac, kSb, 44, 5, 0, kIac, kSe}));
  send_bytes(fd, cat({B({kIac, kSb, 44, 111, 0xFF, 0xFF, kIac, kSe}), B({kIac, kSb, 44, 110, 0, kIac, kSe}),
                      B({kIac, kSb, 44, 101, 0, 0, 0x25, 0x80, kIac, kSe}), B({kIac, kSb, 44, 102, 8, kIac, kSe}),
                      B({kIac, kSb, 44, 103, 1, kIac, kSe}), B({kIac, kSb, 44, 104, 1, kIac, kSe}),
                      B({kIac, kSb, 44, 105, 1, kIac, kSe})}));
}

SerialOpenOptions network_options(int timeout_ms = 5000) {
  SerialOpenOptions o;
  o.network_timeout_ms = timeout_ms;
  return o;
}

TEST(Rfc2217Port, OpensReadsWritesAndSeesTheCarrier) {
  Bytes written;
  auto server = std::make_unique<LoopbackFarEnd>([&](int fd) {
    answer_open(fd);
    send_bytes(fd, cat({S("OK"), B({kIac, kIac}), S("\r\n"), B({kIac, kSb, 44, 107, 0xB8, kIac, kSe})}));
    written = read_until(fd, S("ATZ\r"));
    read_until_closed(fd);  // the connection stays up until the port closes it
  });
  SerialError e{};
  auto port = open_serial_port(server->url(), network_options(), e);
  ASSERT_TRUE(port) << serial_error_text(e);
  LineSettings s;
  ASSERT_EQ(port->get_settings(s), SerialError::None);
  EXPECT_EQ(s.baud, 9600u) << "the settings found at open";

  port->set_event_mask(kEventRxChar | kEventRlsd);
  unsigned events = 0;
  std::string got;
  while (got.size() < 5) {
    ASSERT_EQ(port->wait_event(events, 5000), SerialError::None);
    char buf[16];
    std::size_t n = 0;
    port->read(buf, sizeof buf, n);
    got.append(buf, n);
  }
  EXPECT_EQ(got, "OK\xFF\r\n");
  EXPECT_TRUE(port->has_modem_lines()) << "the far end reported its lines";
  unsigned lines = 0;
  ASSERT_EQ(port->get_modem_lines(lines), SerialError::None);
  EXPECT_TRUE(lines & kLineDcd);
  std::size_t done_bytes = 0;
  EXPECT_EQ(port->write("ATZ\r", 4, done_bytes, 1000), SerialError::None);
  EXPECT_EQ(done_bytes, 4u);
  port->close();
  server.reset();  // the far end has read all by now
  const Bytes atz = S("ATZ\r");
  EXPECT_NE(std::search(written.begin(), written.end(), atz.begin(), atz.end()), written.end());
}

// What a vanished tty gives, the network port gives when the far end closes.
TEST(Rfc2217Port, DroppedConnectionIsAVanishedDevice) {
  LoopbackFarEnd server([&](int fd) {
    answer_open(fd);
    send_bytes(fd, S("NO"));
  });
  SerialError e{};
  auto port = open_serial_port(server.url(), network_options(), e);
  ASSERT_TRUE(port) << serial_error_text(e);
  port->set_event_mask(kEventRxChar);
  unsigned events = 0;
  SerialError w = SerialError::None;
  std::string got;
  for (int i = 0; i < 10 && w == SerialError::None; ++i) {
    w = port->wait_event(events, 5000);
    char buf[16];
    std::size_t n = 0;
    port->read(buf, sizeof buf, n);
    got.append(buf, n);
  }
  EXPECT_EQ(got, "NO") << "bytes before the drop are handed out first";
  EXPECT_EQ(w, SerialError::DeviceNotConnected);
  char buf[4];
  std::size_t n = 0;
  EXPECT_EQ(port->read(buf, sizeof buf, n), SerialError::DeviceNotConnected);
  std::size_t done_bytes = 0;
  EXPECT_EQ(port->write("AT\r", 3, done_bytes, 100), SerialError::DeviceNotConnected);
  EXPECT_EQ(port->set_settings(LineSettings{}), SerialError::DeviceNotConnected);
}

TEST(Rfc2217Port, OpenFailuresAreNoDevice) {
  SerialError e{};
  // Nothing listens: refused at once.
  const int unused_port = test_support::unused_loopback_port();
  EXPECT_FALSE(open_serial_port("rfc2217://127.0.0.1:" + std::to_string(unused_port), network_options(), e));
  EXPECT_EQ(e, SerialError::FileNotFound);
  EXPECT_FALSE(open_serial_port("rfc2217://127.0.0.1:", network_options(), e));
  EXPECT_EQ(e, SerialError::FileNotFound);

  {
    // A far end that refuses COM-PORT-OPTION is no serial port.
    LoopbackFarEnd refusing([](int fd) {
      read_until(fd, B({kIac, kWill, 44}));
      send_bytes(fd, B({kIac, kDont, 44}));
      read_until(fd, B({0x01, 0x02}));  // until we hang up
    });
    EXPECT_FALSE(open_serial_port(refusing.url(), network_options(), e));
    EXPECT_EQ(e, SerialError::BadUnit);
  }
  {
    // A far end that never answers: the time-out (virtual) gives no device.
    ScopedVirtualClock virtual_time;
    LoopbackFarEnd silent([](int fd) { read_until(fd, B({0x01, 0x02})); });
    EXPECT_FALSE(open_serial_port(silent.url(), network_options(2000), e));
    EXPECT_EQ(e, SerialError::FileNotFound);
  }
}

TEST(Rfc2217Port, SettingsTimeOutMakesThePortGone) {
  ScopedVirtualClock virtual_time;
  LoopbackFarEnd server([](int fd) {
    answer_open(fd);
    read_until(fd, B({0x01, 0x02}));  // takes the settings, answers nothing
  });
  SerialError e{};
  auto port = open_serial_port(server.url(), network_options(2000), e);
  ASSERT_TRUE(port) << serial_error_text(e);
  LineSettings s;
  s.baud = 38400;
  EXPECT_EQ(port->set_settings(s), SerialError::DeviceNotConnected);
  unsigned events = 0;
  port->set_event_mask(kEventRxChar);
  EXPECT_EQ(port->wait_event(events, 0), SerialError::DeviceNotConnected);
  port->close();
}

}  // namespace
}  // namespace platform
