// How single controls look on the grid: the cases the sample page does not show.
#include <gtest/gtest.h>

#include <sstream>

#include "display/terminal.h"
#include "platform/loop/clock.h"
#include "platform/ui/dialog.h"
#include "platform/ui/user_input.h"
#include "platform/ui/window.h"

namespace {

using display::CellGrid;
using namespace platform;

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override { set_screen_size(40 * display::kCellWidthPx, 12 * display::kCellHeightPx); }

  // Shows a 160 x 64 dialog (40 x 8 cells) at the top-left of the screen,
  // with its client area starting at cell (1, 1).
  HWND show(std::vector<ControlTemplate> controls) {
    DialogTemplate t;
    t.id = 0;
    t.caption = "Test";
    t.rect = {0, 0, 152, 64};
    t.controls = std::move(controls);
    dialog = std::make_unique<Dialog>(std::move(t));
    const HWND h = dialog->create_modeless(0);
    move_window(h, {6, 13, 6 + dlu_to_px_x(152), 13 + dlu_to_px_y(64)});
    show_window(h, SW_SHOW);
    return h;
  }
  CellGrid render() {
    CellGrid g(40, 12);
    display::render_screen(g);
    return g;
  }
  // Text of one grid row, between columns [from, to).
  static std::string row(const CellGrid& g, int r, int from = 1, int to = 39) {
    std::string s;
    for (int c = from; c < to; ++c)
      if (g.at(c, r).ch != display::kWideTail) display::append_utf8(s, g.at(c, r).ch);
    return s;
  }

  ScopedVirtualClock clock;
  std::unique_ptr<Dialog> dialog;
};

TEST_F(ControlsTest, MultiLineEditWrapsAtBlanksStartsAtTheTopAndHasAScrollBar) {
  show({dlg::edit(10, 0, 0, 80, 48, ES_MULTILINE | ES_READONLY)});
  Edit* e = dialog->edit(10);
  e->set_text("one two three four five six seven\r\neight\r\nnine ten\r\neleven\r\ntwelve");
  // The dialog manager selects all of it, caret at the end: the view still
  // opens at the top.
  dialog->goto_control(10);
  CellGrid g = render();
  // 20 x 6 cells: a frame, then 17 columns of text and the scroll bar.
  EXPECT_EQ(row(g, 1, 1, 21), "┌──────────────────┐");
  EXPECT_EQ(row(g, 2, 2, 19), "one two three    ");
  EXPECT_EQ(row(g, 3, 2, 19), "four five six    ");
  EXPECT_EQ(row(g, 4, 2, 19), "seven            ");
  EXPECT_EQ(row(g, 5, 2, 19), "eight            ");
  EXPECT_EQ(g.at(19, 2).ch, U'▲');
  EXPECT_EQ(g.at(19, 3).ch, U'█') << "the thumb at the top";
  EXPECT_EQ(g.at(19, 5).ch, U'▼');
  EXPECT_EQ(g.at(2, 2).bg, display::colours::kCaption) << "all of it selected";
  // Read-only: the dialog's grey, not the white of a field. End scrolls it
  // to its last line; it has no caret, the cursor marks its first row.
  display::Input end;
  end.kind = display::Input::Kind::Key;
  end.key = Key::End;
  EXPECT_TRUE(display::scroll_focused_text(end));
  g = render();
  EXPECT_EQ(g.at(10, 2).bg, display::nearest_colour(RGB(192, 192, 192)));
  EXPECT_EQ(row(g, 2, 2, 19), "eight            ");
  EXPECT_EQ(row(g, 5, 2, 19), "twelve           ");
  EXPECT_EQ(g.at(19, 4).ch, U'█') << "the thumb at the bottom";
  EXPECT_EQ(g.cursor, (display::CursorPos{2, 2, true}));
  // An edit that takes text: the view follows its caret.
  e->set_read_only(false);
  press_key(Key::Home);
  g = render();
  EXPECT_EQ(row(g, 2, 2, 19), "one two three    ");
  press_key(Key::End);
  g = render();
  EXPECT_EQ(row(g, 5, 2, 19), "twelve           ");
  EXPECT_EQ(g.cursor, (display::CursorPos{8, 5, true}));
}

