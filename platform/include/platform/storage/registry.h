// Registry: keys and typed values under the six Windows root keys.
//
// Principles:
//  - Each root key is one hive file in the registry folder of the system root
//    (hkey_current_user.reg and so on), in the REGEDIT4 text format, so a
//    person can read and fix it. Every change is a read-modify-write of the
//    whole hive under a FileLock, written with replace_file(): a crash or a
//    second process never leaves a half-written or mixed hive.
//  - Key and value names match without regard to case and keep the case
//    they were first created with.
//  - Results are the Win32 codes (reg::ERROR_SUCCESS, ...), so callers mirror
//    RegCreateKeyEx, RegOpenKeyEx, RegSetValueEx, RegQueryValueEx,
//    RegDeleteValue, RegDeleteKey, RegEnumKeyEx and RegEnumValue closely.
//    When a call fails nothing changes, and last_error() tells why in words.
//  - A hive file that cannot be parsed is reported (ERROR_BADDB) with its
//    path and line number, is logged, and is never overwritten: every call on
//    that root fails until the file is fixed or removed by hand.
//  - Reading an unchanged hive does not parse it again (cached by the file's
//    identity); changes by another process are seen on the next call.
//
// Types: REG_SZ is stored as given, normally the text with its terminating
// NUL (set_string adds it); REG_BINARY holds bytes; REG_DWORD four bytes,
// little-endian. Other type numbers are kept as raw bytes.
//
// File format (lines end with LF; CR LF is read too):
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Veloran]
//   "Name"="text with \"quotes\" and \\ backslashes"
//   @="the key's default value"
//   "Flags"=hex:2c,01,00,00
//   "Count"=dword:0000012c
//   "Odd"=hex(1):41,00,42,00
//
// Every key is written, empty ones too, parent before child, subkeys in
// order of their names without regard to case; values in the order they were
// first set. A REG_SZ that is not one line of printable text ending in a
// single NUL is written as hex(1) so it comes back byte for byte. Long hex
// data continues on the next line after ",\" with two blanks of indent.
//
// Limits, those of Windows where it has them: key names up to 255
// characters and keys at most 512 levels below the root (a deeper subkey is
// refused with ERROR_INVALID_PARAMETER and nothing is created); value names
// up to 16383; no control characters in names (the file format has no way
// to write them); value data up to 1 MiB; a hive file up to 64 MiB, checked
// on the new text before it is written (ERROR_NOT_ENOUGH_QUOTA, the file
// untouched), so a hive that was written can always be read again. A key
// line repeats its whole path, so deep keys cost the square of their depth:
// the depth limit keeps one key's cost bounded. Every way in (a hive's text,
// create_key) holds to it, so a key tree is never deeper than 512 levels.
// The text itself: regedit4.h.
//
// Threads: a Registry may be used from any thread; calls are serialised.
//
// Index: result codes and types, Root, Key, Value, Registry,
// system_registry.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::reg {

// Win32 result codes.
inline constexpr long ERROR_SUCCESS = 0;
inline constexpr long ERROR_FILE_NOT_FOUND = 2;   // no such key or value
inline constexpr long ERROR_ACCESS_DENIED = 5;    // deleting a root or a key with subkeys
inline constexpr long ERROR_INVALID_PARAMETER = 87;
inline constexpr long ERROR_MORE_DATA = 234;      // buffer too small; size says what is needed
inline constexpr long ERROR_NO_MORE_ITEMS = 259;  // enumeration past the end
inline constexpr long ERROR_BADDB = 1009;         // the hive file is corrupt
inline constexpr long ERROR_CANTREAD = 1012;      // the hive file cannot be read
inline constexpr long ERROR_CANTWRITE = 1013;     // the hive file cannot be written
inline constexpr long ERROR_KEY_DELETED = 1018;   // the key was deleted since it was opened
inline constexpr long ERROR_NOT_ENOUGH_QUOTA = 1816;  // the hive would pass its size limit

// Value types.
inline constexpr std::uint32_t REG_NONE = 0;
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_EXPAND_SZ = 2;
inline constexpr std::uint32_t REG_BINARY = 3;
inline constexpr std::uint32_t REG_DWORD = 4;
inline constexpr std::uint32_t REG_MULTI_SZ = 7;

enum class Root { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig, DynData };

// "HKEY_CURRENT_USER" -> Root::CurrentUser. Exact and case-sensitive, as the
// server's names are compared; nullopt for anything else.
std::optional<Root> root_from_name(std::string_view name);
std::string_view root_name(Root root);
// The hive's file name in the registry folder ("hkey_current_user.reg").
std::string_view hive_file_name(Root root);

