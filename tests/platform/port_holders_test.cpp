// Processes that hold a serial device are found and named; the udev rule
// that keeps ModemManager away is udev syntax built from USB ids only.
#include "platform/serial/port_holders.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <tuple>
#include <string>

namespace platform {
namespace {

namespace fs = std::filesystem;

class PtyHolder {
 public:
  PtyHolder() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    slave_ = ::ptsname(master_);
  }
  ~PtyHolder() {
    if (child_ > 0) {
      ::kill(child_, SIGKILL);
      ::waitpid(child_, nullptr, 0);
    }
    if (master_ >= 0) ::close(master_);
  }
  const std::string& slave() const { return slave_; }
  // A child that opens the device and waits, as a terminal program would.
  pid_t StartChild() {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    child_ = ::fork();
    if (child_ == 0) {
      ::close(ready[0]);
      const int fd = ::open(slave_.c_str(), O_RDWR | O_NOCTTY);
      (void)!::write(ready[1], fd >= 0 ? "y" : "n", 1);
      ::pause();
      ::_exit(0);
    }
    ::close(ready[1]);
    char c = 0;
    (void)!::read(ready[0], &c, 1);
    ::close(ready[0]);
    return c == 'y' ? child_ : -1;
  }

 private:
  int master_ = -1;
  std::string slave_;
  pid_t child_ = 0;
};

TEST(PortHolders, ChildHoldingThePseudoTerminalIsNamed) {
  PtyHolder pty;
  ASSERT_FALSE(pty.slave().empty());
  EXPECT_TRUE(port_holders(pty.slave()).empty()) << "only the master is open";
  const pid_t child = pty.StartChild();
  ASSERT_GT(child, 0);
  const std::vector<PortHolder> holders = port_holders(pty.slave());
  ASSERT_EQ(holders.size(), 1u);
  EXPECT_EQ(holders[0].pid, child);
  EXPECT_FALSE(holders[0].name.empty());
  EXPECT_FALSE(is_modem_manager(holders[0]));
  const std::string text = port_holders_text(pty.slave(), holders);
  EXPECT_NE(text.find(pty.slave() + " is in use by"), std::string::npos) << text;
  EXPECT_NE(text.find("(process " + std::to_string(child) + ": "), std::string::npos) << text;
  EXPECT_NE(text.find("kill " + std::to_string(child)), std::string::npos) << text;
  // This process opening the device too is not another program.
  const int own = ::open(pty.slave().c_str(), O_RDWR | O_NOCTTY);
  EXPECT_EQ(port_holders(pty.slave()).size(), 1u);
  ::close(own);
}

TEST(PortHolders, ModemManagerGetsTheWayToKeepItAway) {
  const std::vector<PortHolder> holders = {{812, "ModemManager", "/usr/sbin/ModemManager"}};
  ASSERT_TRUE(is_modem_manager(holders[0]));
  EXPECT_TRUE(is_modem_manager({9, "", "/usr/sbin/ModemManager --debug"}));
  const std::string text = port_holders_text("/dev/ttyACM0", holders);
  EXPECT_NE(text.find("ModemManager (process 812: /usr/sbin/ModemManager)"), std::string::npos) << text;
  EXPECT_NE(text.find("sudo systemctl stop ModemManager"), std::string::npos) << text;
  EXPECT_EQ(text.find("kill 812"), std::string::npos) << "ModemManager is stopped, not killed: " << text;
  EXPECT_TRUE(port_holders_text("/dev/ttyACM0", {}).empty());
}

TEST(PortHolders, NoDeviceNoHolders) {
  EXPECT_TRUE(port_holders("/nonexistent/ttyS9").empty());
  EXPECT_TRUE(port_holders("/etc/hostname").empty()) << "not a character device";
  EXPECT_TRUE(port_holders("/dev/null").empty()) << "held by many, but no serial line";
}

// USB ids from a sysfs tree laid out as the kernel's: the tty's device link
// leads to the interface, whose parent has idVendor and idProduct.
TEST(PortHolders, UsbIdsAreReadFromTheDeviceAbove) {
  char tmpl[] = "/tmp/port_holders_sys_XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  const fs::path sys = tmpl;
  const fs::path usb = sys / "devices/pci0000:00/usb1/1-2";
  fs::create_directories(usb / "1-2:1.0/tty/ttyACM0");
  std::ofstream(usb / "idVendor") << "0572\n";
  std::ofstream(usb / "idProduct") << "1329\n";
  fs::create_directories(sys / "class/tty/ttyACM0");
  fs::create_directory_symlink(usb / "1-2:1.0", sys / "class/tty/ttyACM0/device");
  fs::create_directories(sys / "class/tty/ttyS0");  // a UART: no device above it with ids
  std::optional<UsbIds> ids = usb_ids_of("/dev/ttyACM0", sys);
  ASSERT_TRUE(ids);
  EXPECT_EQ(ids->vendor, "0572");
  EXPECT_EQ(ids->product, "1329");
  EXPECT_FALSE(usb_ids_of("/dev/ttyS0", sys));
  fs::remove_all(sys);
}

// The rule as udev reads a line: comma-separated KEY op "value" pairs,
// match keys (==) before the assignment (=). Checked with udevadm verify
// where this machine has it.
TEST(PortHolders, IgnoreRuleIsUdevSyntaxForTheIdsOnly) {
  const std::optional<std::string> rule = modem_manager_ignore_rule({"0572", "1329"});
  ASSERT_TRUE(rule);
  std::istringstream lines(*rule);
  std::string comment, line, extra;
  ASSERT_TRUE(std::getline(lines, comment));
  ASSERT_TRUE(std::getline(lines, line));
  EXPECT_FALSE(std::getline(lines, extra)) << "one rule line";
  EXPECT_EQ(comment.front(), '#');
  const std::regex pair(R"re(([A-Z_]+(\{[A-Za-z_]+\})?)(==|=)"([^"]*)")re");
  std::vector<std::tuple<std::string, std::string, std::string>> pairs;
  std::string rest = line;
  for (std::smatch m; std::regex_search(rest, m, pair); rest = m.suffix()) {
    EXPECT_TRUE(m.prefix().str().empty() || m.prefix().str() == ", ") << "between pairs: '" << m.prefix() << "'";
    pairs.emplace_back(m[1], m[3], m[4]);
  }
  EXPECT_TRUE(rest.empty()) << "left over: " << rest;
  using P = std::tuple<std::string, std::string, std::string>;
  const std::vector<P> want = {P{"ACTION", "==", "add|change"}, P{"SUBSYSTEM", "==", "tty"},
                               P{"ATTRS{idVendor}", "==", "0572"}, P{"ATTRS{idProduct}", "==", "1329"},
                               P{"ENV{ID_MM_DEVICE_IGNORE}", "=", "1"}};
  EXPECT_EQ(pairs, want);
  EXPECT_EQ(modem_manager_rule_file_name({"0572", "1329"}), "77-veloran-modem-0572-1329.rules");
  EXPECT_EQ(*modem_manager_ignore_rule({"0ABC", "DEF0"}), *modem_manager_ignore_rule({"0abc", "def0"}));

  // Only four hex digits each reach the text.
  for (const UsbIds& bad : std::vector<UsbIds>{{"572", "1329"}, {"05720", "1329"}, {"0572", "13g9"},
                                               {"05\"2", "1329"}, {"0572", ""}, {"0572", "1,29"}}) {
    EXPECT_FALSE(modem_manager_ignore_rule(bad)) << bad.vendor << ":" << bad.product;
  }

  if (std::system("udevadm verify --help >/dev/null 2>&1") == 0) {
    char tmpl[] = "/tmp/port_holders_rule_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const fs::path file = fs::path(tmpl) / modem_manager_rule_file_name({"0572", "1329"});
    std::ofstream(file) << *rule;
    EXPECT_EQ(std::system(("udevadm verify --no-style '" + file.string() + "'").c_str()), 0);
    fs::remove_all(tmpl);
  }
}

}  // namespace
}  // namespace platform
