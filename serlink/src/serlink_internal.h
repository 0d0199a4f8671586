// Internal pieces shared by the layers of the library.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/serial/serial_port.h"
#include "serlink.h"

namespace serlink {

// ---- frame ----
// The library's fixed pause: for `ms` milliseconds, calls the event handler
// and sleeps 5 ms (the last step only to the end), over and over. Returns at
// once for 0.
void library_wait(std::int64_t ms);
// The library's wait for received data: the same passes as library_wait
// (the event handler at least every 5 ms), but each pass blocks on the
// channel's device and the wait ends as soon as bytes are there. True when
// they are (or the channel is gone, so the caller's read reports it); false
// after `ms` without any. For 0 it only looks.
bool library_wait_for_input(std::int64_t ms);
// Longest step of a library wait: the event handler runs at least this often.
constexpr std::int64_t kWaitStepMs = 5;
std::int64_t now_ms();
// Passes `format` and `text` to the trace callback (when set) and the log.
void trace(const char* format, const char* text);
void set_trace_callback(TraceCallback cb);
// The wall between the library and its caller, at every export and every
// callback that the caller's loop runs: call it inside a catch block; it
// logs and gives the result code of what was thrown (SERLINK_E_NO_MEMORY
// for std::bad_alloc, SERLINK_E_SYSTEM for anything else). Nothing thrown
// ever crosses into the caller.
std::int32_t exception_result(const char* where) noexcept;
TraceCallback trace_callback();

// ---- serial channel ----
// One row of the speed table: a speed code, the rate the channel programs
// and the text traces show. Every caller in the library takes speeds from
// line_speed(); codes outside the table are 1200 bit/s.
struct LineSpeed {
  std::int32_t code;
  std::uint32_t rate;
  const char* text;
};
const LineSpeed& line_speed(std::int32_t code);
// Folds a device error into the channel's result codes.
std::int32_t map_error(platform::SerialError e);
bool channel_open();
// One step of a wait for data: true at once when the channel holds or the
// device has received bytes, or the channel is not usable; else blocks up to
// `ms` on the device and says whether bytes came.
bool channel_wait_input(std::int64_t ms);
// Where COM links and lock files live for this process.
platform::SerialOpenOptions serial_open_options();

// ---- pure modem helpers (response.cpp) ----
// Result code of one response line (substring search in table order).
std::int32_t classify_response(std::string_view line);
// True when `text` starts with "AT" in any letter case.
bool begins_with_at(std::string_view text);
// The command line sent for `text`: "AT " unless it starts with AT, the
// text, a carriage return. Leading blanks are skipped. Empty when blank.
std::string command_line(std::string_view text);
// Where a long setup line is cut: the end of the last option token that
// ends at or before position 36; 0 when the line needs no cut or has none.
std::size_t setup_split_point(std::string_view line);
// Class of a modem from its ATI0 and ATI3 answers (known-modem table);
// all bits set when no row matches.
std::uint32_t modem_class(const char* ati0, const char* ati3);
// Speed code the speed search starts from.
std::int32_t starting_speed(const char* ati0, const char* ati3);

struct OptionRow {
  const char* command;
  std::uint32_t mask;  // 0: every class
  std::uint32_t flags;
};
constexpr std::uint32_t kOptionFlow = 1;
constexpr std::uint32_t kOptionErrorControl = 4;
extern const OptionRow kOptionRows[17];

// ---- sign-on exchange (signon.cpp) ----
// What the host's answer after the carrier says.
enum class SignonSeen {
  Nothing,      // none of the words yet
  Prompt,       // "Sign-on:": answer with the sign-on text
  Accepted,     // "ACCEPT:"
  Rejected,     // "REJECT:"; the detail is the rest of its line
  CarrierLost,  // "NO CARRIER" from the modem
};
struct SignonScan {
  SignonSeen seen = SignonSeen::Nothing;
  std::size_t taken = 0;  // bytes of the input used up
  std::string detail;     // Rejected: from the colon to the end of its line
  std::string shown;      // the taken bytes as traced ("Recv: %s")
};
// At most this many received bytes are looked at in one pass.
constexpr std::size_t kSignonScanLimit = 255;
// Bytes left untaken when no word is found, so that a word split between
// deliveries is found whole next time (any word but "NO CARRIER" cut after
// its ninth byte), and the fewest bytes a pass looks at.
constexpr std::size_t kSignonKeepTail = 8;
// Finds the first of "ACCEPT:", "REJECT:", "NO CARRIER", "Sign-on:" (in that
// order) in the first kSignonScanLimit bytes and takes the bytes up to its
// colon or the end of its line. Without a word, takes all but the last
// kSignonKeepTail bytes; with fewer bytes than that, nothing.
SignonScan scan_signon(std::string_view received);

// ---- modem layer ----
std::int32_t send_command(std::int32_t channel, std::string_view text);
std::int32_t read_response(std::int32_t channel, std::int32_t timeout_s, char* line, std::int32_t& result);
// Probe: SERLINK_OK when a modem answers, SERLINK_E_NO_MODEM when none does.
std::int32_t probe(std::int32_t channel);
std::int32_t purge(std::int32_t channel);

}  // namespace serlink
