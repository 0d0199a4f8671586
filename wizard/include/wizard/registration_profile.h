// RegistrationProfile: the one store of the wizard's answers and settings.
//
// A flat list of named text values in insertion order. Keys are stored in
// upper case; lookup is exact and runs from the last entry to the first, so a
// key asked for in lower case is never found. A missing key and a key with an
// empty value differ: Get() fails only for a missing key.
//
// The profile lives in section "User Information" of Joinwiz.ini. Load()
// never adds keys (extra lines in the file are left alone); Save() writes
// only the profile's keys, from the last inserted to the first, all in one
// atomic replacement of the file; a key that cannot be stored is left out
// (and reported) without losing the others. The file holds the password, so every Save() leaves it readable by
// its owner only, whatever its mode was.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace wizard {

inline constexpr const char* kUserInfoSection = "User Information";
// Values read from the file are cut to this many characters (a 127-character
// buffer with its terminating NUL).
inline constexpr std::size_t kProfileReadBuffer = 127;

struct ProfileDefault {
  const char* key;
  const char* value;
};

// The 43 keys every profile starts with, in their fixed order.
const std::vector<ProfileDefault>& default_profile_keys();

class RegistrationProfile {
 public:
  void SetDefaults(const std::vector<ProfileDefault>& table);
  // Replaces the value of an existing key, else appends the upper-cased key.
  void Set(std::string_view key, std::string_view value);
  // True and `out` = value when the key exists; `out` untouched otherwise.
  bool Get(std::string_view key, std::string& out) const;
  void Remove(std::string_view key);
  // Index of the key (exact match, searched from the end) or -1.
  int Find(std::string_view key) const;
  // Reads every key from the file with its current value as default.
  bool Load(const std::filesystem::path& file);
  // Writes every key in one replacement of the file. A key whose value the
  // file cannot hold is left out and makes the result false, the other keys
  // are still written; a file that cannot be written stays as it was. `why`
  // (if given) gets the reason of a failure.
  bool Save(const std::filesystem::path& file, std::string* why = nullptr) const;

  std::size_t size() const { return keys_.size(); }
  const std::string& key_at(std::size_t i) const { return keys_[i]; }
  const std::string& value_at(std::size_t i) const { return values_[i]; }
  // Convenience for callers that treat a missing key as empty.
  std::string value_or_empty(std::string_view key) const;

 private:
  std::vector<std::string> keys_;
  std::vector<std::string> values_;
};

// Upper-cases ASCII letters; bytes of multibyte characters pass unchanged.
std::string upper_key(std::string_view key);

// Keeps only the decimal digits of `text` (phone numbers are stored so).
std::string digits_only(std::string_view text);

}  // namespace wizard
