// Bitmaps: the subset of GDI that the pages draw with.
//
// Principles:
//  - A Bitmap is 24-bit colour or 1-bit monochrome, top row first, pixels
//    addressed (x, y) from the top-left. A mono pixel is 1 (white) or 0
//    (black).
//  - A DC draws into one bitmap and carries a background colour, a text
//    colour, a background mode and a font. bit_blt() follows the Windows
//    rules:
//      colour -> mono: source pixels equal to the source DC's background
//        colour become 1, all others 0;
//      mono -> colour: 1 becomes the destination DC's background colour,
//        0 its text colour;
//    then the raster operation combines source and destination bit by bit
//    (SRCCOPY, SRCAND, SRCPAINT, SRCINVERT, NOTSRCCOPY).
//  - A window's paint DC also writes a PaintRecord: each blit (its rectangle
//    on the surface and the control it was drawn for) and each text (position,
//    font, colour). Renderers and tests read the record; pixels of a blit
//    come from the window's surface, texts are drawn by the renderer.
//  - Fonts are descriptions only (face, height, weight).
//
// Index: COLORREF and RGB, Bitmap, load_bmp / parse_bmp, bitmap resources,
// Font, PaintOp / PaintRecord, DC, draw_masked.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

using COLORREF = std::uint32_t;  // 0x00BBGGRR as in Windows
constexpr COLORREF RGB(unsigned r, unsigned g, unsigned b) {
  return (r & 0xFFu) | ((g & 0xFFu) << 8) | ((b & 0xFFu) << 16);
}
constexpr unsigned GetRValue(COLORREF c) { return c & 0xFFu; }
constexpr unsigned GetGValue(COLORREF c) { return (c >> 8) & 0xFFu; }
constexpr unsigned GetBValue(COLORREF c) { return (c >> 16) & 0xFFu; }

class Bitmap {
 public:
  Bitmap() = default;  // empty, 0 x 0
  // A colour bitmap filled with `fill`, or a mono bitmap filled with `bit`.
  static Bitmap colour(int width, int height, COLORREF fill = RGB(0, 0, 0));
  static Bitmap mono(int width, int height, bool bit = false);

  int width() const { return width_; }
  int height() const { return height_; }
  bool is_mono() const { return mono_; }
  bool empty() const { return width_ == 0 || height_ == 0; }

  // Colour of a pixel (mono: white or black). Outside the bitmap: black.
  COLORREF pixel(int x, int y) const;
  // Sets a pixel; a mono pixel becomes 1 unless `c` is black. Outside: ignored.
  void set_pixel(int x, int y, COLORREF c);
  // Raw value: a COLORREF, or 0/1 for mono.
  std::uint32_t raw(int x, int y) const { return inside(x, y) ? px_[index(x, y)] : 0; }
  void set_raw(int x, int y, std::uint32_t v);
  bool operator==(const Bitmap& o) const = default;

 private:
  bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
  std::size_t index(int x, int y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x);
  }
  int width_ = 0;
  int height_ = 0;
  bool mono_ = false;
  std::vector<std::uint32_t> px_;
};

// Reads a Windows BMP (BITMAPINFOHEADER or later; 1, 4, 8 or 24 bits per
// pixel, uncompressed, bottom-up or top-down). 1-bit files become mono
// bitmaps, the rest colour. nullopt and `error` when the data are not such a
// file; nothing is read past the data given.
std::optional<Bitmap> parse_bmp(const void* data, std::size_t size, std::string* error = nullptr);
std::optional<Bitmap> load_bmp(const std::filesystem::path& path, std::string* error = nullptr);
// Writes a 24-bit (or 1-bit for mono) BMP; for tests and tools.
std::vector<std::uint8_t> encode_bmp(const Bitmap& bmp);

// Bitmap resources by name ("PG1U", "GRAYLINEU"): NAME.bmp (or name.bmp) in
// the resource folders added here, searched in order. nullptr when absent.
void add_bitmap_folder(const std::filesystem::path& folder);
void clear_bitmap_folders();
std::shared_ptr<const Bitmap> load_bitmap_resource(std::string_view name);

struct Font {
  std::string face;
  int height = 0;
  int weight = 0;  // 400 normal, 700 bold, 800 extra bold
  bool operator==(const Font&) const = default;
};

// Font of dialogs and controls unless a page draws with another.
Font dialog_font();

struct PaintOp {
  enum class Kind { Fill, Blit, Text };
  Kind kind = Kind::Fill;
  int x = 0, y = 0, width = 0, height = 0;  // target rectangle (Text: position)
  COLORREF colour = 0;                      // Fill colour; Text colour
  COLORREF background = 0;                  // Text background when opaque
  bool transparent = false;                 // Text drawn without its background
  std::string text;                         // Text
  Font font;                                // Text
  int control_id = 0;                       // Blit made for this control (0: the window)
};

struct PaintRecord {
  std::vector<PaintOp> ops;
  void clear() { ops.clear(); }
  // Texts drawn, in order.
  std::vector<std::string> texts() const;
};

enum class Rop : std::uint32_t {
  SrcCopy = 0x00CC0020,
  SrcAnd = 0x008800C6,
  SrcPaint = 0x00EE0086,
  SrcInvert = 0x00660046,
  NotSrcCopy = 0x00330008,
};

enum class BkMode { Transparent = 1, Opaque = 2 };

class DC {
 public:
  // A memory DC drawing into `target` (not owned; may be null until select()).
  explicit DC(Bitmap* target = nullptr) : target_(target) {}
  // Selects another bitmap; returns the previous one.
  Bitmap* select(Bitmap* target);
  Bitmap* target() const { return target_; }

  COLORREF set_bk_color(COLORREF c);
  COLORREF set_text_color(COLORREF c);
  COLORREF text_color() const { return text_; }
  BkMode set_bk_mode(BkMode m);
  Font select_font(const Font& f);
  const Font& font() const { return font_; }

  // Copies w x h pixels from `src` at (sx, sy) to (x, y) with `rop`; parts
  // outside either bitmap are skipped. False when a DC has no bitmap.
  bool bit_blt(int x, int y, int w, int h, const DC& src, int sx, int sy, Rop rop);
  void fill_rect(int x, int y, int w, int h, COLORREF c);
  // Text has no pixels here; it is recorded for renderers.
  void text_out(int x, int y, std::string_view text);

  // Paint DCs record what they draw; `control_id` tags the next blits.
  void set_record(PaintRecord* record) { record_ = record; }
  void set_control_id(int id) { control_id_ = id; }

 private:
  // Appends an op of `kind` at the rectangle, tagged with the control id, to
  // the record; nullptr when this DC records nothing.
  PaintOp* record(PaintOp::Kind kind, int x, int y, int w, int h);

  Bitmap* target_ = nullptr;
  COLORREF bk_ = RGB(255, 255, 255);
  COLORREF text_ = RGB(0, 0, 0);
  BkMode mode_ = BkMode::Opaque;
  Font font_;
  PaintRecord* record_ = nullptr;
  int control_id_ = 0;
};

// Draws w x h pixels of `picture` at (x, y) of `target` so that pixels of
// `mask_colour` leave the target as it was, with the conversions above: a
// mono mask of the picture (mask colour -> 1), the picture's see-through
// pixels blacked out, then the mask ANDed and the picture ORed onto the
// target (two blits there). The target's colours are restored afterwards.
void draw_masked(DC& target, int x, int y, int w, int h, const Bitmap& picture, COLORREF mask_colour);

}  // namespace platform
