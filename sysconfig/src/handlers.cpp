// The session's hooks for the commands that change the computer.
#include "platform/storage/registry.h"
#include "session/reg_session.h"
#include "sysconfig/program_items.h"
#include "sysconfig/sysconfig.h"

namespace sysconfig {

void InstallCommandHandlers(session::CRegSessionDialog& session) {
  session.SetCommandHook("REGMOD:", [](session::CRegSessionDialog& s, std::string_view arguments) {
    s.SendAck(RegModCommand(platform::reg::system_registry(), arguments));
  });
  session.SetCommandHook("INIMOD:", [](session::CRegSessionDialog& s, std::string_view arguments) {
    s.SendAck(IniModCommand(arguments, s.installDir));
  });
  session.SetCommandHook("APPENDFILE:", [](session::CRegSessionDialog& s, std::string_view arguments) {
    s.SendAck(AppendFileCommand(arguments));
  });
  // CONFIG:, ADDITEM: and the account's shortcuts.
  InstallProgramHandlers(session);
}

}  // namespace sysconfig
