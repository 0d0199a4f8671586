// The "Modem Setup" master and the pages that show or take the modem
// settings: "Modem Found", "Modem Not Found", "Confirm Modem Setup".
#include <cstdio>

#include "platform/serial/com_ports.h"
#include "platform/shell/launcher.h"
#include "platform/loop/log.h"
#include "platform/ui/display.h"
#include "platform/ui/message_box.h"
#include "platform/storage/system_root.h"
#include "platform/shell/telephony.h"
#include "wizard/dialing_page.h"
#include "wizard/modem_level.h"
#include "wizard/pages.h"

namespace wizard {

using namespace platform;

namespace {

constexpr const char* kComponent = "modem";
// Runs the telephony check once the page is up, so a message box about it
// shows over the page instead of over the page before.
constexpr unsigned WM_MODEM_CHECK_TELEPHONY = WM_USER + 600;
// The modem control panel ended: the check runs again.
constexpr unsigned WM_MODEM_PANEL_ENDED = WM_USER + 601;
// In a terminal the panel's own screen replaces the wizard's: it starts
// once the notice that says why has been on screen a moment.
constexpr platform::TimerId kPanelTimer = 601;
constexpr std::int64_t kPanelNoticeMs = 1500;
constexpr const char* kNoModemNotice = "No modem was found on any COM port: opening Set Up Modem.";

ModemServices& services_storage() {
  static ModemServices services = default_modem_services();
  return services;
}

std::string value(const RegistrationProfile* p, const char* key) { return p ? p->value_or_empty(key) : std::string(); }

// Selects the item whose text is exactly `text`; none when it is missing.
void select_exact(ComboBox* combo, const std::string& text) {
  if (combo == nullptr) return;
  combo->set_cur_sel(combo->find_exact(-1, text));
}

}  // namespace

int launch_modem_control_panel(const std::filesystem::path& folder) { return launch_modem_control_panel(0, 0, folder); }

int launch_modem_control_panel(HWND notify, unsigned message, const std::filesystem::path& folder) {
  return launch_program_beside("modsetctl", {"setup"}, notify, message, folder);
}

ModemServices default_modem_services() {
  ModemServices s;
  s.enumerate = [](ModemPortList* list) { return ModemPortEnumeration(list); };
  s.configure = [](ModemAutoConfigRecord* record) { return ModemAutoConfigure(record); };
  s.probe = [] { return telephony_probe(); };
  s.start_control_panel = [](HWND notify, unsigned message) { return launch_modem_control_panel(notify, message); };
  return s;
}

void set_modem_services(ModemServices services) {
  ModemServices d = default_modem_services();
  if (!services.enumerate) services.enumerate = d.enumerate;
  if (!services.configure) services.configure = d.configure;
  if (!services.probe) services.probe = d.probe;
  if (!services.start_control_panel) services.start_control_panel = d.start_control_panel;
  services_storage() = std::move(services);
}

const ModemServices& modem_services() { return services_storage(); }

namespace {

std::string default_port_problems() {
  std::string text;
  for (const ComPortInfo& info : com_ports(known_folder(KnownFolder::DosDevices), kTelephonyMaxCom)) {
    const std::string advice = permission_advice(info);
    if (advice.empty()) continue;
    if (!text.empty()) text += ' ';
    text += advice;
  }
  return text;
}

std::function<std::string()>& port_problems_storage() {
  static std::function<std::string()> look = default_port_problems;
  return look;
}

}  // namespace

std::string port_problems() { return port_problems_storage()(); }

void set_port_problems(std::function<std::string()> look) {
  port_problems_storage() = look ? std::move(look) : default_port_problems;
}

std::string remove_blanks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != ' ') out += c;
  }
  return out;
}

std::string speed_text(std::int32_t code) {
  switch (code) {
    case 2: return "2400";
    case 3:
    case 4: return "4800";
    case 5: return "9600";
    case 6: return "14400";
    case 7: return "19200";
    case 8: return "38400";
    case 9: return "57600";
    case 10: return "115200";
    case 11: return "128000";
    case 12: return "256000";
    case 13: return "38400";
    default: return "1200";
  }
}

void register_modem_level() {
  register_modem_templates();
  set_modem_level_factory([](RegistrationProfile* profile, HWND parent) -> CBaseDialog* {
    return new_window<CModemSetupDialog>(profile, parent);
  });
}

// ---- CModemSetupDialog ---------------------------------------------------------

