// Before a port is opened (modem detection, the registration call, Connect):
// another program that has the modem's device open is named, with the way to
// free it (platform/serial/port_holders.h). For ModemManager the user may
// ask to keep it away from this modem for good: the udev rule is saved in
// the root, and the system install (--install-dialup) puts it in place.
#pragma once

#include <filesystem>

#include "platform/ui/window.h"

namespace wizard {

// True when nobody else holds `device`, or the user chose to go on anyway
// (OK in the message box that names the holders); false for Cancel.
bool CheckPortFree(platform::HWND owner, const std::filesystem::path& device);

// The same for every COM port of the root that leads to a device, before
// detection opens them all. False when the user cancelled.
bool CheckComPortsFree(platform::HWND owner);

}  // namespace wizard
