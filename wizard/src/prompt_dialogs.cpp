// The server's prompts: billing page, pricing plans, user input and access
// numbers, and the session's way of running them.
#include "wizard/prompt_dialogs.h"

#include "platform/loop/log.h"
#include "platform/ui/message_box.h"
#include "platform/ui/window.h"

namespace wizard {

using namespace platform;

bool LuhnValid(std::string_view number) {
  const std::size_t n = number.size();
  int sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const char c = number[i];
    if (c < '0' || c > '9') return false;
    const int d = c - '0';
    if ((n + i) % 2 == 1) {
      sum += d;
    } else {
      const int twice = 2 * d;
      sum += twice / 10 + twice % 10;
    }
  }
  return sum % 10 == 0;
}

long LeadingNumber(std::string_view text) {
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    if (value < 1000000) value = value * 10 + (c - '0');
  }
  return value;
}

// ---- CBillingDialog ----------------------------------------------------------

CBillingDialog::CBillingDialog(RegistrationProfile* profile) : CBaseDialog(IDD_BILLING, profile, 0) {}

void CBillingDialog::GetFromProfile() {
  const RegistrationProfile* p = profile();
  number_ = p ? p->value_or_empty("CCNUM") : "";
  type_ = p ? p->value_or_empty("CCTYPE") : "";
  month_ = p ? p->value_or_empty("CCMONTH") : "";
  year_ = p ? p->value_or_empty("CCYEAR") : "";
  credit_ = !p || p->value_or_empty("PAYMETHOD") != "CASH";
}

void CBillingDialog::EnableFields() {
  for (int id : {IDC_CC_TYPE, IDC_CC_NUMBER, IDC_CC_MONTH, IDC_CC_YEAR}) enable_item(id, credit_);
}

bool CBillingDialog::on_init_dialog() {
  if (Edit* e = edit(IDC_CC_MONTH)) e->set_limit(2);
  if (Edit* e = edit(IDC_CC_YEAR)) e->set_limit(4);
  GetFromProfile();
  const bool r = CBaseDialog::on_init_dialog();  // fills the controls
  EnableFields();
  return r;
}

void CBillingDialog::on_show(bool shown) {
  CBaseDialog::on_show(shown);
  if (shown) centre_window(hwnd());
}

void CBillingDialog::ExchangeFields(DataExchange& dx) {
  // Loading selects the first type that starts with CCTYPE (an empty one:
  // the first, "Visa").
  dx.list_string(IDC_CC_TYPE, type_);
  dx.text(IDC_CC_NUMBER, number_);
  dx.text(IDC_CC_MONTH, month_, 2);
  dx.text(IDC_CC_YEAR, year_, 4);
}

bool CBillingDialog::Validate() {
  if (!CheckRequired("You must enter a valid credit card number.", IDC_CC_NUMBER)) return false;
  if (!CheckMaxLength("Please enter no more than %d characters for your credit card number.", IDC_CC_NUMBER, 19))
    return false;
  if (!LuhnValid(item_text(IDC_CC_NUMBER))) {
    ShowEntryError(kCardInvalidText, IDC_CC_NUMBER);
    return false;
  }
  if (!CheckRequired("You must enter the expiration month.", IDC_CC_MONTH)) return false;
  const long month = LeadingNumber(item_text(IDC_CC_MONTH));
  if (month < 1 || month > 12) {
    app_message_box(kMonthRangeText);
    // The month is what to correct next: typed digits replace it.
    goto_control(IDC_CC_MONTH);
    return false;
  }
  if (!CheckMaxLength("Please enter no more than %d characters for the expiration month.", IDC_CC_MONTH, 2))
    return false;
  if (!CheckRequired("You must enter the expiration year.", IDC_CC_YEAR)) return false;
  if (!CheckMaxLength("Please enter no more than %d characters for the expiration year.", IDC_CC_YEAR, 4))
    return false;
  return true;
}

bool CBillingDialog::TransferData(bool save) {
  if (!save) {
    GetFromProfile();
    const bool r = update_data(false);
    EnableFields();
    return r;
  }
  if (!update_data(true)) return false;
  RegistrationProfile* p = profile();
  if (p == nullptr) return true;
  // CCNUM lives for the run only: the top level removes it before saving.
  p->Set("CCNUM", number_);
  p->Set("CCTYPE", type_);
  p->Set("CCMONTH", month_);
  p->Set("CCYEAR", year_);
  p->Set("PAYMETHOD", credit_ ? "CREDIT" : "CASH");
  return true;
}

// ---- CPricePlanDialog --------------------------------------------------------

CPricePlanDialog::CPricePlanDialog(int* chosen, RegistrationProfile* profile)
    : CBaseDialog(IDD_PRICE_PLAN, profile, 0), chosen_(chosen) {}

void CPricePlanDialog::SetPlans(const std::vector<std::string>* names, std::vector<std::string> descriptions) {
  names_ = names;
  descriptions_ = std::move(descriptions);
}

bool CPricePlanDialog::on_init_dialog() {
  const bool r = CBaseDialog::on_init_dialog();
  if (ListBox* l = list(IDC_PLAN_LIST); l && names_) {
    for (const std::string& name : *names_) l->add_string(name);
  }
  enable_item(IDOK, false);
  if (ListBox* l = list(IDC_PLAN_LIST); l && l->count() > 0) l->set_cur_sel(0);
  // Unlike the original, which kept OK disabled until the selection
  // changed, the preselected first plan can be taken at once (Enter): it is
  // selected and its description shown, so nothing is unclear to the user.
  ShowSelection();
  return r;
}

