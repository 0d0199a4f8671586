// Paints the window model into a cell grid.
#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "display/terminal.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/labels.h"
#include "platform/ui/message_box.h"
#include "platform/ui/window.h"

namespace display {

namespace {

using namespace colours;
using platform::Control;
using platform::ControlType;
using platform::Rect;
using platform::Window;

constexpr char32_t kUpperHalf = U'\u2580';

struct CellRect {
  int col = 0;
  int row = 0;
  int cols = 0;
  int rows = 0;
  int right() const { return col + cols; }
  int bottom() const { return row + rows; }
};

// Rounds v / d to the nearest integer, halves away from zero.
int round_div(int v, int d) { return v >= 0 ? (v + d / 2) / d : -((-v + d / 2) / d); }
int floor_div(int v, int d) { return v >= 0 ? v / d : -((-v + d - 1) / d); }
int ceil_div(int v, int d) { return -floor_div(-v, d); }

// A pixel rectangle as cells: corners rounded, never empty.
CellRect to_cells(const Rect& px) {
  return {round_div(px.left, kCellWidthPx), round_div(px.top, kCellHeightPx),
          std::max(1, round_div(px.width(), kCellWidthPx)), std::max(1, round_div(px.height(), kCellHeightPx))};
}

// Draws into the grid inside a clip rectangle.
class Painter {
 public:
  Painter(CellGrid& grid, CellRect clip) : grid_(grid), clip_(clip) {}
  bool visible(int col, int row) const {
    return col >= clip_.col && col < clip_.right() && row >= clip_.row && row < clip_.bottom();
  }
  const Cell& at(int col, int row) const { return grid_.at(col, row); }
  void put(int col, int row, char32_t ch, std::uint8_t fg, std::uint8_t bg, std::uint8_t attr = kAttrNone) {
    if (!visible(col, row)) return;
    // A wide character whose second half would fall outside the clip is a blank.
    if (cell_width(ch) == 2 && !visible(col + 1, row)) ch = U' ';
    grid_.put(col, row, ch, fg, bg, attr);
  }
  void fill(const CellRect& r, std::uint8_t fg, std::uint8_t bg) {
    for (int row = r.row; row < r.bottom(); ++row)
      for (int col = r.col; col < r.right(); ++col) put(col, row, U' ', fg, bg);
  }
  // Text over the cells' own background when bg < 0.
  int text(int col, int row, const std::u32string& s, std::uint8_t fg, int bg, std::uint8_t attr = kAttrNone,
           int max_cols = -1) {
    int n = 0;
    for (char32_t ch : s) {
      if (ch < 0x20 || ch == 0x7F) ch = U' ';
      const int w = cell_width(ch);
      if (max_cols >= 0 && n + w > max_cols) break;
      const std::uint8_t b = bg < 0 ? at(col + n, row).bg : static_cast<std::uint8_t>(bg);
      put(col + n, row, ch, fg, b, attr);
      n += w;
    }
    return n;
  }
  CellGrid& grid() { return grid_; }
  void set_cursor(int col, int row) {
    if (visible(col, row)) grid_.cursor = {col, row, true};
  }

 private:
  CellGrid& grid_;
  CellRect clip_;
};

// A label with its "&" mnemonic: the text without the marker and the index
// of the underlined character (-1: none). "&&" is a literal "&".
struct Label {
  std::u32string text;
  int mnemonic = -1;
};

Label parse_label(const std::string& raw, bool prefix = true) {
  if (!prefix) return {decode_utf8(raw), -1};
  const platform::MnemonicText m = platform::parse_mnemonics(raw);
  Label l{decode_utf8(m.shown), -1};
  if (!m.marked.empty())
    l.mnemonic = static_cast<int>(decode_utf8(std::string_view(m.shown).substr(0, m.marked.front())).size());
  return l;
}

// A label longer than `max_cols` ends with "…" in its last cell: never cut silently.
void draw_label(Painter& p, int col, int row, const Label& l, std::uint8_t fg, int bg, std::uint8_t attr,
                int max_cols) {
  const bool cut = max_cols > 0 && static_cast<int>(l.text.size()) > max_cols;
  const int n = p.text(col, row, cut ? l.text.substr(0, static_cast<std::size_t>(max_cols - 1)) + U"…" : l.text, fg,
                       bg, attr, max_cols);
  if (l.mnemonic >= 0 && l.mnemonic < n) {
    Cell c = p.at(col + l.mnemonic, row);
    p.put(col + l.mnemonic, row, c.ch, c.fg, c.bg, static_cast<std::uint8_t>(c.attr | kAttrUnderline));
  }
}

// Lines of `text` no wider than `width`, as (start, length) in the text:
// "\r\n" and "\n" end lines; a line breaks after the last blank that fits,
// and only a word longer than the whole width is cut. None for no width.
std::vector<std::pair<int, int>> wrap_spans(const std::u32string& text, int width) {
  std::vector<std::pair<int, int>> spans;
  if (width <= 0) return spans;
  const int size = static_cast<int>(text.size());
  int pos = 0;
  while (pos <= size) {
    int end = pos;
    while (end < size && text[static_cast<std::size_t>(end)] != U'\n') ++end;
    int line_end = end;
    if (line_end > pos && text[static_cast<std::size_t>(line_end - 1)] == U'\r') --line_end;
    int s = pos;
    do {
      int len = std::min(width, line_end - s);
      if (s + len < line_end) {
        int blank = -1;
        for (int k = len; k > 0; --k)
          if (text[static_cast<std::size_t>(s + k)] == U' ') {
            blank = k;
            break;
          }
        if (blank > 0) len = blank;
      }
      spans.emplace_back(s, len);
      s += len;
      // The blanks at a break belong to no line.
      while (s < line_end && text[static_cast<std::size_t>(s)] == U' ' && s > pos) ++s;
    } while (s < line_end);
    pos = end + 1;
  }
  return spans;
}

// The lines of wrap_spans() as text.
std::vector<std::u32string> wrap(const std::u32string& text, int width) {
  std::vector<std::u32string> lines;
  for (const auto& [start, len] : wrap_spans(text, width))
    lines.push_back(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(len)));
  return lines;
}

// Average colour of the pixels of `surface` in [x0, x1) x [y0, y1) that lie
// inside `clip`; nullopt when none does.
std::optional<platform::COLORREF> average(const platform::Bitmap& surface, const Rect& clip, int x0, int y0, int x1,
                                          int y1) {
  x0 = std::max({x0, clip.left, 0});
  y0 = std::max({y0, clip.top, 0});
  x1 = std::min({x1, clip.right, surface.width()});
  y1 = std::min({y1, clip.bottom, surface.height()});
  if (x0 >= x1 || y0 >= y1) return std::nullopt;
  unsigned long r = 0, g = 0, b = 0, n = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const platform::COLORREF c = surface.pixel(x, y);
      r += platform::GetRValue(c);
      g += platform::GetGValue(c);
      b += platform::GetBValue(c);
      ++n;
    }
  }
  return platform::RGB(static_cast<unsigned>((r + n / 2) / n), static_cast<unsigned>((g + n / 2) / n),
                       static_cast<unsigned>((b + n / 2) / n));
}

