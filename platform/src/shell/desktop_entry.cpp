#include "platform/shell/desktop_entry.h"

#include "platform/ui/utf8.h"

namespace platform::desktop {
namespace {

std::optional<std::string> refuse(std::string* why, std::string text) {
  if (why) *why = std::move(text);
  return std::nullopt;
}

// Text that is not valid UTF-8 is taken whole as Latin-1 (the Windows code
// page's letters), so a name is never half one encoding and half the other.
std::string as_utf8(std::string_view s) {
  if (utf8_sanitize(s) == s) return std::string(s);
  std::string out;
  for (char ch : s) utf8_append(out, static_cast<unsigned char>(ch));
  return out;
}

bool is_reserved(char c) {
  switch (c) {
    case ' ': case '\t': case '\n': case '"': case '\'': case '\\': case '>': case '<': case '~':
    case '|': case '&': case ';': case '$': case '*': case '?': case '#': case '(': case ')': case '`':
    case '\r': case '=':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::optional<std::string> escape_string(std::string_view value, std::string* why) {
  const std::string text = as_utf8(value);
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case ' ':
        // A leading blank would be trimmed by readers.
        out += i == 0 ? "\\s" : " ";
        break;
      default:
        if (u < 0x20 || u == 0x7f) {
          return refuse(why, "a value holds the control character " + std::to_string(u));
        }
        out += c;
    }
  }
  return out;
}

std::string unescape_string(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 >= value.size()) {
      out += value[i];
      continue;
    }
    const char next = value[++i];
    switch (next) {
      case 's': out += ' '; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case '\\': out += '\\'; break;
      default:
        out += '\\';
        out += next;
    }
  }
  return out;
}

std::string exec_argument(std::string_view argument) {
  bool reserved = argument.empty();
  for (char c : argument) reserved = reserved || is_reserved(c);
  std::string out;
  if (reserved) out += '"';
  for (char c : argument) {
    if (c == '%') {
      out += "%%";
    } else if (reserved && (c == '"' || c == '`' || c == '$' || c == '\\')) {
      out += '\\';
      out += c;
    } else {
      out += c;
    }
  }
  if (reserved) out += '"';
  return out;
}

std::optional<std::string> exec_line(const std::vector<std::string>& argv, std::string* why) {
  if (argv.empty() || argv.front().empty()) return refuse(why, "a launcher needs a program");
  std::string line;
  for (const std::string& a : argv) {
    if (!escape_string(a, why)) return std::nullopt;
    if (!line.empty()) line += ' ';
    line += exec_argument(as_utf8(a));
  }
  return line;
}

std::optional<std::vector<std::string>> split_exec(std::string_view exec) {
  std::vector<std::string> args;
  std::size_t i = 0;
  while (true) {
    while (i < exec.size() && exec[i] == ' ') ++i;
    if (i >= exec.size()) break;
    std::string arg;
    if (exec[i] == '"') {
      ++i;
      bool closed = false;
      while (i < exec.size()) {
        char c = exec[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\') {
          if (i >= exec.size()) return std::nullopt;
          char next = exec[i++];
          if (next != '"' && next != '`' && next != '$' && next != '\\') return std::nullopt;
          arg += next;
        } else if (c == '%') {
          if (i >= exec.size() || exec[i] != '%') return std::nullopt;
          ++i;
          arg += '%';
        } else {
          arg += c;
        }
      }
      if (!closed || (i < exec.size() && exec[i] != ' ')) return std::nullopt;
    } else {
      while (i < exec.size() && exec[i] != ' ') {
        char c = exec[i++];
        if (c == '%') {
          if (i >= exec.size() || exec[i] != '%') return std::nullopt;
          ++i;
          arg += '%';
        } else if (is_reserved(c)) {
          return std::nullopt;
        } else {
          arg += c;
        }
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

std::optional<std::string> entry_text(const Entry& e, std::string* why) {
  if (e.type != "Application" && e.type != "Directory") return refuse(why, "unknown desktop entry type");
  auto name = escape_string(e.name, why);
  if (!name) return std::nullopt;
  if (name->empty()) return refuse(why, "a desktop entry needs a name");
  std::string text = "[Desktop Entry]\nType=" + e.type + "\nName=" + *name + "\n";
  if (!e.comment.empty()) {
    auto comment = escape_string(e.comment, why);
    if (!comment) return std::nullopt;
    text += "Comment=" + *comment + "\n";
  }
  if (e.type == "Application") {
    auto exec = exec_line(e.exec, why);
    if (!exec) return std::nullopt;
    auto escaped = escape_string(*exec, why);
    if (!escaped) return std::nullopt;
    text += "Exec=" + *escaped + "\n";
    text += std::string("Terminal=") + (e.terminal ? "true" : "false") + "\n";
  }
  if (!e.icon.empty()) {
    auto icon = escape_string(e.icon, why);
    if (!icon) return std::nullopt;
    text += "Icon=" + *icon + "\n";
  }
  if (!e.categories.empty() && e.type == "Application") {
    auto categories = escape_string(e.categories, why);
    if (!categories) return std::nullopt;
    text += "Categories=" + *categories + "\n";
  }
  return text;
}

std::optional<std::map<std::string, std::string>> read_group(std::string_view text, std::string_view group) {
  std::map<std::string, std::string> keys;
  bool in_group = false, found = false;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t eol = text.find('\n', at);
    std::string_view line = text.substr(at, eol == std::string_view::npos ? std::string_view::npos : eol - at);
    at = eol == std::string_view::npos ? text.size() : eol + 1;
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      if (line.back() != ']') return std::nullopt;
      in_group = line.substr(1, line.size() - 2) == group;
      found = found || in_group;
      continue;
    }
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || eq == 0) return std::nullopt;
    if (!in_group) continue;
    std::string_view key = line.substr(0, eq);
    while (!key.empty() && key.back() == ' ') key.remove_suffix(1);
    std::string_view value = line.substr(eq + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    if (!keys.emplace(std::string(key), std::string(value)).second) return std::nullopt;  // a key twice
  }
  if (!found) return std::nullopt;
  return keys;
}

std::string shortcut_file_name(std::string_view name) {
  std::string out(name);
  if (out.size() >= 4) {
    std::string tail = out.substr(out.size() - 4);
    for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (tail == ".lnk") out.resize(out.size() - 4);
  }
  return out + ".desktop";
}

}  // namespace platform::desktop
