#include "wizard/side_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

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

class SideFiles : public ::testing::Test {
 protected:
  test_support::TempDir temp_{"wizard_side"};
  const fs::path dir_ = temp_.path();
};

TEST_F(SideFiles, ProfileFileNameFollowsTheExecutable) {
  struct Case {
    const char* exe;
    const char* ini;
  } cases[] = {
      {"joinwiz", "joinwiz.ini"},   // no extension on this system: ".ini" is added
      {"Joinwiz.exe", "Joinwiz.ini"},
      {"my.reg.bin", "my.reg.ini"},
      {"trailingdot.", "trailingdot.ini"},
  };
  for (const auto& c : cases) EXPECT_EQ(profile_file_name(c.exe), c.ini) << c.exe;
}

TEST_F(SideFiles, ProfilePathMatchesAnExistingFileWithoutRegardToCase) {
  fs::path program = dir_ / "a.b" / "Program";  // a dot in a folder must not matter
  fs::create_directories(program);
  EXPECT_EQ(profile_path(program, "joinwiz"), program / "joinwiz.ini");
  std::ofstream(program / "Joinwiz.ini") << "[Windows]\n";
  EXPECT_EQ(profile_path(program, "joinwiz"), program / "Joinwiz.ini");
  EXPECT_EQ(profile_path(program, "myreg"), program / "myreg.ini");
}

TEST_F(SideFiles, InstallCopiesWhatIsMissingAndOverwritesNothing) {
  const fs::path data = fs::path(VLR_SOURCE_DIR) / "data";
  const fs::path program = dir_ / "root" / "Program";
  fs::create_directories(program);
  std::ofstream(program / "vlrterms.txt") << "local terms\n";
  std::ofstream(program / "phones.txt") << "[MINE]\n1=555 5550000 XX Here\n";

  std::vector<std::string> installed;
  std::string error;
  ASSERT_TRUE(install_side_files(data, program, &installed, &error)) << error;
  EXPECT_EQ(slurp(program / "vlrterms.txt"), "local terms\n");
  EXPECT_EQ(slurp(program / "phones.txt"), "[MINE]\n1=555 5550000 XX Here\n");
  EXPECT_EQ(std::count(installed.begin(), installed.end(), "phones.txt"), 0);
  for (const char* name : {"Joinwiz.ini", "Vlrhelp.hlp", "PG1U.bmp", "GRAYLINEU.bmp", "GRAYLINEX.bmp"}) {
    EXPECT_EQ(slurp(program / name), slurp(data / name)) << name;
  }
  EXPECT_EQ(std::count(installed.begin(), installed.end(), "vlrterms.txt"), 0);
  // Without one in place, the shipped access numbers are installed.
  fs::remove(program / "phones.txt");
  installed.clear();
  ASSERT_TRUE(install_side_files(data, program, &installed, &error)) << error;
  EXPECT_EQ(installed, std::vector<std::string>{"phones.txt"});
  EXPECT_EQ(slurp(program / "phones.txt"), slurp(data / "phones.txt"));

  struct stat st {};
  ASSERT_EQ(stat((program / "Joinwiz.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "the profile holds the password";
  ASSERT_EQ(stat((program / "Vlrhelp.hlp").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);

  // A second run finds everything in place and changes nothing.
  std::ofstream(program / "Joinwiz.ini", std::ios::app) << "[User Information]\nUSERID=kept\n";
  installed.clear();
  ASSERT_TRUE(install_side_files(data, program, &installed, &error)) << error;
  EXPECT_TRUE(installed.empty());
  EXPECT_NE(slurp(program / "Joinwiz.ini").find("USERID=kept"), std::string::npos);
  for (const auto& e : fs::directory_iterator(program)) {
    EXPECT_EQ(e.path().filename().string().find(".ini."), std::string::npos) << "temporary left: " << e.path();
  }
}

TEST_F(SideFiles, CreateIfMissingNeverReplaces) {
  const fs::path f = dir_ / "x.ini";
  std::string error;
  ASSERT_TRUE(create_file_if_missing(f, "first", platform::FileMode::OwnerOnly, &error)) << error;
  ASSERT_TRUE(create_file_if_missing(f, "second", platform::FileMode::Shared, &error)) << error;
  EXPECT_EQ(slurp(f), "first");
  EXPECT_FALSE(create_file_if_missing(dir_ / "no" / "such" / "x.ini", "", platform::FileMode::Shared, &error));
  EXPECT_NE(error.find("no/such"), std::string::npos) << error;
}

TEST_F(SideFiles, DataFolderIsFoundBesideTheProgramOrByEnvironment) {
  fs::create_directories(dir_ / "bin" / "data");
  std::ofstream(dir_ / "bin" / "data" / "Joinwiz.ini") << "";
  unsetenv("VLR_DATA_DIR");
  EXPECT_EQ(find_data_dir(dir_ / "bin" / "joinwiz"), fs::canonical(dir_ / "bin" / "data"));
  EXPECT_EQ(find_data_dir(dir_ / "elsewhere" / "joinwiz"), fs::path());
  setenv("VLR_DATA_DIR", dir_.c_str(), 1);
  EXPECT_EQ(find_data_dir(dir_ / "elsewhere" / "joinwiz"), dir_);
  unsetenv("VLR_DATA_DIR");
}

TEST_F(SideFiles, ShippedBitmapsMatchTheirGenerator) {
  const std::string cmd = std::string(VLR_BIN_DIR) + "/make_bitmaps " + dir_.string();
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const fs::path data = fs::path(VLR_SOURCE_DIR) / "data";
  for (const char* name : {"PG1U.bmp", "GRAYLINEU.bmp", "GRAYLINED.bmp", "GRAYLINEF.bmp", "GRAYLINEX.bmp"}) {
    EXPECT_EQ(slurp(dir_ / name), slurp(data / name)) << name << " differs from make_bitmaps' output";
  }
  // Sizes the pages rely on: 111 x 390 and 397 x 8, 4 bits per pixel.
  const std::string pg1 = slurp(data / "PG1U.bmp");
  ASSERT_GT(pg1.size(), 30u);
  auto u32 = [](const std::string& s, std::size_t at) {
    return unsigned(std::uint8_t(s[at])) | unsigned(std::uint8_t(s[at + 1])) << 8 |
           unsigned(std::uint8_t(s[at + 2])) << 16 | unsigned(std::uint8_t(s[at + 3])) << 24;
  };
  EXPECT_EQ(u32(pg1, 18), 111u);
  EXPECT_EQ(u32(pg1, 22), 390u);
  EXPECT_EQ(std::uint8_t(pg1[28]), 4);
  const std::string line = slurp(data / "GRAYLINEU.bmp");
  EXPECT_EQ(u32(line, 18), 397u);
  EXPECT_EQ(u32(line, 22), 8u);
}

}  // namespace
}  // namespace wizard
