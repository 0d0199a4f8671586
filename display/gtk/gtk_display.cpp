// libdisplay-gtk.so: the window model in GTK 4 desktop windows.
//
// Principles:
//  - The window model stays the one source of truth. Each visible top-level
//    window of the model is a GtkWindow; its painted surface (pictures,
//    separators, masked bitmap buttons, the page title) is drawn into a
//    canvas, and each control is a native widget laid out exactly at its
//    rectangle. Widgets show the model's state; they never change it.
//  - Every key and click is taken before the widgets see it and turned into
//    the calls of platform/ui/user_input.h, as the terminal renderer and the
//    scripted user do, so limits, upper-casing, Tab order and the dialog
//    manager's rules are the model's own. The model's change events then
//    bring the widgets up to date (one sync per loop pass, not per event).
//  - Pixels: the model lays out in its own units (6 x 13 pixels per 4 x 8
//    dialog units). Here one dialog unit is a quarter of the font's average
//    character width and an eighth of its height, as Windows computes dialog
//    base units, so pages keep their proportions at any font size; GTK's
//    scale factor makes them sharp on HiDPI monitors.
//  - One loop: GLib's context is driven from the platform loop (glib_pump.h);
//    a modal loop started inside a GTK callback keeps it dispatching.
//  - One window per wizard run: a page that replaces the page before it in
//    one pass takes over that page's GtkWindow, so the window stays where
//    the user put it; modal dialogs and message boxes are transient for it.
//  - Colours are the theme's: the page's background colour is left out of
//    the canvas (the window's own background shows through) and painted
//    texts take the style's foreground; pictures keep their colours.
//  - Texts fit: a label that needs more room than its rectangle grows into
//    the free space beside it, else its text is shrunk a step; it never
//    runs into the field beside it.
#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "display/transcript.h"
#include "glib_pump.h"
#include "platform/ui/controls.h"
#include "platform/ui/labels.h"
#include "platform/ui/dialog.h"
#include "platform/ui/display.h"
#include "platform/loop/log.h"
#include "platform/ui/message_box.h"
#include "platform/ui/user_input.h"
#include "platform/ui/utf8.h"
#include "platform/ui/window.h"

namespace display {
namespace {

using namespace platform;

constexpr const char* kLog = "display-gtk";

// Compact widget styles: the pages were laid out for 1990s controls, whose
// edits and buttons are a text line high.
constexpr const char* kCss = R"css(
.vlr-page entry, .vlr-page button, .vlr-page dropdown > button {
  min-height: 0; min-width: 0; padding-top: 0; padding-bottom: 0;
  padding-left: 4px; padding-right: 4px;
}
.vlr-page checkbutton { min-height: 0; padding: 0; }
.vlr-page checkbutton check, .vlr-page checkbutton radio { margin: 0 4px 0 0; min-width: 12px; min-height: 12px; }
.vlr-page frame > label { margin: 0; }
.vlr-page button.vlr-owner-draw { background: none; border: none; box-shadow: none; padding: 0; }
.vlr-page button.vlr-owner-draw:focus-visible { outline: 1px dotted currentColor; outline-offset: -3px; }
)css";

// A label's text shrunk one step, when even the free space beside it is too
// narrow.
constexpr double kShrinkStep = 0.85;
// Room left between a label's text and the field after it, and the control
// before it, in pixels.
constexpr int kLabelGap = 4;
constexpr int kLabelGapBefore = 2;

// GTK's form of a control text: each "&" mark becomes GTK's "_" (GTK
// underlines every marked character, as Windows does), a "_" of the text is
// doubled, and a lone "&" at the very end is left out.
std::string mnemonic_markup(std::string_view text) {
  const MnemonicText m = parse_mnemonics(text);
  const std::size_t end = m.shown.size() - (m.ends_with_mark ? 1 : 0);
  std::string out;
  auto mark = m.marked.begin();
  for (std::size_t i = 0; i < end; ++i) {
    if (mark != m.marked.end() && *mark == i) {
      out += '_';
      ++mark;
    }
    out += m.shown[i] == '_' ? std::string_view("__") : std::string_view(&m.shown[i], 1);
  }
  return out;
}

struct ControlView {
  HWND hwnd = 0;
  ControlType type = ControlType::Static;
  bool multi_line = false;
  bool has_edit = false;
  GtkWidget* widget = nullptr;   // what is laid out (may be a scroller)
  GtkWidget* inner = nullptr;    // the entry, text view or list inside it
  std::vector<std::string> items;  // as last shown
  // Labels: what the fit was worked out for, and its outcome.
  std::string fitted_text;
  Rect fitted_rect;
  Rect shown_rect;               // model rectangle after growing
  double scale = 1.0;            // text scale after shrinking
};

struct TopView {
  HWND hwnd = 0;
  bool message_box = false;
  GtkWidget* window = nullptr;
  GtkWidget* canvas = nullptr;   // the painted surface
  GtkWidget* layer = nullptr;    // the controls, at their rectangles
  std::map<HWND, ControlView> controls;
  cairo_surface_t* image = nullptr;
  COLORREF background = 0;       // the model's background, left out of the image
  std::vector<PaintOp> texts;
  int width = 0, height = 0;     // model pixels
  bool adopted = false;          // took the window of a page that went; content not built yet
};

// The model window a GtkWindow shows now (it changes when a page takes the
// window over).
HWND shown_hwnd(GtkWidget* window) {
  return static_cast<HWND>(GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(window), "vlr-hwnd")));
}

class GtkDisplay;
GtkDisplay* g_display = nullptr;

void announce_next_frame(GtkWidget* window, HWND hwnd);

class GtkDisplay final : public Display {
 public:
  // `transcript`: a file that gets a line per dialog and message box shown
  // (the headless display's form) and "painted ID" once its first frame is
  // on the screen; empty for none.
  static std::unique_ptr<GtkDisplay> open(const std::string& transcript, std::string& error);
  ~GtkDisplay() override;

  void window_event(HWND hwnd, WindowEvent event) override;
  void beep() override {
    if (GdkDisplay* d = gdk_display_get_default()) gdk_display_beep(d);
    write("beep");
  }
  void write(const std::string& line) {
    if (!transcript_.is_open()) return;
    transcript_ << line << '\n';
    transcript_.flush();
  }

  // Model pixels to GTK pixels.
  double sx() const { return unit_x_ / 6.0; }
  double sy() const { return unit_y_ / 13.0; }
  int to_x(int px) const { return static_cast<int>(std::lround(px * sx())); }
  int to_y(int px) const { return static_cast<int>(std::lround(px * sy())); }
  // Room a painted heading leaves above itself, in GTK pixels.
  double heading_margin() const { return unit_y_ * 0.75; }

  // For tests: the allocation of the widget of `control`, in its window.
  bool widget_bounds(HWND control, int& x, int& y, int& w, int& h);
  // For tests: the widget that shows `control` (nullptr: none).
  GtkWidget* widget_of(HWND control) {
    TopView* v = view_of(top_level_of(control));
    if (!v) return nullptr;
    auto it = v->controls.find(control);
    return it == v->controls.end() ? nullptr : it->second.widget;
  }
  void units(double& char_width, double& char_height) const {
    char_width = unit_x_;
    char_height = unit_y_;
  }

  void request_sync();
  void sync();
  TopView* view_of(HWND top) {
    auto it = tops_.find(top);
    return it == tops_.end() ? nullptr : &it->second;
  }
  bool syncing() const { return syncing_; }

