#include "platform/ui/window.h"

#include <algorithm>

#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/loop/log.h"
#include "window_model.h"

namespace platform {

// ---------------------------------------------------------------- model

WindowModel& WindowModel::current() {
  thread_local WindowModel model;
  return model;
}

void WindowModel::add(Window* w) { windows_[w->hwnd()] = w; }

Window* WindowModel::find(HWND hwnd) const {
  if (hwnd == 0) return nullptr;
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? nullptr : it->second;
}

void WindowModel::notify(HWND hwnd, WindowEvent event) {
  if (display) display->window_event(hwnd, event);
}

void WindowModel::remember_focus(Dialog* d, HWND h) { d->set_focus_control(h); }

void WindowModel::raise(HWND hwnd) {
  auto it = std::find(z_order.begin(), z_order.end(), hwnd);
  if (it == z_order.end()) return;
  z_order.erase(it);
  z_order.push_back(hwnd);
  // Owned pop-ups stay above their owner.
  std::vector<HWND> owned;
  for (HWND h : z_order)
    if (Window* w = find(h); w && w->owner() == hwnd) owned.push_back(h);
  for (HWND h : owned) raise(h);
}

HWND WindowModel::focus_target(HWND top) {
  auto* d = dynamic_cast<Dialog*>(find(top));
  if (!d) return top;
  HWND f = d->focus_control();
  if (f && find(f) && is_window_visible(f) && is_window_enabled(f) && top_level_of(f) == top) return f;
  HWND first = d->next_tab_item(0, false);
  return first ? first : top;
}

void WindowModel::activate_next() {
  for (auto it = z_order.rbegin(); it != z_order.rend(); ++it) {
    Window* w = find(*it);
    if (w && w->is_visible() && w->is_enabled()) {
      set_focus(focus_target(*it));
      return;
    }
  }
  set_focus(0);
}

void WindowModel::destroy(Window* w) {
  if (w->destroying_) return;
  w->destroying_ = true;
  Window::Hold hold(w);
  const HWND h = w->hwnd();

  // Owned pop-ups first, then children.
  std::vector<HWND> owned;
  for (HWND t : z_order)
    if (Window* o = find(t); o && o->owner() == h) owned.push_back(t);
  for (HWND t : owned) destroy_window(t);
  std::vector<HWND> children = w->children();
  for (HWND c : children) destroy_window(c);

  const bool had_focus = focus != 0 && (focus == h || top_level_of(focus) == h);
  if (w->style() & WS_VISIBLE) {
    w->style_ &= ~WS_VISIBLE;
    notify(h, WindowEvent::Hidden);
  }
  send_message(h, WM_DESTROY);
  send_message(h, WM_NCDESTROY);

  if (Window* parent = find(w->parent())) std::erase(parent->children_, h);
  std::erase(z_order, h);
  if (focus == h) focus = 0;
  MessageLoop::current().unregister_window(h);
  windows_.erase(h);
  w->destroyed_ = true;
  notify(h, WindowEvent::Destroyed);
  if (had_focus && w->parent() == 0) {
    // Activation goes back to the owner when it can take it.
    Window* owner = find(w->owner());
    if (owner && owner->is_visible() && owner->is_enabled()) {
      set_active_window(owner->hwnd());
    } else {
      activate_next();
    }
  } else if (had_focus) {
    focus = 0;
  }
}

// ---------------------------------------------------------------- Window

Window::Window() = default;

Window::~Window() { destroy_from_destructor(); }

void Window::destroy_from_destructor() {
  if (hwnd_ == 0 || destroyed_) return;
  // A window held by its owner (stack or member) goes with its object; the
  // object is being deleted already, so the model must not delete it again.
  model_owned_ = false;
  destroy_window(hwnd_);
}

Window::Hold::Hold(Window* w) : w_(w) { ++w_->in_use_; }
Window::Hold::~Hold() { w_->release(); }

void Window::release() {
  --in_use_;
  if (destroyed_ && in_use_ == 0 && model_owned_) delete this;
}

HWND Window::create(std::string_view text, std::uint32_t style, const Rect& rect, HWND parent, HWND owner) {
  if (hwnd_ != 0) return 0;
  WindowModel& m = WindowModel::current();
  if (parent && !m.find(parent)) return 0;
  if (owner && !m.find(owner)) return 0;
  text_ = std::string(text);
  style_ = style;
  rect_ = rect;
  parent_ = parent;
  owner_ = parent ? 0 : owner;
  hwnd_ = MessageLoop::current().register_window(this);
  m.add(this);
  if (parent) {
    m.find(parent)->children_.push_back(hwnd_);
  } else {
    m.z_order.push_back(hwnd_);
    m.raise(hwnd_);
  }
  m.notify(hwnd_, WindowEvent::Created);
  Hold hold(this);
  send_message(hwnd_, WM_CREATE);
  return hwnd_;
}

void Window::set_style(std::uint32_t style) {
  if (style == style_) return;
  style_ = style;
  if (hwnd_) WindowModel::current().notify(hwnd_, WindowEvent::StateChanged);
  invalidate();
}

void Window::set_text(std::string_view text) {
  if (text_ == text) return;
  text_ = std::string(text);
  if (!hwnd_) return;
  WindowModel::current().notify(hwnd_, WindowEvent::TextChanged);
  invalidate();
}

Rect Window::screen_rect() const {
  Rect r = rect_;
  HWND p = parent_;
  WindowModel& m = WindowModel::current();
  while (Window* pw = m.find(p)) {
    r.left += pw->rect_.left;
    r.right += pw->rect_.left;
    r.top += pw->rect_.top;
    r.bottom += pw->rect_.top;
    p = pw->parent_;
  }
  return r;
}

bool Window::is_visible() const {
  if (!(style_ & WS_VISIBLE) || destroyed_) return false;
  WindowModel& m = WindowModel::current();
  for (Window* p = m.find(parent_); p; p = m.find(p->parent_))
    if (!(p->style_ & WS_VISIBLE)) return false;
  return true;
}

void Window::invalidate() {
  // Controls are drawn with their dialog: the top-level window repaints.
  WindowModel& m = WindowModel::current();
  Window* top = m.find(top_level_of(hwnd_));
  if (!top) return;
  if (!top->dirty_) {
    top->dirty_ = true;
    m.notify(top->hwnd_, WindowEvent::Invalidated);
  }
}

TimerId Window::set_timer(TimerId id, std::int64_t period_ms) {
  return MessageLoop::current().set_timer(hwnd_, id, period_ms);
}

bool Window::kill_timer(TimerId id) { return MessageLoop::current().kill_timer(hwnd_, id); }

LRESULT Window::handle_message(const Message& msg) {
  Hold hold(this);
  return window_proc(msg);
}

LRESULT Window::window_proc(const Message& msg) {
  switch (msg.message) {
    case WM_PAINT:
      do_paint();
      return 0;
    case WM_CLOSE:
      destroy_window(hwnd_);
      return 0;
    default:
      return 0;
  }
}

void Window::on_paint(DC&) {}

void Window::do_paint() {
  dirty_ = false;
  if (parent_ != 0) return;
  if (surface_.width() != rect_.width() || surface_.height() != rect_.height())
    surface_ = Bitmap::colour(std::max(rect_.width(), 0), std::max(rect_.height(), 0));
  record_.clear();
  DC dc(&surface_);
  dc.set_record(&record_);
  dc.select_font(dialog_font());
  dc.fill_rect(0, 0, rect_.width(), rect_.height(), background_colour());
  paint_content(dc);
}

// ---------------------------------------------------------------- functions

Window* window_from_handle(HWND hwnd) { return WindowModel::current().find(hwnd); }

bool destroy_window(HWND hwnd) {
  Window* w = window_from_handle(hwnd);
  if (!w) return false;
  WindowModel::current().destroy(w);
  return true;
}

bool show_window(HWND hwnd, int command) {
  WindowModel& m = WindowModel::current();
  Window* w = m.find(hwnd);
  if (!w) return false;
  Window::Hold hold(w);
  const bool was_visible = (w->style() & WS_VISIBLE) != 0;
  if (command == SW_HIDE) {
    if (!was_visible) return false;
    const bool had_focus = m.focus != 0 && (m.focus == hwnd || top_level_of(m.focus) == top_level_of(hwnd)) &&
                           (w->parent() == 0 || m.focus == hwnd);
    send_message(hwnd, WM_SHOWWINDOW, 0);
    if (!m.find(hwnd)) return true;
    w->set_style(w->style() & ~WS_VISIBLE);
    m.notify(hwnd, WindowEvent::Hidden);
    w->invalidate();
    if (had_focus) {
      if (w->parent() == 0) {
        m.activate_next();
      } else if (auto* d = dynamic_cast<Dialog*>(m.find(w->parent()))) {
        HWND next = d->next_tab_item(hwnd, false);
        set_focus(next != hwnd ? next : 0);
      }
    }
    return true;
  }
  if (!was_visible) {
    send_message(hwnd, WM_SHOWWINDOW, 1);
    if (!m.find(hwnd)) return false;
    w->set_style(w->style() | WS_VISIBLE);
    m.notify(hwnd, WindowEvent::Shown);
    w->invalidate();
  }
  if (w->parent() == 0 && command != SW_SHOWNA) set_active_window(hwnd);
  return was_visible;
}

bool enable_window(HWND hwnd, bool enable) {
  WindowModel& m = WindowModel::current();
  Window* w = m.find(hwnd);
  if (!w) return false;
  const bool was_disabled = !w->is_enabled();
  if (was_disabled == !enable) return was_disabled;
  w->set_style(enable ? (w->style() & ~WS_DISABLED) : (w->style() | WS_DISABLED));
  send_message(hwnd, WM_ENABLE, enable ? 1 : 0);
  if (!enable && m.focus == hwnd && w->parent() != 0) {
    // A disabled control cannot keep the focus.
    if (auto* d = dynamic_cast<Dialog*>(m.find(w->parent()))) {
      HWND next = d->next_tab_item(hwnd, false);
      set_focus(next != hwnd ? next : 0);
    }
  }
  return was_disabled;
}

bool is_window_visible(HWND hwnd) {
  Window* w = window_from_handle(hwnd);
  return w && w->is_visible();
}

bool is_window_enabled(HWND hwnd) {
  Window* w = window_from_handle(hwnd);
  return w && w->is_enabled();
}

bool set_window_text(HWND hwnd, std::string_view text) {
  Window* w = window_from_handle(hwnd);
  if (!w) return false;
  Window::Hold hold(w);
  w->set_text(text);
  return true;
}

std::string get_window_text(HWND hwnd) {
  Window* w = window_from_handle(hwnd);
  return w ? w->text() : std::string();
}

bool move_window(HWND hwnd, const Rect& rect) {
  WindowModel& m = WindowModel::current();
  Window* w = m.find(hwnd);
  if (!w) return false;
  if (w->rect() == rect) return true;
  const bool resized = w->rect().width() != rect.width() || w->rect().height() != rect.height();
  WindowModel::set_rect(w, rect);
  m.notify(hwnd, WindowEvent::Moved);
  send_message(hwnd, WM_MOVE, 0,
               static_cast<LPARAM>((rect.left & 0xFFFF) | (static_cast<std::uint32_t>(rect.top & 0xFFFF) << 16)));
  if (resized) {
    w->invalidate();
    send_message(hwnd, WM_SIZE);
  }
  return true;
}

bool centre_window(HWND hwnd) {
  Window* w = window_from_handle(hwnd);
  if (!w) return false;
  Point s = screen_size();
  Rect r = w->rect();
  const int left = (s.x - r.width()) / 2;
  const int top = (s.y - r.height()) / 2;
  return move_window(hwnd, {left, top, left + r.width(), top + r.height()});
}

bool place_over(HWND hwnd, HWND over) {
  Window* w = window_from_handle(hwnd);
  Window* o = window_from_handle(over);
  if (!w || !o) return false;
  Rect r = w->rect();
  Rect target = o->screen_rect();
  if (w->parent() != 0) {
    Rect p = window_from_handle(w->parent())->screen_rect();
    target.left -= p.left;
    target.top -= p.top;
  }
  return move_window(hwnd, {target.left, target.top, target.left + r.width(), target.top + r.height()});
}

bool centre_over(HWND hwnd, HWND owner) {
  Window* w = window_from_handle(hwnd);
  if (!w) return false;
  Window* o = window_from_handle(owner);
  if (!o || !o->is_visible()) return centre_window(hwnd);
  Rect orect = o->screen_rect();
  Rect r = w->rect();
  Point s = screen_size();
  int left = orect.left + (orect.width() - r.width()) / 2;
  int top = orect.top + (orect.height() - r.height()) / 2;
  left = std::clamp(left, 0, std::max(0, s.x - r.width()));
  top = std::clamp(top, 0, std::max(0, s.y - r.height()));
  return move_window(hwnd, {left, top, left + r.width(), top + r.height()});
}

std::vector<HWND> top_level_windows() { return WindowModel::current().z_order; }

bool bring_to_top(HWND hwnd) {
  WindowModel& m = WindowModel::current();
  Window* w = m.find(hwnd);
  if (!w || w->parent() != 0) return false;
  if (!m.z_order.empty() && m.z_order.back() == hwnd) return true;
  m.raise(hwnd);
  m.notify(hwnd, WindowEvent::ZOrderChanged);
  return true;
}

HWND top_level_of(HWND hwnd) {
  WindowModel& m = WindowModel::current();
  Window* w = m.find(hwnd);
  while (w && w->parent() != 0) {
    Window* p = m.find(w->parent());
    if (!p) break;
    w = p;
  }
  return w ? w->hwnd() : 0;
}

HWND active_window() {
  WindowModel& m = WindowModel::current();
  HWND top = top_level_of(m.focus);
  if (Window* w = m.find(top); w && w->is_visible() && w->is_enabled()) return top;
  for (auto it = m.z_order.rbegin(); it != m.z_order.rend(); ++it) {
    Window* c = m.find(*it);
    if (c && c->is_visible() && c->is_enabled()) return *it;
  }
  return 0;
}

bool set_active_window(HWND hwnd) {
  WindowModel& m = WindowModel::current();
  Window* w = m.find(hwnd);
  if (!w || w->parent() != 0) return false;
  bring_to_top(hwnd);
  HWND target = m.focus_target(hwnd);
  if (top_level_of(m.focus) != hwnd || m.focus != target) set_focus(target);
  return true;
}

HWND get_focus() { return WindowModel::current().focus; }

HWND set_focus(HWND hwnd) {
  WindowModel& m = WindowModel::current();
  if (hwnd && !m.find(hwnd)) return 0;
  const HWND old = m.focus;
  if (old == hwnd) return old;
  m.focus = hwnd;
  if (old && m.find(old)) send_message(old, WM_KILLFOCUS, hwnd);
  if (m.focus != hwnd) return old;  // a handler moved it on
  if (Window* w = m.find(hwnd)) {
    if (auto* d = dynamic_cast<Dialog*>(m.find(w->parent()))) WindowModel::remember_focus(d, hwnd);
    send_message(hwnd, WM_SETFOCUS, old);
  }
  m.notify(hwnd, WindowEvent::FocusChanged);
  return old;
}

void paint_window(HWND hwnd) {
  Window* w = window_from_handle(top_level_of(hwnd));
  if (w && w->needs_paint()) send_message(w->hwnd(), WM_PAINT);
}

void set_screen_size(int width, int height) {
  WindowModel::current().screen = {std::max(width, 1), std::max(height, 1)};
}

Point screen_size() { return WindowModel::current().screen; }

void set_display(Display* display) { WindowModel::current().display = display; }
Display* current_display() { return WindowModel::current().display; }

}  // namespace platform
