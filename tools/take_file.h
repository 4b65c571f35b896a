// The take file of --record-to-mml: one event a line, "<ms> <note 0-127 | r>", then "<ms> stop".
#pragma once

#include <string>

#include "record/capture.h"

namespace tools {

// An error for the user; the command prints it and exits with 2.
struct UsageError {
  std::string Message;
};

// The capture a take file describes; throws UsageError naming the take and the line.
record::Capture ParseTake(const std::string& text, const std::string& name);

// The take file of a stopped capture, its times counted from the first event (the clock's wrap never
// falls inside a take file); ParseTake reads it back into the same events, lengths and stop.
std::string TakeText(const record::Capture& capture);

}  // namespace tools
