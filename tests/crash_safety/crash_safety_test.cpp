// Crash safety of the files the product saves: a writer process is killed
// with SIGKILL at random points while it saves Joinwiz.ini, a registry hive
// and TARK_NET.INI, and each time the file is checked: it parses, it holds
// the old or the new content of every write (never a torn or mixed value),
// and it keeps its mode. Then two processes store Modset records in one
// TARK_NET.INI at the same time, while this one reads: no record is lost and
// no section is ever seen half written.
//
// The kill points come from a random generator whose start value is
// printed, spread over one save's time after the writer starts its loop.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/ini.h"
#include "common/ini_document.h"
#include "modset.h"
#include "platform/shell/phonebook.h"
#include "platform/storage/registry.h"
#include "platform/storage/system_root.h"
#include "wizard/registration_profile.h"

namespace {

namespace fs = std::filesystem;
namespace reg = platform::reg;
using Clock = std::chrono::steady_clock;

// Kills per file, and the time they may take whatever number they reached
// (a fork of a sanitized process is slow); VLR_CRASH_TRIES and
// VLR_CRASH_SECONDS raise them for a longer run by hand.
int env_number(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::atoi(text) : fallback;
}
const int kTries = env_number("VLR_CRASH_TRIES", 2000);
const std::chrono::seconds kBudget{env_number("VLR_CRASH_SECONDS", 15)};

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

unsigned mode_of(const fs::path& p) {
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

// Forks a child that signals through a pipe, then runs `writer` until it is
// killed (or returns, which ends the child). The parent waits for the signal,
// then `delay_us` more, and kills it.
void run_and_kill(const std::function<void()>& writer, long delay_us) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(ready[0]);
    char c = 'r';
    if (::write(ready[1], &c, 1) != 1) ::_exit(3);
    writer();
    ::_exit(0);
  }
  ::close(ready[1]);
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::close(ready[0]);
  timespec pause{delay_us / 1'000'000, (delay_us % 1'000'000) * 1000};
  ::nanosleep(&pause, nullptr);  // a random kill point, not a wait for an event
  ::kill(pid, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
}

// Microseconds one call of `save` takes, averaged over a few.
long save_time_us(const std::function<void()>& save) {
  auto start = Clock::now();
  for (int i = 0; i < 5; ++i) save();
  return std::max<long>(
      50, std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count() / 5);
}

// Runs the kill loop: `before` and then `writer` in a child, `check` after
// every kill. Returns the number of tries.
int kill_loop(const char* what, const std::function<void()>& writer, long save_us,
              const std::function<void()>& check, const std::function<void()>& before = [] {}) {
  std::random_device device;
  const unsigned generator_start = device();
  std::mt19937 random(generator_start);
  std::uniform_int_distribution<long> delay(0, save_us);
  std::printf("%s: generator start %u, kill points within %ld us\n", what, generator_start, save_us);
  auto start = Clock::now();
  int tries = 0;
  for (; tries < kTries && Clock::now() - start < kBudget; ++tries) {
    before();
    run_and_kill(writer, delay(random));
    check();
    if (::testing::Test::HasFailure()) {
      ADD_FAILURE() << what << ": after try " << tries << " (generator start " << generator_start << ")";
      break;
    }
  }
  std::printf("%s: %d kills in %lld ms\n", what, tries,
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count()));
  return tries;
}

// A writer killed between creating its temporary file and renaming it
// leaves that file behind; the data file is never affected. Counted, to see.
void report_leftovers(const fs::path& folder) {
  int left = 0;
  for (const auto& e : fs::directory_iterator(folder)) left += e.path().filename().string().find(".tmp") != std::string::npos;
  std::printf("%s: %d temporary files left by killed writers\n", folder.c_str(), left);
}

class CrashSafety : public ::testing::Test {
 protected:
  platform::ScopedSystemRoot root_;
};

// ---- Joinwiz.ini ------------------------------------------------------------

// Two profiles of the same keys with values of different lengths, so a torn
// write could not pass for either.
wizard::RegistrationProfile profile_version(int version) {
  wizard::RegistrationProfile p;
  p.SetDefaults(wizard::default_profile_keys());
  for (const auto& d : wizard::default_profile_keys()) {
    p.Set(d.key, version == 0 ? std::string("old-") + d.key : std::string("the-new-value-of-") + d.key);
  }
  return p;
}