 private:
  GtkDisplay() = default;
  void measure_font();
  void sync_top(HWND hwnd);
  void make_top(TopView& v, Window& w);
  void make_message_box(TopView& v, MessageBoxWindow& box);
  void drop_top(HWND hwnd);
  void hand_over(HWND from, HWND to);
  void watch_first_frame(TopView& v);
  void sync_controls(TopView& v, Window& w);
  void sync_control(TopView& v, ControlView& c, Control& ctl);
  void fit_label(TopView& v, ControlView& c, Control& ctl);
  ControlView make_control(TopView& v, Control& ctl);
  void refresh_canvas(TopView& v, Window& w);
  void sync_focus();

  std::unique_ptr<GlibPump> pump_;
  std::ofstream transcript_;
  std::map<HWND, TopView> tops_;
  double unit_x_ = 6.0, unit_y_ = 13.0;  // average character width and height
  TimerId sync_timer_ = 0;
  bool syncing_ = false;
  HWND shown_focus_ = 0;
  HWND shown_active_ = 0;
};

// The template id of a dialog (0 for other windows).
int template_of(HWND hwnd) {
  auto* dlg = window_cast<Dialog>(hwnd);
  return dlg ? dlg->template_id() : 0;
}

// ---- input --------------------------------------------------------------

std::optional<Key> key_of(guint keyval, GdkModifierType state) {
  switch (keyval) {
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter: return Key::Enter;
    case GDK_KEY_Escape: return Key::Escape;
    case GDK_KEY_Tab:
    case GDK_KEY_KP_Tab: return (state & GDK_SHIFT_MASK) ? Key::BackTab : Key::Tab;
    case GDK_KEY_ISO_Left_Tab: return Key::BackTab;
    case GDK_KEY_space: return Key::Space;
    case GDK_KEY_Up:
    case GDK_KEY_KP_Up: return Key::Up;
    case GDK_KEY_Down:
    case GDK_KEY_KP_Down: return Key::Down;
    case GDK_KEY_Left:
    case GDK_KEY_KP_Left: return Key::Left;
    case GDK_KEY_Right:
    case GDK_KEY_KP_Right: return Key::Right;
    case GDK_KEY_Home:
    case GDK_KEY_KP_Home: return Key::Home;
    case GDK_KEY_End:
    case GDK_KEY_KP_End: return Key::End;
    case GDK_KEY_Page_Up:
    case GDK_KEY_KP_Page_Up: return Key::PageUp;
    case GDK_KEY_Page_Down:
    case GDK_KEY_KP_Page_Down: return Key::PageDown;
    case GDK_KEY_BackSpace: return Key::Backspace;
    case GDK_KEY_Delete:
    case GDK_KEY_KP_Delete: return Key::Delete;
    case GDK_KEY_F1: return Key::F1;
    default: return std::nullopt;
  }
}

gboolean on_key(GtkEventControllerKey*, guint keyval, guint, GdkModifierType state, gpointer) {
  if (state & GDK_ALT_MASK) {
    // Alt+letter: the dialog manager's mnemonics (it beeps for a letter that
    // matches nothing).
    const gunichar ch = gdk_keyval_to_unicode(gdk_keyval_to_lower(keyval));
    if (ch > 0x20 && !platform::press_mnemonic(static_cast<char32_t>(ch))) message_beep();
    return TRUE;
  }
  if (auto key = key_of(keyval, state)) {
    platform::press_key(*key);
    return TRUE;
  }
  if (state & GDK_CONTROL_MASK) return TRUE;  // no shortcuts behind the model's back
  const gunichar ch = gdk_keyval_to_unicode(keyval);
  if (ch >= 0x20 && ch != 0x7F && g_unichar_isprint(ch)) {
    char buf[8];
    const int n = g_unichar_to_utf8(ch, buf);
    platform::type_text(std::string_view(buf, static_cast<std::size_t>(n)));
  }
  return TRUE;
}

gboolean on_close_request(GtkWindow* window, gpointer) {
  const HWND hwnd = shown_hwnd(GTK_WIDGET(window));
  // The title bar's close button is Esc in that window.
  if (is_window(hwnd)) {
    set_active_window(hwnd);
    platform::press_key(Key::Escape);
  }
  return TRUE;
}

void on_combo_icon(GtkEntry* entry, GtkEntryIconPosition, gpointer data);

void on_pressed(GtkGestureClick* gesture, int n_press, double x, double y, gpointer data) {
  const HWND hwnd = static_cast<HWND>(GPOINTER_TO_UINT(data));
  auto* ctl = window_cast<Control>(hwnd);
  if (!ctl) return;
  GtkWidget* widget = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(gesture));
  if (ctl->type() == ControlType::ComboBox && GTK_IS_ENTRY(widget) &&
      gtk_entry_get_icon_at_pos(GTK_ENTRY(widget), static_cast<int>(x), static_cast<int>(y)) ==
          GTK_ENTRY_ICON_SECONDARY) {
    on_combo_icon(GTK_ENTRY(widget), GTK_ENTRY_ICON_SECONDARY, data);
  } else if (ctl->type() == ControlType::ListBox) {
    GtkWidget* list = GTK_WIDGET(g_object_get_data(G_OBJECT(widget), "vlr-list"));
    GtkAdjustment* adj = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(widget));
    GtkListBoxRow* row =
        list ? gtk_list_box_get_row_at_y(GTK_LIST_BOX(list), static_cast<int>(y + gtk_adjustment_get_value(adj)))
             : nullptr;
    platform::click(hwnd);
    if (row) platform::click_item(hwnd, gtk_list_box_row_get_index(row), n_press == 2);
  } else {
    platform::click(hwnd);
  }
  gtk_gesture_set_state(GTK_GESTURE(gesture), GTK_EVENT_SEQUENCE_CLAIMED);
}

void on_dropdown_selected(GObject* object, GParamSpec*, gpointer data) {
  if (!g_display || g_display->syncing()) return;
  const HWND hwnd = static_cast<HWND>(GPOINTER_TO_UINT(data));
  const guint index = gtk_drop_down_get_selected(GTK_DROP_DOWN(object));
  if (index == GTK_INVALID_LIST_POSITION) return;
  platform::click(hwnd);
  platform::click_item(hwnd, static_cast<int>(index));
}

// The arrow of a combo box with an edit field drops its list down.
void on_combo_row(GtkListBox* list, GtkListBoxRow* row, gpointer data) {
  const HWND hwnd = static_cast<HWND>(GPOINTER_TO_UINT(data));
  platform::click_item(hwnd, gtk_list_box_row_get_index(row));
  if (GtkWidget* popover = gtk_widget_get_ancestor(GTK_WIDGET(list), GTK_TYPE_POPOVER))
    gtk_popover_popdown(GTK_POPOVER(popover));
}

