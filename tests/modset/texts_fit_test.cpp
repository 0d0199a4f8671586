// Every label, check box, radio button, push button and group caption of the
// library's dialogs shows whole when the terminal display paints it at
// 100 x 40: a text that does not fit its cells is cut there without a word.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "display/cell_grid.h"
#include "display/terminal.h"
#include "platform/clock.h"
#include "platform/controls.h"
#include "platform/dialog.h"
#include "platform/window.h"
#include "ui_resources.h"

using namespace platform;

namespace {

constexpr int kCols = 100;
constexpr int kRows = 40;

// The words of a control's text as it reads on screen: mnemonic marks
// removed ("&&" stays one "&"), blanks and line breaks collapsed.
std::string shown_words(const std::string& text) {
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
int nearest(int v, int d) { return (v + d / 2) / d; }

// The grid's text over the cells a control covers, rows joined by blanks,
// blanks collapsed. The display places a control at its rectangle in the
// dialog rounded to cells, from the dialog's own rounded cell.
std::string text_over(const display::CellGrid& grid, const Window& dialog, const Window& control) {
  const Rect d = dialog.screen_rect();
  const Rect px = control.rect();
  const int c0 = std::max(0, nearest(d.left, display::kCellWidthPx) + nearest(px.left, display::kCellWidthPx));
  const int r0 = std::max(0, nearest(d.top, display::kCellHeightPx) + nearest(px.top, display::kCellHeightPx));
  const int c1 = std::min(kCols, c0 + std::max(1, nearest(px.right - px.left, display::kCellWidthPx)));
  const int r1 = std::min(kRows, r0 + std::max(1, nearest(px.bottom - px.top, display::kCellHeightPx)));
  std::string joined;
  for (int r = r0; r < r1; ++r) {
    std::string row;
    for (int c = c0; c < c1; ++c) display::append_utf8(row, grid.at(c, r).ch);
    joined += row + " ";
  }
  return shown_words(joined);
}

bool shows_text(ControlType type) {
  switch (type) {
    case ControlType::Static:
    case ControlType::GroupBox:
    case ControlType::PushButton:
    case ControlType::CheckBox:
    case ControlType::RadioButton: return true;
    default: return false;
  }
}

struct Shown {
  int dialog;
  const char* caption;
  std::vector<int> shown_at_run_time;  // hidden in the template, shown by the dialog
  int labelled_fields;                 // fields with a "...:" label beside them
};

class ModsetTexts : public ::testing::TestWithParam<Shown> {
 protected:
  void SetUp() override {
    set_screen_size(kCols * display::kCellWidthPx, kRows * display::kCellHeightPx);
    modset::register_cfg_templates();
  }
  ScopedVirtualClock clock_;
};

TEST_P(ModsetTexts, EveryTextShowsWhole) {
  Dialog dialog(GetParam().dialog);
  const HWND hwnd = dialog.create_modeless(0);
  ASSERT_NE(hwnd, 0u);
  centre_window(hwnd);
  show_window(hwnd, SW_SHOW);
  for (int id : GetParam().shown_at_run_time) show_window(get_dlg_item(hwnd, id), SW_SHOW);
  display::CellGrid grid(kCols, kRows);
  display::render_screen(grid);
  int checked = 0;
  for (HWND child : dialog.children()) {
    const auto* control = window_cast<Control>(child);
    if (control == nullptr || !control->is_visible() || !shows_text(control->type())) continue;
    const std::string words = shown_words(control->text());
    if (words.empty()) continue;
    ++checked;
    EXPECT_NE(text_over(grid, dialog, *control).find(words), std::string::npos)
        << GetParam().caption << ": \"" << words << "\" is cut: \"" << text_over(grid, dialog, *control)
        << "\"\n"
        << grid.dump_text();
  }
  EXPECT_GT(checked, 0);
  destroy_window(hwnd);
}

// A label that ends in ":" is on the row of the field to its right (the
// edit or combo box beside it, less than a row above or below).
TEST_P(ModsetTexts, LabelsShareTheRowOfTheirFields) {
  Dialog dialog(GetParam().dialog);
  const HWND hwnd = dialog.create_modeless(0);
  ASSERT_NE(hwnd, 0u);
  show_window(hwnd, SW_SHOW);
  int matched = 0;
  for (HWND l : dialog.children()) {
    const auto* label = window_cast<Control>(l);
    if (label == nullptr || !label->is_visible() || label->type() != ControlType::Static) continue;
    const std::string words = shown_words(label->text());
    if (words.empty() || words.back() != ':') continue;
    const Rect lr = label->rect();
    const Control* field = nullptr;
    for (HWND f : dialog.children()) {
      const auto* c = window_cast<Control>(f);
      if (c == nullptr || !c->is_visible() ||
          (c->type() != ControlType::Edit && c->type() != ControlType::ComboBox))
        continue;
      // A combo box's rectangle holds its drop-down list: only its top
      // (the field) counts.
      const Rect fr = c->rect();
      if (fr.left < lr.right - 2 * display::kCellWidthPx) continue;
      if (std::abs(fr.top - lr.top) > display::kCellHeightPx) continue;
      if (field == nullptr || std::abs(fr.top - lr.top) < std::abs(field->rect().top - lr.top) ||
          (fr.top == field->rect().top && fr.left < field->rect().left))
        field = c;
    }
    if (field == nullptr) continue;
    ++matched;
    EXPECT_EQ(nearest(lr.top, display::kCellHeightPx), nearest(field->rect().top, display::kCellHeightPx))
        << GetParam().caption << ": \"" << words << "\" is not on the row of its field";
  }
  EXPECT_EQ(matched, GetParam().labelled_fields);
  destroy_window(hwnd);
}

INSTANTIATE_TEST_SUITE_P(Dialogs, ModsetTexts,
                         ::testing::Values(Shown{modset::IDD_CFG_MODEM, "Set Up Modem", {modset::IDC_CFG_PHONE_NUMBERS}, 4},
                                           Shown{modset::IDD_CFG_ADVANCED, "Advanced Modem Setup", {}, 2},
                                           Shown{modset::IDD_CFG_SEARCH, "Searching for modem", {}, 0},
                                           Shown{modset::IDD_CFG_LINE, "Choose Phone Line Settings", {}, 2},
                                           Shown{modset::IDD_CFG_SELECT, "Select a Modem", {}, 0},
                                           Shown{modset::IDD_CFG_ZRS, "Tarkel Network Phone Number", {}, 0},
                                           Shown{modset::IDD_CFG_NSV, "Internet Services Access Phone Number", {}, 4},
                                           Shown{modset::IDD_CFG_HELP, "Modem Settings Help", {}, 0}),
                         [](const auto& info) { return "dialog_" + std::to_string(info.param.dialog); });

}  // namespace
