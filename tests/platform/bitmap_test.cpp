#include <unistd.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/ui/bitmap.h"
#include "support/temp_dir.h"

using namespace platform;

namespace {

constexpr COLORREF kOlive = RGB(128, 128, 0);
constexpr COLORREF kGrey = RGB(192, 192, 192);
constexpr COLORREF kTeal = RGB(0, 128, 128);

// The product's masked drawing at the picture's own size.
void draw_masked(DC& dest, int x, int y, const Bitmap& picture, COLORREF mask_colour) {
  platform::draw_masked(dest, x, y, picture.width(), picture.height(), picture, mask_colour);
}

// A picture with every kind of pixel that matters: the mask colour, black,
// white, and colours sharing bits with the background.
Bitmap sample_picture(bool with_mask_colour) {
  const COLORREF palette[] = {RGB(0, 0, 0), RGB(255, 255, 255), RGB(255, 0, 0), RGB(128, 128, 1),
                              RGB(127, 128, 0), RGB(0, 0, 255), kGrey};
  Bitmap b = Bitmap::colour(9, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 9; ++x) b.set_pixel(x, y, palette[(x + 2 * y) % 7]);
  if (with_mask_colour) {
    for (int x = 0; x < 9; ++x) b.set_pixel(x, 0, kOlive);  // a see-through top row
    b.set_pixel(4, 2, kOlive);
    b.set_pixel(8, 4, kOlive);
  }
  return b;
}

TEST(MaskedBlit, BackgroundShowsExactlyWhereThePictureHasTheMaskColour) {
  const Bitmap picture = sample_picture(true);
  Bitmap screen = Bitmap::colour(20, 12, kTeal);
  DC dc(&screen);
  draw_masked(dc, 3, 4, picture, kOlive);
  for (int y = 0; y < screen.height(); ++y) {
    for (int x = 0; x < screen.width(); ++x) {
      const int px = x - 3, py = y - 4;
      const bool inside = px >= 0 && py >= 0 && px < picture.width() && py < picture.height();
      COLORREF want = kTeal;
      if (inside && picture.pixel(px, py) != kOlive) want = picture.pixel(px, py);
      ASSERT_EQ(screen.pixel(x, y), want) << "at " << x << "," << y;
    }
  }
}

TEST(MaskedBlit, PictureWithoutTheMaskColourIsDrawnUnchanged) {
  const Bitmap picture = sample_picture(false);
  for (COLORREF background : {kTeal, RGB(255, 255, 255), RGB(0, 0, 0)}) {
    Bitmap screen = Bitmap::colour(picture.width(), picture.height(), background);
    DC dc(&screen);
    draw_masked(dc, 0, 0, picture, kOlive);
    EXPECT_EQ(screen, picture) << "background " << background;
  }
}

TEST(MaskedBlit, ClippedAtTheTargetEdges) {
  const Bitmap picture = sample_picture(true);
  Bitmap screen = Bitmap::colour(6, 3, kTeal);
  DC dc(&screen);
  draw_masked(dc, -2, -1, picture, kOlive);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 6; ++x) {
      const COLORREF p = picture.pixel(x + 2, y + 1);
      EXPECT_EQ(screen.pixel(x, y), p == kOlive ? kTeal : p);
    }
}

struct BlitCase {
  const char* name;
  bool src_mono;
  std::uint32_t src;  // raw source value
  bool dst_mono;
  std::uint32_t dst;  // raw destination value before
  Rop rop;
  std::uint32_t want;
};

