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
constexpr std::size_t kPppdMaxWord = 1024;  // MAXWORDLEN of pppd's getword

// The longest value pppd reads back whole (its buffer keeps the terminator).
constexpr std::size_t kPppdLongestWord = kPppdMaxWord - 1;
constexpr const char* kTooLongForPppd = "a value of the entry is longer than pppd's word limit of 1023 bytes";

std::optional<std::string> Refuse(std::string* why, std::string text) {
  if (why) *why = std::move(text);
  return std::nullopt;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsOctal(char c) { return c >= '0' && c <= '7'; }
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsSafeNameChar(char c) { return (c >= 'a' && c <= 'z') || IsDigit(c) || c == '-'; }

bool IsSafeName(std::string_view name) {
  if (name.empty() || name.front() == '-' || name.back() == '-') return false;
  for (char c : name) {
    if (!IsSafeNameChar(c)) return false;
  }
  return true;
}

// One word for the shell that runs pppd's connect command.
std::string ShellQuote(std::string_view word) {
  std::string out = "'";
  for (char c : word) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

// The words of a command line quoted by ShellQuote (plain words and single-
// quoted parts); nothing for anything else.
std::optional<std::vector<std::string>> ShellWords(std::string_view text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (true) {
    while (i < text.size() && text[i] == ' ') ++i;
    if (i >= text.size()) break;
    std::string word;
    while (i < text.size() && text[i] != ' ') {
      char c = text[i];
      if (c == '\'') {
        std::size_t end = text.find('\'', i + 1);
        if (end == std::string_view::npos) return std::nullopt;
        word.append(text.substr(i + 1, end - i - 1));
        i = end + 1;
      } else if (c == '\\' && i + 1 < text.size()) {
        word += text[i + 1];
        i += 2;
      } else if (c == '"' || c == '$' || c == '`' || c == ';' || c == '&' || c == '|' || c == '<' ||
                 c == '>' || c == '(' || c == ')' || c == '\n' || c == '\t' || c == '*' || c == '?') {
        return std::nullopt;
      } else {
        word += c;
        ++i;
      }
    }
    words.push_back(std::move(word));
  }
  return words;
}

bool ParseAddress(std::string_view text, Address& out) {
  Address a{};
  std::size_t part = 0, i = 0;
  while (part < 4) {
    if (i >= text.size() || !IsDigit(text[i])) return false;
    unsigned value = 0;
    std::size_t digits = 0;
    while (i < text.size() && IsDigit(text[i]) && digits < 3) value = value * 10 + (text[i++] - '0'), ++digits;
    if (value > 255) return false;
    a[part++] = static_cast<std::uint8_t>(value);
    if (part < 4) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
  }
  if (i != text.size()) return false;
  out = a;
  return true;
}

bool IsZero(const Address& a) { return a == Address{}; }

// Writes `contents` at `path` unless it already holds exactly those bytes.
bool WriteIfChanged(const fs::path& path, std::string_view contents, FileMode mode, std::string* why,
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

bool RemoveIfPresent(const fs::path& path, std::string* why, bool* changed) {
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
bool UpdateSecretsFile(const fs::path& path, std::string_view remote, const std::optional<std::string>& line,
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
  if (SecretsSpanLines(old)) {
    // pppd would read words across those line ends, so a line-by-line merge
    // could hide the entry's line or replace the wrong one: change nothing.
    if (why) *why = path.string() + kSpansLines;
    return false;
  }
  const std::string merged = MergeSecrets(old, remote, line);
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

std::optional<Secret> FindSecret(const fs::path& path, std::string_view remote) {
  std::string text;
  if (!read_file(path, text)) return std::nullopt;
  for (Secret& s : ReadSecrets(text)) {
    if (s.server == remote) return s;
  }
  return std::nullopt;
}

// Whether `p` is an installed program: a regular file with an execute bit
// for anyone. Not access(X_OK): that asks whether this user may run it.
bool IsProgramFile(const fs::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111) != 0;
}

fs::path FindProgram(std::string_view name) {
  for (const char* dir : {"/usr/sbin", "/sbin"}) {
    fs::path p = fs::path(dir) / std::string(name);
    if (IsProgramFile(p)) return p;
  }
  if (const char* path = std::getenv("PATH")) {
    std::string_view rest = path;
    while (!rest.empty()) {
      std::size_t colon = rest.find(':');
      std::string_view dir = rest.substr(0, colon);
      if (!dir.empty()) {
        fs::path p = fs::path(std::string(dir)) / std::string(name);
        if (IsProgramFile(p)) return p;
      }
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  return {};
}

std::mutex& ProgramsMutex() {
  static std::mutex m;
  return m;
}
std::optional<PppPrograms>& ProgramsStorage() {
  static std::optional<PppPrograms> p;
  return p;
}

}  // namespace

// ---- Pure text ------------------------------------------------------------

std::string SafeEntryName(std::string_view name) {
  std::string out;
  bool pending_dash = false;
  for (char c : name) {
    char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if ((lower >= 'a' && lower <= 'z') || IsDigit(lower)) {
      if (pending_dash && !out.empty()) out += '-';
      pending_dash = false;
      out += lower;
    } else {
      pending_dash = true;
    }
  }
  return out.empty() ? "entry" : out;
}

std::optional<std::string> PppdQuote(std::string_view word) {
  std::string out = "\"";
  for (char ch : word) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == 0) return std::nullopt;
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c >= 0x7f) {
      // Three octal digits always: a digit after the escape stays a digit.
      char buf[5] = {'\\', static_cast<char>('0' + (c >> 6)), static_cast<char>('0' + ((c >> 3) & 7)),
                     static_cast<char>('0' + (c & 7)), 0};
      out += buf;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::vector<std::vector<std::string>> PppdWords(std::string_view text) {
  std::vector<std::vector<std::string>> lines;
  std::size_t i = 0;
  const std::size_t n = text.size();
  auto get = [&]() -> int { return i < n ? static_cast<unsigned char>(text[i++]) : -1; };
  bool newline = true;  // the first word starts a line
  while (true) {
    // Skip blanks and comments; a backslash starts a word with an escape.
    int c;
    bool escape = false, comment = false;
    for (;;) {
      c = get();
      if (c < 0) break;
      if (c == '\n') {
        if (!escape) {
          newline = true;
          comment = false;
        } else {
          escape = false;
        }
        continue;
      }
      if (comment) continue;
      if (escape) break;
      if (c == '\\') {
        escape = true;
        continue;
      }
      if (c == '#') {
        comment = true;
        continue;
      }
      if (!IsSpace(static_cast<char>(c))) break;
    }
    if (c < 0) break;
    std::string word;
    int quoted = 0;
    auto store = [&](int v) {
      if (word.size() < kPppdMaxWord) word += static_cast<char>(v);
    };
    while (c >= 0) {
      if (escape) {
        escape = false;
        if (c == '\n') {
          c = get();
          continue;
        }
        bool got = false;
        int value = c;
        switch (c) {
          case 'a': value = '\a'; break;
          case 'b': value = '\b'; break;
          case 'f': value = '\f'; break;
          case 'n': value = '\n'; break;
          case 'r': value = '\r'; break;
          case 's': value = ' '; break;
          case 't': value = '\t'; break;
          default:
            if (IsOctal(static_cast<char>(c))) {
              value = 0;
              for (int k = 0; k < 3 && c >= 0 && IsOctal(static_cast<char>(c)); ++k) {
                value = (value << 3) + (c & 7);
                c = get();
              }
              got = true;
            } else if (c == 'x') {
              value = 0;
              c = get();
              for (int k = 0; k < 2 && c >= 0 && std::isxdigit(c); ++k) {
                int digit = std::toupper(c) - '0';
                if (digit > 10) digit += '0' + 10 - 'A';
                value = (value << 4) + digit;
                c = get();
              }
              got = true;
            }
        }
        store(value & 0xff);
        if (!got) c = get();
        continue;
      }
      if (c == '\\') {
        escape = true;
        c = get();
        continue;
      }
      if (quoted) {
        if (c == quoted) {
          quoted = 0;
          c = get();
          continue;
        }
      } else if (c == '"' || c == '\'') {
        quoted = c;
        c = get();
        continue;
      } else if (IsSpace(static_cast<char>(c)) || c == '#') {
        --i;  // ungetc
        break;
      }
      store(c);
      c = get();
    }
    if (word.size() >= kPppdMaxWord) word.resize(kPppdMaxWord - 1);
    if (newline || lines.empty()) lines.emplace_back();
    newline = false;
    lines.back().push_back(std::move(word));
  }
  return lines;
}

namespace {

bool IsDialChar(char c) {
  return IsDigit(c) || c == '*' || c == '#' || c == ',' || c == 'W' || c == 'w' || c == '!' || c == '@';
}

// `part` without the punctuation people write in numbers, appended to
// `out`; false (why set) at anything that is not a dial character.
bool TakeDialChars(std::string_view part, const char* what, std::string& out, std::string* why) {
  for (char c : part) {
    if (c == ' ' || c == '-' || c == '(' || c == ')' || c == '.') continue;
    if (IsDialChar(c)) {
      out += c;
      continue;
    }
    if (why) {
      const auto u = static_cast<unsigned char>(c);
      const std::string shown = u > 0x20 && u < 0x7f ? "'" + std::string(1, c) + "'" : "byte " + std::to_string(u);
      *why = std::string("the ") + what + " holds " + shown + ", which is not a dial character";
    }
    return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> DialCommand(const DialingRules& rules, std::string_view area_code,
                                       std::string_view number, std::string* why) {
  std::string digits, area, own_area, local;
  if (!TakeDialChars(rules.prefix, "dialing prefix", digits, why)) return std::nullopt;
  if (rules.cw_disable == "TRUE" && !TakeDialChars(rules.cw_string, "call-waiting string", digits, why)) {
    return std::nullopt;
  }
  if (!TakeDialChars(area_code, "area code", area, why) || !TakeDialChars(number, "phone number", local, why)) {
    return std::nullopt;
  }
  if (local.find_first_of("0123456789") == std::string::npos &&
      area.find_first_of("0123456789") == std::string::npos) {
    return Refuse(why, "the access number holds no digit");
  }
  // The caller's own area code only decides; a bad one counts as another.
  std::string ignored;
  if (!TakeDialChars(rules.own_area_code, "own area code", own_area, &ignored)) own_area.clear();
  if (!area.empty() && area != own_area) digits += "1" + area;  // long distance, toll-free alike
  digits += local;
  return std::string("ATD") + (rules.dial_method == "PULSE" ? "P" : "T") + digits;
}

std::uint32_t SerialSpeedAtOrAbove(std::uint32_t speed) {
  // The speeds termios can set (cfsetspeed's B* constants) from 300 up.
  static constexpr std::uint32_t kSpeeds[] = {300,    600,    1200,   1800,   2400,    4800,    9600,
                                              19200,  38400,  57600,  115200, 230400,  460800,  500000,
                                              576000, 921600, 1000000, 1152000, 1500000, 2000000, 2500000,
                                              3000000, 3500000, 4000000};
  if (speed == 0) return 0;
  for (std::uint32_t s : kSpeeds) {
    if (s >= speed) return s;
  }
  return kSpeeds[std::size(kSpeeds) - 1];
}

std::optional<std::string> PeersFileText(const PeersFile& p, std::string* why) {
  if (!IsSafeName(p.ipparam)) return Refuse(why, "the entry's file name \"" + p.ipparam + "\" is not safe");
  if (p.device.empty() || p.device.front() != '/') return Refuse(why, "the modem device is not an absolute path");
  if (p.chat_program.empty() || p.chat_script.empty()) return Refuse(why, "the chat program or script is missing");
  const std::string connect_line = ShellQuote(p.chat_program) + " -v -s -f " + ShellQuote(p.chat_script);
  for (std::string_view word : {std::string_view(p.entry_name), std::string_view(p.device),
                                std::string_view(connect_line), std::string_view(p.user)}) {
    if (word.size() > kPppdLongestWord) return Refuse(why, kTooLongForPppd);
  }
  auto name = PppdQuote(p.entry_name);
  auto device = PppdQuote(p.device);
  auto connect = PppdQuote(connect_line);
  auto user = PppdQuote(p.user);
  if (!name || !device || !connect || !user) return Refuse(why, "a value of the entry holds a NUL byte");
  std::string text;
  text += "# entry " + *name + "\n";
  text += "# name servers " + DottedAddress(p.dns1) + " " + DottedAddress(p.dns2) + "\n";
  text += *device + "\n";
  if (p.speed != 0) text += std::to_string(p.speed) + "\n";
  text +=
      "crtscts\n"
      "modem\n"
      "lock\n"
      "noauth\n"
      "noipdefault\n"
      "defaultroute\n"
      "hide-password\n";
  // Without the entry's own name servers, ask the provider for them.
  if (IsZero(p.dns1) && IsZero(p.dns2)) text += "usepeerdns\n";
  text += "remotename " + p.ipparam + "\n";
  text += "ipparam " + p.ipparam + "\n";
  if (!p.user.empty()) text += "user " + *user + "\n";
  text += "connect " + *connect + "\n";
  return text;
}

std::optional<PeersFile> ReadPeersFile(std::string_view text) {
  PeersFile p;
  // The two comment lines carry what pppd does not need.
  std::size_t eol = text.find('\n');
  if (eol == std::string_view::npos || text.substr(0, 8) != "# entry ") return std::nullopt;
  auto name_words = PppdWords(text.substr(8, eol - 8));
  if (name_words.size() != 1 || name_words[0].size() != 1) return std::nullopt;
  p.entry_name = name_words[0][0];
  std::string_view rest = text.substr(eol + 1);
  eol = rest.find('\n');
  if (eol == std::string_view::npos || rest.substr(0, 15) != "# name servers ") return std::nullopt;
  std::string_view dns = rest.substr(15, eol - 15);
  std::size_t blank = dns.find(' ');
  if (blank == std::string_view::npos || !ParseAddress(dns.substr(0, blank), p.dns1) ||
      !ParseAddress(dns.substr(blank + 1), p.dns2)) {
    return std::nullopt;
  }
  std::vector<std::string> words;
  for (auto& line : PppdWords(text)) words.insert(words.end(), line.begin(), line.end());
  for (std::size_t k = 0; k < words.size(); ++k) {
    const std::string& w = words[k];
    auto arg = [&]() -> std::optional<std::string> {
      if (k + 1 >= words.size()) return std::nullopt;
      return words[++k];
    };
    if (w == "user" || w == "remotename" || w == "ipparam" || w == "connect") {
      auto value = arg();
      if (!value) return std::nullopt;
      if (w == "user") p.user = *value;
      if (w == "remotename" && !p.ipparam.empty() && p.ipparam != *value) return std::nullopt;
      if (w == "remotename" || w == "ipparam") p.ipparam = *value;
      if (w == "connect") {
        auto cmd = ShellWords(*value);
        // chat -v -s -f SCRIPT (-s: its log on standard error, which pppd
        // passes on to its own log); entries written before -s have none.
        const bool with_s = cmd && cmd->size() == 5 && (*cmd)[2] == "-s";
        if (!cmd || (cmd->size() != 4 && !with_s) || (*cmd)[1] != "-v" || (*cmd)[with_s ? 3 : 2] != "-f") {
          return std::nullopt;
        }
        p.chat_program = (*cmd)[0];
        p.chat_script = cmd->back();
      }
    } else if (!w.empty() && w.front() == '/') {
      p.device = w;
    } else if (!w.empty() && w.find_first_not_of("0123456789") == std::string::npos) {
      p.speed = static_cast<std::uint32_t>(std::strtoul(w.c_str(), nullptr, 10));
    }
  }
  if (p.device.empty() || p.chat_script.empty() || !IsSafeName(p.ipparam)) return std::nullopt;
  return p;
}

std::optional<std::string> ModemInitCommand(std::string_view modem_init, std::string* why) {
  std::string init = modem_init.empty() ? std::string("AT") : std::string(modem_init);
  if (init.size() < 2 || (init[0] != 'A' && init[0] != 'a') || (init[1] != 'T' && init[1] != 't')) {
    return Refuse(why, "the modem's init string does not start with AT");
  }
  for (char c : init) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7f || c == '\'' || c == '"' || c == '^') {
      return Refuse(why, "the modem's init string holds a character chat cannot send as it is (byte " +
                             std::to_string(u) + ")");
    }
  }
  std::string upper = init;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.find("&D2") == std::string::npos) init += "&D2";  // dropping DTR hangs up
  return init;
}

namespace {

// chat's escapes for a send string in single quotes: only the backslash
// (AT\N3) needs one.
std::string ChatEscape(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += '\\';
    out += c;
  }
  return out;
}

std::string ChatUnescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') ++i;
    out += text[i];
  }
  return out;
}

}  // namespace

std::optional<std::string> ChatScriptText(std::string_view init_command, std::string_view dial_command,
                                          std::string* why) {
  // Only what DialCommand makes: no quote, blank, backslash or '^' can
  // reach chat, so the number cannot become a step of the script.
  if (dial_command.size() < 5 || dial_command.substr(0, 3) != "ATD" ||
      (dial_command[3] != 'T' && dial_command[3] != 'P')) {
    return Refuse(why, "the dial command does not start with ATDT or ATDP");
  }
  for (char c : dial_command.substr(4)) {
    if (!IsDialChar(c)) return Refuse(why, "the dial command holds a character that is not a dial character");
  }
  // The init string is checked the same way it was made.
  auto init = ModemInitCommand(init_command, why);
  if (!init || *init != (init_command.empty() ? std::string("AT&D2") : std::string(init_command))) {
    if (init) Refuse(why, "the modem's init string is not one ModemInitCommand made");
    return std::nullopt;
  }
  std::string text =
      "ABORT BUSY\n"
      "ABORT 'NO CARRIER'\n"
      "ABORT 'NO DIALTONE'\n"
      "ABORT 'NO DIAL TONE'\n"
      "ABORT 'NO ANSWER'\n"
      "ABORT ERROR\n"
      "TIMEOUT 60\n"
      "'' ATZ\n";
  text += "OK '" + ChatEscape(*init) + "'\n";
  text += "OK '" + std::string(dial_command) + "'\n";
  text += "CONNECT ''\n";
  return text;
}

std::optional<ChatSteps> ReadChatScript(std::string_view text) {
  ChatSteps steps;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t eol = text.find('\n', at);
    std::string_view line = text.substr(at, eol == std::string_view::npos ? std::string_view::npos : eol - at);
    if (line.size() > 5 && line.substr(0, 4) == "OK '" && line.back() == '\'') {
      std::string_view sent = line.substr(4, line.size() - 5);
      if (sent.substr(0, 3) == "ATD") {
        steps.dial = std::string(sent);
        return steps;
      }
      steps.init = ChatUnescape(sent);
    }
    if (eol == std::string_view::npos) break;
    at = eol + 1;
  }
  return std::nullopt;
}

std::optional<std::string> SecretsLine(std::string_view user, std::string_view remote, std::string_view password,
                                       std::string* why) {
  if (!IsSafeName(remote)) return Refuse(why, "the entry's file name is not safe");
  if (!password.empty() && password.front() == '@') {
    return Refuse(why, "a password beginning with '@' would be read by pppd as the name of a file");
  }
  if (user.size() > kPppdLongestWord || password.size() > kPppdLongestWord || remote.size() > kPppdLongestWord) {
    return Refuse(why, kTooLongForPppd);
  }
  auto u = PppdQuote(user);
  auto p = PppdQuote(password);
  if (!u || !p) return Refuse(why, "the user ID or password holds a NUL byte");
  return *u + " " + std::string(remote) + " " + *p + "\n";
}

std::optional<std::string> SecretFileLine(std::string_view user, std::string_view remote,
                                          const fs::path& secret_file, std::string* why) {
  if (!IsSafeName(remote)) return Refuse(why, "the entry's file name is not safe");
  if (!secret_file.is_absolute()) return Refuse(why, "the secret file is not an absolute path");
  const std::string reference = "@" + secret_file.string();
  if (user.size() > kPppdLongestWord || reference.size() > kPppdLongestWord) return Refuse(why, kTooLongForPppd);
  auto u = PppdQuote(user);
  auto r = PppdQuote(reference);
  if (!u || !r) return Refuse(why, "the user ID or the secret file's path holds a NUL byte");
  return *u + " " + std::string(remote) + " " + *r + "\n";
}

std::optional<std::string> SecretFileText(std::string_view password, std::string* why) {
  if (password.size() > kPppdLongestWord) return Refuse(why, kTooLongForPppd);
  auto p = PppdQuote(password);
  if (!p) return Refuse(why, "the password holds a NUL byte");
  return *p + "\n";
}

std::vector<Secret> ReadSecrets(std::string_view text) {
  std::vector<Secret> out;
  for (auto& words : PppdWords(text)) {
    if (words.size() >= 3) out.push_back({words[0], words[1], words[2]});
  }
  return out;
}

bool SecretsSpanLines(std::string_view text) {
  char quote = 0;
  bool comment = false;
  bool in_word = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (comment) {
      if (c == '\n') comment = false;
      continue;
    }
    if (c == '\\') {
      if (i + 1 >= text.size() || text[i + 1] == '\n') return true;  // continues onto the next line
      ++i;
      in_word = true;
      continue;
    }
    if (quote) {
      if (c == quote) quote = 0;
      else if (c == '\n') return true;  // a quoted word running over the line end
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
      in_word = true;
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
      in_word = false;
    } else if (c == '#' && !in_word) {
      comment = true;
    } else {
      in_word = true;
    }
  }
  return quote != 0;  // open at the end: an appended line would join it
}

