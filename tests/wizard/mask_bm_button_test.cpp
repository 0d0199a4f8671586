#include "wizard/mask_bm_button.h"

#include <gtest/gtest.h>

namespace wizard {
namespace {

using namespace platform;

constexpr COLORREF kOlive = RGB(128, 128, 0);
constexpr COLORREF kBackground = RGB(0, 0, 200);

TEST(MaskBMButton, MaskColouredPixelsShowTheBackground) {
  Bitmap picture = Bitmap::colour(4, 2, kOlive);
  picture.set_pixel(1, 0, RGB(255, 0, 0));
  picture.set_pixel(2, 1, RGB(255, 255, 255));
  picture.set_pixel(3, 1, RGB(0, 0, 0));
  Bitmap target = Bitmap::colour(6, 4, kBackground);
  DC dc(&target);
  CMaskBMButton::draw_masked(dc, 1, 1, 4, 2, picture, kOlive);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) {
      const bool inside = x >= 1 && x < 5 && y >= 1 && y < 3;
      const COLORREF want = inside && picture.pixel(x - 1, y - 1) != kOlive ? picture.pixel(x - 1, y - 1) : kBackground;
      EXPECT_EQ(target.pixel(x, y), want) << x << "," << y;
    }
  }
}

TEST(MaskBMButton, PictureWithoutTheMaskColourIsDrawnUnchanged) {
  Bitmap picture = Bitmap::colour(3, 3, RGB(10, 20, 30));
  picture.set_pixel(1, 1, RGB(0, 0, 0));
  Bitmap target = Bitmap::colour(3, 3, kBackground);
  DC dc(&target);
  CMaskBMButton::draw_masked(dc, 0, 0, 3, 3, picture, kOlive);
  EXPECT_EQ(target, picture);
}

TEST(MaskBMButton, ShippedSeparatorIsSeeThroughExceptItsLine) {
  add_bitmap_folder(std::string(VLR_SOURCE_DIR) + "/data");
  auto line = load_bitmap_resource("GRAYLINEU");
  ASSERT_TRUE(line);
  ASSERT_EQ(line->width(), 397);
  ASSERT_EQ(line->height(), 8);
  Bitmap target = Bitmap::colour(397, 8, RGB(192, 192, 192));
  DC dc(&target);
  CMaskBMButton::draw_masked(dc, 0, 0, 397, 8, *line, kOlive);
  EXPECT_EQ(target.pixel(10, 0), RGB(192, 192, 192));
  EXPECT_EQ(target.pixel(10, 3), RGB(128, 128, 128));
  EXPECT_EQ(target.pixel(10, 4), RGB(255, 255, 255));
  auto page = load_bitmap_resource("PG1U");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->width(), 111);
  EXPECT_EQ(page->height(), 390);
}

}  // namespace
}  // namespace wizard
