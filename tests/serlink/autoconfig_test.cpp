// Port enumeration and modem auto-configuration against scripted modems.
#include <cstring>

#include "fixture.h"

namespace serlink_test {
namespace {

using EnumerationTest = SerlinkTest;
using AutoConfigTest = SerlinkTest;

std::vector<std::string> g_status;
int g_stop_at = -1;  // index of the status call that returns nonzero
std::int32_t record_status(const char* text) {
  g_status.push_back(text ? text : "<null>");
  return static_cast<int>(g_status.size()) - 1 == g_stop_at ? 1 : 0;
}

struct PortTable {
  SerialPortName names[4] = {};
  SerialPortName* entries[4] = {&names[0], &names[1], &names[2], &names[3]};
};

TEST_F(EnumerationTest, ModemsOnTwoPortsNoDeviceOnOneSilentOnAnother) {
  FakeModem silent(1, true), com2(2), com4(4);  // COM3 leads nowhere
  PortTable t;
  g_status.clear();
  g_stop_at = -1;
  ModemPortList list{4, t.entries, record_status};
  EXPECT_EQ(ModemPortEnumeration(&list), SERLINK_OK);
  ASSERT_EQ(list.count, 2u);
  EXPECT_EQ(t.names[0].port, 1);
  EXPECT_STREQ(t.names[0].name, "COM2:");
  EXPECT_EQ(t.names[1].port, 3);
  EXPECT_STREQ(t.names[1].name, "COM4:");
  EXPECT_EQ(g_status, (std::vector<std::string>{"Looking for a modem on COM1:.", "Looking for a modem on COM2:.",
                                                "Detected a modem on COM2:.", "Looking for a modem on COM4:.",
                                                "Detected a modem on COM4:."}));
  EXPECT_FALSE(serlink::channel_open());
}

TEST_F(EnumerationTest, CapacityOneStopsAtTheFirstModem) {
  FakeModem com1(1), com2(2);
  PortTable t;
  ModemPortList list{1, t.entries, nullptr};
  EXPECT_EQ(ModemPortEnumeration(&list), SERLINK_OK);
  EXPECT_EQ(list.count, 1u);
  EXPECT_EQ(t.names[0].port, 0);
  EXPECT_TRUE(com2.commands.empty()) << "COM2 was never tried";
  EXPECT_FALSE(serlink::channel_open());
}

TEST_F(EnumerationTest, NoModemAndStopByTheStatusCallback) {
  PortTable t;
  ModemPortList none{4, t.entries, nullptr};
  EXPECT_EQ(ModemPortEnumeration(&none), SERLINK_E_NO_MODEM);
  EXPECT_EQ(none.count, 0u);
  ModemPortList zero{0, t.entries, nullptr};
  EXPECT_EQ(ModemPortEnumeration(&zero), SERLINK_E_PARAM);

  FakeModem com1(1), com2(2);
  g_status.clear();
  g_stop_at = 2;  // at "Looking for a modem on COM2:."
  ModemPortList list{4, t.entries, record_status};
  EXPECT_EQ(ModemPortEnumeration(&list), SERLINK_E_STOPPED);
  EXPECT_EQ(list.count, 1u) << "what was found before the stop is kept";
  EXPECT_FALSE(serlink::channel_open());
}

struct Profile {
  const char* name;
  std::string ati0, ati3;
  std::set<std::string> refused;
  std::uint32_t max_baud;
  std::int32_t speed;
  const char* reset;
  const char* setup;
  std::int32_t flow;
};

TEST_F(AutoConfigTest, ProfilesOfTheKnownModemTable) {
  const Profile table[] = {
      {"generic accepts everything", "Generic", "Modem", {}, 1u << 30, 7, "AT &F",
       "AT W1 X4 &B1 &C1 &D2 &K3 &Q5 &S0 \\J0 \\Q3 %C1 +H0 S0=0 S37=0", SERLINK_FLOW_HARDWARE},
      {"class 4 Sportster", "288", "Sportster 28800", {}, 1u << 30, 8, "AT &F",
       "AT W1 X4 &B1 &C1 &D2 &K3 &Q5 &S0 \\J0 \\Q3 %C1 +H0 S0=0 S37=0", SERLINK_FLOW_HARDWARE},
      {"class 1 never &B1", "968", "x", {"&Q5"}, 1u << 30, 7, "AT &F",
       "AT W1 X4 &C1 &D2 &K3 &S0 \\J0 \\N3 \\Q3 %C1 +H0 S0=0 S37=0", SERLINK_FLOW_HARDWARE},
      {"class 2 never \\N3", "14400", "Gateway T", {"&Q5", "&K3", "\\Q3"}, 1u << 30, 7, "AT &F",
       "AT W1 X4 &B1 &C1 &D2 &S0 \\J0 *E5 %C1 +H0 S0=0 S37=0", 0},
      {"class 8 never &M4", "MHZ AT&T V.34", "", {"&Q5", "\\N3", "*E5"}, 1u << 30, 8, "AT &F",
       "AT W1 X4 &B1 &C1 &D2 &K3 &S0 \\J0 \\Q3 %C1 +H0 S0=0 S37=0", SERLINK_FLOW_HARDWARE},
      {"refuses &F", "2400", "", {"&F"}, 1u << 30, 2, "AT Z",
       "AT W1 X4 &B1 &C1 &D2 &K3 &Q5 &S0 \\J0 \\Q3 %C1 +H0 S0=0 S37=0", SERLINK_FLOW_HARDWARE},
      {"refuses both resets", "Generic", "", {"&F", "Z"}, 1u << 30, 7, "AT Z",
       "AT W1 X4 &B1 &C1 &D2 &K3 &Q5 &S0 \\J0 \\Q3 %C1 +H0 S0=0 S37=0", SERLINK_FLOW_HARDWARE},
      {"answers only up to 9600", "Generic", "", {}, 9600, 5, "AT &F",
       "AT W1 X4 &B1 &C1 &D2 &K3 &Q5 &S0 \\J0 \\Q3 %C1 +H0 S0=0 S37=0", SERLINK_FLOW_HARDWARE},
  };
  for (const Profile& p : table) {
    FakeModem com2(2);
    com2.ati0 = p.ati0;
    com2.ati3 = p.ati3;
    com2.refused = p.refused;
    com2.max_baud = p.max_baud;
    char reset[SERLINK_RESET_SIZE] = "junk";
    char setup[SERLINK_SETUP_SIZE] = "junk";
    g_status.clear();
    g_stop_at = -1;
    ModemAutoConfigRecord rec{{1, 0, 0, 0, 0, 0}, reset, setup, record_status};
    EXPECT_EQ(ModemAutoConfigure(&rec), SERLINK_OK) << p.name;
    EXPECT_EQ(rec.metrics.channel, 1);
    EXPECT_EQ(rec.metrics.speed, p.speed) << p.name;
    EXPECT_EQ(rec.metrics.data_bits, 8);
    EXPECT_EQ(rec.metrics.flow, p.flow) << p.name;
    EXPECT_STREQ(reset, p.reset) << p.name;
    EXPECT_STREQ(setup, p.setup) << p.name;
    EXPECT_EQ(g_status.back(), "Modem auto-configuration complete.");
    EXPECT_EQ(std::count(g_status.begin(), g_status.end(), "<null>"), 17) << "one abort check per row";
    EXPECT_FALSE(serlink::channel_open());
  }
}

TEST_F(AutoConfigTest, ErrorControlRowsStopAfterTheFirstAccepted) {
  FakeModem com1(1);
  char reset[SERLINK_RESET_SIZE], setup[SERLINK_SETUP_SIZE];
  ModemAutoConfigRecord rec{{0, 0, 0, 0, 0, 0}, reset, setup, nullptr};
  ASSERT_EQ(ModemAutoConfigure(&rec), SERLINK_OK);
  EXPECT_TRUE(com1.sent("AT &Q5"));
  for (const char* skipped : {"AT \\N3", "AT *E5", "AT &M4"}) EXPECT_FALSE(com1.sent(skipped)) << skipped;
}

TEST_F(AutoConfigTest, StopAtPortSpeedLeavesBothStringsEmpty) {
  FakeModem com1(1);
  char reset[SERLINK_RESET_SIZE] = "old";
  char setup[SERLINK_SETUP_SIZE] = "old";
  g_status.clear();
  g_stop_at = 2;
  ModemAutoConfigRecord rec{{0, 0, 0, 0, 0, 0}, reset, setup, record_status};
  EXPECT_EQ(ModemAutoConfigure(&rec), SERLINK_E_STOPPED);
  EXPECT_EQ(g_status, (std::vector<std::string>{"Setting up modem on COM1:.", "Checking modem's capabilities.",
                                                "Establishing port speed."}))
      << "no final text after a stop";
  EXPECT_STREQ(reset, "");
  EXPECT_STREQ(setup, "");
  EXPECT_FALSE(serlink::channel_open());
}

TEST_F(AutoConfigTest, FinalTextsForNoModemAndNoPort) {
  char reset[SERLINK_RESET_SIZE], setup[SERLINK_SETUP_SIZE];
  g_status.clear();
  g_stop_at = -1;
  ModemAutoConfigRecord rec{{0, 0, 0, 0, 0, 0}, reset, setup, record_status};
  EXPECT_EQ(ModemAutoConfigure(&rec), SERLINK_E_NO_PORT);
  EXPECT_EQ(g_status, std::vector<std::string>{"Problem with modem/port; Modem auto-configuration failed!"});
  FakeModem silent(1, true);
  g_status.clear();
  EXPECT_EQ(ModemAutoConfigure(&rec), SERLINK_E_NO_MODEM);
  EXPECT_EQ(g_status.back(), "A modem was not detected!");
}

}  // namespace
}  // namespace serlink_test
