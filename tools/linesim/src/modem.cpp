#include "linesim/modem.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <poll.h>

#include "linesim/text.h"
#include "platform/loop/clock.h"

namespace linesim {

const char* result_word(Modem::Result r) {
  switch (r) {
    case Modem::Result::Ok: return "OK";
    case Modem::Result::Connect: return "CONNECT";
    case Modem::Result::Ring: return "RING";
    case Modem::Result::NoCarrier: return "NO CARRIER";
    case Modem::Result::Error: return "ERROR";
    case Modem::Result::NoDialtone: return "NO DIALTONE";
    case Modem::Result::Busy: return "BUSY";
    case Modem::Result::NoAnswer: return "NO ANSWER";
  }
  return "ERROR";
}

int result_number(Modem::Result r) {
  switch (r) {
    case Modem::Result::Ok: return 0;
    case Modem::Result::Connect: return 1;
    case Modem::Result::Ring: return 2;
    case Modem::Result::NoCarrier: return 3;
    case Modem::Result::Error: return 4;
    case Modem::Result::NoDialtone: return 6;
    case Modem::Result::Busy: return 7;
    case Modem::Result::NoAnswer: return 8;
  }
  return 4;
}

namespace {

struct SpeedCode {
  int speed, connect, carrier;
};
// The usual extended codes of V.34-era modems.
constexpr SpeedCode kSpeedCodes[] = {
    {300, 1, 40},     {1200, 5, 46},    {2400, 10, 47},   {4800, 11, 48},   {7200, 13, 49},
    {9600, 12, 50},   {12000, 14, 51},  {14400, 15, 52},  {16800, 59, 53},  {19200, 16, 54},
    {21600, 61, 55},  {24000, 62, 56},  {26400, 63, 57},  {28800, 64, 58},  {31200, 91, 78},
    {33600, 84, 79},  {38400, 17, 0},   {57600, 18, 0},   {115200, 19, 0},
};

int carrier_number(int speed) {
  for (const SpeedCode& c : kSpeedCodes)
    if (c.speed == speed) return c.carrier;
  return 0;
}

bool is_letter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// Reads a decimal number at body[i]; none gives nullopt. Over-long numbers
// are capped, which makes them out of range for every command.
std::optional<long> read_number(std::string_view body, std::size_t& i) {
  if (i >= body.size() || !is_digit(body[i])) return std::nullopt;
  long n = 0;
  while (i < body.size() && is_digit(body[i])) {
    if (n < 1'000'000) n = n * 10 + (body[i] - '0');
    ++i;
  }
  return n;
}

std::string token_text(const CommandToken& t) {
  std::string s;
  if (t.prefix) s += t.prefix;
  s += t.name;
  if (t.number) s += std::to_string(*t.number);
  return s;
}

}  // namespace

int connect_number(int speed) {
  for (const SpeedCode& c : kSpeedCodes)
    if (c.speed == speed) return c.connect;
  return 1;
}

Modem::Modem(std::string name, ModemProfile profile, Exchange* exchange)
    : name_(std::move(name)), profile_(std::move(profile)), exchange_(exchange) {
  reset_settings(true);
  stored_ = std::make_unique<Stored>(Stored{echo_, quiet_, verbose_, x_, w_, c_, d_, s_});
}

Modem::~Modem() {
  if (far_) far_->hang_up();
}

void Modem::trace(std::string_view text) const {
  if (!exchange_) return;
  std::string line = name_;
  line += ' ';
  line += text;
  exchange_->trace(line);
}

void Modem::reset_settings(bool factory) {
  if (!factory && stored_) {
    echo_ = stored_->echo;
    quiet_ = stored_->quiet;
    verbose_ = stored_->verbose;
    x_ = stored_->x;
    w_ = stored_->w;
    c_ = stored_->c;
    d_ = stored_->d;
    s_ = stored_->s;
    return;
  }
  echo_ = true;
  quiet_ = false;
  verbose_ = true;
  x_ = 4;
  w_ = 0;
  c_ = 1;
  d_ = 2;
  s_.fill(0);
  s_[2] = 43;   // escape character "+"
  s_[3] = 13;   // line end: CR
  s_[4] = 10;   // line feed
  s_[5] = 8;    // backspace
  s_[6] = 2;    // seconds to wait for dial tone
  s_[7] = 50;   // seconds to wait for carrier
  s_[8] = 2;    // seconds of a "," pause
  s_[9] = 6;
  s_[10] = 14;
  s_[11] = 95;
  s_[12] = 50;  // escape guard time in 1/50 s
  current_register_ = 0;
}

void Modem::emit(std::string_view bytes) {
  std::size_t room = kMaxOutput > out_.size() ? kMaxOutput - out_.size() : 0;
  if (bytes.size() > room && !out_dropped_) {
    trace("output full: the DTE is not reading; bytes dropped");
    out_dropped_ = true;
  }
  out_.append(bytes.substr(0, room));
  if (bytes.size() <= room) out_dropped_ = false;
}

void Modem::result(Result r) {
  std::string word = result_word(r);
  int number = result_number(r);
  if (r == Result::Connect && x_ > 0 && speed_ > 0) {
    word += " " + std::to_string(speed_);
    number = connect_number(speed_);
  }
  if (quiet_) {
    trace("at> (quiet) " + word);
    return;
  }
  trace("at> " + word);
  char cr = static_cast<char>(s_[3]), lf = static_cast<char>(s_[4]);
  if (verbose_) {
    emit(std::string{cr, lf} + word + std::string{cr, lf});
  } else {
    emit(std::to_string(number) + cr);
  }
}

void Modem::info(std::string_view text) {
  trace("at> " + escape_bytes(text));
  char cr = static_cast<char>(s_[3]), lf = static_cast<char>(s_[4]);
  if (verbose_) {
    emit(std::string{cr, lf} + std::string(text) + std::string{cr, lf});
  } else {
    emit(std::string(text) + std::string{cr, lf});
  }
}

std::string Modem::take_output(std::size_t max) {
  std::size_t n = std::min(max, out_.size());
  std::string bytes = out_.substr(0, n);
  out_.erase(0, n);
  return bytes;
}

bool Modem::wants_input() const {
  if (out_.size() >= kMaxOutput) return false;
  return mode_ != Mode::Online || to_far_.size() < kMaxToFar;
}

ModemLines Modem::lines() const {
  ModemLines l;
  if (profile_.silent) return l;
  l.dsr = true;
  l.cts = wants_input();
  bool carrier = (mode_ == Mode::Online || mode_ == Mode::OnlineCommand) && far_;
  l.dcd = c_ == 0 || carrier;
  return l;
}

int Modem::far_fd() const { return far_ ? far_->fd() : -1; }

short Modem::far_events() const {
  if (!far_) return 0;
  short events = far_->poll_events();
  if (stage_.size() >= kFarStage) events = static_cast<short>(events & ~POLLIN);
  return events;
}

// ---- DTE bytes -----------------------------------------------------------

void Modem::feed(std::string_view bytes) {
  if (profile_.silent) return;
  std::int64_t now = platform::clock().now_ms();
  for (char c : bytes) {
    switch (mode_) {
      case Mode::Command:
      case Mode::OnlineCommand:
        feed_command_byte(c, now);
        break;
      case Mode::Dialing:
        // Any key aborts a call in progress; a line feed after the dial
        // command's CR is not a key.
        if (c == '\n' || c == '\0') break;
        trace("dial aborted by a byte from the DTE");
        hang_up("dial aborted");
        result(Result::NoCarrier);
        break;
      case Mode::Online:
        feed_online_byte(c, now);
        break;
    }
  }
}

void Modem::feed_command_byte(char c, std::int64_t now) {
  (void)now;
  if (c == '\0') return;  // NULs are line noise: never echoed or stored
  if (echo_) emit(std::string_view(&c, 1));
  switch (scan_) {
    case Scan::Idle:
      if (c == 'A' || c == 'a') scan_ = Scan::GotA;
      return;
    case Scan::GotA:
      if (c == 'T' || c == 't') {
        scan_ = Scan::InLine;
        line_ = "AT";
        line_overflow_ = false;
      } else if (c == '/') {
        scan_ = Scan::Idle;
        if (!last_line_.empty()) execute(last_line_);
        else result(Result::Error);
      } else if (!(c == 'A' || c == 'a')) {
        scan_ = Scan::Idle;
      }
      return;
    case Scan::InLine: {
      unsigned char u = static_cast<unsigned char>(c);
      if (u == static_cast<unsigned>(s_[3])) {
        scan_ = Scan::Idle;
        if (line_overflow_) {
          trace("at< (" + std::to_string(line_.size() - 2) + "+ characters) line too long");
          line_.clear();
          result(Result::Error);
          return;
        }
        std::string line = std::move(line_);
        line_.clear();
        execute(line);
      } else if (u == static_cast<unsigned>(s_[5]) || u == 127) {
        if (line_.size() > 2) line_.pop_back();
      } else if (u >= 0x20 && u < 0x7F) {
        if (line_.size() - 2 >= profile_.max_command) line_overflow_ = true;
        else line_ += c;
      }
      return;
    }
  }
}

void Modem::feed_online_byte(char c, std::int64_t now) {
  std::int64_t guard = guard_ms();
  bool escape_char = s_[2] <= 127 && static_cast<unsigned char>(c) == static_cast<unsigned>(s_[2]);
  if (escape_char && esc_count_ == 0 && now - last_data_ms_ >= guard) {
    esc_count_ = 1;
    last_plus_ms_ = now;
  } else if (escape_char && esc_count_ > 0 && esc_count_ < 3 && now - last_plus_ms_ <= guard) {
    ++esc_count_;
    last_plus_ms_ = now;
  } else {
    esc_count_ = 0;
  }
  last_data_ms_ = now;
  // The escape characters travel as data: the modem cannot know yet.
  if (to_far_.size() < kMaxToFar) {
    to_far_ += c;
  } else {
    trace("data dropped: the DTE ignored CTS");
  }
}

void Modem::set_dtr(bool on) {
  if (on == dtr_) return;
  dtr_ = on;
  trace(on ? "DTR on" : "DTR off");
  if (on || profile_.silent) return;
  bool in_call = off_hook_ || mode_ != Mode::Command;
  switch (d_) {
    case 0:
      break;
    case 1:
      if (mode_ == Mode::Online) {
        mode_ = Mode::OnlineCommand;
        esc_count_ = 0;
        result(Result::Ok);
      }
      break;
    case 2:
      if (in_call) {
        bool had_carrier = mode_ == Mode::Online || mode_ == Mode::OnlineCommand || mode_ == Mode::Dialing;
        hang_up("DTR dropped");
        if (had_carrier) result(Result::NoCarrier);
      }
      scan_ = Scan::Idle;
      line_.clear();
      break;
    default:
      hang_up("DTR dropped (&D3 reset)");
      reset_settings(false);
      scan_ = Scan::Idle;
      line_.clear();
      break;
  }
}

// ---- Commands ------------------------------------------------------------

void Modem::execute(const std::string& line) {
  trace("at< " + escape_bytes(line));
  last_line_ = line;
  std::string_view body(line);
  body.remove_prefix(2);
  std::size_t i = 0;
  bool final_sent = false;
  bool ok = run_commands(body, i, final_sent);
  if (!ok) {
    result(Result::Error);
  } else if (!final_sent) {
    result(Result::Ok);
  }
}

bool Modem::run_commands(std::string_view body, std::size_t& i, bool& final_sent) {
  while (i < body.size()) {
    char c = upper(body[i]);
    if (c == ' ') {
      ++i;
      continue;
    }
    CommandToken tok;
    if (c == '&' || c == '\\' || c == '%' || c == '*') {
      tok.prefix = c;
      ++i;
      if (i >= body.size() || !is_letter(body[i])) return false;
      tok.name = std::string(1, upper(body[i++]));
      tok.number = read_number(body, i);
    } else if (c == '+') {
      tok.prefix = c;
      ++i;
      while (i < body.size() && is_letter(body[i])) tok.name += upper(body[i++]);
      if (tok.name.empty()) return false;
      tok.number = read_number(body, i);
      if (i < body.size() && (body[i] == '=' || body[i] == '?')) {
        // Extended parameters run to ";" or the end of the line.
        while (i < body.size() && body[i] != ';') ++i;
        if (i < body.size()) ++i;
      }
    } else if (c == 'S') {
      ++i;
      tok.name = "S";
      tok.number = read_number(body, i);
      int reg = tok.number ? static_cast<int>(*tok.number) : current_register_;
      if (reg < 0 || reg > 255) return false;
      tok.number = reg;
      if (profile_refuses(profile_, tok)) return false;
      current_register_ = reg;
      if (i < body.size() && body[i] == '=') {
        ++i;
        auto value = read_number(body, i);
        if (value.value_or(0) > 255) return false;
        s_[static_cast<std::size_t>(reg)] = static_cast<int>(value.value_or(0));
      } else if (i < body.size() && body[i] == '?') {
        ++i;
        char text[8];
        std::snprintf(text, sizeof text, "%03d", s_[static_cast<std::size_t>(reg)]);
        info(text);
      }
      continue;
    } else if (c == '?') {
      ++i;
      char text[8];
      std::snprintf(text, sizeof text, "%03d", s_[static_cast<std::size_t>(current_register_)]);
      info(text);
      continue;
    } else if (is_letter(c)) {
      ++i;
      tok.name = std::string(1, c);
      if (c == 'D') return start_dial(body.substr(i), final_sent);
      tok.number = read_number(body, i);
    } else {
      return false;
    }

    long n = tok.number.value_or(0);
    const std::string& name = tok.name;
    if (!tok.prefix) {
      char letter = name[0];
      if (letter == 'A') {
        // No incoming call to answer.
        result(Result::NoCarrier);
        final_sent = true;
        return true;
      }
      if (letter == 'H') {
        if (n > 1) return false;
        if (n == 0 && (off_hook_ || mode_ != Mode::Command)) hang_up("ATH");
        continue;
      }
      if (letter == 'Z') {
        hang_up("ATZ");
        reset_settings(false);
        result(Result::Ok);
        final_sent = true;
        return true;  // the rest of the line is not read after a reset
      }
      if (letter == 'O') {
        if (n > 1) return false;
        if (mode_ != Mode::OnlineCommand || !far_) return false;
        mode_ = Mode::Online;
        esc_count_ = 0;
        last_data_ms_ = platform::clock().now_ms();
        result(Result::Connect);
        final_sent = true;
        return true;
      }
      if (profile_refuses(profile_, tok)) return false;
      switch (letter) {
        case 'E': if (n > 1) return false; echo_ = n == 1; continue;
        case 'Q': if (n > 1) return false; quiet_ = n == 1; continue;
        case 'V': if (n > 1) return false; verbose_ = n == 1; continue;
        case 'X': if (n > 4) return false; x_ = static_cast<int>(n); continue;
        case 'W': if (n > 2) return false; w_ = static_cast<int>(n); break;
        case 'I': {
          if (n > 9) return false;
          auto it = profile_.identity.find(static_cast<int>(n));
          if (it != profile_.identity.end()) info(it->second);
          else if (n > 7) return false;
          continue;
        }
        default:
          if (n > 255) return false;
          break;
      }
      options_[token_text(tok)] = n;
      continue;
    }

    if (profile_refuses(profile_, tok)) return false;
    if (tok.prefix == '&') {
      char letter = name[0];
      if (letter == 'F') {
        if (n > 0) return false;
        reset_settings(true);
        continue;
      }
      if (letter == 'W') {
        if (n > 1) return false;
        stored_ = std::make_unique<Stored>(Stored{echo_, quiet_, verbose_, x_, w_, c_, d_, s_});
        continue;
      }
      if (letter == 'V') {
        char text[96];
        std::snprintf(text, sizeof text, "E%d Q%d V%d X%d W%d &C%d &D%d", echo_ ? 1 : 0, quiet_ ? 1 : 0,
                      verbose_ ? 1 : 0, x_, w_, c_, d_);
        info(text);
        std::snprintf(text, sizeof text, "S00:%03d S02:%03d S03:%03d S06:%03d S07:%03d S08:%03d S12:%03d", s_[0],
                      s_[2], s_[3], s_[6], s_[7], s_[8], s_[12]);
        info(text);
        continue;
      }
      if (letter == 'C') {
        if (n > 1) return false;
        c_ = static_cast<int>(n);
      } else if (letter == 'D') {
        if (n > 3) return false;
        d_ = static_cast<int>(n);
      } else if (n > 255) {
        return false;
      }
    } else if (n > 255) {
      return false;
    }
    options_[token_text(tok)] = n;
  }
  return true;
}

// ---- Dialing -------------------------------------------------------------

bool Modem::start_dial(std::string_view dial, bool& final_sent) {
  if (mode_ == Mode::OnlineCommand) return false;
  std::int64_t now = platform::clock().now_ms();
  std::int64_t duration = 0;
  std::string segment;
  semicolon_ = false;
  bool redial = false;
  for (std::size_t i = 0; i < dial.size() && !semicolon_; ++i) {
    char c = upper(dial[i]);
    if (c == 'T') {
      pulse_ = false;
    } else if (c == 'P') {
      pulse_ = true;
    } else if (is_digit(c) || c == '*' || c == '#' || (c >= 'A' && c <= 'D')) {
      if (pulse_ && is_digit(c)) duration += (c == '0' ? 10 : c - '0') * kPulseStepMs + kPulseGapMs;
      else duration += kToneDigitMs;
      segment += c;
    } else if (c == ',') {
      duration += static_cast<std::int64_t>(s_[8]) * 1000;
      segment += c;
    } else if (c == 'W') {
      duration += kWaitToneMs;
      segment += c;
    } else if (c == '@') {
      duration += kQuietAnswerMs;
      segment += c;
    } else if (c == '!') {
      duration += kFlashMs;
    } else if (c == ';') {
      semicolon_ = true;
    } else if (c == 'L') {
      redial = true;
    } else if (c == 'S' || c == '=') {
      return false;  // no stored numbers
    }
    // Blanks, "-", "(", ")" and "R" are allowed and mean nothing here.
  }
  if (redial) {
    if (last_number_.empty()) return false;
    segment = last_number_ + segment;
    duration += static_cast<std::int64_t>(digits_of(last_number_).size()) * kToneDigitMs;
  }
  dialed_ += segment;
  off_hook_ = true;
  mode_ = Mode::Dialing;
  phase_ = Phase::Digits;
  target_.reset();
  event_at_ = now + duration;
  trace(std::string("dial ") + (pulse_ ? "P " : "T ") + escape_bytes(segment) + (semicolon_ ? " ;" : ""));

  if (!semicolon_) {
    last_number_ = dialed_;
    target_ = exchange_ ? exchange_->route(dialed_) : std::nullopt;
    trace("call " + escape_bytes(dialed_) + " -> " + (target_ ? target_->text() : std::string("(no route)")));
    if (target_ && target_->kind == DialTarget::Kind::NoDialtone && (x_ == 2 || x_ == 4)) {
      // The modem listens for dial tone before it dials anything.
      phase_ = Phase::Outcome;
      event_at_ = now + std::max(1, s_[6]) * 1000;
    }
  }
  final_sent = true;
  return true;
}

void Modem::dial_step(std::int64_t now) {
  if (far_) {
    // A far end that is already there (the scenario server) starts talking
    // only once the call is connected.
    if (far_->state() == FarEnd::State::Connecting) far_->poll();
    if (phase_ == Phase::Answering && far_->state() == FarEnd::State::Open && now >= event_at_) {
      connect(now);
      return;
    }
  }
  if (now < event_at_) return;
  std::int64_t wait_carrier = std::max(1, s_[7]) * 1000;

  if (phase_ == Phase::Digits) {
    if (semicolon_) {
      // Digits sent; back to command state, still off hook.
      mode_ = Mode::Command;
      result(Result::Ok);
      return;
    }
    phase_ = Phase::Outcome;
    carrier_deadline_ = now + wait_carrier;
    if (!target_) {
      event_at_ = carrier_deadline_;  // rings out
      return;
    }
    switch (target_->kind) {
      case DialTarget::Kind::Busy:
        event_at_ = x_ >= 3 ? now + kBusyDetectMs : carrier_deadline_;
        return;
      case DialTarget::Kind::NoAnswer:
      case DialTarget::Kind::NoDialtone:  // blind dialing (X0, X1, X3) rings out
        event_at_ = carrier_deadline_;
        return;
      case DialTarget::Kind::NoCarrier:
        event_at_ = std::min(carrier_deadline_, now + kFailedTrainingMs);
        return;
      case DialTarget::Kind::Tcp:
      case DialTarget::Kind::Scenario:
        far_ = exchange_->open(*target_, name_);
        phase_ = Phase::Answering;
        event_at_ = now + std::min(kAnswerMs, wait_carrier);
        if (far_ && far_->state() == FarEnd::State::Connecting) far_->poll();
        return;
    }
    return;
  }

  if (phase_ == Phase::Answering) {
    if (far_ && far_->state() == FarEnd::State::Connecting && now < carrier_deadline_) {
      event_at_ = std::min(carrier_deadline_, now + 50);
      return;
    }
    hang_up("no carrier from the far end");
    result(Result::NoCarrier);
    return;
  }

  // Phase::Outcome: the plain answers.
  Result r = Result::NoCarrier;
  if (target_) {
    switch (target_->kind) {
      case DialTarget::Kind::Busy: r = x_ >= 3 ? Result::Busy : Result::NoCarrier; break;
      case DialTarget::Kind::NoAnswer: r = Result::NoAnswer; break;
      case DialTarget::Kind::NoDialtone: r = (x_ == 2 || x_ == 4) ? Result::NoDialtone : Result::NoCarrier; break;
      default: break;
    }
  }
  hang_up(result_word(r));
  result(r);
}

void Modem::connect(std::int64_t now) {
  speed_ = profile_.line_speed;
  if (w_ == 1) {
    // Progress reports before CONNECT, as W1 asks.
    if (verbose_) {
      info("CARRIER " + std::to_string(speed_));
      info("PROTOCOL: LAPM");
      info("COMPRESSION: V.42BIS");
    } else if (!quiet_) {
      if (int n = carrier_number(speed_)) emit(std::to_string(n) + static_cast<char>(s_[3]));
      emit(std::string("77") + static_cast<char>(s_[3]) + "67" + static_cast<char>(s_[3]));
    }
  }
  mode_ = Mode::Online;
  trace("connect " + std::to_string(speed_));
  result(Result::Connect);
  pace_ms_ = now;
  credit_tx_ = credit_rx_ = 0;
  esc_count_ = 0;
  last_data_ms_ = now;
  to_far_.clear();
  stage_.clear();
  // The far end speaks first (a prompt); give it its first poll now so a
  // host that sleeps until next_due_ms() sees its bytes coming.
  pump_call(now);
}

void Modem::hang_up(const std::string& why) {
  if (far_) {
    far_->hang_up();
    far_.reset();
  }
  if (off_hook_ || mode_ != Mode::Command) trace("hangup (" + why + ")");
  off_hook_ = false;
  dialed_.clear();
  target_.reset();
  mode_ = Mode::Command;
  to_far_.clear();
  stage_.clear();
  esc_count_ = 0;
  speed_ = 0;
}

// ---- Time ----------------------------------------------------------------

void Modem::pump_call(std::int64_t now) {
  if (!far_) return;
  std::int64_t elapsed = std::max<std::int64_t>(0, now - pace_ms_);
  pace_ms_ = now;
  std::int64_t rate = speed_ > 0 ? speed_ : 28800;
  std::int64_t cap = rate * 20 + 10'000;  // at most 20 ms of line time saved up
  credit_tx_ = std::min(cap, credit_tx_ + elapsed * rate);
  credit_rx_ = std::min(cap, credit_rx_ + elapsed * rate);

  // Towards the far end: 10 bits per byte on the line.
  if (!to_far_.empty()) {
    std::size_t n = std::min<std::size_t>(to_far_.size(), static_cast<std::size_t>(credit_tx_ / 10'000));
    if (n > 0) {
      far_->write(std::string_view(to_far_).substr(0, n));
      to_far_.erase(0, n);
      credit_tx_ -= static_cast<std::int64_t>(n) * 10'000;
    }
  }
  far_->poll();
  if (stage_.size() < kFarStage) {
    char buf[kFarStage];
    std::size_t got = far_->read(buf, kFarStage - stage_.size());
    stage_.append(buf, got);
  }
  if (mode_ == Mode::Online && !stage_.empty()) {
    std::size_t room = kMaxOutput > out_.size() ? kMaxOutput - out_.size() : 0;
    std::size_t n = std::min({stage_.size(), static_cast<std::size_t>(credit_rx_ / 10'000), room});
    if (n > 0) {
      emit(std::string_view(stage_).substr(0, n));
      stage_.erase(0, n);
      credit_rx_ -= static_cast<std::int64_t>(n) * 10'000;
    }
  }
  if (far_->state() == FarEnd::State::Closed && (stage_.empty() || mode_ == Mode::OnlineCommand)) {
    // Whatever the far end sent has reached the DTE (or the DTE is in
    // command state and will not take it): now the carrier drops.
    hang_up("far end hung up");
    result(Result::NoCarrier);
  }
}

void Modem::tick() {
  if (profile_.silent) return;
  std::int64_t now = platform::clock().now_ms();
  if (mode_ == Mode::Dialing) {
    dial_step(now);
    return;
  }
  if (mode_ == Mode::Online && esc_count_ == 3 && now - last_plus_ms_ >= guard_ms()) {
    esc_count_ = 0;
    mode_ = Mode::OnlineCommand;
    scan_ = Scan::Idle;
    trace("escape (+++)");
    result(Result::Ok);
  }
  if (mode_ == Mode::Online || mode_ == Mode::OnlineCommand) pump_call(now);
}

std::optional<std::int64_t> Modem::next_due_ms() const {
  if (profile_.silent) return std::nullopt;
  std::optional<std::int64_t> due;
  auto consider = [&due](std::optional<std::int64_t> t) {
    if (t && (!due || *t < *due)) due = t;
  };
  std::int64_t now = platform::clock().now_ms();
  if (mode_ == Mode::Dialing) consider(event_at_);
  if (mode_ == Mode::Online && esc_count_ == 3) consider(last_plus_ms_ + guard_ms());
  if (far_) {
    consider(far_->next_due_ms());
    std::int64_t byte_ms = std::max<std::int64_t>(1, 10'000 / std::max(1, speed_));
    if (!to_far_.empty() || (mode_ == Mode::Online && !stage_.empty())) consider(now + byte_ms);
  }
  return due;
}

}  // namespace linesim
