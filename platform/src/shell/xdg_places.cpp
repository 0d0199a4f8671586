#include "platform/shell/xdg_places.h"

#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/storage/files.h"

namespace platform::xdg {
namespace fs = std::filesystem;

namespace {

// An absolute value of `name`, else nothing.
fs::path AbsoluteVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return {};
  return value;
}

fs::path Home() { return AbsoluteVariable("HOME"); }

// The value of `key` in a user-dirs.dirs text: KEY="$HOME/..." or
// KEY="/abs"; shell escapes are backslashes before the next character.
fs::path UserDir(std::string_view text, std::string_view key) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.substr(0, key.size()) != key || line.substr(key.size(), 2) != "=\"") continue;
    line.remove_prefix(key.size() + 2);
    std::string value;
    bool closed = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        value += line[++i];
      } else if (line[i] == '"') {
        closed = true;
        break;
      } else {
        value += line[i];
      }
    }
    if (!closed) return {};
    if (value.rfind("$HOME/", 0) == 0) {
      const fs::path home = Home();
      return home.empty() ? fs::path() : home / value.substr(6);
    }
    if (value == "$HOME") return Home();
    if (!value.empty() && value[0] == '/') return value;
    return {};
  }
  return {};
}

}  // namespace

fs::path data_home() {
  if (fs::path p = AbsoluteVariable("XDG_DATA_HOME"); !p.empty()) return p;
  const fs::path home = Home();
  return home.empty() ? fs::path() : home / ".local" / "share";
}

fs::path config_home() {
  if (fs::path p = AbsoluteVariable("XDG_CONFIG_HOME"); !p.empty()) return p;
  const fs::path home = Home();
  return home.empty() ? fs::path() : home / ".config";
}

fs::path desktop_dir() {
  if (fs::path p = AbsoluteVariable("XDG_DESKTOP_DIR"); !p.empty()) return p;
  std::string text;
  if (const fs::path config = config_home(); !config.empty() && read_file(config / "user-dirs.dirs", text)) {
    if (fs::path p = UserDir(text, "XDG_DESKTOP_DIR"); !p.empty()) return p;
  }
  const fs::path home = Home();
  return home.empty() ? fs::path() : home / "Desktop";
}

MenuPlaces menu_places_under(const fs::path& folder) {
  return {folder / "applications", folder / "desktop-directories", folder / "menus" / "applications-merged"};
}

MenuPlaces user_menu_places() {
  const fs::path data = data_home();
  const fs::path config = config_home();
  if (data.empty() || config.empty()) return {};
  return {data / "applications", data / "desktop-directories", config / "menus" / "applications-merged"};
}

}  // namespace platform::xdg