std::string MergeSecrets(std::string_view text, std::string_view remote, const std::optional<std::string>& line) {
  std::string out;
  bool placed = false;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t eol = text.find('\n', at);
    const bool has_newline = eol != std::string_view::npos;
    std::string_view body = text.substr(at, has_newline ? eol - at : std::string_view::npos);
    std::string_view segment = text.substr(at, has_newline ? eol - at + 1 : std::string_view::npos);
    at = has_newline ? eol + 1 : text.size();
    auto words = PppdWords(body);
    const bool ours = words.size() == 1 && words[0].size() >= 2 && words[0][1] == remote;
    if (!ours) {
      out.append(segment);
      continue;
    }
    if (line && !placed) {
      placed = true;
      if (has_newline) {
        out += *line;
      } else {
        out.append(*line, 0, line->size() - (!line->empty() && line->back() == '\n' ? 1 : 0));
      }
    } else if (!has_newline && !out.empty() && out.back() == '\n') {
      out.pop_back();  // the newline that came before it came with it
    }
  }
  if (line && !placed) {
    if (!out.empty() && out.back() != '\n') {
      out += '\n';
      out.append(*line, 0, line->size() - (!line->empty() && line->back() == '\n' ? 1 : 0));
    } else {
      out += *line;
    }
  }
  return out;
}

