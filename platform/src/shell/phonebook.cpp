#include "platform/shell/phonebook.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>

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
constexpr const char* kSpansLines =
    " carries a quoted word or a backslash continuation across a line end; it is left as it is "
    "(edit it by hand, then install again)";
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
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  std::string error;
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
// its lock. A new file is created owner-only.
bool UpdateSecretsFile(const fs::path& path, std::string_view remote, const std::optional<std::string>& line,
                       std::string* why, bool* changed) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  FileLock lock(path);
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
  if (!missing && ::stat(path.c_str(), &st) == 0 && (st.st_mode & 077) != 0) {
    log_warn(kComponent, path.string() + " is readable by others; its mode is left as it is");
  }
  if (!replace_file(path, merged, FileMode::OwnerOnly, &error)) {
    if (why) *why = error;
    return false;
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

fs::path FindProgram(std::string_view name) {
  for (const char* dir : {"/usr/sbin", "/sbin"}) {
    fs::path p = fs::path(dir) / std::string(name);
    if (::access(p.c_str(), X_OK) == 0) return p;
  }
  if (const char* path = std::getenv("PATH")) {
    std::string_view rest = path;
    while (!rest.empty()) {
      std::size_t colon = rest.find(':');
      std::string_view dir = rest.substr(0, colon);
      if (!dir.empty()) {
        fs::path p = fs::path(std::string(dir)) / std::string(name);
        if (::access(p.c_str(), X_OK) == 0) return p;
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

std::optional<std::string> DialCommand(std::string_view dial_method, std::string_view prefix,
                                       std::string_view cw_disable, std::string_view cw_string,
                                       std::string_view area_code, std::string_view number, std::string* why) {
  std::string digits;
  auto take = [&](std::string_view part, const char* what) -> bool {
    for (char c : part) {
      if (c == ' ' || c == '-' || c == '(' || c == ')' || c == '.') continue;
      if (IsDigit(c) || c == '*' || c == '#' || c == ',' || c == 'W' || c == 'w' || c == '!' || c == '@') {
        digits += c;
        continue;
      }
      if (why) {
        *why = std::string("the ") + what + " holds a character that is not a dial character (byte " +
               std::to_string(static_cast<unsigned char>(c)) + ")";
      }
      return false;
    }
    return true;
  };
  if (!take(prefix, "dialing prefix")) return std::nullopt;
  if (cw_disable == "TRUE" && !take(cw_string, "call-waiting string")) return std::nullopt;
  const std::size_t before_number = digits.size();
  if (!take(area_code, "area code") || !take(number, "phone number")) return std::nullopt;
  bool any_digit = false;
  for (std::size_t k = before_number; k < digits.size(); ++k) any_digit = any_digit || IsDigit(digits[k]);
  if (!any_digit) return Refuse(why, "the access number holds no digit");
  return std::string("ATD") + (dial_method == "PULSE" ? "P" : "T") + digits;
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

std::optional<std::string> ChatScriptText(std::string_view dial_command, std::string* why) {
  // Only what DialCommand makes: no quote, blank, backslash or '^' can
  // reach chat, so the number cannot become a step of the script.
  if (dial_command.size() < 5 || dial_command.substr(0, 3) != "ATD" ||
      (dial_command[3] != 'T' && dial_command[3] != 'P')) {
    return Refuse(why, "the dial command does not start with ATDT or ATDP");
  }
  for (char c : dial_command.substr(4)) {
    if (!(IsDigit(c) || c == '*' || c == '#' || c == ',' || c == 'W' || c == 'w' || c == '!' || c == '@')) {
      return Refuse(why, "the dial command holds a character that is not a dial character");
    }
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
  text += "OK '" + std::string(dial_command) + "'\n";
  text += "CONNECT ''\n";
  return text;
}

std::optional<std::string> ReadChatDial(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t eol = text.find('\n', at);
    std::string_view line = text.substr(at, eol == std::string_view::npos ? std::string_view::npos : eol - at);
    if (line.size() > 5 && line.substr(0, 4) == "OK '" && line.back() == '\'') {
      return std::string(line.substr(4, line.size() - 5));
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

// The servers as resolv.conf lines; empty when both are 0.0.0.0.
std::string ServerLines(const Address& dns1, const Address& dns2) {
  std::string servers;
  for (const Address* a : {&dns1, &dns2}) {
    if (!IsZero(*a)) servers += "nameserver " + DottedAddress(*a) + "\n";
  }
  return servers;
}

// The first lines of both hooks: only the entry's own connection counts.
std::string HookHead(const std::string& name, const char* what) {
  return "#!/bin/sh\n"
         "# " + std::string(what) + " of the dial-up entry " + name + ": pppd has no client option for them.\n"
         "[ \"$PPP_IPPARAM\" = '" + name + "' ] || [ \"$6\" = '" + name + "' ] || exit 0\n"
         "iface=${PPP_IFACE:-$1}\n";
}

}  // namespace

std::string IpUpHookText(std::string_view safe_name, const Address& dns1, const Address& dns2) {
  const std::string servers = ServerLines(dns1, dns2);
  if (servers.empty() || !IsSafeName(safe_name)) return {};
  return HookHead(std::string(safe_name), "Name servers") +
         "servers='" + servers + "'\n"
         "if command -v resolvconf >/dev/null 2>&1; then\n"
         "  printf '%s' \"$servers\" | resolvconf -a \"$iface.pppd\"\n"
         "else\n"
         "  [ -e \"/etc/resolv.conf.pppd-backup.$iface\" ] || cp -p /etc/resolv.conf \"/etc/resolv.conf.pppd-backup.$iface\"\n"
         "  printf '%s' \"$servers\" > /etc/resolv.conf\n"
         "fi\n";
}

std::string IpDownHookText(std::string_view safe_name, const Address& dns1, const Address& dns2) {
  if (ServerLines(dns1, dns2).empty() || !IsSafeName(safe_name)) return {};
  return HookHead(std::string(safe_name), "The name servers back") +
         "if command -v resolvconf >/dev/null 2>&1; then\n"
         "  resolvconf -d \"$iface.pppd\"\n"
         "elif [ -e \"/etc/resolv.conf.pppd-backup.$iface\" ]; then\n"
         "  mv \"/etc/resolv.conf.pppd-backup.$iface\" /etc/resolv.conf\n"
         "fi\n";
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

// Writes the entry's two hooks, or removes them when there is no name
// server to set.
bool WriteHooks(const PhoneBook& book, std::string_view name, const Address& dns1, const Address& dns2,
                std::string* why, bool* changed) {
  const std::string safe = SafeEntryName(name);
  const std::pair<fs::path, std::string> hooks[] = {
      {book.HookPath(name), IpUpHookText(safe, dns1, dns2)},
      {book.DownHookPath(name), IpDownHookText(safe, dns1, dns2)},
  };
  for (const auto& [path, text] : hooks) {
    if (text.empty() ? !RemoveIfPresent(path, why, changed)
                     : !WriteIfChanged(path, text, FileMode::Executable, why, changed)) {
      return false;
    }
  }
  return true;
}

bool RemoveEntryFiles(const PhoneBook& book, std::string_view name, std::string* why) {
  // The peers file first: once it is gone the entry no longer exists.
  for (const fs::path& path : {book.PeersPath(name), book.ChatPath(name), book.HookPath(name), book.DownHookPath(name)}) {
    if (!RemoveIfPresent(path, why, nullptr)) return false;
  }
  return true;
}

}  // namespace

PhoneBook::PhoneBook(fs::path folder)
    : folder_(folder.empty() ? known_folder(KnownFolder::PhoneBook) : std::move(folder)) {}

fs::path PhoneBook::PeersPath(std::string_view name) const { return folder_ / "peers" / SafeEntryName(name); }
fs::path PhoneBook::ChatPath(std::string_view name) const { return folder_ / "chatscripts" / SafeEntryName(name); }
fs::path PhoneBook::HookPath(std::string_view name) const { return folder_ / "ip-up.d" / SafeEntryName(name); }
fs::path PhoneBook::DownHookPath(std::string_view name) const {
  return folder_ / "ip-down.d" / SafeEntryName(name);
}

int PhoneBook::ValidateEntryName(std::string_view name) const {
  if (name.empty()) return kPbInvalidName;
  std::error_code ec;
  return fs::exists(PeersPath(name), ec) ? kPbAlreadyExists : kPbSuccess;
}

int PhoneBook::SetEntryProperties(std::string_view name, const EntryProperties& props, std::string* why) {
  if (name.empty()) return kPbInvalidName;
  const std::string safe = SafeEntryName(name);
  PeersFile peers;
  std::string old;
  if (read_file(PeersPath(name), old)) {
    if (auto existing = ReadPeersFile(old)) peers.user = existing->user;
  }
  peers.entry_name = std::string(name);
  peers.device = props.device;
  peers.speed = props.speed;
  peers.chat_program = ppp_programs().chat.empty() ? "/usr/sbin/chat" : ppp_programs().chat.string();
  peers.chat_script = ChatPath(name).string();
  peers.ipparam = safe;
  peers.dns1 = props.dns1;
  peers.dns2 = props.dns2;
  auto peers_text = PeersFileText(peers, why);
  if (!peers_text) return kPbInvalidValue;
  auto chat_text = ChatScriptText(props.dial_command, why);
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
  auto secret = FindSecret(PapSecretsPath(), from_safe);
  peers->entry_name = std::string(to);
  peers->ipparam = to_safe;
  peers->chat_script = ChatPath(to).string();
  auto new_peers = PeersFileText(*peers, why);
  if (!new_peers) return kPbInvalidValue;
  // The new entry is whole before the old one goes.
  if (!WriteIfChanged(ChatPath(to), chat, FileMode::Shared, why, nullptr)) return kPbCannotWrite;
  if (!WriteHooks(*this, to, peers->dns1, peers->dns2, why, nullptr)) return kPbCannotWrite;
  if (secret) {
    auto line = SecretsLine(secret->client, to_safe, secret->secret, why);
    if (!line) return kPbInvalidValue;
    for (const fs::path& f : {PapSecretsPath(), ChapSecretsPath()}) {
      if (!UpdateSecretsFile(f, to_safe, line, why, nullptr)) return kPbCannotWrite;
    }
  }
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
  auto line = SecretsLine(user, peers->ipparam, password, why);
  if (!line) return kPbInvalidValue;
  peers->user = std::string(user);
  auto new_peers = PeersFileText(*peers, why);
  if (!new_peers) return kPbInvalidValue;
  for (const fs::path& f : {PapSecretsPath(), ChapSecretsPath()}) {
    if (!UpdateSecretsFile(f, peers->ipparam, line, why, nullptr)) return kPbCannotWrite;
  }
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
  if (!read_file(from.PeersPath(name), text)) {
    if (why) *why = "no dial-up entry \"" + std::string(name) + "\" in " + from.folder().string();
    return kPbEntryNotFound;
  }
  auto peers = ReadPeersFile(text);
  if (!peers || !read_file(from.ChatPath(name), chat) || !ReadChatDial(chat)) {
    if (why) *why = "the dial-up entry \"" + std::string(name) + "\" in " + from.folder().string() + " is damaged";
    return kPbEntryNotFound;
  }
  const PhoneBook target(to);
  // The files are made again from their values, never copied: what runs as
  // root (the connect command, the chat script) is only what we write.
  peers->chat_script = target.ChatPath(name).string();
  peers->chat_program = ppp_programs().chat.empty() ? "/usr/sbin/chat" : ppp_programs().chat.string();
  auto peers_text = PeersFileText(*peers, why);
  if (!peers_text) return kPbInvalidValue;
  auto chat_text = ChatScriptText(*ReadChatDial(chat), why);
  if (!chat_text) return kPbInvalidValue;
  chat = *chat_text;
  std::optional<std::string> line;
  if (auto secret = FindSecret(from.PapSecretsPath(), peers->ipparam)) {
    line = SecretsLine(secret->client, peers->ipparam, secret->secret, why);
    if (!line) return kPbInvalidValue;
  }
  // A secrets file the merge must refuse is found before anything is
  // written, so a refused install leaves the pppd folder as it was.
  for (const fs::path& f : {target.PapSecretsPath(), target.ChapSecretsPath()}) {
    std::string text;
    if (line && read_file(f, text) && SecretsSpanLines(text)) {
      if (why) *why = f.string() + kSpansLines;
      return kPbCannotWrite;
    }
  }
  if (!WriteIfChanged(target.ChatPath(name), chat, FileMode::Shared, why, changed)) return kPbCannotWrite;
  if (!WriteHooks(target, name, peers->dns1, peers->dns2, why, changed)) return kPbCannotWrite;
  if (line) {
    for (const fs::path& f : {target.PapSecretsPath(), target.ChapSecretsPath()}) {
      if (!UpdateSecretsFile(f, peers->ipparam, line, why, changed)) return kPbCannotWrite;
    }
  }
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
