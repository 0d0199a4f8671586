// Automatic dialing: pppd's demand dialing, started by systemd.
//
// What Windows' autodial did (dial the Internet entry when a program wants
// the network) pppd does in demand mode: it sets up the link at once and
// dials when the first packet goes out, hangs up after the idle time and
// dials again on the next packet. A systemd service keeps that pppd running
// from boot: one unit per entry, `VENDOR-autodial-NAME.service` (VENDOR-:
// the product's prefix, product_names.h), enabled
// by the `multi-user.target.wants` link that `systemctl enable` makes.
//
// Redialing is paced so that a provider that bars quick redials does not
// lock the account out: `holdoff` seconds between calls, `maxfail` failed
// calls before pppd gives up (systemd then starts it again after
// RestartSec).
//
// Index: AutodialUnitName, AutodialUnitText, systemd_is_service_manager,
// UnitChange, InstallAutodialUnit, RemoveAutodialUnit.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::autodial {

inline constexpr int kIdleSeconds = 600;
inline constexpr int kHoldoffSeconds = 60;
inline constexpr int kMaxFail = 10;
inline constexpr std::string_view kSystemUnitDir = "/etc/systemd/system";
// Present while systemd is the service manager (sd_booted's test).
inline constexpr std::string_view kSystemdRunDir = "/run/systemd/system";
inline constexpr std::string_view kWantedBy = "multi-user.target";

// The product's vendor prefix + "autodial-" + the entry's safe name + ".service".
std::string AutodialUnitName(std::string_view safe_name);

// The unit: `pppd call SAFE nodetach demand idle .. persist maxfail ..
// holdoff ..`, restarted on failure. `pppd` is the absolute path of pppd;
// `entry_name` goes into the description. Nothing when `safe_name` is not
// a safe entry name or `pppd` is not absolute.
std::optional<std::string> AutodialUnitText(std::string_view entry_name, std::string_view safe_name,
                                            const std::filesystem::path& pppd);

// True when the folder systemd makes at boot exists.
bool systemd_is_service_manager(const std::filesystem::path& run_dir = std::string(kSystemdRunDir));

// One file (or link) and what became of it: "written", "unchanged",
// "enabled", "removed", "absent".
struct UnitChange {
  std::filesystem::path path;
  std::string what;
};

// Writes the unit into `unit_dir` and enables it (the wants link). Each file
// is reported in `changes`. False and `why` when a file cannot be written;
// what was already written stays reported.
bool InstallAutodialUnit(const std::filesystem::path& unit_dir, std::string_view unit_name, std::string_view text,
                         std::vector<UnitChange>& changes, std::string* why = nullptr);
// Disables and removes the unit of `unit_dir` (a missing one is fine).
bool RemoveAutodialUnit(const std::filesystem::path& unit_dir, std::string_view unit_name,
                        std::vector<UnitChange>& changes, std::string* why = nullptr);

}  // namespace platform::autodial
