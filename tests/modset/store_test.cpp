// The settings store: records through TARK_NET.INI and back, defaults,
// cut-to-size values, the POP list, bad input, failing files and the
// carrying over of the old "ZRS Modem" section.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "modset.h"
#include "platform/storage/system_root.h"
#include "profile_section.h"
#include "records.h"

namespace fs = std::filesystem;

namespace {

std::tm fixed_time() {
  std::tm t{};
  t.tm_year = 96;
  t.tm_mon = 6;   // July
  t.tm_mday = 4;
  t.tm_wday = 4;  // Thursday
  t.tm_hour = 9;
  t.tm_min = 5;
  t.tm_sec = 7;
  return t;
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Store : public ::testing::Test {
 protected:
  void SetUp() override { modset::set_stamp_clock(fixed_time); }
  void TearDown() override { modset::set_stamp_clock(nullptr); }
  fs::path ini() const { return root_.path() / "drive_c/windows/TARK_NET.INI"; }
  void write_ini(const std::string& text) {
    fs::create_directories(ini().parent_path());
    std::ofstream(ini(), std::ios::binary) << text;
  }
  platform::ScopedSystemRoot root_;
};

template <std::size_t N>
bool zero_padded(const char (&field)[N]) {
  std::size_t n = strnlen(field, N);
  if (n == N) return false;
  for (std::size_t i = n; i < N; ++i)
    if (field[i] != 0) return false;
  return true;
}

}  // namespace

TEST_F(Store, MissingFileGivesDefaults) {
  CfgDialingInfo d;
  std::memset(&d, 'x', sizeof d);
  ASSERT_EQ(CfgGetDialingInfo(&d), CFG_DEFAULTS);
  EXPECT_EQ(d.DialType, 1);
  EXPECT_STREQ(d.DisableCallWaiting, "");
  EXPECT_STREQ(d.DialPrefix, "");
  EXPECT_STREQ(d.DialLongDistance, "1");
  EXPECT_EQ(d.DialBlind, 0);
  EXPECT_TRUE(zero_padded(d.DialLongDistance) && zero_padded(d.DialPrefix));

  CfgModemInfo m;
  std::memset(&m, 'x', sizeof m);
  ASSERT_EQ(CfgGetModemInfo(&m), CFG_DEFAULTS);
  EXPECT_STREQ(m.PortName, "COM1");
  EXPECT_EQ(m.CommPort, 0);
  EXPECT_EQ(m.BaudRate, 2);
  EXPECT_EQ(m.FlowControl, 0);
  EXPECT_EQ(m.SpeakerOff, 0);
  EXPECT_STREQ(m.ResetString, "AT Z");
  EXPECT_STREQ(m.SetupString, "");
  EXPECT_TRUE(zero_padded(m.PortName) && zero_padded(m.SetupString));

  CfgZrsAccessInfo z;
  std::memset(&z, 'x', sizeof z);
  ASSERT_EQ(CfgGetZrsAccessInfo(&z), CFG_DEFAULTS);
  EXPECT_EQ(z.UseCustomAccess, 0);
  EXPECT_STREQ(z.CustomAccessNumber, "");
  EXPECT_STREQ(z.PrimaryAccessNumber, "950-0132");
  EXPECT_STREQ(z.AlternateAccessNumber, "1-800-555-0199");
  EXPECT_EQ(z.PrimaryAccessTimeout, 40);
  EXPECT_EQ(z.AlternateAccessTimeout, 60);
  EXPECT_EQ(z.PrimaryAccessRedial, 1);
  EXPECT_EQ(z.AlternateAccessRedial, 1);
  EXPECT_STREQ(z.Service, "tarkel96");

  CfgNsvConfigInfo n;
  std::memset(&n, 'x', sizeof n);
  n.PopList = {0, nullptr};
  ASSERT_EQ(CfgGetNsvConfigInfo(&n), CFG_DEFAULTS);
  EXPECT_STREQ(n.AreaCode, "");
  EXPECT_STREQ(n.UserId, "");
  EXPECT_EQ(n.UseSelectedPop, 0);
  EXPECT_STREQ(n.SelectedPop, "");
  EXPECT_STREQ(n.SelectedAccess, "");
  EXPECT_STREQ(n.CustomPop, "");
  EXPECT_STREQ(n.CustomAccess, "");
  EXPECT_EQ(n.PopList.count, 0);

  EXPECT_FALSE(fs::exists(ini())) << "a Get never creates the file";
}

TEST_F(Store, SectionOrKeyMissingGivesDefaults) {
  // Section present without a stamp: stored values where present.
  write_ini("[Dialing Information]\nDial Prefix=9,\nDial Type=\n[Modem Information]\nLast Update=x\n");
  CfgDialingInfo d{};
  EXPECT_EQ(CfgGetDialingInfo(&d), CFG_DEFAULTS);
  EXPECT_STREQ(d.DialPrefix, "9,");
  EXPECT_EQ(d.DialType, 1) << "an empty value reads as the default";
  CfgModemInfo m{};
  EXPECT_EQ(CfgGetModemInfo(&m), CFG_OK);
  EXPECT_STREQ(m.PortName, "COM1");
  EXPECT_STREQ(m.ResetString, "AT Z");
}

TEST_F(Store, EveryRecordRoundTrips) {
  CfgDialingInfo d{};
  d.DialType = 0;
  std::strcpy(d.DisableCallWaiting, "1170,");
  std::strcpy(d.DialPrefix, "123456789012345");
  std::strcpy(d.DialLongDistance, "011");
  d.DialBlind = 0;
  ASSERT_EQ(CfgPutDialingInfo(&d), CFG_OK);
  CfgDialingInfo d2;
  std::memset(&d2, 'x', sizeof d2);
  ASSERT_EQ(CfgGetDialingInfo(&d2), CFG_OK);
  EXPECT_EQ(std::memcmp(&d, &d2, sizeof d), 0);

  CfgModemInfo m{};
  std::strcpy(m.PortName, "COM2:");
  m.CommPort = 1;
  m.BaudRate = 13;
  m.FlowControl = 12;
  m.SpeakerOff = 0;
  std::strcpy(m.ResetString, "AT &F");
  std::strcpy(m.SetupString, "AT&C1&D2");  // no M or X command: returned as stored
  ASSERT_EQ(CfgPutModemInfo(&m), CFG_OK);
  CfgModemInfo m2;
  std::memset(&m2, 'x', sizeof m2);
  ASSERT_EQ(CfgGetModemInfo(&m2), CFG_OK);
  EXPECT_EQ(std::memcmp(&m, &m2, sizeof m), 0);

  CfgZrsAccessInfo z{};
  z.UseCustomAccess = 1;
  std::strcpy(z.CustomAccessNumber, "9,555-0100");
  std::strcpy(z.PrimaryAccessNumber, "555-0111");
  z.PrimaryAccessTimeout = -5;
  z.PrimaryAccessRedial = 3;
  std::strcpy(z.AlternateAccessNumber, "1-800-555-0100");
  z.AlternateAccessTimeout = INT32_MAX;
  z.AlternateAccessRedial = INT32_MIN;
  std::strcpy(z.Service, "1234567890123456789012345678901");
  ASSERT_EQ(CfgPutZrsAccessInfo(&z), CFG_OK);
  CfgZrsAccessInfo z2;
  std::memset(&z2, 'x', sizeof z2);
  ASSERT_EQ(CfgGetZrsAccessInfo(&z2), CFG_OK);
  EXPECT_EQ(std::memcmp(&z, &z2, sizeof z), 0);

  CfgNsvPopEntry pops[3] = {{"SFO", "415-555-0100"}, {"NYC12", "212-555-0100"}, {"B", "1"}};
  CfgNsvConfigInfo n{};
  std::strcpy(n.AreaCode, "415");
  std::strcpy(n.UserId, "jdoe");
  n.UseSelectedPop = 1;
  std::strcpy(n.SelectedPop, "SFO");
  std::strcpy(n.SelectedAccess, "415-555-0100");
  std::strcpy(n.CustomPop, "X");
  std::strcpy(n.CustomAccess, "555-0100");
  n.PopList = {3, pops};
  ASSERT_EQ(CfgPutNsvConfigInfo(&n), CFG_OK);
  CfgNsvPopEntry back[5];
  std::memset(back, 'x', sizeof back);
  CfgNsvConfigInfo n2;
  std::memset(&n2, 'x', sizeof n2);
  n2.PopList = {5, back};
  ASSERT_EQ(CfgGetNsvConfigInfo(&n2), CFG_OK);
  EXPECT_EQ(std::memcmp(&n, &n2, offsetof(CfgNsvConfigInfo, CustomAccess) + sizeof n.CustomAccess), 0);
  ASSERT_EQ(n2.PopList.count, 3);
  EXPECT_EQ(n2.PopList.entries, back);
  EXPECT_EQ(std::memcmp(pops, back, sizeof pops), 0);
}

TEST_F(Store, DefaultRecordsStoreEmptyValues) {
  CfgDialingInfo d{};
  ASSERT_EQ(CfgGetDialingInfo(&d), CFG_DEFAULTS);
  ASSERT_EQ(CfgPutDialingInfo(&d), CFG_OK);
  EXPECT_EQ(slurp(ini()),
            "[Dialing Information]\nDial Type=\nDial Blind=\nDisable Call Waiting=\nDial Prefix=\n"
            "Dial Long Distance=\nLast Update=Thu Jul 04 09:05:07 1996\n");
  CfgDialingInfo d2{};
  EXPECT_EQ(CfgGetDialingInfo(&d2), CFG_OK);
  EXPECT_EQ(std::memcmp(&d, &d2, sizeof d), 0);
}

// The file a set of Puts makes, beside another program's sections, byte for byte.
TEST_F(Store, GoldenFile) {
  write_ini("; shared by the Tarkel programs\n[TCP/IP]\nDomain=tarkel.example\n\n[Testing]\nLevel=2\n");
  CfgDialingInfo d{};
  CfgGetDialingInfo(&d);
  std::strcpy(d.DialPrefix, "9,");
  d.DialBlind = 1;
  ASSERT_EQ(CfgPutDialingInfo(&d), CFG_OK);
  CfgModemInfo m{};
  CfgGetModemInfo(&m);
  std::strcpy(m.PortName, "COM3");
  m.CommPort = 2;
  m.BaudRate = 9;
  m.FlowControl = 4;
  std::strcpy(m.SetupString, "AT&FM1X4");
  ASSERT_EQ(CfgPutModemInfo(&m), CFG_OK);
  CfgZrsAccessInfo z{};
  CfgGetZrsAccessInfo(&z);
  std::strcpy(z.CustomAccessNumber, "555-0123");
  ASSERT_EQ(CfgPutZrsAccessInfo(&z), CFG_OK);
  CfgNsvPopEntry pops[2] = {{"SFO", "(415) 555-0100"}, {"NYC", "212-555-0100"}};
  CfgNsvConfigInfo n{};
  std::strcpy(n.AreaCode, "212");
  n.UseSelectedPop = 1;
  std::strcpy(n.SelectedAccess, "212-555-0100");
  n.PopList = {2, pops};
  ASSERT_EQ(CfgPutNsvConfigInfo(&n), CFG_OK);
  // Storing the dialing record again replaces its section in place.
  d.DialType = 0;
  ASSERT_EQ(CfgPutDialingInfo(&d), CFG_OK);
  EXPECT_EQ(slurp(ini()), slurp(fs::path(VLR_TEST_DATA_DIR) / "golden_tark_net.ini"));
}

TEST_F(Store, LongStoredValuesAreCut) {
  std::string forty(40, 'P');
  write_ini("[Modem Information]\nPort Name=" + forty + "\nSetup String=" + std::string(300, 'Q') +
            "\n[NSV Config Information]\nArea Code=41500\nSelected Pop=ABCDEFGH\n");
  CfgModemInfo m;
  std::memset(&m, 'x', sizeof m);
  EXPECT_EQ(CfgGetModemInfo(&m), CFG_DEFAULTS);
  EXPECT_EQ(std::string(m.PortName), forty.substr(0, 31));
  EXPECT_EQ(std::string(m.SetupString), std::string(63, 'Q'));
  CfgNsvConfigInfo n{};
  EXPECT_EQ(CfgGetNsvConfigInfo(&n), CFG_DEFAULTS);
  EXPECT_STREQ(n.AreaCode, "415");
  EXPECT_STREQ(n.SelectedPop, "ABCDE");
}

TEST_F(Store, UnterminatedFieldsAreStoredCut) {
  CfgDialingInfo d{};
  d.DialType = 1;
  std::memset(d.DisableCallWaiting, '7', sizeof d.DisableCallWaiting);  // no zero
  std::memset(d.DialPrefix, '9', sizeof d.DialPrefix);
  std::strcpy(d.DialLongDistance, "1");
  ASSERT_EQ(CfgPutDialingInfo(&d), CFG_OK);
  CfgDialingInfo back{};
  ASSERT_EQ(CfgGetDialingInfo(&back), CFG_OK);
  EXPECT_EQ(std::string(back.DisableCallWaiting), std::string(7, '7'));
  EXPECT_EQ(std::string(back.DialPrefix), std::string(15, '9'));
}

TEST_F(Store, IntegersReadByAtoi) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {{"abc", 0}, {"12x", 12}, {"  -7", -7}, {"+8", 8}, {"99999999999", INT32_MAX},
               {"-99999999999", INT32_MIN}, {"\"5\"", 5}};
  for (const Case& c : cases) {
    write_ini(std::string("[Modem Information]\nBaud Rate=") + c.text + "\n");
    CfgModemInfo m{};
    EXPECT_EQ(CfgGetModemInfo(&m), CFG_DEFAULTS);
    EXPECT_EQ(m.BaudRate, c.value) << c.text;
  }
}

