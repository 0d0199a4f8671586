// The switch of a whole entry from its old files to its new ones, and the
// recovery of a switch that a crash interrupted.
//
// The new files are written beside the old ones as ".FILE.new". The journal
// ".SAFENAME.switch", written atomically once all of them are on disk, is
// the moment the switch is decided: without it a start removes the ".new"
// files (the old entry stays), with it a start renames the rest of them over
// the old files (the new entry is made whole). The peers file, which makes
// the entry exist for pppd, is always the last rename.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "phonebook_internal.h"
#include "platform/loop/log.h"
#include "platform/shell/phonebook.h"
#include "platform/storage/files.h"
#include "platform/storage/system_root.h"

namespace platform::phonebook {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kComponent = "phonebook";
constexpr std::string_view kReplace = "replace ";
constexpr std::string_view kRemove = "remove ";

// One file of a switch, relative to the phone book's folder.
struct SwitchStep {
  bool remove = false;
  std::string relative;
};

fs::path staged_path(const fs::path& folder, const std::string& relative) {
  const fs::path target = folder / relative;
  return target.parent_path() / ("." + target.filename().string() + ".new");
}

// The files of entry `safe` a switch may change, the peers file last.
std::vector<std::string> entry_files(const std::string& safe) {
  return {"chatscripts/" + safe, "ip-up.d/" + safe, "ip-down.d/" + safe, "secrets/" + safe, "pap-secrets",
          "chap-secrets", "peers/" + safe};
}

std::string journal_text(const std::vector<SwitchStep>& steps) {
  std::string text;
  for (const SwitchStep& step : steps) {
    text += step.remove ? kRemove : kReplace;
    text += step.relative + "\n";
  }
  return text;
}

// The steps of a journal; nothing when a line is not one of ours (a file
// from elsewhere is never acted on).
std::optional<std::vector<SwitchStep>> read_journal(std::string_view text, const std::string& safe) {
  const std::vector<std::string> allowed = entry_files(safe);
  std::vector<SwitchStep> steps;
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    if (eol == std::string_view::npos) return std::nullopt;
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol + 1);
    SwitchStep step;
    if (line.starts_with(kReplace)) {
      line.remove_prefix(kReplace.size());
    } else if (line.starts_with(kRemove)) {
      line.remove_prefix(kRemove.size());
      step.remove = true;
    } else {
      return std::nullopt;
    }
    step.relative = std::string(line);
    if (std::find(allowed.begin(), allowed.end(), step.relative) == allowed.end()) return std::nullopt;
    steps.push_back(std::move(step));
  }
  return steps;
}

void sync_folder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Carries the steps out: each staged file is renamed over its target (a step
// already done has no staged file left), each removal unlinks its target.
// Idempotent, so a crash inside it is finished by running it again.
bool apply_steps(const fs::path& folder, const std::vector<SwitchStep>& steps, std::string* why) {
  std::set<fs::path> touched;
  for (const SwitchStep& step : steps) {
    const fs::path target = folder / step.relative;
    touched.insert(target.parent_path());
    if (step.remove) {
      if (::unlink(target.c_str()) != 0 && errno != ENOENT) {
        if (why) *why = "cannot remove " + target.string() + ": " + std::strerror(errno);
        return false;
      }
      continue;
    }
    const fs::path staged = staged_path(folder, step.relative);
    if (::rename(staged.c_str(), target.c_str()) != 0 && errno != ENOENT) {
      if (why) *why = "cannot rename " + staged.string() + " to " + target.string() + ": " + std::strerror(errno);
      return false;
    }
  }
  for (const fs::path& dir : touched) sync_folder(dir);
  return true;
}

void remove_staged(const fs::path& folder, const std::string& safe) {
  for (const std::string& relative : entry_files(safe)) ::unlink(staged_path(folder, relative).c_str());
}

// Holds the lock of the folder of both secrets files: one update of the
// pair, and no lock file left behind in the ppp folder.
struct SecretsLocks {
  explicit SecretsLocks(const PhoneBook& book) : folder(book.pap_secrets_path().parent_path()) {}
  bool locked(std::string* why) const {
    if (folder.locked()) return true;
    if (why) *why = folder.error();
    return false;
  }
  FolderLock folder;
};

// recover_entry's work, under the secrets locks.
bool recover_locked(const PhoneBook& book, std::string_view name, std::string* why) {
  const std::string safe = safe_entry_name(name);
  const fs::path journal = book.switch_journal_path(name);
  std::string text;
  bool missing = false;
  std::string error;
  if (!read_file(journal, text, &error, &missing)) {
    if (!missing) {
      if (why) *why = error;
      return false;
    }
    remove_staged(book.folder(), safe);  // a switch that was not decided: the old entry stays
    return true;
  }
  const auto steps = read_journal(text, safe);
  if (!steps) {
    if (why) *why = journal.string() + " is not a switch journal of this entry; it is left as it is";
    return false;
  }
  if (!apply_steps(book.folder(), *steps, why)) return false;
  ::unlink(journal.c_str());
  sync_folder(book.folder());
  log_info(kComponent, "the interrupted switch of entry \"" + std::string(name) + "\" was finished");
  return true;
}

}  // namespace

