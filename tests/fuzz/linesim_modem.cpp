// linesim's Hayes command parser: the bytes a computer writes to the
// simulated modem. The first byte picks the modem profile and whether DTR
// drops half-way; the rest is fed in pieces while virtual time runs on. The
// exchange routes 5550100 to a small scenario, 5550111 to busy. Checked: the
// modem never keeps more output than its limit and never stops asking for
// input in command state.
#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "linesim/exchange.h"
#include "linesim/modem.h"
#include "linesim/profile.h"
#include "platform/loop/clock.h"

namespace {

constexpr const char* kScenario =
    "timeout 5\nlogin *\nsend REQUEST:\\tFIRSTNAME\nexpect REPLY: *\nsend STATUS:\\tCOMPLETE\nend\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  platform::ScopedVirtualClock clock;
  linesim::Exchange exchange;
  exchange.add_route("5550100=scenario:server.txt", {{"server.txt", kScenario}});
  exchange.add_route("5550111=busy");
  const auto& profiles = linesim::builtin_profiles();
  const linesim::ModemProfile& profile = profiles[(data[0] >> 1) % profiles.size()];
  bool drop_dtr = data[0] & 1;
  linesim::Modem modem("COM2", profile, &exchange);

  std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  std::size_t fed = 0;
  for (int step = 0; step < 400; ++step) {
    if (fed < input.size() && modem.wants_input()) {
      std::size_t n = std::min<std::size_t>(16, input.size() - fed);
      modem.feed(input.substr(fed, n));
      fed += n;
      if (drop_dtr && fed >= input.size() / 2) {
        modem.set_dtr(false);
        modem.tick();
        modem.set_dtr(true);
        drop_dtr = false;
      }
    }
    modem.tick();
    fuzz::check(modem.take_output(1024).size() <= 1024, "more output than asked for");
    std::int64_t now = clock.get().now_ms();
    std::int64_t next = now + 50;
    if (auto due = modem.next_due_ms(); due && *due > now) next = std::min(next, *due);
    clock.get().advance_to(next);
    if (fed >= input.size() && step > 40 && !modem.has_output() && modem.mode() == linesim::Modem::Mode::Command) break;
  }
  std::string rest = modem.take_output();
  fuzz::check(rest.size() <= linesim::Modem::kMaxOutput, "the modem kept more output than its limit");
  return 0;
}