// A read-only text of 12 lines in 4 rows: its keys scroll it, the thumb
// follows, and PageUp/PageDown at an end are left for the page.
TEST_F(ControlsTest, ReadOnlyTextScrollsByItsKeys) {
  show({dlg::edit(10, 0, 0, 80, 48, ES_MULTILINE | ES_READONLY)});
  std::string text;
  for (int i = 1; i <= 12; ++i) text += "line " + std::to_string(i) + (i < 12 ? "\r\n" : "");
  dialog->edit(10)->set_text(text);
  dialog->goto_control(10);
  render();
  struct Step {
    Key key;
    bool ctrl;
    bool taken;
    int first;      // number of the line on the first row
    int thumb_row;  // row of the scroll bar's thumb
  };
  // Rows 2 to 5 show the text; the bar's track is rows 3 and 4.
  const Step steps[] = {
      {Key::Down, false, true, 2, 3},      {Key::Up, false, true, 1, 3},     {Key::Up, false, true, 1, 3},
      {Key::PageDown, false, true, 4, 3},  {Key::PageDown, false, true, 7, 3}, {Key::PageDown, false, true, 9, 4},
      {Key::PageDown, false, false, 9, 4}, {Key::Down, false, true, 9, 4},   {Key::PageUp, false, true, 6, 3},
      {Key::Home, false, true, 1, 3},      {Key::PageUp, false, false, 1, 3}, {Key::End, false, true, 9, 4},
      {Key::Home, true, true, 1, 3},       {Key::End, true, true, 9, 4},     {Key::Left, false, true, 9, 4},
  };
  int n = 0;
  for (const Step& step : steps) {
    display::Input in;
    in.kind = display::Input::Kind::Key;
    in.key = step.key;
    in.ctrl = step.ctrl;
    const std::string what = "step " + std::to_string(n++) + " " + key_name(step.key) + (step.ctrl ? " with Ctrl" : "");
    EXPECT_EQ(display::scroll_focused_text(in), step.taken) << what;
    const CellGrid g = render();
    EXPECT_EQ(row(g, 2, 2, 9), "line " + std::to_string(step.first) + (step.first < 10 ? " " : "")) << what;
    EXPECT_EQ(g.at(19, step.thumb_row).ch, U'█') << what << "\n" << g.dump_text();
  }
  EXPECT_EQ(dialog->edit(10)->sel_end(), dialog->edit(10)->length()) << "the caret never moved";
  // Keys that are not for it, and a focus elsewhere, are left alone.
  display::Input enter;
  enter.kind = display::Input::Kind::Key;
  enter.key = Key::Enter;
  EXPECT_FALSE(display::scroll_focused_text(enter));
  show({dlg::edit(10, 0, 0, 80, 48, ES_MULTILINE)});
  dialog->edit(10)->set_text(text);
  dialog->goto_control(10);
  render();
  display::Input down;
  down.kind = display::Input::Kind::Key;
  down.key = Key::Down;
  EXPECT_FALSE(display::scroll_focused_text(down)) << "an edit that takes text moves its caret instead";
}

TEST_F(ControlsTest, ShortMultiLineTextHasNoScrollBarAndAWordLongerThanTheLineIsCut) {
  show({dlg::edit(10, 0, 0, 40, 32, ES_MULTILINE)});
  dialog->edit(10)->set_text("abcdefghijkl mn");
  const CellGrid g = render();
  // 10 x 4 cells: 8 x 2 inside the frame.
  EXPECT_EQ(row(g, 2, 2, 10), "abcdefgh");
  EXPECT_EQ(row(g, 3, 2, 10), "ijkl mn ");
  EXPECT_EQ(g.dump_text().find("░"), std::string::npos);
}

TEST_F(ControlsTest, LabelsThatDoNotFitEndWithAnEllipsis) {
  show({dlg::checkbox("Di&sable Call Waiting with:", 10, 0, 0, 60, 8),
        dlg::ltext("one two three four five six", 11, 0, 16, 40, 16),
        dlg::ltext("Fits", 12, 0, 40, 40, 8)});
  const CellGrid g = render();
  // 15 cells: the box and 11 of the label's cells.
  EXPECT_EQ(row(g, 1, 1, 16), "[ ] Disable Ca…");
  // Two rows of ten cells for three lines of text.
  EXPECT_EQ(row(g, 3, 1, 11), "one two   ");
  EXPECT_EQ(row(g, 4, 1, 11), "three fou…");
  EXPECT_EQ(row(g, 6, 1, 11), "Fits      ");
}

