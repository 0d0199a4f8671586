#include "platform/ui/utf8.h"

namespace platform {

namespace {

// Length of the valid sequence at `pos`, 0 when the byte begins none.
std::size_t sequence_length(std::string_view t, std::size_t pos) {
  const auto b0 = static_cast<unsigned char>(t[pos]);
  if (b0 < 0x80) return 1;
  std::size_t n = 0;
  char32_t min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) n = 2, min = 0x80;
  else if (b0 >= 0xE0 && b0 <= 0xEF) n = 3, min = 0x800;
  else if (b0 >= 0xF0 && b0 <= 0xF4) n = 4, min = 0x10000;
  else return 0;
  if (pos + n > t.size()) return 0;
  char32_t cp = b0 & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(t[pos + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

char32_t utf8_next(std::string_view text, std::size_t& pos) {
  const std::size_t n = sequence_length(text, pos);
  const auto b0 = static_cast<unsigned char>(text[pos]);
  if (n <= 1) {
    ++pos;
    return b0;
  }
  char32_t cp = b0 & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[pos + k]) & 0x3F);
  pos += n;
  return cp;
}

void utf8_append(std::string& out, char32_t ch) {
  if (ch < 0x80) {
    out += static_cast<char>(ch);
  } else if (ch < 0x800) {
    out += static_cast<char>(0xC0 | (ch >> 6));
    out += static_cast<char>(0x80 | (ch & 0x3F));
  } else if (ch < 0x10000) {
    out += static_cast<char>(0xE0 | (ch >> 12));
    out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (ch & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (ch >> 18));
    out += static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (ch & 0x3F));
  }
}

std::size_t utf8_length(std::string_view text) {
  std::size_t n = 0;
  for (std::size_t pos = 0; pos < text.size(); ++n) {
    const std::size_t len = sequence_length(text, pos);
    pos += len == 0 ? 1 : len;
  }
  return n;
}

std::size_t utf8_offset(std::string_view text, std::size_t index) {
  std::size_t pos = 0;
  for (std::size_t i = 0; i < index && pos < text.size(); ++i) {
    const std::size_t len = sequence_length(text, pos);
    pos += len == 0 ? 1 : len;
  }
  return pos;
}

std::string_view utf8_prefix(std::string_view text, std::size_t count) {
  return text.substr(0, utf8_offset(text, count));
}

std::string utf8_sanitize(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t len = sequence_length(text, pos);
    if (len > 0) {
      out.append(text.substr(pos, len));
      pos += len;
    } else {
      utf8_append(out, static_cast<unsigned char>(text[pos]));
      ++pos;
    }
  }
  return out;
}

bool is_printable_ascii(std::string_view text) {
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b > 0x7E) return false;
  }
  return true;
}

}  // namespace platform
