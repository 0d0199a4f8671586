#include "display/cell_grid.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <tuple>

#include "platform/ui/utf8.h"

namespace display {

namespace {

const Cell kBlank{};

// The first 16 entries as the classic VGA colours, which the pictures of the
// pages were drawn with.
constexpr std::array<platform::COLORREF, 16> kBasic{
    platform::RGB(0, 0, 0),       platform::RGB(128, 0, 0),     platform::RGB(0, 128, 0),
    platform::RGB(128, 128, 0),   platform::RGB(0, 0, 128),     platform::RGB(128, 0, 128),
    platform::RGB(0, 128, 128),   platform::RGB(192, 192, 192), platform::RGB(128, 128, 128),
    platform::RGB(255, 0, 0),     platform::RGB(0, 255, 0),     platform::RGB(255, 255, 0),
    platform::RGB(0, 0, 255),     platform::RGB(255, 0, 255),   platform::RGB(0, 255, 255),
    platform::RGB(255, 255, 255)};

constexpr std::array<int, 6> kCubeLevels{0, 95, 135, 175, 215, 255};

long distance(platform::COLORREF a, platform::COLORREF b) {
  const long dr = static_cast<long>(platform::GetRValue(a)) - static_cast<long>(platform::GetRValue(b));
  const long dg = static_cast<long>(platform::GetGValue(a)) - static_cast<long>(platform::GetGValue(b));
  const long db = static_cast<long>(platform::GetBValue(a)) - static_cast<long>(platform::GetBValue(b));
  return dr * dr + dg * dg + db * db;
}

constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

}  // namespace

CellGrid::CellGrid(int cols, int rows, Cell fill) { resize(cols, rows, fill); }

void CellGrid::resize(int cols, int rows, Cell fill) {
  cols_ = std::max(cols, 0);
  rows_ = std::max(rows, 0);
  cells_.assign(static_cast<std::size_t>(cols_) * static_cast<std::size_t>(rows_), fill);
  cursor = {};
}

const Cell& CellGrid::at(int col, int row) const {
  if (!inside(col, row)) return kBlank;
  return cells_[static_cast<std::size_t>(row) * static_cast<std::size_t>(cols_) + static_cast<std::size_t>(col)];
}

void CellGrid::set(int col, int row, const Cell& cell) {
  if (!inside(col, row)) return;
  cells_[static_cast<std::size_t>(row) * static_cast<std::size_t>(cols_) + static_cast<std::size_t>(col)] = cell;
}

int cell_width(char32_t ch) {
  // The wide ranges of Unicode's East Asian Width (W and F), in short.
  static constexpr char32_t kWide[][2] = {
      {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},  {0x4E00, 0x9FFF},
      {0xA000, 0xA4CF},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},  {0xFF00, 0xFF60},
      {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD},
  };
  for (const auto& r : kWide)
    if (ch >= r[0] && ch <= r[1]) return 2;
  return 1;
}

void CellGrid::put(int col, int row, char32_t ch, std::uint8_t fg, std::uint8_t bg, std::uint8_t attr) {
  if (ch == kWideTail) ch = U' ';
  if (cell_width(ch) == 2) {
    if (!inside(col + 1, row)) {
      set(col, row, Cell{U' ', fg, bg, attr});
      return;
    }
    set(col, row, Cell{ch, fg, bg, attr});
    set(col + 1, row, Cell{kWideTail, fg, bg, attr});
    return;
  }
  set(col, row, Cell{ch, fg, bg, attr});
}

void CellGrid::recolour(int col, int row, std::uint8_t fg, std::uint8_t bg) {
  if (!inside(col, row)) return;
  Cell c = at(col, row);
  c.fg = fg;
  c.bg = bg;
  set(col, row, c);
}

void CellGrid::fill(int col, int row, int width, int height, const Cell& cell) {
  const int c0 = std::max(col, 0);
  const int r0 = std::max(row, 0);
  const int c1 = std::min(col + width, cols_);
  const int r1 = std::min(row + height, rows_);
  for (int r = r0; r < r1; ++r)
    for (int c = c0; c < c1; ++c) set(c, r, cell);
}

int CellGrid::text(int col, int row, std::string_view text, std::uint8_t fg, std::uint8_t bg, std::uint8_t attr,
                   int max_cols) {
  int written = 0;
  for (char32_t ch : decode_utf8(text)) {
    if ((max_cols >= 0 && written >= max_cols) || col + written >= cols_) break;
    if (ch < 0x20 || ch == 0x7F) ch = U' ';  // control characters never reach the terminal
    const int w = cell_width(ch);
    if (max_cols >= 0 && written + w > max_cols) break;
    put(col + written, row, ch, fg, bg, attr);
    written += w;
  }
  return written;
}

