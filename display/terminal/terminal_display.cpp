// The ncurses side of the terminal display: terminal set-up and restore,
// signals, input watch, and copying the cell grid to the screen.
#include <curses.h>
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <term.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <deque>
#include <functional>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "display/terminal.h"
#include "platform/loop/log.h"
#include "platform/loop/message_loop.h"
#include "platform/ui/controls.h"
#include "platform/ui/window.h"

namespace display {

namespace {

constexpr const char* kLog = "display-terminal";
constexpr int kFatalSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr std::int64_t kRedrawDelayMs = 10;
// A field flashes this many half-periods after it refused input.
constexpr int kFlashHalves = 8;
constexpr std::int64_t kFlashHalfMs = 250;
// Bracketed paste: the terminal marks pasted text, so that its line breaks
// stay text.
constexpr const char* kPasteOn = "\033[?2004h";
constexpr const char* kPasteOff = "\033[?2004l";

// What the signal handlers need; written before `active` is set.
struct TerminalState {
  std::atomic<bool> active{false};
  termios saved{};
  bool have_saved = false;
  char reset[512] = {};
  std::size_t reset_len = 0;
  int winch_pipe[2] = {-1, -1};
  struct sigaction old_fatal[sizeof(kFatalSignals) / sizeof(kFatalSignals[0])] = {};
  struct sigaction old_winch = {};
  bool at_exit_registered = false;
};
TerminalState g_term;

// Writes straight to the terminal, around ncurses' own buffer: modes that
// ncurses does not know of.
void write_mode(const char* seq) {
  ssize_t n = write(STDOUT_FILENO, seq, std::strlen(seq));
  (void)n;
}

void restore_terminal_raw() {
  if (g_term.reset_len > 0) {
    ssize_t n = write(STDOUT_FILENO, g_term.reset, g_term.reset_len);
    (void)n;
  }
  if (g_term.have_saved) tcsetattr(STDIN_FILENO, TCSANOW, &g_term.saved);
}

// Restores the terminal, then gives the signal back to its former handler.
void on_fatal_signal(int sig) {
  if (g_term.active.exchange(false)) restore_terminal_raw();
  for (std::size_t i = 0; i < sizeof(kFatalSignals) / sizeof(kFatalSignals[0]); ++i)
    if (kFatalSignals[i] == sig) sigaction(sig, &g_term.old_fatal[i], nullptr);
  raise(sig);
}

void on_winch(int) {
  const int saved_errno = errno;
  const char byte = 1;
  if (g_term.winch_pipe[1] >= 0) {
    ssize_t n = write(g_term.winch_pipe[1], &byte, 1);
    (void)n;
  }
  errno = saved_errno;
}

void restore_at_exit() {
  if (g_term.active.exchange(false)) {
    write_mode(kPasteOff);
    endwin();
  }
}

void append_cap(const char* name) {
  char* s = tigetstr(const_cast<char*>(name));
  if (!s || s == reinterpret_cast<char*>(-1)) return;
  const std::size_t n = std::strlen(s);
  if (g_term.reset_len + n >= sizeof(g_term.reset)) return;
  std::memcpy(g_term.reset + g_term.reset_len, s, n);
  g_term.reset_len += n;
}

void install_handlers() {
  struct sigaction sa {};
  sigemptyset(&sa.sa_mask);
  sa.sa_handler = on_fatal_signal;
  for (std::size_t i = 0; i < sizeof(kFatalSignals) / sizeof(kFatalSignals[0]); ++i) {
    sigaction(kFatalSignals[i], nullptr, &g_term.old_fatal[i]);
    // A signal the program ignores stays ignored.
    if (!(g_term.old_fatal[i].sa_flags & SA_SIGINFO) && g_term.old_fatal[i].sa_handler == SIG_IGN) continue;
    sigaction(kFatalSignals[i], &sa, nullptr);
  }
  struct sigaction wa {};
  sigemptyset(&wa.sa_mask);
  wa.sa_handler = on_winch;
  wa.sa_flags = SA_RESTART;
  sigaction(SIGWINCH, &wa, &g_term.old_winch);
}

void remove_handlers() {
  for (std::size_t i = 0; i < sizeof(kFatalSignals) / sizeof(kFatalSignals[0]); ++i) {
    struct sigaction current {};
    sigaction(kFatalSignals[i], nullptr, &current);
    if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == on_fatal_signal)
      sigaction(kFatalSignals[i], &g_term.old_fatal[i], nullptr);
  }
  sigaction(SIGWINCH, &g_term.old_winch, nullptr);
}

// Line-drawing characters by their alternate-character-set equivalents, for
// terminals whose locale is not UTF-8.
const cchar_t* acs_for(char32_t ch) {
  switch (ch) {
    case U'─': return WACS_HLINE;
    case U'│': return WACS_VLINE;
    case U'┌': return WACS_ULCORNER;
    case U'┐': return WACS_URCORNER;
    case U'└': return WACS_LLCORNER;
    case U'┘': return WACS_LRCORNER;
    case U'░': return WACS_CKBOARD;
    case U'▲': return WACS_UARROW;
    case U'▼': return WACS_DARROW;
    default: return nullptr;
  }
}

// The code of a key the terminal sends as `seq`: ncurses' own, else
// `fallback`, defined for it now.
int key_for(const char* seq, int fallback) {
  const int known = key_defined(seq);
  if (known > 0) return known;
  if (known == 0) define_key(seq, fallback);
  return known == 0 ? fallback : 0;
}

// Terminals and multiplexers disagree on Home and End (tmux sends
// "\e[1~" and "\e[4~" whatever TERM says): all their forms are taken, so an
// unknown one never reads as Esc and letters.
void define_other_keys() {
  for (const char* seq : {"\033[1~", "\033[7~", "\033[H", "\033OH"}) key_for(seq, KEY_HOME);
  for (const char* seq : {"\033[4~", "\033[8~", "\033[F", "\033OF"}) key_for(seq, KEY_END);
  auto cap = [](const char* name) -> const char* {
    const char* seq = tigetstr(const_cast<char*>(name));
    return seq && seq != reinterpret_cast<char*>(-1) ? seq : nullptr;
  };
  int home = 0, end = 0;
  if (const char* seq = cap("kHOM5")) home = key_for(seq, kKeyPasteEnd + 1);
  if (const char* seq = cap("kEND5")) end = key_for(seq, kKeyPasteEnd + 2);
  if (home <= 0) home = key_for("\033[1;5H", kKeyPasteEnd + 1);
  else key_for("\033[1;5H", home);
  if (end <= 0) end = key_for("\033[1;5F", kKeyPasteEnd + 2);
  else key_for("\033[1;5F", end);
  set_ctrl_home_end_codes(std::max(0, home), std::max(0, end));
}

}  // namespace