// A check box label wider than its box takes the free rows above it, then
// below it; never rows of another control.
TEST_F(ControlsTest, ACheckBoxLabelTooWideForItsBoxTakesFreeRows) {
  show({dlg::ltext("Top", 9, 0, 0, 40, 8), dlg::checkbox("&Don't use this Init String", 10, 0, 16, 60, 8),
        dlg::ltext("Below", 11, 0, 40, 40, 8), dlg::ltext("Above", 12, 80, 0, 40, 8),
        dlg::checkbox("Last one here at the end", 13, 80, 32, 60, 8), dlg::ltext("Under", 14, 80, 40, 40, 8)});
  const CellGrid g = render();
  // 15 cells: the box and 11 for the label. One row is free above it
  // ("Top" is above that), the second comes from below.
  EXPECT_EQ(row(g, 1, 1, 16), "Top            ");
  EXPECT_EQ(row(g, 2, 1, 16), "[ ] Don't use  ");
  EXPECT_EQ(row(g, 3, 1, 16), "    this Init  ");
  EXPECT_EQ(row(g, 4, 1, 16), "    String     ");
  EXPECT_EQ(g.at(5, 2).attr, display::kAttrUnderline) << "the mnemonic where it landed";
  EXPECT_EQ(row(g, 6, 1, 16), "Below          ");
  // The second one has two free rows above it.
  EXPECT_EQ(row(g, 1, 21, 36), "Above          ");
  EXPECT_EQ(row(g, 3, 21, 36), "[ ] Last one   ");
  EXPECT_EQ(row(g, 4, 21, 36), "    here at the");
  EXPECT_EQ(row(g, 5, 21, 36), "    end        ");
  EXPECT_EQ(row(g, 6, 21, 36), "Under          ");
}

TEST_F(ControlsTest, PasswordShowsStarsAndSelectionIsHighlighted) {
  show({dlg::edit(10, 0, 0, 40, 8, ES_PASSWORD | ES_AUTOHSCROLL)});
  Edit* e = dialog->edit(10);
  e->set_text("secret");
  dialog->goto_control(10);  // selects all of it
  const CellGrid g = render();
  EXPECT_EQ(row(g, 1, 1, 11), "******    ");
  EXPECT_EQ(g.at(1, 1).bg, display::colours::kCaption);
  EXPECT_EQ(g.at(7, 1).bg, display::colours::kField);
  EXPECT_EQ(g.dump_text().find("secret"), std::string::npos);
}

TEST_F(ControlsTest, LongEditTextScrollsToTheCaret) {
  show({dlg::edit(10, 0, 0, 24, 8, ES_AUTOHSCROLL)});
  Edit* e = dialog->edit(10);
  dialog->goto_control(10);
  e->user_type("abcdefghijkl");
  const CellGrid g = render();
  // 6 cells: the last five characters and the caret after them.
  EXPECT_EQ(row(g, 1, 1, 7), "hijkl ");
  EXPECT_EQ(g.cursor, (display::CursorPos{6, 1, true}));
}

TEST_F(ControlsTest, WideCharactersTakeTwoCellsAndNeverSpillOutOfTheField) {
  show({dlg::edit(10, 0, 0, 24, 8, ES_AUTOHSCROLL), dlg::ltext("東京都", 11, 0, 16, 40, 8)});
  Edit* e = dialog->edit(10);
  dialog->goto_control(10);
  e->user_type("a東京都千代");
  const CellGrid g = render();
  // Six cells: the caret's after the last character, and as many whole
  // characters before it as fit in the other five.
  EXPECT_EQ(row(g, 1, 1, 7), "千代  ");
  EXPECT_EQ(g.at(7, 1).ch, U' ') << "the cell after the field is the dialog's";
  EXPECT_EQ(g.cursor, (display::CursorPos{5, 1, true}));
  EXPECT_EQ(g.at(1, 1).ch, U'千');
  EXPECT_EQ(g.at(2, 1).ch, display::kWideTail);
  EXPECT_EQ(row(g, 3, 1, 11), "東京都    ");
  EXPECT_EQ(display::cell_width(U'a'), 1);
  EXPECT_EQ(display::cell_width(U'é'), 1);
  EXPECT_EQ(display::cell_width(U'🏠'), 2);
}

