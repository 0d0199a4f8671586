#include "wizard/base_dialog.h"

#include "platform/ui/utf8.h"

#include <cstdio>

#include "ini_bridge.h"
#include "platform/loop/log.h"
#include "wizard/pages.h"
#include "wizard/strings.h"

namespace wizard {

using namespace platform;

namespace {

WizardPaths& paths_storage() {
  static WizardPaths paths;
  return paths;
}

// wsprintf-style formatting of the checks' "%d" texts, cut to the 1024
// characters of the original buffer.
std::string format_numbers(std::string_view format, int a, int b = 0) {
  std::string out;
  int used = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 'd') {
      out += std::to_string(used++ == 0 ? a : b);
      ++i;
    } else if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      ++i;
    } else {
      out += format[i];
    }
  }
  if (out.size() > 1023) out.resize(1023);
  return out;
}

struct MaskSlot {
  int id;
  COLORREF colour;
};
constexpr MaskSlot kMaskSlots[4] = {
    {IDC_MASK_3037, RGB(128, 128, 0)},
    {IDC_GRAYLINE, RGB(128, 128, 0)},
    {IDC_MASK_3051, RGB(128, 128, 0)},
    {IDC_PICTURE_PG2, RGB(192, 192, 192)},
};

}  // namespace

void set_wizard_paths(WizardPaths paths) { paths_storage() = std::move(paths); }
const WizardPaths& wizard_paths() { return paths_storage(); }

// ---- CBaseDialog -----------------------------------------------------------

CBaseDialog::CBaseDialog(int template_id, RegistrationProfile* profile, HWND parent)
    : Dialog(template_id), parent_(parent), help_(wizard_paths().program_dir), profile_(profile) {}

CBaseDialog::~CBaseDialog() = default;

HWND CBaseDialog::CreateModeless() {
  modal_flag_ = false;
  return create_modeless(parent_);
}

void CBaseDialog::SetFinishMode(bool finish) {
  set_default_id(finish ? IDC_FINISH : IDC_NEXT);
  if (item(IDC_FINISH)) {
    enable_item(IDC_FINISH, finish);
    show_item(IDC_FINISH, finish);
  }
  if (item(IDC_NEXT)) {
    enable_item(IDC_NEXT, !finish);
    show_item(IDC_NEXT, !finish);
  }
  // set_default_id gave the default button its style and the other the plain one.
}

bool CBaseDialog::TransferData(bool save) { return update_data(save); }

void CBaseDialog::PostToParent(unsigned message, WPARAM wparam, LPARAM lparam) {
  if (parent_ != 0) post_message(parent_, message, wparam, lparam);
}

bool CBaseDialog::Validate() { return true; }

bool CBaseDialog::CheckRequired(std::string_view message, int id) {
  if (!item_text(id).empty()) return true;
  ShowEntryError(message, id);
  return false;
}

bool CBaseDialog::CheckMaxLength(std::string_view format, int id, int max) {
  // Lengths count characters, as the edits' limits do.
  if (static_cast<int>(platform::utf8_length(item_text(id))) <= max) return true;
  ShowEntryError(format_numbers(format, max), id);
  return false;
}

bool CBaseDialog::CheckLengthRange(std::string_view format, int id, int min, int max) {
  const int n = static_cast<int>(platform::utf8_length(item_text(id)));
  if (n >= min && n <= max) return true;
  ShowEntryError(format_numbers(format, min, max), id);
  return false;
}

bool CBaseDialog::CheckPrintableAscii(std::string_view message, int id) {
  if (platform::is_printable_ascii(item_text(id))) return true;
  ShowEntryError(message, id);
  return false;
}

bool CBaseDialog::CheckSameText(std::string_view message, int first_id, int second_id) {
  if (item_text(first_id) == item_text(second_id)) return true;
  ShowEntryError(message, first_id);
  return false;
}

void CBaseDialog::ShowEntryError(std::string_view text, int id) {
  message_box(hwnd(), text, kEntryErrorCaption, MB_OK | MB_ICONEXCLAMATION);
  goto_control(id);
}

void CBaseDialog::AttachMaskButtons() {
  for (std::size_t i = 0; i < masks_.size(); ++i) {
    if (item(kMaskSlots[i].id) == 0) continue;
    masks_[i].set_mask_colour(kMaskSlots[i].colour);
    masks_[i].Attach(*this, kMaskSlots[i].id);
  }
}

bool CBaseDialog::on_init_dialog() {
  AttachMaskButtons();
  return Dialog::on_init_dialog();
}

LRESULT CBaseDialog::window_proc(const Message& msg) {
  const LRESULT result = Dialog::window_proc(msg);
  if (msg.message != WM_INITDIALOG || result == 0) return result;
  // On a page with nothing to fill in, the first tab stop is a button (Back),
  // and Enter would press it; the page's Enter goes on, so its default
  // button takes the focus instead.
  auto* first = window_cast<Button>(next_tab_item(0, false));
  if (!first || first->type() != ControlType::PushButton) return result;
  auto* default_button = window_cast<Button>(item(default_id()));
  if (!default_button || !default_button->has_visible_style() || !default_button->is_enabled()) return result;
  goto_control_handle(default_button->hwnd());
  return 0;
}

bool CBaseDialog::on_command(int id, int code, HWND control) {
  if (code != BN_CLICKED) return Dialog::on_command(id, code, control);
  switch (id) {
    case IDC_BACK:
      OnBack();
      return true;
    case IDC_NEXT:
      OnNext();
      return true;
    case IDC_FINISH:
      OnFinish();
      return true;
    case IDC_HELP:
      on_help();
      return true;
    default:
      return Dialog::on_command(id, code, control);
  }
}

