// The modem level of the wizard: the "Modem Setup" page (a master of its own,
// the fifth top-level page) and its sequence: "Modem Detection", "Modem
// Found" or "Modem Not Found", "Confirm Modem Setup", "Dialing Information"
// and "Dialing the Network" (dialing_page.h).
//
// Detection runs libserlink's ModemPortEnumeration and ModemAutoConfigure
// inside a timer tick; the library's event handler pumps the message loop
// while it waits, so the page repaints and Cancel stops the run (the status
// callback then asks the library to stop). Answers go into the registration
// profile: DETECTMODEM, USEDETECTED, COMPORT, COMSPEED, MODEMINIT, MODEMTYPE,
// MODEMRST, CWDISABLE, CWDISABLESTR, OUTSIDEACCESS, DIALMETHOD.
//
// Index: template and control ids, ModemServices (the library and shell
// calls, replaceable in tests), helpers, the page classes,
// register_modem_level().
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "serlink.h"
#include "wizard/base_dialog.h"

namespace wizard {

enum : int {
  IDD_MODEM_SETUP = 110,
  IDD_MODEM_DETECT = 111,
  IDD_CONFIRM_MODEM = 112,
  IDD_MODEM_FOUND = 113,
  IDD_MODEM_NOT_FOUND = 114,
  IDD_DIALING_INFO = 115,
  IDD_MODEM_SELECT = 122,
};

enum : int {
  IDC_DETECT_STATUS = 3028,
  IDC_DETECT_PROGRESS = 3029,  // the library's progress text, below the status
  IDC_DONT_DETECT = 3037,
  IDC_FOUND_PORT = 3040,
  IDC_FOUND_SPEED = 3041,
  IDC_FOUND_SPEED_LABEL = 2041,
  IDC_FOUND_SPEED_NOTE = 2042,
  IDC_FOUND_INIT = 2017,
  IDC_DONT_USE_INIT = 3042,
  IDC_COM_PORT_LIST = 3039,
  IDC_SPEED_LIST = 3025,
  IDC_EDIT_INIT_BUTTON = 2033,
  IDC_INIT_STRING = 3050,
  IDC_INIT_LABEL = 2034,
  IDC_CW_DISABLE = 3043,
  IDC_CW_CODE = 3044,
  IDC_OUTSIDE_ACCESS = 3045,
  IDC_TONE = 3046,
  IDC_PULSE = 3047,
  IDC_PORT_PROBLEM = 2043,  // Modem Not Found: a modem this user may not use
};

// Page numbers of the modem level.
enum : int {
  kModemPageDetect = 1,
  kModemPageResult = 2,
  kModemPageConfirm = 3,
  kModemPageDialingInfo = 4,
  kModemPageDialing = 5,
};

// What the modem level asks of the library and the shell. The defaults call
// libserlink, the telephony probe and the control-panel launcher.
struct ModemServices {
  std::function<std::int32_t(ModemPortList*)> enumerate;
  std::function<std::int32_t(ModemAutoConfigRecord*)> configure;
  std::function<int()> probe;                // 1 when the system has a modem
  // Starts the modem control panel; `message` is posted to `notify` when it
  // ends. WinExec result (below 32: error).
  std::function<int(platform::HWND notify, unsigned message)> start_control_panel;
};
// Starts the modem control panel: `modsetctl setup` from `folder` (empty:
// the running program's folder), as the Windows wizard ran "control.exe
// modem.cpl"; where modsetctl is missing it cannot start (2). kLaunchStarted,
// or a WinExec error below 32; `message` goes to `notify` when it ends.
int launch_modem_control_panel(const std::filesystem::path& folder = {});
int launch_modem_control_panel(platform::HWND notify, unsigned message, const std::filesystem::path& folder = {});

ModemServices default_modem_services();
// Replaces the services (tests); an empty member keeps its default.
void set_modem_services(ModemServices services);
const ModemServices& modem_services();
// Why a modem the machine has may not be used (a device this user may not
// open: its group and the command that adds the user); empty when none.
// The default looks at the system root's COM links; tests replace it (an
// empty function restores the default).
std::string port_problems();
void set_port_problems(std::function<std::string()> look);

// `text` without its blanks, the other characters in order.
std::string remove_blanks(std::string_view text);
// COMSPEED text of a serial speed code: "9600" .. "115200" for 5 to 10; the
// channel's own rate for the others (1200 for unknown codes).
std::string speed_text(std::int32_t speed_code);

class CModemSetupDialog final : public CMasterDialog {
 public:
  CModemSetupDialog(RegistrationProfile* profile, platform::HWND parent);
  CBaseDialog* CreatePage(int& number) override;
  bool TransferData(bool save) override;
  int help_context() const override { return 16; }
  std::string title() const override { return "Modem Setup"; }

