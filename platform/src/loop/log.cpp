#include "platform/loop/log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform {
namespace {

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
      out = std::fopen(file, "a");
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

}  // namespace

bool log_enabled(LogLevel level) { return level <= logger().threshold; }

void log(LogLevel level, std::string_view component, std::string_view text) {
  Logger& l = logger();
  if (level > l.threshold) return;
  std::lock_guard lock(l.mutex);
  if (!l.out && l.quiet) return;
  std::FILE* out = l.out ? l.out : stderr;
  std::fprintf(out, "%s %.*s: %.*s\n", level_name(level), static_cast<int>(component.size()),
               component.data(), static_cast<int>(text.size()), text.data());
  std::fflush(out);
}

bool set_log_file(const std::string& path) {
  Logger& l = logger();
  std::lock_guard lock(l.mutex);
  std::FILE* next = nullptr;
  if (!path.empty()) {
    next = std::fopen(path.c_str(), "a");
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
