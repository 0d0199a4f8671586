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
  platform::draw_masked(target, x, y, w, h, bmp, mask);
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
