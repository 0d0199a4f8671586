// Modem profiles: what one emulated modem answers.
//
// A profile names the identity answers (ATI0, ATI3, ...), the command
// patterns the modem refuses with ERROR, the longest command line it takes
// and the line speed it reports in CONNECT. Everything else is common Hayes
// behaviour in Modem.
//
// Refusal patterns: a prefix ("", "&", "\", "%", "*", "+"), a name and an
// optional number, written as the command is: "&F" refuses "&F" with any
// number, "&K3" only "&K3", "S37" refuses register 37, "\*" every backslash
// command, "*" every option command.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace linesim {

struct ModemProfile {
  std::string name;
  std::string description;
  std::map<int, std::string> identity;   // ATIn answers; missing n <= 7 answers OK alone
  std::vector<std::string> refused;      // refusal patterns (see above)
  int line_speed = 28800;                // bit/s in "CONNECT nnnnn" and the pacing of data
  std::size_t max_command = 255;         // characters after "AT"; longer lines answer ERROR
  bool silent = false;                   // nothing answers: every byte is swallowed
};

// The built-in profiles, in a stable order ("generic" first).
const std::vector<ModemProfile>& builtin_profiles();
// The built-in profile called `name` (exact), or nullopt.
std::optional<ModemProfile> find_profile(std::string_view name);

// One command as the parser sees it: prefix, upper-case name, number.
struct CommandToken {
  char prefix = 0;          // 0 for basic commands
  std::string name;         // "F", "K", "GMI"; for S-registers "S"
  std::optional<long> number;
};

// True when `pattern` (see above) refuses `token`.
bool pattern_refuses(std::string_view pattern, const CommandToken& token);
// True when the profile refuses the command.
bool profile_refuses(const ModemProfile& profile, const CommandToken& token);

}  // namespace linesim
