// The page sequencer and the page buttons in modal use.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "platform/loop/clock.h"
#include "platform/ui/message_box.h"
#include "platform/loop/message_loop.h"
#include "platform/ui/user_input.h"
#include "wizard/pages.h"
#include "support/temp_dir.h"

namespace wizard {
namespace {

using namespace platform;

constexpr int kMasterTemplate = 9100;
constexpr int kPageTemplate = 9101;

void register_test_templates() {
  DialogTemplate master;
  master.id = kMasterTemplate;
  master.caption = "Master";
  master.rect = {0, 0, kPageWidthDlu, kPageHeightDlu};
  master.controls.push_back(dlg::defpushbutton("&Next >", IDC_NEXT, 146, 218, 50, 14));
  master.controls.push_back(dlg::pushbutton("&Cancel", IDCANCEL, 202, 218, 46, 14));
  register_dialog_template(master);
  DialogTemplate page = master;
  page.id = kPageTemplate;
  page.caption = "Page";
  page.controls.push_back(dlg::pushbutton("< &Back", IDC_BACK, 96, 218, 50, 14));
  page.controls.push_back(dlg::pushbutton("&Finish", IDC_FINISH, 146, 218, 50, 14).hidden());
  page.controls.push_back(dlg::edit(100, 80, 40, 80, 12));
  page.controls.push_back(dlg::edit(101, 80, 60, 80, 12));
  register_dialog_template(page);
}

class NumberedPage : public CBaseDialog {
 public:
  NumberedPage(int number, HWND parent) : CBaseDialog(kPageTemplate, nullptr, parent), number_(number) {}
  int number() const { return number_; }

 private:
  int number_;
};

// Pages 1 to 4, of which the numbers in `skipped` give none.
class TestMaster : public CMasterDialog {
 public:
  explicit TestMaster(std::set<int> skipped) : CMasterDialog(kMasterTemplate, nullptr, 0, 1, 4), skipped_(skipped) {}
  CBaseDialog* CreatePage(int& number) override {
    asked.push_back(number);
    if (number < 1 || number > 4 || skipped_.count(number)) return nullptr;
    return new_window<NumberedPage>(number, hwnd());
  }
  std::vector<int> asked;
  int cancels = 0;

 protected:
  void on_cancel() override { ++cancels; }

