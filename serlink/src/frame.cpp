// Frame: load and unload, the event handler, the library's wait, tracing.
#include <algorithm>
#include <cstdio>
#include <new>

#include "platform/loop/clock.h"
#include "platform/loop/log.h"
#include "serlink_internal.h"

namespace {

// Plain data only: the state must outlive any C++ static destructor that
// runs before the library's own unload hook.
struct FrameState {
  EventHandler handler;
  std::int32_t argument;
  TraceCallback trace;
  std::int32_t module;
};
constinit FrameState g_frame{};

constexpr const char kVersion[] = "SERLINK.DLL - Version: R007.000.000.002";
constexpr std::int32_t kModule = 1;

__attribute__((constructor)) void serlink_on_load() {
  g_frame.module = kModule;
  if (std::int32_t rc = SerlinkInitialization(kModule); rc != SERLINK_OK) {
    platform::log_error("serlink", "initialisation failed with " + std::to_string(rc));
  }
}

__attribute__((destructor)) void serlink_on_unload() {
  SerlinkTermination(g_frame.module);
  g_frame.module = 0;
}

}  // namespace

namespace serlink {

std::int64_t now_ms() { return platform::clock().now_ms(); }

void library_wait(std::int64_t ms) {
  if (ms <= 0) return;
  platform::Clock& c = platform::clock();
  const std::int64_t end = c.now_ms() + ms;
  for (std::int64_t now = c.now_ms(); now < end; now = c.now_ms()) {
    if (g_frame.handler) g_frame.handler(g_frame.argument);
    // The last step only to the end: a pause lasts what it is written as.
    c.sleep_ms(std::min(end - now, kWaitStepMs));
  }
}

bool library_wait_for_input(std::int64_t ms) {
  if (channel_wait_input(0)) return true;
  if (ms <= 0) return false;
  platform::Clock& c = platform::clock();
  const std::int64_t end = c.now_ms() + ms;
  for (std::int64_t now = c.now_ms(); now < end; now = c.now_ms()) {
    if (g_frame.handler) g_frame.handler(g_frame.argument);
    if (channel_wait_input(std::min(end - now, kWaitStepMs))) return true;
  }
  return false;
}

std::int32_t exception_result(const char* where) noexcept {
  std::int32_t code = SERLINK_E_SYSTEM;
  const char* what = "unexpected failure";
  try {
    throw;
  } catch (const std::bad_alloc&) {
    code = SERLINK_E_NO_MEMORY;
    what = "out of memory";
  } catch (...) {
  }
  // Formatted without allocating: memory may be what ran out.
  char line[160];
  std::snprintf(line, sizeof line, "%s: %s", where, what);
  try {
    platform::log_error("serlink", line);
  } catch (...) {
  }
  return code;
}

void set_trace_callback(TraceCallback cb) { g_frame.trace = cb; }
TraceCallback trace_callback() { return g_frame.trace; }

void trace(const char* format, const char* text) {
  if (platform::log_enabled(platform::LogLevel::Debug)) {
    char line[512];
    if (text) {
      std::snprintf(line, sizeof line, format, text);
    } else {
      std::snprintf(line, sizeof line, "%s", format);
    }
    platform::log_debug("serlink", line);
  }
  if (g_frame.trace) g_frame.trace(format, text);
}

}  // namespace serlink

extern "C" {

int32_t SerlinkInitialization(int32_t module) try {
  g_frame.handler = nullptr;
  g_frame.argument = 0;
  if (int32_t rc = SioInitialization(module)) return rc;
  if (int32_t rc = MdmInitialization(module)) return rc;
  return ConInitialization(module);
} catch (...) {
  return serlink::exception_result("SerlinkInitialization");
}

int32_t SerlinkTermination(int32_t module) try {
  int32_t rc = ConTermination(module);
  if (rc == SERLINK_OK) rc = MdmTermination(module);
  if (rc == SERLINK_OK) rc = SioTermination(module);
  g_frame.handler = nullptr;
  g_frame.argument = 0;
  return rc;
} catch (...) {
  return serlink::exception_result("SerlinkTermination");
}

const char* SerlinkVersion(void) { return kVersion; }

int32_t SerlinkSetEventHandler(EventHandler handler, int32_t argument) try {
  if (!g_frame.handler) {
    g_frame.handler = handler;
    g_frame.argument = handler ? argument : 0;
    return SERLINK_OK;
  }
  if (handler) return SERLINK_E_HANDLER_SET;
  if (argument != g_frame.argument) return SERLINK_E_HANDLER_ARG;
  g_frame.handler = nullptr;
  g_frame.argument = 0;
  return SERLINK_OK;
} catch (...) {
  return serlink::exception_result("SerlinkSetEventHandler");
}

int32_t MdmInitialization(int32_t) { return SERLINK_OK; }
int32_t MdmTermination(int32_t) { return SERLINK_OK; }

}  // extern "C"
