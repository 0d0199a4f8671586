#include "platform/storage/system_root.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <vector>

#include "platform/storage/ascii.h"
#include "platform/storage/product_names.h"
#include "platform/loop/log.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

struct FolderInfo {
  std::string relative;
  std::string windows_name;
  FileMode mode;
};

FolderInfo info(KnownFolder folder) {
  switch (folder) {
    case KnownFolder::DriveC: return {"drive_c", "C:\\", FileMode::Shared};
    case KnownFolder::Windows: return {"drive_c/windows", "C:\\WINDOWS", FileMode::Shared};
    case KnownFolder::System:
      return {"drive_c/windows/system", "C:\\WINDOWS\\SYSTEM", FileMode::Shared};
    case KnownFolder::Program: {
      // The product names its folder; a product that named none keeps its files at the drive's top.
      const ProductNames& names = product_names();
      if (names.folder.empty()) return {"drive_c", "C:\\", FileMode::Shared};
      return {"drive_c/" + names.folder, names.windows_folder, FileMode::Shared};
    }
    case KnownFolder::Registry: return {"registry", "", FileMode::OwnerOnly};
    case KnownFolder::DosDevices: return {"dosdevices", "", FileMode::Shared};
    case KnownFolder::Desktop: return {"desktop", "", FileMode::Shared};
    case KnownFolder::StartMenu: return {"start_menu", "", FileMode::Shared};
    case KnownFolder::PhoneBook: return {"phonebook", "", FileMode::OwnerOnly};
  }
  return {"", "", FileMode::Shared};
}

std::mutex g_mutex;
fs::path g_root;
bool g_root_set = false;


// The path as given, quoted, with control characters shown as \xNN so that
// the message itself stays one clean line.
std::string shown(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) {
      static const char hex[] = "0123456789ABCDEF";
      out += "\\x";
      out += hex[u >> 4];
      out += hex[u & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Names Windows keeps for devices, with or without an extension.
bool is_device_name(std::string_view component) {
  std::string_view stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  std::string upper;
  for (char c : stem) upper += ascii_upper(c);
  static const char* const fixed[] = {"CON", "PRN", "AUX", "NUL", "CLOCK$", "CONIN$", "CONOUT$"};
  for (const char* name : fixed) {
    if (upper == name) return true;
  }
  if (upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) &&
      upper[3] >= '0' && upper[3] <= '9') {
    return true;
  }
  return false;
}

constexpr std::size_t kMaxPath = 1024;
constexpr std::size_t kMaxComponent = 255;

// Why `component` cannot name a file, or empty when it can.
std::string component_problem(std::string_view component) {
  if (component == "..") return "\"..\" is not allowed";
  if (component.size() > kMaxComponent) return "a name is longer than 255 characters";
  for (char c : component) {
    if (std::string_view("<>:\"|?*").find(c) != std::string_view::npos) {
      // Built by appends: GCC 12 at -O2 gives a false -Wrestrict on "a" + s + "b".
      std::string why = "the character '";
      why += c;
      why += "' is not allowed in a name";
      return why;
    }
  }
  if (component.back() == '.' || component.back() == ' ') {
    return "a name ending in a dot or a blank is not allowed";
  }
  if (is_device_name(component)) {
    std::string why = "\"";
    why += component;
    why += "\" is a device name";
    return why;
  }
  return {};
}

std::vector<std::string> split(std::string_view text, char sep) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(sep, start);
    if (end == std::string_view::npos) end = text.size();
    parts.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// Finds the entry of the open folder `dir` whose name equals `name` without
// regard to case (the smallest such name when several do). Empty when none.
std::string find_no_case(int dir, const std::string& name) {
  int fd = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return {};
  DIR* listing = ::fdopendir(fd);
  if (!listing) {
    ::close(fd);
    return {};
  }
  std::string best;
  while (dirent* entry = ::readdir(listing)) {
    std::string_view candidate = entry->d_name;
    if (equal_no_case(candidate, name) && (best.empty() || candidate < best)) {
      best = std::string(candidate);
    }
  }
  ::closedir(listing);
  return best;
}

// Gives each component of `relative` the case of an existing entry. Stops at
// the first component that is missing, not a folder, or a link (the open
// that follows refuses links anyway).
std::string match_case(const fs::path& root, const std::string& relative) {
  std::vector<std::string> parts = split(relative, '/');
  UniqueFd dir(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) return relative;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    struct stat st;
    if (::fstatat(dir.get(), parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) break;
      std::string found = find_no_case(dir.get(), parts[i]);
      if (found.empty()) break;
      parts[i] = found;
    }
    if (i + 1 == parts.size()) break;
    int next = ::openat(dir.get(), parts[i].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) break;
    dir.reset(next);
  }
  std::string out;
  for (const std::string& part : parts) {
    if (!out.empty()) out += '/';
    out += part;
  }
  return out;
}

