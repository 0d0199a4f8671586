// Receive queue, event word and wait shared by the serial port back-ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "platform/serial/serial_port.h"

namespace platform::serial_detail {

// Bytes received but not yet read, the events seen since the last wait, and
// an eventfd that wakes a blocked wait. All members but wake_fd are guarded
// by `mutex`.
struct EventQueue {
  static constexpr std::size_t kCapacity = 64 * 1024;

  EventQueue();
  ~EventQueue();
  EventQueue(const EventQueue&) = delete;
  EventQueue& operator=(const EventQueue&) = delete;

  // With `mutex` held: appends what fits, notes kEventRxChar / kEventRxFlag
  // and the arrival; returns the number of bytes taken.
  std::size_t push_locked(const std::uint8_t* data, std::size_t size);
  // With `mutex` held: copies out and removes up to `size` bytes.
  std::size_t take_locked(void* buffer, std::size_t size);
  // Wakes a blocked wait (any thread).
  void wake();
  // Empties the eventfd after a wake-up.
  void drain_wake();

  std::mutex mutex;
  std::deque<std::uint8_t> rx;
  unsigned events = 0;  // seen since the last wait returned
  std::uint64_t arrivals = 0;  // chunks of bytes and line changes received, ever
  unsigned mask = 0;
  char event_char = '\0';
  bool interrupted = false;
  int wake_fd = -1;
};

// The part of a port that is the same for every back-end: reading and
// counting from the queue, the event mask, wait_event() and its interruption.
// A back-end says how bytes reach the queue and what a wait watches, through
// the hooks below (each called with q_.mutex held but turn()).
class QueuedSerialPort : public SerialPort {
 public:
  SerialError bytes_available(std::size_t& count) override;
  SerialError read(void* buffer, std::size_t size, std::size_t& got) override;
  void set_event_mask(unsigned mask, char event_char) override;
  SerialError wait_event(unsigned& events, int timeout_ms) override;
  void interrupt_wait() override;
  void set_wait_hook(std::function<void(std::uint64_t arrivals)> hook) override;

 protected:
  // What a wait watches besides its wake-up.
  struct WaitSource {
    int fd = -1;       // polled for input; -1: the queue is filled from elsewhere
    int step_ms = -1;  // longest single sleep, for state that is only sampled
  };

  // Before the queue is read or counted, without the lock: gives the device
  // its turn; an error ends the call with nothing read.
  virtual SerialError turn() { return SerialError::None; }
  // Moves what the device holds into the queue: None, or the error that
  // ended input (bytes already queued are still handed out first).
  virtual SerialError fill_locked() = 0;
  // Before a wait looks at the queue: what it watches. InvalidHandle ends the
  // wait at once; any other error ends it once no event is left to report.
  virtual SerialError wait_source_locked(WaitSource& source) = 0;
  // After a wait woke; `readable`: the source's descriptor had input or
  // hung up.
  virtual void woke_locked(bool readable) {
    if (readable) fill_locked();
  }

  // Runs the wait hook: the caller has looked, found nothing, and blocks next.
  void wait_begins_locked() const;

  mutable EventQueue q_;

 private:
  std::function<void(std::uint64_t)> wait_hook_;  // guarded by q_.mutex
};

}  // namespace platform::serial_detail
