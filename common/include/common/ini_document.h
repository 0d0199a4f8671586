// IniDocument: one INI file's text, indexed for lookups, edited in place.
//
// The parser is pure: it works on the text only and never fails. Whatever the
// bytes (binary junk, NUL bytes, very long lines, no final newline, duplicate
// sections or keys), every line is classified as one of
//   blank      only blanks
//   comment    first non-blank character is ';'
//   section    '[' name ']' (name up to the first ']'; text after it ignored)
//   key        name '=' value, name not empty
//   other      anything else (kept, never seen by lookups)
// Edits change only the lines they name; every other byte of the text, line
// endings included, stays as it was and in its order.
//
// Matching follows the Windows private-profile service:
// - section and key names match without regard to ASCII case;
// - a NUL byte ends the text of its line: what follows it on that line is
//   never read (a name before it without '=' is no key);
// - names and values are trimmed of leading and trailing blanks (space, tab,
//   CR, vertical tab, form feed); a value enclosed in a matching pair of single
//   or double quotes loses them;
// - the first section of a name is the one seen, later duplicates are kept
//   but ignored; within it the first key of a name wins;
// - keys above the first section header belong to no section and are never
//   seen. A key line with an empty name ("=x") is treated as "other".
// A UTF-8 byte order mark at the start is kept and skipped by the parser.
//
// Offsets are 32-bit: text longer than 4 GiB - 1 is not indexed (callers read
// files through ini.h, which refuses files larger than kMaxIniFileSize).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace common {

class IniDocument {
 public:
  IniDocument() = default;
  // Indexes `text`; never fails.
  static IniDocument parse(std::string text);

  const std::string& text() const { return text_; }
  // Bytes held by the text and its index (for cache accounting).
  std::size_t memory_bytes() const;
  // "\r\n" when the first line of the text ends so, else "\n". New lines
  // written by edits use it.
  std::string_view line_ending() const { return crlf_ ? "\r\n" : "\n"; }

  // The value of `key` in `section`, trimmed and unquoted; nullopt when the
  // section or the key is missing.
  std::optional<std::string> get(std::string_view section, std::string_view key) const;
  bool has_section(std::string_view section) const;
  // Names of the keys of the section, in file order, each name once (as
  // first written). Empty when the section is missing.
  std::vector<std::string> keys(std::string_view section) const;
  // Names of the sections, in file order, each name once.
  std::vector<std::string> sections() const;

  // Sets `key` in `section` to `value`, adding the section (at the end) or
  // the key (after the section's last non-blank line) when missing. An
  // existing line keeps its indentation and its key's spelling. Returns false
  // and changes nothing when a name or the value cannot be stored in an INI
  // line; `error` says why. Trailing CR/LF of the value are dropped (a reader
  // would never see them); a line break inside it is refused. A value with
  // blanks at either end, or enclosed in matching quotes, is written inside
  // double quotes, so that get() gives it back unchanged.
  bool set(std::string_view section, std::string_view key, std::string_view value,
           std::string* error = nullptr);
  // Removes every line of `key` in the (first) section. True if one was removed.
  bool remove_key(std::string_view section, std::string_view key);
  // Removes every section of this name with all its lines (comments
  // included), up to the next section header. True if one was removed.
  bool remove_section(std::string_view section);

 private:
  static constexpr uint32_t kNoSection = UINT32_MAX;
  struct Section {
    uint32_t begin;        // start of the header line
    uint32_t end;          // start of the next section's header line, or text end
    uint32_t name_begin, name_size;
    uint32_t insert_at;    // where a new key goes: after the last non-blank line
    bool insert_needs_eol;  // that line has no line ending (end of text)
    uint32_t hash;
  };
  struct Key {
    uint32_t section;      // index in sections_, or kNoSection
    uint32_t line_begin;   // start of the line
    uint32_t line_next;    // start of the following line
    uint32_t name_begin, name_size;
    uint32_t value_begin, value_size;
    uint32_t hash;
  };

  void index();
  std::string_view span(uint32_t begin, uint32_t size) const {
    return std::string_view(text_).substr(begin, size);
  }
  const Section* find_section(std::string_view name, uint32_t* index = nullptr) const;
  const Key* find_key(uint32_t section, std::string_view name) const;

  std::string text_;
  bool crlf_ = false;
  std::vector<Section> sections_;           // file order
  std::vector<Key> keys_;                   // file order
  std::vector<uint32_t> section_lookup_;    // indexes into sections_ by (hash, position)
  std::vector<uint32_t> key_lookup_;        // indexes into keys_ by (section, hash, position)
};

// Case-insensitive (ASCII) comparison of names.
bool ini_names_equal(std::string_view a, std::string_view b);

}  // namespace common
