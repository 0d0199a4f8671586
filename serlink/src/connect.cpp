// Connection sign-on: open, initialise, dial with retries over two numbers,
// wait for the carrier, then answer the host's "Sign-on:" prompt. Everything
// after ConnectProcess runs from thread timers and data-ready callbacks.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/loop/message_loop.h"
#include "serlink_internal.h"

namespace {

constexpr std::size_t kSignonSize = 32;
constexpr std::size_t kMaxNumber = 1024;
constexpr std::size_t kMaxCommand = 251;

struct NumberState {
  std::int32_t method;
  std::int32_t wait_s;
  std::int32_t attempts;  // retries + 1; 0 without a number
  char* number;           // malloc'd copy
};

// Plain data only (see frame.cpp).
struct ConState {
  bool registered;
  std::int32_t type;
  std::int32_t state;
  ConnectStatusCallback status;
  char signon[kSignonSize];
  char* commands[2];  // reset, setup: malloc'd copies or null
  NumberState sets[2];
  bool try_primary;
  std::int64_t dial_deadline;
  std::int64_t signon_deadline;
  std::int64_t next_cr;
  bool resend;
  bool prompt_answered;
  platform::TimerId watchdog;
  platform::TimerId cr_timer;
  std::int32_t port;
};
constinit ConState g_con{};

char* copy_of(const char* text, std::size_t limit) {
  if (!text) return nullptr;
  std::size_t n = strnlen(text, limit);
  char* p = static_cast<char*>(std::malloc(n + 1));
  if (!p) return nullptr;
  std::memcpy(p, text, n);
  p[n] = '\0';
  return p;
}

void forget_copies() {
  for (char*& c : g_con.commands) {
    std::free(c);
    c = nullptr;
  }
  for (NumberState& s : g_con.sets) {
    std::free(s.number);
    s = NumberState{};
  }
}

// Reports `state`; true when the callback asks to cancel.
bool report(std::int32_t state, const char* detail = nullptr) {
  return g_con.status && g_con.status(state, detail) != 0;
}

bool dialed_type() { return g_con.type == 0 || g_con.type == 2; }

void kill_timer(platform::TimerId& id) {
  if (id) {
    platform::MessageLoop::current().kill_thread_timer(id);
    id = 0;
  }
}

void polling_off() {
  if (!serlink::channel_open()) return;
  SerialDataReadySpec off{g_con.port, 0, 0, nullptr};
  SerialChannelDataReadySpec(&off);
}

std::int32_t arm(std::int32_t threshold, std::int32_t interval, DataReadyCallback cb) {
  SerialDataReadySpec request{g_con.port, threshold, interval, cb};
  return SerialChannelDataReadySpec(&request);
}

void hang_up_and_close() {
  if (!dialed_type() || !serlink::channel_open()) return;
  polling_off();
  ModemHangup(g_con.port);
  std::int32_t id = g_con.port;
  SerialChannelClose(&id);
}

void send_signon() {
  std::string text = std::string(g_con.signon) + "\r";
  SioWrite(text.data(), static_cast<std::int32_t>(text.size()));
  serlink::trace("Send: %s", text.c_str());
}

std::int32_t dial();
std::int32_t signon_handler(const char* data, std::int32_t count);
void fail_cleanup();

// A connection callback that threw (out of memory): the connection ends with
// that failure, reported as its final state, and the port is let go.
void end_by_exception(const char* where) noexcept {
  g_con.state = serlink::exception_result(where);
  try {
    report(g_con.state);
    fail_cleanup();
  } catch (...) {
    serlink::exception_result(where);
  }
}

void watchdog_tick() try {
  if (serlink::now_ms() < g_con.dial_deadline) return;
  kill_timer(g_con.watchdog);
  if (!g_con.status) return;
  g_con.state = -42;
  report(-42);
  g_con.try_primary = !g_con.try_primary;
  dial();
} catch (...) {
  end_by_exception("watchdog_tick");
}

void cr_tick() try {
  const std::int64_t now = serlink::now_ms();
  if (now >= g_con.signon_deadline) {
    kill_timer(g_con.cr_timer);
    // Before the prompt: no sign-on in time; after it: no acceptance.
    g_con.state = g_con.prompt_answered ? -42 : -39;
    signon_handler(nullptr, 0);
    return;
  }
  if (!g_con.prompt_answered && now >= g_con.next_cr) {
    SioWriteByte('\r');
    serlink::trace("Send: %s", "\r");
    g_con.next_cr = now + 3072;
  }
} catch (...) {
  end_by_exception("cr_tick");
}

std::int32_t start_signon() {
  if (g_con.type != 0 && g_con.type != 1 && g_con.type != 4) {
    g_con.state = 0;
    return 0;
  }
  const std::int64_t now = serlink::now_ms();
  g_con.next_cr = now + 3072;
  g_con.signon_deadline = now + 10240;
  g_con.resend = true;
  g_con.prompt_answered = false;
  if (std::int32_t rc = arm(84, 1500, signon_handler); rc != 0) {
    g_con.state = rc;
    return rc;
  }
  g_con.state = 35;
  kill_timer(g_con.cr_timer);
  g_con.cr_timer = platform::MessageLoop::current().set_thread_timer(3100, [](platform::TimerId) { cr_tick(); });
  return 35;
}

void fail_cleanup() {
  polling_off();
  kill_timer(g_con.watchdog);
  kill_timer(g_con.cr_timer);
  hang_up_and_close();
  serlink::set_trace_callback(nullptr);
}

std::int32_t connect_handler(const char*, std::int32_t) try {
  if (!g_con.registered || report(g_con.state)) {
    g_con.state = -41;
  } else {
    char line[SERLINK_RESPONSE_SIZE];
    ModemResponse r{g_con.port, 1, line, 30};
    std::int32_t rc = ModemRecvResponse(&r);
    if (rc < 0) {
      g_con.state = rc;  // the port failed (device gone): a final failure
    } else {
      switch (r.result) {
        case 21: g_con.state = 35; break;
        case 23: g_con.state = -37; break;
        case 24: g_con.state = -31; break;
        case 25: g_con.state = -34; break;
        case 26: g_con.state = -35; break;
        case 27: g_con.state = -36; break;
        default: g_con.state = 34; break;
      }
    }
  }
  if (g_con.state != 34) kill_timer(g_con.watchdog);
  if (g_con.state == 35) start_signon();
  if (report(g_con.state)) g_con.state = -41;
  const std::int32_t s = g_con.state;
  if (s == -35 || s == -36 || s == -37) {
    g_con.try_primary = !g_con.try_primary;
    dial();
    return 0;
  }
  if (s != 35 && s != 34 && s != 36 && s != 0) fail_cleanup();
  return 0;  // the modem layer has read the bytes itself
} catch (...) {
  end_by_exception("connect_handler");
  return 0;
}

std::int32_t signon_handler(const char* data, std::int32_t count) try {
  std::int32_t consumed = 0;
  std::string detail;
  bool has_detail = false;
  if (!g_con.registered || report(36)) {
    g_con.state = -41;
  } else if (g_con.state != -42 && g_con.state != -39) {
    g_con.state = 36;
    if (data && count > 7) {
      const std::size_t kept = static_cast<std::size_t>(count < 255 ? count : 255);
      std::string copy(data, kept);
      struct Word {
        const char* text;
        std::int32_t state;
      };
      const Word words[] = {{"ACCEPT:", 0}, {"REJECT:", -40}, {"NO CARRIER", -39}, {"Sign-on:", 36}};
      std::size_t at = std::string::npos;
      for (const Word& w : words) {
        at = copy.find(w.text);
        if (at != std::string::npos) {
          g_con.state = w.state;
          if (w.state == -39) {
            // The colon rule below then ends the consumed part after it.
            std::size_t after = at + std::strlen(w.text);
            if (after < copy.size()) {
              copy[after] = ':';
            } else {
              copy.push_back(':');
            }
          }
          break;
        }
      }
      if (at != std::string::npos) {
        std::size_t colon = copy.find(':', at);
        std::size_t end = colon + 1;
        if (std::size_t lf = copy.find('\n', colon); lf != std::string::npos) end = lf + 1;
        end = std::min(end, kept);
        if (g_con.state == -40) {
          detail = copy.substr(colon, end - colon);
          has_detail = true;
        }
        copy.resize(end);
        consumed = static_cast<std::int32_t>(end);
        serlink::trace("Recv: %s", copy.c_str());
        if (g_con.state == 36) {
          g_con.prompt_answered = true;
          send_signon();
          g_con.signon_deadline = serlink::now_ms() + 30720;
        }
      } else {
        // Keep the last 8 bytes: a keyword split between deliveries is
        // found next time.
        consumed = static_cast<std::int32_t>(copy.size()) - 8;
        copy.resize(static_cast<std::size_t>(consumed));
        if (consumed > 0) serlink::trace("Recv: %s", copy.c_str());
      }
    }
  }
  if (g_con.state == 36) {
    const std::int64_t now = serlink::now_ms();
    if (now >= g_con.signon_deadline) {
      g_con.state = -42;
      kill_timer(g_con.cr_timer);
    } else if (g_con.signon_deadline - now < 10240 && g_con.resend) {
      g_con.resend = false;
      send_signon();
    }
    if (g_con.state == 36) arm(255, 1000, signon_handler);
  }
  if (g_con.state != 36) {
    polling_off();
    kill_timer(g_con.cr_timer);
  }
  if (report(g_con.state, has_detail ? detail.c_str() : nullptr)) g_con.state = -41;
  if (g_con.state == -41) {
    fail_cleanup();
  } else if ((g_con.state == -39 || g_con.state == -42) && g_con.type == 0) {
    ModemHangup(g_con.port);
    ModemCommand reset{g_con.port, g_con.commands[0]};
    ModemReset(&reset);
    ModemCommand setup{g_con.port, g_con.commands[1]};
    ModemSetup(&setup);
    g_con.try_primary = !g_con.try_primary;
    dial();
    return 0;
  } else if (g_con.state < 0) {
    fail_cleanup();
  }
  return consumed;
} catch (...) {
  end_by_exception("signon_handler");
  return 0;
}

std::int32_t dial() {
  int chosen = -1;
  std::int32_t state;
  if (g_con.sets[0].attempts > 0 && (g_con.try_primary || g_con.sets[1].attempts == 0)) {
    chosen = 0;
    g_con.try_primary = true;
    state = 32;
  } else if (g_con.sets[1].attempts > 0) {
    chosen = 1;
    g_con.try_primary = false;
    state = 33;
  } else {
    state = -38;
  }
  g_con.state = state;
  polling_off();
  if (!g_con.registered || report(state)) {
    g_con.state = -41;
  } else if (chosen >= 0) {
    NumberState& set = g_con.sets[chosen];
    SerialFlushRequest purge_in{g_con.port, 1, 0};
    SerialChannelFlush(&purge_in);
    ModemDialRequest request{g_con.port, set.method, set.wait_s, set.number};
    std::int32_t rc = ModemDial(&request);
    --set.attempts;
    if (rc == 0) {
      g_con.state = 34;
      g_con.dial_deadline = serlink::now_ms() + (static_cast<std::int64_t>(set.wait_s) + 5) * 1024;
      kill_timer(g_con.watchdog);
      g_con.watchdog =
          platform::MessageLoop::current().set_thread_timer(22000, [](platform::TimerId) { watchdog_tick(); });
      if (std::int32_t armed = arm(15, 1000, connect_handler); armed != 0) g_con.state = armed;
    } else {
      // No answer to the dial registers is a time-out, not progress.
      g_con.state = rc > 0 ? -42 : rc;
    }
    if (report(g_con.state)) g_con.state = -41;
  }
  if (g_con.state != 34) fail_cleanup();
  return g_con.state;
}

std::int32_t start_dial(const ConnectDialSetup* setup) {
  g_con.state = 30;
  if (report(30)) return g_con.state = -41;
  g_con.port = setup->port;
  SerialOpenRequest open{setup->port, 6144, 3072};
  std::int32_t rc = SerialChannelOpen(&open);
  if (rc == -5) rc = 0;
  if (rc == 0) {
    SerialChannelMetrics m{setup->port, setup->speed, setup->data_bits, setup->stop_bits, setup->parity, setup->flow};
    rc = SerialChannelSetMetrics(&m);
  }
  if (rc != 0) {
    serlink::trace("Problem opening or configuring comm port", nullptr);
    report(rc);
    if (serlink::channel_open()) {
      std::int32_t id = setup->port;
      SerialChannelClose(&id);
    }
    return g_con.state = -45;
  }
  SerialPortName name{};
  name.port = setup->port;
  SerialChannelGetPort(&name);
  char port_text[SERLINK_PORT_NAME_SIZE + 64];
  std::snprintf(port_text, sizeof port_text, "Port ID: %s @ %s bps", name.name,
                serlink::line_speed(setup->speed).text);
  serlink::trace(port_text, nullptr);

  const char* reset = setup->commands ? setup->commands[0] : nullptr;
  const char* setup_cmd = setup->commands ? setup->commands[1] : nullptr;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (report(31)) {
      rc = -41;
      break;
    }
    serlink::purge(g_con.port);
    std::int32_t id = g_con.port;
    rc = ModemOpen(&id);
    if (rc == 0) {
      ModemCommand c{g_con.port, reset};
      rc = ModemReset(&c);
    }
    if (rc >= 0) {
      ModemCommand c{g_con.port, setup_cmd};
      rc = ModemSetup(&c);
      if (rc == -20) rc = 0;
    }
    if (rc >= 0) break;
    serlink::purge(g_con.port);
  }
  if (rc < 0) {
    if (rc == -22) {
      rc = -33;
    } else {
      ModemHangup(g_con.port);
    }
    std::int32_t id = g_con.port;
    SerialChannelClose(&id);
    g_con.state = rc;
    if (rc != -41) report(rc);
    return rc;
  }

