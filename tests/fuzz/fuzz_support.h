// Small helpers shared by the fuzz targets: a private work folder, files,
// and a check that fails loudly (libFuzzer and the replay both report an
// abort with the input that caused it).
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>
#include <algorithm>

#include "support/temp_dir.h"

namespace fuzz {

// Aborts with `what` when `ok` is false.
inline void check(bool ok, std::string_view what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz check failed: %.*s\n", static_cast<int>(what.size()), what.data());
  std::abort();
}

// A folder of this process under TMPDIR (tmpfs where the machine has one at
// /dev/shm, since targets write files for every input), removed at exit.
inline const std::filesystem::path& work_folder() {
  static const test_support::TempDir folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::error_code ec;
    if (!(tmp && *tmp) && std::filesystem::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0)
      return test_support::TempDir("vlr-fuzz", "/dev/shm");
    return test_support::TempDir("vlr-fuzz");
  }();
  return folder.path();
}

// Empties `folder` (creating it when missing).
inline void fresh_folder(const std::filesystem::path& folder) {
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  std::filesystem::create_directories(folder, ec);
  check(!ec, "cannot create " + folder.string());
}

inline void write_file(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  check(out.good(), "cannot write " + path.string());
}

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Names of the entries of `folder`, sorted, joined by blanks.
inline std::string entries(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  std::string out;
  for (const auto& n : names) out += (out.empty() ? "" : " ") + n;
  return out;
}

}  // namespace fuzz
