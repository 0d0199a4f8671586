// The phone book's writers against pppd's own option parser, their readers,
// the secrets merge, and the install into a pppd folder.
#include "platform/shell/phonebook.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "platform/storage/files.h"
#include "platform/storage/system_root.h"
#include "support/program_runner.h"

namespace platform::phonebook {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

std::string Slurp(const fs::path& p) {
  std::string text;
  read_file(p, text);
  return text;
}

void Spit(const fs::path& p, std::string_view text, mode_t mode = 0644) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
  ::chmod(p.c_str(), mode);
}

mode_t ModeOf(const fs::path& p) {
  struct stat st {};
  ::stat(p.c_str(), &st);
  return st.st_mode & 07777;
}

// Values a profile may hold that would be syntax if written raw. Each
// injection names an option pppd does not know, so an escape from the
// quoting would make pppd fail with 2.
const std::vector<std::string>& Injections() {
  static const std::vector<std::string> values = {
      "plain",
      "with blank",
      "quote\"bogus-opt-a",
      "single'bogus-opt-b",
      "back\\slash",
      "trailing\\",
      "line\nbogus-opt-c",
      "cr\rbogus-opt-d",
      "tab\tbogus-opt-e",
      "hash # bogus-opt-f",
      "\" bogus-opt-g \"",
      "connect /bin/false",
      "nul-free \x01\x1f\x7f\xff",
      "octal-like \x01" "11",
      "\\x41\\101",
      "",
  };
  return values;
}

PeersFile SamplePeers(std::string user = "jdoe") {
  PeersFile p;
  p.entry_name = "Tarkel - Veloran Account";
  p.device = "/dev/null";  // a character device pppd can stat
  p.speed = 57600;
  p.user = std::move(user);
  p.chat_program = "/usr/sbin/chat";
  p.chat_script = "/tmp/some dir/it's/chatscripts/tarkel-veloran-account";
  p.ipparam = "tarkel-veloran-account";
  p.dns1 = {10, 1, 2, 3};
  p.dns2 = {0, 0, 0, 0};
  return p;
}

class PhoneBookTest : public ::testing::Test {
 protected:
  ScopedSystemRoot root;
  fs::path Dir(const char* name) { return root.path() / name; }
};

TEST(SafeEntryNameTest, Table) {
  const std::pair<const char*, const char*> cases[] = {
      {"Tarkel - Veloran Account", "tarkel-veloran-account"},
      {"temp", "temp"},
      {"TEMP", "temp"},
      {"../../etc/passwd", "etc-passwd"},
      {"a\nb", "a-b"},
      {"", "entry"},
      {"---", "entry"},
      {"\xe9t\xe9", "t"},
  };
  for (auto& [in, out] : cases) EXPECT_EQ(SafeEntryName(in), out) << in;
}

TEST(PppdWordsTest, QuotedWordsReadBackExactly) {
  for (const std::string& v : Injections()) {
    auto quoted = PppdQuote(v);
    ASSERT_TRUE(quoted) << v;
    auto lines = PppdWords("user " + *quoted + "\nnext\n");
    ASSERT_EQ(lines.size(), 2u) << *quoted;
    ASSERT_EQ(lines[0].size(), 2u) << *quoted;
    EXPECT_EQ(lines[0][1], v) << *quoted;
    EXPECT_EQ(lines[1], std::vector<std::string>{"next"});
  }
  EXPECT_FALSE(PppdQuote("a\0b"s));
}