  g_con.commands[0] = copy_of(reset, kMaxCommand);
  g_con.commands[1] = copy_of(setup_cmd, kMaxCommand);
  const ConnectNumberSet* given[2] = {&setup->primary, &setup->secondary};
  for (int i = 0; i < 2; ++i) {
    NumberState& s = g_con.sets[i];
    s.method = given[i]->method;
    s.wait_s = given[i]->wait_s;
    s.number = copy_of(given[i]->number, kMaxNumber);
    s.attempts = s.number ? (given[i]->retries < 0 ? 0 : given[i]->retries) + 1 : 0;
  }
  g_con.try_primary = setup->primary.number != nullptr;
  return dial();
}

void reset_state() {
  forget_copies();
  g_con.registered = false;
  g_con.type = 0;
  g_con.state = 0;
  g_con.status = nullptr;
  g_con.signon[0] = '\0';
  g_con.try_primary = false;
  g_con.dial_deadline = g_con.signon_deadline = g_con.next_cr = 0;
  g_con.resend = false;
  g_con.prompt_answered = false;
  g_con.port = 0;
}

}  // namespace

extern "C" {

int32_t ConInitialization(int32_t) try {
  g_con.watchdog = 0;
  g_con.cr_timer = 0;
  reset_state();
  return 0;
} catch (...) {
  return serlink::exception_result("ConInitialization");
}

int32_t ConTermination(int32_t) try {
  ConnectShutdown(nullptr);
  reset_state();
  return 0;
} catch (...) {
  return serlink::exception_result("ConTermination");
}

int32_t ConnectRegistration(void) try {
  if (g_con.registered) return -32;
  g_con.registered = true;
  g_con.state = 0;
  return 0;
} catch (...) {
  return serlink::exception_result("ConnectRegistration");
}

int32_t ConnectSetParm(int32_t selector, TraceCallback value) try {
  if (selector == 1) {
    serlink::set_trace_callback(value);
    return 0;
  }
  return selector == 0 ? 0 : -44;
} catch (...) {
  return serlink::exception_result("ConnectSetParm");
}

int32_t ConnectProcess(ConnectRequest* request) try {
  if (!g_con.registered) return g_con.state = -30;
  if (!request) return g_con.state = -47;
  g_con.status = request->status;
  serlink::trace(SerlinkVersion(), nullptr);
  g_con.type = request->type;
  if (request->type == 0 || request->type == 1 || request->type == 4) {
    if (!request->signon || strnlen(request->signon, kSignonSize) >= kSignonSize) return g_con.state = -48;
    std::snprintf(g_con.signon, kSignonSize, "%s", request->signon);
  }
  forget_copies();
  std::int32_t rc;
  switch (request->type) {
    case 0:
    case 2:
      rc = request->setup ? start_dial(static_cast<const ConnectDialSetup*>(request->setup)) : -45;
      break;
    case 1:
    case 3: rc = -45; break;
    case 4:
    case 5: {
      const auto* adopt = static_cast<const ConnectAdoptSetup*>(request->setup);
      if (!adopt) {
        rc = -45;
        break;
      }
      SerialAdoptRequest r{0, adopt->handle, {0, 5, 8, 0, 0, 0}};
      g_con.port = 0;
      rc = SioEnableAsync(&r);
      if (rc == 0) rc = start_signon();
      break;
    }
    default: rc = -47; break;
  }
  g_con.state = rc;
  if (rc < 0) serlink::set_trace_callback(nullptr);
  return rc;
} catch (...) {
  // The connection ends here: the port and the timers are let go.
  g_con.state = serlink::exception_result("ConnectProcess");
  try {
    fail_cleanup();
  } catch (...) {
    serlink::exception_result("ConnectProcess");
  }
  return g_con.state;
}

int32_t ConnectShutdown(void*) try {
  if (!g_con.registered || g_con.state == -43) return 0;
  g_con.state = -43;
  if (dialed_type()) {
    hang_up_and_close();
  } else if (g_con.type == 4 || g_con.type == 5) {
    SioDisableAsync();
  }
  kill_timer(g_con.watchdog);
  kill_timer(g_con.cr_timer);
  serlink::set_trace_callback(nullptr);
  reset_state();
  return 0;
} catch (...) {
  return serlink::exception_result("ConnectShutdown");
}

}  // extern "C"
