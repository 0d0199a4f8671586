#include "wizard/help.h"

#include <gtest/gtest.h>

#include <fstream>

#include "wizard/strings.h"
#include "support/temp_dir.h"

namespace wizard {
namespace {

namespace fs = std::filesystem;

TEST(Help, ShippedFileHasATopicForEveryPageContext) {
  const fs::path file = fs::path(VLR_SOURCE_DIR) / "data" / "Vlrhelp.hlp";
  for (int context : {1, 2, 24, 6, 7, 9, 13, 15, 16, 19, 21, 22, 23, 27, 28}) {
    HelpTopic t;
    ASSERT_EQ(find_help_topic(file, context, t), HelpLookup::Found) << context;
    EXPECT_EQ(t.context, context);
    EXPECT_FALSE(t.title.empty());
    EXPECT_FALSE(t.text.empty());
    EXPECT_FALSE(t.text.ends_with("\n")) << context;
  }
}

TEST(Help, TopicTextStopsAtTheNextTopicAndMissingIsReported) {
  const test_support::TempDir dir("help_test");
  const fs::path file = dir / "help.hlp";
  {
    std::ofstream f(file);
    f << "; comment\n[3] Three\r\nline a\r\n[x] not a topic\n\n \nnext\n[4] Four\nline b";
  }
  HelpTopic t;
  ASSERT_EQ(find_help_topic(file, 3, t), HelpLookup::Found);
  EXPECT_EQ(t.title, "Three");
  EXPECT_EQ(t.text, "line a [x] not a topic\r\n\r\nnext");
  ASSERT_EQ(find_help_topic(file, 4, t), HelpLookup::Found);
  EXPECT_EQ(t.text, "line b");
  EXPECT_EQ(find_help_topic(file, 5, t), HelpLookup::NoTopic);
  fs::remove(file);
  EXPECT_EQ(find_help_topic(file, 3, t), HelpLookup::NoFile);
}

TEST(Help, LinkUsesTheHelpFileNameWhenNoneIsGiven) {
  EXPECT_EQ(HelpLink("/p/Program").path(), fs::path("/p/Program/Vlrhelp.hlp"));
  EXPECT_EQ(HelpLink("/p/Program", "other.hlp").path(), fs::path("/p/Program/other.hlp"));
  EXPECT_EQ(load_string(IDS_CLIENT_CODE), "VLRREG501");
  EXPECT_EQ(load_string(IDS_ACCOUNT_NAME), "Tarkel - Veloran Account");
  EXPECT_EQ(load_string(99), "");
}

}  // namespace
}  // namespace wizard
