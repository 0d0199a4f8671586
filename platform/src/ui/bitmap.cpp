#include "platform/ui/bitmap.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

#include "platform/storage/ascii.h"
#include "platform/loop/log.h"

namespace platform {

Bitmap Bitmap::colour(int width, int height, COLORREF fill) {
  Bitmap b;
  b.width_ = std::max(width, 0);
  b.height_ = std::max(height, 0);
  b.mono_ = false;
  b.px_.assign(static_cast<std::size_t>(b.width_) * static_cast<std::size_t>(b.height_), fill & 0xFFFFFFu);
  return b;
}

Bitmap Bitmap::mono(int width, int height, bool bit) {
  Bitmap b;
  b.width_ = std::max(width, 0);
  b.height_ = std::max(height, 0);
  b.mono_ = true;
  b.px_.assign(static_cast<std::size_t>(b.width_) * static_cast<std::size_t>(b.height_), bit ? 1u : 0u);
  return b;
}

COLORREF Bitmap::pixel(int x, int y) const {
  if (!inside(x, y)) return 0;
  std::uint32_t v = px_[index(x, y)];
  if (mono_) return v ? RGB(255, 255, 255) : RGB(0, 0, 0);
  return v;
}

void Bitmap::set_pixel(int x, int y, COLORREF c) {
  if (!inside(x, y)) return;
  px_[index(x, y)] = mono_ ? ((c & 0xFFFFFFu) != 0 ? 1u : 0u) : (c & 0xFFFFFFu);
}

void Bitmap::set_raw(int x, int y, std::uint32_t v) {
  if (!inside(x, y)) return;
  px_[index(x, y)] = mono_ ? (v ? 1u : 0u) : (v & 0xFFFFFFu);
}

// ---------------------------------------------------------------- BMP files

namespace {

std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
void put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
}
void put16(std::vector<std::uint8_t>& v, std::uint16_t x) {
  v.push_back(static_cast<std::uint8_t>(x));
  v.push_back(static_cast<std::uint8_t>(x >> 8));
}

bool set_error(std::string* error, const char* text) {
  if (error) *error = text;
  return false;
}

}  // namespace

std::optional<Bitmap> parse_bmp(const void* data, std::size_t size, std::string* error) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  if (!p || size < 14 + 40) return set_error(error, "too short for a BMP file"), std::nullopt;
  if (p[0] != 'B' || p[1] != 'M') return set_error(error, "not a BMP file (no BM signature)"), std::nullopt;
  const std::uint32_t pixel_offset = le32(p + 10);
  const std::uint32_t header_size = le32(p + 14);
  if (header_size < 40 || 14 + static_cast<std::size_t>(header_size) > size)
    return set_error(error, "unsupported BMP header"), std::nullopt;
  const auto width = static_cast<std::int32_t>(le32(p + 18));
  const auto raw_height = static_cast<std::int32_t>(le32(p + 22));
  const std::uint16_t planes = le16(p + 26);
  const std::uint16_t bpp = le16(p + 28);
  const std::uint32_t compression = le32(p + 30);
  std::uint32_t colours_used = le32(p + 46);
  if (planes != 1) return set_error(error, "BMP with more than one plane"), std::nullopt;
  if (compression != 0) return set_error(error, "compressed BMP files are not supported"), std::nullopt;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24)
    return set_error(error, "BMP bit depth must be 1, 4, 8 or 24"), std::nullopt;
  if (width <= 0 || raw_height == 0 || raw_height == INT32_MIN || width > 32768)
    return set_error(error, "bad BMP size"), std::nullopt;
  const bool top_down = raw_height < 0;
  const std::int32_t height = top_down ? -raw_height : raw_height;
  if (height > 32768) return set_error(error, "bad BMP size"), std::nullopt;

  std::vector<COLORREF> palette;
  if (bpp <= 8) {
    const std::uint32_t max_colours = 1u << bpp;
    if (colours_used == 0 || colours_used > max_colours) colours_used = max_colours;
    const std::size_t pal_at = 14 + header_size;
    if (pal_at + static_cast<std::size_t>(colours_used) * 4 > size)
      return set_error(error, "BMP palette is cut short"), std::nullopt;
    for (std::uint32_t i = 0; i < colours_used; ++i) {
      const std::uint8_t* q = p + pal_at + i * 4;  // blue, green, red, reserved
      palette.push_back(RGB(q[2], q[1], q[0]));
    }
  }
  const std::size_t row_bytes = ((static_cast<std::size_t>(width) * bpp + 31) / 32) * 4;
  if (pixel_offset > size || row_bytes * static_cast<std::size_t>(height) > size - pixel_offset)
    return set_error(error, "BMP pixel data are cut short"), std::nullopt;

  // A 1-bit file whose palette is black and white stays mono; other palettes
  // keep their colours.
  const bool mono = bpp == 1 && palette.size() == 2 && palette[0] == RGB(0, 0, 0) &&
                    palette[1] == RGB(255, 255, 255);
  Bitmap bmp = mono ? Bitmap::mono(width, height) : Bitmap::colour(width, height);
  for (std::int32_t row = 0; row < height; ++row) {
    const std::int32_t y = top_down ? row : height - 1 - row;
    const std::uint8_t* line = p + pixel_offset + static_cast<std::size_t>(row) * row_bytes;
    for (std::int32_t x = 0; x < width; ++x) {
      if (bpp == 24) {
        const std::uint8_t* q = line + static_cast<std::size_t>(x) * 3;
        bmp.set_pixel(x, y, RGB(q[2], q[1], q[0]));
        continue;
      }
      const std::size_t bit = static_cast<std::size_t>(x) * bpp;
      const unsigned byte = line[bit / 8];
      const unsigned shift = 8 - bpp - static_cast<unsigned>(bit % 8);
      const unsigned idx = (byte >> shift) & ((1u << bpp) - 1);
      if (mono) {
        bmp.set_raw(x, y, idx);
      } else {
        bmp.set_pixel(x, y, idx < palette.size() ? palette[idx] : RGB(0, 0, 0));
      }
    }
  }
  return bmp;
}

