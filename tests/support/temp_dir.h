// A temporary folder for one test, made fresh and removed with everything
// in it when the TempDir goes, so no test leaves folders behind in /tmp.
#pragma once

#include <filesystem>
#include <string_view>

namespace test_support {

class TempDir {
 public:
  // Makes <base>/<prefix>_XXXXXX, base being TMPDIR (else /tmp) unless
  // given; throws std::runtime_error when it cannot.
  explicit TempDir(std::string_view prefix = "vlr_test");
  TempDir(std::string_view prefix, const std::filesystem::path& base);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace test_support
