// CONFIG: through the session's line protocol: the account's pppd entry in
// the root's phone book and the autodial registry values.
#include "sysconfig/dialup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/program_runner.h"
#include "../session/fakes.h"
#include "platform/loop/clock.h"
#include "platform/storage/files.h"
#include "platform/shell/phonebook.h"
#include "platform/storage/registry.h"
#include "platform/storage/system_root.h"
#include "session/reg_session.h"
#include "sysconfig/setup_report.h"
#include "sysconfig/sysconfig.h"

namespace sysconfig {
namespace {

namespace fs = std::filesystem;
namespace reg = platform::reg;
namespace pb = platform::phonebook;
using namespace std::string_literals;

constexpr const char* kAutodial = "System\\CurrentControlSet\\Services\\Winsock\\Autodial";
constexpr const char* kInternet = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

std::string Slurp(const fs::path& p) {
  std::string text;
  platform::read_file(p, text);
  return text;
}

class DialUpTest : public ::testing::Test {
 protected:
  platform::ScopedVirtualClock vclock;
  platform::ScopedSystemRoot root;
  session::testing::FakePorts ports;
  session::testing::RecordingUi ui;
  session::testing::FakePage page;
  session::testing::MapProfile profile;
  session::CRegSessionDialog session{page.hwnd, ui, ports.Options()};
  reg::Registry& registry = reg::system_registry();
  pb::PhoneBook book;

  void SetUp() override {
    InstallCommandHandlers(session);
    session.SetProfile(&profile);
    profile.values = {
        {"USERID", "jdoe"},       {"PASSWORD", "s3cret"},  {"POPAREACODE", "800"}, {"POPNUMBER", "555-0199"},
        {"DNS1", "10.1.2"},       {"DNS2", ""},            {"DIALMETHOD", "TONE"}, {"OUTSIDEACCESS", "9,"},
        {"CWDISABLE", "FALSE"},   {"CWDISABLESTR", ""},    {"COMPORT", "2"},       {"COMSPEED", "57600"},
        {"DAYAREACODE", "408"},   {"MODEMINIT", "ATE0Q0V1&C1&D2S2=43S7=60S12=50"},
    };
    pb::set_ppp_programs({"/usr/sbin/pppd", "/usr/sbin/chat"});
    // Ports without a link would fall back to this machine's /dev/ttyS*.
    NoModems();
    Modem(2, "/dev/null");
  }
  void TearDown() override { pb::reset_ppp_programs(); }

  void Modem(int com, const fs::path& device) {
    const fs::path link = platform::known_folder(platform::KnownFolder::DosDevices) / ("com" + std::to_string(com));
    fs::remove(link);
    fs::create_symlink(device, link);
  }
  void NoModems() {
    for (int n = 1; n <= 9; ++n) Modem(n, root.path() / "nothing-here");
  }

