// Telephony probe: does the system have a modem at all?
//
// Windows answered this through TAPI line devices. Here a modem is a COM port
// that resolves to a device: COMn through the root's dosdevices/comN link
// (written by the default mapping on first use, com_ports.h) with a
// character device behind it, or a network serial port. A link to nothing
// marks a port absent. No port is opened, so the probe never disturbs one.
#pragma once

#include <filesystem>

namespace platform {

// Highest COM number the probe looks at (the wizard offers COM1 to COM9).
inline constexpr int kTelephonyMaxCom = 9;

// Number of COM ports, 1..max_com, that resolve to a device. `dosdevices`
// empty: the current system root's folder.
int telephony_line_devices(const std::filesystem::path& dosdevices = {}, int max_com = kTelephonyMaxCom);

// 1 when at least one line device is there, else 0.
int telephony_probe(const std::filesystem::path& dosdevices = {});

}  // namespace platform
