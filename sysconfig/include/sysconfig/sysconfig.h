// System configuration commands of the registration call.
//
// The registration server changes the computer with REGMOD: (a registry
// value), INIMOD: (one key of an INI file) and APPENDFILE: (one line added to
// a file). Each command is a pure-ish function over its argument text that
// returns whether it did its work, plus a handler that answers the server
// with "REPLY: OK" or "REPLY: ERROR".
//
// Principles:
//  - Nothing the server names is used as a real path: every file name goes
//    through the system root's translation and confinement
//    (platform/storage/system_root.h), so "..", device names, drive letters other
//    than C and symbolic links are refused and nothing outside the root is
//    ever touched.
//  - A bad command (a missing field, an unknown root or type, a refused path)
//    changes nothing, is logged (component "sysconfig") and is answered
//    "REPLY: ERROR"; `why` tells the reason to tests and logs.
//  - Everything runs on the session's thread. Registry and INI writes go
//    through their services, which lock and replace files whole.
//
// Index: RegModCommand, WriteRegistryValue, ParseDecimal (registry);
// IniModCommand, IniModPath, AppendFileCommand, AppendFileName (files);
// InstallCommandHandlers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/storage/registry.h"

namespace session {
class CRegSessionDialog;
enum class LinePace;
}

namespace sysconfig {

// ---- Registry (REGMOD:) ----------------------------------------------------

// The decimal number at the start of `text` as the C library's atoi reads
// it: leading blanks, an optional sign, digits; anything else gives 0. A
// number beyond 32 bits is clamped to INT32_MIN / INT32_MAX instead of
// overflowing.
std::int32_t ParseDecimal(std::string_view text);

// REGMOD: with its argument text (root name, subkey, type, value name, data;
// fewer fields repeat the last). Creates the subkey if missing and stores the
// value: "REG_SZ" as the text with its NUL, "REG_BINARY" as ParseDecimal of
// the text in 4 bytes, little-endian. True when the value was stored. An
// unknown root (names compare exactly), an unknown type, or no arguments
// change nothing and give false.
bool RegModCommand(platform::reg::Registry& registry, std::string_view arguments,
                   std::string* why = nullptr);

// The internal writer of the dial-up configuration: the same root and type
// rules, but the key must already exist (it is opened, never created).
// Writes nothing for an unknown root, a missing key or an unknown type; the
// result says whether the value was stored (callers may ignore it).
bool WriteRegistryValue(platform::reg::Registry& registry, std::string_view root_name,
                        std::string_view subkey, std::string_view type,
                        std::string_view value_name, std::string_view data,
                        std::string* why = nullptr);
// The same on the system registry of the current root.
bool WriteRegistryValue(std::string_view root_name, std::string_view subkey,
                        std::string_view type, std::string_view value_name,
                        std::string_view data);

// ---- Files (INIMOD:, APPENDFILE:) -----------------------------------------

// The Windows path of an INIMOD: file: directory code (upper-cased) "." is
// `install_dir`, "WIN" the Windows directory, "WINSYS" the system
// directory, anything else install_dir + code + "\"; then the file name.
// `install_dir` is a Windows path ending in a backslash, or empty before
// TRANSFER: (the name then stands alone). Pure: no disk access.
std::string IniModPath(std::string_view code, std::string_view file, std::string_view install_dir);

// INIMOD: with its argument text (directory code, file, section, key, value).
// The path is IniModPath, translated into the root (a name without a folder
// lies in the Windows directory, as the private-profile calls place it). True
// when the key was written; an empty value is written as an empty value.
bool IniModCommand(std::string_view arguments, std::string_view install_dir,
                   std::string* why = nullptr);

// The file name rule of APPENDFILE:: upper-cased, and ".\" put in front of a
// name that starts neither with '\' nor with '.'.
std::string AppendFileName(std::string_view name);

// APPENDFILE: never makes a file larger than this: the INI layer reads 4 MiB
// at most, and the wizard's own profile must stay readable and savable.
inline constexpr std::uint64_t kMaxAppendedFileSize = 1u << 20;  // 1 MiB

// APPENDFILE: with its argument text (file name, line; a single field is
// both). Appends the line and CR LF to the file (created when missing) in
// one append-mode write, so other appenders cannot split it; only a regular
// file with one name (no second hard link) is written, and never past
// kMaxAppendedFileSize. On a failed write the file is cut back to its old
// length. True when the whole line was written.
bool AppendFileCommand(std::string_view arguments, std::string* why = nullptr);

// ---- The session -----------------------------------------------------------

// The longest a registry change waits in memory while the line is busy.
inline constexpr std::int64_t kRegistryWriteBackMs = 1000;

// The session's pace hook for the gathered REGMOD: writes: the hives are
// written when the line goes quiet, at the latest kRegistryWriteBackMs after
// the first unwritten change, and at the end of the call (deferral then
// ends).
void WriteBackRegistry(platform::reg::Registry& registry, session::LinePace pace);

// Installs the REGMOD:, INIMOD: and APPENDFILE: handlers in the session; each
// answers "REPLY: OK" or "REPLY: ERROR". REGMOD: uses the system registry,
// INIMOD: the session's installDir. Also CONFIG: (sysconfig/dialup.h),
// ADDITEM: and the shortcuts hook (sysconfig/program_items.h).
void InstallCommandHandlers(session::CRegSessionDialog& session);

}  // namespace sysconfig
