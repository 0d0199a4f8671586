// The entry's chat script, as MakeDialUpEntry writes it, run by the real
// chat against a linesim modem on a pseudo-terminal: the modem is reset,
// gets the init string, and dials the access number by Windows' dialing
// rules (own area code: the local number; else 1 + area code + number).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/program_runner.h"
#include "linesim/process.h"
#include "platform/loop/clock.h"
#include "platform/shell/phonebook.h"
#include "platform/storage/files.h"
#include "platform/storage/system_root.h"
#include "sysconfig/dialup.h"

namespace sysconfig {
namespace {

namespace fs = std::filesystem;
namespace pb = platform::phonebook;

std::string Slurp(const fs::path& p) {
  std::string text;
  platform::read_file(p, text);
  return text;
}

// The lines of linesim's trace for COM2 that start with `what`.
std::vector<std::string> TraceLines(const fs::path& trace, const std::string& what) {
  std::vector<std::string> lines;
  const std::string text = Slurp(trace);
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t eol = text.find('\n', at);
    std::string line = text.substr(at, eol == std::string::npos ? std::string::npos : eol - at);
    at = eol == std::string::npos ? text.size() : eol + 1;
    const std::string head = "COM2 " + what;
    if (line.rfind(head, 0) == 0) lines.push_back(line.substr(head.size()));
  }
  return lines;
}

TEST(DialingRulesThroughChat, TheModemDialsWhatWindowsWould) {
  const std::string chat = test_support::FindTool("chat");
  if (chat.empty()) GTEST_SKIP() << "chat (Debian package ppp) is not installed";
  const std::string linesim = std::string(VLR_BIN_DIR) + "/linesim";
  if (!fs::exists(linesim)) GTEST_SKIP() << "linesim not built";
  struct Case {
    const char* name;
    const char *own_area, *area, *number, *method, *prefix, *cw, *cw_string;
    const char* dialed;  // the number the exchange saw
  };
  const Case cases[] = {
      {"same area code: 7 digits", "408", "408", "555-0147", "TONE", "", "FALSE", "", "5550147"},
      {"other area code: 1 + 10 digits", "415", "408", "555-0147", "TONE", "", "FALSE", "", "14085550147"},
      {"800 number from another area", "408", "800", "555 0147", "TONE", "", "FALSE", "", "18005550147"},
      {"outside prefix and call waiting", "415", "408", "5550147", "TONE", "9,", "TRUE", "*70,",
       "9,*70,14085550147"},
      {"pulse, local", "212", "212", "1211121", "PULSE", "", "FALSE", "", "1211121"},
  };
  platform::ScopedVirtualClock vclock;  // the entry's 500 ms pauses
  platform::ScopedSystemRoot root;
  const fs::path dos = root.path() / "dosdevices";
  fs::create_directories(dos);
  for (int n : {1, 3, 4, 5, 6, 7, 8, 9}) fs::create_symlink(root.path() / "absent", dos / ("com" + std::to_string(n)));
  const fs::path access = root.path() / "access.txt";
  platform::replace_file(access, "timeout 30\npause 1000\nend\n");
  const fs::path trace = root.path() / "trace";
  std::vector<std::string> args = {"--root", root.path().string(), "--modem", "COM2=generic", "--trace", trace.string()};
  std::set<std::string> routes;
  for (const Case& c : cases) routes.insert(std::string(c.dialed).substr(std::string(c.dialed).rfind(',') + 1));
  for (const std::string& number : routes) {
    args.push_back("--dial");
    args.push_back(number + "=scenario:" + access.string());
  }
  linesim::Process sim(linesim, args);
  ASSERT_TRUE(sim.ready());
  pb::set_ppp_programs({"/usr/sbin/pppd", chat});
  const fs::path tty = fs::canonical(dos / "com2");

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DialUpValues v;
    v.user = "jdoe";
    v.password = "pw";
    v.own_area_code = c.own_area;
    v.area_code = c.area;
    v.number = c.number;
    v.dial_method = c.method;
    v.outside_access = c.prefix;
    v.cw_disable = c.cw;
    v.cw_string = c.cw_string;
    v.comport = "2";
    v.modem_init = "ATE0V1S8=1";  // one second a comma
    v.speed = 57600;
    DialUpContext context;
    context.dosdevices = dos;
    std::string problem;
    ASSERT_GE(MakeDialUpEntry(v, context, &problem), 0) << problem;
    const pb::PhoneBook book;
    const int fd = ::open(tty.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0) << tty;
    auto run = test_support::RunProgram({chat, "-v", "-s", "-f", book.ChatPath(kAccountEntryName).string()}, fd, fd);
    ::close(fd);
    EXPECT_EQ(run.exit_code, 0) << run.output;
    const auto commands = TraceLines(trace, "at< ");
    ASSERT_GE(commands.size(), 3u) << Slurp(trace);
    // Reset, the init string with &D2, then the dial.
    EXPECT_EQ(commands[commands.size() - 3], "ATZ");
    EXPECT_EQ(commands[commands.size() - 2], "ATE0V1S8=1&D2");
    EXPECT_EQ(commands.back(), std::string("ATD") + (std::string(c.method) == "PULSE" ? "P" : "T") + c.dialed);
    const auto calls = TraceLines(trace, "call ");
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().substr(0, calls.back().find(" -> ")), c.dialed);
    EXPECT_NE(calls.back().find("scenario"), std::string::npos) << calls.back();
    EXPECT_NE(run.output.find("CONNECT"), std::string::npos) << run.output;
    // The port closed with the call up: &D2 makes the modem hang up.
    const std::size_t closed = &c - cases + 1;
    for (int i = 0; i < 200 && TraceLines(trace, "port closed").size() < closed; ++i) ::usleep(50 * 1000);
    ASSERT_EQ(TraceLines(trace, "port closed").size(), closed) << Slurp(trace);
    for (int i = 0; i < 200 && TraceLines(trace, "hangup (DTR dropped)").size() < closed; ++i) ::usleep(50 * 1000);
    EXPECT_EQ(TraceLines(trace, "hangup (DTR dropped)").size(), closed) << Slurp(trace);
  }
  pb::reset_ppp_programs();
}

}  // namespace
}  // namespace sysconfig
