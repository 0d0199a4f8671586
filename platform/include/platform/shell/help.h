// Help topics opened by context number.
//
// A help file is text: a line "[N] Title" starts the topic of context N; the
// lines after it, up to the next topic line, are its text: lines of a
// paragraph are joined with a blank, paragraphs (split by blank lines) with
// an empty line ("\r\n\r\n", as a multi-line edit shows them). Lines before
// the first topic (';' comments) are ignored; a "\r" before a line's end is
// dropped.
//
// Which bracketed numbers count as topic lines is the caller's: its limits
// name the most digits and the largest number a topic line may hold; any
// other bracketed number is plain text of the topic it stands in.
//
// Index: HelpTopic, HelpLookup, HelpFileLimits; find_help_topic_in_text
// (pure, over the bytes), find_help_topic (the file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <string_view>

namespace platform {

struct HelpTopic {
  int context = 0;
  std::string title;
  std::string text;  // paragraphs joined with "\r\n\r\n"
};

enum class HelpLookup { Found, NoFile, NoTopic };

inline constexpr std::size_t kAnyNumberOfDigits = std::numeric_limits<std::size_t>::max();

struct HelpFileLimits {
  std::size_t max_digits = kAnyNumberOfDigits;
  // The largest topic number; kept finite, so reading a number never overflows.
  std::uint64_t max_number = std::numeric_limits<std::uint32_t>::max();
};

// Finds the topic of `context` in the help file's bytes. Found fills `out`;
// NoTopic leaves it untouched.
HelpLookup find_help_topic_in_text(std::string_view text, int context, const HelpFileLimits& limits,
                                   HelpTopic& out);

// The same over the file; NoFile when it cannot be opened (`out` untouched).
// Reading stops at the end of the topic.
HelpLookup find_help_topic(const std::filesystem::path& file, int context, const HelpFileLimits& limits,
                           HelpTopic& out);

}  // namespace platform