// A picture less than a cell tall (a separator line) would average away
// into its background: it is drawn as a line in its most visible colour.
void draw_thin_pixels(Painter& p, const CellRect& client, const platform::Bitmap& surface, const Rect& area) {
  const int c0 = floor_div(area.left, kCellWidthPx), c1 = ceil_div(area.right, kCellWidthPx);
  const int row = client.row + round_div(area.top + area.height() / 2, kCellHeightPx);
  for (int c = c0; c < c1; ++c) {
    const int col = client.col + c;
    if (!p.visible(col, row)) continue;
    const Cell old = p.at(col, row);
    const platform::COLORREF bg = palette_rgb(old.bg);
    long best = 0;
    platform::COLORREF ink = bg;
    const int x0 = std::max(c * kCellWidthPx, area.left), x1 = std::min((c + 1) * kCellWidthPx, area.right);
    for (int y = std::max(area.top, 0); y < std::min(area.bottom, surface.height()); ++y) {
      for (int x = std::max(x0, 0); x < std::min(x1, surface.width()); ++x) {
        const platform::COLORREF px = surface.pixel(x, y);
        const long dr = static_cast<long>(platform::GetRValue(px)) - static_cast<long>(platform::GetRValue(bg));
        const long dg = static_cast<long>(platform::GetGValue(px)) - static_cast<long>(platform::GetGValue(bg));
        const long db = static_cast<long>(platform::GetBValue(px)) - static_cast<long>(platform::GetBValue(bg));
        const long d = dr * dr + dg * dg + db * db;
        if (d > best) {
          best = d;
          ink = px;
        }
      }
    }
    if (best > 0) p.put(col, row, U'─', nearest_colour(ink), old.bg);
  }
}

// Pixels of `area` (client pixels) from the surface, as half blocks: each
// cell shows its upper 6 and lower 7 pixel rows.
void draw_pixels(Painter& p, const CellRect& client, const platform::Bitmap& surface, const Rect& area) {
  if (area.height() < kCellHeightPx) {
    draw_thin_pixels(p, client, surface, area);
    return;
  }
  const int c0 = floor_div(area.left, kCellWidthPx), c1 = ceil_div(area.right, kCellWidthPx);
  const int r0 = floor_div(area.top, kCellHeightPx), r1 = ceil_div(area.bottom, kCellHeightPx);
  constexpr int kTopRows = kCellHeightPx / 2;
  for (int r = r0; r < r1; ++r) {
    for (int c = c0; c < c1; ++c) {
      const int col = client.col + c, row = client.row + r;
      if (!p.visible(col, row)) continue;
      const int x = c * kCellWidthPx, y = r * kCellHeightPx;
      const Cell old = p.at(col, row);
      const std::uint8_t old_top = old.ch == kUpperHalf ? old.fg : old.bg;
      auto top = average(surface, area, x, y, x + kCellWidthPx, y + kTopRows);
      auto bottom = average(surface, area, x, y + kTopRows, x + kCellWidthPx, y + kCellHeightPx);
      const std::uint8_t t = top ? nearest_colour(*top) : old_top;
      const std::uint8_t b = bottom ? nearest_colour(*bottom) : old.bg;
      if (t == b) p.put(col, row, U' ', kBlack, b);
      else p.put(col, row, kUpperHalf, t, b);
    }
  }
}

std::uint8_t window_background(const Window& w) {
  for (const platform::PaintOp& op : w.paint_record().ops)
    if (op.kind == platform::PaintOp::Kind::Fill) return nearest_colour(op.colour);
  return nearest_colour(platform::RGB(192, 192, 192));
}

// The paint record: fills, blits (from the surface) and texts, in order.
void draw_record(Painter& p, const CellRect& client, const Window& w) {
  for (const platform::PaintOp& op : w.paint_record().ops) {
    const Rect px{op.x, op.y, op.x + op.width, op.y + op.height};
    switch (op.kind) {
      case platform::PaintOp::Kind::Fill: {
        CellRect r = to_cells(px);
        r.col += client.col;
        r.row += client.row;
        p.fill(r, kBlack, nearest_colour(op.colour));
        break;
      }
      case platform::PaintOp::Kind::Blit:
        draw_pixels(p, client, w.surface(), px);
        break;
      case platform::PaintOp::Kind::Text: {
        const int col = client.col + floor_div(op.x, kCellWidthPx);
        const int row = client.row + floor_div(op.y, kCellHeightPx);
        const std::uint8_t attr = op.font.weight >= 700 ? kAttrBold : kAttrNone;
        const int bg = op.transparent ? -1 : nearest_colour(op.background);
        p.text(col, row, decode_utf8(op.text), nearest_colour(op.colour), bg, attr);
        break;
      }
    }
  }
}

