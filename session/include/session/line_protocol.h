// Pure text functions of the registration call: framing of received bytes,
// modem result words, the server's TAB-separated fields, the dial command.
//
// Nothing here touches a port or a window; everything is tested by tables of
// captured lines. Bytes are 8-bit text (any byte, NUL included, may occur);
// case conversion touches ASCII letters only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace session {

// Receive buffer limit of the serial port object, in bytes.
inline constexpr std::size_t kReceiveBufferSize = 5152;

// Line speeds in bit/s, in lookup order.
inline constexpr std::array<std::uint32_t, 13> kSpeedTable{
    256000, 128000, 115200, 57600, 56000, 38400, 19200, 14400, 9600, 4800, 2400, 1200, 300};

// The table speed equal to `requested`, else 9600.
std::uint32_t TableSpeed(long requested);

// Index of the first CR or LF, or -1.
long LineEnd(std::string_view bytes);

// 1-based position of the first occurrence of `text` in `bytes`, 0 if none
// (an empty text is never found).
std::size_t FindText(std::string_view bytes, std::string_view text);

std::string ToUpper(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);

// What a modem line says about a dial attempt.
enum class DialResult { Other, Busy, NoDial, NoCarrier, Connect };

// Upper-cases the line and looks for "BUSY", "NO DIAL", "NO CARRIER", then
// "CONNECT", as substrings, in that order.
DialResult ClassifyDialResult(std::string_view line);

// True if the line is the modem's "NO CARRIER" result (blanks around it and
// case ignored): the hang-up notice on devices without a carrier line.
bool IsNoCarrierLine(std::string_view line);

// A server line split at its first TAB; the keyword is upper-cased.
struct CommandLine {
  std::string keyword;
  std::string arguments;
};
CommandLine SplitCommand(std::string_view line);

// Takes the next TAB-separated field. With a TAB: the text before it, and the
// remainder moves past it. Without one: the whole remainder, which is left as
// it is, so asking again repeats the last field. False if the remainder is
// empty (the field is then untouched).
bool NextField(std::string& field, std::string_view& remainder);

// NextField `n` times into `fields` (resized to n); false at the first
// failure, the fields before it stay filled.
bool NextFields(std::string_view& remainder, std::size_t n, std::vector<std::string>& fields);

// The dial command (without CR): "ATD", "p" for pulse else "t", the outside
// access prefix, the call-waiting string when `cw_disable` is exactly "TRUE",
// then the number.
std::string BuildDialCommand(std::string_view dial_method, std::string_view outside_access,
                             std::string_view cw_disable, std::string_view cw_disable_str,
                             std::string_view phone_number);

// COM port number from a `COMPORT` value: its first character minus '0'
// (0 for an empty value; anything outside 1..9 opens no port).
int PortFromProfile(std::string_view comport);
// Line speed from a `COMSPEED` value: its leading decimal digits, 0 if none.
long SpeedFromProfile(std::string_view comspeed);

// The bytes with control characters and bytes above 126 as \xNN, cut to
// `limit` bytes with "..." appended: for logs and status lines.
std::string Printable(std::string_view bytes, std::size_t limit = 200);

}  // namespace session
