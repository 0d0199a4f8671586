#include "linesim/profile.h"

#include <cctype>

namespace linesim {

namespace {

ModemProfile make(std::string name, std::string description, std::string i0, std::string i3,
                  std::vector<std::string> refused, int speed) {
  ModemProfile p;
  p.name = std::move(name);
  p.description = std::move(description);
  p.identity[0] = std::move(i0);
  p.identity[1] = "255";
  p.identity[3] = std::move(i3);
  p.identity[4] = "linesim " + p.name;
  p.refused = std::move(refused);
  p.line_speed = speed;
  return p;
}

std::vector<ModemProfile> build() {
  std::vector<ModemProfile> all;
  all.push_back(make("generic", "accepts every command", "28800", "Linesim Data/Fax", {}, 28800));
  // One profile per row of the known-modem table. The identification keeps
  // the first 16 characters of an answer, so the telling words come first.
  // Each refuses the option command that the table skips for its class.
  all.push_back(make("tbsa965", "known-modem row 1 (class 1)", "965", "TBSA 14400 V1.2", {"&B1"}, 14400));
  all.push_back(make("m968", "known-modem row 2 (class 1)", "968", "Optima 144 V2.1", {"&B1"}, 14400));
  all.push_back(make("t2500", "known-modem row 3 (class 1)", "971", "T2500 V.32bis", {"&B1"}, 14400));
  all.push_back(make("gateway", "known-modem row 4 (class 2)", "14400", "Gateway Telepath", {"\\N3"}, 14400));
  all.push_back(make("sportster144", "known-modem row 5 (class 4)", "14400", "Sportster 14400", {}, 14400));
  all.push_back(make("sportster288", "known-modem row 6 (class 4)", "288", "Sportster 28800", {}, 28800));
  all.push_back(make("attv34", "known-modem row 7 (class 8)", "25MHZ AT&T V.34", "AT&T Paradyne", {"&M4"}, 28800));
  all.push_back(make("nofactory", "refuses &F (reset with Z)", "33600", "Linesim V.34 NF", {"&F"}, 33600));
  {
    // An old 2400 bit/s modem: basic commands only, short command buffer.
    ModemProfile p = make("hayes2400", "2400 bit/s, basic commands only", "2400", "Smartmodem 2400",
                          {"W", "&B", "&K", "&Q", "&S", "&M", "\\*", "%*", "**", "+*", "S37"}, 2400);
    p.max_command = 40;
    all.push_back(std::move(p));
  }
  {
    ModemProfile p;
    p.name = "silent";
    p.description = "nothing answers";
    p.silent = true;
    all.push_back(std::move(p));
  }
  return all;
}

bool parse_pattern(std::string_view pattern, CommandToken& out, bool& any_name) {
  any_name = false;
  std::size_t i = 0;
  out.prefix = 0;
  if (i < pattern.size() && (pattern[i] == '&' || pattern[i] == '\\' || pattern[i] == '%' ||
                             pattern[i] == '*' || pattern[i] == '+')) {
    if (pattern.size() == 1 && pattern[0] == '*') {
      any_name = true;  // "*": every option command
      out.prefix = '?';
      return true;
    }
    out.prefix = pattern[i++];
  }
  if (i < pattern.size() && pattern[i] == '*') {
    any_name = true;
    return i + 1 == pattern.size();
  }
  out.name.clear();
  while (i < pattern.size() && std::isalpha(static_cast<unsigned char>(pattern[i])))
    out.name += static_cast<char>(std::toupper(static_cast<unsigned char>(pattern[i++])));
  if (out.name.empty()) return false;
  if (out.prefix == 0 && out.name.size() > 1) return false;
  if (i < pattern.size()) {
    long n = 0;
    for (; i < pattern.size(); ++i) {
      if (!std::isdigit(static_cast<unsigned char>(pattern[i]))) return false;
      n = n * 10 + (pattern[i] - '0');
      if (n > 1'000'000) return false;
    }
    out.number = n;
  }
  return true;
}

}  // namespace

const std::vector<ModemProfile>& builtin_profiles() {
  static const std::vector<ModemProfile> all = build();
  return all;
}

std::optional<ModemProfile> find_profile(std::string_view name) {
  for (const ModemProfile& p : builtin_profiles())
    if (p.name == name) return p;
  return std::nullopt;
}

bool pattern_refuses(std::string_view pattern, const CommandToken& token) {
  CommandToken p;
  bool any_name = false;
  if (!parse_pattern(pattern, p, any_name)) return false;
  if (any_name) return p.prefix == '?' || p.prefix == token.prefix;
  if (p.prefix != token.prefix || p.name != token.name) return false;
  if (!p.number) return true;
  return *p.number == token.number.value_or(0);
}

bool profile_refuses(const ModemProfile& profile, const CommandToken& token) {
  for (const std::string& pattern : profile.refused)
    if (pattern_refuses(pattern, token)) return true;
  return false;
}

}  // namespace linesim
