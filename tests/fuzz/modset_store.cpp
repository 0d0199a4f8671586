// Modset's configuration store: the shared TARK_NET.INI that other programs
// also write. The input is the file. Checked: every Get fills its record
// with terminated texts and a documented result; what a Get returned, stored
// with Put and read again, comes back the same (the setup string, patched
// on every read, is left out of that comparison); sections of other
// programs survive the Puts.
#include <cstdint>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string>

#include "common/ini_document.h"
#include "fuzz_support.h"
#include "modset.h"
#include "platform/storage/ascii.h"
#include "platform/storage/system_root.h"

namespace {

namespace fs = std::filesystem;

template <std::size_t N>
void check_text(const char (&field)[N], const char* what) {
  fuzz::check(std::memchr(field, '\0', N) != nullptr, std::string(what) + " is not terminated");
}

template <std::size_t N>
bool has_cr(const char (&field)[N]) {
  return std::memchr(field, '\r', N) != nullptr;
}

void check_result(std::int32_t rc, const char* what) {
  fuzz::check(rc == CFG_OK || rc == CFG_DEFAULTS, std::string(what) + " failed: " + std::to_string(rc));
}

struct Records {
  CfgDialingInfo dialing{};
  CfgModemInfo modem{};
  CfgZrsAccessInfo zrs{};
  CfgNsvConfigInfo nsv{};
  CfgNsvPopEntry pops[8]{};

