// CONFIG: the account's dial-up entry and the autodial registry values.
#include "sysconfig/dialup.h"
#include "sysconfig/setup_report.h"

#include <sys/stat.h>

#include <mutex>
#include <optional>
#include <system_error>

#include "platform/loop/clock.h"
#include "platform/loop/log.h"
#include "platform/shell/phonebook.h"
#include "platform/storage/files.h"
#include "platform/storage/registry.h"
#include "platform/serial/serial_port.h"
#include "platform/storage/system_root.h"
#include "session/line_protocol.h"
#include "session/reg_session.h"
#include "sysconfig/sysconfig.h"
#include "sysconfig/system_install.h"

namespace sysconfig {
namespace {

namespace fs = std::filesystem;
namespace pb = platform::phonebook;
namespace reg = platform::reg;

constexpr std::string_view kComponent = "sysconfig";
constexpr std::size_t kValueLimit = 79;  // 80-character buffers
constexpr int kMaxCom = 9;

std::mutex g_outcome_mutex;
DialUpOutcome g_outcome;

// Leading decimal digits, low 8 bits.
std::uint8_t Octet(std::string_view text) {
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<unsigned>(c - '0');
    value &= 0xFFFFFF;  // only the low 8 bits count; keep the sum small
  }
  return static_cast<std::uint8_t>(value & 0xFF);
}

std::string Get(const session::ProfileStore& profile, std::string_view key) {
  std::string value;
  profile.Get(key, value);
  if (value.size() > kValueLimit) value.resize(kValueLimit);
  return value;
}

pb::Address ToAddress(std::string_view text) {
  std::uint8_t octets[4];
  ParseDottedAddress(text, octets);
  return {octets[0], octets[1], octets[2], octets[3]};
}

void CreateKey(reg::Registry& registry, reg::Root root, std::string_view subkey) {
  reg::Key key;
  if (long rc = registry.create_key(reg::root_key(root), subkey, &key); rc != reg::ERROR_SUCCESS) {
    platform::log_warn(kComponent, "cannot create " + std::string(reg::root_name(root)) + "\\" + std::string(subkey) +
                                       ": " + registry.last_error());
  }
}

}  // namespace

void ParseDottedAddress(std::string_view text, std::uint8_t out[4]) {
  out[0] = out[1] = out[2] = out[3] = 0;
  std::string_view rest = text;
  for (int octet = 0; octet < 3; ++octet) {
    const std::size_t dot = rest.find('.');
    if (dot == std::string_view::npos) return;  // this octet and the later ones stay 0
    out[octet] = Octet(rest.substr(0, dot));
    rest.remove_prefix(dot + 1);
    if (octet == 2) out[3] = Octet(rest);
  }
}

bool LoadPhoneBook() { return !pb::ppp_programs().pppd.empty(); }

DialUpValues ReadDialUpValues(const session::ProfileStore& profile) {
  DialUpValues v;
  v.area_code = Get(profile, "POPAREACODE");
  v.number = Get(profile, "POPNUMBER");
  v.user = Get(profile, "USERID");
  v.password = Get(profile, "PASSWORD");
  v.dns1 = Get(profile, "DNS1");
  v.dns2 = Get(profile, "DNS2");
  v.dial_method = Get(profile, "DIALMETHOD");
  v.outside_access = Get(profile, "OUTSIDEACCESS");
  v.cw_disable = Get(profile, "CWDISABLE");
  v.cw_string = Get(profile, "CWDISABLESTR");
  v.own_area_code = Get(profile, "DAYAREACODE");
  v.comport = Get(profile, "COMPORT");
  v.modem_init = Get(profile, "MODEMINIT");
  v.speed = pb::serial_speed_at_or_above(session::TableSpeed(session::SpeedFromProfile(Get(profile, "COMSPEED"))));
  return v;
}

namespace {

fs::path DosDevicesFolder(const fs::path& dosdevices) {
  return dosdevices.empty() ? platform::known_folder(platform::KnownFolder::DosDevices) : dosdevices;
}

// The network port ("rfc2217://...") that COM port `comport` links to;
// empty when it is not one.
std::string NetworkPortOf(std::string_view comport, const fs::path& dosdevices) {
  const int n = session::PortFromProfile(comport);
  if (n <= 0) return {};
  std::error_code ec;
  const std::string target =
      fs::read_symlink(platform::serial_device_path("COM" + std::to_string(n), DosDevicesFolder(dosdevices)), ec)
          .string();
  return !ec && target.rfind("rfc2217://", 0) == 0 ? target : std::string();
}

}  // namespace