  bool dont_detect() const { return dont_detect_; }
  bool detected() const { return detected_; }
  bool specify_settings() const { return specify_; }

 protected:
  bool on_init_dialog() override;
  void OnBack() override;
  void OnFinish() override;
  platform::LRESULT window_proc(const platform::Message& msg) override;

 private:
  // The telephony probe; without a modem the control panel is started, and
  // when it ends (`after_panel`) the probe runs again.
  void CheckTelephony(bool after_panel);
  void StartControlPanel();
  bool dont_detect_ = false;
  bool detected_ = false;
  bool specify_ = false;
};

class CModemDetectDialog final : public CBaseDialog {
 public:
  CModemDetectDialog(RegistrationProfile* profile, platform::HWND parent);
  ~CModemDetectDialog() override;
  void SetFinishMode(bool finish) override;
  std::string title() const override { return "Modem Detection"; }
  bool running() const { return running_; }

  static constexpr platform::TimerId kTimerId = 1;

 protected:
  bool on_init_dialog() override;
  void on_cancel() override;
  platform::LRESULT window_proc(const platform::Message& msg) override;

 private:
  void Detect();
  void Status(const std::string& text);
  // Ends a run that found nothing usable: status text, flag, message.
  void Fail(const std::string& text);
  platform::TimerId timer_ = 0;
  bool running_ = false;
  bool stop_ = false;
};

// Modal: which of several ports with a modem to use.
class CModemSelectDialog final : public CBaseDialog {
 public:
  // `ports`: port numbers (index + 1) in list order.
  CModemSelectDialog(std::vector<int> ports, platform::HWND parent);
  std::string title() const override { return "Modem Selection"; }
  platform::Point title_position() const override { return {70, 6}; }
  int selection() const { return selection_; }

 protected:
  bool on_init_dialog() override;
  void on_ok() override;

 private:
  std::vector<int> ports_;
  int selection_ = -1;
};

class CModemFoundDialog final : public CBaseDialog {
 public:
  CModemFoundDialog(RegistrationProfile* profile, platform::HWND parent);
  bool TransferData(bool save) override;
  int help_context() const override { return 13; }
  std::string title() const override { return "Modem Found"; }

 protected:
  bool on_init_dialog() override;
  void OnNext() override;
  void OnBack() override;
};

class CModemNotFoundDialog final : public CBaseDialog {
 public:
  CModemNotFoundDialog(RegistrationProfile* profile, platform::HWND parent);
  int help_context() const override { return 15; }
  std::string title() const override { return "Modem Not Found"; }

 protected:
  bool on_init_dialog() override;
  void OnNext() override;
};

class CConfirmModemDialog final : public CBaseDialog {
 public:
  CConfirmModemDialog(RegistrationProfile* profile, platform::HWND parent);
  bool Validate() override;
  bool TransferData(bool save) override;
  int help_context() const override { return 16; }
  std::string title() const override { return "Confirm Modem Setup"; }

 protected:
  bool on_init_dialog() override;
  bool on_command(int id, int code, platform::HWND control) override;
  void OnBack() override;
};

class CDialingInfoDialog final : public CBaseDialog {
 public:
  CDialingInfoDialog(RegistrationProfile* profile, platform::HWND parent);
  bool TransferData(bool save) override;
  int help_context() const override { return 19; }
  std::string title() const override { return "Dialing Information"; }

 protected:
  bool on_init_dialog() override;
  bool on_command(int id, int code, platform::HWND control) override;
  void ExchangeFields(platform::DataExchange& dx) override;

 private:
  void GetFromProfile();
  bool cw_disable_ = false;
  std::string cw_code_;
  std::string outside_;
  int method_ = 0;  // 0 tone, 1 pulse
};

// Registers the modem pages' templates and makes "Modem Setup" the fifth
// top-level page (idempotent).
void register_modem_level();
void register_modem_templates();

}  // namespace wizard
