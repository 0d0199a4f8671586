// Serial channel: the one open port of the process, with a software input
// and output buffer in front of the device, and timer-driven data-ready
// polling.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/loop/clock.h"
#include "platform/loop/log.h"
#include "platform/loop/message_loop.h"
#include "platform/storage/system_root.h"
#include "serlink_internal.h"

namespace {

using platform::SerialError;
using platform::SerialPort;

constexpr int kPorts = 4;
constexpr std::int32_t kNoPort = -1;
constexpr std::int32_t kMinInput = 2048;
constexpr std::int32_t kMaxBuffer = 1 << 20;  // larger requests: "no buffers"
constexpr std::int32_t kMaxThreshold = 2048;
constexpr std::uint32_t kPrivilegedTag = SERLINK_PRIVILEGED_TAG;

// Plain data only (see frame.cpp): buffers are malloc'd, the device is held
// through a heap-allocated shared_ptr so that no static destructor runs.
struct ChannelState {
  char names[kPorts][SERLINK_PORT_NAME_SIZE];
  bool open;
  bool adopted;
  std::int32_t port;  // kNoPort when none
  std::shared_ptr<SerialPort>* device;
  SerialChannelMetrics metrics;
  std::uint8_t* in;
  std::int32_t in_capacity;
  std::int32_t held;
  std::uint8_t* out;
  std::int32_t out_capacity;
  std::int32_t pending;
  // data-ready polling
  DataReadyCallback callback;
  std::int32_t threshold;
  std::int32_t interval;
  std::int64_t first_deadline;  // 0: no undelivered data seen
  platform::TimerId timer;
  bool busy;
  std::uint32_t generation;  // changes at every open and close
  bool privileged;
};
constinit ChannelState g_ch{};

SerialPort* device() { return g_ch.device ? g_ch.device->get() : nullptr; }

bool refused(std::int32_t id) {
  return g_ch.privileged && (static_cast<std::uint32_t>(id) >> 16) != kPrivilegedTag;
}

std::int32_t port_of(std::int32_t id) {
  return g_ch.privileged ? static_cast<std::int32_t>(static_cast<std::uint32_t>(id) & 0xFFFF) : id;
}

bool is_open() { return g_ch.open && g_ch.port >= 0 && device() != nullptr; }


void stop_timer() {
  if (g_ch.timer) {
    platform::MessageLoop::current().kill_thread_timer(g_ch.timer);
    g_ch.timer = 0;
  }
}

void poll_tick();

bool start_timer(std::int64_t period) {
  stop_timer();
  g_ch.timer = platform::MessageLoop::current().set_thread_timer(period, [](platform::TimerId) {
    try {
      poll_tick();
    } catch (...) {
      // The next tick tries again.
      g_ch.busy = false;
      serlink::exception_result("data-ready polling");
    }
  });
  return g_ch.timer != 0;
}

void polling_off() {
  stop_timer();
  g_ch.callback = nullptr;
  g_ch.first_deadline = 0;
}

void free_buffers() {
  std::free(g_ch.in);
  std::free(g_ch.out);
  g_ch.in = g_ch.out = nullptr;
  g_ch.in_capacity = g_ch.out_capacity = 0;
  g_ch.held = g_ch.pending = 0;
}

void drop_device() {
  delete g_ch.device;
  g_ch.device = nullptr;
}

void mark_closed() {
  g_ch.open = false;
  g_ch.adopted = false;
  g_ch.port = kNoPort;
  drop_device();
  free_buffers();
  g_ch.first_deadline = 0;
  ++g_ch.generation;
}

std::int32_t allocate(std::int32_t in_capacity, std::int32_t out_capacity) {
  if (in_capacity < 0 || out_capacity < 0 || in_capacity > kMaxBuffer || out_capacity > kMaxBuffer) return SERLINK_E_NO_MEMORY;
  g_ch.in = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(in_capacity)));
  g_ch.out = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(std::max(out_capacity, 1))));
  if (!g_ch.in || !g_ch.out) return SERLINK_E_NO_MEMORY;
  g_ch.in_capacity = in_capacity;
  g_ch.out_capacity = out_capacity;
  g_ch.held = g_ch.pending = 0;
  return SERLINK_OK;
}

// Moves what the device holds into the input buffer, as far as it fits.
std::int32_t fill() {
  std::size_t available = 0;
  SerialError e = device()->bytes_available(available);
  if (e != SerialError::None) return serlink::map_error(e);
  std::size_t room = static_cast<std::size_t>(g_ch.in_capacity - g_ch.held);
  std::size_t want = std::min(available, room);
  if (want == 0) return SERLINK_OK;
  std::size_t got = 0;
  e = device()->read(g_ch.in + g_ch.held, want, got);
  g_ch.held += static_cast<std::int32_t>(got);
  return serlink::map_error(e);
}