// Keys are handed to the model one per message of the loop, from a queue:
// a key that ends a modal loop (OK in a message box) lets that loop unwind
// before the next key is delivered, so type-ahead reaches the window that is
// up by then, not the box that is closing.
struct KeyPump final : platform::MessageTarget {
  std::function<void()> deliver;
  platform::LRESULT handle_message(const platform::Message&) override {
    deliver();
    return 0;
  }
};

struct TerminalDisplay::Impl {
  SCREEN* screen = nullptr;
  KeyPump pump;
  platform::HWND pump_hwnd = 0;
  bool pump_posted = false;
  std::deque<Input> keys;
  bool utf8 = false;
  int colours = 0;
  platform::TimerId redraw_timer = 0;
  bool watching_input = false;
  bool in_redraw = false;
  // Lent to a program started from here (platform::Display::lend_terminal).
  bool lent = false;
  // Inside "\e[200~" ... "\e[201~": what has been pasted so far.
  bool pasting = false;
  std::string pasted;
  bool last_paste_cr = false;  // CR LF is one line break
  // The notice on the last row and the control that flashes for it.
  Overlay overlay;
  platform::TimerId flash_timer = 0;
  int flash_halves = 0;
};

TerminalDisplay::TerminalDisplay() : impl_(std::make_unique<Impl>()) {}

