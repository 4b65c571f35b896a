// State that the port and the sequencer share, and the rules for who may touch it.
//
// Three threads meet here: the UI thread (every public function of port.h and sequencer.h), the
// sequencer's timer thread (SequencerTick only) and the thread of a MIDI input (SendFromInput only).
// The rules:
//  - Busy is the only lock. Both sides take it with one compare-and-swap from 0 to 1 and release it by
//    storing 0. The tick that cannot take it skips its period; the UI side sleeps 1 ms and tries again.
//  - PendingQueue and PendingCount: only while holding Busy.
//  - PlayFlags: atomic bit changes from both sides. The UI sets kPlaying (StartPlayback) and
//    kStopRequest/kVolumeChanged; the tick clears kPlaying (while holding Busy) and owns kLoopedThisTick.
//  - MasterVolume (port.h): atomic; written by the UI, read by both.
//  - Out, SupportsVolumeFlag, the song buffer, SongTimeBase and the player state: written by the UI only
//    while no tick can run (before the timer starts, or after StopPlayback has joined it); the tick
//    reads them (and owns the player state) while it runs.
//  - The device (Out) is called by the tick while kPlaying is set, by the UI or the input thread
//    otherwise, and by either of these two only while holding Busy: during playback their short messages
//    go into PendingQueue (or straight out after seeing kPlaying cleared), a long message goes out after
//    the queue has been sent. Out is set and cleared under Busy; the input thread spins for Busy (yield),
//    the UI side sleeps 1 ms.
//  - Out, the song buffer and the player state change only after StopPlayback has ended the timer
//    (killed and joined): never under a tick.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {
class MidiOutDevice;
}

namespace midi::detail {

inline constexpr uint32_t kPlaying = 1;
inline constexpr uint32_t kStopRequest = 2;
inline constexpr uint32_t kVolumeChanged = 4;
inline constexpr uint32_t kLoopedThisTick = 8;

inline constexpr int kPendingQueueSize = 32;
inline constexpr int kSysExBufferSize = 1024;

extern std::atomic<uint32_t> PlayFlags;
extern std::atomic<int32_t> Busy;
extern uint32_t PendingQueue[kPendingQueueSize];
extern int32_t PendingCount;
// The open device, or nullptr while the port is closed.
extern platform::MidiOutDevice* Out;

inline bool Playing() { return (PlayFlags.load(std::memory_order_acquire) & kPlaying) != 0; }

// One compare-and-swap 0 -> 1.
inline bool TryTakeBusy() {
  int32_t expected = 0;
  return Busy.compare_exchange_strong(expected, 1, std::memory_order_acq_rel, std::memory_order_acquire);
}
inline void ReleaseBusy() { Busy.store(0, std::memory_order_release); }
// The UI side: 1 ms sleeps until Busy is taken.
void TakeBusy();

// Tick side, holding Busy: sends the queued messages in order and empties the queue.
void SendPendingQueue();

}  // namespace midi::detail