void draw_box(Painter& p, const CellRect& r, std::uint8_t fg, std::uint8_t bg) {
  if (r.cols < 2 || r.rows < 2) return;
  const int right = r.right() - 1, bottom = r.bottom() - 1;
  for (int c = r.col + 1; c < right; ++c) {
    p.put(c, r.row, U'─', fg, bg);
    p.put(c, bottom, U'─', fg, bg);
  }
  for (int row = r.row + 1; row < bottom; ++row) {
    p.put(r.col, row, U'│', fg, bg);
    p.put(right, row, U'│', fg, bg);
  }
  p.put(r.col, r.row, U'┌', fg, bg);
  p.put(right, r.row, U'┐', fg, bg);
  p.put(r.col, bottom, U'└', fg, bg);
  p.put(right, bottom, U'┘', fg, bg);
}

struct ControlContext {
  CellRect client;
  std::uint8_t background;
  bool active;  // the window takes keys
  platform::HWND focus;
  const Window* window;  // the controls' parent
};

// Client rows next to control `self` (cells of the client area) that no
// other visible control covers in the columns [col, end): up to `wanted` of
// them, going down (step 1) or up (step -1) from the control.
int free_rows(const Window& w, const Control& self, int col, int end, int step, int wanted) {
  const CellRect me = to_cells(self.rect());
  const CellRect client = to_cells(w.screen_rect());
  int found = 0;
  for (int row = step > 0 ? me.bottom() : me.row - 1; found < wanted; row += step) {
    if (row < 0 || row >= client.rows) break;
    for (platform::HWND h : w.children()) {
      const auto* c = platform::window_cast<Control>(h);
      if (!c || c == &self || !c->is_visible() || c->type() == ControlType::Picture) continue;
      const CellRect r = to_cells(c->rect());
      if (row >= r.row && row < r.bottom() && r.col < end && r.right() > col) return found;
    }
    ++found;
  }
  return found;
}

// The control drawn flashing now (Overlay::flash), for this render.
platform::HWND g_flash = 0;
constexpr std::uint8_t kFlashBackground = 196;  // red
constexpr std::uint8_t kNoticeBackground = 226;  // yellow

bool is_framed(const Window& w) {
  return w.kind() != platform::WindowKind::Plain || (w.style() & platform::WS_CAPTION) != 0;
}

void draw_button(Painter& p, const platform::Button& b, const CellRect& r, const ControlContext& cx) {
  const bool focused = cx.active && cx.focus == b.hwnd();
  const std::uint8_t fg = b.is_enabled() ? kBlack : kGrey;
  const Label label = parse_label(b.text());
  const int row = r.row + (r.rows - 1) / 2;
  switch (b.type()) {
    case ControlType::PushButton: {
      const std::uint8_t bfg = focused ? kWhite : fg;
      const std::uint8_t bbg = focused ? kCaption : cx.background;
      const std::uint8_t attr = b.is_default() ? kAttrBold : kAttrNone;
      for (int c = r.col; c < r.right(); ++c) p.put(c, row, U' ', bfg, bbg, attr);
      p.put(r.col, row, U'[', bfg, bbg, attr);
      p.put(r.right() - 1, row, U']', bfg, bbg, attr);
      const int room = std::max(0, r.cols - 4);
      const int len = std::min(room, static_cast<int>(label.text.size()));
      const int start = r.col + 2 + (room - len) / 2;
      draw_label(p, start, row, label, bfg, bbg, attr, room);
      if (focused) p.set_cursor(start, row);
      break;
    }
    case ControlType::CheckBox:
    case ControlType::RadioButton: {
      const bool radio = b.type() == ControlType::RadioButton;
      char32_t mark = U' ';
      if (b.check() == platform::BST_CHECKED) mark = radio ? U'*' : U'X';
      else if (b.check() == platform::BST_INDETERMINATE) mark = U'-';
      p.put(r.col, row, radio ? U'(' : U'[', fg, cx.background);
      p.put(r.col + 1, row, mark, fg, cx.background);
      p.put(r.col + 2, row, radio ? U')' : U']', fg, cx.background);
      const std::uint8_t lfg = focused ? kWhite : fg;
      const int lbg = focused ? kCaption : -1;
      const int room = std::max(0, r.cols - 4);
      // A label wider than its box (cells are wider than the letters of the
      // dialog's font) takes the free rows above the box (the rows below may
      // be out of a scrolled view), else below it.
      std::vector<std::u32string> lines;
      int first_row = row;
      if (static_cast<int>(label.text.size()) > room && room > 8 && cx.window) {
        lines = wrap(label.text, room);
        const int extra = static_cast<int>(lines.size()) - 1;
        const int col0 = r.col - cx.client.col;
        const int above = free_rows(*cx.window, b, col0, col0 + r.cols, -1, extra);
        const int below = above < extra ? free_rows(*cx.window, b, col0, col0 + r.cols, 1, extra - above) : 0;
        if (below + above < extra) lines.clear();
        else first_row = row - above;
      }
      if (lines.size() > 1) {
        if (first_row != row) {
          for (int c = 0; c < 3; ++c) p.put(r.col + c, row, U' ', fg, cx.background);
          p.put(r.col, first_row, radio ? U'(' : U'[', fg, cx.background);
          p.put(r.col + 1, first_row, mark, fg, cx.background);
          p.put(r.col + 2, first_row, radio ? U')' : U']', fg, cx.background);
        }
        int start = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
          const int at = static_cast<int>(label.text.find(lines[i], static_cast<std::size_t>(start)));
          Label part{lines[i], -1};
          if (at >= 0 && label.mnemonic >= at && label.mnemonic < at + static_cast<int>(lines[i].size()))
            part.mnemonic = label.mnemonic - at;
          if (at >= 0) start = at + static_cast<int>(lines[i].size());
          draw_label(p, r.col + 4, first_row + static_cast<int>(i), part, lfg, lbg, kAttrNone, room);
        }
      } else {
        draw_label(p, r.col + 4, row, label, lfg, lbg, kAttrNone, room);
      }
      if (focused) p.set_cursor(r.col + 1, first_row);
      break;
    }
    case ControlType::GroupBox: {
      draw_box(p, r, fg, cx.background);
      if (!label.text.empty()) {
        Label padded{U" " + label.text + U" ", label.mnemonic >= 0 ? label.mnemonic + 1 : -1};
        draw_label(p, r.col + 1, r.row, padded, fg, cx.background, kAttrNone, std::max(0, r.cols - 2));
      }
      break;
    }
    default:
      break;  // owner-drawn buttons come from the surface
  }
}

