// Help topics by context number.
//
// The help file (Vlrhelp.hlp in the program directory) is text: a line
// "[N] Title" starts the topic of context N; the lines after it, up to the
// next topic line, are its text: lines of a paragraph are joined with a
// blank, paragraphs (split by empty lines) with an empty line. Lines before
// the first topic (';' comments) are ignored.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace wizard {

inline constexpr const char* kNoHelpText = "No .HLP attached to this EXE";

struct HelpTopic {
  int context = 0;
  std::string title;
  std::string text;  // paragraphs joined with "\r\n\r\n", as an edit shows them
};

enum class HelpLookup { Found, NoFile, NoTopic };

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
