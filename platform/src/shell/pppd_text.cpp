// The pppd files as text: pure functions from values to the bytes of the
// peers file, the chat script, the secrets lines and the hooks, and the
// readers that take them back. Nothing here touches a file.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "platform/shell/pppd_text.h"

namespace platform::phonebook {
namespace fs = std::filesystem;

namespace {


constexpr std::size_t kPppdMaxWord = 1024;  // MAXWORDLEN of pppd's getword

// The longest value pppd reads back whole (its buffer keeps the terminator).
constexpr std::size_t kPppdLongestWord = kPppdMaxWord - 1;
constexpr const char* kTooLongForPppd = "a value of the entry is longer than pppd's word limit of 1023 bytes";

std::optional<std::string> refuse(std::string* why, std::string text) {
  if (why) *why = std::move(text);
  return std::nullopt;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_octal(char c) { return c >= '0' && c <= '7'; }
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_safe_name_char(char c) { return (c >= 'a' && c <= 'z') || is_digit(c) || c == '-'; }

bool is_safe_name(std::string_view name) {
  if (name.empty() || name.front() == '-' || name.back() == '-') return false;
  for (char c : name) {
    if (!is_safe_name_char(c)) return false;
  }
  return true;
}

// One word for the shell that runs pppd's connect command.
std::string shell_quote(std::string_view word) {
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

// The words of a command line quoted by shell_quote (plain words and single-
// quoted parts); nothing for anything else.
std::optional<std::vector<std::string>> shell_words(std::string_view text) {
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

bool parse_address(std::string_view text, Address& out) {
  Address a{};
  std::size_t part = 0, i = 0;
  while (part < 4) {
    if (i >= text.size() || !is_digit(text[i])) return false;
    unsigned value = 0;
    std::size_t digits = 0;
    while (i < text.size() && is_digit(text[i]) && digits < 3) value = value * 10 + (text[i++] - '0'), ++digits;
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

bool is_zero(const Address& a) { return a == Address{}; }

}  // namespace

std::string safe_entry_name(std::string_view name) {
  std::string out;
  bool pending_dash = false;
  for (char c : name) {
    char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if ((lower >= 'a' && lower <= 'z') || is_digit(lower)) {
      if (pending_dash && !out.empty()) out += '-';
      pending_dash = false;
      out += lower;
    } else {
      pending_dash = true;
    }
  }
  return out.empty() ? "entry" : out;
}

std::optional<std::string> pppd_quote(std::string_view word) {
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

std::vector<std::vector<std::string>> pppd_words(std::string_view text) {
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
      if (!is_space(static_cast<char>(c))) break;
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
            if (is_octal(static_cast<char>(c))) {
              value = 0;
              for (int k = 0; k < 3 && c >= 0 && is_octal(static_cast<char>(c)); ++k) {
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
      } else if (is_space(static_cast<char>(c)) || c == '#') {
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

bool is_dial_char(char c) { return kDialChars.find(c) != std::string_view::npos; }

// `part` without the punctuation people write in numbers, appended to
// `out`; false (why set) at anything that is not a dial character.
bool take_dial_chars(std::string_view part, const char* what, std::string& out, std::string* why) {
  for (char c : part) {
    if (c == ' ' || c == '-' || c == '(' || c == ')' || c == '.') continue;
    if (is_dial_char(c)) {
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

std::optional<std::string> dial_command(const DialingRules& rules, std::string_view area_code,
                                       std::string_view number, std::string* why) {
  std::string digits, area, own_area, local;
  if (!take_dial_chars(rules.prefix, "dialing prefix", digits, why)) return std::nullopt;
  if (rules.cw_disable == "TRUE" && !take_dial_chars(rules.cw_string, "call-waiting string", digits, why)) {
    return std::nullopt;
  }
  if (!take_dial_chars(area_code, "area code", area, why) || !take_dial_chars(number, "phone number", local, why)) {
    return std::nullopt;
  }
  if (local.find_first_of("0123456789") == std::string::npos &&
      area.find_first_of("0123456789") == std::string::npos) {
    return refuse(why, "the access number holds no digit");
  }
  // The caller's own area code only decides; a bad one counts as another.
  std::string ignored;
  if (!take_dial_chars(rules.own_area_code, "own area code", own_area, &ignored)) own_area.clear();
  if (!area.empty() && area != own_area) digits += "1" + area;  // long distance, toll-free alike
  digits += local;
  return std::string("ATD") + (rules.dial_method == "PULSE" ? "P" : "T") + digits;
}

std::uint32_t serial_speed_at_or_above(std::uint32_t speed) {
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

std::optional<std::string> peers_file_text(const PeersFile& p, std::string* why) {
  if (!is_safe_name(p.ipparam)) return refuse(why, "the entry's file name \"" + p.ipparam + "\" is not safe");
  if (p.device.empty() || p.device.front() != '/') return refuse(why, "the modem device is not an absolute path");
  if (p.chat_program.empty() || p.chat_script.empty()) return refuse(why, "the chat program or script is missing");
  const std::string connect_line = shell_quote(p.chat_program) + " -v -s -f " + shell_quote(p.chat_script);
  for (std::string_view word : {std::string_view(p.entry_name), std::string_view(p.device),
                                std::string_view(connect_line), std::string_view(p.user)}) {
    if (word.size() > kPppdLongestWord) return refuse(why, kTooLongForPppd);
  }
  auto name = pppd_quote(p.entry_name);
  auto device = pppd_quote(p.device);
  auto connect = pppd_quote(connect_line);
  auto user = pppd_quote(p.user);
  if (!name || !device || !connect || !user) return refuse(why, "a value of the entry holds a NUL byte");
  std::string text;
  text += "# entry " + *name + "\n";
  text += "# name servers " + dotted_address(p.dns1) + " " + dotted_address(p.dns2) + "\n";
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
  if (is_zero(p.dns1) && is_zero(p.dns2)) text += "usepeerdns\n";
  text += "remotename " + p.ipparam + "\n";
  text += "ipparam " + p.ipparam + "\n";
  if (!p.user.empty()) text += "user " + *user + "\n";
  text += "connect " + *connect + "\n";
  return text;
}

std::optional<PeersFile> read_peers_file(std::string_view text) {
  PeersFile p;
  // The two comment lines carry what pppd does not need.
  std::size_t eol = text.find('\n');
  if (eol == std::string_view::npos || text.substr(0, 8) != "# entry ") return std::nullopt;
  auto name_words = pppd_words(text.substr(8, eol - 8));
  if (name_words.size() != 1 || name_words[0].size() != 1) return std::nullopt;
  p.entry_name = name_words[0][0];
  std::string_view rest = text.substr(eol + 1);
  eol = rest.find('\n');
  if (eol == std::string_view::npos || rest.substr(0, 15) != "# name servers ") return std::nullopt;
  std::string_view dns = rest.substr(15, eol - 15);
  std::size_t blank = dns.find(' ');
  if (blank == std::string_view::npos || !parse_address(dns.substr(0, blank), p.dns1) ||
      !parse_address(dns.substr(blank + 1), p.dns2)) {
    return std::nullopt;
  }
  std::vector<std::string> words;
  for (auto& line : pppd_words(text)) words.insert(words.end(), line.begin(), line.end());
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
        auto cmd = shell_words(*value);
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
  if (p.device.empty() || p.chat_script.empty() || !is_safe_name(p.ipparam)) return std::nullopt;
  return p;
}

std::optional<std::string> modem_init_command(std::string_view modem_init, std::string* why) {
  std::string init = modem_init.empty() ? std::string("AT") : std::string(modem_init);
  if (init.size() < 2 || (init[0] != 'A' && init[0] != 'a') || (init[1] != 'T' && init[1] != 't')) {
    return refuse(why, "the modem's init string does not start with AT");
  }
  for (char c : init) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7f || c == '\'' || c == '"' || c == '^') {
      return refuse(why, "the modem's init string holds a character chat cannot send as it is (byte " +
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
std::string chat_escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += '\\';
    out += c;
  }
  return out;
}

std::string chat_unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') ++i;
    out += text[i];
  }
  return out;
}

}  // namespace

std::optional<std::string> chat_script_text(std::string_view init_command, std::string_view dial_command,
                                          std::string* why) {
  // Only what dial_command makes: no quote, blank, backslash or '^' can
  // reach chat, so the number cannot become a step of the script.
  if (dial_command.size() < 5 || dial_command.substr(0, 3) != "ATD" ||
      (dial_command[3] != 'T' && dial_command[3] != 'P')) {
    return refuse(why, "the dial command does not start with ATDT or ATDP");
  }
  for (char c : dial_command.substr(4)) {
    if (!is_dial_char(c)) return refuse(why, "the dial command holds a character that is not a dial character");
  }
  // The init string is checked the same way it was made.
  auto init = modem_init_command(init_command, why);
  if (!init || *init != (init_command.empty() ? std::string("AT&D2") : std::string(init_command))) {
    if (init) refuse(why, "the modem's init string is not one modem_init_command made");
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
  text += "OK '" + chat_escape(*init) + "'\n";
  text += "OK '" + std::string(dial_command) + "'\n";
  text += "CONNECT ''\n";
  return text;
}

std::optional<ChatSteps> read_chat_script(std::string_view text) {
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
      steps.init = chat_unescape(sent);
    }
    if (eol == std::string_view::npos) break;
    at = eol + 1;
  }
  return std::nullopt;
}

std::optional<std::string> secrets_line(std::string_view user, std::string_view remote, std::string_view password,
                                       std::string* why) {
  if (!is_safe_name(remote)) return refuse(why, "the entry's file name is not safe");
  if (!password.empty() && password.front() == '@') {
    return refuse(why, "a password beginning with '@' would be read by pppd as the name of a file");
  }
  if (user.size() > kPppdLongestWord || password.size() > kPppdLongestWord || remote.size() > kPppdLongestWord) {
    return refuse(why, kTooLongForPppd);
  }
  auto u = pppd_quote(user);
  auto p = pppd_quote(password);
  if (!u || !p) return refuse(why, "the user ID or password holds a NUL byte");
  return *u + " " + std::string(remote) + " " + *p + "\n";
}

std::optional<std::string> secret_file_line(std::string_view user, std::string_view remote,
                                          const fs::path& secret_file, std::string* why) {
  if (!is_safe_name(remote)) return refuse(why, "the entry's file name is not safe");
  if (!secret_file.is_absolute()) return refuse(why, "the secret file is not an absolute path");
  const std::string reference = "@" + secret_file.string();
  if (user.size() > kPppdLongestWord || reference.size() > kPppdLongestWord) return refuse(why, kTooLongForPppd);
  auto u = pppd_quote(user);
  auto r = pppd_quote(reference);
  if (!u || !r) return refuse(why, "the user ID or the secret file's path holds a NUL byte");
  return *u + " " + std::string(remote) + " " + *r + "\n";
}

std::optional<std::string> secret_file_text(std::string_view password, std::string* why) {
  if (password.size() > kPppdLongestWord) return refuse(why, kTooLongForPppd);
  auto p = pppd_quote(password);
  if (!p) return refuse(why, "the password holds a NUL byte");
  return *p + "\n";
}

std::vector<Secret> read_secrets(std::string_view text) {
  std::vector<Secret> out;
  for (auto& words : pppd_words(text)) {
    if (words.size() >= 3) out.push_back({words[0], words[1], words[2]});
  }
  return out;
}

bool secrets_span_lines(std::string_view text) {
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

std::string merge_secrets(std::string_view text, std::string_view remote, const std::optional<std::string>& line) {
  std::string out;
  bool placed = false;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t eol = text.find('\n', at);
    const bool has_newline = eol != std::string_view::npos;
    std::string_view body = text.substr(at, has_newline ? eol - at : std::string_view::npos);
    std::string_view segment = text.substr(at, has_newline ? eol - at + 1 : std::string_view::npos);
    at = has_newline ? eol + 1 : text.size();
    auto words = pppd_words(body);
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

std::string dotted_address(const Address& a) {
  return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
         std::to_string(a[3]);
}

namespace {

// The first lines of both hooks: only the entry's own connection counts,
// and the interface name goes into file names.
std::string hook_head(const std::string& name, const std::string& what) {
  return "#!/bin/sh\n"
         "# " + std::string(what) + "\n"
         "[ \"$PPP_IPPARAM\" = '" + name + "' ] || [ \"$6\" = '" + name + "' ] || exit 0\n"
         "iface=${PPP_IFACE:-$1}\n"
         "case \"$iface\" in ''|*[!A-Za-z0-9_.-]*) exit 0 ;; esac\n"
         "state=/run/ppp-dns." + name + ".$iface\n";
}

}  // namespace

std::string ip_up_hook_text(std::string_view safe_name, const Address& dns1, const Address& dns2) {
  if (!is_safe_name(safe_name)) return {};
  const std::string name(safe_name);
  std::string servers;
  for (const Address* a : {&dns1, &dns2}) {
    if (!is_zero(*a)) servers += (servers.empty() ? "" : " ") + dotted_address(*a);
  }
  std::string text = hook_head(name, "Name servers of the dial-up entry " + name +
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

std::string ip_down_hook_text(std::string_view safe_name) {
  if (!is_safe_name(safe_name)) return {};
  const std::string name(safe_name);
  return hook_head(name, "Undoes what ip-up.d/" + name + " did for the name servers, as $state notes it.") +
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

}  // namespace platform::phonebook