std::string DottedAddress(const Address& a) {
  return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
         std::to_string(a[3]);
}

namespace {

// The first lines of both hooks: only the entry's own connection counts,
// and the interface name goes into file names.
std::string HookHead(const std::string& name, const std::string& what) {
  return "#!/bin/sh\n"
         "# " + std::string(what) + "\n"
         "[ \"$PPP_IPPARAM\" = '" + name + "' ] || [ \"$6\" = '" + name + "' ] || exit 0\n"
         "iface=${PPP_IFACE:-$1}\n"
         "case \"$iface\" in ''|*[!A-Za-z0-9_.-]*) exit 0 ;; esac\n"
         "state=/run/ppp-dns." + name + ".$iface\n";
}

}  // namespace

std::string IpUpHookText(std::string_view safe_name, const Address& dns1, const Address& dns2) {
  if (!IsSafeName(safe_name)) return {};
  const std::string name(safe_name);
  std::string servers;
  for (const Address* a : {&dns1, &dns2}) {
    if (!IsZero(*a)) servers += (servers.empty() ? "" : " ") + DottedAddress(*a);
  }
  std::string text = HookHead(name, "Name servers of the dial-up entry " + name +
                                        " for the system's resolver; ip-down.d/" + name +
                                        " undoes what $state notes.");
  if (!servers.empty()) {
    text += "servers='" + servers + "'\n";
  } else {
    text +=
        "# The provider's servers (usepeerdns), as pppd passes them on.\n"
        "servers=\n"
        "for a in \"$DNS1\" \"$DNS2\"; do\n"
        "  case \"$a\" in ''|*[!0-9.]*) ;; *) servers=\"$servers $a\" ;; esac\n"
        "done\n"
        "[ -n \"$servers\" ] || exit 0\n";
  }
  text +=
      "if command -v resolvectl >/dev/null 2>&1 && resolvectl dns \"$iface\" $servers 2>/dev/null; then\n"
      "  echo resolved > \"$state\"\n"
      "elif command -v resolvconf >/dev/null 2>&1; then\n"
      "  for a in $servers; do echo \"nameserver $a\"; done | resolvconf -a \"$iface." + name + "\" &&\n"
      "    echo resolvconf > \"$state\"\n"
      "elif [ -n \"$USEPEERDNS\" ] && [ -x /etc/ppp/ip-up.d/0000usepeerdns ]; then\n"
      "  : # Debian's own hook has put the provider's servers into resolv.conf.\n"
      "else\n"
      "  # The file a symbolic link names is rewritten; the link stays.\n"
      "  conf=$(readlink -f /etc/resolv.conf) || exit 0\n"
      "  [ -e \"$conf\" ] || : > \"$conf\"\n"
      "  [ -e \"$conf." + name + "-backup.$iface\" ] || cp -p \"$conf\" \"$conf." + name + "-backup.$iface\" || exit 0\n"
      "  new=\"$conf." + name + "-new.$iface\"\n"
      "  cp -p \"$conf\" \"$new\" &&\n"
      "    { for a in $servers; do echo \"nameserver $a\"; done\n"
      "      grep -v '^[[:space:]]*nameserver[[:space:]]' \"$conf\" || true; } > \"$new\" &&\n"
      "    mv -f \"$new\" \"$conf\" && printf 'file %s\\n' \"$conf\" > \"$state\"\n"
      "fi\n"
      "exit 0\n";
  return text;
}

