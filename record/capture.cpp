#include "record/capture.h"

namespace record {

ToggleResult ToggleRecording(Capture& capture, uint32_t now) {
  if (!capture.Recording) {
    capture.Recording = true;
    capture.CaptureStart = 0;
    capture.CaptureEnd = 0;
    capture.CaptureCount = 0;
    return ToggleResult::kStarted;
  }
  capture.CaptureTimes[capture.CaptureCount] = now;
  capture.CaptureEnd = now;
  capture.Recording = false;
  return ToggleResult::kStopped;
}

CaptureResult CaptureEvent(Capture& capture, uint8_t note, uint32_t now) {
  if (!capture.Recording) return CaptureResult::kIgnored;
  if (capture.CaptureStart == 0) capture.CaptureStart = now;
  if (capture.CaptureCount >= kMaxCaptureEvents) {
    DiscardRecording(capture);
    return CaptureResult::kOverflow;
  }
  capture.CaptureNotes[capture.CaptureCount] = note;
  capture.CaptureTimes[capture.CaptureCount] = now;
  capture.CaptureCount += 1;
  return CaptureResult::kStored;
}

void CaptureNoteRelease(Capture& capture, uint32_t now) {
  if (capture.Recording) capture.CaptureEnd = now;
}

void DiscardRecording(Capture& capture) {
  capture.CaptureCount = 0;
  capture.Recording = false;
}

void EmptyCapture(Capture& capture) { capture.CaptureCount = 0; }

}  // namespace record
