#include "midi/sequencer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include "midi/drive_state.h"
#include "midi/port.h"
#include "platform/clock.h"
#include "platform/midi_out.h"
#include "platform/timer.h"

namespace midi {

int32_t SongTimeBase = 96;

using namespace detail;

namespace {

constexpr uint32_t kTimerPeriodMs = 10;
constexpr uint32_t kFirstEventMs = 100;
constexpr int32_t kLookAheadMs = 5;
constexpr uint32_t kStopSleepMs = 100;
// StopPlayback gives a live timer this long to stop the song before it ends the timer itself.
constexpr uint32_t kStopWaitLimitMs = 3000;
// Longest wait a single delta may add; keeps the signed "ahead" comparison meaningful.
constexpr uint64_t kMaxDeltaMs = 1u << 30;

std::unique_ptr<uint8_t[]> SongBuffer;
int32_t SongBytes = -1;

platform::ThreadTimer RealTimer;
platform::PeriodicTimer* TestTimer = nullptr;
platform::PeriodicTimer& Timer() { return TestTimer ? *TestTimer : RealTimer; }

// The player state: set by StartPlayback before the timer starts, then owned by the tick.
struct Player {
  int32_t position = 0;
  int64_t pendingDelta = -1;   // -1 before the first delta and after a jump to the loop point
  uint32_t nextEventTime = 0;  // ms since startTime, wrapping like the clock
  uint32_t startTime = 0;
  int64_t usPerTick = 0;
  int32_t loopPoint = -1;
  uint8_t runningStatus = 0;
};
Player P;
// Jumps to the loop point since the start; the tick counts, any thread reads.
std::atomic<int32_t> Loops{0};

uint8_t SysExBuffer[kSysExBufferSize];
int32_t SysExLength = 0;

int32_t TimeBase() { return std::max<int32_t>(SongTimeBase, 1); }

// Sends the system-exclusive buffer as one long message and empties it.
void SendSysEx() {
  Out->LongMsg(std::span<const uint8_t>(SysExBuffer, static_cast<size_t>(SysExLength)));
  SysExLength = 0;
}

int32_t Remaining() { return SongBytes - P.position; }

// A variable-length number at the position. False, with the position at the end of the image, when the
// image ends inside it.
bool ReadVarLen(uint32_t* value) {
  uint32_t v = 0;
  while (P.position < SongBytes) {
    const uint8_t b = SongBuffer[P.position++];
    v = (v << 7) | (b & 0x7F);
    if ((b & 0x80) == 0) {
      *value = v;
      return true;
    }
  }
  return false;
}

// Delta ticks in whole milliseconds, rounding a remainder of 500 microseconds or more up.
uint32_t DeltaMilliseconds(uint32_t delta) {
  const uint64_t us = static_cast<uint64_t>(delta) * static_cast<uint64_t>(P.usPerTick);
  uint64_t ms = us / 1000 + (us % 1000 >= 500 ? 1 : 0);
  return static_cast<uint32_t>(std::min(ms, kMaxDeltaMs));
}

enum class EventResult { kNext, kJumped, kStop };

// End of song: jump to the loop point unless there is none or a jump already happened in this tick.
EventResult EndOfSong() {
  if (P.loopPoint < 0 || (PlayFlags.load(std::memory_order_acquire) & kLoopedThisTick)) {
    return EventResult::kStop;
  }
  P.position = P.loopPoint;
  P.pendingDelta = -1;
  PlayFlags.fetch_or(kLoopedThisTick, std::memory_order_acq_rel);
  Loops.fetch_add(1, std::memory_order_relaxed);
  return EventResult::kJumped;
}

// A short message with status byte `status` and `dataBytes` data bytes at the position.
EventResult SendShortEvent(uint8_t status, int32_t dataBytes) {
  if (Remaining() < dataBytes) {
    return EndOfSong();
  }
  uint32_t packed = status;
  for (int32_t i = 0; i < dataBytes; ++i) {
    packed |= static_cast<uint32_t>(SongBuffer[P.position + i]) << (8 * (i + 1));
  }
  P.position += dataBytes;
  Out->ShortMsg(packed);
  return EventResult::kNext;
}

// F0 n bytes (sent with the F0 in front) or F7 n bytes (sent alone). An event that would not fit the
// 1024-byte buffer is skipped whole rather than cut or copied past the buffer.
EventResult SysExEvent(uint8_t status) {
  uint32_t length;
  if (!ReadVarLen(&length) || length > static_cast<uint32_t>(Remaining())) {
    return EndOfSong();
  }
  const int32_t prefix = status == 0xF0 ? 1 : 0;
  if (length + prefix <= static_cast<uint32_t>(kSysExBufferSize)) {
    SysExLength = 0;
    if (prefix) SysExBuffer[SysExLength++] = 0xF0;
    std::memcpy(SysExBuffer + SysExLength, &SongBuffer[P.position], length);
    SysExLength += static_cast<int32_t>(length);
    SendSysEx();
  }
  P.position += static_cast<int32_t>(length);
  return EventResult::kNext;
}

EventResult ControlEvent() {
  if (Remaining() < 1) {
    return EndOfSong();
  }
  const uint8_t type = SongBuffer[P.position++];
  switch (type) {
    case 0:
      return EndOfSong();
    case 1: {
      if (Remaining() < 3) return EndOfSong();
      const uint8_t* t = &SongBuffer[P.position];
      const int64_t tempo = (int64_t{t[0]} << 16) | (int64_t{t[1]} << 8) | t[2];
      P.usPerTick = tempo / TimeBase();
      P.position += 3;
      return EventResult::kNext;
    }
    case 2:
      if (Remaining() < 1) return EndOfSong();
      P.position += 1;
      return EventResult::kNext;
    case 3:
      P.loopPoint = P.position;
      return EventResult::kNext;
    default:
      return EventResult::kNext;
  }
}

// The event at the position. Whatever the tick cannot read (the end of the buffer, an event cut off by
// it, data bytes without a status to run on) counts as the end of the song, so an image without its end
// event stops, or loops, like one with it.
EventResult PlayEvent() {
  if (Remaining() < 1) {
    return EndOfSong();
  }
  const uint8_t first = SongBuffer[P.position];
  if (first < 0x80) {
    const int32_t length = platform::ShortMessageLength(P.runningStatus);
    if (P.runningStatus == 0xF0 || length < 2) {
      return EndOfSong();
    }
    return SendShortEvent(P.runningStatus, length - 1);
  }
  ++P.position;
  if (first == 0xFF) {
    return ControlEvent();
  }
  if (first == 0xF7) {
    return SysExEvent(first);
  }
  P.runningStatus = first;
  if (first == 0xF0) {
    return SysExEvent(first);
  }
  return SendShortEvent(first, platform::ShortMessageLength(first) - 1);
}

void EndTick() {
  if (PlayFlags.fetch_and(~kVolumeChanged, std::memory_order_acq_rel) & kVolumeChanged) {
    ApplyMasterVolume();
  }
  PlayFlags.fetch_and(~kLoopedThisTick, std::memory_order_acq_rel);
  ReleaseBusy();
}

// The caller holds Busy: the timer is killed, the port is reset and the song ends. The playing flag is
// cleared only after the reset: until then the UI side waits for Busy instead of sending straight to the
// device, so nothing it sends lands inside the reset sequence.
void StopSong() {
  Timer().Kill();
  ResetPort();
  PlayFlags.fetch_and(~kPlaying, std::memory_order_acq_rel);
  PlayFlags.fetch_and(~kLoopedThisTick, std::memory_order_acq_rel);
  ReleaseBusy();
}

}  // namespace

uint8_t* AllocSongBuffer(int32_t size) {
  FreeSongBuffer();
  size = std::max<int32_t>(size, 0);
  SongBuffer = std::make_unique<uint8_t[]>(static_cast<size_t>(std::max<int32_t>(size, 1)));
  SongBytes = size;
  return SongBuffer.get();
}

void FreeSongBuffer() {
  // The tick reads the buffer: never free it under a playing song.
  StopPlayback();
  SongBuffer.reset();
  SongBytes = -1;
}

int32_t SongSize() { return SongBytes; }

void StartPlayback() {
  if (!PortIsOpen()) {
    return;
  }
  StopPlayback();
  SysExLength = 0;
  P = Player{};
  Loops.store(0, std::memory_order_relaxed);
  P.usPerTick = 500000 / TimeBase();
  SetMasterVolume(MasterVolume.load(std::memory_order_acquire));
  // The input thread may be sending: the queue and the flag change under Busy.
  TakeBusy();
  PendingCount = 0;
  PlayFlags.fetch_or(kPlaying, std::memory_order_acq_rel);
  ReleaseBusy();

  const platform::TimerCaps caps = platform::TimeGetDevCaps();
  const uint32_t resolution = std::min(std::max<uint32_t>(caps.periodMin, 1), caps.periodMax);
  P.startTime = platform::TimeGetTime() + 1;
  P.nextEventTime = kFirstEventMs;
  if (!Timer().Start(kTimerPeriodMs, resolution, SequencerTick)) {
    // Nothing will ever clear it otherwise, and StopPlayback would wait for a tick that never comes.
    PlayFlags.fetch_and(~kPlaying, std::memory_order_acq_rel);
  }
}

void StopPlayback() {
  if (!PortIsOpen()) {
    return;
  }
  PlayFlags.fetch_or(kStopRequest, std::memory_order_acq_rel);
  for (uint32_t waited = 0; Playing() || Busy.load(std::memory_order_acquire) > 0; waited += kStopSleepMs) {
    if (!Timer().Alive() || waited >= kStopWaitLimitMs) {
      break;
    }
    platform::SleepMilliseconds(kStopSleepMs);
  }
  // Whatever the wait gave, the timer ends here: a tick stalled in a slow device finishes first, and no
  // tick runs after this point, so the song buffer and the device can be let go.
  Timer().Join();
  if (Playing() && TryTakeBusy()) {
    // The timer is gone without stopping the song: stop it here as its last tick would have, with what
    // SendShort queued for that tick sent first.
    SendPendingQueue();
    StopSong();
  }
  PlayFlags.fetch_and(~kStopRequest, std::memory_order_acq_rel);
}

void SequencerTick() {
  if (!TryTakeBusy()) {
    return;  // the UI side holds Busy: skip this period
  }
  SendPendingQueue();
  if (PlayFlags.load(std::memory_order_acquire) & kStopRequest) {
    StopSong();
    return;
  }
  for (;;) {
    const uint32_t now = platform::TimeGetTime() - P.startTime;
    if (static_cast<int32_t>(P.nextEventTime - now) > kLookAheadMs) {
      break;
    }
    // The events due at nextEventTime: the one waited for, then those with delta 0 behind it.
    for (;;) {
      if (P.pendingDelta != -1) {
        if (PlayEvent() == EventResult::kStop) {
          StopSong();
          return;
        }
      }
      uint32_t delta = 0;
      ReadVarLen(&delta);  // at the end of the image the delta is 0 and the next event is the end
      P.pendingDelta = delta;
      if (delta != 0) {
        P.nextEventTime += DeltaMilliseconds(delta);
        break;
      }
    }
  }
  EndTick();
}

bool IsPlaying() { return Playing(); }

uint32_t PlaybackStartTime() { return P.startTime; }

int32_t LoopCount() { return Loops.load(std::memory_order_relaxed); }

void SetTimerForTesting(platform::PeriodicTimer* timer) { TestTimer = timer; }

void StopTimerThread() { RealTimer.Join(); }

void LoadSong(std::span<const uint8_t> image, int32_t timebase) {
  if (image.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    FreeSongBuffer();
    return;
  }
  uint8_t* buffer = AllocSongBuffer(static_cast<int32_t>(image.size()));
  if (!image.empty()) std::memcpy(buffer, image.data(), image.size());
  SongTimeBase = timebase;
}

}  // namespace midi
