// Files: safe replacement of configuration files, and the one whole-file
// reader (at the end).
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

#include <cerrno>
#include <cstddef>
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
// its mode, a new one gets 0644. OwnerOnly: the result is 0600 either way.
// The mode is set explicitly: the umask changes nothing. An existing file
// that the caller may not write (0444, another user's 0644) is not replaced,
// although the rename could do it: that is a failure like any other. On
// failure the old file is untouched, no temporary
// file is left behind, `error` (if given) says what failed and false is
// returned. The caller holds a FileLock if others may write the same file.
bool replace_file(const std::filesystem::path& path, std::string_view contents,
                  FileMode mode = FileMode::Shared, std::string* error = nullptr);

// Creates the missing folders of `path` (its parents too) with exactly
// 0755, or 0700 for OwnerOnly, whatever the umask; existing folders are left
// as they are. Inside the system root no folder is made through a link
// (check_inside_root). False and `error` when one cannot be made.
bool make_folders(const std::filesystem::path& path, FileMode mode = FileMode::Shared,
                  std::string* error = nullptr);

// Removes the temporary files replace_file() left in `folder` when its
// process died before the rename (".NAME.tmp.PID.N.R" of a PID that no
// longer runs, or of this process before it wrote anything). Returns how many
// were removed. Run at start-up, before this process writes there.
int remove_stale_temp_files(const std::filesystem::path& folder);

// Replacements that succeeded in this process, all files together (tests
// count the writes an operation makes).
std::uint64_t replace_file_count();

// ---- Reading ---------------------------------------------------------------
//
// Every whole-file read goes through read_whole_file(): the file is opened
// without blocking (a FIFO or a device put in its place never hangs the
// reader), must be a regular file (a link is followed to one), is read
// through that one descriptor up to the caller's size limit, and comes with
// the stamp of the bytes read, which a cache keeps to know the file again.

// What a cache knows a file by: device, inode, size, modification and change
// time in nanoseconds. A write through replace_file() always makes a new
// inode; ctime also moves on rename and on in-place writes.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = -1;  // -1: the file changed while it was read
  std::int64_t mtime_ns = 0;
  std::int64_t ctime_ns = 0;
  // Modified less than one timestamp tick (a few ms; a second on some file
  // systems) before the stamp was taken: another change in the same tick may
  // leave every field above as it is, so a cache must compare the bytes
  // before it trusts a matching stamp.
  bool racy = true;

  // The same file in the same state; `racy` plays no part.
  bool same_as(const FileStamp& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           mtime_ns == other.mtime_ns && ctime_ns == other.ctime_ns;
  }
};

// The stamp of what is at `path` now (a link followed). False with `err` set
// to errno when it cannot be stat'ed.
bool stamp_file(const std::filesystem::path& path, FileStamp* stamp, int* err = nullptr);

enum class ReadStatus {
  Ok,
  CannotOpen,   // `error_number` from open(); ENOENT/ENOTDIR: missing
  CannotStat,   // `error_number` from fstat()
  NotRegular,   // a folder (`folder`), FIFO, device or socket
  TooLarge,     // larger than the limit when opened
  Grew,         // grew past the limit while it was read
  CannotRead,   // `error_number` from read()
};

struct WholeFile {
  ReadStatus status = ReadStatus::Ok;
  int error_number = 0;
  bool folder = false;
  std::string contents;
  FileStamp stamp;  // taken after reading, so it belongs to `contents`
  bool missing() const { return status == ReadStatus::CannotOpen && (error_number == ENOENT || error_number == ENOTDIR); }
};

// What read_whole_file() takes. Settings and stored data are regular files
// only; a script the user hands a program may come through a pipe
// (`--answers <(...)`, /dev/stdin), read to its end like a file.
enum class ReadSource { RegularFile, FileOrStream };

// Reads the whole regular file at `path`, at most `max_size` bytes. The
// caller turns a status into its own result and message. With
// FileOrStream a FIFO or a character device is opened again blocking (as
// any program reading a pipe waits for its writer) and read to its end.
WholeFile read_whole_file(const std::filesystem::path& path, std::size_t max_size,
                          ReadSource source = ReadSource::RegularFile);

// Reads the whole file. False (and `error`) when it cannot be read; a missing
// file sets `missing` (if given) so callers can tell "absent" from "unreadable".
// Only regular files (a link followed to one) are read, unless `source`
// lets a stream in too.
bool read_file(const std::filesystem::path& path, std::string& contents,
               std::string* error = nullptr, bool* missing = nullptr,
               ReadSource source = ReadSource::RegularFile);

}  // namespace platform