TEST_F(CrashSafety, JoinwizIniIsAlwaysWholeWhenItsWriterIsKilled) {
  const fs::path file = platform::known_folder(platform::KnownFolder::Program) / "Joinwiz.ini";
  fs::create_directories(file.parent_path());
  const wizard::RegistrationProfile versions[2] = {profile_version(0), profile_version(1)};
  ASSERT_TRUE(versions[0].Save(file));
  ASSERT_EQ(mode_of(file), 0600u);  // created so: it holds the password
  ASSERT_NE(common::write_private_profile_string("Dialing Information", "REGNUMBER", "5550100", file), 0);
  const std::string whole_old = slurp(file);
  const auto& keys = wizard::default_profile_keys();

  long save_us = save_time_us([&] { versions[0].Save(file); });
  int tries = kill_loop(
      "Joinwiz.ini",
      [&] {
        for (int i = 1;; ++i) versions[i % 2].Save(file);
      },
      save_us,
      [&] {
        ASSERT_EQ(mode_of(file), 0600u);
        common::IniDocument doc = common::IniDocument::parse(slurp(file));
        ASSERT_EQ(doc.get("Dialing Information", "REGNUMBER"), "5550100");
        // Save() writes the keys one by one, last to first, each write
        // replacing the file whole: so the keys from some point on hold one
        // version and the ones before it the other, every value whole.
        int changes = 0;
        int previous = -1;
        for (const auto& k : keys) {
          auto value = doc.get(wizard::kUserInfoSection, k.key);
          ASSERT_TRUE(value.has_value()) << k.key << " lost";
          int version = -1;
          for (int v = 0; v < 2; ++v) {
            std::string want;
            versions[v].Get(k.key, want);
            if (*value == want) version = v;
          }
          ASSERT_NE(version, -1) << k.key << " holds a torn value: " << *value;
          if (previous != -1 && version != previous) ++changes;
          previous = version;
        }
        ASSERT_LE(changes, 1) << "the values are not the outcome of whole writes in order";
      },
      // Each try starts from the whole old file, so that the order can be told.
      [&] { std::ofstream(file, std::ios::binary | std::ios::trunc) << whole_old; });
  EXPECT_GE(tries, 50);
  report_leftovers(file.parent_path());
}

// ---- The dial-up entry -------------------------------------------------------

namespace pb = platform::phonebook;

// Two versions of the account's entry that differ in every file.
struct EntryVersion {
  pb::EntryProperties props;
  std::string user, password;
};
EntryVersion entry_version(int version) {
  EntryVersion v;
  v.props.device = "/dev/null";
  v.props.speed = 57600;
  v.props.dial_command = version == 0 ? "ATDT8005550199" : "ATDT8005550142";
  v.props.dns1 = version == 0 ? pb::Address{10, 0, 0, 1} : pb::Address{0, 0, 0, 0};
  v.user = version == 0 ? "jdoe" : "annlee-veloran";
  v.password = version == 0 ? "old-secret" : "the-new-secret";
  return v;
}

