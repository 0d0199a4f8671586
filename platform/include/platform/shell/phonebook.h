// Phone book: dial-up entries as pppd configuration.
//
// An entry is what Debian's pppconfig makes of a provider, kept in a folder
// laid out like /etc/ppp (the root's phonebook/, or /etc/ppp itself once
// installed):
//
//   peers/NAME           pppd options: tty, speed, crtscts, user, connect;
//                        usepeerdns when the entry has no name server
//   chatscripts/NAME     the chat script: reset, the modem's init string,
//                        then the access number
//   pap-secrets          one line per entry: "user" NAME "password"
//   chap-secrets         the same line
//   secrets/NAME         only for a password beginning with '@': the
//                        password (0600), named in the lines as "@/path",
//                        pppd's own form for a secret kept in a file
//   ip-up.d/NAME         hook that hands the name servers (the entry's
//                        own, else those pppd got from the provider) to
//                        systemd-resolved, else resolvconf, else
//                        /etc/resolv.conf
//   ip-down.d/NAME       hook that undoes exactly what ip-up.d/NAME did
//
// NAME is the entry name made file-name safe (safe_entry_name); it is also the
// entry's `remotename` (the server column of its secrets lines) and its
// `ipparam` (what the hook checks), so nothing else needs it.
//
// Principles:
//  - The files' text comes from pure functions (pppd_text.h); this part only
//    reads, writes and removes files.
//  - Every file is replaced atomically under its lock (files.h); secrets
//    files are created 0600 from the start, and only the entry's own line in
//    them is replaced or removed: other lines stay byte for byte.
//
// Result codes keep the phone-book API's values (kPb*).
//
// Index: PppPrograms, EntryProperties, PhoneBook (replace_entry /
// recover_entry: the crash-safe switch), make_entry_secret, install_entry,
// remove_entry; the text: pppd_text.h.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/shell/pppd_text.h"

namespace platform::phonebook {

inline constexpr int kPbSuccess = 0;
inline constexpr int kPbAlreadyExists = 183;   // ERROR_ALREADY_EXISTS
inline constexpr int kPbInvalidName = 123;     // ERROR_INVALID_NAME
inline constexpr int kPbInvalidValue = 87;     // ERROR_INVALID_PARAMETER: a value that cannot be written
inline constexpr int kPbCannotWrite = 622;     // ERROR_CANNOT_WRITE_PHONEBOOK
inline constexpr int kPbEntryNotFound = 623;   // ERROR_CANNOT_FIND_PHONEBOOK_ENTRY

// ---- The phone book -------------------------------------------------------

// Where pppd and chat are. Found once in /usr/sbin, /sbin and PATH as
// regular files, whoever may run them: Debian's pppd is 4754 root:dip, and
// a user outside dip still gets an entry to install. Tests replace them (an
// empty pppd means "not installed").
struct PppPrograms {
  std::filesystem::path pppd;
  std::filesystem::path chat;
};
const PppPrograms& ppp_programs();
void set_ppp_programs(PppPrograms programs);
// Back to the programs found on this machine.
void reset_ppp_programs();

// What the entry template holds (the dial parameters come separately).
struct EntryProperties {
  std::string device;       // tty path
  std::uint32_t speed = 0;
  std::string init_command; // modem_init_command; empty: "AT&D2"
  std::string dial_command; // dial_command
  Address dns1{}, dns2{};
};

class PhoneBook {
 public:
  // `folder` laid out as above; empty: the system root's phonebook/.
  explicit PhoneBook(std::filesystem::path folder = {});
  const std::filesystem::path& folder() const { return folder_; }

