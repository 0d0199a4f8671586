// Who else has a serial device open, and how to make ModemManager leave a
// modem alone.
//
// Before a port is opened (detection, the registration call, Connect) the
// wizard looks through /proc/PID/fd for links to the same device, so that a
// busy modem is named ("ModemManager (process 812) has /dev/ttyACM0 open")
// instead of failing without a word. ModemManager probes every new USB modem
// for several seconds and keeps it busy; the udev property
// ID_MM_DEVICE_IGNORE=1 on the device's vendor and product id makes it leave
// the modem alone, written by the system install when the user agrees.
//
// Index: PortHolder, port_holders, is_modem_manager, port_holders_text,
// UsbIds, usb_ids_of, modem_manager_ignore_rule, modem_manager_rule_file_name.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct PortHolder {
  int pid = 0;
  std::string name;     // /proc/PID/comm ("ModemManager")
  std::string command;  // /proc/PID/cmdline, words joined by blanks; name when unreadable
};

// The other processes that have `device` (or what it links to) open, found
// under `proc` (/proc; tests pass their own). This process is left out. A
// process whose fds this user may not read is not seen: the list is what
// can be known, never a guess. Only a serial line or pseudo-terminal has
// holders: for anything else (a port mapped to /dev/null) the list is empty.
std::vector<PortHolder> port_holders(const std::filesystem::path& device,
                                     const std::filesystem::path& proc = "/proc");

bool is_modem_manager(const PortHolder& holder);

// Plain words naming each holder and how to free the device: quit the
// program, or for ModemManager stop it for now (sudo systemctl stop
// ModemManager) and let the system install keep it away from this modem.
// Empty for no holder.
std::string port_holders_text(const std::filesystem::path& device, const std::vector<PortHolder>& holders);

// USB vendor and product id (four lower-case hex digits each) of a tty.
struct UsbIds {
  std::string vendor, product;
};
// Found by walking up from /sys/class/tty/NAME/device to the USB device that
// has idVendor and idProduct; nothing for a device not on USB. `sys` is /sys
// unless a test passes its own.
std::optional<UsbIds> usb_ids_of(const std::filesystem::path& device, const std::filesystem::path& sys = "/sys");

// The udev rule that marks the modem's tty for ModemManager to ignore, one
// line with a comment line before it. Nothing when an id is not four hex
// digits (nothing else may reach the rule's text).
std::optional<std::string> modem_manager_ignore_rule(const UsbIds& ids);
// "77-VENDOR-modem-VVVV-PPPP.rules" (the product's prefix, product_names.h):
// numbered before ModemManager's own
// 80-mm-*.rules read the property.
std::string modem_manager_rule_file_name(const UsbIds& ids);

}  // namespace platform
