// Windows path translation and confinement. The first byte picks what a bare
// name is relative to (program, Windows or system folder); the rest is the
// path a server could name. The root holds traps: symbolic links that lead
// out of it, to a folder outside and to a file outside. Checked: the pure
// normalisation and the translation agree; an accepted path lies beneath the
// root (no "..", no absolute part); whatever a confined open reaches is
// beneath the root's real path, and the outside file is never reached.
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "platform/storage/system_root.h"

namespace {

namespace fs = std::filesystem;

struct Scene {
  fs::path root;
  std::string real_root;
  std::string secret_real;
};

const Scene& scene() {
  static const Scene s = [] {
    Scene s;
    fs::path base = fuzz::work_folder() / "paths";
    fuzz::fresh_folder(base / "outside");
    fuzz::write_file(base / "outside" / "secret.ini", "[S]\nK=outside\n");
    s.root = base / "root";
    fuzz::check(platform::set_system_root(s.root), "cannot set the system root");
    for (auto f : {platform::KnownFolder::Windows, platform::KnownFolder::System, platform::KnownFolder::Program}) {
      fuzz::check(platform::ensure_known_folder(f), "cannot create a known folder");
    }
    fs::path c = platform::known_folder(platform::KnownFolder::DriveC);
    std::error_code ec;
    fs::create_symlink(base / "outside", c / "out", ec);
    fs::create_symlink(base / "outside" / "secret.ini", c / "secret.ini", ec);
    fs::create_symlink("../../..", platform::known_folder(platform::KnownFolder::Windows) / "up", ec);
    fuzz::write_file(platform::known_folder(platform::KnownFolder::Windows) / "win.ini", "[S]\nK=inside\n");
    char buf[PATH_MAX];
    fuzz::check(::realpath(s.root.c_str(), buf) != nullptr, "no real path of the root");
    s.real_root = buf;
    fuzz::check(::realpath((base / "outside" / "secret.ini").c_str(), buf) != nullptr, "no real path");
    s.secret_real = buf;
    return s;
  }();
  return s;
}

bool beneath(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const Scene& s = scene();
  auto relative_to = static_cast<platform::RelativeTo>(data[0] % 3);
  std::string windows_path(reinterpret_cast<const char*>(data + 1), size - 1);

  std::string error;
  std::string normal = platform::normalize_path(windows_path, relative_to, &error);
  fuzz::check(!normal.empty() || !error.empty(), "a refused path without a reason");
  platform::RootPath translated = platform::translate_path(windows_path, relative_to);
  fuzz::check(normal.empty() == !translated, "normalisation and translation disagree on \"" + windows_path + "\"");
  if (!translated) return 0;

  const std::string& rel = translated.relative;
  fuzz::check(!rel.empty() && rel.front() != '/', "an accepted path is absolute or empty: " + rel);
  fuzz::check(rel.find('\0') == std::string::npos, "an accepted path holds a NUL");
  for (std::size_t start = 0; start <= rel.size();) {
    std::size_t end = rel.find('/', start);
    if (end == std::string::npos) end = rel.size();
    std::string_view part(rel.data() + start, end - start);
    fuzz::check(!part.empty() && part != "." && part != "..", "an accepted path leaves its folder: " + rel);
    start = end + 1;
  }
  fuzz::check(translated.root == s.root, "translated into another root");

  platform::OpenResult opened = platform::open_translated(translated, O_RDONLY);
  if (opened) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", opened.fd.get());
    char real[PATH_MAX];
    ssize_t n = ::readlink(link, real, sizeof real - 1);
    fuzz::check(n > 0, "cannot tell what was opened");
    real[n] = '\0';
    std::string reached = real;
    fuzz::check(reached == s.real_root || beneath(reached, s.real_root),
                "a confined open reached " + reached + " outside the root");
    fuzz::check(reached != s.secret_real, "the file outside the root was opened");
  }
  std::string why;
  platform::check_translated(translated, &why);
  return 0;
}
