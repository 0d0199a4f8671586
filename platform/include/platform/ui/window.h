// Windows: the window model every dialog, control and message box stands on.
//
// Principles:
//  - A window is a Window object with a handle (HWND) registered on the
//    calling thread's MessageLoop. Code keeps handles across messages, never
//    pointers; window_from_handle() gives a pointer that is good for the
//    current message only.
//  - Objects made with new_window<T>() belong to the window model: after
//    destroy_window() unregisters the handle, the object is deleted as soon as
//    none of its own message handlers is still on the stack ("after its last
//    message"). Objects on the stack or held as members (a modal dialog run
//    from a handler) are owned by their holder; their destructor destroys the
//    window if it still exists.
//  - destroy_window() takes owned pop-ups and children down first, then sends
//    WM_DESTROY and WM_NCDESTROY to the window itself and forgets its handle.
//  - Geometry is in pixels of a virtual screen (set_screen_size, default
//    800 x 600). Dialog units convert with fixed base units of 6 x 13 pixels
//    (MS Sans Serif 8): x px = dlu * 6 / 4, y px = dlu * 13 / 8, so one
//    terminal cell of 4 x 8 dialog units is exactly 6 x 13 pixels. A window's
//    rectangle is its client area; there is no non-client frame.
//  - Top-level windows (no parent) sit in a z-order; owned pop-ups stay above
//    their owner when it is brought to the top. The thread has one focus
//    window; active_window() is the top-level window that takes keys.
//  - Renderers learn about changes through platform/ui/display.h and read state
//    through the getters here and in controls.h and dialog.h. The window model
//    never includes a renderer.
//
// Index: Point/Rect, styles, Window, new_window, window_from_handle,
// destroy_window, show/enable/move/centre/place_over, z-order and focus,
// screen size and dialog units.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ui/bitmap.h"
#include "platform/loop/message_loop.h"