CModemSetupDialog::CModemSetupDialog(RegistrationProfile* profile, HWND parent)
    : CMasterDialog(IDD_MODEM_SETUP, profile, parent, kModemPageDetect, kModemPageDialing) {}

bool CModemSetupDialog::on_init_dialog() {
  CMasterDialog::on_init_dialog();
  TransferData(false);
  // The choice comes only from the profile.
  show_item(IDC_DONT_DETECT, false);
  // The hidden box held the first tab stop; without this the focus would
  // land on Back and Enter would go back instead of on.
  goto_control(IDC_NEXT);
  post_message(hwnd(), WM_MODEM_CHECK_TELEPHONY);
  return false;
}

void CModemSetupDialog::CheckTelephony(bool after_panel) {
  const ModemServices& s = modem_services();
  if (s.probe() != 0) {
    if (after_panel) log_info(kComponent, "the modem control panel ended: a modem is there now");
    return;
  }
  // The panel is offered once a visit of the page: starting it again each
  // time it is closed would leave no way past it on a machine without a modem.
  if (after_panel) {
    log_info(kComponent, "the modem control panel ended: still no modem on any COM port");
    return;
  }
  show_notice(0, kNoModemNotice);
  const Display* display = current_display();
  if (display != nullptr && display->uses_terminal()) {
    MessageLoop::current().set_timer(hwnd(), kPanelTimer, kPanelNoticeMs);
    return;
  }
  StartControlPanel();
}

void CModemSetupDialog::StartControlPanel() {
  MessageLoop::current().kill_timer(hwnd(), kPanelTimer);
  log_info(kComponent, "no modem on any COM port: starting the modem control panel");
  const int started = modem_services().start_control_panel(hwnd(), WM_MODEM_PANEL_ENDED);
  if (started < 32) {
    char text[64];
    std::snprintf(text, sizeof text, "WinExec failed; error code = %d", started);
    app_message_box(text, MB_OK);
  }
}

bool CModemSetupDialog::TransferData(bool save) {
  if (save) {
    if (!update_data(true)) return false;
    dont_detect_ = is_checked(IDC_DONT_DETECT) == BST_CHECKED;
    profile()->Set("DETECTMODEM", dont_detect_ ? "FALSE" : "TRUE");
    return true;
  }
  dont_detect_ = value(profile(), "DETECTMODEM") == "FALSE";
  check_button(IDC_DONT_DETECT, dont_detect_ ? BST_CHECKED : BST_UNCHECKED);
  return update_data(false);
}

void CModemSetupDialog::OnBack() {
  TransferData(false);
  PostToParent(WM_WIZ_BACK);
}

void CModemSetupDialog::OnFinish() { OnNext(); }

CBaseDialog* CModemSetupDialog::CreatePage(int& number) {
  RegistrationProfile* p = profile();
  switch (number) {
    case kModemPageDetect:
      // Only entered forward from this page; going back skips it.
      if (dont_detect_ || current_page() != 0) return nullptr;
      return new_window<CModemDetectDialog>(p, hwnd());
    case kModemPageResult:
      if (dont_detect_) return nullptr;
      if (detected_) return new_window<CModemFoundDialog>(p, hwnd());
      return new_window<CModemNotFoundDialog>(p, hwnd());
    case kModemPageConfirm:
      if (!specify_ && !dont_detect_) return nullptr;
      return new_window<CConfirmModemDialog>(p, hwnd());
    case kModemPageDialingInfo: return new_window<CDialingInfoDialog>(p, hwnd());
    case kModemPageDialing: return CreateDialingPage(p, hwnd());
    default: return nullptr;
  }
}

LRESULT CModemSetupDialog::window_proc(const Message& msg) {
  switch (msg.message) {
    case WM_MODEM_CHECK_TELEPHONY:
      CheckTelephony(false);
      return 0;
    case WM_MODEM_PANEL_ENDED:
      CheckTelephony(true);
      return 0;
    case WM_TIMER:
      if (msg.wparam != kPanelTimer) return CMasterDialog::window_proc(msg);
      StartControlPanel();
      return 0;
    case WM_WIZ_RESULT_OK:
    case WM_WIZ_RESULT_FAILED:
      detected_ = msg.message == WM_WIZ_RESULT_OK;
      Navigate(true);
      return 0;
    case WM_WIZ_MODEM_CHOICE:
      specify_ = msg.wparam != 0;
      TransferData(true);
      return 0;
    default: return CMasterDialog::window_proc(msg);
  }
}

// ---- CModemFoundDialog ---------------------------------------------------------