  // 0 when no entry has the name's safe form, kPbAlreadyExists when one
  // does, kPbInvalidName for an empty name.
  int validate_entry_name(std::string_view name) const;
  // Writes (replaces) the entry's peers file, chat script and hooks. The
  // user of an existing entry is kept.
  int set_entry_properties(std::string_view name, const EntryProperties& properties, std::string* why = nullptr);
  // Moves every file of `from` to `to` (each an atomic rename); the secrets
  // lines follow. kPbAlreadyExists when `to` exists, kPbEntryNotFound when
  // `from` does not.
  int rename_entry(std::string_view from, std::string_view to, std::string* why = nullptr);
  // Removes the entry's files and its secrets lines; kPbEntryNotFound when
  // there is no such entry.
  int delete_entry(std::string_view name, std::string* why = nullptr);
  // Sets the user in the peers file and the entry's line in both secrets
  // files. A password beginning with '@' goes into the entry's secret file
  // and the lines name that file.
  int set_entry_dial_params(std::string_view name, std::string_view user, std::string_view password,
                         std::string* why = nullptr);
  // Names of the entries (as shown: the peers files' entry names).
  std::vector<std::string> entry_names() const;

  // Writes the whole entry `name` (peers file with its user, chat script,
  // hooks, its line in both secrets files) so that it moves from the old
  // files to the new ones in one step a crash cannot split: every new file
  // is written beside the old one (".FILE.new"), the merged secrets files
  // too, under the locks of both; then a journal ".SAFENAME.switch" names
  // them (the moment the switch is decided), the new files are renamed over
  // the old ones, the peers file last, and the journal goes. A refused value
  // or a failed write before the journal leaves the old entry as it was.
  // Finishes an earlier interrupted switch first (recover_entry).
  int replace_entry(std::string_view name, const EntryProperties& properties, std::string_view user,
                   std::string_view password, std::string* why = nullptr);
  // At start-up: finishes a switch of `name` whose journal is there, or
  // undoes one that had not reached it (its ".new" files go), and removes
  // stale temporary files of replace_file() in the phone book's folders.
  // kPbSuccess, or kPbCannotWrite with `why`.
  int recover_entry(std::string_view name, std::string* why = nullptr);
  std::filesystem::path switch_journal_path(std::string_view name) const;

  std::filesystem::path peers_path(std::string_view name) const;
  std::filesystem::path chat_path(std::string_view name) const;
  std::filesystem::path hook_path(std::string_view name) const;
  std::filesystem::path down_hook_path(std::string_view name) const;
  std::filesystem::path secret_file_path(std::string_view name) const;
  std::filesystem::path pap_secrets_path() const { return folder_ / "pap-secrets"; }
  std::filesystem::path chap_secrets_path() const { return folder_ / "chap-secrets"; }

 private:
  std::filesystem::path folder_;
};

// The entry's secrets line for `user` and `password`, and the text of its
// secret file when the password must live there (it begins with '@', which
// pppd reads as a file name); no file text otherwise. Refused (why set, the
// first refusal) when either cannot be written.
struct EntrySecret {
  std::string line;
  std::optional<std::string> file_text;
};
std::optional<EntrySecret> make_entry_secret(const PhoneBook& book, std::string_view name, std::string_view user,
                                             std::string_view password, std::string* why = nullptr);

// Copies entry `name` of `from` into the pppd folder `to` (normally
// /etc/ppp): peers file (its connect line running this machine's chat on
// `to`'s chat script), chat script, hooks, and its secrets lines merged into
// `to`'s secrets files. The files of `from` belong to the user, so only
// values are taken from them and each is checked: remotename and ipparam
// are the name's safe form whatever the peers file says, the device must be
// a character device, the chat steps dial characters, the speed a serial
// speed, and the user and password are those of the secrets line for the
// safe name (a peers file naming another user is refused). Only secrets
// lines for the safe name are touched in `to`; other lines stay byte for
// byte, a new secrets file is created 0600. A file that already holds the
// same bytes is not rewritten; `changed` tells whether anything was.
// kPbSuccess or a code with `why`; a refusal writes nothing.
int install_entry(const PhoneBook& from, std::string_view name, const std::filesystem::path& to,
                 std::string* why = nullptr, bool* changed = nullptr);
// Removes entry `name` from the pppd folder `to`: its peers file, chat
// script, hooks and secret file, and its lines of the secrets files.
int remove_entry(std::string_view name, const std::filesystem::path& to, std::string* why = nullptr);

}  // namespace platform::phonebook