void draw_static(Painter& p, const platform::StaticControl& s, const CellRect& r, const ControlContext& cx) {
  if (s.type() != ControlType::Static) return;  // pictures come from the surface
  const std::uint8_t fg = s.is_enabled() ? kBlack : kGrey;
  // The message text of a box is shown as it is, as SS_NOPREFIX does.
  const bool prefix = s.id() != platform::MessageBoxWindow::kTextId;
  Label label = parse_label(s.text(), prefix);
  const auto lines = wrap(label.text, r.cols);
  const std::uint32_t align = s.style() & platform::SS_TYPEMASK;
  int consumed = 0;
  for (int i = 0; i < static_cast<int>(lines.size()) && i < r.rows; ++i) {
    std::u32string line = lines[static_cast<std::size_t>(i)];
    // More lines than rows: the last row says that text is missing.
    if (i == r.rows - 1 && static_cast<int>(lines.size()) > r.rows) {
      if (static_cast<int>(line.size()) >= r.cols) line.resize(static_cast<std::size_t>(std::max(0, r.cols - 1)));
      line += U"…";
    }
    const int len = static_cast<int>(line.size());
    int col = r.col;
    if (align == platform::SS_CENTER) col += (r.cols - len) / 2;
    else if (align == platform::SS_RIGHT) col += r.cols - len;
    Label part{line, -1};
    // The mnemonic is underlined where it landed after wrapping.
    const int found =
        static_cast<int>(label.text.find(lines[static_cast<std::size_t>(i)], static_cast<std::size_t>(consumed)));
    if (label.mnemonic >= 0 && found >= 0 && label.mnemonic >= found && label.mnemonic < found + len)
      part.mnemonic = label.mnemonic - found;
    if (found >= 0) consumed = found + len;
    draw_label(p, col, r.row + i, part, fg, cx.background, kAttrNone, r.cols);
  }
}

// What a multi-line edit showed last: its first line, where the caret was,
// and how many lines it has and shows (for scrolling a read-only text).
struct EditView {
  bool seen = false;
  int top = 0;
  int caret = 0;
  int lines = 0;
  int rows = 0;
};
std::map<platform::HWND, EditView>& edit_views() {
  static std::map<platform::HWND, EditView> views;
  return views;
}

// A one-line field showing `text` scrolled so that `caret` is visible, with
// [sel0, sel1) highlighted.
void draw_field(Painter& p, const CellRect& r, int row, int width, const std::u32string& text, int caret, int sel0,
                int sel1, std::uint8_t fg, std::uint8_t bg, bool focused) {
  if (width <= 0) return;
  // Columns, not characters: a wide character takes two. The first
  // character shown is the one that keeps the caret's column inside.
  const int size = static_cast<int>(text.size());
  int first = caret, used = 1;  // the caret's own cell
  while (first > 0 && used + cell_width(text[static_cast<std::size_t>(first - 1)]) <= width) {
    --first;
    used += cell_width(text[static_cast<std::size_t>(first)]);
  }
  for (int i = 0; i < width; ++i) p.put(r.col + i, row, U' ', fg, bg);
  int col = 0, caret_col = -1;
  for (int idx = first; idx <= size && col < width; ++idx) {
    if (idx == caret) caret_col = col;
    if (idx == size) break;
    const char32_t ch = text[static_cast<std::size_t>(idx)];
    const int w = cell_width(ch);
    if (col + w > width) break;
    const bool selected = focused && idx >= sel0 && idx < sel1;
    p.put(r.col + col, row, ch < 0x20 ? U' ' : ch, selected ? kWhite : fg, selected ? kCaption : bg);
    col += w;
  }
  if (focused) p.set_cursor(r.col + std::min(std::max(caret_col, 0), width - 1), row);
}