CModemFoundDialog::CModemFoundDialog(RegistrationProfile* profile, HWND parent)
    : CBaseDialog(IDD_MODEM_FOUND, profile, parent) {}

bool CModemFoundDialog::on_init_dialog() {
  const bool r = CBaseDialog::on_init_dialog();
  TransferData(false);
  set_item_text(IDC_FOUND_PORT, "COM" + value(profile(), "COMPORT"));
  set_item_text(IDC_FOUND_SPEED, value(profile(), "COMSPEED"));
  // MODEMTYPE is read but not shown.
  set_item_text(IDC_FOUND_INIT, value(profile(), "MODEMINIT"));
  enable_item(IDC_FOUND_INIT, false);
  return r;
}

bool CModemFoundDialog::TransferData(bool save) {
  if (!save) {
    check_button(IDC_DONT_USE_INIT, value(profile(), "USEDETECTED") == "FALSE" ? BST_CHECKED : BST_UNCHECKED);
    return true;
  }
  if (!update_data(true)) return false;
  profile()->Set("USEDETECTED", is_checked(IDC_DONT_USE_INIT) == BST_CHECKED ? "FALSE" : "TRUE");
  return true;
}

void CModemFoundDialog::OnNext() {
  PostToParent(WM_WIZ_MODEM_CHOICE, is_checked(IDC_DONT_USE_INIT) == BST_CHECKED ? 1 : 0);
  CBaseDialog::OnNext();
}

void CModemFoundDialog::OnBack() {
  TransferData(false);
  CBaseDialog::OnBack();
}

// ---- CModemNotFoundDialog ------------------------------------------------------

CModemNotFoundDialog::CModemNotFoundDialog(RegistrationProfile* profile, HWND parent)
    : CBaseDialog(IDD_MODEM_NOT_FOUND, profile, parent) {}

bool CModemNotFoundDialog::on_init_dialog() {
  const bool r = CBaseDialog::on_init_dialog();
  // A modem that is there but may not be opened is the commonest case on
  // Linux: the page says which device, its group and how to join it.
  const std::string problems = port_problems();
  if (!problems.empty()) {
    log_warn(kComponent, problems);
    set_item_text(IDC_PORT_PROBLEM, problems);
    show_item(IDC_PORT_PROBLEM, true);
  }
  return r;
}

void CModemNotFoundDialog::OnNext() {
  PostToParent(WM_WIZ_MODEM_CHOICE, 1);
  CBaseDialog::OnNext();
}

// ---- CConfirmModemDialog -------------------------------------------------------

CConfirmModemDialog::CConfirmModemDialog(RegistrationProfile* profile, HWND parent)
    : CBaseDialog(IDD_CONFIRM_MODEM, profile, parent) {}

bool CConfirmModemDialog::on_init_dialog() {
  const bool r = CBaseDialog::on_init_dialog();
  TransferData(false);
  return r;
}

bool CConfirmModemDialog::on_command(int id, int code, HWND control) {
  if (id == IDC_EDIT_INIT_BUTTON && code == BN_CLICKED) {
    show_item(IDC_INIT_STRING, true);
    goto_control(IDC_INIT_STRING);
    enable_item(IDC_EDIT_INIT_BUTTON, false);
    return true;
  }
  return CBaseDialog::on_command(id, code, control);
}

// A port or speed the lists do not hold (a hand-edited profile) leaves the
// list empty; saving that would leave the dialer without a port.
bool CConfirmModemDialog::Validate() {
  return CheckRequired("Please select the com port of your modem.", IDC_COM_PORT_LIST) &&
         CheckRequired("Please select the speed of your modem.", IDC_SPEED_LIST);
}

bool CConfirmModemDialog::TransferData(bool save) {
  if (!save) {
    select_exact(combo(IDC_COM_PORT_LIST), "COM" + value(profile(), "COMPORT"));
    select_exact(combo(IDC_SPEED_LIST), value(profile(), "COMSPEED"));
    set_item_text(IDC_INIT_STRING, value(profile(), "MODEMINIT"));
    return true;
  }
  if (!update_data(true)) return false;
  const std::string port = item_text(IDC_COM_PORT_LIST);
  profile()->Set("COMPORT", port.size() > 3 ? port.substr(3) : std::string());
  profile()->Set("COMSPEED", item_text(IDC_SPEED_LIST));
  profile()->Set("MODEMINIT", remove_blanks(item_text(IDC_INIT_STRING)));
  return true;
}

void CConfirmModemDialog::OnBack() {
  TransferData(false);
  CBaseDialog::OnBack();
}

}  // namespace wizard