TEST(SetupString, PatchTable) {
  struct Case {
    const char* name;
    const char* in;
    bool speaker_off, blind;
    const char* out;
  } cases[] = {
      {"speaker off appends M0", "ATZ", true, false, "ATZ M0"},
      {"blind appends X3", "ATZ", false, true, "ATZ X3"},
      {"nothing to say", "ATZ", false, false, "ATZ"},
      {"extended M skipped", "AT&M5M2X4", false, true, "AT&M5M1X3"},
      {"first position never counts", "M1", true, false, "M1 M0"},
      {"second digit blanked", "ATX12", false, true, "ATX3 "},
      {"lower case", "atm2x3", true, false, "atm0x4"},
      {"letter last gets its digit", "ATM", true, true, "ATM0 X3"},
      {"X last gets its digit", "ATX", false, false, "ATX4"},
      {"every extended prefix", "A&M\\M%M*M~M$M)M:M#M+M", false, false, "A&M\\M%M*M~M$M)M:M#M+M"},
      {"empty, speaker off", "", true, true, " M0 X3"},
  };
  for (const Case& c : cases) {
    std::string s = c.in;
    modset::patch_setup_string(s, c.speaker_off, c.blind);
    EXPECT_EQ(s, c.out) << c.name;
  }
}

TEST(SetupString, PatchNeverOutgrowsTheField) {
  std::string full(62, 'A');
  std::string s = full;
  modset::patch_setup_string(s, true, true);
  EXPECT_EQ(s, full) << "\" M0\" and \" X3\" do not fit and are left out";
  s = std::string(60, 'A');
  modset::patch_setup_string(s, true, true);
  EXPECT_EQ(s, std::string(60, 'A') + " M0");
  s = "A" + std::string(61, 'B') + "M";  // 63 characters, M last
  modset::patch_setup_string(s, true, false);
  EXPECT_EQ(s.size(), 63u);
}