TEST(BitBlt, ConversionAndRasterOperations) {
  // Source DC background is olive; destination DC colours are grey (bk) and red (text).
  const BlitCase cases[] = {
      {"colour to mono: background colour becomes 1", false, kOlive, true, 0, Rop::SrcCopy, 1},
      {"colour to mono: other colours become 0", false, RGB(128, 128, 1), true, 1, Rop::SrcCopy, 0},
      {"mono to colour: 1 takes the destination background", true, 1, false, 0, Rop::SrcCopy, kGrey},
      {"mono to colour: 0 takes the destination text colour", true, 0, false, 0, Rop::SrcCopy, RGB(255, 0, 0)},
      {"AND colour", false, RGB(0xF0, 0x0F, 0xFF), false, RGB(0x3C, 0x3C, 0x00), Rop::SrcAnd, RGB(0x30, 0x0C, 0x00)},
      {"OR colour", false, RGB(0xF0, 0x0F, 0x00), false, RGB(0x0C, 0x30, 0x01), Rop::SrcPaint, RGB(0xFC, 0x3F, 0x01)},
      {"XOR colour", false, RGB(0xFF, 0x00, 0x0F), false, RGB(0x0F, 0x0F, 0x0F), Rop::SrcInvert, RGB(0xF0, 0x0F, 0x00)},
      {"NOT copy", false, RGB(0xFF, 0x00, 0x0F), false, 0, Rop::NotSrcCopy, RGB(0x00, 0xFF, 0xF0)},
      {"AND mono", true, 1, true, 0, Rop::SrcAnd, 0},
      {"OR mono", true, 0, true, 1, Rop::SrcPaint, 1},
  };
  for (const auto& c : cases) {
    Bitmap s = c.src_mono ? Bitmap::mono(1, 1) : Bitmap::colour(1, 1);
    s.set_raw(0, 0, c.src);
    Bitmap d = c.dst_mono ? Bitmap::mono(1, 1) : Bitmap::colour(1, 1);
    d.set_raw(0, 0, c.dst);
    DC sdc(&s);
    sdc.set_bk_color(kOlive);
    DC ddc(&d);
    ddc.set_bk_color(kGrey);
    ddc.set_text_color(RGB(255, 0, 0));
    ASSERT_TRUE(ddc.bit_blt(0, 0, 1, 1, sdc, 0, 0, c.rop));
    EXPECT_EQ(d.raw(0, 0), c.want) << c.name;
  }
}

TEST(BitBlt, WithoutABitmapFails) {
  Bitmap b = Bitmap::colour(2, 2);
  DC with(&b);
  DC without;
  EXPECT_FALSE(with.bit_blt(0, 0, 2, 2, without, 0, 0, Rop::SrcCopy));
  EXPECT_FALSE(without.bit_blt(0, 0, 2, 2, with, 0, 0, Rop::SrcCopy));
}

TEST(BitBlt, PaintRecordListsBlitsAndTexts) {
  Bitmap surface = Bitmap::colour(50, 50, kGrey);
  PaintRecord record;
  DC dc(&surface);
  dc.set_record(&record);
  Bitmap pic = Bitmap::colour(4, 4, RGB(1, 2, 3));
  DC src(&pic);
  dc.set_control_id(3036);
  dc.bit_blt(10, 20, 4, 4, src, 0, 0, Rop::SrcCopy);
  dc.set_control_id(0);
  dc.select_font(Font{"Times New Roman", 18, 800});
  dc.set_bk_mode(BkMode::Transparent);
  dc.text_out(160, 20, "Personal Information");
  ASSERT_EQ(record.ops.size(), 2u);
  EXPECT_EQ(record.ops[0].kind, PaintOp::Kind::Blit);
  EXPECT_EQ(record.ops[0].control_id, 3036);
  EXPECT_EQ(record.ops[0].x, 10);
  EXPECT_EQ(record.ops[1].kind, PaintOp::Kind::Text);
  EXPECT_EQ(record.ops[1].font, (Font{"Times New Roman", 18, 800}));
  EXPECT_TRUE(record.ops[1].transparent);
  EXPECT_EQ(record.texts(), std::vector<std::string>{"Personal Information"});
  EXPECT_EQ(surface.pixel(11, 21), RGB(1, 2, 3));
}

// ---------------------------------------------------------------- BMP files

std::vector<std::uint8_t> bmp_header(int w, int h, int bpp, std::vector<std::uint32_t> palette,
                                     const std::vector<std::uint8_t>& pixels) {
  std::vector<std::uint8_t> v;
  auto put32 = [&](std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
  };
  auto put16 = [&](std::uint16_t x) {
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
  };
  const std::uint32_t offset = 54 + static_cast<std::uint32_t>(palette.size()) * 4;
  v.push_back('B');
  v.push_back('M');
  put32(offset + static_cast<std::uint32_t>(pixels.size()));
  put32(0);
  put32(offset);
  put32(40);
  put32(static_cast<std::uint32_t>(w));
  put32(static_cast<std::uint32_t>(h));
  put16(1);
  put16(static_cast<std::uint16_t>(bpp));
  put32(0);
  put32(static_cast<std::uint32_t>(pixels.size()));
  put32(0);
  put32(0);
  put32(static_cast<std::uint32_t>(palette.size()));
  put32(0);
  for (auto p : palette) put32(p);
  v.insert(v.end(), pixels.begin(), pixels.end());
  return v;
}

