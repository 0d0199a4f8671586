#include "platform/telephony.h"

#include <sys/stat.h>

#include <string>

#include "platform/serial_port.h"
#include "platform/system_root.h"

namespace platform {

int telephony_line_devices(const std::filesystem::path& dosdevices, int max_com) {
  const std::filesystem::path folder = dosdevices.empty() ? known_folder(KnownFolder::DosDevices) : dosdevices;
  int count = 0;
  for (int n = 1; n <= max_com; ++n) {
    const std::filesystem::path device = serial_device_path("COM" + std::to_string(n), folder);
    struct stat st {};
    // stat follows the link: a link to nothing fails here and counts nothing.
    if (!device.empty() && ::stat(device.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) ++count;
  }
  return count;
}

int telephony_probe(const std::filesystem::path& dosdevices) {
  return telephony_line_devices(dosdevices) > 0 ? 1 : 0;
}

}  // namespace platform
