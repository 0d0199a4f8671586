// "Dialing the Network": the last page of the modem level. It starts the
// registration call, shows its progress in the status window and ends with
// the closing, retry or connection-failed dialogs.
#pragma once

#include "platform/loop/message_loop.h"
#include "wizard/base_dialog.h"
#include "wizard/registration_profile.h"

namespace wizard {

// Makes the page (with platform::new_window) for the modem level's master
// `parent`; nullptr when the page cannot be made.
CBaseDialog* CreateDialingPage(RegistrationProfile* profile, platform::HWND parent);

}  // namespace wizard
