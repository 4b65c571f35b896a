// Reading a Standard MIDI File: every event of every track in ticks (ReadSmf), or the notes as a take:
// the note-ons of every channel but the drum channel 10, with their times in milliseconds.
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

// One event of a track. Channel messages keep their status and data bytes; meta events and system
// exclusive their payload, which points into the bytes the file was read from.
struct SmfEvent {
  uint64_t Tick;
  uint8_t Status;  // 0x80..0xEF a channel message, 0xF0 or 0xF7 system exclusive, 0xFF a meta event
  uint8_t Data1;   // channel messages: the first data byte; meta events: the type
  uint8_t Data2;   // channel messages with two data bytes: the second
  std::span<const uint8_t> Payload;  // meta events and system exclusive: the bytes behind the length
};

struct SmfTrack {
  std::vector<SmfEvent> Events;  // in file order (so by tick), without the end of track
  uint64_t EndTick = 0;          // the end-of-track event, or the last event's tick without one
};

struct SmfFile {
  uint16_t Division = 0;  // ticks per quarter note, or SMPTE frames (bit 15) and ticks per frame
  std::vector<SmfTrack> Tracks;
};

// Every MTrk chunk of a format 0 or 1 file (other chunks are skipped). Running status is resolved.
// Throws SmfError on a malformed file or a tick beyond 2^48; never reads outside `bytes`, which must
// outlive the result.
SmfFile ReadSmf(std::span<const uint8_t> bytes);

// Frames per second of an SMPTE division (bit 15 set): 24, 25, 29 (30 drop-frame) or 30 in a good file.
int SmpteFrames(uint16_t division);

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
