// Seconds since construction on the steady clock, for the tests whose peer runs in real time.
#pragma once

#include <chrono>
#include <thread>

namespace platform::testing_support {

// The synth renders into its file in real time from the open on, so the times of the calls on a
// stopwatch started at the open are positions in the file.
class Stopwatch {
 public:
  double Now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }
  void SleepUntil(double seconds) const {
    std::this_thread::sleep_until(start_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                               std::chrono::duration<double>(seconds)));
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace platform::testing_support
