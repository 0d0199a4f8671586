// Modem command layer: command lines, response classification from captured
// transcripts, echo skipping, recovery with "+++", setup splitting, dialing,
// hang-up in privileged mode.
#include <cstring>

#include "fixture.h"

namespace serlink_test {
namespace {

using ModemTest = SerlinkTest;

TEST(ModemPure, CommandLines) {
  EXPECT_EQ(serlink::command_line("at&f"), "at&f\r");
  EXPECT_EQ(serlink::command_line("&F"), "AT &F\r");
  EXPECT_EQ(serlink::command_line("  I0"), "AT I0\r");
  EXPECT_EQ(serlink::command_line("   "), "");
  EXPECT_EQ(serlink::command_line("At Z"), "At Z\r");
}

TEST(ModemPure, ClassificationTable) {
  struct Case {
    const char* line;
    std::int32_t code;
  };
  const Case table[] = {
      {"OK", MODEM_RESULT_OK},
      {"CONNECT 28800", MODEM_RESULT_CONNECT},
      {"CONNECT", MODEM_RESULT_CONNECT},
      {"RING", MODEM_RESULT_RING},
      {"NO CARRIER", MODEM_RESULT_NO_CARRIER},
      {"NO DIALTONE", MODEM_RESULT_NO_DIALTONE},
      {"NO DIAL TONE", MODEM_RESULT_NO_DIALTONE},
      {"NO ANSWER", MODEM_RESULT_NO_ANSWER},
      {"ERROR", MODEM_RESULT_ERROR},
      {"BUSY", MODEM_RESULT_BUSY},
      {"CARRIER 28800", MODEM_RESULT_CARRIER},
      {"COMPRESSION: V.42BIS", MODEM_RESULT_CARRIER},
      {"PROTOCOL: LAP-M", MODEM_RESULT_CARRIER},
      {"AUTOSTREAM: LEVEL 3", MODEM_RESULT_CARRIER},
      {"28800", MODEM_RESULT_OTHER},
      {"", MODEM_RESULT_OTHER},
      {"ok", MODEM_RESULT_OTHER},
      {"BROKEN", MODEM_RESULT_OK},  // "OK" anywhere in the line counts
  };
  for (const Case& c : table) EXPECT_EQ(serlink::classify_response(c.line), c.code) << c.line;
}

TEST(ModemPure, SetupSplitPoints) {
  EXPECT_EQ(serlink::setup_split_point("AT &F"), 0u);
  std::string line = "AT &C1&D2&K3&Q5&S0\\J0\\N3%C1+H0 S0=0 S37=0";  // 42 characters
  std::size_t split = serlink::setup_split_point(line);
  EXPECT_EQ(split, 35u) << "after \"S0=0\", before the blank at 35";
  EXPECT_TRUE(std::strchr("&\\% ", line[split]) != nullptr);
  EXPECT_EQ(serlink::setup_split_point("AT " + std::string(50, 'X')), 2u) << "no option to cut at";
}

TEST(ModemPure, KnownModemsAndStartingSpeeds) {
  EXPECT_EQ(serlink::modem_class("965", "TBSA 2"), 1u);
  EXPECT_EQ(serlink::modem_class("965", "other"), 0xFFFFFFFFu);
  EXPECT_EQ(serlink::modem_class("968", ""), 1u);
  EXPECT_EQ(serlink::modem_class("971", "T2500"), 1u);
  EXPECT_EQ(serlink::modem_class("14400", "Gateway Telepath"), 2u);
  EXPECT_EQ(serlink::modem_class("14400", "Sportster"), 4u);
  EXPECT_EQ(serlink::modem_class("288", "Sportster 28800"), 4u);
  EXPECT_EQ(serlink::modem_class("MHZ AT&T V.34", ""), 8u);
  EXPECT_EQ(serlink::starting_speed("2400", ""), 2);
  EXPECT_EQ(serlink::starting_speed("288", "Sportster"), 8);
  EXPECT_EQ(serlink::starting_speed("x", "V34"), 8);
  EXPECT_EQ(serlink::starting_speed("14400", "x"), 7);
}

// Transcripts as a modem sends them, read through the channel.
TEST_F(ModemTest, ResponsesFromCapturedTranscripts) {
  FakeModem com1(1, true);
  ASSERT_EQ(open_port(0), SERLINK_OK);
  struct Case {
    const char* name;
    std::string bytes;
    std::int32_t rc;
    std::int32_t code;
    std::string line;
  };
  const Case table[] = {
      {"echo then OK", "AT Q E V1\r\r\nOK\r\n", SERLINK_OK, MODEM_RESULT_OK, "OK"},
      {"NO DIAL TONE with blanks", "\r\n\r\n\r\nNO DIAL TONE\r\n", SERLINK_OK, MODEM_RESULT_NO_DIALTONE, "NO DIAL TONE"},
      {"connect with speed", "\r\nCONNECT 28800/ARQ\r\n", SERLINK_OK, MODEM_RESULT_CONNECT, "CONNECT 28800/ARQ"},
      {"carrier report", "\r\nCARRIER 28800\r\n", SERLINK_OK, MODEM_RESULT_CARRIER, "CARRIER 28800"},
      {"lost carrier", "\r\nNO CARRIER\r\n", SERLINK_OK, MODEM_RESULT_NO_CARRIER, "NO CARRIER"},
      {"digits", "\r\n2400\r\n", SERLINK_OK, MODEM_RESULT_OTHER, "2400"},
      {"lower-case echo", "at&f\r\r\nERROR\r\n", SERLINK_OK, MODEM_RESULT_ERROR, "ERROR"},
      {"line feeds only join lines", "\nNO\nANSWER\r\n", SERLINK_OK, MODEM_RESULT_OTHER, "NOANSWER"},
      {"long line cut at 127", std::string(10000, 'G') + "\r\n", SERLINK_OK, MODEM_RESULT_OTHER, std::string(127, 'G')},
      {"NUL in the line", std::string("O\0K\r\n", 5), SERLINK_OK, MODEM_RESULT_OTHER, "O"},
      {"nothing", "", SERLINK_NO_LINE, MODEM_RESULT_OTHER, ""},
      {"half a line", "CONNE", SERLINK_NO_LINE, MODEM_RESULT_OTHER, "CONNE"},
  };
  for (const Case& c : table) {
    SerialFlushRequest f{0, 1, 1};
    SerialChannelFlush(&f);
    com1.send(c.bytes);
    char line[SERLINK_RESPONSE_SIZE];
    std::memset(line, 'x', sizeof line);
    ModemResponse r{0, 1, line, 0};
    EXPECT_EQ(ModemRecvResponse(&r), c.rc) << c.name;
    EXPECT_EQ(r.result, c.code) << c.name;
    EXPECT_EQ(std::string(line), c.line) << c.name;
  }
}

TEST_F(ModemTest, EndlessEchoEndsWithATimeOut) {
  FakeModem com1(1, true);
  com1.cable().set_listener(1, [&] { com1.send("ATATATAT\r"); });  // echoes for ever
  ASSERT_EQ(open_port(0), SERLINK_OK);
  char line[SERLINK_RESPONSE_SIZE];
  ModemResponse r{0, 1, line, 0};
  EXPECT_EQ(ModemRecvResponse(&r), SERLINK_NO_LINE);
  EXPECT_EQ(r.result, MODEM_RESULT_OTHER);
}

TEST_F(ModemTest, SendBuildsLinesAndRefusesBlanks) {
  FakeModem com1(1);
  ASSERT_EQ(open_port(0), SERLINK_OK);
  int32_t id = 0;
  ASSERT_EQ(ModemOpen(&id), SERLINK_OK);
  ModemCommand blank{0, "   "};
  EXPECT_EQ(ModemSendCommand(&blank), SERLINK_E_EMPTY_COMMAND);
  ModemCommand null_text{0, nullptr};
  EXPECT_EQ(ModemSendCommand(&null_text), SERLINK_E_EMPTY_COMMAND);
  std::string huge(300, 'S');
  ModemCommand too_long{0, huge.c_str()};
  EXPECT_EQ(ModemSendCommand(&too_long), SERLINK_E_PARAM) << "never cut silently";
  ModemCommand lower{0, "at&f"};
  ModemCommand bare{0, "&F"};
  traces().clear();
  EXPECT_EQ(ModemSendCommand(&lower), SERLINK_OK);
  EXPECT_EQ(ModemSendCommand(&bare), SERLINK_OK);
  EXPECT_EQ(sent_lines(), (std::vector<std::string>{"at&f\r", "AT &F\r"}));
  EXPECT_NE(com1.raw.find("at&f\rAT &F\r"), std::string::npos);
}

TEST_F(ModemTest, AfterConnectTheNextCommandEscapesWithPluses) {
  FakeModem com1(1);
  ASSERT_EQ(open_port(0), SERLINK_OK);
  int32_t id = 0;
  ASSERT_EQ(ModemOpen(&id), SERLINK_OK);
  ModemDialRequest dial{0, SERLINK_DIAL_TONE, 30, "5551234"};
  ASSERT_EQ(ModemDial(&dial), SERLINK_OK);
  char line[SERLINK_RESPONSE_SIZE];
  ModemResponse r{0, 5, line, 0};
  ASSERT_EQ(ModemRecvResponse(&r), SERLINK_OK);
  EXPECT_EQ(r.result, MODEM_RESULT_CONNECT);
  ASSERT_TRUE(com1.online);
  traces().clear();
  ModemCommand h{0, "H"};
  EXPECT_EQ(ModemSendCommand(&h), SERLINK_OK);
  auto sent = sent_lines();
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent.front(), "+++");
  EXPECT_EQ(sent.back(), "AT H\r");
  EXPECT_FALSE(com1.online);
}

TEST_F(ModemTest, ProbeFailsOnASilentPortAfterBothEscapePasses) {
  FakeModem com1(1, true);
  ASSERT_EQ(open_port(0), SERLINK_OK);
  const std::int64_t start = platform::clock().now_ms();
  int32_t id = 0;
  EXPECT_EQ(ModemOpen(&id), SERLINK_E_NO_MODEM);
  auto sent = sent_lines();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "+++"), 2);
  EXPECT_GE(platform::clock().now_ms() - start, 250 + 250 + 1000 + 1000 + 2 * 300);
  EXPECT_LE(platform::clock().now_ms() - start, 12000) << "about ten seconds when nothing answers";
}

