// joinwiz --connect [ENTRY]: dialing an installed dial-up entry with a window
// that says what happens, as the desktop shortcut of the entry does.
//
//   "Connect" (IDD_CONNECT)        the entry's name, user name and number,
//                                  Dial and Cancel
//   "Connecting" (IDD_CONNECTING)  pppd runs in the foreground (nodetach)
//                                  and its log, with chat's lines in it,
//                                  drives the step line (dialing, the
//                                  modem's result, verifying, connected with
//                                  speed and local address) and the log
//                                  list. Cancel (Disconnect once connected)
//                                  ends pppd with SIGTERM, as poff does.
//                                  When pppd ends on its own, the step line
//                                  says why in plain words (pppd_report.h)
//                                  and the button becomes Close.
//
// Before the port is opened, another process that holds it is named
// (port_check.h). Exit codes: 0 after a connection or Cancel, 1 when the call
// failed, kExitStartup when the entry cannot be read.
//
// Index: dialog and control ids, ConnectTarget, read_connect_target,
// install_command_for, run_connect, register_connect_templates.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "wizard/command_line.h"

namespace wizard {

enum : int {
  IDD_CONNECT = 140,
  IDD_CONNECTING = 141,
};

enum : int {
  IDC_CONNECT_ENTRY = 3200,
  IDC_CONNECT_USER = 3201,
  IDC_CONNECT_NUMBER = 3202,
  IDC_CONNECT_DIAL = 3203,  // the Dial button (IDOK's job)
  IDC_CONNECTING_STEP = 3210,
  IDC_CONNECTING_LOG = 3211,
  IDC_CONNECTING_BUTTON = 3212,  // Cancel, Disconnect, Close
};

// Exit code of `--connect` when the call failed.
inline constexpr int kExitConnectFailed = 1;

// The entry as the Connect window shows it and pppd dials it.
struct ConnectTarget {
  std::string entry;      // shown name ("Tarkel - Veloran Account")
  std::string safe_name;  // pon's name, the peers file's name
  std::string user;
  std::string number;     // what the chat script dials, without ATDT
  std::string device;     // the modem's tty
  std::uint32_t speed = 0;
  std::filesystem::path peers_file;  // what pppd reads: DIR/peers/NAME
  bool installed = false;            // peers_file exists
};

// Reads entry `entry` (empty: the only one, else the account's) from the
// root's phone book; pppd's copy is looked for in `ppp_dir` (/etc/ppp).
// Nothing and `error` when the root has no such entry.
std::optional<ConnectTarget> read_connect_target(const std::string& entry, const std::filesystem::path& ppp_dir,
                                                 std::string& error);

// "sudo PROGRAM --root ROOT --install-dialup", quoted for the shell.
std::string install_command_for(const std::filesystem::path& program);

// The whole of `joinwiz --connect`, after the display is open.
int run_connect(const CommandLine& cl, const std::filesystem::path& executable);

void register_connect_templates();

}  // namespace wizard
