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
// NAME is the entry name made file-name safe (SafeEntryName); it is also the
// entry's `remotename` (the server column of its secrets lines) and its
// `ipparam` (what the hook checks), so nothing else needs it.
//
// Principles:
//  - Every value is data, never syntax. The writers are pure functions from
//    values to file text: words are quoted as pppd's own option reader
//    (getword) parses them, the connect command quotes its paths for the
//    shell that pppd runs it with, and phone numbers are checked to hold
//    dial characters only before they reach the chat script. What cannot be
//    written safely (a NUL, a letter in a phone number) is refused with a
//    reason.
//  - The readers (PppdWords, ReadPeersFile, ReadSecrets, ReadChatScript) parse
//    what the writers make, so tests show that text parses back to the same
//    values.
//  - Every file is replaced atomically under its lock (files.h); secrets
//    files are created 0600 from the start, and only the entry's own line in
//    them is replaced or removed: other lines stay byte for byte.
//
// Result codes keep the phone-book API's values (kPb*).
//
// Index: SafeEntryName, PppdQuote, PppdWords, DialingRules / DialCommand,
// SerialSpeedAtOrAbove, PeersFile / PeersFileText / ReadPeersFile,
// ModemInitCommand, ChatScriptText / ReadChatScript, SecretsLine /
// ReadSecrets / MergeSecrets, IpUpHookText / IpDownHookText, PppPrograms, PhoneBook,
// InstallEntry, RemoveEntry.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::phonebook {

inline constexpr int kPbSuccess = 0;
inline constexpr int kPbAlreadyExists = 183;   // ERROR_ALREADY_EXISTS
inline constexpr int kPbInvalidName = 123;     // ERROR_INVALID_NAME
inline constexpr int kPbInvalidValue = 87;     // ERROR_INVALID_PARAMETER: a value that cannot be written
inline constexpr int kPbCannotWrite = 622;     // ERROR_CANNOT_WRITE_PHONEBOOK
inline constexpr int kPbEntryNotFound = 623;   // ERROR_CANNOT_FIND_PHONEBOOK_ENTRY

// ---- Pure text ------------------------------------------------------------

// The entry name as a file name that run-parts and pon accept: ASCII
// letters and digits lower-cased, every other run of bytes one '-', no '-'
// at either end; "entry" when nothing is left. "Tarkel - Veloran Account"
// gives "tarkel-veloran-account".
std::string SafeEntryName(std::string_view name);

// One word for pppd's option and secrets files: in double quotes, with '"',
// '\\' and every byte outside printable ASCII as a backslash escape. False
// (and nothing) for a word holding NUL, which pppd cannot carry.
std::optional<std::string> PppdQuote(std::string_view word);

// pppd's getword over a whole text: the words of each line (a line is where
// a word starts after a newline), with comments, quotes and escapes as pppd
// reads them. Words over pppd's 1024-byte limit are cut as pppd cuts them.
std::vector<std::vector<std::string>> PppdWords(std::string_view text);

// How the modem dials, as Windows' dialing rules for a caller in country 1.
struct DialingRules {
  std::string dial_method;    // "PULSE": 'P'; anything else 'T'
  std::string prefix;         // outside-line prefix ("9,")
  std::string cw_disable;     // "TRUE": `cw_string` is dialed first
  std::string cw_string;      // call-waiting off ("*70,")
  std::string own_area_code;  // the caller's area code
};

// The modem's dial command: "ATD", 'P' or 'T', then prefix, call-waiting
// string, and the number as Windows dials it: the local number alone when
// `area_code` is empty or the caller's own, else 1 + area code + number
// (long distance, toll-free 800 numbers alike). The blanks, '-', '(', ')'
// and '.' people write in numbers are left out. Refused (why set) when what
// is left holds anything but digits and the dial characters * # , W ! @, or
// no digit at all.
std::optional<std::string> DialCommand(const DialingRules& rules, std::string_view area_code,
                                       std::string_view number, std::string* why = nullptr);

// The serial speed pppd can set that is nearest to `speed` at or above it
// (14400 gives 19200, 56000 gives 57600); the fastest for anything faster;
// 0 stays 0 (no speed option).
std::uint32_t SerialSpeedAtOrAbove(std::uint32_t speed);

using Address = std::array<std::uint8_t, 4>;

// What a peers file says.
struct PeersFile {
  std::string entry_name;   // shown name of the entry, kept in the first comment line
  std::string device;       // tty path
  std::uint32_t speed = 0;  // 0: no speed option
  std::string user;         // empty: no user option yet (no dial parameters)
  std::string chat_program; // absolute path of chat
  std::string chat_script;  // absolute path of the entry's chat script
  std::string ipparam;      // the safe name: remotename and ipparam
  Address dns1{}, dns2{};   // kept in the second comment line, for the hook;
                            // both 0.0.0.0: usepeerdns
};

// The options file. Refused (why set) when a value cannot be written as data
// or is longer than pppd's 1023-byte word limit.
std::optional<std::string> PeersFileText(const PeersFile& peers, std::string* why = nullptr);
// Reads back a file PeersFileText wrote; nothing when it is not one.
std::optional<PeersFile> ReadPeersFile(std::string_view text);

// The modem's init string for the chat script: `modem_init` (the profile's
// MODEMINIT; "AT" when empty) with "&D2" added unless it holds it, so that
// dropping DTR hangs up. Refused when it does not start with "AT" or holds
// a quote, '^', a blank or a byte outside printable ASCII.
std::optional<std::string> ModemInitCommand(std::string_view modem_init, std::string* why = nullptr);