std::string IpDownHookText(std::string_view safe_name) {
  if (!IsSafeName(safe_name)) return {};
  const std::string name(safe_name);
  return HookHead(name, "Undoes what ip-up.d/" + name + " did for the name servers, as $state notes it.") +
         "[ -f \"$state\" ] || exit 0\n"
         "read -r how conf < \"$state\"\n"
         "case \"$how\" in\n"
         "  resolved) resolvectl revert \"$iface\" ;;\n"
         "  resolvconf) resolvconf -d \"$iface." + name + "\" ;;\n"
         "  file) [ -f \"$conf." + name + "-backup.$iface\" ] && mv -f \"$conf." + name + "-backup.$iface\" \"$conf\" ;;\n"
         "esac\n"
         "rm -f \"$state\"\n"
         "exit 0\n";
}

// ---- Programs -------------------------------------------------------------

const PppPrograms& ppp_programs() {
  std::lock_guard<std::mutex> lock(ProgramsMutex());
  auto& p = ProgramsStorage();
  if (!p) p = PppPrograms{FindProgram("pppd"), FindProgram("chat")};
  return *p;
}

void set_ppp_programs(PppPrograms programs) {
  std::lock_guard<std::mutex> lock(ProgramsMutex());
  ProgramsStorage() = std::move(programs);
}

