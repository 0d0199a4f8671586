// COM ports where Linux users have them: the default mapping from an injected
// device folder, the permission table, and what `--ports` shows.
#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/serial/com_ports.h"
#include "platform/serial/serial_port.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = "/tmp/vlr_com_" + std::to_string(::getpid()) + "_XXXXXX";
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// A folder laid out like /dev: files stand for the device nodes, by-id
// entries are relative links to them as udev makes them.
struct FakeDev {
  explicit FakeDev(const fs::path& where) : dev(where / "dev"), sys(where / "sys/class/tty") {
    fs::create_directories(dev / "serial" / "by-id");
  }
  void node(const std::string& name) { std::ofstream(dev / name) << ""; }
  void by_id(const std::string& id, const std::string& node_name) {
    node(node_name);
    fs::create_symlink("../../" + node_name, dev / "serial" / "by-id" / id);
  }
  // sysfs's record of a ttyS port: its UART type (0: none).
  void uart_type(const std::string& name, int type) const {
    fs::create_directories(sys / name);
    std::ofstream(sys / name / "type") << type << "\n";
  }
  DeviceFolders folders(std::vector<std::string> uarts = {}) const {
    DeviceFolders d;
    d.dev = dev;
    d.sysfs_tty = sys;
    if (!uarts.empty()) {
      d.has_uart = [uarts](const fs::path& p) {
        return std::find(uarts.begin(), uarts.end(), p.filename().string()) != uarts.end();
      };
    }
    return d;
  }
  fs::path dev;
  fs::path sys;
};

std::string link_of(const fs::path& dos, int n) {
  std::error_code ec;
  return fs::read_symlink(dos / ("com" + std::to_string(n)), ec).string();
}

int link_count(const fs::path& dos) {
  int n = 0;
  std::error_code ec;
  for (fs::directory_iterator it(dos, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().filename().string().rfind("com", 0) == 0) ++n;
  }
  return n;
}

TEST(DefaultComMapping, OneUsbModemAndFourPlaceholdersGiveComOneTheModem) {
  TempDir dir;
  FakeDev dev(dir.path());
  dev.by_id("usb-Tarkel_Dataline_56K_0001-if00", "ttyACM0");
  for (int i = 0; i < 4; ++i) dev.node("ttyS" + std::to_string(i));  // no UART: TIOCGSERIAL fails on them
  const fs::path dos = dir.path() / "root" / "dosdevices";

  EXPECT_EQ(ensure_com_links(dos, dev.folders()), 1);
  // The link names the by-id entry, which stays the same across plugging.
  EXPECT_EQ(link_of(dos, 1), (dev.dev / "serial/by-id/usb-Tarkel_Dataline_56K_0001-if00").string());
  EXPECT_EQ(link_count(dos), 1) << "placeholder ttyS ports get no COM number";
  EXPECT_EQ(fs::canonical(dos / "com1"), fs::canonical(dev.dev / "ttyACM0"));
}

