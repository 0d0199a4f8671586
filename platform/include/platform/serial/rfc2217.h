// RFC 2217 (telnet COM-PORT-OPTION): the pure core of a network serial port.
//
// Principles:
//  - Rfc2217Codec is a parser and encoder of bytes only: it never touches a
//    socket or a clock. The port (serial_rfc2217.cpp) feeds it what the far
//    end sent and sends what it asks to; tests and the fuzz target drive it
//    with plain buffers.
//  - Telnet negotiation is answered once per change of state (the rules of
//    RFC 1143 without the queue): BINARY, SUPPRESS-GO-AHEAD and
//    COM-PORT-OPTION are accepted both ways, ECHO from the server only;
//    every other option is refused.
//  - Data is unescaped (IAC IAC is one 0xFF byte; CR NUL is CR while the
//    server does not send in BINARY); telnet commands inside the data never
//    reach it. A subnegotiation longer than kMaxSubnegotiation is dropped
//    whole, so no input grows memory without bound except the data itself.
//
// Index: telnet and RFC 2217 constants, parse_rfc2217_url, Rfc2217Codec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace platform::rfc2217 {

// Telnet.
inline constexpr std::uint8_t kSe = 240, kNop = 241, kSb = 250, kWill = 251, kWont = 252, kDo = 253,
                              kDont = 254, kIac = 255;
inline constexpr std::uint8_t kOptBinary = 0, kOptEcho = 1, kOptSga = 3, kOptComPort = 44;

// COM-PORT-OPTION commands, client to server; the server answers with the
// same code plus kServerOffset.
enum Command : std::uint8_t {
  kSignature = 0,
  kSetBaudRate = 1,
  kSetDataSize = 2,
  kSetParity = 3,
  kSetStopSize = 4,
  kSetControl = 5,
  kNotifyLineState = 6,
  kNotifyModemState = 7,
  kFlowControlSuspend = 8,
  kFlowControlResume = 9,
  kSetLineStateMask = 10,
  kSetModemStateMask = 11,
  kPurgeData = 12,
};
inline constexpr std::uint8_t kServerOffset = 100;

// Values of SET-PARITY, SET-STOPSIZE, SET-CONTROL and PURGE-DATA.
enum : std::uint8_t { kParityNone = 1, kParityOdd = 2, kParityEven = 3, kParityMark = 4, kParitySpace = 5 };
enum : std::uint8_t { kStopOne = 1, kStopTwo = 2, kStopOneHalf = 3 };
enum : std::uint8_t {
  kControlQueryFlow = 0,
  kControlNoFlow = 1,
  kControlXonXoff = 2,
  kControlHardware = 3,
  kControlDtrOn = 8,
  kControlDtrOff = 9,
  kControlRtsOn = 11,
  kControlRtsOff = 12,
};
enum : std::uint8_t { kPurgeReceive = 1, kPurgeTransmit = 2, kPurgeBoth = 3 };

// Modem-state bits of NOTIFY-MODEMSTATE.
enum : std::uint8_t {
  kModemCd = 0x80,
  kModemRi = 0x40,
  kModemDsr = 0x20,
  kModemCts = 0x10,
  kModemDeltaCd = 0x08,
  kModemRiTrailingEdge = 0x04,
  kModemDeltaDsr = 0x02,
  kModemDeltaCts = 0x01,
};

// Longest subnegotiation kept (a signature text is the longest the server sends).
inline constexpr std::size_t kMaxSubnegotiation = 256;

// "rfc2217://HOST:PORT" (HOST may be "[v6 address]"): true and the parts,
// false for anything else (no port, port 0 or above 65535, trailing text).
bool parse_rfc2217_url(const std::string& url, std::string& host, std::uint16_t& port);

// The server's answer to a COM-PORT-OPTION command.
struct ComPortReply {
  std::uint8_t command = 0;          // the client command answered (kSetBaudRate ...)
  std::vector<std::uint8_t> value;   // unescaped
};

class Rfc2217Codec {
 public:
  // What a client sends first: WILL COM-PORT-OPTION, WILL and DO BINARY,
  // WILL and DO SUPPRESS-GO-AHEAD.
  std::vector<std::uint8_t> start();

  // Takes `size` bytes from the server. Serial data goes to the end of
  // `data`; negotiation answers go to the end of `answers` (to be sent).
  void feed(const std::uint8_t* bytes, std::size_t size, std::vector<std::uint8_t>& data,
            std::vector<std::uint8_t>& answers);

  // Appends `size` data bytes to `out` with IAC doubled.
  static void escape(const std::uint8_t* bytes, std::size_t size, std::vector<std::uint8_t>& out);
  // IAC SB COM-PORT-OPTION command value IAC SE, value escaped.
  static std::vector<std::uint8_t> command(std::uint8_t command, const std::vector<std::uint8_t>& value);
  // SET-BAUDRATE (network byte order; 0 asks for the current rate).
  static std::vector<std::uint8_t> set_baud_rate(std::uint32_t baud);

  // The server agreed to COM-PORT-OPTION (DO), or refused it (DONT / WONT
  // for the request).
  bool com_port_accepted() const { return us_[kOptComPort]; }
  bool com_port_refused() const { return com_port_refused_; }
  // The server sends in BINARY (no CR NUL to undo).
  bool server_binary() const { return him_[kOptBinary]; }

  // Answers of the server not yet taken, oldest first.
  std::deque<ComPortReply>& replies() { return replies_; }
  // Last modem state the server reported (NOTIFY-MODEMSTATE), if any.
  std::optional<std::uint8_t> modem_state() const { return modem_state_; }
  // How many modem-state notifications came so far (tells a new one from
  // the same one seen again).
  std::uint64_t modem_state_count() const { return modem_state_count_; }
  // Last line state (NOTIFY-LINESTATE), if any.
  std::optional<std::uint8_t> line_state() const { return line_state_; }
  // The server asked us to stop sending (FLOWCONTROL-SUSPEND) and not yet to go on.
  bool suspended() const { return suspended_; }

 private:
  enum class State : std::uint8_t { Data, Cr, Iac, Option, Sb, SbIac };
  void negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& answers);
  void subnegotiation();

  State state_ = State::Data;
  std::uint8_t verb_ = 0;
  std::vector<std::uint8_t> sb_;
  bool sb_overflow_ = false;
  bool us_[256] = {};         // our side of an option is on
  bool him_[256] = {};        // the server's side is on
  bool asked_us_[256] = {};   // we sent WILL and wait for the answer
  bool asked_him_[256] = {};  // we sent DO and wait for the answer
  bool com_port_refused_ = false;
  bool suspended_ = false;
  std::deque<ComPortReply> replies_;
  std::optional<std::uint8_t> modem_state_;
  std::uint64_t modem_state_count_ = 0;
  std::optional<std::uint8_t> line_state_;
};

}  // namespace platform::rfc2217
