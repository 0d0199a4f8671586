// End to end over real pseudo-terminals: the linesim program plays modems
// behind DIR/dosdevices/comN; the library finds and configures them in real
// time, as the wizard does.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "linesim/process.h"
#include "platform/storage/system_root.h"
#include "serlink.h"

namespace {

// Runs linesim with `args` beneath `root` until destroyed.
class Linesim : public linesim::Process {
 public:
  Linesim(const std::filesystem::path& root, std::vector<std::string> args)
      : linesim::Process(std::string(VLR_BIN_DIR) + "/linesim", with_root(root, std::move(args))) {}

 private:
  static std::vector<std::string> with_root(const std::filesystem::path& root, std::vector<std::string> args) {
    args.insert(args.begin(), {"--root", root.string()});
    return args;
  }
};

class LinesimE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(std::string(VLR_BIN_DIR) + "/linesim")) GTEST_SKIP() << "linesim not built";
    dosdevices_ = root_.path() / "dosdevices";
    std::filesystem::create_directories(dosdevices_);
  }
  // A COM port with nothing behind it.
  void no_device(int n) {
    std::filesystem::create_symlink("/dev/pts/no-such-port", dosdevices_ / ("com" + std::to_string(n)));
  }
  platform::ScopedSystemRoot root_;
  std::filesystem::path dosdevices_;
};

TEST_F(LinesimE2E, EnumerationFindsTheTwoModemsAmongFourPorts) {
  no_device(1);
  Linesim sim(root_.path(), {"--modem", "COM2=generic", "--silent", "COM3", "--modem", "COM4=sportster288"});
  ASSERT_TRUE(sim.ready());
  SerialPortName names[4] = {};
  SerialPortName* entries[4] = {&names[0], &names[1], &names[2], &names[3]};
  ModemPortList list{4, entries, nullptr};
  EXPECT_EQ(ModemPortEnumeration(&list), SERLINK_OK);
  ASSERT_EQ(list.count, 2u);
  EXPECT_STREQ(names[0].name, "COM2:");
  EXPECT_STREQ(names[1].name, "COM4:");
}

TEST_F(LinesimE2E, AutoConfigurationOfAKnownModem) {
  for (int n : {1, 3, 4}) no_device(n);
  Linesim sim(root_.path(), {"--modem", "COM2=sportster288"});
  ASSERT_TRUE(sim.ready());
  char reset[SERLINK_RESET_SIZE], setup[SERLINK_SETUP_SIZE];
  ModemAutoConfigRecord rec{{1, 0, 0, 0, 0, 0}, reset, setup, nullptr};
  EXPECT_EQ(ModemAutoConfigure(&rec), SERLINK_OK);
  EXPECT_EQ(rec.metrics.speed, 8) << "a 28800 modem answers at the starting speed 38400";
  EXPECT_STREQ(reset, "AT &F");
  EXPECT_EQ(std::string(setup).rfind("AT W1", 0), 0u) << setup;
}

// What auto-configuration must make of each simulated modem: the reset
// command it accepted, the speed code the identification answers start the
// search at (the simulation answers at any speed), an option its class must
// never be sent (the simulated modem refuses exactly that one), and one the
// setup string must hold.
struct ProfileCase {
  const char* profile;
  const char* reset;
  int speed;
  const char* never_in_setup;
  const char* in_setup;
};

class AutoConfigureEachProfile : public LinesimE2E, public ::testing::WithParamInterface<ProfileCase> {};

