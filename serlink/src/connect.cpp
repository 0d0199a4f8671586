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

// Channel buffer sizes for a dialed connection.
constexpr std::int32_t kInputSize = 6144;
constexpr std::int32_t kOutputSize = 3072;
// An adopted handle is taken as 9600 bit/s, 8 data bits, no parity.
constexpr std::int32_t kAdoptedSpeed = 5;

// Timings. The connection's "second" is 1024 ms, as the dial deadline has
// always been counted.
constexpr std::int64_t kDialSecondMs = 1024;
constexpr std::int64_t kDialGraceS = 5;          // beyond the modem's S7 wait
constexpr std::int64_t kWatchdogPeriodMs = 22000;
constexpr std::int64_t kCrTimerPeriodMs = 3100;
constexpr std::int64_t kCrRepeatMs = 3072;       // between carriage returns
constexpr std::int64_t kPromptWaitMs = 10240;    // from the carrier to the prompt
constexpr std::int64_t kAcceptWaitMs = 30720;    // from the answer to acceptance
constexpr std::int64_t kResendBeforeMs = 10240;  // resend when less remains

// Data-ready polling while waiting for the carrier, for the first look at
// the host's answer, and for every later look.
struct Polling {
  std::int32_t threshold;
  std::int32_t interval_ms;
};
constexpr Polling kCarrierPolling{15, 1000};
constexpr Polling kFirstSignonPolling{84, 1500};
constexpr Polling kSignonPolling{static_cast<std::int32_t>(serlink::kSignonScanLimit), 1000};

// Where the connection is. The caller sees reported_code() of it.
enum class Step {
  Idle,              // nothing running
  Opening,
  Initializing,
  DialingPrimary,
  DialingSecondary,
  WaitingForCarrier,
  Connected,         // the sign-on is starting
  SigningOn,
  Complete,
  Failed,            // ended; ConState::failure says why
  ShutDown,
};

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
  Step step;
  std::int32_t failure;  // the reported code while step is Failed
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

// The one place a step becomes the code the caller sees.
std::int32_t reported_code(Step step, std::int32_t failure) {
  switch (step) {
    case Step::Idle:
    case Step::Complete: return SERLINK_CONNECT_COMPLETE;
    case Step::Opening: return SERLINK_CONNECT_OPENING;
    case Step::Initializing: return SERLINK_CONNECT_INITIALIZING;
    case Step::DialingPrimary: return SERLINK_CONNECT_DIALING_PRIMARY;
    case Step::DialingSecondary: return SERLINK_CONNECT_DIALING_SECONDARY;
    case Step::WaitingForCarrier: return SERLINK_CONNECT_WAITING;
    case Step::Connected: return SERLINK_CONNECT_CONNECTED;
    case Step::SigningOn: return SERLINK_CONNECT_SIGNING_ON;
    case Step::ShutDown: return SERLINK_CONNECT_E_SHUT_DOWN;
    case Step::Failed: return failure;
  }
  return SERLINK_E_SYSTEM;
}

std::int32_t reported() { return reported_code(g_con.step, g_con.failure); }

void enter(Step step) { g_con.step = step; }

void fail(std::int32_t code) {
  g_con.step = Step::Failed;
  g_con.failure = code;
}

bool failed_with(std::int32_t code) { return g_con.step == Step::Failed && g_con.failure == code; }

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

// Reports `code`; true when the callback asks to cancel.
bool report(std::int32_t code, const char* detail = nullptr) {
  return g_con.status && g_con.status(code, detail) != 0;
}

bool dialed_type() { return g_con.type == SERLINK_TYPE_DIAL_SIGNON || g_con.type == SERLINK_TYPE_DIAL; }

bool adopted_type() { return g_con.type == SERLINK_TYPE_ADOPT_SIGNON || g_con.type == SERLINK_TYPE_ADOPT; }

// The refused type 1 counts as signing on too: its sign-on text is checked.
bool signon_type(std::int32_t type) {
  return type == SERLINK_TYPE_DIAL_SIGNON || type == SERLINK_TYPE_REFUSED_1 || type == SERLINK_TYPE_ADOPT_SIGNON;
}

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