fs::path current_root() {
  {
    std::lock_guard lock(g_mutex);
    if (g_root_set) return g_root;
  }
  RootChoice choice = choose_root(nullptr);
  std::string error;
  if (!choice) {
    log_error("system_root", choice.error);
    return {};
  }
  if (!set_system_root(choice.path, &error)) {
    log_error("system_root", error);
    return {};
  }
  std::lock_guard lock(g_mutex);
  return g_root;
}

}  // namespace

std::string known_folder_relative(KnownFolder folder) { return info(folder).relative; }
std::string known_folder_windows_name(KnownFolder folder) { return info(folder).windows_name; }

RootChoice choose_root(const char* root_option) {
  RootChoice choice;
  std::error_code ec;
  auto absolute = [&](const fs::path& p) {
    fs::path a = fs::absolute(p, ec);
    return ec ? p : a.lexically_normal();
  };
  if (root_option && *root_option) {
    choice.path = absolute(root_option);
    choice.source = "--root";
  } else if (const char* env = std::getenv("VLR_ROOT"); env && *env) {
    choice.path = absolute(env);
    choice.source = "VLR_ROOT";
  } else if (product_names().folder.empty()) {
    choice.error = "no system root: give --root DIR or set VLR_ROOT (the program named no folder of its own)";
  } else if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
    // A relative XDG_DATA_HOME is invalid and ignored, as the base-directory rules say.
    choice.path = fs::path(xdg) / product_names().folder;
    choice.source = "XDG_DATA_HOME";
  } else {
    const char* home = std::getenv("HOME");
    std::string home_dir = home && *home ? home : "";
    if (home_dir.empty()) {
      if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) home_dir = pw->pw_dir;
    }
    if (home_dir.empty()) {
      choice.error = "no system root: give --root DIR or set VLR_ROOT (no home folder is known)";
      return choice;
    }
    choice.path = fs::path(home_dir) / ".local" / "share" / product_names().folder;
    choice.source = "HOME";
  }
  return choice;
}

bool set_system_root(const fs::path& root, std::string* error) {
  std::error_code ec;
  if (root.empty()) {
    if (error) *error = "no system root given";
    return false;
  }
  fs::path path = fs::absolute(root, ec).lexically_normal();
  if (ec) {
    if (error) *error = "system root \"" + root.string() + "\": " + ec.message();
    return false;
  }
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    if (error) *error = "system root \"" + path.string() + "\": " + std::strerror(errno);
    return false;
  }
  if (!fs::is_directory(path, ec)) {
    if (error) *error = "system root \"" + path.string() + "\": is not a folder";
    return false;
  }
  std::lock_guard lock(g_mutex);
  g_root = path;
  g_root_set = true;
  return true;
}

fs::path system_root() { return current_root(); }

bool ensure_known_folder(KnownFolder folder, std::string* error) {
  fs::path root = current_root();
  if (root.empty()) {
    if (error) *error = "no system root";
    return false;
  }
  FolderInfo f = info(folder);
  return make_dirs_beneath(root, f.relative, f.mode, error);
}

fs::path known_folder(KnownFolder folder) {
  std::string error;
  if (!ensure_known_folder(folder, &error)) log_error("system_root", error);
  return current_root() / std::string(info(folder).relative);
}

bool check_inside_root(const fs::path& path, std::string* error) {
  fs::path root;
  {
    std::lock_guard lock(g_mutex);
    if (!g_root_set) return true;
    root = g_root;
  }
  const fs::path normal = path.lexically_normal();
  const fs::path relative = normal.lexically_relative(root);
  if (relative.empty() || *relative.begin() == "..") return true;  // not beneath the root
  const fs::path folder = relative.parent_path();
  if (folder.empty() || folder == ".") return true;  // the root itself is trusted
  OpenResult opened = open_beneath(root, folder.string(), O_PATH | O_DIRECTORY);
  if (!opened) {
    if (opened.errno_value == ENOENT) return true;  // nothing there to be bent: the write makes or fails it
    if (error) *error = "cannot write " + path.string() + ": its folder " + opened.error;
    return false;
  }
  return true;
}