TEST_F(CrashSafety, DialUpEntryIsOneVersionOrTheOtherWhenItsWriterIsKilled) {
  const std::string name = "Tarkel - Veloran Account";
  pb::PhoneBook book;
  const EntryVersion versions[2] = {entry_version(0), entry_version(1)};
  // Another entry's line in the secrets files must come through every kill.
  fs::create_directories(book.folder());
  std::ofstream(book.pap_secrets_path()) << "\"other\" * \"theirs\"\n";
  ASSERT_EQ(book.replace_entry(name, versions[0].props, versions[0].user, versions[0].password), pb::kPbSuccess);
  // Kill points over two switches: the child's first switch writes the new
  // version, its second the old one again.
  long save_us = 2 * save_time_us([&] { book.replace_entry(name, versions[0].props, versions[0].user, versions[0].password); });
  int seen[2] = {0, 0};
  int finished = 0, undone = 0;  // switches the next start found half done
  int tries = kill_loop(
      "dial-up entry",
      [&] {
        for (int i = 1;; ++i) {
          const EntryVersion& v = versions[i % 2];
          book.replace_entry(name, v.props, v.user, v.password);
        }
      },
      save_us,
      [&] {
        // What the next start does first.
        bool staged = false;
        for (const auto& e : fs::recursive_directory_iterator(book.folder())) {
          staged = staged || e.path().filename().string().ends_with(".new");
        }
        if (fs::exists(book.switch_journal_path(name))) {
          ++finished;
        } else if (staged) {
          ++undone;
        }
        ASSERT_EQ(book.recover_entry(name), pb::kPbSuccess);
        auto peers = pb::read_peers_file(slurp(book.peers_path(name)));
        ASSERT_TRUE(peers.has_value()) << "no whole peers file";
        int version = peers->user == versions[0].user ? 0 : peers->user == versions[1].user ? 1 : -1;
        ASSERT_NE(version, -1) << "peers file without a known user: \"" << peers->user << "\"";
        const EntryVersion& v = versions[version];
        const auto chat = pb::read_chat_script(slurp(book.chat_path(name)));
        EXPECT_EQ(chat ? chat->dial : "", v.props.dial_command) << "version " << version;
        EXPECT_TRUE(fs::exists(book.hook_path(name)));  // with or without server addresses
        auto pap = pb::read_secrets(slurp(book.pap_secrets_path()));
        auto chap = pb::read_secrets(slurp(book.chap_secrets_path()));
        ASSERT_EQ(pap.size(), 2u);
        EXPECT_EQ(pap[0].client, "other");
        ASSERT_EQ(chap.size(), 1u);
        EXPECT_EQ(pap[1].client, v.user);
        EXPECT_EQ(pap[1].secret, v.password);
        EXPECT_EQ(chap[0].client, v.user);
        EXPECT_EQ(chap[0].secret, v.password);
        EXPECT_EQ(mode_of(book.pap_secrets_path()), 0600u);
        for (const auto& e : fs::recursive_directory_iterator(book.folder())) {
          const std::string f = e.path().filename().string();
          ASSERT_TRUE(f.find(".new") == std::string::npos && f.find(".tmp.") == std::string::npos &&
                      f.find(".switch") == std::string::npos)
              << "left after the start: " << e.path();
        }
        ++seen[version];
      });
  std::printf("dial-up entry: old version %d times, new version %d times; %d decided switches finished, "
              "%d undecided ones undone at the next start\n",
              seen[0], seen[1], finished, undone);
  EXPECT_GE(tries, 20);
}

// ---- A registry hive ----------------------------------------------------------

TEST_F(CrashSafety, RegistryHiveIsAlwaysWholeWhenItsWriterIsKilled) {
  reg::Registry& registry = reg::system_registry();
  reg::Key key;
  ASSERT_EQ(registry.create_key(reg::root_key(reg::Root::CurrentUser), "Software\\Veloran", &key),
            reg::ERROR_SUCCESS);
  ASSERT_EQ(registry.set_string(key, "Kept", "set before the writer starts"), reg::ERROR_SUCCESS);
  const std::string values[2] = {std::string(20000, 'a'), std::string(30000, 'b')};
  ASSERT_EQ(registry.set_string(key, "Big", values[0]), reg::ERROR_SUCCESS);
  const fs::path hive = registry.hive_path(reg::Root::CurrentUser);

  long save_us = save_time_us([&] { registry.set_string(key, "Big", values[0] + "x"); });
  int tries = kill_loop(
      "hkey_current_user.reg",
      [&] {
        for (int i = 1;; ++i) {
          registry.set_string(key, "Big", values[i % 2]);
          registry.set_dword(key, "Count", static_cast<std::uint32_t>(i));
        }
      },
      save_us,
      [&] {
        ASSERT_EQ(mode_of(hive), 0600u);
        std::vector<reg::ParsedKey> keys;
        std::string error;
        ASSERT_TRUE(reg::parse_hive(slurp(hive), reg::Root::CurrentUser, &keys, &error)) << error;
        const reg::ParsedKey* veloran = nullptr;
        for (const auto& k : keys) {
          if (k.path == "Software\\Veloran") veloran = &k;
        }
        ASSERT_NE(veloran, nullptr);
        bool kept = false, big = false;
        for (const auto& v : veloran->values) {
          if (v.name == "Kept") kept = v.data == std::string("set before the writer starts") + '\0';
          if (v.name == "Big") {
            std::string text = v.data.substr(0, v.data.size() - 1);
            big = text == values[0] || text == values[1] || text == values[0] + "x";
          }
        }
        ASSERT_TRUE(kept) << "a value set before was lost";
        ASSERT_TRUE(big) << "the value being written is torn";
      });
  EXPECT_GE(tries, 50);
  report_leftovers(hive.parent_path());
}

