// REGEDIT4 text: the hive file format of the registry (registry.h), as pure
// functions between text and a tree of keys. Nothing here touches a file;
// the hive store reads and writes the files and keeps the trees.
//
// The format and its limits are described in registry.h. Every way into a
// tree (parsing a hive's text, which also serves a hive file read from disk,
// and the registry's create_key) refuses a key more than kMaxDepth levels
// below the root, so a tree is never deeper than that.
//
// Index: limits, KeyNode, split_key_path, key_depth, parse_regedit4,
// format_regedit4.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/storage/registry.h"

namespace platform::reg {

inline constexpr std::size_t kMaxKeyName = 255;
inline constexpr std::size_t kMaxDepth = 512;  // levels below the root, as Windows allows
inline constexpr std::size_t kMaxValueName = 16383;
inline constexpr std::size_t kMaxData = 1 << 20;
inline constexpr std::size_t kMaxHive = 64u << 20;

// A key and its subtree. Copying and destroying walk the tree with a work
// list: the compiler's member-wise copy recurses once per level through
// several frames, which 512 levels overflow on a small thread stack.
struct KeyNode {
  std::string name;
  std::vector<Value> values;        // in the order they were first set
  std::vector<KeyNode> children;    // sorted by name without regard to case

  KeyNode() = default;
  explicit KeyNode(std::string n) : name(std::move(n)) {}
  KeyNode(const KeyNode& other);
  KeyNode(KeyNode&&) noexcept = default;
  KeyNode& operator=(const KeyNode& other);
  KeyNode& operator=(KeyNode&& other) noexcept;
  ~KeyNode();

  // The child named `n` (any case), or nullptr.
  KeyNode* child(std::string_view n);
  // The child named `n`, created in sorted position if missing.
  KeyNode& add_child(std::string_view n, bool* created);
  // The value named `n` (any case), or nullptr.
  Value* value(std::string_view n);
};

// True when `name` holds a control character, which the format cannot write.
bool has_control_character(std::string_view name);

// `text` for a message: cut after 200 characters, so a key path of
// thousands of levels does not flood the log.
std::string shown(std::string_view text);

// "A\B" and "C" give "A\B\C"; an empty parent gives the child alone.
std::string join_key_path(std::string_view parent, std::string_view child);

// Number of keys in a stored path ("" = the root itself, "A\B" = 2).
std::size_t key_depth(std::string_view path);

// Splits "A\B\C" into components. One trailing backslash is tolerated;
// empty, over-long or control-character components are not, nor more than
// kMaxDepth of them. `why` (optional) tells which rule was broken.
bool split_key_path(std::string_view path, std::vector<std::string>* parts, std::string* why = nullptr);

// Parses a hive's text for `root` into `tree`; false and `error` ("LINE:
// reason") when it is not a valid hive. Zero bytes are an empty hive.
bool parse_regedit4(std::string_view text, Root root, KeyNode* tree, std::string* error);

// The hive's text: every key, parent before child. False as soon as the
// text would pass kMaxHive: such a hive could not be read back.
bool format_regedit4(Root root, const KeyNode& tree, std::string* out);

}  // namespace platform::reg
