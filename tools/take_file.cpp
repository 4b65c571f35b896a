// The take file of --record-to-mml, read into a capture. Kept apart from the command so that the fuzz
// target can take it in without the command's file handling.
#include "tools/take_file.h"

#include <charconv>
#include <iterator>
#include <sstream>
#include <vector>

namespace tools {

// A take's lines: "<ms> <note 0-127 | r>" per event, then "<ms> stop". Blank lines are skipped. The times
// do not decrease from line to line.
record::Capture ParseTake(const std::string& text, const std::string& name) {
  record::Capture capture;
  bool stopped = false;
  uint32_t previous = 0;  // the time of the line before
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    auto fail = [&](const std::string& what) -> UsageError {
      return UsageError{name + ":" + std::to_string(number) + ": " + what};
    };
    std::istringstream words(line);
    std::vector<std::string> w{std::istream_iterator<std::string>(words),
                               std::istream_iterator<std::string>()};
    if (w.empty()) continue;
    if (stopped) throw fail("text after the stop line");
    if (w.size() != 2) throw fail("expected \"<ms> <note 0-127 | r | stop>\", found \"" + line + "\"");
    uint32_t ms = 0;
    auto [end, error] = std::from_chars(w[0].data(), w[0].data() + w[0].size(), ms);
    if (error != std::errc() || end != w[0].data() + w[0].size()) {
      throw fail("the time \"" + w[0] + "\" is no number of milliseconds from 0 to 4294967295");
    }
    if (ms < previous) throw fail("times must not decrease");
    previous = ms;
    if (w[1] == "stop") {
      capture.CaptureTimes[capture.CaptureCount] = ms;
      capture.CaptureEnd = ms;
      stopped = true;
      continue;
    }
    int note = record::kRestCode;
    if (w[1] != "r") {
      auto [e, err] = std::from_chars(w[1].data(), w[1].data() + w[1].size(), note);
      if (err != std::errc() || e != w[1].data() + w[1].size() || note < 0 || note > 127) {
        throw fail("the event \"" + w[1] + "\" is no note 0-127, \"r\" or \"stop\"");
      }
    }
    if (capture.CaptureCount == record::kMaxCaptureEvents) {
      throw fail("more than " + std::to_string(record::kMaxCaptureEvents) +
                 " events; the capture holds no more");
    }
    if (capture.CaptureCount == 0) capture.CaptureStart = ms;
    capture.CaptureNotes[capture.CaptureCount] = static_cast<uint8_t>(note);
    capture.CaptureTimes[capture.CaptureCount] = ms;
    capture.CaptureCount += 1;
  }
  if (!stopped) throw UsageError{name + ": the last line must be \"<ms> stop\""};
  return capture;
}

std::string TakeText(const record::Capture& capture) {
  const uint32_t first = capture.CaptureCount > 0 ? capture.CaptureTimes[0] : capture.CaptureEnd;
  std::string text;
  for (int32_t i = 0; i < capture.CaptureCount; ++i) {
    const uint8_t note = capture.CaptureNotes[static_cast<size_t>(i)];
    text += std::to_string(capture.CaptureTimes[static_cast<size_t>(i)] - first) + " " +
            (note == record::kRestCode ? std::string("r") : std::to_string(note)) + "\n";
  }
  return text + std::to_string(capture.CaptureTimes[static_cast<size_t>(capture.CaptureCount)] - first) +
         " stop\n";
}

}  // namespace tools