TEST(DefaultComMapping, CandidatesInOrder) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> by_id;  // id, node
    std::vector<std::string> nodes;                          // further nodes
    std::vector<std::string> uarts;                          // ttyS with a UART
    std::vector<std::string> want;                           // link targets, relative to dev
  };
  const Case cases[] = {
      {"two USB modems keep their by-id order",
       {{"usb-Zeta_Modem_9-if00", "ttyACM0"}, {"usb-Alpha_Modem_1-if00", "ttyUSB3"}},
       {},
       {},
       {"serial/by-id/usb-Alpha_Modem_1-if00", "serial/by-id/usb-Zeta_Modem_9-if00"}},
      {"USB before the ttyS ports that have a UART",
       {{"usb-Alpha_Modem_1-if00", "ttyACM0"}},
       {"ttyS0", "ttyS1", "ttyS2", "ttyS3"},
       {"ttyS1"},
       {"serial/by-id/usb-Alpha_Modem_1-if00", "ttyS1"}},
      {"ttyS in number order, not name order",
       {},
       {"ttyS10", "ttyS2", "ttyS1"},
       {"ttyS10", "ttyS2"},
       {"ttyS2", "ttyS10"}},
      {"USB nodes without a by-id name follow the by-id ones, once",
       {{"usb-Alpha_Modem_1-if00", "ttyACM1"}},
       {"ttyACM0", "ttyUSB0"},
       {},
       {"serial/by-id/usb-Alpha_Modem_1-if00", "ttyACM0", "ttyUSB0"}},
      {"at most four",
       {{"usb-A-if00", "ttyACM0"}, {"usb-B-if00", "ttyACM1"}, {"usb-C-if00", "ttyACM2"}},
       {"ttyS0", "ttyS1"},
       {"ttyS0", "ttyS1"},
       {"serial/by-id/usb-A-if00", "serial/by-id/usb-B-if00", "serial/by-id/usb-C-if00", "ttyS0"}},
      {"nothing at all", {}, {"ttyS0"}, {}, {}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    FakeDev dev(dir.path());
    for (const auto& [id, node] : c.by_id) dev.by_id(id, node);
    for (const auto& node : c.nodes) dev.node(node);
    std::vector<std::string> got;
    for (const fs::path& p : com_link_candidates(dev.folders(c.uarts))) {
      got.push_back(p.lexically_relative(dev.dev).string());
    }
    EXPECT_EQ(got, c.want) << c.name;

    const fs::path dos = dir.path() / "dosdevices";
    EXPECT_EQ(ensure_com_links(dos, dev.folders(c.uarts)), static_cast<int>(c.want.size())) << c.name;
    for (std::size_t i = 0; i < c.want.size(); ++i) {
      EXPECT_EQ(link_of(dos, static_cast<int>(i + 1)), (dev.dev / c.want[i]).string()) << c.name;
    }
  }
}

TEST(DefaultComMapping, SysfsTellsWhichTtySHasAUart) {
  TempDir dir;
  FakeDev dev(dir.path());
  for (int i = 0; i < 4; ++i) {
    dev.node("ttyS" + std::to_string(i));
    dev.uart_type("ttyS" + std::to_string(i), i == 2 ? 4 : 0);  // ttyS2: a 16550A
  }
  std::vector<fs::path> got = com_link_candidates(dev.folders());
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], dev.dev / "ttyS2");
}

TEST(DefaultComMapping, ExistingLinksAreNeverChanged) {
  TempDir dir;
  FakeDev dev(dir.path());
  dev.by_id("usb-Alpha_Modem_1-if00", "ttyACM0");
  const fs::path dos = dir.path() / "dosdevices";
  fs::create_directories(dos);
  fs::create_symlink("/dev/ttyS7", dos / "com3");
  EXPECT_EQ(ensure_com_links(dos, dev.folders()), 0);
  EXPECT_EQ(link_of(dos, 3), "/dev/ttyS7");
  EXPECT_FALSE(fs::exists(fs::symlink_status(dos / "com1"))) << "a root with a link of its own gets no mapping";

  // Written once, the mapping stays: a modem plugged in later changes nothing.
  fs::remove(dos / "com3");
  EXPECT_EQ(ensure_com_links(dos, dev.folders()), 1);
  dev.by_id("usb-Aaa_First_0-if00", "ttyACM1");
  EXPECT_EQ(ensure_com_links(dos, dev.folders()), 0);
  EXPECT_EQ(link_of(dos, 1), (dev.dev / "serial/by-id/usb-Alpha_Modem_1-if00").string());
  EXPECT_EQ(link_count(dos), 1);
}