// ---- TARK_NET.INI ---------------------------------------------------------------

CfgModemInfo modem_version(int version) {
  CfgModemInfo m{};
  std::snprintf(m.PortName, sizeof m.PortName, "%s", version == 0 ? "COM1" : "COM3");
  m.CommPort = version == 0 ? 0 : 2;
  m.BaudRate = version == 0 ? 5 : 13;
  m.FlowControl = version == 0 ? 0 : 4;
  m.SpeakerOff = version;
  std::snprintf(m.ResetString, sizeof m.ResetString, "%s", version == 0 ? "AT Z" : "AT &F");
  std::snprintf(m.SetupString, sizeof m.SetupString, "%s", version == 0 ? "AT M1" : "AT &C1 &D2 &K3 M0");
  return m;
}

bool same_modem(const CfgModemInfo& a, const CfgModemInfo& b) {
  return std::strcmp(a.PortName, b.PortName) == 0 && a.CommPort == b.CommPort && a.BaudRate == b.BaudRate &&
         a.FlowControl == b.FlowControl && a.SpeakerOff == b.SpeakerOff &&
         std::strcmp(a.ResetString, b.ResetString) == 0 && std::strcmp(a.SetupString, b.SetupString) == 0;
}

TEST_F(CrashSafety, TarkNetIniIsAlwaysWholeWhenItsWriterIsKilled) {
  const fs::path file = platform::known_folder(platform::KnownFolder::Windows) / "TARK_NET.INI";
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "[TCP/IP]\nDomain=tarkel.example\n";
  const CfgModemInfo versions[2] = {modem_version(0), modem_version(1)};
  ASSERT_EQ(CfgPutModemInfo(&versions[0]), CFG_OK);
  const unsigned mode = mode_of(file);

  long save_us = save_time_us([&] { CfgPutModemInfo(&versions[0]); });
  int tries = kill_loop(
      "TARK_NET.INI",
      [&] {
        for (int i = 1;; ++i) CfgPutModemInfo(&versions[i % 2]);
      },
      save_us,
      [&] {
        ASSERT_EQ(mode_of(file), mode);
        common::IniDocument doc = common::IniDocument::parse(slurp(file));
        ASSERT_EQ(doc.get("TCP/IP", "Domain"), "tarkel.example") << "another program's section was lost";
        CfgModemInfo got{};
        ASSERT_EQ(CfgGetModemInfo(&got), CFG_OK) << "the section is not whole";
        ASSERT_TRUE(same_modem(got, versions[0]) || same_modem(got, versions[1]))
            << "a mixed record: " << got.PortName << " " << got.ResetString << " " << got.SetupString;
      });
  EXPECT_GE(tries, 50);
  report_leftovers(file.parent_path());
}

// ---- Two processes storing at once -------------------------------------------------

// The records of iteration i, every field derived from i, so a reader can
// tell a whole record from a mixed one.
CfgDialingInfo dialing_record(int i) {
  CfgDialingInfo d{};
  d.DialType = i % 2;
  std::snprintf(d.DisableCallWaiting, sizeof d.DisableCallWaiting, "*%d", i % 100);
  std::snprintf(d.DialPrefix, sizeof d.DialPrefix, "9,%d", i);
  std::snprintf(d.DialLongDistance, sizeof d.DialLongDistance, "1%d", i % 1000);
  d.DialBlind = i;
  return d;
}