TEST(SetupString, ParseTable) {
  struct Case {
    const char* in;
    int32_t speaker_off, blind;
  } cases[] = {{"ATM0X3", 1, 1}, {"ATX4", 0, 0}, {"ATX0", 0, 1}, {"", 0, 0},  {"ATX2", 0, 0},
               {"AT&M0", 0, 0},  {"M0", 0, 0},   {"ATX12X4", 0, 0}, {"ATX12", 0, 0}, {"ATM1X", 0, 1}};
  for (const Case& c : cases) {
    int32_t speaker = -1, blind = -1;
    modset::parse_setup_string(c.in, speaker, blind);
    EXPECT_EQ(speaker, c.speaker_off) << c.in;
    EXPECT_EQ(blind, c.blind) << c.in;
  }
}

TEST_F(Store, GetModemPatchesFromCurrentSettings) {
  CfgModemInfo m{};
  CfgGetModemInfo(&m);
  std::strcpy(m.SetupString, "ATZ");
  m.SpeakerOff = 1;
  ASSERT_EQ(CfgPutModemInfo(&m), CFG_OK);
  CfgModemInfo back{};
  ASSERT_EQ(CfgGetModemInfo(&back), CFG_OK);
  EXPECT_STREQ(back.SetupString, "ATZ M0");
  CfgDialingInfo d{};
  CfgGetDialingInfo(&d);
  d.DialBlind = 1;
  ASSERT_EQ(CfgPutDialingInfo(&d), CFG_OK);
  ASSERT_EQ(CfgGetModemInfo(&back), CFG_OK);
  EXPECT_STREQ(back.SetupString, "ATZ M0 X3");
  EXPECT_NE(slurp(ini()).find("Setup String=ATZ\n"), std::string::npos) << "stored string unchanged";
}