 private:
  std::set<int> skipped_;
};

class Frame : public ::testing::Test {
 protected:
  void SetUp() override { register_test_templates(); }
  void TearDown() override {
    if (master_ && is_window(master_->hwnd())) destroy_window(master_->hwnd());
    MessageLoop::current().pump_pending();
  }
  TestMaster* start(std::set<int> skipped) {
    master_ = new_window<TestMaster>(skipped);
    EXPECT_NE(master_->CreateModeless(), 0u);
    show_window(master_->hwnd(), SW_SHOW);
    return master_;
  }
  int page_number() {
    auto* p = window_cast<NumberedPage>(master_->current_page());
    return p ? p->number() : 0;
  }
  void press(HWND dialog, int id) {
    auto* d = window_cast<Dialog>(dialog);
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(click(d->item(id)));
    MessageLoop::current().pump_pending();
  }
  TestMaster* master_ = nullptr;
  ScopedVirtualClock clock_;
};

TEST_F(Frame, SkippedNumbersArePassedOverBothWays) {
  TestMaster* m = start({2});
  press(m->hwnd(), IDC_NEXT);
  EXPECT_EQ(page_number(), 1);
  EXPECT_FALSE(is_window_visible(m->hwnd()));
  press(m->current_page(), IDC_NEXT);
  EXPECT_EQ(page_number(), 3);
  EXPECT_EQ(m->current_number(), 3);
  press(m->current_page(), IDC_BACK);
  EXPECT_EQ(page_number(), 1);
  press(m->current_page(), IDC_BACK);
  EXPECT_EQ(m->current_page(), 0u);
  EXPECT_TRUE(is_window_visible(m->hwnd()));
}

TEST_F(Frame, BackPastASkippedFirstPageShowsTheMaster) {
  TestMaster* m = start({1});
  press(m->hwnd(), IDC_NEXT);
  EXPECT_EQ(page_number(), 2);
  press(m->current_page(), IDC_BACK);
  EXPECT_EQ(m->current_page(), 0u);
  EXPECT_TRUE(is_window_visible(m->hwnd()));
}

TEST_F(Frame, NextOnTheLastPageKeepsItUp) {
  TestMaster* m = start({});
  press(m->hwnd(), IDC_NEXT);
  for (int i = 0; i < 3; ++i) press(m->current_page(), IDC_NEXT);
  const HWND last = m->current_page();
  EXPECT_EQ(page_number(), 4);
  press(last, IDC_NEXT);
  EXPECT_EQ(m->current_page(), last);
  EXPECT_EQ(m->current_number(), 4);
}

TEST_F(Frame, FinishReturnsToTheMasterAndCancelClimbs) {
  TestMaster* m = start({});
  press(m->hwnd(), IDC_NEXT);
  press(m->current_page(), IDC_NEXT);
  auto* p = window_cast<CBaseDialog>(m->current_page());
  p->SetFinishMode(true);
  press(p->hwnd(), IDC_FINISH);
  EXPECT_EQ(m->current_page(), 0u);
  EXPECT_TRUE(is_window_visible(m->hwnd()));

  press(m->hwnd(), IDC_NEXT);
  EXPECT_EQ(page_number(), 1) << "the master's Next always starts at its first page";
  const HWND page = m->current_page();
  ASSERT_TRUE(press_key(Key::Escape));
  MessageLoop::current().pump_pending();
  EXPECT_FALSE(is_window(page));
  EXPECT_EQ(m->cancels, 1);
}

TEST_F(Frame, ModalPageButtonsEndTheDialogWithTheirIds) {
  for (int id : {int(IDC_BACK), int(IDC_NEXT), int(IDCANCEL)}) {
    NumberedPage page(1, 0);
    const TimerId t = MessageLoop::current().set_thread_timer(5, [id](TimerId) {
      if (auto* d = window_cast<Dialog>(active_window()); d && d->template_id() == kPageTemplate) {
        click(d->item(id));
      }
    });
    EXPECT_EQ(page.do_modal(), id);
    MessageLoop::current().kill_thread_timer(t);
  }
}

TEST_F(Frame, EntryChecksFormatTheirNumbersAndFocusTheField) {
  std::vector<std::string> shown;
  const TimerId t = MessageLoop::current().set_thread_timer(5, [&shown](TimerId) {
    if (auto* box = window_cast<MessageBoxWindow>(active_window())) {
      shown.push_back(box->caption() + ": " + box->message());
      press_key(Key::Enter);
    }
  });
  NumberedPage* page = new_window<NumberedPage>(1, 0);
  ASSERT_NE(page->CreateModeless(), 0u);
  show_window(page->hwnd(), SW_SHOW);
  page->set_item_text(100, "abcd");
  page->set_item_text(101, "abce");
  EXPECT_TRUE(page->CheckMaxLength("No more than %d.", 100, 4));
  EXPECT_FALSE(page->CheckMaxLength("No more than %d.", 100, 3));
  EXPECT_FALSE(page->CheckLengthRange("Between %d and %d, 100%%.", 101, 5, 8));
  EXPECT_FALSE(page->CheckSameText("Differ.", 101, 100));
  EXPECT_EQ(get_focus(), page->item(101)) << "the first control of the pair";
  page->set_item_text(100, "");
  EXPECT_FALSE(page->CheckRequired("Needed.", 100));
  EXPECT_EQ(get_focus(), page->item(100));
  EXPECT_EQ(shown, (std::vector<std::string>{"Entry error: No more than 3.", "Entry error: Between 5 and 8, 100%.",
                                             "Entry error: Differ.", "Entry error: Needed."}));
  MessageLoop::current().kill_thread_timer(t);
  destroy_window(page->hwnd());
}

TEST_F(Frame, ModemLevelFactoryGivesTheFifthPage) {
  // The account page's Next goes to the modem level once it registers itself.
  int made = 0;
  set_modem_level_factory([&made](RegistrationProfile*, HWND parent) -> CBaseDialog* {
    ++made;
    return new_window<NumberedPage>(5, parent);
  });
  const test_support::TempDir dir("frame_test");
  set_wizard_paths({dir.path(), dir / "Joinwiz.ini"});
  register_page_templates();
  auto* w = new_window<CWelcomeDialog>(false);
  ASSERT_NE(w->CreateModeless(), 0u);
  int number = 5;
  CBaseDialog* fifth = w->CreatePage(number);
  ASSERT_NE(fifth, nullptr);
  EXPECT_EQ(made, 1);
  delete fifth;
  set_modem_level_factory(nullptr);
  number = 5;
  EXPECT_EQ(w->CreatePage(number), nullptr);
  destroy_window(w->hwnd());
  if (MessageLoop::current().quit_pending()) MessageLoop::current().run();
}

}  // namespace
}  // namespace wizard