void reset_ppp_programs() {
  std::lock_guard<std::mutex> lock(ProgramsMutex());
  ProgramsStorage().reset();
}

// ---- The phone book -------------------------------------------------------

namespace {

// Writes the entry's two hooks.
bool WriteHooks(const PhoneBook& book, std::string_view name, const Address& dns1, const Address& dns2,
                std::string* why, bool* changed) {
  const std::string safe = SafeEntryName(name);
  const std::pair<fs::path, std::string> hooks[] = {
      {book.HookPath(name), IpUpHookText(safe, dns1, dns2)},
      {book.DownHookPath(name), IpDownHookText(safe)},
  };
  for (const auto& [path, text] : hooks) {
    if (!WriteIfChanged(path, text, FileMode::Executable, why, changed)) return false;
  }
  return true;
}

bool RemoveEntryFiles(const PhoneBook& book, std::string_view name, std::string* why, bool* changed = nullptr) {
  // The peers file first: once it is gone the entry no longer exists.
  for (const fs::path& path : {book.PeersPath(name), book.ChatPath(name), book.HookPath(name),
                               book.DownHookPath(name), book.SecretFilePath(name)}) {
    if (!RemoveIfPresent(path, why, changed)) return false;
  }
  return true;
}

}  // namespace

std::optional<EntrySecret> MakeEntrySecret(const PhoneBook& book, std::string_view name, std::string_view user,
                                           std::string_view password, std::string* why) {
  const std::string safe = SafeEntryName(name);
  EntrySecret secret;
  if (!password.empty() && password.front() == '@') {
    auto line = SecretFileLine(user, safe, book.SecretFilePath(name), why);
    auto text = SecretFileText(password, why);
    if (!line || !text) return std::nullopt;
    secret.line = *line;
    secret.file_text = *text;
  } else {
    auto line = SecretsLine(user, safe, password, why);
    if (!line) return std::nullopt;
    secret.line = *line;
  }
  return secret;
}

