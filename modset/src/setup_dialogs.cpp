#include "setup_dialogs.h"

#include <cstring>
#include <new>

#include "number_dialogs.h"
#include "platform/loop/log.h"
#include "platform/ui/message_box.h"
#include "records.h"
#include "search_dialog.h"
#include "ui_resources.h"

namespace modset {

using namespace platform;

namespace {

constexpr std::size_t kPrefixMax = sizeof(CfgDialingInfo::DialPrefix) - 1;                // 15
constexpr std::size_t kCallWaitingMax = sizeof(CfgDialingInfo::DisableCallWaiting) - 1;  // 7
constexpr std::size_t kSetupMax = sizeof(CfgModemInfo::SetupString) - 1;                  // 63
constexpr std::size_t kResetMax = sizeof(CfgModemInfo::ResetString) - 1;                  // 15

}  // namespace

void copy_field(char* field, std::size_t size, const std::string& text) {
  std::memset(field, 0, size);
  std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

// ---- CCfgModemDialog -----------------------------------------------------------

CCfgModemDialog::CCfgModemDialog(int mode, const char* description, HWND owner)
    : CCfgDialog(IDD_CFG_MODEM, owner), mode_(mode), description_(description ? description : "") {
  have_snapshot_modem_ = CfgGetModemInfo(&snapshot_modem_) >= 0;
  have_snapshot_dialing_ = CfgGetDialingInfo(&snapshot_dialing_) >= 0;
  LoadMembers(snapshot_modem_, snapshot_dialing_);
}

void CCfgModemDialog::LoadMembers(const CfgModemInfo& modem, const CfgDialingInfo& dialing) {
  // A stored port index outside COM1..COM4 selects nothing, and a save then
  // keeps the stored port as it is.
  port_position_ = modem.CommPort >= 0 && modem.CommPort <= 3 ? modem.CommPort : -1;
  speed_position_ = speed_position(modem.BaudRate);
  speaker_ = modem.SpeakerOff != 0 ? 1 : 0;
  tone_or_pulse_ = dialing.DialType == 1 ? 0 : 1;
  wait_for_tone_ = dialing.DialBlind == 0 ? BST_CHECKED : BST_UNCHECKED;
  prefix_ = std::string(dialing.DialPrefix, strnlen(dialing.DialPrefix, sizeof dialing.DialPrefix));
  call_waiting_ =
      std::string(dialing.DisableCallWaiting, strnlen(dialing.DisableCallWaiting, sizeof dialing.DisableCallWaiting));
}

bool CCfgModemDialog::on_init_dialog() {
  const bool r = CCfgDialog::on_init_dialog();
  if (mode_ & 32) {
    enable_item(IDC_CFG_PHONE_NUMBERS, true);
    show_item(IDC_CFG_PHONE_NUMBERS, true);
  }
  return r;
}

void CCfgModemDialog::do_data_exchange(DataExchange& dx) {
  dx.list_index(IDC_CFG_PORT, port_position_);
  dx.list_index(IDC_CFG_SPEED, speed_position_);
  dx.check(IDC_CFG_WAIT_TONE, wait_for_tone_);
  dx.text(IDC_CFG_PREFIX, prefix_, static_cast<int>(kPrefixMax));
  dx.text(IDC_CFG_CALL_WAITING, call_waiting_, static_cast<int>(kCallWaitingMax));
  dx.radio(IDC_CFG_TONE, tone_or_pulse_);
  dx.radio(IDC_CFG_SPEAKER_ON, speaker_);
}

bool CCfgModemDialog::Save() {
  try {
    if (!update_data(true)) return false;
    if (prefix_.size() > kPrefixMax || call_waiting_.size() > kCallWaitingMax) return false;

    CfgModemInfo modem{};
    // A record that cannot be read is not stored over: its other fields
    // would be lost.
    modem_saved_ = false;
    if (CfgGetModemInfo(&modem) >= 0) {
      if (port_position_ >= 0 && port_position_ <= 3) {
        modem.CommPort = port_position_;
        if (strnlen(modem.PortName, sizeof modem.PortName) < 4) copy_field(modem.PortName, "COM1");
        modem.PortName[3] = static_cast<char>('1' + port_position_);
      }
      if (speed_position_ >= 0 && speed_position_ < kSpeedCount) modem.BaudRate = kSpeedCodes[speed_position_];
      modem.SpeakerOff = speaker_ == 1 ? 1 : 0;
      modem_saved_ = CfgPutModemInfo(&modem) >= 0;
    }

    CfgDialingInfo dialing{};
    dialing_saved_ = false;
    if (CfgGetDialingInfo(&dialing) >= 0) {
      dialing.DialType = tone_or_pulse_ == 1 ? 0 : 1;
      dialing.DialBlind = wait_for_tone_ == BST_CHECKED ? 0 : 1;
      copy_field(dialing.DialPrefix, prefix_);
      copy_field(dialing.DisableCallWaiting, call_waiting_);
      dialing_saved_ = CfgPutDialingInfo(&dialing) >= 0;
    }
    if (modem_saved_ && dialing_saved_) return true;
    cfg_message_box(hwnd(), IDS_SAVE_PROBLEM, IDS_MODEM_DIALING_SETTINGS, MB_ICONSTOP);
    return false;
  } catch (const std::bad_alloc&) {
    message_beep();
    return false;
  }
}

void CCfgModemDialog::on_ok() {
  if (Save()) end_dialog(IDOK);
}

void CCfgModemDialog::on_cancel() {
  // Only what this dialog stored goes back; a modem search stores its own
  // result and stays.
  if (modem_saved_ && have_snapshot_modem_) CfgPutModemInfo(&snapshot_modem_);
  if (dialing_saved_ && have_snapshot_dialing_) CfgPutDialingInfo(&snapshot_dialing_);
  end_dialog(IDCANCEL);
}

bool CCfgModemDialog::on_command(int id, int code, HWND control) {
  if (code != BN_CLICKED) return CCfgDialog::on_command(id, code, control);
  try {
    switch (id) {
      case IDC_CFG_FIND: OnFindModem(); return true;
      case IDC_CFG_ADVANCED: OnAdvanced(); return true;
      case IDC_CFG_PHONE_NUMBERS: OnPhoneNumbers(); return true;
      case IDC_CFG_ZRS_NUMBERS: OnZrsNumbers(); return true;
      default: break;
    }
  } catch (...) {
    log_error("modset", "a button of \"Set Up Modem\" failed");
    return true;
  }
  return CCfgDialog::on_command(id, code, control);
}

void CCfgModemDialog::OnFindModem() {
  if (search_running()) {
    message_beep();
    return;
  }
  CCfgSearchDialog search(false, hwnd());
  if (search.DoModal() != IDOK) return;
  update_data(true);  // keeps what the user changed
  CfgModemInfo modem{};
  if (CfgGetModemInfo(&modem) < 0) return;
  port_position_ = modem.CommPort >= 0 && modem.CommPort <= 3 ? modem.CommPort : -1;
  speed_position_ = speed_position(modem.BaudRate);
  update_data(false);
}

void CCfgModemDialog::OnAdvanced() {
  Save();
  CCfgAdvancedDialog advanced(hwnd());
  if (advanced.DoModal() != IDOK) return;
  CfgModemInfo modem{};
  CfgDialingInfo dialing{};
  if (CfgGetModemInfo(&modem) < 0 || CfgGetDialingInfo(&dialing) < 0) return;
  LoadMembers(modem, dialing);
  update_data(false);
}

void CCfgModemDialog::OnPhoneNumbers() {
  Save();
  CCfgNsvNumberDialog numbers(description_.empty() ? nullptr : description_.c_str(), hwnd());
  numbers.DoModal();
}

void CCfgModemDialog::OnZrsNumbers() {
  CCfgZrsNumberDialog numbers(hwnd());
  numbers.DoModal();
}

// ---- CCfgAdvancedDialog --------------------------------------------------------

CCfgAdvancedDialog::CCfgAdvancedDialog(HWND owner) : CCfgDialog(IDD_CFG_ADVANCED, owner) {
  have_modem_ = CfgGetModemInfo(&modem_) >= 0;
  setup_ = std::string(modem_.SetupString, strnlen(modem_.SetupString, sizeof modem_.SetupString));
  reset_ = std::string(modem_.ResetString, strnlen(modem_.ResetString, sizeof modem_.ResetString));
}

void CCfgAdvancedDialog::do_data_exchange(DataExchange& dx) {
  dx.text(IDC_CFG_RESET_STRING, reset_, static_cast<int>(kResetMax));
  dx.text(IDC_CFG_SETUP_STRING, setup_, static_cast<int>(kSetupMax));
}

void CCfgAdvancedDialog::on_ok() {
  try {
    if (!update_data(true)) return;
    if (setup_.size() > kSetupMax || reset_.size() > kResetMax) return;
    // A record that could not be read at construction is read again, so
    // its other fields are not stored over.
    if (!have_modem_) have_modem_ = CfgGetModemInfo(&modem_) >= 0;
    std::int32_t rc = CFG_E_WRITE;
    if (have_modem_) {
      copy_field(modem_.SetupString, setup_);
      copy_field(modem_.ResetString, reset_);
      CfgDialingInfo dialing{};
      if (CfgGetDialingInfo(&dialing) >= 0) {
        parse_setup_string(setup_, modem_.SpeakerOff, dialing.DialBlind);
        CfgPutDialingInfo(&dialing);
      }
      rc = CfgPutModemInfo(&modem_);
    }
    if (rc >= 0) {
      end_dialog(IDOK);
      return;
    }
    cfg_message_box(hwnd(), IDS_SAVE_PROBLEM, IDS_MODEM_SETTINGS, MB_ICONSTOP);
  } catch (const std::bad_alloc&) {
    message_beep();
  }
}

// ---- CCfgLineDialog ------------------------------------------------------------

CCfgLineDialog::CCfgLineDialog(HWND owner) : CCfgDialog(IDD_CFG_LINE, owner) {
  have_dialing_ = CfgGetDialingInfo(&dialing_) >= 0;
  tone_or_pulse_ = dialing_.DialType == 1 ? 0 : 1;
  prefix_ = std::string(dialing_.DialPrefix, strnlen(dialing_.DialPrefix, sizeof dialing_.DialPrefix));
  call_waiting_ = std::string(dialing_.DisableCallWaiting,
                              strnlen(dialing_.DisableCallWaiting, sizeof dialing_.DisableCallWaiting));
}

void CCfgLineDialog::do_data_exchange(DataExchange& dx) {
  dx.text(IDC_CFG_PREFIX, prefix_, static_cast<int>(kPrefixMax));
  dx.radio(IDC_CFG_TONE, tone_or_pulse_);
  dx.text(IDC_CFG_CALL_WAITING, call_waiting_, static_cast<int>(kCallWaitingMax));
}

void CCfgLineDialog::on_ok() {
  try {
    if (!update_data(true)) return;
    if (prefix_.size() > kPrefixMax || call_waiting_.size() > kCallWaitingMax) return;
    if (!have_dialing_) have_dialing_ = CfgGetDialingInfo(&dialing_) >= 0;
    std::int32_t rc = CFG_E_WRITE;
    if (have_dialing_) {
      dialing_.DialType = tone_or_pulse_ == 1 ? 0 : 1;
      copy_field(dialing_.DialPrefix, prefix_);
      copy_field(dialing_.DisableCallWaiting, call_waiting_);
      rc = CfgPutDialingInfo(&dialing_);
    }
    if (rc >= 0) {
      end_dialog(IDOK);
      return;
    }
    cfg_message_box(hwnd(), IDS_SAVE_PROBLEM, IDS_DIALING_SETTINGS, MB_ICONSTOP);
  } catch (const std::bad_alloc&) {
    message_beep();
  }
}

}  // namespace modset
