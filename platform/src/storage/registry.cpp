#include "platform/storage/registry.h"

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
#include "platform/storage/regedit4.h"
#include "platform/loop/log.h"
#include "platform/storage/system_root.h"

namespace platform::reg {
namespace {

namespace fs = std::filesystem;


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

// find(), also giving the path with the case the keys were created with.
KeyNode* find_stored(KeyNode& root, std::string_view path, std::string* stored) {
  std::vector<std::string> parts;
  if (!split_key_path(path, &parts)) return nullptr;
  KeyNode* n = &root;
  stored->clear();
  for (const std::string& p : parts) {
    n = n->child(p);
    if (!n) return nullptr;
    *stored = join_key_path(*stored, n->name);
  }
  return n;
}

// The node at `path` (components in any case), or nullptr.
KeyNode* find(KeyNode& root, std::string_view path) {
  std::string stored;
  return find_stored(root, path, &stored);
}

}  // namespace

struct Registry::Hive {
  KeyNode tree;
  bool cached = false;
  bool exists = false;          // the file was there when cached
  FileStamp stamp;              // of the file the tree was read from or written to
  // While the stamp is racy, the bytes it stands for: a file changed again
  // within the same timestamp tick is told apart by them.
  std::string racy_text;
  long status = ERROR_SUCCESS;  // ERROR_BADDB while the file is corrupt
  std::string error;            // why, with path and line
  std::size_t written_size = 0; // bytes of the file as last read or written
  // Deferred writes: the tree holds changes the file does not have yet. The
  // hive's lock is held meanwhile, so no other writer can come between.
  bool dirty = false;
  std::unique_ptr<FileLock> lock;
  std::size_t size_bound = 0;   // upper bound of the tree's serialized size
  std::int64_t failed_at = -1;  // clock time of the last failed write, -1 after a good one

