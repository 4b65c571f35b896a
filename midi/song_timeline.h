// The song's own timing for offline rendering: walks a play image (see sequencer.h) and gives every
// message its exact sample from the ticks and the tempo map, without the 10 ms grid of the timer
// sequencer. Tempo events change the conversion of the deltas that follow them; the end of the song
// jumps back to the loop point as often as asked.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

namespace midi {

struct TimelineOptions {
  int32_t timebase = 96;       // ticks per quarter note of the image
  int32_t sampleRate = 44100;  // frames per second, at least 1
  int32_t loops = 0;           // how many more times a song with a loop point plays its loop
};

// A message on the timeline: channel messages with their status byte (running status resolved),
// system exclusive as F0 and its bytes, F7 escapes as the bytes alone, other system messages whole.
struct TimedMessage {
  int64_t sample = 0;  // the nearest sample to the event's exact time
  std::span<const uint8_t> bytes;
  int32_t loop = 0;  // jumps to the loop point before this message
};

struct TimelineSummary {
  int64_t endSample = 0;    // the end of the song, after the last loop
  int64_t passSample = 0;   // the end of the first pass (the first end of song)
  int64_t loopSample = -1;  // where the loop point was first passed; -1 without one
  int32_t loops = 0;        // jumps made
};

// Walks the image and calls `message` for each message in time order (nullptr: only the summary).
// The song starts with 500000 microseconds per quarter note. A loop body without any delta is jumped
// to once at most, as the sequencer does. An image cut short ends where it is cut.
TimelineSummary WalkTimeline(std::span<const uint8_t> image, const TimelineOptions& options,
                             const std::function<void(const TimedMessage&)>& message);

}  // namespace midi