ScopedSystemRoot::ScopedSystemRoot() {
  {
    std::lock_guard lock(g_mutex);
    if (g_root_set) previous_ = g_root;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/vlr-root-XXXXXX";
  if (char* made = ::mkdtemp(templ.data())) {
    path_ = made;
    std::string error;
    if (!set_system_root(path_, &error)) log_error("system_root", error);
  } else {
    log_error("system_root", "cannot create a temporary system root: " +
                                 std::string(std::strerror(errno)));
  }
}

ScopedSystemRoot::~ScopedSystemRoot() {
  {
    std::lock_guard lock(g_mutex);
    g_root = previous_;
    g_root_set = !previous_.empty();
  }
  if (!path_.empty()) {
    std::error_code ec;
    fs::remove_all(path_, ec);  // remove_all does not follow links out of the tree
  }
}

std::string normalize_path(std::string_view windows_path, RelativeTo relative_to,
                           std::string* error) {
  auto refuse = [&](const std::string& why) {
    if (error) *error = "path " + shown(windows_path) + " refused: " + why;
    return std::string();
  };
  if (windows_path.empty()) return refuse("the path is empty");
  if (windows_path.size() > kMaxPath) return refuse("the path is longer than 1024 characters");
  for (char c : windows_path) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) return refuse("it holds a control character");
  }
  std::string text(windows_path);
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  if (text.starts_with("\\\\")) {
    return refuse("UNC names and the \\\\?\\ and \\\\.\\ prefixes are not allowed");
  }
  std::string_view rest = text;
  bool absolute = false;
  if (rest.size() >= 2 && rest[1] == ':' &&
      ((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= 'a' && rest[0] <= 'z'))) {
    if (ascii_upper(rest[0]) != 'C') {
      return refuse(std::string("drive ") + ascii_upper(rest[0]) + ": does not exist (only C:)");
    }
    rest.remove_prefix(2);
  }
  if (!rest.empty() && rest.front() == '\\') {
    absolute = true;
    rest.remove_prefix(1);
  }

  std::vector<std::string> parts;
  if (!absolute) {
    KnownFolder base = relative_to == RelativeTo::Windows  ? KnownFolder::Windows
                       : relative_to == RelativeTo::System ? KnownFolder::System
                                                           : KnownFolder::Program;
    for (std::string& p : split(info(base).relative, '/')) parts.push_back(std::move(p));
  } else {
    parts.emplace_back(info(KnownFolder::DriveC).relative);
  }
  std::size_t fixed = parts.size();
  for (std::string& component : split(rest, '\\')) {
    if (component.empty() || component == ".") continue;  // "a\\b" and ".\a" as Windows reads them
    if (std::string why = component_problem(component); !why.empty()) return refuse(why);
    parts.push_back(std::move(component));
  }
  if (parts.size() == fixed) return refuse("it names a folder, not a file");

  std::string out;
  for (const std::string& part : parts) {
    if (!out.empty()) out += '/';
    out += part;
  }
  return out;
}

RootPath translate_path(std::string_view windows_path, RelativeTo relative_to) {
  RootPath result;
  std::string relative = normalize_path(windows_path, relative_to, &result.error);
  if (relative.empty()) return result;
  result.root = current_root();
  if (result.root.empty()) {
    result.error = "path " + shown(windows_path) + " refused: no system root";
    return result;
  }
  for (KnownFolder f : {KnownFolder::Windows, KnownFolder::System, KnownFolder::Program}) {
    std::string error;
    if (!ensure_known_folder(f, &error)) log_warn("system_root", error);
  }
  result.relative = match_case(result.root, relative);
  return result;
}

OpenResult open_translated(const RootPath& path, int flags, FileMode mode) {
  if (!path) {
    OpenResult r;
    r.errno_value = EINVAL;
    r.error = path.error;
    return r;
  }
  return open_beneath(path.root, path.relative, flags, mode);
}

bool check_translated(const RootPath& path, std::string* error) {
  if (!path) {
    if (error) *error = path.error;
    return false;
  }
  return check_beneath(path.root, path.relative, error);
}

bool replace_translated(const RootPath& path, std::string_view contents, FileMode mode,
                        std::string* error) {
  if (!check_translated(path, error)) return false;
  FileLock lock(path.full());
  if (!lock.locked()) {
    if (error) *error = lock.error();
    return false;
  }
  // Checked again under the lock: a link planted meanwhile is still refused.
  if (!check_translated(path, error)) return false;
  return replace_file(path.full(), contents, mode, error);
}

}  // namespace platform