void CPricePlanDialog::on_show(bool shown) {
  CBaseDialog::on_show(shown);
  if (shown) centre_window(hwnd());
}

// OK only for a selected plan that has a description at its position; an
// empty one ("INFO:" with an empty last field) is a description too, so a
// server that sends such plans still lets the user choose them.
void CPricePlanDialog::ShowSelection() {
  ListBox* l = list(IDC_PLAN_LIST);
  const int sel = l ? l->cur_sel() : -1;
  if (sel >= 0 && static_cast<std::size_t>(sel) < descriptions_.size()) {
    set_item_text(IDC_PLAN_DESCRIPTION, descriptions_[static_cast<std::size_t>(sel)]);
    enable_item(IDOK, true);
  } else {
    enable_item(IDOK, false);
  }
}

bool CPricePlanDialog::on_command(int id, int code, HWND control) {
  if (id == IDC_PLAN_LIST) {
    if (code == LBN_SELCHANGE) ShowSelection();
    return true;  // a double click does nothing
  }
  return CBaseDialog::on_command(id, code, control);
}

void CPricePlanDialog::on_ok() {
  ListBox* l = list(IDC_PLAN_LIST);
  if (chosen_) *chosen_ = (l ? l->cur_sel() : -1) + 1;
  end_dialog(IDOK);
}

// ---- CUserInputDialog --------------------------------------------------------

CUserInputDialog::CUserInputDialog(HWND owner) : Dialog(IDD_USER_INPUT), owner_(owner) {}

bool CUserInputDialog::on_init_dialog() {
  Dialog::on_init_dialog();
  set_item_text(IDC_INPUT_PROMPT, prompt_);
  if (prompt_.find("user ID") != std::string::npos) {
    if (Edit* e = edit(IDC_INPUT_EDIT)) e->set_limit(new_account_ ? 8 : 27);
  }
  goto_control(IDC_INPUT_EDIT);
  return false;
}

void CUserInputDialog::on_ok() {
  answer_ = item_text(IDC_INPUT_EDIT);
  end_dialog(IDOK);
}

// ---- CAccessNumberDialog -----------------------------------------------------

CAccessNumberDialog::CAccessNumberDialog(RegistrationProfile* profile, HWND owner)
    : CBaseDialog(IDD_ACCESS_NUMBER, profile, owner) {
  if (profile) {
    area_code_ = profile->value_or_empty("DAYAREACODE");
    state_ = profile->value_or_empty("STATE");
  }
}

bool CAccessNumberDialog::on_init_dialog() {
  const bool r = CBaseDialog::on_init_dialog();
  items_ = entries_ ? session::AccessListItems(*entries_) : std::vector<session::AccessListItem>{};
  if (ListBox* l = list(IDC_ACCESS_LIST)) {
    for (const auto& item : items_) l->insert_string(-1, item.text);
  }
  enable_item(IDOK, false);
  return r;
}

void CAccessNumberDialog::on_show(bool shown) {
  CBaseDialog::on_show(shown);
  if (!shown || shown_once_) return;
  shown_once_ = true;
  if (ListBox* l = list(IDC_ACCESS_LIST)) {
    const int found = l->select_string(-1, session::PreselectionPrefix(state_, area_code_));
    if (found != LB_ERR) {
      l->set_top_index(found);
      enable_item(IDOK, true);
    }
  }
  centre_window(hwnd());
}

bool CAccessNumberDialog::on_command(int id, int code, HWND control) {
  if (id == IDC_ACCESS_LIST) {
    ListBox* l = list(IDC_ACCESS_LIST);
    if (code == LBN_SELCHANGE) enable_item(IDOK, l && l->cur_sel() >= 0);
    if (code == LBN_DBLCLK) on_ok();
    return true;
  }
  return CBaseDialog::on_command(id, code, control);
}

void CAccessNumberDialog::on_ok() {
  ListBox* l = list(IDC_ACCESS_LIST);
  const int sel = l ? l->cur_sel() : -1;
  if (sel >= 0 && static_cast<std::size_t>(sel) < items_.size() && profile()) {
    const session::AccessEntry& e = items_[static_cast<std::size_t>(sel)].entry;
    profile()->Set("POPAREACODE", e.area_code);
    profile()->Set("POPNUMBER", e.number);
  }
  end_dialog(IDOK);
}

// ---- CSessionPrompts ---------------------------------------------------------

bool CSessionPrompts::RunBilling() {
  CBillingDialog dialog(profile_);
  return dialog.do_modal(owner_ ? owner_() : 0) == IDC_NEXT;
}

std::optional<int> CSessionPrompts::RunPricePlan(const std::vector<std::string>& names,
                                                 const std::vector<std::string>& descriptions) {
  int chosen = 0;
  CPricePlanDialog dialog(&chosen, profile_);
  dialog.SetPlans(&names, descriptions);
  if (dialog.do_modal(owner_ ? owner_() : 0) != IDOK) return std::nullopt;
  return chosen;
}

std::optional<std::string> CSessionPrompts::RunUserInput(std::string_view text, bool new_account) {
  CUserInputDialog dialog(owner_ ? owner_() : 0);
  dialog.SetPrompt(text);
  dialog.SetNewAccount(new_account);
  if (dialog.Run() != IDOK) return std::nullopt;
  return dialog.Answer();
}

bool CSessionPrompts::RunAccessNumber(const std::vector<std::string>& entries) {
  CAccessNumberDialog dialog(profile_, owner_ ? owner_() : 0);
  dialog.SetEntries(&entries);
  return dialog.do_modal(owner_ ? owner_() : 0) == IDOK;
}

}  // namespace wizard
