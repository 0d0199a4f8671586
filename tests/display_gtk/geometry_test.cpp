// The desktop renderer lays the welcome page out as its template says: each
// control's widget sits at the template rectangle turned into pixels with
// the font's dialog units (a quarter of the average character width, an
// eighth of the character height). Geometry is read back from GTK, so the
// test holds for any font. Runs under an X server (with_xvfb.sh).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/display.h"
#include "platform/loop/message_loop.h"
#include "platform/ui/window.h"
#include "wizard/base_dialog.h"
#include "desktop_test.h"

namespace {

using namespace platform;

using BoundsFn = bool (*)(HWND, int*, int*, int*, int*);
using UnitsFn = void (*)(double*, double*);

class DesktopGeometry : public DesktopTest<> {
 protected:
  void SetUp() override {
    DesktopTest::SetUp();
    if (set_up_failed()) return;
    bounds_ = hook<BoundsFn>("vlr_gtk_widget_bounds");
    units_ = hook<UnitsFn>("vlr_gtk_font_units");
    ASSERT_TRUE(bounds_ && units_);
  }

  // Lets the renderer sync and GTK lay out; true once `control` has a widget.
  bool settle(HWND control) {
    int x, y, w, h;
    for (int i = 0; i < 200; ++i) {
      MessageLoop::current().pump_pending();
      if (bounds_(control, &x, &y, &w, &h) && w > 0) return true;
    }
    return false;
  }

  BoundsFn bounds_ = nullptr;
  UnitsFn units_ = nullptr;
};

TEST_F(DesktopGeometry, WelcomePageControlsSitAtTheirTemplateRectanglesInFontUnits) {
  wizard::register_page_templates();
  const DialogTemplate* tmpl = find_dialog_template(104);
  ASSERT_TRUE(tmpl);
  Dialog page(104);
  ASSERT_NE(page.create_modeless(0), 0u);
  show_window(page.hwnd(), SW_SHOW);

  double char_w = 0, char_h = 0;
  units_(&char_w, &char_h);
  ASSERT_GT(char_w, 1.0);
  ASSERT_GT(char_h, 1.0);

  int checked = 0;
  for (const ControlTemplate& c : tmpl->controls) {
    if (c.id == IDC_STATIC || !(c.style & WS_VISIBLE)) continue;
    const HWND hwnd = page.item(c.id);
    auto* ctl = window_cast<Control>(hwnd);
    ASSERT_TRUE(ctl) << "control " << c.id;
    if (ctl->type() == ControlType::Picture) continue;  // painted into the page
    ASSERT_TRUE(settle(hwnd)) << "control " << c.id << " has no widget";
    int x, y, w, h;
    ASSERT_TRUE(bounds_(hwnd, &x, &y, &w, &h));
    // One dialog unit: char_w / 4 wide, char_h / 8 high. The model rounds its
    // own pixels first, so allow two pixels.
    const double want_x = c.rect.left * char_w / 4, want_y = c.rect.top * char_h / 8;
    const double want_w = (c.rect.right - c.rect.left) * char_w / 4;
    const double want_h = (c.rect.bottom - c.rect.top) * char_h / 8;
    EXPECT_NEAR(x, want_x, 2.0) << "left of control " << c.id;
    EXPECT_NEAR(y, want_y, 2.0) << "top of control " << c.id;
    EXPECT_NEAR(w, want_w, 2.0) << "width of control " << c.id;
    EXPECT_NEAR(h, want_h, 2.0) << "height of control " << c.id;
    ++checked;
  }
  EXPECT_GE(checked, 4);  // two radio buttons and the Next, Cancel and Help buttons at least
}

}  // namespace
