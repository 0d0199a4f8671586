// "Modem Detection": finds the modem through libserlink inside one timer
// tick, and "Modem Selection", which asks which port to use when several
// answer.
#include <array>
#include <cstdio>
#include <cstring>

#include "platform/loop/log.h"
#include "platform/ui/message_box.h"
#include "platform/loop/message_loop.h"
#include "wizard/modem_level.h"
#include "wizard/port_check.h"

namespace wizard {

using namespace platform;

namespace {

constexpr const char* kComponent = "modem";
constexpr std::uint32_t kPortEntries = 8;
constexpr std::size_t kResetSize = 20;
constexpr std::size_t kSetupSize = 200;

// The library's callbacks carry no context: the run in progress is found
// here (one detection at a time: it runs on the user-interface thread).
bool* g_stop_request = nullptr;
HWND g_progress_page = 0;

// Keeps the window model alive while the library waits.
void pump_messages(std::int32_t) { MessageLoop::current().pump_pending(); }

// Nonzero asks the library to stop: the user cancelled, or the page is gone.
// The library's progress texts also go to the page, below its status line.
std::int32_t stop_check(const char* text) {
  if (text != nullptr) {
    log_info(kComponent, text);
    if (is_window(g_progress_page)) set_window_text(get_dlg_item(g_progress_page, IDC_DETECT_PROGRESS), text);
  }
  return g_stop_request != nullptr && *g_stop_request ? 1 : 0;
}

// Registration of the event handler and the stop flag for one run.
class DetectionScope {
 public:
  DetectionScope(bool* stop, HWND page) {
    g_stop_request = stop;
    g_progress_page = page;
    handler_ = SerlinkSetEventHandler(pump_messages, 0) == 0;
    if (!handler_) log_warn(kComponent, "another event handler is registered: the window waits during detection");
  }
  ~DetectionScope() {
    if (handler_) SerlinkSetEventHandler(nullptr, 0);
    g_stop_request = nullptr;
    g_progress_page = 0;
  }
  DetectionScope(const DetectionScope&) = delete;
  DetectionScope& operator=(const DetectionScope&) = delete;