void on_combo_icon(GtkEntry* entry, GtkEntryIconPosition, gpointer data) {
  const HWND hwnd = static_cast<HWND>(GPOINTER_TO_UINT(data));
  auto* combo = window_cast<ComboBox>(hwnd);
  if (!combo || !combo->is_enabled()) return;
  platform::click(hwnd);
  GtkWidget* list = gtk_list_box_new();
  for (const auto& item : combo->items()) {
    GtkWidget* label = gtk_label_new(item.c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_list_box_append(GTK_LIST_BOX(list), label);
  }
  gtk_list_box_set_activate_on_single_click(GTK_LIST_BOX(list), TRUE);
  g_signal_connect(list, "row-activated", G_CALLBACK(on_combo_row), data);
  GtkWidget* popover = gtk_popover_new();
  gtk_popover_set_child(GTK_POPOVER(popover), list);
  gtk_widget_set_parent(popover, GTK_WIDGET(entry));
  g_signal_connect(popover, "closed", G_CALLBACK(+[](GtkPopover* p, gpointer) {
                     g_idle_add_once([](gpointer w) { gtk_widget_unparent(GTK_WIDGET(w)); }, p);
                   }),
                   nullptr);
  gtk_popover_popup(GTK_POPOVER(popover));
}

void on_message_response(GtkDialog*, int response, gpointer data) {
  const HWND box = static_cast<HWND>(GPOINTER_TO_UINT(data));
  if (HWND button = get_dlg_item(box, response)) {
    platform::click(button);
  } else if (is_window(box)) {
    set_active_window(box);
    platform::press_key(Key::Escape);
  }
}

void add_key_capture(GtkWidget* window) {
  GtkEventController* keys = gtk_event_controller_key_new();
  gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
  g_signal_connect(keys, "key-pressed", G_CALLBACK(on_key), nullptr);
  gtk_widget_add_controller(window, keys);
}

void add_click_capture(GtkWidget* widget, HWND hwnd) {
  GtkGesture* click = gtk_gesture_click_new();
  gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(click), GTK_PHASE_CAPTURE);
  g_signal_connect(click, "pressed", G_CALLBACK(on_pressed), GUINT_TO_POINTER(hwnd));
  gtk_widget_add_controller(widget, GTK_EVENT_CONTROLLER(click));
}

// ---- layout of the controls ---------------------------------------------

struct ChildRect {
  int x, y, w, h;
};

void layer_measure(GtkWidget* widget, GtkOrientation orientation, int, int* minimum, int* natural,
                   int*, int*) {
  const int size = GPOINTER_TO_INT(
      g_object_get_data(G_OBJECT(widget), orientation == GTK_ORIENTATION_HORIZONTAL ? "vlr-w" : "vlr-h"));
  *minimum = *natural = size;
}

void layer_allocate(GtkWidget* widget, int, int, int) {
  for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child)) {
    auto* r = static_cast<ChildRect*>(g_object_get_data(G_OBJECT(child), "vlr-rect"));
    if (!r || !gtk_widget_get_visible(child)) continue;
    int min_w = 0, min_h = 0;
    gtk_widget_measure(child, GTK_ORIENTATION_HORIZONTAL, -1, &min_w, nullptr, nullptr, nullptr);
    const int w = std::max(r->w, min_w);
    gtk_widget_measure(child, GTK_ORIENTATION_VERTICAL, w, &min_h, nullptr, nullptr, nullptr);
    GtkAllocation a = {r->x, r->y, w, std::max(r->h, min_h)};
    gtk_widget_size_allocate(child, &a, -1);
  }
}

void set_child_rect(GtkWidget* child, ChildRect rect) {
  auto* r = static_cast<ChildRect*>(g_object_get_data(G_OBJECT(child), "vlr-rect"));
  if (!r) {
    r = new ChildRect(rect);
    g_object_set_data_full(G_OBJECT(child), "vlr-rect", r, [](gpointer p) { delete static_cast<ChildRect*>(p); });
    return;
  }
  if (r->x != rect.x || r->y != rect.y || r->w != rect.w || r->h != rect.h) {
    *r = rect;
    if (GtkWidget* parent = gtk_widget_get_parent(child)) gtk_widget_queue_allocate(parent);
  }
}

// ---- the painted surface --------------------------------------------------

// The style's foreground colour of `widget` (the theme's text colour).
GdkRGBA foreground_of(GtkWidget* widget) {
  GdkRGBA colour{0, 0, 0, 1};
#if GTK_CHECK_VERSION(4, 10, 0)
  gtk_widget_get_color(widget, &colour);
#else
  gtk_style_context_get_color(gtk_widget_get_style_context(widget), &colour);
#endif
  return colour;
}

// The desktop's font family (the one GTK lays labels out in).
std::string desktop_family(GtkWidget* widget) {
  const PangoFontDescription* font = pango_context_get_font_description(gtk_widget_get_pango_context(widget));
  const char* family = font ? pango_font_description_get_family(font) : nullptr;
  return family && *family ? family : "Sans";
}

// The model's texts name 1990s faces ("Times New Roman", "MS Sans Serif");
// on the desktop every text is in its own sans font, headings in bold.
PangoLayout* painted_text_layout(GtkWidget* canvas, cairo_t* cr, const PaintOp& op, double sy) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_new();
  pango_font_description_set_family(font, desktop_family(canvas).c_str());
  pango_font_description_set_absolute_size(font,
                                           std::max(1.0, (op.font.height > 0 ? op.font.height : 13) * sy * 0.8) * PANGO_SCALE);
  pango_font_description_set_weight(font, op.font.weight >= 700 ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_layout_set_font_description(layout, font);
  pango_font_description_free(font);
  pango_layout_set_text(layout, op.text.c_str(), -1);
  return layout;
}

void draw_canvas(GtkDrawingArea* area, cairo_t* cr, int, int, gpointer data) {
  const HWND hwnd = static_cast<HWND>(GPOINTER_TO_UINT(data));
  TopView* v = g_display ? g_display->view_of(hwnd) : nullptr;
  if (!v || !v->image) return;
  cairo_save(cr);
  cairo_scale(cr, g_display->sx(), g_display->sy());
  cairo_set_source_surface(cr, v->image, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
  cairo_paint(cr);
  cairo_restore(cr);
  // Texts the page drew (its title), scaled like the page, in the theme's
  // text colour. A heading keeps clear of the window's top edge.
  const GdkRGBA fg = foreground_of(GTK_WIDGET(area));
  for (const PaintOp& op : v->texts) {
    PangoLayout* layout = painted_text_layout(GTK_WIDGET(area), cr, op, g_display->sy());
    const double x = op.x * g_display->sx();
    const double y = std::max(op.y * g_display->sy(), g_display->heading_margin());
    if (!op.transparent && op.background != v->background) {
      int w = 0, h = 0;
      pango_layout_get_pixel_size(layout, &w, &h);
      cairo_set_source_rgb(cr, GetRValue(op.background) / 255.0, GetGValue(op.background) / 255.0,
                           GetBValue(op.background) / 255.0);
      cairo_rectangle(cr, x, y, w, h);
      cairo_fill(cr);
    }
    gdk_cairo_set_source_rgba(cr, &fg);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
  }
}

// The surface with the window's background colour see-through, so that the
// theme's background shows wherever the page did not draw a picture.
cairo_surface_t* surface_image(const Bitmap& bmp, COLORREF background) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max(1, bmp.width()), std::max(1, bmp.height()));
  cairo_surface_flush(s);
  unsigned char* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < bmp.height(); ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
    for (int x = 0; x < bmp.width(); ++x) {
      const COLORREF c = bmp.pixel(x, y);
      row[x] = c == background ? 0u
                               : (0xFF000000u | (std::uint32_t{GetRValue(c)} << 16) |
                                  (std::uint32_t{GetGValue(c)} << 8) | GetBValue(c));
    }
  }
  cairo_surface_mark_dirty(s);
  return s;
}

// The colour the window filled itself with before drawing: its first fill
// over the whole surface.
COLORREF background_of(const Window& w) {
  for (const PaintOp& op : w.paint_record().ops) {
    if (op.kind == PaintOp::Kind::Fill && op.x <= 0 && op.y <= 0 && op.width >= w.surface().width() &&
        op.height >= w.surface().height())
      return op.colour;
  }
  return RGB(192, 192, 192);
}