TEST(DefaultComMapping, OpeningComOneWritesTheMappingAndOpensTheDevice) {
  TempDir dir;
  FakeDev dev(dir.path());
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ::grantpt(master);
  ::unlockpt(master);
  fs::create_symlink(::ptsname(master), dev.dev / "serial/by-id/usb-Sim_Modem_1-if00");

  SerialOpenOptions o;
  o.dosdevices = dir.path() / "dosdevices";
  o.lock_dirs = {dir.path()};
  o.devices = dev.folders();
  SerialError e{};
  auto port = open_serial_port("COM1", o, e);
  ASSERT_TRUE(port) << serial_error_text(e);
  EXPECT_EQ(link_of(o.dosdevices, 1), (dev.dev / "serial/by-id/usb-Sim_Modem_1-if00").string());
  port->close();
  // COM2 has no link: it does not exist, and is never /dev/ttyS1.
  EXPECT_EQ(serial_device_path("COM2", o.dosdevices), o.dosdevices / "com2");
  EXPECT_FALSE(open_serial_port("COM2", o, e));
  EXPECT_EQ(e, SerialError::FileNotFound);
  ::close(master);
}

// ---- permission -------------------------------------------------------------

std::string self_user() { return com_port_info(1, {}).user; }

TEST(ComPortInfo, PermissionTable) {
  TempDir dir;
  const fs::path dos = dir.path() / "dosdevices";
  fs::create_directories(dos);
  std::ofstream(dir.path() / "plain") << "x";
  // A node of the null device owned by root:dialout, 0660 and 0600, as the
  // distributions make modem nodes; the access check is injected (the tests
  // run as root, who may open anything).
  const bool nodes = ::mknod((dir.path() / "modem0660").c_str(), S_IFCHR | 0660, ::makedev(1, 3)) == 0 &&
                     ::mknod((dir.path() / "modem0600").c_str(), S_IFCHR | 0600, ::makedev(1, 3)) == 0;
  const group* dialout = ::getgrnam("dialout");
  const gid_t gid = dialout ? dialout->gr_gid : 20;
  const std::string group_name = dialout ? "dialout" : "20";
  if (nodes) {
    ASSERT_EQ(::chown((dir.path() / "modem0660").c_str(), 0, gid), 0);
    ASSERT_EQ(::chown((dir.path() / "modem0600").c_str(), 0, gid), 0);
    ::chmod((dir.path() / "modem0660").c_str(), 0660);  // mknod's mode passes the umask
  }
  DeviceFolders devices;
  devices.access_error = [](const fs::path& p) {
    return p.filename().string().rfind("modem", 0) == 0 ? EACCES : 0;
  };
  const std::string user = self_user();

  struct Case {
    int com;
    std::string target;  // link text; empty: no link
    ComPortState state;
    std::string group;
    std::string command;
    bool needs_nodes;
  };
  const Case cases[] = {
      {1, "", ComPortState::NoLink, "", "", false},
      {2, (dir.path() / "gone").string(), ComPortState::Missing, "", "", false},
      {3, "/dev/null", ComPortState::Device, "root", "", false},
      {4, (dir.path() / "plain").string(), ComPortState::NotADevice, "root", "", false},
      {5, "rfc2217://127.0.0.1:7000", ComPortState::Network, "", "", false},
      {6, (dir.path() / "modem0660").string(), ComPortState::NoPermission, group_name,
       "sudo usermod -a -G " + group_name + " " + user, true},
      {7, (dir.path() / "modem0600").string(), ComPortState::NoPermission, group_name, "", true},
  };
  for (const Case& c : cases) {
    if (c.needs_nodes && !nodes) continue;
    if (!c.target.empty()) fs::create_symlink(c.target, dos / ("com" + std::to_string(c.com)));
    ComPortInfo info = com_port_info(c.com, dos, devices);
    EXPECT_EQ(info.state, c.state) << "COM" << c.com;
    if (c.state != ComPortState::NoLink && c.state != ComPortState::Missing && c.state != ComPortState::Network) {
      EXPECT_EQ(info.group, c.group) << "COM" << c.com;
    }
    EXPECT_EQ(info.add_user_command, c.command) << "COM" << c.com;
    EXPECT_EQ(permission_advice(info).empty(), c.state != ComPortState::NoPermission) << "COM" << c.com;
  }
  if (!nodes) GTEST_SKIP() << "mknod is not allowed here: the device rows were left out";

  const ComPortInfo six = com_port_info(6, dos, devices);
  EXPECT_EQ(permission_advice(six), "COM6 is " + (dir.path() / "modem0660").string() + ", which you (" + user +
                                        ") may not open: it belongs to the group \"" + group_name +
                                        "\". Add yourself to that group with \"sudo usermod -a -G " + group_name +
                                        " " + user + "\", then log out and in again.");
  EXPECT_EQ(permission_advice(com_port_info(7, dos, devices)),
            "COM7 is " + (dir.path() / "modem0600").string() + ", which you (" + user +
                ") may not open: only its owner (root) may use it.");
  EXPECT_EQ(describe_com_port(six), "COM6  " + (dos / "com6").string() + " -> " + (dir.path() / "modem0660").string() +
                                        "  (" + (dir.path() / "modem0660").string() + ", group " + group_name +
                                        ": permission denied)");
}

