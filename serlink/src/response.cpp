// Pure helpers of the modem layer: response classification, command lines,
// setup splitting, modem identification. None of them touches a port.
#include <cstring>

#include "serlink_internal.h"

namespace serlink {
namespace {

struct ResultWord {
  const char* text;
  std::int32_t code;
};

// Table order matters: "NO CARRIER" before "CARRIER", "NO DIALTONE" and
// "NO DIAL TONE" before "ERROR" and "BUSY".
constexpr ResultWord kResultWords[] = {
    {"OK", MODEM_RESULT_OK},
    {"CONNECT", MODEM_RESULT_CONNECT},
    {"RING", MODEM_RESULT_RING},
    {"NO CARRIER", MODEM_RESULT_NO_CARRIER},
    {"NO DIALTONE", MODEM_RESULT_NO_DIALTONE},
    {"NO DIAL TONE", MODEM_RESULT_NO_DIALTONE},
    {"NO ANSWER", MODEM_RESULT_NO_ANSWER},
    {"ERROR", MODEM_RESULT_ERROR},
    {"BUSY", MODEM_RESULT_BUSY},
    {"CARRIER", MODEM_RESULT_CARRIER},
    {"COMPRESSION", MODEM_RESULT_CARRIER},
    {"PROTOCOL", MODEM_RESULT_CARRIER},
    {"AUTOSTREAM", MODEM_RESULT_CARRIER},
};

struct KnownModem {
  std::uint32_t modem_class;
  const char* ati0;
  const char* ati3;  // nullptr: any
};

constexpr KnownModem kKnownModems[] = {
    {1, "965", "TBSA"},      {1, "968", nullptr},         {1, "971", "T2500"},
    {2, "14400", "Gateway T"}, {4, "144", "Sportster"},  {4, "288", "Sportster"},
    {8, "MHZ AT&T V.34", nullptr},
};

bool contains(const char* text, const char* word) { return text && std::strstr(text, word) != nullptr; }

bool is_separator(char c) { return c == '&' || c == '\\' || c == '%' || c == ' '; }

}  // namespace

const OptionRow kOptionRows[17] = {
    {"W1", 0, 0},
    {"X4", 0, 0},
    {"&B1", 0xFFFFFFFEu, 0},
    {"&C1", 0, 0},
    {"&D2", 0, 0},
    {"&K3", 0, kOptionFlow},
    {"&Q5", 0, kOptionErrorControl},
    {"&S0", 0, 0},
    {"\\J0", 0, 0},
    {"\\N3", 0xFFFFFFFDu, kOptionErrorControl},
    {"\\Q3", 0, kOptionFlow},
    {"*E5", 0, kOptionErrorControl},
    {"&M4", 0xFFFFFFF7u, kOptionErrorControl},
    {"%C1", 0, 0},
    {"+H0", 0, 0},
    {"S0=0", 0, 0},
    {"S37=0", 0, 0},
};

std::int32_t classify_response(std::string_view line) {
  for (const ResultWord& w : kResultWords) {
    if (line.find(w.text) != std::string_view::npos) return w.code;
  }
  return MODEM_RESULT_OTHER;
}

bool begins_with_at(std::string_view text) {
  return text.size() >= 2 && (text[0] == 'A' || text[0] == 'a') && (text[1] == 'T' || text[1] == 't');
}

std::string command_line(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  if (text.empty()) return {};
  std::string line = begins_with_at(text) ? std::string() : std::string("AT ");
  line.append(text);
  line.push_back('\r');
  return line;
}

std::size_t setup_split_point(std::string_view line) {
  if (line.size() <= 37) return 0;
  std::size_t split = 0;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && !is_separator(line[i])) ++i;  // token
    if (i > 36) break;
    split = i;
    while (i < line.size() && is_separator(line[i])) ++i;  // separators
  }
  return split;
}

std::uint32_t modem_class(const char* ati0, const char* ati3) {
  for (const KnownModem& m : kKnownModems) {
    if (contains(ati0, m.ati0) && (!m.ati3 || contains(ati3, m.ati3))) return m.modem_class;
  }
  return 0xFFFFFFFFu;
}

std::int32_t starting_speed(const char* ati0, const char* ati3) {
  if (ati0 && ati0[0] == '2' && ati0[1] == '4') return 2;
  for (const char* word : {"288", "V34", "V.34"}) {
    if (contains(ati0, word) || contains(ati3, word)) return 8;
  }
  return 7;
}

}  // namespace serlink
