// End to end over a network serial port: the real ser2net exports a linesim
// modem's pseudo-terminal over RFC 2217 on 127.0.0.1, and COM2 is a link to
// rfc2217://127.0.0.1:PORT. Auto-configuration through it must give the
// record it gives on the pseudo-terminal itself.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "linesim/process.h"
#include "platform/storage/system_root.h"
#include "serlink.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string find_program(const std::string& name) {
  for (const char* dir : {"/usr/sbin", "/usr/bin", "/sbin", "/bin", "/usr/local/sbin", "/usr/local/bin"}) {
    fs::path p = fs::path(dir) / name;
    if (::access(p.c_str(), X_OK) == 0) return p.string();
  }
  return {};
}

// A TCP port nobody listens on now (the kernel's choice).
int free_port() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

// True once something listens on 127.0.0.1:port (read from /proc/net/tcp, so
// that looking does not open a connection, which ser2net would answer by
// opening the modem).
bool listening(int port) {
  std::ifstream in("/proc/net/tcp");
  std::string line;
  char want[32];
  std::snprintf(want, sizeof want, "0100007F:%04X", port);
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string slot, local, remote, state;
    words >> slot >> local >> remote >> state;
    if (local == want && state == "0A") return true;
  }
  return false;
}

// ser2net exporting `device` over RFC 2217 on 127.0.0.1:port until destroyed.
class Ser2net {
 public:
  Ser2net(const std::string& program, const fs::path& folder, const std::string& device, int port) {
    const fs::path config = folder / "ser2net.yaml";
    std::ofstream(config) << "%YAML 1.1\n---\n"
                          << "connection: &modem\n"
                          << "    accepter: telnet(rfc2217),tcp,127.0.0.1," << port << "\n"
                          << "    connector: serialdev," << device << ",9600n81,local\n"
                          << "    options:\n"
                          << "      kickolduser: true\n";
    std::vector<std::string> args = {program, "-n", "-d", "-c", config.string(), "-P",
                                     (folder / "ser2net.pid").string()};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = (folder / "ser2net.log").string();
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    // Another process starting up: looked at every 20 ms, for at most 10 s.
    for (int i = 0; i < 500 && pid_ > 0; ++i) {
      if (listening(port)) {
        ready_ = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~Ser2net() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  bool ready() const { return ready_; }

 private:
  pid_t pid_ = -1;
  bool ready_ = false;
};

struct Record {
  std::int32_t speed = 0;
  std::string reset;
  std::string setup;
  bool operator==(const Record&) const = default;
};

std::ostream& operator<<(std::ostream& o, const Record& r) {
  return o << "{speed " << r.speed << ", reset \"" << r.reset << "\", setup \"" << r.setup << "\"}";
}

int32_t configure_com2(Record& out) {
  char reset[SERLINK_RESET_SIZE] = {}, setup[SERLINK_SETUP_SIZE] = {};
  ModemAutoConfigRecord rec{{1, 0, 0, 0, 0, 0}, reset, setup, nullptr};
  int32_t rc = ModemAutoConfigure(&rec);
  out = {rec.metrics.speed, reset, setup};
  return rc;
}

class Rfc2217E2E : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (!fs::exists(std::string(VLR_BIN_DIR) + "/linesim")) GTEST_SKIP() << "linesim not built";
    ser2net_ = find_program("ser2net");
    if (ser2net_.empty()) GTEST_SKIP() << "ser2net is not installed (scripts/install-deps)";
    dosdevices_ = root_.path() / "dosdevices";
    fs::create_directories(dosdevices_);
    for (int n : {1, 3, 4}) fs::create_symlink("/dev/pts/no-such-port", dosdevices_ / ("com" + std::to_string(n)));
  }
  platform::ScopedSystemRoot root_;
  fs::path dosdevices_;
  std::string ser2net_;
};

TEST_P(Rfc2217E2E, AutoConfigurationGivesTheRecordOfThePseudoTerminal) {
  linesim::Process sim(std::string(VLR_BIN_DIR) + "/linesim",
                       {"--root", root_.path().string(), "--modem", std::string("COM2=") + GetParam()});
  ASSERT_TRUE(sim.ready());
  const fs::path link = dosdevices_ / "com2";
  const std::string pty = fs::read_symlink(link).string();

  Record direct;
  ASSERT_EQ(configure_com2(direct), 0) << "on the pseudo-terminal " << pty;

  const int port = free_port();
  Ser2net server(ser2net_, root_.path(), pty, port);
  ASSERT_TRUE(server.ready()) << "ser2net did not listen on " << port;
  fs::remove(link);
  fs::create_symlink("rfc2217://127.0.0.1:" + std::to_string(port), link);

  SerialPortName names[4] = {};
  SerialPortName* entries[4] = {&names[0], &names[1], &names[2], &names[3]};
  ModemPortList list{4, entries, nullptr};
  ASSERT_EQ(ModemPortEnumeration(&list), SERLINK_OK);
  ASSERT_EQ(list.count, 1u);
  EXPECT_STREQ(names[0].name, "COM2:");

  Record network;
  ASSERT_EQ(configure_com2(network), 0) << "through ser2net";
  EXPECT_EQ(network, direct);
}

INSTANTIATE_TEST_SUITE_P(Profiles, Rfc2217E2E, ::testing::Values("generic", "hayes2400"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// ser2net gone: the port is as a tty that vanished, for the channel too.
TEST_F(Rfc2217E2E, NoServerIsNoModem) {
  const int port = free_port();
  fs::create_symlink("rfc2217://127.0.0.1:" + std::to_string(port), dosdevices_ / "com2");
  SerialOpenRequest open{1, 128, 128};
  EXPECT_EQ(SerialChannelOpen(&open), SERLINK_E_NO_PORT) << "as a COM port without a device";
  SerialPortName names[4] = {};
  SerialPortName* entries[4] = {&names[0], &names[1], &names[2], &names[3]};
  ModemPortList list{4, entries, nullptr};
  EXPECT_EQ(ModemPortEnumeration(&list), SERLINK_E_NO_MODEM);
}

}  // namespace