void draw_edit(Painter& p, const platform::Edit& e, const CellRect& r, const ControlContext& cx) {
  const bool focused = cx.active && cx.focus == e.hwnd();
  const bool live = e.is_enabled() && !e.is_read_only();
  const std::uint8_t fg = e.is_enabled() ? kBlack : kGrey;
  const std::uint8_t bg = live ? kField : cx.background;
  const std::u32string text = decode_utf8(e.display_text());
  // Selection and caret count characters of the text, as the edit does.
  const int size = static_cast<int>(text.size());
  const int caret = std::clamp(e.sel_end(), 0, size);
  const int s0 = std::clamp(std::min(e.sel_start(), e.sel_end()), 0, size);
  const int s1 = std::clamp(std::max(e.sel_start(), e.sel_end()), 0, size);
  if (!e.is_multi_line()) {
    draw_field(p, r, r.row, r.cols, text, caret, s0, s1, fg, bg, focused);
    return;
  }
  p.fill(r, fg, bg);
  // Multi-line: a frame, the text wrapped at blanks, a scroll bar when it is
  // longer than the box. The view starts at the top and follows the caret
  // only when the caret moves.
  CellRect area = r;
  if (r.rows >= 3 && r.cols >= 6) {
    draw_box(p, r, focused ? kCaption : kGrey, bg);
    area = {r.col + 1, r.row + 1, r.cols - 2, r.rows - 2};
  }
  std::vector<std::pair<int, int>> spans = wrap_spans(text, std::max(1, area.cols));
  if (static_cast<int>(spans.size()) > area.rows && area.cols > 2) {
    area.cols -= 1;  // room for the scroll bar
    spans = wrap_spans(text, area.cols);
  }
  const int total = static_cast<int>(spans.size());
  int caret_line = 0;
  for (int i = 0; i < total; ++i)
    if (caret >= spans[static_cast<std::size_t>(i)].first) caret_line = i;
  EditView& view = edit_views()[e.hwnd()];
  // A read-only text has no caret to follow: its keys scroll it
  // (scroll_focused_text).
  if (view.seen && view.caret != caret && !e.is_read_only()) {
    if (caret_line < view.top) view.top = caret_line;
    if (caret_line >= view.top + area.rows) view.top = caret_line - area.rows + 1;
  }
  view.seen = true;
  view.caret = caret;
  view.lines = total;
  view.rows = area.rows;
  view.top = std::clamp(view.top, 0, std::max(0, total - area.rows));
  const int first = view.top;
  for (int i = 0; i < area.rows && first + i < total; ++i) {
    const auto [start, len] = spans[static_cast<std::size_t>(first + i)];
    for (int k = 0; k < len && k < area.cols; ++k) {
      const int idx = start + k;
      const char32_t ch = text[static_cast<std::size_t>(idx)];
      const bool selected = focused && idx >= s0 && idx < s1;
      p.put(area.col + k, area.row + i, ch < 0x20 ? U' ' : ch, selected ? kWhite : fg, selected ? kCaption : bg);
    }
  }
  if (total > area.rows) {
    const int bar = area.right();
    for (int i = 0; i < area.rows; ++i) p.put(bar, area.row + i, U'░', kGrey, kSelectedIdle);
    if (area.rows >= 3) {
      const int track = area.rows - 2;
      const int span = std::max(1, total - area.rows);
      const int thumb = area.row + 1 + (track - 1) * first / span;
      p.put(bar, thumb, U'█', kGrey, kSelectedIdle);
      p.put(bar, area.row, U'▲', kBlack, kSelectedIdle);
      p.put(bar, area.row + area.rows - 1, U'▼', kBlack, kSelectedIdle);
    }
  }
  if (focused && e.is_read_only()) {
    p.set_cursor(area.col, area.row);
  } else if (focused && caret_line >= first && caret_line < first + area.rows) {
    const auto [start, len] = spans[static_cast<std::size_t>(caret_line)];
    (void)len;
    p.set_cursor(area.col + std::min(caret - start, area.cols - 1), area.row + caret_line - first);
  } else if (focused) {
    // The caret is out of view (the text was selected, the view kept its
    // place): the cursor still shows which control has the focus.
    p.set_cursor(area.col, area.row);
  }
}

void draw_combo(Painter& p, const platform::ComboBox& cb, const CellRect& r, const ControlContext& cx) {
  const bool focused = cx.active && cx.focus == cb.hwnd();
  const std::uint8_t fg = cb.is_enabled() ? kBlack : kGrey;
  const std::uint8_t bg = cb.is_enabled() ? kField : cx.background;
  const int width = std::max(1, r.cols - 1);
  const std::u32string text = decode_utf8(cb.text());
  if (cb.has_edit()) {
    const int caret = static_cast<int>(text.size());
    draw_field(p, r, r.row, width, text, caret, caret, caret, fg, bg, focused);
  } else {
    // A drop-down list shows its choice highlighted while it has the focus.
    const std::uint8_t tfg = focused ? kWhite : fg;
    const std::uint8_t tbg = focused ? kCaption : bg;
    for (int i = 0; i < width; ++i) p.put(r.col + i, r.row, U' ', tfg, tbg);
    p.text(r.col, r.row, text, tfg, tbg, kAttrNone, width);
    if (focused) p.set_cursor(r.col, r.row);
  }
  if (r.cols > 1) p.put(r.right() - 1, r.row, U'▼', kBlack, kSelectedIdle);
}

void draw_list(Painter& p, const platform::ListBox& l, const CellRect& r, const ControlContext& cx) {
  const bool focused = cx.active && cx.focus == l.hwnd();
  const std::uint8_t fg = l.is_enabled() ? kBlack : kGrey;
  const std::uint8_t bg = l.is_enabled() ? kField : cx.background;
  const int rows = std::max(1, std::min(r.rows, l.visible_rows() > 0 ? l.visible_rows() : r.rows));
  CellRect area{r.col, r.row, r.cols, rows};
  p.fill(area, fg, bg);
  // The last page is full: the rows here may be fewer than the list's own.
  const int top = std::clamp(l.top_index(), 0, std::max(0, l.count() - rows));
  const bool scrolls = l.count() > rows;
  const int width = scrolls ? r.cols - 1 : r.cols;
  int cursor_row = r.row;
  for (int i = 0; i < rows; ++i) {
    const int index = top + i;
    if (index >= l.count()) break;
    const bool selected = index == l.cur_sel();
    std::uint8_t ifg = fg, ibg = bg;
    if (selected) {
      ifg = focused ? kWhite : kBlack;
      ibg = focused ? kCaption : kSelectedIdle;
      cursor_row = r.row + i;
      for (int c = 0; c < width; ++c) p.put(r.col + c, r.row + i, U' ', ifg, ibg);
    }
    p.text(r.col, r.row + i, decode_utf8(l.item_text(index)), ifg, ibg, kAttrNone, width);
  }
  if (scrolls) {
    for (int i = 0; i < rows; ++i) p.put(r.right() - 1, r.row + i, U'░', kGrey, kSelectedIdle);
    if (top > 0) p.put(r.right() - 1, r.row, U'▲', kBlack, kSelectedIdle);
    if (top + rows < l.count()) p.put(r.right() - 1, r.row + rows - 1, U'▼', kBlack, kSelectedIdle);
  }
  if (focused) p.set_cursor(r.col, cursor_row);
}

