#include "search_dialog.h"

#include <array>
#include <cstring>
#include <new>

#include "modset.h"
#include "platform/loop/log.h"
#include "platform/ui/message_box.h"
#include "platform/loop/message_loop.h"
#include "serlink.h"
#include "setup_dialogs.h"
#include "ui_resources.h"

namespace modset {

using namespace platform;

namespace {

constexpr const char* kComponent = "modset";
constexpr std::size_t kMaxPorts = 4;
constexpr std::size_t kResetBuffer = 20;
constexpr std::size_t kSetupBuffer = 200;
constexpr std::int32_t kStopped = SERLINK_E_STOPPED;
constexpr std::int32_t kNoModem = SERLINK_E_NO_MODEM;

// Serlink's callbacks carry no pointer: the search that runs is found here.
HWND g_current_search = 0;

CCfgSearchDialog* current_search() { return window_cast<CCfgSearchDialog>(g_current_search); }

// Serlink's event handler while it waits: keeps the dialog (and the
// caller's other windows) alive and lets the user press Cancel. A pending
// quit ends the pass and stays pending for the caller's loop.
void search_message_pump(std::int32_t) { MessageLoop::current().pump_pending(); }

std::int32_t search_status(const char* text) {
  CCfgSearchDialog* dialog = current_search();
  return dialog ? dialog->OnStatus(text) : 0;
}

// Registration of the pump for one search.
class PumpRegistration {
 public:
  explicit PumpRegistration(HWND dialog) : argument_(static_cast<std::int32_t>(dialog)) {
    registered_ = SerlinkSetEventHandler(search_message_pump, argument_) == 0;
    if (!registered_) log_warn(kComponent, "another Serlink event handler is registered: the search does not pump");
  }
  ~PumpRegistration() {
    if (registered_) SerlinkSetEventHandler(nullptr, argument_);
  }
  PumpRegistration(const PumpRegistration&) = delete;
  PumpRegistration& operator=(const PumpRegistration&) = delete;

 private:
  std::int32_t argument_;
  bool registered_ = false;
};

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
  std::int32_t rc = kStopped;
  try {
    PumpRegistration pump(self);
    std::array<SerialPortName, kMaxPorts> names{};
    std::array<SerialPortName*, kMaxPorts> table{};
    for (std::size_t i = 0; i < kMaxPorts; ++i) table[i] = &names[i];
    ModemPortList list{first_port_only_ ? 1u : static_cast<std::uint32_t>(kMaxPorts), table.data(), search_status};

    rc = stop_requested_ ? kStopped : ModemPortEnumeration(&list);
    if (stop_requested_) rc = kStopped;
    if (rc == kNoModem) {
      cfg_message_box(self, IDS_NO_MODEM, IDS_AUTO_DETECT, MB_ICONEXCLAMATION);
    } else if (rc == 0 && list.count == 0) {
      rc = kNoModem;  // a success without an entry is no modem
      cfg_message_box(self, IDS_NO_MODEM, IDS_AUTO_DETECT, MB_ICONEXCLAMATION);
    } else if (rc == 0) {
      const std::size_t found = std::min<std::size_t>(list.count, kMaxPorts);
      std::size_t chosen = 0;
      if (found > 1) {
        std::vector<std::string> devices;
        for (std::size_t i = 0; i < found; ++i) devices.emplace_back(names[i].name, strnlen(names[i].name, sizeof names[i].name));
        CCfgSelectModemDialog select(devices, self);
        if (select.DoModal() != IDOK) {
          rc = kStopped;
        } else {
          chosen = select.chosen() >= 0 && static_cast<std::size_t>(select.chosen()) < found
                       ? static_cast<std::size_t>(select.chosen())
                       : 0;
        }
      }
      if (rc == 0) {
        const SerialPortName& entry = names[chosen];
        const std::string device(entry.name, strnlen(entry.name, sizeof entry.name));
        char reset[kResetBuffer] = "";
        char setup[kSetupBuffer] = "";
        ModemAutoConfigRecord record{};
        record.metrics.channel = entry.port;
        record.reset = reset;
        record.setup = setup;
        record.status = search_status;
        rc = ModemAutoConfigure(&record);
        if (stop_requested_) rc = kStopped;
        reset[kResetBuffer - 1] = '\0';
        setup[kSetupBuffer - 1] = '\0';
        if (rc == kNoModem) {
          cfg_message_box(self, IDS_NO_MODEM, IDS_AUTO_DETECT, MB_ICONEXCLAMATION);
        } else if (rc == 0) {
          if (!StoreModem(device, entry.port, record.metrics.speed, record.metrics.flow, reset, setup))
            cfg_message_box(self, IDS_CONFIG_ERROR, IDS_AUTO_DETECT, MB_ICONEXCLAMATION, device);
        } else if (rc != kStopped) {
          log_warn(kComponent, "modem auto-configuration on " + device + " failed with " + std::to_string(rc));
          cfg_message_box(self, IDS_CONFIG_ERROR, IDS_AUTO_DETECT, MB_ICONEXCLAMATION, device);
        }
      }
    } else if (rc != kStopped) {
      log_warn(kComponent, "port enumeration failed with " + std::to_string(rc));
    }
  } catch (const std::bad_alloc&) {
    message_beep();
    rc = kStopped;
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
