#include "sysconfig/setup_report.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "sysconfig/dialup.h"

namespace fs = std::filesystem;

namespace sysconfig {

SetupRecord& ThisRun() {
  static SetupRecord record;
  return record;
}

int CountFilesSince(const fs::path& folder, fs::file_time_type since, const std::vector<fs::path>& except) {
  int count = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() != ".desktop") continue;
    if (std::find(except.begin(), except.end(), it->path()) != except.end()) continue;
    std::error_code time_ec;
    const auto written = fs::last_write_time(it->path(), time_ec);
    if (!time_ec && written >= since) ++count;
  }
  return count;
}

namespace {

// Why the entry (and with it the access number and launchers) is missing.
std::string EntryMissingReason(const SetupRecord& r) {
  if (!r.entry_result) {
    return r.registered ? "the server ended the registration without TRANSFER:, which sets up the computer"
                        : "the registration did not finish";
  }
  switch (*r.entry_result) {
    case kEntryRefused: return "a value of the profile cannot go into pppd's files; see the log";
    case kNoPhoneBook: return "pppd is not installed";
    case kNoLineDevice: return "no modem was found on a COM port";
    case kNetworkPort: return "the modem's COM port is a network port, which pppd cannot dial through";
    default: return "the phone book failed with code " + std::to_string(*r.entry_result) + "; see the log";
  }
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i == 0 ? "" : ", ") + parts[i];
  return out;
}

}  // namespace

std::string SetupLine(const SetupRecord& r) {
  std::vector<std::string> made;
  // Parts not made, grouped by reason in the order first met.
  std::vector<std::pair<std::string, std::vector<std::string>>> missing;
  auto miss = [&missing](std::string part, const std::string& reason) {
    for (auto& [why, parts] : missing) {
      if (why == reason) {
        parts.push_back(std::move(part));
        return;
      }
    }
    missing.push_back({reason, {std::move(part)}});
  };

  const bool entry = r.entry_result && *r.entry_result == 0;
  const std::string no_entry = entry ? std::string() : EntryMissingReason(r);
  if (entry) {
    made.push_back("the dial-up entry \"" + std::string(kAccountEntryName) + "\" with access number " +
                   r.access_number);
  } else {
    miss("the dial-up entry", no_entry);
    miss("the access number", no_entry);
  }
  if (!r.launchers.empty()) {
    made.push_back(r.launchers.size() == 1 ? "1 launcher" : std::to_string(r.launchers.size()) + " launchers");
  } else {
    miss("the launcher", entry ? "it could not be written; see the log" : no_entry);
  }
  if (r.menu_items > 0) {
    made.push_back(r.menu_items == 1 ? "1 menu item" : std::to_string(r.menu_items) + " menu items");
  } else {
    miss("menu items", r.registered || entry ? "the server sent none" : no_entry);
  }

  std::string line = "Set up: " + (made.empty() ? std::string("nothing") : Joined(made)) + "; not set up: ";
  if (missing.empty()) return line + "nothing.\n";
  for (std::size_t i = 0; i < missing.size(); ++i) {
    line += (i == 0 ? "" : "; ") + Joined(missing[i].second) + " (" + missing[i].first + ")";
  }
  return line + ".\n";
}

}  // namespace sysconfig
