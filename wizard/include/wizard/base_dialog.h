// The wizard frame: CBaseDialog (every page) and CMasterDialog (a page that
// sequences the pages of its level).
//
// A page is modeless inside the wizard, where its buttons post the wizard
// messages to its master, or modal when the session needs an answer, where
// they end the dialog with their id. A master creates the pages of its level
// one at a time, shows each over its own position and hides itself; pages
// keep nothing between visits, only the profile does.
//
// Index: wizard messages and button ids, WizardPaths, CBaseDialog (entry
// checks, titles, help), CMasterDialog (Navigate), page templates.
#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/ui/dialog.h"
#include "platform/ui/message_box.h"
#include "wizard/help.h"
#include "wizard/mask_bm_button.h"
#include "wizard/registration_profile.h"

namespace wizard {

enum : unsigned {
  WM_WIZ_BACK = platform::WM_USER + 500,
  WM_WIZ_NEXT = platform::WM_USER + 501,
  WM_WIZ_CANCEL = platform::WM_USER + 502,
  WM_WIZ_FINISH = platform::WM_USER + 503,
  WM_WIZ_RESULT_OK = platform::WM_USER + 505,
  WM_WIZ_RESULT_FAILED = platform::WM_USER + 506,
  WM_WIZ_MODEM_CHOICE = platform::WM_USER + 507,
  WM_WIZ_SESSION_CLOSED = platform::WM_USER + 508,
};

// Button ids shared by every page.
enum : int {
  IDC_BACK = 3000,
  IDC_NEXT = 3031,
  IDC_FINISH = 3033,
  IDC_HELP = 2040,
  IDC_PICTURE_PG2 = 3034,
  IDC_GRAYLINE = 3036,
  IDC_MASK_3037 = 3037,
  IDC_MASK_3051 = 3051,
};

inline constexpr const char* kEntryErrorCaption = "Entry error";
inline constexpr int kPageWidthDlu = 300;
inline constexpr int kPageHeightDlu = 239;

// Where the wizard's files are; set once at start-up.
struct WizardPaths {
  std::filesystem::path program_dir;  // side files
  std::filesystem::path profile;      // Joinwiz.ini
};
void set_wizard_paths(WizardPaths paths);
const WizardPaths& wizard_paths();

class CBaseDialog : public platform::Dialog {
 public:
  CBaseDialog(int template_id, RegistrationProfile* profile, platform::HWND parent);
  ~CBaseDialog() override;

  // Makes the page window owned by its parent and marks it modeless.
  virtual platform::HWND CreateModeless();
  virtual void SetFinishMode(bool finish);
  // Moves data between the page and the profile; false when saving failed.
  virtual bool TransferData(bool save);
  virtual void PostToParent(unsigned message, platform::WPARAM wparam = 0, platform::LPARAM lparam = 0);
  // Page-level checks, run first in every saving exchange.
  virtual bool Validate();

  bool modal_use() const { return modal_flag_; }
  platform::HWND parent_window() const { return parent_; }
  RegistrationProfile* profile() const { return profile_; }

  // Entry checks: each reads the control's current text and, on failure,
  // shows the "Entry error" box, moves the focus there and returns false.
  bool CheckRequired(std::string_view message, int id);
  bool CheckMaxLength(std::string_view format, int id, int max);
  bool CheckLengthRange(std::string_view format, int id, int min, int max);
  bool CheckSameText(std::string_view message, int first_id, int second_id);
  // Fails when the text holds anything but printable ASCII: values the
  // server checks at log-in travel on a line that declares no encoding.
  bool CheckPrintableAscii(std::string_view message, int id);
  void ShowEntryError(std::string_view text, int id);

  // Help context of the page; 0 when it has none.
  virtual int help_context() const { return 0; }
  // Heading drawn when painted; empty for none.
  virtual std::string title() const { return {}; }
  virtual platform::Point title_position() const { return {160, 20}; }

  static platform::Font title_font() { return {"Times New Roman", 18, 800}; }

 protected:
  bool on_init_dialog() override;
  bool on_command(int id, int code, platform::HWND control) override;
  void on_ok() override;
  void on_cancel() override;
  void on_help() override;
  void do_data_exchange(platform::DataExchange& dx) override;
  void on_draw_item(platform::DrawItem& item) override;
  void on_paint(platform::DC& dc) override;
  platform::LRESULT window_proc(const platform::Message& msg) override;

  virtual void OnBack();
  virtual void OnNext();
  virtual void OnFinish();
  // The page's own member/control pairs; the base has none.
  virtual void ExchangeFields(platform::DataExchange& dx);

  void AttachMaskButtons();

 private:
  std::array<CMaskBMButton, 4> masks_;
  platform::HWND parent_;
  HelpLink help_;
  RegistrationProfile* profile_;
  bool modal_flag_ = true;
};

class CMasterDialog : public CBaseDialog {
 public:
  CMasterDialog(int template_id, RegistrationProfile* profile, platform::HWND parent, int first_page,
                int last_page);
  ~CMasterDialog() override;

  // A new page for `number` (made with platform::new_window), or nullptr to
  // skip the number. May change the number.
  virtual CBaseDialog* CreatePage(int& number);
  virtual void Navigate(bool forward);

  int current_number() const { return current_; }
  void set_current_number(int n) { current_ = n; }
  platform::HWND current_page() const { return page_; }
  int first_page() const { return first_; }

 protected:
  platform::LRESULT window_proc(const platform::Message& msg) override;
  void OnNext() override;
  // Destroys the current page, if any.
  void DeletePage();
  // WM_WIZ_CANCEL from a page: the page goes, then the master's own Cancel.
  virtual void OnPageCancel();

 private:
  int first_;
  int last_;
  int current_ = 0;
  platform::HWND page_ = 0;
};

// Registers the dialog templates of the wizard's pages (idempotent).
void register_page_templates();

}  // namespace wizard
