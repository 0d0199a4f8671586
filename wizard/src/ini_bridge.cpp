// Provisional private-profile access for the profile file, used until the
// shared INI service of common/ is in the tree; it keeps the same visible
// results (case-blind names, trimmed values, untouched unrelated lines,
// atomic replacement under the file's lock).
#include "ini_bridge.h"

#include <algorithm>
#include <vector>

#include "platform/files.h"

namespace wizard {

namespace {

std::string trim(std::string_view s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  const auto e = s.find_last_not_of(" \t\r");
  return std::string(s.substr(b, e - b + 1));
}

bool same(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    auto nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    std::string line = text.substr(start, nl - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = nl + 1;
  }
  return lines;
}

// "[name]" -> name; false for other lines.
bool section_name(const std::string& line, std::string& name) {
  std::string t = trim(line);
  if (t.size() < 2 || t.front() != '[') return false;
  const auto close = t.find(']');
  name = trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
  return true;
}

bool key_of(const std::string& line, std::string& key, std::string& value) {
  const auto eq = line.find('=');
  if (eq == std::string::npos) return false;
  key = trim(line.substr(0, eq));
  value = trim(line.substr(eq + 1));
  return !key.empty();
}

}  // namespace

std::string ini_read(std::string_view section, std::string_view key, std::string_view fallback,
                     std::size_t buffer_size, const std::filesystem::path& file) {
  std::string result(fallback);
  std::string text;
  if (platform::read_file(file, text)) {
    bool inside = false;
    for (const std::string& line : split_lines(text)) {
      std::string name, k, v;
      if (section_name(line, name)) {
        inside = same(name, section);
      } else if (inside && key_of(line, k, v) && same(k, key)) {
        result = v;
        break;
      }
    }
  }
  if (buffer_size == 0) return {};
  if (result.size() > buffer_size - 1) result.resize(buffer_size - 1);
  return result;
}

bool ini_write(std::string_view section, std::string_view key, std::string_view value,
               const std::filesystem::path& file) {
  platform::FileLock lock(file);
  if (!lock.locked()) return false;
  std::string text;
  bool missing = false;
  if (!platform::read_file(file, text, nullptr, &missing) && !missing) return false;
  std::vector<std::string> lines = split_lines(text);
  const std::string entry = std::string(key) + "=" + std::string(value);
  bool inside = false, done = false;
  std::size_t section_end = lines.size();
  bool have_section = false;
  for (std::size_t i = 0; i < lines.size() && !done; ++i) {
    std::string name, k, v;
    if (section_name(lines[i], name)) {
      if (inside) {
        section_end = i;
        break;
      }
      inside = same(name, section);
      if (inside) have_section = true;
    } else if (inside && key_of(lines[i], k, v) && same(k, key)) {
      lines[i] = entry;
      done = true;
    }
  }
  if (!done) {
    if (have_section) {
      // After the section's last non-empty line.
      std::size_t at = section_end;
      while (at > 0 && trim(lines[at - 1]).empty()) --at;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), entry);
    } else {
      if (!lines.empty() && !trim(lines.back()).empty()) lines.emplace_back();
      lines.push_back("[" + std::string(section) + "]");
      lines.push_back(entry);
    }
  }
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return platform::replace_file(file, out, platform::FileMode::OwnerOnly);
}

}  // namespace wizard
