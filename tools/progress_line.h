// One progress line on standard error for long work (rendering, playing): song time done / total and
// the loop count while a loop plays, redrawn in place and cleared at the end. Only on a terminal, so
// that scripts and logs stay clean.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tools {

class ProgressLine {
 public:
  // Shown only when standard error is a terminal and `quiet` is false.
  explicit ProgressLine(bool quiet);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Redraws the line, at most ten times a second. `loop` > 0: the repetition of the loop playing.
  void Show(double seconds, double totalSeconds, int32_t loop);
  // Removes the line (nothing when none was drawn).
  void Clear();

  // The text of the line: "1:02.5 / 3:00.0", with "  loop N" while a loop plays.
  static std::string Text(double seconds, double totalSeconds, int32_t loop);

 private:
  bool enabled_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace tools
