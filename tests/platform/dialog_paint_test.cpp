// A page paints its pictures, its title and its owner-draw buttons into one
// record that renderers read.
#include <unistd.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/loop/clock.h"
#include "platform/ui/dialog.h"
#include "support/temp_dir.h"

using namespace platform;

namespace {

constexpr COLORREF kOlive = RGB(128, 128, 0);
constexpr COLORREF kGrey = RGB(192, 192, 192);

class Page final : public Dialog {
 public:
  explicit Page(DialogTemplate t) : Dialog(std::move(t)) {}

 protected:
  void on_paint(DC& dc) override {
    dc.select_font(Font{"Times New Roman", 18, 800});
    dc.set_bk_mode(BkMode::Transparent);
    dc.text_out(160, 20, "Account Information");
  }
  // A see-through line: olive pixels let the grey dialog show.
  void on_draw_item(DrawItem& item) override {
    Bitmap line = Bitmap::colour(item.rect.width(), 2, RGB(128, 128, 128));
    for (int x = 0; x < line.width(); x += 2) line.set_pixel(x, 1, kOlive);
    draw_masked(item.dc, item.rect.left, item.rect.top, line.width(), 2, line, kOlive);
    drawn_disabled = item.disabled;
  }

 public:
  bool drawn_disabled = false;
};

TEST(DialogPaint, PicturesTitleAndOwnerDrawnButtonsGoToTheRecord) {
  ScopedVirtualClock clock;
  const test_support::TempDir temp("vlr-paint");
  const std::filesystem::path dir = temp.path();
  const auto bytes = encode_bmp(Bitmap::colour(3, 2, RGB(10, 20, 30)));
  std::ofstream(dir / "PG1U.bmp", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  add_bitmap_folder(dir);

  DialogTemplate t;
  t.id = 105;
  t.caption = "Account Information";
  t.rect = {0, 0, 300, 239};
  t.controls = {dlg::picture("PG1U", 3035, 0, 0, 74, 239), dlg::ownerdraw("GRAYLINE", 3036, 8, 200, 40, 5).disabled(),
                dlg::ownerdraw("PG2", 3034, 0, 0, 10, 10).hidden()};
  Page page(t);
  HWND h = page.create_modeless(0);
  ASSERT_NE(h, 0u);
  show_window(h, SW_SHOW);
  ASSERT_TRUE(page.needs_paint());
  paint_window(h);
  EXPECT_FALSE(page.needs_paint());

  const auto& ops = page.paint_record().ops;
  ASSERT_EQ(ops.size(), 5u);  // background, picture, title, two blits for the line
  EXPECT_EQ(ops[0].kind, PaintOp::Kind::Fill);
  EXPECT_EQ(ops[1].kind, PaintOp::Kind::Blit);
  EXPECT_EQ(ops[1].control_id, 3035);
  EXPECT_EQ(ops[2].text, "Account Information");
  EXPECT_EQ(ops[3].control_id, 3036);
  EXPECT_EQ(ops[4].control_id, 3036);
  EXPECT_TRUE(page.drawn_disabled);

  const Bitmap& s = page.surface();
  EXPECT_EQ(s.width(), 450);
  EXPECT_EQ(s.height(), 388);
  EXPECT_EQ(s.pixel(2, 1), RGB(10, 20, 30));  // the picture
  EXPECT_EQ(s.pixel(3, 1), kGrey);            // beyond it: background
  const Rect line = page.control<Button>(3036)->rect();
  EXPECT_EQ(s.pixel(line.left, line.top), RGB(128, 128, 128));
  EXPECT_EQ(s.pixel(line.left, line.top + 1), kGrey);  // see-through pixel
  EXPECT_EQ(s.pixel(line.left + 1, line.top + 1), RGB(128, 128, 128));

  // Changing a control repaints the page; nothing is painted twice otherwise.
  page.set_item_text(3036, "GRAYLINE2");
  EXPECT_TRUE(page.needs_paint());
  clear_bitmap_folders();
}

}  // namespace