void draw_control(Painter& p, const Control& c, const ControlContext& cx) {
  if (!c.is_visible()) return;
  CellRect r = to_cells(c.rect());
  r.col += cx.client.col;
  r.row += cx.client.row;
  if (auto* b = dynamic_cast<const platform::Button*>(&c)) draw_button(p, *b, r, cx);
  else if (auto* s = dynamic_cast<const platform::StaticControl*>(&c)) draw_static(p, *s, r, cx);
  else if (auto* e = dynamic_cast<const platform::Edit*>(&c)) draw_edit(p, *e, r, cx);
  else if (auto* cb = dynamic_cast<const platform::ComboBox*>(&c)) draw_combo(p, *cb, r, cx);
  else if (auto* l = dynamic_cast<const platform::ListBox*>(&c)) draw_list(p, *l, r, cx);
  if (c.hwnd() == g_flash && g_flash != 0) {
    for (int row = r.row; row < r.bottom(); ++row)
      for (int col = r.col; col < r.right(); ++col)
        if (p.visible(col, row)) p.grid().recolour(col, row, kWhite, kFlashBackground);
  }
}

// The icon of a message box, in the place its template keeps for it.
void draw_icon(Painter& p, const platform::MessageBoxWindow& box, const CellRect& client) {
  const char32_t* glyph = nullptr;
  std::uint8_t fg = kWhite, bg = kCaption;
  switch (box.icon()) {
    case platform::MessageIcon::Stop: glyph = U" X "; bg = nearest_colour(platform::RGB(255, 0, 0)); break;
    case platform::MessageIcon::Exclamation:
      glyph = U" ! ";
      fg = kBlack;
      bg = nearest_colour(platform::RGB(255, 255, 0));
      break;
    case platform::MessageIcon::Information: glyph = U" i "; bg = nearest_colour(platform::RGB(0, 0, 255)); break;
    case platform::MessageIcon::Question: glyph = U" ? "; bg = nearest_colour(platform::RGB(0, 0, 255)); break;
    default: return;
  }
  // The icon sits at 8, 8 dialog units.
  const int col = client.col + round_div(platform::dlu_to_px_x(8), kCellWidthPx);
  const int row = client.row + round_div(platform::dlu_to_px_y(8), kCellHeightPx);
  p.text(col, row, glyph, fg, bg, kAttrBold);
}

// Draws window `w` with its client area at `client` (cells of `grid`).
void draw_window(CellGrid& grid, const Window& w, const CellRect& client, bool active, platform::HWND focus,
                 bool shadow = true) {
  const std::uint8_t bg = window_background(w);
  Painter screen(grid, {0, 0, grid.cols(), grid.rows()});
  const bool framed = is_framed(w);
  if (framed) {
    const CellRect frame{client.col - 1, client.row - 1, client.cols + 2, client.rows + 2};
    if (shadow) {
      // Shadow to the right and below.
      for (int row = frame.row + 1; row <= frame.bottom(); ++row)
        for (int col = frame.right(); col < frame.right() + 2; ++col) grid.recolour(col, row, kGrey, kBlack);
      for (int col = frame.col + 2; col < frame.right(); ++col) grid.recolour(col, frame.bottom(), kGrey, kBlack);
    }
    draw_box(screen, frame, kBlack, bg);
    const std::uint8_t cap_fg = active ? kWhite : kSelectedIdle;
    const std::uint8_t cap_bg = active ? kCaption : kGrey;
    for (int col = frame.col; col < frame.right(); ++col) screen.put(col, frame.row, U' ', cap_fg, cap_bg, kAttrBold);
    screen.text(frame.col + 1, frame.row, decode_utf8(w.text()), cap_fg, cap_bg, kAttrBold,
                std::max(0, frame.cols - 2));
  }
  Painter inside(grid, client);
  inside.fill(client, kBlack, bg);
  draw_record(inside, client, w);
  if (auto* box = dynamic_cast<const platform::MessageBoxWindow*>(&w)) draw_icon(inside, *box, client);
  const ControlContext cx{client, bg, active, focus, &w};
  for (platform::HWND h : w.children())
    if (auto* c = platform::window_cast<Control>(h)) draw_control(inside, *c, cx);
}

// ---------------------------------------------------------------- viewport
//
// A window taller than the terminal keeps its caption on the first row and
// its button row on the last ones; the rows between scroll so that the
// focused control and its label are in view, with arrows on the frame where
// rows are out of view.

// Rows of the client area that hold the lowest push buttons: [first, end).
// They stay on screen, with the bottom border; the blank rows below them do
// not. None (client_rows, client_rows) without push buttons.
std::pair<int, int> button_band(const Window& w, int client_rows) {
  int first = -1, end = -1;
  for (platform::HWND h : w.children()) {
    auto* b = platform::window_cast<platform::Button>(h);
    if (!b || !b->is_visible() || b->type() != ControlType::PushButton) continue;
    const CellRect r = to_cells(b->rect());
    if (r.row > first) first = r.row, end = r.bottom();
    else if (r.row == first) end = std::max(end, r.bottom());
  }
  if (first < 0) return {client_rows, client_rows};
  return {std::min(first, client_rows), std::min(end, client_rows)};
}

