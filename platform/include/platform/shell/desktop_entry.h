// Desktop entries: the freedesktop `.desktop` and `.directory` files that
// stand for Windows shortcuts and program-manager items.
//
// Principles:
//  - Pure functions from values to file text, and readers that parse the
//    text back as a desktop environment does (read_group, unescape_string,
//    split_exec), so tests show that what is written reads back the same.
//  - Values are data: string values are escaped by the Desktop Entry rules
//    (\s \n \t \r \\), so a newline in a name cannot start a new key; Exec
//    arguments are quoted by the Exec rules (reserved characters in double
//    quotes, '"' '`' '$' '\' escaped inside, '%' doubled), then escaped as a
//    string. A value that no reader could take back (NUL or another control
//    character, bytes that are not UTF-8 and not Latin-1 text) is refused.
//  - Bytes that are not UTF-8 are taken as the Windows code page's Latin-1
//    letters and converted, since desktop files are UTF-8.
//
// Index: escape_string, unescape_string, exec_argument, exec_line, split_exec,
// Entry, entry_text, read_group, shortcut_file_name.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::desktop {

// A string value (Name=, Comment=, Icon=). Refused (why set) for NUL and
// control characters other than TAB, LF and CR.
std::optional<std::string> escape_string(std::string_view value, std::string* why = nullptr);
// What a reader makes of an escaped value.
std::string unescape_string(std::string_view value);

// One Exec argument, quoted when it holds a reserved character; '%' doubled.
std::string exec_argument(std::string_view argument);
// The Exec= value (before string escaping) for `argv`. Refused for an empty
// argv, an empty program, or a value escape_string refuses.
std::optional<std::string> exec_line(const std::vector<std::string>& argv, std::string* why = nullptr);
// The arguments of an (unescaped) Exec value, quotes and escapes removed,
// "%%" read as '%'. Nothing when the quoting is broken or a field code
// other than %% appears.
std::optional<std::vector<std::string>> split_exec(std::string_view exec);

struct Entry {
  std::string type = "Application";  // or "Directory"
  std::string name;
  std::string comment;               // optional
  std::vector<std::string> exec;     // Application only
  std::string icon;                  // optional: a theme name or an absolute path
  bool terminal = false;
  std::string categories;            // optional, "Network;Dialup;"
};

// The whole file: "[Desktop Entry]" then Type, Name, the optional keys.
std::optional<std::string> entry_text(const Entry& entry, std::string* why = nullptr);

// The keys of `group` with their values still escaped; nothing when the
// group is missing or a line is neither a comment, a group header, nor
// KEY=VALUE.
std::optional<std::map<std::string, std::string>> read_group(std::string_view text,
                                                            std::string_view group = "Desktop Entry");

// The Windows shortcut file name as a launcher's: ".lnk" (any case) at the
// end becomes ".desktop"; any other name gets ".desktop" appended.
std::string shortcut_file_name(std::string_view name);

}  // namespace platform::desktop
