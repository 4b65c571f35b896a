// The timer sequencer: plays a compiled song (the play image) on the open port. A periodic 10 ms timer
// calls SequencerTick, which sends each event when it is due within the next 5 ms (or late), follows
// tempo changes, jumps back to the loop point at the end of the song and otherwise stops by itself.
//
// The play image is a byte stream of (delta, event) pairs; deltas are variable-length numbers, events
// are channel messages (with running status), F0/F7 system exclusive, other system messages and FF
// control events: FF 00 end of song, FF 01 tttttt tempo, FF 02 x (no effect), FF 03 loop point.
//
// Threads: SequencerTick runs on the timer thread; everything else is for the UI thread.
#pragma once

#include <cstdint>
#include <span>

namespace platform {
class PeriodicTimer;
}

namespace midi {

// Ticks per quarter note of the play image (96 unless the compiler says otherwise). Set only while no
// song plays.
extern int32_t SongTimeBase;

// Stops a running playback, frees the previous buffer and allocates `size` bytes (a negative size counts
// as 0). The caller fills the buffer and sets SongTimeBase before StartPlayback.
uint8_t* AllocSongBuffer(int32_t size);
// Stops a running playback and frees the buffer; the song size becomes -1.
void FreeSongBuffer();
// Size of the song buffer in bytes; -1 when there is none.
int32_t SongSize();

// Starts playing the song buffer from its beginning; only while the port is open. The first event
// sounds 100 ms after the start plus its own delta.
void StartPlayback();
// Asks the tick to stop and waits (100 ms sleeps, up to 3 s) until it has stopped the timer and reset
// the port; only while the port is open. Returns at once when nothing plays. Afterwards no tick runs:
// a timer that has not stopped by then is killed and joined (a tick stalled in the device is waited
// for), and a song it left playing is stopped here.
void StopPlayback();
// The timer callback (timer thread).
void SequencerTick();
bool IsPlaying();
// The clock value from which the song's times count (TimeGetTime at StartPlayback + 1): an event whose
// ticks add up to T milliseconds is due at PlaybackStartTime() + 100 + T.
uint32_t PlaybackStartTime();
// Jumps to the loop point since StartPlayback.
int32_t LoopCount();

// Replaces the real timer thread (nullptr returns to it). Only while nothing plays.
void SetTimerForTesting(platform::PeriodicTimer* timer);
// Program end: joins the timer thread.
void StopTimerThread();

// Connects the compiler's test-play output (output name 0xFF) to the song buffer: the image is copied
// into a new song buffer and SongTimeBase is set from the compiler's time base.
void ConnectCompilerHandOver();
// What that hand-over does, for callers that hold an image themselves.
void LoadSong(std::span<const uint8_t> image, int32_t timebase);

}  // namespace midi
