#include "platform/storage/regedit4.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "platform/storage/ascii.h"

namespace platform::reg {
namespace {

constexpr std::size_t kHexLineWidth = 77;  // regedit's wrap column for hex data

bool less_name(std::string_view a, std::string_view b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(ascii_upper(a[i]));
    auto y = static_cast<unsigned char>(ascii_upper(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

std::vector<KeyNode>::iterator lower_bound(std::vector<KeyNode>& children, std::string_view n) {
  // Children are kept in less_name order, which agrees with equal_no_case.
  return std::lower_bound(children.begin(), children.end(), n,
                          [](const KeyNode& c, std::string_view x) { return less_name(c.name, x); });
}

}  // namespace

KeyNode::KeyNode(const KeyNode& other) : name(other.name), values(other.values) {
  // Each children vector is filled in one go before anything below it is
  // copied, so the pointers kept in `work` stay valid.
  std::vector<std::pair<KeyNode*, const KeyNode*>> work{{this, &other}};
  while (!work.empty()) {
    auto [to, src] = work.back();
    work.pop_back();
    to->children.reserve(src->children.size());
    for (const KeyNode& c : src->children) {
      KeyNode shallow(c.name);
      shallow.values = c.values;
      to->children.push_back(std::move(shallow));
    }
    for (std::size_t i = 0; i < src->children.size(); ++i) {
      if (!src->children[i].children.empty()) work.emplace_back(&to->children[i], &src->children[i]);
    }
  }
}

KeyNode& KeyNode::operator=(const KeyNode& other) {
  if (this != &other) *this = KeyNode(other);
  return *this;
}

KeyNode& KeyNode::operator=(KeyNode&& other) noexcept {
  if (this != &other) {
    KeyNode old(std::move(*this));  // freed without recursion on leaving
    name = std::move(other.name);
    values = std::move(other.values);
    children = std::move(other.children);
  }
  return *this;
}

KeyNode::~KeyNode() {
  if (children.empty()) return;
  // Each subtree's children are moved out before their parent goes, so
  // every destructor this runs finds its own children empty.
  std::vector<std::vector<KeyNode>> pending;
  pending.push_back(std::move(children));
  while (!pending.empty()) {
    std::vector<KeyNode> level = std::move(pending.back());
    pending.pop_back();
    for (KeyNode& c : level) {
      if (!c.children.empty()) pending.push_back(std::move(c.children));
    }
  }
}

KeyNode* KeyNode::child(std::string_view n) {
  auto at = lower_bound(children, n);
  return at != children.end() && equal_no_case(at->name, n) ? &*at : nullptr;
}

KeyNode& KeyNode::add_child(std::string_view n, bool* created) {
  auto at = lower_bound(children, n);
  if (at != children.end() && equal_no_case(at->name, n)) {
    if (created) *created = false;
    return *at;
  }
  if (created) *created = true;
  return *children.insert(at, KeyNode(std::string(n)));
}

Value* KeyNode::value(std::string_view n) {
  for (Value& v : values) {
    if (equal_no_case(v.name, n)) return &v;
  }
  return nullptr;
}

bool has_control_character(std::string_view s) {
  for (char c : s) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) return true;
  }
  return false;
}

std::string shown(std::string_view text) {
  if (text.size() <= 200) return std::string(text);
  return std::string(text.substr(0, 200)) + "... (" + std::to_string(text.size()) + " characters)";
}

std::string join_key_path(std::string_view parent, std::string_view child) {
  if (parent.empty()) return std::string(child);
  return std::string(parent) + "\\" + std::string(child);
}

std::size_t key_depth(std::string_view path) {
  if (path.empty()) return 0;
  return static_cast<std::size_t>(std::count(path.begin(), path.end(), '\\')) + 1;
}

bool split_key_path(std::string_view path, std::vector<std::string>* parts, std::string* why) {
  parts->clear();
  if (path.empty()) return true;
  if (path.back() == '\\') path.remove_suffix(1);
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    if (part.empty() || part.size() > kMaxKeyName || has_control_character(part)) {
      if (why) {
        *why = part.empty()                  ? "an empty key name"
               : part.size() > kMaxKeyName ? "a key name longer than 255 characters"
                                           : "a key name with a control character";
      }
      return false;
    }
    if (parts->size() == kMaxDepth) {
      if (why) *why = "a key deeper than 512 levels";
      return false;
    }
    parts->emplace_back(part);
    start = end + 1;
  }
  return true;
}

namespace {

void escape_into(std::string& out, std::string_view text) {
  // Runs without a quote or backslash are copied whole: values run to 1 MiB.
  for (;;) {
    std::size_t special = text.find_first_of("\\\"");
    out.append(text.substr(0, special));
    if (special == std::string_view::npos) return;
    out += '\\';
    out += text[special];
    text.remove_prefix(special + 1);
  }
}

bool plain_string(const Value& v) {
  if (v.type != REG_SZ || v.data.empty() || v.data.back() != '\0') return false;
  std::string_view text(v.data.data(), v.data.size() - 1);
  return !has_control_character(text) && text.find('\0') == std::string_view::npos;
}

void write_value(std::string& out, const Value& v) {
  std::size_t line_start = out.size();
  if (v.name.empty()) {
    out += '@';
  } else {
    out += '"';
    escape_into(out, v.name);
    out += '"';
  }
  out += '=';
  if (plain_string(v)) {
    out += '"';
    escape_into(out, std::string_view(v.data.data(), v.data.size() - 1));
    out += "\"\n";
    return;
  }
  if (v.type == REG_DWORD && v.data.size() == 4) {
    std::uint32_t n = 0;
    for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(v.data[i]);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x\n", n);
    out += buf;
    return;
  }
  if (v.type == REG_BINARY) {
    out += "hex:";
  } else {
    char buf[24];
    std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
    out += buf;
  }
  std::size_t line_len = out.size() - line_start;
  static const char digits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < v.data.size(); ++i) {
    auto b = static_cast<unsigned char>(v.data[i]);
    out += digits[b >> 4];
    out += digits[b & 15];
    if (i + 1 == v.data.size()) break;
    out += ',';
    line_len += 3;
    if (line_len >= kHexLineWidth) {
      out += "\\\n  ";
      line_len = 2;
    }
  }
  out += '\n';
}

void write_key(std::string& out, const KeyNode& n, std::string_view full) {
  out += '[';
  out += full;
  out += "]\n";
  for (const Value& v : n.values) write_value(out, v);
  out += '\n';
}

// The hive's REGEDIT4 text into `out`, parent before child, walked with a
// stack of frames (no recursion). False as soon as the text would pass
// kMaxHive: such a hive could not be read back, so it is never written.
bool serialize(Root root, const KeyNode& tree, std::string* out) {
  struct Frame {
    const KeyNode* node;
    std::size_t next_child;
    std::size_t path_size;  // length of `path` up to and including this key
  };
  std::string path(root_name(root));
  *out = "REGEDIT4\n\n";
  if (!tree.values.empty()) write_key(*out, tree, path);
  std::vector<Frame> stack{{&tree, 0, path.size()}};
  while (!stack.empty()) {
    if (out->size() > kMaxHive) return false;
    Frame& top = stack.back();
    if (top.next_child == top.node->children.size()) {
      stack.pop_back();
      continue;
    }
    const KeyNode& c = top.node->children[top.next_child++];
    path.resize(top.path_size);
    path += '\\';
    path += c.name;
    write_key(*out, c, path);
    stack.push_back(Frame{&c, 0, path.size()});
  }
  return out->size() <= kMaxHive;
}

// ---- REGEDIT4 reading ----

class HiveParser {
 public:
  HiveParser(std::string_view text, Root root) : text_(text), root_(root) {}

