// "Modem Detection": finds the modem through libserlink inside one timer
// tick, and "Modem Selection", which asks which port to use when several
// answer.
#include <cstdio>
#include <cstring>

#include "platform/loop/log.h"
#include "platform/ui/message_box.h"
#include "platform/loop/message_loop.h"
#include "wizard/modem_level.h"
#include "wizard/port_check.h"
#include "serlink/modem_detection.h"

namespace wizard {

using namespace platform;

namespace {

constexpr const char* kComponent = "modem";
constexpr std::uint32_t kPortEntries = 8;

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
  serlink::PortTable<kPortEntries> ports(kPortEntries, serlink::DetectionScope::status_callback());
  kill_timer(timer_);
  timer_ = 0;
  Status("Checking All the ports");
  // A modem held by another program is named before the search opens it.
  if (!CheckComPortsFree(self)) return Fail("User aborted");
  if (!is_window(self)) return;

  // Nonzero asks the library to stop: the user cancelled, or the page is
  // gone. The library's progress texts also go to the page, below its
  // status line.
  serlink::DetectionScope scope(
      [this, self](const char* text) -> std::int32_t {
        if (text != nullptr) {
          log_info(kComponent, text);
          if (is_window(self)) set_window_text(get_dlg_item(self, IDC_DETECT_PROGRESS), text);
        }
        // A page that is gone has stop_ set (WM_DESTROY); its window says so first.
        return !is_window(self) || stop_ ? 1 : 0;
      },
      0);
  if (!scope.pumping()) log_warn(kComponent, "another event handler is registered: the window waits during detection");
  const ModemServices& services = modem_services();
  std::int32_t rc = services.enumerate(&ports.list);
  // The user may have cancelled while the library pumped messages.
  if (!is_window(self)) return;
  if (rc == SERLINK_E_STOPPED) return Fail("User aborted");
  if (rc == SERLINK_E_NO_MODEM) return Fail("Failed");
  if (rc != 0) {
    log_warn(kComponent, "port enumeration failed with " + std::to_string(rc));
    return Fail("Failed");
  }
  const std::uint32_t found = ports.found();
  char text[128];
  std::snprintf(text, sizeof text, "Found %u ports", found);
  Status(text);
  if (found == 0) return Fail("Failed");

  std::int32_t port = ports.entries[0].port;
  if (found > 1) {
    std::vector<int> numbers;
    for (std::uint32_t i = 0; i < found; ++i) numbers.push_back(ports.entries[i].port + 1);
    CModemSelectDialog select(numbers, self);
    const int result = select.do_modal(self);
    if (!is_window(self)) return;
    if (result != IDOK || select.selection() < 0) {
      // No port: the page stays with only Cancel usable.
      log_info(kComponent, "no port chosen");
      return;
    }
    port = ports.entries[static_cast<std::size_t>(select.selection())].port;
  }

  Status("Auto Configuring Modem...");
  const serlink::AutoConfiguration modem =
      serlink::auto_configure(port, serlink::DetectionScope::status_callback(), services.configure);
  rc = modem.result;
  if (!is_window(self)) return;
  if (rc == SERLINK_E_STOPPED) return Fail("User aborted");
  if (rc != 0) {
    // Also a port problem or a time-out: the user goes on to enter the
    // settings by hand instead of facing a page that cannot move.
    if (rc != SERLINK_E_NO_MODEM) log_warn(kComponent, "modem auto-configuration failed with " + std::to_string(rc));
    return Fail("Failed");
  }
  running_ = false;
  const std::string speed = speed_text(modem.metrics.speed);
  RegistrationProfile* p = profile();
  p->Set("COMSPEED", speed);
  p->Set("COMPORT", std::to_string(port + 1));
  p->Set("MODEMTYPE", "Generic modem");
  p->Set("MODEMINIT", remove_blanks(modem.setup));
  p->Set("MODEMRST", remove_blanks(modem.reset));
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
