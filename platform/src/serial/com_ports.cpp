// The default COM mapping and what is behind each COM number.
#include "platform/serial/com_ports.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <system_error>

#include "platform/storage/files.h"
#include "platform/loop/log.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

bool default_has_uart(const fs::path& path, const fs::path& sysfs_tty) {
  if (!sysfs_tty.empty()) {
    std::ifstream in(sysfs_tty / path.filename() / "type");
    int type = -1;
    if (in >> type) return type != PORT_UNKNOWN;
  }
  // Placeholders refuse the open (EIO) or answer PORT_UNKNOWN.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  serial_struct info{};
  bool uart = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  ::close(fd);
  return uart;
}

int default_access_error(const fs::path& path) {
  return ::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) == 0 ? 0 : errno;
}

// "ttyS12" with prefix "ttyS" -> 12; -1 when the rest is not a number.
long number_after(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return -1;
  long n = 0;
  for (std::size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || n > 100000) return -1;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

// Entries of `folder` named PREFIXn, in the order of n.
std::vector<fs::path> numbered(const fs::path& folder, const std::string& prefix) {
  std::vector<std::pair<long, fs::path>> found;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    long n = number_after(it->path().filename().string(), prefix);
    if (n >= 0) found.emplace_back(n, it->path());
  }
  std::sort(found.begin(), found.end());
  std::vector<fs::path> out;
  for (auto& f : found) out.push_back(std::move(f.second));
  return out;
}

// COM number of a dosdevices entry "comN", 0 when it is not one.
int com_entry_number(const std::string& name) {
  long n = number_after(name, "com");
  return n >= 1 && n <= 256 ? static_cast<int>(n) : 0;
}

std::string group_name(gid_t gid) {
  std::vector<char> buf(4096);
  group g{};
  group* out = nullptr;
  if (::getgrgid_r(gid, &g, buf.data(), buf.size(), &out) == 0 && out) return out->gr_name;
  return std::to_string(gid);
}

std::string owner_name(uid_t uid) {
  std::vector<char> buf(4096);
  passwd p{};
  passwd* out = nullptr;
  if (::getpwuid_r(uid, &p, buf.data(), buf.size(), &out) == 0 && out) return out->pw_name;
  return std::to_string(uid);
}

std::string current_user() {
  std::vector<char> buf(4096);
  passwd p{};
  passwd* out = nullptr;
  if (::getpwuid_r(::geteuid(), &p, buf.data(), buf.size(), &out) == 0 && out) return out->pw_name;
  if (const char* user = std::getenv("USER"); user && *user) return user;
  return std::to_string(::geteuid());
}

}  // namespace

DeviceFolders default_device_folders() {
  DeviceFolders d;
  if (const char* dir = std::getenv("VLR_DEVICE_DIR"); dir && *dir) {
    d.dev = dir;
    d.sysfs_tty.clear();  // the machine's own ports are not the folder's
  }
  return d;
}

std::vector<fs::path> com_link_candidates(const DeviceFolders& devices) {
  std::vector<fs::path> out;
  std::set<fs::path> taken;  // real paths already given a port
  auto add = [&](const fs::path& target) {
    if (out.size() >= static_cast<std::size_t>(kDefaultComPorts)) return;
    std::error_code ec;
    fs::path real = fs::canonical(target, ec);
    if (ec || !taken.insert(real).second) return;
    out.push_back(target);
  };

  std::vector<fs::path> by_id;
  std::error_code ec;
  for (fs::directory_iterator it(devices.dev / "serial" / "by-id", ec), end; !ec && it != end; it.increment(ec)) {
    by_id.push_back(it->path());
  }
  std::sort(by_id.begin(), by_id.end());
  for (const fs::path& p : by_id) add(p);
  for (const char* prefix : {"ttyACM", "ttyUSB"}) {
    for (const fs::path& p : numbered(devices.dev, prefix)) add(p);
  }
  auto has_uart = devices.has_uart ? devices.has_uart
                                  : [&devices](const fs::path& p) { return default_has_uart(p, devices.sysfs_tty); };
  for (const fs::path& p : numbered(devices.dev, "ttyS")) {
    if (out.size() >= static_cast<std::size_t>(kDefaultComPorts)) break;
    if (has_uart(p)) add(p);
  }
  return out;
}