TEST(PppdWordsTest, ReadsAsPppdDoes) {
  struct Case {
    std::string text;
    std::vector<std::vector<std::string>> lines;
  };
  const Case cases[] = {
      {"a b # comment\nc", {{"a", "b"}, {"c"}}},
      {"'x y'\"z\" w", {{"x yz", "w"}}},
      {"a\\\nb", {{"ab"}}},
      {"\\101\\x42\\n", {{"AB\n"}}},
      {"a#b", {{"a"}}},
      {"\"multi\nline\"", {{"multi\nline"}}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(PppdWords(c.text), c.lines) << c.text;
}

TEST(PeersFileTest, InjectionTableParsesInRealPppdAsOneUser) {
  if (test_support::FindTool("pppd").empty()) GTEST_SKIP() << "pppd (Debian package ppp) is not installed";
  ScopedSystemRoot root;
  const fs::path file = root.path() / "peers-under-test";
  for (const std::string& user : Injections()) {
    auto text = PeersFileText(SamplePeers(user));
    ASSERT_TRUE(text) << user;
    Spit(file, *text);
    auto verdict = test_support::PppdDryRun(file);
    EXPECT_EQ(verdict.exit_code, 0) << "user \"" << user << "\"\n" << verdict.output << *text;
    // pppd took exactly our options, whatever the user: none of the bogus
    // ones, and the user option only when there is a user.
    const auto options = test_support::PppdOptionsInEffect(verdict.output);
    for (const auto& o : options) {
      EXPECT_EQ(o.name.find("bogus"), std::string::npos) << user;
      EXPECT_TRUE(o.source == file.string() || o.source == "command line" || o.source == "/etc/ppp/options")
          << o.name << " from " << o.source;
    }
    EXPECT_EQ(test_support::PppdOptionValue(options, "user").has_value(), !user.empty()) << user;
    EXPECT_EQ(test_support::PppdOptionValue(options, "remotename"), "tarkel-veloran-account");
    auto back = ReadPeersFile(*text);
    ASSERT_TRUE(back) << *text;
    EXPECT_EQ(back->user, user);
    EXPECT_EQ(back->device, "/dev/null");
    EXPECT_EQ(back->chat_script, SamplePeers().chat_script);
    EXPECT_EQ(back->entry_name, "Tarkel - Veloran Account");
    EXPECT_EQ(back->dns1, (Address{10, 1, 2, 3}));
    // Exactly the options we wrote, whatever the user.
    std::size_t words = 0;
    for (auto& line : PppdWords(*text)) words += line.size();
    EXPECT_EQ(words, user.empty() ? 15u : 17u) << *text;
  }
}

TEST(PeersFileTest, TheDryRunCatchesAnInjectedOption) {
  // The check above would see an escape: the same file with the user
  // written raw is refused by pppd.
  if (test_support::FindTool("pppd").empty()) GTEST_SKIP() << "pppd is not installed";
  ScopedSystemRoot root;
  const fs::path file = root.path() / "raw";
  Spit(file, "/dev/null\nuser line\nbogus-opt-c\n");
  EXPECT_EQ(test_support::PppdDryRun(file).exit_code, 2);
  auto good = PeersFileText(SamplePeers("line\nbogus-opt-c"));
  ASSERT_TRUE(good);
  Spit(file, *good);
  EXPECT_EQ(test_support::PppdDryRun(file).exit_code, 0);
}

TEST(PeersFileTest, RefusesWhatCannotBeData) {
  PeersFile p = SamplePeers("nul\0inside"s);
  std::string why;
  EXPECT_FALSE(PeersFileText(p, &why));
  EXPECT_FALSE(why.empty());
  p = SamplePeers();
  p.ipparam = "bad name";
  EXPECT_FALSE(PeersFileText(p));
  p = SamplePeers();
  p.device = "relative";
  EXPECT_FALSE(PeersFileText(p));
}

// Windows' dialing rules for a caller in country 1 at `own` area code.
TEST(DialCommandTest, Table) {
  struct Case {
    const char *name, *method, *prefix, *cw, *cw_string, *own, *area, *number;
    const char* dial;  // nullptr: refused
  };
  const Case cases[] = {
      {"same area: the local number", "TONE", "", "FALSE", "", "408", "408", "555-1234", "ATDT5551234"},
      {"other area: 1 + area code", "TONE", "", "FALSE", "", "408", "415", "555-1234", "ATDT14155551234"},
      {"toll-free from another area", "TONE", "", "FALSE", "", "408", "800", "555 0147", "ATDT18005550147"},
      {"no own area code: long distance", "TONE", "", "FALSE", "", "", "800", "5550147", "ATDT18005550147"},
      {"no area code: the number alone", "TONE", "", "FALSE", "", "408", "", "5551234", "ATDT5551234"},
      {"written with punctuation", "TONE", "", "FALSE", "", "(408)", "(408)", "555.1234", "ATDT5551234"},
      {"prefix, call waiting, pulse", "PULSE", "9,", "TRUE", "*70,", "408", "(800)", "555 1234",
       "ATDP9,*70,18005551234"},
      {"call waiting string unused", "TONE", "", "FALSE", "junk'\"", "", "", "5551234", "ATDT5551234"},
      {"a bad own area code counts as another", "TONE", "", "FALSE", "", "40x", "408", "5551234",
       "ATDT14085551234"},
      {"line break in the number", "TONE", "", "FALSE", "", "", "800", "555\r\nATH", nullptr},
      {"quote in the number", "TONE", "", "FALSE", "", "", "800", "555'1234", nullptr},
      {"a word", "TONE", "", "FALSE", "", "", "800", "connect", nullptr},
      {"caret", "TONE", "", "FALSE", "", "", "800", "555^M", nullptr},
      {"backslash in the prefix", "TONE", "9\\,", "FALSE", "", "", "800", "5551234", nullptr},
      {"nothing", "TONE", "", "FALSE", "", "", "", "", nullptr},
      {"no digit", "TONE", "", "FALSE", "", "", "", "- ()", nullptr},
  };
  for (const Case& c : cases) {
    std::string why;
    auto dial = DialCommand({c.method, c.prefix, c.cw, c.cw_string, c.own}, c.area, c.number, &why);
    if (c.dial) {
      ASSERT_TRUE(dial) << c.name << ": " << why;
      EXPECT_EQ(*dial, c.dial) << c.name;
      auto script = ChatScriptText("", *dial);
      ASSERT_TRUE(script) << c.name;
      EXPECT_EQ(ReadChatScript(*script)->dial, *dial) << c.name;
    } else {
      EXPECT_FALSE(dial) << c.name;
      EXPECT_FALSE(why.empty()) << c.name;
    }
  }
  EXPECT_FALSE(ChatScriptText("", "ATDT555 1234"));
  EXPECT_FALSE(ChatScriptText("", "ATH"));
}

TEST(SerialSpeedTest, NearestAtOrAbove) {
  const std::pair<std::uint32_t, std::uint32_t> cases[] = {
      {0, 0},           {300, 300},         {2400, 2400},       {14400, 19200},     {28800, 38400},
      {33600, 38400},   {56000, 57600},     {57600, 57600},     {115200, 115200},   {128000, 230400},
      {9999999, 4000000},
  };
  for (auto [in, out] : cases) EXPECT_EQ(SerialSpeedAtOrAbove(in), out) << in;
}

// The modem's init string: reset, then the init string with &D2, each
// expecting OK; read back as written.
TEST(ChatScriptTest, ResetThenInitStringThenDial) {
  struct Case {
    const char *modem_init, *sent;  // nullptr: refused
  } cases[] = {
      {"ATE0Q0V1&C1&D2S2=43S7=60S12=50", "ATE0Q0V1&C1&D2S2=43S7=60S12=50"},
      {"AT&F", "AT&F&D2"},
      {"at&fe0&d2", "at&fe0&d2"},
      {"", "AT&D2"},
      {"AT&F\\N3", "AT&F\\N3&D2"},
      {"AT&F'\nABORT", nullptr},
      {"AT&F ATH", nullptr},
      {"AT^SYSCFG", nullptr},
      {"ATZ\"", nullptr},
      {"&F", nullptr},
  };
  for (const Case& c : cases) {
    std::string why;
    auto init = ModemInitCommand(c.modem_init, &why);
    if (!c.sent) {
      EXPECT_FALSE(init) << c.modem_init;
      EXPECT_FALSE(why.empty());
      continue;
    }
    ASSERT_TRUE(init) << c.modem_init << ": " << why;
    EXPECT_EQ(*init, c.sent);
    auto script = ChatScriptText(*init, "ATDT5551234");
    ASSERT_TRUE(script) << c.modem_init;
    EXPECT_NE(script->find("'' ATZ\nOK '"), std::string::npos) << *script;
    EXPECT_NE(script->find("'\nOK 'ATDT5551234'\nCONNECT ''\n"), std::string::npos) << *script;
    auto back = ReadChatScript(*script);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->init, *init);
    EXPECT_EQ(back->dial, "ATDT5551234");
  }
  // Only an init string ModemInitCommand made reaches a script.
  EXPECT_FALSE(ChatScriptText("AT&F", "ATDT5551234"));
  EXPECT_FALSE(ChatScriptText("AT'x", "ATDT5551234"));
}

TEST(SecretsTest, LinesAreDataAndReadBack) {
  for (const std::string& v : Injections()) {
    if (!v.empty() && v[0] == '@') continue;
    auto line = SecretsLine(v, "tarkel-veloran-account", v);
    ASSERT_TRUE(line) << v;
    auto secrets = ReadSecrets("# other\n\"other\" * \"pw\"\n" + *line);
    ASSERT_EQ(secrets.size(), 2u) << *line;
    EXPECT_EQ(secrets[1].client, v);
    EXPECT_EQ(secrets[1].server, "tarkel-veloran-account");
    EXPECT_EQ(secrets[1].secret, v);
  }
  std::string why;
  EXPECT_FALSE(SecretsLine("u", "x", "@/etc/shadow", &why));
  EXPECT_NE(why.find("'@'"), std::string::npos);
  EXPECT_FALSE(SecretsLine("u", "not safe", "p"));
  EXPECT_FALSE(SecretsLine("u\0"s, "x", "p"));
}

TEST(SecretsTest, MergeKeepsEveryOtherByte) {
  const std::string ours = "\"jdoe\" acct \"pw\"\n";
  const std::string newer = "\"jdoe\" acct \"new\"\n";
  struct Case {
    std::string before;
    std::string after_add;
  };
  const Case cases[] = {
      {"", ours},
      {"# comment\n", "# comment\n" + ours},
      {"a * b", "a * b\n\"jdoe\" acct \"pw\""},
      {"a * b\n\n  \t\n", "a * b\n\n  \t\n" + ours},
      {"x acct-other y\n", "x acct-other y\n" + ours},
  };
  for (const Case& c : cases) {
    const std::string added = MergeSecrets(c.before, "acct", ours);
    EXPECT_EQ(added, c.after_add) << c.before;
    EXPECT_EQ(MergeSecrets(added, "acct", ours), added) << "a second merge changes nothing";
    EXPECT_EQ(MergeSecrets(added, "acct", std::nullopt), c.before) << "removal restores the bytes";
  }
  // Replaced in place, duplicates removed.
  EXPECT_EQ(MergeSecrets("a * b\n" + ours + "c * d\n" + ours, "acct", newer), "a * b\n" + newer + "c * d\n");
}

TEST(IpUpHookTest, ValidShellThatLeavesOtherConnectionsAlone) {
  ScopedSystemRoot root;
  const std::pair<const char*, std::string> hooks[] = {
      {"fixed", IpUpHookText("acct", {10, 1, 0, 0}, {})},
      {"provider", IpUpHookText("acct", {}, {})},
      {"down", IpDownHookText("acct")},
  };
  for (const auto& [file, text] : hooks) {
    ASSERT_FALSE(text.empty()) << file;
    const fs::path path = root.path() / file;
    Spit(path, text, 0755);
    EXPECT_EQ(test_support::RunProgram({"/bin/sh", "-n", path.string()}).exit_code, 0) << text;
    // Another entry's connection leaves the name servers alone (the hooks
    // are run for their own entry only in a mount namespace: they change
    // the machine's resolver).
    auto other = test_support::RunProgram({"/bin/sh", path.string(), "ppp0", "/dev/x", "0", "", "", "other"});
    EXPECT_EQ(other.exit_code, 0);
    EXPECT_EQ(other.output, "");
  }
  EXPECT_NE(hooks[0].second.find("servers='10.1.0.0'"), std::string::npos);
  EXPECT_NE(hooks[1].second.find("$DNS1"), std::string::npos);
  EXPECT_EQ(IpUpHookText("not safe", {}, {}), "");
}

// Debian's /etc/ppp/ip-up and ip-down run the entry's hooks through
// run-parts, in a mount namespace with its own /etc, /run and
// /usr/local/sbin: the servers go to resolved, else resolvconf, else into
// resolv.conf with its other lines and its symbolic link kept, and ip-down
// puts back exactly what was there.
TEST(IpUpHookTest, DebiansIpUpHandsTheServersToTheResolverAndIpDownUndoesIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root for a mount namespace";
  for (const char* f : {"/etc/ppp/ip-up", "/etc/ppp/ip-down", "/usr/bin/unshare", "/usr/bin/run-parts"}) {
    if (!fs::exists(f)) GTEST_SKIP() << f << " is missing (Debian packages ppp, util-linux, debianutils)";
  }
  const std::string name = "tarkel-veloran-account";
  const std::string original = "search example.org\noptions edns0\nnameserver 192.168.1.1\n";
  const std::string kept = "search example.org\noptions edns0\n";
  const std::string usepeerdns = "USEPEERDNS=1\nDNS1=10.9.8.7\nDNS2=10.9.8.6\n";
  struct Case {
    const char* name;
    Address dns1, dns2;       // both 0: the provider's (usepeerdns)
    std::string env;          // what pppd gives the scripts
    std::string stubs;        // "resolvectl", "resolvconf" or ""
    bool link;                // resolv.conf is a symbolic link
    bool debian_peerdns_hook; // Debian's 0000usepeerdns is in ip-up.d
    std::string ipparam;
    std::string calls;        // what the stubs were asked, in order
    std::string resolv_up;    // resolv.conf while connected
  };
  const std::vector<Case> cases = {
      {"resolved", {10, 1, 2, 3}, {}, "", "resolvectl", false, false, name,
       "resolvectl dns ppp0 10.1.2.3\nresolvectl revert ppp0\n", original},
      {"resolved, the provider's servers", {}, {}, usepeerdns, "resolvectl", false, false, name,
       "resolvectl dns ppp0 10.9.8.7 10.9.8.6\nresolvectl revert ppp0\n", original},
      {"resolvconf", {10, 1, 2, 3}, {10, 1, 2, 4}, "", "resolvconf", false, false, name,
       "resolvconf -a ppp0." + name + "\nnameserver 10.1.2.3\nnameserver 10.1.2.4\nresolvconf -d ppp0." + name + "\n",
       original},
      {"resolv.conf", {10, 1, 2, 3}, {10, 1, 2, 4}, "", "", false, false, name, "",
       "nameserver 10.1.2.3\nnameserver 10.1.2.4\n" + kept},
      {"resolv.conf as a symbolic link", {10, 1, 2, 3}, {}, "", "", true, false, name, "",
       "nameserver 10.1.2.3\n" + kept},
      {"resolv.conf, the provider's servers", {}, {}, usepeerdns, "", false, false, name, "",
       "nameserver 10.9.8.7\nnameserver 10.9.8.6\n" + kept},
      // Debian's own usepeerdns hook writes the provider's servers itself
      // (before ours: 0000 sorts first); ours leaves resolv.conf to it.
      {"resolv.conf link, Debian's usepeerdns hook", {}, {}, usepeerdns, "", true, true, name, "",
       "nameserver 10.9.8.7\nnameserver 10.9.8.6\n" + kept},
      {"another entry's connection", {10, 1, 2, 3}, {}, "", "resolvectl", false, false, "other", "", original},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedSystemRoot root;
    const fs::path dir = root.path() / "case";
    const fs::path ppp = dir / "ppp";
    for (const char* f : {"ip-up", "ip-down"}) {
      fs::create_directories(ppp / (std::string(f) + ".d"));
      fs::copy_file(fs::path("/etc/ppp") / f, ppp / f);
    }
    if (c.debian_peerdns_hook) {
      for (const char* d : {"ip-up.d", "ip-down.d"}) {
        const fs::path hook = fs::path("/etc/ppp") / d / "0000usepeerdns";
        if (!fs::exists(hook)) GTEST_SKIP() << hook << " is missing";
        fs::copy_file(hook, ppp / d / "0000usepeerdns");
      }
      Spit(ppp / "resolv.conf", "nameserver 10.9.8.7\nnameserver 10.9.8.6\n");
    }
    Spit(ppp / "ip-up.d" / name, IpUpHookText(name, c.dns1, c.dns2), 0755);
    Spit(ppp / "ip-down.d" / name, IpDownHookText(name), 0755);
    Spit(dir / "resolv.conf", original);
    if (c.link) Spit(dir / "link", "");
    Spit(dir / "env", c.env);
    const fs::path calls = dir / "calls";
    if (!c.stubs.empty()) {
      // Records its arguments; resolvconf -a also what it reads.
      Spit(dir / "stubs" / c.stubs,
           "#!/bin/sh\necho \"" + c.stubs + " $*\" >> '" + calls.string() + "'\n" +
               (c.stubs == "resolvconf" ? "[ \"$1\" = -a ] && cat >> '" + calls.string() + "'\n" : "") + "exit 0\n",
           0755);
    }
    auto run = test_support::RunProgram({"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh",
                                     std::string(VLR_TEST_DATA_DIR) + "/ip_up_in_namespace.sh", dir.string(),
                                     c.ipparam});
    if (run.exit_code != 0 && run.output.find("unshare failed") != std::string::npos) {
      GTEST_SKIP() << "no mount namespace here: " << run.output;
    }
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(Slurp(calls), c.calls);
    EXPECT_EQ(Slurp(dir / "up.resolv"), c.resolv_up);
    EXPECT_EQ(Slurp(dir / "down.resolv"), original);
    const std::string kind = c.link ? "link\n" : "file\n";
    EXPECT_EQ(Slurp(dir / "up.kind"), kind);
    EXPECT_EQ(Slurp(dir / "down.kind"), kind);
    // Nothing left behind: no backup, no note of what was done.
    EXPECT_EQ(Slurp(dir / "down.files"), c.link ? "run/resolv.conf\n" : "etc/resolv.conf\n");
  }
}

EntryProperties SampleProperties() {
  EntryProperties props;
  props.device = "/dev/null";
  props.speed = 57600;
  props.dial_command = "ATDT8005551234";
  props.dns1 = {10, 0, 0, 1};
  props.dns2 = {10, 0, 0, 2};
  return props;
}

TEST_F(PhoneBookTest, EntryLifecycleKeepsTheDialParamsWithTheEntry) {
  PhoneBook book(Dir("pb"));
  EXPECT_EQ(book.ValidateEntryName("temp"), kPbSuccess);
  ASSERT_EQ(book.SetEntryProperties("temp", SampleProperties()), kPbSuccess);
  EXPECT_EQ(book.ValidateEntryName("temp"), kPbAlreadyExists);
  EXPECT_EQ(book.ValidateEntryName("TEMP"), kPbAlreadyExists);
  ASSERT_EQ(book.SetEntryDialParams("temp", "jdoe", "secret"), kPbSuccess);
  EXPECT_EQ(ModeOf(book.PapSecretsPath()), 0600u);
  EXPECT_EQ(ModeOf(book.ChapSecretsPath()), 0600u);
  EXPECT_EQ(ModeOf(book.HookPath("temp")), 0755u);
  EXPECT_EQ(ModeOf(book.DownHookPath("temp")), 0755u);

  ASSERT_EQ(book.RenameEntry("temp", "My Account"), kPbSuccess);
  EXPECT_EQ(book.ValidateEntryName("temp"), kPbSuccess);
  EXPECT_FALSE(fs::exists(book.ChatPath("temp")));
  EXPECT_FALSE(fs::exists(book.HookPath("temp")));
  EXPECT_FALSE(fs::exists(book.DownHookPath("temp")));
  EXPECT_TRUE(fs::exists(book.DownHookPath("My Account")));
  EXPECT_EQ(book.EntryNames(), std::vector<std::string>{"My Account"});
  auto peers = ReadPeersFile(Slurp(book.PeersPath("My Account")));
  ASSERT_TRUE(peers);
  EXPECT_EQ(peers->user, "jdoe");
  EXPECT_EQ(peers->ipparam, "my-account");
  EXPECT_EQ(peers->chat_script, book.ChatPath("My Account").string());
  auto secrets = ReadSecrets(Slurp(book.PapSecretsPath()));
  ASSERT_EQ(secrets.size(), 1u);
  EXPECT_EQ(secrets[0].server, "my-account");
  EXPECT_EQ(secrets[0].secret, "secret");

  ASSERT_EQ(book.SetEntryProperties("temp", SampleProperties()), kPbSuccess);
  EXPECT_EQ(book.RenameEntry("temp", "my account"), kPbAlreadyExists);
  EXPECT_EQ(book.RenameEntry("nothing", "x"), kPbEntryNotFound);
  EXPECT_EQ(book.DeleteEntry("temp"), kPbSuccess);
  EXPECT_EQ(book.DeleteEntry("temp"), kPbEntryNotFound);
  EXPECT_EQ(book.DeleteEntry("My Account"), kPbSuccess);
  EXPECT_EQ(Slurp(book.PapSecretsPath()), "");
  EXPECT_TRUE(book.EntryNames().empty());
}

TEST_F(PhoneBookTest, RefusedValuesWriteNothing) {
  PhoneBook book(Dir("pb"));
  EntryProperties props = SampleProperties();
  props.dial_command = "ATDT555\nATH";
  std::string why;
  EXPECT_EQ(book.SetEntryProperties("temp", props, &why), kPbInvalidValue);
  EXPECT_FALSE(why.empty());
  EXPECT_FALSE(fs::exists(book.PeersPath("temp")));
  ASSERT_EQ(book.SetEntryProperties("temp", SampleProperties()), kPbSuccess);
  EXPECT_EQ(book.SetEntryDialParams("temp", "nul\0in"s, "pw"), kPbInvalidValue);
  EXPECT_FALSE(fs::exists(book.PapSecretsPath()));
}

// A password beginning with '@' is pppd's "read the secret from this file":
// it is written in pppd's own form for that, a 0600 file the lines name,
// and it follows the entry through rename, install and removal.
TEST_F(PhoneBookTest, APasswordBeginningWithAtLivesInTheEntrysSecretFile) {
  PhoneBook book(Dir("pb"));
  ASSERT_EQ(book.SetEntryProperties("temp", SampleProperties()), kPbSuccess);
  const std::string password = "@/etc/shadow \"x\"";
  ASSERT_EQ(book.SetEntryDialParams("temp", "jdoe", password), kPbSuccess);
  ASSERT_EQ(book.RenameEntry("temp", "Acct"), kPbSuccess);
  auto read_back = [&](const PhoneBook& b) {
    auto secrets = ReadSecrets(Slurp(b.ChapSecretsPath()));
    EXPECT_EQ(secrets.size(), 1u);
    if (secrets.empty()) return std::string("<none>");
    EXPECT_EQ(secrets[0].secret, "@" + b.SecretFilePath("Acct").string());
    EXPECT_EQ(ModeOf(b.SecretFilePath("Acct")), 0600u);
    // pppd takes the first word of the file as the secret.
    auto words = PppdWords(Slurp(b.SecretFilePath("Acct")));
    return words.empty() || words[0].empty() ? std::string("<empty>") : words[0][0];
  };
  EXPECT_EQ(read_back(book), password);
  EXPECT_FALSE(fs::exists(book.SecretFilePath("temp")));
  const fs::path etc = Dir("etc-ppp");
  std::string why;
  ASSERT_EQ(InstallEntry(book, "Acct", etc, &why), kPbSuccess) << why;
  EXPECT_EQ(read_back(PhoneBook(etc)), password);
  // A plain password again: the file goes.
  ASSERT_EQ(book.SetEntryDialParams("Acct", "jdoe", "plain"), kPbSuccess);
  EXPECT_FALSE(fs::exists(book.SecretFilePath("Acct")));
  ASSERT_EQ(RemoveEntry("Acct", etc, &why), kPbSuccess) << why;
  EXPECT_FALSE(fs::exists(PhoneBook(etc).SecretFilePath("Acct")));
}

TEST_F(PhoneBookTest, InstallMergesWithOtherEntriesAndRemoveRestoresBytes) {
  PhoneBook book(Dir("root-pb"));
  ASSERT_EQ(book.SetEntryProperties("temp", SampleProperties()), kPbSuccess);
  ASSERT_EQ(book.RenameEntry("temp", "Tarkel - Veloran Account"), kPbSuccess);
  ASSERT_EQ(book.SetEntryDialParams("Tarkel - Veloran Account", "jdoe", "pw \"x\""), kPbSuccess);

  // A pppd folder that already holds another provider.
  const fs::path etc = Dir("etc-ppp");
  const std::map<std::string, std::string> before = {
      {"peers/provider", "/dev/ttyS0\nuser \"other\"\nconnect \"/usr/sbin/chat -f /etc/chatscripts/provider\"\n"},
      {"pap-secrets", "# Secrets for PAP\n\"other\" * \"theirs\"\n"},
      {"chap-secrets", "\"other\" * \"theirs\""},  // no final newline
      {"options", "lock\n"},
  };
  for (auto& [name, text] : before) Spit(etc / name, text, name.find("secrets") != std::string::npos ? 0600 : 0644);

  bool changed = false;
  std::string why;
  ASSERT_EQ(InstallEntry(book, "Tarkel - Veloran Account", etc, &why, &changed), kPbSuccess) << why;
  EXPECT_TRUE(changed);
  const PhoneBook installed(etc);
  auto peers = ReadPeersFile(Slurp(installed.PeersPath("Tarkel - Veloran Account")));
  ASSERT_TRUE(peers);
  EXPECT_EQ(peers->chat_script, (etc / "chatscripts" / "tarkel-veloran-account").string());
  EXPECT_EQ(ReadChatScript(Slurp(installed.ChatPath("x tarkel veloran account"))), std::nullopt);
  EXPECT_EQ(ReadChatScript(Slurp(installed.ChatPath("Tarkel - Veloran Account")))->dial, "ATDT8005551234");
  EXPECT_EQ(Slurp(etc / "peers/provider"), before.at("peers/provider"));
  for (const char* f : {"pap-secrets", "chap-secrets"}) {
    auto secrets = ReadSecrets(Slurp(etc / f));
    ASSERT_EQ(secrets.size(), 2u) << f;
    EXPECT_EQ(secrets[0].client, "other");
    EXPECT_EQ(secrets[1].client, "jdoe");
    EXPECT_EQ(secrets[1].secret, "pw \"x\"");
    EXPECT_EQ(ModeOf(etc / f), 0600u);
  }
  EXPECT_EQ(ModeOf(installed.HookPath("Tarkel - Veloran Account")), 0755u);
  EXPECT_EQ(ModeOf(installed.DownHookPath("Tarkel - Veloran Account")), 0755u);
  if (!test_support::FindTool("pppd").empty()) {
    auto verdict = test_support::PppdDryRun(installed.PeersPath("Tarkel - Veloran Account"));
    EXPECT_EQ(verdict.exit_code, 0) << verdict.output;
    const auto options = test_support::PppdOptionsInEffect(verdict.output);
    EXPECT_EQ(test_support::PppdOptionValue(options, "user"), "jdoe");
    EXPECT_EQ(test_support::PppdOptionValue(options, "remotename"), "tarkel-veloran-account");
    EXPECT_EQ(test_support::PppdOptionValue(options, "/dev/null"), "");
  }

  // A second install changes nothing.
  std::map<std::string, std::string> after_first;
  for (auto& e : fs::recursive_directory_iterator(etc)) {
    if (e.is_regular_file()) after_first[e.path().string()] = Slurp(e.path());
  }
  ASSERT_EQ(InstallEntry(book, "Tarkel - Veloran Account", etc, &why, &changed), kPbSuccess);
  EXPECT_FALSE(changed);
  for (auto& [path, text] : after_first) EXPECT_EQ(Slurp(path), text) << path;

  ASSERT_EQ(RemoveEntry("Tarkel - Veloran Account", etc, &why), kPbSuccess) << why;
  for (auto& [name, text] : before) EXPECT_EQ(Slurp(etc / name), text) << name;
  EXPECT_FALSE(fs::exists(installed.PeersPath("Tarkel - Veloran Account")));
  EXPECT_FALSE(fs::exists(installed.ChatPath("Tarkel - Veloran Account")));
  EXPECT_FALSE(fs::exists(installed.HookPath("Tarkel - Veloran Account")));
  EXPECT_FALSE(fs::exists(installed.DownHookPath("Tarkel - Veloran Account")));
  std::vector<std::string> left;
  for (auto& e : fs::recursive_directory_iterator(etc)) {
    if (!e.is_directory()) left.push_back(fs::relative(e.path(), etc).string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"chap-secrets", "options", "pap-secrets", "peers/provider"}))
      << "no lock file is left in the pppd folder";
  EXPECT_EQ(InstallEntry(book, "No Such Entry", etc, &why), kPbEntryNotFound);
}

}  // namespace
}  // namespace platform::phonebook

