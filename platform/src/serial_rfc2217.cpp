// Network serial ports (RFC 2217 over TCP).
#include "platform/log.h"
#include "platform/serial_port.h"

namespace platform {

std::shared_ptr<SerialPort> open_rfc2217_port(const std::string& name, const std::string& url,
                                              const SerialOpenOptions&, SerialError& error) {
  log_warn("serial", name + ": network serial ports are not supported yet (" + url + ")");
  error = SerialError::NotSupported;
  return nullptr;
}

}  // namespace platform
