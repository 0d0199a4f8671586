#include "cfg_dialog.h"

#include <cstring>
#include <memory>
#include <mutex>

#include "platform/ui/display.h"
#include "platform/shell/help.h"
#include "platform/shell/launcher.h"
#include "platform/loop/log.h"
#include "platform/ui/message_box.h"
#include "platform/ui/window.h"
#include "ui_resources.h"

namespace modset {

using namespace platform;

namespace {

constexpr const char* kComponent = "modset";

// One fixed buffer for the process and the library's life: callers keep the
// pointer CfgUiGetHelpFile gave them, so it is never moved or freed. The
// mutex keeps a Set and the default fill of a Get from interleaving; a
// caller reading the text while another thread sets it may still see a mix
// of both paths (modset.h says which calls may run together).
char g_help_path[kHelpPathMax + 1];
std::mutex g_help_mutex;

// Topic lines of the library's help file hold at most ten digits.
constexpr HelpFileLimits kHelpFileLimits{.max_digits = 10, .max_number = 9'999'999'999};

class CCfgHelpDialog final : public Dialog {
 public:
  CCfgHelpDialog(HelpTopic topic) : Dialog(IDD_CFG_HELP), topic_(std::move(topic)) {
    owner_defaults_to_active_ = false;
  }

 protected:
  bool on_init_dialog() override {
    set_window_text(hwnd(), "Modem Settings Help - " + topic_.title);
    set_item_text(IDC_CFG_HELP_TEXT, topic_.text);
    centre_over(hwnd(), owner());
    goto_control(IDOK);
    return false;
  }

 private:
  HelpTopic topic_;
};

}  // namespace

CCfgDialog::CCfgDialog(int template_id, HWND owner) : Dialog(template_id), owner_(owner) {
  // The library's dialogs have no parent unless one of its own opens them.
  owner_defaults_to_active_ = false;
}

bool CCfgDialog::on_init_dialog() {
  const bool r = Dialog::on_init_dialog();
  centre_over(hwnd(), owner_);
  return r;
}

void CCfgDialog::on_help() {
  if (!help_allowed()) {
    message_beep();
    return;
  }
  show_help_topic(hwnd(), help_path(), kHelpContextBase + template_id());
}

void cfg_message_box(HWND owner, int text_id, int caption_id, unsigned icon, const std::string& argument) {
  std::string text = load_string(text_id);
  if (!argument.empty()) text = format_message(text, {argument});
  message_box(owner, text, load_string(caption_id), MB_OK | icon);
}

bool set_help_path(std::string_view path) {
  if (path.size() > kHelpPathMax) return false;
  std::lock_guard lock(g_help_mutex);
  std::memcpy(g_help_path, path.data(), path.size());
  g_help_path[path.size()] = '\0';
  return true;
}

const char* help_path() {
  std::lock_guard lock(g_help_mutex);
  if (g_help_path[0] == '\0' && active_window() != 0) {
    // The program that made the active window is this process's executable.
    const std::filesystem::path folder = program_folder();
    if (!folder.empty()) {
      const std::string guess = (folder / "modset.hlp").string();
      if (guess.size() <= kHelpPathMax) std::memcpy(g_help_path, guess.c_str(), guess.size() + 1);
    }
  }
  return g_help_path;
}

void reset_help_path() {
  std::lock_guard lock(g_help_mutex);
  g_help_path[0] = '\0';
}

void show_help_topic(HWND owner, const std::string& file, int context) {
  HelpTopic topic;
  const HelpLookup found =
      file.empty() ? HelpLookup::NoFile : find_help_topic(file, context, kHelpFileLimits, topic);
  if (found == HelpLookup::NoFile) {
    message_box(owner, "Cannot open the help file " + (file.empty() ? std::string("(none set)") : file) + ".",
                load_string(IDS_MODEM_SETTINGS), MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  if (found == HelpLookup::NoTopic) {
    message_box(owner, "Help topic " + std::to_string(context) + " is not in " + file + ".",
                load_string(IDS_MODEM_SETTINGS), MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  CCfgHelpDialog dialog(std::move(topic));
  dialog.do_modal(owner);
}

bool ensure_display(std::string& error) {
  if (current_display() != nullptr) return true;
  // Opened once and never closed: the renderer serves the thread's windows
  // to the end, and closing it at exit would outlive the thread's loop.
  static LoadedDisplay* loaded = nullptr;
  DisplayOptions options;
  if (!display_options_from_environment(options, error)) return false;
  loaded = open_display(options, error).release();
  if (!loaded) {
    log_error(kComponent, "no display for the dialogs: " + error);
    return false;
  }
  return true;
}

}  // namespace modset
