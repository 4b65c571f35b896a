// The millisecond clock: a wrapping 32-bit count of milliseconds on the steady clock, and sleeping.
// Tests install a FakeClock so that time moves only when they say so.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace platform {

// Milliseconds on the steady clock as a wrapping 32-bit value. Compare two readings only through their
// unsigned difference (b - a), which stays right across the wrap. Any thread.
uint32_t TimeGetTime();

// Sleeps the calling thread for `ms` milliseconds (on a FakeClock: moves its time instead).
void SleepMilliseconds(uint32_t ms);

// A source of time that tests can replace.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t Now() = 0;
  virtual void Sleep(uint32_t ms) = 0;
};

// A clock that only moves when told to. Sleep(ms) advances it by ms and then calls the sleep hook, so a
// test can let "the timer fire" while the code under test waits. Any thread may read it.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(uint32_t start = 0) : now_(start) {}
  uint32_t Now() override { return now_.load(std::memory_order_acquire); }
  void Sleep(uint32_t ms) override;
  void Advance(uint32_t ms) { now_.fetch_add(ms, std::memory_order_acq_rel); }
  void Set(uint32_t now) { now_.store(now, std::memory_order_release); }
  // Called after every Sleep; set from the test thread before the code under test runs.
  void SetSleepHook(std::function<void()> hook) { sleepHook_ = std::move(hook); }
  // Total milliseconds slept so far.
  uint64_t Slept() const { return slept_.load(std::memory_order_acquire); }

 private:
  std::atomic<uint32_t> now_;
  std::atomic<uint64_t> slept_{0};
  std::function<void()> sleepHook_;
};

// Replaces the clock behind TimeGetTime and SleepMilliseconds; nullptr returns to the steady clock.
// Call only while no other thread uses the clock.
void SetClockForTesting(Clock* clock);

}  // namespace platform
