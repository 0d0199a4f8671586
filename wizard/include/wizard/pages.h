// The top level of the wizard: welcome (the master and owner of the profile),
// terms, introduction, personal information and account information.
#pragma once

#include <functional>
#include <string>

#include "wizard/base_dialog.h"

namespace wizard {

// Dialog template ids.
enum : int {
  IDD_PERSONAL = 102,
  IDD_WELCOME = 104,
  IDD_ACCOUNT = 105,
  IDD_INTRO = 109,
  IDD_TERMS = 2002,
  IDD_HELP_TOPIC = 2090,
};

// Control ids of the pages.
enum : int {
  IDC_NEW_ACCOUNT = 2006,
  IDC_EXISTING_ACCOUNT = 2007,
  IDC_TERMS_TEXT = 3022,
  IDC_INTRO_HEADING = 2012,
  IDC_INTRO_BILLING = 2010,
  IDC_FIRSTNAME = 3021,
  IDC_LASTNAME = 3012,
  IDC_COMPANY = 3013,
  IDC_ADDR1 = 3014,
  IDC_ADDR2 = 3015,
  IDC_CITY = 3016,
  IDC_STATE = 3017,
  IDC_ZIP = 3018,
  IDC_DAYAREACODE = 2019,
  IDC_DAYPHONE = 3019,
  IDC_EVEPHONE = 3020,
  IDC_USERID = 3002,
  IDC_PASSWORD = 3003,
  IDC_PASSWORD2 = 3004,
  IDC_EMAILID = 2029,
  IDC_ACCOUNT_TEXT = 2009,
  IDC_ACCOUNT_RULES = 2016,
  IDC_EMAIL_TEXT = 2027,
  IDC_EMAIL_LABEL = 2028,
  IDC_HELP_TEXT = 2091,
};

// The fifth top-level page ("Modem Setup", a master of its own) comes from
// the modem level, which registers its maker here. Without one, Next on the
// account page keeps that page up.
using ModemLevelFactory = std::function<CBaseDialog*(RegistrationProfile* profile, platform::HWND parent)>;
void set_modem_level_factory(ModemLevelFactory factory);

class CWelcomeDialog final : public CMasterDialog {
 public:
  // Sets the defaults, loads the profile file, sets the client code and, for
  // `cash`, the cash payment method.
  explicit CWelcomeDialog(bool cash);
  RegistrationProfile& registration_profile() { return profile_; }

  CBaseDialog* CreatePage(int& number) override;
  int help_context() const override { return 1; }
  std::string title() const override { return "Veloran Network Corporation"; }
  platform::Point title_position() const override { return {160, 5}; }

 protected:
  bool on_init_dialog() override;
  void OnNext() override;
  void on_cancel() override;
  platform::LRESULT window_proc(const platform::Message& msg) override;

 private:
  RegistrationProfile profile_;
  std::string client_code_;
  int exit_code_ = 0;  // the quit code when the window is gone
};

class CTermsDialog final : public CBaseDialog {
 public:
  CTermsDialog(RegistrationProfile* profile, platform::HWND parent);
  // Lines of the terms file joined with CR LF (lines over 1023 characters are
  // split); empty when the file cannot be read.
  static std::string load_terms(const std::filesystem::path& file);

 protected:
  bool on_init_dialog() override;
  void ExchangeFields(platform::DataExchange& dx) override;

 private:
  std::string terms_;
};

class CIntroDialog final : public CBaseDialog {
 public:
  CIntroDialog(RegistrationProfile* profile, platform::HWND parent);
  int help_context() const override;
  std::string title() const override;

 protected:
  bool on_init_dialog() override;

 private:
  bool existing() const;
};

class CPersonalDialog final : public CBaseDialog {
 public:
  CPersonalDialog(RegistrationProfile* profile, platform::HWND parent);
  bool Validate() override;
  bool TransferData(bool save) override;
  int help_context() const override { return 6; }
  std::string title() const override { return "Personal Information"; }

 protected:
  bool on_init_dialog() override;
  void ExchangeFields(platform::DataExchange& dx) override;

 private:
  void GetFromProfile();
  std::string first_, last_, company_, addr1_, addr2_, addr4_, city_, state_, zip_, area_, phone_, evephone_;
};

class CAccountDialog final : public CBaseDialog {
 public:
  CAccountDialog(RegistrationProfile* profile, platform::HWND parent);
  bool Validate() override;
  bool TransferData(bool save) override;
  int help_context() const override { return 7; }
  std::string title() const override { return "Account Information"; }

 protected:
  bool on_init_dialog() override;
  void ExchangeFields(platform::DataExchange& dx) override;

 private:
  bool existing() const;
  std::string userid_, email_, password_, password2_;
};

// Shows a help topic in a modal window owned by `owner`.
void show_help_window(platform::HWND owner, const HelpTopic& topic);

}  // namespace wizard