// Drops the first `n` held bytes.
void consume(std::int32_t n) {
  if (n >= g_ch.held) {
    g_ch.held = 0;
    return;
  }
  std::memmove(g_ch.in, g_ch.in + n, static_cast<std::size_t>(g_ch.held - n));
  g_ch.held -= n;
}

void poll_tick() {
  if (g_ch.busy) return;
  g_ch.busy = true;
  if (!is_open() || !g_ch.callback) {
    polling_off();
    g_ch.busy = false;
    return;
  }
  fill();
  const std::int64_t now = serlink::now_ms();
  if (g_ch.first_deadline == 0 && g_ch.held > 0) {
    g_ch.first_deadline = now + g_ch.interval;
    start_timer(std::min<std::int64_t>(g_ch.interval, 500));
  }
  if (g_ch.held > 0 &&
      (g_ch.held >= g_ch.threshold || (g_ch.first_deadline != 0 && now >= g_ch.first_deadline))) {
    const std::uint32_t generation = g_ch.generation;
    std::int32_t n = g_ch.callback(reinterpret_cast<const char*>(g_ch.in), g_ch.held);
    // The callback may have read, closed or re-armed the channel: consume
    // only from the same channel, and never more than it still holds.
    if (generation == g_ch.generation && is_open()) {
      if (n > 0) consume(std::min(n, g_ch.held));
      g_ch.first_deadline = 0;
    }
  }
  g_ch.busy = false;
}

std::int32_t purge_device(bool input, bool output) {
  SerialError e = device()->purge(input, output);
  return serlink::map_error(e);
}

}  // namespace

namespace serlink {

const LineSpeed& line_speed(std::int32_t code) {
  // 9 programs 56000 although its text says 57600, and 13 programs 38400:
  // what the original did, kept for the modems set up with these codes.
  static constexpr LineSpeed kSpeeds[] = {
      {2, 2400, "2400"},     {3, 4800, "4800"},     {4, 4800, "4800"},     {5, 9600, "9600"},
      {6, 14400, "14400"},   {7, 19200, "19200"},   {8, 38400, "38400"},   {9, 56000, "57600"},
      {10, 115200, "115200"}, {11, 128000, "128000"}, {12, 256000, "256000"}, {13, 38400, "38400"},
  };
  static constexpr LineSpeed kOther{0, 1200, "1200"};
  for (const LineSpeed& row : kSpeeds)
    if (row.code == code) return row;
  return kOther;
}

std::int32_t map_error(SerialError e) {
  // No default: -Wswitch names any error the platform adds and this misses.
  switch (e) {
    case SerialError::None:
    case SerialError::OperationAborted: return SERLINK_OK;
    case SerialError::FileNotFound:
    case SerialError::BadUnit: return SERLINK_E_NO_PORT;
    case SerialError::AccessDenied:
    case SerialError::Busy: return g_ch.open ? SERLINK_E_ALREADY_OPEN : SERLINK_E_PORT_IN_USE;
    case SerialError::NotEnoughMemory: return SERLINK_E_NO_MEMORY;
    case SerialError::InvalidHandle:
    case SerialError::InvalidParameter: return SERLINK_E_PARAM;
    case SerialError::GenFailure:
    case SerialError::NotSupported:
    case SerialError::IoDevice:
    case SerialError::DeviceNotConnected:
    case SerialError::Timeout: return SERLINK_E_SYSTEM;
  }
  return SERLINK_E_SYSTEM;  // a value outside the enumeration
}

bool channel_open() { return is_open(); }

bool channel_wait_input(std::int64_t ms) {
  if (!is_open() || g_ch.held > 0) return true;
  std::size_t available = 0;
  if (device()->bytes_available(available) != SerialError::None || available > 0) return true;
  if (ms <= 0) return false;
  SerialError e = device()->wait_readable(static_cast<int>(ms));
  return e != SerialError::Timeout;
}

platform::SerialOpenOptions serial_open_options() {
  platform::SerialOpenOptions o;
  // COMn links live in the system root; so does the lock file when
  // /var/lock cannot be written.
  o.dosdevices = platform::known_folder(platform::KnownFolder::DosDevices);
  o.fallback_lock_dir = platform::system_root();
  return o;
}

}  // namespace serlink

