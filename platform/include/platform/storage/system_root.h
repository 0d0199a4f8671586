// System root: the one folder that holds every Windows location.
//
// Like a Wine prefix, every place the Windows programs knew (drive C, the
// Windows and system directories, the program directory, the registry, COM
// port names) lives under one folder, the system root. Programs choose it
// once at start-up (choose_root(), then set_system_root()); tests and the
// demo point it at their own folder (ScopedSystemRoot). A library loaded by an
// outside program that never chose one gets the default on first use.
//
// Choice, first that applies: the `--root DIR` option, the environment
// variable VLR_ROOT, $XDG_DATA_HOME/NAME, ~/.local/share/NAME, where NAME is
// the folder the product names (product_names.h).
//
// Layout (folders are created on demand, on first use):
//
//   drive_c/                  drive C:                  "C:\"
//   drive_c/windows/          Windows directory         "C:\WINDOWS"
//   drive_c/windows/system/   system directory          "C:\WINDOWS\SYSTEM"
//   drive_c/NAME/             program directory         "C:\NAME"
//                             (the product's side files; also the current
//                             directory for relative names)
//   registry/                 registry hives, one file per root key
//   dosdevices/               comN: symbolic links to the tty of each port
//   desktop/                  desktop shortcuts
//   start_menu/               program groups and their items
//   phonebook/                dial-up entries (pppd peers, chat, secrets)
//
// Windows paths are translated into the root by translate_path(): '\' and
// '/' both separate; "C:\X", "\X" (root of drive C), ".\X" and "X" (relative
// to the program directory, or to the Windows or system directory when the
// caller says so). Refused, each with its reason: "..", drive letters other
// than C, "\\?\", "\\.\" and UNC prefixes, device names (CON, NUL, AUX, PRN,
// COMn, LPTn, CLOCK$, CONIN$, CONOUT$, also with an extension), control
// characters, the characters < > : " | ? *, names ending in a dot or a blank,
// over-long names. Windows names ignore case: each component is matched
// against the existing entries of its folder, and an entry that differs only
// in case is used. The result is then opened with open_translated(), which
// refuses symbolic links (confined.h).
//
// Index: KnownFolder, choose_root, set_system_root, system_root,
// known_folder, check_inside_root, ScopedSystemRoot, RelativeTo, RootPath, normalize_path,
// translate_path, open_translated, check_translated, replace_translated.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/storage/confined.h"
#include "platform/storage/files.h"

namespace platform {

enum class KnownFolder {
  DriveC,
  Windows,
  System,
  Program,
  Registry,
  DosDevices,
  Desktop,
  StartMenu,
  PhoneBook,
};

// Where the folder lies inside the root, '/'-separated ("drive_c/windows").
std::string known_folder_relative(KnownFolder folder);
// The folder's Windows name without a trailing backslash ("C:\WINDOWS", what
// GetWindowsDirectory answers; "C:\" for drive C). Empty for the folders that
// have none (registry, dosdevices, desktop, start menu, phone book).
std::string known_folder_windows_name(KnownFolder folder);

// The root the command line and environment ask for. `root_option` is the
// value of --root, or nullptr when it was not given. A relative folder is
// made absolute against the current directory. Fails (error set) only when
// no folder can be named at all (no HOME and no XDG_DATA_HOME).
struct RootChoice {
  std::filesystem::path path;
  std::string source;  // "--root", "VLR_ROOT", "XDG_DATA_HOME" or "HOME"
  std::string error;
  explicit operator bool() const { return error.empty(); }
};
RootChoice choose_root(const char* root_option);

// Makes `root` (absolute or made so) the process's system root, creating it
// (mode 0700) if missing. False and `error` when it cannot be created or is
// not a folder; the previous root then stays.
bool set_system_root(const std::filesystem::path& root, std::string* error = nullptr);

// The current system root. When none was set, the default of choose_root
// (nullptr) is set on first use; empty only when even that fails.
std::filesystem::path system_root();

// The absolute path of a known folder, created (with its parents) if missing.
// When it cannot be created, the path is still returned, the failure is
// logged and later opens report it.
std::filesystem::path known_folder(KnownFolder folder);
// Same, telling whether the folder exists afterwards, and why not.
bool ensure_known_folder(KnownFolder folder, std::string* error = nullptr);

// For every writer that works by path name: when `path` lies beneath the
// system root, its folder must be reachable from the root without a symbolic
// link (a link planted as registry/, phonebook/, desktop/ or start_menu/
// would send the write elsewhere). False and `error` then. Paths outside the
// root, or before a root was chosen, are not judged here (true).
bool check_inside_root(const std::filesystem::path& path, std::string* error = nullptr);

// For tests: makes a fresh temporary folder the system root for the lifetime
// of the object, then restores the previous root and removes the folder.
class ScopedSystemRoot {
 public:
  ScopedSystemRoot();
  ~ScopedSystemRoot();
  ScopedSystemRoot(const ScopedSystemRoot&) = delete;
  ScopedSystemRoot& operator=(const ScopedSystemRoot&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::filesystem::path previous_;
};

// What a name without a drive or leading backslash is relative to.
enum class RelativeTo { Program, Windows, System };

// A Windows path translated into the root, or the reason it was refused.
struct RootPath {
  std::filesystem::path root;  // the system root it lies beneath
  std::string relative;        // beneath the root, '/'-separated, never empty
  std::string error;           // set when refused: the path and the reason
  explicit operator bool() const { return error.empty(); }
  std::filesystem::path full() const { return root / relative; }
};

// The pure part of the translation: checks and normalises `windows_path`
// into a path relative to the root ("drive_c/windows/test.ini") without
// touching the disk. Returns an empty string and sets `error` when refused.
std::string normalize_path(std::string_view windows_path, RelativeTo relative_to,
                           std::string* error);

// Translates `windows_path` into the current system root: normalize_path,
// then each component takes the case of an existing entry that matches it
// without regard to case. The known folders are created if missing.
RootPath translate_path(std::string_view windows_path,
                        RelativeTo relative_to = RelativeTo::Program);

// Opens a translated path beneath its root, refusing symbolic links
// (open_beneath). A refused RootPath gives its own error back.
OpenResult open_translated(const RootPath& path, int flags, FileMode mode = FileMode::Shared);
// check_beneath for a translated path, for writers that work by path name.
bool check_translated(const RootPath& path, std::string* error = nullptr);

// Replaces the file at a translated path with `contents`: check_translated,
// then replace_file() under the file's FileLock. A new file gets `mode`
// (OwnerOnly for a file that holds a password: 0600 from its creation).
// False and `error` when refused or not written; the old file then stays.
bool replace_translated(const RootPath& path, std::string_view contents,
                        FileMode mode = FileMode::Shared, std::string* error = nullptr);

}  // namespace platform
