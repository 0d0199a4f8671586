#include <stdlib.h>
#include <unistd.h>

#include <system_error>

#include "platform/loop/log.h"
#include "platform/shell/launcher.h"
#include "platform/shell/phonebook.h"
#include "platform/storage/files.h"
#include "platform/ui/message_box.h"
#include "platform/ui/window.h"
#include "sysconfig/dialup.h"
#include "sysconfig/system_install.h"
#include "wizard/dialing_dialogs.h"
#include "wizard/strings.h"

namespace wizard {

using namespace platform;

namespace {

SystemInstallOptions& install_options() {
  static SystemInstallOptions options;
  return options;
}

// pkexec's own exit codes: the person dismissed the prompt, or was not
// allowed (or no agent could ask).
constexpr int kPkexecDismissed = 126;
constexpr int kPkexecNotAuthorized = 127;

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace

void set_system_install_options(SystemInstallOptions options) { install_options() = std::move(options); }

// ---- CConnectFailedDialog ------------------------------------------------------

CConnectFailedDialog::CConnectFailedDialog(RegistrationProfile* profile, HWND owner)
    : CBaseDialog(IDD_CONNECT_FAILED, profile, owner) {}

bool CConnectFailedDialog::on_init_dialog() {
  const bool r = CBaseDialog::on_init_dialog();
  SetFinishMode(false);
  if (parent_window() != 0) place_over(hwnd(), parent_window());
  return r;
}

void CConnectFailedDialog::OnNext() { end_dialog(kConnectRetry); }

void CConnectFailedDialog::on_cancel() { end_dialog(kConnectAbort); }

// ---- CAccountCreatedDialog -----------------------------------------------------

CAccountCreatedDialog::CAccountCreatedDialog(RegistrationProfile* profile, HWND owner)
    : CBaseDialog(IDD_ACCOUNT_CREATED, profile, owner) {}

CAccountCreatedDialog::~CAccountCreatedDialog() {
  if (!install_output_.empty()) ::unlink(install_output_.c_str());
}

bool CAccountCreatedDialog::new_account() const {
  return profile() != nullptr && profile()->value_or_empty("NEWUSER") == "yes";
}

std::string CAccountCreatedDialog::title() const {
  return new_account() ? "Your Account has been Created!" : "Your Software has been Configured!";
}

bool CAccountCreatedDialog::on_init_dialog() {
  CBaseDialog::on_init_dialog();
  if (profile() != nullptr) {
    set_item_text(IDC_CREATED_USERID, profile()->value_or_empty("USERID"));
    set_item_text(IDC_CREATED_PASSWORD, profile()->value_or_empty("PASSWORD"));
  }
  // The Windows places of these texts are said as their counterparts here:
  // both runs leave the account's launcher on the user's desktop, and Linux
  // has no Windows Desktop nor Dial-Up Networking folder.
  set_item_text(IDC_CREATED_TEXT,
                new_account()
                    ? "Your account on the Veloran Network has been created.  To connect to the network and begin "
                      "using your account double click on the Veloran Network icon on your Desktop."
                    : "To connect to the network and begin using your account double click on the Veloran Account "
                      "on your Desktop.");
  // The registration worked, but the computer may not have been set up to
  // dial the account: say so here, not only in the log.
  if (const auto outcome = sysconfig::LastDialUpOutcome(); outcome.configured && !outcome.problem.empty()) {
    set_item_text(IDC_CREATED_DIALUP_NOTE, outcome.problem);
    show_item(IDC_CREATED_DIALUP_NOTE, true);
  }
  show_item(IDC_BACK, false);
  show_item(IDCANCEL, false);
  // Only an account whose entry was made can be installed.
  std::error_code ec;
  const bool entry_made =
      std::filesystem::exists(phonebook::PhoneBook().peers_path(sysconfig::kAccountEntryName), ec);
  show_item(IDC_CREATED_INSTALL, entry_made && !install_options().command.empty());
  SetFinishMode(true);
  goto_control(IDC_FINISH);
  if (parent_window() != 0) place_over(hwnd(), parent_window());
  return false;
}

void CAccountCreatedDialog::on_show(bool shown) {
  CBaseDialog::on_show(shown);
  if (shown) set_item_text(IDC_CREATED_SUPPORT, load_string(IDS_SUPPORT));
}

void CAccountCreatedDialog::on_cancel() {
  // Not while the administrator prompt is up: its result must be seen.
  if (install_output_.empty()) OnFinish();
}

bool CAccountCreatedDialog::on_command(int id, int code, HWND control) {
  if (id == IDC_CREATED_INSTALL) {
    OnInstall();
    return true;
  }
  return CBaseDialog::on_command(id, code, control);
}

LRESULT CAccountCreatedDialog::window_proc(const Message& msg) {
  if (msg.message == WM_WIZ_INSTALL_DONE) {
    OnInstallDone(static_cast<int>(msg.wparam));
    return 0;
  }
  return CBaseDialog::window_proc(msg);
}

void CAccountCreatedDialog::OnInstall() {
  const SystemInstallOptions& options = install_options();
  const std::string command = sysconfig::ShellCommandLine(options.command);
  const std::filesystem::path pkexec = options.terminal ? std::filesystem::path() : runnable_program("pkexec");
  if (pkexec.empty()) {
    // In the terminal, or without polkit: the person runs it.
    message_box(hwnd(), std::string(kInstallCommandText) + "\n\n  sudo " + command, kInstallCaption,
                MB_OK | MB_ICONINFORMATION);
    return;
  }
  // The install's output, for the result window.
  const char* tmp = std::getenv("TMPDIR");
  install_output_ = std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/joinwiz-install-XXXXXX";
  const int fd = ::mkstemp(install_output_.data());
  if (fd >= 0) ::close(fd);
  std::vector<std::string> argv{pkexec.string()};
  argv.insert(argv.end(), options.command.begin(), options.command.end());
  if (fd < 0 || launch_program(argv, hwnd(), WM_WIZ_INSTALL_DONE, install_output_) != kLaunchStarted) {
    if (fd >= 0) ::unlink(install_output_.c_str());
    install_output_.clear();
    message_box(hwnd(), "pkexec could not be started.\n\n" + std::string(kInstallCommandText) + "\n\n  sudo " + command,
                kInstallCaption, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  log_info("joinwiz", "system install: " + sysconfig::ShellCommandLine(argv));
  // Until it ends: the administrator prompt is up.
  enable_item(IDC_CREATED_INSTALL, false);
  enable_item(IDC_FINISH, false);
}

void CAccountCreatedDialog::OnInstallDone(int status) {
  std::string output;
  if (!install_output_.empty()) {
    read_file(install_output_, output);
    ::unlink(install_output_.c_str());
    install_output_.clear();
  }
  output = Trimmed(output);
  enable_item(IDC_FINISH, true);
  goto_control(IDC_FINISH);
  const std::string command = sysconfig::ShellCommandLine(install_options().command);
  if (status == 0) {
    message_box(hwnd(), "The dial-up entry is installed for the system.\n\n" + output, kInstallCaption,
                MB_OK | MB_ICONINFORMATION);
    return;  // the button stays disabled: done
  }
  enable_item(IDC_CREATED_INSTALL, true);
  std::string text;
  if (status == kPkexecDismissed) {
    text = "The installation was cancelled at the administrator prompt; nothing was changed.";
  } else if (status == kPkexecNotAuthorized) {
    text = "The installation was not authorised; nothing was changed.";
  } else {
    text = "The installation failed (exit status " + std::to_string(status) + ").";
  }
  if (!output.empty()) text += "\n\n" + output;
  text += "\n\n" + std::string(kInstallCommandText) + "\n\n  sudo " + command;
  message_box(hwnd(), text, kInstallCaption, MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace wizard
