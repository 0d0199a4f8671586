// The C exports of the dialogs and the help path, and CfgGetNsvAccessInfo.
// Every failure inside them becomes a result code.
#include <cstring>
#include <new>
#include <string>

#include "cfg_dialog.h"
#include "modset.h"
#include "number_dialogs.h"
#include "platform/ui/dialog.h"
#include "platform/loop/log.h"
#include "platform/loop/message_loop.h"
#include "records.h"
#include "search_dialog.h"
#include "setup_dialogs.h"
#include "ui_resources.h"

namespace {

using namespace platform;

constexpr const char* kComponent = "modset";

// Runs a dialog export: templates and display first, out of memory is
// CFG_E_UI_MEMORY, anything else thrown CFG_E_UI.
template <class Work>
int32_t run_ui(const char* what, Work work) {
  try {
    modset::migrate_once();
    modset::register_cfg_templates();
    std::string error;
    if (!modset::ensure_display(error)) {
      log_error(kComponent, std::string(what) + ": no display for the dialog: " + error);
      return CFG_E_UI;
    }
    return work();
  } catch (const std::bad_alloc&) {
    return CFG_E_UI_MEMORY;
  } catch (...) {
    try {
      log_error(kComponent, std::string(what) + ": unexpected failure while running a dialog");
    } catch (...) {
    }
    return CFG_E_UI;
  }
}

// The export's result for a dialog's ending: OK, any other ending (a quit
// of the caller's loop too: it stays pending for the caller), or a dialog
// that could not be made.
int32_t dialog_result(int ending) {
  if (ending == IDOK) return CFG_OK;
  if (ending == -1 && !MessageLoop::current().quit_pending()) {
    log_error(kComponent, "the dialog could not be shown, or was ended without its user (see the display's lines)");
    return CFG_E_UI;
  }
  return CFG_CANCELLED;
}

}  // namespace

extern "C" {

MODSET_API int32_t CfgUiSetupDialog(int32_t mode, int32_t reserved, const char* description) {
  (void)reserved;
  return run_ui("CfgUiSetupDialog", [&]() -> int32_t {
    if (mode == 32) {
      modset::CCfgNsvNumberDialog dialog(description);
      return dialog_result(dialog.DoModal());
    }
    if (mode == 128) {
      modset::CCfgZrsNumberDialog dialog;
      return dialog_result(dialog.DoModal());
    }
    modset::CCfgModemDialog dialog(mode, description);
    return dialog_result(dialog.DoModal());
  });
}

MODSET_API int32_t CfgUiAutoDetectDialog(int32_t first_port_only, int32_t ask_line_settings) {
  return run_ui("CfgUiAutoDetectDialog", [&]() -> int32_t {
    // One search per process: Serlink has one channel and one event handler.
    if (modset::search_running()) {
      log_warn(kComponent, "CfgUiAutoDetectDialog: a modem search is running already");
      return CFG_E_UI;
    }
    int32_t rc = CFG_CANCELLED;
    {
      modset::CCfgSearchDialog search(first_port_only != 0);
      rc = dialog_result(search.DoModal());
    }
    if (rc == CFG_OK && ask_line_settings != 0) {
      modset::CCfgLineDialog line(0);
      line.DoModal();
    }
    return rc;
  });
}

MODSET_API int32_t CfgUiSetHelpFile(const char* path) {
  if (path == nullptr) return CFG_E_PARAM;
  try {
    // Measured up to one past the limit only: the text may be unterminated
    // beyond what matters.
    const std::size_t n = strnlen(path, modset::kHelpPathMax + 1);
    return modset::set_help_path(std::string_view(path, n)) ? CFG_OK : CFG_E_PARAM;
  } catch (...) {
    return CFG_E_MEMORY;
  }
}

MODSET_API int32_t CfgUiGetHelpFile(const char** path) {
  if (path == nullptr) return CFG_E_PARAM;
  try {
    *path = modset::help_path();
    return CFG_OK;
  } catch (...) {
    return CFG_E_MEMORY;
  }
}

MODSET_API int32_t CfgGetNsvAccessInfo(char* number) {
  if (number == nullptr) return CFG_E_PARAM;
  try {
    modset::migrate_once();
    return modset::get_nsv_access_number(number);
  } catch (const std::bad_alloc&) {
    number[0] = '\0';
    return CFG_E_MEMORY;
  } catch (...) {
    number[0] = '\0';
    return CFG_E_READ;
  }
}

}  // extern "C"
