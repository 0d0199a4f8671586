// The access-number file phones.txt and the texts made from its entries.
//
// phones.txt is a text file of sections: a line whose first character is "["
// and whose next characters begin with the section name (a price plan code)
// starts a section; its entries are the non-empty lines up to the next line
// starting with "[" or the end of the file. Lines are read as a 127-byte
// buffer reads them: at most 126 bytes a line, the rest of a longer line is
// read as the next line; a line ends at its first NUL.
//
// An entry: an optional prefix through the first "=", then fields separated
// by single blanks: area code, local number, state, and the place (the rest,
// blanks included).
//
// Everything here but LoadSectionLines is a pure function over bytes and
// strings (no disk, no window): the file parser is fuzzed through
// ParseSectionLines.
//
// Index: kPhonesLineBuffer, ParseSectionLines, LoadSectionLines, AccessEntry,
// ParseAccessEntry, DisplayForm, ShortForm, SortedInsertPosition,
// AccessListItem, AccessListItems, PreselectionPrefix.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace session {

// The line buffer of phones.txt: lines hold at most 126 bytes.
inline constexpr std::size_t kPhonesLineBuffer = 127;
// A phones.txt larger than this is not read (a read error): the file is a
// short list of numbers, never megabytes.
inline constexpr std::size_t kPhonesFileLimit = 4 * 1024 * 1024;

// The entries of section `name` in the file contents `bytes`, in file order,
// with their line ends (LF, CR LF) removed. `lines` is emptied first. False
// when no line starts the section (the comparison is case-sensitive, over the
// length of the name, so "[PLAN10]" starts section "PLAN1").
bool ParseSectionLines(std::string_view bytes, std::string_view name, std::vector<std::string>& lines);

// ParseSectionLines over the file at `path`. False (and `lines` empty) when
// the file cannot be opened or read (a folder, no permission, over
// kPhonesFileLimit) or the section is missing; `why` tells which.
bool LoadSectionLines(const std::filesystem::path& path, std::string_view name, std::vector<std::string>& lines,
                      std::string* why = nullptr);

struct AccessEntry {
  std::string area_code;
  std::string number;
  std::string state;
  std::string place;
};

// Drops the prefix through the first "=", then cuts the area code at the
// first blank, the number at the next, the state at the next; the place is
// what remains. Nothing when any of the four parts is missing.
std::optional<AccessEntry> ParseAccessEntry(std::string_view line);

// "CA, (408) 5551234, San Jose": state, ", (", area code, ") ", number, ", ",
// place.
std::string DisplayForm(const AccessEntry& entry);

// "408-5551234": area code, "-", number, of the line (prefix dropped); empty
// when the line has fewer than three fields.
std::string ShortForm(std::string_view line);

// Where `text` goes in the ascending list `items` (exact byte comparison) by
// binary search: before an equal first item, at the end when it is not below
// the last one.
std::size_t SortedInsertPosition(const std::vector<std::string>& items, std::string_view text);

struct AccessListItem {
  std::string text;   // the display form
  AccessEntry entry;  // what choosing it stores
};

// The list of the access-number dialog: the entries from the last to the
// first, each inserted at SortedInsertPosition; entries with fewer than four
// parts are skipped.
std::vector<AccessListItem> AccessListItems(const std::vector<std::string>& entries);

// The prefix that preselects the user's entry: STATE, ", (", DAYAREACODE, ")".
std::string PreselectionPrefix(std::string_view state, std::string_view day_area_code);

}  // namespace session