TEST_F(ModemTest, LongSetupIsSplitAndKeepsVerboseResults) {
  FakeModem com1(1);
  ASSERT_EQ(open_port(0), SERLINK_OK);
  int32_t id = 0;
  ASSERT_EQ(ModemOpen(&id), SERLINK_OK);
  std::string text = "&F&C1&D2&K3 Q1 V0\\N3%C1 S0=0 S7=60 S11=50 S37=9 X4";
  ASSERT_GT(text.size() + 3, 37u);
  com1.commands.clear();
  ModemCommand c{0, text.c_str()};
  EXPECT_EQ(ModemSetup(&c), SERLINK_OK);
  ASSERT_EQ(com1.commands.size(), 2u);
  const std::string& first = com1.commands[0];
  EXPECT_LE(first.size(), 36u);
  EXPECT_EQ(first.rfind("AT &F&C1", 0), 0u);
  EXPECT_EQ(com1.commands[1].rfind("AT ", 0), 0u);
  std::string both = com1.commands[0] + com1.commands[1];
  EXPECT_NE(both.find("Q0"), std::string::npos);
  EXPECT_NE(both.find("V1"), std::string::npos);
  EXPECT_EQ(both.find("Q1"), std::string::npos);
  ModemCommand blank{0, " "};
  EXPECT_EQ(ModemSetup(&blank), SERLINK_E_EMPTY_COMMAND);
  ModemCommand none{0, nullptr};
  EXPECT_EQ(ModemSetup(&none), SERLINK_OK);
  com1.refused.insert("&K3");
  ModemCommand refused{0, "&K3"};
  EXPECT_EQ(ModemSetup(&refused), SERLINK_E_NOT_OK);
}

