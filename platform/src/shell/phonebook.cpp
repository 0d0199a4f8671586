#include "platform/shell/phonebook.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>

#include "phonebook_internal.h"
#include "platform/storage/files.h"
#include "platform/loop/log.h"
#include "platform/storage/system_root.h"

namespace platform::phonebook {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kComponent = "phonebook";

// Writes `contents` at `path` unless it already holds exactly those bytes.
bool write_if_changed(const fs::path& path, std::string_view contents, FileMode mode, std::string* why,
                    bool* changed) {
  std::string old;
  bool missing = false;
  if (read_file(path, old, nullptr, &missing) && old == contents) return true;
  std::string error;
  make_folders(path.parent_path());  // a failure shows in the write
  if (!replace_file(path, contents, mode, &error)) {
    if (why) *why = error;
    return false;
  }
  if (changed) *changed = true;
  return true;
}

bool remove_if_present(const fs::path& path, std::string* why, bool* changed) {
  if (::unlink(path.c_str()) == 0) {
    if (changed) *changed = true;
    return true;
  }
  if (errno == ENOENT) return true;
  if (why) *why = "cannot remove " + path.string() + ": " + std::strerror(errno);
  return false;
}

// Replaces or removes `remote`'s line in the secrets file at `path`, under
// its folder's lock. A new file is created owner-only.
bool update_secrets_file(const fs::path& path, std::string_view remote, const std::optional<std::string>& line,
                       std::string* why, bool* changed) {
  make_folders(path.parent_path());  // a failure shows in the lock
  // The lock is the folder's: a lock file would stay behind in /etc/ppp.
  FolderLock lock(path.parent_path());
  if (!lock.locked()) {
    if (why) *why = lock.error();
    return false;
  }
  std::string old;
  bool missing = false;
  std::string error;
  if (!read_file(path, old, &error, &missing) && !missing) {
    if (why) *why = error;
    return false;
  }
  if (missing && !line) return true;
  if (secrets_span_lines(old)) {
    // pppd would read words across those line ends, so a line-by-line merge
    // could hide the entry's line or replace the wrong one: change nothing.
    if (why) *why = path.string() + kSpansLines;
    return false;
  }
  const std::string merged = merge_secrets(old, remote, line);
  if (!missing && merged == old) return true;
  struct stat st {};
  const bool was_open = !missing && ::stat(path.c_str(), &st) == 0 && (st.st_mode & 077) != 0;
  if (!replace_file(path, merged, FileMode::OwnerOnly, &error)) {
    if (why) *why = error;
    return false;
  }
  if (was_open) {
    char old_mode[8];
    std::snprintf(old_mode, sizeof old_mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    log_warn(kComponent, path.string() + " was readable by others (mode " + old_mode +
                             "); it is now readable by its owner only (0600)");
  }
  if (changed) *changed = true;
  return true;
}

std::optional<Secret> find_secret(const fs::path& path, std::string_view remote) {
  std::string text;
  if (!read_file(path, text)) return std::nullopt;
  for (Secret& s : read_secrets(text)) {
    if (s.server == remote) return s;
  }
  return std::nullopt;
}

// Whether `p` is an installed program: a regular file with an execute bit
// for anyone. Not access(X_OK): that asks whether this user may run it.
bool is_program_file(const fs::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111) != 0;
}

fs::path find_program(std::string_view name) {
  for (const char* dir : {"/usr/sbin", "/sbin"}) {
    fs::path p = fs::path(dir) / std::string(name);
    if (is_program_file(p)) return p;
  }
  if (const char* path = std::getenv("PATH")) {
    std::string_view rest = path;
    while (!rest.empty()) {
      std::size_t colon = rest.find(':');
      std::string_view dir = rest.substr(0, colon);
      if (!dir.empty()) {
        fs::path p = fs::path(std::string(dir)) / std::string(name);
        if (is_program_file(p)) return p;
      }
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  return {};
}

std::mutex& programs_mutex() {
  static std::mutex m;
  return m;
}
std::optional<PppPrograms>& programs_storage() {
  static std::optional<PppPrograms> p;
  return p;
}


}  // namespace

// ---- Programs -------------------------------------------------------------

const PppPrograms& ppp_programs() {
  std::lock_guard<std::mutex> lock(programs_mutex());
  auto& p = programs_storage();
  if (!p) p = PppPrograms{find_program("pppd"), find_program("chat")};
  return *p;
}

void set_ppp_programs(PppPrograms programs) {
  std::lock_guard<std::mutex> lock(programs_mutex());
  programs_storage() = std::move(programs);
}

void reset_ppp_programs() {
  std::lock_guard<std::mutex> lock(programs_mutex());
  programs_storage().reset();
}

// ---- The phone book -------------------------------------------------------

namespace {

// Writes the entry's two hooks.
bool write_hooks(const PhoneBook& book, std::string_view name, const Address& dns1, const Address& dns2,
                std::string* why, bool* changed) {
  const std::string safe = safe_entry_name(name);
  const std::pair<fs::path, std::string> hooks[] = {
      {book.hook_path(name), ip_up_hook_text(safe, dns1, dns2)},
      {book.down_hook_path(name), ip_down_hook_text(safe)},
  };
  for (const auto& [path, text] : hooks) {
    if (!write_if_changed(path, text, FileMode::Executable, why, changed)) return false;
  }
  return true;
}

bool remove_entry_files(const PhoneBook& book, std::string_view name, std::string* why, bool* changed = nullptr) {
  // The peers file first: once it is gone the entry no longer exists.
  for (const fs::path& path : {book.peers_path(name), book.chat_path(name), book.hook_path(name),
                               book.down_hook_path(name), book.secret_file_path(name)}) {
    if (!remove_if_present(path, why, changed)) return false;
  }
  return true;
}

}  // namespace

std::optional<EntrySecret> make_entry_secret(const PhoneBook& book, std::string_view name, std::string_view user,
                                             std::string_view password, std::string* why) {
  const std::string safe = safe_entry_name(name);
  EntrySecret secret;
  if (!password.empty() && password.front() == '@') {
    auto line = secret_file_line(user, safe, book.secret_file_path(name), why);
    if (!line) return std::nullopt;
    auto text = secret_file_text(password, why);
    if (!text) return std::nullopt;
    secret.line = *line;
    secret.file_text = *text;
  } else {
    auto line = secrets_line(user, safe, password, why);
    if (!line) return std::nullopt;
    secret.line = *line;
  }
  return secret;
}

namespace {


// The user and password of entry `name` in `book`: its pap-secrets line,
// with a "@/path" secret read from the entry's own secret file and nowhere
// else. Nothing when there is no line (`why` empty) or it cannot be read.
std::optional<Secret> read_entry_secret(const PhoneBook& book, std::string_view name, std::string* why) {
  auto secret = find_secret(book.pap_secrets_path(), safe_entry_name(name));
  if (!secret || secret->secret.empty() || secret->secret.front() != '@') return secret;
  const fs::path own = book.secret_file_path(name);
  std::string text;
  auto words = secret->secret == "@" + own.string() && read_file(own, text) ? pppd_words(text)
                                                                            : std::vector<std::vector<std::string>>{};
  if (words.empty() || words[0].empty()) {
    if (why) *why = "the secrets line of the entry names " + secret->secret.substr(1) + ", not its own secret file " +
                    own.string() + " holding a password";
    return std::nullopt;
  }
  secret->secret = words[0][0];
  return secret;
}

// Writes the entry's secret file (or removes it) and its line in both
// secrets files.
bool write_entry_secret(const PhoneBook& book, std::string_view name, const EntrySecret& secret, std::string* why,
                      bool* changed) {
  const std::string safe = safe_entry_name(name);
  if (secret.file_text ? !write_if_changed(book.secret_file_path(name), *secret.file_text, FileMode::OwnerOnly, why, changed)
                       : !remove_if_present(book.secret_file_path(name), why, changed)) {
    return false;
  }
  for (const fs::path& f : {book.pap_secrets_path(), book.chap_secrets_path()}) {
    if (!update_secrets_file(f, safe, secret.line, why, changed)) return false;
  }
  return true;
}

}  // namespace

namespace {

enum class EntryState { Found, Missing, Damaged };

// Entry `name` as its files hold it: the parsed peers file and, when asked
// for, the chat script's text.
struct StoredEntry {
  EntryState state = EntryState::Missing;
  std::optional<PeersFile> peers;
  std::string chat;
};

// Missing: no peers file that can be read. Damaged: a peers file this code
// did not write, or (with `with_chat`) no chat script that can be read.
StoredEntry read_entry(const PhoneBook& book, std::string_view name, bool with_chat) {
  StoredEntry entry;
  std::string text;
  if (!read_file(book.peers_path(name), text)) return entry;
  entry.peers = read_peers_file(text);
  const bool whole = entry.peers && (!with_chat || read_file(book.chat_path(name), entry.chat));
  entry.state = whole ? EntryState::Found : EntryState::Damaged;
  return entry;
}

// kPbEntryNotFound, and why, for an entry that is missing or damaged.
int entry_not_usable(EntryState state, std::string_view name, std::string* why) {
  if (why) {
    *why = state == EntryState::Missing ? "no entry \"" + std::string(name) + "\""
                                        : "entry \"" + std::string(name) + "\" is damaged";
  }
  return kPbEntryNotFound;
}

}  // namespace

PeersFile entry_peers_file(const PhoneBook& book, std::string_view name, const EntryProperties& props) {
  PeersFile peers;
  peers.entry_name = std::string(name);
  peers.device = props.device;
  peers.speed = props.speed;
  peers.chat_program = ppp_programs().chat.empty() ? "/usr/sbin/chat" : ppp_programs().chat.string();
  peers.chat_script = book.chat_path(name).string();
  peers.ipparam = safe_entry_name(name);
  peers.dns1 = props.dns1;
  peers.dns2 = props.dns2;
  return peers;
}

PhoneBook::PhoneBook(fs::path folder)
    : folder_(folder.empty() ? known_folder(KnownFolder::PhoneBook) : std::move(folder)) {}

fs::path PhoneBook::peers_path(std::string_view name) const { return folder_ / "peers" / safe_entry_name(name); }
fs::path PhoneBook::chat_path(std::string_view name) const { return folder_ / "chatscripts" / safe_entry_name(name); }
fs::path PhoneBook::hook_path(std::string_view name) const { return folder_ / "ip-up.d" / safe_entry_name(name); }
fs::path PhoneBook::down_hook_path(std::string_view name) const {
  return folder_ / "ip-down.d" / safe_entry_name(name);
}
fs::path PhoneBook::secret_file_path(std::string_view name) const { return folder_ / "secrets" / safe_entry_name(name); }

int PhoneBook::validate_entry_name(std::string_view name) const {
  if (name.empty()) return kPbInvalidName;
  std::error_code ec;
  return fs::exists(peers_path(name), ec) ? kPbAlreadyExists : kPbSuccess;
}

int PhoneBook::set_entry_properties(std::string_view name, const EntryProperties& props, std::string* why) {
  if (name.empty()) return kPbInvalidName;
  PeersFile peers = entry_peers_file(*this, name, props);
  std::string old;
  if (read_file(peers_path(name), old)) {
    if (auto existing = read_peers_file(old)) peers.user = existing->user;
  }
  auto peers_text = peers_file_text(peers, why);
  if (!peers_text) return kPbInvalidValue;
  auto chat_text = chat_script_text(props.init_command, props.dial_command, why);
  if (!chat_text) return kPbInvalidValue;
  // The chat script and hooks first: a peers file never names a script
  // that is not there.
  if (!write_if_changed(chat_path(name), *chat_text, FileMode::Shared, why, nullptr)) return kPbCannotWrite;
  if (!write_hooks(*this, name, props.dns1, props.dns2, why, nullptr)) return kPbCannotWrite;
  if (!write_if_changed(peers_path(name), *peers_text, FileMode::Shared, why, nullptr)) return kPbCannotWrite;
  log_info(kComponent, "entry \"" + std::string(name) + "\" written to " + peers_path(name).string());
  return kPbSuccess;
}

int PhoneBook::rename_entry(std::string_view from, std::string_view to, std::string* why) {
  if (from.empty() || to.empty()) return kPbInvalidName;
  StoredEntry entry = read_entry(*this, from, true);
  if (entry.state == EntryState::Missing) return entry_not_usable(entry.state, from, why);
  if (validate_entry_name(to) != kPbSuccess) {
    if (why) *why = "an entry \"" + std::string(to) + "\" exists already";
    return kPbAlreadyExists;
  }
  if (entry.state == EntryState::Damaged) return entry_not_usable(entry.state, from, why);
  std::optional<PeersFile>& peers = entry.peers;
  const std::string& chat = entry.chat;
  const std::string from_safe = peers->ipparam;
  const std::string to_safe = safe_entry_name(to);
  std::string secret_why;
  auto secret = read_entry_secret(*this, from, &secret_why);
  if (!secret && !secret_why.empty()) {
    if (why) *why = secret_why;
    return kPbEntryNotFound;
  }
  peers->entry_name = std::string(to);
  peers->ipparam = to_safe;
  peers->chat_script = chat_path(to).string();
  auto new_peers = peers_file_text(*peers, why);
  if (!new_peers) return kPbInvalidValue;
  std::optional<EntrySecret> new_secret;
  if (secret && !(new_secret = make_entry_secret(*this, to, secret->client, secret->secret, why))) return kPbInvalidValue;
  // The new entry is whole before the old one goes.
  if (!write_if_changed(chat_path(to), chat, FileMode::Shared, why, nullptr)) return kPbCannotWrite;
  if (!write_hooks(*this, to, peers->dns1, peers->dns2, why, nullptr)) return kPbCannotWrite;
  if (new_secret && !write_entry_secret(*this, to, *new_secret, why, nullptr)) return kPbCannotWrite;
  if (!write_if_changed(peers_path(to), *new_peers, FileMode::Shared, why, nullptr)) return kPbCannotWrite;
  if (from_safe == to_safe) return kPbSuccess;
  return delete_entry(from, why);
}

int PhoneBook::delete_entry(std::string_view name, std::string* why) {
  if (name.empty()) return kPbInvalidName;
  std::error_code ec;
  if (!fs::exists(peers_path(name), ec)) return entry_not_usable(EntryState::Missing, name, why);
  const std::string safe = safe_entry_name(name);
  if (!remove_entry_files(*this, name, why)) return kPbCannotWrite;
  for (const fs::path& f : {pap_secrets_path(), chap_secrets_path()}) {
    if (!update_secrets_file(f, safe, std::nullopt, why, nullptr)) return kPbCannotWrite;
  }
  return kPbSuccess;
}

int PhoneBook::set_entry_dial_params(std::string_view name, std::string_view user, std::string_view password,
                                  std::string* why) {
  StoredEntry entry = read_entry(*this, name, false);
  if (entry.state != EntryState::Found) return entry_not_usable(entry.state, name, why);
  std::optional<PeersFile>& peers = entry.peers;
  auto secret = make_entry_secret(*this, name, user, password, why);
  if (!secret) return kPbInvalidValue;
  peers->user = std::string(user);
  auto new_peers = peers_file_text(*peers, why);
  if (!new_peers) return kPbInvalidValue;
  if (!write_entry_secret(*this, name, *secret, why, nullptr)) return kPbCannotWrite;
  if (!write_if_changed(peers_path(name), *new_peers, FileMode::Shared, why, nullptr)) return kPbCannotWrite;
  return kPbSuccess;
}

std::vector<std::string> PhoneBook::entry_names() const {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder_ / "peers", ec), end; !ec && it != end; it.increment(ec)) {
    std::string text;
    if (!it->is_regular_file(ec) || !read_file(it->path(), text)) continue;
    if (auto peers = read_peers_file(text); peers && peers->ipparam == it->path().filename().string()) {
      names.push_back(peers->entry_name);
    }
  }
  return names;
}

