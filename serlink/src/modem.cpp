// Modem command layer: Hayes AT commands over the serial channel.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "serlink_internal.h"

namespace {

constexpr const char kVerbose[] = "AT Q E V1";
constexpr std::size_t kLineBuffer = 256;  // "AT ", the command, CR and NUL
constexpr std::int32_t kMaxLine = 127;
// A response read gives up after this many bytes without a line, so a modem
// that echoes or babbles for ever cannot hold the caller.
constexpr int kMaxBytesPerResponse = 16 * 1024;
constexpr std::uint32_t kPrivilegedTag = SERLINK_PRIVILEGED_TAG;

// Pauses, in milliseconds.
constexpr std::int64_t kFirstGuardMs = 250;   // silence around "+++"; four times longer on the second try
constexpr std::int64_t kDtrDropMs = 300;      // DTR low to make the modem hang up
constexpr std::int64_t kSettleMs = 500;       // after a reset, or DTR low before "ATZ"
constexpr std::int64_t kBeforeDialMs = 1000;
constexpr std::int64_t kLineFeedWaitMs = 10;  // for the line feed after a carriage return

// 1: the modem is believed to be in command state; 0: on line.
constinit int g_command_mode = 0;

std::int32_t read_byte(std::int32_t channel, char& c, std::int32_t& got) {
  SerialTransfer t{channel, &c, 1, 0};
  std::int32_t rc = SerialChannelRead(&t);
  got = t.done;
  return rc;
}

std::int32_t write_raw(std::int32_t channel, const char* bytes, std::size_t n) {
  SerialTransfer t{channel, const_cast<char*>(bytes), static_cast<std::int32_t>(n), 0};
  return SerialChannelWrite(&t);
}

bool matched(std::int32_t rc, std::int32_t code) { return rc == SERLINK_OK && code != MODEM_RESULT_OTHER; }

// Brings the modem back to command state: "AT Q E V1" when it is believed
// there already, else "+++" with guard times and a DTR pulse.
void recover(std::int32_t channel) {
  SerialDataReadySpec off{channel, 0, 0, nullptr};
  SerialChannelDataReadySpec(&off);
  serlink::purge(channel);
  char line[SERLINK_RESPONSE_SIZE];
  std::int32_t code = MODEM_RESULT_OTHER;
  if (g_command_mode == 1) {
    serlink::send_command(channel, kVerbose);
    std::int32_t rc = serlink::read_response(channel, 1, line, code);
    g_command_mode = matched(rc, code) ? 1 : 0;
    if (g_command_mode == 1) return;
  }
  std::int64_t guard = kFirstGuardMs;
  for (int pass = 0; pass < 2; ++pass, guard *= 4) {
    serlink::library_wait(guard);
    std::int32_t rc = write_raw(channel, "+++", 3);
    serlink::trace("Send: %s", "+++");
    if (rc == SERLINK_OK) {
      serlink::library_wait(guard);
      rc = serlink::read_response(channel, 1, line, code);
      if (matched(rc, code)) {
        g_command_mode = 1;
        return;
      }
      g_command_mode = 1;  // so that this send does not recover again
      serlink::send_command(channel, kVerbose);
      rc = serlink::read_response(channel, 1, line, code);
      if (matched(rc, code)) return;
      g_command_mode = 0;
    }
    SioSetDTR(channel, 0);
    serlink::library_wait(kDtrDropMs);
    if (SioSetDTR(channel, 1) == SERLINK_OK) serlink::read_response(channel, 1, line, code);
  }
}

bool is_blank(const char* text) {
  if (!text) return true;
  while (*text == ' ' || *text == '\t') ++text;
  return *text == '\0';
}

// One piece of a setup: send, require "OK".
std::int32_t setup_piece(std::int32_t channel, std::string text) {
  std::size_t start = text.find_first_not_of(" \t");
  if (start == std::string::npos) return SERLINK_E_EMPTY_COMMAND;
  std::string line = serlink::begins_with_at(std::string_view(text).substr(start)) ? std::string() : "AT ";
  line.append(text, start, std::string::npos);
  if (std::size_t split = serlink::setup_split_point(line); split > 2) {
    std::int32_t rc = setup_piece(channel, line.substr(0, split));
    if (rc == SERLINK_OK) rc = setup_piece(channel, line.substr(split));
    return rc;
  }
  // Keep the modem sending verbose result codes: the classifier needs them.
  if (std::size_t q = line.find("Q1"); q != std::string::npos) line[q + 1] = '0';
  if (std::size_t v = line.find("V0"); v != std::string::npos) line[v + 1] = '1';
  std::int32_t rc = serlink::send_command(channel, line);
  if (rc < 0) return rc;
  char reply[SERLINK_RESPONSE_SIZE];
  std::int32_t code = MODEM_RESULT_OTHER;
  rc = serlink::read_response(channel, 2, reply, code);
  return rc == SERLINK_OK && code == MODEM_RESULT_OK ? SERLINK_OK : SERLINK_E_NOT_OK;
}

std::int32_t dial_wait_seconds(const std::string& part, bool tone) {
  std::int32_t seconds = tone ? 15 : 40;
  for (std::size_t i = 1; i < part.size(); ++i) {
    switch (part[i]) {
      case ',': seconds += 2; break;
      case '@': seconds += 35; break;
      case 'W':
      case 'w': seconds += 30; break;
      default: break;
    }
  }
  return seconds;
}

}  // namespace

