// Each of linesim's known-modem profiles lands in its own row of the
// library's identification table (the first 16 characters of the ATI0 and
// ATI3 answers, rows in order), and the others in none: the table checked is
// the library's own, the answers linesim's own.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "linesim/exchange.h"
#include "linesim/modem.h"
#include "linesim/profile.h"
#include "platform/loop/clock.h"
#include "serlink_internal.h"

namespace {

// The answer text of one identity command, cut as the library reads it.
std::string identity(linesim::Modem& modem, const std::string& command) {
  modem.feed(command);
  modem.tick();
  const std::string out = modem.take_output();  // "\r\n<text>\r\n\r\nOK\r\n"
  if (out.size() < 2) return {};
  return out.substr(2, out.find("\r\n", 2) - 2).substr(0, 16);
}

TEST(LinesimIdentity, KnownModemProfilesLandInTheirRows) {
  platform::ScopedVirtualClock clock;
  const std::map<std::string, std::uint32_t> expected = {
      {"generic", 0xFFFFFFFFu}, {"tbsa965", 1},  {"m968", 1},
      {"t2500", 1},             {"gateway", 2},  {"sportster144", 4},
      {"sportster288", 4},      {"attv34", 8},   {"nofactory", 0xFFFFFFFFu},
      {"hayes2400", 0xFFFFFFFFu}};
  for (const auto& [profile, cls] : expected) {
    linesim::Exchange exchange;
    const std::optional<linesim::ModemProfile> p = linesim::find_profile(profile);
    ASSERT_TRUE(p.has_value()) << profile;
    linesim::Modem modem("COM2", *p, &exchange);
    modem.feed("ATE0\r");
    modem.tick();
    modem.take_output();
    const std::string i0 = identity(modem, "ATI0\r"), i3 = identity(modem, "ATI3\r");
    EXPECT_EQ(serlink::modem_class(i0.c_str(), i3.c_str()), cls) << profile << ": " << i0 << " / " << i3;
  }
}

}  // namespace
