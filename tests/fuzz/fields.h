// Cuts a fuzz input into fields at NUL bytes, for targets whose entry points
// take several values. Missing fields read as empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

class Fields {
 public:
  Fields(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    for (;;) {
      std::size_t nul = rest.find('\0');
      fields_.emplace_back(rest.substr(0, nul));
      if (nul == std::string_view::npos) break;
      rest.remove_prefix(nul + 1);
    }
  }
  std::string next() { return at_ < fields_.size() ? fields_[at_++] : std::string(); }

 private:
  std::vector<std::string> fields_;
  std::size_t at_ = 0;
};

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates).
inline bool valid_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > text.size()) return false;
    std::uint32_t cp = n == 1 ? c : n == 2 ? (c & 0x1f) : n == 3 ? (c & 0x0f) : (c & 0x07);
    for (std::size_t k = 1; k < n; ++k) {
      auto d = static_cast<unsigned char>(text[i + k]);
      if ((d >> 6) != 2) return false;
      cp = (cp << 6) | (d & 0x3f);
    }
    if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10ffff)) ||
        (cp >= 0xd800 && cp <= 0xdfff)) {
      return false;
    }
    i += n;
  }
  return true;
}

}  // namespace fuzz