extern "C" {

int32_t SioInitialization(int32_t) try {
  // Forget everything without closing: initialisation must not run while a
  // channel is open.
  g_ch.open = false;
  g_ch.adopted = false;
  g_ch.port = kNoPort;
  g_ch.device = nullptr;
  g_ch.in = g_ch.out = nullptr;
  g_ch.in_capacity = g_ch.out_capacity = g_ch.held = g_ch.pending = 0;
  g_ch.callback = nullptr;
  g_ch.timer = 0;
  g_ch.busy = false;
  g_ch.first_deadline = 0;
  g_ch.privileged = false;
  g_ch.metrics = SerialChannelMetrics{};
  for (int i = 0; i < kPorts; ++i) {
    std::snprintf(g_ch.names[i], SERLINK_PORT_NAME_SIZE, "COM%d:", i + 1);
  }
  return SERLINK_OK;
} catch (...) {
  return serlink::exception_result("SioInitialization");
}

int32_t SioTermination(int32_t) try {
  polling_off();
  if (g_ch.open) {
    if (g_ch.adopted) {
      SioDisableAsync();
    } else {
      int32_t id = g_ch.privileged ? static_cast<int32_t>((kPrivilegedTag << 16) | static_cast<std::uint32_t>(g_ch.port))
                                   : g_ch.port;
      SerialChannelClose(&id);
      if (g_ch.open) mark_closed();  // a device that cannot close is let go
    }
  }
  g_ch.privileged = false;
  for (auto& name : g_ch.names) name[0] = '\0';
  return SERLINK_OK;
} catch (...) {
  return serlink::exception_result("SioTermination");
}

int32_t SerialChannelOpen(SerialOpenRequest* request) try {
  if (!request) return SERLINK_E_PARAM;
  if (request->port < 0 || request->port >= kPorts || g_ch.names[request->port][0] == '\0') return SERLINK_E_NO_PORT;
  if (g_ch.open) return SERLINK_E_ALREADY_OPEN;
  platform::SerialError e{};
  std::shared_ptr<SerialPort> port = platform::open_serial_port(g_ch.names[request->port], serlink::serial_open_options(), e);
  if (!port) return serlink::map_error(e);
  // Made before the channel counts as open: running out of memory here
  // leaves it closed.
  auto* holder = new std::shared_ptr<SerialPort>(std::move(port));
  g_ch.open = true;
  g_ch.adopted = false;
  g_ch.port = request->port;
  g_ch.device = holder;
  ++g_ch.generation;
  int32_t rc = allocate(std::max(request->input_size, kMinInput), request->output_size);
  if (rc == SERLINK_OK) {
    SerialChannelMetrics m{request->port, 1, 8, 0, 0, 0};
    rc = SerialChannelSetMetrics(&m);
  }
  if (rc == SERLINK_OK) {
    g_ch.held = g_ch.pending = 0;
    g_ch.first_deadline = 0;
    return SERLINK_OK;
  }
  device()->close();
  mark_closed();
  return rc;
} catch (...) {
  return serlink::exception_result("SerialChannelOpen");
}

int32_t SerialChannelClose(const int32_t* channel) try {
  int32_t id = channel ? *channel : 0;
  if (refused(id)) return SERLINK_E_PRIVILEGED;
  if (static_cast<std::uint32_t>(port_of(id)) >= kPorts) return SERLINK_E_NO_PORT;
  if (!is_open()) return SERLINK_OK;
  polling_off();
  g_ch.held = g_ch.pending = 0;
  g_ch.first_deadline = 0;
  device()->purge(true, true);
  SerialError e = device()->close();
  if (e != SerialError::None) return serlink::map_error(e);
  mark_closed();
  return SERLINK_OK;
} catch (...) {
  return serlink::exception_result("SerialChannelClose");
}

int32_t SerialChannelGetMetrics(SerialChannelMetrics* metrics) try {
  if (!metrics) return SERLINK_E_PARAM;
  if (refused(metrics->channel)) return SERLINK_E_PRIVILEGED;
  if (!is_open()) return SERLINK_E_NOT_OPEN;
  std::int32_t port = port_of(metrics->channel);
  if (port < 0 || port > 3 || port != g_ch.port) return SERLINK_E_NO_PORT;
  *metrics = g_ch.metrics;
  return SERLINK_OK;
} catch (...) {
  return serlink::exception_result("SerialChannelGetMetrics");
}

int32_t SerialChannelSetMetrics(SerialChannelMetrics* metrics) try {
  if (!metrics) return SERLINK_E_PARAM;
  if (refused(metrics->channel)) return SERLINK_E_PRIVILEGED;
  if (!is_open()) return SERLINK_E_NOT_OPEN;
  platform::LineSettings s;
  SerialError e = device()->get_settings(s);
  if (e != SerialError::None) return serlink::map_error(e);
  s.baud = serlink::line_speed(metrics->speed).rate;
  s.data_bits = metrics->data_bits;
  if (metrics->parity < 0 || metrics->parity > 4 || metrics->stop_bits < 0 || metrics->stop_bits > 2) return SERLINK_E_PARAM;
  s.parity = static_cast<platform::Parity>(metrics->parity);
  s.stop_bits = static_cast<platform::StopBits>(metrics->stop_bits);
  const bool handshake = metrics->flow & SERLINK_FLOW_RTS_CTS;
  s.rts_cts = handshake;
  e = device()->set_settings(s);
  if (e != SerialError::None) return serlink::map_error(e);
  device()->set_dtr(true);
  if (!handshake) device()->set_rts(true);
  g_ch.metrics = *metrics;
  g_ch.metrics.channel = g_ch.port;
  // Time-outs: reads return at once (the device never blocks a read); writes
  // allow 100 ms plus 4 ms a byte, applied at each write.
  return SERLINK_OK;
} catch (...) {
  return serlink::exception_result("SerialChannelSetMetrics");
}

int32_t SerialChannelRead(SerialTransfer* transfer) try {
  if (!transfer) return SERLINK_E_PARAM;
  transfer->done = 0;
  if (refused(transfer->channel)) return SERLINK_E_PRIVILEGED;
  if (!is_open()) return SERLINK_E_NOT_OPEN;
  if (transfer->requested < 0 || (transfer->requested > 0 && !transfer->buffer)) return SERLINK_E_PARAM;
  if (int32_t rc = fill(); rc != SERLINK_OK) return rc;
  if (transfer->requested > 0 && g_ch.held > 0) {
    int32_t n = std::min(transfer->requested, g_ch.held);
    std::memcpy(transfer->buffer, g_ch.in, static_cast<std::size_t>(n));
    consume(n);
    transfer->done = n;
  }
  return transfer->done == transfer->requested ? SERLINK_OK : SERLINK_INCOMPLETE;
} catch (...) {
  return serlink::exception_result("SerialChannelRead");
}

int32_t SerialChannelWrite(SerialTransfer* transfer) try {
  if (!transfer) return SERLINK_E_PARAM;
  transfer->done = 0;
  if (refused(transfer->channel)) return SERLINK_E_PRIVILEGED;
  if (!is_open()) return SERLINK_E_NOT_OPEN;
  if (transfer->requested < 0 || (transfer->requested > 0 && !transfer->buffer)) return SERLINK_E_PARAM;
  int32_t n = std::min(transfer->requested, g_ch.out_capacity - g_ch.pending);
  if (n > 0) {
    std::memcpy(g_ch.out + g_ch.pending, transfer->buffer, static_cast<std::size_t>(n));
    g_ch.pending += n;
    transfer->done = n;
  }
  if (g_ch.pending > 0) {
    std::size_t sent = 0;
    SerialError e = device()->write(g_ch.out, static_cast<std::size_t>(g_ch.pending), sent, 100 + 4 * g_ch.pending);
    if (sent >= static_cast<std::size_t>(g_ch.pending)) {
      g_ch.pending = 0;
    } else if (sent > 0) {
      std::memmove(g_ch.out, g_ch.out + sent, static_cast<std::size_t>(g_ch.pending) - sent);
      g_ch.pending -= static_cast<int32_t>(sent);
    }
    // A time-out is no failure: what did not go stays pending for later.
    if (e != SerialError::None && e != SerialError::Timeout) return serlink::map_error(e);
  }
  return transfer->done == transfer->requested ? SERLINK_OK : SERLINK_INCOMPLETE;
} catch (...) {
  return serlink::exception_result("SerialChannelWrite");
}

int32_t SerialChannelFlush(SerialFlushRequest* request) try {
  if (!request) return SERLINK_E_PARAM;
  if (refused(request->channel)) return SERLINK_E_PRIVILEGED;
  if (!is_open()) return SERLINK_E_NOT_OPEN;
  if (request->purge_input) {
    purge_device(true, false);
    platform::clock().sleep_ms(20);
    g_ch.held = 0;
    g_ch.first_deadline = 0;
  }
  if (request->purge_output) {
    purge_device(false, true);
    platform::clock().sleep_ms(20);
    g_ch.pending = 0;
  }
  return SERLINK_OK;
} catch (...) {
  return serlink::exception_result("SerialChannelFlush");
}

int32_t SerialChannelDataReadySpec(SerialDataReadySpec* request) try {
  if (!request) return SERLINK_E_PARAM;
  if (refused(request->channel)) return SERLINK_E_PRIVILEGED;
  if (!is_open()) return SERLINK_E_NOT_OPEN;
  stop_timer();
  g_ch.callback = request->callback;
  if (!request->callback) return SERLINK_OK;
  if (request->threshold <= 0) {
    g_ch.callback = nullptr;
    return SERLINK_E_PARAM;
  }
  g_ch.threshold = std::min(request->threshold, kMaxThreshold);
  g_ch.interval = std::max(request->interval_ms, 0);
  g_ch.first_deadline = 0;
  std::int64_t first = g_ch.held >= g_ch.threshold ? 1 : std::min<std::int64_t>(g_ch.interval, 300);
  if (!start_timer(first)) {
    g_ch.callback = nullptr;
    return SERLINK_E_NO_TIMER;
  }
  return SERLINK_OK;
} catch (...) {
  return serlink::exception_result("SerialChannelDataReadySpec");
}

int32_t SetupCallback(DataReadyCallback callback, int32_t interval_ms, int32_t threshold) try {
  if (g_ch.privileged) return SERLINK_E_PRIVILEGED;
  SerialDataReadySpec request{g_ch.port, threshold, interval_ms, callback};
  return SerialChannelDataReadySpec(&request);
} catch (...) {
  return serlink::exception_result("SetupCallback");
}

int32_t SerialChannelGetPort(SerialPortName* name) try {
  if (!name) return SERLINK_E_PARAM;
  if (name->port < 0 || name->port >= kPorts || g_ch.names[name->port][0] == '\0') return SERLINK_E_NO_PORT;
  std::snprintf(name->name, SERLINK_PORT_NAME_SIZE, "%s", g_ch.names[name->port]);
  return SERLINK_OK;
} catch (...) {
  return serlink::exception_result("SerialChannelGetPort");
}

int32_t SioEnableAsync(SerialAdoptRequest* request) try {
  if (!request) return SERLINK_E_PARAM;
  if (request->port < 0 || request->port >= kPorts) return SERLINK_E_NO_PORT;
  if (g_ch.open) return SERLINK_E_ALREADY_OPEN;
  std::shared_ptr<SerialPort> port = platform::serial_port_from_handle(request->handle);
  if (!port || !port->is_open()) return SERLINK_E_PARAM;  // an invalid handle
  auto* holder = new std::shared_ptr<SerialPort>(std::move(port));
  g_ch.open = true;
  g_ch.adopted = true;
  g_ch.port = request->port;
  g_ch.device = holder;
  ++g_ch.generation;
  g_ch.metrics = request->metrics;
  if (allocate(4096, 2048) != SERLINK_OK) {
    SioDisableAsync();
    return SERLINK_E_NO_MEMORY;
  }
  return SERLINK_OK;
} catch (...) {
  return serlink::exception_result("SioEnableAsync");
}

int32_t SioDisableAsync(void) try {
  if (!g_ch.open) return SERLINK_OK;
  polling_off();
  g_ch.held = g_ch.pending = 0;
  if (device()) device()->purge(true, true);
  mark_closed();  // the handle stays open: it belongs to whoever opened it
  return SERLINK_OK;
} catch (...) {
  return serlink::exception_result("SioDisableAsync");
}

int32_t SioSetDTR(int32_t channel, int32_t on) try {
  if (refused(channel)) return SERLINK_E_PRIVILEGED;
  if (!is_open()) return SERLINK_E_NOT_OPEN;
  return serlink::map_error(device()->set_dtr(on != 0));
} catch (...) {
  return serlink::exception_result("SioSetDTR");
}

int32_t SioSetPrivilegedMode(int32_t mode) try {
  g_ch.privileged = mode != 0;
  return mode;
} catch (...) {
  return serlink::exception_result("SioSetPrivilegedMode");
}

int32_t SioWrite(const void* buffer, int32_t length) try {
  if (g_ch.privileged) return SERLINK_E_PRIVILEGED;
  SerialTransfer t{g_ch.port, const_cast<void*>(buffer), length, 0};
  int32_t rc = SerialChannelWrite(&t);
  return rc < 0 ? rc : t.done;
} catch (...) {
  return serlink::exception_result("SioWrite");
}

int32_t SioWriteByte(int32_t byte) try {
  unsigned char b = static_cast<unsigned char>(byte & 0xFF);
  return SioWrite(&b, 1);
} catch (...) {
  return serlink::exception_result("SioWriteByte");
}

}  // extern "C"
