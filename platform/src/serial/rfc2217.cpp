// RFC 2217 telnet parsing and encoding: bytes in, bytes out, nothing else.
#include "platform/serial/rfc2217.h"

namespace platform::rfc2217 {
namespace {

// Replies kept at most; a server that floods them loses the oldest.
constexpr std::size_t kMaxReplies = 64;

bool accept_his(std::uint8_t option) {
  return option == kOptBinary || option == kOptSga || option == kOptComPort || option == kOptEcho;
}
bool accept_ours(std::uint8_t option) {
  return option == kOptBinary || option == kOptSga || option == kOptComPort;
}

void put3(std::vector<std::uint8_t>& out, std::uint8_t verb, std::uint8_t option) {
  out.push_back(kIac);
  out.push_back(verb);
  out.push_back(option);
}

}  // namespace

bool parse_rfc2217_url(const std::string& url, std::string& host, std::uint16_t& port) {
  const std::string scheme = "rfc2217://";
  if (url.rfind(scheme, 0) != 0) return false;
  std::string rest = url.substr(scheme.size());
  std::size_t colon;
  if (!rest.empty() && rest[0] == '[') {
    std::size_t close = rest.find(']');
    if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') return false;
    host = rest.substr(1, close - 1);
    colon = close + 1;
  } else {
    colon = rest.rfind(':');
    if (colon == std::string::npos) return false;
    host = rest.substr(0, colon);
    if (host.find(':') != std::string::npos) return false;  // a v6 address needs brackets
  }
  if (host.empty()) return false;
  for (char c : host) {
    if (static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '[' || c == ']') return false;
  }
  std::string digits = rest.substr(colon + 1);
  if (digits.empty() || digits.size() > 5) return false;
  unsigned long n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<unsigned long>(c - '0');
  }
  if (n == 0 || n > 65535) return false;
  port = static_cast<std::uint16_t>(n);
  return true;
}

std::vector<std::uint8_t> Rfc2217Codec::start() {
  std::vector<std::uint8_t> out;
  for (std::uint8_t option : {kOptComPort, kOptBinary, kOptSga}) {
    put3(out, kWill, option);
    asked_us_[option] = true;
  }
  for (std::uint8_t option : {kOptBinary, kOptSga}) {
    put3(out, kDo, option);
    asked_him_[option] = true;
  }
  return out;
}

void Rfc2217Codec::feed(const std::uint8_t* bytes, std::size_t size, std::vector<std::uint8_t>& data,
                        std::vector<std::uint8_t>& answers) {
  for (std::size_t i = 0; i < size;) {
    const std::uint8_t b = bytes[i];
    bool again = false;  // look at this byte once more, in the new state
    switch (state_) {
      case State::Cr:
        state_ = State::Data;
        // CR NUL is a bare CR in the telnet NVT; anything else is itself.
        if (b == 0) break;
        [[fallthrough]];
      case State::Data:
        if (b == kIac) {
          state_ = State::Iac;
        } else {
          data.push_back(b);
          if (b == '\r' && !him_[kOptBinary]) state_ = State::Cr;
        }
        break;
      case State::Iac:
        if (b == kIac) {
          data.push_back(kIac);
          state_ = State::Data;
        } else if (b == kWill || b == kWont || b == kDo || b == kDont) {
          verb_ = b;
          state_ = State::Option;
        } else if (b == kSb) {
          sb_.clear();
          sb_overflow_ = false;
          state_ = State::Sb;
        } else {
          state_ = State::Data;  // NOP, GA, BRK and the like carry nothing for a serial line
        }
        break;
      case State::Option:
        negotiate(verb_, b, answers);
        state_ = State::Data;
        break;
      case State::Sb:
        if (b == kIac) {
          state_ = State::SbIac;
        } else if (sb_.size() < kMaxSubnegotiation) {
          sb_.push_back(b);
        } else {
          sb_overflow_ = true;
        }
        break;
      case State::SbIac:
        if (b == kIac) {
          if (sb_.size() < kMaxSubnegotiation) {
            sb_.push_back(kIac);
          } else {
            sb_overflow_ = true;
          }
          state_ = State::Sb;
        } else if (b == kSe) {
          if (!sb_overflow_) subnegotiation();
          sb_.clear();
          state_ = State::Data;
        } else {
          // IAC and a command inside a subnegotiation: the subnegotiation is
          // broken off (as most telnet peers read it); the command counts.
          sb_.clear();
          state_ = State::Iac;
          again = true;
        }
        break;
    }
    if (!again) ++i;
  }
}

void Rfc2217Codec::negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& answers) {
  switch (verb) {
    case kWill:  // the server wants to turn its side on
      if (!accept_his(option)) {
        put3(answers, kDont, option);
      } else if (!him_[option]) {
        him_[option] = true;
        if (!asked_him_[option]) put3(answers, kDo, option);
      }
      asked_him_[option] = false;
      break;
    case kWont:
      if (him_[option]) {
        him_[option] = false;
        if (!asked_him_[option]) put3(answers, kDont, option);
      }
      asked_him_[option] = false;
      break;
    case kDo:  // the server wants our side on
      if (!accept_ours(option)) {
        put3(answers, kWont, option);
      } else if (!us_[option]) {
        us_[option] = true;
        if (!asked_us_[option]) put3(answers, kWill, option);
      }
      asked_us_[option] = false;
      break;
    case kDont:
      if (us_[option]) {
        us_[option] = false;
        if (!asked_us_[option]) put3(answers, kWont, option);
      }
      if (option == kOptComPort) com_port_refused_ = true;
      asked_us_[option] = false;
      break;
  }
}

void Rfc2217Codec::subnegotiation() {
  if (sb_.size() < 2 || sb_[0] != kOptComPort) return;
  const std::uint8_t code = sb_[1];
  if (code < kServerOffset) return;  // a client's command: a server never sends one
  ComPortReply reply;
  reply.command = static_cast<std::uint8_t>(code - kServerOffset);
  reply.value.assign(sb_.begin() + 2, sb_.end());
  switch (reply.command) {
    case kNotifyModemState:
      if (!reply.value.empty()) {
        modem_state_ = reply.value[0];
        ++modem_state_count_;
      }
      return;
    case kNotifyLineState:
      if (!reply.value.empty()) line_state_ = reply.value[0];
      return;
    case kFlowControlSuspend: suspended_ = true; return;
    case kFlowControlResume: suspended_ = false; return;
    default: break;
  }
  if (replies_.size() >= kMaxReplies) replies_.pop_front();
  replies_.push_back(std::move(reply));
}

void Rfc2217Codec::escape(const std::uint8_t* bytes, std::size_t size, std::vector<std::uint8_t>& out) {
  for (std::size_t i = 0; i < size; ++i) {
    out.push_back(bytes[i]);
    if (bytes[i] == kIac) out.push_back(kIac);
  }
}

std::vector<std::uint8_t> Rfc2217Codec::command(std::uint8_t command, const std::vector<std::uint8_t>& value) {
  std::vector<std::uint8_t> out = {kIac, kSb, kOptComPort, command};
  escape(value.data(), value.size(), out);
  out.push_back(kIac);
  out.push_back(kSe);
  return out;
}

std::vector<std::uint8_t> Rfc2217Codec::set_baud_rate(std::uint32_t baud) {
  return command(kSetBaudRate, {static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
                                static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)});
}

}  // namespace platform::rfc2217