CfgZrsAccessInfo access_record(int i) {
  CfgZrsAccessInfo z{};
  z.UseCustomAccess = i % 2;
  std::snprintf(z.CustomAccessNumber, sizeof z.CustomAccessNumber, "555-%04d", i);
  std::snprintf(z.PrimaryAccessNumber, sizeof z.PrimaryAccessNumber, "950-%04d", i);
  z.PrimaryAccessTimeout = i;
  z.PrimaryAccessRedial = i + 1;
  std::snprintf(z.AlternateAccessNumber, sizeof z.AlternateAccessNumber, "1-800-555-%04d", i);
  z.AlternateAccessTimeout = i + 2;
  z.AlternateAccessRedial = i + 3;
  std::snprintf(z.Service, sizeof z.Service, "svc%d", i);
  return z;
}

// Which iteration a record read back belongs to, or -1 when it is mixed.
int dialing_iteration(const CfgDialingInfo& d) {
  int i = d.DialBlind;
  CfgDialingInfo want = dialing_record(i);
  return std::memcmp(&want, &d, sizeof d) == 0 ? i : -1;
}

int access_iteration(const CfgZrsAccessInfo& z) {
  int i = z.PrimaryAccessTimeout;
  CfgZrsAccessInfo want = access_record(i);
  return std::memcmp(&want, &z, sizeof z) == 0 ? i : -1;
}

TEST_F(CrashSafety, TwoProcessesStoringOneFileLoseNoRecord) {
  constexpr int kPuts = 1000;
  const fs::path file = platform::known_folder(platform::KnownFolder::Windows) / "TARK_NET.INI";
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "[TCP/IP]\nDomain=tarkel.example\n";

  auto writer = [](const std::function<int32_t(int)>& put) -> pid_t {
    pid_t pid = ::fork();
    if (pid == 0) {
      int failed = 0;
      for (int i = 0; i < kPuts; ++i) failed += put(i) != CFG_OK;
      ::_exit(failed == 0 ? 0 : 1);
    }
    return pid;
  };
  pid_t a = writer([](int i) {
    CfgDialingInfo d = dialing_record(i);
    return CfgPutDialingInfo(&d);
  });
  ASSERT_GT(a, 0);
  pid_t b = writer([](int i) {
    CfgZrsAccessInfo z = access_record(i);
    return CfgPutZrsAccessInfo(&z);
  });
  ASSERT_GT(b, 0);

  // Meanwhile this process reads: each record seen is whole, and never goes
  // back to an earlier iteration.
  int reads = 0, last_dialing = -1, last_access = -1;
  int status_a = 0, status_b = 0;
  bool a_done = false, b_done = false;
  while (!a_done || !b_done) {
    CfgDialingInfo d{};
    if (CfgGetDialingInfo(&d) == CFG_OK) {
      int i = dialing_iteration(d);
      ASSERT_NE(i, -1) << "a torn dialing record";
      ASSERT_GE(i, last_dialing);
      last_dialing = i;
    }
    CfgZrsAccessInfo z{};
    if (CfgGetZrsAccessInfo(&z) == CFG_OK) {
      int i = access_iteration(z);
      ASSERT_NE(i, -1) << "a torn access record";
      ASSERT_GE(i, last_access);
      last_access = i;
    }
    ++reads;
    if (!a_done && ::waitpid(a, &status_a, WNOHANG) == a) a_done = true;
    if (!b_done && ::waitpid(b, &status_b, WNOHANG) == b) b_done = true;
  }
  std::printf("two writers: %d Puts each, %d reads meanwhile\n", kPuts, reads);
  EXPECT_TRUE(WIFEXITED(status_a) && WEXITSTATUS(status_a) == 0) << "a Put of the first writer failed";
  EXPECT_TRUE(WIFEXITED(status_b) && WEXITSTATUS(status_b) == 0) << "a Put of the second writer failed";

  // Both last records are there, and the other program's section too.
  CfgDialingInfo d{};
  ASSERT_EQ(CfgGetDialingInfo(&d), CFG_OK);
  EXPECT_EQ(dialing_iteration(d), kPuts - 1);
  CfgZrsAccessInfo z{};
  ASSERT_EQ(CfgGetZrsAccessInfo(&z), CFG_OK);
  EXPECT_EQ(access_iteration(z), kPuts - 1);
  common::IniDocument doc = common::IniDocument::parse(slurp(file));
  EXPECT_EQ(doc.get("TCP/IP", "Domain"), "tarkel.example");
  EXPECT_EQ(doc.sections().size(), 3u);
}

}  // namespace
