#include "tools/progress_line.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace tools {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

// m:ss.t, tenths cut (not rounded) so that the line never shows more than is done.
std::string Clock(double seconds) {
  const long tenths = std::isfinite(seconds) && seconds > 0 ? static_cast<long>(seconds * 10) : 0;
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld.%ld", tenths / 600, tenths / 10 % 60, tenths % 10);
  return text;
}

void WriteToStderr(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

ProgressLine::ProgressLine(bool quiet) : enabled_(!quiet && ::isatty(STDERR_FILENO) == 1) {}

ProgressLine::~ProgressLine() { Clear(); }

std::string ProgressLine::Text(double seconds, double totalSeconds, int32_t loop) {
  std::string text = Clock(seconds) + " / " + Clock(totalSeconds);
  if (loop > 0) text += "  loop " + std::to_string(loop);
  return text;
}

void ProgressLine::Show(double seconds, double totalSeconds, int32_t loop) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - last_ < kRedrawInterval) return;
  last_ = now;
  drawn_ = true;
  // Carriage return, the text, erase to the end of the line. Appended piece by piece: GCC 12 at -O3
  // takes "\r" + string for an overlapping copy (-Wrestrict).
  WriteToStderr(std::string("\r").append(Text(seconds, totalSeconds, loop)).append("\x1b[K"));
}

void ProgressLine::Clear() {
  if (!drawn_) return;
  drawn_ = false;
  WriteToStderr("\r\x1b[K");
}

}  // namespace tools
