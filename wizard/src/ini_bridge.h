// The wizard's few calls into the private-profile service, in one place.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wizard {

// Value of section/key, cut to buffer_size - 1 characters; `fallback` when
// the file, the section or the key is missing.
std::string ini_read(std::string_view section, std::string_view key, std::string_view fallback,
                     std::size_t buffer_size, const std::filesystem::path& file);
// Creates file, section and key as needed. A file that does not exist yet is
// created readable by its owner only: Joinwiz.ini holds the password.
// The file ends readable by its owner only after every write, whatever its
// mode was.
bool ini_write(std::string_view section, std::string_view key, std::string_view value,
               const std::filesystem::path& file);

using IniEntries = std::vector<std::pair<std::string, std::string>>;
// Reads the values of `entries`' keys from section of `file` in one read of
// the file (one logged warning when it cannot be read): each value is the
// file's, or the entry's own value as the fallback, cut to buffer_size - 1
// bytes without splitting a UTF-8 character.
void ini_read_all(std::string_view section, IniEntries& entries, std::size_t buffer_size,
                  const std::filesystem::path& file);
// Writes `entries` in their order into section of `file` in one atomic
// replacement (owner-only). An entry that cannot be stored is left out, the
// others are written, and false is returned.
// `why` (if given) gets the reason of a failure.
bool ini_write_all(std::string_view section, const IniEntries& entries, const std::filesystem::path& file,
                   std::string* why = nullptr);

}  // namespace wizard
