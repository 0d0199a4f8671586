// GLib's main context driven from the platform message loop.
//
// The user-interface thread runs one loop: the platform loop. GLib's sources
// (the display connection, GTK's timers and idle handlers) are folded into
// it: before each wait the pump asks the context which descriptors to watch
// and how long it may sleep, watches those descriptors through the platform
// loop and sets a thread timer for the time-out; when either fires it checks
// and dispatches the context, then asks again. Nothing polls on a period, so
// an idle program sleeps until the display or a timer has work.
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
  // anywhere on the thread (it does nothing when already inside a dispatch).
  void run_once();

 private:
  void arm();
  void on_wake();

  GMainContext* context_;
  std::vector<GPollFD> fds_;
  std::vector<int> watched_;
  platform::TimerId timer_ = 0;
  gint max_priority_ = 0;
  bool prepared_ = false;
  bool inside_ = false;
  bool acquired_ = false;
};

}  // namespace display
