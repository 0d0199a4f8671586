// Terminal display: the window model shown with ncurses.
//
// Principles:
//  - Windows sit at their pixel positions mapped to character cells of
//    6 x 13 pixels (4 x 8 dialog units), so a 300 x 239 page fills 75 x 30
//    cells. The screen size of the model follows the terminal.
//  - render_screen() paints the model into a CellGrid; the display then copies
//    the grid to the terminal. Tests call render_screen() and compare grids.
//  - Pictures and owner-drawn buttons come from the window's surface and are
//    drawn with upper-half blocks, two pixel rows per cell, each the average
//    of its pixels in the nearest palette colour. Texts a page paints (its
//    title) come from its paint record.
//  - Keys become the calls of platform/ui/user_input.h, the same calls the
//    scripted user makes. The terminal sends Alt+letter as Esc and the
//    letter: one that follows within the escape delay (25 ms) makes the
//    mnemonic key; a lone Esc stays Esc. A read-only text with the focus
//    scrolls by the arrows, PageUp/PageDown, Home/End and Ctrl-Home/End
//    itself; PageUp and PageDown that nothing takes scroll a page taller
//    than the terminal. Pasted text (bracketed paste) goes to the focused
//    field as one piece: its line breaks are text, never Enter. Input
//    arrives through the message loop's watch on standard input; a resize
//    (SIGWINCH) arrives through a pipe watched the same way. Nothing polls.
//  - Below kMinCols x kMinRows the screen says so and keys wait until the
//    terminal is large enough again.
//  - A notice (platform::show_notice) shows on the last row until the next
//    key; the control it names flashes.
//  - The terminal is restored when the display is deleted, at exit, and on
//    fatal signals (the handler writes the saved reset sequence and the saved
//    terminal modes, then lets the signal take its former course). It is
//    lent, the same way, to a program started from here that uses it, and
//    drawn again whole once that program has ended.
//
// A program selects this display with "--display terminal" (see
// platform/ui/display.h): open_display() loads libdisplay-terminal.so, whose
// vlr_display_open() calls TerminalDisplay::open().
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "display/cell_grid.h"
#include "platform/ui/display.h"
#include "platform/ui/user_input.h"

namespace display {

constexpr int kCellWidthPx = 6;
constexpr int kCellHeightPx = 13;

// Colours of the screen (palette indices).
namespace colours {
constexpr std::uint8_t kBlack = 16;
constexpr std::uint8_t kWhite = 231;
constexpr std::uint8_t kGrey = 244;         // disabled text, inactive captions
constexpr std::uint8_t kDesktop = 30;       // teal
constexpr std::uint8_t kCaption = 18;       // navy: active caption, highlight
constexpr std::uint8_t kField = 231;        // edits, lists, combo fields
constexpr std::uint8_t kSelectedIdle = 250; // selection of an unfocused list
}  // namespace colours

// The smallest terminal the wizard is made for (its pages need 77 columns).
constexpr int kMinCols = 80;
constexpr int kMinRows = 24;

// What the display adds over the windows: a notice on the last row and a
// control drawn flashing.
struct Overlay {
  std::string notice;
  platform::HWND flash = 0;
};

// Paints every visible top-level window, bottom to top, over the desktop;
// windows that need painting are painted first. The grid keeps its size; its
// cursor is set for the focus control of the active window.
//
// A window taller than the grid keeps its caption on the first row and its
// button row (the lowest push buttons, to the bottom border) on the last
// rows; the rows between scroll to keep the focused control and its label in
// view (from the first key on: a window opens at its top), with arrows on
// the right border where rows are out of view. A window that fits but
// sticks out is moved onto the grid.
void render_screen(CellGrid& grid, const Overlay& overlay = {});
// Scrolls the view of a window taller than the grid by `pages` (negative:
// up), from the last render on; false when the window is not scrolled or
// is already at that end. PageUp and PageDown that no control takes come
// here.
bool scroll_view(platform::HWND window, int pages);
// A key is about to be delivered: windows that opened since the last key
// stop holding their view at the top and follow the focus from now on.
void note_key();
// True when a grid of cols x rows is smaller than kMinCols x kMinRows.
bool screen_too_small(int cols, int rows);
// The one message shown instead of the windows on a grid that is too
// small, wrapped to its width.
void render_too_small(CellGrid& grid);

// A key from the terminal, decoded.
struct Input {
  enum class Kind { None, Key, Text, Resize, Redraw, Mnemonic, Paste, PasteStart, PasteEnd };
  Kind kind = Kind::None;
  platform::Key key = platform::Key::Enter;
  bool ctrl = false;    // Key: Ctrl-Home, Ctrl-End
  std::string text;     // Text, Paste: UTF-8
  char32_t letter = 0;  // Mnemonic: the letter pressed with Alt
};

// Key codes this display defines for what the terminal sends around pasted
// text ("\e[200~" and "\e[201~"), above ncurses' own.
constexpr int kKeyPasteStart = 0x6000;
constexpr int kKeyPasteEnd = kKeyPasteStart + 1;
// The codes ncurses gave Ctrl-Home and Ctrl-End of this terminal (its
// kHOM5 and kEND5 capabilities); 0 where it has none.
void set_ctrl_home_end_codes(int home, int end);

// Decodes what ncurses' wget_wch() gave: `is_key_code` for KEY_CODE_YES
// (value is a KEY_* code), else value is a character.
Input decode_key(bool is_key_code, std::uint32_t value);
// A key for the read-only text that has the focus: scrolls it a line
// (arrows), a page (PageUp/PageDown) or to an end (Home/End, with or
// without Ctrl), from what the last render showed. True when the key was
// for such a text: false when the focus is elsewhere or, for PageUp and
// PageDown, when the text is already at that end (the page may scroll).
bool scroll_focused_text(const Input& input);
// The terminal sends Alt+letter as Esc followed by the letter. `first` is an
// Esc key; `next` is what came right after it (within the escape delay):
// a printable character makes them one Alt+letter, anything else leaves Esc
// and `next` as two inputs (false).
bool combine_alt(const Input& first, const Input& next, Input& combined);
// Hands a decoded key to the window model; false when no window took it.
bool deliver_input(const Input& input);

class TerminalDisplay final : public platform::Display {
 public:
  // Takes over the terminal on standard input and output and starts
  // watching input on the calling thread's loop. nullptr and `error` when
  // they are not a terminal, TERM is unknown, or a terminal display is
  // already open.
  static std::unique_ptr<TerminalDisplay> open(std::string& error);
  ~TerminalDisplay() override;

  void window_event(platform::HWND hwnd, platform::WindowEvent event) override;
  void beep() override;
  void notice(platform::HWND control, const std::string& text) override;
  bool uses_terminal() const override { return true; }
  void lend_terminal(bool lent) override;

  // Renders the model and updates the terminal now.
  void redraw();
  const CellGrid& grid() const { return grid_; }

  struct Impl;

 private:
  TerminalDisplay();
  void schedule_redraw();
  void on_input();
  void deliver_next_key();
  void on_resize();
  void flush();
  void flash_tick();
  void clear_notice();
  void post_pump();
  std::unique_ptr<Impl> impl_;
  CellGrid grid_;
};

}  // namespace display
