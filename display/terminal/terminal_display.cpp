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
#include "platform/ui/window.h"

namespace display {

namespace {

constexpr const char* kLog = "display-terminal";
constexpr int kFatalSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr std::int64_t kRedrawDelayMs = 10;

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
  if (g_term.active.exchange(false)) endwin();
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
  curs_set(0);
  if (has_colors()) {
    start_color();
    im.colours = COLORS;
  }
  g_term.reset_len = 0;
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
  if (impl_->watching_input) loop.unwatch_fd(STDIN_FILENO);
  if (impl_->pump_hwnd) loop.unregister_window(impl_->pump_hwnd);
  loop.unwatch_fd(g_term.winch_pipe[0]);
  if (g_term.active.exchange(false)) endwin();
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
  render_screen(grid_);
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
  if (!impl_->keys.empty() && !impl_->pump_posted)
    impl_->pump_posted = platform::post_message(impl_->pump_hwnd, platform::WM_USER);
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

void TerminalDisplay::deliver_next_key() {
  impl_->pump_posted = false;
  if (impl_->keys.empty()) return;
  const Input in = impl_->keys.front();
  impl_->keys.pop_front();
  // The next key goes out with the next message, before this one is
  // delivered: a key that opens a modal loop lets type-ahead reach it.
  if (!impl_->keys.empty()) impl_->pump_posted = platform::post_message(impl_->pump_hwnd, platform::WM_USER);
  if (platform::log_enabled(platform::LogLevel::Debug))
    platform::log_debug(kLog, std::string("key ") + (in.kind == Input::Kind::Key ? std::string(platform::key_name(in.key))
                                                       : in.kind == Input::Kind::Mnemonic ? "Alt+" + std::to_string(in.letter)
                                                                                           : in.text) +
                                  " to window " + std::to_string(platform::active_window()));
  // May run a modal loop (a message box) before it returns.
  if (!deliver_input(in)) {
    // PageUp/PageDown that no control used scroll a page taller than the
    // terminal, so that the texts below its fields can be read.
    const bool page_key = in.kind == Input::Kind::Key && (in.key == platform::Key::PageUp || in.key == platform::Key::PageDown);
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
