#include "ini_bridge.h"

#include <memory>
#include <optional>
#include <string>

#include "common/ini.h"
#include "platform/loop/log.h"
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
  return common::write_private_profile_string(s.c_str(), k.c_str(), v.c_str(), file,
                                              platform::FileMode::OwnerOnly) != 0;
}

namespace {

// Cuts to at most `max` bytes, backing off to the start of a UTF-8 character.
void cut_bytes(std::string& value, std::size_t max) {
  if (value.size() <= max) return;
  std::size_t end = max;
  while (end > 0 && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80) --end;
  value.resize(end);
}

}  // namespace

void ini_read_all(std::string_view section, IniEntries& entries, std::size_t buffer_size,
                  const std::filesystem::path& file) {
  if (buffer_size == 0) return;
  std::string error;
  bool missing = false;
  std::shared_ptr<const common::IniDocument> doc;
  if (!file.empty()) doc = common::load_ini_cached(file, &error, &missing);
  if (!doc && !missing && !file.empty()) platform::log_warn("wizard", error + "; the defaults stay in place");
  for (auto& [key, value] : entries) {
    std::optional<std::string> found;
    if (doc) found = doc->get(section, key);
    if (found) {
      value = std::move(*found);
    } else {
      // As the private-profile read does with its default.
      while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    }
    cut_bytes(value, buffer_size - 1);
  }
}

bool ini_write_all(std::string_view section, const IniEntries& entries, const std::filesystem::path& file,
                   std::string* why) {
  std::string error;
  if (!create_file_if_missing(file, "", platform::FileMode::OwnerOnly, &error)) {
    platform::log_warn("wizard", error);
    if (why) *why = error;
    return false;
  }
  bool all_stored = true;
  std::string reason;
  const bool written = common::update_ini_file(
      file,
      [&](common::IniDocument& doc) {
        for (const auto& [key, value] : entries) {
          std::string refused;
          if (!doc.set(section, key, value, &refused) && all_stored) {
            // The first refusal is reported; the other keys are still
            // written, so one bad value loses nothing else.
            all_stored = false;
            reason = "[" + std::string(section) + "] " + key + ": " + refused;
          }
        }
        return true;
      },
      &error, platform::FileMode::OwnerOnly);
  if (!written) {
    platform::log_warn("wizard", "cannot write " + file.string() + ": " + error);
    if (why) *why = error;
  } else if (!all_stored) {
    platform::log_warn("wizard", "cannot store " + reason + " in " + file.string());
    if (why) *why = "cannot store " + reason;
  }
  return written && all_stored;
}

}  // namespace wizard