  // After `text` was written to `path`: the tree is the file's.
  void written(const fs::path& path, std::string text) {
    cached = stamp_file(path, &stamp);
    exists = true;
    written_size = text.size();
    racy_text = stamp.racy ? std::move(text) : std::string();
  }
};

std::optional<Root> root_from_name(std::string_view name) {
  for (const RootInfo& r : kRoots) {
    if (r.name == name) return r.root;
  }
  return std::nullopt;
}

std::string_view root_name(Root root) { return info(root).name; }
std::string_view hive_file_name(Root root) { return info(root).file; }

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
  auto cannot_read = [&](const std::string& why) {
    h.cached = false;
    return fail(ERROR_CANTREAD, "registry hive " + path.string() + ": " + why);
  };
  auto absent = [&] {
    if (!h.cached || h.exists) {
      h.tree = KeyNode{};
      h.exists = false;
      h.racy_text.clear();
      h.status = ERROR_SUCCESS;
      h.error.clear();
      h.cached = true;
    }
    return ERROR_SUCCESS;
  };
  FileStamp seen;
  int err = 0;
  if (!stamp_file(path, &seen, &err)) return err == ENOENT ? absent() : cannot_read(std::strerror(err));
  const bool known = h.cached && h.exists && h.stamp.same_as(seen);
  if (known && !h.stamp.racy) return h.status == ERROR_SUCCESS ? ERROR_SUCCESS : fail(h.status, h.error);
  WholeFile file = read_whole_file(path, kMaxHive);
  std::string why;
  switch (file.status) {
    case ReadStatus::Ok:
      break;
    case ReadStatus::TooLarge:
    case ReadStatus::Grew:
      why = "1: the file is larger than 64 MiB";
      file.stamp = seen;
      break;
    case ReadStatus::NotRegular:
      return cannot_read(file.folder ? std::strerror(EISDIR) : "not a regular file");
    case ReadStatus::CannotOpen:
      if (file.error_number == ENOENT) return absent();
      return cannot_read(std::strerror(file.error_number));
    case ReadStatus::CannotStat:
    case ReadStatus::CannotRead:
      return cannot_read(std::strerror(file.error_number));
  }
  if (known && why.empty() && file.stamp.same_as(h.stamp) && file.contents == h.racy_text) {
    // The same bytes as the cached result's: keep it, and the text only
    // while the stamp cannot be trusted alone.
    h.stamp = file.stamp;
    if (!h.stamp.racy) h.racy_text.clear();
    return h.status == ERROR_SUCCESS ? ERROR_SUCCESS : fail(h.status, h.error);
  }
  KeyNode tree;
  if (why.empty()) parse_regedit4(file.contents, root, &tree, &why);
  h.stamp = file.stamp;
  h.exists = true;
  h.cached = true;
  const std::size_t size = file.contents.size();
  h.racy_text = h.stamp.racy && file.status == ReadStatus::Ok ? std::move(file.contents) : std::string();
  if (!why.empty()) {
    h.tree = KeyNode{};
    h.status = ERROR_BADDB;
    h.error = "registry hive " + path.string() + ":" + why +
              " (the file is left as it is; fix or remove it)";
    log_error("registry", h.error);
    return fail(ERROR_BADDB, h.error);
  }
  h.tree = std::move(tree);
  h.status = ERROR_SUCCESS;
  h.error.clear();
  h.written_size = size;
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
  KeyNode tree = h.tree;
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
      if (!format_regedit4(root, tree, &text)) return too_large();
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
  if (!format_regedit4(root, tree, &text)) return too_large();
  std::string error;
  if (!replace_file(path, text, FileMode::OwnerOnly, &error)) {
    h.cached = false;  // the file may or may not be new: read it again next time
    log_error("registry", error);
    return fail(ERROR_CANTWRITE, "registry hive " + path.string() + ": " + error);
  }
  h.tree = std::move(tree);
  h.written(path, std::move(text));
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
    if (!format_regedit4(root, h.tree, &text)) {
      error = "larger than 64 MiB";
    } else if (replace_file(path, text, FileMode::OwnerOnly, &error)) {
      h.written(path, std::move(text));
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
  long rc = modify(parent.root, growth, [&](KeyNode& tree, bool& changed) {
    std::string stored;
    KeyNode* n = find_stored(tree, parent.path, &stored);
    if (!n) return fail(ERROR_KEY_DELETED, "key \"" + parent.path + "\" no longer exists");
    KeyNode* w = n;
    for (const std::string& p : parts) {
      bool made = false;
      w = &w->add_child(p, &made);
      made_last = made;
      changed = changed || made;
      stored = join_key_path(stored, w->name);
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
  KeyNode* w = find_stored(h.tree, parent.path, &stored);
  if (!w) return fail(ERROR_KEY_DELETED, "key \"" + parent.path + "\" no longer exists");
  for (const std::string& p : parts) {
    w = w->child(p);
    if (!w) {
      return fail(ERROR_FILE_NOT_FOUND, "no key \"" + join_key_path(parent.path, subkey) + "\" in " +
                                            std::string(root_name(parent.root)));
    }
    stored = join_key_path(stored, w->name);
  }
  if (key) *key = Key{parent.root, stored};
  return ERROR_SUCCESS;
}

long Registry::delete_key(const Key& parent, std::string_view subkey) {
  std::vector<std::string> parts;
  if (!split_key_path(subkey, &parts) || parts.empty()) {
    return fail(ERROR_INVALID_PARAMETER, "invalid key name \"" + std::string(subkey) + "\"");
  }
  return modify(parent.root, 0, [&](KeyNode& tree, bool& changed) {
    KeyNode* n = find(tree, parent.path);
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
  if (name.size() > kMaxValueName || has_control_character(name)) {
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
  return modify(key.root, growth, [&](KeyNode& tree, bool& changed) {
    KeyNode* n = find(tree, key.path);
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

// Runs `read(node)` on the freshly loaded node of `key` under the lock.
template <typename Read>
long Registry::read_key(const Key& key, Read read) {
  std::lock_guard guard(mutex_);
  Hive& h = hive(key.root);
  if (long rc = load(key.root, h); rc != ERROR_SUCCESS) return rc;
  KeyNode* n = find(h.tree, key.path);
  if (!n) return fail(ERROR_KEY_DELETED, "key \"" + key.path + "\" no longer exists");
  return read(*n);
}

long Registry::query_value(const Key& key, std::string_view name, Value* value) {
  return read_key(key, [&](KeyNode& n) {
    Value* v = n.value(name);
    if (!v) {
      return fail(ERROR_FILE_NOT_FOUND,
                  "no value \"" + std::string(name) + "\" in key \"" + key.path + "\"");
    }
    if (value) *value = *v;
    return ERROR_SUCCESS;
  });
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
  return modify(key.root, 0, [&](KeyNode& tree, bool& changed) {
    KeyNode* n = find(tree, key.path);
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
  return read_key(key, [&](KeyNode& n) {
    if (index >= n.children.size()) return ERROR_NO_MORE_ITEMS;
    if (name) *name = n.children[index].name;
    return ERROR_SUCCESS;
  });
}

long Registry::enum_value(const Key& key, std::uint32_t index, Value* value) {
  return read_key(key, [&](KeyNode& n) {
    if (index >= n.values.size()) return ERROR_NO_MORE_ITEMS;
    if (value) *value = n.values[index];
    return ERROR_SUCCESS;
  });
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
