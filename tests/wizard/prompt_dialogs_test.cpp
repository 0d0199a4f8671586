// The server's prompts run modally in-process, driven as a person would
// through the user-input calls from inside their modal loop; message boxes
// are answered with Enter and recorded.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "platform/loop/clock.h"
#include "platform/ui/message_box.h"
#include "platform/loop/message_loop.h"
#include "platform/ui/user_input.h"
#include "platform/ui/window.h"
#include "wizard/prompt_dialogs.h"
#include "support/temp_dir.h"

namespace wizard {
namespace {

namespace fs = std::filesystem;
using namespace platform;
using Strings = std::vector<std::string>;

TEST(Luhn, Table) {
  struct Case {
    const char* number;
    bool valid;
  } cases[] = {
      {"79927398713", true},       {"79927398710", false},      {"4111111111111111", true},
      {"4111111111111112", false}, {"5500000000000004", true},  {"378282246310005", true},
      {"6011111111111117", true},  {"0", true},                 {"18", true},
      {"17", false},               {"4111 1111 1111 1111", false}, {"4111-1111-1111-1111", false},
      {"411111111111111a", false}, {"\xef\xbc\x91", false},     {"59", true},
  };
  for (const Case& c : cases) EXPECT_EQ(LuhnValid(c.number), c.valid) << c.number;
}

TEST(Luhn, LeadingNumber) {
  struct Case {
    const char* text;
    long value;
  } cases[] = {{"7", 7}, {"07", 7}, {"12", 12}, {"13", 13}, {"00", 0}, {"", 0}, {"x1", 0}, {"1x", 1},
               {"99999999999999999999", 9999999}};
  for (const Case& c : cases) EXPECT_EQ(LeadingNumber(c.text), c.value) << c.text;
}

class Prompts : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path data = fs::path(VLR_SOURCE_DIR) / "data";
    set_wizard_paths({dir_, dir_ / "Joinwiz.ini"});
    clear_bitmap_folders();
    add_bitmap_folder(data);
    set_application_name("joinwiz");
    register_prompt_templates();
    profile_.SetDefaults(default_profile_keys());
    answerer_ = MessageLoop::current().set_thread_timer(5, [this](TimerId) {
      if (auto* box = window_cast<MessageBoxWindow>(active_window())) {
        messages_.push_back(box->caption() + ": " + box->message());
        press_key(Key::Enter);
      }
    });
  }
  void TearDown() override {
    MessageLoop::current().kill_thread_timer(answerer_);
    MessageLoop::current().pump_pending();
  }

  // Runs `dialog` modally; `user` runs once inside its loop, when it is up.
  int RunModal(Dialog& dialog, std::function<void(Dialog&)> user) {
    bool done = false;
    TimerId t = MessageLoop::current().set_thread_timer(10, [&](TimerId id) {
      if (done || dialog.hwnd() == 0 || !is_window_visible(dialog.hwnd())) return;
      done = true;
      MessageLoop::current().kill_thread_timer(id);
      user(dialog);
    });
    const int r = dialog.do_modal();
    MessageLoop::current().kill_thread_timer(t);
    return r;
  }
  static void Set(Dialog& d, int id, const std::string& text) {
    d.goto_control(id);
    if (ComboBox* c = d.combo(id)) {
      for (int i = 0; i < c->count(); ++i)
        if (c->item_text(i) == text) click_item(d.item(id), i);
      return;
    }
    d.edit(id)->select_all();
    type_text(text);
  }

  test_support::TempDir temp_{"wizard_prompts"};
  const fs::path dir_ = temp_.path();
  RegistrationProfile profile_;
  TimerId answerer_ = 0;
  Strings messages_;
  ScopedVirtualClock clock_;
};

