// The registration call's dialogs: "Dialing the Network" (the page that
// starts the call), the "Account Registration Status" window, "Connection
// Failed" and the closing dialog.
//
// The page owns the session (session/reg_session.h) and the status window.
// On Next it makes a new session, shows the status window, disables itself
// and starts the call; the session answers with one posted message:
//   WM_WIZ_RESULT_OK       session deleted, closing dialog, then the wizard
//                          is cancelled up to the top level (which saves)
//   WM_WIZ_RESULT_FAILED   "Connection Failed": retry (a new session), back
//                          (the page again) or abort (exit code 1, nothing
//                          saved)
//   WM_WIZ_SESSION_CLOSED  hang up, status window gone, page enabled again
// The status window's Cancel posts WM_WIZ_SESSION_CLOSED to the page.
//
// Index: dialog and control ids, CStatusDialog, CConnectFailedDialog,
// CAccountCreatedDialog, CDialNetworkDialog, port options and templates.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "wizard/base_dialog.h"

namespace session {
class CRegSessionDialog;
struct ModemOptions;
}  // namespace session

namespace wizard {

enum : int {
  IDD_DIAL_NETWORK = 116,
  IDD_STATUS = 117,
  IDD_CONNECT_FAILED = 119,
  IDD_ACCOUNT_CREATED = 120,
};

enum : int {
  IDC_DIAL_TEXT = 2018,
  IDC_STATUS_SESSION = 3048,
  IDC_STATUS_MODEM = 3049,
  IDC_STATUS_CANCEL = 2013,
  IDC_CREATED_TEXT = 2023,
  IDC_CREATED_USERID = 3002,
  IDC_CREATED_PASSWORD = 3003,
  IDC_CREATED_SUPPORT = 2035,
  IDC_CREATED_DIALUP_NOTE = 2036,  // why no dial-up entry was made; hidden when one was
  IDC_CREATED_INSTALL = 3070,  // "Install for the &System" beside Finish
};

// The closing dialog's message when the system install it started ends
// (wparam: its exit status).
inline constexpr unsigned WM_WIZ_INSTALL_DONE = platform::WM_USER + 510;

// Results of "Connection Failed" (Back ends it with IDC_BACK).
enum : int { kConnectAbort = 10000, kConnectRetry = 10001 };

// Exit code of the wizard after Abort in "Connection Failed".
inline constexpr int kExitConnectionAbandoned = 1;

// "Account Registration Status": a modeless window owned by the dialing page.
class CStatusDialog final : public CBaseDialog {
 public:
  CStatusDialog(RegistrationProfile* profile, platform::HWND owner);
  // The "Modem:" line and the "Session:" text; with `take_focus` the window
  // first takes the keyboard focus (when it is shown).
  void SetModemText(std::string_view text, bool take_focus);
  void SetSessionText(std::string_view text, bool take_focus);
  // Shows the window centred on the screen and paints it at once.
  void ShowCentred();

 protected:
  bool on_init_dialog() override;
  bool on_command(int id, int code, platform::HWND control) override;
  void on_cancel() override;

 private:
  void TakeFocus();
};

class CConnectFailedDialog final : public CBaseDialog {
 public:
  CConnectFailedDialog(RegistrationProfile* profile, platform::HWND owner);
  int help_context() const override { return 22; }
  std::string title() const override { return "Connection Failed"; }

 protected:
  bool on_init_dialog() override;
  void OnNext() override;
  void on_cancel() override;
};

// How the closing dialog installs the account's entry for the whole
// system. `command` is this program's install command (system_install.h);
// empty hides the button. Through pkexec when it is installed and the
// display is not the terminal (pkexec would ask for the password on the
// terminal the wizard draws on); otherwise the dialog shows the command to
// run.
struct SystemInstallOptions {
  std::vector<std::string> command;
  bool terminal = false;
};
void set_system_install_options(SystemInstallOptions options);

// Texts of the system install's result windows.
inline constexpr std::string_view kInstallCaption = "Install for the System";
inline constexpr std::string_view kInstallCommandText =
    "To install the Veloran dial-up entry for every user of this computer, run this command as the "
    "administrator:";

class CAccountCreatedDialog final : public CBaseDialog {
 public:
  CAccountCreatedDialog(RegistrationProfile* profile, platform::HWND owner);
  ~CAccountCreatedDialog() override;
  int help_context() const override { return 23; }
  std::string title() const override;

 protected:
  bool on_init_dialog() override;
  void on_show(bool shown) override;
  bool on_command(int id, int code, platform::HWND control) override;
  // Cancel is hidden: Esc finishes, so an account that exists is recorded
  // (not while the system install it started runs).
  void on_cancel() override;
  platform::LRESULT window_proc(const platform::Message& msg) override;

 private:
  bool new_account() const;
  // "Install for the System": pkexec, or the command in a window.
  void OnInstall();
  void OnInstallDone(int status);

  std::string install_output_;  // the install's output file while it runs
};

class CDialNetworkDialog final : public CBaseDialog {
 public:
  CDialNetworkDialog(RegistrationProfile* profile, platform::HWND parent);
  ~CDialNetworkDialog() override;

  int help_context() const override { return 21; }
  std::string title() const override { return "Dialing the Network"; }

  session::CRegSessionDialog* Session() const { return session_.get(); }
  platform::HWND StatusWindow() const { return status_; }
  CStatusDialog* Status() const;
  // Removes the status window (the session closes it before configuring).
  void DeleteStatusWindow();

  struct Ui;

 protected:
  bool on_init_dialog() override;
  void OnNext() override;
  platform::LRESULT window_proc(const platform::Message& msg) override;

 private:
  void CreateStatusWindow();
  void DeleteSession();
  void OnResultOk();
  void OnResultFailed();
  void OnSessionClosed();

  platform::HWND status_ = 0;
  std::unique_ptr<Ui> ui_;
  std::unique_ptr<session::CRegSessionDialog> session_;
};

// How the session opens COMn. The default opens the port through the
// system root's dosdevices links; tests put their own.
using DialingPortOptions = std::function<session::ModemOptions()>;
void set_dialing_port_options(DialingPortOptions options);

// Registers the templates of the dialogs above (idempotent).
void register_dialing_templates();

}  // namespace wizard
