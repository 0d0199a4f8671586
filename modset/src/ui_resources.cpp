#include "ui_resources.h"

#include <mutex>

#include "platform/ui/dialog.h"

namespace modset {

using namespace platform;
using namespace platform::dlg;

const char* const kSpeedTexts[kSpeedCount] = {"2400",  "4800",  "9600",  "14400", "19200",
                                              "28800", "38400", "57600", "115200"};
// 28800 has code 13 of its own, not one between 19200 (7) and 38400 (8).
const int kSpeedCodes[kSpeedCount] = {2, 3, 5, 6, 7, 13, 8, 9, 10};

int speed_position(int code) {
  for (int i = kSpeedCount - 1; i >= 1; --i) {
    if (kSpeedCodes[i] == code) return i;
  }
  return 0;
}

std::string load_string(int id) {
  switch (id) {
    case IDS_NO_MODEM: return "A modem was not found.";
    case IDS_CONFIG_ERROR: return "Error configuring the modem on port %1.";
    case IDS_SAVE_PROBLEM: return "Problem saving the settings!";
    case IDS_TOLL_FREE: return "U.S. or Canada Call (toll free)";
    case IDS_INVALID_NUMBER: return "The supplied phone number is invalid.\nPlease enter a valid phone number.";
    case IDS_DIALING_SETTINGS: return "Dialing Settings";
    case IDS_MODEM_SETTINGS: return "Modem Settings";
    case IDS_MODEM_DIALING_SETTINGS: return "Modem and Dialing Settings";
    case IDS_AUTO_DETECT: return "Modem Auto-Detect";
    case IDS_NSV_DESCRIPTION:
      return "Select the phone number to use for connecting to Internet services offered through your "
             "Tarkel software.";
    default: return {};
  }
}

namespace {

const std::vector<std::string> kPrefixItems = {"9,", "8,", ""};
const std::vector<std::string> kCallWaitingItems = {"1170,", "*70,", "70#,"};

DialogTemplate make(int id, std::string caption, int cx, int cy, std::vector<ControlTemplate> controls) {
  DialogTemplate t;
  t.id = id;
  t.caption = std::move(caption);
  t.rect = {0, 0, cx, cy};
  t.controls = std::move(controls);
  return t;
}

DialogTemplate modem_dialog() {
  std::vector<std::string> speeds(kSpeedTexts, kSpeedTexts + kSpeedCount);
  return make(IDD_CFG_MODEM, "Set Up Modem", 273, 206, {
    groupbox("Modem", 121, 7, 5, 259, 74),
    ltext("Click this button to search for your modem and automatically set it up.", 124, 14, 17, 170, 18),
    pushbutton("&Find Modem...", IDC_CFG_FIND, 192, 17, 66, 14),
    ltext("&Port:", 122, 14, 42, 28, 8),
    combobox(IDC_CFG_PORT, 44, 40, 56, 60, CBS_DROPDOWNLIST, {"COM1", "COM2", "COM3", "COM4"}),
    ltext("&Speed:", 123, 108, 42, 28, 8),
    combobox(IDC_CFG_SPEED, 138, 40, 48, 90, CBS_DROPDOWNLIST, speeds),
    pushbutton("&Advanced...", IDC_CFG_ADVANCED, 192, 58, 66, 14),
    groupbox("Phone", 125, 7, 83, 259, 95),
    ltext("&Dialing Prefix:", 126, 14, 95, 104, 8),
    ltext("(to get an outside line)", IDC_STATIC, 14, 103, 104, 8),
    combobox(IDC_CFG_PREFIX, 116, 95, 40, 60, CBS_DROPDOWN | CBS_AUTOHSCROLL, kPrefixItems),
    ltext("Disable &Call Waiting:", 127, 14, 117, 104, 8),
    ltext("(if you have call waiting)", IDC_STATIC, 14, 125, 104, 8),
    combobox(IDC_CFG_CALL_WAITING, 116, 117, 40, 60, CBS_DROPDOWN | CBS_AUTOHSCROLL, kCallWaitingItems),
    groupbox("", 133, 160, 92, 100, 26).hidden(),
    ltext("Dial Type:", 110, 164, 95, 60, 8),
    radio("&Tone", IDC_CFG_TONE, 164, 105, 40, 10).group(),
    radio("P&ulse", IDC_CFG_PULSE, 210, 105, 44, 10),
    groupbox("", 134, 160, 116, 100, 26).hidden(),
    ltext("Modem Speaker:", 113, 164, 119, 60, 8),
    radio("&On", IDC_CFG_SPEAKER_ON, 164, 129, 40, 10).group(),
    radio("S&ilent", IDC_CFG_SPEAKER_SILENT, 210, 129, 44, 10),
    checkbox("&Wait for dial tone before dialing.", IDC_CFG_WAIT_TONE, 14, 142, 170, 10).group(),
    pushbutton("P&hone Numbers...", IDC_CFG_PHONE_NUMBERS, 14, 158, 80, 14).hidden().disabled(),
    pushbutton("ZRS Phone &Numbers...", IDC_CFG_ZRS_NUMBERS, 100, 158, 90, 14).hidden(),
    defpushbutton("OK", IDOK, 104, 185, 50, 14),
    pushbutton("Cancel", IDCANCEL, 160, 185, 50, 14),
    pushbutton("Help", ID_HELP, 216, 185, 50, 14),
  });
}

DialogTemplate advanced_dialog() {
  return make(IDD_CFG_ADVANCED, "Advanced Modem Setup", 203, 113, {
    groupbox("", 3025, 7, 5, 189, 80),
    ltext("It's not necessary to change these settings unless you have trouble connecting.", IDC_STATIC, 14, 15,
          175, 18),
    ltext("&Reset String:", IDC_STATIC, 14, 42, 88, 8),
    edit(IDC_CFG_RESET_STRING, 104, 40, 84, 12),
    ltext("&Initialization String:", IDC_STATIC, 14, 64, 88, 8),
    edit(IDC_CFG_SETUP_STRING, 104, 62, 84, 12),
    defpushbutton("OK", IDOK, 34, 92, 50, 14),
    pushbutton("Cancel", IDCANCEL, 90, 92, 50, 14),
    pushbutton("Help", ID_HELP, 146, 92, 50, 14),
  });
}

DialogTemplate search_dialog() {
  return make(IDD_CFG_SEARCH, "Searching for modem", 201, 98, {
    groupbox("", IDC_CFG_FRAME, 7, 5, 187, 62),
    ctext("", IDC_CFG_STATUS, 14, 30, 173, 10),
    pushbutton("Cancel", IDCANCEL, 75, 76, 50, 14),
  });
}

DialogTemplate line_dialog() {
  return make(IDD_CFG_LINE, "Choose Phone Line Settings", 223, 150, {
    ltext("Your modem was found and set up.\nChoose the settings that are unique to your phone line.",
          IDC_CFG_LINE_NOTICE, 7, 7, 209, 26),
    ltext("&Dialing Prefix:", 126, 14, 36, 108, 8),
    ltext("(to get an outside line)", IDC_STATIC, 14, 44, 108, 8),
    combobox(IDC_CFG_PREFIX, 124, 36, 52, 60, CBS_DROPDOWN | CBS_AUTOHSCROLL, kPrefixItems),
    ltext("Disable &Call Waiting:", 127, 14, 60, 108, 8),
    ltext("(if you have call waiting)", IDC_STATIC, 14, 68, 108, 8),
    combobox(IDC_CFG_CALL_WAITING, 124, 60, 52, 60, CBS_DROPDOWN | CBS_AUTOHSCROLL, kCallWaitingItems),
    ltext("Dial Type:", 110, 14, 88, 60, 8),
    radio("&Tone", IDC_CFG_TONE, 14, 99, 40, 10).group(),
    radio("P&ulse", IDC_CFG_PULSE, 60, 99, 44, 10),
    defpushbutton("OK", IDOK, 110, 128, 50, 14).group(),
    pushbutton("Help", ID_HELP, 166, 128, 50, 14),
  });
}

DialogTemplate select_dialog() {
  return make(IDD_CFG_SELECT, "Select a Modem", 191, 127, {
    ltext("These modems were found:", IDC_STATIC, 7, 7, 177, 8),
    listbox(IDC_CFG_MODEM_LIST, 7, 18, 177, 58),
    ltext("Select the modem you want to use, then click OK.", IDC_STATIC, 7, 82, 177, 16),
    defpushbutton("OK", IDOK, 22, 106, 50, 14),
    pushbutton("Cancel", IDCANCEL, 78, 106, 50, 14),
    pushbutton("Help", ID_HELP, 134, 106, 50, 14),
  });
}

DialogTemplate zrs_dialog() {
  return make(IDD_CFG_ZRS, "Tarkel Network Phone Number", 147, 66, {
    ltext("Tarkel network phone number:", IDC_STATIC, 7, 7, 133, 8),
    combobox(IDC_CFG_ZRS_NUMBER, 7, 18, 133, 60, CBS_DROPDOWN | CBS_AUTOHSCROLL),
    defpushbutton("OK", IDOK, 20, 45, 50, 14),
    pushbutton("Cancel", IDCANCEL, 77, 45, 50, 14),
  });
}

DialogTemplate nsv_dialog() {
  return make(IDD_CFG_NSV, "Internet Services Access Phone Number", 271, 181, {
    ltext("", IDC_CFG_DESCRIPTION, 7, 7, 257, 24),
    groupbox("Local Access Dialing", IDC_STATIC, 7, 33, 257, 120),
    ltext("&Dialing From Area Code:", IDC_STATIC, 14, 47, 120, 8),
    edit(IDC_CFG_AREA_CODE, 150, 45, 30, 12),
    ltext("&Local Access Phone Number:", IDC_STATIC, 14, 65, 120, 8),
    combobox(IDC_CFG_ACCESS_LIST, 150, 63, 104, 90, CBS_DROPDOWNLIST),
    checkbox("&Override and Use This Number:", IDC_CFG_OVERRIDE, 14, 83, 134, 10),
    edit(IDC_CFG_OVERRIDE_NUMBER, 150, 82, 104, 12),
    ltext("This string will be dialed first:", IDC_STATIC, 14, 107, 134, 8),
    edit(IDC_CFG_DIALED_FIRST, 150, 105, 104, 12, ES_AUTOHSCROLL | ES_READONLY),
    ltext("Then this number will be dialed:", IDC_STATIC, 14, 127, 134, 8),
    edit(IDC_CFG_THEN_DIALED, 150, 125, 104, 12, ES_AUTOHSCROLL | ES_READONLY),
    defpushbutton("OK", IDOK, 102, 160, 50, 14),
    pushbutton("Cancel", IDCANCEL, 158, 160, 50, 14),
    pushbutton("Help", ID_HELP, 214, 160, 50, 14),
  });
}

DialogTemplate help_dialog() {
  return make(IDD_CFG_HELP, "Modem Settings Help", 240, 160, {
    edit(IDC_CFG_HELP_TEXT, 7, 7, 226, 124, ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL).with(WS_VSCROLL),
    defpushbutton("OK", IDOK, 95, 139, 50, 14),
  });
}

}  // namespace

void register_cfg_templates() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (auto t : {modem_dialog(), advanced_dialog(), search_dialog(), line_dialog(), select_dialog(), zrs_dialog(),
                   nsv_dialog(), help_dialog()}) {
      register_dialog_template(std::move(t));
    }
  });
}

}  // namespace modset