std::vector<fs::path> LineDevices(std::string_view comport, const fs::path& dosdevices) {
  const fs::path folder = DosDevicesFolder(dosdevices);
  const int chosen = session::PortFromProfile(comport);
  std::vector<fs::path> devices;
  fs::path chosen_device;
  for (int n = 1; n <= kMaxCom; ++n) {
    const fs::path link = platform::serial_device_path("COM" + std::to_string(n), folder);
    struct stat st {};
    if (link.empty() || ::stat(link.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) continue;
    // The name the link gives, not where it ends: /dev/serial/by-id/usb-...
    // stays with the modem, while the ttyACM0 behind it may go to another
    // device after a replug.
    std::error_code ec;
    fs::path device = fs::read_symlink(link, ec);
    if (ec) {
      device = link;
    } else if (device.is_relative()) {
      device = (link.parent_path() / device).lexically_normal();
    }
    if (n == chosen) {
      chosen_device = device;
    } else {
      devices.push_back(device);
    }
  }
  if (!chosen_device.empty()) devices.push_back(chosen_device);
  return devices;
}

int MakeDialUpEntry(const DialUpValues& v, const DialUpContext& context, std::string* problem) {
  std::string unused;
  std::string& said = problem ? *problem : unused;
  said.clear();
  // A network serial port: pppd opens only ttys.
  if (const std::string url = NetworkPortOf(v.comport, context.dosdevices); !url.empty()) {
    said = "COM" + std::to_string(session::PortFromProfile(v.comport)) + " is the network port " + url +
           "; pppd cannot dial through it, so no dial-up entry was made.";
    platform::log_warn(kComponent, said);
    return kNetworkPort;
  }
  // 1. Line devices: none at all, no entry.
  const std::vector<fs::path> devices = LineDevices(v.comport, context.dosdevices);
  if (devices.empty()) {
    said = "No modem device was found on the COM ports, so no dial-up entry was made.";
    platform::log_info(kComponent, "no line device: no dial-up entry made");
    return kNoLineDevice;
  }
  // 2. The phone book.
  if (!LoadPhoneBook()) {
    said = "pppd is not installed (Debian package ppp), so no dial-up entry was made.";
    platform::log_warn(kComponent, "pppd is not installed: no dial-up entry made");
    if (context.show_message) context.show_message(kNoPhoneBookMessage);
    return kNoPhoneBook;
  }
  // The values must be writable as data before anything old is removed.
  std::string why;
  pb::DialingRules rules{v.dial_method, v.outside_access, v.cw_disable, v.cw_string, v.own_area_code};
  auto dial = pb::dial_command(rules, v.area_code, v.number, &why);
  std::optional<std::string> init;
  if (dial) init = pb::modem_init_command(v.modem_init, &why);
  pb::PhoneBook book(context.phonebook_dir);
  // A password beginning with '@' goes into a file that the secrets line
  // names (pppd would read it as a file name otherwise).
  const bool secret_ok = pb::make_entry_secret(book, kAccountEntryName, v.user, v.password, &why).has_value();
  if (!dial || !init || !secret_ok) {
    said = "The dial-up entry was not made: " + why + ".";
    platform::log_warn(kComponent, "dial-up entry refused: " + why);
    return kEntryRefused;
  }
  // 3. to 5.: the old entry is replaced by the new one in one step that a
  // crash cannot split (replace_entry), made for the last enumerated device;
  // the later passes find the name taken, as the rename of the temporary
  // entry did.
  pb::EntryProperties props;
  props.speed = v.speed;
  props.init_command = *init;
  props.dial_command = *dial;
  props.dns1 = ToAddress(v.dns1);
  props.dns2 = ToAddress(v.dns2);
  int result = pb::kPbEntryNotFound;
  bool made = false;
  for (auto it = devices.rbegin(); it != devices.rend(); ++it) {
    platform::clock().sleep_ms(500);
    if (made) {
      result = pb::kPbAlreadyExists;
      continue;
    }
    props.device = it->string();
    result = book.replace_entry(kAccountEntryName, props, v.user, v.password, &why);
    if (result == pb::kPbSuccess) {
      made = true;
    } else {
      platform::log_warn(kComponent, "dial-up entry not written (" + std::to_string(result) + "): " + why);
    }
  }
  if (!made) {
    said = "The dial-up entry could not be written in " + book.folder().string() + (why.empty() ? "." : ": " + why);
  } else {
    platform::log_info(kComponent, "dial-up entry \"" + std::string(kAccountEntryName) + "\" made in " +
                                       book.folder().string() + " on " + props.device);
  }
  return result;
}

int ConfigureDialUp(session::CRegSessionDialog& session) {
  DialUpValues values;
  if (session.Profile()) values = ReadDialUpValues(*session.Profile());
  DialUpContext context;
  context.show_message = [&session](std::string_view text) {
    session.Ui().MessageBox(text, session::MessageIcon::None);
  };
  std::string problem;
  const int result = MakeDialUpEntry(values, context, &problem);
  {
    std::lock_guard<std::mutex> lock(g_outcome_mutex);
    g_outcome = DialUpOutcome{true, result, problem};
  }
  // With several devices the entry is made for the last one and the later
  // passes report the name as taken: made all the same.
  const bool made = result == pb::kPbSuccess || (result == pb::kPbAlreadyExists && problem.empty());
  ThisRun().entry_result = made ? pb::kPbSuccess : result;
  if (made) {
    ThisRun().access_number = values.area_code.empty() ? values.number : "(" + values.area_code + ") " + values.number;
  }

  reg::Registry& registry = reg::system_registry();
  const std::string name(kAccountEntryName);
  constexpr std::string_view kAutodial = "System\\CurrentControlSet\\Services\\Winsock\\Autodial";
  constexpr std::string_view kInternet = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  // The RemoteAccess keys are opened, never created.
  WriteRegistryValue(registry, "HKEY_CURRENT_USER", "RemoteAccess", "REG_SZ", "InternetProfile", name);
  WriteRegistryValue(registry, "HKEY_USERS", ".Default\\RemoteAccess", "REG_SZ", "InternetProfile", name);
  CreateKey(registry, reg::Root::LocalMachine, kAutodial);
  WriteRegistryValue(registry, "HKEY_LOCAL_MACHINE", kAutodial, "REG_SZ", "AutodialDllName32", "url.dll");
  WriteRegistryValue(registry, "HKEY_LOCAL_MACHINE", kAutodial, "REG_SZ", "AutodialFcnName32", "AutodialHookCallback");
  CreateKey(registry, reg::Root::CurrentUser, kInternet);
  WriteRegistryValue(registry, "HKEY_CURRENT_USER", kInternet, "REG_BINARY", "EnableAutodial", "1");
  WriteRegistryValue(registry, "HKEY_CURRENT_USER", kInternet, "REG_BINARY", "EnableAutodial", "1");
  return result;
}

int LastDialUpEntryResult() { return LastDialUpOutcome().result; }

DialUpOutcome LastDialUpOutcome() {
  std::lock_guard<std::mutex> lock(g_outcome_mutex);
  return g_outcome;
}

void FinishInterruptedChanges() {
  // Only a phone book that is there: a start makes no folder for it.
  const fs::path phonebook =
      platform::system_root() / std::string(platform::known_folder_relative(platform::KnownFolder::PhoneBook));
  std::error_code ec;
  std::string why;
  if (fs::exists(phonebook, ec) && pb::PhoneBook(phonebook).recover_entry(kAccountEntryName, &why) != pb::kPbSuccess) {
    platform::log_warn(kComponent, "the dial-up entry's interrupted switch is left as it is: " + why);
  }
  using platform::KnownFolder;
  for (KnownFolder folder : {KnownFolder::Program, KnownFolder::Windows, KnownFolder::System, KnownFolder::Registry,
                             KnownFolder::Desktop}) {
    std::string error;
    if (!platform::ensure_known_folder(folder, &error)) continue;  // a link out of the root is not ours to clean
    const fs::path dir = platform::known_folder(folder);
    if (int n = platform::remove_stale_temp_files(dir); n > 0) {
      platform::log_info(kComponent, std::to_string(n) + " stale temporary file(s) removed from " + dir.string());
    }
  }
}

void ConfigCommand(session::CRegSessionDialog& session, std::string_view arguments) {
  // From here on the user cannot stop the session.
  session.Ui().DisableCancel();
  if (!session::EqualsNoCase(arguments, "AUTO")) {
    platform::log_warn(kComponent, "CONFIG: refused, argument \"" + session::Printable(arguments) + "\"");
    session.SendAck(false);
    return;
  }
  ConfigureDialUp(session);
  session.SendAck(true);
}

std::string AccountSetupSummary(std::string_view program) {
  const pb::PhoneBook book;
  std::error_code ec;
  const fs::path peers = book.peers_path(kAccountEntryName);
  const bool entry_exists = fs::exists(peers, ec);
  const DialUpOutcome outcome = LastDialUpOutcome();
  const bool made_none = outcome.configured && !outcome.problem.empty();
  if (!entry_exists && !made_none) return {};
  const std::string safe = pb::safe_entry_name(kAccountEntryName);
  std::string text;
  if (made_none) {
    // An entry an earlier run left is not this account's: nothing invites
    // the user to install or dial it.
    text = outcome.problem + "\n";
    if (entry_exists) {
      text += "The dial-up entry \"" + std::string(kAccountEntryName) + "\" in " + book.folder().string() +
              " is from an earlier registration and was left as it was; it does not hold this account.\n";
    }
  } else {
    text = "The dial-up entry \"" + std::string(kAccountEntryName) + "\" is in " + book.folder().string() +
           " (peers/" + safe + ", chatscripts/" + safe + ", pap-secrets, chap-secrets).\n";
  }
  const fs::path desktop = platform::known_folder(platform::KnownFolder::Desktop);
  std::vector<std::string> shortcuts;
  for (fs::directory_iterator it(desktop, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() == ".desktop") shortcuts.push_back(it->path().string());
  }
  for (const std::string& s : shortcuts) text += "Shortcut: " + s + "\n";
  if (made_none) return text;
  text += "Install it for the system: sudo " + ShellCommandLine(SystemInstallCommand(program)) + "\n";
  text += "Dial it: pon " + safe + "\n";
  return text;
}

}  // namespace sysconfig