std::int32_t arm(Polling polling, DataReadyCallback cb) {
  SerialDataReadySpec request{g_con.port, polling.threshold, polling.interval_ms, cb};
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
  fail(serlink::exception_result(where));
  try {
    report(reported());
    fail_cleanup();
  } catch (...) {
    serlink::exception_result(where);
  }
}

void watchdog_tick() try {
  if (serlink::now_ms() < g_con.dial_deadline) return;
  kill_timer(g_con.watchdog);
  if (!g_con.status) return;
  fail(SERLINK_CONNECT_E_TIMEOUT);
  report(reported());
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
    fail(g_con.prompt_answered ? SERLINK_CONNECT_E_TIMEOUT : SERLINK_CONNECT_E_CARRIER_LOST);
    signon_handler(nullptr, 0);
    return;
  }
  if (!g_con.prompt_answered && now >= g_con.next_cr) {
    SioWriteByte('\r');
    serlink::trace("Send: %s", "\r");
    g_con.next_cr = now + kCrRepeatMs;
  }
} catch (...) {
  end_by_exception("cr_tick");
}

// After the carrier (or with an adopted handle): complete at once for the
// types without sign-on, else start looking for the host's prompt.
std::int32_t start_signon() {
  if (!signon_type(g_con.type)) {
    enter(Step::Complete);
    return reported();
  }
  const std::int64_t now = serlink::now_ms();
  g_con.next_cr = now + kCrRepeatMs;
  g_con.signon_deadline = now + kPromptWaitMs;
  g_con.resend = true;
  g_con.prompt_answered = false;
  if (std::int32_t rc = arm(kFirstSignonPolling, signon_handler); rc != SERLINK_OK) {
    fail(rc);
    return reported();
  }
  enter(Step::Connected);
  kill_timer(g_con.cr_timer);
  g_con.cr_timer =
      platform::MessageLoop::current().set_thread_timer(kCrTimerPeriodMs, [](platform::TimerId) { cr_tick(); });
  return reported();
}

void fail_cleanup() {
  polling_off();
  kill_timer(g_con.watchdog);
  kill_timer(g_con.cr_timer);
  hang_up_and_close();
  serlink::set_trace_callback(nullptr);
}

// What the modem's line while waiting for the carrier means.
void take_dial_answer(std::int32_t result) {
  switch (result) {
    case MODEM_RESULT_CONNECT: enter(Step::Connected); break;
    case MODEM_RESULT_NO_CARRIER: fail(SERLINK_CONNECT_E_NO_CARRIER); break;
    case MODEM_RESULT_ERROR: fail(SERLINK_CONNECT_E_MODEM_ERROR); break;
    case MODEM_RESULT_NO_DIALTONE: fail(SERLINK_CONNECT_E_NO_DIALTONE); break;
    case MODEM_RESULT_BUSY: fail(SERLINK_CONNECT_E_BUSY); break;
    case MODEM_RESULT_NO_ANSWER: fail(SERLINK_CONNECT_E_NO_ANSWER); break;
    default: enter(Step::WaitingForCarrier); break;
  }
}

std::int32_t connect_handler(const char*, std::int32_t) try {
  if (!g_con.registered || report(reported())) {
    fail(SERLINK_CONNECT_E_CANCELLED);
  } else {
    char line[SERLINK_RESPONSE_SIZE];
    ModemResponse r{g_con.port, 1, line, MODEM_RESULT_OTHER};
    std::int32_t rc = ModemRecvResponse(&r);
    if (rc < 0) {
      fail(rc);  // the port failed (device gone): a final failure
    } else {
      take_dial_answer(r.result);
    }
  }
  if (g_con.step != Step::WaitingForCarrier) kill_timer(g_con.watchdog);
  if (g_con.step == Step::Connected) start_signon();
  if (report(reported())) fail(SERLINK_CONNECT_E_CANCELLED);
  // The line was busy or did not answer: try the other number.
  if (failed_with(SERLINK_CONNECT_E_BUSY) || failed_with(SERLINK_CONNECT_E_NO_ANSWER) ||
      failed_with(SERLINK_CONNECT_E_NO_CARRIER)) {
    g_con.try_primary = !g_con.try_primary;
    dial();
    return 0;
  }
  if (g_con.step == Step::Failed) fail_cleanup();
  return 0;  // the modem layer has read the bytes itself
} catch (...) {
  end_by_exception("connect_handler");
  return 0;
}

