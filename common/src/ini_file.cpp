#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "common/ini.h"
#include "platform/loop/log.h"

namespace common {
namespace {

std::string errno_text(const char* what, const std::filesystem::path& path, int err) {
  return std::string(what) + " " + path.string() + ": " + std::strerror(err);
}

// Reads the whole file through one descriptor, so the stamp belongs to the
// bytes read. Refuses files above kMaxIniFileSize without reading them all.
bool read_ini_bytes(const std::filesystem::path& path, std::string& out, platform::FileStamp* stamp,
                    std::string* error, bool* missing) {
  platform::WholeFile file = platform::read_whole_file(path, kMaxIniFileSize);
  if (missing) *missing = file.missing();
  std::string text;
  switch (file.status) {
    case platform::ReadStatus::Ok:
      if (stamp) *stamp = file.stamp;
      out = std::move(file.contents);
      return true;
    case platform::ReadStatus::CannotOpen:
      text = errno_text("cannot open", path, file.error_number);
      break;
    case platform::ReadStatus::CannotStat:
      text = errno_text("cannot stat", path, file.error_number);
      break;
    case platform::ReadStatus::NotRegular:
      text = "cannot read " + path.string() + ": not a regular file";
      break;
    case platform::ReadStatus::TooLarge:
      text = "cannot read " + path.string() + ": larger than " + std::to_string(kMaxIniFileSize) + " bytes";
      break;
    case platform::ReadStatus::Grew:
      text = "cannot read " + path.string() + ": grew beyond the size limit";
      break;
    case platform::ReadStatus::CannotRead:
      text = errno_text("cannot read", path, file.error_number);
      break;
  }
  if (error) *error = std::move(text);
  return false;
}

class IniCache {
 public:
  std::shared_ptr<const IniDocument> load(const std::filesystem::path& path, std::string* error,
                                          bool* missing) {
    if (missing) *missing = false;
    platform::FileStamp seen;
    int err = 0;
    if (!platform::stamp_file(path, &seen, &err)) {
      forget(path);
      if (missing) *missing = (err == ENOENT || err == ENOTDIR);
      if (error) *error = errno_text("cannot open", path, err);
      return nullptr;
    }
    std::shared_ptr<const IniDocument> candidate;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = entries_.find(path.native());
      if (it != entries_.end() && it->second.id.same_as(seen)) {
        it->second.last_use = ++use_counter_;
        if (!it->second.id.racy) {
          ++stats_.hits;
          return it->second.doc;
        }
        candidate = it->second.doc;
      }
    }

    std::string text;
    platform::FileStamp id;
    if (!read_ini_bytes(path, text, &id, error, missing)) {
      forget(path);
      return nullptr;
    }
    if (candidate && id.same_as(seen) && text == candidate->text()) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++stats_.verified;
      auto it = entries_.find(path.native());
      if (it != entries_.end() && it->second.doc == candidate) it->second.id.racy = id.racy;
      return candidate;
    }
    auto doc = std::make_shared<const IniDocument>(IniDocument::parse(std::move(text)));
    std::lock_guard<std::mutex> lock(mutex_);
    ++stats_.parses;
    if (id.size >= 0) store(path.native(), Entry{id, doc, ++use_counter_});
    return doc;
  }

  void forget(const std::filesystem::path& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(path.native());
    if (it != entries_.end()) {
      bytes_ -= it->second.doc->memory_bytes();
      entries_.erase(it);
    }
  }

  IniCacheStats stats() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stats_;
  }

  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
    bytes_ = 0;
    stats_ = {};
  }

 private:
  // Bounds: a handful of files is what the programs use; the byte bound (text
  // and index) keeps a few pathological maximum-size files from piling up.
  static constexpr size_t kMaxEntries = 32;
  static constexpr size_t kMaxBytes = 64u << 20;

  struct Entry {
    platform::FileStamp id;  // its `racy`: confirm the bytes before a hit
    std::shared_ptr<const IniDocument> doc;
    uint64_t last_use = 0;
  };

  // Caller holds mutex_.
  void store(const std::string& key, Entry entry) {
    auto it = entries_.find(key);
    if (it != entries_.end()) {
      bytes_ -= it->second.doc->memory_bytes();
      entries_.erase(it);
    }
    const size_t size = entry.doc->memory_bytes();
    while (!entries_.empty() && (entries_.size() >= kMaxEntries || bytes_ + size > kMaxBytes)) {
      auto oldest = entries_.begin();
      for (auto e = entries_.begin(); e != entries_.end(); ++e) {
        if (e->second.last_use < oldest->second.last_use) oldest = e;
      }
      bytes_ -= oldest->second.doc->memory_bytes();
      entries_.erase(oldest);
    }
    bytes_ += size;
    entries_.emplace(key, std::move(entry));
  }

  std::mutex mutex_;
  std::unordered_map<std::string, Entry> entries_;
  size_t bytes_ = 0;
  uint64_t use_counter_ = 0;
  IniCacheStats stats_;
};

IniCache& cache() {
  static IniCache* instance = new IniCache;  // never destroyed: usable during exit
  return *instance;
}

}  // namespace

bool load_ini_file(const std::filesystem::path& path, IniDocument& out, std::string* error, bool* missing) {
  std::string text;
  if (!read_ini_bytes(path, text, nullptr, error, missing)) return false;
  out = IniDocument::parse(std::move(text));
  return true;
}

std::shared_ptr<const IniDocument> load_ini_cached(const std::filesystem::path& path, std::string* error,
                                                   bool* missing) {
  return cache().load(path, error, missing);
}

bool update_ini_file(const std::filesystem::path& path, const std::function<bool(IniDocument&)>& change,
                     std::string* error, platform::FileMode mode) {
  if (path.empty()) {
    if (error) *error = "no file name";
    return false;
  }
  platform::FileLock lock(path);
  if (!lock.locked()) {
    if (error) *error = lock.error();
    return false;
  }
  std::string text;
  bool missing = false;
  std::string read_error;
  if (!read_ini_bytes(path, text, nullptr, &read_error, &missing) && !missing) {
    if (error) *error = read_error;
    return false;
  }
  IniDocument doc = IniDocument::parse(std::move(text));
  const std::string before = doc.text();
  if (!change(doc)) {
    // `change` may have said why through the same error string.
    if (error && error->empty()) *error = "change refused";
    return false;
  }
  // Unchanged: no rewrite, and a missing file is not created; but a file
  // that holds a password and that others can read is written anew (0600).
  if (doc.text() == before) {
    struct stat st {};
    const bool too_open = mode == platform::FileMode::OwnerOnly && !missing && ::stat(path.c_str(), &st) == 0 &&
                          (st.st_mode & 077) != 0;
    if (!too_open) return true;
  }
  if (doc.text().size() > kMaxIniFileSize) {
    if (error) *error = "cannot write " + path.string() + ": result larger than the size limit";
    return false;
  }
  bool ok = platform::replace_file(path, doc.text(), mode, error);
  cache().forget(path);
  return ok;
}

IniCacheStats ini_cache_stats() { return cache().stats(); }

void ini_cache_clear() { cache().clear(); }

}  // namespace common
