#include "session/access_numbers.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace session {
namespace {

// The next line as a 127-byte line buffer reads it: up to and including the
// first LF, at most 126 bytes; then cut at its first NUL (the buffer is a C
// string). `pos` moves past the bytes read.
std::string_view NextBufferLine(std::string_view bytes, std::size_t& pos) {
  const std::size_t max = kPhonesLineBuffer - 1;
  std::size_t end = pos;
  while (end < bytes.size() && end - pos < max) {
    if (bytes[end++] == '\n') break;
  }
  std::string_view line = bytes.substr(pos, end - pos);
  pos = end;
  std::size_t nul = line.find('\0');
  if (nul != std::string_view::npos) line = line.substr(0, nul);
  return line;
}

std::string_view WithoutLineEnd(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

std::string_view WithoutPrefix(std::string_view line) {
  std::size_t eq = line.find('=');
  return eq == std::string_view::npos ? line : line.substr(eq + 1);
}

// Cuts `rest` at its first blank: the text before it, and `rest` moves past
// the blank. False (nothing cut) when there is no blank.
bool CutAtBlank(std::string_view& rest, std::string& field) {
  std::size_t blank = rest.find(' ');
  if (blank == std::string_view::npos) return false;
  field = std::string(rest.substr(0, blank));
  rest.remove_prefix(blank + 1);
  return true;
}

}  // namespace

bool ParseSectionLines(std::string_view bytes, std::string_view name, std::vector<std::string>& lines) {
  lines.clear();
  std::size_t pos = 0;
  bool found = false;
  while (pos < bytes.size()) {
    std::string_view line = NextBufferLine(bytes, pos);
    if (!line.empty() && line[0] == '[' && line.substr(1).starts_with(name)) {
      found = true;
      break;
    }
  }
  if (!found) return false;
  while (pos < bytes.size()) {
    std::string_view line = NextBufferLine(bytes, pos);
    if (!line.empty() && line[0] == '[') break;
    line = WithoutLineEnd(line);
    if (!line.empty()) lines.emplace_back(line);
  }
  return true;
}

bool LoadSectionLines(const std::filesystem::path& path, std::string_view name, std::vector<std::string>& lines,
                      std::string* why) {
  lines.clear();
  auto fail = [&](std::string reason) {
    if (why) *why = path.string() + ": " + std::move(reason);
    lines.clear();
    return false;
  };
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!f) return fail(std::strerror(errno));
  std::string bytes;
  char chunk[4096];
  for (;;) {
    std::size_t n = std::fread(chunk, 1, sizeof chunk, f.get());
    bytes.append(chunk, n);
    if (bytes.size() > kPhonesFileLimit) return fail("larger than " + std::to_string(kPhonesFileLimit) + " bytes");
    if (n < sizeof chunk) break;
  }
  // A folder opens but does not read (EISDIR).
  if (std::ferror(f.get())) return fail(errno != 0 ? std::strerror(errno) : "read error");
  if (!ParseSectionLines(bytes, name, lines)) return fail("no section [" + std::string(name) + "]");
  return true;
}

std::optional<AccessEntry> ParseAccessEntry(std::string_view line) {
  std::string_view rest = WithoutPrefix(line);
  AccessEntry e;
  if (!CutAtBlank(rest, e.area_code) || !CutAtBlank(rest, e.number) || !CutAtBlank(rest, e.state)) {
    return std::nullopt;
  }
  e.place = std::string(rest);
  return e;
}

std::string DisplayForm(const AccessEntry& e) {
  return e.state + ", (" + e.area_code + ") " + e.number + ", " + e.place;
}

std::string ShortForm(std::string_view line) {
  std::string_view rest = WithoutPrefix(line);
  std::string area, number;
  if (!CutAtBlank(rest, area)) return {};
  // A third field must follow the number.
  if (!CutAtBlank(rest, number)) return {};
  return area + "-" + number;
}

std::size_t SortedInsertPosition(const std::vector<std::string>& items, std::string_view text) {
  if (items.empty() || text <= std::string_view(items.front())) return 0;
  if (text >= std::string_view(items.back())) return items.size();
  auto it = std::lower_bound(items.begin(), items.end(), text,
                             [](const std::string& a, std::string_view b) { return std::string_view(a) < b; });
  return static_cast<std::size_t>(it - items.begin());
}

std::vector<AccessListItem> AccessListItems(const std::vector<std::string>& entries) {
  // Inserting each display form at SortedInsertPosition, from the last entry
  // to the first, yields the texts in ascending order; equal texts are equal
  // entries, so their order does not matter. A sort gives the same list
  // without the quadratic cost of inserting into a long one.
  std::vector<AccessListItem> out;
  out.reserve(entries.size());
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    std::optional<AccessEntry> e = ParseAccessEntry(*it);
    if (!e) continue;
    std::string text = DisplayForm(*e);
    out.push_back(AccessListItem{std::move(text), std::move(*e)});
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const AccessListItem& a, const AccessListItem& b) { return a.text < b.text; });
  return out;
}

std::string PreselectionPrefix(std::string_view state, std::string_view day_area_code) {
  return std::string(state) + ", (" + std::string(day_area_code) + ")";
}

}  // namespace session
