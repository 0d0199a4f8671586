#include "platform/loop/clock.h"

#include <time.h>

#include <cerrno>

namespace platform {
namespace {

RealClock g_real_clock;
std::atomic<Clock*> g_clock{nullptr};

}  // namespace

std::int64_t RealClock::now_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

void RealClock::sleep_ms(std::int64_t ms) {
  if (ms <= 0) return;
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>((ms % 1000) * 1'000'000)};
  while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
  }
}

void VirtualClock::advance_to(std::int64_t when_ms) {
  std::int64_t current = now_.load();
  while (when_ms > current && !now_.compare_exchange_weak(current, when_ms)) {
  }
}

Clock& clock() {
  Clock* c = g_clock.load(std::memory_order_acquire);
  return c ? *c : g_real_clock;
}

void use_clock(Clock* c) { g_clock.store(c, std::memory_order_release); }

ScopedVirtualClock::ScopedVirtualClock(std::int64_t start_ms)
    : clock_(start_ms), previous_(g_clock.load()) {
  use_clock(&clock_);
}

ScopedVirtualClock::~ScopedVirtualClock() { use_clock(previous_); }

}  // namespace platform
