// The server command table and the session's own handlers: REQUEST:,
// INFO:, WAIT:, STATUS:, DOWNLOADFILE:, TRANSFER:, FAILURE:, PRICEPLAN:.
// The commands that change the computer call the hooks the wizard installs.
#include <optional>
#include <string>
#include <vector>

#include "platform/loop/clock.h"
#include "platform/loop/log.h"
#include "platform/storage/system_root.h"
#include "session/access_numbers.h"
#include "session/line_protocol.h"
#include "session/reg_session.h"

namespace session {
namespace {

void OnRequest(CRegSessionDialog& s, std::string_view arguments) {
  std::string_view remainder = arguments;
  std::string key;
  if (!NextField(key, remainder)) {
    s.SendAck(false);
    return;
  }
  key = ToUpper(key);
  std::string value;
  if (!s.Profile() || !s.Profile()->Get(key, value)) {
    s.SendAck(false);
    return;
  }
  if (key == "PRICEPLAN") value = s.planTag;  // the plan the user chose, as "PLANn"
  const bool secret = key == "PASSWORD" || key == "CCNUM";
  s.SendReply(value, secret ? CRegSessionDialog::ReplyTrace::Masked : CRegSessionDialog::ReplyTrace::Plain);
}

void OnInfo(CRegSessionDialog& s, std::string_view arguments) {
  std::string_view remainder = arguments;
  std::string kind;
  if (!NextField(kind, remainder) || ToUpper(kind) != "PLAN") {
    s.SendAck(false);
    return;
  }
  std::vector<std::string> fields;
  if (!NextFields(remainder, 3, fields)) {
    s.SendAck(false);
    return;
  }
  if (fields[0].find('\0') != std::string::npos) {
    // The code would become PRICEPLAN, which the profile cannot store.
    platform::log_warn("session", "INFO: PLAN refused: its code \"" + Printable(fields[0], 80) + "\" holds a NUL");
    s.SendAck(false);
    return;
  }
  if (s.planCodes.size() >= kMaxPlans) {
    if (s.plansRefused++ == 0) {
      platform::log_warn("session", "INFO: PLAN beyond " + std::to_string(kMaxPlans) + " plans refused");
    }
    s.SendAck(false);
    return;
  }
  s.planCodes.push_back(fields[0]);
  s.planNames.push_back(fields[1]);
  s.planDescriptions.push_back(fields[2]);
  s.SendAck(true);
}

void OnStatus(CRegSessionDialog& s, std::string_view arguments) {
  if (EqualsNoCase(arguments, "COMPLETE")) {
    s.HangUp();
    s.EndSuccess();
    return;
  }
  s.ShowSessionText(arguments);  // the whole text, TABs included
  s.SendAck(true);
}

void OnFailure(CRegSessionDialog& s, std::string_view) {
  s.SendAck(true);  // before the message box: the server need not wait for the user
  // The call's outcome is decided; a hang-up by the server while the box is
  // open must not turn it into a failed connection. This differs from the
  // original on purpose: it kept its session timer running, so a line or a
  // carrier loss during the box was handled nested inside it and could
  // report a second outcome of the one call. Stopping the timer here keeps
  // one outcome per call.
  s.StopTimer();
  std::weak_ptr<void> alive = s.AliveToken();
  s.Ui().MessageBox(kFailureMessage, MessageIcon::None);
  if (alive.expired()) return;
  s.PostSessionClosed();
}

constexpr const char* kComponent = "session";

std::string ProfileValue(CRegSessionDialog& s, std::string_view key) {
  std::string value;
  if (s.Profile()) s.Profile()->Get(key, value);
  return value;
}

// Stores a value the server chose. The profile file cannot hold a NUL or a
// line break: such a value is refused here (false, logged), before it could
// stop the profile's save at the end of the wizard.
bool SetProfileValue(CRegSessionDialog& s, std::string_view key, std::string_view value) {
  if (value.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos) {
    platform::log_warn(kComponent, std::string(key) + " refused: the value \"" + Printable(value, 80) +
                                       "\" holds a NUL or a line break, which the profile cannot store");
    return false;
  }
  if (s.Profile()) s.Profile()->Set(key, value);
  return true;
}

// Keeps the status window from taking the focus while a server prompt is
// open; when it closes the flag is what it was before (a prompt opened by a
// line handled inside another leaves it off), unless the session is gone.
// It also counts the prompts open at once (WAIT: bounds their nesting).
class PromptOpen {
 public:
  explicit PromptOpen(CRegSessionDialog& s) : s_(s), alive_(s.AliveToken()), before_(s.focusOnStatus) {
    s_.focusOnStatus = false;
    ++s_.openPrompts;
  }
  ~PromptOpen() {
    if (alive_.expired()) return;
    s_.focusOnStatus = before_;
    --s_.openPrompts;
  }
  PromptOpen(const PromptOpen&) = delete;
  PromptOpen& operator=(const PromptOpen&) = delete;

