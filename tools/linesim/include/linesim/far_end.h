// The far end of a call: what the dialed number reaches once it answers.
//
// The modem moves bytes to and from it at the line speed; the far end never
// blocks. Implementations: TcpFarEnd (a TCP peer) and ScenarioServer (the
// reference registration server).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace linesim {

// Receives one trace line (no line end).
using TraceSink = std::function<void(std::string_view line)>;

class FarEnd {
 public:
  enum class State { Connecting, Open, Closed };
  virtual ~FarEnd() = default;

  virtual State state() const = 0;
  // Bytes the caller sent over the line.
  virtual void write(std::string_view bytes) = 0;
  // Up to `max` bytes the far end has sent; 0 when none are ready.
  virtual std::size_t read(char* out, std::size_t max) = 0;
  // The caller hung up; the far end closes.
  virtual void hang_up() = 0;
  // Does pending work (socket I/O, script steps); cheap when idle.
  virtual void poll() = 0;
  // A descriptor a poll loop should watch, -1 if none, and its events.
  virtual int fd() const { return -1; }
  virtual short poll_events() const { return 0; }
  // When poll() next has timed work to do (clock milliseconds), if ever.
  virtual std::optional<std::int64_t> next_due_ms() const { return std::nullopt; }
};

}  // namespace linesim
