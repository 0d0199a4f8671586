#include "common/ini_document.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <tuple>

#include "platform/storage/ascii.h"

namespace common {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// FNV-1a over the lower-cased name, so equal names (any case) hash alike.
uint32_t name_hash(std::string_view s) {
  uint32_t h = 2166136261u;
  for (char c : s) {
    h ^= static_cast<unsigned char>(platform::ascii_lower(c));
    h *= 16777619u;
  }
  return h;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

// Windows drops one pair of matching quotes around a value.
std::string_view unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v.remove_prefix(1);
    v.remove_suffix(1);
  }
  return v;
}

// The text to write for `value` so that it reads back as `value`: readers
// trim blanks and drop one pair of matching quotes, so a value with blanks at
// either end, or one that looks quoted, is written inside double quotes.
std::string stored_value(std::string_view value) {
  if (trim(value).size() == value.size() && unquote(value).size() == value.size()) return std::string(value);
  return "\"" + std::string(value) + "\"";
}

// Values are C strings to every caller: a NUL byte ends them.
std::string_view until_nul(std::string_view v) {
  size_t nul = v.find('\0');
  return nul == std::string_view::npos ? v : v.substr(0, nul);
}

void set_error(std::string* error, const char* text) {
  if (error) *error = text;
}

bool has_any(std::string_view s, std::string_view chars) {
  return s.find_first_of(chars) != std::string_view::npos;
}

const std::string_view kLineBreakOrNul("\r\n\0", 3);

}  // namespace

bool ini_names_equal(std::string_view a, std::string_view b) { return platform::equal_no_case(a, b); }

IniDocument IniDocument::parse(std::string text) {
  IniDocument doc;
  doc.text_ = std::move(text);
  doc.index();
  return doc;
}

