// CONFIG: the account's dial-up entry and the autodial registry values.
#include "sysconfig/dialup.h"
#include "sysconfig/setup_report.h"

#include <sys/stat.h>

#include <atomic>
#include <system_error>

#include "platform/loop/clock.h"
#include "platform/loop/log.h"
#include "platform/shell/phonebook.h"
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

std::atomic<int> g_last_result{0};

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
  v.comport = Get(profile, "COMPORT");
  v.speed = static_cast<std::uint32_t>(session::TableSpeed(session::SpeedFromProfile(Get(profile, "COMSPEED"))));
  return v;
}

std::vector<fs::path> LineDevices(std::string_view comport, const fs::path& dosdevices) {
  const fs::path folder = dosdevices.empty() ? platform::known_folder(platform::KnownFolder::DosDevices) : dosdevices;
  const int chosen = session::PortFromProfile(comport);
  std::vector<fs::path> devices;
  fs::path chosen_device;
  for (int n = 1; n <= kMaxCom; ++n) {
    const fs::path link = platform::serial_device_path("COM" + std::to_string(n), folder);
    struct stat st {};
    if (link.empty() || ::stat(link.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) continue;
    std::error_code ec;
    fs::path device = fs::canonical(link, ec);
    if (ec) device = link;
    if (n == chosen) {
      chosen_device = device;
    } else {
      devices.push_back(device);
    }
  }
  if (!chosen_device.empty()) devices.push_back(chosen_device);
  return devices;
}

int MakeDialUpEntry(const DialUpValues& v, const DialUpContext& context) {
  // 1. Line devices: none at all, no entry.
  const std::vector<fs::path> devices = LineDevices(v.comport, context.dosdevices);
  if (devices.empty()) {
    platform::log_info(kComponent, "no line device: no dial-up entry made");
    return kNoLineDevice;
  }
  // 2. The phone book.
  if (!LoadPhoneBook()) {
    platform::log_warn(kComponent, "pppd is not installed: no dial-up entry made");
    if (context.show_message) context.show_message(kNoPhoneBookMessage);
    return kNoPhoneBook;
  }
  // The values must be writable as data before anything old is removed.
  std::string why;
  auto dial = pb::DialCommand(v.dial_method, v.outside_access, v.cw_disable, v.cw_string, v.area_code, v.number, &why);
  if (!dial || !pb::SecretsLine(v.user, pb::SafeEntryName(kAccountEntryName), v.password, &why) ||
      !pb::PppdQuote(v.user)) {
    platform::log_warn(kComponent, "dial-up entry refused: " + (why.empty() ? "the user ID holds a NUL" : why));
    return kEntryRefused;
  }
  pb::PhoneBook book(context.phonebook_dir);
  // 3. The old entry goes.
  book.DeleteEntry(kAccountEntryName);
  // 5. From the last device to the first.
  pb::EntryProperties props;
  props.speed = v.speed;
  props.dial_command = *dial;
  props.dns1 = ToAddress(v.dns1);
  props.dns2 = ToAddress(v.dns2);
  int result = pb::kPbEntryNotFound;
  for (auto it = devices.rbegin(); it != devices.rend(); ++it) {
    props.device = it->string();
    if (book.ValidateEntryName(kTempEntryName) == pb::kPbSuccess) {
      if (int rc = book.SetEntryProperties(kTempEntryName, props, &why); rc != pb::kPbSuccess) {
        platform::log_warn(kComponent, "temporary entry not written (" + std::to_string(rc) + "): " + why);
      }
    }
    platform::clock().sleep_ms(500);
    result = book.RenameEntry(kTempEntryName, kAccountEntryName, &why);
    book.DeleteEntry(kTempEntryName);
    if (int rc = book.SetEntryDialParams(kAccountEntryName, v.user, v.password, &why); rc != pb::kPbSuccess) {
      platform::log_warn(kComponent, "dial parameters not set (" + std::to_string(rc) + "): " + why);
    }
  }
  // 6.
  book.DeleteEntry(kTempEntryName);
  if (result == pb::kPbSuccess) {
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
  const int result = MakeDialUpEntry(values, context);
  g_last_result = result;
  ThisRun().entry_result = result;
  if (result == pb::kPbSuccess) {
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

int LastDialUpEntryResult() { return g_last_result; }

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
  const fs::path peers = book.PeersPath(kAccountEntryName);
  if (!fs::exists(peers, ec)) return {};
  const std::string safe = pb::SafeEntryName(kAccountEntryName);
  std::string text = "The dial-up entry \"" + std::string(kAccountEntryName) + "\" is in " + book.folder().string() +
                     " (peers/" + safe + ", chatscripts/" + safe + ", pap-secrets, chap-secrets).\n";
  const fs::path desktop = platform::known_folder(platform::KnownFolder::Desktop);
  std::vector<std::string> shortcuts;
  for (fs::directory_iterator it(desktop, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() == ".desktop") shortcuts.push_back(it->path().string());
  }
  for (const std::string& s : shortcuts) text += "Shortcut: " + s + "\n";
  text += "Install it for the system: sudo " + ShellCommandLine(SystemInstallCommand(program)) + "\n";
  text += "Dial it: pon " + safe + "\n";
  return text;
}

}  // namespace sysconfig
