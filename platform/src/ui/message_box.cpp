#include "platform/ui/message_box.h"

#include <algorithm>
#include <mutex>
#include <string_view>

#include "platform/ui/display.h"
#include "window_model.h"

namespace platform {

namespace {

std::vector<int> buttons_for(unsigned type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    default: return {IDOK};
  }
}

const char* button_text(int id) {
  switch (id) {
    case IDCANCEL: return "Cancel";
    case IDYES: return "&Yes";
    case IDNO: return "&No";
    default: return "OK";
  }
}

// The rows one paragraph takes when wrapped at blanks to `wrap` columns,
// as the displays wrap it: a word that does not fit the rest of a row
// starts the next one, a word longer than a row is broken.
int wrapped_rows(std::string_view paragraph, int wrap) {
  int rows = 1;
  int used = 0;
  std::size_t pos = 0;
  while (pos < paragraph.size()) {
    const std::size_t blank = paragraph.find(' ', pos);
    const int word = static_cast<int>((blank == std::string_view::npos ? paragraph.size() : blank) - pos);
    const int need = used == 0 ? word : used + 1 + word;
    if (need <= wrap) {
      used = need;
    } else if (word <= wrap) {
      ++rows;
      used = word;
    } else {
      // A long word: from a new row, broken into whole rows.
      if (used > 0) ++rows;
      rows += (word - 1) / wrap;
      used = word - (word - 1) / wrap * wrap;
    }
    if (blank == std::string_view::npos) break;
    pos = blank + 1;
  }
  return rows;
}

// Lays the box out in dialog units: text lines wrapped at about 60
// characters, buttons centred below.
DialogTemplate box_template(const std::string& text, const std::string& caption, unsigned type) {
  constexpr int kWrap = 60;
  int lines = 0;
  int widest = 0;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t nl = text.find('\n', pos);
    const int len = static_cast<int>((nl == std::string::npos ? text.size() : nl) - pos);
    lines += wrapped_rows(std::string_view(text).substr(pos, static_cast<std::size_t>(len)), kWrap);
    widest = std::max(widest, std::min(len, kWrap));
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }
  const std::vector<int> ids = buttons_for(type);
  const bool has_icon = (type & MB_ICONMASK) != 0;
  const int text_left = has_icon ? 36 : 8;
  const int button_row = static_cast<int>(ids.size()) * 54;
  const int width = std::max({text_left + widest * 4 + 8, button_row + 16, static_cast<int>(caption.size()) * 4 + 24});
  const int text_height = lines * 8;
  const int height = 8 + std::max(text_height, has_icon ? 20 : 0) + 8 + 14 + 8;
  DialogTemplate t;
  t.id = 0;
  t.caption = caption;
  t.rect = {0, 0, width, height};
  t.style = WS_POPUP | WS_CAPTION | DS_MODALFRAME;
  if (has_icon) t.controls.push_back(dlg::ltext("", -1, 8, 8, 20, 20));
  t.controls.push_back(dlg::ltext(text, MessageBoxWindow::kTextId, text_left, 8, width - text_left - 8, text_height));
  int x = (width - button_row) / 2 + 2;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    auto b = i == 0 ? dlg::defpushbutton(button_text(ids[i]), ids[i], x, height - 22, 50, 14)
                    : dlg::pushbutton(button_text(ids[i]), ids[i], x, height - 22, 50, 14);
    if (i == 0) b.group();
    t.controls.push_back(std::move(b));
    x += 54;
  }
  return t;
}

struct AppName {
  std::mutex mutex;
  std::string name = "Application";
};
AppName& app_name() {
  static AppName n;
  return n;
}

}  // namespace

const char* icon_name(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Stop: return "stop";
    case MessageIcon::Question: return "question";
    case MessageIcon::Exclamation: return "exclamation";
    case MessageIcon::Information: return "information";
    default: return "none";
  }
}

MessageBoxWindow::MessageBoxWindow(std::string text, std::string caption, unsigned type)
    : Dialog(box_template(text, caption, type)), message_(std::move(text)), caption_(std::move(caption)), type_(type) {
  owner_defaults_to_active_ = false;
}

MessageIcon MessageBoxWindow::icon() const {
  switch (type_ & MB_ICONMASK) {
    case MB_ICONSTOP: return MessageIcon::Stop;
    case MB_ICONQUESTION: return MessageIcon::Question;
    case MB_ICONEXCLAMATION: return MessageIcon::Exclamation;
    case MB_ICONINFORMATION: return MessageIcon::Information;
    default: return MessageIcon::None;
  }
}

std::vector<int> MessageBoxWindow::buttons() const { return buttons_for(type_); }

bool MessageBoxWindow::on_init_dialog() {
  centre_over(hwnd(), owner());
  return Dialog::on_init_dialog();
}

bool MessageBoxWindow::on_command(int id, int, HWND) {
  const auto ids = buttons();
  if (std::find(ids.begin(), ids.end(), id) != ids.end()) {
    end_dialog(id);
  } else if (id == IDCANCEL && (type_ & MB_TYPEMASK) == MB_OK) {
    end_dialog(IDOK);  // Esc closes an OK-only box with OK
  }
  return true;  // a box has no other commands; Esc on Yes/No does nothing
}

int message_box(HWND owner, std::string_view text, std::string_view caption, unsigned type) {
  MessageBoxWindow box{std::string(text), std::string(caption), type};
  if (owner && !window_from_handle(owner)) owner = 0;
  return box.do_modal(owner);
}

int app_message_box(std::string_view text, unsigned type) {
  return message_box(active_window(), text, application_name(), type);
}

void set_application_name(std::string name) {
  std::lock_guard lock(app_name().mutex);
  app_name().name = std::move(name);
}

const std::string& application_name() {
  std::lock_guard lock(app_name().mutex);
  return app_name().name;
}

std::string format_message(std::string_view format, const std::vector<std::string>& args) {
  std::string out;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] >= '1' && format[i + 1] <= '9') {
      const auto n = static_cast<std::size_t>(format[i + 1] - '1');
      if (n < args.size()) {
        out += args[n];
        ++i;
        continue;
      }
    }
    out += format[i];
  }
  return out;
}

void message_beep() {
  if (Display* d = current_display()) d->beep();
}

}  // namespace platform
