#include "page_layout.h"

#include "wizard/base_dialog.h"

namespace wizard::layout {

using namespace platform;
namespace d = platform::dlg;

DialogTemplate page(int id, std::string caption) {
  DialogTemplate t;
  t.id = id;
  t.caption = std::move(caption);
  t.rect = {0, 0, kPageWidthDlu, kPageHeightDlu};
  t.controls.push_back(d::picture("PG1U", IDC_STATIC, 0, 0, 74, 239));
  return t;
}

void frame(DialogTemplate& t, const Buttons& buttons) {
  t.controls.push_back(d::ownerdraw("GRAYLINE", IDC_GRAYLINE, kLeft, 208, kWidth, 5).disabled().tabstop(false));
  t.controls.push_back(d::ownerdraw("PG2", IDC_PICTURE_PG2, kLeft, 0, 10, 10).hidden().tabstop(false));
  if (buttons.back) t.controls.push_back(d::pushbutton("< &Back", IDC_BACK, 96, kButtonY, 50, kButtonH));
  t.controls.push_back(d::defpushbutton(buttons.next_text, IDC_NEXT, 146, kButtonY, 50, kButtonH));
  if (buttons.finish) {
    t.controls.push_back(d::pushbutton("&Finish", IDC_FINISH, 146, kButtonY, 50, kButtonH).hidden());
  }
  t.controls.push_back(d::pushbutton(buttons.cancel_text, IDCANCEL, 202, kButtonY, 46, kButtonH));
  if (buttons.help) t.controls.push_back(d::pushbutton("&Help", IDC_HELP, 252, kButtonY, 44, kButtonH));
}

}  // namespace wizard::layout