namespace serlink {

std::int32_t purge(std::int32_t channel) {
  SerialFlushRequest f{channel, 1, 1};
  return SerialChannelFlush(&f);
}

std::int32_t send_command(std::int32_t channel, std::string_view text) {
  std::string line = command_line(text);
  if (line.empty()) return SERLINK_E_EMPTY_COMMAND;
  if (line.size() + 1 > kLineBuffer) return SERLINK_E_PARAM;
  if (g_command_mode == 0) recover(channel);
  std::int32_t rc = write_raw(channel, line.data(), line.size());
  trace("Send: %s", line.c_str());
  return rc;
}

std::int32_t read_response(std::int32_t channel, std::int32_t timeout_s, char* line, std::int32_t& result) {
  const std::int64_t deadline = now_ms() + static_cast<std::int64_t>(timeout_s) * 1000;
  std::int32_t n = 0;
  std::int32_t rc = SERLINK_OK;
  int examined = 0;
  for (;;) {
    char c = 0;
    std::int32_t got = 0;
    std::int32_t r = read_byte(channel, c, got);
    if (r < 0) {
      rc = r;
      break;
    }
    if (got == 0) {
      const std::int64_t now = now_ms();
      if (now >= deadline) {
        rc = SERLINK_NO_LINE;
        break;
      }
      // Until the next byte, at most to the deadline.
      library_wait_for_input(deadline - now);
      continue;
    }
    if (++examined > kMaxBytesPerResponse && now_ms() >= deadline) {
      rc = SERLINK_NO_LINE;
      break;
    }
    if (c != '\r' && c != '\n') {
      line[n++] = c;
      if (n >= kMaxLine) break;
      continue;
    }
    if (n == 0) continue;  // blank lines are skipped
    if (begins_with_at(std::string_view(line, static_cast<std::size_t>(n)))) {
      n = 0;  // the modem's echo of a command
      if (examined > kMaxBytesPerResponse) {
        rc = SERLINK_NO_LINE;
        break;
      }
      continue;
    }
    if (c == '\n') continue;
    library_wait(kLineFeedWaitMs);
    char lf = 0;
    std::int32_t r2 = read_byte(channel, lf, got);
    if (r2 < 0) rc = r2;
    break;
  }
  line[n] = '\0';
  // Classify within the bytes read: a NUL in the line ends the text early.
  result = classify_response(std::string_view(line));
  if (result == MODEM_RESULT_CONNECT || result == MODEM_RESULT_CARRIER) {
    g_command_mode = 0;
  } else if (g_command_mode == 0 && result != MODEM_RESULT_OTHER) {
    g_command_mode = 1;
  }
  trace("Recv: %s", line);
  return rc;
}

std::int32_t probe(std::int32_t channel) {
  g_command_mode = 1;
  recover(channel);
  return g_command_mode == 1 ? SERLINK_OK : SERLINK_E_NO_MODEM;
}

}  // namespace serlink