  bool parse(KeyNode* tree, std::string* error) {
    if (text_.empty()) return true;  // zero bytes: an empty hive, nothing to lose
    if (std::size_t nul = text_.find('\0'); nul != std::string_view::npos) {
      line_no_ = 1;
      for (std::size_t i = 0; i < nul; ++i) line_no_ += text_[i] == '\n';
      return fail(error, "holds a NUL byte (not a text file)");
    }
    if (text_.starts_with("\xEF\xBB\xBF")) text_.remove_prefix(3);
    std::string_view line;
    if (!next_line(&line) || trim_right(line) != "REGEDIT4") {
      return fail(error, "the first line is not \"REGEDIT4\"");
    }
    KeyNode* current = nullptr;
    while (next_line(&line)) {
      line = trim_left(line);
      if (line.empty() || line.front() == ';') continue;
      std::string why;
      if (line.front() == '[') {
        current = key_line(line, tree, &why);
      } else if (line.front() == '"' || line.front() == '@') {
        if (!current) {
          why = "a value before any [key] line";
        } else {
          value_line(line, current, &why);
        }
      } else {
        why = "not a key, value or comment line";
      }
      if (!why.empty()) return fail(error, why);
    }
    return true;
  }

 private:
  static std::string_view trim_left(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
  }
  static std::string_view trim_right(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
  }

