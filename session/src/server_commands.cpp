// The server command table and the handlers of REQUEST:, INFO:, STATUS: and
// FAILURE:. The other entries call the hooks the wizard installs.
#include <string>
#include <vector>

#include "platform/log.h"
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
  s.SendReply(value);
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
  // open must not turn it into a failed connection.
  s.StopTimer();
  std::weak_ptr<void> alive = s.AliveToken();
  s.Ui().MessageBox(kFailureMessage, MessageIcon::None);
  if (alive.expired()) return;
  s.PostSessionClosed();
}

template <const char* Keyword>
void Hooked(CRegSessionDialog& s, std::string_view arguments) {
  s.RunHook(Keyword, arguments);
}

constexpr char kWait[] = "WAIT:";
constexpr char kIniMod[] = "INIMOD:";
constexpr char kRegMod[] = "REGMOD:";
constexpr char kAddItem[] = "ADDITEM:";
constexpr char kAppendFile[] = "APPENDFILE:";
constexpr char kDownloadFile[] = "DOWNLOADFILE:";
constexpr char kTransfer[] = "TRANSFER:";
constexpr char kConfig[] = "CONFIG:";
constexpr char kPricePlan[] = "PRICEPLAN:";

}  // namespace

const ServerCommand ServerCommandTable[14] = {
    {"REQUEST:", OnRequest},
    {"INFO:", OnInfo},
    {kWait, Hooked<kWait>},
    {kIniMod, Hooked<kIniMod>},
    {kRegMod, Hooked<kRegMod>},
    {kAddItem, Hooked<kAddItem>},
    {"STATUS:", OnStatus},
    {kAppendFile, Hooked<kAppendFile>},
    {kDownloadFile, Hooked<kDownloadFile>},
    {kTransfer, Hooked<kTransfer>},
    {kConfig, Hooked<kConfig>},
    {"FAILURE:", OnFailure},
    {kPricePlan, Hooked<kPricePlan>},
    {"", nullptr},
};

}  // namespace session
