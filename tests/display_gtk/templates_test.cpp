// Every dialog template of the wizard and of Modset, shown by the desktop
// renderer in the light and the dark theme:
//  - each label's text, measured here with Pango in the label's own font
//    and attributes, fits the rectangle GTK gave the label (one line for a
//    one-line label, its lines' height for a wrapped one) and is not
//    ellipsized, and it keeps clear of every other control;
//  - each label and each painted heading reads against what is behind it
//    (a contrast ratio of 4.5:1 at least, measured on the rendered window);
//  - a photograph of each goes to VLR_SHOT_DIR/{light,dark}/ID.png.
// Runs under an X server (with_xvfb.sh).
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/loop/message_loop.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/display.h"
#include "platform/ui/window.h"
#include "ui_resources.h"
#include "wizard/base_dialog.h"
#include "desktop_test.h"
#include "wizard/dialing_dialogs.h"
#include "wizard/modem_level.h"
#include "wizard/prompt_dialogs.h"

namespace {

using namespace platform;

using WidgetFn = void* (*)(HWND);

std::string plain(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

// WCAG relative luminance of an 8-bit sRGB colour.
double luminance(int r, int g, int b) {
  auto lin = [](int c) {
    const double v = c / 255.0;
    return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * lin(r) + 0.7152 * lin(g) + 0.0722 * lin(b);
}

// A rendered window: opaque RGB pixels.
struct Picture {
  int width = 0, height = 0;
  std::vector<std::uint32_t> rgb;  // 0xRRGGBB
  std::uint32_t at(int x, int y) const { return rgb[static_cast<std::size_t>(y) * width + x]; }
};

// The contrast between the most common colour of a rectangle (what is
// behind the text) and the colour that stands out from it most (the ink).
double contrast_in(const Picture& p, int x0, int y0, int w, int h) {
  std::map<std::uint32_t, int> counts;
  for (int y = std::max(0, y0); y < std::min(p.height, y0 + h); ++y)
    for (int x = std::max(0, x0); x < std::min(p.width, x0 + w); ++x) ++counts[p.at(x, y)];
  if (counts.empty()) return 0;
  std::uint32_t bg = counts.begin()->first;
  for (auto& [c, n] : counts)
    if (n > counts[bg]) bg = c;
  auto lum = [](std::uint32_t c) { return luminance((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); };
  const double lb = lum(bg);
  double best = 1;
  for (auto& [c, n] : counts) {
    const double lc = lum(c);
    best = std::max(best, (std::max(lb, lc) + 0.05) / (std::min(lb, lc) + 0.05));
  }
  return best;
}

class DesktopTemplates : public DesktopTest<> {
 protected:
  void SetUp() override {
    DesktopTest::SetUp();
    if (set_up_failed()) return;
    widget_ = hook<WidgetFn>("vlr_gtk_widget");
    ASSERT_TRUE(widget_);
    const char* dir = std::getenv("VLR_SHOT_DIR");
    shot_dir_ = dir && *dir ? dir : "";
  }

  void TearDown() override { set_dark(false); }

  // Lets the renderer sync and GTK lay out and draw.
  void settle() {
    for (int i = 0; i < 20; ++i) {
      MessageLoop::current().pump_pending();
      while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
    }
  }

  static void set_dark(bool dark) {
    if (GtkSettings* s = gtk_settings_get_default())
      g_object_set(s, "gtk-application-prefer-dark-theme", dark ? TRUE : FALSE, nullptr);
  }

  Picture render(GtkWidget* window, const std::string& file) {
    Picture p;
    p.width = gtk_widget_get_width(window);
    p.height = gtk_widget_get_height(window);
    if (p.width <= 0 || p.height <= 0) return p;
    GdkPaintable* paintable = gtk_widget_paintable_new(window);
    GtkSnapshot* snapshot = gtk_snapshot_new();
    gdk_paintable_snapshot(paintable, snapshot, p.width, p.height);
    GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
    GskRenderer* renderer = gtk_native_get_renderer(GTK_NATIVE(window));
    graphene_rect_t viewport = GRAPHENE_RECT_INIT(0, 0, static_cast<float>(p.width), static_cast<float>(p.height));
    GdkTexture* texture = node && renderer ? gsk_renderer_render_texture(renderer, node, &viewport) : nullptr;
    if (texture) {
      p.width = gdk_texture_get_width(texture);
      p.height = gdk_texture_get_height(texture);
      std::vector<guchar> bytes(static_cast<std::size_t>(p.width) * p.height * 4);
      gdk_texture_download(texture, bytes.data(), static_cast<gsize>(p.width) * 4);
      p.rgb.resize(static_cast<std::size_t>(p.width) * p.height);
      for (std::size_t i = 0; i < p.rgb.size(); ++i) {
        // Cairo's premultiplied ARGB in memory order B, G, R, A; a see-through
        // pixel of the window's shadow counts as black.
        p.rgb[i] = (std::uint32_t{bytes[i * 4 + 2]} << 16) | (std::uint32_t{bytes[i * 4 + 1]} << 8) | bytes[i * 4];
      }
      if (!file.empty()) {
        std::filesystem::create_directories(std::filesystem::path(file).parent_path());
        gdk_texture_save_to_png(texture, file.c_str());
      }
      g_object_unref(texture);
    }
    if (node) gsk_render_node_unref(node);
    g_object_unref(paintable);
    return p;
  }

  // Shows every template in `ids` and checks it in both themes.
  void check_templates(const std::vector<int>& ids, const std::string& owner) {
    ASSERT_FALSE(ids.empty()) << owner;
    for (int id : ids) {
      SCOPED_TRACE(owner + " dialog " + std::to_string(id));
      Dialog dialog(id);
      ASSERT_NE(dialog.create_modeless(0), 0u);
      show_window(dialog.hwnd(), SW_SHOW);
      settle();
      check_fit(dialog, id);
      for (bool dark : {false, true}) {
        set_dark(dark);
        settle();
        check_contrast(dialog, id, dark);
      }
      set_dark(false);
      destroy_window(dialog.hwnd());
      settle();
    }
  }

  // The visible labels of `dialog` with text, and their widgets.
  std::vector<std::pair<Control*, GtkWidget*>> labels(Dialog& dialog) {
    std::vector<std::pair<Control*, GtkWidget*>> out;
    for (HWND h : dialog.children()) {
      auto* ctl = window_cast<Control>(h);
      if (!ctl || ctl->type() != ControlType::Static || !ctl->has_visible_style() || plain(ctl->text()).empty())
        continue;
      auto* widget = static_cast<GtkWidget*>(widget_(h));
      if (widget && GTK_IS_LABEL(widget)) out.emplace_back(ctl, widget);
    }
    return out;
  }

  void check_fit(Dialog& dialog, int id) {
    GtkWidget* window = nullptr;
    for (auto& [ctl, label] : labels(dialog)) {
      const std::string text = plain(ctl->text());
      SCOPED_TRACE("label \"" + text + "\"");
      window = GTK_WIDGET(gtk_widget_get_root(label));
      graphene_rect_t box;
      ASSERT_TRUE(gtk_widget_compute_bounds(label, window, &box));
      // The text as the label lays it out, measured anew: same font, same
      // attributes (a shrunk label's scale), no width limit for one line.
      PangoLayout* layout = gtk_widget_create_pango_layout(label, text.c_str());
      pango_layout_set_attributes(layout, gtk_label_get_attributes(GTK_LABEL(label)));
      const bool wraps = gtk_label_get_wrap(GTK_LABEL(label));
      if (wraps) {
        pango_layout_set_width(layout, static_cast<int>(box.size.width) * PANGO_SCALE);
        pango_layout_set_wrap(layout, gtk_label_get_wrap_mode(GTK_LABEL(label)));
      }
      int tw = 0, th = 0;
      pango_layout_get_pixel_size(layout, &tw, &th);
      PangoRectangle ink, logical;
      pango_layout_get_pixel_extents(layout, &ink, &logical);
      g_object_unref(layout);
      EXPECT_LE(tw, std::ceil(box.size.width)) << "dialog " << id << ": text wider than its label";
      if (wraps) {
        EXPECT_LE(th, std::ceil(box.size.height)) << "dialog " << id << ": text taller than its label";
      }
      EXPECT_FALSE(pango_layout_is_ellipsized(gtk_label_get_layout(GTK_LABEL(label))))
          << "dialog " << id << ": label cut short";
      if (!wraps) {
        EXPECT_EQ(pango_layout_get_line_count(gtk_label_get_layout(GTK_LABEL(label))), 1)
            << "dialog " << id << ": a one-line label wraps";
      }
      // The ink of the text (where it is aligned within the label) keeps
      // clear of every other visible control that is not around it.
      const float xalign = gtk_label_get_xalign(GTK_LABEL(label));
      const double text_left = box.origin.x + (box.size.width - tw) * xalign + ink.x;
      const double text_right = text_left + ink.width, text_top = box.origin.y + ink.y;
      const double text_bottom = text_top + ink.height;
      for (HWND h : dialog.children()) {
        auto* other = window_cast<Control>(h);
        if (!other || other == ctl || !other->has_visible_style()) continue;
        auto* widget = static_cast<GtkWidget*>(widget_(h));
        if (!widget || !gtk_widget_get_visible(widget)) continue;
        graphene_rect_t ob;
        if (!gtk_widget_compute_bounds(widget, window, &ob)) continue;
        const bool around = ob.origin.x <= box.origin.x && ob.origin.y <= box.origin.y &&
                            ob.origin.x + ob.size.width >= box.origin.x + box.size.width &&
                            ob.origin.y + ob.size.height >= box.origin.y + box.size.height;
        if (around || other->type() == ControlType::GroupBox) continue;
        // Rounding dialog units to pixels may let two neighbours share a pixel.
        const double ox = ob.origin.x, oy = ob.origin.y, ow = ob.size.width, oh = ob.size.height;
        const double overlap_x = std::min(text_right, ox + ow) - std::max(text_left, ox);
        const double overlap_y = std::min(text_bottom, oy + oh) - std::max(text_top, oy);
        EXPECT_FALSE(overlap_x > 1 && overlap_y > 1)
            << "dialog " << id << ": the text runs into control " << other->id() << " \"" << plain(other->text())
            << "\" by " << overlap_x << " x " << overlap_y << " pixels (text " << text_left << "," << text_top << " to "
            << text_right << "," << text_bottom << "; control " << ox << "," << oy << " to " << ox + ow << ","
            << oy + oh << ")";
      }
    }
  }

  void check_contrast(Dialog& dialog, int id, bool dark) {
    const auto found = labels(dialog);
    GtkWidget* window = found.empty() ? nullptr : GTK_WIDGET(gtk_widget_get_root(found.front().second));
    if (!window) return;
    const std::string file =
        shot_dir_.empty() ? "" : shot_dir_ + (dark ? "/dark/" : "/light/") + std::to_string(id) + ".png";
    const Picture p = render(window, file);
    ASSERT_GT(p.width, 0);
    for (auto& [ctl, label] : found) {
      if (!ctl->is_enabled()) continue;  // a disabled label is dimmed on purpose
      graphene_rect_t box;
      ASSERT_TRUE(gtk_widget_compute_bounds(label, window, &box));
      const double ratio = contrast_in(p, static_cast<int>(box.origin.x), static_cast<int>(box.origin.y),
                                       static_cast<int>(box.size.width), static_cast<int>(box.size.height));
      EXPECT_GE(ratio, 4.5) << "dialog " << id << (dark ? " (dark)" : " (light)") << ": label \""
                            << plain(ctl->text()) << "\" reads poorly";
    }
    // The page's painted heading, where it has one: the strip it is drawn
    // in, on the layer the labels sit on (laid over the canvas).
    graphene_rect_t layer;
    ASSERT_TRUE(gtk_widget_compute_bounds(gtk_widget_get_parent(found.front().second), window, &layer));
    const double sx = layer.size.width / dialog.rect().width(), sy = layer.size.height / dialog.rect().height();
    paint_window(dialog.hwnd());
    for (const PaintOp& op : dialog.paint_record().ops) {
      if (op.kind != PaintOp::Kind::Text) continue;
      const double ratio = contrast_in(p, static_cast<int>(layer.origin.x + op.x * sx),
                                       static_cast<int>(layer.origin.y + op.y * sy),
                                       static_cast<int>(std::min<double>(200, (dialog.rect().width() - op.x) * sx)),
                                       static_cast<int>(op.font.height * sy * 1.5));
      EXPECT_GE(ratio, 4.5) << "dialog " << id << (dark ? " (dark)" : " (light)") << ": heading \"" << op.text
                            << "\" reads poorly";
    }
  }

  WidgetFn widget_ = nullptr;
  std::string shot_dir_;
};

// The templates that `register_all` adds to the table.
template <class F>
std::vector<int> registered_by(F register_all) {
  const std::vector<int> before = dialog_template_ids();
  register_all();
  std::vector<int> added;
  for (int id : dialog_template_ids())
    if (std::find(before.begin(), before.end(), id) == before.end()) added.push_back(id);
  return added;
}

TEST_F(DesktopTemplates, WizardLabelsFitAndRead) {
  check_templates(registered_by([] {
                    wizard::register_page_templates();
                    wizard::register_modem_level();
                    wizard::register_modem_templates();
                    wizard::register_dialing_templates();
                    wizard::register_prompt_templates();
                  }),
                  "wizard");
}

TEST_F(DesktopTemplates, ModsetLabelsFitAndRead) {
  check_templates(registered_by([] { modset::register_cfg_templates(); }), "modset");
}

}  // namespace
