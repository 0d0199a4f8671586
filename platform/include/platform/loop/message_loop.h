// Message loop: one per thread, as the Windows message queue was.
//
// Rules:
//  - Every thread that touches windows or timers has one loop, made on first
//    use by MessageLoop::current(). It is never shared.
//  - Windows are addressed by handles (HWND), never by pointers kept across
//    messages. Handles are never reused, so a message posted to a window that
//    has since been destroyed finds no target and is dropped.
//  - post_message may be called from any thread; the message is delivered on
//    the thread that registered the window. send_message calls the handler at
//    once on the same thread, and waits for the owning thread otherwise.
//  - Window timers deliver WM_TIMER (wparam = timer id) to their window;
//    thread timers call a callback and need no window (libraries use them).
//    A timer fires at most once per pass however late the loop is, and may be
//    killed or reset from inside its own tick.
//  - run() dispatches until quit(); run_modal() stacks a nested loop that ends
//    when end_modal() is called on its state, returning the given result;
//    timers and posted messages keep flowing inside it. A quit() ends every
//    nested loop and then the outer run().
//  - pump_pending() dispatches whatever is due now and returns without
//    waiting: for libraries that must keep messages flowing while they wait.
//  - Waiting never spins: the loop blocks on its wake-up descriptor (and the
//    descriptors it watches) until the next timer is due. Under a virtual
//    clock an idle loop jumps the clock to its next timer instead.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

using HWND = std::uint32_t;  // 0 is no window
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using TimerId = std::uintptr_t;

// Message numbers that keep their Windows values.
enum : unsigned {
  WM_NULL = 0x0000,
  WM_CREATE = 0x0001,
  WM_DESTROY = 0x0002,
  WM_MOVE = 0x0003,
  WM_SIZE = 0x0005,
  WM_ACTIVATE = 0x0006,
  WM_SETFOCUS = 0x0007,
  WM_KILLFOCUS = 0x0008,
  WM_ENABLE = 0x000A,
  WM_SETTEXT = 0x000C,
  WM_GETTEXT = 0x000D,
  WM_PAINT = 0x000F,
  WM_CLOSE = 0x0010,
  WM_QUIT = 0x0012,
  WM_SHOWWINDOW = 0x0018,
  WM_NCDESTROY = 0x0082,
  WM_KEYDOWN = 0x0100,
  WM_CHAR = 0x0102,
  WM_INITDIALOG = 0x0110,
  WM_COMMAND = 0x0111,
  WM_TIMER = 0x0113,
  WM_USER = 0x0400,
};

struct Message {
  HWND hwnd = 0;
  unsigned message = 0;
  WPARAM wparam = 0;
  LPARAM lparam = 0;
};

// What a window is to the loop: something that handles its messages.
class MessageTarget {
 public:
  virtual ~MessageTarget() = default;
  virtual LRESULT handle_message(const Message& msg) = 0;
};

// State of one modal run; end_modal() ends the nested loop that runs it.
struct ModalState {
  bool ended = false;
  int result = 0;
};

class MessageLoop {
 public:
  // The calling thread's loop.
  static MessageLoop& current();

  // Gives `target` (not owned) a new handle on this loop's thread.
  HWND register_window(MessageTarget* target);
  // Forgets the handle: later messages to it are dropped, its timers die.
  void unregister_window(HWND hwnd);

  // --- timers (this thread) ---
  // Starts or restarts window timer `id` of `hwnd`; returns `id`, 0 if the
  // window does not exist or period is negative.
  TimerId set_timer(HWND hwnd, TimerId id, std::int64_t period_ms);
  bool kill_timer(HWND hwnd, TimerId id);
  // Starts a thread timer; returns its nonzero id.
  TimerId set_thread_timer(std::int64_t period_ms, std::function<void(TimerId)> callback);
  bool kill_thread_timer(TimerId id);

  // --- descriptors ---
  // Calls `on_ready` from the loop whenever `fd` is readable (or hung up).
  // A watched descriptor is never read by the loop itself.
  void watch_fd(int fd, std::function<void()> on_ready);
  void unwatch_fd(int fd);

  // --- running ---
  // Runs until quit(); returns the exit code.
  int run();
  // Runs a nested loop until end_modal(state) (returns state.result) or quit
  // (returns -1 and leaves the quit pending for the outer loops).
  int run_modal(ModalState& state);
  void end_modal(ModalState& state, int result);
  // Dispatches what is due now without blocking. False once quit is pending.
  bool pump_pending();
  // Asks run() to end with `exit_code` once the current message is done.
  void quit(int exit_code);
  bool quit_pending() const;
  int nesting_depth() const;

  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;
  ~MessageLoop();

  struct Impl;

 private:
  MessageLoop();
  std::unique_ptr<Impl> impl_;
};

// Posts to the window's own thread. False if the window does not exist.
bool post_message(HWND hwnd, unsigned message, WPARAM wparam = 0, LPARAM lparam = 0);
// Calls the window's handler now (same thread) or waits for its thread.
// Returns 0 when the window does not exist.
LRESULT send_message(HWND hwnd, unsigned message, WPARAM wparam = 0, LPARAM lparam = 0);
// True while `hwnd` is registered.
bool is_window(HWND hwnd);
// PostQuitMessage for the calling thread.
void post_quit_message(int exit_code);

}  // namespace platform
