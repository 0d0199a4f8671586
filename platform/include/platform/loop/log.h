// The one logger. Every component logs and traces through it.
//
// Lines go to standard error unless VLR_LOG names a file, or set_log_file()
// was called. A library inside another program calls set_log_quiet() at
// load: its lines then go nowhere unless VLR_LOG names a file (the host's
// standard error is the host's). Each line is "LEVEL component: text". The
// level threshold comes from VLR_LOG_LEVEL (error, warn, info, debug; default
// warn). A log file is created readable by its owner only. Every line goes
// through log_printable(), so text from outside cannot put control characters
// or terminal escape sequences on a terminal or into the file.
#pragma once

#include <string>
#include <string_view>

namespace platform {

enum class LogLevel { Error = 0, Warn = 1, Info = 2, Debug = 3 };

void log(LogLevel level, std::string_view component, std::string_view text);
bool log_enabled(LogLevel level);
// `text` with every control character (C0, DEL, C1) and every byte that
// begins no valid UTF-8 character written as \xNN; printable ASCII and
// valid UTF-8 stay as they are.
std::string log_printable(std::string_view text);
// Sends log lines to `path` (appended); empty path means standard error.
// Returns false and keeps the old destination if the file cannot be opened.
bool set_log_file(const std::string& path);
void set_log_level(LogLevel level);
// Without VLR_LOG, drops every line instead of writing it to standard error,
// until set_log_file() names a destination.
void set_log_quiet();

inline void log_error(std::string_view c, std::string_view t) { log(LogLevel::Error, c, t); }
inline void log_warn(std::string_view c, std::string_view t) { log(LogLevel::Warn, c, t); }
inline void log_info(std::string_view c, std::string_view t) { log(LogLevel::Info, c, t); }
inline void log_debug(std::string_view c, std::string_view t) { log(LogLevel::Debug, c, t); }

}  // namespace platform