int ensure_com_links(const fs::path& dosdevices, const DeviceFolders& devices, std::string* error) {
  auto has_links = [&] {
    std::error_code ec;
    for (fs::directory_iterator it(dosdevices, ec), end; !ec && it != end; it.increment(ec)) {
      if (com_entry_number(it->path().filename().string()) != 0) return true;
    }
    return false;
  };
  if (dosdevices.empty()) return 0;
  if (has_links()) return 0;
  std::error_code ec;
  fs::create_directories(dosdevices, ec);
  if (ec) {
    if (error) *error = "cannot make " + dosdevices.string() + ": " + ec.message();
    return -1;
  }
  // Another program may be making the same links: one at a time, and the
  // second finds the first one's links.
  FileLock lock(dosdevices);
  if (!lock.locked()) {
    if (error) *error = lock.error();
    return -1;
  }
  if (has_links()) return 0;
  int written = 0;
  for (const fs::path& target : com_link_candidates(devices)) {
    fs::path link = dosdevices / ("com" + std::to_string(written + 1));
    // symlink() never replaces an entry, so a link made meanwhile stays.
    if (::symlink(target.c_str(), link.c_str()) != 0) {
      if (error) *error = "cannot make " + link.string() + ": " + std::strerror(errno);
      return -1;
    }
    ++written;
    log_info("serial", "COM" + std::to_string(written) + " is " + target.string() + " (" + link.string() + ")");
  }
  return written;
}

bool is_network_link(const std::string& link_text) { return link_text.rfind(kRfc2217Scheme, 0) == 0; }

ComPortInfo com_port_info(int number, const fs::path& dosdevices, const DeviceFolders& devices) {
  ComPortInfo info;
  info.number = number;
  info.user = current_user();
  fs::path path;
  std::error_code ec;
  if (dosdevices.empty()) {
    path = "/dev/ttyS" + std::to_string(number - 1);
    info.link_text = path.string();
  } else {
    info.link = dosdevices / ("com" + std::to_string(number));
    fs::file_status st = fs::symlink_status(info.link, ec);
    if (ec || !fs::exists(st)) return info;  // NoLink
    path = info.link;
    if (fs::is_symlink(st)) info.link_text = fs::read_symlink(info.link, ec).string();
    if (is_network_link(info.link_text)) {
      info.state = ComPortState::Network;
      return info;
    }
  }
  info.device = fs::canonical(path, ec);
  struct stat st {};
  if (ec || ::stat(info.device.c_str(), &st) != 0) {
    info.device.clear();
    info.state = ComPortState::Missing;
    return info;
  }
  info.group = group_name(st.st_gid);
  info.owner = owner_name(st.st_uid);
  if (!S_ISCHR(st.st_mode)) {
    info.state = ComPortState::NotADevice;
    return info;
  }
  auto access_error = devices.access_error ? devices.access_error : default_access_error;
  int err = access_error(info.device);
  if (err == EACCES || err == EPERM) {
    info.state = ComPortState::NoPermission;
    // Joining the group helps only when the group may read and write.
    if ((st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP)) {
      info.add_user_command = "sudo usermod -a -G " + info.group + " " + info.user;
    }
    return info;
  }
  info.state = ComPortState::Device;
  return info;
}

std::vector<ComPortInfo> com_ports(const fs::path& dosdevices, int max_com, const DeviceFolders& devices) {
  std::vector<ComPortInfo> out;
  for (int n = 1; n <= max_com; ++n) {
    ComPortInfo info = com_port_info(n, dosdevices, devices);
    if (info.state != ComPortState::NoLink) out.push_back(std::move(info));
  }
  return out;
}

std::string permission_advice(const ComPortInfo& info) {
  if (info.state != ComPortState::NoPermission) return {};
  std::string text = "COM" + std::to_string(info.number) + " is " + info.device.string() + ", which you (" +
                     info.user + ") may not open: ";
  if (!info.add_user_command.empty()) {
    return text + "it belongs to the group \"" + info.group + "\". Add yourself to that group with \"" +
           info.add_user_command + "\", then log out and in again.";
  }
  return text + "only its owner (" + info.owner + ") may use it.";
}

std::string describe_com_port(const ComPortInfo& info) {
  std::string line = "COM" + std::to_string(info.number) + "  ";
  line += info.link.empty() ? info.link_text : info.link.string() + " -> " + info.link_text;
  switch (info.state) {
    case ComPortState::NoLink: return line + "(no link)";
    case ComPortState::Missing: return line + "  (nothing there)";
    case ComPortState::Network: return line + "  (network serial port, RFC 2217)";
    case ComPortState::NotADevice: return line + "  (" + info.device.string() + ": not a serial device)";
    case ComPortState::Device:
      return line + "  (" + info.device.string() + ", group " + info.group + ")";
    case ComPortState::NoPermission:
      return line + "  (" + info.device.string() + ", group " + info.group + ": permission denied)";
  }
  return line;
}

}  // namespace platform
