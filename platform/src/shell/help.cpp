#include "platform/shell/help.h"

#include <algorithm>
#include <fstream>
#include <optional>

namespace platform {

namespace {

// A number of at most 18 digits always fits: the cap keeps value * 10 + 9
// inside 64 bits whatever limit a caller names.
constexpr std::uint64_t kLargestReadable = 999'999'999'999'999'999ULL;

// "[12] Title" -> 12 and "Title" (leading blanks dropped); nothing for any
// other line, and for numbers beyond the caller's limits.
struct TopicLine {
  std::uint64_t number = 0;
  std::string_view title;
};
std::optional<TopicLine> parse_topic_line(std::string_view line, const HelpFileLimits& limits) {
  if (line.size() < 3 || line[0] != '[') return std::nullopt;
  const auto close = line.find(']');
  if (close == std::string_view::npos || close < 2) return std::nullopt;
  if (close - 1 > limits.max_digits) return std::nullopt;
  const std::uint64_t largest = std::min(limits.max_number, kLargestReadable);
  TopicLine topic;
  for (std::size_t i = 1; i < close; ++i) {
    if (line[i] < '0' || line[i] > '9') return std::nullopt;
    topic.number = topic.number * 10 + static_cast<std::uint64_t>(line[i] - '0');
    if (topic.number > largest) return std::nullopt;
  }
  const auto start = line.find_first_not_of(' ', close + 1);
  topic.title = start == std::string_view::npos ? std::string_view() : line.substr(start);
  return topic;
}

// Takes the file line by line and keeps the topic of one context.
class TopicScanner {
 public:
  TopicScanner(int context, const HelpFileLimits& limits) : context_(context), limits_(limits) {}

  // False once the topic has ended: the rest of the file is not needed.
  bool take_line(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (const auto topic = parse_topic_line(line, limits_)) {
      if (found_) return false;
      inside_ = context_ >= 0 && topic->number == static_cast<std::uint64_t>(context_);
      if (inside_) {
        found_ = true;
        topic_.context = context_;
        topic_.title = std::string(topic->title);
      }
      return true;
    }
    if (!inside_) return true;
    if (line.find_first_not_of(" \t") == std::string_view::npos) {
      end_paragraph();
    } else {
      if (!paragraph_.empty()) paragraph_ += ' ';
      paragraph_ += line;
    }
    return true;
  }

  HelpLookup finish(HelpTopic& out) {
    if (!found_) return HelpLookup::NoTopic;
    end_paragraph();
    out = std::move(topic_);
    return HelpLookup::Found;
  }

 private:
  void end_paragraph() {
    if (paragraph_.empty()) return;
    if (!topic_.text.empty()) topic_.text += "\r\n\r\n";
    topic_.text += paragraph_;
    paragraph_.clear();
  }

  const int context_;
  const HelpFileLimits limits_;
  bool inside_ = false;
  bool found_ = false;
  HelpTopic topic_;
  std::string paragraph_;
};

}  // namespace

HelpLookup find_help_topic_in_text(std::string_view text, int context, const HelpFileLimits& limits,
                                   HelpTopic& out) {
  TopicScanner scanner(context, limits);
  // Lines end at '\n'; a last line without one still counts, an empty tail does not.
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!scanner.take_line(line)) break;
  }
  return scanner.finish(out);
}

HelpLookup find_help_topic(const std::filesystem::path& file, int context, const HelpFileLimits& limits,
                           HelpTopic& out) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return HelpLookup::NoFile;
  TopicScanner scanner(context, limits);
  std::string line;
  while (std::getline(in, line)) {
    if (!scanner.take_line(line)) break;
  }
  return scanner.finish(out);
}

}  // namespace platform
