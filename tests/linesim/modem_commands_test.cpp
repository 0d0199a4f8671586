// AT exchanges per profile: what the modem answers, byte for byte.
#include <gtest/gtest.h>

#include <random>

#include "harness.h"
#include "linesim/profile.h"

namespace linesim::test {
namespace {

struct Exchange1 {
  const char* name;
  const char* profile;
  std::vector<std::pair<std::string, std::string>> steps;  // bytes in, bytes out
};

class AtTable : public ::testing::TestWithParam<Exchange1> {};

TEST_P(AtTable, AnswersAsHayes) {
  const Exchange1& c = GetParam();
  Bench b(c.profile);
  for (std::size_t i = 0; i < c.steps.size(); ++i)
    EXPECT_EQ(b.at(c.steps[i].first), c.steps[i].second) << c.name << ", step " << i;
}

const std::string kOk = "\r\nOK\r\n";
const std::string kError = "\r\nERROR\r\n";

INSTANTIATE_TEST_SUITE_P(
    Exchanges, AtTable,
    ::testing::Values(
        Exchange1{"echo_then_ok", "generic", {{"AT\r", "AT\r" + kOk}}},
        Exchange1{"wizard_reset", "generic", {{"\r\rAT&F\r", "\r\rAT&F\r" + kOk}}},
        Exchange1{"wizard_init",
                  "generic",
                  {{"ATE0Q0V1&C1&D2S2=43S7=60S12=50\r", "ATE0Q0V1&C1&D2S2=43S7=60S12=50\r" + kOk},
                   {"ATS2?S7?S12?\r", "\r\n043\r\n\r\n060\r\n\r\n050\r\n" + kOk}}},
        Exchange1{"bare_letters_mean_zero", "generic", {{"AT Q E V1\r", "AT Q E V1\r" + kOk}, {"AT\r", kOk}}},
        Exchange1{"lower_case_and_blanks", "generic", {{"ate0\r", "ate0\r" + kOk}, {"at &f e0 s7=30 s7?\r", "\r\n030\r\n" + kOk}}},
        Exchange1{"numeric_results",
                  "generic",
                  {{"ATE0V0\r", std::string("ATE0V0\r") + "0\r"}, {"ATX9\r", "4\r"}, {"ATI0\r", "28800\r\n0\r"}, {"ATV1\r", kOk}}},
        Exchange1{"quiet_keeps_information", "generic", {{"ATE0Q1\r", std::string("ATE0Q1\r") + ""}, {"ATI3\r", "\r\nLinesim Data/Fax\r\n"}, {"ATQ0\r", kOk}}},
        Exchange1{"error_stops_the_line", "generic", {{"ATE0X9V0\r", std::string("ATE0X9V0\r") + kError}, {"AT\r", kOk}}},
        Exchange1{"register_limits",
                  "generic",
                  {{"ATE0S7=256\r", std::string("ATE0S7=256\r") + kError}, {"ATS256=1\r", kError}, {"ATS37=0S0=0\r", kOk}, {"ATS37?\r", "\r\n000\r\n" + kOk}}},
        Exchange1{"selected_register", "generic", {{"ATE0S8\r", std::string("ATE0S8\r") + kOk}, {"AT?\r", "\r\n002\r\n" + kOk}}},
        Exchange1{"junk_before_at", "generic", {{"ATE0\r", "ATE0\r" + kOk}, {"xyz\x01" "ATS7=9\r", kOk}, {"hello\r", ""}}},
        Exchange1{"nuls_are_dropped", "generic", {{std::string("A\0T\0E0\0\r", 8), "ATE0\r" + kOk}}},
        Exchange1{"backspace_edits", "generic", {{"ATE0\r", "ATE0\r" + kOk}, {"ATS7=99\b\b40\r", kOk}, {"ATS7?\r", "\r\n040\r\n" + kOk}}},
        Exchange1{"repeat_last", "generic", {{"ATE0S7?\r", std::string("ATE0S7?\r") + "\r\n050\r\n" + kOk}, {"A/", "\r\n050\r\n" + kOk}}},
        Exchange1{"no_call_to_answer", "generic", {{"ATE0A\r", std::string("ATE0A\r") + "\r\nNO CARRIER\r\n"}, {"ATO\r", kError}}},
        Exchange1{"reset_restores_stored",
                  "generic",
                  {{"ATE0S7=33&W\r", "ATE0S7=33&W\r" + kOk}, {"ATE1S7=10Z\r", kOk}, {"ATS7?\r", "\r\n033\r\n" + kOk}}},
        Exchange1{"factory_refused", "nofactory", {{"ATE0&F\r", std::string("ATE0&F\r") + kError}, {"ATZ\r", kOk}, {"AT &C1 &D2\r", "AT &C1 &D2\r" + kOk}}},
        Exchange1{"class1_refuses_b1", "tbsa965", {{"ATE0&B1\r", std::string("ATE0&B1\r") + kError}, {"AT&B0\r", kOk}, {"ATI0\r", "\r\n965\r\n" + kOk}}},
        Exchange1{"class2_refuses_n3", "gateway", {{"ATE0\\N3\r", std::string("ATE0\\N3\r") + kError}, {"ATI3\r", "\r\nGateway Telepath\r\n" + kOk}}},
        Exchange1{"class8_refuses_m4", "attv34", {{"ATE0&M4\r", std::string("ATE0&M4\r") + kError}, {"AT&Q5\r", kOk}}},
        Exchange1{"old_modem_basic_only",
                  "hayes2400",
                  {{"ATE0&K3\r", std::string("ATE0&K3\r") + kError}, {"AT\\N3\r", kError}, {"AT+H0\r", kError}, {"ATS37=0\r", kError}, {"ATX4&C1&D2\r", kOk}}},
        Exchange1{"extended_commands", "generic", {{"ATE0+H0\r", std::string("ATE0+H0\r") + kOk}, {"AT+MS=11,1;E0\r", kOk}, {"AT*E5%C1\\J0\r", kOk}}},
        Exchange1{"silent_port", "silent", {{"AT\r", ""}, {"ATI0\r", ""}}}),
    [](const ::testing::TestParamInfo<Exchange1>& info) { return std::string(info.param.name); });

// The option commands that auto-configuration tries, as each profile takes them.
TEST(Options, AcceptedByProfile) {
  const std::vector<std::string> options = {"W1", "X4",  "&B1", "&C1", "&D2", "&K3",  "&Q5", "&S0",  "\\J0",
                                            "\\N3", "\\Q3", "*E5", "&M4", "%C1", "+H0", "S0=0", "S37=0"};
  const std::map<std::string, std::vector<std::string>> refused = {
      {"generic", {}},        {"tbsa965", {"&B1"}}, {"m968", {"&B1"}},  {"t2500", {"&B1"}},
      {"gateway", {"\\N3"}},  {"sportster144", {}}, {"sportster288", {}}, {"attv34", {"&M4"}},
      {"nofactory", {}},
      {"hayes2400", {"W1", "&B1", "&K3", "&Q5", "&S0", "\\J0", "\\N3", "\\Q3", "*E5", "&M4", "%C1", "+H0", "S37=0"}},
  };
  for (const auto& [profile, no] : refused) {
    Bench b(profile);
    b.at("ATE0\r");
    for (const std::string& option : options) {
      bool expect_refused = std::find(no.begin(), no.end(), option) != no.end();
      EXPECT_EQ(b.at("AT " + option + "\r"), expect_refused ? kError : kOk) << profile << " " << option;
    }
  }
}

// Which row of serlink's identification table each profile's identity
// answers land in is checked against the library's own table, in
// tests/serlink/linesim_identity_test.cpp.

TEST(BadInput, LongLineAnswersErrorAndTheModemGoesOn) {
  Bench b;
  b.at("ATE0\r");
  EXPECT_EQ(b.at("AT" + std::string(10'000, 'X') + "\r"), kError);
  EXPECT_EQ(b.at("AT\r"), kOk);
  Bench old("hayes2400");
  old.at("ATE0\r");
  EXPECT_EQ(old.at("AT" + std::string(41, 'E') + "\r"), kError);  // 40 characters at most
  EXPECT_EQ(old.at("AT" + std::string(40, 'E') + "\r"), kOk);
}

TEST(BadInput, JunkBytesNeverStopTheScanner) {
  std::mt19937 rng(7);
  for (const char* profile : {"generic", "hayes2400", "silent"}) {
    Bench b(profile);
    std::string junk;
    while (junk.size() < 200'000) {
      char c = static_cast<char>(rng() & 0xFF);
      if (c != 'A' && c != 'a') junk += c;  // no command can start
    }
    EXPECT_LE(b.at(junk).size(), Modem::kMaxOutput);  // echo is on: the junk comes back, bounded
    std::string answer = b.at("\rATE0\r");
    if (std::string(profile) == "silent") {
      EXPECT_EQ(answer, "");
    } else {
      ASSERT_GE(answer.size(), kOk.size());
      EXPECT_EQ(answer.substr(answer.size() - kOk.size()), kOk) << profile;
    }
  }
}

TEST(BadInput, RandomCommandLinesNeverCrashOrStall) {
  std::mt19937 rng(11);
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789&\\%*+=?;,@!/ ";
  Bench b;
  for (int line = 0; line < 2000; ++line) {
    std::string cmd = "AT";
    int n = static_cast<int>(rng() % 30);
    for (int i = 0; i < n; ++i) cmd += alphabet[rng() % alphabet.size()];
    cmd += static_cast<char>(b.modem->s_register(3));
    b.modem->feed(cmd);
    b.modem->tick();
    EXPECT_LE(b.modem->take_output().size(), Modem::kMaxOutput);
  }
  b.run(20'000'000, 100'000);  // any dial the lines started ends: S7 and "," pauses are bounded
  EXPECT_NE(b.modem->mode(), Modem::Mode::Dialing);
}

TEST(BadInput, UnreadOutputIsBounded) {
  Bench b;
  for (int i = 0; i < 20'000; ++i) b.modem->feed("AT\r");  // echo on, nobody reads
  EXPECT_LE(b.modem->take_output().size(), Modem::kMaxOutput);
  EXPECT_EQ(b.at("ATE0\r").substr(0, 4), "ATE0");
}

TEST(Lines, ModemPresentAndCarrierFollowsAndC) {
  Bench b;
  ModemLines l = b.modem->lines();
  EXPECT_TRUE(l.dsr);
  EXPECT_TRUE(l.cts);
  EXPECT_FALSE(l.dcd);  // &C1: no call
  b.at("AT&C0\r");
  EXPECT_TRUE(b.modem->lines().dcd);
  Bench silent("silent");
  l = silent.modem->lines();
  EXPECT_FALSE(l.dsr || l.cts || l.dcd || l.ri);
}

}  // namespace
}  // namespace linesim::test
