// Display: the seam between the window model and its renderers.
//
// A renderer (display/headless, display/terminal) is a Display installed on
// the user-interface thread with set_display(). The window model tells it
// what changed through window_event(); it never calls a renderer otherwise.
// The renderer, on its own schedule (a thread timer, a watched descriptor of
// the message loop), reads the state it needs:
//   top_level_windows()          z-order, bottom to top
//   Window: kind(), text(), screen_rect(), rect(), is_visible(),
//           is_enabled(), children() (tab order), paint_record(), surface()
//   paint_window(hwnd)           paints a dirty top-level window first
//   Control: type(), id(), style(); Button::check(), is_default();
//           Edit::display_text(), sel_start(), sel_end(), limit();
//           ListBox / ComboBox: items(), cur_sel(), top_index()
//   StaticControl::bitmap()      picture controls
//   MessageBoxWindow: message(), caption(), icon(), buttons()
//   get_focus(), active_window()
// and turns the user's keys into the calls of platform/ui/user_input.h, which
// tests and the scripted user make too.
//
// Coordinates are pixels (window.h): one terminal cell is 6 x 13 pixels,
// which is 4 x 8 dialog units.
//
// Programs choose a renderer at start-up with parse_display_args() and
// open_display(): "--answers SCRIPT [--transcript FILE]" loads
// libdisplay-headless.so, "--display NAME" loads libdisplay-NAME.so; the
// library is found beside libplatform.so (the build folder, or the private
// library folder of an installed tree), else beside the program or on the
// library path, and must export
//   extern "C" platform::Display* vlr_display_open(
//       const platform::DisplayOptions* options, std::string* error);
// returning a Display allocated with new (nullptr and *error on failure).
// Nothing links a renderer directly except tests.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/loop/message_loop.h"

namespace platform {

enum class WindowEvent {
  Created,
  Destroyed,      // the handle is already gone from the loop
  Shown,
  Hidden,
  Moved,
  TextChanged,
  StateChanged,   // enabled, check, selection, items, style, limit
  FocusChanged,   // hwnd is the new focus (0: none)
  Invalidated,    // a top-level window needs painting
  ZOrderChanged,
};

class Display {
 public:
  virtual ~Display() = default;
  virtual void window_event(HWND hwnd, WindowEvent event) = 0;
  // The system sound (message_beep).
  virtual void beep() {}
  // A one-line notice for the user about `control` (0: none), from
  // show_notice(): what a field refused, what is about to happen.
  virtual void notice(HWND control, const std::string& text) {
    (void)control;
    (void)text;
  }
  // True when the renderer draws on this process's terminal: a program
  // started from here that talks to the user takes that terminal over.
  virtual bool uses_terminal() const { return false; }
  // The terminal is lent to a program started from here (true) or given
  // back when it ended (false): while lent the renderer neither reads keys
  // nor draws; given back, it draws the whole screen again.
  virtual void lend_terminal(bool lent) { (void)lent; }
};

// Installs `display` (not owned) for the calling thread's windows; nullptr
// removes it.
void set_display(Display* display);
Display* current_display();

// Hands a one-line notice to the current display (and the log): the
// terminal shows it on its last row until the next key and flashes
// `control` (0: none).
void show_notice(HWND control, std::string_view text);

struct DisplayOptions {
  std::string name;        // "headless", "terminal"; empty: none
  std::string answers;     // script for the scripted user
  std::string transcript;  // transcript file; empty: none
  // A renderer open_display() tries when `name` cannot be opened (the
  // desktop chosen by default falls back to the terminal); empty: none.
  std::string fallback;
  // The display serves a library's dialogs inside another program: it must
  // never end or hang that program (the headless display logs a failing
  // script and ends the open dialogs instead of exiting with code 3).
  bool library_host = false;
};

// Takes "--answers FILE", "--transcript FILE" and "--display NAME" (also in
// the "--opt=value" form) out of argv, leaving the rest in order. --answers
// implies the headless display. False and `error` for an option without its
// value or a transcript without answers.
bool parse_display_args(int& argc, char** argv, DisplayOptions& options, std::string& error);

// A renderer loaded from its library and installed with set_display().
class LoadedDisplay {
 public:
  ~LoadedDisplay();
  Display* get() const { return display_; }
  // The renderer that was opened ("terminal" after a fallback to it).
  const std::string& name() const { return name_; }
  LoadedDisplay(const LoadedDisplay&) = delete;
  LoadedDisplay& operator=(const LoadedDisplay&) = delete;

 private:
  friend std::unique_ptr<LoadedDisplay> open_display(const DisplayOptions&, std::string&);
  LoadedDisplay() = default;
  void* library_ = nullptr;
  Display* display_ = nullptr;
  std::string name_;
};

// The display a library's host program gets when it chose none (a program
// that loads libmodset.so, say): VLR_UI=headless with VLR_ANSWERS=SCRIPT and
// optionally VLR_TRANSCRIPT=FILE (the scripted user), VLR_UI=NAME for another
// renderer (libdisplay-NAME.so; gtk also takes VLR_TRANSCRIPT), and without
// VLR_UI the desktop (gtk) in a graphical session (DISPLAY or
// WAYLAND_DISPLAY set), falling back to the terminal, else the terminal when
// standard input is a terminal. True and `options` filled when the
// environment names a display; false and `error` when it names none (or a
// bad one: headless without a readable script, answers for another display).
// The options it fills are a library host's (library_host set).
bool display_options_from_environment(DisplayOptions& options, std::string& error);

// Loads libdisplay-NAME.so and installs its display. nullptr and `error`
// when the library or its entry point is missing or it refuses the options.
std::unique_ptr<LoadedDisplay> open_display(const DisplayOptions& options, std::string& error);

}  // namespace platform
