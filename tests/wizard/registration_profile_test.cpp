#include "wizard/registration_profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "support/child_process.h"
#include "ini_bridge.h"
#include "platform/storage/files.h"
#include "platform/loop/log.h"
#include "support/temp_dir.h"

namespace wizard {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class Profile : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = dir_ / "Joinwiz.ini";
  }
  void write(const std::string& text) { std::ofstream(file_, std::ios::binary) << text; }
  test_support::TempDir temp_{"wizard_profile"};
  const fs::path dir_ = temp_.path();
  fs::path file_;
};

TEST_F(Profile, DefaultTableHoldsTheFortyThreeKeysInOrder) {
  RegistrationProfile p;
  p.SetDefaults(default_profile_keys());
  ASSERT_EQ(p.size(), 43u);
  EXPECT_EQ(p.key_at(0), "CLIENTCODE");
  EXPECT_EQ(p.key_at(42), "NNTP");
  struct {
    const char* key;
    const char* value;
  } expected[] = {{"CLIENTCODE", "000000"}, {"PAYMETHOD", "CREDIT"}, {"CCTYPE", "American Express"},
                  {"COMPORT", "2"},         {"DETECTMODEM", "TRUE"}, {"USEDETECTED", "TRUE"},
                  {"COMSPEED", "9600"},     {"MODEMINIT", "ATE0Q0V1&C1&D2S2=43S7=60S12=50"},
                  {"MODEMRST", "AT &F"},    {"CWDISABLE", "FALSE"}, {"DIALMETHOD", "TONE"},
                  {"NEWUSER", ""},          {"ADDR4", ""}};
  for (const auto& e : expected) {
    std::string v = "unset";
    ASSERT_TRUE(p.Get(e.key, v)) << e.key;
    EXPECT_EQ(v, e.value) << e.key;
  }
}

TEST_F(Profile, KeysAreStoredUpperCaseAndLookupIsExact) {
  RegistrationProfile p;
  p.Set("abc", "1");
  std::string v = "untouched";
  EXPECT_TRUE(p.Get("ABC", v));
  EXPECT_EQ(v, "1");
  v = "untouched";
  EXPECT_FALSE(p.Get("abc", v));
  EXPECT_EQ(v, "untouched");
  p.Set("abc", "2");  // not found in lower case: another entry is appended
  EXPECT_EQ(p.size(), 2u);
  EXPECT_TRUE(p.Get("ABC", v));
  EXPECT_EQ(v, "2") << "lookup runs from the last entry";
  p.Set("ABC", "3");
  EXPECT_EQ(p.Find("ABC"), 1);
  EXPECT_EQ(p.value_at(0), "1");
  EXPECT_EQ(p.value_at(1), "3");
  p.Set("EMPTY", "");
  EXPECT_TRUE(p.Get("EMPTY", v));
  EXPECT_EQ(v, "");
  p.Remove("ABC");
  EXPECT_EQ(p.Find("ABC"), 0) << "Remove takes the last entry first";
  p.Remove("ABC");
  EXPECT_EQ(p.Find("ABC"), -1);
  EXPECT_EQ(p.Find("EMPTY"), 0) << "later entries move down";
}

TEST_F(Profile, LoadTakesKnownKeysCutsLongValuesAndKeepsDefaults) {
  write("[User Information]\nUSERID=jsmith\nADDR4=Suite 9\nFIRSTNAME=" + std::string(200, 'x') +
        "\nEXTRA=kept\n[Dialing Information]\nREGNUMBER=5550100\n");
  RegistrationProfile p;
  p.SetDefaults(default_profile_keys());
  EXPECT_TRUE(p.Load(file_));
  EXPECT_EQ(p.value_or_empty("USERID"), "jsmith");
  EXPECT_EQ(p.value_or_empty("ADDR4"), "Suite 9");
  EXPECT_EQ(p.value_or_empty("FIRSTNAME"), std::string(126, 'x'));
  EXPECT_EQ(p.value_or_empty("COMSPEED"), "9600");
  EXPECT_EQ(p.Find("EXTRA"), -1) << "Load never adds keys";
  EXPECT_EQ(p.size(), 43u);
}

TEST_F(Profile, MissingFileLeavesEveryDefault) {
  RegistrationProfile p;
  p.SetDefaults(default_profile_keys());
  EXPECT_TRUE(p.Load(dir_ / "nothing.ini"));
  EXPECT_EQ(p.value_or_empty("MODEMRST"), "AT &F");
}

TEST_F(Profile, SaveWritesOnlyItsKeysLastFirstAndKeepsOtherLines) {
  write("; installed\n[Dialing Information]\nREGNUMBER=5550100\n\n[User Information]\nEXTRA=kept\nCCNUM=from elsewhere\n");
  RegistrationProfile p;
  p.Set("FIRST", "1");
  p.Set("SECOND", "2");
  ASSERT_TRUE(p.Save(file_));
  const std::string text = slurp(file_);
  EXPECT_NE(text.find("; installed\n[Dialing Information]\nREGNUMBER=5550100\n"), std::string::npos) << text;
  EXPECT_NE(text.find("EXTRA=kept"), std::string::npos);
  EXPECT_NE(text.find("CCNUM=from elsewhere"), std::string::npos);
  EXPECT_LT(text.find("SECOND=2"), text.find("FIRST=1")) << "last inserted key written first:\n" << text;
}