TEST_F(ControlsTest, DisabledAndHiddenControls) {
  show({dlg::pushbutton("&Go", 10, 0, 0, 40, 8).disabled(), dlg::ltext("Hidden", 11, 0, 16, 40, 8).hidden(),
        dlg::rtext("Right", 12, 0, 32, 40, 8), dlg::ctext("Mid", 13, 80, 32, 40, 8)});
  const CellGrid g = render();
  EXPECT_EQ(row(g, 1, 1, 11), "[   Go   ]");
  EXPECT_EQ(g.at(5, 1).fg, display::colours::kGrey);
  EXPECT_EQ(g.at(5, 1).attr, display::kAttrUnderline);  // the mnemonic
  EXPECT_EQ(g.dump_text().find("Hidden"), std::string::npos);
  EXPECT_EQ(row(g, 5, 1, 11), "     Right");
  EXPECT_EQ(row(g, 5, 21, 31), "   Mid    ");
}

TEST_F(ControlsTest, ListScrollMarksFollowTheTopIndex) {
  show({dlg::listbox(10, 0, 0, 40, 24).with_items({"a", "b", "c", "d", "e"})});
  ListBox* l = dialog->list(10);
  CellGrid g = render();
  EXPECT_EQ(g.at(10, 1).ch, U'░');
  EXPECT_EQ(g.at(10, 3).ch, U'▼');
  l->set_cur_sel(4);
  l->set_top_index(2);
  g = render();
  EXPECT_EQ(g.at(10, 1).ch, U'▲');
  EXPECT_EQ(g.at(10, 3).ch, U'░');
  EXPECT_EQ(row(g, 3, 1, 3), "e ");
  EXPECT_EQ(g.at(1, 3).bg, display::colours::kCaption);  // selected in the focused list
  EXPECT_EQ(g.cursor, (display::CursorPos{1, 3, true}));
}

}  // namespace

