// Arbitrary bytes as a take of --record-to-mml: the parser gives a capture or a message naming the line,
// never a crash or a hang, and a capture it gives is one the recording could have made.
#include <cstddef>
#include <cstdint>
#include <string>

// The parser is compiled into this program itself: the command's folder is no library.
#include "tools/take_file.cpp"  // NOLINT(bugprone-suspicious-include)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const record::Capture capture = tools::ParseTake(text, "take");
    if (capture.CaptureCount < 0 || capture.CaptureCount > record::kMaxCaptureEvents) __builtin_trap();
    for (int32_t i = 0; i < capture.CaptureCount; ++i) {
      const uint8_t note = capture.CaptureNotes[i];
      if (note > 127 && note != record::kRestCode) __builtin_trap();
    }
    if (capture.CaptureEnd != capture.CaptureTimes[capture.CaptureCount]) __builtin_trap();
    if (capture.CaptureCount > 0 && capture.CaptureStart != capture.CaptureTimes[0]) __builtin_trap();
  } catch (const tools::UsageError& e) {
    if (e.Message.rfind("take", 0) != 0) __builtin_trap();
  }
  return 0;
}
