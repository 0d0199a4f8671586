#include "platform/shell/telephony.h"

#include <string>

#include "platform/serial/com_ports.h"
#include "platform/loop/log.h"
#include "platform/storage/system_root.h"

namespace platform {

int telephony_line_devices(const std::filesystem::path& dosdevices, int max_com) {
  const std::filesystem::path folder = dosdevices.empty() ? known_folder(KnownFolder::DosDevices) : dosdevices;
  const DeviceFolders devices = default_device_folders();
  std::string error;
  if (ensure_com_links(folder, devices, &error) < 0) log_warn("telephony", error);
  int count = 0;
  for (int n = 1; n <= max_com; ++n) {
    // A device the user may not open is still a modem the machine has.
    switch (com_port_info(n, folder, devices).state) {
      case ComPortState::Device:
      case ComPortState::NoPermission:
      case ComPortState::Network: ++count; break;
      default: break;
    }
  }
  return count;
}

int telephony_probe(const std::filesystem::path& dosdevices) {
  return telephony_line_devices(dosdevices) > 0 ? 1 : 0;
}

}  // namespace platform
