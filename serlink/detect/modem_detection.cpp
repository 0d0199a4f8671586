#include "serlink/modem_detection.h"

#include <cstring>

#include "platform/loop/message_loop.h"

namespace serlink {

namespace {

constexpr std::size_t kResetSize = 20;
constexpr std::size_t kSetupSize = 200;

// The scope whose handler serlink's callbacks reach.
DetectionScope* g_open_scope = nullptr;

// Keeps the window model alive while serlink waits. A pending quit ends the
// pass and stays pending for the caller's loop.
void pump_messages(std::int32_t) { platform::MessageLoop::current().pump_pending(); }

}  // namespace

DetectionScope::DetectionScope(StatusHandler status, std::int32_t event_argument)
    : status_(std::move(status)), event_argument_(event_argument), outer_(g_open_scope) {
  g_open_scope = this;
  pumping_ = SerlinkSetEventHandler(pump_messages, event_argument_) == SERLINK_OK;
}

DetectionScope::~DetectionScope() {
  if (pumping_) SerlinkSetEventHandler(nullptr, event_argument_);
  g_open_scope = outer_;
}

StatusCallback DetectionScope::status_callback() {
  return [](const char* text) -> std::int32_t {
    DetectionScope* scope = g_open_scope;
    return scope && scope->status_ ? scope->status_(text) : 0;
  };
}

std::string port_entry_name(const SerialPortName& entry) {
  return std::string(entry.name, strnlen(entry.name, sizeof entry.name));
}

AutoConfiguration auto_configure(std::int32_t port, StatusCallback status, const Configure& configure) {
  char reset[kResetSize] = "";
  char setup[kSetupSize] = "";
  ModemAutoConfigRecord record{};
  record.metrics.channel = port;
  record.reset = reset;
  record.setup = setup;
  record.status = status;
  AutoConfiguration out;
  out.result = configure(&record);
  reset[kResetSize - 1] = '\0';
  setup[kSetupSize - 1] = '\0';
  out.metrics = record.metrics;
  out.reset = reset;
  out.setup = setup;
  return out;
}

}  // namespace serlink