// What the scanner saw, as the connection's step.
void take_signon_scan(const serlink::SignonScan& scan) {
  switch (scan.seen) {
    case serlink::SignonSeen::Nothing:
    case serlink::SignonSeen::Prompt: break;
    case serlink::SignonSeen::Accepted: enter(Step::Complete); break;
    case serlink::SignonSeen::Rejected: fail(SERLINK_CONNECT_E_REJECTED); break;
    case serlink::SignonSeen::CarrierLost: fail(SERLINK_CONNECT_E_CARRIER_LOST); break;
  }
}

std::int32_t signon_handler(const char* data, std::int32_t count) try {
  serlink::SignonScan scan;
  if (!g_con.registered || report(SERLINK_CONNECT_SIGNING_ON)) {
    fail(SERLINK_CONNECT_E_CANCELLED);
  } else if (!failed_with(SERLINK_CONNECT_E_TIMEOUT) && !failed_with(SERLINK_CONNECT_E_CARRIER_LOST)) {
    // (The carriage-return timer ends a sign-on out of time by failing it
    // and calling here without data.)
    enter(Step::SigningOn);
    if (data && count > 0) {
      scan = serlink::scan_signon(std::string_view(data, static_cast<std::size_t>(count)));
      take_signon_scan(scan);
      if (!scan.shown.empty()) serlink::trace("Recv: %s", scan.shown.c_str());
      if (scan.seen == serlink::SignonSeen::Prompt) {
        g_con.prompt_answered = true;
        send_signon();
        g_con.signon_deadline = serlink::now_ms() + kAcceptWaitMs;
      }
    }
  }
  if (g_con.step == Step::SigningOn) {
    const std::int64_t now = serlink::now_ms();
    if (now >= g_con.signon_deadline) {
      fail(SERLINK_CONNECT_E_TIMEOUT);
      kill_timer(g_con.cr_timer);
    } else if (g_con.signon_deadline - now < kResendBeforeMs && g_con.resend) {
      g_con.resend = false;
      send_signon();
    }
    if (g_con.step == Step::SigningOn) arm(kSignonPolling, signon_handler);
  }
  if (g_con.step != Step::SigningOn) {
    polling_off();
    kill_timer(g_con.cr_timer);
  }
  const bool rejected = scan.seen == serlink::SignonSeen::Rejected;
  if (report(reported(), rejected ? scan.detail.c_str() : nullptr)) fail(SERLINK_CONNECT_E_CANCELLED);
  if (failed_with(SERLINK_CONNECT_E_CANCELLED)) {
    fail_cleanup();
  } else if ((failed_with(SERLINK_CONNECT_E_CARRIER_LOST) || failed_with(SERLINK_CONNECT_E_TIMEOUT)) &&
             g_con.type == SERLINK_TYPE_DIAL_SIGNON) {
    // Start again: hang up, set the modem up anew and dial the other number.
    ModemHangup(g_con.port);
    ModemCommand reset{g_con.port, g_con.commands[0]};
    ModemReset(&reset);
    ModemCommand setup{g_con.port, g_con.commands[1]};
    ModemSetup(&setup);
    g_con.try_primary = !g_con.try_primary;
    dial();
    return 0;
  } else if (g_con.step == Step::Failed) {
    fail_cleanup();
  }
  return static_cast<std::int32_t>(scan.taken);
} catch (...) {
  end_by_exception("signon_handler");
  return 0;
}

