// The dialogs the registration server opens during the call: the billing
// page ("Credit Card Information", 101), the pricing plan list (103), the
// one-line input prompt (106) and the access number list (121), and
// CSessionPrompts, which runs them for the session (session_host.h).
//
// Each dialog only shows, checks and stores; the session decides when it is
// shown and what the server is answered. All run modally.
//
// Index: dialog and control ids, LuhnValid, LeadingNumber, CBillingDialog,
// CPricePlanDialog, CUserInputDialog, CAccessNumberDialog, CSessionPrompts,
// register_prompt_templates.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "session/access_numbers.h"
#include "session/session_host.h"
#include "wizard/base_dialog.h"

namespace wizard {

enum : int {
  IDD_BILLING = 101,
  IDD_PRICE_PLAN = 103,
  IDD_USER_INPUT = 106,
  IDD_ACCESS_NUMBER = 121,
};

enum : int {
  IDC_CC_CREDIT = 3006,
  IDC_CC_CASH = 3007,
  IDC_CC_TYPE = 3008,
  IDC_CC_NUMBER = 3009,
  IDC_CC_MONTH = 3010,
  IDC_CC_YEAR = 3011,
  IDC_PLAN_LIST = 3005,
  IDC_PLAN_DESCRIPTION = 3031,
  IDC_INPUT_EDIT = 3022,
  IDC_INPUT_PROMPT = 2024,
  IDC_ACCESS_LIST = 3000,
};

inline constexpr const char* kCardInvalidText = "Your credit card number is invalid";
inline constexpr const char* kMonthRangeText = "Please enter month less than 13 and greater than 0 please";

// The Luhn (mod 10) rule: every second digit from the right, starting with
// the second, is doubled and its decimal digits added. A number holding any
// character but a digit fails.
bool LuhnValid(std::string_view number);

// The value of the leading decimal digits of `text`, 0 when there are none
// (large values stop growing at 1000000).
long LeadingNumber(std::string_view text);

class CBillingDialog final : public CBaseDialog {
 public:
  // Modal use by the session: no parent.
  explicit CBillingDialog(RegistrationProfile* profile);
  bool Validate() override;
  bool TransferData(bool save) override;
  int help_context() const override { return 9; }
  std::string title() const override { return "Credit Card Information"; }

 protected:
  bool on_init_dialog() override;
  void on_show(bool shown) override;
  void ExchangeFields(platform::DataExchange& dx) override;

 private:
  void GetFromProfile();
  void EnableFields();
  std::string number_, type_, month_, year_;
  bool credit_ = true;
};

class CPricePlanDialog final : public CBaseDialog {
 public:
  // `chosen` receives the 1-based plan on OK (0 when none was selected).
  CPricePlanDialog(int* chosen, RegistrationProfile* profile);
  // Before the dialog runs. The names are read when it opens; the
  // descriptions are copied.
  void SetPlans(const std::vector<std::string>* names, std::vector<std::string> descriptions);
  int help_context() const override { return 27; }
  std::string title() const override { return "Pricing Plan Information"; }

 protected:
  bool on_init_dialog() override;
  void on_show(bool shown) override;
  bool on_command(int id, int code, platform::HWND control) override;
  void on_ok() override;

 private:
  void ShowSelection();
  int* chosen_;
  const std::vector<std::string>* names_ = nullptr;
  std::vector<std::string> descriptions_;
};

// "User input": a plain dialog (no page frame, no title, no help).
class CUserInputDialog final : public platform::Dialog {
 public:
  explicit CUserInputDialog(platform::HWND owner);
  void SetPrompt(std::string_view text) { prompt_ = text; }
  // A prompt about the "user ID" takes 8 characters for a new account, 27
  // for an existing one.
  void SetNewAccount(bool new_account) { new_account_ = new_account; }
  int Run() { return do_modal(owner_); }
  const std::string& Answer() const { return answer_; }

 protected:
  bool on_init_dialog() override;
  void on_ok() override;

 private:
  platform::HWND owner_;
  std::string prompt_;
  std::string answer_;
  bool new_account_ = true;
};

class CAccessNumberDialog final : public CBaseDialog {
 public:
  // Copies DAYAREACODE and STATE from the profile.
  CAccessNumberDialog(RegistrationProfile* profile, platform::HWND owner);
  // Before the dialog runs: the entry lines of the plan's section.
  void SetEntries(const std::vector<std::string>* entries) { entries_ = entries; }
  int help_context() const override { return 28; }
  std::string title() const override { return "Access Number Information"; }

 protected:
  bool on_init_dialog() override;
  void on_show(bool shown) override;
  bool on_command(int id, int code, platform::HWND control) override;
  void on_ok() override;

 private:
  const std::vector<std::string>* entries_ = nullptr;
  std::vector<session::AccessListItem> items_;
  std::string area_code_, state_;
  bool shown_once_ = false;
};

// The session's prompts, run on the wizard's dialogs. `owner` gives the
// window that owns them at the moment (the status window, else the page).
class CSessionPrompts final : public session::SessionPrompts {
 public:
  using OwnerFn = std::function<platform::HWND()>;
  CSessionPrompts(RegistrationProfile* profile, OwnerFn owner)
      : profile_(profile), owner_(std::move(owner)) {}
  bool RunBilling() override;
  std::optional<int> RunPricePlan(const std::vector<std::string>& names,
                                  const std::vector<std::string>& descriptions) override;
  std::optional<std::string> RunUserInput(std::string_view text, bool new_account) override;
  bool RunAccessNumber(const std::vector<std::string>& entries) override;

 private:
  RegistrationProfile* profile_;
  OwnerFn owner_;
};

// Registers the templates of the dialogs above (idempotent).
void register_prompt_templates();

}  // namespace wizard
