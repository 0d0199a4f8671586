// The library's resources: dialog templates 30101 to 30107, their control
// ids, and the string table of its messages and captions.
#pragma once

#include <string>

namespace modset {

// Dialog templates; each number is also the dialog's help topic (0x20000 + id).
enum : int {
  IDD_CFG_MODEM = 30101,     // "Set Up Modem"
  IDD_CFG_ADVANCED = 30102,  // "Advanced Modem Setup"
  IDD_CFG_SEARCH = 30103,    // "Searching for modem"
  IDD_CFG_LINE = 30104,      // "Choose Phone Line Settings"
  IDD_CFG_SELECT = 30105,    // "Select a Modem"
  IDD_CFG_ZRS = 30106,       // "Tarkel Network Phone Number"
  IDD_CFG_NSV = 30107,       // "Internet Services Access Phone Number"
  IDD_CFG_HELP = 30190,      // the help topic window
};

inline constexpr int kHelpContextBase = 0x20000;

// Controls.
enum : int {
  IDC_CFG_PORT = 107,
  IDC_CFG_SPEED = 109,
  IDC_CFG_TONE = 111,
  IDC_CFG_PULSE = 112,
  IDC_CFG_SPEAKER_ON = 114,
  IDC_CFG_SPEAKER_SILENT = 115,
  IDC_CFG_WAIT_TONE = 116,
  IDC_CFG_FIND = 117,
  IDC_CFG_ADVANCED = 118,
  IDC_CFG_PHONE_NUMBERS = 119,
  IDC_CFG_ZRS_NUMBERS = 120,
  IDC_CFG_PREFIX = 128,
  IDC_CFG_CALL_WAITING = 129,
  IDC_CFG_LINE_NOTICE = 135,
  IDC_CFG_ZRS_NUMBER = 137,
  IDC_CFG_AREA_CODE = 138,
  IDC_CFG_OVERRIDE = 139,
  IDC_CFG_OVERRIDE_NUMBER = 140,
  IDC_CFG_ACCESS_LIST = 141,
  IDC_CFG_MODEM_LIST = 143,
  IDC_CFG_DIALED_FIRST = 144,
  IDC_CFG_THEN_DIALED = 145,
  IDC_CFG_DESCRIPTION = 147,
  IDC_CFG_SETUP_STRING = 3011,
  IDC_CFG_RESET_STRING = 3013,
  IDC_CFG_STATUS = 3026,
  IDC_CFG_FRAME = 3028,
  IDC_CFG_HELP_TEXT = 3100,
};

// The search dialog's own command: the search runs when it arrives.
inline constexpr int kCmdRunSearch = 3029;

// String table.
enum : int {
  IDS_NO_MODEM = 1,
  IDS_CONFIG_ERROR = 2,
  IDS_SAVE_PROBLEM = 4,
  IDS_TOLL_FREE = 5,
  IDS_INVALID_NUMBER = 6,
  IDS_DIALING_SETTINGS = 7,
  IDS_MODEM_SETTINGS = 8,
  IDS_MODEM_DIALING_SETTINGS = 9,
  IDS_AUTO_DETECT = 10,
  IDS_NSV_DESCRIPTION = 11,
};

// The text of string `id`; empty for an unknown id.
std::string load_string(int id);

// Registers the templates once per process (later calls do nothing).
void register_cfg_templates();

// The speed list of "Set Up Modem" and its Serlink speed codes.
inline constexpr int kSpeedCount = 9;
extern const char* const kSpeedTexts[kSpeedCount];
extern const int kSpeedCodes[kSpeedCount];
// List position of a speed code: searched from the last position down to
// position 1; position 0 (2400) when none matches.
int speed_position(int code);

}  // namespace modset
