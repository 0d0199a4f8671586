#include "search_dialog.h"

#include <new>

#include "modset.h"
#include "platform/loop/log.h"
#include "platform/ui/message_box.h"
#include "platform/loop/message_loop.h"
#include "serlink.h"
#include "serlink/modem_detection.h"
#include "setup_dialogs.h"
#include "ui_resources.h"

namespace modset {

using namespace platform;

namespace {

constexpr const char* kComponent = "modset";
constexpr std::size_t kMaxPorts = 4;

// The search dialog that is up: one at a time (search_running).
HWND g_current_search = 0;

}  // namespace

bool search_running() { return g_current_search != 0; }

// ---- CCfgSearchDialog ----------------------------------------------------------

CCfgSearchDialog::CCfgSearchDialog(bool first_port_only, HWND owner)
    : CCfgDialog(IDD_CFG_SEARCH, owner), first_port_only_(first_port_only) {}

CCfgSearchDialog::~CCfgSearchDialog() {
  if (g_current_search != 0 && g_current_search == hwnd()) g_current_search = 0;
}

bool CCfgSearchDialog::on_init_dialog() {
  const bool r = CCfgDialog::on_init_dialog();
  help_allowed_ = 0;
  g_current_search = hwnd();
  running_ = true;
  stop_requested_ = false;
  // The search starts once the dialog is on screen.
  post_message(hwnd(), WM_COMMAND, make_wparam(kCmdRunSearch, BN_CLICKED), 0);
  return r;
}

bool CCfgSearchDialog::on_command(int id, int code, HWND control) {
  if (id == kCmdRunSearch) {
    if (!searched_) {
      searched_ = true;
      RunSearch();
    }
    return true;
  }
  return CCfgDialog::on_command(id, code, control);
}

void CCfgSearchDialog::on_ok() {
  if (running_) {
    stop_requested_ = true;
    return;
  }
  end_dialog(IDOK);
}

void CCfgSearchDialog::on_cancel() {
  if (running_) {
    stop_requested_ = true;
    return;
  }
  end_dialog(IDCANCEL);
}

std::int32_t CCfgSearchDialog::OnStatus(const char* text) {
  if (text != nullptr && *text != '\0') {
    set_item_text(IDC_CFG_STATUS, std::string(text) + "...");
    log_info(kComponent, text);
  }
  return stop_requested_ ? -1 : 0;
}

void CCfgSearchDialog::RunSearch() {
  Hold hold(this);
  const HWND self = hwnd();
  std::int32_t rc = SERLINK_E_STOPPED;
  try {
    // Serlink's callbacks reach this dialog while it lives.
    serlink::DetectionScope scope(
        [self](const char* text) {
          CCfgSearchDialog* dialog = window_cast<CCfgSearchDialog>(self);
          return dialog ? dialog->OnStatus(text) : 0;
        },
        static_cast<std::int32_t>(self));
    if (!scope.pumping()) log_warn(kComponent, "another Serlink event handler is registered: the search does not pump");
    serlink::PortTable<kMaxPorts> ports(first_port_only_ ? 1u : static_cast<std::uint32_t>(kMaxPorts),
                                        serlink::DetectionScope::status_callback());

    rc = stop_requested_ ? SERLINK_E_STOPPED : ModemPortEnumeration(&ports.list);
    if (stop_requested_) rc = SERLINK_E_STOPPED;
    if (rc == SERLINK_E_NO_MODEM) {
      cfg_message_box(self, IDS_NO_MODEM, IDS_AUTO_DETECT, MB_ICONEXCLAMATION);
    } else if (rc == 0 && ports.list.count == 0) {
      rc = SERLINK_E_NO_MODEM;  // a success without an entry is no modem
      cfg_message_box(self, IDS_NO_MODEM, IDS_AUTO_DETECT, MB_ICONEXCLAMATION);
    } else if (rc == 0) {
      const std::size_t found = ports.found();
      std::size_t chosen = 0;
      if (found > 1) {
        std::vector<std::string> devices;
        for (std::size_t i = 0; i < found; ++i) devices.push_back(ports.name(i));
        CCfgSelectModemDialog select(devices, self);
        if (select.DoModal() != IDOK) {
          rc = SERLINK_E_STOPPED;
        } else {
          chosen = select.chosen() >= 0 && static_cast<std::size_t>(select.chosen()) < found
                       ? static_cast<std::size_t>(select.chosen())
                       : 0;
        }
      }
      if (rc == 0) {
        const SerialPortName& entry = ports.entries[chosen];
        const std::string device = ports.name(chosen);
        const serlink::AutoConfiguration found_modem =
            serlink::auto_configure(entry.port, serlink::DetectionScope::status_callback(), ModemAutoConfigure);
        rc = found_modem.result;
        if (stop_requested_) rc = SERLINK_E_STOPPED;
        if (rc == SERLINK_E_NO_MODEM) {
          cfg_message_box(self, IDS_NO_MODEM, IDS_AUTO_DETECT, MB_ICONEXCLAMATION);
        } else if (rc == 0) {
          if (!StoreModem(device, entry.port, found_modem.metrics.speed, found_modem.metrics.flow,
                          found_modem.reset.c_str(), found_modem.setup.c_str()))
            cfg_message_box(self, IDS_CONFIG_ERROR, IDS_AUTO_DETECT, MB_ICONEXCLAMATION, device);
        } else if (rc != SERLINK_E_STOPPED) {
          log_warn(kComponent, "modem auto-configuration on " + device + " failed with " + std::to_string(rc));
          cfg_message_box(self, IDS_CONFIG_ERROR, IDS_AUTO_DETECT, MB_ICONEXCLAMATION, device);
        }
      }
    } else if (rc != SERLINK_E_STOPPED) {
      log_warn(kComponent, "port enumeration failed with " + std::to_string(rc));
    }
  } catch (const std::bad_alloc&) {
    message_beep();
    rc = SERLINK_E_STOPPED;
  }
  if (g_current_search == self) g_current_search = 0;
  running_ = false;
  stop_requested_ = false;
  if (is_window(self)) post_message(self, WM_COMMAND, make_wparam(rc == 0 ? IDOK : IDCANCEL, BN_CLICKED), 0);
}

bool CCfgSearchDialog::StoreModem(const std::string& device, std::int32_t port, std::int32_t speed,
                                  std::int32_t flow, const char* reset, const char* setup) {
  CfgModemInfo modem{};
  if (CfgGetModemInfo(&modem) < 0) return false;
  // Serlink's commands fit the record (a reset command of at most 15
  // characters, a setup command of at most 59); longer ones are cut.
  copy_field(modem.PortName, device);
  modem.CommPort = port;
  modem.BaudRate = speed;
  modem.FlowControl = flow;
  copy_field(modem.ResetString, reset);
  copy_field(modem.SetupString, setup);
  return CfgPutModemInfo(&modem) == CFG_OK;
}

// ---- CCfgSelectModemDialog -----------------------------------------------------

CCfgSelectModemDialog::CCfgSelectModemDialog(std::vector<std::string> names, HWND owner)
    : CCfgDialog(IDD_CFG_SELECT, owner), names_(std::move(names)) {
  if (names_.size() > kMaxPorts) names_.resize(kMaxPorts);
}

bool CCfgSelectModemDialog::on_init_dialog() {
  const bool r = CCfgDialog::on_init_dialog();
  if (ListBox* list = this->list(IDC_CFG_MODEM_LIST)) {
    for (const auto& name : names_) {
      if (name.empty() || list->add_string(name) < 0) break;
    }
    list->set_cur_sel(chosen_);
  }
  return r;
}

void CCfgSelectModemDialog::on_ok() {
  const ListBox* list = this->list(IDC_CFG_MODEM_LIST);
  chosen_ = list ? list->cur_sel() : -1;
  end_dialog(IDOK);
}

}  // namespace modset