// ---- the display ----------------------------------------------------------

std::unique_ptr<GtkDisplay> GtkDisplay::open(const std::string& transcript, std::string& error) {
  if (!gtk_init_check()) {
    error = "cannot open the desktop display (is DISPLAY or WAYLAND_DISPLAY set?)";
    return nullptr;
  }
  std::unique_ptr<GtkDisplay> d(new GtkDisplay());
  if (!transcript.empty()) {
    d->transcript_.open(transcript, std::ios::app);
    if (!d->transcript_) {
      error = "cannot write the transcript " + transcript;
      return nullptr;
    }
  }
  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css, kCss, -1);
  gtk_style_context_add_provider_for_display(gdk_display_get_default(), GTK_STYLE_PROVIDER(css),
                                             GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);
  d->measure_font();
  d->pump_ = std::make_unique<GlibPump>();
  g_display = d.get();
  set_display(d.get());
  d->request_sync();
  return d;
}

GtkDisplay::~GtkDisplay() {
  if (sync_timer_) MessageLoop::current().kill_thread_timer(sync_timer_);
  std::vector<HWND> all;
  for (auto& [h, v] : tops_) all.push_back(h);
  for (HWND h : all) drop_top(h);
  if (current_display() == this) set_display(nullptr);
  if (g_display == this) g_display = nullptr;
  // Let GTK finish the destruction of the windows.
  while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
  pump_.reset();
}

void GtkDisplay::measure_font() {
  // Windows' dialog base units: the average width of the font's characters
  // and its height. Pango's approximate character width is that average.
  GtkWidget* probe = gtk_label_new("");
  g_object_ref_sink(probe);
  PangoContext* ctx = gtk_widget_get_pango_context(probe);
  PangoFontMetrics* m = pango_context_get_metrics(ctx, nullptr, nullptr);
  if (m) {
    const double w = pango_font_metrics_get_approximate_char_width(m) / double(PANGO_SCALE);
    const double h = (pango_font_metrics_get_ascent(m) + pango_font_metrics_get_descent(m)) / double(PANGO_SCALE);
    if (w > 1 && h > 1) {
      unit_x_ = w;
      unit_y_ = h;
    }
    pango_font_metrics_unref(m);
  }
  g_object_unref(probe);
  log_info(kLog, "font units " + std::to_string(unit_x_) + " x " + std::to_string(unit_y_));
}

void GtkDisplay::window_event(HWND, WindowEvent) { request_sync(); }

void GtkDisplay::request_sync() {
  if (sync_timer_) return;
  sync_timer_ = MessageLoop::current().set_thread_timer(0, [this](TimerId id) {
    MessageLoop::current().kill_thread_timer(id);
    sync_timer_ = 0;
    sync();
  });
}

void GtkDisplay::sync() {
  if (syncing_) return;
  syncing_ = true;
  std::vector<HWND> live;
  for (HWND h : top_level_windows()) {
    Window* w = window_from_handle(h);
    if (!w || !w->is_visible() || (w->kind() != WindowKind::Dialog && w->kind() != WindowKind::MessageBox)) continue;
    live.push_back(h);
  }
  std::vector<HWND> gone;
  for (auto& [h, v] : tops_)
    if (std::find(live.begin(), live.end(), h) == live.end()) gone.push_back(h);
  // A page that comes as another goes takes its window over.
  for (HWND h : live) {
    if (tops_.count(h) || !window_cast<Dialog>(h) || window_cast<MessageBoxWindow>(h)) continue;
    auto heir = std::find_if(gone.begin(), gone.end(), [this](HWND g) { return !tops_[g].message_box; });
    if (heir == gone.end()) break;
    hand_over(*heir, h);
    gone.erase(heir);
  }
  for (HWND h : live) sync_top(h);
  for (HWND h : gone) drop_top(h);
  sync_focus();
  syncing_ = false;
  if (pump_) pump_->run_once();
}

void GtkDisplay::drop_top(HWND hwnd) {
  auto it = tops_.find(hwnd);
  if (it == tops_.end()) return;
  if (it->second.image) cairo_surface_destroy(it->second.image);
  GtkWidget* window = it->second.window;
  tops_.erase(it);
  if (shown_active_ == hwnd) shown_active_ = 0;
  if (window) gtk_window_destroy(GTK_WINDOW(window));
}

void GtkDisplay::hand_over(HWND from, HWND to) {
  auto it = tops_.find(from);
  GtkWidget* window = it->second.window;
  if (it->second.image) cairo_surface_destroy(it->second.image);
  tops_.erase(it);
  if (shown_active_ == from) shown_active_ = 0;
  // The old page's widgets go with its content; the window stays.
  gtk_window_set_child(GTK_WINDOW(window), nullptr);
  TopView& v = tops_[to];
  v.hwnd = to;
  v.window = window;
  v.adopted = true;
}

void GtkDisplay::sync_top(HWND hwnd) {
  Window* w = window_from_handle(hwnd);
  auto [it, inserted] = tops_.try_emplace(hwnd);
  TopView& v = it->second;
  if (inserted || v.adopted) {
    const bool adopted = v.adopted;
    v.adopted = false;
    v.hwnd = hwnd;
    if (auto* box = dynamic_cast<MessageBoxWindow*>(w)) {
      make_message_box(v, *box);
      write(message_box_line(*box));
    } else {
      make_top(v, *w);
      if (auto* dlg = dynamic_cast<Dialog*>(w)) {
        paint_window(hwnd);
        write(dialog_line(*dlg));
      }
    }
    if (adopted) announce_next_frame(v.window, hwnd);
    else watch_first_frame(v);
  }
  if (!v.message_box) {
    gtk_window_set_title(GTK_WINDOW(v.window), strip_mnemonics(w->text()).c_str());
    refresh_canvas(v, *w);
    sync_controls(v, *w);
  }
  gtk_widget_set_sensitive(v.window, TRUE);
  if (!gtk_widget_get_visible(v.window)) gtk_window_present(GTK_WINDOW(v.window));
}

GtkWindow* owner_window(GtkDisplay& d, Window& w) {
  HWND owner = w.owner();
  while (owner) {
    if (TopView* ov = d.view_of(top_level_of(owner))) return GTK_WINDOW(ov->window);
    Window* o = window_from_handle(owner);
    owner = o ? o->owner() : 0;
  }
  return nullptr;
}

// Tells the transcript when the window's first frame has been painted, so
// that a test takes its screenshot of a drawn window.
struct FirstFrame {
  gulong handler = 0;
  HWND hwnd = 0;
};

void on_after_paint(GdkFrameClock* clock, gpointer data) {
  auto* f = static_cast<FirstFrame*>(data);
  if (g_display) g_display->write("painted " + std::to_string(template_of(f->hwnd)));
  g_signal_handler_disconnect(clock, f->handler);  // frees f
}

// Writes "painted ID" of `hwnd` once the next frame of `window` is drawn.
void announce_next_frame(GtkWidget* window, HWND hwnd) {
  GdkFrameClock* clock = gtk_widget_get_frame_clock(window);
  if (!clock) return;
  auto* f = new FirstFrame{0, hwnd};
  f->handler = g_signal_connect_data(clock, "after-paint", G_CALLBACK(on_after_paint), f,
                                     [](gpointer p, GClosure*) { delete static_cast<FirstFrame*>(p); },
                                     G_CONNECT_DEFAULT);
  gtk_widget_queue_draw(window);
}

