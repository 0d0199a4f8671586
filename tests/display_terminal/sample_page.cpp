#include "sample_page.h"

#include <memory>

#include "platform/ui/message_box.h"

namespace sample {

using namespace platform;

void register_templates() {
  DialogTemplate t;
  t.id = kPageId;
  t.caption = "Veloran Sign-up";
  t.rect = {0, 0, 300, 239};
  t.controls = {
      dlg::picture("SAMPLEPIC", kPicture, 4, 24, 64, 128),
      dlg::ltext("&Name:", IDC_STATIC, 112, 40, 52, 8),
      dlg::edit(kName, 168, 40, 120, 8, ES_AUTOHSCROLL | ES_UPPERCASE),
      dlg::ltext("&Plan:", IDC_STATIC, 112, 56, 52, 8),
      dlg::listbox(kPlan, 168, 56, 120, 40, LBS_NOTIFY)
          .with_items({"Basic", "Standard", "Unlimited", "Weekend", "Student", "Family"}),
      dlg::groupbox("Payment", IDC_STATIC, 112, 104, 176, 40),
      dlg::radio("&Credit card", kCredit, 120, 116, 100, 8).group().tabstop(),
      dlg::radio("C&ash", kCash, 120, 128, 100, 8),
      dlg::checkbox("&Send me news", kNews, 112, 152, 120, 8).group(),
      dlg::ltext("P&ort:", IDC_STATIC, 112, 168, 52, 8),
      dlg::combobox(kPort, 168, 168, 120, 60, CBS_DROPDOWNLIST, {"COM1", "COM2", "COM3", "COM4"}),
      dlg::ownerdraw("GRAYLINE", kGrayLine, 4, 196, 292, 4).disabled(),
      dlg::pushbutton("< &Back", kBack, 84, 216, 48, 14),
      dlg::defpushbutton("&Next >", kNext, 136, 216, 48, 14),
      dlg::pushbutton("&Cancel", IDCANCEL, 192, 216, 48, 14),
      dlg::pushbutton("&Help", kHelp, 244, 216, 48, 14),
  };
  register_dialog_template(std::move(t));
}

Bitmap picture() {
  Bitmap b = Bitmap::colour(96, 208, RGB(0, 128, 255));
  for (int y = 0; y < b.height(); ++y) {
    for (int x = 0; x < b.width(); ++x) {
      const int dx = x - 66, dy = y - 40;
      if (dx * dx + dy * dy <= 18 * 18) b.set_pixel(x, y, RGB(255, 255, 0));           // sun
      if (y > 130 + (x / 8) % 3 * 4) b.set_pixel(x, y, RGB(0, 128, 0));               // hills
      if (x >= 18 && x < 54 && y >= 110 && y < 150) b.set_pixel(x, y, RGB(255, 255, 255));  // house
      if (x >= 18 && x < 54 && y >= 96 && y < 110 && (y - 96) * 2 >= std::abs(x - 36) - 4)
        b.set_pixel(x, y, RGB(128, 0, 0));  // roof
      if (x >= 30 && x < 42 && y >= 126 && y < 150) b.set_pixel(x, y, RGB(128, 64, 0));  // door
    }
  }
  return b;
}

Bitmap gray_line() {
  Bitmap b = Bitmap::colour(440, 4, RGB(128, 128, 0));
  for (int x = 0; x < b.width(); ++x) {
    b.set_pixel(x, 1, RGB(128, 128, 128));
    b.set_pixel(x, 2, RGB(255, 255, 255));
  }
  return b;
}

SamplePage::SamplePage() : Dialog(kPageId) {}

bool SamplePage::on_init_dialog() {
  if (auto* pic = control<StaticControl>(kPicture)) pic->set_bitmap(std::make_shared<Bitmap>(picture()));
  return Dialog::on_init_dialog();
}

void SamplePage::do_data_exchange(DataExchange& dx) {
  dx.text(kName, name, kNameMax);
  dx.list_index(kPlan, plan);
  dx.radio(kCredit, payment);
  dx.check(kNews, news);
  dx.list_string(kPort, port);
}

int SamplePage::show_message(const std::string& text, const std::string& caption, unsigned type) {
  if (on_message) on_message(caption + ": " + text);
  return message_box(hwnd(), text, caption, type);
}

bool SamplePage::on_command(int id, int code, HWND control) {
  if (code != BN_CLICKED) return Dialog::on_command(id, code, control);
  switch (id) {
    case kNext:
      if (!update_data(true)) return true;
      if (name.empty()) {
        show_message("Please enter your name.", "Entry error", MB_OK | MB_ICONEXCLAMATION);
        goto_control(kName);
        return true;
      }
      show_message("Thank you, " + name + ". Plan: " + list(kPlan)->item_text(plan) +
                       ", paid by " + (payment == 1 ? "cash" : "credit card") + " on " + port + ".",
                   "Sign-up", MB_OK | MB_ICONINFORMATION);
      return true;
    case kBack:
      show_message("This is the first page.", "Sign-up", MB_OK | MB_ICONINFORMATION);
      return true;
    case kHelp:
      on_help();
      return true;
    default:
      return Dialog::on_command(id, code, control);
  }
}

void SamplePage::on_cancel() {
  if (show_message("Do you want to leave the sign-up?", "Sign-up", MB_YESNO | MB_ICONQUESTION) != IDYES) return;
  update_data(true);
  if (on_end) on_end();
}

void SamplePage::on_help() { show_message("Fill in the fields and press Next.", "Help", MB_OK | MB_ICONINFORMATION); }

void SamplePage::on_paint(DC& dc) {
  dc.select_font(Font{"Times New Roman", 18, 800});
  dc.set_bk_mode(BkMode::Transparent);
  dc.text_out(160, 20, kTitle);
}

// The separator as the wizard draws its masked buttons: olive pixels let the
// dialog show through.
void SamplePage::on_draw_item(DrawItem& item) {
  if (item.id != kGrayLine) return;
  Bitmap copy = gray_line();
  Bitmap mask = Bitmap::mono(copy.width(), copy.height());
  DC copy_dc(&copy), mask_dc(&mask);
  copy_dc.set_bk_color(RGB(128, 128, 0));
  mask_dc.bit_blt(0, 0, copy.width(), copy.height(), copy_dc, 0, 0, Rop::SrcCopy);
  copy_dc.set_bk_color(RGB(0, 0, 0));
  copy_dc.set_text_color(RGB(255, 255, 255));
  copy_dc.bit_blt(0, 0, copy.width(), copy.height(), mask_dc, 0, 0, Rop::SrcAnd);
  const int w = item.rect.width(), h = item.rect.height();
  item.dc.bit_blt(item.rect.left, item.rect.top, w, h, mask_dc, 0, 0, Rop::SrcAnd);
  item.dc.bit_blt(item.rect.left, item.rect.top, w, h, copy_dc, 0, 0, Rop::SrcPaint);
}

}  // namespace sample
