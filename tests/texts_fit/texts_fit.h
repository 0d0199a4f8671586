// Checks that the terminal display shows a dialog's texts whole: every
// label, check box, radio button, push button and group caption is painted
// with all its words, and every label that ends in ":" sits on the row of
// the field beside it. Header-only, for the tests of the components that
// own dialog templates; they link display_terminal.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "display/cell_grid.h"
#include "display/terminal.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/window.h"

namespace texts_fit {

constexpr int kCols = 100;
constexpr int kRows = 40;

// The words of a text as it reads on screen: mnemonic marks removed ("&&"
// stays one "&"), blanks and line breaks collapsed.
inline std::string shown_words(const std::string& text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;
    plain += text[i];
  }
  std::istringstream in(plain);
  std::string word, out;
  while (in >> word) out += (out.empty() ? "" : " ") + word;
  return out;
}

// v / d to the nearest integer, halves up (positions here are not negative).
inline int nearest(int v, int d) { return (v + d / 2) / d; }

// The grid's text over the cells a control covers, rows joined by blanks,
// blanks collapsed. The display places a control at its rectangle in the
// dialog rounded to cells, from the dialog's own rounded cell.
inline std::string text_over(const display::CellGrid& grid, const platform::Window& dialog,
                             const platform::Window& control) {
  const platform::Rect d = dialog.screen_rect();
  const platform::Rect px = control.rect();
  const int c0 = std::max(0, nearest(d.left, display::kCellWidthPx) + nearest(px.left, display::kCellWidthPx));
  const int r0 = std::max(0, nearest(d.top, display::kCellHeightPx) + nearest(px.top, display::kCellHeightPx));
  const int c1 = std::min(grid.cols(), c0 + std::max(1, nearest(px.right - px.left, display::kCellWidthPx)));
  const int r1 = std::min(grid.rows(), r0 + std::max(1, nearest(px.bottom - px.top, display::kCellHeightPx)));
  std::string joined;
  for (int r = r0; r < r1; ++r) {
    std::string row;
    for (int c = c0; c < c1; ++c) display::append_utf8(row, grid.at(c, r).ch);
    joined += row + " ";
  }
  return shown_words(joined);
}

inline bool shows_text(platform::ControlType type) {
  using platform::ControlType;
  switch (type) {
    case ControlType::Static:
    case ControlType::GroupBox:
    case ControlType::PushButton:
    case ControlType::CheckBox:
    case ControlType::RadioButton: return true;
    default: return false;
  }
}

// Opens template `id` as a plain dialog in the middle of a kCols x kRows
// screen, shows the controls `shown_at_run_time` that the template hides,
// paints it, and checks every visible text. Returns the number of texts
// checked.
inline int expect_texts_whole(int id, const std::string& caption, const std::vector<int>& shown_at_run_time) {
  platform::set_screen_size(kCols * display::kCellWidthPx, kRows * display::kCellHeightPx);
  platform::Dialog dialog(id);
  const platform::HWND hwnd = dialog.create_modeless(0);
  if (hwnd == 0) {
    ADD_FAILURE() << caption << ": the dialog was not made";
    return 0;
  }
  platform::centre_window(hwnd);
  platform::show_window(hwnd, platform::SW_SHOW);
  for (int item : shown_at_run_time) platform::show_window(platform::get_dlg_item(hwnd, item), platform::SW_SHOW);
  display::CellGrid grid(kCols, kRows);
  display::render_screen(grid);
  int checked = 0;
  for (platform::HWND child : dialog.children()) {
    const auto* control = platform::window_cast<platform::Control>(child);
    if (control == nullptr || !control->is_visible() || !shows_text(control->type())) continue;
    const std::string words = shown_words(control->text());
    if (words.empty()) continue;
    ++checked;
    const std::string shown = text_over(grid, dialog, *control);
    EXPECT_NE(shown.find(words), std::string::npos)
        << caption << ": \"" << words << "\" is cut: \"" << shown << "\"\n"
        << grid.dump_text();
  }
  platform::destroy_window(hwnd);
  return checked;
}

// Checks that each label ending in ":" is on the row of the edit or combo
// box beside it (less than a row above or below, to its right). Returns the
// number of such labels.
inline int expect_labels_by_fields(int id, const std::string& caption) {
  using platform::ControlType;
  platform::Dialog dialog(id);
  const platform::HWND hwnd = dialog.create_modeless(0);
  if (hwnd == 0) {
    ADD_FAILURE() << caption << ": the dialog was not made";
    return 0;
  }
  platform::show_window(hwnd, platform::SW_SHOW);
  int matched = 0;
  for (platform::HWND l : dialog.children()) {
    const auto* label = platform::window_cast<platform::Control>(l);
    if (label == nullptr || !label->is_visible() || label->type() != ControlType::Static) continue;
    const std::string words = shown_words(label->text());
    if (words.empty() || words.back() != ':') continue;
    const platform::Rect lr = label->rect();
    const platform::Control* field = nullptr;
    for (platform::HWND f : dialog.children()) {
      const auto* c = platform::window_cast<platform::Control>(f);
      if (c == nullptr || !c->is_visible() || (c->type() != ControlType::Edit && c->type() != ControlType::ComboBox))
        continue;
      // A combo box's rectangle holds its drop-down list: only its top
      // (the field) counts.
      const platform::Rect fr = c->rect();
      if (fr.left < lr.right - 2 * display::kCellWidthPx) continue;
      if (std::abs(fr.top - lr.top) > display::kCellHeightPx) continue;
      if (field == nullptr || std::abs(fr.top - lr.top) < std::abs(field->rect().top - lr.top) ||
          (fr.top == field->rect().top && fr.left < field->rect().left))
        field = c;
    }
    if (field == nullptr) continue;
    ++matched;
    EXPECT_EQ(nearest(lr.top, display::kCellHeightPx), nearest(field->rect().top, display::kCellHeightPx))
        << caption << ": \"" << words << "\" is not on the row of its field";
  }
  platform::destroy_window(hwnd);
  return matched;
}

}  // namespace texts_fit
