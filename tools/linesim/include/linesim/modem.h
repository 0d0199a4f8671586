// Modem: a Hayes-compatible modem, transport-independent.
//
// The DTE side is a byte stream plus modem lines; the line side is the
// Exchange, which routes a dialed number to a far end. The modem never blocks
// and owns no descriptor of the DTE; a host (the linesim program over a
// pseudo-terminal, or a test over an in-process pair) drives it:
//
//   feed(bytes)      bytes the DTE wrote (call only while wants_input(), or
//                    excess data-mode bytes are dropped)
//   take_output()    bytes for the DTE (echo, result words, call data)
//   set_dtr(on)      the DTE's DTR line; a drop hangs up as &D says
//   lines()          DCD, DSR, CTS, RI as the modem drives them
//   tick()           timed work: dial progress, the "+++" guard time, the
//                    far end, pacing at the line speed
//   next_due_ms()    when tick() next has work, so a host can sleep until then
//
// All times come from platform::clock(), so a virtual clock drives dial
// delays, S7 and the escape guard time in tests. One thread at a time.
//
// Command state: a line starts at "AT" (any case; bytes before it are
// ignored, NULs dropped), ends at S3 (CR), S5 (backspace) edits it. A line
// longer than the profile's limit answers ERROR. Several commands may share
// a line; the first failing one answers ERROR and ends the line.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "linesim/exchange.h"
#include "linesim/far_end.h"
#include "linesim/profile.h"

namespace linesim {

struct ModemLines {
  bool dcd = false;  // carrier detect (always on with &C0)
  bool dsr = false;  // data set ready: the modem is there
  bool cts = false;  // clear to send: the modem takes more data
  bool ri = false;   // ring indicator (no incoming calls are simulated)
};

class Modem {
 public:
  enum class Mode { Command, Dialing, Online, OnlineCommand };
  enum class Result { Ok, Connect, Ring, NoCarrier, Error, NoDialtone, Busy, NoAnswer };

  static constexpr std::size_t kMaxOutput = 64 * 1024;  // bytes kept for a DTE that does not read
  static constexpr std::size_t kMaxToFar = 8 * 1024;    // call data waiting for the line
  static constexpr std::size_t kFarStage = 2 * 1024;    // far-end data waiting for the line
  // Call progress, in milliseconds.
  static constexpr std::int64_t kToneDigitMs = 100;
  static constexpr std::int64_t kPulseStepMs = 100;    // per pulse, plus the gap below
  static constexpr std::int64_t kPulseGapMs = 600;
  static constexpr std::int64_t kWaitToneMs = 1000;    // "W": second dial tone found
  static constexpr std::int64_t kQuietAnswerMs = 2000; // "@"
  static constexpr std::int64_t kFlashMs = 500;        // "!"
  static constexpr std::int64_t kBusyDetectMs = 2000;
  static constexpr std::int64_t kAnswerMs = 2000;      // rings and training before CONNECT
  static constexpr std::int64_t kFailedTrainingMs = 4000;

  // `exchange` may be null (every call rings out); it must outlive the modem.
  Modem(std::string name, ModemProfile profile, Exchange* exchange);
  ~Modem();
  Modem(const Modem&) = delete;
  Modem& operator=(const Modem&) = delete;

  void feed(std::string_view bytes);
  std::string take_output(std::size_t max = static_cast<std::size_t>(-1));
  bool has_output() const { return !out_.empty(); }
  void set_dtr(bool on);
  ModemLines lines() const;
  void tick();
  std::optional<std::int64_t> next_due_ms() const;
  bool wants_input() const;
  // The far end's descriptor for a host's poll loop (-1 if none) and the
  // events worth waiting for now.
  int far_fd() const;
  short far_events() const;

  // What tests look at.
  Mode mode() const { return mode_; }
  int s_register(int n) const { return (n >= 0 && n < 256) ? s_[static_cast<std::size_t>(n)] : -1; }
  bool echo() const { return echo_; }
  bool verbose() const { return verbose_; }
  bool quiet() const { return quiet_; }
  const ModemProfile& profile() const { return profile_; }
  const std::string& name() const { return name_; }
  // Option commands accepted so far ("&K3", "\N3", "+H0"), latest value.
  const std::map<std::string, long>& options() const { return options_; }

 private:
  void reset_settings(bool factory);
  void feed_command_byte(char c, std::int64_t now);
  void feed_online_byte(char c, std::int64_t now);
  void execute(const std::string& line);
  bool run_commands(std::string_view body, std::size_t& i, bool& final_sent);
  bool start_dial(std::string_view dial, bool& final_sent);
  void dial_step(std::int64_t now);
  void connect(std::int64_t now);
  void hang_up(const std::string& why);
  void pump_call(std::int64_t now);
  void result(Result r);
  void info(std::string_view text);
  void emit(std::string_view bytes);
  void trace(std::string_view text) const;
  std::int64_t guard_ms() const { return static_cast<std::int64_t>(s_[12]) * 20; }

  std::string name_;
  ModemProfile profile_;
  Exchange* exchange_;

  // Settings (factory defaults in reset_settings).
  bool echo_ = true, quiet_ = false, verbose_ = true;
  int x_ = 4, w_ = 0, c_ = 1, d_ = 2;
  std::array<int, 256> s_{};
  int current_register_ = 0;
  struct Stored {
    bool echo, quiet, verbose;
    int x, w, c, d;
    std::array<int, 256> s;
  };
  std::unique_ptr<Stored> stored_;  // &W; Z restores it
  std::map<std::string, long> options_;

  Mode mode_ = Mode::Command;
  bool dtr_ = true;
  std::string out_;
  bool out_dropped_ = false;

  // Command line collection.
  enum class Scan { Idle, GotA, InLine } scan_ = Scan::Idle;
  std::string line_;
  bool line_overflow_ = false;
  std::string last_line_;

  // The call.
  bool off_hook_ = false;        // dialed with ";" or in a call
  std::string dialed_;           // dial text so far (";" segments add up)
  std::string last_number_;      // for "L"
  bool pulse_ = false;
  enum class Phase { Digits, Outcome, Answering } phase_ = Phase::Digits;
  bool semicolon_ = false;
  std::int64_t event_at_ = 0;    // when the dial phase moves on
  std::int64_t carrier_deadline_ = 0;
  std::optional<DialTarget> target_;
  std::unique_ptr<FarEnd> far_;

  // Data mode.
  std::string to_far_;
  std::string stage_;            // far-end bytes not yet sent to the DTE
  std::int64_t pace_ms_ = 0;
  std::int64_t credit_tx_ = 0, credit_rx_ = 0;  // in bit-milliseconds
  int speed_ = 0;
  int esc_count_ = 0;
  std::int64_t last_data_ms_ = 0, last_plus_ms_ = 0;
};

// The verbal form of a result ("NO DIALTONE") and its number with V0.
const char* result_word(Modem::Result r);
int result_number(Modem::Result r);
// The numeric code of "CONNECT <speed>" (1 for a speed without its own code).
int connect_number(int speed);

}  // namespace linesim
