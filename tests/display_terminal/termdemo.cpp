// termdemo: shows the sample page through a display chosen on the command
// line, the way the wizard chooses its display.
//
//   termdemo [--display terminal] [--result FILE]
//
// Cancel (or Esc) asks before leaving; at the end the page's values are
// written to FILE ("name=...", one a line) and the program exits with 0.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/ui/display.h"
#include "platform/ui/message_box.h"
#include "platform/ui/window.h"
#include "sample_page.h"

int main(int argc, char** argv) {
  platform::DisplayOptions options;
  std::string error;
  if (!platform::parse_display_args(argc, argv, options, error)) {
    std::fprintf(stderr, "termdemo: %s\n", error.c_str());
    return 2;
  }
  std::string result_path;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--result") == 0 && i + 1 < argc) {
      result_path = argv[++i];
    } else {
      std::fprintf(stderr, "usage: termdemo [--display NAME] [--result FILE]\n");
      return 2;
    }
  }
  if (options.name.empty()) options.name = "terminal";
  auto display = platform::open_display(options, error);
  if (!display) {
    std::fprintf(stderr, "termdemo: %s\n", error.c_str());
    return 2;
  }

  platform::set_application_name("Sign-up");
  sample::register_templates();
  sample::SamplePage page;
  page.on_end = [] { platform::post_quit_message(0); };
  if (!page.create_modeless(0)) {
    display.reset();
    std::fprintf(stderr, "termdemo: cannot make the sample page\n");
    return 2;
  }
  platform::centre_window(page.hwnd());
  platform::show_window(page.hwnd(), platform::SW_SHOW);
  const int code = platform::MessageLoop::current().run();
  page.update_data(true);
  platform::destroy_window(page.hwnd());
  display.reset();  // the terminal is back before anything is printed

  if (!result_path.empty()) {
    std::ofstream out(result_path);
    out << "name=" << page.name << "\nplan=" << page.plan << "\npayment=" << page.payment
        << "\nnews=" << (page.news ? 1 : 0) << "\nport=" << page.port << "\n";
  }
  return code;
}
