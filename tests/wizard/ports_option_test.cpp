// `joinwiz --ports`, run as a program: the first look writes the default
// mapping from the device folder (VLR_DEVICE_DIR stands for /dev) and prints
// each COM port, its link and what is behind it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"
#include "wizard/command_line.h"

namespace wizard {
namespace {

namespace fs = std::filesystem;

std::string run(const std::string& command, int& status) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  char buf[512];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  status = ::pclose(p);
  return out;
}

class PortsOption : public ::testing::Test {
 protected:
  void SetUp() override {
    joinwiz_ = std::string(VLR_BIN_DIR) + "/joinwiz";
    if (!fs::exists(joinwiz_)) GTEST_SKIP() << "joinwiz not built";
    fs::create_directories(dir_ / "dev" / "serial" / "by-id");
  }
  std::string ports(int& status) {
    return run("VLR_DEVICE_DIR='" + (dir_ / "dev").string() + "' '" + joinwiz_ + "' --ports --root '" +
                   (dir_ / "root").string() + "' 2>&1 </dev/null",
               status);
  }
  std::string joinwiz_;
  test_support::TempDir temp_{"vlr_ports"};
  const fs::path dir_ = temp_.path();
};

TEST_F(PortsOption, WritesTheMappingAndPrintsWhatIsBehindEachPort) {
  const fs::path id = dir_ / "dev/serial/by-id/usb-Tarkel_Dataline_56K_0001-if00";
  fs::create_symlink("/dev/null", id);  // a character device stands in for the modem
  int status = -1;
  const std::string out = ports(status);
  EXPECT_EQ(status, 0) << out;
  const fs::path link = dir_ / "root/dosdevices/com1";
  EXPECT_EQ(out, "COM1  " + link.string() + " -> " + id.string() + "  (/dev/null, group root)\n");
  EXPECT_EQ(fs::read_symlink(link), id);

  // The mapping stays; a network port the user adds is shown as one.
  fs::create_symlink("rfc2217://127.0.0.1:7000", dir_ / "root/dosdevices/com3");
  EXPECT_EQ(ports(status), "COM1  " + link.string() + " -> " + id.string() + "  (/dev/null, group root)\n" +
                               "COM3  " + (dir_ / "root/dosdevices/com3").string() +
                               " -> rfc2217://127.0.0.1:7000  (network serial port, RFC 2217)\n");
}

TEST_F(PortsOption, NoDeviceAtAll) {
  int status = -1;
  const std::string out = ports(status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, "No COM ports: " + (dir_ / "root/dosdevices").string() +
                     " has no comN link and no serial device was found.\n");
}

TEST(CommandLine, PortsOption) {
  EXPECT_TRUE(parse_command_line({"--ports", "--root", "/tmp/x"}).line.ports);
  EXPECT_FALSE(parse_command_line({}).line.ports);
}

}  // namespace
}  // namespace wizard