namespace platform::phonebook {
namespace {

// The root's files belong to the user; an install run as root takes only
// the entry's own values from them. Each row doctors the root one way.
TEST_F(PhoneBookTest, InstallOfADoctoredRootInstallsOnlyTheEntrysOwnValues) {
  set_ppp_programs({"/usr/sbin/pppd", "/usr/sbin/chat"});
  const std::string name = "Tarkel - Veloran Account", safe = "tarkel-veloran-account";
  const std::string foreign = "\"alice\" corp-vpn \"alices-secret\"\n";
  struct Case {
    const char* name;
    std::function<void(const PhoneBook&)> doctor;
    int result;              // of InstallEntry
    const char* why = "";    // a part of the reason for a refusal
  };
  auto edit_peers = [](const PhoneBook& b, std::function<void(PeersFile&)> change) {
    std::string text = Slurp(b.PeersPath("Tarkel - Veloran Account"));
    PeersFile p = *ReadPeersFile(text);
    change(p);
    Spit(b.PeersPath("Tarkel - Veloran Account"), *PeersFileText(p));
  };
  const std::vector<Case> cases = {
      {"as made", [](const PhoneBook&) {}, kPbSuccess},
      {"another chat program", [&](const PhoneBook& b) { edit_peers(b, [](PeersFile& p) { p.chat_program = "/tmp/evil"; }); },
       kPbSuccess},
      {"a step added to the chat script",
       [](const PhoneBook& b) {
         Spit(b.ChatPath("Tarkel - Veloran Account"), Slurp(b.ChatPath("Tarkel - Veloran Account")) + "'' 'ATDT1900555'\n");
       },
       kPbSuccess},
      {"remotename and ipparam of another provider",
       [&](const PhoneBook& b) {
         std::string text = Slurp(b.PeersPath("Tarkel - Veloran Account"));
         for (const char* key : {"remotename ", "ipparam "}) {
           const std::size_t at = text.find(key) + std::strlen(key);
           text.replace(at, text.find('\n', at) - at, "corp-vpn");
         }
         Spit(b.PeersPath("Tarkel - Veloran Account"), text);
         Spit(b.PapSecretsPath(), Slurp(b.PapSecretsPath()) + foreign, 0600);
       },
       kPbSuccess},
      {"another user", [&](const PhoneBook& b) { edit_peers(b, [](PeersFile& p) { p.user = "alice"; }); },
       kPbInvalidValue, "names the user \"alice\""},
      {"a device that is a file", [&](const PhoneBook& b) { edit_peers(b, [](PeersFile& p) { p.device = "/etc/passwd"; }); },
       kPbInvalidValue, "not a character device"},
      {"a device that is not there",
       [&](const PhoneBook& b) { edit_peers(b, [](PeersFile& p) { p.device = "/dev/no-such-tty"; }); }, kPbInvalidValue,
       "not a character device"},
      {"a number with letters",
       [](const PhoneBook& b) {
         std::string chat = Slurp(b.ChatPath("Tarkel - Veloran Account"));
         const std::size_t at = chat.find("ATDT");
         chat.replace(at, chat.find('\'', at) - at, "ATDT5550199;H");
         Spit(b.ChatPath("Tarkel - Veloran Account"), chat);
       },
       kPbInvalidValue, "not a dial character"},
      {"a secret read from another file",
       [](const PhoneBook& b) {
         Spit(b.PapSecretsPath(), "\"jdoe\" tarkel-veloran-account \"@/etc/shadow\"\n", 0600);
       },
       kPbInvalidValue, "not its own secret file"},
      {"no secrets line", [&](const PhoneBook& b) { Spit(b.PapSecretsPath(), foreign, 0600); }, kPbInvalidValue,
       "no user ID and password"},
      {"a speed that is no serial speed",
       [&](const PhoneBook& b) { edit_peers(b, [](PeersFile& p) { p.speed = 14400; }); }, kPbSuccess},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedSystemRoot case_root;
    PhoneBook book(case_root.path() / "root-pb");
    ASSERT_EQ(book.SetEntryProperties(name, SampleProperties()), kPbSuccess);
    ASSERT_EQ(book.SetEntryDialParams(name, "jdoe", "pw"), kPbSuccess);
    c.doctor(book);
    // The system's folder holds alice's secret for her own provider.
    const fs::path etc = case_root.path() / "etc-ppp";
    const std::string pap_before = "# mine\n" + foreign;
    Spit(etc / "pap-secrets", pap_before, 0600);
    Spit(etc / "chap-secrets", foreign, 0600);
    std::string why;
    ASSERT_EQ(InstallEntry(book, name, etc, &why), c.result) << why;
    // alice's line is untouched, in either case.
    EXPECT_EQ(Slurp(etc / "pap-secrets").substr(0, pap_before.size()), pap_before);
    EXPECT_EQ(Slurp(etc / "chap-secrets").substr(0, foreign.size()), foreign);
    const PhoneBook target(etc);
    if (c.result != kPbSuccess) {
      EXPECT_NE(why.find(c.why), std::string::npos) << why;
      EXPECT_FALSE(fs::exists(target.PeersPath(name))) << "a refusal writes nothing";
      EXPECT_EQ(Slurp(etc / "pap-secrets"), pap_before);
      continue;
    }
    auto peers = ReadPeersFile(Slurp(target.PeersPath(name)));
    ASSERT_TRUE(peers);
    EXPECT_EQ(peers->ipparam, safe);
    EXPECT_EQ(peers->user, "jdoe");
    EXPECT_EQ(peers->device, "/dev/null");
    EXPECT_EQ(peers->speed, c.name == std::string("a speed that is no serial speed") ? 19200u : 57600u);
    EXPECT_EQ(peers->chat_program, "/usr/sbin/chat");
    EXPECT_EQ(Slurp(target.ChatPath(name)), *ChatScriptText("", "ATDT8005551234"));
    auto secrets = ReadSecrets(Slurp(etc / "pap-secrets"));
    ASSERT_EQ(secrets.size(), 2u);
    EXPECT_EQ(secrets[1].client, "jdoe");
    EXPECT_EQ(secrets[1].server, safe);
    EXPECT_EQ(secrets[1].secret, "pw");
    // Removal takes out the entry's line only.
    ASSERT_EQ(RemoveEntry(name, etc, &why), kPbSuccess) << why;
    EXPECT_EQ(Slurp(etc / "pap-secrets"), pap_before);
    EXPECT_EQ(Slurp(etc / "chap-secrets"), foreign);
  }
  reset_ppp_programs();
}

}  // namespace
}  // namespace platform::phonebook