void CBaseDialog::OnBack() {
  if (modal_flag_) {
    end_dialog(IDC_BACK);
  } else {
    PostToParent(WM_WIZ_BACK);
  }
}

void CBaseDialog::OnNext() {
  if (!TransferData(true)) return;
  if (modal_flag_) {
    end_dialog(IDC_NEXT);
  } else {
    PostToParent(WM_WIZ_NEXT);
  }
}

void CBaseDialog::OnFinish() {
  const auto& file = wizard_paths().profile;
  if (!ini_write(kUserInfoSection, "ACCNAME", load_string(IDS_ACCOUNT_NAME), file) ||
      !ini_write(kUserInfoSection, "REGISTERED", "YES", file)) {
    log_warn("wizard", "cannot record the registration in " + file.string());
  }
  if (!TransferData(true)) return;
  if (modal_flag_) {
    end_dialog(IDC_FINISH);
  } else {
    PostToParent(WM_WIZ_FINISH);
  }
}

void CBaseDialog::on_ok() {
  // Modeless pages ignore OK: Enter goes to the default button instead.
  if (modal_flag_) Dialog::on_ok();
}

void CBaseDialog::on_cancel() {
  if (modal_flag_) {
    end_dialog(IDCANCEL);
  } else {
    PostToParent(WM_WIZ_CANCEL);
  }
}

void CBaseDialog::on_help() {
  const int context = help_context();
  if (context == 0) return;
  HelpTopic topic;
  const HelpLookup found = help_.path().empty() ? HelpLookup::NoFile : find_help_topic(help_.path(), context, topic);
  if (found == HelpLookup::NoFile) {
    app_message_box(kNoHelpText);
    return;
  }
  if (found == HelpLookup::NoTopic) {
    app_message_box("Help topic " + std::to_string(context) + " is not in " + help_.path().string() + ".");
    return;
  }
  show_help_window(hwnd(), topic);
}

void CBaseDialog::do_data_exchange(DataExchange& dx) {
  if (dx.saving() && !Validate()) {
    dx.fail();
    return;
  }
  ExchangeFields(dx);
}

void CBaseDialog::ExchangeFields(DataExchange&) {}

void CBaseDialog::on_draw_item(DrawItem& item) {
  for (const auto& m : masks_) {
    if (m.attached() && m.id() == item.id) {
      m.Draw(item);
      return;
    }
  }
}

void CBaseDialog::on_paint(DC& dc) {
  const std::string text = title();
  if (text.empty()) return;
  const Font old = dc.select_font(title_font());
  const BkMode old_mode = dc.set_bk_mode(BkMode::Transparent);
  const Point at = title_position();
  dc.text_out(at.x, at.y, text);
  dc.set_bk_mode(old_mode);
  dc.select_font(old);
}

// ---- CMasterDialog ---------------------------------------------------------

CMasterDialog::CMasterDialog(int template_id, RegistrationProfile* profile, HWND parent, int first_page,
                             int last_page)
    : CBaseDialog(template_id, profile, parent), first_(first_page), last_(last_page) {}

CMasterDialog::~CMasterDialog() { DeletePage(); }

CBaseDialog* CMasterDialog::CreatePage(int&) { return nullptr; }

void CMasterDialog::DeletePage() {
  if (page_ != 0) {
    const HWND old = page_;
    page_ = 0;
    destroy_window(old);
  }
}

void CMasterDialog::Navigate(bool forward) {
  const int before = current_;
  if (forward) {
    current_ = current_ == 0 ? first_ : current_ + 1;
  } else {
    current_ -= 1;
  }
  if (current_ < first_) {
    if (page_ != 0) place_over(hwnd(), page_);
    show_window(hwnd(), SW_SHOW);
    DeletePage();
    current_ = 0;
    return;
  }
  CBaseDialog* page = nullptr;
  for (;;) {
    if (forward && current_ > last_) {
      // No page beyond the last one exists: stay where we are.
      log_info("wizard", "no page after page " + std::to_string(before) + "; the page stays");
      current_ = before;
      return;
    }
    page = CreatePage(current_);
    if (page != nullptr) break;
    current_ += forward ? 1 : -1;
    if (!forward && current_ < first_) {
      current_ = 0;
      Navigate(false);
      return;
    }
  }
  if (page->CreateModeless() == 0) {
    log_error("wizard", "page " + std::to_string(current_) + " could not be made");
    delete page;
    current_ = before;
    return;
  }
  place_over(page->hwnd(), page_ != 0 ? page_ : hwnd());
  page->SetFinishMode(false);
  show_window(page->hwnd(), SW_SHOW);
  show_window(hwnd(), SW_HIDE);
  const HWND previous = page_;
  page_ = page->hwnd();
  if (previous != 0) destroy_window(previous);
}

void CMasterDialog::OnNext() {
  if (!TransferData(true)) return;
  current_ = 0;
  Navigate(true);
}

void CMasterDialog::OnPageCancel() {
  DeletePage();
  on_cancel();
}

LRESULT CMasterDialog::window_proc(const Message& msg) {
  switch (msg.message) {
    case WM_WIZ_BACK:
      Navigate(false);
      return 0;
    case WM_WIZ_NEXT:
      Navigate(true);
      return 0;
    case WM_WIZ_CANCEL:
      OnPageCancel();
      return 0;
    case WM_WIZ_FINISH:
      current_ = first_;
      Navigate(false);
      return 0;
    default:
      return CBaseDialog::window_proc(msg);
  }
}

}  // namespace wizard
