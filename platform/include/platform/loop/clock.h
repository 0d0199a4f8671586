// Clock: the one source of time for the whole process.
//
// Everything that waits or measures time asks clock() instead of the system,
// so tests can install a VirtualClock: time then moves only when a test
// advances it, or when a message loop has nothing to do and jumps straight to
// its next due timer. A 60-second time-out is tested in microseconds.
//
// Rules:
//  - now_ms() is monotonic milliseconds; its zero is arbitrary.
//  - sleep_ms() never busy-waits: real time sleeps, virtual time advances.
//  - Install a clock before starting threads that use it; ScopedVirtualClock
//    restores the real clock when it goes out of scope.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::int64_t now_ms() = 0;
  virtual void sleep_ms(std::int64_t ms) = 0;
  // True when time moves only by advance (tests): an idle loop may then jump.
  virtual bool is_virtual() const = 0;
  // Moves virtual time forward to `when_ms` if it lies ahead; no-op otherwise
  // and always in real time.
  virtual void advance_to(std::int64_t when_ms) = 0;
};

class RealClock final : public Clock {
 public:
  std::int64_t now_ms() override;
  void sleep_ms(std::int64_t ms) override;
  bool is_virtual() const override { return false; }
  void advance_to(std::int64_t) override {}
};

class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(std::int64_t start_ms = 1'000'000) : now_(start_ms) {}
  std::int64_t now_ms() override { return now_.load(); }
  void sleep_ms(std::int64_t ms) override { advance(ms); }
  bool is_virtual() const override { return true; }
  void advance_to(std::int64_t when_ms) override;
  void advance(std::int64_t ms) { advance_to(now_ms() + (ms > 0 ? ms : 0)); }

 private:
  std::atomic<std::int64_t> now_;
};

// The process's clock; a RealClock unless a test installed another.
Clock& clock();
// Installs `c` (not owned) as the process's clock; nullptr restores real time.
void use_clock(Clock* c);

// Installs a VirtualClock for the lifetime of the object.
class ScopedVirtualClock {
 public:
  explicit ScopedVirtualClock(std::int64_t start_ms = 1'000'000);
  ~ScopedVirtualClock();
  ScopedVirtualClock(const ScopedVirtualClock&) = delete;
  ScopedVirtualClock& operator=(const ScopedVirtualClock&) = delete;
  VirtualClock& get() { return clock_; }

 private:
  VirtualClock clock_;
  Clock* previous_;
};

}  // namespace platform
