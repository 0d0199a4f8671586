#include "sysconfig/modem_rules.h"

#include <optional>
#include <system_error>

#include "platform/loop/log.h"
#include "platform/storage/files.h"
#include "platform/storage/system_root.h"

namespace sysconfig {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kComponent = "modem-rules";
constexpr std::string_view kPrefix = "77-veloran-modem-";
constexpr std::string_view kSuffix = ".rules";

// The ids in a name modem_manager_rule_file_name made; nothing otherwise.
std::optional<platform::UsbIds> ids_of_file_name(const std::string& name) {
  if (name.size() != kPrefix.size() + 9 + kSuffix.size()) return std::nullopt;
  if (name.compare(0, kPrefix.size(), kPrefix) != 0 || name[kPrefix.size() + 4] != '-' ||
      name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) {
    return std::nullopt;
  }
  platform::UsbIds ids{name.substr(kPrefix.size(), 4), name.substr(kPrefix.size() + 5, 4)};
  if (!platform::modem_manager_ignore_rule(ids)) return std::nullopt;
  if (platform::modem_manager_rule_file_name(ids) != name) return std::nullopt;  // upper-case hex
  return ids;
}

}  // namespace

fs::path PendingModemRulesFolder() { return platform::system_root() / "udev"; }

bool SaveModemIgnoreRule(const platform::UsbIds& ids, std::string& error) {
  const std::optional<std::string> rule = platform::modem_manager_ignore_rule(ids);
  if (!rule) {
    error = "\"" + ids.vendor + ":" + ids.product + "\" is not a USB vendor and product id";
    return false;
  }
  const fs::path folder = PendingModemRulesFolder();
  std::error_code ec;
  fs::create_directories(folder, ec);
  const fs::path path = folder / platform::modem_manager_rule_file_name(ids);
  if (!platform::replace_file(path, *rule, platform::FileMode::Shared, &error)) return false;
  platform::log_info(kComponent, "saved " + path.string() + " for the system install");
  return true;
}

int InstallModemRules(const fs::path& udev_dir, std::string& report) {
  std::error_code ec;
  int rc = 0;
  bool wrote = false;
  for (const fs::directory_entry& e : fs::directory_iterator(PendingModemRulesFolder(), ec)) {
    const std::string name = e.path().filename().string();
    const std::optional<platform::UsbIds> ids = ids_of_file_name(name);
    if (!ids) continue;
    const std::string rule = *platform::modem_manager_ignore_rule(*ids);
    const fs::path to = udev_dir / name;
    std::string old, error;
    if (platform::read_file(to, old) && old == rule) {
      report += "Already installed: " + to.string() + "\n";
      continue;
    }
    fs::create_directories(udev_dir, ec);
    if (!platform::replace_file(to, rule, platform::FileMode::Shared, &error)) {
      report += "cannot write " + to.string() + ": " + error + "\n";
      rc = 1;
      continue;
    }
    report += "Installed " + to.string() + ": ModemManager leaves the modem USB " + ids->vendor + ":" + ids->product +
              " alone.\n";
    wrote = true;
  }
  if (wrote) report += "Make udev read it: sudo udevadm control --reload && sudo udevadm trigger (or plug the modem in again)\n";
  return rc;
}

}  // namespace sysconfig
