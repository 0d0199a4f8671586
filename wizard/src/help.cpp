#include "wizard/help.h"

#include <cstdlib>
#include <fstream>

#include "wizard/strings.h"

namespace wizard {

namespace {

// "[12] Title" -> 12 and "Title"; false for any other line.
bool parse_topic_line(const std::string& line, int& context, std::string& title) {
  if (line.size() < 3 || line[0] != '[') return false;
  const auto close = line.find(']');
  if (close == std::string::npos || close < 2) return false;
  int n = 0;
  for (std::size_t i = 1; i < close; ++i) {
    if (line[i] < '0' || line[i] > '9' || n > 100000) return false;
    n = n * 10 + (line[i] - '0');
  }
  context = n;
  std::size_t start = close + 1;
  while (start < line.size() && line[start] == ' ') ++start;
  title = line.substr(start);
  return true;
}

}  // namespace

HelpLookup find_help_topic(const std::filesystem::path& file, int context, HelpTopic& out) {
  std::ifstream in(file);
  if (!in) return HelpLookup::NoFile;
  std::string line;
  bool inside = false;
  bool found = false;
  HelpTopic topic;
  std::string paragraph;
  // Lines of a paragraph are joined, so the window wraps them at its width.
  auto end_paragraph = [&] {
    if (paragraph.empty()) return;
    if (!topic.text.empty()) topic.text += "\r\n\r\n";
    topic.text += paragraph;
    paragraph.clear();
  };
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    int n = 0;
    std::string title;
    if (parse_topic_line(line, n, title)) {
      if (found) break;
      inside = n == context;
      if (inside) {
        found = true;
        topic.context = n;
        topic.title = title;
      }
      continue;
    }
    if (!inside) continue;
    if (line.find_first_not_of(" \t") == std::string::npos) {
      end_paragraph();
    } else {
      if (!paragraph.empty()) paragraph += ' ';
      paragraph += line;
    }
  }
  if (!found) return HelpLookup::NoTopic;
  end_paragraph();
  out = topic;
  return HelpLookup::Found;
}

HelpLink::HelpLink(const std::filesystem::path& program_dir, const std::string& name)
    : path_(program_dir / (name.empty() ? load_string(IDS_HELP_FILE) : name)) {}

}  // namespace wizard
