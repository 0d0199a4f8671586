// ASCII case folding for names that Windows compares without case: registry
// keys and values, INI sections and keys, file names looked up in a folder,
// control classes, script words. Only A-Z and a-z fold, whatever the locale,
// so a name never matches differently on another machine.
#pragma once

#include <string>
#include <string_view>

namespace platform {

constexpr char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string to_ascii_upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = ascii_upper(c);
  return out;
}

inline std::string to_ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = ascii_lower(c);
  return out;
}

constexpr bool equal_no_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
  }
  return true;
}

}  // namespace platform
