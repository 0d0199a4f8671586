// joinwiz --install-dialup / --remove-dialup: the account's entry merged
// into a pppd folder beside another provider, and taken out byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "support/program_runner.h"
#include "platform/storage/files.h"
#include "platform/shell/phonebook.h"
#include "platform/storage/system_root.h"
#include "platform/storage/registry.h"
#include "sysconfig/dialup.h"
#include "sysconfig/system_install.h"
#include "wizard/command_line.h"

namespace wizard {
namespace {

namespace fs = std::filesystem;
namespace pb = platform::phonebook;

std::string Slurp(const fs::path& p) {
  std::string text;
  platform::read_file(p, text);
  return text;
}

std::map<std::string, std::string> Tree(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (auto& e : fs::recursive_directory_iterator(dir)) {
    if (!e.is_directory()) files[fs::relative(e.path(), dir).string()] = Slurp(e.path());
  }
  return files;
}

TEST(DialUpOptions, Parse) {
  auto r = parse_command_line({"--root", "/r", "--install-dialup", "--ppp-dir", "/x"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.line.install_dialup);
  EXPECT_EQ(r.line.ppp_dir, "/x");
  EXPECT_TRUE(parse_command_line({"--remove-dialup"}).line.remove_dialup);
  EXPECT_FALSE(parse_command_line({"--install-dialup", "--remove-dialup"}).ok);
  EXPECT_FALSE(parse_command_line({"--ppp-dir", "/x"}).ok);
  EXPECT_FALSE(parse_command_line({"--install-dialup", "--ppp-dir="}).ok);
}

// The account's entry in the current root, as a registration leaves it.
void MakeAccountEntry() {
  pb::set_ppp_programs({"/usr/sbin/pppd", "/usr/sbin/chat"});
  pb::PhoneBook book;
  pb::EntryProperties props;
  props.device = "/dev/null";
  props.dial_command = "ATDT8005550199";
  ASSERT_EQ(book.SetEntryProperties(sysconfig::kAccountEntryName, props), pb::kPbSuccess);
  ASSERT_EQ(book.SetEntryDialParams(sysconfig::kAccountEntryName, "jdoe", "pw"), pb::kPbSuccess);
}

void SetAutodial(bool on) {
  auto& registry = platform::reg::system_registry();
  platform::reg::Key key;
  ASSERT_EQ(registry.create_key(platform::reg::root_key(platform::reg::Root::CurrentUser),
                                "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", &key),
            platform::reg::ERROR_SUCCESS);
  ASSERT_EQ(registry.set_binary(key, "EnableAutodial", std::string(on ? "\x01" : "\x00", 1) + std::string(3, '\0')),
            platform::reg::ERROR_SUCCESS);
}

TEST(DialUpOptions, UnitDirOption) {
  auto r = parse_command_line({"--install-dialup", "--unit-dir", "/u"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.line.unit_dir, "/u");
  EXPECT_FALSE(parse_command_line({"--unit-dir", "/u"}).ok);
  EXPECT_FALSE(parse_command_line({"--remove-dialup", "--unit-dir="}).ok);
}

// Automatic dialing: the service only where autodial is on and systemd runs
// (a unit folder given for tests stands for systemd's).
TEST(DialUpOptions, AutodialServiceNeedsAutodialAndSystemd) {
  struct Case {
    const char* name;
    bool autodial;
    bool systemd;  // false: a run folder that does not exist
    bool unit_written;
    const char* says;
  } cases[] = {
      {"autodial off", false, true, false, "Automatic dialing is off for this account"},
      {"no systemd", true, false, false, "systemd is not the service manager here"},
      {"autodial on, systemd", true, true, true, "veloran-autodial-tarkel-veloran-account.service: enabled"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::ScopedSystemRoot root;
    MakeAccountEntry();
    SetAutodial(c.autodial);
    sysconfig::SystemPlaces places;
    places.ppp_dir = root.path() / "etc-ppp";
    places.unit_dir = root.path() / "units";
    places.systemd_run_dir = c.systemd ? fs::path() : root.path() / "run-systemd-absent";
    std::string report;
    EXPECT_EQ(sysconfig::InstallDialUpCommand(false, places, report), 0) << report;
    EXPECT_NE(report.find(c.says), std::string::npos) << report;
    EXPECT_EQ(fs::exists(places.unit_dir / "veloran-autodial-tarkel-veloran-account.service"), c.unit_written)
        << report;
    if (!c.unit_written) {
      EXPECT_FALSE(fs::exists(places.unit_dir)) << "nothing installed for the service";
    }
    EXPECT_TRUE(fs::exists(places.ppp_dir / "peers" / "tarkel-veloran-account")) << report;
    pb::reset_ppp_programs();
  }
}

TEST(DialUpOptions, InstallMergesAndRemoveRestores) {
  platform::ScopedSystemRoot root;
  pb::set_ppp_programs({"/usr/sbin/pppd", "/usr/sbin/chat"});
  pb::PhoneBook book;
  pb::EntryProperties props;
  props.device = "/dev/null";
  props.speed = 115200;
  props.dial_command = "ATDT8005550199";
  props.dns1 = {10, 0, 0, 1};
  const std::string name = "Tarkel - Veloran Account";
  ASSERT_EQ(book.SetEntryProperties(name, props), pb::kPbSuccess);
  ASSERT_EQ(book.SetEntryDialParams(name, "jdoe", "pw"), pb::kPbSuccess);
  pb::reset_ppp_programs();

  const fs::path etc = root.path() / "etc-ppp";
  fs::create_directories(etc / "peers");
  std::ofstream(etc / "peers" / "provider") << "/dev/ttyS0\nuser \"other\"\n";
  for (const char* f : {"pap-secrets", "chap-secrets"}) {
    std::ofstream(etc / f) << "# Secrets\n\"other\" * \"theirs\"\n";
    ::chmod((etc / f).c_str(), 0600);
  }
  const auto before = Tree(etc);
  const std::string joinwiz = std::string(VLR_BIN_DIR) + "/joinwiz";
  const std::vector<std::string> install = {joinwiz, "--root", root.path().string(), "--install-dialup", "--ppp-dir",
                                            etc.string()};
  auto first = test_support::RunProgram(install);
  ASSERT_EQ(first.exit_code, 0) << first.output;
  EXPECT_NE(first.output.find("pon tarkel-veloran-account"), std::string::npos) << first.output;
  EXPECT_EQ(Slurp(etc / "peers" / "provider"), before.at("peers/provider"));
  for (const char* f : {"pap-secrets", "chap-secrets"}) {
    auto secrets = pb::ReadSecrets(Slurp(etc / f));
    ASSERT_EQ(secrets.size(), 2u) << f;
    EXPECT_EQ(secrets[0].client, "other");
    EXPECT_EQ(secrets[1].client, "jdoe");
    struct stat st {};
    ::stat((etc / f).c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << f;
  }
  const fs::path peers = etc / "peers" / "tarkel-veloran-account";
  ASSERT_TRUE(fs::exists(peers));
  EXPECT_EQ(pb::ReadPeersFile(Slurp(peers))->chat_script, (etc / "chatscripts" / "tarkel-veloran-account").string());
  if (!test_support::FindTool("pppd").empty()) {
    auto verdict = test_support::PppdDryRun(peers);
    EXPECT_EQ(verdict.exit_code, 0) << verdict.output;
    EXPECT_EQ(test_support::PppdOptionValue(test_support::PppdOptionsInEffect(verdict.output), "user"), "jdoe");
  }

  const auto installed = Tree(etc);
  auto second = test_support::RunProgram(install);
  ASSERT_EQ(second.exit_code, 0) << second.output;
  EXPECT_NE(second.output.find((etc / "peers" / "tarkel-veloran-account").string() + ": unchanged\n"),
            std::string::npos)
      << second.output;
  EXPECT_EQ(second.output.find(": written"), std::string::npos) << second.output;
  EXPECT_EQ(second.output.find(": updated"), std::string::npos) << second.output;
  EXPECT_EQ(Tree(etc), installed);

  auto removed = test_support::RunProgram({joinwiz, "--root", root.path().string(), "--remove-dialup", "--ppp-dir",
                                       etc.string()});
  ASSERT_EQ(removed.exit_code, 0) << removed.output;
  EXPECT_EQ(Tree(etc), before);
}

// `sudo joinwiz --install-dialup` on a root whose files were edited to
// borrow another provider's secret: what is installed is the entry's own.
TEST(DialUpOptions, InstallOfADoctoredRootTakesOnlyTheEntrysOwnValues) {
  platform::ScopedSystemRoot root;
  pb::set_ppp_programs({"/usr/sbin/pppd", "/usr/sbin/chat"});
  pb::PhoneBook book;
  pb::EntryProperties props;
  props.device = "/dev/null";
  props.speed = 57600;
  props.dial_command = "ATDT18005550199";
  const std::string name = "Tarkel - Veloran Account";
  ASSERT_EQ(book.SetEntryProperties(name, props), pb::kPbSuccess);
  ASSERT_EQ(book.SetEntryDialParams(name, "jdoe", "pw"), pb::kPbSuccess);
  pb::reset_ppp_programs();
  // remotename and ipparam of alice's provider, and its line in the root.
  std::string peers = Slurp(book.PeersPath(name));
  for (const std::string key : {"remotename ", "ipparam "}) {
    const std::size_t at = peers.find(key) + key.size();
    peers.replace(at, peers.find('\n', at) - at, "corp-vpn");
  }
  ASSERT_TRUE(platform::replace_file(book.PeersPath(name), peers));
  const std::string foreign = "\"alice\" corp-vpn \"alices-secret\"\n";
  ASSERT_TRUE(platform::replace_file(book.PapSecretsPath(), Slurp(book.PapSecretsPath()) + foreign,
                                     platform::FileMode::OwnerOnly));

  const fs::path etc = root.path() / "etc-ppp";
  fs::create_directories(etc);
  for (const char* f : {"pap-secrets", "chap-secrets"}) {
    ASSERT_TRUE(platform::replace_file(etc / f, foreign, platform::FileMode::OwnerOnly));
  }
  const std::string joinwiz = std::string(VLR_BIN_DIR) + "/joinwiz";
  auto installed = test_support::RunProgram({joinwiz, "--root", root.path().string(), "--install-dialup", "--ppp-dir",
                                         etc.string()});
  ASSERT_EQ(installed.exit_code, 0) << installed.output;
  auto entry = pb::ReadPeersFile(Slurp(etc / "peers" / "tarkel-veloran-account"));
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->ipparam, "tarkel-veloran-account");
  EXPECT_EQ(entry->user, "jdoe");
  for (const char* f : {"pap-secrets", "chap-secrets"}) {
    EXPECT_EQ(Slurp(etc / f), foreign + "\"jdoe\" tarkel-veloran-account \"pw\"\n") << f;
  }
  // The user too: the root's peers file names alice.
  std::string as_alice = Slurp(book.PeersPath(name));
  as_alice.replace(as_alice.find("user \"jdoe\""), 11, "user \"alice\"");
  ASSERT_TRUE(platform::replace_file(book.PeersPath(name), as_alice));
  const auto before = Tree(etc);
  auto refused = test_support::RunProgram({joinwiz, "--root", root.path().string(), "--install-dialup", "--ppp-dir",
                                       etc.string()});
  EXPECT_EQ(refused.exit_code, 1) << refused.output;
  EXPECT_NE(refused.output.find("names the user \"alice\", but its secrets line is for \"jdoe\""), std::string::npos)
      << refused.output;
  EXPECT_EQ(Tree(etc), before);
  auto removed = test_support::RunProgram({joinwiz, "--root", root.path().string(), "--remove-dialup", "--ppp-dir",
                                       etc.string()});
  ASSERT_EQ(removed.exit_code, 0) << removed.output;
  for (const char* f : {"pap-secrets", "chap-secrets"}) EXPECT_EQ(Slurp(etc / f), foreign) << f;
}

}  // namespace
}  // namespace wizard