extern "C" {

int32_t ModemSendCommand(ModemCommand* command) try {
  if (!command || is_blank(command->text)) return SERLINK_E_EMPTY_COMMAND;
  return serlink::send_command(command->channel, command->text);
} catch (...) {
  return serlink::exception_result("ModemSendCommand");
}

int32_t ModemRecvResponse(ModemResponse* response) try {
  if (!response || !response->line) return SERLINK_E_PARAM;
  response->result = MODEM_RESULT_OTHER;
  return serlink::read_response(response->channel, response->timeout_s, response->line, response->result);
} catch (...) {
  return serlink::exception_result("ModemRecvResponse");
}

int32_t ModemOpen(int32_t* channel) try {
  if (!channel) return SERLINK_E_PARAM;
  return serlink::probe(*channel);
} catch (...) {
  return serlink::exception_result("ModemOpen");
}

int32_t ModemClose(int32_t channel) { return ModemHangup(channel); }

int32_t ModemReset(ModemCommand* command) try {
  if (!command || !command->text) return SERLINK_OK;
  const int32_t ch = command->channel;
  int32_t rc = serlink::send_command(ch, command->text);
  if (rc < 0) return rc;
  char line[SERLINK_RESPONSE_SIZE];
  int32_t code = MODEM_RESULT_OTHER;
  rc = serlink::read_response(ch, 2, line, code);
  if (!(rc == SERLINK_OK && code == MODEM_RESULT_OK)) {
    rc = serlink::read_response(ch, 2, line, code);
    if (!(rc == SERLINK_OK && code == MODEM_RESULT_OK)) return SERLINK_E_NOT_OK;
  }
  serlink::library_wait(kSettleMs);
  serlink::purge(ch);
  rc = serlink::send_command(ch, kVerbose);
  if (rc < 0) return rc;
  return serlink::read_response(ch, 1, line, code);
} catch (...) {
  return serlink::exception_result("ModemReset");
}

int32_t ModemSetup(ModemCommand* command) try {
  if (!command || !command->text) return SERLINK_OK;
  return setup_piece(command->channel, command->text);
} catch (...) {
  return serlink::exception_result("ModemSetup");
}

int32_t ModemDial(ModemDialRequest* request) try {
  if (!request) return SERLINK_E_PARAM;
  const int32_t ch = request->channel;
  const bool tone = request->method == SERLINK_DIAL_TONE;
  serlink::library_wait(kBeforeDialMs);
  serlink::purge(ch);
  char registers[64];
  std::snprintf(registers, sizeof registers, "S2=43 S7=%ld S12=12", static_cast<long>(request->wait_s));
  int32_t rc = serlink::send_command(ch, registers);
  if (rc < 0) return rc;
  char line[SERLINK_RESPONSE_SIZE];
  int32_t code = MODEM_RESULT_OTHER;
  rc = serlink::read_response(ch, 2, line, code);
  if (rc != SERLINK_OK) return rc;
  // The command is `head` then `rest`: "DT "/"DP " and the number, then
  // "D" and what is left of it. Each command is built by appending to an
  // empty string: GCC 12 at -O3 takes the copies inside "D" + string and
  // string = "D" for overlapping ones (a false -Wrestrict).
  std::string_view head = tone ? "DT " : "DP ";
  std::string rest;
  if (request->number) rest.assign(request->number, strnlen(request->number, 4096));
  while (head.size() + rest.size() >= 36) {
    // ";" after the 35th character: the modem dials these digits and comes
    // back to command state for the rest.
    const std::size_t take = 35 - head.size();
    std::string part;
    part.reserve(36);
    part.append(head).append(rest, 0, take).push_back(';');
    rc = serlink::send_command(ch, part);
    if (rc < 0) return rc;
    serlink::read_response(ch, dial_wait_seconds(part, tone), line, code);
    rest.erase(0, take);
    head = "D";
  }
  std::string last;
  last.reserve(head.size() + rest.size());
  last.append(head).append(rest);
  return serlink::send_command(ch, last);
} catch (...) {
  return serlink::exception_result("ModemDial");
}

int32_t ModemHangup(int32_t channel) try {
  SioSetPrivilegedMode(1);
  const int32_t ch = static_cast<int32_t>((kPrivilegedTag << 16) | (static_cast<uint32_t>(channel) & 0xFFFF));
  char line[SERLINK_RESPONSE_SIZE];
  int32_t code = MODEM_RESULT_OTHER;
  bool done = false;
  for (int attempt = 0; attempt < 2 && !done; ++attempt) {
    serlink::purge(ch);
    if (serlink::send_command(ch, "ATH") == SERLINK_OK) {
      int32_t rc = serlink::read_response(ch, attempt == 0 ? 3 : 2, line, code);
      done = rc == SERLINK_OK && (code == MODEM_RESULT_OK || code == MODEM_RESULT_NO_CARRIER);
    }
  }
  if (!done) {
    SioSetDTR(ch, 0);
    serlink::library_wait(kSettleMs);
    serlink::purge(ch);
    serlink::send_command(ch, "ATZ");
    int32_t rc = serlink::read_response(ch, 2, line, code);
    done = rc == SERLINK_OK && (code == MODEM_RESULT_OK || code == MODEM_RESULT_NO_CARRIER);
  }
  SioSetPrivilegedMode(0);
  return done ? SERLINK_OK : SERLINK_E_NOT_OK;
} catch (...) {
  return serlink::exception_result("ModemHangup");
}

}  // extern "C"