namespace {

// A page as tall as the wizard's (300 x 239 dialog units: 75 x 30 cells)
// with fields down to its button row.
class TallPage : public ::testing::Test {
 protected:
  void show(int cols, int rows) {
    set_screen_size(cols * display::kCellWidthPx, rows * display::kCellHeightPx);
    DialogTemplate t;
    t.id = 0;
    t.caption = "Tall Page";
    t.rect = {0, 0, 300, 239};
    for (int i = 0; i < 10; ++i) {
      t.controls.push_back(dlg::ltext("Field " + std::to_string(i) + ":", IDC_STATIC, 8, 8 + i * 18, 60, 8));
      t.controls.push_back(dlg::edit(100 + i, 80, 6 + i * 18, 80, 12));
    }
    t.controls.push_back(dlg::pushbutton("< &Back", 3000, 100, 216, 50, 14));
    t.controls.push_back(dlg::defpushbutton("&Next >", 3031, 150, 216, 50, 14));
    dialog = std::make_unique<Dialog>(std::move(t));
    const HWND h = dialog->create_modeless(0);
    centre_window(h);
    show_window(h, SW_SHOW);
    grid = CellGrid(cols, rows);
  }
  std::string text() {
    display::render_screen(grid);
    return grid.dump_text();
  }
  std::string line(int r) {
    std::string s;
    for (int c = 0; c < grid.cols(); ++c) display::append_utf8(s, grid.at(c, r).ch);
    return s;
  }
  ScopedVirtualClock clock;
  std::unique_ptr<Dialog> dialog;
  CellGrid grid;
};

TEST_F(TallPage, At80x24TheCaptionAndButtonsStayAndTheViewFollowsTheFocus) {
  show(80, 24);
  text();
  EXPECT_NE(line(0).find("Tall Page"), std::string::npos) << grid.dump_text();
  EXPECT_NE(line(21).find("< Back"), std::string::npos) << grid.dump_text();
  EXPECT_NE(line(23).find("└"), std::string::npos);
  EXPECT_NE(grid.dump_text().find("Field 0:"), std::string::npos);
  EXPECT_EQ(grid.dump_text().find("Field 9:"), std::string::npos);
  EXPECT_NE(line(20).find("▼"), std::string::npos) << "rows below are out of view";
  // The last field takes the focus: it comes into view with its label; the
  // caption and the buttons stay.
  // The page opened at its top; after a key the view follows the focus.
  display::note_key();
  dialog->goto_control(109);
  dialog->edit(109)->user_type("typed");
  const std::string after = text();
  EXPECT_NE(line(0).find("Tall Page"), std::string::npos);
  EXPECT_NE(line(21).find("Next >"), std::string::npos);
  bool together = false;
  for (int r = 1; r < 21; ++r) together = together || (line(r).find("Field 9:") != std::string::npos &&
                                                         line(r).find("typed") != std::string::npos);
  EXPECT_TRUE(together) << after;
  EXPECT_TRUE(grid.cursor.visible);
  EXPECT_NE(line(1).find("▲"), std::string::npos) << "rows above are out of view";
}

TEST_F(TallPage, PageDownScrollsAwayFromTheFocusUntilTheFocusMoves) {
  show(80, 24);
  text();
  EXPECT_EQ(grid.dump_text().find("Field 9:"), std::string::npos);
  ASSERT_TRUE(display::scroll_view(dialog->hwnd(), 1));
  text();
  EXPECT_NE(grid.dump_text().find("Field 9:"), std::string::npos) << grid.dump_text();
  EXPECT_EQ(grid.dump_text().find("Field 0:"), std::string::npos);
  EXPECT_EQ(grid.dump_text().find("▼"), std::string::npos) << "nothing more below the last field";
  text();
  EXPECT_NE(grid.dump_text().find("Field 9:"), std::string::npos) << "the view stays where it was scrolled";
  // Typing into the focused first field brings it back into view.
  display::note_key();
  dialog->edit(100)->user_type("x");
  text();
  EXPECT_NE(grid.dump_text().find("Field 0:"), std::string::npos);
  EXPECT_FALSE(display::scroll_view(0, 1));
}

TEST_F(TallPage, APageWithItsFocusBelowTheFoldOpensAtItsTopUntilAKey) {
  show(80, 24);
  dialog->goto_control(109);
  text();
  EXPECT_NE(grid.dump_text().find("Field 0:"), std::string::npos) << "the page opens at its top\n" << grid.dump_text();
  EXPECT_EQ(grid.dump_text().find("Field 9:"), std::string::npos);
  EXPECT_NE(line(20).find("▼"), std::string::npos) << "the mark says there is more below";
  text();
  EXPECT_NE(grid.dump_text().find("Field 0:"), std::string::npos) << "it stays there while no key comes";
  // A key moves the focus away and back: the view follows it.
  display::note_key();
  press_key(Key::Tab);
  text();
  press_key(Key::BackTab);
  text();
  EXPECT_NE(grid.dump_text().find("Field 9:"), std::string::npos) << grid.dump_text();
  EXPECT_TRUE(grid.cursor.visible);
}

TEST_F(TallPage, A32RowTerminalShowsThePageWholeOnScreen) {
  show(80, 32);
  text();
  EXPECT_NE(line(0).find("Tall Page"), std::string::npos) << grid.dump_text();
  EXPECT_NE(grid.dump_text().find("Field 9:"), std::string::npos);
  EXPECT_NE(grid.dump_text().find("< Back"), std::string::npos);
}

// One message with the one minimum, whatever the size, wrapped to the
// width it has.
TEST_F(TallPage, TooSmallATerminalSaysWhatIsNeeded) {
  const std::string need = "needs at least 80 x 24 characters";
  struct Size {
    int cols, rows;
    bool small;
  };
  for (const Size& size : {Size{60, 20, true}, Size{80, 8, true}, Size{40, 24, true}, Size{79, 24, true},
                           Size{80, 23, true}, Size{80, 24, false}, Size{100, 40, false}}) {
    const std::string what = std::to_string(size.cols) + "x" + std::to_string(size.rows);
    EXPECT_EQ(display::screen_too_small(size.cols, size.rows), size.small) << what;
    if (!size.small) continue;
    grid = CellGrid(size.cols, size.rows);
    display::render_too_small(grid);
    std::string words;
    std::istringstream in(grid.dump_text());
    for (std::string word; in >> word;) words += (words.empty() ? "" : " ") + word;
    EXPECT_NE(words.find(need), std::string::npos) << what << "\n" << grid.dump_text();
    EXPECT_NE(words.find("(this one is " + std::to_string(size.cols) + " x " + std::to_string(size.rows) + ")"),
              std::string::npos)
        << what << "\n" << grid.dump_text();
    EXPECT_FALSE(grid.cursor.visible);
  }
}

}  // namespace
