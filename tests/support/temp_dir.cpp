#include "support/temp_dir.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <system_error>

namespace test_support {

TempDir::TempDir(std::string_view prefix) : TempDir(prefix, std::filesystem::temp_directory_path()) {}

TempDir::TempDir(std::string_view prefix, const std::filesystem::path& base) {
  std::string pattern = (base / prefix).string() + "_XXXXXX";
  // A failed mkdtemp returns null; a path built from it would be undefined.
  if (::mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot make a temporary folder " + pattern + ": " + std::strerror(errno));
  path_ = pattern;
}

TempDir::~TempDir() {
  namespace fs = std::filesystem;
  std::error_code ignored;
  // A test may have taken write or search permission away from a folder
  // inside (to see a write fail): give them back, or the folder stays.
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ignored);
}

}  // namespace test_support
