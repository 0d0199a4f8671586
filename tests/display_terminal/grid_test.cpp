// Cell grid, palette and key decoding: the pieces under the terminal display.
#include <curses.h>
#include <gtest/gtest.h>

#include "display/cell_grid.h"
#include "display/terminal.h"

namespace {

using display::Cell;
using display::CellGrid;
using platform::RGB;

TEST(CellGrid, TextIsClippedAndDumpedWithoutTrailingBlanks) {
  CellGrid g(6, 2);
  EXPECT_EQ(g.text(3, 0, "abcdef", 231, 16), 3);  // cut at the right edge
  g.text(-2, 1, "xyz", 231, 16);                    // starts left of the grid
  EXPECT_EQ(g.dump_text(), "   abc\nz\n");
  EXPECT_EQ(g.at(99, 99), Cell{});
}

TEST(CellGrid, ColourDumpNamesEachStyleOnceWithLegendAndCursor) {
  CellGrid g(3, 1, Cell{U' ', 16, 30, 0});
  g.put(1, 0, U'x', 231, 18, display::kAttrBold | display::kAttrUnderline);
  g.cursor = {1, 0, true};
  EXPECT_EQ(g.dump_colours(), "aba\na: fg 16 bg 30\nb: fg 231 bg 18 bold underline\ncursor: 1,0\n");
}

TEST(CellGrid, ControlCharactersNeverReachTheGrid) {
  CellGrid g(4, 1);
  g.text(0, 0, "a\tb\x1b", 231, 16);
  EXPECT_EQ(g.dump_text(), "a b\n");
}

TEST(Utf8, InvalidBytesStandForThemselves) {
  struct Case {
    const char* name;
    std::string in;
    std::u32string out;
  } cases[] = {
      {"ascii", "Abc", U"Abc"},
      {"two bytes", "\xC3\xA9", U"\u00E9"},
      {"three bytes", "\xE2\x94\x80", U"\u2500"},
      {"lone continuation", "\x80", U"\u0080"},
      {"cut sequence", "\xE2\x94", U"\u00E2\u0094"},
      {"overlong", "\xE0\x80\x80", U"\u00E0\u0080\u0080"},
      {"surrogate", "\xED\xA0\x80", U"\u00ED\u00A0\u0080"},
      {"latin-1 e acute", "caf\xE9", U"caf\u00E9"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(display::decode_utf8(c.in), c.out) << c.name;
    std::string back;
    for (char32_t ch : display::decode_utf8(c.in)) display::append_utf8(back, ch);
    EXPECT_EQ(display::decode_utf8(back), c.out) << c.name << " round trip";
  }
}

TEST(Palette, NearestColourKeepsToTheFixedPartOfThePalette) {
  struct Case {
    platform::COLORREF rgb;
    int index;
  } cases[] = {
      {RGB(0, 0, 0), 16},       {RGB(255, 255, 255), 231}, {RGB(192, 192, 192), 250},
      {RGB(128, 128, 128), 244}, {RGB(0, 0, 128), 18},      {RGB(0, 128, 128), 30},
      {RGB(255, 0, 0), 196},     {RGB(128, 128, 0), 100},   {RGB(0, 128, 255), 33},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(display::nearest_colour(c.rgb), c.index) << std::hex << c.rgb;
    EXPECT_GE(display::nearest_colour(c.rgb), 16);
  }
}

TEST(Palette, FewColourTerminalsGetTheNearestBasicColour) {
  EXPECT_EQ(display::nearest_basic(250, 8), 7);   // dialog grey
  EXPECT_EQ(display::nearest_basic(18, 8), 4);    // navy caption
  EXPECT_EQ(display::nearest_basic(30, 8), 6);    // teal desktop
  EXPECT_EQ(display::nearest_basic(231, 16), 15);  // white field
  EXPECT_EQ(display::nearest_basic(231, 8), 7);
  EXPECT_EQ(display::nearest_basic(196, 16), 9);  // bright red
  EXPECT_EQ(display::nearest_basic(3, 8), 3);     // basic colours stay
}

TEST(KeyDecoding, TerminalKeysBecomeTheKeysOfTheUserInput) {
  using platform::Key;
  struct Case {
    bool code;
    std::uint32_t value;
    Key key;
  } cases[] = {
      {false, '\t', Key::Tab},      {true, KEY_BTAB, Key::BackTab},  {false, '\r', Key::Enter},
      {false, '\n', Key::Enter},    {true, KEY_ENTER, Key::Enter},   {false, 27, Key::Escape},
      {false, ' ', Key::Space},     {true, KEY_UP, Key::Up},         {true, KEY_DOWN, Key::Down},
      {true, KEY_LEFT, Key::Left},  {true, KEY_RIGHT, Key::Right},   {true, KEY_HOME, Key::Home},
      {true, KEY_END, Key::End},    {true, KEY_PPAGE, Key::PageUp},  {true, KEY_NPAGE, Key::PageDown},
      {false, 127, Key::Backspace}, {false, 8, Key::Backspace},      {true, KEY_BACKSPACE, Key::Backspace},
      {true, KEY_DC, Key::Delete},  {true, KEY_F(1), Key::F1},
  };
  for (const auto& c : cases) {
    const display::Input in = display::decode_key(c.code, c.value);
    EXPECT_EQ(in.kind, display::Input::Kind::Key) << c.value;
    EXPECT_EQ(in.key, c.key) << c.value << " -> " << platform::key_name(in.key);
  }
}

TEST(KeyDecoding, CharactersBecomeTextAndControlsAreDropped) {
  EXPECT_EQ(display::decode_key(false, 'a').text, "a");
  EXPECT_EQ(display::decode_key(false, 0xE9).text, "\xC3\xA9");
  EXPECT_EQ(display::decode_key(false, 1).kind, display::Input::Kind::None);     // Ctrl-A
  EXPECT_EQ(display::decode_key(false, 0x9B).kind, display::Input::Kind::None);  // C1 control
  EXPECT_EQ(display::decode_key(false, 12).kind, display::Input::Kind::Redraw);  // Ctrl-L
  EXPECT_EQ(display::decode_key(true, KEY_RESIZE).kind, display::Input::Kind::Resize);
  EXPECT_EQ(display::decode_key(true, KEY_F(5)).kind, display::Input::Kind::None);
}

TEST(KeyDecoding, PasteMarksAndCtrlHomeEndHaveTheirOwnCodes) {
  EXPECT_EQ(display::decode_key(true, display::kKeyPasteStart).kind, display::Input::Kind::PasteStart);
  EXPECT_EQ(display::decode_key(true, display::kKeyPasteEnd).kind, display::Input::Kind::PasteEnd);
  EXPECT_GT(display::kKeyPasteStart, KEY_MAX);
  // The terminal's codes for Ctrl-Home and Ctrl-End, as ncurses numbered them.
  display::set_ctrl_home_end_codes(KEY_MAX + 40, KEY_MAX + 41);
  const display::Input home = display::decode_key(true, KEY_MAX + 40);
  EXPECT_EQ(home.kind, display::Input::Kind::Key);
  EXPECT_EQ(home.key, platform::Key::Home);
  EXPECT_TRUE(home.ctrl);
  const display::Input end = display::decode_key(true, KEY_MAX + 41);
  EXPECT_EQ(end.key, platform::Key::End);
  EXPECT_TRUE(end.ctrl);
  EXPECT_FALSE(display::decode_key(true, KEY_END).ctrl);
  display::set_ctrl_home_end_codes(0, 0);
  EXPECT_EQ(display::decode_key(true, KEY_MAX + 40).kind, display::Input::Kind::None);
}

}  // namespace

namespace {

// The nearest colour by searching the whole fixed part of the palette.
int nearest_by_search(platform::COLORREF c) {
  auto dist = [](platform::COLORREF a, platform::COLORREF b) {
    const long dr = static_cast<long>(platform::GetRValue(a)) - static_cast<long>(platform::GetRValue(b));
    const long dg = static_cast<long>(platform::GetGValue(a)) - static_cast<long>(platform::GetGValue(b));
    const long db = static_cast<long>(platform::GetBValue(a)) - static_cast<long>(platform::GetBValue(b));
    return dr * dr + dg * dg + db * db;
  };
  int best = 16;
  for (int i = 17; i < 256; ++i)
    if (dist(c, display::palette_rgb(i)) < dist(c, display::palette_rgb(best))) best = i;
  return best;
}

TEST(Palette, NearestColourAgreesWithASearchOfThePalette) {
  for (unsigned r = 0; r < 256; r += 5)
    for (unsigned g = 0; g < 256; g += 5)
      for (unsigned b = 0; b < 256; b += 5) {
        const platform::COLORREF c = RGB(r, g, b);
        ASSERT_EQ(display::nearest_colour(c), nearest_by_search(c)) << r << "," << g << "," << b;
      }
}

}  // namespace

TEST(KeyDecoding, EscThenACharacterIsAltAndALoneEscStaysEsc) {
  const display::Input esc = display::decode_key(false, 27);
  display::Input alt;
  ASSERT_TRUE(display::combine_alt(esc, display::decode_key(false, 'n'), alt));
  EXPECT_EQ(alt.kind, display::Input::Kind::Mnemonic);
  EXPECT_EQ(alt.letter, U'n');
  ASSERT_TRUE(display::combine_alt(esc, display::decode_key(false, 'B'), alt));
  EXPECT_EQ(alt.letter, U'B');
  // Esc before a key that is no character (an arrow, Tab, another Esc) is two keys.
  EXPECT_FALSE(display::combine_alt(esc, display::decode_key(true, KEY_UP), alt));
  EXPECT_FALSE(display::combine_alt(esc, display::decode_key(false, '\t'), alt));
  EXPECT_FALSE(display::combine_alt(esc, esc, alt));
  // Only an Esc starts an Alt key.
  EXPECT_FALSE(display::combine_alt(display::decode_key(false, 'x'), display::decode_key(false, 'n'), alt));
}
