// The sign-on scanner over captured host answers: one delivery at a time,
// then answers cut into several deliveries the way the data-ready poll hands
// them over (the untaken bytes stay in front of the next ones).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serlink_internal.h"

namespace serlink_test {
namespace {

using serlink::scan_signon;
using serlink::SignonSeen;

const char* seen_name(SignonSeen s) {
  switch (s) {
    case SignonSeen::Nothing: return "Nothing";
    case SignonSeen::Prompt: return "Prompt";
    case SignonSeen::Accepted: return "Accepted";
    case SignonSeen::Rejected: return "Rejected";
    case SignonSeen::CarrierLost: return "CarrierLost";
  }
  return "?";
}

TEST(SignonScan, OneDeliveryTranscripts) {
  const std::string banner = "\r\nVeloran sign-up host\r\n";
  const std::string filler(250, '.');
  struct Case {
    const char* name;
    std::string bytes;
    SignonSeen seen;
    std::size_t taken;
    std::string shown;
    std::string detail;
  };
  const Case table[] = {
      {"fewer than eight bytes: not looked at", "Sign-o", SignonSeen::Nothing, 0, "", ""},
      {"eight bytes without a word: all kept", "Welcome!", SignonSeen::Nothing, 0, "", ""},
      {"banner: all but the last eight taken", banner, SignonSeen::Nothing, banner.size() - 8,
       banner.substr(0, banner.size() - 8), ""},
      {"prompt after the banner", banner + "Sign-on:", SignonSeen::Prompt, banner.size() + 8, banner + "Sign-on:", ""},
      {"prompt with a blank after it: taken to its colon", "Sign-on: ", SignonSeen::Prompt, 8, "Sign-on:", ""},
      {"accept line", "\r\nACCEPT: hello guest\r\n", SignonSeen::Accepted, 23, "\r\nACCEPT: hello guest\r\n", ""},
      {"accept: taken to the end of its line only", "ACCEPT: ok\r\n~PPP~", SignonSeen::Accepted, 12,
       "ACCEPT: ok\r\n", ""},
      {"reject: the detail runs from the colon to the line feed", "REJECT: unknown user\nmore",
       SignonSeen::Rejected, 21, "REJECT: unknown user\n", ": unknown user\n"},
      {"reject before its line ends: the detail is the colon", "REJECT: bad password", SignonSeen::Rejected, 7,
       "REJECT:", ":"},
      {"lost carrier: the byte after it shows as a colon", "\r\nNO CARRIER\r\n", SignonSeen::CarrierLost, 14,
       "\r\nNO CARRIER:\n", ""},
      {"lost carrier at the very end", "++NO CARRIER", SignonSeen::CarrierLost, 12, "++NO CARRIER", ""},
      {"table order, not position: accept before reject", "REJECT: no\r\nACCEPT: yes\r\n", SignonSeen::Accepted,
       25, "REJECT: no\r\nACCEPT: yes\r\n", ""},
      {"reject after the answered prompt: taken from the start", "Sign-on:guest\r\nREJECT: locked\n",
       SignonSeen::Rejected, 30, "Sign-on:guest\r\nREJECT: locked\n", ": locked\n"},
      {"buffer edge: a word past byte 255 waits", filler + "ACCEPT: ok\n", SignonSeen::Nothing, 247,
       filler.substr(0, 247), ""},
      {"buffer edge: a word inside the first 255 bytes", filler.substr(0, 240) + "ACCEPT: ok\n" + filler,
       SignonSeen::Accepted, 251, filler.substr(0, 240) + "ACCEPT: ok\n", ""},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    serlink::SignonScan scan = scan_signon(c.bytes);
    EXPECT_STREQ(seen_name(scan.seen), seen_name(c.seen));
    EXPECT_EQ(scan.taken, c.taken);
    EXPECT_EQ(scan.shown, c.shown);
    EXPECT_EQ(scan.detail, c.detail);
  }
}

// Feeds `deliveries` one after the other into a held buffer, scanning after
// each as the poll would (again while a pass takes bytes), until a word is
// seen. Returns what was seen; `shown` collects every traced piece.
struct Deliveries {
  SignonSeen seen = SignonSeen::Nothing;
  std::string shown;
  std::string detail;
  std::string held;  // what stays untaken at the end
};
Deliveries run_deliveries(const std::vector<std::string>& deliveries) {
  Deliveries run;
  for (const std::string& d : deliveries) {
    run.held += d;
    for (;;) {
      serlink::SignonScan scan = scan_signon(run.held);
      run.shown += scan.shown;
      run.held.erase(0, scan.taken);
      if (scan.seen != SignonSeen::Nothing) {
        run.seen = scan.seen;
        run.detail = scan.detail;
        return run;
      }
      if (scan.taken == 0) break;
    }
  }
  return run;
}

TEST(SignonScan, WordsSplitBetweenDeliveries) {
  const std::string banner = "\r\nVeloran sign-up host, line 3\r\n";
  std::string long_banner;
  for (int i = 0; i < 12; ++i) long_banner += "Terms of use, paragraph " + std::to_string(i) + ".\r\n";
  struct Case {
    const char* name;
    std::vector<std::string> deliveries;
    SignonSeen seen;
    std::string shown;  // all traced pieces together
    std::string detail;
  };
  const Case table[] = {
      {"prompt cut after \"Sign\"", {banner + "Sign", "-on:"}, SignonSeen::Prompt, banner + "Sign-on:", ""},
      {"prompt cut before its colon", {banner + "Sign-on", ":"}, SignonSeen::Prompt, banner + "Sign-on:", ""},
      {"accept cut after two letters", {"\r\nAC", "CEPT: welcome\r\n"}, SignonSeen::Accepted,
       "\r\nACCEPT: welcome\r\n", ""},
      {"reject cut inside its word", {banner + "REJE", "CT: no such user\n"}, SignonSeen::Rejected,
       banner + "REJECT: no such user\n", ": no such user\n"},
      {"lost carrier cut after \"NO CAR\"", {banner + "NO CAR", "RIER\r\n"}, SignonSeen::CarrierLost,
       banner + "NO CARRIER:\n", ""},
      {"one byte at a time", {"\r", "\n", "H", "i", "\r", "\n", "S", "i", "g", "n", "-", "o", "n", ":"},
       SignonSeen::Prompt, "\r\nHi\r\nSign-on:", ""},
      {"a banner longer than one pass, then the prompt", {long_banner + "Sign-on:"}, SignonSeen::Prompt,
       long_banner + "Sign-on:", ""},
      {"prompt straddling byte 255 of a long delivery", {long_banner.substr(0, 250) + "Sign-on:"},
       SignonSeen::Prompt, long_banner.substr(0, 250) + "Sign-on:", ""},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    Deliveries run = run_deliveries(c.deliveries);
    EXPECT_STREQ(seen_name(run.seen), seen_name(c.seen));
    EXPECT_EQ(run.shown, c.shown) << "every byte traced once, in order";
    EXPECT_EQ(run.detail, c.detail);
    EXPECT_EQ(run.held, "");
  }
}

// Without a word nothing is lost: every byte is either traced once or still
// held, and what is held is never more than the kept tail.
TEST(SignonScan, ChatterWithoutAWordIsTracedOnceAndTheTailKept) {
  std::string chatter;
  for (int i = 0; i < 40; ++i) chatter += "line " + std::to_string(i) + " of the host's news\r\n";
  Deliveries run = run_deliveries({chatter.substr(0, 100), chatter.substr(100, 400), chatter.substr(500)});
  EXPECT_EQ(run.seen, SignonSeen::Nothing);
  EXPECT_EQ(run.shown + run.held, chatter);
  EXPECT_EQ(run.held.size(), serlink::kSignonKeepTail);
}

}  // namespace
}  // namespace serlink_test