  void get() {
    std::memset(this, 0, sizeof *this);
    check_result(CfgGetDialingInfo(&dialing), "CfgGetDialingInfo");
    check_result(CfgGetModemInfo(&modem), "CfgGetModemInfo");
    check_result(CfgGetZrsAccessInfo(&zrs), "CfgGetZrsAccessInfo");
    nsv.PopList.count = 8;
    nsv.PopList.entries = pops;
    check_result(CfgGetNsvConfigInfo(&nsv), "CfgGetNsvConfigInfo");
    fuzz::check(nsv.PopList.count >= 0 && nsv.PopList.count <= 8, "POP list count out of range");
    check_text(dialing.DisableCallWaiting, "DisableCallWaiting");
    check_text(dialing.DialPrefix, "DialPrefix");
    check_text(dialing.DialLongDistance, "DialLongDistance");
    check_text(modem.PortName, "PortName");
    check_text(modem.ResetString, "ResetString");
    check_text(modem.SetupString, "SetupString");
    check_text(zrs.CustomAccessNumber, "CustomAccessNumber");
    check_text(zrs.PrimaryAccessNumber, "PrimaryAccessNumber");
    check_text(zrs.AlternateAccessNumber, "AlternateAccessNumber");
    check_text(zrs.Service, "Service");
    check_text(nsv.AreaCode, "AreaCode");
    check_text(nsv.UserId, "UserId");
    check_text(nsv.SelectedPop, "SelectedPop");
    check_text(nsv.SelectedAccess, "SelectedAccess");
    check_text(nsv.CustomPop, "CustomPop");
    check_text(nsv.CustomAccess, "CustomAccess");
    for (int i = 0; i < nsv.PopList.count; ++i) {
      check_text(pops[i].Pop, "Pop");
      check_text(pops[i].AccessNumber, "AccessNumber");
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fs::path root = [] {
    fs::path r = fuzz::work_folder() / "modset-root";
    fuzz::fresh_folder(r);
    fuzz::check(platform::set_system_root(r), "cannot set the system root");
    fuzz::check(platform::ensure_known_folder(platform::KnownFolder::Windows), "no Windows folder");
    return r;
  }();
  (void)root;
  const fs::path file = platform::known_folder(platform::KnownFolder::Windows) / "TARK_NET.INI";
  std::string text(reinterpret_cast<const char*>(data), size);
  // A new file each time (rename), as another program's save makes it.
  fuzz::write_file(file.string() + ".new", text);
  fs::rename(file.string() + ".new", file);
  common::IniDocument before = common::IniDocument::parse(text);

  Records first;
  first.get();
  // A CR inside a value is read as a character (lines end at LF), but the
  // writer refuses it, since other readers end lines there: such a record's
  // Put reports CFG_E_WRITE and stores nothing, as a failed write does.
  const bool dialing_cr = has_cr(first.dialing.DisableCallWaiting) || has_cr(first.dialing.DialPrefix) ||
                          has_cr(first.dialing.DialLongDistance);
  const bool modem_cr = has_cr(first.modem.PortName) || has_cr(first.modem.ResetString) ||
                        has_cr(first.modem.SetupString);
  const bool zrs_cr = has_cr(first.zrs.CustomAccessNumber) || has_cr(first.zrs.PrimaryAccessNumber) ||
                      has_cr(first.zrs.AlternateAccessNumber) || has_cr(first.zrs.Service);
  const bool nsv_cr = has_cr(first.nsv.AreaCode) || has_cr(first.nsv.UserId) || has_cr(first.nsv.SelectedPop) ||
                      has_cr(first.nsv.SelectedAccess) || has_cr(first.nsv.CustomPop) ||
                      has_cr(first.nsv.CustomAccess);
  // A POP read with an empty number cannot be stored again (1 to 39
  // characters), nor one whose name starts with '[' (a header line without
  // its ']') or holds a CR: that Put stores the record and the other entries,
  // leaves the entry out and reports CFG_E_WRITE.
  bool bad_pop = false;
  for (int i = 0; i < first.nsv.PopList.count; ++i) {
    bad_pop = bad_pop || !first.pops[i].AccessNumber[0] || has_cr(first.pops[i].Pop) ||
              has_cr(first.pops[i].AccessNumber) || first.pops[i].Pop[0] == '[';
  }
  // A Put is one update of the file: a refused one leaves every byte as it
  // was, unless only POP entries were left out.
  auto stored = [&](const std::function<std::int32_t()>& put, bool refusable, bool writes_anyway, const char* what) {
    std::string before_put = fuzz::read_file(file);
    std::int32_t rc = put();
    fuzz::check(rc == CFG_OK || (rc == CFG_E_WRITE && (refusable || writes_anyway)),
                std::string(what) + " failed: " + std::to_string(rc));
    if (rc != CFG_OK && refusable) fuzz::check(fuzz::read_file(file) == before_put, std::string(what) + " refused, yet wrote");
  };
  stored([&] { return CfgPutDialingInfo(&first.dialing); }, dialing_cr, false, "CfgPutDialingInfo");
  stored([&] { return CfgPutModemInfo(&first.modem); }, modem_cr, false, "CfgPutModemInfo");
  stored([&] { return CfgPutZrsAccessInfo(&first.zrs); }, zrs_cr, false, "CfgPutZrsAccessInfo");
  stored([&] { return CfgPutNsvConfigInfo(&first.nsv); }, nsv_cr, bad_pop, "CfgPutNsvConfigInfo");

  Records again;
  again.get();
  fuzz::check(dialing_cr || std::memcmp(&first.dialing, &again.dialing, sizeof first.dialing) == 0,
              "dialing record changed");
  fuzz::check(modem_cr || std::memcmp(first.modem.PortName, again.modem.PortName,
                          offsetof(CfgModemInfo, SetupString) - offsetof(CfgModemInfo, PortName)) == 0,
              "modem record changed: \"" + std::string(first.modem.PortName) + "\" " +
                  std::to_string(first.modem.CommPort) + " " + std::to_string(first.modem.BaudRate) + " " +
                  std::to_string(first.modem.FlowControl) + " " + std::to_string(first.modem.SpeakerOff) + " \"" +
                  first.modem.ResetString + "\" became \"" + again.modem.PortName + "\" " +
                  std::to_string(again.modem.CommPort) + " " + std::to_string(again.modem.BaudRate) + " " +
                  std::to_string(again.modem.FlowControl) + " " + std::to_string(again.modem.SpeakerOff) + " \"" +
                  again.modem.ResetString + "\"");
  fuzz::check(zrs_cr || std::memcmp(&first.zrs, &again.zrs, sizeof first.zrs) == 0, "access record changed");
  fuzz::check(nsv_cr || std::memcmp(&first.nsv, &again.nsv, offsetof(CfgNsvConfigInfo, PopList)) == 0,
              "NSV record changed");
  fuzz::check(nsv_cr || bad_pop || (first.nsv.PopList.count == again.nsv.PopList.count &&
                                std::memcmp(first.pops, again.pops, sizeof first.pops) == 0),
              "POP list changed");

  // Sections of other programs are left as they were.
  common::IniDocument after = common::IniDocument::parse(fuzz::read_file(file));
  static const char* const ours[] = {"Dialing Information", "Modem Information", "ZRS Async Access Info",
                                     "NSV Config Information", "NSV POP List"};
  for (const std::string& section : before.sections()) {
    bool mine = false;
    for (const char* s : ours) mine = mine || platform::equal_no_case(section, s);
    if (mine) continue;
    for (const std::string& key : before.keys(section)) {
      fuzz::check(after.get(section, key) == before.get(section, key), "another program's key changed: " + key);
    }
  }
  return 0;
}