fs::path PhoneBook::switch_journal_path(std::string_view name) const {
  return folder_ / ("." + safe_entry_name(name) + ".switch");
}

int PhoneBook::recover_entry(std::string_view name, std::string* why) {
  std::error_code ec;
  if (!fs::exists(folder_, ec)) return kPbSuccess;
  if (std::string error; !check_inside_root(peers_path(name), &error)) {
    if (why) *why = error;
    return kPbCannotWrite;
  }
  for (const char* sub : {"", "peers", "chatscripts", "ip-up.d", "ip-down.d", "secrets"}) {
    const fs::path dir = *sub ? folder_ / sub : folder_;
    if (int n = remove_stale_temp_files(dir); n > 0) {
      log_info(kComponent, std::to_string(n) + " stale temporary file(s) removed from " + dir.string());
    }
  }
  SecretsLocks locks(*this);
  if (!locks.locked(why)) return kPbCannotWrite;
  return recover_locked(*this, name, why) ? kPbSuccess : kPbCannotWrite;
}

int PhoneBook::replace_entry(std::string_view name, const EntryProperties& props, std::string_view user,
                            std::string_view password, std::string* why) {
  if (name.empty()) return kPbInvalidName;
  const std::string safe = safe_entry_name(name);
  // Nothing is written through a folder that is a link out of the root.
  for (const fs::path& path :
       {peers_path(name), chat_path(name), hook_path(name), down_hook_path(name), secret_file_path(name), pap_secrets_path()}) {
    if (std::string error; !check_inside_root(path, &error)) {
      if (why) *why = error;
      return kPbCannotWrite;
    }
  }
  // Every text first: a value that cannot be written changes nothing.
  PeersFile peers = entry_peers_file(*this, name, props);
  peers.user = std::string(user);
  const auto peers_text = peers_file_text(peers, why);
  if (!peers_text) return kPbInvalidValue;
  const auto chat_text = chat_script_text(props.init_command, props.dial_command, why);
  if (!chat_text) return kPbInvalidValue;
  const auto secret = make_entry_secret(*this, name, user, password, why);
  if (!secret) return kPbInvalidValue;
  const std::string up_hook = ip_up_hook_text(safe, props.dns1, props.dns2);
  const std::string down_hook = ip_down_hook_text(safe);

  std::string error;
  for (const char* sub : {"peers", "chatscripts", "ip-up.d", "ip-down.d", "secrets"}) {
    const FileMode mode = std::string_view(sub) == "secrets" ? FileMode::OwnerOnly : FileMode::Shared;
    if (!make_folders(folder_ / sub, mode, &error)) {
      if (why) *why = error;
      return kPbCannotWrite;
    }
  }
  SecretsLocks locks(*this);
  if (!locks.locked(why)) return kPbCannotWrite;
  if (!recover_locked(*this, name, why)) return kPbCannotWrite;

  struct NewFile {
    std::string relative;
    std::string text;
    FileMode mode;
  };
  std::vector<NewFile> files;
  std::vector<SwitchStep> steps;
  auto add = [&](std::string relative, const std::string& text, FileMode mode) {
    steps.push_back({text.empty(), relative});
    if (!text.empty()) files.push_back({std::move(relative), text, mode});
  };
  add("chatscripts/" + safe, *chat_text, FileMode::Shared);
  add("ip-up.d/" + safe, up_hook, FileMode::Executable);
  add("ip-down.d/" + safe, down_hook, FileMode::Executable);
  add("secrets/" + safe, secret->file_text.value_or(""), FileMode::OwnerOnly);
  for (const fs::path& secrets : {pap_secrets_path(), chap_secrets_path()}) {
    std::string old;
    bool missing = false;
    if (!read_file(secrets, old, &error, &missing) && !missing) {
      if (why) *why = error;
      return kPbCannotWrite;
    }
    if (secrets_span_lines(old)) {
      if (why) *why = secrets.string() + kSpansLines;
      return kPbCannotWrite;
    }
    add(secrets.filename().string(), merge_secrets(old, safe, secret->line), FileMode::OwnerOnly);
  }
  add("peers/" + safe, *peers_text, FileMode::Shared);

  // The new files beside the old ones.
  for (const NewFile& f : files) {
    const fs::path staged = staged_path(folder_, f.relative);
    ::unlink(staged.c_str());  // a fresh file at its own mode
    if (!replace_file(staged, f.text, f.mode, &error)) {
      remove_staged(folder_, safe);
      if (why) *why = error;
      return kPbCannotWrite;
    }
  }
  // The switch is decided here.
  const fs::path journal = switch_journal_path(name);
  if (!replace_file(journal, journal_text(steps), FileMode::OwnerOnly, &error)) {
    remove_staged(folder_, safe);
    ::unlink(journal.c_str());
    if (why) *why = error;
    return kPbCannotWrite;
  }
  if (!apply_steps(folder_, steps, why)) {
    log_warn(kComponent, "the switch of entry \"" + std::string(name) + "\" stopped; the next start finishes it");
    return kPbCannotWrite;
  }
  ::unlink(journal.c_str());
  sync_folder(folder_);
  log_info(kComponent, "entry \"" + std::string(name) + "\" written to " + peers_path(name).string());
  return kPbSuccess;
}

}  // namespace platform::phonebook