namespace {


// The user and password of entry `name` in `book`: its pap-secrets line,
// with a "@/path" secret read from the entry's own secret file and nowhere
// else. Nothing when there is no line (`why` empty) or it cannot be read.
std::optional<Secret> ReadEntrySecret(const PhoneBook& book, std::string_view name, std::string* why) {
  auto secret = FindSecret(book.PapSecretsPath(), SafeEntryName(name));
  if (!secret || secret->secret.empty() || secret->secret.front() != '@') return secret;
  const fs::path own = book.SecretFilePath(name);
  std::string text;
  auto words = secret->secret == "@" + own.string() && read_file(own, text) ? PppdWords(text)
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
bool WriteEntrySecret(const PhoneBook& book, std::string_view name, const EntrySecret& secret, std::string* why,
                      bool* changed) {
  const std::string safe = SafeEntryName(name);
  if (secret.file_text ? !WriteIfChanged(book.SecretFilePath(name), *secret.file_text, FileMode::OwnerOnly, why, changed)
                       : !RemoveIfPresent(book.SecretFilePath(name), why, changed)) {
    return false;
  }
  for (const fs::path& f : {book.PapSecretsPath(), book.ChapSecretsPath()}) {
    if (!UpdateSecretsFile(f, safe, secret.line, why, changed)) return false;
  }
  return true;
}

}  // namespace

PeersFile EntryPeersFile(const PhoneBook& book, std::string_view name, const EntryProperties& props) {
  PeersFile peers;
  peers.entry_name = std::string(name);
  peers.device = props.device;
  peers.speed = props.speed;
  peers.chat_program = ppp_programs().chat.empty() ? "/usr/sbin/chat" : ppp_programs().chat.string();
  peers.chat_script = book.ChatPath(name).string();
  peers.ipparam = SafeEntryName(name);
  peers.dns1 = props.dns1;
  peers.dns2 = props.dns2;
  return peers;
}

PhoneBook::PhoneBook(fs::path folder)
    : folder_(folder.empty() ? known_folder(KnownFolder::PhoneBook) : std::move(folder)) {}

fs::path PhoneBook::PeersPath(std::string_view name) const { return folder_ / "peers" / SafeEntryName(name); }
fs::path PhoneBook::ChatPath(std::string_view name) const { return folder_ / "chatscripts" / SafeEntryName(name); }
fs::path PhoneBook::HookPath(std::string_view name) const { return folder_ / "ip-up.d" / SafeEntryName(name); }
fs::path PhoneBook::DownHookPath(std::string_view name) const {
  return folder_ / "ip-down.d" / SafeEntryName(name);
}
fs::path PhoneBook::SecretFilePath(std::string_view name) const { return folder_ / "secrets" / SafeEntryName(name); }

int PhoneBook::ValidateEntryName(std::string_view name) const {
  if (name.empty()) return kPbInvalidName;
  std::error_code ec;
  return fs::exists(PeersPath(name), ec) ? kPbAlreadyExists : kPbSuccess;
}

int PhoneBook::SetEntryProperties(std::string_view name, const EntryProperties& props, std::string* why) {
  if (name.empty()) return kPbInvalidName;
  PeersFile peers = EntryPeersFile(*this, name, props);
  std::string old;
  if (read_file(PeersPath(name), old)) {
    if (auto existing = ReadPeersFile(old)) peers.user = existing->user;
  }
  auto peers_text = PeersFileText(peers, why);
  if (!peers_text) return kPbInvalidValue;
  auto chat_text = ChatScriptText(props.init_command, props.dial_command, why);
  if (!chat_text) return kPbInvalidValue;
  // The chat script and hooks first: a peers file never names a script
  // that is not there.
  if (!WriteIfChanged(ChatPath(name), *chat_text, FileMode::Shared, why, nullptr)) return kPbCannotWrite;
  if (!WriteHooks(*this, name, props.dns1, props.dns2, why, nullptr)) return kPbCannotWrite;
  if (!WriteIfChanged(PeersPath(name), *peers_text, FileMode::Shared, why, nullptr)) return kPbCannotWrite;
  log_info(kComponent, "entry \"" + std::string(name) + "\" written to " + PeersPath(name).string());
  return kPbSuccess;
}

int PhoneBook::RenameEntry(std::string_view from, std::string_view to, std::string* why) {
  if (from.empty() || to.empty()) return kPbInvalidName;
  std::string text;
  if (!read_file(PeersPath(from), text)) {
    if (why) *why = "no entry \"" + std::string(from) + "\"";
    return kPbEntryNotFound;
  }
  if (ValidateEntryName(to) != kPbSuccess) {
    if (why) *why = "an entry \"" + std::string(to) + "\" exists already";
    return kPbAlreadyExists;
  }
  auto peers = ReadPeersFile(text);
  std::string chat;
  if (!peers || !read_file(ChatPath(from), chat)) {
    if (why) *why = "entry \"" + std::string(from) + "\" is damaged";
    return kPbEntryNotFound;
  }
  const std::string from_safe = peers->ipparam;
  const std::string to_safe = SafeEntryName(to);
  std::string secret_why;
  auto secret = ReadEntrySecret(*this, from, &secret_why);
  if (!secret && !secret_why.empty()) {
    if (why) *why = secret_why;
    return kPbEntryNotFound;
  }
  peers->entry_name = std::string(to);
  peers->ipparam = to_safe;
  peers->chat_script = ChatPath(to).string();
  auto new_peers = PeersFileText(*peers, why);
  if (!new_peers) return kPbInvalidValue;
  std::optional<EntrySecret> new_secret;
  if (secret && !(new_secret = MakeEntrySecret(*this, to, secret->client, secret->secret, why))) return kPbInvalidValue;
  // The new entry is whole before the old one goes.
  if (!WriteIfChanged(ChatPath(to), chat, FileMode::Shared, why, nullptr)) return kPbCannotWrite;
  if (!WriteHooks(*this, to, peers->dns1, peers->dns2, why, nullptr)) return kPbCannotWrite;
  if (new_secret && !WriteEntrySecret(*this, to, *new_secret, why, nullptr)) return kPbCannotWrite;
  if (!WriteIfChanged(PeersPath(to), *new_peers, FileMode::Shared, why, nullptr)) return kPbCannotWrite;
  if (from_safe == to_safe) return kPbSuccess;
  return DeleteEntry(from, why);
}

int PhoneBook::DeleteEntry(std::string_view name, std::string* why) {
  if (name.empty()) return kPbInvalidName;
  std::error_code ec;
  if (!fs::exists(PeersPath(name), ec)) {
    if (why) *why = "no entry \"" + std::string(name) + "\"";
    return kPbEntryNotFound;
  }
  const std::string safe = SafeEntryName(name);
  if (!RemoveEntryFiles(*this, name, why)) return kPbCannotWrite;
  for (const fs::path& f : {PapSecretsPath(), ChapSecretsPath()}) {
    if (!UpdateSecretsFile(f, safe, std::nullopt, why, nullptr)) return kPbCannotWrite;
  }
  return kPbSuccess;
}

int PhoneBook::SetEntryDialParams(std::string_view name, std::string_view user, std::string_view password,
                                  std::string* why) {
  std::string text;
  if (!read_file(PeersPath(name), text)) {
    if (why) *why = "no entry \"" + std::string(name) + "\"";
    return kPbEntryNotFound;
  }
  auto peers = ReadPeersFile(text);
  if (!peers) {
    if (why) *why = "entry \"" + std::string(name) + "\" is damaged";
    return kPbEntryNotFound;
  }
  auto secret = MakeEntrySecret(*this, name, user, password, why);
  if (!secret) return kPbInvalidValue;
  peers->user = std::string(user);
  auto new_peers = PeersFileText(*peers, why);
  if (!new_peers) return kPbInvalidValue;
  if (!WriteEntrySecret(*this, name, *secret, why, nullptr)) return kPbCannotWrite;
  if (!WriteIfChanged(PeersPath(name), *new_peers, FileMode::Shared, why, nullptr)) return kPbCannotWrite;
  return kPbSuccess;
}

std::vector<std::string> PhoneBook::EntryNames() const {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder_ / "peers", ec), end; !ec && it != end; it.increment(ec)) {
    std::string text;
    if (!it->is_regular_file(ec) || !read_file(it->path(), text)) continue;
    if (auto peers = ReadPeersFile(text); peers && peers->ipparam == it->path().filename().string()) {
      names.push_back(peers->entry_name);
    }
  }
  return names;
}

