// A whole MIDI file turned into MML: a format 1 file of 16 tracks and 20,000 notes (chords, notes that
// overlap the next ones, staccato notes, controllers, pitch bends, tempo changes), read and converted
// into the own dialect. Target: under 100 ms a conversion.
#include "record/midi_to_mml.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "mml/conv.h"
#include "mml/events.h"
#include "mml/state.h"
#include "record/smf_reader.h"

namespace {

constexpr int kTracks = 16;
constexpr int kNotesPerPass = 29;  // notes in one pass of a track's repeat block
constexpr int kNotes = 20000;

// One track of the song, written by the compiler itself: its Standard MIDI File holds one MTrk chunk.
std::string TrackChunk(int track) {
  const int channel = track % 16;
  std::string text = ":1C480O" + std::to_string(channel + 1) + "@" + std::to_string(track * 7 + 1) + "o" +
                     std::to_string(2 + track % 4) + "l8";
  if (track == 0) text += "t120";
  text +=
      "[{0c4,%400e4,%400g4,%400} c,%500d16e16f,%30 g4 V90 a8,%100 b16.>c32<b16a16 B200 g2&8,%700 "
      "f16e16d16c16 p-20 r8 "
      "{0c8e8} d,%20e,%20 f+,%20 g8. B0 a16 b8 >c<b a4";
  if (track == 0) text += " t132";
  const int passes = (kNotes + kTracks * kNotesPerPass - 1) / (kTracks * kNotesPerPass);  // at least kNotes
  text += " V100 p0]" + std::to_string(passes) + "\r\n";
  mml::CompileMML(text, std::string(1, '\0'));
  const std::string smf = mml::BuildSmf(mml::EventList, mml::Timebase, mml::CutTime, mml::EndTime);
  return smf.substr(14);  // behind the 14-byte header chunk
}

std::string Song() {
  std::string file("MThd\0\0\0\6\0\1\0\x10\x01\xE0", 14);  // format 1, 16 tracks, 480 ticks a quarter
  for (int track = 0; track < kTracks; ++track) file += TrackChunk(track);
  return file;
}

void BM_MidiFileToMml(benchmark::State& state) {
  const std::string file = Song();
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(file.data()), file.size());
  size_t notes = 0;
  for (const record::SmfTrack& t : record::ReadSmf(bytes).Tracks) {
    for (const record::SmfEvent& e : t.Events) notes += (e.Status >> 4) == 0x9 && e.Data2 > 0;
  }
  size_t textBytes = 0;
  int tracks = 0;
  for (auto _ : state) {
    record::MidiToMml mml = record::ConvertMidiToMml(record::ReadSmf(bytes), 0);
    textBytes = mml.Text.size();
    tracks = mml.TrackCount;
    benchmark::DoNotOptimize(mml.Text.data());
  }
  state.counters["notes"] = static_cast<double>(notes);
  state.counters["mml_tracks"] = tracks;
  state.counters["text_bytes"] = static_cast<double>(textBytes);
  state.counters["notes_per_s"] =
      benchmark::Counter(static_cast<double>(notes), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_MidiFileToMml)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