TEST_F(Prompts, BillingChecksInOrderThenStoresTheCard) {
  profile_.Set("CCTYPE", "");
  Strings seen;
  CBillingDialog billing(&profile_);
  const int r = RunModal(billing, [&](Dialog& d) {
    EXPECT_EQ(d.combo(IDC_CC_TYPE)->item_text(d.combo(IDC_CC_TYPE)->cur_sel()), "Visa");
    EXPECT_TRUE(is_window_enabled(d.item(IDC_CC_NUMBER)));
    EXPECT_FALSE(is_window_visible(d.item(IDC_CC_CASH)));
    EXPECT_FALSE(is_window_visible(d.item(IDC_CC_CREDIT)));
    EXPECT_EQ(d.edit(IDC_CC_MONTH)->limit(), 2);
    EXPECT_EQ(d.edit(IDC_CC_YEAR)->limit(), 4);
    struct Step {
      const char* number;
      const char* month;
      const char* year;
      const char* message;  // nullptr: accepted
      int fault;            // the field that has the focus after the box
    } steps[] = {
        {"", "7", "97", "Entry error: You must enter a valid credit card number.", IDC_CC_NUMBER},
        {"41111111111111111111", "7", "97",
         "Entry error: Please enter no more than 19 characters for your credit card number.", IDC_CC_NUMBER},
        {"4111111111111112", "7", "97", "Entry error: Your credit card number is invalid", IDC_CC_NUMBER},
        {"4111 1111 1111 1111", "7", "97", "Entry error: Your credit card number is invalid", IDC_CC_NUMBER},
        {"4111111111111111", "", "97", "Entry error: You must enter the expiration month.", IDC_CC_MONTH},
        {"4111111111111111", "13", "97", "joinwiz: Please enter month less than 13 and greater than 0 please",
         IDC_CC_MONTH},
        {"4111111111111111", "00", "97", "joinwiz: Please enter month less than 13 and greater than 0 please",
         IDC_CC_MONTH},
        {"4111111111111111", "7", "", "Entry error: You must enter the expiration year.", IDC_CC_YEAR},
    };
    for (const Step& s : steps) {
      messages_.clear();
      Set(d, IDC_CC_NUMBER, s.number);
      Set(d, IDC_CC_MONTH, s.month);
      Set(d, IDC_CC_YEAR, s.year);
      click(d.item(IDC_NEXT));
      EXPECT_EQ(messages_, Strings{s.message}) << s.number << " " << s.month;
      EXPECT_TRUE(d.is_modal() && !static_cast<CBillingDialog&>(d).is_ending()) << s.message;
      // The field at fault has the focus with all its text selected: what
      // is typed next replaces it.
      EXPECT_EQ(get_focus(), d.item(s.fault)) << s.message;
      const Edit* fault = d.edit(s.fault);
      EXPECT_EQ(fault->sel_start(), 0) << s.message;
      EXPECT_EQ(fault->sel_end(), fault->length()) << s.message;
      EXPECT_EQ(profile_.value_or_empty("CCNUM"), "") << "nothing stored before all checks pass";
    }
    messages_.clear();
    Set(d, IDC_CC_TYPE, "Discover");
    Set(d, IDC_CC_NUMBER, "6011111111111117");
    Set(d, IDC_CC_MONTH, "7");
    Set(d, IDC_CC_YEAR, "97");
    click(d.item(IDC_NEXT));
  });
  EXPECT_EQ(r, IDC_NEXT);
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(profile_.value_or_empty("CCNUM"), "6011111111111117");
  EXPECT_EQ(profile_.value_or_empty("CCTYPE"), "Discover");
  EXPECT_EQ(profile_.value_or_empty("CCMONTH"), "7");
  EXPECT_EQ(profile_.value_or_empty("CCYEAR"), "97");
  EXPECT_EQ(profile_.value_or_empty("PAYMETHOD"), "CREDIT");
}

TEST_F(Prompts, BillingShowsTheStoredTypeAndCancelChangesNothing) {
  profile_.Set("CCTYPE", "discover");
  profile_.Set("CCNUM", "4111111111111111");
  profile_.Set("PAYMETHOD", "CASH");
  CBillingDialog billing(&profile_);
  const int r = RunModal(billing, [&](Dialog& d) {
    EXPECT_EQ(d.combo(IDC_CC_TYPE)->item_text(d.combo(IDC_CC_TYPE)->cur_sel()), "Discover");
    EXPECT_EQ(d.item_text(IDC_CC_NUMBER), "4111111111111111");
    for (int id : {IDC_CC_TYPE, IDC_CC_NUMBER, IDC_CC_MONTH, IDC_CC_YEAR})
      EXPECT_FALSE(is_window_enabled(d.item(id))) << id;
    press_key(Key::Escape);
  });
  EXPECT_EQ(r, IDCANCEL);
  EXPECT_EQ(profile_.value_or_empty("CCTYPE"), "discover");
  EXPECT_EQ(profile_.value_or_empty("PAYMETHOD"), "CASH");
}

