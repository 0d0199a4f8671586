// The layout every wizard page shares: 300 x 239 dialog units, the "PG1U"
// picture on the left, the text column on the right, the grey separator
// ("GRAYLINE") above the button row. Templates of the top-level pages, the
// modem level and the registration call are built from these pieces so the
// pages line up when the wizard moves between them.
#pragma once

#include <string>

#include "platform/ui/dialog.h"

namespace wizard::layout {

inline constexpr int kLeft = 80;    // text column
inline constexpr int kWidth = 214;  // up to the right margin
inline constexpr int kButtonY = 218;
inline constexpr int kButtonH = 14;

// An empty page: its size, caption and the picture on the left.
platform::DialogTemplate page(int id, std::string caption);

// The buttons a page has; the default is the full row of the inner pages.
struct Buttons {
  bool back = true;
  const char* next_text = "&Next >";
  const char* cancel_text = "&Cancel";
  bool help = true;
  bool finish = true;  // hidden, in Next's place, for the page that ends the wizard
};

// Appends the separator, the hidden "PG2" picture and the buttons. Called
// after the page's own controls so the buttons come last in the tab order.
void frame(platform::DialogTemplate& t, const Buttons& buttons = {});

}  // namespace wizard::layout
