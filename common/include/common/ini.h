// INI file access: the private-profile service of both programs.
//
// Three layers, each usable on its own:
//  1. IniDocument (ini_document.h): the pure parser and editor of INI text.
//  2. Files: load_ini_file() reads and parses one file; load_ini_cached()
//     shares one parsed, immutable document per unchanged file across the
//     process; update_ini_file() does a locked read-modify-write that replaces
//     the file atomically (platform/storage/files.h).
//  3. The Windows-shaped calls the ported code makes:
//     get_private_profile_string() and write_private_profile_string().
//
// Principles:
// - Every write is a whole-file replacement under the file's FileLock, so two
//   threads or processes writing the same file never interleave or lose a
//   write, and a crash leaves the old file or the new one.
// - Reads take no lock: they see the old file or the new one whole.
// - Reading an unchanged file does not parse it again. The cache knows a file
//   by device, inode, size, modification and change time (nanoseconds). A
//   file modified less than a second before it was cached could be replaced
//   by another of the same size within one timestamp tick, so such an entry is
//   confirmed by comparing the bytes (no parse) until it is old enough.
// - Files larger than kMaxIniFileSize are refused (read: default, write:
//   failure), which bounds memory whatever is on disk.
// - All functions are thread-safe. The private-profile calls log failures
//   (component "ini"); the layers below return them in `error`. Nothing
//   throws except std::bad_alloc (callers at C exports turn it into a code).
//
// A relative path is relative to the process's current folder: callers turn
// Windows paths into real ones (system root) before calling. A write replaces
// whatever is at the path: a symbolic link there becomes a regular file (the
// link's target is never written through).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "common/ini_document.h"
#include "platform/storage/files.h"

namespace common {

inline constexpr std::size_t kMaxIniFileSize = 4u << 20;  // 4 MiB

// ---- Files ---------------------------------------------------------------

// Reads and parses `path` without the cache. False when it cannot be read or
// is too large (`error` says which); a missing file also sets `missing`.
bool load_ini_file(const std::filesystem::path& path, IniDocument& out, std::string* error = nullptr,
                   bool* missing = nullptr);

// The parsed document of `path`, shared and never changed; nullptr when the
// file cannot be read (`error`, `missing` as above).
std::shared_ptr<const IniDocument> load_ini_cached(const std::filesystem::path& path,
                                                   std::string* error = nullptr, bool* missing = nullptr);

// Locked read-modify-write: takes the file's FileLock, reads the current file
// (a missing file reads as empty), calls `change`, and when `change` returns
// true and the text differs, replaces the file atomically (with `mode` as
// replace_file() takes it). Returns false when the lock, the read, `change` or the replacement
// fails; the file is then as before. Several edits in one `change` land in
// one replacement, which other readers see all at once.
bool update_ini_file(const std::filesystem::path& path, const std::function<bool(IniDocument&)>& change,
                     std::string* error = nullptr,
                     platform::FileMode mode = platform::FileMode::Shared);

struct IniCacheStats {
  uint64_t hits = 0;      // served from the cache without reading the file
  uint64_t verified = 0;  // served from the cache after comparing the bytes
  uint64_t parses = 0;    // files read and parsed by load_ini_cached
};
IniCacheStats ini_cache_stats();
// Empties the cache (tests and benchmarks).
void ini_cache_clear();

// ---- Windows-shaped calls -------------------------------------------------
//
// get_private_profile_string(section, key, default, size, file)
//   section and key given: the key's value cut to size - 1 characters; the
//     default (trailing blanks removed, cut likewise; null = "") when the
//     file, the section or the key is missing or the file cannot be read.
//   key null: the names of the section's keys (each once, file order), each
//     ended by a NUL; empty when the section is missing (the default is not
//     used for lists).
//   section null: the names of the sections, likewise.
//   A list that does not fit in `size` characters (names, their NULs and the
//   final NUL) is handled as Windows does: it is cut to size - 2 characters
//   and followed by two NULs.
//
// The string form returns exactly the characters Windows would count (its
// return value): for a list "A\0B\0"; c_str() supplies the closing NUL. The
// buffer form writes into `buffer` (never more than `size` bytes, always
// terminated when size > 0; a list gets its second NUL) and returns that
// count. size 0 gives "" / 0.
std::string get_private_profile_string(const char* section, const char* key, const char* default_value,
                                       std::size_t size, const std::filesystem::path& file);
std::size_t get_private_profile_string(const char* section, const char* key, const char* default_value,
                                       char* buffer, std::size_t size, const std::filesystem::path& file);

// write_private_profile_string(section, key, value, file), nonzero on success:
//   all given: sets the key, creating the file, section and key as needed;
//   value null: deletes the key;   key null: deletes the section;
//   all three null: flush. Writes reach the disk before they return, so a
//     flush only reports success.
//   Deleting from a missing file succeeds and creates nothing.
//   `new_file_mode` as replace_file() takes it: Shared keeps an existing
//   file's mode (a new one gets 0644); OwnerOnly, for a file that holds a
//   password such as the registration profile, leaves it 0600 either way.
// Zero (and a logged reason) when the file is empty or unusable, the folder
// is missing, a name or value cannot be stored (line breaks, NUL, ']' in a
// section, '=' in a key; trailing CR/LF of a value are dropped), or section
// is null while key or value is not. The file is then unchanged.
int write_private_profile_string(const char* section, const char* key, const char* value,
                                 const std::filesystem::path& file,
                                 platform::FileMode new_file_mode = platform::FileMode::Shared);

}  // namespace common