  std::string Reply(const std::string& line) {
    std::size_t before = ui.sent.size();
    session.HandleLine(line);
    return ui.sent.size() == before ? "" : ui.sent.back();
  }
  std::string Stored(reg::Root r, std::string_view subkey, std::string_view name) {
    reg::Key key;
    if (registry.open_key(reg::root_key(r), subkey, &key) != reg::ERROR_SUCCESS) return "<no key>";
    reg::Value v;
    if (registry.query_value(key, name, &v) != reg::ERROR_SUCCESS) return "<missing>";
    return v.data;
  }
  std::optional<pb::PeersFile> Entry() {
    return pb::ReadPeersFile(Slurp(book.PeersPath(kAccountEntryName)));
  }
};

TEST(ParseDottedAddressTest, Table) {
  struct Case {
    const char* text;
    std::uint8_t a, b, c, d;
  };
  const Case cases[] = {
      {"10.1.2.3", 10, 1, 2, 3},  {"10.1.2", 10, 1, 0, 0},     {"", 0, 0, 0, 0},
      {"10", 0, 0, 0, 0},         {"300.1.2.3", 44, 1, 2, 3},   {"1.2.3.4.5", 1, 2, 3, 4},
      {"1x.2.3.4y", 1, 2, 3, 4},  {"a.b.c.d", 0, 0, 0, 0},      {"1..3.4", 1, 0, 3, 4},
      {"99999999999999.1.1.1", static_cast<std::uint8_t>(99999999999999ULL & 0xFF), 1, 1, 1},
  };
  for (const Case& c : cases) {
    std::uint8_t o[4];
    ParseDottedAddress(c.text, o);
    EXPECT_EQ(std::vector<int>({o[0], o[1], o[2], o[3]}), std::vector<int>({c.a, c.b, c.c, c.d})) << c.text;
  }
}

TEST_F(DialUpTest, ConfigAutoMakesAnEntryPppdAccepts) {
  EXPECT_EQ(Reply("CONFIG:\tauto"), "REPLY: OK");
  EXPECT_EQ(ui.cancel_disabled, 1);
  EXPECT_EQ(LastDialUpEntryResult(), 0);
  auto peers = Entry();
  ASSERT_TRUE(peers) << Slurp(book.PeersPath(kAccountEntryName));
  EXPECT_EQ(peers->entry_name, kAccountEntryName);
  EXPECT_EQ(peers->device, "/dev/null");
  EXPECT_EQ(peers->speed, 57600u);
  EXPECT_EQ(peers->user, "jdoe");
  EXPECT_EQ(peers->dns1, (pb::Address{10, 1, 0, 0}));
  auto chat = pb::ReadChatScript(Slurp(book.ChatPath(kAccountEntryName)));
  ASSERT_TRUE(chat);
  EXPECT_EQ(chat->init, "ATE0Q0V1&C1&D2S2=43S7=60S12=50");
  EXPECT_EQ(chat->dial, "ATDT9,18005550199");  // toll-free from area 408
  auto secrets = pb::ReadSecrets(Slurp(book.PapSecretsPath()));
  ASSERT_EQ(secrets.size(), 1u);
  EXPECT_EQ(secrets[0].client, "jdoe");
  EXPECT_EQ(secrets[0].secret, "s3cret");
  struct stat st {};
  ASSERT_EQ(::stat(book.ChapSecretsPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // The password is nowhere but in the secrets files.
  EXPECT_EQ(Slurp(book.PeersPath(kAccountEntryName)).find("s3cret"), std::string::npos);
  const std::string hook = Slurp(book.HookPath(kAccountEntryName));
  EXPECT_NE(hook.find("servers='10.1.0.0'"), std::string::npos);
  EXPECT_EQ(hook.find("0.0.0.0"), std::string::npos);
  // Only the account's entry is left: "temp" is gone.
  EXPECT_EQ(book.EntryNames(), std::vector<std::string>{std::string(kAccountEntryName)});
  if (!test_support::FindTool("pppd").empty()) {
    auto verdict = test_support::PppdDryRun(book.PeersPath(kAccountEntryName));
    EXPECT_EQ(verdict.exit_code, 0) << verdict.output;
    const auto options = test_support::PppdOptionsInEffect(verdict.output);
    EXPECT_EQ(test_support::PppdOptionValue(options, "user"), "jdoe");
    EXPECT_EQ(test_support::PppdOptionValue(options, "remotename"), "tarkel-veloran-account");
    EXPECT_EQ(test_support::PppdOptionValue(options, "/dev/null"), "");
    EXPECT_EQ(test_support::PppdOptionValue(options, "57600"), "");
    EXPECT_EQ(test_support::PppdOptionValue(options, "usepeerdns"), std::nullopt);  // the server gave one
    EXPECT_EQ(test_support::PppdOptionValue(options, "connect"),
              "'/usr/sbin/chat' -v -s -f '" + book.ChatPath(kAccountEntryName).string() + "'");
  }

  // The autodial values; the RemoteAccess keys were absent and stay so.
  EXPECT_EQ(Stored(reg::Root::LocalMachine, kAutodial, "AutodialDllName32"), "url.dll\0"s);
  EXPECT_EQ(Stored(reg::Root::LocalMachine, kAutodial, "AutodialFcnName32"), "AutodialHookCallback\0"s);
  EXPECT_EQ(Stored(reg::Root::CurrentUser, kInternet, "EnableAutodial"), "\x01\0\0\0"s);
  EXPECT_EQ(Stored(reg::Root::CurrentUser, "RemoteAccess", "InternetProfile"), "<no key>");
  EXPECT_EQ(Stored(reg::Root::Users, ".Default\\RemoteAccess", "InternetProfile"), "<no key>");
}

TEST_F(DialUpTest, ExistingRemoteAccessKeysGetTheProfileName) {
  reg::Key k;
  ASSERT_EQ(registry.create_key(reg::root_key(reg::Root::CurrentUser), "RemoteAccess", &k), reg::ERROR_SUCCESS);
  ASSERT_EQ(registry.create_key(reg::root_key(reg::Root::Users), ".Default\\RemoteAccess", &k), reg::ERROR_SUCCESS);
  EXPECT_EQ(Reply("CONFIG:\tAUTO"), "REPLY: OK");
  EXPECT_EQ(Stored(reg::Root::CurrentUser, "RemoteAccess", "InternetProfile"), std::string(kAccountEntryName) + '\0');
  EXPECT_EQ(Stored(reg::Root::Users, ".Default\\RemoteAccess", "InternetProfile"), std::string(kAccountEntryName) + '\0');
}

TEST_F(DialUpTest, OtherArgumentsAreRefusedAndChangeNothing) {
  for (const char* line : {"CONFIG:\tMANUAL", "CONFIG:", "CONFIG:\tAUTO\tx", "CONFIG:\t AUTO"}) {
    EXPECT_EQ(Reply(line), "REPLY: ERROR") << line;
  }
  EXPECT_FALSE(fs::exists(book.PeersPath(kAccountEntryName)));
  EXPECT_EQ(Stored(reg::Root::LocalMachine, kAutodial, "AutodialDllName32"), "<no key>");
}

TEST_F(DialUpTest, TheLastEnumeratedDeviceWinsAndTheChosenModemIsLast) {
  Modem(1, "/dev/zero");
  Modem(3, "/dev/full");
  profile.values["COMPORT"] = "2";
  EXPECT_EQ(Reply("CONFIG:\tAUTO"), "REPLY: OK");
  EXPECT_EQ(Entry()->device, "/dev/null");
  // The later passes found the name taken: their rename failed.
  EXPECT_EQ(LastDialUpEntryResult(), pb::kPbAlreadyExists);
  // The run's own record counts it as made, access number and all.
  ASSERT_TRUE(ThisRun().entry_result.has_value());
  EXPECT_EQ(*ThisRun().entry_result, 0);
  EXPECT_FALSE(ThisRun().access_number.empty());
  profile.values["COMPORT"] = "7";  // not a modem: the highest port is last
  EXPECT_EQ(Reply("CONFIG:\tAUTO"), "REPLY: OK");
  EXPECT_EQ(Entry()->device, "/dev/full");
  EXPECT_EQ(book.EntryNames().size(), 1u);
}

TEST_F(DialUpTest, AnExistingEntryIsReplaced) {
  EXPECT_EQ(Reply("CONFIG:\tAUTO"), "REPLY: OK");
  profile.values["POPNUMBER"] = "555-0142";
  profile.values["PASSWORD"] = "changed";
  profile.values["DNS1"] = "";
  EXPECT_EQ(Reply("CONFIG:\tAUTO"), "REPLY: OK");
  EXPECT_EQ(pb::ReadChatScript(Slurp(book.ChatPath(kAccountEntryName)))->dial, "ATDT9,18005550142");
  auto secrets = pb::ReadSecrets(Slurp(book.PapSecretsPath()));
  ASSERT_EQ(secrets.size(), 1u);
  EXPECT_EQ(secrets[0].secret, "changed");
  // No name server from the server: the provider's, through the same hooks.
  EXPECT_NE(Slurp(book.PeersPath(kAccountEntryName)).find("\nusepeerdns\n"), std::string::npos);
  EXPECT_NE(Slurp(book.HookPath(kAccountEntryName)).find("$DNS1"), std::string::npos);
  EXPECT_TRUE(fs::exists(book.DownHookPath(kAccountEntryName)));
  if (!test_support::FindTool("pppd").empty()) {
    auto verdict = test_support::PppdDryRun(book.PeersPath(kAccountEntryName));
    EXPECT_EQ(verdict.exit_code, 0) << verdict.output;
    EXPECT_EQ(test_support::PppdOptionValue(test_support::PppdOptionsInEffect(verdict.output), "usepeerdns"), "");
  }
}

TEST_F(DialUpTest, NoLineDeviceMakesNoEntryButTheRegistryIsWritten) {
  NoModems();
  EXPECT_EQ(Reply("CONFIG:\tAUTO"), "REPLY: OK");
  EXPECT_EQ(LastDialUpEntryResult(), kNoLineDevice);
  EXPECT_FALSE(fs::exists(book.PeersPath(kAccountEntryName)));
  EXPECT_EQ(Stored(reg::Root::CurrentUser, kInternet, "EnableAutodial"), "\x01\0\0\0"s);
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(DialUpTest, NoPppdShowsTheMessageAndMakesNoEntry) {
  pb::set_ppp_programs({});
  EXPECT_EQ(Reply("CONFIG:\tAUTO"), "REPLY: OK");
  EXPECT_EQ(ui.boxes, std::vector<std::string>{"Can't find Phone Book APIs\n"});
  EXPECT_FALSE(fs::exists(book.PeersPath(kAccountEntryName)));
  EXPECT_EQ(Stored(reg::Root::LocalMachine, kAutodial, "AutodialDllName32"), "url.dll\0"s);
}

TEST_F(DialUpTest, ValuesThatWouldBeSyntaxAreRefusedAndTheOldEntryStays) {
  EXPECT_EQ(Reply("CONFIG:\tAUTO"), "REPLY: OK");
  const std::string before = Slurp(book.PeersPath(kAccountEntryName));
  const std::string secrets_before = Slurp(book.PapSecretsPath());
  const std::vector<std::pair<const char*, std::string>> bad = {
      {"POPNUMBER", "5550199'\nABORT OK"},
      {"POPNUMBER", "555 0199 connect"},
      {"POPAREACODE", "800\\"},
      {"OUTSIDEACCESS", "9^M"},
      {"MODEMINIT", "AT&F'\nABORT"},
      {"USERID", "nul\0in"s},
  };
  for (auto& [key, value] : bad) {
    auto saved = profile.values;
    profile.values[key] = value;
    EXPECT_EQ(Reply("CONFIG:\tAUTO"), "REPLY: OK") << key;
    EXPECT_EQ(LastDialUpEntryResult(), kEntryRefused) << key;
    EXPECT_EQ(Slurp(book.PeersPath(kAccountEntryName)), before) << key;
    EXPECT_EQ(Slurp(book.PapSecretsPath()), secrets_before) << key;
    // The summary says what was refused, and offers nothing of the old
    // entry: it holds the previous account.
    const std::string summary = AccountSetupSummary("joinwiz");
    EXPECT_NE(summary.find("The dial-up entry was not made: "), std::string::npos) << summary;
    EXPECT_NE(summary.find("is from an earlier registration and was left as it was"), std::string::npos) << summary;
    EXPECT_EQ(summary.find("--install-dialup"), std::string::npos) << summary;
    EXPECT_EQ(summary.find("pon "), std::string::npos) << summary;
    profile.values = saved;
  }
  EXPECT_EQ(Reply("CONFIG:\tAUTO"), "REPLY: OK");
  EXPECT_NE(AccountSetupSummary("joinwiz").find("Dial it: pon tarkel-veloran-account"), std::string::npos);
}

// A password beginning with '@' is written in pppd's own form for it.
TEST_F(DialUpTest, APasswordBeginningWithAtIsKeptInAFileTheSecretsLinesName) {
  profile.values["PASSWORD"] = "@/etc/shadow";
  EXPECT_EQ(Reply("CONFIG:\tAUTO"), "REPLY: OK");
  ASSERT_EQ(LastDialUpEntryResult(), 0);
  EXPECT_TRUE(LastDialUpOutcome().problem.empty());
  const fs::path file = book.SecretFilePath(kAccountEntryName);
  for (const fs::path& f : {book.PapSecretsPath(), book.ChapSecretsPath()}) {
    auto secrets = pb::ReadSecrets(Slurp(f));
    ASSERT_EQ(secrets.size(), 1u);
    EXPECT_EQ(secrets[0].secret, "@" + file.string());
  }
  EXPECT_EQ(pb::PppdWords(Slurp(file)), (std::vector<std::vector<std::string>>{{"@/etc/shadow"}}));
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A modem behind a /dev/serial/by-id link keeps that name in the entry:
// the ttyACMn behind it may be another device after a replug.
TEST_F(DialUpTest, AByIdLinkKeepsItsStableName) {
  const fs::path by_id = root.path() / "dev" / "serial" / "by-id";
  fs::create_directories(by_id);
  const fs::path stable = by_id / "usb-Tarkel_Modem_56k-if00";
  fs::create_symlink("/dev/null", stable);
  Modem(2, stable);
  EXPECT_EQ(Reply("CONFIG:\tAUTO"), "REPLY: OK");
  EXPECT_EQ(Entry()->device, stable.string());
  // A relative link reads as the path it names from the dosdevices folder.
  const fs::path dos = platform::known_folder(platform::KnownFolder::DosDevices);
  fs::remove(dos / "com2");
  fs::create_symlink(stable.lexically_relative(dos), dos / "com2");
  EXPECT_EQ(Reply("CONFIG:\tAUTO"), "REPLY: OK");
  EXPECT_EQ(Entry()->device, stable.string());
}

// Speeds of the speed table that termios cannot set are rounded up.
TEST_F(DialUpTest, TheSpeedIsASerialSpeed) {
  for (auto [comspeed, speed] : {std::pair{"14400", 19200u}, {"56000", 57600u}, {"128000", 230400u}, {"115200", 115200u}}) {
    profile.values["COMSPEED"] = comspeed;
    EXPECT_EQ(Reply("CONFIG:\tAUTO"), "REPLY: OK");
    EXPECT_EQ(Entry()->speed, speed) << comspeed;
  }
}

// The chosen COM port is a network serial port: no entry, and the reason
// for the closing page and the summary.
TEST_F(DialUpTest, ANetworkPortMakesNoEntryAndSaysSo) {
  Modem(1, "/dev/zero");
  Modem(2, "rfc2217://127.0.0.1:7000");
  EXPECT_EQ(Reply("CONFIG:\tAUTO"), "REPLY: OK");
  EXPECT_EQ(LastDialUpEntryResult(), kNetworkPort);
  EXPECT_FALSE(fs::exists(book.PeersPath(kAccountEntryName)));
  const std::string problem = LastDialUpOutcome().problem;
  EXPECT_NE(problem.find("COM2 is the network port rfc2217://127.0.0.1:7000; pppd cannot dial through it, so no dial-up entry was made."),
            std::string::npos)
      << problem;
  const std::string summary = AccountSetupSummary("joinwiz");
  EXPECT_NE(summary.find(problem), std::string::npos) << summary;
  EXPECT_EQ(summary.find("pon "), std::string::npos) << summary;
}

TEST_F(DialUpTest, ProfileInjectionTableReachesPppdAsData) {
  const std::vector<std::string> values = {"a b", "q\"bogus-opt-1", "nl\nbogus-opt-2", "bs\\", "# bogus-opt-3",
                                           "connect /bin/false", "\x01\xff"};
  for (const std::string& v : values) {
    profile.values["USERID"] = v;
    profile.values["PASSWORD"] = v;
    ASSERT_EQ(Reply("CONFIG:\tAUTO"), "REPLY: OK");
    ASSERT_EQ(LastDialUpEntryResult(), 0) << v;
    EXPECT_EQ(Entry()->user, v);
    auto secrets = pb::ReadSecrets(Slurp(book.ChapSecretsPath()));
    ASSERT_EQ(secrets.size(), 1u) << v;
    EXPECT_EQ(secrets[0].client, v);
    EXPECT_EQ(secrets[0].secret, v);
    if (!test_support::FindTool("pppd").empty()) {
      auto verdict = test_support::PppdDryRun(book.PeersPath(kAccountEntryName));
      EXPECT_EQ(verdict.exit_code, 0) << v << "\n" << verdict.output;
    }
  }
}

}  // namespace
}  // namespace sysconfig
