#include "wizard/dialing_page.h"

#include "ini_bridge.h"
#include "platform/loop/log.h"
#include "platform/serial/com_ports.h"
#include "platform/ui/message_box.h"
#include "platform/storage/system_root.h"
#include "platform/ui/window.h"
#include "session/imodem.h"
#include "session/line_protocol.h"
#include "session/reg_session.h"
#include "sysconfig/setup_report.h"
#include "sysconfig/sysconfig.h"
#include "wizard/dialing_dialogs.h"
#include "wizard/port_check.h"
#include "wizard/prompt_dialogs.h"

namespace wizard {

using namespace platform;

namespace {

constexpr const char* kComponent = "wizard";
constexpr const char* kDialingSection = "Dialing Information";
constexpr std::size_t kDialingReadBuffer = 32;

DialingPortOptions& port_options_storage() {
  static DialingPortOptions options;
  return options;
}

session::ModemOptions default_port_options() {
  SerialOpenOptions o;
  // COMn links live in the system root; so does the lock file when
  // /var/lock cannot be written.
  o.dosdevices = known_folder(KnownFolder::DosDevices);
  o.fallback_lock_dir = system_root();
  return session::PlatformModemOptions(o, [](std::string_view text) { app_message_box(text, MB_OK); });
}

// The registration profile as the session sees it.
class ProfileAdapter final : public session::ProfileStore {
 public:
  explicit ProfileAdapter(RegistrationProfile* profile) : profile_(profile) {}
  bool Get(std::string_view key, std::string& value) const override {
    return profile_ != nullptr && profile_->Get(key, value);
  }
  void Set(std::string_view key, std::string_view value) override {
    if (profile_ != nullptr) profile_->Set(key, value);
  }

 private:
  RegistrationProfile* profile_;
};

}  // namespace

// What the session shows goes to the page's status window, found again by
// handle each time (the window may be gone while a session still talks).
struct CDialNetworkDialog::Ui final : session::SessionUi {
  explicit Ui(CDialNetworkDialog& page, RegistrationProfile* profile)
      : page_(page), profile_(profile), prompts_(profile, [this] { return Owner(); }) {}

  // The server's prompts belong to the status window while it is up.
  HWND Owner() const {
    const HWND status = page_.StatusWindow();
    return status != 0 && is_window(status) ? status : page_.hwnd();
  }

  void ShowModemText(std::string_view text, bool take_focus) override {
    if (CStatusDialog* s = page_.Status()) s->SetModemText(text, take_focus);
  }
  void ShowSessionText(std::string_view text, bool take_focus) override {
    if (CStatusDialog* s = page_.Status()) s->SetSessionText(text, take_focus);
  }
  void MessageBox(std::string_view text, session::MessageIcon icon) override {
    unsigned type = MB_OK;
    if (icon == session::MessageIcon::Exclamation) type |= MB_ICONEXCLAMATION;
    if (icon == session::MessageIcon::Information) type |= MB_ICONINFORMATION;
    const HWND owner = page_.StatusWindow() != 0 ? page_.StatusWindow() : page_.hwnd();
    message_box(owner, text, application_name(), type);
  }
  void CloseStatusWindow() override { page_.DeleteStatusWindow(); }
  void DisableCancel() override {
    if (CStatusDialog* s = page_.Status()) {
      s->enable_item(IDC_STATUS_CANCEL, false);
      s->show_item(IDC_STATUS_CANCEL, false);
    }
  }

