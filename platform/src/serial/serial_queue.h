// Receive queue and event word shared by the serial port implementations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
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

  // With `mutex` held: appends what fits, notes kEventRxChar / kEventRxFlag;
  // returns the number of bytes taken.
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
  unsigned mask = 0;
  char event_char = '\0';
  bool interrupted = false;
  int wake_fd = -1;
};

}  // namespace platform::serial_detail