std::int32_t dial() {
  int chosen = -1;
  if (g_con.sets[0].attempts > 0 && (g_con.try_primary || g_con.sets[1].attempts == 0)) {
    chosen = 0;
    g_con.try_primary = true;
    enter(Step::DialingPrimary);
  } else if (g_con.sets[1].attempts > 0) {
    chosen = 1;
    g_con.try_primary = false;
    enter(Step::DialingSecondary);
  } else {
    fail(SERLINK_CONNECT_E_NO_NUMBER);
  }
  polling_off();
  if (!g_con.registered || report(reported())) {
    fail(SERLINK_CONNECT_E_CANCELLED);
  } else if (chosen >= 0) {
    NumberState& set = g_con.sets[chosen];
    SerialFlushRequest purge_in{g_con.port, 1, 0};
    SerialChannelFlush(&purge_in);
    ModemDialRequest request{g_con.port, set.method, set.wait_s, set.number};
    std::int32_t rc = ModemDial(&request);
    --set.attempts;
    if (rc == SERLINK_OK) {
      enter(Step::WaitingForCarrier);
      g_con.dial_deadline = serlink::now_ms() + (static_cast<std::int64_t>(set.wait_s) + kDialGraceS) * kDialSecondMs;
      kill_timer(g_con.watchdog);
      g_con.watchdog = platform::MessageLoop::current().set_thread_timer(kWatchdogPeriodMs,
                                                                          [](platform::TimerId) { watchdog_tick(); });
      if (std::int32_t armed = arm(kCarrierPolling, connect_handler); armed != SERLINK_OK) fail(armed);
    } else {
      // No answer to the dial registers is a time-out, not progress.
      fail(rc > 0 ? SERLINK_CONNECT_E_TIMEOUT : rc);
    }
    if (report(reported())) fail(SERLINK_CONNECT_E_CANCELLED);
  }
  if (g_con.step != Step::WaitingForCarrier) fail_cleanup();
  return reported();
}