  CDialNetworkDialog& page_;
  ProfileAdapter profile_;
  CSessionPrompts prompts_;
};

std::string MissingRegNumberText(const std::filesystem::path& ini) {
  return "The number of the registration server is missing: " + ini.string() +
         " has no REGNUMBER setting in section [Dialing Information], so there is nothing to dial. Install the "
         "Joinwiz.ini that came with the program, or add the line REGNUMBER= with the number to that section.";
}

void set_dialing_port_options(DialingPortOptions options) { port_options_storage() = std::move(options); }

CBaseDialog* CreateDialingPage(RegistrationProfile* profile, HWND parent) {
  register_dialing_templates();
  register_prompt_templates();
  return new_window<CDialNetworkDialog>(profile, parent);
}

// ---- CDialNetworkDialog --------------------------------------------------------

CDialNetworkDialog::CDialNetworkDialog(RegistrationProfile* profile, HWND parent)
    : CBaseDialog(IDD_DIAL_NETWORK, profile, parent), ui_(std::make_unique<Ui>(*this, profile)) {}

CDialNetworkDialog::~CDialNetworkDialog() {
  session_.reset();
  DeleteStatusWindow();
}

CStatusDialog* CDialNetworkDialog::Status() const { return window_cast<CStatusDialog>(status_); }

void CDialNetworkDialog::CreateStatusWindow() {
  auto* status = new_window<CStatusDialog>(profile(), hwnd());
  status_ = status->CreateModeless();
  if (status_ == 0) {
    log_error(kComponent, "the status window could not be made");
    delete status;
  }
}

void CDialNetworkDialog::DeleteStatusWindow() {
  const HWND old = status_;
  status_ = 0;
  if (old != 0 && is_window(old)) destroy_window(old);
}

void CDialNetworkDialog::DeleteSession() {
  session_.reset();
  DeleteStatusWindow();
}

bool CDialNetworkDialog::on_init_dialog() {
  // The window exists now: its status window waits hidden.
  CreateStatusWindow();
  const bool r = CBaseDialog::on_init_dialog();
  const bool new_user = profile() != nullptr && profile()->value_or_empty("NEWUSER") == "yes";
  set_item_text(IDC_DIAL_TEXT,
                new_user ? "You are now ready to dial into the Veloran Network to create an account.  Check to see "
                           "that your modem is plugged in, turned on, and has a telephone line attached to it."
                         : "You are now ready to dial into the Veloran Network.  Check to see that your modem is "
                           "plugged in, turned on, and has a telephone line attached to it.");
  return r;
}

// Next starts a call; nothing of the page is saved. Every call gets a new
// session: the one before has hung up and is dropped here.
void CDialNetworkDialog::OnNext() {
  // Without the number of the registration server there is nothing to dial:
  // say which setting is missing instead of dialing "ATDT" alone.
  const std::filesystem::path& ini = wizard_paths().profile;
  if (ini_read(kDialingSection, "REGNUMBER", "", kDialingReadBuffer, ini).empty()) {
    log_error(kComponent, "no REGNUMBER in [Dialing Information] of " + ini.string() + "; not dialing");
    message_box(hwnd(), MissingRegNumberText(ini), application_name(), MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  // A modem held by another program is named before the call opens it.
  if (profile()) {
    const int com = session::PortFromProfile(profile()->value_or_empty("COMPORT"));
    const ComPortInfo port = com_port_info(com, known_folder(KnownFolder::DosDevices));
    if (port.state == ComPortState::Device && !CheckPortFree(hwnd(), port.device)) return;
  }
  const DialingPortOptions& options = port_options_storage();
  session_.reset();
  session_ = std::make_unique<session::CRegSessionDialog>(hwnd(), *ui_,
                                                          options ? options() : default_port_options());
  if (status_ == 0 || !is_window(status_)) CreateStatusWindow();
  if (CStatusDialog* s = Status()) s->ShowCentred();
  session_->SetProfile(&ui_->profile_);
  session_->SetPrompts(&ui_->prompts_);
  session_->SetProgramDir(wizard_paths().program_dir);
  sysconfig::InstallCommandHandlers(*session_);
  session_->LoadDialingInformation(wizard_paths().profile);
  enable_window(hwnd(), false);
  log_info(kComponent, "dialing " + session_->PhoneNumber() + " to register");
  session_->Start();
}

void CDialNetworkDialog::OnResultOk() {
  log_info(kComponent, "the registration call succeeded");
  sysconfig::ThisRun().registered = true;
  DeleteSession();
  show_window(hwnd(), SW_HIDE);
  {
    CAccountCreatedDialog closing(profile(), hwnd());
    closing.do_modal(hwnd());
  }
  enable_window(hwnd(), true);
  // The wizard ends through the levels' Cancel: the top level saves.
  PostToParent(WM_WIZ_CANCEL);
}

void CDialNetworkDialog::OnResultFailed() {
  log_info(kComponent, "the registration call failed");
  show_window(hwnd(), SW_HIDE);
  int result = 0;
  {
    CConnectFailedDialog failed(profile(), hwnd());
    result = failed.do_modal(hwnd());
  }
  enable_window(hwnd(), true);
  if (result == kConnectRetry) {
    show_window(hwnd(), SW_SHOW);
    OnNext();
  } else if (result == kConnectAbort) {
    log_info(kComponent, "the user gave up after a failed connection; the profile is not saved");
    DeleteSession();
    MessageLoop::current().quit(kExitConnectionAbandoned);
  } else {
    show_window(hwnd(), SW_SHOW);
  }
}

void CDialNetworkDialog::OnSessionClosed() {
  if (session_) {
    session_->HangUp();
    DeleteStatusWindow();
  }
  enable_window(hwnd(), true);
  bring_to_top(hwnd());
  set_active_window(hwnd());
}

LRESULT CDialNetworkDialog::window_proc(const Message& msg) {
  switch (msg.message) {
    case WM_WIZ_RESULT_OK:
      OnResultOk();
      return 0;
    case WM_WIZ_RESULT_FAILED:
      OnResultFailed();
      return 0;
    case WM_WIZ_SESSION_CLOSED:
      OnSessionClosed();
      return 0;
    default:
      return CBaseDialog::window_proc(msg);
  }
}

}  // namespace wizard