TEST_F(ModemTest, ResetRequiresOkThenRestoresVerboseMode) {
  FakeModem com1(1);
  ASSERT_EQ(open_port(0), SERLINK_OK);
  int32_t id = 0;
  ASSERT_EQ(ModemOpen(&id), SERLINK_OK);
  com1.commands.clear();
  ModemCommand c{0, "&F"};
  EXPECT_EQ(ModemReset(&c), SERLINK_OK);
  EXPECT_EQ(com1.commands, (std::vector<std::string>{"AT &F", "AT Q E V1"}));
  EXPECT_STREQ(c.text, "&F");
  com1.refused.insert("Z");
  ModemCommand z{0, "Z"};
  EXPECT_EQ(ModemReset(&z), SERLINK_E_NOT_OK);
  ModemCommand none{0, nullptr};
  EXPECT_EQ(ModemReset(&none), SERLINK_OK);
}

TEST_F(ModemTest, LongToneNumberIsDialedInTwoParts) {
  FakeModem com1(1);
  std::string dialed;
  com1.on_dial = [&](const std::string& body) {
    dialed = body;
    return std::string("CONNECT 9600");
  };
  ASSERT_EQ(open_port(0), SERLINK_OK);
  int32_t id = 0;
  ASSERT_EQ(ModemOpen(&id), SERLINK_OK);
  std::string number;
  for (int i = 0; i < 40; ++i) number += static_cast<char>('0' + i % 10);
  com1.commands.clear();
  ModemDialRequest d{0, SERLINK_DIAL_TONE, 45, number.c_str()};
  EXPECT_EQ(ModemDial(&d), SERLINK_OK);
  ASSERT_EQ(com1.commands.size(), 3u);
  EXPECT_EQ(com1.commands[0], "AT S2=43 S7=45 S12=12");
  EXPECT_EQ(com1.commands[1], "AT DT " + number.substr(0, 32) + ";");
  EXPECT_EQ(com1.commands[2], "AT D" + number.substr(32));
  EXPECT_EQ(dialed, "D" + number.substr(32));
}