// An open key: its root and its path with the stored case ("" = the root).
struct Key {
  Root root = Root::CurrentUser;
  std::string path;
};
inline Key root_key(Root root) { return Key{root, {}}; }

struct Value {
  std::string name;  // "" is the key's default value
  std::uint32_t type = REG_NONE;
  std::string data;  // raw bytes, REG_SZ with its NUL
};

class Registry {
 public:
  // A registry whose hives live in `folder` (created, mode 0700, on first write).
  explicit Registry(std::filesystem::path folder);
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // RegCreateKeyEx: opens `subkey` ("A\B\C", relative to `parent`),
  // creating every missing key on the way. `created` tells whether the last
  // one was new. An empty subkey opens `parent` itself.
  long create_key(const Key& parent, std::string_view subkey, Key* key, bool* created = nullptr);
  // RegOpenKeyEx: ERROR_FILE_NOT_FOUND when the key does not exist.
  long open_key(const Key& parent, std::string_view subkey, Key* key);
  // RegDeleteKey: deletes `subkey` of `parent`; a key with subkeys, or a
  // root, is refused (ERROR_ACCESS_DENIED).
  long delete_key(const Key& parent, std::string_view subkey);

  // RegSetValueEx: stores `size` bytes of `data` under `name` with `type`,
  // replacing any value of that name (whose case is kept).
  long set_value(const Key& key, std::string_view name, std::uint32_t type, const void* data,
                 std::size_t size);
  long set_string(const Key& key, std::string_view name, std::string_view text);  // adds the NUL
  long set_dword(const Key& key, std::string_view name, std::uint32_t number);
  long set_binary(const Key& key, std::string_view name, std::string_view bytes);

  // RegQueryValueEx. `type` may be null. With `data` null, `*size` receives
  // the size needed. When `*size` is too small: ERROR_MORE_DATA, `*size` =
  // size needed, `data` untouched. On success `*size` = bytes copied.
  long query_value(const Key& key, std::string_view name, std::uint32_t* type, void* data,
                   std::uint32_t* size);
  // The same into a Value (name as stored).
  long query_value(const Key& key, std::string_view name, Value* value);
  // RegDeleteValue.
  long delete_value(const Key& key, std::string_view name);

  // RegEnumKeyEx / RegEnumValue: the index-th subkey name or value;
  // ERROR_NO_MORE_ITEMS past the end.
  long enum_key(const Key& key, std::uint32_t index, std::string* name);
  long enum_value(const Key& key, std::uint32_t index, Value* value);

  // Deferred writes, as Windows flushes its hives lazily: while on, a change
  // is made in memory and answered at once, and its hive reaches the disk at
  // the next flush(), still as one atomic replacement. The hive's lock is
  // held from the first unwritten change to the flush, so no other writer
  // comes between. Off (the default): every change is written before the
  // call returns. Turning it off flushes.
  void set_deferred_writes(bool on);
  // Writes every hive that has unwritten changes. ERROR_SUCCESS, or
  // ERROR_CANTWRITE (the changes stay in memory; a later flush tries again).
  long flush();
  // The clock time (ms) of the oldest change not written yet; -1 when none.
  std::int64_t unwritten_since() const;

  // Why the last failing call of this thread failed (path, line, reason).
  std::string last_error() const;
  std::filesystem::path hive_path(Root root) const;
  const std::filesystem::path& folder() const { return folder_; }

 private:
  struct Hive;
  Hive& hive(Root root);
  long load(Root root, Hive& h);  // refreshes the cache from the file
  template <typename Change>
  long modify(Root root, std::size_t growth, Change change);
  template <typename Read>
  long read_key(const Key& key, Read read);  // the three readers' shared path
  long fail(long code, std::string text);

  std::filesystem::path folder_;
  bool deferred_ = false;
  std::int64_t unwritten_since_ = -1;
  mutable std::mutex mutex_;
  std::map<Root, std::unique_ptr<Hive>> hives_;
};

// The registry of the current system root (its registry folder). The object
// lives as long as the process; a new root gets its own.
Registry& system_registry();

// Parses REGEDIT4 text for `root` into values by key path (for tests and
// tools); false and `error` ("LINE: reason") when it is not a valid hive.
struct ParsedKey {
  std::string path;  // as written, without the root name
  std::vector<Value> values;
};
bool parse_hive(std::string_view text, Root root, std::vector<ParsedKey>* keys,
                std::string* error);

}  // namespace platform::reg
