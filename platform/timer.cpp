#include "platform/timer.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#if defined(__unix__)
#include <pthread.h>
#include <sched.h>
#endif

namespace platform {

TimerCaps TimeGetDevCaps() { return TimerCaps{}; }

void RaiseThreadPriority() {
#if defined(__unix__)
  sched_param param{};
  param.sched_priority = std::min(10, sched_get_priority_max(SCHED_FIFO));
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
#endif
}

bool ThreadTimer::Start(uint32_t periodMs, uint32_t /*resolutionMs*/, std::function<void()> tick) {
  Join();
  if (periodMs == 0 || !tick) {
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    killed_ = false;
  }
  alive_.store(true, std::memory_order_release);
  try {
    thread_ = std::thread(&ThreadTimer::Run, this, periodMs, std::move(tick));
  } catch (const std::system_error&) {
    alive_.store(false, std::memory_order_release);
    return false;
  }
  return true;
}

void ThreadTimer::Kill() {
  {
    std::lock_guard lock(mutex_);
    killed_ = true;
  }
  wake_.notify_all();
}

void ThreadTimer::Join() {
  Kill();
  // The one place where the timer thread is joined. From inside the tick there is nothing to wait for:
  // the thread ends by itself after the tick returns.
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
    thread_.join();
  }
}

void ThreadTimer::Run(uint32_t periodMs, std::function<void()> tick) {
  RaiseThreadPriority();
  using Clock = std::chrono::steady_clock;
  const auto period = std::chrono::milliseconds(periodMs);
  auto deadline = Clock::now() + period;
  std::unique_lock lock(mutex_);
  for (;;) {
    if (wake_.wait_until(lock, deadline, [this] { return killed_; })) {
      break;
    }
    lock.unlock();
    tick();
    lock.lock();
    if (killed_) {
      break;
    }
    // Absolute deadlines keep the period without drift. After a long stall (a suspended machine) the
    // missed periods are dropped instead of being fired in a burst; the tick catches up by itself.
    deadline += period;
    const auto now = Clock::now();
    if (now > deadline + period) {
      deadline = now + period;
    }
  }
  alive_.store(false, std::memory_order_release);
}

bool ManualTimer::Start(uint32_t periodMs, uint32_t /*resolutionMs*/, std::function<void()> tick) {
  if (failStart_) {
    return false;
  }
  ++starts_;
  period_ = periodMs;
  tick_ = std::move(tick);
  alive_ = true;
  return true;
}

bool ManualTimer::Fire() {
  if (!alive_) {
    return false;
  }
  tick_();
  return true;
}

}  // namespace platform