std::optional<Bitmap> load_bmp(const std::filesystem::path& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot open " + path.string();
    return std::nullopt;
  }
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string why;
  auto bmp = parse_bmp(bytes.data(), bytes.size(), &why);
  if (!bmp && error) *error = path.string() + ": " + why;
  return bmp;
}

std::vector<std::uint8_t> encode_bmp(const Bitmap& bmp) {
  const int bpp = bmp.is_mono() ? 1 : 24;
  const std::size_t row_bytes = ((static_cast<std::size_t>(bmp.width()) * bpp + 31) / 32) * 4;
  const std::uint32_t pal_bytes = bmp.is_mono() ? 8 : 0;
  const std::uint32_t offset = 14 + 40 + pal_bytes;
  const auto image = static_cast<std::uint32_t>(row_bytes * static_cast<std::size_t>(bmp.height()));
  std::vector<std::uint8_t> v;
  v.push_back('B');
  v.push_back('M');
  put32(v, offset + image);
  put32(v, 0);
  put32(v, offset);
  put32(v, 40);
  put32(v, static_cast<std::uint32_t>(bmp.width()));
  put32(v, static_cast<std::uint32_t>(bmp.height()));
  put16(v, 1);
  put16(v, static_cast<std::uint16_t>(bpp));
  put32(v, 0);
  put32(v, image);
  put32(v, 2835);
  put32(v, 2835);
  put32(v, bmp.is_mono() ? 2 : 0);
  put32(v, 0);
  if (bmp.is_mono()) {
    put32(v, 0x00000000);
    put32(v, 0x00FFFFFF);
  }
  for (int row = bmp.height() - 1; row >= 0; --row) {
    std::vector<std::uint8_t> line(row_bytes, 0);
    for (int x = 0; x < bmp.width(); ++x) {
      if (bmp.is_mono()) {
        if (bmp.raw(x, row)) line[static_cast<std::size_t>(x) / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
      } else {
        COLORREF c = bmp.pixel(x, row);
        line[static_cast<std::size_t>(x) * 3] = static_cast<std::uint8_t>(GetBValue(c));
        line[static_cast<std::size_t>(x) * 3 + 1] = static_cast<std::uint8_t>(GetGValue(c));
        line[static_cast<std::size_t>(x) * 3 + 2] = static_cast<std::uint8_t>(GetRValue(c));
      }
    }
    v.insert(v.end(), line.begin(), line.end());
  }
  return v;
}

// ---------------------------------------------------------------- resources

namespace {
struct Resources {
  std::mutex mutex;
  std::vector<std::filesystem::path> folders;
};
Resources& resources() {
  static Resources r;
  return r;
}
}  // namespace

void add_bitmap_folder(const std::filesystem::path& folder) {
  std::lock_guard lock(resources().mutex);
  resources().folders.push_back(folder);
}

void clear_bitmap_folders() {
  std::lock_guard lock(resources().mutex);
  resources().folders.clear();
}

std::shared_ptr<const Bitmap> load_bitmap_resource(std::string_view name) {
  if (name.empty() || name.find('/') != std::string_view::npos || name.find("..") != std::string_view::npos)
    return nullptr;
  std::vector<std::filesystem::path> folders;
  {
    std::lock_guard lock(resources().mutex);
    folders = resources().folders;
  }
  const std::string exact = std::string(name) + ".bmp";
  const std::string folded = to_ascii_lower(exact);
  for (const auto& folder : folders) {
    std::error_code ec;
    std::filesystem::path found;
    if (std::filesystem::is_regular_file(folder / exact, ec)) {
      found = folder / exact;
    } else {
      for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (to_ascii_lower(entry.path().filename().string()) == folded) {
          found = entry.path();
          break;
        }
      }
    }
    if (found.empty()) continue;
    std::string error;
    if (auto bmp = load_bmp(found, &error)) return std::make_shared<const Bitmap>(std::move(*bmp));
    log_warn("bitmap", error);
    return nullptr;
  }
  return nullptr;
}