void on_map(GtkWidget* window, gpointer data) { announce_next_frame(window, static_cast<HWND>(GPOINTER_TO_UINT(data))); }

void GtkDisplay::watch_first_frame(TopView& v) {
  g_signal_connect(v.window, "map", G_CALLBACK(on_map), GUINT_TO_POINTER(v.hwnd));
}

void GtkDisplay::make_top(TopView& v, Window& w) {
  if (!v.window) {
    v.window = gtk_window_new();
    gtk_widget_add_css_class(v.window, "vlr-page");
    gtk_window_set_resizable(GTK_WINDOW(v.window), FALSE);
    g_signal_connect(v.window, "close-request", G_CALLBACK(on_close_request), nullptr);
    add_key_capture(v.window);
  }
  g_object_set_data(G_OBJECT(v.window), "vlr-hwnd", GUINT_TO_POINTER(v.hwnd));
  GtkWindow* owner = owner_window(*this, w);
  gtk_window_set_transient_for(GTK_WINDOW(v.window), owner != GTK_WINDOW(v.window) ? owner : nullptr);
  auto* dlg = dynamic_cast<Dialog*>(&w);
  gtk_window_set_modal(GTK_WINDOW(v.window), dlg && dlg->is_modal());

  GtkWidget* overlay = gtk_overlay_new();
  v.canvas = gtk_drawing_area_new();
  gtk_drawing_area_set_draw_func(GTK_DRAWING_AREA(v.canvas), draw_canvas, GUINT_TO_POINTER(v.hwnd), nullptr);
  gtk_overlay_set_child(GTK_OVERLAY(overlay), v.canvas);
  v.layer = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
  gtk_widget_set_layout_manager(v.layer, gtk_custom_layout_new(nullptr, layer_measure, layer_allocate));
  gtk_overlay_add_overlay(GTK_OVERLAY(overlay), v.layer);
  gtk_window_set_child(GTK_WINDOW(v.window), overlay);
}

void GtkDisplay::make_message_box(TopView& v, MessageBoxWindow& box) {
  v.message_box = true;
  GtkMessageType type = GTK_MESSAGE_OTHER;
  switch (box.icon()) {
    case MessageIcon::Stop: type = GTK_MESSAGE_ERROR; break;
    case MessageIcon::Question: type = GTK_MESSAGE_QUESTION; break;
    case MessageIcon::Exclamation: type = GTK_MESSAGE_WARNING; break;
    case MessageIcon::Information: type = GTK_MESSAGE_INFO; break;
    case MessageIcon::None: break;
  }
  GtkWindow* owner = owner_window(*this, box);
  v.window = gtk_message_dialog_new(owner, GTK_DIALOG_MODAL, type, GTK_BUTTONS_NONE, "%s", box.message().c_str());
  gtk_window_set_title(GTK_WINDOW(v.window), box.caption().c_str());
  // Room around the text, and width enough for the caption in the title bar.
  GtkWidget* area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(v.window));
  gtk_widget_set_margin_top(area, 18);
  gtk_widget_set_margin_bottom(area, 12);
  gtk_widget_set_margin_start(area, 24);
  gtk_widget_set_margin_end(area, 24);
  gtk_widget_set_size_request(area, std::max(240, static_cast<int>(box.caption().size()) * 10), -1);
  for (int id : box.buttons()) {
    const char* label = id == IDOK ? "_OK" : id == IDCANCEL ? "_Cancel" : id == IDYES ? "_Yes" : id == IDNO ? "_No" : "?";
    gtk_dialog_add_button(GTK_DIALOG(v.window), label, id);
  }
  if (!box.buttons().empty()) gtk_dialog_set_default_response(GTK_DIALOG(v.window), box.buttons().front());
  g_object_set_data(G_OBJECT(v.window), "vlr-hwnd", GUINT_TO_POINTER(v.hwnd));
  g_signal_connect(v.window, "response", G_CALLBACK(on_message_response), GUINT_TO_POINTER(v.hwnd));
  g_signal_connect(v.window, "close-request", G_CALLBACK(on_close_request), nullptr);
  add_key_capture(v.window);
}

void GtkDisplay::refresh_canvas(TopView& v, Window& w) {
  paint_window(v.hwnd);
  const Rect r = w.rect();
  if (v.width != r.width() || v.height != r.height()) {
    v.width = r.width();
    v.height = r.height();
    gtk_widget_set_size_request(v.canvas, to_x(v.width), to_y(v.height));
    g_object_set_data(G_OBJECT(v.layer), "vlr-w", GINT_TO_POINTER(to_x(v.width)));
    g_object_set_data(G_OBJECT(v.layer), "vlr-h", GINT_TO_POINTER(to_y(v.height)));
    gtk_widget_queue_resize(v.layer);
  }
  if (v.image) cairo_surface_destroy(v.image);
  v.background = background_of(w);
  v.image = surface_image(w.surface(), v.background);
  v.texts.clear();
  for (const PaintOp& op : w.paint_record().ops)
    if (op.kind == PaintOp::Kind::Text) v.texts.push_back(op);
  gtk_widget_queue_draw(v.canvas);
}