// The chat script: reset (ATZ), `init_command` (as ModemInitCommand makes
// it), `dial_command` (as DialCommand makes it), each expecting OK, then
// CONNECT. Both are checked again here.
std::optional<std::string> ChatScriptText(std::string_view init_command, std::string_view dial_command,
                                          std::string* why = nullptr);
struct ChatSteps {
  std::string init;  // empty in a script written before the init step
  std::string dial;
};
// The init and dial commands a script of ChatScriptText sends; nothing
// when it has no dial command.
std::optional<ChatSteps> ReadChatScript(std::string_view text);

// One secrets line (with its newline) for `user` at `remote`. Refused when a
// value cannot be written or is longer than pppd's 1023-byte word limit, when the password begins with '@' (pppd would
// read the secret from that file: see SecretFileLine) or when `remote` is
// not a safe name.
std::optional<std::string> SecretsLine(std::string_view user, std::string_view remote,
                                       std::string_view password, std::string* why = nullptr);
// The secrets line that names the file holding the password ("@/path"):
// pppd reads the secret as the first word of that file.
std::optional<std::string> SecretFileLine(std::string_view user, std::string_view remote,
                                          const std::filesystem::path& secret_file, std::string* why = nullptr);
// The text of such a file: the password as one pppd word.
std::optional<std::string> SecretFileText(std::string_view password, std::string* why = nullptr);
struct Secret {
  std::string client, server, secret;
};
// The entries of a secrets file (client, server, secret of each line).
std::vector<Secret> ReadSecrets(std::string_view text);
// True when pppd would read a word of `text` across a line end (a quote
// still open at a newline or at the end, or a backslash before a newline or
// at the end): a line-by-line merge is not safe on such a file.
bool SecretsSpanLines(std::string_view text);
// `text` with the lines whose server column is `remote` replaced by `line`
// (at the first one's place; appended when there is none) or, with no line,
// removed. Every other byte stays. Appending after a last line without a
// newline puts one between and leaves the file without a final newline, so
// that removing the line again restores the old bytes.
std::string MergeSecrets(std::string_view text, std::string_view remote,
                         const std::optional<std::string>& line);

// The ip-up.d hook of entry `safe_name`: the non-zero addresses, or when
// both are 0.0.0.0 the ones pppd got from the provider (usepeerdns: DNS1,
// DNS2), go to systemd-resolved (resolvectl dns IFACE ...), else
// resolvconf, else into /etc/resolv.conf in place of its nameserver lines
// (its other lines kept, a symbolic link kept and the file it names
// rewritten). Debian's own usepeerdns hook already does the last for the
// provider's servers; then this one leaves resolv.conf to it. What the hook
// did is noted in /run for the ip-down.d hook. Empty for a name that is not
// safe.
std::string IpUpHookText(std::string_view safe_name, const Address& dns1, const Address& dns2);
// The ip-down.d hook: undoes what the ip-up.d hook noted, nothing else.
std::string IpDownHookText(std::string_view safe_name);
std::string DottedAddress(const Address& address);

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
  std::string init_command; // ModemInitCommand; empty: "AT&D2"
  std::string dial_command; // DialCommand
  Address dns1{}, dns2{};
};

class PhoneBook {
 public:
  // `folder` laid out as above; empty: the system root's phonebook/.
  explicit PhoneBook(std::filesystem::path folder = {});
  const std::filesystem::path& folder() const { return folder_; }

  // 0 when no entry has the name's safe form, kPbAlreadyExists when one
  // does, kPbInvalidName for an empty name.
  int ValidateEntryName(std::string_view name) const;
  // Writes (replaces) the entry's peers file, chat script and hooks. The
  // user of an existing entry is kept.
  int SetEntryProperties(std::string_view name, const EntryProperties& properties, std::string* why = nullptr);
  // Moves every file of `from` to `to` (each an atomic rename); the secrets
  // lines follow. kPbAlreadyExists when `to` exists, kPbEntryNotFound when
  // `from` does not.
  int RenameEntry(std::string_view from, std::string_view to, std::string* why = nullptr);
  // Removes the entry's files and its secrets lines; kPbEntryNotFound when
  // there is no such entry.
  int DeleteEntry(std::string_view name, std::string* why = nullptr);
  // Sets the user in the peers file and the entry's line in both secrets
  // files. A password beginning with '@' goes into the entry's secret file
  // and the lines name that file.
  int SetEntryDialParams(std::string_view name, std::string_view user, std::string_view password,
                         std::string* why = nullptr);
  // Names of the entries (as shown: the peers files' entry names).
  std::vector<std::string> EntryNames() const;

  std::filesystem::path PeersPath(std::string_view name) const;
  std::filesystem::path ChatPath(std::string_view name) const;
  std::filesystem::path HookPath(std::string_view name) const;
  std::filesystem::path DownHookPath(std::string_view name) const;
  std::filesystem::path SecretFilePath(std::string_view name) const;
  std::filesystem::path PapSecretsPath() const { return folder_ / "pap-secrets"; }
  std::filesystem::path ChapSecretsPath() const { return folder_ / "chap-secrets"; }

 private:
  std::filesystem::path folder_;
};

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
int InstallEntry(const PhoneBook& from, std::string_view name, const std::filesystem::path& to,
                 std::string* why = nullptr, bool* changed = nullptr);
// Removes entry `name` from the pppd folder `to`: its peers file, chat
// script, hooks and secret file, and its lines of the secrets files.
int RemoveEntry(std::string_view name, const std::filesystem::path& to, std::string* why = nullptr);

}  // namespace platform::phonebook
