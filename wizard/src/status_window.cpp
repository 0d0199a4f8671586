#include "platform/ui/window.h"
#include "wizard/dialing_dialogs.h"

namespace wizard {

using namespace platform;

CStatusDialog::CStatusDialog(RegistrationProfile* profile, HWND owner) : CBaseDialog(IDD_STATUS, profile, owner) {}

bool CStatusDialog::on_init_dialog() {
  AttachMaskButtons();  // none of the decorated ids: nothing attaches
  return Dialog::on_init_dialog();
}

void CStatusDialog::ShowCentred() {
  centre_window(hwnd());
  show_window(hwnd(), SW_SHOW);
  paint_window(hwnd());
}

void CStatusDialog::TakeFocus() {
  if (is_window_visible(hwnd()) && active_window() != hwnd()) set_active_window(hwnd());
}

void CStatusDialog::SetModemText(std::string_view text, bool take_focus) {
  if (take_focus) TakeFocus();
  set_item_text(IDC_STATUS_MODEM, text);
}

void CStatusDialog::SetSessionText(std::string_view text, bool take_focus) {
  if (take_focus) TakeFocus();
  set_item_text(IDC_STATUS_SESSION, text);
}

bool CStatusDialog::on_command(int id, int code, HWND control) {
  if (id == IDC_STATUS_CANCEL && code == BN_CLICKED) {
    on_cancel();
    return true;
  }
  return CBaseDialog::on_command(id, code, control);
}

// Cancel (the button or Esc) ends the session through the page, which hangs
// up and removes this window.
void CStatusDialog::on_cancel() { PostToParent(WM_WIZ_SESSION_CLOSED); }

}  // namespace wizard
