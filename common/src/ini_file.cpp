#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <unordered_map>

#include "common/ini.h"
#include "platform/loop/log.h"

namespace common {
namespace {

// What the cache knows a file by. A write through replace_file() always
// makes a new inode; ctime also moves on rename and on in-place writes.
struct FileIdentity {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  int64_t mtime_sec = 0, mtime_nsec = 0;
  int64_t ctime_sec = 0, ctime_nsec = 0;
  bool operator==(const FileIdentity&) const = default;
};

FileIdentity identity_of(const struct stat& st) {
  FileIdentity id;
  id.dev = st.st_dev;
  id.ino = st.st_ino;
  id.size = st.st_size;
  id.mtime_sec = st.st_mtim.tv_sec;
  id.mtime_nsec = st.st_mtim.tv_nsec;
  id.ctime_sec = st.st_ctim.tv_sec;
  id.ctime_nsec = st.st_ctim.tv_nsec;
  return id;
}

// Timestamps advance in ticks (a few ms; seconds on some file systems): a
// file changed within this margin of being cached may be followed by another
// version with the same identity.
constexpr int64_t kRacyMarginNs = 1'000'000'000;

bool is_racy(const FileIdentity& id) {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  int64_t now_ns = static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
  // Only the modification time: every writer sets it to "now", and a file
  // whose times were set back on purpose is still told apart by its ctime.
  return now_ns - (id.mtime_sec * 1'000'000'000 + id.mtime_nsec) < kRacyMarginNs;
}

std::string errno_text(const char* what, const std::filesystem::path& path, int err) {
  return std::string(what) + " " + path.string() + ": " + std::strerror(err);
}

// Reads the whole file through one descriptor, so the identity belongs to the
// bytes read. Refuses files above kMaxIniFileSize without reading them all.
bool read_ini_bytes(const std::filesystem::path& path, std::string& out, FileIdentity* id,
                    std::string* error, bool* missing) {
  if (missing) *missing = false;
  // O_NONBLOCK: a FIFO put in place of the file must not hang the reader; it
  // is refused below as not a regular file.
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    int err = errno;
    if (missing) *missing = (err == ENOENT || err == ENOTDIR);
    if (error) *error = errno_text("cannot open", path, err);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) < 0) {
    int err = errno;
    ::close(fd);
    if (error) *error = errno_text("cannot stat", path, err);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    if (error) *error = "cannot read " + path.string() + ": not a regular file";
    return false;
  }
  if (static_cast<uint64_t>(st.st_size) > kMaxIniFileSize) {
    ::close(fd);
    if (error) {
      *error = "cannot read " + path.string() + ": larger than " + std::to_string(kMaxIniFileSize) + " bytes";
    }
    return false;
  }
  std::string text;
  // One spare byte so the read that finds the end needs no reallocation.
  text.resize(static_cast<size_t>(st.st_size) + 1);
  size_t got = 0;
  for (;;) {
    if (got == text.size()) {
      // The file may have grown since fstat; look for more, within the limit.
      if (text.size() > kMaxIniFileSize) {
        ::close(fd);
        if (error) *error = "cannot read " + path.string() + ": grew beyond the size limit";
        return false;
      }
      text.resize(text.size() + 4096);
    }
    ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      if (error) *error = errno_text("cannot read", path, err);
      return false;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  text.resize(got);
  if (id) {
    // Identity after reading: if the file changed while being read, the
    // entry will not match the next stat and is read again.
    struct stat after {};
    if (::fstat(fd, &after) == 0) st = after;
    *id = identity_of(st);
    id->size = static_cast<off_t>(got) == st.st_size ? st.st_size : -1;
  }
  ::close(fd);
  out = std::move(text);
  return true;
}

class IniCache {
 public:
  std::shared_ptr<const IniDocument> load(const std::filesystem::path& path, std::string* error,
                                          bool* missing) {
    if (missing) *missing = false;
    struct stat st {};
    if (::stat(path.c_str(), &st) < 0) {
      int err = errno;
      forget(path);
      if (missing) *missing = (err == ENOENT || err == ENOTDIR);
      if (error) *error = errno_text("cannot open", path, err);
      return nullptr;
    }
    const FileIdentity seen = identity_of(st);
    std::shared_ptr<const IniDocument> candidate;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = entries_.find(path.native());
      if (it != entries_.end() && it->second.id == seen) {
        it->second.last_use = ++use_counter_;
        if (!it->second.racy) {
          ++stats_.hits;
          return it->second.doc;
        }
        candidate = it->second.doc;
      }
    }

    std::string text;
    FileIdentity id;
    if (!read_ini_bytes(path, text, &id, error, missing)) {
      forget(path);
      return nullptr;
    }
    if (candidate && id == seen && text == candidate->text()) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++stats_.verified;
      auto it = entries_.find(path.native());
      if (it != entries_.end() && it->second.doc == candidate) it->second.racy = is_racy(id);
      return candidate;
    }
    auto doc = std::make_shared<const IniDocument>(IniDocument::parse(std::move(text)));
    std::lock_guard<std::mutex> lock(mutex_);
    ++stats_.parses;
    if (id.size >= 0) store(path.native(), Entry{id, doc, is_racy(id), ++use_counter_});
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
    FileIdentity id;
    std::shared_ptr<const IniDocument> doc;
    bool racy = true;
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