  bool next_line(std::string_view* line) {
    if (pos_ >= text_.size()) return false;
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    *line = text_.substr(pos_, end - pos_);
    if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
    pos_ = end + 1;
    ++line_no_;
    return true;
  }

  bool fail(std::string* error, const std::string& why) const {
    if (error) *error = std::to_string(line_no_) + ": " + why;
    return false;
  }

  KeyNode* key_line(std::string_view line, KeyNode* tree, std::string* why) {
    line = trim_right(line);
    if (line.size() < 2 || line.back() != ']') {
      *why = "a key line without its closing ']'";
      return nullptr;
    }
    std::string_view name = line.substr(1, line.size() - 2);
    if (name.starts_with('-')) {
      *why = "a key deletion (\"[-...]\") has no place in a hive";
      return nullptr;
    }
    std::string_view root = root_name(root_);
    std::string_view rest;
    if (equal_no_case(name, root)) {
      rest = {};
    } else if (name.size() > root.size() && name[root.size()] == '\\' &&
               equal_no_case(name.substr(0, root.size()), root)) {
      rest = name.substr(root.size() + 1);
    } else {
      *why = "the key \"" + std::string(name) + "\" is not under " + std::string(root);
      return nullptr;
    }
    std::vector<std::string> parts;
    std::string rule = "an empty key name";
    if (!split_key_path(rest, &parts, &rule) || (!rest.empty() && rest.back() == '\\')) {
      *why = "the key \"" + shown(name) + "\" has " + rule;
      return nullptr;
    }
    KeyNode* n = tree;
    for (const std::string& p : parts) n = &n->add_child(p, nullptr);
    return n;
  }

  // Reads a quoted string at the start of `s`; leaves `s` after the quote.
  static bool quoted(std::string_view& s, std::string* out, std::string* why) {
    s.remove_prefix(1);
    out->clear();
    while (!s.empty()) {
      std::size_t special = s.find_first_of("\\\"");
      if (special == std::string_view::npos) break;
      out->append(s.substr(0, special));
      s.remove_prefix(special);
      char c = s.front();
      s.remove_prefix(1);
      if (c == '"') return true;
      if (c == '\\') {
        if (s.empty() || (s.front() != '\\' && s.front() != '"')) {
          *why = "an unknown escape in a quoted string (only \\\\ and \\\" are known)";
          return false;
        }
        c = s.front();
        s.remove_prefix(1);
      }
      *out += c;
    }
    *why = "a quoted string without its closing '\"'";
    return false;
  }

  static int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // 1 to `max` hex digits making up all of `s`.
  static bool hex_number(std::string_view s, std::size_t max, std::uint32_t* n) {
    if (s.empty() || s.size() > max) return false;
    *n = 0;
    for (char c : s) {
      int d = hex_digit(c);
      if (d < 0) return false;
      *n = (*n << 4) | static_cast<std::uint32_t>(d);
    }
    return true;
  }

