// The dial-up entry of the new account and automatic dialing (CONFIG:).
//
// At the end of a registration the account gets a phone-book entry named
// kAccountEntryName that dials the chosen access number with the account's
// user ID and password, and the registry is told to dial it automatically.
// The phone book is pppd's (platform/shell/phonebook.h), kept in the root until
// `joinwiz --install-dialup` copies the entry to /etc/ppp (system_install.h).
//
// The steps keep the order of the phone-book calls of the Windows wizard:
// line devices first, then the phone-book programs, delete the old entry,
// then for each device from the last to the first: fill the template, make
// "temp" if that name is free, wait 500 ms, rename it to the account's
// name, delete "temp", set the dial parameters. So the first pass (the last
// device) makes the entry and the later ones find its name taken.
//
// Line devices are the COM ports the telephony probe finds, by the path
// their dosdevices link names (a /dev/serial/by-id name stays, so the entry
// follows the modem across replugs); the profile's COMPORT, when it is one
// of them, is enumerated last, so the entry uses the modem the user chose.
// A COMPORT that is a network serial port (rfc2217://) makes no entry:
// pppd cannot open it.
//
// The number is dialed by Windows' dialing rules with the caller's area
// code DAYAREACODE; the chat script sends the modem's init string MODEMINIT
// after the reset; a speed that is not a serial speed is rounded up to one.
//
// A value that cannot reach a pppd or chat file as plain data (a letter in
// the number, a NUL) makes no entry and removes nothing: the old entry, if
// any, stays, the server's reply stays "REPLY: OK", and the closing page and
// the summary say what was refused and that no entry was made.
//
// Index: kAccountEntryName, ParseDottedAddress, LoadPhoneBook,
// DialUpValues, MakeDialUpEntry, ConfigureDialUp, DialUpOutcome,
// ConfigCommand, InstallDialUpCommand, AccountSetupSummary.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace session {
class CRegSessionDialog;
class ProfileStore;
}  // namespace session

namespace sysconfig {

// The entry's name, also the name of its shortcuts.
inline constexpr std::string_view kAccountEntryName = "Tarkel - Veloran Account";
inline constexpr std::string_view kNoPhoneBookMessage = "Can't find Phone Book APIs\n";
// Results of MakeDialUpEntry that made nothing: no line device; no phone
// book installed (after the message); a profile value refused; the chosen
// COM port is a network port, which pppd cannot open.
inline constexpr int kNoLineDevice = -1;
inline constexpr int kNoPhoneBook = -2;
inline constexpr int kEntryRefused = -3;
inline constexpr int kNetworkPort = -4;

// The four octets of a dotted address as the Windows wizard read them: each
// octet only when its terminating '.' was found (the fourth after the third
// '.'), leading decimal digits, the low 8 bits. "10.1.2" gives 10.1.0.0.
void ParseDottedAddress(std::string_view text, std::uint8_t out[4]);

// True when the phone-book programs (pppd) are installed, whether or not
// this user may run them.
bool LoadPhoneBook();

// What the entry is made of, from the profile (each value cut to 79
// characters, as read into 80-character buffers).
struct DialUpValues {
  std::string user, password, area_code, number, dns1, dns2;
  std::string dial_method, outside_access, cw_disable, cw_string;  // how to dial
  std::string own_area_code;                                        // DAYAREACODE
  std::string comport;                                              // the chosen modem
  std::string modem_init;                                           // MODEMINIT
  std::uint32_t speed = 0;  // a serial speed (rounded up from the table's)
};
DialUpValues ReadDialUpValues(const session::ProfileStore& profile);

// Makes the entry. Result of the last rename (0: made), or one of the
// results above that made nothing (the old entry then stays, except when
// the phone-book calls themselves fail). `phonebook_dir` and `dosdevices`
// empty: the root's.
struct DialUpContext {
  std::filesystem::path phonebook_dir;
  std::filesystem::path dosdevices;
  // Shows a message box; may be empty.
  std::function<void(std::string_view)> show_message;
};
// `problem` (when given) gets why nothing was made, in the user's words,
// and is cleared when the entry was made.
int MakeDialUpEntry(const DialUpValues& values, const DialUpContext& context = {}, std::string* problem = nullptr);

// At start-up, before anything is written: finishes or undoes a switch of
// the account's entry that a crash interrupted, and removes the temporary
// files of interrupted saves from the root's folders (program, Windows,
// system, registry, desktop, phone book).
void FinishInterruptedChanges();

// The modem ports in enumeration order (the chosen one last), as tty paths.
std::vector<std::filesystem::path> LineDevices(std::string_view comport, const std::filesystem::path& dosdevices);

// ConfigureDialUp: MakeDialUpEntry on the session's profile, then the
// autodial registry values in the table's order (EnableAutodial twice).
// Returns the entry's result.
int ConfigureDialUp(session::CRegSessionDialog& session);
// The result of the last ConfigureDialUp of this process.
int LastDialUpEntryResult();

// What the last ConfigureDialUp of this process made, for the closing page
// and the summary.
struct DialUpOutcome {
  bool configured = false;  // ConfigureDialUp ran in this process
  int result = 0;
  std::string problem;      // why no entry was made; empty when it was
};
DialUpOutcome LastDialUpOutcome();

// ---- For the system -------------------------------------------------------
// (system_install.h installs the entry for the whole system.)

// What a finished run tells the user: where the entry and shortcuts are,
// the command that installs the entry for the system and the one that
// dials it. When this run made no entry, why not instead, and no command
// for an entry an earlier run left. Empty when the root holds no account
// entry and this run tried none. `program` is how the wizard was started
// (for the install command).
std::string AccountSetupSummary(std::string_view program);

// CONFIG: with its argument text: "AUTO" (any case) configures and answers
// "REPLY: OK"; anything else "REPLY: ERROR".
void ConfigCommand(session::CRegSessionDialog& session, std::string_view arguments);

}  // namespace sysconfig