TEST_F(Profile, SaveCreatesTheFileOwnerOnly) {
  RegistrationProfile p;
  p.Set("PASSWORD", "secret");
  ASSERT_TRUE(p.Save(file_));
  struct stat st {};
  ASSERT_EQ(stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(ini_read(kUserInfoSection, "PASSWORD", "", 127, file_), "secret");
}

TEST_F(Profile, SaveLeavesAFileThatWas0644OwnerOnly) {
  write("[Dialing Information]\nREGNUMBER=5550100\n");
  ASSERT_EQ(chmod(file_.c_str(), 0644), 0);
  RegistrationProfile p;
  p.Set("PASSWORD", "secret");
  ASSERT_TRUE(p.Save(file_));
  struct stat st {};
  ASSERT_EQ(stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Saving again with nothing changed still mends a mode someone loosened.
  ASSERT_EQ(chmod(file_.c_str(), 0644), 0);
  ASSERT_TRUE(p.Save(file_));
  ASSERT_EQ(stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(ini_read(kUserInfoSection, "PASSWORD", "", 127, file_), "secret");
  EXPECT_EQ(ini_read("Dialing Information", "REGNUMBER", "", 32, file_), "5550100");
}

TEST_F(Profile, SaveOfTheWholeTableIsOneReplacementOfTheFile) {
  write("; installed\n[Dialing Information]\nREGNUMBER=5550100\n[User Information]\nEXTRA=kept\n");
  RegistrationProfile p;
  p.SetDefaults(default_profile_keys());
  p.Set("PASSWORD", "secret");
  const std::uint64_t before = platform::replace_file_count();
  ASSERT_TRUE(p.Save(file_));
  EXPECT_EQ(platform::replace_file_count() - before, 1u) << "one write for all 43 keys";
  const std::string text = slurp(file_);
  EXPECT_EQ(text.rfind("; installed\n[Dialing Information]\nREGNUMBER=5550100\n[User Information]\nEXTRA=kept\n", 0),
            0u) << text;
  RegistrationProfile back;
  back.SetDefaults(default_profile_keys());
  back.Set("PASSWORD", "");
  back.Load(file_);
  EXPECT_EQ(back.value_or_empty("PASSWORD"), "secret");
  EXPECT_EQ(back.value_or_empty("MODEMRST"), "AT &F");
}

TEST_F(Profile, AKeyThatCannotBeStoredIsLeftOutAndNamedTheOthersAreSaved) {
  // A NUL stopped the save at that key: the user ID and password after it
  // were lost while the registration went on.
  for (std::string bad : {std::string("two\nlines"), std::string("P30\0X", 5)}) {
    fs::remove(file_);
    RegistrationProfile p;
    p.Set("USERID", "annlee");
    p.Set("BAD", bad);
    p.Set("FIRST", "written");
    std::string why;
    EXPECT_FALSE(p.Save(file_, &why));
    EXPECT_NE(why.find("BAD"), std::string::npos) << why;
    EXPECT_EQ(ini_read(kUserInfoSection, "FIRST", "", 127, file_), "written");
    EXPECT_EQ(ini_read(kUserInfoSection, "USERID", "-", 127, file_), "annlee");
    EXPECT_EQ(ini_read(kUserInfoSection, "BAD", "absent", 127, file_), "absent");
  }
}

TEST_F(Profile, AFolderInPlaceOfTheFileIsOneWarningForLoadAndOneForSave) {
  fs::create_directories(file_);
  const fs::path log = dir_ / "log.txt";
  ASSERT_TRUE(platform::set_log_file(log.string()));
  RegistrationProfile p;
  p.SetDefaults(default_profile_keys());
  p.Load(file_);
  EXPECT_FALSE(p.Save(file_));
  platform::set_log_file("");
  EXPECT_EQ(p.value_or_empty("COMPORT"), "2") << "the defaults stay";
  std::istringstream lines(slurp(log));
  int warnings = 0;
  for (std::string line; std::getline(lines, line);) warnings += line.rfind("WARN", 0) == 0 ? 1 : 0;
  EXPECT_EQ(warnings, 2) << slurp(log);
}

TEST_F(Profile, SaveThatCannotWriteTheFileSaysWhy) {
  RegistrationProfile p;
  p.Set("A", "1");
  std::string why;
  EXPECT_FALSE(p.Save(dir_ / "no" / "such" / "Joinwiz.ini", &why));
  EXPECT_NE(why.find("no/such"), std::string::npos) << why;
}

// A profile file the user made read-only is not replaced by a save: the
// save fails and the file stays as it was. Run as an ordinary user.
TEST_F(Profile, SaveOntoAReadOnlyFileFailsAndLeavesIt) {
  write("[User Information]\nFIRSTNAME=Ann\n");
  auto outcome = test_support::run_as_fresh_user(dir_, [&] {
    RegistrationProfile p;
    p.Set("FIRSTNAME", "Bob");
    return std::string(p.Save(file_) ? "saved" : "refused");
  }, [&] { return ::chmod(file_.c_str(), 0400) == 0; });
  if (!outcome) GTEST_SKIP() << "needs root to become another user";
  EXPECT_EQ(*outcome, "refused");
  EXPECT_EQ(slurp(file_), "[User Information]\nFIRSTNAME=Ann\n");
}

TEST(ProfileText, DigitsOnlyAndUpperKey) {
  EXPECT_EQ(digits_only("555-1234"), "5551234");
  EXPECT_EQ(digits_only("(800) 555-0147 x2"), "80055501472");
  EXPECT_EQ(digits_only("none"), "");
  EXPECT_EQ(upper_key("ab\xc3\xa9z"), "AB\xc3\xa9Z");
}

}  // namespace
}  // namespace wizard
