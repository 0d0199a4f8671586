// The platform's serial ports as SerialDevice: what the wizard gives iModem.
//
// PlatformModemOptions() opens "COMn" through platform::open_serial_port
// (dosdevices links, lock files, exclusive use; a virtual null-modem end
// attached to the COM number in tests).
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "platform/serial/serial_port.h"
#include "session/imodem.h"
#include "session/serial_device.h"

namespace session {

// `port` adapted; the device closes it when closed.
std::unique_ptr<SerialDevice> AdaptSerialPort(std::shared_ptr<platform::SerialPort> port);

// Options whose opener opens "COMn" with `open_options`; `alert` shows the
// reader-thread notice (may be empty).
ModemOptions PlatformModemOptions(platform::SerialOpenOptions open_options,
                                  std::function<void(std::string_view)> alert = {});

}  // namespace session