TEST_F(Prompts, PricePlanListDescriptionsAndTheChosenNumber) {
  const Strings names{"Basic", "Standard", "Unlimited", "Extra", "Empty"};
  int chosen = -5;
  CPricePlanDialog plans(&chosen, &profile_);
  plans.SetPlans(&names, {"10 hours", "30 hours", "No limit"});
  const int r = RunModal(plans, [&](Dialog& d) {
    ListBox* l = d.list(IDC_PLAN_LIST);
    EXPECT_EQ(l->items(), names);
    EXPECT_EQ(l->cur_sel(), 0);
    EXPECT_EQ(d.item_text(IDC_PLAN_DESCRIPTION), "10 hours");
    EXPECT_TRUE(is_window_enabled(d.item(IDOK)));
    click_item(d.item(IDC_PLAN_LIST), 3);  // no description: OK disabled
    EXPECT_FALSE(is_window_enabled(d.item(IDOK)));
    press_key(Key::Enter);
    EXPECT_FALSE(static_cast<CPricePlanDialog&>(d).is_ending());
    click_item(d.item(IDC_PLAN_LIST), 2, true);  // a double click does nothing
    EXPECT_FALSE(static_cast<CPricePlanDialog&>(d).is_ending());
    EXPECT_EQ(d.item_text(IDC_PLAN_DESCRIPTION), "No limit");
    EXPECT_TRUE(is_window_enabled(d.item(IDOK)));
    click(d.item(IDOK));
  });
  EXPECT_EQ(r, IDOK);
  EXPECT_EQ(chosen, 3);
}

// An empty description is still a description at that position: the plan
// can be taken, and the box shows it empty.
TEST_F(Prompts, PricePlanWithAnEmptyDescriptionCanBeChosen) {
  const Strings names{"Basic", "Mystery"};
  int chosen = 0;
  CPricePlanDialog plans(&chosen, &profile_);
  plans.SetPlans(&names, {"10 hours", ""});
  const int r = RunModal(plans, [&](Dialog& d) {
    click_item(d.item(IDC_PLAN_LIST), 1);
    EXPECT_TRUE(is_window_enabled(d.item(IDOK)));
    EXPECT_EQ(d.item_text(IDC_PLAN_DESCRIPTION), "");
    press_key(Key::Enter);
  });
  EXPECT_EQ(r, IDOK);
  EXPECT_EQ(chosen, 2);
}

TEST_F(Prompts, PricePlanWithoutPlansCanOnlyBeCancelled) {
  const Strings names;
  int chosen = 7;
  CPricePlanDialog plans(&chosen, &profile_);
  plans.SetPlans(&names, {});
  const int r = RunModal(plans, [&](Dialog& d) {
    EXPECT_FALSE(is_window_enabled(d.item(IDOK)));
    press_key(Key::Enter);
    EXPECT_FALSE(static_cast<CPricePlanDialog&>(d).is_ending());
    press_key(Key::Escape);
  });
  EXPECT_EQ(r, IDCANCEL);
  EXPECT_EQ(chosen, 7);
}

