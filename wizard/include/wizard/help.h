// Help topics by context number, from the help file (Vlrhelp.hlp in the
// program directory); the file's form is in platform/shell/help.h.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/shell/help.h"

namespace wizard {

inline constexpr const char* kNoHelpText = "No .HLP attached to this EXE";

using platform::HelpLookup;
using platform::HelpTopic;

// Topic lines of the wizard's help file hold numbers up to 1000009, of any
// number of digits; larger ones are text.
inline constexpr platform::HelpFileLimits kHelpFileLimits{.max_digits = platform::kAnyNumberOfDigits, .max_number = 1'000'009};

// Reads `file` and finds the topic of `context`.
HelpLookup find_help_topic(const std::filesystem::path& file, int context, HelpTopic& out);

// The help link of a page: the program directory followed by the help file
// name; an empty name becomes "Vlrhelp.hlp".
class HelpLink {
 public:
  HelpLink(const std::filesystem::path& program_dir, const std::string& name = {});
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace wizard