  void value_line(std::string_view line, KeyNode* key, std::string* why) {
    Value v;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else if (!quoted(line, &v.name, why)) {
      return;
    }
    if (v.name.size() > kMaxValueName || has_control_character(v.name)) {
      *why = "a value name that is too long or holds control characters";
      return;
    }
    line = trim_left(line);
    if (line.empty() || line.front() != '=') {
      *why = "a value without '='";
      return;
    }
    line = trim_left(line.substr(1));
    if (line.starts_with('"')) {
      std::string text;
      if (!quoted(line, &text, why)) return;
      if (!trim_right(line).empty()) {
        *why = "text after the closing quote";
        return;
      }
      v.type = REG_SZ;
      v.data = text;
      v.data += '\0';
    } else if (line.starts_with("dword:")) {
      std::uint32_t n;
      if (!hex_number(trim_right(line.substr(6)), 8, &n)) {
        *why = "a dword that is not 1 to 8 hex digits";
        return;
      }
      v.type = REG_DWORD;
      for (int i = 0; i < 4; ++i) v.data += static_cast<char>((n >> (8 * i)) & 0xff);
    } else if (line.starts_with("hex:") || line.starts_with("hex(")) {
      if (!hex_value(line, &v, why)) return;
    } else if (line == "-") {
      *why = "a value deletion (\"=-\") has no place in a hive";
      return;
    } else {
      *why = "value data that is neither \"text\", dword: nor hex:";
      return;
    }
    if (Value* old = key->value(v.name)) {
      old->type = v.type;
      old->data = std::move(v.data);
    } else {
      key->values.push_back(std::move(v));
    }
  }

  bool hex_value(std::string_view line, Value* v, std::string* why) {
    if (line.starts_with("hex:")) {
      v->type = REG_BINARY;
      line.remove_prefix(4);
    } else {
      std::size_t close = line.find("):");
      if (close == std::string_view::npos || !hex_number(line.substr(4, close - 4), 8, &v->type)) {
        *why = "a hex(N): type that is not 1 to 8 hex digits";
        return false;
      }
      line.remove_prefix(close + 2);
    }
    std::string joined(trim_right(line));
    while (!joined.empty() && joined.back() == '\\') {
      joined.pop_back();
      std::string_view more;
      if (!next_line(&more)) {
        *why = "hex data continues past the end of the file";
        return false;
      }
      joined += trim_right(trim_left(more));
    }
    std::string_view rest = joined;
    while (!rest.empty()) {
      std::size_t comma = rest.find(',');
      std::string_view token = trim_right(trim_left(rest.substr(0, comma)));
      std::uint32_t b;
      if (!hex_number(token, 2, &b)) {
        // One trailing comma, as hand-edited files have, is let pass.
        if (token.empty() && comma == std::string_view::npos && !v->data.empty()) break;
        *why = "hex data with \"" + std::string(token) + "\", which is not a byte";
        return false;
      }
      v->data += static_cast<char>(b);
      if (v->data.size() > kMaxData) {
        *why = "a value larger than 1 MiB";
        return false;
      }
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
      if (rest.empty()) break;
    }
    return true;
  }

  std::string_view text_;
  Root root_;
  std::size_t pos_ = 0;
  int line_no_ = 0;
};

}  // namespace

bool parse_regedit4(std::string_view text, Root root, KeyNode* tree, std::string* error) {
  return HiveParser(text, root).parse(tree, error);
}

bool format_regedit4(Root root, const KeyNode& tree, std::string* out) { return serialize(root, tree, out); }

bool parse_hive(std::string_view text, Root root, std::vector<ParsedKey>* keys,
                std::string* error) {
  KeyNode tree;
  if (!parse_regedit4(text, root, &tree, error)) return false;
  if (keys) {
    keys->clear();
    // Pre-order without recursion: children pushed last to first.
    std::vector<std::pair<const KeyNode*, std::string>> work;
    work.emplace_back(&tree, "");
    while (!work.empty()) {
      auto [n, path] = std::move(work.back());
      work.pop_back();
      for (auto c = n->children.rbegin(); c != n->children.rend(); ++c) {
        work.emplace_back(&*c, join_key_path(path, c->name));
      }
      keys->push_back(ParsedKey{std::move(path), n->values});
    }
  }
  return true;
}

}  // namespace platform::reg
