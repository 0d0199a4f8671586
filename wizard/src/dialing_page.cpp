#include "wizard/dialing_page.h"

#include "platform/log.h"

namespace wizard {

// Placeholder until the page lands: the modem level keeps its last page up.
CBaseDialog* CreateDialingPage(RegistrationProfile*, platform::HWND) {
  platform::log_warn("wizard", "the dialing page is not built yet");
  return nullptr;
}

}  // namespace wizard
