// Templates of the registration call's dialogs: the dialing page and the two
// closing dialogs have the page size and frame; the status window is small.
#include "platform/ui/dialog.h"
#include "wizard/app.h"
#include "wizard/dialing_dialogs.h"

#include "page_layout.h"

namespace wizard {

using namespace platform;
namespace d = platform::dlg;
using namespace layout;

namespace {

DialogTemplate dial_network() {
  DialogTemplate t = page(IDD_DIAL_NETWORK, "Dialing the Network");
  t.controls.push_back(d::ltext("You are now ready to dial into the Veloran Network.  Check to see that your modem "
                                "is plugged in, turned on, and has a telephone line attached to it.",
                                IDC_DIAL_TEXT, kLeft, 48, kWidth, 40));
  t.controls.push_back(d::ltext("Click the Next button to continue your registration process...", IDC_STATIC, kLeft,
                                104, kWidth, 16));
  frame(t);
  return t;
}

DialogTemplate status() {
  DialogTemplate t;
  t.id = IDD_STATUS;
  t.caption = "Account Registration Status";
  t.rect = {0, 0, 220, 96};
  t.style |= DS_CENTER;
  t.controls.push_back(d::groupbox("", IDC_STATIC, 4, 2, 212, 70));
  t.controls.push_back(d::ltext("Modem:", IDC_STATIC, 12, 16, 36, 8));
  t.controls.push_back(d::ltext("", IDC_STATUS_MODEM, 52, 16, 156, 8));
  t.controls.push_back(d::ltext("Session:", IDC_STATIC, 12, 32, 36, 8));
  t.controls.push_back(d::ltext("", IDC_STATUS_SESSION, 52, 32, 156, 32));
  t.controls.push_back(d::pushbutton("&Cancel", IDC_STATUS_CANCEL, 85, 78, 50, 14));
  return t;
}

DialogTemplate connect_failed() {
  DialogTemplate t = page(IDD_CONNECT_FAILED, "Connection Failed");
  const char* lines[] = {
      "An error has occurred while connecting to Veloran Network.",
      "Check to see that your modem is turned on and a phone line is attached to it.",
      "Make sure no other application is using your modem.",
      "Click the Next button to retry the connection or click Cancel to abort.",
  };
  int y = 48;
  for (const char* line : lines) {
    t.controls.push_back(d::ltext(line, IDC_STATIC, kLeft, y, kWidth, 16));
    y += 24;
  }
  frame(t);
  return t;
}

DialogTemplate account_created() {
  DialogTemplate t = page(IDD_ACCOUNT_CREATED, "Registration Complete");
  t.controls.push_back(d::ltext("", IDC_CREATED_TEXT, kLeft, 40, kWidth, 40));
  t.controls.push_back(d::ltext("Finally, for future reference, we recommend that you record this important "
                                "account information:",
                                IDC_STATIC, kLeft, 88, kWidth, 16));
  t.controls.push_back(d::ltext("User ID:", IDC_STATIC, kLeft, 114, 60, 8));
  t.controls.push_back(d::edit(IDC_CREATED_USERID, 146, 112, 100, 12, ES_AUTOHSCROLL | ES_READONLY));
  t.controls.push_back(d::ltext("Password:", IDC_STATIC, kLeft, 130, 60, 8));
  t.controls.push_back(d::edit(IDC_CREATED_PASSWORD, 146, 128, 100, 12, ES_AUTOHSCROLL | ES_READONLY));
  t.controls.push_back(d::ltext("", IDC_CREATED_SUPPORT, kLeft, 152, kWidth, 24));
  t.controls.push_back(d::ltext("", IDC_CREATED_DIALUP_NOTE, kLeft, 180, kWidth, 24).hidden());
  frame(t);
  return t;
}

}  // namespace

void register_dialing_templates() {
  register_dialog_template(dial_network());
  register_dialog_template(status());
  register_dialog_template(connect_failed());
  register_dialog_template(account_created());
}

}  // namespace wizard
