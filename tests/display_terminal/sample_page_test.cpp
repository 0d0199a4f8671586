// The sample page as the terminal display paints it, compared with stored
// grids, and the page driven by terminal keys.
#include <curses.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "display/terminal.h"
#include "platform/loop/clock.h"
#include "platform/ui/message_box.h"
#include "platform/ui/window.h"
#include "sample_page.h"

namespace {

using display::CellGrid;
using namespace platform;

constexpr int kCols = 100;
constexpr int kRows = 40;

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Compares `actual` with data/NAME; VLR_UPDATE_GOLDEN=1 rewrites the file.
void expect_stored(const std::string& actual, const std::string& name) {
  const std::string path = std::string(VLR_TEST_DATA_DIR) + "/" + name;
  if (std::getenv("VLR_UPDATE_GOLDEN")) {
    std::ofstream(path) << actual;
    return;
  }
  const std::string expected = read_text(path);
  ASSERT_FALSE(expected.empty()) << "no stored grid " << path << " (run with VLR_UPDATE_GOLDEN=1 to make it)";
  if (expected == actual) return;
  std::istringstream e(expected), a(actual);
  std::string el, al;
  for (int line = 1;; ++line) {
    const bool more_e = static_cast<bool>(std::getline(e, el));
    const bool more_a = static_cast<bool>(std::getline(a, al));
    if (!more_e && !more_a) break;
    if (el != al || more_e != more_a) {
      ADD_FAILURE() << name << " differs first at line " << line << "\nexpected: \"" << el << "\"\nactual:   \""
                    << al << "\"\nwhole grid:\n"
                    << actual;
      return;
    }
  }
}

void expect_grid(const CellGrid& grid, const std::string& name) {
  expect_stored(grid.dump_text(), name + ".txt");
  expect_stored(grid.dump_colours(), name + ".colours.txt");
}

// Feeds one terminal key to the model as the display does.
bool key(std::uint32_t value, bool code = false) {
  return display::deliver_input(display::decode_key(code, value));
}
void type(const std::string& s) {
  for (char c : s) key(static_cast<unsigned char>(c));
}

class SamplePageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_screen_size(kCols * display::kCellWidthPx, kRows * display::kCellHeightPx);
    sample::register_templates();
    page.on_message = [this](const std::string& m) { messages.push_back(m); };
    page.on_end = [this] { ended = true; };
    ASSERT_NE(page.create_modeless(0), 0u);
    centre_window(page.hwnd());
    show_window(page.hwnd(), SW_SHOW);
  }

  CellGrid render() {
    CellGrid grid(kCols, kRows);
    display::render_screen(grid);
    return grid;
  }

  // Runs `inside` while a message box is up, then ends the loop.
  void with_message_box(const std::string& text, const std::string& caption, unsigned type,
                        std::function<void()> inside) {
    MessageLoop& loop = MessageLoop::current();
    loop.set_thread_timer(1, [&, inside](TimerId id) {
      MessageLoop::current().kill_thread_timer(id);
      MessageLoop::current().set_thread_timer(1, [inside](TimerId id2) {
        MessageLoop::current().kill_thread_timer(id2);
        inside();
      });
      message_box(page.hwnd(), text, caption, type);
      post_quit_message(0);
    });
    loop.run();
  }

  ScopedVirtualClock clock;
  sample::SamplePage page;
  std::vector<std::string> messages;
  bool ended = false;
};

TEST_F(SamplePageTest, PageMatchesStoredGrid) {
  type("jane doe");
  key('\t');
  key(KEY_DOWN, true);
  key(KEY_DOWN, true);
  key('\t');
  key(KEY_DOWN, true);  // Cash
  key('\t');
  key(' ');  // news
  key('\t');
  key('\t');  // past the port to Back
  key('\t');  // Next
  EXPECT_EQ(get_dlg_ctrl_id(get_focus()), sample::kNext);
  expect_grid(render(), "sample_page");
}

TEST_F(SamplePageTest, MessageBoxOnTopMatchesStoredGrid) {
  type("jane doe");
  key('\t');
  key(KEY_DOWN, true);
  CellGrid seen;
  with_message_box("Please enter no more than 12 characters.", "Entry error", MB_OK | MB_ICONEXCLAMATION, [&] {
    seen = render();
    key('\r');
  });
  expect_grid(seen, "sample_page_box");
  // The box is centred over the page and drawn on top of it.
  const CellGrid after = render();
  EXPECT_EQ(after.dump_text().find("Entry error"), std::string::npos);
  EXPECT_NE(seen.dump_text().find("Please enter no more than 12 characters."), std::string::npos);
}

TEST_F(SamplePageTest, PictureIsDrawnWithHalfBlocksInItsColours) {
  const CellGrid grid = render();
  // The picture starts at 4, 24 dialog units in the page's client area; its
  // top rows are sky.
  const Rect page_px = window_from_handle(page.hwnd())->screen_rect();
  const int col = (page_px.left + 3) / 6 + 1, row = (page_px.top + 6) / 13 + 3;
  EXPECT_EQ(grid.at(col, row).bg, display::nearest_colour(RGB(0, 128, 255)));
  // Somewhere a half block mixes two colours of the picture.
  bool mixed = false;
  for (int r = row; r < row + 16; ++r)
    for (int c = col; c < col + 16; ++c) mixed = mixed || grid.at(c, r).ch == U'\u2580';
  EXPECT_TRUE(mixed);
}