std::int32_t start_dial(const ConnectDialSetup* setup) {
  enter(Step::Opening);
  if (report(reported())) {
    fail(SERLINK_CONNECT_E_CANCELLED);
    return reported();
  }
  g_con.port = setup->port;
  SerialOpenRequest open{setup->port, kInputSize, kOutputSize};
  std::int32_t rc = SerialChannelOpen(&open);
  if (rc == SERLINK_E_ALREADY_OPEN) rc = SERLINK_OK;
  if (rc == SERLINK_OK) {
    SerialChannelMetrics m{setup->port, setup->speed, setup->data_bits, setup->stop_bits, setup->parity, setup->flow};
    rc = SerialChannelSetMetrics(&m);
  }
  if (rc != SERLINK_OK) {
    serlink::trace("Problem opening or configuring comm port", nullptr);
    report(rc);
    if (serlink::channel_open()) {
      std::int32_t id = setup->port;
      SerialChannelClose(&id);
    }
    fail(SERLINK_CONNECT_E_PORT);
    return reported();
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
    enter(Step::Initializing);
    if (report(reported())) {
      rc = SERLINK_CONNECT_E_CANCELLED;
      break;
    }
    serlink::purge(g_con.port);
    std::int32_t id = g_con.port;
    rc = ModemOpen(&id);
    if (rc == SERLINK_OK) {
      ModemCommand c{g_con.port, reset};
      rc = ModemReset(&c);
    }
    if (rc >= 0) {
      ModemCommand c{g_con.port, setup_cmd};
      rc = ModemSetup(&c);
      if (rc == SERLINK_E_EMPTY_COMMAND) rc = SERLINK_OK;
    }
    if (rc >= 0) break;
    serlink::purge(g_con.port);
  }
  if (rc < 0) {
    if (rc == SERLINK_E_NO_MODEM) {
      rc = SERLINK_CONNECT_E_NO_MODEM;
    } else {
      ModemHangup(g_con.port);
    }
    std::int32_t id = g_con.port;
    SerialChannelClose(&id);
    fail(rc);
    if (rc != SERLINK_CONNECT_E_CANCELLED) report(rc);
    return reported();
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

// Takes the caller's open handle as the channel, then signs on.
std::int32_t start_adopted(const ConnectAdoptSetup* adopt) {
  SerialAdoptRequest r{0, adopt->handle, {0, kAdoptedSpeed, 8, 0, 0, 0}};
  g_con.port = 0;
  if (std::int32_t rc = SioEnableAsync(&r); rc != SERLINK_OK) {
    fail(rc);
    return reported();
  }
  return start_signon();
}

void reset_state() {
  forget_copies();
  g_con.registered = false;
  g_con.type = SERLINK_TYPE_DIAL_SIGNON;
  enter(Step::Idle);
  g_con.failure = SERLINK_OK;
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
  return SERLINK_OK;
} catch (...) {
  return serlink::exception_result("ConInitialization");
}

int32_t ConTermination(int32_t) try {
  ConnectShutdown(nullptr);
  reset_state();
  return SERLINK_OK;
} catch (...) {
  return serlink::exception_result("ConTermination");
}

int32_t ConnectRegistration(void) try {
  if (g_con.registered) return SERLINK_CONNECT_E_REGISTERED;
  g_con.registered = true;
  enter(Step::Idle);
  return SERLINK_OK;
} catch (...) {
  return serlink::exception_result("ConnectRegistration");
}

int32_t ConnectSetParm(int32_t selector, TraceCallback value) try {
  if (selector == SERLINK_PARM_TRACE) {
    serlink::set_trace_callback(value);
    return SERLINK_OK;
  }
  return selector == SERLINK_PARM_NONE ? SERLINK_OK : SERLINK_CONNECT_E_SELECTOR;
} catch (...) {
  return serlink::exception_result("ConnectSetParm");
}

int32_t ConnectProcess(ConnectRequest* request) try {
  if (!g_con.registered) {
    fail(SERLINK_CONNECT_E_NOT_REGISTERED);
    return reported();
  }
  if (!request) {
    fail(SERLINK_CONNECT_E_TYPE);
    return reported();
  }
  g_con.status = request->status;
  serlink::trace(SerlinkVersion(), nullptr);
  g_con.type = request->type;
  if (signon_type(request->type)) {
    if (!request->signon || strnlen(request->signon, kSignonSize) >= kSignonSize) {
      fail(SERLINK_CONNECT_E_SIGNON_TEXT);
      return reported();
    }
    std::snprintf(g_con.signon, kSignonSize, "%s", request->signon);
  }
  forget_copies();
  switch (request->type) {
    case SERLINK_TYPE_DIAL_SIGNON:
    case SERLINK_TYPE_DIAL:
      if (request->setup) {
        start_dial(static_cast<const ConnectDialSetup*>(request->setup));
      } else {
        fail(SERLINK_CONNECT_E_PORT);
      }
      break;
    case SERLINK_TYPE_REFUSED_1:
    case SERLINK_TYPE_REFUSED_3: fail(SERLINK_CONNECT_E_PORT); break;
    case SERLINK_TYPE_ADOPT_SIGNON:
    case SERLINK_TYPE_ADOPT:
      if (request->setup) {
        start_adopted(static_cast<const ConnectAdoptSetup*>(request->setup));
      } else {
        fail(SERLINK_CONNECT_E_PORT);
      }
      break;
    default: fail(SERLINK_CONNECT_E_TYPE); break;
  }
  if (g_con.step == Step::Failed) serlink::set_trace_callback(nullptr);
  return reported();
} catch (...) {
  // The connection ends here: the port and the timers are let go.
  fail(serlink::exception_result("ConnectProcess"));
  try {
    fail_cleanup();
  } catch (...) {
    serlink::exception_result("ConnectProcess");
  }
  return reported();
}

int32_t ConnectShutdown(void*) try {
  if (!g_con.registered || g_con.step == Step::ShutDown) return SERLINK_OK;
  enter(Step::ShutDown);
  if (dialed_type()) {
    hang_up_and_close();
  } else if (adopted_type()) {
    SioDisableAsync();
  }
  kill_timer(g_con.watchdog);
  kill_timer(g_con.cr_timer);
  serlink::set_trace_callback(nullptr);
  reset_state();
  return SERLINK_OK;
} catch (...) {
  return serlink::exception_result("ConnectShutdown");
}

}  // extern "C"
