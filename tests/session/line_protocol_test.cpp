#include "session/line_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace session {
namespace {

using namespace std::string_literals;

TEST(LineProtocol, ModemResultWords) {
  struct Case {
    const char* name;
    std::string line;
    DialResult want;
  } cases[] = {
      {"connect with speed", "CONNECT 28800", DialResult::Connect},
      {"bare connect", "CONNECT", DialResult::Connect},
      {"connect in lower case", "connect 9600/ARQ", DialResult::Connect},
      {"busy", "BUSY", DialResult::Busy},
      {"no dialtone", "NO DIALTONE", DialResult::NoDial},
      {"no dial tone with blank", "NO DIAL TONE", DialResult::NoDial},
      {"no carrier", "NO CARRIER", DialResult::NoCarrier},
      {"no carrier lower case", "no carrier", DialResult::NoCarrier},
      {"busy wins over connect", "CONNECT BUSY", DialResult::Busy},
      {"ok", "OK", DialResult::Other},
      {"ring", "RING", DialResult::Other},
      {"echoed dial command", "ATDT5551234", DialResult::Other},
      {"empty line of a CR LF pair", "", DialResult::Other},
      {"NUL inside", "CONN\0ECT"s, DialResult::Other},
      {"NUL before connect", "\0CONNECT"s, DialResult::Connect},
  };
  for (const Case& c : cases) EXPECT_EQ(ClassifyDialResult(c.line), c.want) << c.name;
}

TEST(LineProtocol, NoCarrierLineIsExact) {
  EXPECT_TRUE(IsNoCarrierLine("NO CARRIER"));
  EXPECT_TRUE(IsNoCarrierLine("  no carrier "));
  EXPECT_FALSE(IsNoCarrierLine("STATUS:\tNO CARRIER"));
  EXPECT_FALSE(IsNoCarrierLine(""));
  EXPECT_FALSE(IsNoCarrierLine("NO CARRIERS"));
}

TEST(LineProtocol, SplittingCommandLines) {
  struct Case {
    const char* name;
    std::string line, keyword, arguments;
  } cases[] = {
      {"request", "REQUEST:\tUSERID", "REQUEST:", "USERID"},
      {"lower-case keyword", "request:\tuserid", "REQUEST:", "userid"},
      {"no TAB", "REQUEST:", "REQUEST:", ""},
      {"blank instead of TAB", "REQUEST: USERID", "REQUEST: USERID", ""},
      {"only the first TAB splits", "STATUS:\tCreating account\tstep 2", "STATUS:", "Creating account\tstep 2"},
      {"empty keyword", "\tx", "", "x"},
      {"NUL in keyword", "REQ\0UEST:\tUSERID"s, "REQ\0UEST:"s, "USERID"},
  };
  for (const Case& c : cases) {
    CommandLine got = SplitCommand(c.line);
    EXPECT_EQ(got.keyword, c.keyword) << c.name;
    EXPECT_EQ(got.arguments, c.arguments) << c.name;
  }
}

TEST(LineProtocol, NextFieldRepeatsTheLastField) {
  struct Case {
    const char* name;
    std::string arguments;
    std::size_t n;
    bool ok;
    std::vector<std::string> fields;
  } cases[] = {
      {"four fields", "PLAN\tP1\tBasic\tcheap", 4, true, {"PLAN", "P1", "Basic", "cheap"}},
      {"three fields repeat the last", "PLAN\tP1\tBasic", 4, true, {"PLAN", "P1", "Basic", "Basic"}},
      {"one field repeats", "PLAN", 4, true, {"PLAN", "PLAN", "PLAN", "PLAN"}},
      {"empty fields between TABs", "a\t\tb", 3, true, {"a", "", "b"}},
      {"ends with a TAB", "PLAN\tP1\t", 4, false, {"PLAN", "P1", "", ""}},
      {"nothing", "", 1, false, {""}},
      {"blanks are kept", " a \t b ", 2, true, {" a ", " b "}},
  };
  for (const Case& c : cases) {
    std::string_view rest = c.arguments;
    std::vector<std::string> fields;
    EXPECT_EQ(NextFields(rest, c.n, fields), c.ok) << c.name;
    EXPECT_EQ(fields, c.fields) << c.name;
  }
}

TEST(LineProtocol, NextFieldOnEmptyRemainderLeavesTheField) {
  std::string field = "before";
  std::string_view rest;
  EXPECT_FALSE(NextField(field, rest));
  EXPECT_EQ(field, "before");
}

TEST(LineProtocol, DialCommands) {
  struct Case {
    const char* name;
    const char *method, *outside, *cw, *cwstr, *number, *want;
  } cases[] = {
      {"pulse, outside line, call waiting", "PULSE", "9,", "TRUE", "*70,", "5551234", "ATDp9,*70,5551234"},
      {"tone by default", "TONE", "", "FALSE", "*70,", "5551234", "ATDt5551234"},
      {"call waiting only when exactly TRUE", "TONE", "", "True", "*70,", "5551234", "ATDt5551234"},
      {"unknown method dials tone", "pulse", "", "", "", "5551234", "ATDt5551234"},
      {"missing values", "", "", "", "", "", "ATDt"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(BuildDialCommand(c.method, c.outside, c.cw, c.cwstr, c.number), c.want) << c.name;
}

TEST(LineProtocol, PortAndSpeedFromProfileValues) {
  EXPECT_EQ(PortFromProfile("2"), 2);
  EXPECT_EQ(PortFromProfile("9x"), 9);
  EXPECT_EQ(PortFromProfile(""), 0);
  EXPECT_EQ(SpeedFromProfile("57600"), 57600);
  EXPECT_EQ(SpeedFromProfile("fast"), 0);
  EXPECT_EQ(SpeedFromProfile("99999999999999999999"), 0);
  EXPECT_EQ(TableSpeed(57600), 57600u);
  EXPECT_EQ(TableSpeed(33600), 9600u);  // not in the table
  EXPECT_EQ(TableSpeed(0), 9600u);
  EXPECT_EQ(TableSpeed(300), 300u);
}

TEST(LineProtocol, FramingAndSearch) {
  EXPECT_EQ(LineEnd("CONNECT 28800\r\n"), 13);
  EXPECT_EQ(LineEnd("\nuser:"), 0);
  EXPECT_EQ(LineEnd("user:"), -1);
  EXPECT_EQ(FindText("xxOK", "OK"), 3u);  // the very last two bytes
  EXPECT_EQ(FindText("OK", "OK"), 1u);
  EXPECT_EQ(FindText("O", "OK"), 0u);
  EXPECT_EQ(FindText("abc", ""), 0u);
  EXPECT_EQ(FindText("a\0user:"s, "user:"), 3u);
}

TEST(LineProtocol, PrintableEscapesControlBytes) {
  EXPECT_EQ(Printable("OK\r\n"), "OK\\x0D\\x0A");
  EXPECT_EQ(Printable("a\0b"s), "a\\x00b");
  EXPECT_EQ(Printable(std::string(300, 'x'), 4), "xxxx...");
}

}  // namespace
}  // namespace session
