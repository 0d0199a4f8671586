#include "platform/ui/window.h"
#include "sysconfig/dialup.h"
#include "wizard/dialing_dialogs.h"
#include "wizard/strings.h"

namespace wizard {

using namespace platform;

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
  SetFinishMode(true);
  goto_control(IDC_FINISH);
  if (parent_window() != 0) place_over(hwnd(), parent_window());
  return false;
}

void CAccountCreatedDialog::on_show(bool shown) {
  CBaseDialog::on_show(shown);
  if (shown) set_item_text(IDC_CREATED_SUPPORT, load_string(IDS_SUPPORT));
}

void CAccountCreatedDialog::on_cancel() { OnFinish(); }

}  // namespace wizard
