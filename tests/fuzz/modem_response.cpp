// Serlink's modem answer readers: the bytes a modem sends back. The first
// byte picks the operation that reads them (response lines one by one,
// reset, setup, probe, hang-up, dial, auto-configuration); the rest is what
// the modem has sent, waiting in the line when the operation starts. Time
// is virtual, so time-outs cost nothing. Checked: every response line is
// terminated within its 128 bytes and classified by a known result code; the
// operations return their documented codes.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "fuzz_support.h"
#include "platform/loop/clock.h"
#include "platform/serial/serial_port.h"
#include "platform/storage/system_root.h"
#include "serlink.h"

namespace {

std::size_t g_traced = 0;

void trace(const char* format, const char* text) {
  char line[1024];
  if (text) {
    std::snprintf(line, sizeof line, format, text);
  } else {
    std::snprintf(line, sizeof line, "%s", format);
  }
  g_traced += std::strlen(line);
}

void set_up_once() {
  static bool done = [] {
    std::filesystem::path root = fuzz::work_folder() / "serlink-root";
    fuzz::fresh_folder(root / "dosdevices");
    fuzz::check(platform::set_system_root(root), "cannot set the system root");
    for (int n = 1; n <= 4; ++n) {
      std::error_code ec;
      std::filesystem::create_symlink("/dev/pts/no-such-port", root / "dosdevices" / ("com" + std::to_string(n)), ec);
    }
    fuzz::check(SerlinkInitialization(1) == SERLINK_OK, "SerlinkInitialization failed");
    ConnectSetParm(SERLINK_PARM_TRACE, trace);
    return true;
  }();
  (void)done;
}

void check_response(const ModemResponse& r, const char* line) {
  static const std::set<std::int32_t> codes = {
      MODEM_RESULT_OK,    MODEM_RESULT_CONNECT,     MODEM_RESULT_RING, MODEM_RESULT_NO_CARRIER,
      MODEM_RESULT_ERROR, MODEM_RESULT_NO_DIALTONE, MODEM_RESULT_BUSY, MODEM_RESULT_NO_ANSWER,
      MODEM_RESULT_CARRIER, MODEM_RESULT_OTHER};
  fuzz::check(std::memchr(line, '\0', SERLINK_RESPONSE_SIZE) != nullptr, "a response line without its NUL");
  fuzz::check(codes.count(r.result) == 1, "a response classified by an unknown code");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  set_up_once();
  platform::ScopedVirtualClock clock;
  platform::VirtualNullModem cable;
  platform::attach_virtual_port(1, cable.end(0));
  int op = data[0] % 7;
  // The cable holds what the modem said; the channel's buffer is 2 KiB.
  std::size_t n = std::min<std::size_t>(size - 1, 2000);
  std::size_t written = 0;
  cable.end(1)->write(data + 1, n, written, 0);

  if (op == 6) {
    char reset[SERLINK_RESET_SIZE + 8] = {};
    char setup[SERLINK_SETUP_SIZE + 8] = {};
    ModemAutoConfigRecord record{};
    record.metrics.channel = 0;
    record.reset = reset;
    record.setup = setup;
    std::int32_t rc = ModemAutoConfigure(&record);
    (void)rc;
    fuzz::check(std::memchr(reset, '\0', sizeof reset) != nullptr, "reset string without its NUL");
    fuzz::check(std::memchr(setup, '\0', sizeof setup) != nullptr, "setup string without its NUL");
  } else {
    SerialOpenRequest request{0, 2048, 2048};
    fuzz::check(SerialChannelOpen(&request) == SERLINK_OK, "cannot open the virtual port");
    char line[SERLINK_RESPONSE_SIZE];
    std::int32_t rc = 0;
    switch (op) {
      case 0:
        for (int i = 0; i < 40; ++i) {
          std::memset(line, 'x', sizeof line);
          ModemResponse r{0, 1, line, -1};
          rc = ModemRecvResponse(&r);
          check_response(r, line);
          fuzz::check(rc == SERLINK_OK || rc == SERLINK_NO_LINE || rc < 0, "ModemRecvResponse gave an unknown result");
          if (rc != SERLINK_OK) break;
        }
        break;
      case 1: {
        ModemCommand c{0, "AT Z"};
        rc = ModemReset(&c);
        fuzz::check(rc <= SERLINK_NO_LINE, "ModemReset gave an unknown result");
        break;
      }
      case 2: {
        char text[] = "AT &F E0 Q1 V0 &C1 &D2 \\N3 %C1 S0=0 M1 L2 X4 &K3 +MS=V34 W2 S95=44";
        ModemCommand c{0, text};
        rc = ModemSetup(&c);
        fuzz::check(rc == SERLINK_OK || rc < 0, "ModemSetup gave an unknown result");
        break;
      }
      case 3: {
        std::int32_t channel = 0;
        rc = ModemOpen(&channel);
        fuzz::check(rc == SERLINK_OK || rc == SERLINK_E_NO_MODEM, "ModemOpen gave an unknown result");
        break;
      }
      case 4:
        rc = ModemHangup(0);
        fuzz::check(rc == SERLINK_OK || rc == SERLINK_E_NOT_OK || rc < 0, "ModemHangup gave an unknown result");
        break;
      case 5: {
        ModemDialRequest d{0, SERLINK_DIAL_TONE, 30, "9,,5550100123456789012345678901234567890W@123"};
        rc = ModemDial(&d);
        break;
      }
    }
    std::int32_t port = 0;
    SerialChannelClose(&port);
  }
  SioSetPrivilegedMode(0);
  platform::attach_virtual_port(1, nullptr);
  return 0;
}
