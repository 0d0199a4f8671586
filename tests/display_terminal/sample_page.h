// A sample page for the terminal display: every kind of control a wizard
// page uses, a painted title, a picture and a masked owner-drawn separator.
// The grid tests and the termdemo program both show it.
#pragma once

#include <functional>
#include <string>

#include "platform/ui/bitmap.h"
#include "platform/ui/dialog.h"

namespace sample {

enum : int {
  kPageId = 100,
  kPicture = 1000,
  kName = 1001,
  kPlan = 1002,
  kCredit = 1003,
  kCash = 1004,
  kNews = 1005,
  kPort = 1006,
  kGrayLine = 3036,
  kBack = 3000,
  kNext = 3031,
  kHelp = 2040,
};
constexpr int kNameMax = 12;
constexpr const char* kTitle = "Sample Account Page";

// Registers the page's template (id kPageId).
void register_templates();
// The picture on the left: 96 x 208 pixels of sky, sun, hills and a house.
platform::Bitmap picture();
// The separator line: grey on an olive mask colour, 440 x 4 pixels.
platform::Bitmap gray_line();

class SamplePage final : public platform::Dialog {
 public:
  SamplePage();

  std::string name;
  int plan = 0;
  int payment = 0;  // 0 credit card, 1 cash
  bool news = false;
  std::string port = "COM2";

  // Called when the page is cancelled (Cancel or Esc).
  std::function<void()> on_end;
  // Every message box the page shows, "caption: text", for tests.
  std::function<void(const std::string&)> on_message;

 protected:
  bool on_init_dialog() override;
  bool on_command(int id, int code, platform::HWND control) override;
  void on_cancel() override;
  void on_help() override;
  void do_data_exchange(platform::DataExchange& dx) override;
  void on_paint(platform::DC& dc) override;
  void on_draw_item(platform::DrawItem& item) override;

 private:
  int show_message(const std::string& text, const std::string& caption, unsigned type);
};

}  // namespace sample
