#include "platform/storage/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "platform/loop/clock.h"
#include "platform/storage/ascii.h"
#include "platform/storage/files.h"
#include "platform/loop/log.h"
#include "platform/storage/system_root.h"

namespace platform::reg {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxKeyName = 255;
constexpr std::size_t kMaxDepth = 512;  // levels below the root, as Windows allows
constexpr std::size_t kMaxValueName = 16383;
constexpr std::size_t kMaxData = 1 << 20;
constexpr std::size_t kMaxHive = 64u << 20;
constexpr std::size_t kHexLineWidth = 77;  // regedit's wrap column for hex data

thread_local std::string t_last_error;

struct RootInfo {
  Root root;
  std::string_view name;
  std::string_view file;
};

constexpr RootInfo kRoots[] = {
    {Root::ClassesRoot, "HKEY_CLASSES_ROOT", "hkey_classes_root.reg"},
    {Root::CurrentUser, "HKEY_CURRENT_USER", "hkey_current_user.reg"},
    {Root::LocalMachine, "HKEY_LOCAL_MACHINE", "hkey_local_machine.reg"},
    {Root::Users, "HKEY_USERS", "hkey_users.reg"},
    {Root::CurrentConfig, "HKEY_CURRENT_CONFIG", "hkey_current_config.reg"},
    {Root::DynData, "HKEY_DYN_DATA", "hkey_dyn_data.reg"},
};

const RootInfo& info(Root root) {
  for (const RootInfo& r : kRoots) {
    if (r.root == root) return r;
  }
  return kRoots[1];
}

bool less_name(std::string_view a, std::string_view b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(ascii_upper(a[i]));
    auto y = static_cast<unsigned char>(ascii_upper(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

bool has_control(std::string_view s) {
  for (char c : s) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) return true;
  }
  return false;
}

// A key and its subtree. Copying and destroying walk the tree with a work
// list instead of recursing, so no depth of nesting (a hive file edited by
// hand, a tree built before the depth limit) can exhaust the stack.
struct Node {
  std::string name;
  std::vector<Value> values;
  std::vector<Node> children;  // sorted by name without regard to case

  Node() = default;
  explicit Node(std::string n) : name(std::move(n)) {}
  Node(const Node& other) : name(other.name), values(other.values) { copy_children(other); }
  Node(Node&&) noexcept = default;
  Node& operator=(const Node& other) {
    if (this != &other) *this = Node(other);
    return *this;
  }
  Node& operator=(Node&& other) noexcept {
    if (this != &other) {
      Node old(std::move(*this));  // freed without recursion on leaving
      name = std::move(other.name);
      values = std::move(other.values);
      children = std::move(other.children);
    }
    return *this;
  }
  ~Node() {
    if (children.empty()) return;
    // Each subtree's children are moved out before their parent goes, so
    // every destructor this runs finds its own children empty.
    std::vector<std::vector<Node>> pending;
    pending.push_back(std::move(children));
    while (!pending.empty()) {
      std::vector<Node> level = std::move(pending.back());
      pending.pop_back();
      for (Node& c : level) {
        if (!c.children.empty()) pending.push_back(std::move(c.children));
      }
    }
  }

  // The child named `n` (any case), or nullptr. Binary search: children are
  // kept in less_name order, which agrees with equal_no_case.
  Node* child(std::string_view n) {
    auto at = lower_bound(n);
    return at != children.end() && equal_no_case(at->name, n) ? &*at : nullptr;
  }
  // The child named `n`, created in sorted position if missing.
  Node& add_child(std::string_view n, bool* created) {
    auto at = lower_bound(n);
    if (at != children.end() && equal_no_case(at->name, n)) {
      if (created) *created = false;
      return *at;
    }
    if (created) *created = true;
    return *children.insert(at, Node(std::string(n)));
  }
  Value* value(std::string_view n) {
    for (Value& v : values) {
      if (equal_no_case(v.name, n)) return &v;
    }
    return nullptr;
  }

 private:
  std::vector<Node>::iterator lower_bound(std::string_view n) {
    return std::lower_bound(children.begin(), children.end(), n,
                            [](const Node& c, std::string_view x) { return less_name(c.name, x); });
  }
  // Copies the subtree below `from` into this node's (empty) children. Each
  // children vector is filled in one go before anything below it is copied,
  // so the pointers kept in `work` stay valid.
  void copy_children(const Node& from) {
    std::vector<std::pair<Node*, const Node*>> work{{this, &from}};
    while (!work.empty()) {
      auto [to, src] = work.back();
      work.pop_back();
      to->children.reserve(src->children.size());
      for (const Node& c : src->children) {
        Node shallow(c.name);
        shallow.values = c.values;
        to->children.push_back(std::move(shallow));
      }
      for (std::size_t i = 0; i < src->children.size(); ++i) {
        if (!src->children[i].children.empty()) work.emplace_back(&to->children[i], &src->children[i]);
      }
    }
  }
};

// `text` for a message: cut after 200 characters, so a key path of
// thousands of levels does not flood the log.
std::string shown(std::string_view text) {
  if (text.size() <= 200) return std::string(text);
  return std::string(text.substr(0, 200)) + "... (" + std::to_string(text.size()) + " characters)";
}

// Number of keys in a stored path ("" = the root itself, "A\B" = 2).
std::size_t key_depth(std::string_view path) {
  if (path.empty()) return 0;
  return static_cast<std::size_t>(std::count(path.begin(), path.end(), '\\')) + 1;
}

// Splits "A\B\C" into components. One trailing backslash is tolerated;
// empty, over-long or control-character components are not, nor more than
// kMaxDepth of them. `why` (optional) tells which rule was broken.
bool split_key_path(std::string_view path, std::vector<std::string>* parts,
                    std::string* why = nullptr) {
  parts->clear();
  if (path.empty()) return true;
  if (path.back() == '\\') path.remove_suffix(1);
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    if (part.empty() || part.size() > kMaxKeyName || has_control(part)) {
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

// The node at `path` (components in any case), or nullptr.
Node* find(Node& root, std::string_view path) {
  std::vector<std::string> parts;
  if (!split_key_path(path, &parts)) return nullptr;
  Node* n = &root;
  for (const std::string& p : parts) {
    n = n->child(p);
    if (!n) return nullptr;
  }
  return n;
}

std::string join(std::string_view parent, std::string_view child) {
  if (parent.empty()) return std::string(child);
  return std::string(parent) + "\\" + std::string(child);
}

// find(), also giving the path with the case the keys were created with.
Node* find_stored(Node& root, std::string_view path, std::string* stored) {
  std::vector<std::string> parts;
  if (!split_key_path(path, &parts)) return nullptr;
  Node* n = &root;
  stored->clear();
  for (const std::string& p : parts) {
    n = n->child(p);
    if (!n) return nullptr;
    *stored = join(*stored, n->name);
  }
  return n;
}

// ---- REGEDIT4 writing ----

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
  return !has_control(text) && text.find('\0') == std::string_view::npos;
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

void write_key(std::string& out, const Node& n, std::string_view full) {
  out += '[';
  out += full;
  out += "]\n";
  for (const Value& v : n.values) write_value(out, v);
  out += '\n';
}

// The hive's REGEDIT4 text into `out`, parent before child, walked with a
// stack of frames (no recursion). False as soon as the text would pass
// kMaxHive: such a hive could not be read back, so it is never written.
bool serialize(Root root, const Node& tree, std::string* out) {
  struct Frame {
    const Node* node;
    std::size_t next_child;
    std::size_t path_size;  // length of `path` up to and including this key
  };
  std::string path(info(root).name);
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
    const Node& c = top.node->children[top.next_child++];
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

  bool parse(Node* tree, std::string* error) {
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
    Node* current = nullptr;
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

  Node* key_line(std::string_view line, Node* tree, std::string* why) {
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
    std::string_view root = info(root_).name;
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
    Node* n = tree;
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

  void value_line(std::string_view line, Node* key, std::string* why) {
    Value v;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else if (!quoted(line, &v.name, why)) {
      return;
    }
    if (v.name.size() > kMaxValueName || has_control(v.name)) {
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

struct FileId {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  std::int64_t mtime_ns = 0;
  std::int64_t ctime_ns = 0;
  bool operator==(const FileId&) const = default;
};

FileId id_of(const struct stat& st) {
  FileId id;
  id.exists = true;
  id.dev = st.st_dev;
  id.ino = st.st_ino;
  id.size = st.st_size;
  id.mtime_ns = std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
  id.ctime_ns = std::int64_t{st.st_ctim.tv_sec} * 1'000'000'000 + st.st_ctim.tv_nsec;
  return id;
}

}  // namespace

struct Registry::Hive {
  Node tree;
  bool cached = false;
  FileId id;
  long status = ERROR_SUCCESS;  // ERROR_BADDB while the file is corrupt
  std::string error;            // why, with path and line
  std::size_t written_size = 0; // bytes of the file as last read or written
  // Deferred writes: the tree holds changes the file does not have yet. The
  // hive's lock is held meanwhile, so no other writer can come between.
  bool dirty = false;
  std::unique_ptr<FileLock> lock;
  std::size_t size_bound = 0;   // upper bound of the tree's serialized size
  std::int64_t failed_at = -1;  // clock time of the last failed write, -1 after a good one
};

std::optional<Root> root_from_name(std::string_view name) {
  for (const RootInfo& r : kRoots) {
    if (r.name == name) return r.root;
  }
  return std::nullopt;
}

std::string_view root_name(Root root) { return info(root).name; }
std::string_view hive_file_name(Root root) { return info(root).file; }

bool parse_hive(std::string_view text, Root root, std::vector<ParsedKey>* keys,
                std::string* error) {
  Node tree;
  if (!HiveParser(text, root).parse(&tree, error)) return false;
  if (keys) {
    keys->clear();
    // Pre-order without recursion: children pushed last to first.
    std::vector<std::pair<const Node*, std::string>> work;
    work.emplace_back(&tree, "");
    while (!work.empty()) {
      auto [n, path] = std::move(work.back());
      work.pop_back();
      for (auto c = n->children.rbegin(); c != n->children.rend(); ++c) {
        work.emplace_back(&*c, join(path, c->name));
      }
      keys->push_back(ParsedKey{std::move(path), n->values});
    }
  }
  return true;
}

Registry::Registry(fs::path folder) : folder_(std::move(folder)) {}
Registry::~Registry() { flush(); }

fs::path Registry::hive_path(Root root) const { return folder_ / std::string(info(root).file); }

std::string Registry::last_error() const { return t_last_error; }

long Registry::fail(long code, std::string text) {
  t_last_error = std::move(text);
  return code;
}

Registry::Hive& Registry::hive(Root root) {
  auto& slot = hives_[root];
  if (!slot) slot = std::make_unique<Hive>();
  return *slot;
}

long Registry::load(Root root, Hive& h) {
  if (h.dirty) return ERROR_SUCCESS;  // the tree is newer than the file; the lock keeps others out
  fs::path path = hive_path(root);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    if (err != ENOENT) {
      h.cached = false;
      return fail(ERROR_CANTREAD, "registry hive " + path.string() + ": " + std::strerror(err));
    }
    if (!h.cached || h.id.exists) {
      h.tree = Node{};
      h.id = FileId{};
      h.status = ERROR_SUCCESS;
      h.error.clear();
      h.cached = true;
    }
    return ERROR_SUCCESS;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    h.cached = false;
    return fail(ERROR_CANTREAD, "registry hive " + path.string() + ": " + std::strerror(err));
  }
  FileId id = id_of(st);
  if (h.cached && h.id == id) {
    ::close(fd);
    return h.status == ERROR_SUCCESS ? ERROR_SUCCESS : fail(h.status, h.error);
  }
  std::string text;
  std::string why;
  if (static_cast<std::size_t>(st.st_size) > kMaxHive) {
    why = "1: the file is larger than 64 MiB";
  } else {
    text.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    for (;;) {
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        int err = errno;
        ::close(fd);
        h.cached = false;
        return fail(ERROR_CANTREAD, "registry hive " + path.string() + ": " + std::strerror(err));
      }
      if (n == 0) break;
      text.append(buf, static_cast<std::size_t>(n));
      if (text.size() > kMaxHive) {
        why = "1: the file is larger than 64 MiB";
        break;
      }
    }
  }
  ::close(fd);
  Node tree;
  if (why.empty()) HiveParser(text, root).parse(&tree, &why);
  h.id = id;
  h.cached = true;
  if (!why.empty()) {
    h.tree = Node{};
    h.status = ERROR_BADDB;
    h.error = "registry hive " + path.string() + ":" + why +
              " (the file is left as it is; fix or remove it)";
    log_error("registry", h.error);
    return fail(ERROR_BADDB, h.error);
  }
  h.tree = std::move(tree);
  h.status = ERROR_SUCCESS;
  h.error.clear();
  h.written_size = text.size();
  return ERROR_SUCCESS;
}

// Runs `change(tree, changed)` on a copy of the freshly loaded hive under the
// hive's lock and writes the result when something changed. The cached tree
// is replaced only when the file was written, or, with deferred writes, at
// once (the file follows at flush). `growth` bounds how many bytes the
// change can add to the serialized hive: the size limit is checked with it
// and the text is made only when the bound comes near the limit.
template <typename Change>
long Registry::modify(Root root, std::size_t growth, Change change) {
  std::lock_guard guard(mutex_);
  fs::path path = hive_path(root);
  std::error_code ec;
  if (!fs::is_directory(folder_, ec)) {
    if (folder_.has_parent_path()) fs::create_directories(folder_.parent_path(), ec);
    if (::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) {
      return fail(ERROR_CANTWRITE,
                  "registry folder " + folder_.string() + ": " + std::strerror(errno));
    }
  }
  Hive& h = hive(root);
  std::unique_ptr<FileLock> lock;
  if (!h.lock) {
    lock = std::make_unique<FileLock>(path);
    if (!lock->locked()) return fail(ERROR_CANTWRITE, "registry hive: " + lock->error());
  }
  if (long rc = load(root, h); rc != ERROR_SUCCESS) return rc;
  Node tree = h.tree;
  bool changed = false;
  long rc = change(tree, changed);
  if (rc != ERROR_SUCCESS || !changed) return rc;
  auto too_large = [&] {
    return fail(ERROR_NOT_ENOUGH_QUOTA, "registry hive " + path.string() +
                                            ": the change would make it larger than 64 MiB; "
                                            "nothing was written");
  };
  std::string text;
  if (deferred_) {
    std::size_t bound = (h.dirty ? h.size_bound : h.written_size) + growth;
    if (bound > kMaxHive) {
      if (!serialize(root, tree, &text)) return too_large();
      bound = text.size();
    }
    h.tree = std::move(tree);
    h.size_bound = bound;
    if (!h.dirty) {
      h.dirty = true;
      h.lock = std::move(lock);
      if (unwritten_since_ < 0) unwritten_since_ = clock().now_ms();
    }
    return ERROR_SUCCESS;
  }
  if (!serialize(root, tree, &text)) return too_large();
  std::string error;
  if (!replace_file(path, text, FileMode::OwnerOnly, &error)) {
    h.cached = false;  // the file may or may not be new: read it again next time
    log_error("registry", error);
    return fail(ERROR_CANTWRITE, "registry hive " + path.string() + ": " + error);
  }
  h.tree = std::move(tree);
  h.written_size = text.size();
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    h.id = id_of(st);
  } else {
    h.cached = false;
  }
  return ERROR_SUCCESS;
}

void Registry::set_deferred_writes(bool on) {
  {
    std::lock_guard guard(mutex_);
    deferred_ = on;
  }
  if (!on) flush();
}

long Registry::flush() {
  std::lock_guard guard(mutex_);
  long result = ERROR_SUCCESS;
  bool all_written = true;
  for (auto& [root, slot] : hives_) {
    Hive& h = *slot;
    if (!h.dirty) continue;
    const fs::path path = hive_path(root);
    // While writes are deferred, a hive that could not be written (a full
    // disk) is tried again a second later, not on every tick.
    if (deferred_ && h.failed_at >= 0 && clock().now_ms() - h.failed_at < 1000) {
      result = fail(ERROR_CANTWRITE, "registry hive " + path.string() + ": the last write failed");
      all_written = false;
      continue;
    }
    std::string text;
    std::string error;
    if (!serialize(root, h.tree, &text)) {
      error = "larger than 64 MiB";
    } else if (replace_file(path, text, FileMode::OwnerOnly, &error)) {
      struct stat st;
      h.cached = ::stat(path.c_str(), &st) == 0;
      if (h.cached) h.id = id_of(st);
      h.written_size = text.size();
      h.dirty = false;
      h.failed_at = -1;
      h.lock.reset();
      continue;
    }
    h.failed_at = clock().now_ms();
    // Kept in memory, and the lock with it: the next flush tries again.
    log_error("registry", "registry hive " + path.string() + " not written: " + error);
    result = fail(ERROR_CANTWRITE, "registry hive " + path.string() + ": " + error);
    all_written = false;
  }
  if (all_written) unwritten_since_ = -1;
  return result;
}

std::int64_t Registry::unwritten_since() const {
  std::lock_guard guard(mutex_);
  return unwritten_since_;
}

long Registry::create_key(const Key& parent, std::string_view subkey, Key* key, bool* created) {
  std::vector<std::string> parts;
  std::string why;
  if (!split_key_path(subkey, &parts, &why)) {
    return fail(ERROR_INVALID_PARAMETER, "invalid key \"" + shown(subkey) + "\": " + why);
  }
  if (key_depth(parent.path) + parts.size() > kMaxDepth) {
    return fail(ERROR_INVALID_PARAMETER,
                "invalid key \"" + shown(subkey) + "\": a key deeper than 512 levels");
  }
  Key result;
  bool made_last = false;
  // Each new key is a header line with its whole path.
  const std::size_t growth = parts.size() * (std::string_view(root_name(parent.root)).size() +
                                             parent.path.size() + subkey.size() + 8);
  long rc = modify(parent.root, growth, [&](Node& tree, bool& changed) {
    std::string stored;
    Node* n = find_stored(tree, parent.path, &stored);
    if (!n) return fail(ERROR_KEY_DELETED, "key \"" + parent.path + "\" no longer exists");
    Node* w = n;
    for (const std::string& p : parts) {
      bool made = false;
      w = &w->add_child(p, &made);
      made_last = made;
      changed = changed || made;
      stored = join(stored, w->name);
    }
    result = Key{parent.root, stored};
    return ERROR_SUCCESS;
  });
  if (rc != ERROR_SUCCESS) return rc;
  if (key) *key = result;
  if (created) *created = made_last;
  return ERROR_SUCCESS;
}

long Registry::open_key(const Key& parent, std::string_view subkey, Key* key) {
  std::vector<std::string> parts;
  std::string why;
  if (!split_key_path(subkey, &parts, &why)) {
    return fail(ERROR_INVALID_PARAMETER, "invalid key \"" + shown(subkey) + "\": " + why);
  }
  std::lock_guard guard(mutex_);
  Hive& h = hive(parent.root);
  if (long rc = load(parent.root, h); rc != ERROR_SUCCESS) return rc;
  std::string stored;
  Node* w = find_stored(h.tree, parent.path, &stored);
  if (!w) return fail(ERROR_KEY_DELETED, "key \"" + parent.path + "\" no longer exists");
  for (const std::string& p : parts) {
    w = w->child(p);
    if (!w) {
      return fail(ERROR_FILE_NOT_FOUND, "no key \"" + join(parent.path, subkey) + "\" in " +
                                            std::string(root_name(parent.root)));
    }
    stored = join(stored, w->name);
  }
  if (key) *key = Key{parent.root, stored};
  return ERROR_SUCCESS;
}

long Registry::delete_key(const Key& parent, std::string_view subkey) {
  std::vector<std::string> parts;
  if (!split_key_path(subkey, &parts) || parts.empty()) {
    return fail(ERROR_INVALID_PARAMETER, "invalid key name \"" + std::string(subkey) + "\"");
  }
  return modify(parent.root, 0, [&](Node& tree, bool& changed) {
    Node* n = find(tree, parent.path);
    if (!n) return fail(ERROR_KEY_DELETED, "key \"" + parent.path + "\" no longer exists");
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
      n = n->child(parts[i]);
      if (!n) return fail(ERROR_FILE_NOT_FOUND, "no key \"" + std::string(subkey) + "\"");
    }
    for (auto it = n->children.begin(); it != n->children.end(); ++it) {
      if (!equal_no_case(it->name, parts.back())) continue;
      if (!it->children.empty()) {
        return fail(ERROR_ACCESS_DENIED,
                    "key \"" + std::string(subkey) + "\" has subkeys; delete them first");
      }
      n->children.erase(it);
      changed = true;
      return ERROR_SUCCESS;
    }
    return fail(ERROR_FILE_NOT_FOUND, "no key \"" + std::string(subkey) + "\"");
  });
}

long Registry::set_value(const Key& key, std::string_view name, std::uint32_t type,
                         const void* data, std::size_t size) {
  if (name.size() > kMaxValueName || has_control(name)) {
    return fail(ERROR_INVALID_PARAMETER, "invalid value name \"" + std::string(name) + "\"");
  }
  if (size > kMaxData || (!data && size > 0)) {
    return fail(ERROR_INVALID_PARAMETER, "value data missing or larger than 1 MiB");
  }
  std::string bytes(static_cast<const char*>(data), size);
  // A value line: its escaped name, and its data as hex (3 characters a
  // byte, plus the wrapped lines' continuations) or escaped text; a key
  // header too when the key had no line yet.
  const std::size_t growth = 2 * name.size() + 4 * size + key.path.size() + 96;
  return modify(key.root, growth, [&](Node& tree, bool& changed) {
    Node* n = find(tree, key.path);
    if (!n) return fail(ERROR_KEY_DELETED, "key \"" + key.path + "\" no longer exists");
    if (Value* v = n->value(name)) {
      changed = v->type != type || v->data != bytes;
      v->type = type;
      v->data = bytes;
    } else {
      n->values.push_back(Value{std::string(name), type, bytes});
      changed = true;
    }
    return ERROR_SUCCESS;
  });
}

long Registry::set_string(const Key& key, std::string_view name, std::string_view text) {
  std::string data(text);
  data += '\0';
  return set_value(key, name, REG_SZ, data.data(), data.size());
}

long Registry::set_dword(const Key& key, std::string_view name, std::uint32_t number) {
  char bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((number >> (8 * i)) & 0xff);
  return set_value(key, name, REG_DWORD, bytes, sizeof bytes);
}

long Registry::set_binary(const Key& key, std::string_view name, std::string_view bytes) {
  return set_value(key, name, REG_BINARY, bytes.data(), bytes.size());
}

long Registry::query_value(const Key& key, std::string_view name, Value* value) {
  std::lock_guard guard(mutex_);
  Hive& h = hive(key.root);
  if (long rc = load(key.root, h); rc != ERROR_SUCCESS) return rc;
  Node* n = find(h.tree, key.path);
  if (!n) return fail(ERROR_KEY_DELETED, "key \"" + key.path + "\" no longer exists");
  Value* v = n->value(name);
  if (!v) {
    return fail(ERROR_FILE_NOT_FOUND,
                "no value \"" + std::string(name) + "\" in key \"" + key.path + "\"");
  }
  if (value) *value = *v;
  return ERROR_SUCCESS;
}

long Registry::query_value(const Key& key, std::string_view name, std::uint32_t* type, void* data,
                           std::uint32_t* size) {
  if (data && !size) return fail(ERROR_INVALID_PARAMETER, "a buffer without its size");
  Value v;
  if (long rc = query_value(key, name, &v); rc != ERROR_SUCCESS) return rc;
  auto needed = static_cast<std::uint32_t>(v.data.size());
  if (type) *type = v.type;
  if (data) {
    if (*size < needed) {
      *size = needed;
      return fail(ERROR_MORE_DATA, "value \"" + std::string(name) + "\" needs " +
                                       std::to_string(needed) + " bytes");
    }
    if (needed) std::memcpy(data, v.data.data(), needed);
  }
  if (size) *size = needed;
  return ERROR_SUCCESS;
}

long Registry::delete_value(const Key& key, std::string_view name) {
  return modify(key.root, 0, [&](Node& tree, bool& changed) {
    Node* n = find(tree, key.path);
    if (!n) return fail(ERROR_KEY_DELETED, "key \"" + key.path + "\" no longer exists");
    for (auto it = n->values.begin(); it != n->values.end(); ++it) {
      if (equal_no_case(it->name, name)) {
        n->values.erase(it);
        changed = true;
        return ERROR_SUCCESS;
      }
    }
    return fail(ERROR_FILE_NOT_FOUND,
                "no value \"" + std::string(name) + "\" in key \"" + key.path + "\"");
  });
}

long Registry::enum_key(const Key& key, std::uint32_t index, std::string* name) {
  std::lock_guard guard(mutex_);
  Hive& h = hive(key.root);
  if (long rc = load(key.root, h); rc != ERROR_SUCCESS) return rc;
  Node* n = find(h.tree, key.path);
  if (!n) return fail(ERROR_KEY_DELETED, "key \"" + key.path + "\" no longer exists");
  if (index >= n->children.size()) return ERROR_NO_MORE_ITEMS;
  if (name) *name = n->children[index].name;
  return ERROR_SUCCESS;
}

long Registry::enum_value(const Key& key, std::uint32_t index, Value* value) {
  std::lock_guard guard(mutex_);
  Hive& h = hive(key.root);
  if (long rc = load(key.root, h); rc != ERROR_SUCCESS) return rc;
  Node* n = find(h.tree, key.path);
  if (!n) return fail(ERROR_KEY_DELETED, "key \"" + key.path + "\" no longer exists");
  if (index >= n->values.size()) return ERROR_NO_MORE_ITEMS;
  if (value) *value = n->values[index];
  return ERROR_SUCCESS;
}

Registry& system_registry() {
  static std::mutex mutex;
  static std::map<fs::path, std::unique_ptr<Registry>> registries;
  fs::path folder = known_folder(KnownFolder::Registry);
  std::lock_guard lock(mutex);
  auto& slot = registries[folder];
  if (!slot) slot = std::make_unique<Registry>(folder);
  return *slot;
}

}  // namespace platform::reg
