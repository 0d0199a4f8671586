#include "ini_bridge.h"

#include <string>

#include "common/ini.h"
#include "platform/log.h"
#include "wizard/side_files.h"

namespace wizard {

std::string ini_read(std::string_view section, std::string_view key, std::string_view fallback,
                     std::size_t buffer_size, const std::filesystem::path& file) {
  const std::string s(section), k(key), f(fallback);
  return common::get_private_profile_string(s.c_str(), k.c_str(), f.c_str(), buffer_size, file);
}

bool ini_write(std::string_view section, std::string_view key, std::string_view value,
               const std::filesystem::path& file) {
  // Made owner-only before its first write: the file will hold the password.
  std::string error;
  if (!create_file_if_missing(file, "", platform::FileMode::OwnerOnly, &error)) {
    platform::log_warn("wizard", error);
    return false;
  }
  const std::string s(section), k(key), v(value);
  return common::write_private_profile_string(s.c_str(), k.c_str(), v.c_str(), file) != 0;
}

}  // namespace wizard
