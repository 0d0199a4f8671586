// Dialog templates of the modem level, on the shared page layout.
#include "platform/ui/dialog.h"
#include "wizard/modem_level.h"

#include "page_layout.h"

namespace wizard {

using namespace platform;
namespace d = platform::dlg;
using namespace layout;

namespace {

DialogTemplate modem_setup() {
  DialogTemplate t = page(IDD_MODEM_SETUP, "Modem Setup");
  t.controls.push_back(d::ltext("Modem Setup will try to detect your modem.  Please check that your modem is not in "
                                "use by another program.",
                                IDC_STATIC, kLeft, 40, kWidth, 24));
  t.controls.push_back(d::ltext("If you have an external modem, make sure it is attached to your computer and that "
                                "it is turned on.",
                                IDC_STATIC, kLeft, 72, kWidth, 24));
  t.controls.push_back(d::ltext("Click Next when you are ready to continue.", IDC_STATIC, kLeft, 104, kWidth, 8));
  t.controls.push_back(
      d::checkbox("&Don't detect my modem, let me specify it's settings.", IDC_DONT_DETECT, kLeft, 128, kWidth, 10));
  frame(t);
  return t;
}

DialogTemplate modem_detect() {
  DialogTemplate t = page(IDD_MODEM_DETECT, "Modem Detection");
  t.controls.push_back(
      d::ltext("Please wait a moment while you modem is detected....", IDC_STATIC, kLeft, 48, kWidth, 16));
  t.controls.push_back(d::ltext("Status:", IDC_STATIC, kLeft, 82, 30, 8));
  t.controls.push_back(d::edit(IDC_DETECT_STATUS, 112, 80, 180, 12, ES_AUTOHSCROLL | ES_READONLY));
  // What the library is doing now ("Looking for a modem on COM2."): a port
  // without a modem takes seconds, and the status line alone says nothing.
  t.controls.push_back(d::ltext("", IDC_DETECT_PROGRESS, 112, 98, 180, 16));
  frame(t);
  return t;
}

DialogTemplate modem_found() {
  DialogTemplate t = page(IDD_MODEM_FOUND, "Modem Found");
  t.controls.push_back(
      d::ltext("Modem Setup has detected the following modem settings:", IDC_STATIC, kLeft, 40, kWidth, 16));
  t.controls.push_back(d::ltext("Communications Port:", IDC_STATIC, kLeft, 66, 84, 8));
  t.controls.push_back(d::edit(IDC_FOUND_PORT, 168, 64, 50, 12).disabled());
  t.controls.push_back(d::ltext("Port Speed:", IDC_FOUND_SPEED_LABEL, kLeft, 82, 84, 8).hidden());
  t.controls.push_back(d::edit(IDC_FOUND_SPEED, 168, 80, 50, 12).hidden());
  t.controls.push_back(d::ltext("Note: Port Speed is the speed at which your computer interacts with your modem.  "
                                "Port Speed can be higher or lower than your modem's baud rate.",
                                IDC_FOUND_SPEED_NOTE, kLeft, 96, kWidth, 24)
                           .hidden());
  t.controls.push_back(d::ltext("Modem Init String", IDC_STATIC, kLeft, 122, kWidth, 8));
  t.controls.push_back(
      d::edit(IDC_FOUND_INIT, kLeft, 136, kWidth, 28, ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY).disabled());
  t.controls.push_back(d::checkbox("&Don't use this modem's Init String, let me specify it.", IDC_DONT_USE_INIT,
                                   kLeft, 176, kWidth, 10));
  frame(t);
  return t;
}

DialogTemplate modem_not_found() {
  DialogTemplate t = page(IDD_MODEM_NOT_FOUND, "Modem Not Found");
  t.controls.push_back(d::ltext("Modem Setup was unable to detect a modem.  Click the Next button to specify the "
                                "modem information.",
                                IDC_STATIC, kLeft, 48, kWidth, 24));
  t.controls.push_back(d::ltext("", IDC_PORT_PROBLEM, kLeft, 80, kWidth, 72).hidden());
  frame(t);
  return t;
}

DialogTemplate confirm_modem() {
  DialogTemplate t = page(IDD_CONFIRM_MODEM, "Confirm Modem Setup");
  t.controls.push_back(d::ltext("Please specify your modem settings below.  Click Next when you are ready to "
                                "continue.",
                                IDC_STATIC, kLeft, 40, kWidth, 16));
  t.controls.push_back(d::ltext("Com port:", IDC_STATIC, kLeft, 74, 60, 8));
  t.controls.push_back(d::combobox(IDC_COM_PORT_LIST, 146, 72, 60, 80, CBS_DROPDOWNLIST,
                                   {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9"}));
  t.controls.push_back(d::ltext("Modem speed:", IDC_STATIC, kLeft, 90, 60, 8));
  t.controls.push_back(d::combobox(IDC_SPEED_LIST, 146, 88, 60, 80, CBS_DROPDOWNLIST,
                                   {"300", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "57600",
                                    "115200"}));
  t.controls.push_back(d::pushbutton("Edit Init String", IDC_EDIT_INIT_BUTTON, kLeft, 112, 80, 14));
  t.controls.push_back(d::ltext("Init string:", IDC_INIT_LABEL, kLeft, 138, 60, 8).hidden());
  t.controls.push_back(d::edit(IDC_INIT_STRING, kLeft, 136, kWidth, 12).hidden());
  frame(t);
  return t;
}

DialogTemplate dialing_info() {
  DialogTemplate t = page(IDD_DIALING_INFO, "Dialing Information");
  t.controls.push_back(d::ltext("If the phone line your modem will be using has Call Waiting, you need to disable it "
                                "before using the modem.  Call Waiting will automatically resume after you "
                                "terminate your call.",
                                IDC_STATIC, kLeft, 32, kWidth, 32));
  t.controls.push_back(d::checkbox("Di&sable Call Waiting with:", IDC_CW_DISABLE, kLeft, 72, 110, 10));
  t.controls.push_back(d::combobox(IDC_CW_CODE, 196, 72, 60, 60, CBS_DROPDOWN | CBS_SORT | CBS_AUTOHSCROLL,
                                   {"*70,", "70#,", "1170,"}));
  t.controls.push_back(d::ltext("If you dial a number (such as 9) to access an outside line, Please enter it here:",
                                IDC_STATIC, kLeft, 96, 150, 24));
  t.controls.push_back(d::edit(IDC_OUTSIDE_ACCESS, 240, 104, 20, 12));
  t.controls.push_back(d::ltext("The phone system at this location uses:", IDC_STATIC, kLeft, 136, kWidth, 8));
  t.controls.push_back(d::radio("&Tone", IDC_TONE, 96, 152, 60, 10).group());
  t.controls.push_back(d::radio("&Pulse", IDC_PULSE, 160, 152, 60, 10));
  frame(t);
  return t;
}

DialogTemplate modem_select() {
  DialogTemplate t;
  t.id = IDD_MODEM_SELECT;
  t.caption = "Modem Selection";
  t.rect = {0, 0, 207, 119};
  t.style |= DS_CENTER;
  t.controls.push_back(d::ltext("More than one modem has been detected. Please select the correct port to use from "
                                "the Com Ports below.",
                                IDC_STATIC, 8, 24, 191, 24));
  t.controls.push_back(d::ltext("Com Port:", IDC_STATIC, 8, 58, 40, 8));
  t.controls.push_back(d::combobox(IDC_COM_PORT_LIST, 56, 56, 60, 60, CBS_DROPDOWNLIST));
  t.controls.push_back(d::defpushbutton("Ok", IDOK, 78, 96, 50, 14));
  return t;
}

}  // namespace

void register_modem_templates() {
  register_dialog_template(modem_setup());
  register_dialog_template(modem_detect());
  register_dialog_template(modem_found());
  register_dialog_template(modem_not_found());
  register_dialog_template(confirm_modem());
  register_dialog_template(dialing_info());
  register_dialog_template(modem_select());
}

}  // namespace wizard