Font dialog_font() { return Font{"MS Sans Serif", 8, 400}; }

std::vector<std::string> PaintRecord::texts() const {
  std::vector<std::string> out;
  for (const auto& op : ops)
    if (op.kind == PaintOp::Kind::Text) out.push_back(op.text);
  return out;
}

// ---------------------------------------------------------------- DC

Bitmap* DC::select(Bitmap* target) {
  Bitmap* old = target_;
  target_ = target;
  return old;
}

COLORREF DC::set_bk_color(COLORREF c) {
  COLORREF old = bk_;
  bk_ = c & 0xFFFFFFu;
  return old;
}

COLORREF DC::set_text_color(COLORREF c) {
  COLORREF old = text_;
  text_ = c & 0xFFFFFFu;
  return old;
}

BkMode DC::set_bk_mode(BkMode m) {
  BkMode old = mode_;
  mode_ = m;
  return old;
}

Font DC::select_font(const Font& f) {
  Font old = font_;
  font_ = f;
  return old;
}

namespace {
std::uint32_t apply_rop(Rop rop, std::uint32_t s, std::uint32_t d, std::uint32_t mask) {
  switch (rop) {
    case Rop::SrcCopy: return s & mask;
    case Rop::SrcAnd: return (s & d) & mask;
    case Rop::SrcPaint: return (s | d) & mask;
    case Rop::SrcInvert: return (s ^ d) & mask;
    case Rop::NotSrcCopy: return ~s & mask;
  }
  return s & mask;
}
}  // namespace

bool DC::bit_blt(int x, int y, int w, int h, const DC& src, int sx, int sy, Rop rop) {
  if (!target_ || !src.target_) return false;
  Bitmap& dst = *target_;
  const Bitmap& sb = *src.target_;
  // A blit of a bitmap onto itself reads the source before writing.
  const Bitmap copy = (&dst == &sb) ? sb : Bitmap();
  const Bitmap& s = (&dst == &sb) ? copy : sb;
  for (int j = 0; j < h; ++j) {
    const int ty = y + j, fy = sy + j;
    if (ty < 0 || ty >= dst.height() || fy < 0 || fy >= s.height()) continue;
    for (int i = 0; i < w; ++i) {
      const int tx = x + i, fx = sx + i;
      if (tx < 0 || tx >= dst.width() || fx < 0 || fx >= s.width()) continue;
      std::uint32_t sv;
      if (dst.is_mono() == s.is_mono()) {
        sv = s.raw(fx, fy);
      } else if (dst.is_mono()) {
        // Colour to mono: the source DC's background colour becomes 1.
        sv = s.raw(fx, fy) == src.bk_ ? 1u : 0u;
      } else {
        // Mono to colour: 1 takes this DC's background colour, 0 its text colour.
        sv = s.raw(fx, fy) ? bk_ : text_;
      }
      const std::uint32_t mask = dst.is_mono() ? 1u : 0xFFFFFFu;
      dst.set_raw(tx, ty, apply_rop(rop, sv, dst.raw(tx, ty), mask));
    }
  }
  record(PaintOp::Kind::Blit, x, y, w, h);
  return true;
}

void DC::fill_rect(int x, int y, int w, int h, COLORREF c) {
  if (target_) {
    for (int j = std::max(y, 0); j < std::min(y + h, target_->height()); ++j)
      for (int i = std::max(x, 0); i < std::min(x + w, target_->width()); ++i) target_->set_pixel(i, j, c);
  }
  if (PaintOp* op = record(PaintOp::Kind::Fill, x, y, w, h)) op->colour = c & 0xFFFFFFu;
}

void DC::text_out(int x, int y, std::string_view text) {
  PaintOp* op = record(PaintOp::Kind::Text, x, y, 0, 0);
  if (!op) return;
  op->text = std::string(text);
  op->font = font_;
  op->colour = text_;
  op->background = bk_;
  op->transparent = mode_ == BkMode::Transparent;
}

PaintOp* DC::record(PaintOp::Kind kind, int x, int y, int w, int h) {
  if (!record_) return nullptr;
  PaintOp& op = record_->ops.emplace_back();
  op.kind = kind;
  op.x = x;
  op.y = y;
  op.width = w;
  op.height = h;
  op.control_id = control_id_;
  return &op;
}

void draw_masked(DC& target, int x, int y, int w, int h, const Bitmap& picture, COLORREF mask_colour) {
  const int bw = picture.width(), bh = picture.height();
  Bitmap source = picture;
  DC source_dc(&source);
  // The picture, copied so that its see-through pixels can be blacked out.
  Bitmap copy = Bitmap::colour(bw, bh);
  DC copy_dc(&copy);
  copy_dc.bit_blt(0, 0, bw, bh, source_dc, 0, 0, Rop::SrcCopy);
  // Mask: 1 where the picture has the mask colour.
  Bitmap mono = Bitmap::mono(bw, bh);
  DC mask_dc(&mono);
  copy_dc.set_bk_color(mask_colour);
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

}  // namespace platform