std::unique_ptr<TerminalDisplay> TerminalDisplay::open(std::string& error) {
  if (g_term.active.load()) {
    error = "a terminal display is already open";
    return nullptr;
  }
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
    error = "the terminal display needs a terminal on standard input and output";
    return nullptr;
  }
  // Only the character type: numbers keep the "C" formatting the INI files use.
  std::setlocale(LC_CTYPE, "");
  std::unique_ptr<TerminalDisplay> d(new TerminalDisplay());
  Impl& im = *d->impl_;
  im.utf8 = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;

  g_term.have_saved = tcgetattr(STDIN_FILENO, &g_term.saved) == 0;
  if (pipe2(g_term.winch_pipe, O_NONBLOCK | O_CLOEXEC) != 0) {
    error = std::string("cannot make the resize pipe: ") + std::strerror(errno);
    return nullptr;
  }
  // Our handlers go in first, so ncurses keeps its own out of the way.
  install_handlers();
  im.screen = newterm(nullptr, stdout, stdin);
  if (!im.screen) {
    remove_handlers();
    close(g_term.winch_pipe[0]);
    close(g_term.winch_pipe[1]);
    g_term.winch_pipe[0] = g_term.winch_pipe[1] = -1;
    const char* term = std::getenv("TERM");
    error = std::string("cannot start the terminal (TERM=") + (term ? term : "") + ")";
    return nullptr;
  }
  set_term(im.screen);
  cbreak();
  noecho();
  nonl();
  intrflush(stdscr, FALSE);
  keypad(stdscr, TRUE);
  nodelay(stdscr, TRUE);
  set_escdelay(25);
  define_key("\033[200~", kKeyPasteStart);
  define_key("\033[201~", kKeyPasteEnd);
  define_other_keys();
  write_mode(kPasteOn);
  curs_set(0);
  if (has_colors()) {
    start_color();
    im.colours = COLORS;
  }
  g_term.reset_len = 0;
  std::memcpy(g_term.reset, kPasteOff, std::strlen(kPasteOff));
  g_term.reset_len = std::strlen(kPasteOff);
  append_cap("sgr0");
  append_cap("op");
  append_cap("cnorm");
  append_cap("rmkx");
  append_cap("rmcup");
  g_term.active = true;
  if (!g_term.at_exit_registered) {
    std::atexit(restore_at_exit);
    g_term.at_exit_registered = true;
  }

  platform::set_screen_size(COLS * kCellWidthPx, LINES * kCellHeightPx);
  d->grid_.resize(COLS, LINES);
  TerminalDisplay* self = d.get();
  platform::MessageLoop& loop = platform::MessageLoop::current();
  im.pump.deliver = [self] { self->deliver_next_key(); };
  im.pump_hwnd = loop.register_window(&im.pump);
  loop.watch_fd(STDIN_FILENO, [self] { self->on_input(); });
  loop.watch_fd(g_term.winch_pipe[0], [self] { self->on_resize(); });
  im.watching_input = true;
  platform::log_info(kLog, std::string("terminal ") + std::to_string(COLS) + "x" + std::to_string(LINES) + ", " +
                               std::to_string(im.colours) + " colours" + (im.utf8 ? ", UTF-8" : ""));
  d->schedule_redraw();
  return d;
}

