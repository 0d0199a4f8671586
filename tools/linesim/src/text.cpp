#include "linesim/text.h"

namespace linesim {

std::string escape_bytes(std::string_view bytes) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    unsigned char u = static_cast<unsigned char>(c);
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\\': out += "\\\\"; break;
      default:
        if (u < 0x20 || u >= 0x7F) {
          out += "\\x";
          out += hex[u >> 4];
          out += hex[u & 15];
        } else {
          out += c;
        }
    }
  }
  return out;
}

namespace {
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::optional<std::string> unescape(std::string_view text, std::string* error) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (i + 1 >= text.size()) {
      if (error) *error = "backslash at the end of the text";
      return std::nullopt;
    }
    char e = text[++i];
    switch (e) {
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case 'n': out += '\n'; break;
      case 's': out += ' '; break;
      case '\\': out += '\\'; break;
      case '*': out += '*'; break;
      case 'x': {
        int hi = i + 1 < text.size() ? hex_value(text[i + 1]) : -1;
        int lo = i + 2 < text.size() ? hex_value(text[i + 2]) : -1;
        if (hi < 0 || lo < 0) {
          if (error) *error = "\\x needs two hex digits";
          return std::nullopt;
        }
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default:
        if (error) *error = std::string("unknown escape \\") + e;
        return std::nullopt;
    }
  }
  return out;
}

std::string digits_of(std::string_view text) {
  std::string out;
  for (char c : text)
    if (c >= '0' && c <= '9') out += c;
  return out;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace linesim