int install_entry(const PhoneBook& from, std::string_view name, const fs::path& to, std::string* why,
                 bool* changed) {
  if (changed) *changed = false;
  const std::string where = "the dial-up entry \"" + std::string(name) + "\" in " + from.folder().string();
  StoredEntry entry = read_entry(from, name, true);
  if (entry.state == EntryState::Missing) {
    if (why) *why = "no dial-up entry \"" + std::string(name) + "\" in " + from.folder().string();
    return kPbEntryNotFound;
  }
  auto refuse = [&](const std::string& what) {
    if (why) *why = where + " " + what;
    return kPbInvalidValue;
  };
  std::optional<PeersFile>& peers = entry.peers;
  std::optional<ChatSteps> steps;
  if (entry.state == EntryState::Damaged || !(steps = read_chat_script(entry.chat))) {
    if (why) *why = where + " is damaged";
    return kPbEntryNotFound;
  }
  // Each value the root's files hold is checked, not trusted: they belong
  // to the user, and what is written here runs as root.
  const std::string safe = safe_entry_name(name);
  peers->entry_name = std::string(name);
  peers->ipparam = safe;  // remotename and ipparam: the entry's own name only
  struct stat st {};
  if (::stat(peers->device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
    return refuse("names the device " + peers->device + ", which is not a character device");
  }
  peers->speed = serial_speed_at_or_above(peers->speed);
  std::string secret_why;
  auto secret = read_entry_secret(from, name, &secret_why);
  if (!secret) return refuse(secret_why.empty() ? "has no user ID and password (no line for " + safe + " in " +
                                                      from.pap_secrets_path().string() + ")"
                                                : "is refused: " + secret_why);
  if (!peers->user.empty() && peers->user != secret->client) {
    return refuse("names the user \"" + peers->user + "\", but its secrets line is for \"" + secret->client + "\"");
  }
  peers->user = secret->client;
  const PhoneBook target(to);
  // The files are made again from their values, never copied: what runs as
  // root (the connect command, the chat script) is only what we write.
  peers->chat_script = target.chat_path(name).string();
  peers->chat_program = ppp_programs().chat.empty() ? "/usr/sbin/chat" : ppp_programs().chat.string();
  auto peers_text = peers_file_text(*peers, why);
  if (!peers_text) return kPbInvalidValue;
  auto chat_text = chat_script_text(steps->init, steps->dial, why);
  if (!chat_text) return kPbInvalidValue;
  auto entry_secret = make_entry_secret(target, name, secret->client, secret->secret, why);
  if (!entry_secret) return kPbInvalidValue;
  // A secrets file the merge must refuse is found before anything is
  // written, so a refused install leaves the pppd folder as it was.
  for (const fs::path& f : {target.pap_secrets_path(), target.chap_secrets_path()}) {
    std::string text;
    if (read_file(f, text) && secrets_span_lines(text)) {
      if (why) *why = f.string() + kSpansLines;
      return kPbCannotWrite;
    }
  }
  if (!write_if_changed(target.chat_path(name), *chat_text, FileMode::Shared, why, changed)) return kPbCannotWrite;
  if (!write_hooks(target, name, peers->dns1, peers->dns2, why, changed)) return kPbCannotWrite;
  if (!write_entry_secret(target, name, *entry_secret, why, changed)) return kPbCannotWrite;
  if (!write_if_changed(target.peers_path(name), *peers_text, FileMode::Shared, why, changed)) return kPbCannotWrite;
  return kPbSuccess;
}

int remove_entry(std::string_view name, const fs::path& to, std::string* why) {
  const PhoneBook target(to);
  const std::string safe = safe_entry_name(name);
  if (!remove_entry_files(target, name, why)) return kPbCannotWrite;
  for (const fs::path& f : {target.pap_secrets_path(), target.chap_secrets_path()}) {
    if (!update_secrets_file(f, safe, std::nullopt, why, nullptr)) return kPbCannotWrite;
  }
  return kPbSuccess;
}

}  // namespace platform::phonebook