// Every label, check box, radio button, push button and group caption of the
// library's dialogs shows whole when the terminal display paints it at
// 100 x 40 (a text that does not fit its cells is cut there without a word),
// and each "...:" label sits on the row of its field.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "platform/loop/clock.h"
#include "texts_fit.h"
#include "ui_resources.h"

namespace {

struct Shown {
  int dialog;
  const char* caption;
  std::vector<int> shown_at_run_time;  // hidden in the template, shown by the dialog
  int labelled_fields;                 // fields with a "...:" label beside them
};

// Names the case by its dialog in test listings.
void PrintTo(const Shown& p, std::ostream* os) { *os << p.caption; }

class ModsetTexts : public ::testing::TestWithParam<Shown> {
 protected:
  void SetUp() override { modset::register_cfg_templates(); }
  platform::ScopedVirtualClock clock_;
};

TEST_P(ModsetTexts, EveryTextShowsWhole) {
  EXPECT_GT(texts_fit::expect_texts_whole(GetParam().dialog, GetParam().caption, GetParam().shown_at_run_time), 0);
}

TEST_P(ModsetTexts, LabelsShareTheRowOfTheirFields) {
  EXPECT_EQ(texts_fit::expect_labels_by_fields(GetParam().dialog, GetParam().caption), GetParam().labelled_fields);
}

INSTANTIATE_TEST_SUITE_P(Dialogs, ModsetTexts,
                         ::testing::Values(Shown{modset::IDD_CFG_MODEM, "Set Up Modem", {modset::IDC_CFG_PHONE_NUMBERS}, 4},
                                           Shown{modset::IDD_CFG_ADVANCED, "Advanced Modem Setup", {}, 2},
                                           Shown{modset::IDD_CFG_SEARCH, "Searching for modem", {}, 0},
                                           Shown{modset::IDD_CFG_LINE, "Choose Phone Line Settings", {}, 2},
                                           Shown{modset::IDD_CFG_SELECT, "Select a Modem", {}, 0},
                                           Shown{modset::IDD_CFG_ZRS, "Tarkel Network Phone Number", {}, 0},
                                           Shown{modset::IDD_CFG_NSV, "Internet Services Access Phone Number", {}, 4},
                                           Shown{modset::IDD_CFG_HELP, "Modem Settings Help", {}, 0}),
                         [](const auto& info) { return "dialog_" + std::to_string(info.param.dialog); });

}  // namespace