TEST_P(AutoConfigureEachProfile, FindsResetSpeedAndOptions) {
  const ProfileCase& c = GetParam();
  for (int n : {1, 3, 4}) no_device(n);
  Linesim sim(root_.path(), {"--modem", std::string("COM2=") + c.profile});
  ASSERT_TRUE(sim.ready());
  char reset[SERLINK_RESET_SIZE], setup[SERLINK_SETUP_SIZE];
  ModemAutoConfigRecord rec{{1, 0, 0, 0, 0, 0}, reset, setup, nullptr};
  ASSERT_EQ(ModemAutoConfigure(&rec), SERLINK_OK);
  EXPECT_STREQ(reset, c.reset);
  EXPECT_EQ(rec.metrics.speed, c.speed);
  const std::string s = setup;
  EXPECT_EQ(s.rfind("AT", 0), 0u) << s;
  if (*c.never_in_setup) {
    EXPECT_EQ(s.find(c.never_in_setup), std::string::npos) << s;
  }
  if (*c.in_setup) {
    EXPECT_NE(s.find(c.in_setup), std::string::npos) << s;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, AutoConfigureEachProfile,
    ::testing::Values(ProfileCase{"generic", "AT &F", 8, "", " &K3"},
                      ProfileCase{"tbsa965", "AT &F", 7, "&B1", " &K3"},
                      ProfileCase{"m968", "AT &F", 7, "&B1", " &K3"},
                      ProfileCase{"t2500", "AT &F", 7, "&B1", " &K3"},
                      ProfileCase{"gateway", "AT &F", 7, "\\N3", " &B1"},
                      ProfileCase{"sportster144", "AT &F", 7, "", " &Q5"},
                      ProfileCase{"sportster288", "AT &F", 8, "", " W1"},
                      ProfileCase{"attv34", "AT &F", 8, "&M4", " &K3"},
                      ProfileCase{"nofactory", "AT Z", 8, "", " &K3"},
                      ProfileCase{"hayes2400", "AT &F", 2, "&K", " X4"}),
    [](const ::testing::TestParamInfo<ProfileCase>& info) { return std::string(info.param.profile); });

// A loopback peer that sends back whatever it receives, for one connection.
class EchoPeer {
 public:
  EchoPeer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener_, 1) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 30'000) != 1) return;
      const int conn = ::accept(listener_, nullptr, nullptr);
      if (conn < 0) return;
      char buf[256];
      for (ssize_t n; (n = ::read(conn, buf, sizeof buf)) > 0;) {
        if (::write(conn, buf, static_cast<size_t>(n)) != n) break;
      }
      ::close(conn);
    });
  }
  ~EchoPeer() {
    ::shutdown(listener_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(listener_);
  }
  int port() const { return port_; }

 private:
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

TEST_F(LinesimE2E, DialToALoopbackEchoPeerCarriesDataBothWays) {
  for (int n : {1, 3, 4}) no_device(n);
  EchoPeer peer;
  ASSERT_NE(peer.port(), 0);
  Linesim sim(root_.path(), {"--modem", "COM2=generic", "--dial",
                             "5551234=127.0.0.1:" + std::to_string(peer.port())});
  ASSERT_TRUE(sim.ready());

  SerialOpenRequest open{1, 128, 128};
  ASSERT_EQ(SerialChannelOpen(&open), SERLINK_OK);
  SerialChannelMetrics metrics{1, 8, 8, 0, 0, 0};
  ASSERT_EQ(SerialChannelSetMetrics(&metrics), SERLINK_OK);
  int32_t channel = 1;
  ASSERT_EQ(ModemOpen(&channel), SERLINK_OK);
  ModemDialRequest dial{1, SERLINK_DIAL_TONE, 30, "9,5551234"};  // an outside-line prefix still reaches the number
  ASSERT_EQ(ModemDial(&dial), SERLINK_OK);
  char line[SERLINK_RESPONSE_SIZE];
  ModemResponse response{1, 10, line, 0};
  ASSERT_EQ(ModemRecvResponse(&response), SERLINK_OK);
  ASSERT_EQ(response.result, MODEM_RESULT_CONNECT) << line;

  char hello[] = "hello over the line\r";
  SerialTransfer out{1, hello, static_cast<int32_t>(sizeof hello - 1), 0};
  ASSERT_EQ(SerialChannelWrite(&out), SERLINK_OK);
  // The echo ends with the CR sent: the library's own bounded wait for a
  // line returns as soon as it has crossed the paced line.
  char echoed[SERLINK_RESPONSE_SIZE];
  ModemResponse echo{1, 10, echoed, 0};
  EXPECT_EQ(ModemRecvResponse(&echo), SERLINK_OK);
  EXPECT_STREQ(echoed, "hello over the line");
  EXPECT_EQ(echo.result, MODEM_RESULT_OTHER);

  EXPECT_EQ(ModemHangup(1), SERLINK_OK);
  EXPECT_EQ(SerialChannelClose(&channel), SERLINK_OK);
}

}  // namespace
