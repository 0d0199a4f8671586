#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>

#include "common/ini.h"
#include "platform/loop/log.h"

namespace common {
namespace {

constexpr std::string_view kLog = "ini";

// The document of `file`, or nullptr when it is missing or unreadable (then
// logged: a reader falls back to its default, but the reason is kept).
// A file that stays unreadable is reported once, not at every read of it,
// until it can be read again or fails for another reason.
void warn_unreadable(const std::filesystem::path& file, const std::string* error) {
  static std::mutex mutex;
  static std::map<std::string, std::string> reported;  // file -> reason
  static std::atomic<bool> any{false};
  // Reads that work are the hot path: nothing to forget, no lock.
  if (!error && !any.load(std::memory_order_acquire)) return;
  std::lock_guard lock(mutex);
  if (!error) {
    reported.erase(file.string());
    any.store(!reported.empty(), std::memory_order_release);
    return;
  }
  auto [it, added] = reported.try_emplace(file.string(), *error);
  any.store(true, std::memory_order_release);
  if (!added && it->second == *error) return;
  it->second = *error;
  platform::log_warn(kLog, *error);
}

std::shared_ptr<const IniDocument> document_for_read(const std::filesystem::path& file) {
  if (file.empty()) return nullptr;
  std::string error;
  bool missing = false;
  auto doc = load_ini_cached(file, &error, &missing);
  if (!doc && !missing) warn_unreadable(file, &error);
  else warn_unreadable(file, nullptr);
  return doc;
}

// Names each ended by a NUL, as Windows lists them.
std::string join_names(const std::vector<std::string>& names) {
  std::string out;
  for (const auto& n : names) {
    out += n;
    out += '\0';
  }
  return out;
}

struct ProfileResult {
  std::string chars;  // what the caller receives, without the final NUL(s)
  bool list = false;
};

// Applies the Windows size rules to a value or a list; `size` > 0.
ProfileResult fit(std::string full, bool list, std::size_t size) {
  ProfileResult r;
  r.list = list;
  if (!list) {
    if (full.size() > size - 1) full.resize(size - 1);
  } else if (full.size() + 1 > size) {
    // Does not fit with its final NUL: cut to size - 2 and close with two NULs.
    full.resize(size >= 2 ? size - 2 : 0);
  }
  r.chars = std::move(full);
  return r;
}

ProfileResult read_profile(const char* section, const char* key, const char* default_value,
                           std::size_t size, const std::filesystem::path& file) {
  auto doc = document_for_read(file);
  if (!section) return fit(doc ? join_names(doc->sections()) : std::string(), true, size);
  if (!key) return fit(doc ? join_names(doc->keys(section)) : std::string(), true, size);
  if (doc) {
    if (auto value = doc->get(section, key)) return fit(std::move(*value), false, size);
  }
  // Windows strips trailing blanks of the default.
  std::string def = default_value ? default_value : "";
  while (!def.empty() && (def.back() == ' ' || def.back() == '\t')) def.pop_back();
  return fit(std::move(def), false, size);
}

}  // namespace

std::string get_private_profile_string(const char* section, const char* key, const char* default_value,
                                       std::size_t size, const std::filesystem::path& file) {
  if (size == 0) return std::string();
  return read_profile(section, key, default_value, size, file).chars;
}

std::size_t get_private_profile_string(const char* section, const char* key, const char* default_value,
                                       char* buffer, std::size_t size, const std::filesystem::path& file) {
  if (!buffer || size == 0) return 0;
  ProfileResult r = read_profile(section, key, default_value, size, file);
  std::memcpy(buffer, r.chars.data(), r.chars.size());
  buffer[r.chars.size()] = '\0';
  if (r.list && r.chars.size() + 1 < size) buffer[r.chars.size() + 1] = '\0';
  return r.chars.size();
}

int write_private_profile_string(const char* section, const char* key, const char* value,
                                 const std::filesystem::path& file, platform::FileMode new_file_mode) {
  if (file.empty()) {
    platform::log_warn(kLog, "write refused: no file name");
    return 0;
  }
  if (!section) {
    if (!key && !value) return 1;  // flush: every write is on disk already
    platform::log_warn(kLog, "write to " + file.string() + " refused: no section");
    return 0;
  }
  std::string reason;
  bool ok = update_ini_file(
      file,
      [&](IniDocument& doc) {
        if (!key) {
          doc.remove_section(section);
          return true;
        }
        if (!value) {
          doc.remove_key(section, key);
          return true;
        }
        return doc.set(section, key, value, &reason);
      },
      &reason, new_file_mode);
  if (!ok) {
    platform::log_warn(kLog, "write of [" + std::string(section) + "] " + (key ? key : "(section)") +
                                 " in " + file.string() + " failed: " + reason);
  }
  return ok ? 1 : 0;
}

}  // namespace common
