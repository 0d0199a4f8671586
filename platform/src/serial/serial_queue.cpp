// The receive queue and the wait every serial port back-end shares.
#include "serial_queue.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace platform::serial_detail {

EventQueue::EventQueue() { wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

EventQueue::~EventQueue() {
  if (wake_fd >= 0) ::close(wake_fd);
}

std::size_t EventQueue::push_locked(const std::uint8_t* data, std::size_t size) {
  std::size_t n = std::min(size, kCapacity - std::min(kCapacity, rx.size()));
  if (n == 0) return 0;
  rx.insert(rx.end(), data, data + n);
  ++arrivals;
  events |= kEventRxChar;
  if (std::find(data, data + n, static_cast<std::uint8_t>(event_char)) != data + n) events |= kEventRxFlag;
  return n;
}

std::size_t EventQueue::take_locked(void* buffer, std::size_t size) {
  std::size_t n = std::min(size, rx.size());
  std::copy_n(rx.begin(), n, static_cast<std::uint8_t*>(buffer));
  rx.erase(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(n));
  return n;
}

void EventQueue::wake() {
  std::uint64_t one = 1;
  if (wake_fd >= 0) [[maybe_unused]] auto r = ::write(wake_fd, &one, sizeof one);
}

void EventQueue::drain_wake() {
  std::uint64_t value;
  if (wake_fd >= 0) [[maybe_unused]] auto r = ::read(wake_fd, &value, sizeof value);
}

SerialError QueuedSerialPort::bytes_available(std::size_t& count) {
  count = 0;
  if (SerialError e = turn(); e != SerialError::None) return e;
  std::lock_guard lock(q_.mutex);
  SerialError e = fill_locked();
  count = q_.rx.size();
  return count > 0 ? SerialError::None : e;
}

SerialError QueuedSerialPort::read(void* buffer, std::size_t size, std::size_t& got) {
  got = 0;
  if (SerialError e = turn(); e != SerialError::None) return e;
  std::lock_guard lock(q_.mutex);
  SerialError e = fill_locked();
  got = q_.take_locked(buffer, size);
  return got > 0 ? SerialError::None : e;
}

void QueuedSerialPort::set_event_mask(unsigned mask, char event_char) {
  std::lock_guard lock(q_.mutex);
  q_.mask = mask;
  q_.event_char = event_char;
  q_.wake();
}

SerialError QueuedSerialPort::wait_event(unsigned& events, int timeout_ms) {
  using Steady = std::chrono::steady_clock;
  events = 0;
  const auto deadline = Steady::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  for (;;) {
    WaitSource source;
    int wait = -1;
    bool want_input;
    {
      std::lock_guard lock(q_.mutex);
      const SerialError state = wait_source_locked(source);
      if (state == SerialError::InvalidHandle) return state;
      if (q_.interrupted) {
        q_.interrupted = false;
        return SerialError::OperationAborted;
      }
      if (q_.events & q_.mask) {
        events = q_.events & q_.mask;
        q_.events = 0;
        return SerialError::None;
      }
      if (state != SerialError::None) return state;
      if (timeout_ms >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count();
        if (left <= 0) return SerialError::Timeout;
        wait = static_cast<int>(left);
      }
      if (source.step_ms >= 0 && (wait < 0 || wait > source.step_ms)) wait = source.step_ms;
      want_input = q_.rx.size() < EventQueue::kCapacity;
      wait_begins_locked();
    }
    // A negative descriptor is skipped by poll().
    pollfd pfds[2] = {{q_.wake_fd, POLLIN, 0}, {source.fd, static_cast<short>(want_input ? POLLIN : 0), 0}};
    int rc = ::poll(pfds, 2, wait);
    if (rc < 0 && errno != EINTR) return serial_error_from_errno(errno);
    if (rc > 0 && (pfds[0].revents & POLLIN)) q_.drain_wake();
    std::lock_guard lock(q_.mutex);
    woke_locked(rc > 0 && (pfds[1].revents & (POLLIN | POLLHUP | POLLERR)));
  }
}

void QueuedSerialPort::interrupt_wait() {
  std::lock_guard lock(q_.mutex);
  q_.interrupted = true;
  q_.wake();
}

void QueuedSerialPort::set_wait_hook(std::function<void(std::uint64_t)> hook) {
  std::lock_guard lock(q_.mutex);
  wait_hook_ = std::move(hook);
}

void QueuedSerialPort::wait_begins_locked() const {
  if (wait_hook_) wait_hook_(q_.arrivals);
}

}  // namespace platform::serial_detail