// Where long numbers are cut: each command holds at most 35 characters
// after "AT " before its ";", and every part after the first starts with "D".
TEST_F(ModemTest, LongNumbersAreCutAfterThe35thCharacter) {
  std::string digits;
  for (int i = 0; i < 80; ++i) digits += static_cast<char>('0' + i % 10);
  struct Case {
    const char* name;
    int32_t method;
    std::size_t length;
    std::vector<std::string> commands;
  };
  const std::vector<Case> cases = {
      {"32 tone digits fit one command", SERLINK_DIAL_TONE, 32, {"AT DT " + digits.substr(0, 32)}},
      {"33 pulse digits need a second", SERLINK_DIAL_PULSE, 33, {"AT DP " + digits.substr(0, 32) + ";", "AT D" + digits.substr(32, 1)}},
      {"80 digits take three", SERLINK_DIAL_TONE, 80,
       {"AT DT " + digits.substr(0, 32) + ";", "AT D" + digits.substr(32, 34) + ";", "AT D" + digits.substr(66)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeModem com1(1);
    com1.on_dial = [](const std::string&) { return std::string("OK"); };
    ASSERT_EQ(open_port(0), SERLINK_OK);
    int32_t id = 0;
    ASSERT_EQ(ModemOpen(&id), SERLINK_OK);
    com1.commands.clear();
    const std::string number = digits.substr(0, c.length);
    ModemDialRequest d{0, c.method, 45, number.c_str()};
    EXPECT_EQ(ModemDial(&d), SERLINK_OK);
    ASSERT_EQ(com1.commands.size(), c.commands.size() + 1);
    for (std::size_t i = 0; i < c.commands.size(); ++i) EXPECT_EQ(com1.commands[i + 1], c.commands[i]);
    std::int32_t port = 0;
    SerialChannelClose(&port);
  }
}

// SERLINK_DIAL_TONE dials tone; any other method dials pulse.
TEST_F(ModemTest, DialMethodPicksToneOrPulse) {
  struct Case {
    int32_t method;
    const char* command;
  } cases[] = {{SERLINK_DIAL_TONE, "AT DT 5550100"}, {SERLINK_DIAL_PULSE, "AT DP 5550100"}, {2, "AT DP 5550100"}, {-1, "AT DP 5550100"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    FakeModem com1(1);
    com1.on_dial = [](const std::string&) { return std::string("CONNECT 9600"); };
    ASSERT_EQ(open_port(0), SERLINK_OK);
    int32_t id = 0;
    ASSERT_EQ(ModemOpen(&id), SERLINK_OK);
    com1.commands.clear();
    ModemDialRequest d{0, c.method, 45, "5550100"};
    EXPECT_EQ(ModemDial(&d), SERLINK_OK);
    ASSERT_EQ(com1.commands.size(), 2u);
    EXPECT_EQ(com1.commands[1], c.command);
    EXPECT_EQ(SerialChannelClose(&id), SERLINK_OK);
  }
}

bool g_probe_refused = false;
void poke_during_hangup(int32_t) {
  char b[4];
  SerialTransfer t{0, b, 1, 0};
  if (SerialChannelRead(&t) == SERLINK_E_PRIVILEGED) g_probe_refused = true;
}

TEST_F(ModemTest, HangupInPrivilegedModeKeepsDtrWhenTheModemAnswers) {
  FakeModem com1(1);
  com1.on_dial = [](const std::string&) { return std::string("CONNECT 14400"); };
  ASSERT_EQ(open_port(0), SERLINK_OK);
  int32_t id = 0;
  ASSERT_EQ(ModemOpen(&id), SERLINK_OK);
  ModemDialRequest d{0, SERLINK_DIAL_TONE, 30, "123"};
  ASSERT_EQ(ModemDial(&d), SERLINK_OK);
  char line[SERLINK_RESPONSE_SIZE];
  ModemResponse r{0, 5, line, 0};
  ASSERT_EQ(ModemRecvResponse(&r), SERLINK_OK);
  g_probe_refused = false;
  ASSERT_EQ(SerlinkSetEventHandler(poke_during_hangup, 3), SERLINK_OK);
  unsigned lines_before = 0;
  com1.cable().end(1)->get_modem_lines(lines_before);
  EXPECT_EQ(ModemHangup(0), SERLINK_OK);
  EXPECT_TRUE(g_probe_refused) << "callers reaching in during the hang-up's waits get SERLINK_E_PRIVILEGED";
  unsigned lines = 0;
  com1.cable().end(1)->get_modem_lines(lines);
  EXPECT_TRUE(lines & platform::kLineDsr) << "DTR untouched";
  EXPECT_EQ(SioSetPrivilegedMode(0), 0);
  SerialChannelMetrics m{0, 0, 0, 0, 0, 0};
  EXPECT_EQ(SerialChannelGetMetrics(&m), SERLINK_OK) << "privileged mode is off again";
  SerlinkSetEventHandler(nullptr, 3);
}

TEST_F(ModemTest, HangupAnsweredNoCarrierSucceedsAndSilenceDropsDtr) {
  FakeModem com1(1);
  com1.refused.insert("H");
  ASSERT_EQ(open_port(0), SERLINK_OK);
  int32_t id = 0;
  ASSERT_EQ(ModemOpen(&id), SERLINK_OK);
  // "NO CARRIER" to ATH is success.
  FakeModem* m = &com1;
  com1.cable().set_listener(1, [m] {
    char b[64];
    std::size_t got = 0;
    m->cable().end(1)->read(b, sizeof b, got);
    if (std::string(b, got).find("ATH") != std::string::npos) m->send("\r\nNO CARRIER\r\n");
  });
  EXPECT_EQ(ModemHangup(0), SERLINK_OK);
  unsigned lines = 0;
  com1.cable().end(1)->get_modem_lines(lines);
  EXPECT_TRUE(lines & platform::kLineDsr);
  // Nothing answers at all: DTR goes down and stays down, SERLINK_E_NOT_OK.
  com1.cable().set_listener(1, nullptr);
  EXPECT_EQ(ModemHangup(0), SERLINK_E_NOT_OK);
  com1.cable().end(1)->get_modem_lines(lines);
  EXPECT_FALSE(lines & platform::kLineDsr);
}

TEST_F(ModemTest, VanishedDeviceEndsReadsWithAnError) {
  FakeModem com1(1, true);
  ASSERT_EQ(open_port(0), SERLINK_OK);
  com1.cable().unplug();
  char line[SERLINK_RESPONSE_SIZE];
  ModemResponse r{0, 60, line, 0};
  const std::int64_t start = platform::clock().now_ms();
  EXPECT_LT(ModemRecvResponse(&r), 0);
  EXPECT_LT(platform::clock().now_ms() - start, 1000) << "no waiting for the time-out";
  int32_t id = 0;
  EXPECT_EQ(ModemOpen(&id), SERLINK_E_NO_MODEM);
}

}  // namespace
}  // namespace serlink_test
