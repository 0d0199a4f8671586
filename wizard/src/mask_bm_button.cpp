#include "wizard/mask_bm_button.h"

namespace wizard {

using namespace platform;

bool CMaskBMButton::Attach(Dialog& dialog, int id) {
  const HWND h = dialog.item(id);
  if (h == 0) return false;
  control_ = h;
  id_ = id;
  const std::string caption = get_window_text(h);
  normal_ = load_bitmap_resource(caption + "U");
  selected_ = load_bitmap_resource(caption + "D");
  focused_ = load_bitmap_resource(caption + "F");
  disabled_ = load_bitmap_resource(caption + "X");
  if (normal_) {
    Window* w = window_from_handle(h);
    const Rect r = w ? w->rect() : Rect{};
    move_window(h, {r.left, r.top, r.left + normal_->width(), r.top + normal_->height()});
  }
  return true;
}

void CMaskBMButton::draw_masked(DC& target, int x, int y, int w, int h, const Bitmap& bmp, COLORREF mask) {
  const int bw = bmp.width(), bh = bmp.height();
  Bitmap source = bmp;
  DC source_dc(&source);
  // The picture, copied so that its see-through pixels can be blacked out.
  Bitmap copy = Bitmap::colour(bw, bh);
  DC copy_dc(&copy);
  copy_dc.bit_blt(0, 0, bw, bh, source_dc, 0, 0, Rop::SrcCopy);
  // Mask: 1 where the picture has the mask colour.
  Bitmap mono = Bitmap::mono(bw, bh);
  DC mask_dc(&mono);
  copy_dc.set_bk_color(mask);
  mask_dc.bit_blt(0, 0, bw, bh, copy_dc, 0, 0, Rop::SrcCopy);
  // Mask 1 -> black, 0 -> white, ANDed: see-through pixels of the copy go black.
  copy_dc.set_bk_color(RGB(0, 0, 0));
  copy_dc.set_text_color(RGB(255, 255, 255));
  copy_dc.bit_blt(0, 0, bw, bh, mask_dc, 0, 0, Rop::SrcAnd);
  // Onto the target: mask 1 -> white keeps the background, 0 -> black clears
  // it; then the picture ORed into the cleared part.
  const COLORREF old_bk = target.set_bk_color(RGB(255, 255, 255));
  const COLORREF old_text = target.set_text_color(RGB(0, 0, 0));
  target.bit_blt(x, y, w, h, mask_dc, 0, 0, Rop::SrcAnd);
  target.bit_blt(x, y, w, h, copy_dc, 0, 0, Rop::SrcPaint);
  target.set_bk_color(old_bk);
  target.set_text_color(old_text);
}

void CMaskBMButton::Draw(DrawItem& item) const {
  const Bitmap* chosen = nullptr;
  if (item.selected && selected_) {
    chosen = selected_.get();
  } else if (item.focused && focused_) {
    chosen = focused_.get();
  } else {
    chosen = normal_.get();
    if (item.disabled && disabled_) chosen = disabled_.get();
  }
  if (chosen == nullptr || chosen->empty()) return;
  draw_masked(item.dc, item.rect.left, item.rect.top, item.rect.width(), item.rect.height(), *chosen, mask_);
}

}  // namespace wizard
