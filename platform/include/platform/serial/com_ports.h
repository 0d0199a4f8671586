// COM ports as the user's machine has them: the default mapping written into
// dosdevices/, and what stands behind each COM number.
//
// Principles:
//  - dosdevices/comN (a symbolic link, as Wine does) names what is behind
//    COMn: a device path, or "rfc2217://HOST:PORT" for a network serial port.
//    Links the user or an earlier run made are never changed.
//  - A root without any comN link gets COM1 to COM4 on first use, from the
//    first four of: the USB serial devices of DEV/serial/by-id in name order
//    (those names stay the same across reboots and plugging, so the link
//    names them, not the ttyACMn behind them), then USB serial devices with
//    no by-id name (ttyACM*, ttyUSB*, for machines without udev), then the
//    ttyS ports whose UART exists (TIOCGSERIAL reports a type other than
//    unknown): the other ttyS are placeholders with nothing behind them.
//  - DEV is /dev, or the folder of the environment variable VLR_DEVICE_DIR,
//    or what a caller gives in DeviceFolders: tests use a folder of their own.
//    Whether a ttyS has a UART is read from sysfs, which every user may read,
//    so a port the user may not open still gets its COM number (and the
//    permission advice below) instead of vanishing.
//  - A device that exists but may not be opened for want of permission is not
//    "no modem": com_port_info() says so and names the group that owns it and
//    the command that adds the user to that group.
//
// Index: DeviceFolders, default_device_folders, com_link_candidates,
// ensure_com_links, is_network_link, ComPortState, ComPortInfo,
// com_port_info, com_ports, permission_advice, describe_com_port.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// Highest COM number the default mapping fills.
inline constexpr int kDefaultComPorts = 4;
// Prefix of a comN link that names a network serial port.
inline constexpr const char* kRfc2217Scheme = "rfc2217://";

struct DeviceFolders {
  std::filesystem::path dev = "/dev";  // holds serial/by-id, ttyACM*, ttyUSB*, ttyS*
  // Holds NAME/type, the UART type of each serial port, readable by every
  // user (so a port the user may not open is still found). Empty: not used.
  std::filesystem::path sysfs_tty = "/sys/class/tty";
  // True when the ttyS device at the path has a UART behind it. Default:
  // SYSFS/NAME/type is not 0 (PORT_UNKNOWN); without that file, TIOCGSERIAL
  // answers with a type other than PORT_UNKNOWN.
  std::function<bool(const std::filesystem::path&)> has_uart;
  // errno of opening the device for reading and writing as this user, 0
  // when allowed. Default: faccessat with the effective ids (opens nothing,
  // so a modem's DTR is never touched by a look).
  std::function<int(const std::filesystem::path&)> access_error;
};

// /dev and /sys/class/tty, or $VLR_DEVICE_DIR (and no sysfs) when set;
// default checks.
DeviceFolders default_device_folders();

// What the default mapping would give COM1, COM2, ... in this order (at most
// kDefaultComPorts): the link targets, by-id paths first.
std::vector<std::filesystem::path> com_link_candidates(const DeviceFolders& devices);

// Writes the default mapping into `dosdevices` when it holds no comN entry
// at all; does nothing otherwise. The folder is created if missing. Returns
// the number of links written; -1 and `error` when writing failed (links
// written before the failure stay).
int ensure_com_links(const std::filesystem::path& dosdevices, const DeviceFolders& devices,
                     std::string* error = nullptr);

// True when a link's text names a network serial port.
bool is_network_link(const std::string& link_text);

enum class ComPortState {
  NoLink,        // dosdevices has no comN: the port does not exist
  Missing,       // the link names nothing that exists
  Device,        // a character device this user may open
  NoPermission,  // a device this user may not open
  NotADevice,    // something that is not a character device
  Network,       // rfc2217://HOST:PORT
};

struct ComPortInfo {
  int number = 0;                 // n of COMn
  ComPortState state = ComPortState::NoLink;
  std::filesystem::path link;     // DIR/comN
  std::string link_text;          // what the link says
  std::filesystem::path device;   // the real path behind it (devices only)
  std::string group;              // group owning the device ("dialout"), or its number
  std::string owner;              // user owning the device
  std::string user;               // the user this process runs as
  // "sudo usermod -a -G dialout USER": NoPermission, and only when the
  // group may read and write the device (else joining it would not help).
  std::string add_user_command;
};

// What is behind COMn in `dosdevices` (no mapping is written; nothing is
// opened). With an empty folder: /dev/ttyS(n-1).
ComPortInfo com_port_info(int number, const std::filesystem::path& dosdevices,
                          const DeviceFolders& devices = default_device_folders());
// COM1 to COM`max_com`, only those with a link (or all when `dosdevices` is
// empty).
std::vector<ComPortInfo> com_ports(const std::filesystem::path& dosdevices, int max_com,
                                   const DeviceFolders& devices = default_device_folders());

// For a NoPermission port: one sentence naming the port, the device, its
// group and the command that adds the user to it. Empty for other states.
std::string permission_advice(const ComPortInfo& info);
// One line for `joinwiz --ports`: "COM1  LINK -> TEXT  (what is behind it)".
std::string describe_com_port(const ComPortInfo& info);

}  // namespace platform