TEST_F(SamplePageTest, EditShowsTypedTextUpperCasedWithinItsLimitAndTheCursorAtTheCaret) {
  type("jane q public-smith");
  const Edit* e = page.edit(sample::kName);
  EXPECT_EQ(e->text(), "JANE Q PUBLI");  // the limit of 12
  CellGrid grid = render();
  ASSERT_TRUE(grid.cursor.visible);
  const std::string row = grid.dump_text().substr(0);  // whole grid
  EXPECT_NE(row.find("JANE Q PUBLI"), std::string::npos);
  // The cursor sits right after the text.
  EXPECT_EQ(grid.at(grid.cursor.col - 1, grid.cursor.row).ch, U'I');
  key(127);  // Backspace
  key(KEY_LEFT, true);
  key(KEY_LEFT, true);
  type("x");
  EXPECT_EQ(e->text(), "JANE Q PUXBL");
  grid = render();
  EXPECT_EQ(grid.at(grid.cursor.col, grid.cursor.row).ch, U'B');
}

TEST_F(SamplePageTest, KeysMoveFocusAndActOnEachControl) {
  struct Step {
    const char* what;
    std::uint32_t value;
    bool code;
    int focus;  // control id that has the focus afterwards
  };
  const Step steps[] = {
      {"Tab to the plan list", '\t', false, sample::kPlan},
      {"Down selects the first plan", KEY_DOWN, true, sample::kPlan},
      {"Down again", KEY_DOWN, true, sample::kPlan},
      {"End jumps to the last", KEY_END, true, sample::kPlan},
      {"Up", KEY_UP, true, sample::kPlan},
      {"Tab to the checked radio group", '\t', false, sample::kCredit},
      {"Down moves the check to Cash", KEY_DOWN, true, sample::kCash},
      {"Tab to the check box", '\t', false, sample::kNews},
      {"Space checks it", ' ', false, sample::kNews},
      {"Tab to the port", '\t', false, sample::kPort},
      {"Down picks the next port", KEY_DOWN, true, sample::kPort},
      {"Shift-Tab back to the check box", KEY_BTAB, true, sample::kNews},
      {"Shift-Tab to the radio group", KEY_BTAB, true, sample::kCash},
  };
  for (const Step& s : steps) {
    key(s.value, s.code);
    EXPECT_EQ(get_dlg_ctrl_id(get_focus()), s.focus) << s.what;
  }
  EXPECT_EQ(page.list(sample::kPlan)->cur_sel(), 4);
  EXPECT_EQ(page.is_checked(sample::kCash), BST_CHECKED);
  EXPECT_EQ(page.is_checked(sample::kCredit), BST_UNCHECKED);
  EXPECT_EQ(page.is_checked(sample::kNews), BST_CHECKED);
  EXPECT_EQ(page.item_text(sample::kPort), "COM3");
  // The focused radio button is highlighted, and the cursor sits in its mark.
  const CellGrid grid = render();
  ASSERT_TRUE(grid.cursor.visible);
  EXPECT_EQ(grid.at(grid.cursor.col, grid.cursor.row).ch, U'*');
  EXPECT_EQ(grid.at(grid.cursor.col + 3, grid.cursor.row).bg, display::colours::kCaption);
}

TEST_F(SamplePageTest, EnterPressesTheDefaultButtonAndItsBoxAnswersEnter) {
  // Enter from the name field: Next runs, the empty name is refused.
  MessageLoop::current().set_thread_timer(1, [&](TimerId id) {
    MessageLoop::current().kill_thread_timer(id);
    MessageLoop::current().set_thread_timer(1, [&](TimerId id2) {
      MessageLoop::current().kill_thread_timer(id2);
      const CellGrid grid = render();
      EXPECT_NE(grid.dump_text().find("Please enter your name."), std::string::npos);
      key('\r');  // OK of the box
    });
    key('\r');
    post_quit_message(0);
  });
  MessageLoop::current().run();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Entry error: Please enter your name.");
  EXPECT_EQ(get_dlg_ctrl_id(get_focus()), sample::kName);
}

TEST_F(SamplePageTest, F1ShowsHelpAndEscAsksBeforeLeaving) {
  MessageLoop& loop = MessageLoop::current();
  loop.set_thread_timer(1, [&](TimerId id) {
    MessageLoop::current().kill_thread_timer(id);
    key(KEY_F(1), true);  // posts the help command
  });
  loop.set_thread_timer(5, [&](TimerId id) {
    MessageLoop::current().kill_thread_timer(id);
    // The help box is up (the timer runs in its modal loop); Esc closes an OK box.
    EXPECT_EQ(messages.size(), 1u);
    key(27);
  });
  loop.set_thread_timer(10, [&](TimerId id) {
    MessageLoop::current().kill_thread_timer(id);
    MessageLoop::current().set_thread_timer(1, [&](TimerId id2) {
      MessageLoop::current().kill_thread_timer(id2);
      EXPECT_TRUE(key(27));         // Esc does nothing to a Yes/No box
      EXPECT_FALSE(ended);
      key('\t');                    // to No
      key(KEY_BTAB, true);          // back to Yes
      key('\r');
    });
    key(27);  // Esc on the page: "Do you want to leave?"
    post_quit_message(0);
  });
  loop.run();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "Help: Fill in the fields and press Next.");
  EXPECT_EQ(messages[1], "Sign-up: Do you want to leave the sign-up?");
  EXPECT_TRUE(ended);
}

}  // namespace
