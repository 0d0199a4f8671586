// The access-number dialogs: "Tarkel Network Phone Number" (the Zrs access
// record) and "Internet Services Access Phone Number" (the Nsv POP choice),
// and the number to dial that CfgGetNsvAccessInfo makes of the POP choice.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cfg_dialog.h"
#include "modset.h"

namespace modset {

class CCfgZrsNumberDialog final : public CCfgDialog {
 public:
  explicit CCfgZrsNumberDialog(platform::HWND owner = 0);

 protected:
  bool on_init_dialog() override;
  void do_data_exchange(platform::DataExchange& dx) override;
  void on_ok() override;

 private:
  CfgZrsAccessInfo access_{};
  bool have_access_ = false;
  std::string toll_free_text_;
  std::string custom_text_;
  std::string number_;
};

class CCfgNsvNumberDialog final : public CCfgDialog {
 public:
  // `description` null: the library's own text (string 11).
  CCfgNsvNumberDialog(const char* description, platform::HWND owner = 0);

 protected:
  bool on_init_dialog() override;
  void do_data_exchange(platform::DataExchange& dx) override;
  bool on_command(int id, int code, platform::HWND control) override;
  void on_ok() override;

 private:
  void UpdatePreview();
  // The selected access number, or the box's text when none is selected.
  std::string SelectedNumber() const;

  CfgNsvConfigInfo config_{};
  bool have_config_ = false;
  std::string long_distance_;
  std::string area_code_;
  int override_ = 0;
  std::string override_number_;
  std::string dialed_first_;
  std::string then_dialed_;
  std::string description_;
  bool updating_ = false;
};

// The number CfgGetNsvAccessInfo returns for a stored POP choice: local
// when the selected number starts with the area code's three bytes, else
// `long_distance` in front; only "0123456789,*#;" of the rest are kept.
std::string nsv_number_to_dial(std::string_view selected_access, std::string_view area_code,
                               std::string_view long_distance);
// The Nsv dialog's preview of "Then this number will be dialed:" for a
// selected number (the override aside).
std::string nsv_preview_number(std::string_view selected, std::string_view area_code, std::string_view long_distance);

// CfgGetNsvAccessInfo's work: `number` gets at most 63 characters.
std::int32_t get_nsv_access_number(char* number);

}  // namespace modset
