// The private-profile functions over a file (common/ini.h), as the wizard
// and the settings library call them. Input: byte 0 the operation (0 read a
// key, 1 write a key, 2 delete a key, 3 update an existing key), byte 1 the
// read buffer size, then section, key and value separated by 0x1F (each cut
// at a NUL, as C strings are), then the file. Operation 3 takes the first
// byte of the section and key fields as positions in the listings of the
// file's sections and of that section's keys. Checked: a read fits its
// buffer; after a write the written key reads back exactly as written (cut
// to the buffer) and no other entry of the file changes; after a delete the
// key is gone and no other entry changes; a refused write changes no byte.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/ini.h"
#include "fuzz_support.h"
#include "platform/storage/ascii.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kWholeValue = 1 << 20;
constexpr const char* kAbsent = "\x01(absent)";

std::string c_string(std::string_view field) { return std::string(field.substr(0, field.find('\0'))); }

std::vector<std::string> split_list(const std::string& list) {
  std::vector<std::string> out;
  for (std::size_t from = 0; from < list.size();) {
    const std::size_t nul = list.find('\0', from);
    out.push_back(list.substr(from, nul - from));
    if (nul == std::string::npos) break;
    from = nul + 1;
  }
  return out;
}

std::vector<std::string> sections(const fs::path& file) {
  return split_list(common::get_private_profile_string(nullptr, nullptr, "", kWholeValue, file));
}

std::vector<std::string> keys(const std::string& section, const fs::path& file) {
  return split_list(common::get_private_profile_string(section.c_str(), nullptr, "", kWholeValue, file));
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = platform::ascii_lower(c);
  return out;
}

std::string trimmed(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return std::string(s);
}

// An entry as listed; names match without regard to case.
using Name = std::pair<std::string, std::string>;
Name name_of(std::string_view section, std::string_view key) { return {lower(section), lower(key)}; }

// Every entry the functions show: listed sections, their listed keys and
// what each reads as.
std::map<Name, std::string> entries(const fs::path& file) {
  std::map<Name, std::string> out;
  for (const std::string& section : sections(file)) {
    for (const std::string& key : keys(section, file)) {
      out.emplace(name_of(section, key),
                  common::get_private_profile_string(section.c_str(), key.c_str(), kAbsent, kWholeValue, file));
    }
  }
  return out;
}

// The entries other than `written`.
std::map<Name, std::string> others(std::map<Name, std::string> all, const Name& written) {
  all.erase(written);
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const int operation = static_cast<unsigned char>(input[0]) % 4;
  const std::size_t buffer = static_cast<unsigned char>(input[1]);
  input.remove_prefix(2);
  std::string_view fields[3];
  for (std::string_view& f : fields) {
    const std::size_t sep = input.find('\x1f');
    if (sep == std::string_view::npos) return 0;
    f = input.substr(0, sep);
    input.remove_prefix(sep + 1);
  }
  std::string section = c_string(fields[0]), key = c_string(fields[1]);
  const std::string value = c_string(fields[2]);

  const fs::path file = fuzz::work_folder() / "file.ini";
  fuzz::write_file(file, input);
  common::ini_cache_clear();

  if (operation == 3) {
    const std::vector<std::string> all_sections = sections(file);
    if (all_sections.empty()) return 0;
    section = all_sections[static_cast<unsigned char>(fields[0].empty() ? 0 : fields[0][0]) % all_sections.size()];
    const std::vector<std::string> section_keys = keys(section, file);
    if (section_keys.empty()) return 0;
    key = section_keys[static_cast<unsigned char>(fields[1].empty() ? 0 : fields[1][0]) % section_keys.size()];
  }

  if (operation == 0) {
    const std::string got = common::get_private_profile_string(section.c_str(), key.c_str(), "", buffer, file);
    fuzz::check(buffer == 0 ? got.empty() : got.size() < buffer, "a read does not fit its buffer");
    return 0;
  }

  const std::string before_text = fuzz::read_file(file);
  const std::map<Name, std::string> before = entries(file);
  // A key picked from the listing is written under its listed name; a key
  // of the input is listed without the blanks around it.
  const Name written = name_of(section, operation == 3 ? key : trimmed(key));
  const bool ok = common::write_private_profile_string(section.c_str(), key.c_str(),
                                                       operation == 2 ? nullptr : value.c_str(), file) != 0;
  common::ini_cache_clear();
  if (!ok) {
    fuzz::check(fuzz::read_file(file) == before_text, "a refused write changed the file");
    return 0;
  }
  const std::map<Name, std::string> after = entries(file);
  fuzz::check(others(after, written) == others(before, written), "a write changed another entry");
  const std::string got = common::get_private_profile_string(section.c_str(), key.c_str(), kAbsent, buffer, file);
  if (operation == 2) {
    fuzz::check(after.count(written) == 0, "a deleted key is still listed");
    return 0;
  }
  std::string want = value;
  while (!want.empty() && (want.back() == '\r' || want.back() == '\n')) want.pop_back();
  if (buffer > 0) fuzz::check(got == want.substr(0, buffer - 1), "a written key reads back otherwise");
  fuzz::check(after.count(written) == 1, "a written key is not listed");
  return 0;
}
