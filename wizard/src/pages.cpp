#include "wizard/pages.h"

#include <cstdio>
#include <memory>

#include "platform/loop/log.h"
#include "wizard/app.h"
#include "wizard/strings.h"

namespace wizard {

using namespace platform;

namespace {

ModemLevelFactory& modem_factory() {
  static ModemLevelFactory factory;
  return factory;
}

constexpr const char* kNewUser = "NEWUSER";

// The server checks these at log-in over a line that declares no encoding:
// only printable ASCII passes unchanged to the other end.
constexpr const char* kAsciiOnlyUserId =
    "Your User ID may use only the letters A to Z without accents, digits and the punctuation of an English "
    "keyboard.";
constexpr const char* kAsciiOnlyPassword =
    "Your password may use only the letters A to Z without accents, digits and the punctuation of an English "
    "keyboard.";
constexpr const char* kAsciiOnlyEmailId =
    "Your Email ID may use only the letters A to Z without accents, digits and the punctuation of an English "
    "keyboard.";

bool is_existing(const RegistrationProfile* p) { return p && p->value_or_empty(kNewUser) == "no"; }

// Get into `out` when the key exists (callers start from empty strings).
void get(const RegistrationProfile* p, const char* key, std::string& out) {
  if (p) p->Get(key, out);
}

}  // namespace

void set_modem_level_factory(ModemLevelFactory factory) { modem_factory() = std::move(factory); }

// ---- CWelcomeDialog ----------------------------------------------------------

CWelcomeDialog::CWelcomeDialog(bool cash)
    : CMasterDialog(IDD_WELCOME, &profile_, 0, 1, 5), client_code_(load_string(IDS_CLIENT_CODE)) {
  profile_.SetDefaults(default_profile_keys());
  profile_.Load(wizard_paths().profile);
  profile_.Set("CLIENTCODE", client_code_);
  if (cash) profile_.Set("PAYMETHOD", "CASH");
}

bool CWelcomeDialog::on_init_dialog() {
  CMasterDialog::on_init_dialog();
  check_radio(IDC_NEW_ACCOUNT, IDC_EXISTING_ACCOUNT, IDC_NEW_ACCOUNT);
  goto_control(IDC_NEW_ACCOUNT);
  return false;
}

CBaseDialog* CWelcomeDialog::CreatePage(int& number) {
  if (number < 1) number = 1;
  RegistrationProfile* p = &profile_;
  switch (number) {
    case 1: return new_window<CTermsDialog>(p, hwnd());
    case 2: return new_window<CIntroDialog>(p, hwnd());
    case 3: return new_window<CPersonalDialog>(p, hwnd());
    case 4: return new_window<CAccountDialog>(p, hwnd());
    case 5: return modem_factory() ? modem_factory()(p, hwnd()) : nullptr;
    default: return nullptr;
  }
}

void CWelcomeDialog::OnNext() {
  if (client_code_.ends_with('U')) client_code_.pop_back();
  if (client_code_.ends_with('R')) client_code_.pop_back();
  char letter = 0;
  if (is_checked(IDC_NEW_ACCOUNT) == BST_CHECKED) {
    profile_.Set(kNewUser, "yes");
    letter = 'U';
  } else if (is_checked(IDC_EXISTING_ACCOUNT) == BST_CHECKED) {
    profile_.Set(kNewUser, "no");
    letter = 'R';
  } else {
    app_message_box("Please select one of the radio buttons first");
    return;
  }
  client_code_ += letter;
  profile_.Set("CLIENTCODE", client_code_);
  log_info("wizard", "client code " + client_code_);
  TransferData(true);
  set_current_number(0);
  Navigate(true);
}

void CWelcomeDialog::on_cancel() {
  TransferData(true);
  profile_.Remove("CLIENTCODE");
  profile_.Remove("CCNUM");
  std::string why;
  if (!profile_.Save(wizard_paths().profile, &why)) {
    // What the server registered would be lost without a word: the user is
    // told, and the run ends with its own exit code.
    log_error("wizard", "the profile could not be saved to " + wizard_paths().profile.string() + ": " + why);
    const std::string file = wizard_paths().profile.string();
    const std::string reason = why.find(file) != std::string::npos ? why : file + ": " + why;
    app_message_box(std::string(kProfileNotSavedText) + "\n\n" + reason);
    exit_code_ = kExitProfileNotSaved;
  }
  destroy_window(hwnd());
}

LRESULT CWelcomeDialog::window_proc(const Message& msg) {
  const LRESULT r = CMasterDialog::window_proc(msg);
  if (msg.message == WM_DESTROY) post_quit_message(exit_code_);
  return r;
}

// ---- CTermsDialog ------------------------------------------------------------

CTermsDialog::CTermsDialog(RegistrationProfile* profile, HWND parent) : CBaseDialog(IDD_TERMS, profile, parent) {}

std::string CTermsDialog::load_terms(const std::filesystem::path& file) {
  std::FILE* f = std::fopen(file.c_str(), "r");
  if (f == nullptr) return {};
  std::string text;
  char line[1024];
  while (std::fgets(line, sizeof line, f) != nullptr) {
    std::string s(line);
    if (s.empty()) break;
    if (s.back() == '\n') s.pop_back();
    if (!s.empty() && s.back() == '\r') s.pop_back();
    text += s + "\r\n";
  }
  std::fclose(f);
  return text;
}

bool CTermsDialog::on_init_dialog() {
  AttachMaskButtons();
  terms_ = load_terms(wizard_paths().program_dir / "vlrterms.txt");
  TransferData(false);
  return true;
}

void CTermsDialog::ExchangeFields(DataExchange& dx) { dx.text(IDC_TERMS_TEXT, terms_); }

// ---- CIntroDialog ------------------------------------------------------------

CIntroDialog::CIntroDialog(RegistrationProfile* profile, HWND parent) : CBaseDialog(IDD_INTRO, profile, parent) {}

bool CIntroDialog::existing() const { return is_existing(profile()); }

int CIntroDialog::help_context() const { return existing() ? 24 : 2; }

std::string CIntroDialog::title() const {
  return existing() ? "Setting Up an Existing Account" : "Setting Up a New Account";
}

bool CIntroDialog::on_init_dialog() {
  CBaseDialog::on_init_dialog();
  if (existing()) {
    set_item_text(IDC_INTRO_HEADING,
                  "To Set up an Existing Account with the Veloran Network you will need to provide.");
    show_item(IDC_INTRO_BILLING, false);
  }
  goto_control(IDC_NEXT);
  return false;
}

// ---- CPersonalDialog ---------------------------------------------------------

CPersonalDialog::CPersonalDialog(RegistrationProfile* profile, HWND parent)
    : CBaseDialog(IDD_PERSONAL, profile, parent) {}

void CPersonalDialog::GetFromProfile() {
  const RegistrationProfile* p = profile();
  get(p, "FIRSTNAME", first_);
  get(p, "LASTNAME", last_);
  get(p, "COMPANY", company_);
  get(p, "ADDR1", addr1_);
  get(p, "ADDR2", addr2_);
  get(p, "CITY", city_);
  get(p, "STATE", state_);
  get(p, "ZIP", zip_);
  get(p, "DAYAREACODE", area_);
  get(p, "DAYPHONE", phone_);
  get(p, "EVEPHONE", evephone_);
}

bool CPersonalDialog::on_init_dialog() {
  GetFromProfile();
  get(profile(), "ADDR4", addr4_);  // carried only: no field shows it
  const bool r = CBaseDialog::on_init_dialog();
  show_item(IDC_EVEPHONE, false);
  return r;
}

void CPersonalDialog::ExchangeFields(DataExchange& dx) {
  dx.text(IDC_FIRSTNAME, first_, 20);
  dx.text(IDC_LASTNAME, last_, 20);
  dx.text(IDC_COMPANY, company_);
  dx.text(IDC_ADDR1, addr1_);
  dx.text(IDC_ADDR2, addr2_);
  dx.text(IDC_CITY, city_);
  dx.text(IDC_STATE, state_, 2);
  dx.text(IDC_ZIP, zip_, 9);
  dx.text(IDC_DAYAREACODE, area_, 3);
  dx.text(IDC_DAYPHONE, phone_, 8);
  dx.text(IDC_EVEPHONE, evephone_, 18);
}

bool CPersonalDialog::Validate() {
  return CheckRequired("You must enter your first name.", IDC_FIRSTNAME) &&
         CheckRequired("You must enter your last name.", IDC_LASTNAME) &&
         CheckRequired("You must enter your street address.", IDC_ADDR1) &&
         CheckRequired("You must enter your city.", IDC_CITY) &&
         CheckRequired("You must enter your state.", IDC_STATE) &&
         CheckRequired("You must enter your zip code.", IDC_ZIP) &&
         CheckRequired("You must enter your daytime phone number.", IDC_DAYPHONE) &&
         CheckRequired("You must provide your area code.", IDC_DAYAREACODE);
}

bool CPersonalDialog::TransferData(bool save) {
  if (!save) {
    GetFromProfile();
    return update_data(false);
  }
  if (!update_data(true)) return false;
  RegistrationProfile* p = profile();
  p->Set("FIRSTNAME", first_);
  p->Set("LASTNAME", last_);
  p->Set("COMPANY", company_);
  p->Set("ADDR1", addr1_);
  p->Set("ADDR2", addr2_);
  p->Set("CITY", city_);
  p->Set("STATE", state_);
  p->Set("ZIP", zip_);
  phone_ = digits_only(phone_);
  p->Set("DAYPHONE", phone_);
  p->Set("DAYAREACODE", area_);
  p->Set("EVEPHONE", digits_only(evephone_));
  return true;
}

// ---- CAccountDialog ----------------------------------------------------------

CAccountDialog::CAccountDialog(RegistrationProfile* profile, HWND parent) : CBaseDialog(IDD_ACCOUNT, profile, parent) {}

bool CAccountDialog::existing() const { return is_existing(profile()); }

bool CAccountDialog::on_init_dialog() {
  get(profile(), "USERID", userid_);
  get(profile(), "EMAILID", email_);
  password_.clear();
  password2_.clear();
  if (existing()) {
    show_item(IDC_ACCOUNT_RULES, false);
    set_item_text(IDC_ACCOUNT_TEXT, "Please enter your UserID and Password for Veloran Network.");
  } else {
    show_item(IDC_EMAIL_TEXT, false);
    show_item(IDC_EMAIL_LABEL, false);
    show_item(IDC_EMAILID, false);
  }
  const bool r = CBaseDialog::on_init_dialog();
  // The exchange's maximum (27) would otherwise stay on the user ID field.
  if (Edit* e = edit(IDC_USERID)) e->set_limit(existing() ? 27 : 8);
  for (int id : {IDC_EMAILID, IDC_PASSWORD, IDC_PASSWORD2}) {
    if (Edit* e = edit(id)) e->set_limit(8);
  }
  return r;
}

void CAccountDialog::ExchangeFields(DataExchange& dx) {
  dx.text(IDC_USERID, userid_, 27);
  dx.text(IDC_EMAILID, email_, 8);
  dx.text(IDC_PASSWORD, password_, 8);
  dx.text(IDC_PASSWORD2, password2_, 8);
}

bool CAccountDialog::Validate() {
  const bool old = existing();
  if (!CheckLengthRange("Please enter between %d and %d characters for your User ID.", IDC_USERID, old ? 1 : 5,
                        old ? 27 : 8))
    return false;
  if (!CheckPrintableAscii(kAsciiOnlyUserId, IDC_USERID)) return false;
  if (!CheckLengthRange("Please enter between %d and %d characters for your password.", IDC_PASSWORD, old ? 1 : 5,
                        8))
    return false;
  if (!CheckPrintableAscii(kAsciiOnlyPassword, IDC_PASSWORD)) return false;
  if (!CheckSameText("The passwords did not match.  Please re-type them.", IDC_PASSWORD, IDC_PASSWORD2))
    return false;
  if (old && !CheckLengthRange("Please enter between %d and %d characters for your Email ID.", IDC_EMAILID, 1, 8))
    return false;
  if (old && !CheckPrintableAscii(kAsciiOnlyEmailId, IDC_EMAILID)) return false;
  return true;
}

bool CAccountDialog::TransferData(bool save) {
  if (!save) return update_data(false);
  if (!update_data(true)) return false;
  if (email_.empty()) email_ = userid_;
  RegistrationProfile* p = profile();
  p->Set("USERID", userid_);
  p->Set("PASSWORD", password_);
  p->Set("EMAILID", email_);
  return true;
}

// ---- Help window ---------------------------------------------------------------

namespace {

class CHelpTopicDialog final : public Dialog {
 public:
  explicit CHelpTopicDialog(const HelpTopic& topic) : Dialog(IDD_HELP_TOPIC), topic_(topic) {}

 protected:
  bool on_init_dialog() override {
    set_window_text(hwnd(), "Veloran Registration Help - " + topic_.title);
    set_item_text(IDC_HELP_TEXT, topic_.text);
    goto_control(IDOK);
    return false;
  }

 private:
  HelpTopic topic_;
};

}  // namespace

void show_help_window(HWND owner, const HelpTopic& topic) {
  CHelpTopicDialog dialog(topic);
  dialog.do_modal(owner);
}

}  // namespace wizard
