// Templates of the server's prompts. The billing page, the plan list and the
// access-number list have the page size, picture and separator; the input
// prompt is a small plain dialog.
#include "platform/ui/dialog.h"
#include "wizard/app.h"
#include "wizard/prompt_dialogs.h"

#include "page_layout.h"

namespace wizard {

using namespace platform;
namespace d = platform::dlg;
using namespace layout;

namespace {

// The separator, the hidden "PG2" picture and the OK / Cancel / Help row of
// the list dialogs (their OK is IDOK, not the pages' Next).
void list_buttons(DialogTemplate& t, bool cancel) {
  t.controls.push_back(d::ownerdraw("GRAYLINE", IDC_GRAYLINE, kLeft, 208, kWidth, 5).disabled().tabstop(false));
  t.controls.push_back(d::ownerdraw("PG2", IDC_PICTURE_PG2, kLeft, 0, 10, 10).hidden().tabstop(false));
  t.controls.push_back(d::defpushbutton("&OK", IDOK, 146, kButtonY, 50, kButtonH));
  auto c = d::pushbutton("&Cancel", IDCANCEL, 202, kButtonY, 46, kButtonH);
  if (!cancel) c.hidden();
  t.controls.push_back(c);
  t.controls.push_back(d::pushbutton("&Help", IDC_HELP, 252, kButtonY, 44, kButtonH));
}

DialogTemplate billing() {
  DialogTemplate t = page(IDD_BILLING, "Credit Card Information");
  t.controls.push_back(
      d::ltext("Please enter your Credit Card information below.", IDC_STATIC, kLeft, 40, kWidth, 8));
  t.controls.push_back(d::radio("Cash", IDC_CC_CASH, kLeft, 56, 60, 10).group().hidden());
  t.controls.push_back(d::radio("Credit Card", IDC_CC_CREDIT, 146, 56, 80, 10).hidden());
  t.controls.push_back(d::ltext("Type of Card:", IDC_STATIC, kLeft, 74, 64, 8).group());
  t.controls.push_back(d::combobox(IDC_CC_TYPE, 146, 72, 100, 60, CBS_DROPDOWNLIST,
                                   {"Visa", "MasterCard", "Discover", "American Express"}));
  t.controls.push_back(d::ltext("Card #:", IDC_STATIC, kLeft, 90, 64, 8));
  t.controls.push_back(d::edit(IDC_CC_NUMBER, 146, 88, 100, 12));
  t.controls.push_back(d::ltext("Expiration Date:", IDC_STATIC, kLeft, 106, 64, 8));
  t.controls.push_back(d::edit(IDC_CC_MONTH, 146, 104, 16, 12));
  t.controls.push_back(d::ltext("/", IDC_STATIC, 164, 106, 6, 8));
  t.controls.push_back(d::edit(IDC_CC_YEAR, 172, 104, 24, 12));
  t.controls.push_back(d::ltext("Please Note:  Your credit card information will not be transferred over the "
                                "Internet.  The Veloran Network Registration Wizard will transfer Credit Card "
                                "information directly to the Veloran Registration Server over a private and secure "
                                "link.",
                                IDC_STATIC, kLeft, 128, kWidth, 40));
  frame(t, {.back = false, .next_text = "&OK", .finish = false});
  return t;
}

DialogTemplate price_plan() {
  DialogTemplate t = page(IDD_PRICE_PLAN, "Pricing Plan Information");
  t.controls.push_back(d::ltext("Please select a pricing plan from the options below.  Your selection of a pricing "
                                "plan will determine how you connect to the network and the amount you are charged "
                                "for network access.",
                                IDC_STATIC, kLeft, 32, kWidth, 32));
  t.controls.push_back(d::listbox(IDC_PLAN_LIST, kLeft, 72, kWidth, 60));
  t.controls.push_back(d::edit(IDC_PLAN_DESCRIPTION, kLeft, 140, kWidth, 60,
                               ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL)
                           .with(WS_VSCROLL));
  list_buttons(t, true);
  return t;
}

DialogTemplate user_input() {
  DialogTemplate t;
  t.id = IDD_USER_INPUT;
  t.caption = "User input";
  t.rect = {0, 0, 220, 80};
  t.style |= DS_CENTER;
  t.controls.push_back(d::ltext("", IDC_INPUT_PROMPT, 8, 8, 204, 24));
  t.controls.push_back(d::edit(IDC_INPUT_EDIT, 8, 40, 204, 12));
  t.controls.push_back(d::defpushbutton("OK", IDOK, 54, 60, 50, 14));
  t.controls.push_back(d::pushbutton("Cancel", IDCANCEL, 116, 60, 50, 14));
  return t;
}

DialogTemplate access_number() {
  DialogTemplate t = page(IDD_ACCESS_NUMBER, "Access Number Information");
  t.controls.push_back(d::ltext("Please select a Veloran Network phone number to dial.  The phone number will be "
                                "used to connect you to the network.",
                                IDC_STATIC, kLeft, 32, kWidth, 24));
  t.controls.push_back(d::listbox(IDC_ACCESS_LIST, kLeft, 64, kWidth, 80).with(WS_VSCROLL));
  t.controls.push_back(d::ltext("Veloran Network Member is responsible for all charges (i.e., telephone) associated "
                                "with connecting to Veloran Network through an available access number. ",
                                IDC_STATIC, kLeft, 152, kWidth, 24));
  t.controls.push_back(d::ltext("Please check with your phone carrier to make sure your selected number is "
                                "considered a local call.",
                                IDC_STATIC, kLeft, 184, kWidth, 16));
  list_buttons(t, false);
  return t;
}

}  // namespace

void register_prompt_templates() {
  register_dialog_template(billing());
  register_dialog_template(price_plan());
  register_dialog_template(user_input());
  register_dialog_template(access_number());
}

}  // namespace wizard