// The default access check, for real: a child that gives up root and looks
// at a 0660 root:dialout node sees it as not its own to open.
TEST(ComPortInfo, DefaultCheckSeesAPortThisUserMayNotOpen) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make the node and to become another user";
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  const fs::path node = dir.path() / "ttyACM0";
  if (::mknod(node.c_str(), S_IFCHR | 0660, ::makedev(1, 3)) != 0) GTEST_SKIP() << "mknod is not allowed here";
  const group* dialout = ::getgrnam("dialout");
  if (!dialout) GTEST_SKIP() << "no dialout group";
  ASSERT_EQ(::chown(node.c_str(), 0, dialout->gr_gid), 0);
  ::chmod(node.c_str(), 0660);
  const fs::path dos = dir.path() / "dosdevices";
  fs::create_directories(dos);
  fs::create_symlink(node, dos / "com1");

  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(fds[0]);
    std::string out = "setuid failed";
    if (::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
        ::setresuid(65534, 65534, 65534) == 0) {
      DeviceFolders devices;  // the default faccessat check
      ComPortInfo info = com_port_info(1, dos, devices);
      out = std::to_string(static_cast<int>(info.state)) + "|" + info.group + "|" + info.add_user_command;
    }
    [[maybe_unused]] auto n = ::write(fds[1], out.data(), out.size());
    ::_exit(0);
  }
  ::close(fds[1]);
  char buf[512];
  std::string got;
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(got, std::to_string(static_cast<int>(ComPortState::NoPermission)) +
                     "|dialout|sudo usermod -a -G dialout nobody");
  // Root itself may open it.
  EXPECT_EQ(com_port_info(1, dos, DeviceFolders{}).state, ComPortState::Device);
}

TEST(ComPortInfo, PortsListsOnlyLinkedPortsAndDescribesThem) {
  TempDir dir;
  const fs::path dos = dir.path() / "dosdevices";
  fs::create_directories(dos);
  fs::create_symlink("/dev/null", dos / "com1");
  fs::create_symlink("rfc2217://127.0.0.1:7000", dos / "com3");
  fs::create_symlink(dir.path() / "gone", dos / "com4");
  std::vector<ComPortInfo> ports = com_ports(dos, 9);
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(describe_com_port(ports[0]), "COM1  " + (dos / "com1").string() + " -> /dev/null  (/dev/null, group root)");
  EXPECT_EQ(describe_com_port(ports[1]),
            "COM3  " + (dos / "com3").string() + " -> rfc2217://127.0.0.1:7000  (network serial port, RFC 2217)");
  EXPECT_EQ(describe_com_port(ports[2]),
            "COM4  " + (dos / "com4").string() + " -> " + (dir.path() / "gone").string() + "  (nothing there)");
}

}  // namespace
}  // namespace platform