// Client rows that should be in view: the focused control with the label
// before it (the static text that names it).
std::optional<std::pair<int, int>> focus_rows(const Window& w, platform::HWND focus) {
  const auto& kids = w.children();
  for (std::size_t i = 0; i < kids.size(); ++i) {
    if (kids[i] != focus) continue;
    const auto* c = platform::window_cast<Control>(kids[i]);
    if (!c) return std::nullopt;
    CellRect r = to_cells(c->rect());
    int top = r.row, bottom = r.bottom();
    for (std::size_t k = i; k-- > 0;) {
      const auto* label = platform::window_cast<Control>(kids[k]);
      if (!label || !label->is_visible()) continue;
      if (label->type() == ControlType::Static) {
        const CellRect lr = to_cells(label->rect());
        if (lr.bottom() >= top - 2 && lr.row <= bottom) {
          top = std::min(top, lr.row);
          bottom = std::max(bottom, lr.bottom());
        }
      }
      break;
    }
    return std::make_pair(top, bottom);
  }
  return std::nullopt;
}

// What a scrolled window showed last, kept between frames: the view follows
// the focus when the focus moves or its control changes, and otherwise
// stays where the user scrolled it (PageUp, PageDown).
struct WindowView {
  int offset = 0;
  int view_rows = 0;  // 0: the window is not scrolled
  int content_rows = 0;
  bool opening = true;  // no key since the window opened
  platform::HWND focus = 0;
  std::string focus_state;
};
std::map<platform::HWND, WindowView>& window_views() {
  static std::map<platform::HWND, WindowView> views;
  return views;
}

// What of the focused control moves the view when it changes: its text and,
// for an edit, its caret.
std::string focus_state_of(platform::HWND focus) {
  const auto* c = platform::window_cast<Control>(focus);
  if (!c) return {};
  std::string state = c->text();
  if (auto* e = dynamic_cast<const platform::Edit*>(c)) state += "\x01" + std::to_string(e->sel_end());
  if (auto* b = dynamic_cast<const platform::Button*>(c)) state += "\x01" + std::to_string(b->check());
  return state;
}

// The last client row that shows something besides the decoration (pictures,
// owner-drawn separators) and the button row: rows below it are blank.
int last_content_row(const Window& w, int band_first) {
  int last = 0;
  for (platform::HWND h : w.children()) {
    const auto* c = platform::window_cast<Control>(h);
    if (!c || !c->is_visible() || c->type() == ControlType::Picture || c->type() == ControlType::OwnerDraw) continue;
    const CellRect r = to_cells(c->rect());
    if (r.row >= band_first) continue;
    last = std::max(last, r.bottom());
  }
  for (const platform::PaintOp& op : w.paint_record().ops)
    if (op.kind == platform::PaintOp::Kind::Text) last = std::max(last, floor_div(op.y, kCellHeightPx) + 1);
  return std::min(last, band_first);
}

// The window scrolled into `grid`: drawn whole into a grid of its own, then
// copied row by row.
void draw_window_scrolled(CellGrid& grid, const Window& w, bool active, platform::HWND focus) {
  const CellRect model = to_cells(w.screen_rect());
  CellGrid off(model.cols + 2, model.rows + 2, Cell{U' ', kBlack, kDesktop, kAttrNone});
  draw_window(off, w, {1, 1, model.cols, model.rows}, active, focus, false);
  // Rows of `off`: 0 caption, 1.. client, last the bottom border.
  const auto [first, end] = button_band(w, model.rows);
  std::vector<int> band;
  for (int r = first; r < end; ++r) band.push_back(1 + r);
  band.push_back(off.rows() - 1);
  const int band_top = 1 + first;
  const int band_rows = static_cast<int>(band.size());
  const int view_rows = std::max(1, grid.rows() - 1 - band_rows);
  const int content_rows = last_content_row(w, first);
  WindowView& view = window_views()[w.hwnd()];
  int& offset = view.offset;
  const std::string state = focus_state_of(focus);
  // A window opens at its top, so its heading is read first (the arrow
  // says there is more); from the first key on, the view follows the focus
  // when the focus moves or its control changes.
  const bool follow = !view.opening && (view.view_rows == 0 || focus != view.focus || state != view.focus_state);
  view.focus = focus;
  view.focus_state = state;
  view.view_rows = view_rows;
  view.content_rows = content_rows;
  if (auto span = focus_rows(w, focus); span && follow) {
    const int top = span->first, bottom = std::min(span->second, content_rows);
    if (top < content_rows) {
      if (bottom - offset > view_rows) offset = bottom - view_rows;
      if (top < offset) offset = top;
    }
  }
  offset = std::clamp(offset, 0, std::max(0, content_rows - view_rows));
  const int col0 = std::clamp(model.col - 1, 0, std::max(0, grid.cols() - off.cols()));
  auto copy_row = [&](int from, int to) {
    for (int c = 0; c < off.cols(); ++c) grid.set(col0 + c, to, off.at(c, from));
  };
  copy_row(0, 0);
  for (int r = 0; r < view_rows; ++r) {
    const int from = 1 + offset + r;
    if (from < band_top) copy_row(from, 1 + r);
  }
  for (int r = 0; r < band_rows; ++r) copy_row(band[static_cast<std::size_t>(r)], 1 + view_rows + r);
  // Arrows on the right border say that rows are out of view.
  const int right = col0 + off.cols() - 1;
  if (offset > 0) grid.put(right, 1, U'▲', kWhite, kCaption, kAttrBold);
  if (offset + view_rows < content_rows) grid.put(right, view_rows, U'▼', kWhite, kCaption, kAttrBold);
  // The cursor, where its row is on screen.
  if (off.cursor.visible) {
    const int row = off.cursor.row;
    int to = -1;
    if (row == 0) to = 0;
    else if (row >= band_top && row - band_top < band_rows - 1) to = 1 + view_rows + (row - band_top);
    else if (row - 1 - offset >= 0 && row - 1 - offset < view_rows) to = row - offset;
    if (to >= 0) grid.cursor = {col0 + off.cursor.col, to, true};
  }
  // Shadow to the right of the visible frame.
  for (int row = 1; row < grid.rows(); ++row)
    for (int col = col0 + off.cols(); col < col0 + off.cols() + 2; ++col) grid.recolour(col, row, kGrey, kBlack);
}

}  // namespace

