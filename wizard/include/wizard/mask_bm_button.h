// CMaskBMButton: an owner-drawn picture button with a see-through colour.
//
// Attach() takes over the dialog's button with the given id: its caption
// names the bitmaps (caption + "U" normal, "D" selected, "F" focused, "X"
// disabled), and the button is sized to the normal one. Draw() paints the
// chosen bitmap so that pixels of the mask colour leave the background as it
// was: a mono mask is made from the picture (mask colour -> 1), the picture's
// mask-coloured pixels are blacked out, then mask AND and picture OR go onto
// the target. Nothing is cached between paints.
#pragma once

#include <memory>
#include <string>

#include "platform/ui/bitmap.h"
#include "platform/ui/dialog.h"

namespace wizard {

class CMaskBMButton {
 public:
  CMaskBMButton() = default;

  void set_mask_colour(platform::COLORREF c) { mask_ = c; }
  platform::COLORREF mask_colour() const { return mask_; }

  // Binds the button `id` of `dialog`; false when the dialog has no such
  // control. Missing bitmaps leave it attached but drawing nothing.
  bool Attach(platform::Dialog& dialog, int id);
  bool attached() const { return control_ != 0; }
  int id() const { return id_; }

  // The owner-draw callback.
  void Draw(platform::DrawItem& item) const;

  // Draws `bmp` at (x, y) of `target` with `mask` see-through; the drawing
  // step of Draw(), for any DC.
  static void draw_masked(platform::DC& target, int x, int y, int w, int h, const platform::Bitmap& bmp,
                          platform::COLORREF mask);

 private:
  platform::COLORREF mask_ = platform::RGB(255, 255, 255);
  platform::HWND control_ = 0;
  int id_ = 0;
  std::shared_ptr<const platform::Bitmap> normal_, selected_, focused_, disabled_;
};

}  // namespace wizard