TEST_F(Store, PopListReadRespectsCapacityAndSkipsLongNames) {
  write_ini("[NSV POP List]\nAAA=1\nTOOLONG=2\nBBB=3\nCCC=" + std::string(50, '4') + "\n");
  CfgNsvPopEntry e[3];
  std::memset(e, 'x', sizeof e);
  CfgNsvConfigInfo n{};
  n.PopList = {2, e};
  EXPECT_EQ(CfgGetNsvConfigInfo(&n), CFG_DEFAULTS);
  ASSERT_EQ(n.PopList.count, 2);
  EXPECT_STREQ(e[0].Pop, "AAA");
  EXPECT_STREQ(e[1].Pop, "BBB") << "the long name leaves no hole";
  EXPECT_STREQ(e[1].AccessNumber, "3");
  EXPECT_EQ(e[2].Pop[0], 'x') << "nothing written beyond the capacity";
  n.PopList = {3, e};
  EXPECT_EQ(CfgGetNsvConfigInfo(&n), CFG_DEFAULTS);
  ASSERT_EQ(n.PopList.count, 3);
  EXPECT_EQ(std::string(e[2].AccessNumber), std::string(39, '4'));
  n.PopList = {3, nullptr};
  EXPECT_EQ(CfgGetNsvConfigInfo(&n), CFG_DEFAULTS) << "a refused list does not change the result";
  EXPECT_EQ(n.PopList.count, 0);
}

