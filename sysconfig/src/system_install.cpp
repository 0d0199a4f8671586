// --install-dialup / --remove-dialup: the entry and its automatic dialing in
// the system's folders, reported file by file.
#include "sysconfig/system_install.h"

#include <sys/stat.h>

#include <optional>
#include <system_error>

#include "platform/loop/log.h"
#include "platform/shell/launcher.h"
#include "platform/shell/phonebook.h"
#include "platform/storage/files.h"
#include "platform/storage/registry.h"
#include "platform/storage/system_root.h"
#include "sysconfig/dialup.h"

namespace sysconfig {
namespace {

namespace fs = std::filesystem;
namespace pb = platform::phonebook;
namespace ad = platform::autodial;

constexpr std::string_view kComponent = "sysconfig";
constexpr std::string_view kInternetSettings = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// What a file is before and after: its bytes and mode, or absent.
struct FileState {
  bool exists = false;
  std::string bytes;
  mode_t mode = 0;
  bool operator==(const FileState&) const = default;
};

FileState StateOf(const fs::path& path) {
  FileState state;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return state;
  state.exists = true;
  state.mode = st.st_mode;
  platform::read_file(path, state.bytes);
  return state;
}

// The files of entry `name` in a pppd folder.
std::vector<fs::path> EntryFiles(const fs::path& ppp_dir, std::string_view name) {
  const pb::PhoneBook book(ppp_dir);
  return {book.peers_path(name), book.chat_path(name),        book.hook_path(name),
          book.down_hook_path(name), book.pap_secrets_path(), book.chap_secrets_path()};
}

std::string Describe(const FileState& before, const FileState& after) {
  if (before == after) return after.exists ? "unchanged" : "absent";
  if (!after.exists) return "removed";
  return before.exists ? "updated" : "written";
}

// Runs `systemctl WORDS...`, reporting it; false when it failed.
bool Systemctl(const std::vector<std::string>& words, std::string& report) {
  std::string line = "systemctl";
  for (const std::string& w : words) line += " " + w;
  const fs::path systemctl = platform::runnable_program("systemctl");
  if (systemctl.empty()) {
    report += line + ": systemctl is not installed\n";
    return false;
  }
  std::vector<std::string> argv{systemctl.string()};
  argv.insert(argv.end(), words.begin(), words.end());
  std::string output;
  const int rc = platform::run_program(argv, &output);
  while (!output.empty() && output.back() == '\n') output.pop_back();
  report += line + (rc == 0 ? ": done\n" : ": failed (exit " + std::to_string(rc) + ") " + output + "\n");
  return rc == 0;
}

}  // namespace

bool AutodialEnabled() {
  platform::reg::Registry& registry = platform::reg::system_registry();
  platform::reg::Key key;
  if (registry.open_key(platform::reg::root_key(platform::reg::Root::CurrentUser), kInternetSettings, &key) !=
      platform::reg::ERROR_SUCCESS) {
    return false;
  }
  platform::reg::Value value;
  if (registry.query_value(key, "EnableAutodial", &value) != platform::reg::ERROR_SUCCESS) return false;
  for (char byte : value.data) {
    if (byte != 0) return true;
  }
  return false;
}

std::vector<std::string> SystemInstallCommand(std::string_view program) {
  return {std::string(program), "--root", platform::system_root().string(), "--install-dialup"};
}

std::string ShellCommandLine(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) {
    if (!line.empty()) line += ' ';
    if (!word.empty() && word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/._-+=:,@") ==
                             std::string::npos) {
      line += word;
      continue;
    }
    line += '\'';
    for (char c : word) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
    line += '\'';
  }
  return line;
}

int InstallDialUpCommand(bool remove, const SystemPlaces& places, std::string& report) {
  const std::string name(kAccountEntryName);
  const std::string safe = pb::safe_entry_name(name);
  report.clear();

  // The entry in pppd's folder, each file compared before and after.
  const std::vector<fs::path> files = EntryFiles(places.ppp_dir, name);
  std::vector<FileState> before;
  for (const fs::path& f : files) before.push_back(StateOf(f));
  std::string why;
  int rc = pb::kPbSuccess;
  if (remove) {
    rc = pb::remove_entry(name, places.ppp_dir, &why);
  } else {
    rc = pb::install_entry(pb::PhoneBook(), name, places.ppp_dir, &why);
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string what = Describe(before[i], StateOf(files[i]));
    // A hook the entry does not need is neither there nor made.
    if (what != "absent" || remove) report += files[i].string() + ": " + what + "\n";
  }
  if (rc != pb::kPbSuccess) {
    report += "cannot " + std::string(remove ? "remove" : "install") + " the dial-up entry \"" + name + "\" " +
              (remove ? "from " : "in ") + places.ppp_dir.string() + ": " + why + "\n";
    return 1;
  }

  // Automatic dialing.
  const bool systemd = places.systemd_run_dir.empty() || ad::systemd_is_service_manager(places.systemd_run_dir);
  const bool call_systemctl = !places.systemd_run_dir.empty() && systemd;
  const std::string unit = ad::AutodialUnitName(safe);
  std::vector<ad::UnitChange> changes;
  bool ok = true;
  std::string autodial_line;
  if (remove) {
    // A unit that will not stop is still taken out: it must not start again.
    if (call_systemctl && fs::exists(places.unit_dir / unit)) Systemctl({"stop", unit}, autodial_line);
    ok = ad::RemoveAutodialUnit(places.unit_dir, unit, changes, &why);
    if (ok && call_systemctl && !Systemctl({"daemon-reload"}, autodial_line)) {
      ok = false;
      why = "systemd did not reload its units";
    }
  } else if (!AutodialEnabled()) {
    autodial_line = "Automatic dialing is off for this account: no dial-on-demand service installed.\n";
  } else if (!systemd) {
    autodial_line = "Automatic dialing is not installed: systemd is not the service manager here (no " +
                    places.systemd_run_dir.string() + "); start it with: pppd call " + safe +
                    " demand persist\n";
  } else {
    const fs::path pppd = pb::ppp_programs().pppd;
    const std::optional<std::string> text = ad::AutodialUnitText(name, safe, pppd);
    if (!text) {
      ok = false;
      why = pppd.empty() ? "pppd is not installed" : "pppd's path cannot go into a unit: " + pppd.string();
    } else {
      ok = ad::InstallAutodialUnit(places.unit_dir, unit, *text, changes, &why);
      if (ok && call_systemctl &&
          !(Systemctl({"daemon-reload"}, autodial_line) && Systemctl({"start", unit}, autodial_line))) {
        ok = false;
        why = "the service is installed and enabled but did not start";
      }
    }
  }
  for (const ad::UnitChange& c : changes) report += c.path.string() + ": " + c.what + "\n";
  report += autodial_line;
  if (!ok) {
    report += "cannot " + std::string(remove ? "remove" : "install") + " automatic dialing: " + why + "\n";
    return 1;
  }
  if (remove) {
    report += "The dial-up entry \"" + name + "\" is no longer in " + places.ppp_dir.string() + ".\n";
  } else {
    report += "The dial-up entry \"" + name + "\" is installed in " + places.ppp_dir.string() +
              ". Dial it with: pon " + safe + "\n";
  }
  platform::log_info(kComponent, report);
  return 0;
}

}  // namespace sysconfig
