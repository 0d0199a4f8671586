// Cell grid: what the terminal renderer draws, before any terminal sees it.
//
// The renderer paints the window model into a CellGrid (a character, two
// colours and attributes per cell) and only then copies the grid to the
// terminal, so tests compare grids instead of escape sequences.
//
// Colours are indices of the xterm 256-colour palette. The renderer only
// uses 16..255 (the 6 x 6 x 6 cube and the grey ramp), whose values every
// 256-colour terminal agrees on; on terminals with fewer colours the output
// step maps each index to the nearest colour the terminal has.
//
// Index: Cell and its attributes, CellGrid, palette helpers, the text and
// colour dumps that tests store as expected grids.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/bitmap.h"

namespace display {

enum CellAttr : std::uint8_t {
  kAttrNone = 0,
  kAttrBold = 1,
  kAttrUnderline = 2,
  kAttrReverse = 4,
};

struct Cell {
  char32_t ch = U' ';
  std::uint8_t fg = 16;  // black
  std::uint8_t bg = 16;
  std::uint8_t attr = kAttrNone;
  bool operator==(const Cell&) const = default;
};

struct CursorPos {
  int col = 0;
  int row = 0;
  bool visible = false;
  bool operator==(const CursorPos&) const = default;
};

class CellGrid {
 public:
  CellGrid() = default;
  CellGrid(int cols, int rows, Cell fill = {});

  int cols() const { return cols_; }
  int rows() const { return rows_; }
  void resize(int cols, int rows, Cell fill = {});
  bool inside(int col, int row) const { return col >= 0 && row >= 0 && col < cols_ && row < rows_; }

  // Cells outside the grid read as a blank cell and ignore writes.
  const Cell& at(int col, int row) const;
  void set(int col, int row, const Cell& cell);
  // Character, colours and attributes of one cell (clipped); a wide
  // character fills this cell and the next (a blank where no next one is).
  void put(int col, int row, char32_t ch, std::uint8_t fg, std::uint8_t bg, std::uint8_t attr = kAttrNone);
  // Colours of a cell, keeping its character.
  void recolour(int col, int row, std::uint8_t fg, std::uint8_t bg);
  void fill(int col, int row, int width, int height, const Cell& cell);
  // Writes UTF-8 `text` from (col, row), at most `max_cols` cells (-1: to the
  // edge); returns the number of cells written.
  int text(int col, int row, std::string_view text, std::uint8_t fg, std::uint8_t bg,
           std::uint8_t attr = kAttrNone, int max_cols = -1);

  CursorPos cursor;

  // One line per row in UTF-8, trailing blanks removed; a wide character
  // is written once.
  std::string dump_text() const;
  // One letter per cell naming its colours and attributes, then a legend
  // ("a: fg 16 bg 250 bold") and the cursor; letters go by first appearance.
  std::string dump_colours() const;

  bool operator==(const CellGrid&) const = default;

 private:
  int cols_ = 0;
  int rows_ = 0;
  std::vector<Cell> cells_;
};

// A wide character (CJK, most emoji) takes two cells: the character, then a
// cell holding kWideTail. Writing anything over either half leaves the
// other as a blank on the terminal.
constexpr char32_t kWideTail = 0;
// Cells a character takes on a terminal: 2 for East Asian wide and full-width
// characters and emoji, else 1.
int cell_width(char32_t ch);

// Decodes UTF-8; a byte that starts no valid sequence stands for itself
// (Latin-1), so no input is lost or rejected.
std::u32string decode_utf8(std::string_view text);
void append_utf8(std::string& out, char32_t ch);

// The xterm palette: red, green, blue of index 0..255.
platform::COLORREF palette_rgb(int index);
// Nearest palette index among 16..255 (squared distance in RGB).
std::uint8_t nearest_colour(platform::COLORREF colour);
// Nearest of the first `count` palette entries (8 or 16) to index `index`.
int nearest_basic(int index, int count);

}  // namespace display
