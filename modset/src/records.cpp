#include "records.h"

#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

#include "common/ini.h"
#include "platform/loop/log.h"
#include "profile_section.h"

namespace modset {

namespace {

constexpr const char* kDialingSection = "Dialing Information";
constexpr const char* kModemSection = "Modem Information";
constexpr const char* kZrsSection = "ZRS Async Access Info";
constexpr const char* kNsvSection = "NSV Config Information";
constexpr const char* kPopListSection = "NSV POP List";
constexpr const char* kOldSection = "ZRS Modem";

constexpr const char* kDefaultPrimary = "950-0132";
constexpr const char* kDefaultAlternate = "1-800-555-0199";

// A record's text field: the value cut to N - 1 characters, zeros after it.
template <std::size_t N>
void set_field(char (&field)[N], std::string_view value) {
  std::size_t n = value.size() < N - 1 ? value.size() : N - 1;
  std::memset(field, 0, N);
  std::memcpy(field, value.data(), n);
}

// The text a caller's field holds: up to its first zero, at most N - 1.
template <std::size_t N>
std::string_view field_text(const char (&field)[N]) {
  std::size_t n = strnlen(field, N);
  return std::string_view(field, n < N - 1 ? n : N - 1);
}

// The result of a Get once the record is filled.
int32_t stamp_result(const CfgProfileSection& s) {
  return s.read_stamp().empty() ? CFG_DEFAULTS : CFG_OK;
}

// Replaces one section (and, for the Nsv record, the POP list) in one locked,
// atomic update: delete, `keys`, stamp. Nothing is written unless all succeed.
int32_t store(const char* section,
              const std::function<bool(const CfgProfileSection&, common::IniDocument&)>& keys) {
  CfgProfileSection s(section, nullptr);
  std::string error;
  bool ok = common::update_ini_file(settings_file(), [&](common::IniDocument& doc) {
    s.delete_section(doc);
    return keys(s, doc) && s.stamp(doc);
  }, &error);
  if (!ok) {
    platform::log_warn("modset", std::string("cannot store \"") + section + "\"" +
                                     (error.empty() ? std::string() : ": " + error));
    return CFG_E_WRITE;
  }
  return CFG_OK;
}

bool counts_as_command(std::string_view s, std::size_t i) {
  // Letters of extended commands (&M, \X, ...) are not the basic command.
  static constexpr std::string_view kExtended = "&\\%*~$):#+";
  return i > 0 && kExtended.find(s[i - 1]) == std::string_view::npos;
}

std::size_t find_command(std::string_view s, char letter, std::size_t from = 0) {
  char lower = static_cast<char>(letter - 'A' + 'a');
  for (std::size_t i = from; i < s.size(); ++i)
    if ((s[i] == letter || s[i] == lower) && counts_as_command(s, i)) return i;
  return std::string_view::npos;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

// ---- Dialing -----------------------------------------------------------------

int32_t get_dialing(CfgDialingInfo& out) {
  CfgProfileSection s(kDialingSection, settings_file());
  if (s.load_result() == LoadResult::Unreadable) return CFG_E_READ;
  CfgDialingInfo r{};
  r.DialType = s.read_int("Dial Type", 1);
  set_field(r.DisableCallWaiting, s.read_text("Disable Call Waiting", ""));
  set_field(r.DialPrefix, s.read_text("Dial Prefix", ""));
  set_field(r.DialLongDistance, s.read_text("Dial Long Distance", "1"));
  r.DialBlind = s.read_int("Dial Blind", 0);
  int32_t result = stamp_result(s);
  out = r;
  return result;
}

int32_t put_dialing(const CfgDialingInfo& in) {
  return store(kDialingSection, [&](const CfgProfileSection& s, common::IniDocument& doc) {
    return s.write_int(doc, "Dial Type", 1, in.DialType) &&
           s.write_int(doc, "Dial Blind", 0, in.DialBlind) &&
           s.write_text(doc, "Disable Call Waiting", "", field_text(in.DisableCallWaiting)) &&
           s.write_text(doc, "Dial Prefix", "", field_text(in.DialPrefix)) &&
           s.write_text(doc, "Dial Long Distance", "1", field_text(in.DialLongDistance));
  });
}

// ---- Modem -------------------------------------------------------------------

int32_t get_modem(CfgModemInfo& out) {
  CfgProfileSection s(kModemSection, settings_file());
  if (s.load_result() == LoadResult::Unreadable) return CFG_E_READ;
  CfgModemInfo r{};
  set_field(r.PortName, s.read_text("Port Name", "COM1"));
  r.CommPort = s.read_int("Comm Port", 0);
  r.BaudRate = s.read_int("Baud Rate", 2);
  r.FlowControl = s.read_int("Flow Control", 0);
  r.SpeakerOff = s.read_int("Speaker Off", 0);
  set_field(r.ResetString, s.read_text("Reset String", "AT Z"));
  std::string setup = s.read_text("Setup String", "");
  if (setup.size() > kSetupStringMax) setup.resize(kSetupStringMax);
  int32_t result = stamp_result(s);

  CfgDialingInfo dialing{};
  if (get_dialing(dialing) >= 0) patch_setup_string(setup, r.SpeakerOff != 0, dialing.DialBlind != 0);
  set_field(r.SetupString, setup);
  out = r;
  return result;
}

int32_t put_modem(const CfgModemInfo& in) {
  return store(kModemSection, [&](const CfgProfileSection& s, common::IniDocument& doc) {
    return s.write_text(doc, "Port Name", "COM1", field_text(in.PortName)) &&
           s.write_int(doc, "Comm Port", 0, in.CommPort) &&
           s.write_int(doc, "Baud Rate", 2, in.BaudRate) &&
           s.write_int(doc, "Flow Control", 0, in.FlowControl) &&
           s.write_int(doc, "Speaker Off", 0, in.SpeakerOff) &&
           s.write_text(doc, "Reset String", "AT Z", field_text(in.ResetString)) &&
           s.write_text(doc, "Setup String", "", field_text(in.SetupString));
  });
}

void patch_setup_string(std::string& setup, bool speaker_off, bool dial_blind) {
  // An addition that would not fit is left out rather than cut: a cut " M"
  // or " X" would be a different command.
  auto append = [&setup](std::string_view more) {
    if (setup.size() + more.size() <= kSetupStringMax) setup += more;
  };
  std::size_t m = find_command(setup, 'M');
  if (m != std::string::npos) {
    char digit = speaker_off ? '0' : '1';
    if (m + 1 < setup.size()) setup[m + 1] = digit;
    else append(std::string_view(&digit, 1));
  } else if (speaker_off) {
    append(" M0");
  }
  std::size_t x = find_command(setup, 'X');
  if (x != std::string::npos) {
    char digit = dial_blind ? '3' : '4';
    if (x + 1 < setup.size()) setup[x + 1] = digit;
    else append(std::string_view(&digit, 1));
    if (x + 2 < setup.size() && is_digit(setup[x + 2])) setup[x + 2] = ' ';
  } else if (dial_blind) {
    append(" X3");
  }
}

void parse_setup_string(std::string_view setup, int32_t& speaker_off, int32_t& dial_blind) {
  speaker_off = 0;
  dial_blind = 0;
  if (setup.empty()) return;
  std::size_t m = find_command(setup, 'M');
  if (m != std::string_view::npos) speaker_off = (m + 1 < setup.size() && setup[m + 1] == '0') ? 1 : 0;
  for (std::size_t x = find_command(setup, 'X'); x != std::string_view::npos;
       x = find_command(setup, 'X', x + 1)) {
    if (x + 2 < setup.size() && is_digit(setup[x + 2])) continue;  // two-digit X: not ours
    char digit = x + 1 < setup.size() ? setup[x + 1] : '\0';
    dial_blind = (digit == '2' || digit == '4') ? 0 : 1;
    return;
  }
}

// ---- Zrs access -----------------------------------------------------------------

int32_t get_zrs_access(CfgZrsAccessInfo& out) {
  CfgProfileSection s(kZrsSection, settings_file());
  if (s.load_result() == LoadResult::Unreadable) return CFG_E_READ;
  CfgZrsAccessInfo r{};
  r.UseCustomAccess = s.read_int("Use Custom Access", 0);
  set_field(r.CustomAccessNumber, s.read_text("Custom Access Number", ""));
  set_field(r.PrimaryAccessNumber, s.read_text("Primary Access Number", kDefaultPrimary));
  r.PrimaryAccessTimeout = s.read_int("Primary Access Timeout", 40);
  r.PrimaryAccessRedial = s.read_int("Primary Access Redial", 1);
  set_field(r.AlternateAccessNumber, s.read_text("Alternate Access Number", kDefaultAlternate));
  r.AlternateAccessTimeout = s.read_int("Alternate Access Timeout", 60);
  r.AlternateAccessRedial = s.read_int("Alternate Access Redial", 1);
  set_field(r.Service, s.read_text("Service", "tarkel96"));
  int32_t result = stamp_result(s);
  out = r;
  return result;
}

int32_t put_zrs_access(const CfgZrsAccessInfo& in) {
  return store(kZrsSection, [&](const CfgProfileSection& s, common::IniDocument& doc) {
    return s.write_int(doc, "Use Custom Access", 0, in.UseCustomAccess) &&
           s.write_text(doc, "Custom Access Number", "", field_text(in.CustomAccessNumber)) &&
           s.write_text(doc, "Primary Access Number", kDefaultPrimary, field_text(in.PrimaryAccessNumber)) &&
           s.write_text(doc, "Alternate Access Number", kDefaultAlternate,
                        field_text(in.AlternateAccessNumber)) &&
           s.write_int(doc, "Primary Access Timeout", 40, in.PrimaryAccessTimeout) &&
           s.write_int(doc, "Alternate Access Timeout", 60, in.AlternateAccessTimeout) &&
           s.write_int(doc, "Primary Access Redial", 1, in.PrimaryAccessRedial) &&
           s.write_int(doc, "Alternate Access Redial", 1, in.AlternateAccessRedial) &&
           s.write_text(doc, "Service", "tarkel96", field_text(in.Service));
  });
}

// ---- Nsv config and POP list ------------------------------------------------------

int32_t get_nsv_config(CfgNsvConfigInfo& out) {
  CfgProfileSection s(kNsvSection, settings_file());
  if (s.load_result() == LoadResult::Unreadable) return CFG_E_READ;
  CfgNsvConfigInfo r = out;  // keeps the caller's POP list request
  set_field(r.AreaCode, s.read_text("Area Code", ""));
  set_field(r.UserId, s.read_text("User Id", ""));
  r.UseSelectedPop = s.read_int("Use Selected Pop", 0);
  set_field(r.SelectedPop, s.read_text("Selected Pop", ""));
  set_field(r.SelectedAccess, s.read_text("Selected Access", ""));
  set_field(r.CustomPop, s.read_text("Custom Pop", ""));
  set_field(r.CustomAccess, s.read_text("Custom Access", ""));
  int32_t result = stamp_result(s);

  // The POP list comes from the same snapshot of the file.
  std::vector<CfgNsvPopEntry> pops;
  if (r.PopList.count != 0) {
    int32_t capacity = r.PopList.entries ? r.PopList.count : 0;
    CfgProfileSection list(kPopListSection, s.document());
    for (const std::string& name : list.list_keys(kPopListingLimit)) {
      if (static_cast<int32_t>(pops.size()) >= capacity) break;
      if (name.empty()) break;
      if (name.size() > sizeof(CfgNsvPopEntry::Pop) - 1) continue;
      CfgNsvPopEntry entry{};
      set_field(entry.Pop, name);
      set_field(entry.AccessNumber, list.read_text(name, ""));
      pops.push_back(entry);
    }
    r.PopList.count = static_cast<int32_t>(pops.size());
  }
  if (!pops.empty()) std::memcpy(r.PopList.entries, pops.data(), pops.size() * sizeof(CfgNsvPopEntry));
  out = r;
  return result;
}

namespace {

bool pop_entry_valid(const CfgNsvPopEntry& e) {
  std::size_t pop = strnlen(e.Pop, sizeof e.Pop);
  std::size_t number = strnlen(e.AccessNumber, sizeof e.AccessNumber);
  return pop >= 1 && pop < sizeof e.Pop && number >= 1 && number < sizeof e.AccessNumber;
}

}  // namespace

int32_t put_nsv_config(const CfgNsvConfigInfo& in) {
  const CfgNsvPopList& list = in.PopList;
  // A bad POP list request or entry does not stop the store: the record and
  // the valid entries are written in the one atomic update, the bad entries
  // are left out, and the Put reports CFG_E_WRITE.
  bool list_failed = false;
  const int32_t result = store(kNsvSection, [&](const CfgProfileSection& s, common::IniDocument& doc) {
    list_failed = false;
    if (!(s.write_text(doc, "Area Code", "", field_text(in.AreaCode)) &&
          s.write_text(doc, "User Id", "", field_text(in.UserId)) &&
          s.write_text(doc, "Custom Pop", "", field_text(in.CustomPop)) &&
          s.write_text(doc, "Custom Access", "", field_text(in.CustomAccess)) &&
          s.write_text(doc, "Selected Pop", "", field_text(in.SelectedPop)) &&
          s.write_text(doc, "Selected Access", "", field_text(in.SelectedAccess)) &&
          s.write_int(doc, "Use Selected Pop", 0, in.UseSelectedPop)))
      return false;
    if (list.count == 0) return true;
    if (list.entries == nullptr) {
      platform::log_warn("modset", "POP list refused: no entries given");
      list_failed = true;
      return true;
    }
    // A negative count deletes the list and stores no entry.
    CfgProfileSection(kPopListSection, nullptr).delete_section(doc);
    std::string error;
    for (int32_t i = 0; i < list.count; ++i) {
      const CfgNsvPopEntry& e = list.entries[i];
      if (!pop_entry_valid(e)) {
        platform::log_warn("modset", "POP list entry " + std::to_string(i + 1) + " left out: identifier of 1 to 5 "
                                     "and number of 1 to 39 characters needed");
        list_failed = true;
      } else if (!doc.set(kPopListSection, field_text(e.Pop), field_text(e.AccessNumber), &error)) {
        platform::log_warn("modset", "POP \"" + std::string(field_text(e.Pop)) + "\" left out: " + error);
        list_failed = true;
      }
    }
    return true;
  });
  return result == CFG_OK && list_failed ? CFG_E_WRITE : result;
}

// ---- Migration -------------------------------------------------------------------

void migrate_old_section() {
  CfgDialingInfo dialing{};
  CfgModemInfo modem{};
  CfgZrsAccessInfo zrs{};
  int32_t rd = get_dialing(dialing);
  int32_t rm = get_modem(modem);
  int32_t rz = get_zrs_access(zrs);
  if (rd == CFG_OK || rm == CFG_OK || rz == CFG_OK) return;  // already stored once
  if (rd < 0 || rm < 0 || rz < 0) return;                    // unreadable: leave it alone

  CfgProfileSection old(kOldSection, settings_file());
  std::string access = old.read_text("ZRS Access Number", "");
  if (access.empty()) return;  // no old configuration

  set_field(dialing.DialPrefix, old.read_text("Dial Prefix", ""));
  dialing.DialType = old.read_int("Dial Type", 0) != 0 ? 0 : 1;  // the old sense was the opposite

  modem.CommPort = old.read_int("Comm Port", 0);
  // "COM1" advanced by the port index; an index that leads out of the digits
  // keeps the name rather than making an unusable one.
  if (std::strlen(modem.PortName) >= 4 && is_digit(modem.PortName[3]) && modem.CommPort >= 0 &&
      modem.CommPort <= '9' - modem.PortName[3])
    modem.PortName[3] = static_cast<char>(modem.PortName[3] + modem.CommPort);
  modem.BaudRate = old.read_int("Baud Rate", 2);
  modem.FlowControl = old.read_int("Auto Config Flow Control", 0);
  set_field(modem.ResetString, old.read_text("Reset Modem String", "AT Z"));
  set_field(modem.SetupString, old.read_text("Initialization String", ""));

  if (access.find_first_of("0123456789") != std::string::npos) {
    set_field(zrs.CustomAccessNumber, access);
    zrs.UseCustomAccess = access == old.read_text("ZRS Primary Access Number", "") ? 1 : 0;
  }
  set_field(zrs.Service, old.read_text("Service", "tarkel96"));

  parse_setup_string(field_text(modem.SetupString), modem.SpeakerOff, dialing.DialBlind);
  put_dialing(dialing);
  put_modem(modem);
  put_zrs_access(zrs);
  platform::log_info("modset", "settings of \"ZRS Modem\" carried over");
}

void migrate_once() {
  static std::once_flag once;
  std::call_once(once, [] {
    try {
      migrate_old_section();
    } catch (...) {
      platform::log_warn("modset", "carrying over \"ZRS Modem\" failed");
    }
  });
}

}  // namespace modset