 private:
  CRegSessionDialog& s_;
  std::weak_ptr<void> alive_;
  bool before_;
};

// The prompt of a WAIT: code: true when the session may go on ("CONTINUE"),
// false when the user cancelled ("ERROR"). Codes without a prompt go on.
bool HasPrompt(const std::string& code) {
  return code == "BADCC" || code == "PAYMENTPLAN" || code == "USEDID" || code == "RUSERID" || code == "RPASSWORD";
}

bool RunWaitPrompt(CRegSessionDialog& s, const std::string& code) {
  if (!HasPrompt(code)) {
    platform::log_info(kComponent, "WAIT: " + Printable(code, 40) + " has no prompt: continue");
    return true;
  }
  SessionPrompts* prompts = s.Prompts();
  if (prompts == nullptr) {
    platform::log_warn(kComponent, "WAIT: " + code + " cannot be shown (no prompts): taken as cancelled");
    return false;
  }
  // The caller checks whether the session outlived the prompt; here nothing
  // of it is touched after a prompt before that check.
  std::weak_ptr<void> alive = s.AliveToken();
  PromptOpen open(s);
  if (code == "BADCC") return prompts->RunBilling();
  if (code == "PAYMENTPLAN") {
    // Copies: lines handled while the list is open may add plans.
    const std::vector<std::string> names = s.planNames;
    const std::vector<std::string> descriptions = s.planDescriptions;
    const std::vector<std::string> codes = s.planCodes;
    std::optional<int> chosen = prompts->RunPricePlan(names, descriptions);
    if (!chosen || alive.expired()) return false;
    if (*chosen >= 1 && static_cast<std::size_t>(*chosen) <= codes.size()) {
      SetProfileValue(s, "PRICEPLAN", codes[static_cast<std::size_t>(*chosen) - 1]);
      s.planTag = "PLAN" + std::to_string(*chosen);
    } else {
      platform::log_warn(kComponent, "no price plan selected: PRICEPLAN unchanged");
    }
    return true;
  }
  const bool new_account = ProfileValue(s, "NEWUSER") != "no";
  std::string_view text = code == "USEDID"    ? kUsedIdPrompt
                          : code == "RUSERID" ? kWrongUserIdPrompt
                                              : kWrongPasswordPrompt;
  std::optional<std::string> answer = prompts->RunUserInput(text, new_account);
  if (!answer || alive.expired()) return false;
  SetProfileValue(s, code == "RPASSWORD" ? "PASSWORD" : "USERID", *answer);
  return true;
}

void OnWait(CRegSessionDialog& s, std::string_view arguments) {
  std::string_view remainder = arguments;
  std::string code;
  if (!NextField(code, remainder)) {
    s.SendAck(false);
    return;
  }
  code = ToUpper(code);
  if (HasPrompt(code) && s.openPrompts >= kMaxOpenPrompts) {
    // Each open prompt runs a nested loop in which the next line is
    // handled: a server that sends prompts without waiting for the answers
    // would stack them until the stack runs out.
    if (s.waitsRefused++ == 0) {
      platform::log_warn(kComponent, "WAIT: " + Printable(code, 40) + " refused: " +
                                         std::to_string(kMaxOpenPrompts) + " prompts are open already");
    }
    s.SendAck(false);
    return;
  }
  std::weak_ptr<void> alive = s.AliveToken();
  const bool go_on = RunWaitPrompt(s, code);
  if (alive.expired()) return;  // the page deleted the session meanwhile
  if (go_on) {
    s.SendReply("CONTINUE");
    return;
  }
  platform::log_info(kComponent, "the prompt of WAIT: " + code + " was cancelled: the session ends");
  s.HangUp();
  s.PostSessionClosed();
}

void OnDownloadFile(CRegSessionDialog& s, std::string_view) { s.SendAck(true); }

void OnPricePlan(CRegSessionDialog& s, std::string_view arguments) {
  s.SendAck(true);
  std::string_view remainder = arguments;
  std::string code;
  if (!NextField(code, remainder)) {
    s.SendAck(false);
    return;
  }
  s.SendAck(SetProfileValue(s, "PRICEPLAN", code));
}

// The access number of the chosen plan. True to go on, false when the user
// cancelled the list. Hangs up in every case.
bool ChooseAccessNumber(CRegSessionDialog& s) {
  const std::string plan = ProfileValue(s, "PRICEPLAN");
  s.Ui().CloseStatusWindow();
  std::vector<std::string> entries;
  std::string why;
  bool go_on = true;
  std::weak_ptr<void> alive = s.AliveToken();
  if (!LoadSectionLines(s.PhonesFile(), plan, entries, &why)) {
    platform::log_info(kComponent, "no access numbers for plan \"" + Printable(plan, 40) + "\" (" + why +
                                       "): POPAREACODE and POPNUMBER unchanged");
  } else if (entries.size() == 1) {
    const std::string short_form = ShortForm(entries[0]);
    if (short_form.empty()) {
      platform::log_warn(kComponent, "the one access number of plan " + plan + " is not \"AREA NUMBER STATE ...\": "
                                     "POPAREACODE and POPNUMBER unchanged");
    } else {
      // Area code and number are the two fields of the short form.
      const std::size_t dash = short_form.find('-');
      SetProfileValue(s, "POPAREACODE", short_form.substr(0, dash));
      SetProfileValue(s, "POPNUMBER", short_form.substr(dash + 1));
    }
    // The original blocked here; the wait stays, as a sleep of the clock.
    platform::clock().sleep_ms(kSingleNumberWaitMs);
  } else if (AccessListItems(entries).empty()) {
    // A list without one usable entry could only be cancelled, losing an
    // account the server has already made.
    platform::log_warn(kComponent, "no usable access number for plan " + plan +
                                       ": POPAREACODE and POPNUMBER unchanged");
  } else if (s.Prompts() == nullptr) {
    platform::log_warn(kComponent, "the access-number list cannot be shown (no prompts): taken as cancelled");
    go_on = false;
  } else {
    PromptOpen open(s);
    go_on = s.Prompts()->RunAccessNumber(entries);
  }
  if (alive.expired()) return false;
  s.HangUp();
  return go_on;
}

void OnTransfer(CRegSessionDialog& s, std::string_view) {
  s.SendAck(true);
  s.StopTimer();  // from now on no received line is handled
  s.ShowSessionText(kTransferText);
  s.SendAck(true);
  s.installDir = std::string(platform::known_folder_windows_name(platform::KnownFolder::Program)) + "\\";
  std::weak_ptr<void> alive = s.AliveToken();
  const bool go_on = ChooseAccessNumber(s);
  if (alive.expired()) return;
  if (!go_on) {
    platform::log_info(kComponent, "the access-number choice was cancelled: the session ends");
    s.HangUp();
    s.PostSessionClosed();
    return;
  }
  s.RunHook("CONFIG:", "AUTO");
  if (alive.expired()) return;
  s.RunShortcutsHook();
  if (alive.expired()) return;
  OnStatus(s, "COMPLETE");
}

template <const char* Keyword>
void Hooked(CRegSessionDialog& s, std::string_view arguments) {
  s.RunHook(Keyword, arguments);
}

constexpr char kIniMod[] = "INIMOD:";
constexpr char kRegMod[] = "REGMOD:";
constexpr char kAddItem[] = "ADDITEM:";
constexpr char kAppendFile[] = "APPENDFILE:";
constexpr char kConfig[] = "CONFIG:";

}  // namespace

const ServerCommand ServerCommandTable[14] = {
    {"REQUEST:", OnRequest},
    {"INFO:", OnInfo},
    {"WAIT:", OnWait},
    {kIniMod, Hooked<kIniMod>},
    {kRegMod, Hooked<kRegMod>},
    {kAddItem, Hooked<kAddItem>},
    {"STATUS:", OnStatus},
    {kAppendFile, Hooked<kAppendFile>},
    {"DOWNLOADFILE:", OnDownloadFile},
    {"TRANSFER:", OnTransfer},
    {kConfig, Hooked<kConfig>},
    {"FAILURE:", OnFailure},
    {"PRICEPLAN:", OnPricePlan},
    {"", nullptr},
};

}  // namespace session