bool screen_too_small(int cols, int rows) { return cols < kMinCols || rows < kMinRows; }

void render_too_small(CellGrid& grid) {
  grid.fill(0, 0, grid.cols(), grid.rows(), Cell{U' ', kWhite, kDesktop, kAttrNone});
  grid.cursor = {};
  const std::string text = "The terminal is too small: the sign-up needs at least " + std::to_string(kMinCols) +
                           " x " + std::to_string(kMinRows) + " characters (this one is " +
                           std::to_string(grid.cols()) + " x " + std::to_string(grid.rows()) +
                           "). Make it larger to go on.";
  const auto lines = wrap(decode_utf8(text), std::max(1, grid.cols() - 2));
  const int first = std::max(0, (grid.rows() - static_cast<int>(lines.size())) / 2);
  Painter p(grid, {0, 0, grid.cols(), grid.rows()});
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const int col = std::max(0, (grid.cols() - static_cast<int>(lines[i].size())) / 2);
    p.text(col, first + static_cast<int>(i), lines[i], kWhite, kDesktop, kAttrBold);
  }
}

bool scroll_view(platform::HWND window, int pages) {
  auto it = window_views().find(window);
  if (it == window_views().end() || it->second.view_rows == 0) return false;
  WindowView& v = it->second;
  const int last = std::max(0, v.content_rows - v.view_rows);
  const int offset = std::clamp(v.offset + pages * std::max(1, v.view_rows - 1), 0, last);
  if (offset == v.offset) return false;
  v.offset = offset;
  // The view stays here until the focus moves or its control changes.
  v.focus = platform::get_focus();
  v.focus_state = focus_state_of(v.focus);
  return true;
}

void note_key() {
  // The first key after a window opened brings its focus into view, unless
  // that key scrolls the window itself (scroll_view).
  for (auto& [hwnd, view] : window_views()) {
    if (!view.opening) continue;
    view.opening = false;
    view.focus = 0;
  }
}

bool scroll_focused_text(const Input& input) {
  if (input.kind != Input::Kind::Key) return false;
  const auto* e = platform::window_cast<platform::Edit>(platform::get_focus());
  if (!e || !e->is_multi_line() || !e->is_read_only() || !e->is_visible()) return false;
  auto it = edit_views().find(e->hwnd());
  if (it == edit_views().end() || !it->second.seen) return false;
  EditView& v = it->second;
  const int last = std::max(0, v.lines - v.rows);
  const int page = std::max(1, v.rows - 1);
  int top = v.top;
  switch (input.key) {
    case platform::Key::Up: top -= 1; break;
    case platform::Key::Down: top += 1; break;
    case platform::Key::PageUp: top -= page; break;
    case platform::Key::PageDown: top += page; break;
    case platform::Key::Home: top = 0; break;
    case platform::Key::End: top = last; break;
    case platform::Key::Left:
    case platform::Key::Right: return true;  // nothing to the side: wrapped
    default: return false;
  }
  top = std::clamp(top, 0, last);
  const bool page_key = input.key == platform::Key::PageUp || input.key == platform::Key::PageDown;
  if (top == v.top) return !page_key;
  v.top = top;
  return true;
}

void render_screen(CellGrid& grid, const Overlay& overlay) {
  grid.fill(0, 0, grid.cols(), grid.rows(), Cell{U' ', kBlack, kDesktop, kAttrNone});
  grid.cursor = {};
  g_flash = overlay.flash;
  const auto windows = platform::top_level_windows();
  for (platform::HWND h : windows) platform::paint_window(h);
  const platform::HWND active = platform::active_window();
  const platform::HWND focus = platform::get_focus();
  std::map<platform::HWND, WindowView> kept;
  for (platform::HWND h : windows) {
    const Window* w = platform::window_from_handle(h);
    if (!w || !w->is_visible()) continue;
    CellRect client = to_cells(w->screen_rect());
    const int border = is_framed(*w) ? 1 : 0;
    if (client.rows + 2 * border > grid.rows()) {
      draw_window_scrolled(grid, *w, h == active, focus);
      kept[h] = window_views()[h];
      continue;
    }
    // A window that fits is moved onto the screen where it would stick out.
    client.col = std::clamp(client.col, border, std::max(border, grid.cols() - client.cols - border));
    client.row = std::clamp(client.row, border, std::max(border, grid.rows() - client.rows - border));
    draw_window(grid, *w, client, h == active, focus);
  }
  window_views() = std::move(kept);
  for (auto it = edit_views().begin(); it != edit_views().end();)
    it = platform::window_from_handle(it->first) ? std::next(it) : edit_views().erase(it);
  g_flash = 0;
  if (!overlay.notice.empty() && grid.rows() > 0) {
    // One row at the bottom, over whatever is there, until the next key.
    const int row = grid.rows() - 1;
    Painter p(grid, {0, 0, grid.cols(), grid.rows()});
    for (int col = 0; col < grid.cols(); ++col) p.put(col, row, U' ', kBlack, kNoticeBackground, kAttrBold);
    p.text(1, row, decode_utf8(overlay.notice), kBlack, kNoticeBackground, kAttrBold, std::max(0, grid.cols() - 2));
  }
}

}  // namespace display
