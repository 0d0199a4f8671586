#include "wizard/side_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/storage/ascii.h"

namespace wizard {

namespace fs = std::filesystem;

namespace {

bool write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool is_profile_file(const fs::path& name) { return platform::to_ascii_lower(name.string()) == "joinwiz.ini"; }

}  // namespace

fs::path find_data_dir(const fs::path& executable) {
  if (const char* env = std::getenv("VLR_DATA_DIR"); env && *env) {
    return fs::is_directory(env) ? fs::path(env) : fs::path();
  }
  std::error_code ec;
  const fs::path exe_dir = executable.parent_path();
  // Beside the program in the build tree; where the install put them otherwise.
  for (const fs::path& candidate : {exe_dir / "data", exe_dir / VLR_BIN_TO_DATA}) {
    if (fs::is_regular_file(candidate / "Joinwiz.ini", ec)) return fs::weakly_canonical(candidate, ec);
  }
  return {};
}

bool create_file_if_missing(const fs::path& path, std::string_view contents,
                            platform::FileMode mode, std::string* error) {
  std::error_code ec;
  if (fs::exists(fs::symlink_status(path, ec))) return true;
  const mode_t perms = mode == platform::FileMode::OwnerOnly ? 0600 : 0644;
  // Write a temporary file in the same folder, then link it to its name:
  // link() never replaces an existing file, so a file made meanwhile by
  // someone else wins and nothing half-written is ever visible.
  std::string tmp = path.string() + ".XXXXXX";
  int fd = mkstemp(tmp.data());
  if (fd < 0) {
    if (error) *error = "cannot create a file in " + path.parent_path().string() + ": " + std::strerror(errno);
    return false;
  }
  bool ok = fchmod(fd, perms) == 0 && write_all(fd, contents) && fsync(fd) == 0;
  int saved = errno;
  close(fd);
  if (ok && link(tmp.c_str(), path.c_str()) != 0 && errno != EEXIST) {
    ok = false;
    saved = errno;
  }
  unlink(tmp.c_str());
  if (!ok) {
    if (error) *error = "cannot write " + path.string() + ": " + std::strerror(saved);
    return false;
  }
  return true;
}

bool install_side_files(const fs::path& data_dir, const fs::path& program_dir,
                        std::vector<std::string>* installed, std::string* error) {
  std::error_code ec;
  fs::create_directories(program_dir, ec);
  if (ec) {
    if (error) *error = "cannot create " + program_dir.string() + ": " + ec.message();
    return false;
  }
  std::error_code list_ec;
  for (const auto& entry : fs::directory_iterator(data_dir, list_ec)) {
    if (!entry.is_regular_file()) continue;
    const fs::path name = entry.path().filename();
    const fs::path target = program_dir / name;
    if (fs::exists(fs::symlink_status(target, ec))) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream body;
    body << in.rdbuf();
    if (!in && !in.eof()) {
      if (error) *error = "cannot read " + entry.path().string();
      return false;
    }
    const auto mode = is_profile_file(name) ? platform::FileMode::OwnerOnly : platform::FileMode::Shared;
    if (!create_file_if_missing(target, body.str(), mode, error)) return false;
    if (installed) installed->push_back(name.string());
  }
  if (list_ec) {
    if (error) *error = "cannot list " + data_dir.string() + ": " + list_ec.message();
    return false;
  }
  return true;
}

std::string profile_file_name(std::string_view exe_name) {
  const auto dot = exe_name.rfind('.');
  if (dot == std::string_view::npos) return std::string(exe_name) + ".ini";
  return std::string(exe_name.substr(0, dot + 1)) + "ini";
}

fs::path profile_path(const fs::path& program_dir, std::string_view exe_name) {
  const std::string wanted = profile_file_name(exe_name);
  std::error_code ec;
  if (fs::exists(program_dir / wanted, ec)) return program_dir / wanted;
  const std::string wanted_lower = platform::to_ascii_lower(wanted);
  for (const auto& entry : fs::directory_iterator(program_dir, ec)) {
    if (platform::to_ascii_lower(entry.path().filename().string()) == wanted_lower) return entry.path();
  }
  return program_dir / wanted;
}

}  // namespace wizard
