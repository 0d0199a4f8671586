// pppd text: the files of a dial-up entry as pure functions.
//
// Every value is data, never syntax. The writers go from values to file
// text: words are quoted as pppd's own option reader (getword) parses them,
// the connect command quotes its paths for the shell that pppd runs it with,
// and phone numbers are checked to hold dial characters only before they
// reach the chat script. What cannot be written safely (a NUL, a letter in a
// phone number) is refused with a reason. The readers (pppd_words,
// read_peers_file, read_secrets, read_chat_script) parse what the writers
// make, so tests show that text parses back to the same values. Nothing
// here touches a file: the phone book (phonebook.h) reads and writes them.
//
// Index: safe_entry_name, pppd_quote, pppd_words, DialingRules /
// dial_command, serial_speed_at_or_above, PeersFile / peers_file_text /
// read_peers_file, modem_init_command, chat_script_text / read_chat_script,
// secrets_line / read_secrets / merge_secrets, ip_up_hook_text /
// ip_down_hook_text.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::phonebook {

// The characters a phone number may hold once the blanks, '-', '(', ')' and
// '.' people write in numbers are left out: what a Hayes modem dials.
inline constexpr std::string_view kDialChars = "0123456789*#,Ww!@";

// The entry name as a file name that run-parts and pon accept: ASCII
// letters and digits lower-cased, every other run of bytes one '-', no '-'
// at either end; "entry" when nothing is left. "Tarkel - Veloran Account"
// gives "tarkel-veloran-account".
std::string safe_entry_name(std::string_view name);

// One word for pppd's option and secrets files: in double quotes, with '"',
// '\\' and every byte outside printable ASCII as a backslash escape. False
// (and nothing) for a word holding NUL, which pppd cannot carry.
std::optional<std::string> pppd_quote(std::string_view word);

// pppd's getword over a whole text: the words of each line (a line is where
// a word starts after a newline), with comments, quotes and escapes as pppd
// reads them. Words over pppd's 1024-byte limit are cut as pppd cuts them.
std::vector<std::vector<std::string>> pppd_words(std::string_view text);

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
std::optional<std::string> dial_command(const DialingRules& rules, std::string_view area_code,
                                       std::string_view number, std::string* why = nullptr);

// The serial speed pppd can set that is nearest to `speed` at or above it
// (14400 gives 19200, 56000 gives 57600); the fastest for anything faster;
// 0 stays 0 (no speed option).
std::uint32_t serial_speed_at_or_above(std::uint32_t speed);

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
std::optional<std::string> peers_file_text(const PeersFile& peers, std::string* why = nullptr);
// Reads back a file peers_file_text wrote; nothing when it is not one.
std::optional<PeersFile> read_peers_file(std::string_view text);

// The modem's init string for the chat script: `modem_init` (the profile's
// MODEMINIT; "AT" when empty) with "&D2" added unless it holds it, so that
// dropping DTR hangs up. Refused when it does not start with "AT" or holds
// a quote, '^', a blank or a byte outside printable ASCII.
std::optional<std::string> modem_init_command(std::string_view modem_init, std::string* why = nullptr);

// The chat script: reset (ATZ), `init_command` (as modem_init_command makes
// it), `dial_command` (as dial_command makes it), each expecting OK, then
// CONNECT. Both are checked again here.
std::optional<std::string> chat_script_text(std::string_view init_command, std::string_view dial_command,
                                          std::string* why = nullptr);
struct ChatSteps {
  std::string init;  // empty in a script written before the init step
  std::string dial;
};
// The init and dial commands a script of chat_script_text sends; nothing
// when it has no dial command.
std::optional<ChatSteps> read_chat_script(std::string_view text);

// One secrets line (with its newline) for `user` at `remote`. Refused when a
// value cannot be written or is longer than pppd's 1023-byte word limit, when the password begins with '@' (pppd would
// read the secret from that file: see secret_file_line) or when `remote` is
// not a safe name.
std::optional<std::string> secrets_line(std::string_view user, std::string_view remote,
                                       std::string_view password, std::string* why = nullptr);
// The secrets line that names the file holding the password ("@/path"):
// pppd reads the secret as the first word of that file.
std::optional<std::string> secret_file_line(std::string_view user, std::string_view remote,
                                          const std::filesystem::path& secret_file, std::string* why = nullptr);
// The text of such a file: the password as one pppd word.
std::optional<std::string> secret_file_text(std::string_view password, std::string* why = nullptr);
struct Secret {
  std::string client, server, secret;
};
// The entries of a secrets file (client, server, secret of each line).
std::vector<Secret> read_secrets(std::string_view text);
// True when pppd would read a word of `text` across a line end (a quote
// still open at a newline or at the end, or a backslash before a newline or
// at the end): a line-by-line merge is not safe on such a file.
bool secrets_span_lines(std::string_view text);
// `text` with the lines whose server column is `remote` replaced by `line`
// (at the first one's place; appended when there is none) or, with no line,
// removed. Every other byte stays. Appending after a last line without a
// newline puts one between and leaves the file without a final newline, so
// that removing the line again restores the old bytes.
std::string merge_secrets(std::string_view text, std::string_view remote,
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
std::string ip_up_hook_text(std::string_view safe_name, const Address& dns1, const Address& dns2);
// The ip-down.d hook: undoes what the ip-up.d hook noted, nothing else.
std::string ip_down_hook_text(std::string_view safe_name);
std::string dotted_address(const Address& address);

}  // namespace platform::phonebook
