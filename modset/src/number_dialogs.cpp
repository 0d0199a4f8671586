#include "number_dialogs.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/ui/message_box.h"
#include "setup_dialogs.h"
#include "ui_resources.h"

namespace modset {

using namespace platform;

namespace {

constexpr std::size_t kPopCapacity = 512;
constexpr int kZrsNumberMax = sizeof(CfgZrsAccessInfo::CustomAccessNumber) - 1;  // 63
constexpr std::size_t kCustomAccessMax = sizeof(CfgNsvConfigInfo::CustomAccess) - 1;  // 39
constexpr int kOverrideEditMax = 63;
constexpr int kAreaCodeMax = 3;
constexpr int kDialedFirstMax = 22;
constexpr int kThenDialedMax = 63;

template <std::size_t N>
std::string field_text(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

bool has_digit(std::string_view text) { return text.find_first_of("0123456789") != std::string_view::npos; }

void show_invalid_number(HWND owner) {
  cfg_message_box(owner, IDS_INVALID_NUMBER, IDS_DIALING_SETTINGS, MB_ICONSTOP);
}

}  // namespace

// ---- number to dial ------------------------------------------------------------

std::string nsv_number_to_dial(std::string_view selected, std::string_view area_code, std::string_view long_distance) {
  // The first three bytes of both, a missing byte counting as a zero, as
  // the fixed fields compare.
  auto byte = [](std::string_view s, std::size_t i) { return i < s.size() ? s[i] : '\0'; };
  bool local = true;
  for (std::size_t i = 0; i < 3; ++i) local = local && byte(selected, i) == byte(area_code, i);
  std::string out;
  std::string_view rest = selected;
  if (local) {
    rest.remove_prefix(std::min<std::size_t>(3, rest.size()));
  } else {
    out.assign(long_distance);
  }
  for (char c : rest) {
    if (std::strchr("0123456789,*#;", c) != nullptr && c != '\0') out += c;
  }
  return out;
}

std::string nsv_preview_number(std::string_view selected, std::string_view area_code, std::string_view long_distance) {
  const std::size_t first = selected.find_first_of("0123456789");
  if (first == std::string_view::npos) return {};
  std::size_t digits = 0;
  while (digits < area_code.size() && digits < 3 && area_code[digits] >= '0' && area_code[digits] <= '9') ++digits;
  const std::string_view area = area_code.substr(0, digits);
  const std::string_view three = selected.substr(first, 3);
  std::string prefix;
  std::size_t start = first;
  if (three != area) {
    prefix.assign(long_distance);
  } else {
    start = first + 3;
  }
  std::string_view number = start < selected.size() ? selected.substr(start) : std::string_view();
  const std::size_t cut = number.find_first_not_of("0123456789()-,*#; ");
  if (cut != std::string_view::npos) number = number.substr(0, cut);
  return prefix + std::string(number);
}

std::int32_t get_nsv_access_number(char* number) {
  number[0] = '\0';
  CfgNsvConfigInfo config{};
  std::int32_t rc = CfgGetNsvConfigInfo(&config);
  if (rc < 0 || rc == CFG_DEFAULTS) return rc;
  std::string out;
  if (config.UseSelectedPop == 0) {
    out = field_text(config.CustomAccess);
  } else {
    const std::string selected = field_text(config.SelectedAccess);
    const std::string area = field_text(config.AreaCode);
    std::string long_distance;
    bool local = true;
    for (std::size_t i = 0; i < 3; ++i) local = local && config.SelectedAccess[i] == config.AreaCode[i];
    if (!local) {
      CfgDialingInfo dialing{};
      const std::int32_t rc2 = CfgGetDialingInfo(&dialing);
      if (rc2 >= 0) {
        long_distance = field_text(dialing.DialLongDistance);
        rc = rc2;
      }
    }
    out = nsv_number_to_dial(selected, area, long_distance);
  }
  const std::size_t n = std::min<std::size_t>(out.size(), 63);
  std::memcpy(number, out.data(), n);
  number[n] = '\0';
  return rc;
}

// ---- CCfgZrsNumberDialog -------------------------------------------------------

CCfgZrsNumberDialog::CCfgZrsNumberDialog(HWND owner) : CCfgDialog(IDD_CFG_ZRS, owner) {
  have_access_ = CfgGetZrsAccessInfo(&access_) >= 0;
  toll_free_text_ = load_string(IDS_TOLL_FREE);
  custom_text_ = field_text(access_.CustomAccessNumber);
}

bool CCfgZrsNumberDialog::on_init_dialog() {
  CCfgDialog::on_init_dialog();
  help_allowed_ = 0;
  if (ComboBox* box = combo(IDC_CFG_ZRS_NUMBER)) {
    box->set_limit(kZrsNumberMax);
    if (!toll_free_text_.empty()) {
      const int i = box->add_string(toll_free_text_);
      box->set_item_data(i, 0);
      if (access_.UseCustomAccess == 0) box->set_cur_sel(i);
    }
    if (!custom_text_.empty()) {
      const int i = box->add_string(custom_text_);
      box->set_item_data(i, 1);
      if (access_.UseCustomAccess != 0) box->set_cur_sel(i);
    }
  }
  return true;
}

void CCfgZrsNumberDialog::do_data_exchange(DataExchange& dx) {
  if (dx.saving()) dx.text(IDC_CFG_ZRS_NUMBER, number_);
}

void CCfgZrsNumberDialog::on_ok() {
  try {
    if (!update_data(true)) return;
    const ComboBox* box = combo(IDC_CFG_ZRS_NUMBER);
    if (box == nullptr) return;
    const int sel = box->cur_sel();
    const std::intptr_t value = sel >= 0 ? box->item_data(sel) : -1;
    std::int32_t use_custom = 1;
    std::string number;
    if (value == 0) {
      use_custom = 0;
    } else if (value == 1) {
      number = box->item_text(sel);
    } else {
      number = number_;
    }
    if (use_custom == 1 && (!has_digit(number) || number.size() > static_cast<std::size_t>(kZrsNumberMax))) {
      show_invalid_number(hwnd());
      return;
    }
    if (!have_access_) have_access_ = CfgGetZrsAccessInfo(&access_) >= 0;
    std::int32_t rc = CFG_E_WRITE;
    if (have_access_) {
      access_.UseCustomAccess = use_custom;
      if (use_custom == 1) copy_field(access_.CustomAccessNumber, number);
      rc = CfgPutZrsAccessInfo(&access_);
    }
    if (rc < 0) {
      cfg_message_box(hwnd(), IDS_SAVE_PROBLEM, IDS_DIALING_SETTINGS, MB_ICONSTOP);
      return;
    }
    end_dialog(IDOK);
  } catch (const std::bad_alloc&) {
    message_beep();
  }
}

// ---- CCfgNsvNumberDialog -------------------------------------------------------

CCfgNsvNumberDialog::CCfgNsvNumberDialog(const char* description, HWND owner) : CCfgDialog(IDD_CFG_NSV, owner) {
  description_ = description ? description : load_string(IDS_NSV_DESCRIPTION);
}

bool CCfgNsvNumberDialog::on_init_dialog() {
  // The POP array lives from here to the end of initialisation.
  std::unique_ptr<CfgNsvPopEntry[]> pops(new (std::nothrow) CfgNsvPopEntry[kPopCapacity]);
  config_.PopList.count = pops ? static_cast<std::int32_t>(kPopCapacity) : 0;
  config_.PopList.entries = pops.get();
  have_config_ = CfgGetNsvConfigInfo(&config_) >= 0;
  if (!have_config_) config_.PopList.count = 0;
  CfgDialingInfo dialing{};
  if (CfgGetDialingInfo(&dialing) >= 0) long_distance_ = field_text(dialing.DialLongDistance);
  area_code_ = field_text(config_.AreaCode);
  override_number_ = field_text(config_.CustomAccess);
  override_ = config_.UseSelectedPop == 0 ? BST_CHECKED : BST_UNCHECKED;
  dialed_first_ = field_text(dialing.DisableCallWaiting) + field_text(dialing.DialPrefix);
  then_dialed_.clear();

  updating_ = true;
  CCfgDialog::on_init_dialog();
  if (ComboBox* box = combo(IDC_CFG_ACCESS_LIST)) {
    const int count = std::max<std::int32_t>(0, std::min<std::int32_t>(config_.PopList.count, kPopCapacity));
    for (int i = 0; i < count; ++i) {
      if (box->add_string(field_text(pops[static_cast<std::size_t>(i)].AccessNumber)) < 0) break;
    }
    std::string wanted = field_text(config_.SelectedAccess);
    if (wanted.empty() && count > 0) wanted = field_text(pops[0].AccessNumber);
    // The first item that begins with the stored number (exact bytes).
    for (int i = 0; i < box->count() && !wanted.empty(); ++i) {
      if (box->item_text(i).compare(0, wanted.size(), wanted) == 0) {
        box->set_cur_sel(i);
        break;
      }
    }
  }
  config_.PopList.count = 0;
  config_.PopList.entries = nullptr;
  pops.reset();
  updating_ = false;
  UpdatePreview();
  return true;
}

void CCfgNsvNumberDialog::do_data_exchange(DataExchange& dx) {
  dx.text(IDC_CFG_DESCRIPTION, description_);
  dx.text(IDC_CFG_AREA_CODE, area_code_, kAreaCodeMax);
  dx.check(IDC_CFG_OVERRIDE, override_);
  dx.text(IDC_CFG_OVERRIDE_NUMBER, override_number_, kOverrideEditMax);
  dx.text(IDC_CFG_DIALED_FIRST, dialed_first_, kDialedFirstMax);
  dx.text(IDC_CFG_THEN_DIALED, then_dialed_, kThenDialedMax);
}

bool CCfgNsvNumberDialog::on_command(int id, int code, HWND control) {
  const bool preview = (id == IDC_CFG_AREA_CODE && code == EN_CHANGE) ||
                       (id == IDC_CFG_OVERRIDE_NUMBER && code == EN_CHANGE) ||
                       (id == IDC_CFG_ACCESS_LIST && code == CBN_SELCHANGE) ||
                       (id == IDC_CFG_OVERRIDE && code == BN_CLICKED);
  if (preview) {
    UpdatePreview();
    return true;
  }
  return CCfgDialog::on_command(id, code, control);
}

std::string CCfgNsvNumberDialog::SelectedNumber() const {
  const ComboBox* box = combo(IDC_CFG_ACCESS_LIST);
  if (box == nullptr) return {};
  std::string text = box->cur_sel() >= 0 ? box->item_text(box->cur_sel()) : box->text();
  if (box->cur_sel() < 0 && text.size() > kCustomAccessMax) text.resize(kCustomAccessMax);
  return text;
}

void CCfgNsvNumberDialog::UpdatePreview() {
  if (updating_) return;
  updating_ = true;
  if (update_data(true)) {
    then_dialed_ = override_ == BST_CHECKED ? override_number_
                                            : nsv_preview_number(SelectedNumber(), area_code_, long_distance_);
    // Only the preview fields are moved back: setting the others again would
    // put the caret of the field being typed in back to its start.
    if (item_text(IDC_CFG_THEN_DIALED) != then_dialed_) set_item_text(IDC_CFG_THEN_DIALED, then_dialed_);
    if (item_text(IDC_CFG_DIALED_FIRST) != dialed_first_) set_item_text(IDC_CFG_DIALED_FIRST, dialed_first_);
  }
  updating_ = false;
}

void CCfgNsvNumberDialog::on_ok() {
  try {
    if (!update_data(true)) return;
    const bool use_override = override_ == BST_CHECKED;
    // The override number must fit CustomAccess whether it is used or not,
    // so that nothing the user typed is cut on the way to the file.
    if (override_number_.size() > kCustomAccessMax || (use_override && !has_digit(override_number_))) {
      show_invalid_number(hwnd());
      goto_control(IDC_CFG_OVERRIDE_NUMBER);
      return;
    }
    if (!use_override && area_code_.size() > static_cast<std::size_t>(kAreaCodeMax)) {
      show_invalid_number(hwnd());
      goto_control(IDC_CFG_AREA_CODE);
      return;
    }
    const std::string selected = SelectedNumber();
    if (!have_config_) have_config_ = CfgGetNsvConfigInfo(&config_) >= 0;
    std::int32_t rc = CFG_E_WRITE;
    if (have_config_) {
      copy_field(config_.AreaCode, area_code_);
      copy_field(config_.CustomAccess, override_number_);
      copy_field(config_.SelectedAccess, selected);
      config_.UseSelectedPop = use_override ? 0 : 1;
      config_.PopList.count = 0;  // the POP list section stays as it is
      config_.PopList.entries = nullptr;
      rc = CfgPutNsvConfigInfo(&config_);
    }
    if (rc < 0) {
      cfg_message_box(hwnd(), IDS_SAVE_PROBLEM, IDS_DIALING_SETTINGS, MB_ICONSTOP);
      return;
    }
    end_dialog(IDOK);
  } catch (const std::bad_alloc&) {
    message_beep();
  }
}

}  // namespace modset
