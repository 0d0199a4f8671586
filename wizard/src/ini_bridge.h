// The wizard's few calls into the private-profile service, in one place.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace wizard {

// Value of section/key, cut to buffer_size - 1 characters; `fallback` when
// the file, the section or the key is missing.
std::string ini_read(std::string_view section, std::string_view key, std::string_view fallback,
                     std::size_t buffer_size, const std::filesystem::path& file);
// Creates file, section and key as needed. A file that does not exist yet is
// created readable by its owner only: Joinwiz.ini holds the password.
bool ini_write(std::string_view section, std::string_view key, std::string_view value,
               const std::filesystem::path& file);

}  // namespace wizard
