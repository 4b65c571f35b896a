// Reading the notes of a Standard MIDI File as a take: the note-ons of every channel but the drum
// channel 10, with their times in milliseconds.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

namespace record {

// The file is not a Standard MIDI File this reader can take; what() says why (ASCII).
class SmfError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct SmfNote {
  uint32_t TimeMs;
  uint8_t Note;
};

struct SmfTake {
  std::vector<SmfNote> Notes;  // by time, then track, then order within the track
  uint32_t StopMs = 0;         // the latest end-of-track time
};

// Formats 0 and 1, metrical or SMPTE division, the tempo changes of every track applied to all.
// Times are exact integer microseconds over the tempo map, rounded to the nearest millisecond (half up).
// Note-ons with velocity 0 are note-offs and are not taken. Throws SmfError on a malformed file or one
// longer than 2^31 ms; never reads outside `bytes`.
SmfTake ReadSmfNotes(std::span<const uint8_t> bytes);

}  // namespace record