namespace platform {

struct Point {
  int x = 0;
  int y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool contains(Point p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// Window styles keep their Windows values.
enum : std::uint32_t {
  WS_POPUP = 0x80000000u,
  WS_CHILD = 0x40000000u,
  WS_VISIBLE = 0x10000000u,
  WS_DISABLED = 0x08000000u,
  WS_CAPTION = 0x00C00000u,
  WS_VSCROLL = 0x00200000u,
  WS_HSCROLL = 0x00100000u,
  WS_SYSMENU = 0x00080000u,
  WS_GROUP = 0x00020000u,
  WS_TABSTOP = 0x00010000u,
};

// ShowWindow commands.
enum : int { SW_HIDE = 0, SW_SHOWNORMAL = 1, SW_SHOW = 5, SW_SHOWNA = 8 };

// What a window is, for renderers and the scripted user.
enum class WindowKind { Plain, Dialog, MessageBox, Control };

class Window : public MessageTarget {
 public:
  Window();
  ~Window() override;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Makes the window: registers its handle, links it to `parent` (a child
  // window) or `owner` (a pop-up), sends WM_CREATE. Returns the handle, 0 when
  // the window exists already or the parent/owner is not a window.
  HWND create(std::string_view text, std::uint32_t style, const Rect& rect, HWND parent = 0,
              HWND owner = 0);

  HWND hwnd() const { return hwnd_; }
  HWND parent() const { return parent_; }
  HWND owner() const { return owner_; }
  std::uint32_t style() const { return style_; }
  void set_style(std::uint32_t style);
  virtual WindowKind kind() const { return WindowKind::Plain; }

  const std::string& text() const { return text_; }
  // Replaces the caption or the control's text and tells the display.
  virtual void set_text(std::string_view text);

  Rect rect() const { return rect_; }           // relative to the parent (screen for top level)
  Rect screen_rect() const;                      // in screen pixels
  const std::vector<HWND>& children() const { return children_; }  // creation (tab) order

  bool is_visible() const;        // own WS_VISIBLE and every ancestor's
  bool has_visible_style() const { return (style_ & WS_VISIBLE) != 0; }
  bool is_enabled() const { return (style_ & WS_DISABLED) == 0; }

  // Painting: the window's surface (client size, 24-bit) and the record of the
  // latest paint. Only top-level windows paint; controls are drawn by
  // renderers from their state, owner-drawn ones through their dialog.
  const PaintRecord& paint_record() const { return record_; }
  const Bitmap& surface() const { return surface_; }
  bool needs_paint() const { return dirty_; }
  void invalidate();

  // Timers on this window (WM_TIMER with wparam = id).
  TimerId set_timer(TimerId id, std::int64_t period_ms);
  bool kill_timer(TimerId id);

  // From the loop: keeps the object alive while the handler runs.
  LRESULT handle_message(const Message& msg) final;

  // Keeps the object alive across a call that may destroy the window (a
  // modal run, a command handler); the object goes when the last hold ends.
  class Hold {
   public:
    explicit Hold(Window* w);
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    Window* w_;
  };

 protected:
  // The window's message procedure. The default handles WM_PAINT (paints),
  // WM_CLOSE (destroys the window) and ignores the rest; overrides pass what
  // they do not handle on to it.
  virtual LRESULT window_proc(const Message& msg);
  // Paints into `dc` (a DC on the surface that records what is drawn), after
  // the surface was filled with background_colour(). The base draws nothing.
  virtual void on_paint(DC& dc);
  virtual COLORREF background_colour() const { return RGB(192, 192, 192); }
  // For destructors of derived windows: destroys the window (if it still
  // exists) while the derived object is whole, without the model deleting it.
  void destroy_from_destructor();
  // The painting steps after the background; Dialog adds its pictures and
  // owner-draw buttons around on_paint().
  virtual void paint_content(DC& dc) { on_paint(dc); }


 private:
  friend class WindowModel;
  void do_paint();
  void release();
  HWND hwnd_ = 0;
  HWND parent_ = 0;
  HWND owner_ = 0;
  std::uint32_t style_ = 0;
  std::string text_;
  Rect rect_;
  std::vector<HWND> children_;
  PaintRecord record_;
  Bitmap surface_;
  bool dirty_ = true;
  bool model_owned_ = false;
  bool destroyed_ = false;
  bool destroying_ = false;
  int in_use_ = 0;

  template <class T, class... A>
  friend T* new_window(A&&... args);
  void mark_model_owned() { model_owned_ = true; }
};

// Makes a window object that the model deletes after its last message.
// Until its window is created the caller may still delete it; a model-owned
// object whose create fails is the caller's to delete.
template <class T, class... A>
T* new_window(A&&... args) {
  T* w = new T(std::forward<A>(args)...);
  static_cast<Window*>(w)->mark_model_owned();
  return w;
}

// The object behind a live handle, or nullptr. Good for the current message.
Window* window_from_handle(HWND hwnd);
template <class T>
T* window_cast(HWND hwnd) {
  return dynamic_cast<T*>(window_from_handle(hwnd));
}

// Destroys the window (owned pop-ups and children first). False if no window.
bool destroy_window(HWND hwnd);
// SW_HIDE hides; SW_SHOW and SW_SHOWNORMAL show, bring the window to the top
// and activate it; SW_SHOWNA shows without changing the z-order or focus.
// Returns whether the window was visible before, as ShowWindow does.
bool show_window(HWND hwnd, int command);
// Enables or disables; returns whether it was disabled before.
bool enable_window(HWND hwnd, bool enable);
bool is_window_visible(HWND hwnd);
bool is_window_enabled(HWND hwnd);
bool set_window_text(HWND hwnd, std::string_view text);
std::string get_window_text(HWND hwnd);

// Moves to `rect` (relative to the parent; screen for top-level windows).
bool move_window(HWND hwnd, const Rect& rect);
// Moves the top-left corner to the middle of the screen (integer halves of the
// free width and height), keeping the size.
bool centre_window(HWND hwnd);
// Moves the window so that its top-left corner is at `over`'s, keeping its size.
bool place_over(HWND hwnd, HWND over);
// Centres over `owner` (screen when 0 or hidden); for dialogs that centre on start.
bool centre_over(HWND hwnd, HWND owner);

// Top-level windows bottom to top.
std::vector<HWND> top_level_windows();
// Brings a top-level window (and the pop-ups it owns) to the top.
bool bring_to_top(HWND hwnd);
// The top-level window an HWND belongs to (itself when top level).
HWND top_level_of(HWND hwnd);
// The top-level window that receives keys: the one holding the focus when it
// is visible and enabled, else the topmost visible and enabled one; 0 if none.
HWND active_window();
// Activates a top-level window: brings it to the top and gives the focus back
// to the control that last had it.
bool set_active_window(HWND hwnd);

// Focus: one window per thread. set_focus sends WM_KILLFOCUS / WM_SETFOCUS.
HWND get_focus();
HWND set_focus(HWND hwnd);

// Paints the window now if it needs it (WM_PAINT); renderers call this before
// reading paint_record().
void paint_window(HWND hwnd);

// Screen size in pixels.
void set_screen_size(int width, int height);
Point screen_size();

// Dialog units to pixels with the fixed base units (6 x 13).
constexpr int dlu_to_px_x(int dlu) { return dlu * 6 / 4; }
constexpr int dlu_to_px_y(int dlu) { return dlu * 13 / 8; }
inline Rect dlu_to_px(const Rect& r) {
  return {dlu_to_px_x(r.left), dlu_to_px_y(r.top), dlu_to_px_x(r.right), dlu_to_px_y(r.bottom)};
}

// Word helpers for WM_COMMAND and friends.
constexpr WPARAM make_wparam(unsigned low, unsigned high) {
  return static_cast<WPARAM>((low & 0xFFFFu) | ((high & 0xFFFFu) << 16));
}
constexpr unsigned loword(WPARAM w) { return static_cast<unsigned>(w & 0xFFFFu); }
constexpr unsigned hiword(WPARAM w) { return static_cast<unsigned>((w >> 16) & 0xFFFFu); }

}  // namespace platform