ControlView GtkDisplay::make_control(TopView& v, Control& ctl) {
  ControlView c;
  c.hwnd = ctl.hwnd();
  c.type = ctl.type();
  switch (ctl.type()) {
    case ControlType::Static: {
      c.widget = gtk_label_new(nullptr);
      gtk_label_set_wrap(GTK_LABEL(c.widget), TRUE);
      gtk_label_set_wrap_mode(GTK_LABEL(c.widget), PANGO_WRAP_WORD_CHAR);
      gtk_label_set_yalign(GTK_LABEL(c.widget), 0.0f);
      const auto align = ctl.style() & SS_TYPEMASK;
      gtk_label_set_xalign(GTK_LABEL(c.widget), align == SS_CENTER ? 0.5f : align == SS_RIGHT ? 1.0f : 0.0f);
      gtk_label_set_justify(GTK_LABEL(c.widget), align == SS_CENTER ? GTK_JUSTIFY_CENTER
                                                 : align == SS_RIGHT ? GTK_JUSTIFY_RIGHT : GTK_JUSTIFY_LEFT);
      break;
    }
    case ControlType::Picture:
      return c;  // the dialog paints its pictures into the surface
    case ControlType::GroupBox:
      c.widget = gtk_frame_new(nullptr);
      gtk_widget_set_can_target(c.widget, FALSE);
      break;
    case ControlType::PushButton:
      c.widget = gtk_button_new();
      gtk_button_set_use_underline(GTK_BUTTON(c.widget), TRUE);
      break;
    case ControlType::OwnerDraw:
      c.widget = gtk_button_new();
      gtk_widget_add_css_class(c.widget, "vlr-owner-draw");
      break;
    case ControlType::CheckBox:
    case ControlType::RadioButton: {
      c.widget = gtk_check_button_new();
      gtk_check_button_set_use_underline(GTK_CHECK_BUTTON(c.widget), TRUE);
      if (ctl.type() == ControlType::RadioButton) {
        // Radio buttons of one group share a GTK group, which draws them as radios.
        const auto group = static_cast<Button&>(ctl).radio_group();
        if (!group.empty() && group.front() != ctl.hwnd()) {
          auto it = v.controls.find(group.front());
          if (it != v.controls.end() && it->second.widget)
            gtk_check_button_set_group(GTK_CHECK_BUTTON(c.widget), GTK_CHECK_BUTTON(it->second.widget));
        }
      }
      break;
    }
    case ControlType::Edit: {
      auto& edit = static_cast<Edit&>(ctl);
      c.multi_line = edit.is_multi_line();
      if (c.multi_line) {
        c.inner = gtk_text_view_new();
        gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(c.inner), GTK_WRAP_WORD_CHAR);
        gtk_text_view_set_editable(GTK_TEXT_VIEW(c.inner), FALSE);
        gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(c.inner), TRUE);
        c.widget = gtk_scrolled_window_new();
        gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(c.widget), c.inner);
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(c.widget), GTK_POLICY_NEVER, GTK_POLICY_ALWAYS);
        gtk_scrolled_window_set_has_frame(GTK_SCROLLED_WINDOW(c.widget), TRUE);
        // A scroll bar that shows only under the pointer hides that there is more to read.
        gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(c.widget), FALSE);
        gtk_text_view_set_left_margin(GTK_TEXT_VIEW(c.inner), 4);
        gtk_text_view_set_right_margin(GTK_TEXT_VIEW(c.inner), 4);
      } else {
        c.widget = c.inner = gtk_entry_new();
        gtk_editable_set_width_chars(GTK_EDITABLE(c.inner), 1);
      }
      break;
    }
    case ControlType::ComboBox: {
      auto& combo = static_cast<ComboBox&>(ctl);
      c.has_edit = combo.has_edit();
      if (c.has_edit) {
        c.widget = c.inner = gtk_entry_new();
        gtk_editable_set_width_chars(GTK_EDITABLE(c.inner), 1);
        gtk_entry_set_icon_from_icon_name(GTK_ENTRY(c.inner), GTK_ENTRY_ICON_SECONDARY, "pan-down-symbolic");
      } else {
        c.widget = c.inner = gtk_drop_down_new(G_LIST_MODEL(gtk_string_list_new(nullptr)), nullptr);
        g_signal_connect(c.inner, "notify::selected", G_CALLBACK(on_dropdown_selected), GUINT_TO_POINTER(c.hwnd));
      }
      break;
    }
    case ControlType::ListBox:
      c.inner = gtk_list_box_new();
      gtk_list_box_set_selection_mode(GTK_LIST_BOX(c.inner), GTK_SELECTION_SINGLE);
      c.widget = gtk_scrolled_window_new();
      gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(c.widget), c.inner);
      gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(c.widget), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
      gtk_scrolled_window_set_has_frame(GTK_SCROLLED_WINDOW(c.widget), TRUE);
      g_object_set_data(G_OBJECT(c.widget), "vlr-list", c.inner);
      break;
  }
  if (c.type != ControlType::GroupBox && c.type != ControlType::Static && c.type != ControlType::ComboBox)
    add_click_capture(c.widget, c.hwnd);
  if (c.type == ControlType::ComboBox) {
    if (c.has_edit) add_click_capture(c.widget, c.hwnd);
    else {
      // The drop-down opens its list itself; the click also focuses the model's combo.
      GtkGesture* click = gtk_gesture_click_new();
      gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(click), GTK_PHASE_CAPTURE);
      g_signal_connect(click, "pressed", G_CALLBACK(+[](GtkGestureClick*, int, double, double, gpointer data) {
                         platform::set_focus(static_cast<HWND>(GPOINTER_TO_UINT(data)));
                       }),
                       GUINT_TO_POINTER(c.hwnd));
      gtk_widget_add_controller(c.widget, GTK_EVENT_CONTROLLER(click));
    }
  }
  if (c.type == ControlType::Static) gtk_widget_set_can_target(c.widget, FALSE);
  gtk_widget_set_parent(c.widget, v.layer);
  return c;
}

void GtkDisplay::sync_controls(TopView& v, Window& w) {
  std::set<HWND> live;
  for (HWND h : w.children()) {
    auto* ctl = window_cast<Control>(h);
    if (!ctl) continue;
    live.insert(h);
    auto it = v.controls.find(h);
    if (it == v.controls.end()) it = v.controls.emplace(h, make_control(v, *ctl)).first;
    ControlView& c = it->second;
    if (!c.widget) continue;
    sync_control(v, c, *ctl);
    // A field is named by its label, for screen readers.
    if (c.type == ControlType::Edit || c.type == ControlType::ComboBox || c.type == ControlType::ListBox) {
      const auto label = v.controls.find(label_of_field(h));
      if (label != v.controls.end() && label->second.widget)
        gtk_accessible_update_relation(GTK_ACCESSIBLE(c.inner ? c.inner : c.widget),
                                       GTK_ACCESSIBLE_RELATION_LABELLED_BY, label->second.widget, nullptr, -1);
    }
  }
  for (auto it = v.controls.begin(); it != v.controls.end();) {
    if (!live.count(it->first)) {
      if (it->second.widget) gtk_widget_unparent(it->second.widget);
      it = v.controls.erase(it);
    } else {
      ++it;
    }
  }
}

void GtkDisplay::sync_control(TopView& v, ControlView& c, Control& ctl) {
  const Rect r = ctl.rect();
  // A combo box's rectangle includes its dropped-down list; the closed box
  // is one edit line high, as Windows draws it.
  const int height = c.type == ControlType::ComboBox ? std::min(r.height(), dlu_to_px_y(12)) : r.height();
  set_child_rect(c.widget, {to_x(r.left), to_y(r.top), to_x(r.width()), to_y(height)});
  gtk_widget_set_visible(c.widget, ctl.has_visible_style());
  gtk_widget_set_sensitive(c.widget, ctl.is_enabled());
  const std::string& text = ctl.text();
  switch (c.type) {
    case ControlType::Static: {
      gtk_label_set_text_with_mnemonic(GTK_LABEL(c.widget), mnemonic_markup(text).c_str());
      fit_label(v, c, ctl);
      break;
    }
    case ControlType::GroupBox:
      gtk_frame_set_label(GTK_FRAME(c.widget), text.empty() ? nullptr : strip_mnemonics(text).c_str());
      break;
    case ControlType::PushButton: {
      gtk_button_set_label(GTK_BUTTON(c.widget), mnemonic_markup(text).c_str());
      if (static_cast<Button&>(ctl).is_default()) gtk_widget_add_css_class(c.widget, "suggested-action");
      else gtk_widget_remove_css_class(c.widget, "suggested-action");
      break;
    }
    case ControlType::OwnerDraw:
      gtk_accessible_update_property(GTK_ACCESSIBLE(c.widget), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                     strip_mnemonics(text).c_str(), -1);
      break;
    case ControlType::CheckBox:
    case ControlType::RadioButton: {
      auto& b = static_cast<Button&>(ctl);
      gtk_check_button_set_label(GTK_CHECK_BUTTON(c.widget), mnemonic_markup(text).c_str());
      gtk_check_button_set_active(GTK_CHECK_BUTTON(c.widget), b.check() == BST_CHECKED);
      gtk_check_button_set_inconsistent(GTK_CHECK_BUTTON(c.widget), b.check() == BST_INDETERMINATE);
      break;
    }
    case ControlType::Edit: {
      auto& e = static_cast<Edit&>(ctl);
      if (c.multi_line) {
        GtkTextBuffer* buf = gtk_text_view_get_buffer(GTK_TEXT_VIEW(c.inner));
        GtkTextIter start, end;
        gtk_text_buffer_get_bounds(buf, &start, &end);
        char* old = gtk_text_buffer_get_text(buf, &start, &end, FALSE);
        std::string shown;
        for (char ch : text)
          if (ch != '\r') shown += ch;
        if (shown != old) gtk_text_buffer_set_text(buf, shown.c_str(), -1);
        g_free(old);
      } else {
        gtk_entry_set_visibility(GTK_ENTRY(c.inner), !e.is_password());
        if (text != gtk_editable_get_text(GTK_EDITABLE(c.inner)))
          gtk_editable_set_text(GTK_EDITABLE(c.inner), text.c_str());
        gtk_editable_set_editable(GTK_EDITABLE(c.inner), !e.is_read_only());
      }
      break;
    }
    case ControlType::ComboBox: {
      auto& combo = static_cast<ComboBox&>(ctl);
      if (c.has_edit) {
        if (text != gtk_editable_get_text(GTK_EDITABLE(c.inner)))
          gtk_editable_set_text(GTK_EDITABLE(c.inner), text.c_str());
      } else {
        if (c.items != combo.items()) {
          c.items = combo.items();
          std::vector<const char*> strings;
          for (const auto& s : c.items) strings.push_back(s.c_str());
          strings.push_back(nullptr);
          gtk_drop_down_set_model(GTK_DROP_DOWN(c.inner), G_LIST_MODEL(gtk_string_list_new(strings.data())));
        }
        const int sel = combo.cur_sel();
        gtk_drop_down_set_selected(GTK_DROP_DOWN(c.inner), sel < 0 ? GTK_INVALID_LIST_POSITION : static_cast<guint>(sel));
      }
      break;
    }
    case ControlType::ListBox: {
      auto& list = static_cast<ListBox&>(ctl);
      if (c.items != list.items()) {
        c.items = list.items();
        while (GtkWidget* row = gtk_widget_get_first_child(c.inner)) gtk_list_box_remove(GTK_LIST_BOX(c.inner), row);
        for (const auto& s : c.items) {
          GtkWidget* label = gtk_label_new(s.c_str());
          gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
          gtk_list_box_append(GTK_LIST_BOX(c.inner), label);
        }
      }
      GtkListBoxRow* row = list.cur_sel() >= 0 ? gtk_list_box_get_row_at_index(GTK_LIST_BOX(c.inner), list.cur_sel()) : nullptr;
      if (row) gtk_list_box_select_row(GTK_LIST_BOX(c.inner), row);
      else gtk_list_box_unselect_all(GTK_LIST_BOX(c.inner));
      break;
    }
    case ControlType::Picture:
      break;
  }
}

