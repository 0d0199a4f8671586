// The server's prompt dialogs as the terminal display paints them at
// 100 x 40: every text shows whole and each "...:" label sits on the row of
// its field.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "platform/loop/clock.h"
#include "texts_fit.h"
#include "wizard/prompt_dialogs.h"

namespace {

struct Prompt {
  int dialog;
  const char* caption;
  int labelled_fields;
};

// Names the case by its dialog in test listings.
void PrintTo(const Prompt& p, std::ostream* os) { *os << p.caption; }

class PromptTexts : public ::testing::TestWithParam<Prompt> {
 protected:
  void SetUp() override { wizard::register_prompt_templates(); }
  platform::ScopedVirtualClock clock_;
};

TEST_P(PromptTexts, EveryTextShowsWhole) {
  EXPECT_GT(texts_fit::expect_texts_whole(GetParam().dialog, GetParam().caption, {}), 0);
}

TEST_P(PromptTexts, LabelsShareTheRowOfTheirFields) {
  EXPECT_EQ(texts_fit::expect_labels_by_fields(GetParam().dialog, GetParam().caption), GetParam().labelled_fields);
}

INSTANTIATE_TEST_SUITE_P(Dialogs, PromptTexts,
                         ::testing::Values(Prompt{wizard::IDD_BILLING, "Credit Card Information", 3},
                                           Prompt{wizard::IDD_PRICE_PLAN, "Pricing Plan Information", 0},
                                           Prompt{wizard::IDD_USER_INPUT, "User input", 0},
                                           Prompt{wizard::IDD_ACCESS_NUMBER, "Access Number Information", 0}),
                         [](const auto& info) { return "dialog_" + std::to_string(info.param.dialog); });

}  // namespace
