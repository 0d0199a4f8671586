// The help file's topics. First byte: the limits (at most ten digits, or
// numbers up to 1000009 of any length); second: the context (0..255); then
// the help file. Checked: the file and the text read alike; a topic found
// has the context asked for, a title of one line, and a text whose only line
// breaks are the paragraph separators, never at its start or end; a lookup
// that finds nothing leaves the topic untouched.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "platform/shell/help.h"

namespace {

constexpr platform::HelpFileLimits kLimits[] = {
    {.max_digits = 10, .max_number = 9'999'999'999},
    {.max_digits = platform::kAnyNumberOfDigits, .max_number = 1'000'009},
};

bool only_separators_break(const std::string& text) {
  for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
    if (at == 0 || text[at - 1] != '\r') return false;
  }
  return !text.starts_with("\r\n") && !text.ends_with("\r\n\r\n");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const platform::HelpFileLimits& limits = kLimits[data[0] % 2];
  const int context = data[1];
  const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);

  platform::HelpTopic from_text{.context = -1, .title = "-", .text = "-"};
  const platform::HelpLookup found = platform::find_help_topic_in_text(text, context, limits, from_text);
  fuzz::check(found != platform::HelpLookup::NoFile, "the text lookup reported no file");
  if (found == platform::HelpLookup::Found) {
    fuzz::check(from_text.context == context, "a topic of another context");
    fuzz::check(from_text.title.find('\n') == std::string::npos, "a title of several lines");
    fuzz::check(only_separators_break(from_text.text), "a line break that is no paragraph separator");
  } else {
    fuzz::check(from_text.context == -1 && from_text.title == "-" && from_text.text == "-",
                "a lookup that found nothing changed the topic");
  }

  const auto file = fuzz::work_folder() / "help.hlp";
  fuzz::write_file(file, text);
  platform::HelpTopic from_file{.context = -1, .title = "-", .text = "-"};
  fuzz::check(platform::find_help_topic(file, context, limits, from_file) == found,
              "the file and the text disagree on the lookup");
  fuzz::check(from_file.title == from_text.title && from_file.text == from_text.text,
              "the file and the text disagree on the topic");
  return 0;
}