TerminalDisplay::~TerminalDisplay() {
  platform::MessageLoop& loop = platform::MessageLoop::current();
  if (impl_->redraw_timer) loop.kill_thread_timer(impl_->redraw_timer);
  if (impl_->flash_timer) loop.kill_thread_timer(impl_->flash_timer);
  if (impl_->watching_input) loop.unwatch_fd(STDIN_FILENO);
  if (impl_->pump_hwnd) loop.unregister_window(impl_->pump_hwnd);
  loop.unwatch_fd(g_term.winch_pipe[0]);
  if (g_term.active.exchange(false)) {
    write_mode(kPasteOff);
    endwin();
  }
  if (impl_->screen) delscreen(impl_->screen);
  remove_handlers();
  for (int& fd : g_term.winch_pipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

void TerminalDisplay::window_event(platform::HWND, platform::WindowEvent) { schedule_redraw(); }

void TerminalDisplay::beep() {
  if (g_term.active) ::beep();
}

void TerminalDisplay::notice(platform::HWND control, const std::string& text) {
  Impl& im = *impl_;
  im.overlay.notice = text;
  im.overlay.flash = control;
  im.flash_halves = control != 0 ? kFlashHalves : 0;
  if (control != 0 && !im.flash_timer)
    im.flash_timer =
        platform::MessageLoop::current().set_thread_timer(kFlashHalfMs, [this](platform::TimerId) { flash_tick(); });
  schedule_redraw();
}

void TerminalDisplay::flash_tick() {
  Impl& im = *impl_;
  if (--im.flash_halves <= 0) {
    platform::MessageLoop::current().kill_thread_timer(im.flash_timer);
    im.flash_timer = 0;
    im.flash_halves = 0;
  }
  redraw();
}

void TerminalDisplay::lend_terminal(bool lent) {
  Impl& im = *impl_;
  if (lent == im.lent || im.screen == nullptr) return;
  platform::MessageLoop& loop = platform::MessageLoop::current();
  im.lent = lent;
  if (lent) {
    // The program gets the terminal as the shell had it: our keys stop, the
    // modes and the normal screen come back.
    if (im.watching_input) loop.unwatch_fd(STDIN_FILENO);
    im.watching_input = false;
    if (g_term.active.exchange(false)) {
      write_mode(kPasteOff);
      endwin();
    }
    clear_notice();
    platform::log_info(kLog, "the terminal is lent to a program started from here");
    return;
  }
  // Back from the program: it may have left anything on the screen, in any
  // size. The next refresh takes the terminal again (modes, alternate
  // screen, keypad) and draws every cell.
  g_term.active = true;
  winsize ws{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0) resizeterm(ws.ws_row, ws.ws_col);
  platform::set_screen_size(COLS * kCellWidthPx, LINES * kCellHeightPx);
  write_mode(kPasteOn);
  clearok(curscr, TRUE);
  loop.watch_fd(STDIN_FILENO, [this] { on_input(); });
  im.watching_input = true;
  platform::log_info(kLog, "the terminal is back from the program");
  redraw();
  post_pump();
}

void TerminalDisplay::post_pump() {
  Impl& im = *impl_;
  if (!im.keys.empty() && !im.pump_posted) im.pump_posted = platform::post_message(im.pump_hwnd, platform::WM_USER);
}

void TerminalDisplay::schedule_redraw() {
  if (impl_->redraw_timer) return;
  // Events come in bursts (a dialog makes all its controls); one redraw
  // after the burst is enough.
  impl_->redraw_timer = platform::MessageLoop::current().set_thread_timer(kRedrawDelayMs, [this](platform::TimerId id) {
    platform::MessageLoop::current().kill_thread_timer(id);
    impl_->redraw_timer = 0;
    redraw();
  });
}

void TerminalDisplay::redraw() {
  if (!g_term.active || impl_->in_redraw) return;
  impl_->in_redraw = true;
  if (grid_.cols() != COLS || grid_.rows() != LINES) grid_.resize(COLS, LINES);
  if (screen_too_small(grid_.cols(), grid_.rows())) {
    render_too_small(grid_);
  } else {
    Overlay shown = impl_->overlay;
    // The flash: every other half-period, while it lasts.
    if (impl_->flash_halves <= 0 || impl_->flash_halves % 2 == 1) shown.flash = 0;
    render_screen(grid_, shown);
  }
  flush();
  impl_->in_redraw = false;
}

void TerminalDisplay::flush() {
  const Impl& im = *impl_;
  for (int row = 0; row < grid_.rows(); ++row) {
    for (int col = 0; col < grid_.cols(); ++col) {
      const Cell& cell = grid_.at(col, row);
      // The second half of a wide character: the terminal filled it already.
      // Halves that lost their partner are written as blanks.
      const bool wide = cell.ch != kWideTail && cell_width(cell.ch) == 2;
      if (cell.ch == kWideTail && col > 0 && grid_.at(col - 1, row).ch != kWideTail &&
          cell_width(grid_.at(col - 1, row).ch) == 2)
        continue;
      attr_t attr = A_NORMAL;
      if (cell.attr & kAttrBold) attr |= A_BOLD;
      if (cell.attr & kAttrUnderline) attr |= A_UNDERLINE;
      if (cell.attr & kAttrReverse) attr |= A_REVERSE;
      int pair = 0;
      if (im.colours >= 256) {
        pair = alloc_pair(cell.fg, cell.bg);
      } else if (im.colours >= 8) {
        const int n = im.colours >= 16 ? 16 : 8;
        pair = alloc_pair(nearest_basic(cell.fg, n), nearest_basic(cell.bg, n));
      } else if (cell.bg == colours::kCaption) {
        attr |= A_REVERSE;  // no colours: highlights and captions stand out reversed
      }
      if (pair < 0) pair = 0;
      char32_t ch = cell.ch;
      if (ch == kWideTail || (wide && grid_.at(col + 1, row).ch != kWideTail)) ch = U' ';
      if (ch == U'\u2580' && !im.utf8) {
        ch = U' ';  // no half blocks: the cell takes the lower colour
      }
      cchar_t cc{};
      if (!im.utf8 && ch >= 0x80) {
        if (const cchar_t* acs = acs_for(ch)) {
          wchar_t w[CCHARW_MAX + 1] = {};
          attr_t acs_attr = 0;
          short unused = 0;
          getcchar(acs, w, &acs_attr, &unused, nullptr);
          setcchar(&cc, w, attr | acs_attr, 0, &pair);
        } else {
          const wchar_t w[2] = {L'?', L'\0'};
          setcchar(&cc, w, attr, 0, &pair);
        }
      } else {
        const wchar_t w[2] = {static_cast<wchar_t>(ch), L'\0'};
        setcchar(&cc, w, attr, 0, &pair);
      }
      mvadd_wch(row, col, &cc);
    }
  }
  if (grid_.cursor.visible) {
    move(grid_.cursor.row, grid_.cursor.col);
    curs_set(1);
  } else {
    curs_set(0);
  }
  refresh();
}

void TerminalDisplay::on_input() {
  bool got = false;
  for (;;) {
    if (!g_term.active) return;
    wint_t wch = 0;
    const int rc = wget_wch(stdscr, &wch);
    if (rc == ERR) break;
    got = true;
    Input in = decode_key(rc == KEY_CODE_YES, static_cast<std::uint32_t>(wch));
    if (in.kind == Input::Kind::PasteStart) {
      impl_->pasting = true;
      impl_->pasted.clear();
      continue;
    }
    if (impl_->pasting && in.kind != Input::Kind::Resize) {
      // Everything up to the end mark is text: line breaks (the terminal
      // sends CR for them) and tabs included, keys and other controls not.
      if (in.kind == Input::Kind::PasteEnd) {
        impl_->pasting = false;
        Input paste;
        paste.kind = Input::Kind::Paste;
        paste.text = std::move(impl_->pasted);
        impl_->keys.push_back(std::move(paste));
        impl_->pasted.clear();
      } else if (rc != KEY_CODE_YES && (wch == '\r' || wch == '\n')) {
        if (!(wch == '\n' && impl_->last_paste_cr)) impl_->pasted += '\n';
        impl_->last_paste_cr = wch == '\r';
        continue;
      } else if (rc != KEY_CODE_YES && (wch == '\t' || wch >= 0x20) && wch != 0x7F) {
        append_utf8(impl_->pasted, static_cast<char32_t>(wch));
      }
      impl_->last_paste_cr = false;
      continue;
    }
    if (in.kind == Input::Kind::PasteEnd) continue;
    if (in.kind == Input::Kind::Key && in.key == platform::Key::Escape) {
      // ncurses has waited the escape delay for what follows an Esc: a
      // character already here makes Alt+character; nothing means a lone Esc.
      wint_t next_wch = 0;
      const int next_rc = wget_wch(stdscr, &next_wch);
      if (next_rc != ERR) {
        const Input next = decode_key(next_rc == KEY_CODE_YES, static_cast<std::uint32_t>(next_wch));
        Input alt;
        if (combine_alt(in, next, alt)) {
          impl_->keys.push_back(alt);
          continue;
        }
        impl_->keys.push_back(in);
        in = next;
      }
    }
    switch (in.kind) {
      case Input::Kind::Resize:
        platform::set_screen_size(COLS * kCellWidthPx, LINES * kCellHeightPx);
        break;
      case Input::Kind::Redraw:
        clearok(curscr, TRUE);
        break;
      case Input::Kind::None:
        break;
      default:
        impl_->keys.push_back(in);
        break;
    }
  }
  post_pump();
  if (got) {
    redraw();
    return;
  }
  // Readable without a key: the terminal has gone (end of file or hang-up).
  pollfd p{STDIN_FILENO, POLLIN, 0};
  int pending = 0;
  const bool hung_up = poll(&p, 1, 0) > 0 &&
                       ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) ||
                        ((p.revents & POLLIN) && ioctl(STDIN_FILENO, FIONREAD, &pending) == 0 && pending == 0));
  if (hung_up) {
    platform::log_error(kLog, "the terminal has gone; ending the program");
    platform::MessageLoop::current().unwatch_fd(STDIN_FILENO);
    impl_->watching_input = false;
    platform::post_quit_message(1);
  }
}

