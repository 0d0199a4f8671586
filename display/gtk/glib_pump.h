// GLib's main context driven from the platform message loop.
//
// The user-interface thread runs one loop: the platform loop. GLib's sources
// (the display connection, GTK's timers and idle handlers) are folded into
// it: before each wait the pump asks the context which descriptors to watch
// and how long it may sleep, watches those descriptors through the platform
// loop and sets a thread timer for the time-out; when either fires it checks
// and dispatches the context, then asks again. Nothing polls on a period, so
// an idle program sleeps until the display or a timer has work.
//
// Nesting: a GTK callback (a key, a click, a close request) may start a
// modal loop of the platform (a message box, a modal dialog, a library's
// own pump). That loop's waits come back here while the outer dispatch is
// still on the stack, and the pump then runs a nested iteration of the same
// context, as g_main_context_iteration() inside gtk_dialog_run() did: GDK's
// event sources may recurse, so the new window paints and takes input, and
// the nested loop blocks in poll while nothing is due. Each dispatch leaves
// a due timer behind it, so a nested loop asks the context what to wait for
// before it first waits.
#pragma once

#include <glib.h>

#include <vector>

#include "platform/loop/message_loop.h"

namespace display {

class GlibPump {
 public:
  // Acquires the default main context for the calling thread.
  GlibPump();
  ~GlibPump();
  GlibPump(const GlibPump&) = delete;
  GlibPump& operator=(const GlibPump&) = delete;

  // Dispatches what is ready now and re-arms the watches; safe to call from
  // anywhere on the thread, also from inside a dispatch of the context.
  void run_once();
  // How many iterations of the context are on the stack (0 outside GLib).
  int depth() const { return depth_; }

 private:
  void prepare();
  void arm();
  // (Re)starts the one thread timer that wakes the pump; -1: none.
  void set_timer(gint timeout);
  void on_wake();

  GMainContext* context_;
  std::vector<GPollFD> fds_;
  std::vector<int> watched_;
  platform::TimerId timer_ = 0;
  gint max_priority_ = 0;
  gint timeout_ = -1;
  bool prepared_ = false;
  bool acquired_ = false;
  int depth_ = 0;
};

}  // namespace display
