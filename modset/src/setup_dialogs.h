// "Set Up Modem" with its "Advanced Modem Setup", and "Choose Phone Line
// Settings". They read and store the records only through the exports.
#pragma once

#include <string>

#include "cfg_dialog.h"
#include "modset.h"

namespace modset {

class CCfgModemDialog final : public CCfgDialog {
 public:
  // `mode` is CfgUiSetupDialog's first argument (bit value 32 shows the
  // phone-numbers button), `description` is handed to the Nsv dialog.
  CCfgModemDialog(int mode, const char* description, platform::HWND owner = 0);

  // The latest save of each record in this dialog succeeded.
  bool modem_saved() const { return modem_saved_; }
  bool dialing_saved() const { return dialing_saved_; }

 protected:
  bool on_init_dialog() override;
  void do_data_exchange(platform::DataExchange& dx) override;
  bool on_command(int id, int code, platform::HWND control) override;
  void on_ok() override;
  void on_cancel() override;

 private:
  // Sets the members from the stored records, as at construction.
  void LoadMembers(const CfgModemInfo& modem, const CfgDialingInfo& dialing);
  // Stores the controls' settings into both records; false when nothing or
  // not everything was stored (a message says so).
  bool Save();
  void OnFindModem();
  void OnAdvanced();
  void OnPhoneNumbers();
  void OnZrsNumbers();

  int port_position_ = 0;
  int speed_position_ = 0;
  int wait_for_tone_ = 0;
  std::string prefix_;
  std::string call_waiting_;
  int tone_or_pulse_ = 0;  // 0 Tone, 1 Pulse
  int speaker_ = 0;        // 0 On, 1 Silent
  int mode_ = 0;
  CfgModemInfo snapshot_modem_{};
  CfgDialingInfo snapshot_dialing_{};
  bool have_snapshot_modem_ = false;
  bool have_snapshot_dialing_ = false;
  bool modem_saved_ = false;
  bool dialing_saved_ = false;
  std::string description_;
};

class CCfgAdvancedDialog final : public CCfgDialog {
 public:
  explicit CCfgAdvancedDialog(platform::HWND owner);

 protected:
  void do_data_exchange(platform::DataExchange& dx) override;
  void on_ok() override;

 private:
  CfgModemInfo modem_{};
  bool have_modem_ = false;
  std::string setup_;
  std::string reset_;
};

class CCfgLineDialog final : public CCfgDialog {
 public:
  explicit CCfgLineDialog(platform::HWND owner);

 protected:
  void do_data_exchange(platform::DataExchange& dx) override;
  void on_ok() override;

 private:
  CfgDialingInfo dialing_{};
  bool have_dialing_ = false;
  std::string prefix_;
  std::string call_waiting_;
  int tone_or_pulse_ = 0;
};

// Copies `text` into a record field of `size` bytes: at most size - 1
// characters, the rest zeros.
void copy_field(char* field, std::size_t size, const std::string& text);
template <std::size_t N>
void copy_field(char (&field)[N], const std::string& text) {
  copy_field(field, N, text);
}

}  // namespace modset
