// Scenario files: parsing, and playing against a scripted caller.
#include <gtest/gtest.h>

#include <map>

#include "linesim/scenario.h"
#include "platform/loop/clock.h"

namespace linesim::test {
namespace {

TEST(ScenarioParse, BadScriptsNameTheLine) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"sned x\n", "line 1: unknown keyword \"sned\""},
      {"login *\ngoto nowhere\n", "line 2: no label nowhere"},
      {"label a\nlabel a\n", "line 2: label a is defined twice"},
      {"send a\\qb\n", "line 1: unknown escape \\q"},
      {"send a\\x4\n", "line 1: \\x needs two hex digits"},
      {"pause soon\n", "line 1: pause needs milliseconds"},
      {"timeout 0\n", "line 1: timeout needs seconds (1 or more)"},
      {"expect\n", "line 1: expect needs a pattern (\"*\" for any line)"},
      {"if REPLY: OK\n", "line 1: if needs \"if PATTERN goto LABEL\""},
      {"# fine\n\nhangup now\n", "line 3: hangup takes no argument"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(Scenario::parse(c.text, &error), nullptr) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

TEST(ScenarioParse, TextsKeepTheirBytes) {
  std::string error;
  auto s = Scenario::parse("prompt login:\\s\nsend REQUEST:\\tFIRSTNAME\r\nsendraw us\nexpect REPLY:\\s\n", &error);
  ASSERT_NE(s, nullptr) << error;
  const auto& steps = s->steps();
  ASSERT_EQ(steps.size(), 6u);  // implicit login first, implicit end last
  EXPECT_EQ(steps[0].op, ScenarioStep::Op::Login);
  EXPECT_EQ(steps[1].text, "login: ");
  EXPECT_EQ(steps[2].text, "REQUEST:\tFIRSTNAME");  // a CR LF file reads the same
  EXPECT_EQ(steps[3].text, "us");
  EXPECT_TRUE(steps[4].pattern.matches("REPLY: "));
  EXPECT_FALSE(steps[4].pattern.matches("REPLY: x"));
  EXPECT_EQ(steps[5].op, ScenarioStep::Op::End);
}

TEST(ScenarioParse, Patterns) {
  struct Case {
    const char* pattern;
    const char* line;
    bool match;
  } cases[] = {
      {"*", "", true},          {"*", "anything", true},     {"REPLY: *", "REPLY: Ann", true},
      {"REPLY: *", "REPLY:", false}, {"REPLY: OK", "REPLY: OK", true}, {"REPLY: OK", "REPLY: OK ", false},
      {"a\\*", "a*", true},     {"a\\*", "ab", false},       {"a\\\\*", "a\\b", true},
      {"\\t*", "\tx", true},
  };
  for (const Case& c : cases) {
    std::string error;
    auto s = Scenario::parse(std::string("expect ") + c.pattern + "\n", &error);
    ASSERT_NE(s, nullptr) << error;
    EXPECT_EQ(s->steps()[1].pattern.matches(c.line), c.match) << c.pattern << " / " << c.line;
  }
}

// A caller that answers the questions as the wizard's session does; it
// opens no prompt (WAIT: goes unanswered).
struct Caller {
  std::map<std::string, std::string> profile;
  std::vector<std::string> plan_codes;
  std::string plan_tag;
  std::string login = "alice";
  bool ended = false;
  std::vector<std::string> seen;

  std::vector<std::string> handle(const std::string& line) {
    seen.push_back(line);
    std::size_t tab = line.find('\t');
    std::string keyword = line.substr(0, tab);
    std::string args = tab == std::string::npos ? "" : line.substr(tab + 1);
    std::vector<std::string> fields;
    for (std::size_t p = 0; !args.empty();) {
      std::size_t t = args.find('\t', p);
      fields.push_back(args.substr(p, t - p));
      if (t == std::string::npos) break;
      p = t + 1;
    }
    if (keyword == "REQUEST:") {
      if (fields.empty() || !profile.count(fields[0])) return {"REPLY: ERROR"};
      if (fields[0] == "PRICEPLAN") return {"REPLY: " + plan_tag};
      return {"REPLY: " + profile[fields[0]]};
    }
    if (keyword == "INFO:") {
      if (fields.size() < 2 || fields[0] != "PLAN") return {"REPLY: ERROR"};
      plan_codes.push_back(fields[1]);
      return {"REPLY: OK"};
    }
    if (keyword == "STATUS:") {
      if (args == "COMPLETE") {
        ended = true;
        return {};
      }
      return {"REPLY: OK"};
    }
    if (keyword == "FAILURE:") {
      ended = true;
      return {"REPLY: OK"};
    }
    return {};
  }
};

// Plays `server` against `caller` in virtual time until one side ends.
void play(ScenarioServer& server, Caller& caller, platform::VirtualClock& clock) {
  std::string buffer;
  bool logged_in = false;
  for (int round = 0; round < 10'000 && !caller.ended && server.state() == FarEnd::State::Open; ++round) {
    server.poll();
    char chunk[512];
    while (std::size_t n = server.read(chunk, sizeof chunk)) buffer.append(chunk, n);
    if (!logged_in && buffer.find("user:") != std::string::npos) {
      server.write(caller.login + "\r");
      logged_in = true;
      continue;
    }
    std::size_t end;
    bool handled = false;
    while (!caller.ended && (end = buffer.find_first_of("\r\n")) != std::string::npos) {
      std::string line = buffer.substr(0, end);
      buffer.erase(0, end + 1);
      if (line.empty()) continue;
      for (const std::string& reply : caller.handle(line)) server.write(reply + "\r");
      handled = true;
    }
    if (!handled) {
      auto due = server.next_due_ms();
      if (!due) break;
      clock.advance_to(*due);
    }
  }
  if (caller.ended) server.hang_up();
}

std::shared_ptr<const Scenario> load(const std::string& name) {
  std::string error;
  auto s = Scenario::load(std::string(VLR_SOURCE_DIR) + "/data/scenarios/" + name, &error);
  EXPECT_NE(s, nullptr) << error;
  return s;
}

Caller new_user() {
  Caller c;
  c.profile = {{"NEWUSER", "yes"}, {"CLIENTCODE", "VLRREG501U"}, {"FIRSTNAME", "Ann"}, {"LASTNAME", "Lee"},
               {"USERID", "annlee"}, {"PASSWORD", "secret1"}, {"COMINFO", "COM2 57600"}, {"EMAILID", "ann"},
               {"PRICEPLAN", ""}};
  return c;
}

TEST(ShippedScenarios, NewAccount) {
  platform::ScopedVirtualClock clock;
  std::vector<std::string> trace;
  ScenarioServer server(load("new-account.txt"), [&](std::string_view l) { trace.emplace_back(l); }, "COM2");
  Caller caller = new_user();
  play(server, caller, clock.get());
  EXPECT_EQ(server.failure(), "");
  EXPECT_TRUE(caller.ended);
  EXPECT_EQ(caller.seen.back(), "STATUS:\tCOMPLETE");
  EXPECT_EQ(caller.plan_codes, (std::vector<std::string>{"P10", "P30", "PUNL"}));
  ASSERT_FALSE(server.received().empty());
  EXPECT_EQ(server.received().front(), "alice");
  EXPECT_EQ(server.received()[1], "REPLY: yes");
  EXPECT_NE(std::find(trace.begin(), trace.end(), "COM2 srv< REPLY: Ann"), trace.end());
  EXPECT_NE(std::find(trace.begin(), trace.end(), "COM2 srv> REQUEST:\\tFIRSTNAME\\r"), trace.end());
}

TEST(ShippedScenarios, ExistingAccount) {
  platform::ScopedVirtualClock clock;
  ScenarioServer server(load("existing-account.txt"), {}, "COM2");
  Caller caller = new_user();
  caller.profile["NEWUSER"] = "no";
  play(server, caller, clock.get());
  EXPECT_EQ(server.failure(), "");
  EXPECT_EQ(caller.seen.back(), "STATUS:\tCOMPLETE");
}

TEST(ShippedScenarios, ExistingAccountRefusesANewUser) {
  platform::ScopedVirtualClock clock;
  ScenarioServer server(load("existing-account.txt"), {}, "COM2");
  Caller caller = new_user();
  play(server, caller, clock.get());
  EXPECT_EQ(server.failure(), "line 6: expected REPLY: no, got REPLY: yes");
  EXPECT_EQ(server.state(), FarEnd::State::Closed);
}

TEST(ShippedScenarios, ServerFailure) {
  platform::ScopedVirtualClock clock;
  ScenarioServer server(load("server-failure.txt"), {}, "COM2");
  Caller caller = new_user();
  play(server, caller, clock.get());
  EXPECT_EQ(caller.seen.back(), "FAILURE:");
  EXPECT_EQ(server.received().back(), "REPLY: OK");
}

TEST(ShippedScenarios, HangUpMidway) {
  platform::ScopedVirtualClock clock;
  ScenarioServer server(load("hangup-midway.txt"), {}, "COM2");
  Caller caller = new_user();
  std::int64_t start = clock.get().now_ms();
  play(server, caller, clock.get());
  EXPECT_FALSE(caller.ended);
  EXPECT_EQ(server.state(), FarEnd::State::Closed);
  EXPECT_EQ(caller.seen.back(), "REQUEST:\tLASTNAME");
  EXPECT_EQ(clock.get().now_ms() - start, 200);
  EXPECT_EQ(server.failure(), "");
}

// used-id, plan-choice, bad-card, cancelled-prompt and transfer need the
// server's prompts answered: they are played against the real session and
// wizard dialogs (tests/wizard/dialing_page_test.cpp, tests/e2e). Here they
// only have to parse.
TEST(ShippedScenarios, AllParse) {
  for (const char* name : {"new-account.txt", "existing-account.txt", "server-failure.txt", "hangup-midway.txt",
                           "used-id.txt", "plan-choice.txt", "bad-card.txt", "cancelled-prompt.txt",
                           "transfer.txt"}) {
    SCOPED_TRACE(name);
    load(name);
  }
}

TEST(ScenarioPlay, LoginMismatchAndTimeOutHangUp) {
  platform::ScopedVirtualClock clock;
  std::string error;
  ScenarioServer wrong(Scenario::parse("login alice\nsend X\n", &error), {}, "COM2");
  Caller bob = new_user();
  bob.login = "bob";
  play(wrong, bob, clock.get());
  EXPECT_EQ(wrong.failure(), "line 1: expected alice, got bob");
  EXPECT_EQ(wrong.state(), FarEnd::State::Closed);

  ScenarioServer quiet(Scenario::parse("timeout 5\nlogin *\nsend HELLO:\nexpect *\n", &error), {}, "COM2");
  Caller silent = new_user();
  std::int64_t start = clock.get().now_ms();
  play(quiet, silent, clock.get());  // nobody answers HELLO:
  EXPECT_EQ(quiet.failure(), "line 4: timed out waiting for *");
  EXPECT_EQ(clock.get().now_ms() - start, 5000);
}

TEST(ScenarioPlay, BadBytesFromTheCallerAreBounded) {
  platform::ScopedVirtualClock clock;
  std::string error;
  ScenarioServer server(Scenario::parse("login *\nexpect *\n", &error), {}, "COM2");
  server.poll();
  server.write(std::string("a\0b\r", 4));
  server.write(std::string(10'000, 'x') + "\n");
  server.write("\r\n\r\n");
  server.poll();
  ASSERT_EQ(server.received().size(), 2u);
  EXPECT_EQ(server.received()[0], std::string("a\0b", 3));
  EXPECT_EQ(server.received()[1].size(), ScenarioServer::kMaxLine);
  EXPECT_TRUE(server.finished());
}

TEST(ScenarioPlay, AScriptThatLoopsWithoutWaitingDoesNotStall) {
  platform::ScopedVirtualClock clock;
  std::string error;
  ScenarioServer server(Scenario::parse("label a\ngoto a\n", &error), {}, "COM2");
  server.poll();  // the implicit login waits for a name first
  server.write("x\r");
  server.poll();  // returns after its step budget
  EXPECT_FALSE(server.finished());
  EXPECT_EQ(server.state(), FarEnd::State::Open);
}

}  // namespace
}  // namespace linesim::test