int InstallEntry(const PhoneBook& from, std::string_view name, const fs::path& to, std::string* why,
                 bool* changed) {
  if (changed) *changed = false;
  std::string text, chat;
  const std::string where = "the dial-up entry \"" + std::string(name) + "\" in " + from.folder().string();
  if (!read_file(from.PeersPath(name), text)) {
    if (why) *why = "no dial-up entry \"" + std::string(name) + "\" in " + from.folder().string();
    return kPbEntryNotFound;
  }
  auto refuse = [&](const std::string& what) {
    if (why) *why = where + " " + what;
    return kPbInvalidValue;
  };
  auto peers = ReadPeersFile(text);
  std::optional<ChatSteps> steps;
  if (!peers || !read_file(from.ChatPath(name), chat) || !(steps = ReadChatScript(chat))) {
    if (why) *why = where + " is damaged";
    return kPbEntryNotFound;
  }
  // Each value the root's files hold is checked, not trusted: they belong
  // to the user, and what is written here runs as root.
  const std::string safe = SafeEntryName(name);
  peers->entry_name = std::string(name);
  peers->ipparam = safe;  // remotename and ipparam: the entry's own name only
  struct stat st {};
  if (::stat(peers->device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
    return refuse("names the device " + peers->device + ", which is not a character device");
  }
  peers->speed = SerialSpeedAtOrAbove(peers->speed);
  std::string secret_why;
  auto secret = ReadEntrySecret(from, name, &secret_why);
  if (!secret) return refuse(secret_why.empty() ? "has no user ID and password (no line for " + safe + " in " +
                                                      from.PapSecretsPath().string() + ")"
                                                : "is refused: " + secret_why);
  if (!peers->user.empty() && peers->user != secret->client) {
    return refuse("names the user \"" + peers->user + "\", but its secrets line is for \"" + secret->client + "\"");
  }
  peers->user = secret->client;
  const PhoneBook target(to);
  // The files are made again from their values, never copied: what runs as
  // root (the connect command, the chat script) is only what we write.
  peers->chat_script = target.ChatPath(name).string();
  peers->chat_program = ppp_programs().chat.empty() ? "/usr/sbin/chat" : ppp_programs().chat.string();
  auto peers_text = PeersFileText(*peers, why);
  if (!peers_text) return kPbInvalidValue;
  auto chat_text = ChatScriptText(steps->init, steps->dial, why);
  if (!chat_text) return kPbInvalidValue;
  auto entry_secret = MakeEntrySecret(target, name, secret->client, secret->secret, why);
  if (!entry_secret) return kPbInvalidValue;
  // A secrets file the merge must refuse is found before anything is
  // written, so a refused install leaves the pppd folder as it was.
  for (const fs::path& f : {target.PapSecretsPath(), target.ChapSecretsPath()}) {
    std::string text;
    if (read_file(f, text) && SecretsSpanLines(text)) {
      if (why) *why = f.string() + kSpansLines;
      return kPbCannotWrite;
    }
  }
  if (!WriteIfChanged(target.ChatPath(name), *chat_text, FileMode::Shared, why, changed)) return kPbCannotWrite;
  if (!WriteHooks(target, name, peers->dns1, peers->dns2, why, changed)) return kPbCannotWrite;
  if (!WriteEntrySecret(target, name, *entry_secret, why, changed)) return kPbCannotWrite;
  if (!WriteIfChanged(target.PeersPath(name), *peers_text, FileMode::Shared, why, changed)) return kPbCannotWrite;
  return kPbSuccess;
}

int RemoveEntry(std::string_view name, const fs::path& to, std::string* why) {
  const PhoneBook target(to);
  const std::string safe = SafeEntryName(name);
  if (!RemoveEntryFiles(target, name, why)) return kPbCannotWrite;
  for (const fs::path& f : {target.PapSecretsPath(), target.ChapSecretsPath()}) {
    if (!UpdateSecretsFile(f, safe, std::nullopt, why, nullptr)) return kPbCannotWrite;
  }
  return kPbSuccess;
}

}  // namespace platform::phonebook
