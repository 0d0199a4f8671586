// udev rules that keep ModemManager away from the user's dial-up modem.
//
// The wizard cannot write /etc/udev/rules.d; when the user agrees, the rule
// is saved in the root's udev/ folder, and the system install
// (joinwiz --install-dialup, run as root) copies it into place. The install
// writes each rule anew from the vendor and product id in its file name, so
// nothing else that lies in the root can reach the system's folder.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/serial/port_holders.h"

namespace sysconfig {

inline constexpr std::string_view kSystemUdevRulesDir = "/etc/udev/rules.d";

// The root's folder of rules waiting for the system install.
std::filesystem::path PendingModemRulesFolder();

// Saves the rule for `ids` there. False and `error` when the ids are not
// USB ids or the file cannot be written.
bool SaveModemIgnoreRule(const platform::UsbIds& ids, std::string& error);

// Puts every saved rule into `udev_dir` (made if missing); a file that holds
// the same text already is left alone. Appends a line per rule to `report`
// and, when a rule was written, how to make udev read it. 0, or 1 when a
// rule could not be written (`report` says which).
int InstallModemRules(const std::filesystem::path& udev_dir, std::string& report);

}  // namespace sysconfig