TEST(Bmp, RoundTripColourAndMono) {
  Bitmap colour = sample_picture(true);
  auto bytes = encode_bmp(colour);
  auto back = parse_bmp(bytes.data(), bytes.size());
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, colour);

  Bitmap mono = Bitmap::mono(13, 3);
  mono.set_raw(0, 0, 1);
  mono.set_raw(12, 2, 1);
  mono.set_raw(7, 1, 1);
  bytes = encode_bmp(mono);
  back = parse_bmp(bytes.data(), bytes.size());
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->is_mono());
  EXPECT_EQ(*back, mono);
}

TEST(Bmp, FourBitPaletteBottomUp) {
  // 3 x 2 pixels, 16-colour palette; rows are 4 bytes, bottom row first.
  std::vector<std::uint32_t> palette(16, 0);
  palette[1] = 0x00008080;  // bytes 80 80 00 00: blue 128, green 128, red 0
  palette[2] = 0x00C0C0C0;
  const std::vector<std::uint8_t> pixels = {0x12, 0x00, 0, 0,   // bottom row: 1 2 0
                                            0x21, 0x10, 0, 0};  // top row: 2 1 1
  auto bytes = bmp_header(3, 2, 4, palette, pixels);
  std::string error;
  auto bmp = parse_bmp(bytes.data(), bytes.size(), &error);
  ASSERT_TRUE(bmp) << error;
  EXPECT_FALSE(bmp->is_mono());
  EXPECT_EQ(bmp->pixel(0, 0), kGrey);
  EXPECT_EQ(bmp->pixel(1, 0), RGB(0, 128, 128));
  EXPECT_EQ(bmp->pixel(0, 1), RGB(0, 128, 128));
  EXPECT_EQ(bmp->pixel(1, 1), kGrey);
  EXPECT_EQ(bmp->pixel(2, 1), RGB(0, 0, 0));
}

TEST(Bmp, BadFilesAreRefusedWithAReason) {
  const auto good = encode_bmp(Bitmap::colour(4, 4, kTeal));
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    const char* reason;  // a part of the refusal's message
  };
  std::vector<Case> cases;
  cases.push_back({"empty", {}, "too short"});
  auto no_sig = good;
  no_sig[0] = 'X';
  cases.push_back({"no signature", no_sig, "no BM signature"});
  cases.push_back({"pixels cut short", std::vector<std::uint8_t>(good.begin(), good.end() - 5), "cut short"});
  auto rle = good;
  rle[30] = 1;  // BI_RLE8
  cases.push_back({"compressed", rle, "compressed"});
  auto bpp = good;
  bpp[28] = 16;
  cases.push_back({"16 bits per pixel", bpp, "bit depth"});
  auto huge = good;
  huge[18] = 0xFF;
  huge[19] = 0xFF;
  huge[20] = 0xFF;
  huge[21] = 0x7F;
  cases.push_back({"absurd width", huge, "bad BMP size"});
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(parse_bmp(c.bytes.data(), c.bytes.size(), &error)) << c.name;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
  }
}

TEST(Bmp, ResourcesByNameFromFolders) {
  const test_support::TempDir temp("vlr-bmp");
  const std::filesystem::path dir = temp.path();
  const auto bytes = encode_bmp(Bitmap::colour(2, 3, kOlive));
  std::ofstream(dir / "grayline.bmp", std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                               static_cast<std::streamsize>(bytes.size()));
  clear_bitmap_folders();
  EXPECT_EQ(load_bitmap_resource("GRAYLINE"), nullptr);
  add_bitmap_folder(dir);
  auto bmp = load_bitmap_resource("GRAYLINE");  // case-insensitive file name
  ASSERT_NE(bmp, nullptr);
  EXPECT_EQ(bmp->width(), 2);
  EXPECT_EQ(bmp->pixel(1, 2), kOlive);
  EXPECT_EQ(load_bitmap_resource("../grayline"), nullptr);
  EXPECT_EQ(load_bitmap_resource("PG1U"), nullptr);
  clear_bitmap_folders();
}

}  // namespace
