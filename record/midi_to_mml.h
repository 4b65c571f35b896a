// A whole Standard MIDI File turned into MML tracks: every channel of every file track becomes one or
// more MML tracks (voices), at the file's own time base, so that compiling the own-dialect text gives
// back the same notes, program and bank changes, controller values and tempo map.
//
//   record::SmfFile smf = record::ReadSmf(bytes);          // SmfError on a malformed file
//   record::MidiToMml mml = record::ConvertMidiToMml(smf, dialect);  // MidiToMmlError: see below
//   // mml.Text: one comment line and one text line per MML track; mml.LeftOut: what was dropped
//
// Own dialect, per MML track: ":n" (the first also "C<ticks per quarter>"), "O<channel>", "l<default>",
// "i16" (the gate is the whole note length), then notes, chords "{...}" and rests whose lengths make the
// onset grid; a note that sounds longer or shorter than its step carries its gate in ticks (",%g").
// The first voice of each channel also carries its program ("@p,lsb,msb"), "V", "v", "p", "M",
// "EA".."ED", pitch bend "B", and every other channel message through "%"; the first MML track carries
// the tempo changes ("t", or the raw tempo event where no whole tempo gives the file's microseconds),
// the system exclusive messages, and texts, markers, time and key signatures as raw meta events. A command
// that falls inside a note of its voice is placed after the voice with "=tick", so no note is cut.
//
// Other dialects: the same voices at 96 ticks per quarter note, one line per MML track in the
// dialect's characters, with "t" and "@" where they fall between notes; everything else is left out and
// counted in LeftOut.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>

#include "record/smf_reader.h"

namespace record {

// The file cannot be written as MML: more voices than the compiler has tracks, or a time beyond its
// 32-bit range. what() says why (ASCII).
class MidiToMmlError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr int kMmlTrackLimit = 32;

struct MidiToMml {
  std::string Text;        // ASCII; lines end in "\n" (the compiler wants CR LF)
  int32_t TrackCount = 0;  // MML tracks written; 0 when the file has no channel message nor tempo
  std::map<std::string, int64_t> LeftOut;  // what no command of the dialect carries, by kind, counted
  // Notes of a key struck twice at one tick on one channel with different velocities and lengths: the
  // compiler strikes the softer one first, so the first release ends it and the lengths may swap.
  int64_t SwappedNotes = 0;
};

// `dialect` 0..6 as in record/dialect.h (anything else is the own dialect). Throws MidiToMmlError.
MidiToMml ConvertMidiToMml(const SmfFile& file, int dialect);

}  // namespace record
