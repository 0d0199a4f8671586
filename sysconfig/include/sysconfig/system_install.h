// The account's entry for the whole system: `joinwiz --install-dialup` and
// `--remove-dialup`, run as root by hand or through pkexec from the closing
// page.
//
// Install copies the entry from the root's phone book into pppd's folder
// and, when automatic dialing is on for the account (the EnableAutodial
// value that CONFIG: writes into the root's registry), installs and enables
// the entry's demand-dialing service (platform/shell/autodial.h) where
// systemd is the service manager; elsewhere it says so and installs none.
// Remove takes both out again. Both report every file they looked at and
// what became of it, and running either twice changes nothing the second
// time.
//
// The closing page asks for the install through pkexec; the polkit action
// shipped in share/polkit-1/actions (kPolkitActionId) names joinwiz as the
// program it may run, so the desktop shows the usual administrator prompt.
//
// Index: kPolkitActionId, SystemPlaces, AutodialEnabled,
// SystemInstallCommand, ShellCommandLine, InstallDialUpCommand.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/shell/autodial.h"

namespace sysconfig {

inline constexpr std::string_view kPolkitActionId = "com.veloran.joinwiz.install-dialup";

// Where the system keeps what the install writes.
struct SystemPlaces {
  std::filesystem::path ppp_dir = "/etc/ppp";
  std::filesystem::path unit_dir = std::string(platform::autodial::kSystemUnitDir);
  // Whether systemd runs this system is read here; empty: `unit_dir` is
  // taken as a systemd's (a test folder) and systemctl is not called.
  std::filesystem::path systemd_run_dir = std::string(platform::autodial::kSystemdRunDir);
};

// True when the root's registry asks for automatic dialing (HKEY_CURRENT_USER
// "...\Internet Settings" "EnableAutodial" holds a non-zero number).
bool AutodialEnabled();

// The command that installs the entry for the system: `program` (absolute)
// with the current root and --install-dialup.
std::vector<std::string> SystemInstallCommand(std::string_view program);
// The words as a line for a POSIX shell, quoted where needed.
std::string ShellCommandLine(const std::vector<std::string>& words);

// Installs (or, with `remove`, removes) the account's entry and its
// automatic dialing. `report` gets one line per file ("PATH: written",
// "updated", "unchanged", "enabled", "removed"; "absent" only when removing)
// and then what was done or why not. 0 on success, 1 on failure (files already done stay reported).
int InstallDialUpCommand(bool remove, const SystemPlaces& places, std::string& report);

}  // namespace sysconfig
