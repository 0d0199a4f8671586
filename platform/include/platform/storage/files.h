// Files: safe replacement of configuration files.
//
// Every configuration write goes through replace_file(): the new contents go
// to a temporary file in the same folder, created at its final mode, which is
// flushed to disk and renamed over the old one; the folder is flushed too. A
// crash leaves either the old file or the new one, never a mix.
//
// Writers that read, change and write back hold a FileLock for the whole
// read-modify-write. The lock is flock() on a stable lock file beside the data
// file ("NAME.lock"): a lock on the data file itself would be lost at the
// rename. Readers that only read need no lock: they see the old or the new
// file whole. In a folder that belongs to another program (/etc/ppp), where
// no lock file may stay behind, a FolderLock takes flock() on the folder
// itself instead: it is as stable, and every file in it shares the lock.
//
// Files that hold a password are written with FileMode::OwnerOnly: the
// temporary file is created at 0600 and renamed over the old one, so after
// every write the file is owner-only, whatever its mode was before; no
// chmod ever runs on a file that holds the password.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

enum class FileMode {
  Shared,     // 0644
  OwnerOnly,  // 0600: the file holds a password
  Executable, // 0755: a hook script that another program runs
};

// Holds an exclusive advisory lock for `data_path` until destroyed.
class FileLock {
 public:
  explicit FileLock(const std::filesystem::path& data_path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  // False when the lock file could not be created or locked; error() says why.
  bool locked() const { return fd_ >= 0; }
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  std::string error_;
};

// Holds an exclusive advisory lock on the folder `dir` until destroyed.
class FolderLock {
 public:
  explicit FolderLock(const std::filesystem::path& dir);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  // False when the folder could not be opened or locked; error() says why.
  bool locked() const { return fd_ >= 0; }
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  std::string error_;
};

// Replaces `path` with `contents` atomically. Shared: an existing file keeps
// its mode, a new one gets 0644. OwnerOnly: the result is 0600 either way. On failure the old file is untouched, no temporary
// file is left behind, `error` (if given) says what failed and false is
// returned. The caller holds a FileLock if others may write the same file.
bool replace_file(const std::filesystem::path& path, std::string_view contents,
                  FileMode mode = FileMode::Shared, std::string* error = nullptr);

// Replacements that succeeded in this process, all files together (tests
// count the writes an operation makes).
std::uint64_t replace_file_count();

// Reads the whole file. False (and `error`) when it cannot be read; a missing
// file sets `missing` (if given) so callers can tell "absent" from "unreadable".
bool read_file(const std::filesystem::path& path, std::string& contents,
               std::string* error = nullptr, bool* missing = nullptr);

}  // namespace platform