// ---- labels that fit --------------------------------------------------------

// How far a label's text may reach, in GTK pixels: to the nearest visible
// control beside it on its rows (less a gap) or below it, within the group
// box around it and the window.
struct Room {
  int left, right, bottom;
};

Room room_around(const GtkDisplay& d, const Window& dialog, const Control& label) {
  const Rect r = label.rect();
  const int edge = d.to_x(dlu_to_px_x(2));
  Room room{edge, d.to_x(dialog.rect().width()) - edge, d.to_y(dialog.rect().height()) - edge};
  for (HWND h : dialog.children()) {
    auto* other = window_cast<Control>(h);
    if (!other || h == label.hwnd() || !other->has_visible_style()) continue;
    Rect o = other->rect();
    // A combo box's rectangle includes its list; closed, it is one line high.
    if (other->type() == ControlType::ComboBox) o.bottom = std::min(o.bottom, o.top + dlu_to_px_y(12));
    const bool around = o.left <= r.left && o.right >= r.right && o.top <= r.top && o.bottom >= r.bottom;
    if (around) {
      // A group box (or a picture) the label sits in: its inside is the room.
      if (other->type() == ControlType::GroupBox) {
        room.left = std::max(room.left, d.to_x(o.left) + edge);
        room.right = std::min(room.right, d.to_x(o.right) - edge);
        room.bottom = std::min(room.bottom, d.to_y(o.bottom) - edge);
      }
      continue;
    }
    const bool same_rows = o.top < r.bottom && o.bottom > r.top;
    const bool same_columns = o.left < r.right && o.right > r.left;
    if (same_rows && o.left > r.left && o.right > r.right) room.right = std::min(room.right, d.to_x(o.left) - kLabelGap);
    if (same_rows && o.right < r.right && o.left < r.left) room.left = std::max(room.left, d.to_x(o.right) + kLabelGapBefore);
    if (same_columns && o.top >= r.bottom - 1) room.bottom = std::min(room.bottom, d.to_y(o.top) - 1);
  }
  return room;
}

// The size of `text` laid out in `label`'s font scaled by `scale`, wrapped
// at `wrap_width` pixels (-1: one line).
void text_size(GtkWidget* label, const std::string& text, double scale, int wrap_width, int& w, int& h) {
  PangoLayout* layout = gtk_widget_create_pango_layout(label, text.c_str());
  PangoAttrList* attrs = pango_attr_list_new();
  pango_attr_list_insert(attrs, pango_attr_scale_new(scale));
  pango_layout_set_attributes(layout, attrs);
  pango_attr_list_unref(attrs);
  if (wrap_width > 0) {
    pango_layout_set_width(layout, wrap_width * PANGO_SCALE);
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  }
  pango_layout_get_pixel_size(layout, &w, &h);
  g_object_unref(layout);
}