 private:
  bool handler_ = false;
};

}  // namespace

// ---- CModemDetectDialog --------------------------------------------------------

CModemDetectDialog::CModemDetectDialog(RegistrationProfile* profile, HWND parent)
    : CBaseDialog(IDD_MODEM_DETECT, profile, parent) {}

CModemDetectDialog::~CModemDetectDialog() {
  if (timer_ != 0 && hwnd() != 0) kill_timer(timer_);
}

bool CModemDetectDialog::on_init_dialog() {
  const bool r = CBaseDialog::on_init_dialog();
  for (int id : {IDC_BACK, IDC_NEXT, IDC_FINISH}) enable_item(id, false);
  timer_ = set_timer(kTimerId, 5);
  Status("Identifying modem");
  if (timer_ == 0) {
    app_message_box("No timers are available", MB_OK);
    PostToParent(WM_WIZ_RESULT_FAILED);
  } else {
    running_ = true;
  }
  return r;
}

// The frame enables Next when it shows a page; nothing but Cancel may leave
// this one while it works.
void CModemDetectDialog::SetFinishMode(bool finish) {
  CBaseDialog::SetFinishMode(finish);
  for (int id : {IDC_BACK, IDC_NEXT, IDC_FINISH}) enable_item(id, false);
}

void CModemDetectDialog::on_cancel() {
  stop_ = true;
  CBaseDialog::on_cancel();
}

LRESULT CModemDetectDialog::window_proc(const Message& msg) {
  if (msg.message == WM_TIMER && msg.wparam == kTimerId && timer_ != 0) {
    Detect();
    return 0;
  }
  if (msg.message == WM_DESTROY) {
    stop_ = true;
    if (timer_ != 0) {
      kill_timer(timer_);
      timer_ = 0;
      running_ = false;
    }
  }
  return CBaseDialog::window_proc(msg);
}

void CModemDetectDialog::Status(const std::string& text) { set_item_text(IDC_DETECT_STATUS, text); }

void CModemDetectDialog::Fail(const std::string& text) {
  Status(text);
  running_ = false;
  PostToParent(WM_WIZ_RESULT_FAILED);
}

void CModemDetectDialog::Detect() {
  const HWND self = hwnd();
  std::array<SerialPortName, kPortEntries> entries{};
  std::array<SerialPortName*, kPortEntries> table{};
  for (std::uint32_t i = 0; i < kPortEntries; ++i) {
    entries[i].port = static_cast<std::int32_t>(i);
    entries[i].name[0] = '\0';
    table[i] = &entries[i];
  }
  ModemPortList list{kPortEntries, table.data(), stop_check};
  kill_timer(timer_);
  timer_ = 0;
  Status("Checking All the ports");
  // A modem held by another program is named before the search opens it.
  if (!CheckComPortsFree(self)) return Fail("User aborted");
  if (!is_window(self)) return;

  DetectionScope scope(&stop_, self);
  const ModemServices& services = modem_services();
  std::int32_t rc = services.enumerate(&list);
  // The user may have cancelled while the library pumped messages.
  if (!is_window(self)) return;
  if (rc == SERLINK_E_STOPPED) return Fail("User aborted");
  if (rc == SERLINK_E_NO_MODEM) return Fail("Failed");
  if (rc != 0) {
    log_warn(kComponent, "port enumeration failed with " + std::to_string(rc));
    return Fail("Failed");
  }
  const std::uint32_t found = std::min(list.count, kPortEntries);
  char text[128];
  std::snprintf(text, sizeof text, "Found %u ports", found);
  Status(text);
  if (found == 0) return Fail("Failed");

  std::int32_t port = entries[0].port;
  if (found > 1) {
    std::vector<int> numbers;
    for (std::uint32_t i = 0; i < found; ++i) numbers.push_back(entries[i].port + 1);
    CModemSelectDialog select(numbers, self);
    const int result = select.do_modal(self);
    if (!is_window(self)) return;
    if (result != IDOK || select.selection() < 0) {
      // No port: the page stays with only Cancel usable.
      log_info(kComponent, "no port chosen");
      return;
    }
    port = entries[static_cast<std::size_t>(select.selection())].port;
  }

  Status("Auto Configuring Modem...");
  char reset[kResetSize] = "";
  char setup[kSetupSize] = "";
  ModemAutoConfigRecord record{};
  record.metrics.channel = port;
  record.reset = reset;
  record.setup = setup;
  record.status = stop_check;
  rc = services.configure(&record);
  if (!is_window(self)) return;
  if (rc == SERLINK_E_STOPPED) return Fail("User aborted");
  if (rc != 0) {
    // Also a port problem or a time-out: the user goes on to enter the
    // settings by hand instead of facing a page that cannot move.
    if (rc != SERLINK_E_NO_MODEM) log_warn(kComponent, "modem auto-configuration failed with " + std::to_string(rc));
    return Fail("Failed");
  }
  running_ = false;
  reset[kResetSize - 1] = '\0';
  setup[kSetupSize - 1] = '\0';
  const std::string speed = speed_text(record.metrics.speed);
  RegistrationProfile* p = profile();
  p->Set("COMSPEED", speed);
  p->Set("COMPORT", std::to_string(port + 1));
  p->Set("MODEMTYPE", "Generic modem");
  p->Set("MODEMINIT", remove_blanks(setup));
  p->Set("MODEMRST", remove_blanks(reset));
  std::snprintf(text, sizeof text, "Found on COM%d @%s bps", port + 1, speed.c_str());
  Status(text);
  log_info(kComponent, text);
  PostToParent(WM_WIZ_RESULT_OK);
}

// ---- CModemSelectDialog --------------------------------------------------------

CModemSelectDialog::CModemSelectDialog(std::vector<int> ports, HWND parent)
    : CBaseDialog(IDD_MODEM_SELECT, nullptr, parent), ports_(std::move(ports)) {}

bool CModemSelectDialog::on_init_dialog() {
  const bool r = CBaseDialog::on_init_dialog();
  if (ComboBox* c = combo(IDC_COM_PORT_LIST)) {
    for (int n : ports_) c->add_string("COM" + std::to_string(n));
  }
  return r;
}

void CModemSelectDialog::on_ok() {
  const ComboBox* c = combo(IDC_COM_PORT_LIST);
  const int sel = c ? c->cur_sel() : -1;
  if (sel < 0) {
    app_message_box("Please Select a com port first", MB_OK);
    return;
  }
  selection_ = sel;
  end_dialog(IDOK);
}

}  // namespace wizard
