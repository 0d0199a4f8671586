// Port enumeration and modem auto-configuration.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "serlink_internal.h"

namespace {

constexpr std::size_t kIdentity = 16;  // characters kept of ATI0 / ATI3
// Identification reads the rest of an answer up to its final word (or an
// empty read); a modem that keeps talking is cut off after this many lines.
constexpr int kMaxDrainLines = 32;
// Pause around the purge after each new line speed of the speed search.
constexpr std::int64_t kSpeedSettleMs = 10;

struct ModemIdentification {
  std::uint32_t modem_class;
  char ati0[kIdentity + 1];
  char ati3[kIdentity + 1];
  std::int32_t speed;
};

// Status text with the port's name in place of "%s"; true when the callback
// asks to stop.
bool status(StatusCallback cb, const char* format, const char* port) {
  if (!cb) return false;
  if (!format) return cb(nullptr) != 0;
  char text[SERLINK_PORT_NAME_SIZE + 64];
  std::snprintf(text, sizeof text, format, port ? port : "");
  return cb(text) != 0;
}

void close_channel(std::int32_t port) { SerialChannelClose(&port); }

std::int32_t open_channel(std::int32_t port) {
  SerialOpenRequest r{port, 128, 128};
  return SerialChannelOpen(&r);
}

void port_name(std::int32_t port, char* out) {
  SerialPortName n{};
  n.port = port;
  SerialChannelGetPort(&n);
  std::memcpy(out, n.name, SERLINK_PORT_NAME_SIZE);
}

// A line that ends a command's answer: exactly "OK" or "ERROR", blanks
// around it aside (a substring match would take "BROOKTROUT" for "OK").
bool is_final_word(const char* line) {
  std::string_view text(line);
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return false;
  text = text.substr(first, text.find_last_not_of(" \t") - first + 1);
  return text == "OK" || text == "ERROR";
}

void keep_identity(char* out, const char* line) {
  std::size_t n = strnlen(line, kIdentity);
  std::memcpy(out, line, n);
  out[n] = '\0';
}

void identify(std::int32_t ch, ModemIdentification& id) {
  char line[SERLINK_RESPONSE_SIZE];
  std::int32_t code = MODEM_RESULT_OTHER;
  serlink::purge(ch);
  serlink::send_command(ch, "I0");
  if (serlink::read_response(ch, 1, line, code) == SERLINK_OK) {
    keep_identity(id.ati0, line);
    serlink::read_response(ch, 1, line, code);
  }
  serlink::purge(ch);
  serlink::send_command(ch, "I3");
  std::int32_t rc = serlink::read_response(ch, 1, line, code);
  if (rc == SERLINK_OK && code == MODEM_RESULT_OK) rc = serlink::read_response(ch, 1, line, code);
  if (rc == SERLINK_OK) keep_identity(id.ati3, line);
  // The rest of the answer, up to its final result word; only a modem that
  // sends none waits out the time-out of an empty read.
  bool ended = rc == SERLINK_OK && is_final_word(line);
  for (int i = 0; i < kMaxDrainLines && !ended; ++i) {
    rc = serlink::read_response(ch, 1, line, code);
    if (line[0] == '\0') break;
    ended = rc == SERLINK_OK && is_final_word(line);
  }
  id.modem_class = serlink::modem_class(id.ati0, id.ati3);
  id.speed = serlink::starting_speed(id.ati0, id.ati3);
}

void copy_text(char* out, std::size_t size, const std::string& text) {
  if (!out) return;
  std::snprintf(out, size, "%s", text.c_str());
}

// Steps 2 to 8 of an auto-configuration on the open channel.
std::int32_t configure(ModemAutoConfigRecord* rec, const char* name) {
  const std::int32_t port = rec->metrics.channel;
  rec->metrics = SerialChannelMetrics{port, 1, 8, 0, 0, 0};
  SerialChannelSetMetrics(&rec->metrics);
  if (status(rec->status, "Setting up modem on %s.", name)) return SERLINK_E_STOPPED;
  if (serlink::probe(port) != SERLINK_OK) return SERLINK_E_NO_MODEM;
  if (status(rec->status, "Checking modem's capabilities.", name)) return SERLINK_E_STOPPED;

  ModemIdentification id{};
  identify(port, id);

  if (status(rec->status, "Establishing port speed.", name)) return SERLINK_E_STOPPED;
  char line[SERLINK_RESPONSE_SIZE];
  std::int32_t code = MODEM_RESULT_OTHER;
  std::int32_t rc = SERLINK_OK;
  for (rec->metrics.speed = id.speed; rec->metrics.speed > 0; --rec->metrics.speed) {
    rc = SerialChannelSetMetrics(&rec->metrics);
    serlink::library_wait(kSpeedSettleMs);
    serlink::purge(port);
    serlink::library_wait(kSpeedSettleMs);
    if (rc == SERLINK_OK) {
      serlink::send_command(port, "AT Q E V1");
      rc = serlink::read_response(port, 1, line, code);
      if (rc == SERLINK_OK && code == MODEM_RESULT_OK) break;
    }
  }
  if (rc != SERLINK_OK || rec->metrics.speed == 0) return rc;

  if (status(rec->status, "Determining setup command strings.", name)) return SERLINK_E_STOPPED;
  std::string reset;
  for (const char* cmd : {"&F", "Z"}) {
    serlink::purge(port);
    reset = std::string("AT ") + cmd;
    serlink::send_command(port, cmd);
    if (serlink::read_response(port, 1, line, code) == SERLINK_OK && code == MODEM_RESULT_OK) break;
  }
  copy_text(rec->reset, SERLINK_RESET_SIZE, reset);
  std::string setup = "AT";
  copy_text(rec->setup, SERLINK_SETUP_SIZE, setup);

  bool error_control = false;
  for (const serlink::OptionRow& row : serlink::kOptionRows) {
    if (status(rec->status, nullptr, nullptr)) return SERLINK_E_STOPPED;
    if (row.mask != 0 && (row.mask & id.modem_class) == 0) continue;
    if ((row.flags & serlink::kOptionErrorControl) && error_control) continue;
    serlink::purge(port);
    serlink::send_command(port, std::string("AT ") + row.command);
    if (serlink::read_response(port, 1, line, code) == SERLINK_OK && code == MODEM_RESULT_OK) {
      setup += ' ';
      setup += row.command;
      copy_text(rec->setup, SERLINK_SETUP_SIZE, setup);
      if (row.flags & serlink::kOptionErrorControl) {
        error_control = true;
      } else if (row.flags & serlink::kOptionFlow) {
        rec->metrics.flow = SERLINK_FLOW_HARDWARE;
      }
    }
  }
  return SERLINK_OK;
}

}  // namespace

