#include "support/temp_dir.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <system_error>

namespace test_support {

TempDir::TempDir(std::string_view prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / prefix).string() + "_XXXXXX";
  // A failed mkdtemp returns null; a path built from it would be undefined.
  if (::mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot make a temporary folder " + pattern + ": " + std::strerror(errno));
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace test_support
