// The periodic timer that drives the sequencer: a thread that calls a tick every period, sleeping to
// absolute deadlines so that the ticks do not drift. Tests use ManualTimer and fire ticks by hand.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace platform {

// The range of periods a periodic timer supports, in milliseconds.
struct TimerCaps {
  uint32_t periodMin = 1;
  uint32_t periodMax = 1'000'000;
};
TimerCaps TimeGetDevCaps();

// Asks for a low real-time priority for the calling thread, as multimedia timers run at, so that busy
// desktops do not delay it: the timer's ticks and the threads that carry a MIDI keyboard's messages to
// the device. Where the system does not allow it the thread simply keeps its normal priority.
void RaiseThreadPriority();

// A periodic timer. Start, Join and the destructor belong to one owning thread (the UI thread);
// Kill may be called from any thread, the tick itself included.
class PeriodicTimer {
 public:
  virtual ~PeriodicTimer() = default;
  // Starts calling `tick` every `periodMs` milliseconds; a timer that still runs is joined first.
  // False when the timer cannot start (nothing will be called then).
  virtual bool Start(uint32_t periodMs, uint32_t resolutionMs, std::function<void()> tick) = 0;
  // Asks the timer to stop: no tick starts after the one that may be running. Never waits.
  virtual void Kill() = 0;
  // Kills the timer and waits until its last tick has returned. Not from inside the tick.
  virtual void Join() = 0;
  // True from a successful Start until the timer has stopped calling ticks for good.
  virtual bool Alive() const = 0;
};

// The real timer: one thread per Start, joined only in Join (which Start and the destructor call).
class ThreadTimer final : public PeriodicTimer {
 public:
  ThreadTimer() = default;
  ThreadTimer(const ThreadTimer&) = delete;
  ThreadTimer& operator=(const ThreadTimer&) = delete;
  ~ThreadTimer() override { Join(); }

  bool Start(uint32_t periodMs, uint32_t resolutionMs, std::function<void()> tick) override;
  void Kill() override;
  void Join() override;
  bool Alive() const override { return alive_.load(std::memory_order_acquire); }

 private:
  void Run(uint32_t periodMs, std::function<void()> tick);

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool killed_ = false;  // guarded by mutex_
  std::atomic<bool> alive_{false};
};

// A timer for tests: nothing runs until Fire, which calls the tick on the caller's thread.
class ManualTimer final : public PeriodicTimer {
 public:
  bool Start(uint32_t periodMs, uint32_t resolutionMs, std::function<void()> tick) override;
  void Kill() override { alive_ = false; }
  void Join() override { alive_ = false; }
  bool Alive() const override { return alive_; }

  // Calls the tick once if the timer is alive; false otherwise.
  bool Fire();
  // The next Starts fail while set.
  void SetFailStart(bool fail) { failStart_ = fail; }
  int Starts() const { return starts_; }
  uint32_t Period() const { return period_; }

 private:
  std::function<void()> tick_;
  bool alive_ = false;
  bool failStart_ = false;
  int starts_ = 0;
  uint32_t period_ = 0;
};

}  // namespace platform