TEST_F(Store, PopListingLimit) {
  // 512 names of 5 characters fill the 3073-byte listing exactly.
  std::string text = "[NSV POP List]\n";
  for (int i = 0; i < 513; ++i) text += "P" + std::to_string(10000 + i).substr(1) + "=555\n";
  write_ini(text);
  std::vector<CfgNsvPopEntry> e(600);
  CfgNsvConfigInfo n{};
  n.PopList = {600, e.data()};
  CfgGetNsvConfigInfo(&n);
  ASSERT_EQ(n.PopList.count, 512);
  EXPECT_STREQ(e[511].Pop, "P0511");
  // A name that the listing would cut is left out whole, never half read.
  text = "[NSV POP List]\n";
  for (int i = 0; i < 511; ++i) text += "P" + std::to_string(10000 + i).substr(1) + "=555\n";
  text += "ABCDEF=1\nXY=2\n";  // ABCDEF would need 7 bytes; 6 remain
  write_ini(text);
  n.PopList = {600, e.data()};
  CfgGetNsvConfigInfo(&n);
  EXPECT_EQ(n.PopList.count, 511);
}

TEST_F(Store, PopListPut) {
  CfgNsvPopEntry first[2] = {{"AAA", "1"}, {"BBB", "2"}};
  CfgNsvConfigInfo n{};
  n.PopList = {2, first};
  ASSERT_EQ(CfgPutNsvConfigInfo(&n), CFG_OK);

  // A bad entry is left out and the Put says CFG_E_WRITE, but the record
  // and the good entries are stored; a null array leaves the list alone; a
  // negative count deletes it.
  CfgNsvPopEntry bad_pop[2] = {{"CCC", "3"}, {"", "4"}};
  CfgNsvPopEntry bad_number[2] = {{"CCC", ""}, {"DDD", "4"}};
  CfgNsvPopEntry long_pop[1];
  std::memset(long_pop[0].Pop, 'Z', sizeof long_pop[0].Pop);
  std::strcpy(long_pop[0].AccessNumber, "5");
  CfgNsvPopEntry long_number[1];
  std::strcpy(long_number[0].Pop, "D");
  std::memset(long_number[0].AccessNumber, '6', sizeof long_number[0].AccessNumber);
  CfgNsvPopEntry equals_sign[2] = {{"A=B", "7"}, {"EEE", "8"}};
  struct Case {
    const char* name;
    CfgNsvPopList list;
    int32_t result;
    const char* list_after;  // "NAME=NUMBER;..." as read back
  } cases[] = {
      {"empty identifier", {2, bad_pop}, CFG_E_WRITE, "CCC=3;"},
      {"empty number", {2, bad_number}, CFG_E_WRITE, "DDD=4;"},
      {"identifier unterminated", {1, long_pop}, CFG_E_WRITE, ""},
      {"number unterminated", {1, long_number}, CFG_E_WRITE, ""},
      {"identifier not storable", {2, equals_sign}, CFG_E_WRITE, "EEE=8;"},
      {"null array", {2, nullptr}, CFG_E_WRITE, "AAA=1;BBB=2;"},
      {"negative count", {-1, first}, CFG_OK, ""},
  };
  for (const Case& c : cases) {
    n.PopList = {2, first};
    std::strcpy(n.UserId, "before");
    ASSERT_EQ(CfgPutNsvConfigInfo(&n), CFG_OK);
    n.PopList = c.list;
    std::strcpy(n.UserId, "after");
    EXPECT_EQ(CfgPutNsvConfigInfo(&n), c.result) << c.name;
    CfgNsvPopEntry read[4];
    CfgNsvConfigInfo r{};
    r.PopList = {4, read};
    EXPECT_EQ(CfgGetNsvConfigInfo(&r), CFG_OK) << c.name << ": stamped";
    EXPECT_STREQ(r.UserId, "after") << c.name;
    std::string list_after;
    for (int32_t i = 0; i < r.PopList.count; ++i) list_after += std::string(read[i].Pop) + "=" + read[i].AccessNumber + ";";
    EXPECT_EQ(list_after, c.list_after) << c.name;
  }
  n.PopList = {2, first};
  ASSERT_EQ(CfgPutNsvConfigInfo(&n), CFG_OK);
  std::strcpy(n.UserId, "changed");

  // Count 0 leaves the list alone; a new list replaces the old one in order.
  n.PopList = {0, nullptr};
  ASSERT_EQ(CfgPutNsvConfigInfo(&n), CFG_OK);
  CfgNsvPopEntry back[4];
  CfgNsvConfigInfo r{};
  r.PopList = {4, back};
  CfgGetNsvConfigInfo(&r);
  EXPECT_STREQ(r.UserId, "changed");
  ASSERT_EQ(r.PopList.count, 2);
  CfgNsvPopEntry second[2] = {{"ZZZ", "9"}, {"AAA", "8"}};
  n.PopList = {2, second};
  ASSERT_EQ(CfgPutNsvConfigInfo(&n), CFG_OK);
  r.PopList = {4, back};
  CfgGetNsvConfigInfo(&r);
  ASSERT_EQ(r.PopList.count, 2);
  EXPECT_STREQ(back[0].Pop, "ZZZ");
  EXPECT_STREQ(back[1].AccessNumber, "8");
}

