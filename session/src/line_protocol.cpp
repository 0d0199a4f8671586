#include "session/line_protocol.h"

#include <algorithm>
#include <cstdio>


namespace session {

std::uint32_t TableSpeed(long requested) {
  for (std::uint32_t s : kSpeedTable) {
    if (requested == static_cast<long>(s)) return s;
  }
  return 9600;
}

long LineEnd(std::string_view bytes) {
  std::size_t i = bytes.find_first_of("\r\n");
  return i == std::string_view::npos ? -1 : static_cast<long>(i);
}

std::size_t FindText(std::string_view bytes, std::string_view text) {
  if (text.empty()) return 0;
  std::size_t i = bytes.find(text);
  return i == std::string_view::npos ? 0 : i + 1;
}

static char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string ToUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = UpperChar(c);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperChar(a[i]) != UpperChar(b[i])) return false;
  }
  return true;
}

DialResult ClassifyDialResult(std::string_view line) {
  std::string up = ToUpper(line);
  if (up.find("BUSY") != std::string::npos) return DialResult::Busy;
  if (up.find("NO DIAL") != std::string::npos) return DialResult::NoDial;
  if (up.find("NO CARRIER") != std::string::npos) return DialResult::NoCarrier;
  if (up.find("CONNECT") != std::string::npos) return DialResult::Connect;
  return DialResult::Other;
}

bool IsNoCarrierLine(std::string_view line) {
  std::size_t b = line.find_first_not_of(" \t");
  if (b == std::string_view::npos) return false;
  std::size_t e = line.find_last_not_of(" \t");
  return EqualsNoCase(line.substr(b, e - b + 1), "NO CARRIER");
}

CommandLine SplitCommand(std::string_view line) {
  CommandLine out;
  std::size_t tab = line.find('\t');
  if (tab == std::string_view::npos) {
    out.keyword = ToUpper(line);
  } else {
    out.keyword = ToUpper(line.substr(0, tab));
    out.arguments = std::string(line.substr(tab + 1));
  }
  return out;
}

bool NextField(std::string& field, std::string_view& remainder) {
  if (remainder.empty()) return false;
  std::size_t tab = remainder.find('\t');
  if (tab == std::string_view::npos) {
    field = std::string(remainder);  // the remainder stays: the last field repeats
  } else {
    field = std::string(remainder.substr(0, tab));
    remainder.remove_prefix(tab + 1);
  }
  return true;
}

bool NextFields(std::string_view& remainder, std::size_t n, std::vector<std::string>& fields) {
  fields.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (!NextField(fields[i], remainder)) return false;
  }
  return true;
}

std::string BuildDialCommand(std::string_view dial_method, std::string_view outside_access,
                             std::string_view cw_disable, std::string_view cw_disable_str,
                             std::string_view phone_number) {
  std::string cmd = "ATD";
  cmd += dial_method == "PULSE" ? "p" : "t";
  cmd += outside_access;
  if (cw_disable == "TRUE") cmd += cw_disable_str;
  cmd += phone_number;
  return cmd;
}

int PortFromProfile(std::string_view comport) {
  if (comport.empty()) return 0;
  return static_cast<unsigned char>(comport[0]) - '0';
}

long SpeedFromProfile(std::string_view comspeed) {
  long value = 0;
  for (char c : comspeed) {
    if (c < '0' || c > '9') break;
    if (value > 100'000'000) return 0;  // far beyond any line speed
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string Printable(std::string_view bytes, std::size_t limit) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < 32 || c > 126 || c == '\\') {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (bytes.size() > limit) out += "...";
  return out;
}

}  // namespace session