void IniDocument::index() {
  sections_.clear();
  keys_.clear();
  section_lookup_.clear();
  key_lookup_.clear();
  crlf_ = false;
  const std::string_view t(text_);
  if (t.size() >= std::numeric_limits<uint32_t>::max()) return;

  size_t pos = 0;
  if (t.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
  bool first_eol = true;
  while (pos < t.size()) {
    const char* nl = static_cast<const char*>(std::memchr(t.data() + pos, '\n', t.size() - pos));
    size_t content_end = nl ? static_cast<size_t>(nl - t.data()) : t.size();
    size_t next = nl ? content_end + 1 : t.size();
    if (nl && first_eol) {
      crlf_ = content_end > pos && t[content_end - 1] == '\r';
      first_eol = false;
    }
    // A reader of C strings sees a line up to its first NUL: what follows
    // on that line is never a name, a value or an '='. Names listed and
    // names looked up then agree.
    std::string_view line = until_nul(t.substr(pos, content_end - pos));
    std::string_view body = trim(line);
    auto off = [&](std::string_view part) { return static_cast<uint32_t>(part.data() - t.data()); };

    if (body.empty() || body.front() == ';') {
      // Blank lines and comments never move a section's insertion point.
      if (!body.empty() && !sections_.empty()) {
        sections_.back().insert_at = static_cast<uint32_t>(next);
        sections_.back().insert_needs_eol = !nl;
      }
    } else if (body.front() == '[' && body.find(']') != std::string_view::npos) {
      if (!sections_.empty()) sections_.back().end = static_cast<uint32_t>(pos);
      std::string_view name = body.substr(1, body.find(']') - 1);
      Section s{};
      s.begin = static_cast<uint32_t>(pos);
      s.end = static_cast<uint32_t>(t.size());
      s.name_begin = off(name);
      s.name_size = static_cast<uint32_t>(name.size());
      s.insert_at = static_cast<uint32_t>(next);
      s.insert_needs_eol = !nl;
      s.hash = name_hash(name);
      sections_.push_back(s);
    } else {
      size_t eq = body.find('=');
      std::string_view name = eq == std::string_view::npos ? std::string_view() : trim(body.substr(0, eq));
      if (!name.empty()) {
        std::string_view value = trim(body.substr(eq + 1));
        Key k{};
        k.section = sections_.empty() ? kNoSection : static_cast<uint32_t>(sections_.size() - 1);
        k.line_begin = static_cast<uint32_t>(pos);
        k.line_next = static_cast<uint32_t>(next);
        k.name_begin = off(name);
        k.name_size = static_cast<uint32_t>(name.size());
        // An empty value may point at the line's end; any offset in range will do.
        k.value_begin = value.empty() ? static_cast<uint32_t>(content_end) : off(value);
        k.value_size = static_cast<uint32_t>(value.size());
        k.hash = name_hash(name);
        keys_.push_back(k);
      }
      if (!sections_.empty()) {
        sections_.back().insert_at = static_cast<uint32_t>(next);
        sections_.back().insert_needs_eol = !nl;
      }
    }
    pos = next;
  }

  section_lookup_.resize(sections_.size());
  for (uint32_t i = 0; i < sections_.size(); ++i) section_lookup_[i] = i;
  std::sort(section_lookup_.begin(), section_lookup_.end(), [&](uint32_t a, uint32_t b) {
    return std::tie(sections_[a].hash, a) < std::tie(sections_[b].hash, b);
  });
  for (uint32_t i = 0; i < keys_.size(); ++i) {
    if (keys_[i].section != kNoSection) key_lookup_.push_back(i);
  }
  std::sort(key_lookup_.begin(), key_lookup_.end(), [&](uint32_t a, uint32_t b) {
    return std::tie(keys_[a].section, keys_[a].hash, a) < std::tie(keys_[b].section, keys_[b].hash, b);
  });
}

const IniDocument::Section* IniDocument::find_section(std::string_view name, uint32_t* index) const {
  const uint32_t h = name_hash(name);
  auto it = std::lower_bound(section_lookup_.begin(), section_lookup_.end(), h,
                             [&](uint32_t i, uint32_t hash) { return sections_[i].hash < hash; });
  for (; it != section_lookup_.end() && sections_[*it].hash == h; ++it) {
    const Section& s = sections_[*it];
    if (ini_names_equal(span(s.name_begin, s.name_size), name)) {
      if (index) *index = *it;
      return &s;
    }
  }
  return nullptr;
}

const IniDocument::Key* IniDocument::find_key(uint32_t section, std::string_view name) const {
  // Key names are trimmed in the file and by set(), so a lookup is too: a
  // key set as " k" reads back as " k".
  name = trim(name);
  const uint32_t h = name_hash(name);
  auto it = std::lower_bound(key_lookup_.begin(), key_lookup_.end(), std::make_pair(section, h),
                             [&](uint32_t i, const std::pair<uint32_t, uint32_t>& want) {
                               return std::tie(keys_[i].section, keys_[i].hash) < std::tie(want.first, want.second);
                             });
  for (; it != key_lookup_.end() && keys_[*it].section == section && keys_[*it].hash == h; ++it) {
    const Key& k = keys_[*it];
    if (ini_names_equal(span(k.name_begin, k.name_size), name)) return &k;
  }
  return nullptr;
}

std::optional<std::string> IniDocument::get(std::string_view section, std::string_view key) const {
  uint32_t si = 0;
  if (!find_section(section, &si)) return std::nullopt;
  const Key* k = find_key(si, key);
  if (!k) return std::nullopt;
  return std::string(until_nul(unquote(span(k->value_begin, k->value_size))));
}

std::size_t IniDocument::memory_bytes() const {
  return sizeof(*this) + text_.capacity() + sections_.capacity() * sizeof(Section) +
         keys_.capacity() * sizeof(Key) + (section_lookup_.capacity() + key_lookup_.capacity()) * sizeof(uint32_t);
}

bool IniDocument::has_section(std::string_view section) const { return find_section(section) != nullptr; }

std::vector<std::string> IniDocument::keys(std::string_view section) const {
  std::vector<std::string> out;
  uint32_t si = 0;
  if (!find_section(section, &si)) return out;
  for (const Key& k : keys_) {
    if (k.section != si) continue;
    std::string_view name = span(k.name_begin, k.name_size);
    // Only the first key of a name is ever seen; list it once.
    if (find_key(si, name) == &k) out.emplace_back(until_nul(name));
  }
  return out;
}

std::vector<std::string> IniDocument::sections() const {
  std::vector<std::string> out;
  for (const Section& s : sections_) {
    std::string_view name = span(s.name_begin, s.name_size);
    if (find_section(name) == &s) out.emplace_back(until_nul(name));
  }
  return out;
}

bool IniDocument::set(std::string_view section, std::string_view key, std::string_view value,
                      std::string* error) {
  key = trim(key);
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.remove_suffix(1);
  if (has_any(section, kLineBreakOrNul) || section.find(']') != std::string_view::npos) {
    set_error(error, "section name holds a line break, NUL or ']'");
    return false;
  }
  if (key.empty() || has_any(key, kLineBreakOrNul) || key.find('=') != std::string_view::npos ||
      key.front() == '[' || key.front() == ';') {
    set_error(error, "key name is empty or holds a line break, NUL, '=', or starts with '[' or ';'");
    return false;
  }
  if (has_any(value, kLineBreakOrNul)) {
    set_error(error, "value holds a line break or NUL");
    return false;
  }
  const std::string value_text = stored_value(value);
  const std::string_view eol = line_ending();
  std::string out;
  uint32_t si = 0;
  const Section* s = find_section(section, &si);
  if (!s) {
    out.reserve(text_.size() + section.size() + key.size() + value_text.size() + 8);
    out = text_;
    if (!out.empty()) {
      if (out.back() != '\n') out += eol;
      // A blank line before the new section unless there is one already.
      std::string_view before(out);
      before.remove_suffix(1);
      size_t prev = before.rfind('\n');
      if (!trim(prev == std::string_view::npos ? before : before.substr(prev + 1)).empty()) out += eol;
    }
    out.append("[").append(section).append("]").append(eol);
    out.append(key).append("=").append(value_text).append(eol);
  } else if (const Key* k = find_key(si, key)) {
    // Keep the line's indentation and the key as spelled in the file.
    size_t replace_from = k->name_begin + k->name_size;
    size_t replace_to = k->line_next;
    size_t kept_eol = 0;
    std::string_view tail = std::string_view(text_).substr(replace_from, replace_to - replace_from);
    if (tail.size() >= 2 && tail.substr(tail.size() - 2) == "\r\n") kept_eol = 2;
    else if (!tail.empty() && tail.back() == '\n') kept_eol = 1;
    replace_to -= kept_eol;
    out.reserve(text_.size() + value_text.size() + 1);
    out.append(text_, 0, replace_from).append("=").append(value_text).append(text_, replace_to);
  } else {
    out.reserve(text_.size() + key.size() + value_text.size() + 3);
    out.append(text_, 0, s->insert_at);
    if (s->insert_needs_eol) {
      out.append(eol).append(key).append("=").append(value_text);
    } else {
      out.append(key).append("=").append(value_text).append(eol);
    }
    out.append(text_, s->insert_at);
  }
  text_ = std::move(out);
  index();
  return true;
}

bool IniDocument::remove_key(std::string_view section, std::string_view key) {
  uint32_t si = 0;
  if (!find_section(section, &si)) return false;
  std::vector<std::pair<uint32_t, uint32_t>> cuts;
  for (const Key& k : keys_) {
    if (k.section == si && ini_names_equal(span(k.name_begin, k.name_size), trim(key))) {
      cuts.emplace_back(k.line_begin, k.line_next);
    }
  }
  if (cuts.empty()) return false;
  std::string out;
  out.reserve(text_.size());
  uint32_t from = 0;
  for (const auto& [begin, next] : cuts) {
    out.append(text_, from, begin - from);
    from = next;
  }
  out.append(text_, from);
  // Removing the last line of a text without a final newline leaves the line
  // before it ended, which is harmless.
  text_ = std::move(out);
  index();
  return true;
}

bool IniDocument::remove_section(std::string_view section) {
  std::vector<std::pair<uint32_t, uint32_t>> cuts;
  for (const Section& s : sections_) {
    if (ini_names_equal(span(s.name_begin, s.name_size), section)) cuts.emplace_back(s.begin, s.end);
  }
  if (cuts.empty()) return false;
  std::string out;
  out.reserve(text_.size());
  uint32_t from = 0;
  for (const auto& [begin, end] : cuts) {
    out.append(text_, from, begin - from);
    from = end;
  }
  out.append(text_, from);
  text_ = std::move(out);
  index();
  return true;
}

}  // namespace common
