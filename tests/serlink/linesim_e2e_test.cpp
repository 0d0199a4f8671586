// End to end over real pseudo-terminals: the linesim program plays modems
// behind DIR/dosdevices/comN; the library finds and configures them in real
// time, as the wizard does.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/system_root.h"
#include "serlink.h"

extern char** environ;

namespace {

// Runs linesim with `args` beneath a fresh root until destroyed.
class Linesim {
 public:
  explicit Linesim(const std::filesystem::path& root, std::vector<std::string> args) {
    std::string program = std::string(VLR_BIN_DIR) + "/linesim";
    std::vector<std::string> all = {program, "--root", root.string()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string seen;
    char c;
    while (pid_ > 0 && ::read(out[0], &c, 1) == 1) {
      seen += c;
      if (seen.find("ready\n") != std::string::npos) {
        ready_ = true;
        break;
      }
    }
    ::close(out[0]);
  }
  ~Linesim() {
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
  EXPECT_EQ(ModemPortEnumeration(&list), 0);
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
  EXPECT_EQ(ModemAutoConfigure(&rec), 0);
  EXPECT_EQ(rec.metrics.speed, 8) << "a 28800 modem answers at the starting speed 38400";
  EXPECT_STREQ(reset, "AT &F");
  EXPECT_EQ(std::string(setup).rfind("AT W1", 0), 0u) << setup;
}

}  // namespace
