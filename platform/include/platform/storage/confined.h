// Confinement: opening files beneath a base folder, never outside it.
//
// A file named from outside (the registration server names files to append
// to and INI files to change) must stay beneath the folder it was meant for.
// open_beneath() opens a relative path below a trusted base folder and
// follows no symbolic link on the way, not even one that stays inside: a
// link is refused, so no name can be bent out of the folder.
//
// The work is done by openat2() with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS.
// Where the kernel has no openat2 (ENOSYS) the same rule is kept by a walk
// of openat(..., O_NOFOLLOW), one component at a time, from the base's
// descriptor. Both give the same answers; tests select each in turn.
//
// The relative path uses '/' and must not be absolute or hold "." or ".."
// components; Windows names are translated and checked first (system_root.h).
//
// Index: UniqueFd, OpenResult, open_beneath, make_dirs_beneath,
// check_beneath, ConfineMethod / set_confine_method.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/storage/files.h"

namespace platform {

// Owns a file descriptor; closes it when destroyed.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// The outcome of a confined open: a descriptor, or errno and a sentence
// naming the path and the reason.
struct OpenResult {
  UniqueFd fd;
  int errno_value = 0;
  std::string error;
  explicit operator bool() const { return fd.valid(); }
};

// Opens `relative` beneath the folder `base` with open(2) `flags` (O_CLOEXEC
// is added). With O_CREAT a new file gets `mode` (0644 or 0600; the umask
// can only narrow it). `base` itself is trusted and opened as given.
// Refused with a clear error: an absolute or empty relative path, "." or ".."
// components, any symbolic link on the way or at the end (ELOOP), anything
// that would end outside `base` (EXDEV).
OpenResult open_beneath(const std::filesystem::path& base, std::string_view relative,
                        int flags, FileMode mode = FileMode::Shared);

// Creates the folder `relative` beneath `base`, with any missing parents
// (mode 0755, or 0700 when `mode` is OwnerOnly), following no symbolic link.
// True when the folder exists afterwards; else false and `error`.
bool make_dirs_beneath(const std::filesystem::path& base, std::string_view relative,
                       FileMode mode = FileMode::Shared, std::string* error = nullptr);

// For writers that work by path name (replace_file, the INI code): checks
// that the parent folder of `relative` can be reached beneath `base` without
// a symbolic link and that the last component, if it exists, is a regular
// file and not a link. False and `error` otherwise.
bool check_beneath(const std::filesystem::path& base, std::string_view relative,
                   std::string* error = nullptr);

// Which mechanism open_beneath() uses. Auto tries openat2 and falls back to
// the walk for good once the kernel answers ENOSYS. Tests force each one.
enum class ConfineMethod { Auto, Openat2, Walk };
void set_confine_method(ConfineMethod method);
ConfineMethod confine_method();
// True when openat2 is available on this kernel (probed once).
bool openat2_available();

}  // namespace platform
