// Small text helpers shared by the trace, the scenario files and the
// command-line options of linesim.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace linesim {

// Makes bytes readable on one trace line: "\t", "\r", "\n", "\\" and "\xHH"
// for every other byte outside printable ASCII.
std::string escape_bytes(std::string_view bytes);

// Reverses the escapes of scenario files: "\t" TAB, "\r" CR, "\n" LF,
// "\\" backslash, "\*" a literal star, "\s" a blank, "\xHH" any byte.
// Returns nullopt (and a reason in `error`) for an unknown or cut escape.
std::optional<std::string> unescape(std::string_view text, std::string* error = nullptr);

// The decimal digits of `text`, in order, everything else dropped.
std::string digits_of(std::string_view text);

// Blanks (space and TAB) removed from both ends.
std::string_view trim(std::string_view text);

}  // namespace linesim