TEST_F(Store, NullPointers) {
  EXPECT_EQ(CfgGetDialingInfo(nullptr), CFG_E_PARAM);
  EXPECT_EQ(CfgPutDialingInfo(nullptr), CFG_E_PARAM);
  EXPECT_EQ(CfgGetModemInfo(nullptr), CFG_E_PARAM);
  EXPECT_EQ(CfgPutModemInfo(nullptr), CFG_E_PARAM);
  EXPECT_EQ(CfgGetZrsAccessInfo(nullptr), CFG_E_PARAM);
  EXPECT_EQ(CfgPutZrsAccessInfo(nullptr), CFG_E_PARAM);
  EXPECT_EQ(CfgGetNsvConfigInfo(nullptr), CFG_E_PARAM);
  EXPECT_EQ(CfgPutNsvConfigInfo(nullptr), CFG_E_PARAM);
  EXPECT_FALSE(fs::exists(ini()));
}

TEST_F(Store, ValueThatCannotBeStoredLeavesTheFile) {
  CfgDialingInfo d{};
  CfgGetDialingInfo(&d);
  ASSERT_EQ(CfgPutDialingInfo(&d), CFG_OK);
  const std::string before = slurp(ini());
  std::strcpy(d.DialPrefix, "9,\n[X]");
  EXPECT_EQ(CfgPutDialingInfo(&d), CFG_E_WRITE);
  EXPECT_EQ(slurp(ini()), before);
}

