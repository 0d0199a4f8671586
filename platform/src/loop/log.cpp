#include "platform/loop/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace platform {
namespace {

// Opens a log file for appending, created readable by its owner only: a
// debug trace may name the account. An existing file keeps its mode.
std::FILE* open_log_file(const char* path) {
  int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, "a");
  if (!f) ::close(fd);
  return f;
}

struct Logger {
  std::mutex mutex;
  std::FILE* out = nullptr;  // nullptr: standard error
  LogLevel threshold = LogLevel::Warn;
  bool quiet = false;  // no file named: drop lines instead of standard error

  Logger() {
    if (const char* level = std::getenv("VLR_LOG_LEVEL")) {
      if (!std::strcmp(level, "error")) threshold = LogLevel::Error;
      else if (!std::strcmp(level, "info")) threshold = LogLevel::Info;
      else if (!std::strcmp(level, "debug")) threshold = LogLevel::Debug;
    }
    if (const char* file = std::getenv("VLR_LOG"); file && *file) {
      out = open_log_file(file);
    }
  }
  ~Logger() {
    if (out) std::fclose(out);
  }
};

Logger& logger() {
  static Logger instance;
  return instance;
}

const char* level_name(LogLevel level) {
  switch (level) {
    case LogLevel::Error: return "ERROR";
    case LogLevel::Warn: return "WARN";
    case LogLevel::Info: return "INFO";
    case LogLevel::Debug: return "DEBUG";
  }
  return "?";
}

// Length of the UTF-8 sequence of a printable character at `i` (C1
// controls excluded), or 0 when the bytes there are not one.
std::size_t printable_utf8_length(std::string_view text, std::size_t i) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  std::size_t n = b0 >= 0xF0 && b0 <= 0xF4 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC2 && b0 < 0xE0 ? 2 : 0;
  if (n == 0 || i + n > text.size()) return 0;
  char32_t cp = b0 & (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
  for (std::size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp < 0xA0) return 0;
  return n;
}

}  // namespace

std::string log_printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    if (std::size_t n = c >= 0x80 ? printable_utf8_length(text, i) : 0; n > 0) {
      out.append(text.substr(i, n));
      i += n;
      continue;
    }
    static const char hex[] = "0123456789ABCDEF";
    out += "\\x";
    out += hex[c >> 4];
    out += hex[c & 15];
    ++i;
  }
  return out;
}

bool log_enabled(LogLevel level) { return level <= logger().threshold; }

void log(LogLevel level, std::string_view component, std::string_view text) {
  Logger& l = logger();
  if (level > l.threshold) return;
  // Texts carry what the server and the modem sent: no control character,
  // escape sequence or line break of theirs reaches a terminal or splits a
  // log line.
  const std::string shown_component = log_printable(component);
  const std::string shown_text = log_printable(text);
  std::lock_guard lock(l.mutex);
  if (!l.out && l.quiet) return;
  std::FILE* out = l.out ? l.out : stderr;
  std::fprintf(out, "%s %s: %s\n", level_name(level), shown_component.c_str(), shown_text.c_str());
  std::fflush(out);
}

bool set_log_file(const std::string& path) {
  Logger& l = logger();
  std::lock_guard lock(l.mutex);
  std::FILE* next = nullptr;
  if (!path.empty()) {
    next = open_log_file(path.c_str());
    if (!next) return false;
  }
  if (l.out) std::fclose(l.out);
  l.out = next;
  l.quiet = false;
  return true;
}

void set_log_quiet() {
  std::lock_guard lock(logger().mutex);
  logger().quiet = true;
}

void set_log_level(LogLevel level) {
  std::lock_guard lock(logger().mutex);
  logger().threshold = level;
}

}  // namespace platform
