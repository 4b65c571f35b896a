// The capture record of a take: the notes and rests played while recording, with their key-down times.
//
// The main window owns one Capture and calls these operations from its key and message handlers; the
// window itself does the visible parts (the recording label, the overflow message box, the dialog).
#pragma once

#include <array>
#include <cstdint>

namespace record {

inline constexpr int32_t kCaptureCapacity = 4096;   // entries of CaptureNotes / CaptureTimes
inline constexpr int32_t kMaxCaptureEvents = 4095;  // the last CaptureTimes entry holds the stop time
inline constexpr uint8_t kRestCode = 255;           // CaptureNotes entry of a rest

// Times are milliseconds of the system clock (32 bits, wrapping); differences are taken as signed
// 32-bit numbers. Event i lasts from CaptureTimes[i] to CaptureTimes[i + 1]; the last one to the stop,
// which is CaptureTimes[CaptureCount].
struct Capture {
  bool Recording = false;
  int32_t CaptureCount = 0;                               // 0..4095
  std::array<uint8_t, kCaptureCapacity> CaptureNotes{};   // note 0..127, or kRestCode
  std::array<uint32_t, kCaptureCapacity> CaptureTimes{};  // key-down times; entry CaptureCount: stop
  uint32_t CaptureStart = 0;  // time of the first event; 0 while none has been captured
  uint32_t CaptureEnd = 0;    // latest note release while recording, finally the stop time
};

enum class ToggleResult {
  kStarted,  // recording is now on (the window turns its label red)
  kStopped,  // recording is now off; open the recording dialog when CaptureCount > 0, then EmptyCapture
};

// Return key / recording label. Off: resets the record and turns recording on. On: stores the stop
// time `now` in CaptureTimes[CaptureCount] and CaptureEnd, and turns recording off.
ToggleResult ToggleRecording(Capture& capture, uint32_t now);

enum class CaptureResult {
  kIgnored,   // not recording: nothing stored
  kStored,    // the event is stored
  kOverflow,  // the record was full: the take is discarded and recording is off; the window shows
              // "バッファオーバー" and turns its label back
};

// A sounded note (0..127) or a rest (kRestCode) while recording. `now` is read once per event: it
// becomes CaptureStart when this is the first event, and the event's time.
CaptureResult CaptureEvent(Capture& capture, uint8_t note, uint32_t now);

// A note released while recording: CaptureEnd := now.
void CaptureNoteRelease(Capture& capture, uint32_t now);

// Escape while recording: the take is discarded and recording is off.
void DiscardRecording(Capture& capture);

// After the recording dialog has closed (or none was opened): the capture is emptied.
void EmptyCapture(Capture& capture);

}  // namespace record