namespace platform::phonebook {
namespace {

// pppd's word limit: what it would cut is refused, never written.
TEST(PppdWordLimitTest, ValuesUpTo1023BytesAreWrittenLongerOnesRefused) {
  const std::string fits(1023, 'a'), too_long(1024, 'a');
  PeersFile p = SamplePeers();
  p.user = fits;
  auto text = PeersFileText(p);
  ASSERT_TRUE(text);
  ASSERT_TRUE(ReadPeersFile(*text));
  EXPECT_EQ(ReadPeersFile(*text)->user, fits);
  std::string why;
  for (auto field : {&PeersFile::user, &PeersFile::device, &PeersFile::entry_name}) {
    p = SamplePeers();
    p.*field = field == &PeersFile::device ? "/" + too_long : too_long;
    EXPECT_FALSE(PeersFileText(p, &why));
    EXPECT_NE(why.find("word limit of 1023 bytes"), std::string::npos) << why;
  }
  ASSERT_TRUE(SecretsLine(fits, "entry", fits));
  EXPECT_EQ(ReadSecrets(*SecretsLine(fits, "entry", fits))[0].secret, fits);
  EXPECT_FALSE(SecretsLine(too_long, "entry", "pw", &why));
  EXPECT_FALSE(SecretsLine("user", "entry", too_long, &why));
  EXPECT_NE(why.find("word limit"), std::string::npos) << why;
}

// Files on which pppd reads a word across a line end, where a line-by-line
// merge would hide or replace the wrong line.
TEST(SecretsSpanLinesTest, Table) {
  struct Case {
    const char* name;
    std::string text;
    bool spans;
  } cases[] = {
      {"plain lines", "\"a\" * \"x\"\n\"b\" e \"y\"\n", false},
      {"no final newline", "\"a\" * \"x\"", false},
      {"quote in a comment", "# it's \"open\n\"a\" * x\n", false},
      {"escaped quote", "a\\\" * x\n", false},
      {"hash inside a word", "a#b * x\n", false},
      {"quote open at a line end", "\"a * x\nb e y\n", true},
      {"single quote open at a line end", "'a * x\nb e y\n", true},
      {"quote open at the end", "us\"er", true},
      {"backslash before a newline", "a * x\\\nb e y\n", true},
      {"backslash at the end", "a * x\\", true},
  };
  for (const Case& c : cases) EXPECT_EQ(SecretsSpanLines(c.text), c.spans) << c.name;
}

TEST_F(PhoneBookTest, InstallRefusesASecretsFileReadAcrossLineEndsAndWritesNothing) {
  PhoneBook book(Dir("root-pb"));
  ASSERT_EQ(book.SetEntryProperties("Tarkel - Veloran Account", SampleProperties()), kPbSuccess);
  ASSERT_EQ(book.SetEntryDialParams("Tarkel - Veloran Account", "jdoe", "pw"), kPbSuccess);
  const fs::path etc = Dir("etc-ppp");
  const std::string open_quote = "\"other\" * \"the\nirs\"\n";
  Spit(etc / "pap-secrets", open_quote, 0600);
  std::string why;
  EXPECT_EQ(InstallEntry(book, "Tarkel - Veloran Account", etc, &why), kPbCannotWrite);
  EXPECT_NE(why.find("across a line end"), std::string::npos) << why;
  EXPECT_EQ(Slurp(etc / "pap-secrets"), open_quote);
  std::vector<std::string> files;
  for (auto& e : fs::recursive_directory_iterator(etc)) {
    if (e.is_regular_file() && e.path().filename().string().find(".lock") == std::string::npos)
      files.push_back(e.path().filename().string());
  }
  EXPECT_EQ(files, std::vector<std::string>{"pap-secrets"}) << "nothing else was written";
}

TEST(SecretsSpanLinesTest, ABackslashEndingACommentDoesNotJoinLinesAsPppdReadsIt) {
  // pppd itself: after a comment ending in a backslash the next line's word
  // is an option of its own (here an unknown one: exit code 2).
  const std::string text = "# a note that ends in a backslash \\\nbogus-opt-z\n";
  if (!test_support::FindTool("pppd").empty()) {
    ScopedSystemRoot root;
    const fs::path file = root.path() / "options";
    Spit(file, text);
    const auto result = test_support::PppdDryRun(file);
    EXPECT_EQ(result.exit_code, 2) << result.output;
    EXPECT_NE(result.output.find("bogus-opt-z"), std::string::npos) << result.output;
  }
  EXPECT_EQ(PppdWords(text), (std::vector<std::vector<std::string>>{{"bogus-opt-z"}}));
  EXPECT_FALSE(SecretsSpanLines("# a note \\\n\"other\" * \"x\"\n"));
  EXPECT_TRUE(SecretsSpanLines("\"other\" * \"x\" \\\n\"jdoe\" e \"y\"\n"));
}

// Each file of the entry, and what it says about which version it is.
struct EntryState {
  std::string user, chat_dial, pap_secret, chap_secret;
  bool peers = false;
};

EntryState StateOf(const PhoneBook& book, std::string_view name) {
  EntryState s;
  if (auto peers = ReadPeersFile(Slurp(book.PeersPath(name)))) {
    s.peers = true;
    s.user = peers->user;
  }
  if (auto steps = ReadChatScript(Slurp(book.ChatPath(name)))) s.chat_dial = steps->dial;
  for (const auto& secret : ReadSecrets(Slurp(book.PapSecretsPath()))) s.pap_secret += secret.client + ":" + secret.secret;
  for (const auto& secret : ReadSecrets(Slurp(book.ChapSecretsPath()))) s.chap_secret += secret.client + ":" + secret.secret;
  return s;
}

TEST_F(PhoneBookTest, ReplaceEntrySwitchesAllFilesAndKeepsOtherLines) {
  PhoneBook book(Dir("pb"));
  Spit(book.PapSecretsPath(), "\"other\" * \"theirs\"\n", 0600);
  EntryProperties a = SampleProperties();
  ASSERT_EQ(book.ReplaceEntry("My Account", a, "jdoe", "one"), kPbSuccess);
  EntryProperties b = a;
  b.dial_command = "ATDT5550142";
  b.dns1 = {0, 0, 0, 0};
  b.dns2 = {0, 0, 0, 0};
  ASSERT_EQ(book.ReplaceEntry("My Account", b, "annlee", "two"), kPbSuccess);
  const EntryState s = StateOf(book, "My Account");
  EXPECT_EQ(s.user, "annlee");
  EXPECT_EQ(s.chat_dial, "ATDT5550142");
  EXPECT_EQ(s.pap_secret, "other:theirsannlee:two");
  EXPECT_EQ(s.chap_secret, "annlee:two");
  // No server addresses: the hooks stay and hand over the provider's.
  EXPECT_TRUE(fs::exists(book.HookPath("My Account")));
  EXPECT_FALSE(fs::exists(book.SwitchJournalPath("My Account")));
  for (auto& e : fs::recursive_directory_iterator(book.folder())) {
    const std::string f = e.path().filename().string();
    EXPECT_TRUE(f.find(".new") == std::string::npos && f.find(".tmp.") == std::string::npos) << e.path();
  }
  EXPECT_EQ(ModeOf(book.PapSecretsPath()), 0600u);
  EXPECT_EQ(ModeOf(book.ChapSecretsPath()), 0600u);
}

TEST_F(PhoneBookTest, RecoveryUndoesAnUndecidedSwitchAndFinishesADecidedOne) {
  PhoneBook book(Dir("pb"));
  ASSERT_EQ(book.ReplaceEntry("My Account", SampleProperties(), "jdoe", "one"), kPbSuccess);
  const std::string old_peers = Slurp(book.PeersPath("My Account"));
  // A crash after the new files were written, before the journal: undone.
  Spit(book.folder() / "peers" / ".my-account.new", "half of a new entry");
  Spit(book.folder() / ".pap-secrets.new", "\"x\" my-account \"new\"\n", 0600);
  Spit(book.folder() / "peers" / ".my-account.tmp.999999.0.0000abcd", "a dead writer's temporary file");
  ASSERT_EQ(book.RecoverEntry("My Account"), kPbSuccess);
  EXPECT_EQ(Slurp(book.PeersPath("My Account")), old_peers);
  EXPECT_FALSE(fs::exists(book.folder() / "peers" / ".my-account.new"));
  EXPECT_FALSE(fs::exists(book.folder() / ".pap-secrets.new"));
  EXPECT_FALSE(fs::exists(book.folder() / "peers" / ".my-account.tmp.999999.0.0000abcd"));
  EXPECT_EQ(StateOf(book, "My Account").pap_secret, "jdoe:one");

  // A crash after the journal, with the chat script already switched: finished.
  Spit(book.folder() / "peers" / ".my-account.new", "# new peers\n");
  Spit(book.folder() / ".chap-secrets.new", "\"annlee\" my-account \"two\"\n", 0600);
  Spit(book.SwitchJournalPath("My Account"),
       "replace chatscripts/my-account\nreplace chap-secrets\nreplace peers/my-account\n", 0600);
  ASSERT_EQ(book.RecoverEntry("My Account"), kPbSuccess);
  EXPECT_EQ(Slurp(book.PeersPath("My Account")), "# new peers\n");
  EXPECT_EQ(StateOf(book, "My Account").chap_secret, "annlee:two");
  EXPECT_FALSE(fs::exists(book.SwitchJournalPath("My Account")));

  // A journal that names a file outside the entry is not acted on.
  Spit(book.SwitchJournalPath("My Account"), "replace ../../etc/passwd\n", 0600);
  std::string why;
  EXPECT_EQ(book.RecoverEntry("My Account", &why), kPbCannotWrite);
  EXPECT_NE(why.find("not a switch journal"), std::string::npos) << why;
}

TEST_F(PhoneBookTest, UmaskZeroStillGivesEveryFolderAndFileItsOwnMode) {
  const mode_t old = ::umask(0);
  PhoneBook book(Dir("pb"));
  const int rc = book.ReplaceEntry("My Account", SampleProperties(), "jdoe", "one");
  ::umask(old);
  ASSERT_EQ(rc, kPbSuccess);
  for (const char* sub : {"peers", "chatscripts", "ip-up.d", "ip-down.d"}) {
    EXPECT_EQ(ModeOf(book.folder() / sub), 0755u) << sub;
  }
  EXPECT_EQ(ModeOf(book.PeersPath("My Account")), 0644u);
  EXPECT_EQ(ModeOf(book.ChatPath("My Account")), 0644u);
  EXPECT_EQ(ModeOf(book.HookPath("My Account")), 0755u);
  EXPECT_EQ(ModeOf(book.PapSecretsPath()), 0600u);
}

TEST_F(PhoneBookTest, AFolderLinkedOutOfTheRootIsRefusedAndNothingIsWritten) {
  const fs::path outside = Dir("outside");  // stands for a folder elsewhere
  fs::create_directories(outside);
  fs::create_directory_symlink(outside, root.path() / "phonebook");
  PhoneBook book(root.path() / "phonebook");
  std::string why;
  EXPECT_EQ(book.ReplaceEntry("My Account", SampleProperties(), "jdoe", "one", &why), kPbCannotWrite);
  EXPECT_NE(why.find("symbolic link"), std::string::npos) << why;
  EXPECT_TRUE(fs::is_empty(outside));
}

}  // namespace
}  // namespace platform::phonebook