std::string CellGrid::dump_text() const {
  std::string out;
  for (int r = 0; r < rows_; ++r) {
    std::string line;
    for (int c = 0; c < cols_; ++c)
      if (at(c, r).ch != kWideTail) append_utf8(line, at(c, r).ch);
    line.erase(line.find_last_not_of(' ') + 1);
    out += line;
    out += '\n';
  }
  return out;
}

std::string CellGrid::dump_colours() const {
  using Key = std::tuple<int, int, int>;
  std::map<Key, char> letters;
  std::vector<Key> order;
  std::string out;
  for (int r = 0; r < rows_; ++r) {
    for (int c = 0; c < cols_; ++c) {
      const Cell& cell = at(c, r);
      const Key key{cell.fg, cell.bg, cell.attr};
      auto it = letters.find(key);
      if (it == letters.end()) {
        const char letter = order.size() < sizeof(kLetters) - 1 ? kLetters[order.size()] : '?';
        it = letters.emplace(key, letter).first;
        order.push_back(key);
      }
      out += it->second;
    }
    out += '\n';
  }
  for (const Key& key : order) {
    out += letters[key];
    out += ": fg " + std::to_string(std::get<0>(key)) + " bg " + std::to_string(std::get<1>(key));
    const int attr = std::get<2>(key);
    if (attr & kAttrBold) out += " bold";
    if (attr & kAttrUnderline) out += " underline";
    if (attr & kAttrReverse) out += " reverse";
    out += '\n';
  }
  out += "cursor: ";
  out += cursor.visible ? std::to_string(cursor.col) + "," + std::to_string(cursor.row) : std::string("hidden");
  out += '\n';
  return out;
}

std::u32string decode_utf8(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) out += platform::utf8_next(text, i);
  return out;
}

void append_utf8(std::string& out, char32_t ch) { platform::utf8_append(out, ch); }

platform::COLORREF palette_rgb(int index) {
  if (index < 0 || index > 255) return platform::RGB(0, 0, 0);
  if (index < 16) return kBasic[static_cast<std::size_t>(index)];
  if (index < 232) {
    const int i = index - 16;
    return platform::RGB(static_cast<unsigned>(kCubeLevels[static_cast<std::size_t>(i / 36)]),
                         static_cast<unsigned>(kCubeLevels[static_cast<std::size_t>((i / 6) % 6)]),
                         static_cast<unsigned>(kCubeLevels[static_cast<std::size_t>(i % 6)]));
  }
  const auto level = static_cast<unsigned>(8 + (index - 232) * 10);
  return platform::RGB(level, level, level);
}

std::uint8_t nearest_colour(platform::COLORREF colour) {
  // The cube's nearest entry is the nearest level per channel (the distance
  // adds up per channel); the grey ramp's is the level nearest the mean.
  // The closer of the two wins, the cube on a tie, as a search from index
  // 16 upwards would choose.
  auto cube_level = [](unsigned v) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < kCubeLevels.size(); ++i)
      if (std::abs(static_cast<int>(v) - kCubeLevels[i]) < std::abs(static_cast<int>(v) - kCubeLevels[best])) best = i;
    return static_cast<int>(best);
  };
  const unsigned r = platform::GetRValue(colour), g = platform::GetGValue(colour), b = platform::GetBValue(colour);
  const int cube = 16 + 36 * cube_level(r) + 6 * cube_level(g) + cube_level(b);
  int best_grey = 232;
  long best_grey_d = distance(colour, palette_rgb(232));
  for (int i = 233; i < 256; ++i) {
    const long d = distance(colour, palette_rgb(i));
    if (d < best_grey_d) {
      best_grey = i;
      best_grey_d = d;
    }
  }
  return static_cast<std::uint8_t>(distance(colour, palette_rgb(cube)) <= best_grey_d ? cube : best_grey);
}

int nearest_basic(int index, int count) {
  count = std::clamp(count, 1, 16);
  if (index >= 0 && index < count) return index;
  const platform::COLORREF rgb = palette_rgb(index);
  int best = 0;
  long best_d = distance(rgb, kBasic[0]);
  for (int i = 1; i < count; ++i) {
    const long d = distance(rgb, kBasic[static_cast<std::size_t>(i)]);
    if (d < best_d) {
      best = i;
      best_d = d;
    }
  }
  return best;
}

}  // namespace display
