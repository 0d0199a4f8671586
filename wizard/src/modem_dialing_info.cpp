// "Dialing Information": call waiting, the outside-line digit and tone or
// pulse dialing, for the dial command and the dial-up entry.
#include "wizard/modem_level.h"

namespace wizard {

using namespace platform;

CDialingInfoDialog::CDialingInfoDialog(RegistrationProfile* profile, HWND parent)
    : CBaseDialog(IDD_DIALING_INFO, profile, parent) {}

void CDialingInfoDialog::GetFromProfile() {
  const RegistrationProfile* p = profile();
  cw_disable_ = p->value_or_empty("CWDISABLE") == "TRUE";
  cw_code_ = p->value_or_empty("CWDISABLESTR");
  outside_ = p->value_or_empty("OUTSIDEACCESS");
  // Anything but "TONE" (also "tone") means pulse.
  method_ = p->value_or_empty("DIALMETHOD") == "TONE" ? 0 : 1;
}

bool CDialingInfoDialog::on_init_dialog() {
  if (Edit* e = edit(IDC_OUTSIDE_ACCESS)) e->set_limit(1);
  GetFromProfile();
  const bool r = CBaseDialog::on_init_dialog();
  enable_item(IDC_CW_CODE, cw_disable_);
  return r;
}

bool CDialingInfoDialog::on_command(int id, int code, HWND control) {
  if (id == IDC_CW_DISABLE && code == BN_CLICKED) {
    enable_item(IDC_CW_CODE, is_checked(IDC_CW_DISABLE) == BST_CHECKED);
    return true;
  }
  return CBaseDialog::on_command(id, code, control);
}

void CDialingInfoDialog::ExchangeFields(DataExchange& dx) {
  dx.check(IDC_CW_DISABLE, cw_disable_);
  // The field's own text, as typed: it need not be one of the list's codes.
  dx.text(IDC_CW_CODE, cw_code_);
  dx.text(IDC_OUTSIDE_ACCESS, outside_, 1);
  dx.radio(IDC_TONE, method_);
}

bool CDialingInfoDialog::TransferData(bool save) {
  if (!save) {
    GetFromProfile();
    const bool r = update_data(false);
    enable_item(IDC_CW_CODE, cw_disable_);
    return r;
  }
  if (!update_data(true)) return false;
  RegistrationProfile* p = profile();
  p->Set("CWDISABLE", cw_disable_ ? "TRUE" : "FALSE");
  p->Set("CWDISABLESTR", cw_code_);
  p->Set("OUTSIDEACCESS", outside_);
  p->Set("DIALMETHOD", method_ == 1 ? "PULSE" : "TONE");
  return true;
}

}  // namespace wizard
