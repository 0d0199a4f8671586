// Internal state of the window model: one per thread, like the message loop.
#pragma once

#include <unordered_map>
#include <vector>

#include "platform/ui/display.h"
#include "platform/ui/window.h"

namespace platform {

class Dialog;

class WindowModel {
 public:
  static WindowModel& current();

  // Registers a newly created window.
  void add(Window* w);
  Window* find(HWND hwnd) const;
  void destroy(Window* w);

  void notify(HWND hwnd, WindowEvent event);
  Display* display = nullptr;

  std::vector<HWND> z_order;  // top-level windows, bottom to top
  HWND focus = 0;
  Point screen{800, 600};

  void raise(HWND hwnd);
  // Gives the focus to the window that should have it after `gone` went
  // away or was hidden: the top visible enabled window.
  void activate_next();
  // Dialog's remembered focus, or its first tab stop.
  HWND focus_target(HWND top_level);

  static void set_rect(Window* w, const Rect& r) { w->rect_ = r; }
  static void remember_focus(Dialog* d, HWND h);

 private:
  std::unordered_map<HWND, Window*> windows_;
};

}  // namespace platform
