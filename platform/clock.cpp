#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace platform {
namespace {

std::atomic<Clock*> TestClock{nullptr};

}  // namespace

uint32_t TimeGetTime() {
  if (Clock* clock = TestClock.load(std::memory_order_acquire)) {
    return clock->Now();
  }
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  // The cast keeps the low 32 bits: the count wraps about every 49.7 days.
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void SleepMilliseconds(uint32_t ms) {
  if (Clock* clock = TestClock.load(std::memory_order_acquire)) {
    clock->Sleep(ms);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void FakeClock::Sleep(uint32_t ms) {
  Advance(ms);
  slept_.fetch_add(ms, std::memory_order_acq_rel);
  if (sleepHook_) {
    sleepHook_();
  }
}

void SetClockForTesting(Clock* clock) { TestClock.store(clock, std::memory_order_release); }

}  // namespace platform