void TerminalDisplay::clear_notice() {
  Impl& im = *impl_;
  if (im.flash_timer) platform::MessageLoop::current().kill_thread_timer(im.flash_timer);
  im.flash_timer = 0;
  im.flash_halves = 0;
  im.overlay = {};
}

void TerminalDisplay::deliver_next_key() {
  impl_->pump_posted = false;
  if (impl_->keys.empty()) return;
  // Keys wait while the program cannot be seen: the terminal is too small
  // or lent to another program.
  if (impl_->lent || screen_too_small(COLS, LINES)) return;
  const Input in = impl_->keys.front();
  impl_->keys.pop_front();
  // The next key goes out with the next message, before this one is
  // delivered: a key that opens a modal loop lets type-ahead reach it.
  post_pump();
  if (platform::log_enabled(platform::LogLevel::Debug))
    platform::log_debug(kLog, std::string("key ") + (in.kind == Input::Kind::Key ? std::string(platform::key_name(in.key))
                                                       : in.kind == Input::Kind::Mnemonic ? "Alt+" + std::to_string(in.letter)
                                                                                           : in.text) +
                                  " to window " + std::to_string(platform::active_window()));
  // A notice stays until the next key.
  if (!impl_->overlay.notice.empty()) clear_notice();
  note_key();
  const bool page_key = in.kind == Input::Kind::Key && (in.key == platform::Key::PageUp || in.key == platform::Key::PageDown);
  const auto* text = platform::window_cast<platform::Edit>(platform::get_focus());
  const bool read_only_text = text && text->is_multi_line() && text->is_read_only();
  // May run a modal loop (a message box) before it returns.
  bool taken = scroll_focused_text(in);
  if (!taken && !(read_only_text && page_key)) taken = deliver_input(in);
  if (!taken) {
    // PageUp/PageDown that no control used scroll a page taller than the
    // terminal, so that the texts below its fields can be read.
    if (page_key && scroll_view(platform::top_level_of(platform::active_window()), in.key == platform::Key::PageUp ? -1 : 1))
      redraw();
    else
      platform::log_debug(kLog, "key not taken");
  }
  if (impl_->keys.empty()) redraw();
}

void TerminalDisplay::on_resize() {
  char buf[64];
  while (read(g_term.winch_pipe[0], buf, sizeof buf) > 0) {
  }
  winsize ws{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0) resizeterm(ws.ws_row, ws.ws_col);
  platform::set_screen_size(COLS * kCellWidthPx, LINES * kCellHeightPx);
  clearok(curscr, TRUE);
  redraw();
  // Keys that waited for a large enough terminal go on now.
  post_pump();
}

}  // namespace display

extern "C" __attribute__((visibility("default"))) platform::Display* vlr_display_open(
    const platform::DisplayOptions* options, std::string* error) {
  std::string why;
  if (options && (!options->answers.empty() || !options->transcript.empty())) {
    if (error) *error = "the terminal display takes no answers script";
    return nullptr;
  }
  auto d = display::TerminalDisplay::open(why);
  if (!d) {
    if (error) *error = why;
    return nullptr;
  }
  return d.release();
}
