// Dialog templates of the top-level pages, on the shared page layout.
#include "platform/ui/dialog.h"
#include "wizard/app.h"
#include "wizard/base_dialog.h"
#include "wizard/pages.h"

#include "page_layout.h"

namespace wizard {

using namespace platform;
namespace d = platform::dlg;
using namespace layout;

namespace {

DialogTemplate welcome() {
  DialogTemplate t = page(IDD_WELCOME, kWizardCaption);
  t.controls.push_back(d::ltext("Welcome to the Veloran Network Registration Wizard!", IDC_STATIC, kLeft, 24, kWidth, 8));
  t.controls.push_back(d::ltext("To subscribe with Veloran Network, please select:", IDC_STATIC, kLeft, 42, kWidth, 8));
  t.controls.push_back(
      d::radio("Create a New &Account with Veloran Network", IDC_NEW_ACCOUNT, 90, 56, 200, 10).group());
  t.controls.push_back(d::ltext("If you have an account with Veloran Network, and wish to set up that account on "
                                "this computer, or make changes to this account, please select:",
                                IDC_STATIC, kLeft, 74, kWidth, 24)
                                .without(WS_GROUP));  // the two choices stay one radio group
  t.controls.push_back(
      d::radio("&I already have an Account with Veloran Network", IDC_EXISTING_ACCOUNT, 90, 100, 200, 10));
  t.controls.push_back(d::ltext(
      "You might want to use this option if you already have an account and are re-installing our software, or "
      "installing our software on a another computer, or if you have upgraded your hard drive and are installing "
      "your programs and data on your new drive.",
      IDC_STATIC, kLeft, 120, kWidth, 40));
  frame(t, {.back = false, .finish = false});
  return t;
}

DialogTemplate terms() {
  DialogTemplate t = page(IDD_TERMS, "Terms of Service Agreement");
  t.controls.push_back(d::ltext("Please read the following Terms of Service. Uses the scroll bar to view the rest "
                                "of the agreement",
                                IDC_STATIC, kLeft, 8, kWidth, 16));
  t.controls.push_back(
      d::edit(IDC_TERMS_TEXT, kLeft, 28, kWidth, 136, ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL).with(WS_VSCROLL));
  t.controls.push_back(d::ltext("Do you accept the above Terms of Service agreement? If so, click Yes.  If you "
                                "click No, the registration process will close.",
                                IDC_STATIC, kLeft, 172, kWidth, 24));
  frame(t, {.next_text = "&Yes", .cancel_text = "&No", .help = false, .finish = false});
  return t;
}

DialogTemplate intro() {
  DialogTemplate t = page(IDD_INTRO, "Introduction");
  t.controls.push_back(d::ltext("To set up a new account with Veloran Network, you will need to provide:",
                                IDC_INTRO_HEADING, kLeft, 40, kWidth, 16));
  const char* items[] = {"- Personal Information", "- Account Information", "- Modem Information",
                         "- Dialing Information"};
  int y = 64;
  for (const char* item : items) {
    t.controls.push_back(d::ltext(item, IDC_STATIC, 96, y, 180, 8));
    y += 12;
  }
  t.controls.push_back(d::ltext("- Billing Information", IDC_INTRO_BILLING, 96, y, 180, 8));
  frame(t);
  return t;
}

// Edits sit on multiples of 8 dialog units and their labels 2 below, so a
// label and its field share one row of terminal cells (8 units a row).
DialogTemplate personal() {
  DialogTemplate t = page(IDD_PERSONAL, "Personal Information");
  t.controls.push_back(d::ltext("To begin the registration procedure, please enter the following personal "
                                "information. ",
                                IDC_STATIC, kLeft, 24, kWidth, 16));
  t.controls.push_back(
      d::ltext("Note:  Please enter your credit card billing address below.", IDC_STATIC, kLeft, 40, kWidth, 16));
  struct Row {
    const char* label;
    int id;
    int y;
    int width;
  } rows[] = {
      {"First Name:", IDC_FIRSTNAME, 56, 90},  {"Last Name:", IDC_LASTNAME, 72, 90},
      {"Company:", IDC_COMPANY, 88, 148},      {"Address:", IDC_ADDR1, 104, 148},
      {"", IDC_ADDR2, 120, 148},               {"City:", IDC_CITY, 136, 80},
  };
  for (const Row& r : rows) {
    if (*r.label) t.controls.push_back(d::ltext(r.label, IDC_STATIC, kLeft, r.y + 2, 64, 8));
    t.controls.push_back(d::edit(r.id, 146, r.y, r.width, 12));
  }
  t.controls.push_back(d::ltext("State/", IDC_STATIC, 232, 130, 28, 8));
  t.controls.push_back(d::ltext("Prov", IDC_STATIC, 232, 138, 28, 8));
  t.controls.push_back(d::edit(IDC_STATE, 262, 136, 20, 12, ES_AUTOHSCROLL | ES_UPPERCASE));
  t.controls.push_back(d::ltext("Zip/Postal Code:", IDC_STATIC, kLeft, 154, 64, 8));
  t.controls.push_back(d::edit(IDC_ZIP, 146, 152, 50, 12));
  t.controls.push_back(d::ltext("Area Code:", IDC_STATIC, kLeft, 170, 64, 8));
  t.controls.push_back(d::edit(IDC_DAYAREACODE, 146, 168, 20, 12));
  t.controls.push_back(d::ltext("Phone #:", IDC_STATIC, 172, 170, 34, 8));
  t.controls.push_back(d::edit(IDC_DAYPHONE, 208, 168, 52, 12));
  t.controls.push_back(d::edit(IDC_EVEPHONE, 208, 184, 52, 12).hidden());
  frame(t, {.finish = false});
  return t;
}

DialogTemplate account() {
  DialogTemplate t = page(IDD_ACCOUNT, "Account Information");
  t.controls.push_back(d::ltext("Please select a User ID and Password for the Veloran Network.  Your User ID is "
                                "what you'll be known as on the Veloran Network;  it will also be your electronic "
                                "mail address.  ",
                                IDC_ACCOUNT_TEXT, kLeft, 32, kWidth, 32));
  t.controls.push_back(d::ltext("User ID:", IDC_STATIC, kLeft, 74, 100, 8));
  t.controls.push_back(d::edit(IDC_USERID, 182, 72, 80, 12));
  t.controls.push_back(d::ltext("Password:", IDC_STATIC, kLeft, 90, 100, 8));
  t.controls.push_back(d::edit(IDC_PASSWORD, 182, 88, 80, 12, ES_AUTOHSCROLL | ES_PASSWORD));
  t.controls.push_back(d::ltext("Password (verification):", IDC_STATIC, kLeft, 106, 100, 8));
  t.controls.push_back(d::edit(IDC_PASSWORD2, 182, 104, 80, 12, ES_AUTOHSCROLL | ES_PASSWORD));
  t.controls.push_back(d::ltext("Both your User ID and Password must be at least 5 characters but no longer than 8 "
                                "characters in length. Please enter your desired password twice to verify that it "
                                "is correct.",
                                IDC_ACCOUNT_RULES, kLeft, 124, kWidth, 32));
  t.controls.push_back(d::ltext("Please enter your Email ID below.", IDC_EMAIL_TEXT, kLeft, 160, kWidth, 8));
  t.controls.push_back(d::ltext("EMail-ID:", IDC_EMAIL_LABEL, kLeft, 178, 100, 8));
  t.controls.push_back(d::edit(IDC_EMAILID, 182, 176, 80, 12));
  frame(t, {.finish = false});
  return t;
}

DialogTemplate help_topic() {
  DialogTemplate t;
  t.id = IDD_HELP_TOPIC;
  t.caption = "Veloran Registration Help";
  t.rect = {0, 0, 240, 160};
  t.style |= DS_CENTER;
  t.controls.push_back(
      d::edit(IDC_HELP_TEXT, 4, 4, 232, 132, ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL).with(WS_VSCROLL));
  t.controls.push_back(d::defpushbutton("OK", IDOK, 95, 142, 50, 14));
  return t;
}

}  // namespace

void register_page_templates() {
  register_dialog_template(welcome());
  register_dialog_template(terms());
  register_dialog_template(intro());
  register_dialog_template(personal());
  register_dialog_template(account());
  register_dialog_template(help_topic());
}

}  // namespace wizard
