// The access-number file phones.txt and the list made from it. The input is
// a section name, a NUL, then the file; without a NUL the whole input is the
// file and the section is "P10". Checked: every entry line is one buffer's
// worth (at most 126 bytes) with no line end or NUL left in it; a parsed
// entry's fields hold no blank where the fields are cut at blanks; the
// dialog's list is in ascending order and holds only entries of the
// section; the user's own entry is preselected by its prefix.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "session/access_numbers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view name = "P10";
  std::string_view file = input;
  if (std::size_t nul = input.find('\0'); nul != std::string_view::npos && nul <= 32) {
    name = input.substr(0, nul);
    file = input.substr(nul + 1);
  }
  std::vector<std::string> lines;
  bool found = session::ParseSectionLines(file, name, lines);
  fuzz::check(found || lines.empty(), "a missing section with lines");
  for (const std::string& line : lines) {
    fuzz::check(!line.empty() && line.size() < session::kPhonesLineBuffer, "an entry line of the wrong size");
    fuzz::check(line.find_first_of(std::string_view("\n\0", 2)) == std::string::npos, "an entry holds a line end or NUL");
    if (auto entry = session::ParseAccessEntry(line)) {
      for (const std::string* part : {&entry->area_code, &entry->number, &entry->state}) {
        fuzz::check(part->find(' ') == std::string::npos, "a field cut at blanks holds a blank");
      }
      std::string display = session::DisplayForm(*entry);
      fuzz::check(display.find(entry->place) != std::string::npos, "the display form lost the place");
      fuzz::check(!session::ShortForm(line).empty(), "an entry without its short form");
    }
  }
  std::vector<session::AccessListItem> items = session::AccessListItems(lines);
  fuzz::check(items.size() <= lines.size(), "more list items than entries");
  fuzz::check(std::is_sorted(items.begin(), items.end(),
                             [](const auto& a, const auto& b) { return a.text < b.text; }),
              "the access-number list is not in order");
  if (!items.empty()) {
    const session::AccessEntry& e = items.back().entry;
    std::string prefix = session::PreselectionPrefix(e.state, e.area_code);
    bool preselected = std::any_of(items.begin(), items.end(),
                                   [&](const auto& item) { return item.text.rfind(prefix, 0) == 0; });
    fuzz::check(preselected, "an entry of the list cannot be preselected by its prefix");
  }
  return 0;
}
