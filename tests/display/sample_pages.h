// A sample wizard page and modal prompt, written the way the wizard's pages
// are: templates in code, a modeless page that notifies its master by posted
// messages, data exchange with validation.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/dialog.h"
#include "platform/ui/message_box.h"
#include "platform/ui/window.h"

namespace sample {

using namespace platform;

enum : unsigned { WM_WIZ_BACK = WM_USER + 500, WM_WIZ_NEXT, WM_WIZ_CANCEL, WM_WIZ_FINISH };

inline void register_templates() {
  DialogTemplate page;
  page.id = 102;
  page.caption = "Personal Information";
  page.rect = {0, 0, 300, 239};
  page.controls = {
      dlg::picture("PG1U", 3035, 0, 0, 74, 239),
      dlg::ltext("First Name:", IDC_STATIC, 80, 40, 50, 8),
      dlg::edit(3021, 140, 38, 80, 12),
      dlg::ltext("Last Name:", IDC_STATIC, 80, 56, 50, 8),
      dlg::edit(3012, 140, 54, 80, 12),
      dlg::ltext("State:", IDC_STATIC, 80, 72, 50, 8),
      dlg::edit(3017, 140, 70, 20, 12, ES_UPPERCASE | ES_AUTOHSCROLL),
      dlg::checkbox("Di&sable Call Waiting with:", 3043, 80, 90, 100, 10),
      dlg::combobox(3044, 185, 88, 50, 60, CBS_DROPDOWN | CBS_SORT, {"*70,", "70#,", "1170,"}),
      dlg::radio("&Tone", 3046, 80, 110, 40, 10).group().tabstop(),
      dlg::radio("&Pulse", 3047, 130, 110, 40, 10),
      dlg::listbox(3005, 80, 126, 100, 40).group(),
      dlg::ltext("", 4000, 190, 126, 100, 8),
      dlg::ownerdraw("GRAYLINE", 3036, 0, 200, 300, 5).disabled(),
      dlg::pushbutton("< &Back", 3000, 80, 215, 50, 14),
      dlg::defpushbutton("&Next >", 3031, 132, 215, 50, 14),
      dlg::pushbutton("&Finish", 3033, 132, 215, 50, 14).hidden(),
      dlg::pushbutton("&Cancel", IDCANCEL, 190, 215, 50, 14),
      dlg::pushbutton("&Help", 2040, 245, 215, 50, 14),
  };
  register_dialog_template(page);

  DialogTemplate prompt;
  prompt.id = 106;
  prompt.caption = "User input";
  prompt.rect = {0, 0, 180, 70};
  prompt.style |= DS_CENTER;
  prompt.controls = {
      dlg::ltext("", 2024, 8, 8, 160, 16),
      dlg::edit(3022, 8, 28, 160, 12),
      dlg::defpushbutton("OK", IDOK, 40, 48, 50, 14),
      dlg::pushbutton("Cancel", IDCANCEL, 96, 48, 50, 14),
  };
  register_dialog_template(prompt);
}

// Receives the page's notifications; ends the loop on the first one.
class Master final : public Window {
 public:
  std::vector<unsigned> received;

 protected:
  LRESULT window_proc(const Message& msg) override {
    if (msg.message >= WM_WIZ_BACK && msg.message <= WM_WIZ_FINISH) {
      received.push_back(msg.message);
      post_quit_message(static_cast<int>(msg.message));
      return 0;
    }
    return Window::window_proc(msg);
  }
};

class UserInputDialog final : public Dialog {
 public:
  UserInputDialog() : Dialog(106) {}
  std::string prompt = "Please enter another user ID";
  std::string answer;

 protected:
  bool on_init_dialog() override {
    set_item_text(2024, prompt);
    Dialog::on_init_dialog();
    goto_control(3022);
    return false;
  }
  void do_data_exchange(DataExchange& dx) override { dx.text(3022, answer); }
};

class PersonalPage : public Dialog {
 public:
  explicit PersonalPage(HWND master) : Dialog(102), master_(master) {}
  std::string first, last = "Smith", state;
  bool call_waiting = false;
  std::string code;
  int method = 0;
  int ok_calls = 0;
  int help_calls = 0;

 protected:
  bool on_init_dialog() override {
    Dialog::on_init_dialog();
    goto_control(3021);
    return false;
  }
  void do_data_exchange(DataExchange& dx) override {
    if (dx.saving() && item_text(3021).empty()) {
      message_box(hwnd(), "You must enter your first name.", "Entry error", MB_OK | MB_ICONEXCLAMATION);
      dx.fail(3021);
      return;
    }
    dx.text(3021, first, 20);
    dx.text(3012, last, 8);
    dx.text(3017, state, 2);
    dx.check(3043, call_waiting);
    dx.list_string(3044, code);
    dx.radio(3046, method);
  }
  bool on_command(int id, int notification, HWND) override {
    if (notification != BN_CLICKED) return false;
    switch (id) {
      case 3031:
        if (update_data(true)) post_message(master_, WM_WIZ_NEXT);
        return true;
      case 3033:
        if (update_data(true)) post_message(master_, WM_WIZ_FINISH);
        return true;
      case 3000:
        post_message(master_, WM_WIZ_BACK);
        return true;
      case 2040:
        ++help_calls;
        return true;
      default:
        return false;
    }
  }
  void on_ok() override { ++ok_calls; }  // modeless pages ignore the framework's OK
  void on_cancel() override { post_message(master_, WM_WIZ_CANCEL); }
  void on_help() override { ++help_calls; }
  void on_paint(DC& dc) override {
    dc.select_font(Font{"Times New Roman", 18, 800});
    dc.set_bk_mode(BkMode::Transparent);
    dc.text_out(160, 20, "Personal Information");
  }

 private:
  HWND master_;
};

}  // namespace sample
