// The ModemManager rule: saved in the root when the user agrees, put in
// place by the system install from the ids in its name alone.
#include "sysconfig/modem_rules.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/storage/system_root.h"

namespace sysconfig {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(ModemRules, SavedRuleIsInstalledOnceAndOnlyFromItsIds) {
  platform::ScopedSystemRoot root;
  const fs::path udev = root.path() / "etc-udev";
  std::string error;
  ASSERT_TRUE(SaveModemIgnoreRule({"0572", "1329"}, error)) << error;
  EXPECT_FALSE(SaveModemIgnoreRule({"0572", "13\"9"}, error));
  EXPECT_NE(error.find("is not a USB vendor and product id"), std::string::npos) << error;

  // A doctored copy in the root and a file of another name: neither reaches
  // the system's folder as it is.
  const fs::path pending = PendingModemRulesFolder();
  const fs::path saved = pending / "77-veloran-modem-0572-1329.rules";
  const std::string rule = Slurp(saved);
  ASSERT_NE(rule.find("ENV{ID_MM_DEVICE_IGNORE}=\"1\""), std::string::npos) << rule;
  std::ofstream(saved, std::ios::app) << "RUN+=\"/bin/sh -c 'id > /tmp/owned'\"\n";
  std::ofstream(pending / "99-other.rules") << "RUN+=\"/bin/true\"\n";
  std::ofstream(pending / "77-veloran-modem-05\"2-1329.rules") << "x\n";

  std::string report;
  EXPECT_EQ(InstallModemRules(udev, report), 0) << report;
  EXPECT_EQ(Slurp(udev / "77-veloran-modem-0572-1329.rules"), rule);
  EXPECT_FALSE(fs::exists(udev / "99-other.rules"));
  EXPECT_EQ(std::distance(fs::directory_iterator(udev), fs::directory_iterator()), 1);
  EXPECT_NE(report.find("udevadm control --reload"), std::string::npos) << report;

  report.clear();
  EXPECT_EQ(InstallModemRules(udev, report), 0);
  EXPECT_NE(report.find("Already installed"), std::string::npos) << report;
  EXPECT_EQ(report.find("udevadm"), std::string::npos) << "nothing new to read: " << report;
}

TEST(ModemRules, NothingSavedNothingInstalled) {
  platform::ScopedSystemRoot root;
  std::string report;
  EXPECT_EQ(InstallModemRules(root.path() / "etc-udev", report), 0);
  EXPECT_TRUE(report.empty()) << report;
  EXPECT_FALSE(fs::exists(root.path() / "etc-udev"));
}

}  // namespace
}  // namespace sysconfig
