// A modem on a virtual clock, driven the way a host drives it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "linesim/exchange.h"
#include "linesim/modem.h"
#include "platform/loop/clock.h"

namespace linesim::test {

struct Bench {
  platform::ScopedVirtualClock clock;
  std::vector<std::string> trace;
  Exchange exchange{[this](std::string_view line) { trace.emplace_back(line); }};
  std::unique_ptr<Modem> modem;

  explicit Bench(const std::string& profile = "generic") {
    modem = std::make_unique<Modem>("COM2", *find_profile(profile), &exchange);
  }
  // Sends bytes, runs the modem once, returns everything it answered.
  std::string at(const std::string& bytes) {
    modem->feed(bytes);
    modem->tick();
    return modem->take_output();
  }
  // Moves virtual time forward in steps of at most `step` ms, ticking the
  // modem at each due time; returns what the DTE received meanwhile.
  std::string run(std::int64_t ms, std::int64_t step = 10) {
    std::string out;
    std::int64_t end = clock.get().now_ms() + ms;
    while (clock.get().now_ms() < end) {
      std::int64_t now = clock.get().now_ms();
      std::int64_t next = std::min(end, now + step);
      if (auto due = modem->next_due_ms(); due && *due > now && *due < next) next = *due;
      clock.get().advance_to(next);
      modem->tick();
      out += modem->take_output();
    }
    return out;
  }
  bool traced(const std::string& text) const {
    for (const auto& line : trace)
      if (line.find(text) != std::string::npos) return true;
    return false;
  }
};

}  // namespace linesim::test