TEST_F(Prompts, UserInputLimitsAUserIdPromptOnly) {
  struct Case {
    std::string_view prompt;
    bool new_account;
    int limit;
  } cases[] = {
      {"The user ID you selected is already in use.  Please select a different one:", true, 8},
      {"The user ID you enter is not in the system.  Please enter the right user id:", false, 27},
      {"The user password you enter is not in the system.  Please enter the right password:", true, 0},
      {"the user id, in lower case", true, 0},
  };
  for (const Case& c : cases) {
    CUserInputDialog input(0);
    input.SetPrompt(c.prompt);
    input.SetNewAccount(c.new_account);
    const int r = RunModal(input, [&](Dialog& d) {
      EXPECT_EQ(get_window_text(d.hwnd()), "User input");
      EXPECT_EQ(d.item_text(IDC_INPUT_PROMPT), c.prompt);
      EXPECT_EQ(d.edit(IDC_INPUT_EDIT)->limit(), c.limit) << c.prompt;
      EXPECT_EQ(get_focus(), d.item(IDC_INPUT_EDIT));
      type_text("abcdefghijklmnopqrstuvwxyz0123456789");
      press_key(Key::Enter);
    });
    EXPECT_EQ(r, IDOK);
    const std::string all = "abcdefghijklmnopqrstuvwxyz0123456789";
    EXPECT_EQ(input.Answer(), c.limit ? all.substr(0, c.limit) : all) << c.prompt;
  }
  CUserInputDialog cancelled(0);
  cancelled.SetPrompt("x");
  EXPECT_EQ(RunModal(cancelled, [](Dialog&) { press_key(Key::Escape); }), IDCANCEL);
  EXPECT_EQ(cancelled.Answer(), "");
}

TEST_F(Prompts, AccessNumbersSortedPreselectedAndChosen) {
  profile_.Set("STATE", "CA");
  profile_.Set("DAYAREACODE", "408");
  const Strings entries{"1=212 5550100 NY New York", "2=408 5551234 CA San Jose", "too short",
                        "3=217 5550188 IL Springfield", "4=408 5551299 CA Campbell"};
  CAccessNumberDialog access(&profile_, 0);
  access.SetEntries(&entries);
  const int r = RunModal(access, [&](Dialog& d) {
    ListBox* l = d.list(IDC_ACCESS_LIST);
    EXPECT_EQ(l->items(), (Strings{"CA, (408) 5551234, San Jose", "CA, (408) 5551299, Campbell",
                                   "IL, (217) 5550188, Springfield", "NY, (212) 5550100, New York"}));
    EXPECT_EQ(l->cur_sel(), 0);
    EXPECT_EQ(l->top_index(), 0);
    EXPECT_TRUE(is_window_enabled(d.item(IDOK)));
    EXPECT_FALSE(is_window_visible(d.item(IDCANCEL)));
    click_item(d.item(IDC_ACCESS_LIST), 2, true);  // a double click is OK
  });
  EXPECT_EQ(r, IDOK);
  EXPECT_EQ(profile_.value_or_empty("POPAREACODE"), "217");
  EXPECT_EQ(profile_.value_or_empty("POPNUMBER"), "5550188");
}

TEST_F(Prompts, AccessNumbersWithoutAMatchWaitForTheUser) {
  profile_.Set("STATE", "il");  // the list's own search ignores case
  profile_.Set("DAYAREACODE", "999");
  profile_.Set("POPAREACODE", "old");
  const Strings entries{"1=212 5550100 NY New York", "2=217 5550188 IL Springfield"};
  CAccessNumberDialog access(&profile_, 0);
  access.SetEntries(&entries);
  EXPECT_EQ(RunModal(access,
                     [&](Dialog& d) {
                       EXPECT_EQ(d.list(IDC_ACCESS_LIST)->cur_sel(), -1);
                       EXPECT_FALSE(is_window_enabled(d.item(IDOK)));
                       press_key(Key::Escape);
                     }),
            IDCANCEL);
  EXPECT_EQ(profile_.value_or_empty("POPAREACODE"), "old");

  profile_.Set("DAYAREACODE", "217");
  CAccessNumberDialog again(&profile_, 0);
  again.SetEntries(&entries);
  EXPECT_EQ(RunModal(again,
                     [&](Dialog& d) {
                       EXPECT_EQ(d.list(IDC_ACCESS_LIST)->cur_sel(), 0);
                       click_item(d.item(IDC_ACCESS_LIST), 1);
                       EXPECT_TRUE(is_window_enabled(d.item(IDOK)));
                       press_key(Key::Enter);
                     }),
            IDOK);
  EXPECT_EQ(profile_.value_or_empty("POPAREACODE"), "212");
  EXPECT_EQ(profile_.value_or_empty("POPNUMBER"), "5550100");
}

}  // namespace
}  // namespace wizard
