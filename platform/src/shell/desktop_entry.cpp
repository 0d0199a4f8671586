#include "platform/shell/desktop_entry.h"

namespace platform::desktop {
namespace {

std::optional<std::string> Refuse(std::string* why, std::string text) {
  if (why) *why = std::move(text);
  return std::nullopt;
}

// Length of the UTF-8 sequence at `i`, 0 when it is not a valid one.
std::size_t Utf8Length(std::string_view s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (len == 0 || i + len > s.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  }
  if (len == 2 && c < 0xC2) return 0;  // over-long
  if (len == 3) {
    const auto c1 = static_cast<unsigned char>(s[i + 1]);
    if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 >= 0xA0)) return 0;  // over-long, surrogate
  }
  if (len == 4) {
    const auto c1 = static_cast<unsigned char>(s[i + 1]);
    if ((c == 0xF0 && c1 < 0x90) || c > 0xF4 || (c == 0xF4 && c1 >= 0x90)) return 0;
  }
  return len;
}

bool IsUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    std::size_t len = Utf8Length(s, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

// Latin-1 bytes as UTF-8.
std::string FromLatin1(std::string_view s) {
  std::string out;
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

bool IsReserved(char c) {
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

std::optional<std::string> EscapeString(std::string_view value, std::string* why) {
  const std::string text = IsUtf8(value) ? std::string(value) : FromLatin1(value);
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
          return Refuse(why, "a value holds the control character " + std::to_string(u));
        }
        out += c;
    }
  }
  return out;
}

std::string UnescapeString(std::string_view value) {
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

std::string ExecArgument(std::string_view argument) {
  bool reserved = argument.empty();
  for (char c : argument) reserved = reserved || IsReserved(c);
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

std::optional<std::string> ExecLine(const std::vector<std::string>& argv, std::string* why) {
  if (argv.empty() || argv.front().empty()) return Refuse(why, "a launcher needs a program");
  std::string line;
  for (const std::string& a : argv) {
    if (!EscapeString(a, why)) return std::nullopt;
    if (!line.empty()) line += ' ';
    line += ExecArgument(IsUtf8(a) ? a : FromLatin1(a));
  }
  return line;
}

std::optional<std::vector<std::string>> SplitExec(std::string_view exec) {
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
        } else if (IsReserved(c)) {
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

std::optional<std::string> EntryText(const Entry& e, std::string* why) {
  if (e.type != "Application" && e.type != "Directory") return Refuse(why, "unknown desktop entry type");
  auto name = EscapeString(e.name, why);
  if (!name) return std::nullopt;
  if (name->empty()) return Refuse(why, "a desktop entry needs a name");
  std::string text = "[Desktop Entry]\nType=" + e.type + "\nName=" + *name + "\n";
  if (!e.comment.empty()) {
    auto comment = EscapeString(e.comment, why);
    if (!comment) return std::nullopt;
    text += "Comment=" + *comment + "\n";
  }
  if (e.type == "Application") {
    auto exec = ExecLine(e.exec, why);
    if (!exec) return std::nullopt;
    auto escaped = EscapeString(*exec, why);
    if (!escaped) return std::nullopt;
    text += "Exec=" + *escaped + "\n";
    text += std::string("Terminal=") + (e.terminal ? "true" : "false") + "\n";
  }
  if (!e.icon.empty()) {
    auto icon = EscapeString(e.icon, why);
    if (!icon) return std::nullopt;
    text += "Icon=" + *icon + "\n";
  }
  if (!e.categories.empty() && e.type == "Application") {
    auto categories = EscapeString(e.categories, why);
    if (!categories) return std::nullopt;
    text += "Categories=" + *categories + "\n";
  }
  return text;
}

std::optional<std::map<std::string, std::string>> ReadGroup(std::string_view text, std::string_view group) {
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

std::string ShortcutFileName(std::string_view name) {
  std::string out(name);
  if (out.size() >= 4) {
    std::string tail = out.substr(out.size() - 4);
    for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (tail == ".lnk") out.resize(out.size() - 4);
  }
  return out + ".desktop";
}

}  // namespace platform::desktop
