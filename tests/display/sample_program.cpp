// A small program run the way joinwiz runs: "--answers SCRIPT --transcript
// FILE" loads the headless display by name; the page's Next or Cancel ends it.
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/loop/clock.h"

#include "platform/ui/display.h"
#include "sample_pages.h"

namespace {

class EndingMaster final : public platform::Window {
 protected:
  platform::LRESULT window_proc(const platform::Message& msg) override {
    if (msg.message == sample::WM_WIZ_NEXT || msg.message == sample::WM_WIZ_CANCEL) {
      platform::destroy_window(hwnd());
      return 0;
    }
    if (msg.message == platform::WM_DESTROY) platform::post_quit_message(0);
    return Window::window_proc(msg);
  }
};

}  // namespace

int main(int argc, char** argv) {
  using namespace platform;
  DisplayOptions options;
  std::string error;
  if (!parse_display_args(argc, argv, options, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  // Tests run the program in virtual time, so its time-outs pass at once.
  std::unique_ptr<ScopedVirtualClock> virtual_clock;
  if (argc > 1 && std::strcmp(argv[1], "--virtual-clock") == 0) virtual_clock = std::make_unique<ScopedVirtualClock>();
  std::unique_ptr<LoadedDisplay> display;
  if (!options.name.empty()) {
    display = open_display(options, error);
    if (!display) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 2;
    }
  }
  sample::register_templates();
  set_application_name("Sample");
  auto* master = new_window<EndingMaster>();
  master->create("Sample", WS_POPUP, {0, 0, 1, 1});
  auto* page = new_window<sample::PersonalPage>(master->hwnd());
  HWND h = page->create_modeless(master->hwnd());
  centre_window(h);
  show_window(h, SW_SHOW);
  return MessageLoop::current().run();
}