TEST_F(Store, UnwritableFile) {
  CfgModemInfo m{};
  CfgGetModemInfo(&m);
  ASSERT_EQ(CfgPutModemInfo(&m), CFG_OK);
  const std::string before = slurp(ini());
  // The lock beside the file cannot be taken (works as root too).
  fs::path lock = ini();
  lock += ".lock";
  fs::remove(lock);
  fs::create_directory(lock);
  m.BaudRate = 9;
  EXPECT_EQ(CfgPutModemInfo(&m), CFG_E_WRITE);
  EXPECT_EQ(slurp(ini()), before);
  CfgModemInfo back{};
  EXPECT_EQ(CfgGetModemInfo(&back), CFG_OK);
  EXPECT_EQ(back.BaudRate, 2);
}

// A settings file the user made read-only stays as it is: the Put fails.
// Run as an ordinary user, who owns the system root but not the right to
// write the file.
TEST_F(Store, ReadOnlyFileIsAFailedWriteAndStaysAsItWas) {
  CfgDialingInfo d{};
  CfgGetDialingInfo(&d);
  ASSERT_EQ(CfgPutDialingInfo(&d), CFG_OK);
  const std::string before = slurp(ini());
  auto outcome = test_support::run_as_fresh_user(root_.path(), [] {
    CfgDialingInfo mine{};
    CfgGetDialingInfo(&mine);
    std::strcpy(mine.DialPrefix, "9,");
    CfgNsvConfigInfo nsv{};
    return std::to_string(CfgPutDialingInfo(&mine)) + " " + std::to_string(CfgPutNsvConfigInfo(&nsv));
  }, [&] { return ::chmod(ini().c_str(), 0444) == 0; });
  if (!outcome) GTEST_SKIP() << "needs root to become another user";
  EXPECT_EQ(*outcome, std::to_string(CFG_E_WRITE) + " " + std::to_string(CFG_E_WRITE));
  EXPECT_EQ(slurp(ini()), before);
  struct stat st {};
  ASSERT_EQ(::stat(ini().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
}

TEST_F(Store, UnreadableFile) {
  fs::create_directories(ini());  // a folder where the file should be
  CfgDialingInfo d;
  std::memset(&d, 'x', sizeof d);
  EXPECT_EQ(CfgGetDialingInfo(&d), CFG_E_READ);
  EXPECT_EQ(d.DialType, 0x78787878) << "record untouched";
  EXPECT_EQ(CfgPutDialingInfo(&d), CFG_E_WRITE);
  CfgModemInfo m{};
  EXPECT_EQ(CfgGetModemInfo(&m), CFG_E_READ);
}

TEST_F(Store, CorruptFileKeepsForeignBytes) {
  std::string junk("\x01\x02garbage without equals\n[PPU\n=novalue\n\0\xff[Network Carrier]\nName=X\n", 62);
  write_ini(junk);
  CfgZrsAccessInfo z{};
  EXPECT_EQ(CfgGetZrsAccessInfo(&z), CFG_DEFAULTS);
  EXPECT_STREQ(z.Service, "tarkel96");
  ASSERT_EQ(CfgPutZrsAccessInfo(&z), CFG_OK);
  std::string after = slurp(ini());
  EXPECT_EQ(after.substr(0, junk.size()), junk);
  EXPECT_EQ(CfgGetZrsAccessInfo(&z), CFG_OK);
}

TEST(Stamp, AsctimeForm) {
  std::tm t{};
  t.tm_year = 80;
  t.tm_mon = 0;
  t.tm_mday = 2;
  t.tm_wday = 3;
  t.tm_hour = 2;
  t.tm_min = 3;
  t.tm_sec = 55;
  EXPECT_EQ(modset::format_stamp(t), "Wed Jan 02 02:03:55 1980\n");
}

// ---- Carrying over "ZRS Modem" --------------------------------------------------

TEST_F(Store, MigrationCarriesOldSettings) {
  write_ini("[ZRS Modem]\nZRS Access Number=555-0199\nDial Prefix=9,\nDial Type=1\nComm Port=1\n"
            "Baud Rate=5\nAuto Config Flow Control=4\nReset Modem String=AT &F\n"
            "Initialization String=ATM0X3\nZRS Primary Access Number=555-0199\nService=oldsvc\n");
  modset::migrate_old_section();
  CfgDialingInfo d{};
  ASSERT_EQ(CfgGetDialingInfo(&d), CFG_OK);
  EXPECT_EQ(d.DialType, 0);
  EXPECT_STREQ(d.DialPrefix, "9,");
  EXPECT_EQ(d.DialBlind, 1);
  CfgModemInfo m{};
  ASSERT_EQ(CfgGetModemInfo(&m), CFG_OK);
  EXPECT_STREQ(m.PortName, "COM2");
  EXPECT_EQ(m.CommPort, 1);
  EXPECT_EQ(m.BaudRate, 5);
  EXPECT_EQ(m.FlowControl, 4);
  EXPECT_EQ(m.SpeakerOff, 1);
  EXPECT_STREQ(m.ResetString, "AT &F");
  EXPECT_STREQ(m.SetupString, "ATM0X3");
  CfgZrsAccessInfo z{};
  ASSERT_EQ(CfgGetZrsAccessInfo(&z), CFG_OK);
  EXPECT_STREQ(z.CustomAccessNumber, "555-0199");
  EXPECT_EQ(z.UseCustomAccess, 1);
  EXPECT_STREQ(z.Service, "oldsvc");
  EXPECT_NE(slurp(ini()).find("[ZRS Modem]"), std::string::npos) << "old section stays";

  // Stored sections stop a second run.
  const std::string once = slurp(ini());
  modset::migrate_old_section();
  EXPECT_EQ(slurp(ini()), once);
}

TEST_F(Store, MigrationEdgeCases) {
  // An access number without digits leaves the custom number and flag alone.
  write_ini("[ZRS Modem]\nZRS Access Number=none\nComm Port=40\n");
  modset::migrate_old_section();
  CfgZrsAccessInfo z{};
  ASSERT_EQ(CfgGetZrsAccessInfo(&z), CFG_OK);
  EXPECT_STREQ(z.CustomAccessNumber, "");
  EXPECT_EQ(z.UseCustomAccess, 0);
  CfgModemInfo m{};
  ASSERT_EQ(CfgGetModemInfo(&m), CFG_OK);
  EXPECT_STREQ(m.PortName, "COM1") << "an index past the digits keeps the name";
  EXPECT_EQ(m.CommPort, 40);

  // An empty old access number: no migration at all.
  write_ini("[ZRS Modem]\nZRS Access Number=\nDial Prefix=9,\n");
  modset::migrate_old_section();
  EXPECT_EQ(slurp(ini()), "[ZRS Modem]\nZRS Access Number=\nDial Prefix=9,\n");
}
