#include "wizard/port_check.h"

#include "platform/loop/log.h"
#include "platform/serial/com_ports.h"
#include "platform/serial/port_holders.h"
#include "platform/shell/telephony.h"
#include "platform/storage/system_root.h"
#include "platform/ui/message_box.h"
#include "sysconfig/modem_rules.h"

namespace wizard {

using namespace platform;
namespace fs = std::filesystem;

namespace {

constexpr const char* kComponent = "port-check";

// For a modem that ModemManager holds: keep it away for good, if the user
// wants and the modem is on USB.
void OfferModemManagerRule(HWND owner, const fs::path& device) {
  const std::optional<UsbIds> ids = usb_ids_of(device);
  if (!ids) return;
  const std::string question = "Keep ModemManager away from this modem (USB " + ids->vendor + ":" + ids->product +
                               ") from now on?\n\nThe system install (joinwiz --install-dialup) then adds a udev "
                               "rule that tells ModemManager to ignore it.";
  if (message_box(owner, question, "Modem in use", MB_YESNO | MB_ICONQUESTION) != IDYES) return;
  std::string error;
  if (!sysconfig::SaveModemIgnoreRule(*ids, error)) {
    message_box(owner, "The rule could not be saved: " + error, "Modem in use", MB_OK | MB_ICONEXCLAMATION);
  }
}

}  // namespace

bool CheckPortFree(HWND owner, const fs::path& device) {
  const std::vector<PortHolder> holders = port_holders(device);
  if (holders.empty()) return true;
  const std::string text = port_holders_text(device, holders);
  log_warn(kComponent, text);
  const int answer = message_box(owner, text + "\n\nClick OK to go on anyway, or Cancel to stop.", "Modem in use",
                                 MB_OKCANCEL | MB_ICONEXCLAMATION);
  for (const PortHolder& h : holders) {
    if (is_modem_manager(h)) {
      OfferModemManagerRule(owner, device);
      break;
    }
  }
  return answer == IDOK;
}

bool CheckComPortsFree(HWND owner) {
  for (const ComPortInfo& info : com_ports(known_folder(KnownFolder::DosDevices), kTelephonyMaxCom)) {
    if (info.state != ComPortState::Device) continue;
    if (!CheckPortFree(owner, info.device)) return false;
  }
  return true;
}

}  // namespace wizard
