// The session's hooks for the commands that change the computer.
#include <memory>

#include "platform/loop/clock.h"
#include "platform/storage/registry.h"
#include "session/reg_session.h"
#include "sysconfig/program_items.h"
#include "sysconfig/sysconfig.h"

namespace sysconfig {

void WriteBackRegistry(platform::reg::Registry& registry, session::LinePace pace) {
  const std::int64_t since = registry.unwritten_since();
  if (pace == session::LinePace::CallEnds) {
    registry.set_deferred_writes(false);  // writes what is left
    return;
  }
  if (since < 0) return;
  if (pace == session::LinePace::Quiet || platform::clock().now_ms() - since >= kRegistryWriteBackMs) {
    registry.flush();
  }
}

void InstallCommandHandlers(session::CRegSessionDialog& session) {
  // A burst of REGMOD: lines is gathered: each is answered at once, the
  // hive is written when the line goes quiet (the pace hook).
  auto gathering = std::make_shared<platform::reg::Registry*>(nullptr);
  session.SetCommandHook("REGMOD:", [gathering](session::CRegSessionDialog& s, std::string_view arguments) {
    platform::reg::Registry& registry = platform::reg::system_registry();
    registry.set_deferred_writes(true);
    *gathering = &registry;
    s.SendAck(RegModCommand(registry, arguments));
  });
  session.SetPaceHook([gathering](session::LinePace pace) {
    if (*gathering == nullptr) return;
    WriteBackRegistry(**gathering, pace);
    if (pace == session::LinePace::CallEnds) *gathering = nullptr;
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