void GtkDisplay::fit_label(TopView& v, ControlView& c, Control& ctl) {
  const Rect r = ctl.rect();
  const std::string text = strip_mnemonics(ctl.text());
  if (c.fitted_text != text || !(c.fitted_rect == r)) {
    c.fitted_text = text;
    c.fitted_rect = r;
    Window* dialog = window_from_handle(v.hwnd);
    const Room room = dialog ? room_around(*this, *dialog, ctl) : Room{0, 1 << 20, 1 << 20};
    const int x0 = to_x(r.left), x1 = to_x(r.right);
    // A label whose rectangle reaches into the control above it (the
    // template's font left room at its top; the desktop's may not) starts
    // below that control; a label stacked under it follows.
    int shift = 0;
    int floor = to_y(dialog ? dialog->rect().height() : r.bottom);  // what a shift may not cross
    // The columns the text covers (a left-aligned label's rectangle often
    // runs on under the field beside it).
    int span_left = r.left, span_right = r.right;
    if (text.find('\n') == std::string::npos) {
      int tw = 0, th = 0;
      text_size(c.widget, text, 1.0, -1, tw, th);
      const int model_w = static_cast<int>(std::lround(tw / sx()));
      const auto a = ctl.style() & SS_TYPEMASK;
      if (model_w < r.width()) {
        if (a == SS_RIGHT) span_left = r.right - model_w;
        else if (a == SS_CENTER) span_left = (r.left + r.right - model_w) / 2, span_right = span_left + model_w;
        else span_right = r.left + model_w;
      }
    }
    if (dialog) {
      for (HWND h : dialog->children()) {
        auto* other = window_cast<Control>(h);
        if (!other || h == ctl.hwnd() || !other->has_visible_style()) continue;
        Rect o = other->rect();
        if (other->type() == ControlType::ComboBox) o.bottom = std::min(o.bottom, o.top + dlu_to_px_y(12));
        if (o.left >= span_right || o.right <= span_left) continue;                    // another column
        if (o.left <= r.left && o.right >= r.right && o.top <= r.top && o.bottom >= r.bottom) continue;  // around it
        const bool label = other->type() == ControlType::Static;
        if (o.top >= r.bottom) {
          if (!label) floor = std::min(floor, to_y(o.top));  // a label below moves along
          continue;
        }
        if (o.top >= r.top) continue;
        auto it = v.controls.find(h);
        const int bottom = label && it != v.controls.end() && !it->second.fitted_text.empty()
                               ? it->second.shown_rect.bottom
                               : to_y(o.bottom);
        shift = std::max(shift, bottom + 1 - to_y(r.top));
      }
    }
    if (to_y(r.bottom) + shift > floor) shift = 0;
    const int y0 = to_y(r.top) + shift, y1 = to_y(r.bottom) + shift;
    // One line when the template's font (6 pixels a character) puts it on
    // one, or the rectangle has room for no more.
    const bool one_line = text.find('\n') == std::string::npos &&
                          (static_cast<int>(utf8_length(text)) * 6 <= r.width() || r.height() < dlu_to_px_y(16));
    const auto align = ctl.style() & SS_TYPEMASK;
    bool fits = false;
    for (double scale : {1.0, kShrinkStep, kShrinkStep * kShrinkStep}) {
      int tw = 0, th = 0;
      c.scale = scale;
      if (one_line) {
        text_size(c.widget, text, scale, -1, tw, th);
        // The label grows away from the side its text is aligned to; the
        // text must keep clear of its neighbours.
        int left = x0, right = x1;
        if (align == SS_RIGHT) {
          left = std::min(x1 - tw, std::max(x0, room.left));
        } else if (align == SS_CENTER) {
          const int mid = (x0 + x1) / 2;
          left = std::min(x0, mid - tw / 2);
          right = std::max(x1, left + tw);
        } else {
          right = std::max(x0 + tw, std::min(x1, room.right));
        }
        const int text_left = align == SS_RIGHT ? right - tw : align == SS_CENTER ? (left + right - tw) / 2 : left;
        fits = text_left >= room.left && text_left + tw <= room.right;
        c.shown_rect = {left, y0, right, y1};
      } else {
        text_size(c.widget, text, scale, x1 - x0, tw, th);
        fits = th <= std::max(y1, room.bottom) - y0;
        c.shown_rect = {x0, y0, x1, std::max(y1, std::min(y0 + th, room.bottom))};
      }
      if (fits) break;
    }
    if (!fits) log_warn(kLog, "label \"" + text + "\" of dialog " + std::to_string(template_of(v.hwnd)) + " does not fit: ellipsized");
    c.shown_rect.bottom = std::max(c.shown_rect.bottom, c.shown_rect.top + 1);
    gtk_label_set_wrap(GTK_LABEL(c.widget), !one_line);
    gtk_label_set_lines(GTK_LABEL(c.widget), -1);
    gtk_label_set_ellipsize(GTK_LABEL(c.widget), fits ? PANGO_ELLIPSIZE_NONE : PANGO_ELLIPSIZE_END);
    gtk_widget_set_tooltip_text(c.widget, fits ? nullptr : text.c_str());
    PangoAttrList* attrs = pango_attr_list_new();
    if (c.scale != 1.0) pango_attr_list_insert(attrs, pango_attr_scale_new(c.scale));
    gtk_label_set_attributes(GTK_LABEL(c.widget), attrs);
    pango_attr_list_unref(attrs);
  }
  const Rect& s = c.shown_rect;
  set_child_rect(c.widget, {s.left, s.top, s.right - s.left, s.bottom - s.top});
}

void GtkDisplay::sync_focus() {
  const HWND active = active_window();
  if (active != shown_active_) {
    shown_active_ = active;
    shown_focus_ = 0;  // a window that comes back gets its focus shown again
    if (TopView* v = view_of(active)) gtk_window_present(GTK_WINDOW(v->window));
  }
  const HWND focus = get_focus();
  TopView* v = view_of(top_level_of(focus));
  if (!v) return;
  auto it = v->controls.find(focus);
  if (it == v->controls.end() || !it->second.widget) return;
  ControlView& c = it->second;
  GtkWidget* target = c.inner ? c.inner : c.widget;
  GtkWidget* has_keyboard = gtk_root_get_focus(GTK_ROOT(v->window));
  if (focus != shown_focus_ || !has_keyboard || !(has_keyboard == target || gtk_widget_is_ancestor(has_keyboard, target))) {
    shown_focus_ = focus;
    gtk_widget_grab_focus(target);
    if (auto* ctl = window_cast<Control>(focus))
      write("focus " + std::to_string(template_of(top_level_of(focus))) + " " + std::to_string(ctl->id()));
  }
  if (c.type == ControlType::Edit) {
    auto* e = window_cast<Edit>(focus);
    if (!e) return;
    if (c.multi_line) {
      // Focus selects the whole text; a long text (the terms) then stays
      // where it is, at its top, instead of jumping to the caret at its end.
      // A caret the user moves is followed.
      GtkTextBuffer* buf = gtk_text_view_get_buffer(GTK_TEXT_VIEW(c.inner));
      const int length = gtk_text_buffer_get_char_count(buf);
      const bool all = e->sel_start() == 0 && e->sel_end() >= length;
      GtkTextIter a, b;
      gtk_text_buffer_get_iter_at_offset(buf, &a, all ? 0 : e->sel_start());
      gtk_text_buffer_get_iter_at_offset(buf, &b, all ? 0 : e->sel_end());
      gtk_text_buffer_select_range(buf, &b, &a);
      if (!all) gtk_text_view_scroll_mark_onscreen(GTK_TEXT_VIEW(c.inner), gtk_text_buffer_get_insert(buf));
    } else {
      gtk_editable_select_region(GTK_EDITABLE(c.inner), e->sel_start(), e->sel_end());
    }
  }
}

bool GtkDisplay::widget_bounds(HWND control, int& x, int& y, int& w, int& h) {
  TopView* v = view_of(top_level_of(control));
  if (!v) return false;
  auto it = v->controls.find(control);
  if (it == v->controls.end() || !it->second.widget) return false;
  while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
  graphene_rect_t bounds;
  if (!gtk_widget_compute_bounds(it->second.widget, v->layer, &bounds)) return false;
  x = static_cast<int>(std::lround(bounds.origin.x));
  y = static_cast<int>(std::lround(bounds.origin.y));
  w = static_cast<int>(std::lround(bounds.size.width));
  h = static_cast<int>(std::lround(bounds.size.height));
  return true;
}

}  // namespace
}  // namespace display

extern "C" __attribute__((visibility("default"))) platform::Display* vlr_display_open(
    const platform::DisplayOptions* options, std::string* error) {
  if (options && !options->answers.empty()) {
    if (error) *error = "the desktop display takes no answers script";
    return nullptr;
  }
  std::string why;
  auto d = display::GtkDisplay::open(options ? options->transcript : std::string(), why);
  if (!d) {
    if (error) *error = why;
    return nullptr;
  }
  return d.release();
}

// For tests: where the widget of `control` sits in its window, and the font
// units the layout uses. False when the control has no widget.
extern "C" __attribute__((visibility("default"))) bool vlr_gtk_widget_bounds(platform::HWND control, int* x,
                                                                             int* y, int* w, int* h) {
  return display::g_display && display::g_display->widget_bounds(control, *x, *y, *w, *h);
}

extern "C" __attribute__((visibility("default"))) void vlr_gtk_font_units(double* char_width,
                                                                           double* char_height) {
  if (display::g_display) display::g_display->units(*char_width, *char_height);
}

// For tests: the GtkWidget that shows `control` (a label, an entry, a
// scroller...), nullptr when it has none.
extern "C" __attribute__((visibility("default"))) void* vlr_gtk_widget(platform::HWND control) {
  return display::g_display ? display::g_display->widget_of(control) : nullptr;
}
