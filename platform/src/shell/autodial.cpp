#include "platform/shell/autodial.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/shell/phonebook.h"
#include "platform/storage/files.h"
#include "platform/storage/product_names.h"

namespace platform::autodial {
namespace fs = std::filesystem;

namespace {

bool Fail(std::string* why, std::string text) {
  if (why) *why = std::move(text);
  return false;
}

// '%' starts a specifier in unit files.
std::string UnitValue(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '%') out += '%';
    if (c == '\n' || c == '\r') c = ' ';
    out += c;
  }
  return out;
}

fs::path WantsLink(const fs::path& unit_dir, std::string_view unit_name) {
  return unit_dir / (std::string(kWantedBy) + ".wants") / std::string(unit_name);
}

}  // namespace

std::string AutodialUnitName(std::string_view safe_name) {
  return product_names().vendor + "autodial-" + std::string(safe_name) + ".service";
}

std::optional<std::string> AutodialUnitText(std::string_view entry_name, std::string_view safe_name,
                                            const fs::path& pppd) {
  if (safe_name.empty() || phonebook::safe_entry_name(safe_name) != safe_name || !pppd.is_absolute()) return std::nullopt;
  const std::string exec = pppd.string();
  if (exec.find_first_of(" \t\n\r%\"'\\") != std::string::npos) return std::nullopt;
  const std::string name(safe_name);
  return "# Dials \"" + UnitValue(entry_name) + "\" when the network is wanted.\n"
         "# Written by " + product_names().program + " --install-dialup, removed by " + product_names().program +
         " --remove-dialup.\n"
         "[Unit]\n"
         "Description=Dial-up on demand: " + UnitValue(entry_name) + "\n"
         "Documentation=man:pppd(8)\n"
         "\n"
         "[Service]\n"
         "Type=simple\n"
         "ExecStart=" + exec + " call " + name + " nodetach demand idle " + std::to_string(kIdleSeconds) +
         " persist maxfail " + std::to_string(kMaxFail) + " holdoff " + std::to_string(kHoldoffSeconds) + "\n"
         "Restart=on-failure\n"
         "RestartSec=" + std::to_string(kHoldoffSeconds) + "\n"
         "\n"
         "[Install]\n"
         "WantedBy=" + std::string(kWantedBy) + "\n";
}

bool systemd_is_service_manager(const fs::path& run_dir) {
  std::error_code ec;
  return fs::is_directory(run_dir, ec);
}

bool InstallAutodialUnit(const fs::path& unit_dir, std::string_view unit_name, std::string_view text,
                         std::vector<UnitChange>& changes, std::string* why) {
  const fs::path unit = unit_dir / std::string(unit_name);
  std::string old;
  if (read_file(unit, old) && old == text) {
    changes.push_back({unit, "unchanged"});
  } else {
    std::error_code ec;
    fs::create_directories(unit_dir, ec);
    std::string error;
    if (!replace_file(unit, text, FileMode::Shared, &error)) return Fail(why, error);
    changes.push_back({unit, "written"});
  }
  const fs::path link = WantsLink(unit_dir, unit_name);
  std::error_code ec;
  if (fs::is_symlink(link, ec) && fs::read_symlink(link, ec) == unit) {
    changes.push_back({link, "unchanged"});
    return true;
  }
  fs::create_directories(link.parent_path(), ec);
  if (::unlink(link.c_str()) != 0 && errno != ENOENT) {
    return Fail(why, "cannot replace " + link.string() + ": " + std::strerror(errno));
  }
  if (::symlink(unit.c_str(), link.c_str()) != 0) {
    return Fail(why, "cannot enable " + std::string(unit_name) + ": " + link.string() + ": " + std::strerror(errno));
  }
  changes.push_back({link, "enabled"});
  return true;
}

bool RemoveAutodialUnit(const fs::path& unit_dir, std::string_view unit_name, std::vector<UnitChange>& changes,
                        std::string* why) {
  const fs::path wants = WantsLink(unit_dir, unit_name).parent_path();
  for (const fs::path& path : {WantsLink(unit_dir, unit_name), unit_dir / std::string(unit_name)}) {
    if (::unlink(path.c_str()) == 0) {
      changes.push_back({path, "removed"});
    } else if (errno == ENOENT) {
      changes.push_back({path, "absent"});
    } else {
      return Fail(why, "cannot remove " + path.string() + ": " + std::strerror(errno));
    }
  }
  // The wants folder goes with its last link, as systemctl disable leaves it.
  ::rmdir(wants.c_str());
  return true;
}

}  // namespace platform::autodial