extern "C" {

int32_t ModemPortEnumeration(ModemPortList* list) try {
  if (!list || !list->entries || list->count == 0) return SERLINK_E_PARAM;
  const std::uint32_t capacity = list->count;
  std::uint32_t found = 0;
  bool stopped = false;
  int32_t rc = SERLINK_OK;
  for (int32_t port = 0; port < 4; ++port) {
    int32_t opened = open_channel(port);
    if (opened != SERLINK_OK && opened != SERLINK_E_ALREADY_OPEN) {
      close_channel(port);
      continue;
    }
    char name[SERLINK_PORT_NAME_SIZE];
    port_name(port, name);
    SerialChannelMetrics m{port, 1, 8, 0, 0, 0};
    SerialChannelSetMetrics(&m);
    if (status(list->status, "Looking for a modem on %s.", name)) {
      stopped = true;
      break;
    }
    if (serlink::probe(port) != SERLINK_OK) {
      close_channel(port);
      continue;
    }
    if (status(list->status, "Detected a modem on %s.", name)) {
      stopped = true;
      break;
    }
    SerialPortName* entry = list->entries[found];
    if (!entry) {
      rc = SERLINK_E_PARAM;
      break;
    }
    entry->port = port;
    std::memcpy(entry->name, name, SERLINK_PORT_NAME_SIZE);
    if (++found >= capacity) break;
    close_channel(port);
  }
  if (serlink::channel_open()) close_channel(0);  // closes the one open channel
  list->count = found;
  if (rc != SERLINK_OK) return rc;
  if (stopped) return SERLINK_E_STOPPED;
  return found > 0 ? SERLINK_OK : SERLINK_E_NO_MODEM;
} catch (...) {
  return serlink::exception_result("ModemPortEnumeration");
}

int32_t ModemAutoConfigure(ModemAutoConfigRecord* record) try {
  if (!record) return SERLINK_E_PARAM;
  if (record->reset) record->reset[0] = '\0';
  if (record->setup) record->setup[0] = '\0';
  const int32_t port = record->metrics.channel;
  char name[SERLINK_PORT_NAME_SIZE] = "";
  int32_t rc = open_channel(port);
  if (rc == SERLINK_OK || rc == SERLINK_E_ALREADY_OPEN) {
    port_name(port, name);
    rc = configure(record, name);
  }
  record->metrics.channel = port;
  if (serlink::channel_open()) close_channel(port);
  if (record->status && rc != SERLINK_E_STOPPED) {
    const char* text = rc == SERLINK_OK           ? "Modem auto-configuration complete."
                       : rc == SERLINK_E_NO_MODEM ? "A modem was not detected!"
                                                  : "Problem with modem/port; Modem auto-configuration failed!";
    record->status(text);
  }
  return rc;
} catch (...) {
  return serlink::exception_result("ModemAutoConfigure");
}

}  // extern "C"
