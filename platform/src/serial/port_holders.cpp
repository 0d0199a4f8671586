#include "platform/serial/port_holders.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/storage/product_names.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

std::string read_small_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return text.substr(0, 4096);
}

bool is_hex4(const std::string& s) {
  if (s.size() != 4) return false;
  for (char c : s) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string first_line(std::string s) {
  if (auto nl = s.find('\n'); nl != std::string::npos) s.resize(nl);
  return s;
}

// Serial lines and pseudo-terminals only: a port mapped to something else
// (/dev/null in tests) is held by half the system and means nothing.
bool is_tty_device(dev_t rdev) {
  const unsigned maj = major(rdev);
  if (maj >= 136 && maj <= 143) return true;  // Unix98 pseudo-terminal slaves (not in sysfs)
  std::error_code ec;
  const fs::path subsystem = fs::read_symlink(
      "/sys/dev/char/" + std::to_string(maj) + ":" + std::to_string(minor(rdev)) + "/subsystem", ec);
  return !ec && subsystem.filename() == "tty";
}

}  // namespace

std::vector<PortHolder> port_holders(const fs::path& device, const fs::path& proc) {
  std::vector<PortHolder> holders;
  struct stat want {};
  if (::stat(device.c_str(), &want) != 0 || !S_ISCHR(want.st_mode) || !is_tty_device(want.st_rdev)) return holders;
  const std::string self = std::to_string(::getpid());
  std::error_code ec;
  for (const fs::directory_entry& process : fs::directory_iterator(proc, ec)) {
    const std::string pid = process.path().filename().string();
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
    std::error_code fd_ec;
    bool holds = false;
    for (const fs::directory_entry& fd : fs::directory_iterator(process.path() / "fd", fd_ec)) {
      struct stat st {};
      if (::stat(fd.path().c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == want.st_rdev) {
        holds = true;
        break;
      }
    }
    if (!holds) continue;
    PortHolder h;
    h.pid = std::stoi(pid);
    h.name = first_line(read_small_file(process.path() / "comm"));
    std::string cmdline = read_small_file(process.path() / "cmdline");
    while (!cmdline.empty() && cmdline.back() == '\0') cmdline.pop_back();
    for (char& c : cmdline) {
      if (c == '\0') c = ' ';
    }
    h.command = cmdline.empty() ? h.name : cmdline;
    holders.push_back(std::move(h));
  }
  return holders;
}

bool is_modem_manager(const PortHolder& holder) {
  return holder.name == "ModemManager" || fs::path(holder.command.substr(0, holder.command.find(' '))).filename() ==
                                              "ModemManager";
}

std::string port_holders_text(const fs::path& device, const std::vector<PortHolder>& holders) {
  if (holders.empty()) return {};
  std::string text = device.string() + " is in use by ";
  bool modem_manager = false;
  for (std::size_t i = 0; i < holders.size(); ++i) {
    const PortHolder& h = holders[i];
    if (i) text += i + 1 == holders.size() ? " and " : ", ";
    text += (h.name.empty() ? std::string("a program") : h.name) + " (process " + std::to_string(h.pid) + ": " +
            h.command + ")";
    modem_manager = modem_manager || is_modem_manager(h);
  }
  text += ".";
  if (modem_manager) {
    text += " ModemManager looks at every new modem and keeps it busy. Stop it for now with: sudo systemctl stop "
            "ModemManager; the system install can keep it away from this modem for good.";
  }
  if (holders.size() > (modem_manager ? 1u : 0u)) {
    text += " Close the program that uses the modem (or end it with: kill " + std::to_string(holders.front().pid) +
            "), then try again.";
  }
  return text;
}

std::optional<UsbIds> usb_ids_of(const fs::path& device, const fs::path& sys) {
  std::error_code ec;
  const fs::path real = fs::canonical(device, ec);
  const std::string name = (ec ? device : real).filename().string();
  fs::path at = fs::canonical(sys / "class" / "tty" / name / "device", ec);
  if (ec) return std::nullopt;
  for (int depth = 0; depth < 8 && !at.empty() && at != at.root_path(); ++depth, at = at.parent_path()) {
    if (fs::exists(at / "idVendor", ec) && fs::exists(at / "idProduct", ec)) {
      UsbIds ids{lower(first_line(read_small_file(at / "idVendor"))), lower(first_line(read_small_file(at / "idProduct")))};
      if (!is_hex4(ids.vendor) || !is_hex4(ids.product)) return std::nullopt;
      return ids;
    }
  }
  return std::nullopt;
}

std::optional<std::string> modem_manager_ignore_rule(const UsbIds& ids) {
  if (!is_hex4(ids.vendor) || !is_hex4(ids.product)) return std::nullopt;
  const std::string v = lower(ids.vendor), p = lower(ids.product);
  return "# ModemManager leaves this dial-up modem (USB " + v + ":" + p + ") to the " + product_names().title +
         " dialer.\n"
         "ACTION==\"add|change\", SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"" + v + "\", ATTRS{idProduct}==\"" + p +
         "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n";
}

std::string modem_manager_rule_file_name(const UsbIds& ids) {
  return "77-" + product_names().vendor + "modem-" + lower(ids.vendor) + "-" + lower(ids.product) + ".rules";
}

}  // namespace platform
