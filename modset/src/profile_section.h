// CfgProfileSection: one section of TARK_NET.INI, read from one snapshot of
// the file and written into a document that update_ini_file() replaces whole.
//
// Reading follows the private-profile rules: an absent or empty key gives the
// default; texts are cut to kMaxRead characters; integers convert by atoi.
// Writing suppresses defaults: a value equal to its default (exact, byte-wise)
// is written as the empty value, so every written key is present.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/ini_document.h"

namespace modset {

// What the file gave a reader.
enum class LoadResult { Ok, Missing, Unreadable };

class CfgProfileSection {
 public:
  static constexpr std::size_t kMaxRead = 259;  // longest text a read returns

  // A reader of `section` in `file`: the file is read once here.
  CfgProfileSection(std::string section, const std::filesystem::path& file);
  // A writer (or reader over `document`, e.g. inside an update).
  CfgProfileSection(std::string section, std::shared_ptr<const common::IniDocument> document);

  LoadResult load_result() const { return load_; }
  // The snapshot this section reads from (shared with other sections).
  std::shared_ptr<const common::IniDocument> document() const { return document_; }

  std::string read_text(std::string_view key, std::string_view default_value) const;
  int32_t read_int(std::string_view key, int32_t default_value) const;
  std::string read_stamp() const { return read_text(kStampKey, ""); }
  // Names of the section's keys in file order, as many as fit whole in a
  // listing of `limit` bytes (each name and its NUL, plus the final NUL).
  std::vector<std::string> list_keys(std::size_t limit) const;

  // Edits of `doc`; false when the value cannot be stored in an INI line.
  bool write_text(common::IniDocument& doc, std::string_view key, std::string_view default_value,
                  std::string_view value) const;
  bool write_int(common::IniDocument& doc, std::string_view key, int32_t default_value,
                 int32_t value) const;
  void delete_section(common::IniDocument& doc) const;
  bool stamp(common::IniDocument& doc) const;

  static constexpr std::string_view kStampKey = "Last Update";

 private:
  std::string section_;
  std::shared_ptr<const common::IniDocument> document_;
  LoadResult load_ = LoadResult::Ok;
};

// atoi's rule: leading blanks, optional sign, leading digits; 0 without
// digits. Saturates at the int32 limits instead of overflowing.
int32_t atoi_rule(std::string_view text);

// The stamp text: "Wed Jan 02 02:03:55 1980" (24 characters, English names,
// zero-padded day) followed by a line feed.
std::string format_stamp(const std::tm& local);
// The local time the stamp uses; tests replace it (nullptr restores).
using StampClock = std::tm (*)();
void set_stamp_clock(StampClock clock);

// Path of TARK_NET.INI in the Windows directory of the current system root.
std::filesystem::path settings_file();

}  // namespace modset
