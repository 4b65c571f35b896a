// Whole MIDI files to MML: generated files go through the own dialect and the compiler and must come back
// with the same notes, programs and banks, controller values, pitch bends and tempo map.
#include "record/midi_to_mml.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "mml/conv.h"
#include "mml/events.h"
#include "mml/state.h"
#include "record/dialect.h"
#include "record/smf_reader.h"

namespace record {
namespace {

using Bytes = std::vector<uint8_t>;

struct FileEvent {
  uint64_t Tick;
  Bytes Data;  // status and data bytes; FF type length bytes; F0 length bytes
};
using FileTrack = std::vector<FileEvent>;

void AppendVarLen(Bytes& out, uint64_t value) {
  Bytes groups = {static_cast<uint8_t>(value & 0x7F)};
  while (value >>= 7) groups.push_back(static_cast<uint8_t>(0x80 | (value & 0x7F)));
  out.insert(out.end(), groups.rbegin(), groups.rend());
}

void AppendChunk(Bytes& out, const char* id, const Bytes& data) {
  const uint32_t n = static_cast<uint32_t>(data.size());
  out.insert(out.end(), id, id + 4);
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(n >> shift));
  out.insert(out.end(), data.begin(), data.end());
}

// A format 1 file; each track's events are put in tick order (stable) and written with running status.
Bytes SmfBytes(uint16_t division, std::vector<FileTrack> tracks) {
  Bytes out;
  const uint16_t count = static_cast<uint16_t>(tracks.size());
  AppendChunk(out, "MThd",
              {0, 1, static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count),
               static_cast<uint8_t>(division >> 8), static_cast<uint8_t>(division)});
  for (FileTrack& track : tracks) {
    std::stable_sort(track.begin(), track.end(),
                     [](const FileEvent& a, const FileEvent& b) { return a.Tick < b.Tick; });
    Bytes data;
    uint64_t last = 0;
    uint8_t running = 0;
    for (const FileEvent& e : track) {
      AppendVarLen(data, e.Tick - last);
      last = e.Tick;
      const bool channel = e.Data[0] < 0xF0;
      data.insert(data.end(), e.Data.begin() + (channel && e.Data[0] == running ? 1 : 0), e.Data.end());
      running = channel ? e.Data[0] : 0;
    }
    data.insert(data.end(), {0, 0xFF, 0x2F, 0});
    AppendChunk(out, "MTrk", data);
  }
  return out;
}

FileEvent Tempo(uint64_t tick, uint32_t micros) {
  return {tick,
          {0xFF, 0x51, 3, static_cast<uint8_t>(micros >> 16), static_cast<uint8_t>(micros >> 8),
           static_cast<uint8_t>(micros)}};
}

// What a file means, read back in one merged stream (by tick; at one tick by track, then file order).
// Notes are paired first in, first out per channel and key.
struct Content {
  using NoteKey = std::tuple<int, int, int, int64_t, int64_t>;  // channel, key, velocity, onset, length
  std::vector<NoteKey> Notes;
  std::map<std::pair<int, int>, std::vector<std::pair<int64_t, int>>> Messages;  // (status, data1 or -1)
  std::vector<std::pair<int64_t, uint32_t>> Tempos;                              // the last one of each tick
  std::vector<std::pair<int64_t, Bytes>> SystemExclusive;
  std::vector<std::pair<int64_t, Bytes>> Meta;  // type and data
  uint16_t Division = 0;
};

Content Meaning(const Bytes& bytes) {
  SmfFile smf = ReadSmf(bytes);
  std::vector<std::pair<size_t, SmfEvent>> merged;
  for (size_t t = 0; t < smf.Tracks.size(); ++t) {
    for (const SmfEvent& e : smf.Tracks[t].Events) merged.emplace_back(t, e);
  }
  std::stable_sort(merged.begin(), merged.end(), [](const auto& a, const auto& b) {
    return a.second.Tick != b.second.Tick ? a.second.Tick < b.second.Tick : a.first < b.first;
  });
  Content c;
  c.Division = smf.Division;
  std::map<std::pair<int, int>, std::vector<size_t>> open;
  std::vector<std::tuple<int, int, int, int64_t, int64_t>> notes;
  for (const auto& [track, e] : merged) {
    const int64_t tick = static_cast<int64_t>(e.Tick);
    const int kind = e.Status >> 4;
    if (e.Status == 0xFF) {
      if (e.Data1 != 0x51) {
        // Texts, markers, time and key signatures and the first track's name stay.
        const bool carried =
            std::string_view("\x01\x02\x05\x06\x07\x58\x59").find(static_cast<char>(e.Data1)) !=
            std::string_view::npos;
        if (carried || (e.Data1 == 0x03 && track == 0)) {
          c.Meta.emplace_back(tick, Bytes{e.Data1});
          c.Meta.back().second.insert(c.Meta.back().second.end(), e.Payload.begin(), e.Payload.end());
        }
        continue;
      }
      const uint32_t micros = uint32_t{e.Payload[0]} << 16 | uint32_t{e.Payload[1]} << 8 | e.Payload[2];
      if (!c.Tempos.empty() && c.Tempos.back().first == tick) c.Tempos.pop_back();
      c.Tempos.emplace_back(tick, micros);
    } else if (e.Status == 0xF0) {
      c.SystemExclusive.emplace_back(tick, Bytes(e.Payload.begin(), e.Payload.end()));
    } else if (kind == 0x9 && e.Data2 > 0) {
      open[{e.Status & 0x0F, e.Data1}].push_back(notes.size());
      notes.emplace_back(e.Status & 0x0F, e.Data1, e.Data2, tick, -1);
    } else if (kind == 0x8 || kind == 0x9) {
      auto& queue = open[{e.Status & 0x0F, e.Data1}];
      if (queue.empty()) continue;
      auto& n = notes[queue.front()];
      std::get<4>(n) = tick - std::get<3>(n);
      queue.erase(queue.begin());
    } else if (kind == 0xE) {
      c.Messages[{e.Status, -1}].emplace_back(tick, e.Data1 | e.Data2 << 7);
    } else if (kind == 0xC || kind == 0xD) {
      // Of program changes at one tick only the last one counts.
      auto& list = c.Messages[{e.Status, -1}];
      if (kind == 0xC && !list.empty() && list.back().first == tick) list.pop_back();
      list.emplace_back(tick, e.Data1);
    } else {
      c.Messages[{e.Status, e.Data1}].emplace_back(tick, e.Data2);
    }
  }
  c.Notes = notes;
  std::sort(c.Notes.begin(), c.Notes.end());
  return c;
}

std::string CompilerText(const std::string& text) {
  std::string crlf;
  for (char ch : text) {
    if (ch == '\n') crlf += '\r';
    crlf += ch;
  }
  return crlf;
}

// The own-dialect text compiled, as the Standard MIDI File the compiler writes.
Bytes Compiled(const std::string& text) {
  mml::CompileMML(CompilerText(text), std::string(1, '\0'));
  std::string errors;
  for (const std::string& e : mml::ErrorList) errors += e + "\n";
  EXPECT_EQ(errors, "") << text;
  std::string smf = mml::BuildSmf(mml::EventList, mml::Timebase, mml::CutTime, mml::EndTime);
  return Bytes(smf.begin(), smf.end());
}

void ExpectSameMeaning(const Content& a, const Content& b, const std::string& text) {
  EXPECT_EQ(a.Division, b.Division);
  EXPECT_EQ(a.Notes, b.Notes) << text;
  EXPECT_EQ(a.Messages, b.Messages) << text;
  EXPECT_EQ(a.Tempos, b.Tempos) << text;
  EXPECT_EQ(a.SystemExclusive, b.SystemExclusive) << text;
  EXPECT_EQ(a.Meta, b.Meta) << text;
}

// ---- Generated songs ----

uint8_t Status(int kind, int channel) { return static_cast<uint8_t>(kind | channel); }

int Pick(std::mt19937& random, int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(random);
}

void AddNote(FileTrack& track, std::mt19937& random, int channel, uint64_t onset, uint64_t length, int key,
             int velocity) {
  track.push_back(
      {onset, {Status(0x90, channel), static_cast<uint8_t>(key), static_cast<uint8_t>(velocity)}});
  const bool noteOff = Pick(random, 0, 1) == 0;
  FileEvent off{onset + length,
                {static_cast<uint8_t>((noteOff ? 0x80 : 0x90) | channel), static_cast<uint8_t>(key),
                 static_cast<uint8_t>(noteOff ? Pick(random, 0, 127) : 0)}};
  // A release goes before a strike at the same tick, as in any written file: it is placed before every
  // note-on of its tick.
  auto at = std::find_if(track.begin(), track.end(), [&](const FileEvent& e) {
    return e.Tick == off.Tick && (e.Data[0] >> 4) == 0x9 && e.Data[2] > 0;
  });
  track.insert(at, off);
}

// One channel's music: lines of notes on a grid or played by hand, chords, overlaps, restruck keys, long
// notes over tempo changes; programs with banks, controllers with repeated values, sustain, bends.
void AddChannel(FileTrack& track, std::mt19937& random, int channel, uint16_t division, uint64_t songLength) {
  const int64_t grid = std::max(division / 4, 1);
  track.push_back({0, {Status(0xB0, channel), 0, static_cast<uint8_t>(Pick(random, 0, 2))}});
  if (Pick(random, 0, 1)) track.push_back({0, {Status(0xB0, channel), 32, 1}});
  track.push_back({0, {Status(0xC0, channel), static_cast<uint8_t>(Pick(random, 0, 127))}});
  uint64_t time = static_cast<uint64_t>(Pick(random, 0, 3)) * grid;
  while (time < songLength) {
    const int shape = Pick(random, 0, 9);
    const int key = Pick(random, 24, 100);
    const int velocity = Pick(random, 1, 127);
    uint64_t length = static_cast<uint64_t>(Pick(random, 1, 8)) * grid;
    if (shape == 0) length = static_cast<uint64_t>(Pick(random, 1, 3 * division));   // by hand
    if (shape == 1) length = static_cast<uint64_t>(Pick(random, 4, 24)) * division;  // over tempo changes
    if (shape == 2) {                                                                // a chord
      for (int n = Pick(random, 2, 4); n > 0; --n)
        AddNote(track, random, channel, time, length, key + n * 4, Pick(random, 1, 127));
    } else {
      AddNote(track, random, channel, time, length, key, velocity);
    }
    if (shape == 3) AddNote(track, random, channel, time + length / 2, length, key, velocity);  // restruck
    if (shape == 4) AddNote(track, random, channel, time, length * 2, key - 12, velocity);      // held below
    uint64_t step = shape == 1 ? length / static_cast<uint64_t>(Pick(random, 1, 6)) : length;
    if (shape == 5)
      step = std::max<uint64_t>(length - static_cast<uint64_t>(Pick(random, 1, 20)), 1);        // legato
    if (Pick(random, 0, 3) == 0) step += static_cast<uint64_t>(Pick(random, 1, 4 * division));  // a rest
    time += std::max<uint64_t>(step, 1);
  }
  const uint8_t status = Status(0xB0, channel);
  static const uint8_t kControllers[] = {7, 11, 10, 1, 91, 92, 93, 94, 64, 74, 0, 32, 5, 65, 67};
  for (int n = Pick(random, 0, 40); n > 0; --n) {
    const uint64_t tick = static_cast<uint64_t>(Pick(random, 0, static_cast<int>(songLength)));
    const int what = Pick(random, 0, 9);
    if (what < 5) {
      const uint8_t controller = kControllers[Pick(random, 0, sizeof kControllers - 1)];
      const uint8_t value = static_cast<uint8_t>(Pick(random, 0, 1) ? Pick(random, 0, 127) : 100);
      track.push_back({tick, {status, controller, value}});
      if (Pick(random, 0, 2) == 0)
        track.push_back({tick + static_cast<uint64_t>(Pick(random, 0, 50)), {status, controller, value}});
    } else if (what < 7) {
      const int bend = Pick(random, 0, 4) == 0 ? 0 : Pick(random, 0, 16383);
      track.push_back(
          {tick,
           {Status(0xE0, channel), static_cast<uint8_t>(bend & 0x7F), static_cast<uint8_t>(bend >> 7)}});
    } else if (what == 7) {
      track.push_back({tick, {Status(0xD0, channel), static_cast<uint8_t>(Pick(random, 0, 127))}});
    } else if (what == 8) {
      track.push_back({tick,
                       {Status(0xA0, channel), static_cast<uint8_t>(Pick(random, 0, 127)),
                        static_cast<uint8_t>(Pick(random, 0, 127))}});
    } else {
      track.push_back({tick, {status, 0, static_cast<uint8_t>(Pick(random, 0, 127))}});
      track.push_back({tick, {status, 32, static_cast<uint8_t>(Pick(random, 0, 127))}});
      track.push_back({tick, {Status(0xC0, channel), static_cast<uint8_t>(Pick(random, 0, 127))}});
    }
  }
}

Bytes RandomSong(std::mt19937& random) {
  static const uint16_t kDivisions[] = {96, 120, 192, 240, 384, 480, 960, 1000, 7, 24};
  const uint16_t division = kDivisions[Pick(random, 0, 9)];
  const uint64_t songLength = static_cast<uint64_t>(Pick(random, 4, 40)) * division;
  FileTrack conductor;
  static const uint32_t kTempos[] = {500000, 461538, 600000, 1000000, 454545, 250000};
  for (int n = Pick(random, 0, 6); n > 0; --n) {
    const uint64_t tick =
        Pick(random, 0, 2) == 0 ? 0 : static_cast<uint64_t>(Pick(random, 0, static_cast<int>(songLength)));
    conductor.push_back(Tempo(tick, Pick(random, 0, 1) ? kTempos[Pick(random, 0, 5)]
                                                       : static_cast<uint32_t>(Pick(random, 1, 0xFFFFFF))));
  }
  if (Pick(random, 0, 1)) conductor.push_back({0, {0xF0, 5, 0x7E, 0x7F, 0x09, 0x01, 0xF7}});
  conductor.push_back({0, {0xFF, 0x03, 4, 'S', 'o', 'n', 'g'}});
  conductor.push_back({0, {0xFF, 0x58, 4, 3, 2, 24, 8}});
  conductor.push_back({division, {0xFF, 0x59, 2, 0xFE, 1}});
  conductor.push_back({uint64_t{division} * 2, {0xFF, 0x06, 5, 'v', 'e', 'r', 's', 'e'}});
  Bytes text = {0xFF, 0x01, 0x81, 0x10};  // 144 bytes: a two-byte length
  text.resize(4 + 144, '~');
  conductor.push_back({3, text});
  std::vector<FileTrack> tracks = {conductor};
  std::vector<int> channels(16);
  for (int i = 0; i < 16; ++i) channels[i] = i;
  std::shuffle(channels.begin(), channels.end(), random);
  size_t next = 0;
  for (int t = Pick(random, 1, 8); t > 0; --t) {
    FileTrack track;
    for (int c = Pick(random, 1, 2); c > 0; --c)
      AddChannel(track, random, channels[next++], division, songLength);
    tracks.push_back(track);
  }
  return SmfBytes(division, tracks);
}

TEST(MidiToMml, GeneratedFilesComeBackThroughTheCompiler) {
  std::mt19937 random(20261209);
  int converted = 0;
  int tooManyTracks = 0;
  for (int round = 0; round < 300; ++round) {
    const Bytes file = RandomSong(random);
    MidiToMml mml;
    try {
      mml = ConvertMidiToMml(ReadSmf(file), kOwnDialect);
    } catch (const MidiToMmlError& e) {
      ASSERT_NE(std::string(e.what()).find("MML tracks; the compiler has 32"), std::string::npos) << e.what();
      ++tooManyTracks;
      continue;
    }
    ExpectSameMeaning(Meaning(file), Meaning(Compiled(mml.Text)), mml.Text);
    if (HasFailure()) break;
    ++converted;
  }
  EXPECT_GT(converted, 250);
  EXPECT_LT(tooManyTracks, 20);
}

// Published General MIDI songs, where a Debian package has put some (planetblupi-music-midi: ten songs of
// 9 to 18 voices and 12,000 to 28,000 notes): everything comes back but the lengths of double strikes that
// the conversion counts.
TEST(MidiToMml, InstalledSongsComeBack) {
  namespace fs = std::filesystem;
  const fs::path folder = "/usr/share/planetblupi/music";
  std::error_code error;
  if (!fs::is_directory(folder, error)) GTEST_SKIP() << folder << " is not installed";
  int songs = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    if (entry.path().extension() != ".mid") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const Bytes file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const MidiToMml mml = ConvertMidiToMml(ReadSmf(file), kOwnDialect);
    Content a = Meaning(file);
    Content b = Meaning(Compiled(mml.Text));
    std::vector<Content::NoteKey> onlyA;
    std::set_difference(a.Notes.begin(), a.Notes.end(), b.Notes.begin(), b.Notes.end(),
                        std::back_inserter(onlyA));
    EXPECT_EQ(static_cast<int64_t>(onlyA.size()), mml.SwappedNotes) << entry.path();
    a.Notes = b.Notes;
    ExpectSameMeaning(a, b, entry.path().string());
    ++songs;
  }
  EXPECT_GT(songs, 0);
}

// The other dialects get the same voices at 96 ticks a quarter note: each line, read back as the own
// dialect, strikes its notes where the scaled onsets are.
TEST(MidiToMml, OtherDialectsStrikeTheSameNotesAt96TicksAQuarter) {
  std::mt19937 random(7);
  for (int round = 0; round < 40; ++round) {
    const Bytes file = RandomSong(random);
    const Content meaning = Meaning(file);
    std::vector<std::pair<int64_t, int>> expected;
    for (const auto& [channel, key, velocity, onset, length] : meaning.Notes) {
      expected.emplace_back((onset * 96 + meaning.Division / 2) / meaning.Division, key);
    }
    std::sort(expected.begin(), expected.end());
    for (int dialect = 1; dialect < kDialectCount; ++dialect) {
      MidiToMml mml;
      try {
        mml = ConvertMidiToMml(ReadSmf(file), dialect);
      } catch (const MidiToMmlError&) {
        continue;
      }
      std::vector<std::pair<int64_t, int>> struck;
      size_t start = 0;
      for (size_t end; (end = mml.Text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = mml.Text.substr(start, end - start);
        if (line.starts_with(";")) continue;
        ASSERT_EQ(line.find_first_of(":{}C=iOsVvpBM"), std::string::npos) << line;
        mml::CompileMML(":1" + TurnDialectToOwn(line, dialect), std::string(1, '\0'));
        ASSERT_TRUE(mml::ErrorList.empty()) << dialect << ": " << line << "\n" << mml::ErrorList.front();
        for (const mml::TMidiBuffer& e : mml::EventList) {
          if ((e.Byte(0) & 0xF0) == 0x90 && e.Byte(2) > 0) struck.emplace_back(e.Time, e.Byte(1));
        }
      }
      std::sort(struck.begin(), struck.end());
      ASSERT_EQ(struck, expected) << "dialect " << dialect << "\n" << mml.Text;
    }
  }
}

// ---- Texts ----

FileTrack Notes(int channel, std::initializer_list<std::tuple<uint64_t, uint64_t, int, int>> notes) {
  std::mt19937 random(1);
  FileTrack track;
  for (const auto& [onset, length, key, velocity] : notes)
    AddNote(track, random, channel, onset, length, key, velocity);
  return track;
}

std::string OwnText(const Bytes& file) { return ConvertMidiToMml(ReadSmf(file), kOwnDialect).Text; }

TEST(MidiToMml, OwnDialectTexts) {
  struct Case {
    const char* name;
    Bytes file;
    const char* text;
  } cases[] = {
      {"a line, a chord, a staccato note and a rest at the file's time base",
       SmfBytes(480, {Notes(0, {{0, 480, 60, 100},
                                {480, 240, 62, 100},
                                {720, 240, 64, 100},
                                {720, 240, 67, 100},
                                {960, 100, 72, 90},
                                {1440, 480, 71, 90}})}),
       "; track 1: channel 1, program none, file track 1\n"
       ":1C480O1l4i16 o3cd8{e8g8}s90>c,%100<b\n"},
      {"tempo, program with bank, volume twice, pitch bend at its floor, sustain",
       SmfBytes(96, {{Tempo(0, 500000), Tempo(192, 461538), Tempo(384, 470000)},
                     {{0, {0xB1, 0, 2}},
                      {0, {0xB1, 32, 3}},
                      {0, {0xC1, 24}},
                      {0, {0xB1, 7, 100}},
                      {96, {0xB1, 7, 100}},
                      {96, {0xE1, 0, 0}},
                      {96, {0xE1, 0, 0x30}},
                      {192, {0xB1, 64, 127}},
                      {0, {0x91, 60, 100}},
                      {384, {0x81, 60, 0}}}}),
       "; track 1: channel 2, program 25, file track 2\n"
       ":1C96O2l1i16 t120@25,3,2V100o3c %255,81,3,7,43,240 =96 %176,7,100 %224,0,0B-2048 =192t130 "
       "%176,64,127\n"},
      {"notes struck together with different lengths go to a further track",
       SmfBytes(96, {Notes(9, {{0, 96, 36, 100}, {0, 48, 42, 100}, {48, 48, 42, 100}})}),
       "; track 1: channel 10, program none, file track 1, voice 1 of 2\n"
       ":1C96O10l8i16 o1f+f+\n"
       "; track 2: channel 10, program none, file track 1, voice 2 of 2\n"
       ":2O10l4i16 o1c\n"},
      {"a legato overlap stays in its voice with a longer gate; a note of no length gets one tick",
       SmfBytes(96, {Notes(0, {{0, 100, 60, 100}, {96, 96, 62, 100}, {192, 0, 64, 100}})}),
       "; track 1: channel 1, program none, file track 1\n"
       ":1C96O1l4i16 o3c,%100de384\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OwnText(c.file), c.text) << c.name;
  }
}

TEST(MidiToMml, OtherDialectTextsAndWhatTheyLeaveOut) {
  const Bytes file = SmfBytes(
      480, {{Tempo(0, 500000)},
            {{0, {0xC0, 0}}, {0, {0xB0, 7, 90}}, {960, {0xB0, 10, 30}}},
            Notes(0, {{0, 480, 60, 100}, {480, 240, 64, 80}, {480, 240, 67, 80}, {720, 2400, 72, 80}})});
  struct Case {
    int dialect;
    const char* line;
  } cases[] = {
      {1, "l8o3c4'eg'8>c4^1"},
      {2, "l8o3c4e0g>c4^1"},
      {4, "l8o3c4e0g>c4&c1"},
      {5, "l8o3c4e0g<c4&c1"},
  };
  for (const Case& c : cases) {
    MidiToMml mml = ConvertMidiToMml(ReadSmf(file), c.dialect);
    EXPECT_NE(mml.Text.find(std::string("\n") + c.line + "\n"), std::string::npos) << c.dialect << "\n"
                                                                                   << mml.Text;
    EXPECT_EQ(mml.LeftOut,
              (std::map<std::string, int64_t>{{"pan", 1}, {"velocity change", 1}, {"volume", 1}}));
  }
}

TEST(MidiToMml, OtherDialectsCountTheNotesRoundedTo96TicksAQuarter) {
  // At 480 a quarter, 5 ticks make one of 96: 101 ticks and an onset at 7 do not fit.
  const Bytes file = SmfBytes(480, {Notes(0, {{0, 480, 60, 100}, {480, 101, 62, 100}, {967, 100, 64, 100}})});
  MidiToMml mml = ConvertMidiToMml(ReadSmf(file), 2);
  EXPECT_EQ(mml.LeftOut,
            (std::map<std::string, int64_t>{{"time base (note rounded to 96 ticks a quarter note)", 2}}));
  EXPECT_TRUE(ConvertMidiToMml(ReadSmf(file), kOwnDialect).LeftOut.empty());
}

TEST(MidiToMml, FilesTheCompilerCannotHold) {
  FileTrack many;
  for (int i = 0; i < 33; ++i) many.push_back({0, {0x90, 60, 100}});
  for (int i = 0; i < 33; ++i) many.push_back({static_cast<uint64_t>(i + 1), {0x80, 60, 0}});
  try {
    ConvertMidiToMml(ReadSmf(SmfBytes(96, {many})), kOwnDialect);
    ADD_FAILURE() << "33 voices converted";
  } catch (const MidiToMmlError& e) {
    EXPECT_STREQ(e.what(), "the file needs 33 MML tracks; the compiler has 32");
  }
  // 20,000 notes struck together, each of its own length, on 16 channels: counted up to 256 voices.
  FileTrack crowd;
  for (int i = 0; i < 20000; ++i) crowd.push_back({0, {Status(0x90, i % 16), 60, 100}});
  for (int i = 0; i < 20000; ++i)
    crowd.push_back({static_cast<uint64_t>(i + 1), {Status(0x80, i % 16), 60, 0}});
  try {
    ConvertMidiToMml(ReadSmf(SmfBytes(96, {crowd})), kOwnDialect);
    ADD_FAILURE() << "20,000 voices converted";
  } catch (const MidiToMmlError& e) {
    EXPECT_STREQ(e.what(), "the file needs more than 256 MML tracks; the compiler has 32");
  }
  // A delta time holds 28 bits: text events every 2^28 - 1 ticks lead up to the note.
  FileTrack late = Notes(0, {{0x80000000u, 10, 60, 100}});
  for (uint64_t tick = 0x0FFFFFFF; tick < 0x80000000u; tick += 0x0FFFFFFF)
    late.push_back({tick, {0xFF, 0x01, 0}});
  try {
    ConvertMidiToMml(ReadSmf(SmfBytes(96, {late})), kOwnDialect);
    ADD_FAILURE() << "a time beyond 32 bits converted";
  } catch (const MidiToMmlError& e) {
    EXPECT_STREQ(e.what(), "the music runs to tick 2147483658; MML times end at tick 2147483647");
  }
  try {
    ConvertMidiToMml(ReadSmf(SmfBytes(1, {Notes(0, {{0, 0x30000, 60, 100}})})), 4);
    ADD_FAILURE() << "a note of 18,874,368 ticks at 96 a quarter converted";
  } catch (const MidiToMmlError& e) {
    EXPECT_STREQ(
        e.what(),
        "the music runs to tick 18874368 at 96 a quarter note; the other dialects are written up to tick "
        "16777216");
  }
}

// The compiler strikes the softer of two notes of one key at one tick first, so the first release then
// ends it: the lengths swap when the louder one was struck first and released first.
TEST(MidiToMml, DoubleStrikesWhoseLengthsSwapAreCounted) {
  struct Case {
    FileTrack track;
    int64_t swapped;
  } cases[] = {
      {{{0, {0x90, 60, 100}}, {0, {0x90, 60, 50}}, {10, {0x80, 60, 0}}, {20, {0x80, 60, 0}}}, 2},
      {{{0, {0x90, 60, 50}}, {0, {0x90, 60, 100}}, {10, {0x80, 60, 0}}, {20, {0x80, 60, 0}}}, 0},
      {{{0, {0x90, 60, 100}}, {0, {0x90, 60, 50}}, {10, {0x80, 60, 0}}, {10, {0x80, 60, 0}}}, 0},
      {{{0, {0x90, 60, 100}}, {0, {0x91, 60, 50}}, {10, {0x80, 60, 0}}, {20, {0x81, 60, 0}}}, 0},
  };
  for (const Case& c : cases) {
    const Bytes file = SmfBytes(96, {c.track});
    MidiToMml mml = ConvertMidiToMml(ReadSmf(file), kOwnDialect);
    EXPECT_EQ(mml.SwappedNotes, c.swapped);
    EXPECT_EQ(Meaning(file).Notes == Meaning(Compiled(mml.Text)).Notes, c.swapped == 0) << mml.Text;
  }
}

TEST(MidiToMml, SmpteTimeBecomesSecondsAsQuarterNotes) {
  // 25 frames of 40 ticks: 1000 ticks a second, a quarter note at tempo 60.
  const Bytes file =
      SmfBytes(static_cast<uint16_t>(0xE728), {Notes(0, {{0, 1000, 60, 100}, {1000, 500, 62, 100}})});
  Content back = Meaning(Compiled(OwnText(file)));
  EXPECT_EQ(back.Division, 1000);
  EXPECT_EQ(back.Tempos, (std::vector<std::pair<int64_t, uint32_t>>{{0, 1000000}}));
  EXPECT_EQ(back.Notes, Meaning(file).Notes);
}

// An outside reader of MIDI files agrees that the written file holds the same music.
TEST(MidiToMml, SmfCheckComparesTheRoundTripAsEqual) {
  const char* python = "/usr/bin/python3";
  const char* script = "/work/shared/tools/smfcheck.py";
  if (access(python, X_OK) != 0 || access(script, R_OK) != 0) GTEST_SKIP() << "smfcheck.py is not here";
  std::mt19937 random(99);
  const Bytes file = RandomSong(random);
  const Bytes back = Compiled(ConvertMidiToMml(ReadSmf(file), kOwnDialect).Text);
  const std::string a = testing::TempDir() + "midi_to_mml_" + std::to_string(getpid()) + "_a.mid";
  const std::string b = testing::TempDir() + "midi_to_mml_" + std::to_string(getpid()) + "_b.mid";
  std::ofstream(a, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  std::ofstream(b, std::ios::binary)
      .write(reinterpret_cast<const char*>(back.data()), static_cast<std::streamsize>(back.size()));
  const std::string command =
      std::string(python) + " " + script + " " + a + " --compare " + b + " >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  EXPECT_EQ(WEXITSTATUS(status), 0) << command;
  std::remove(a.c_str());
  std::remove(b.c_str());
}

// At a large time base a whole note is longer than one "%n" piece holds (65,536 ticks): the rest of a
// length beyond its whole notes is split into pieces the compiler accepts.
TEST(MidiToMml, LengthsBeyondOneStepPieceAtALargeTimeBase) {
  for (const uint64_t rest : {uint64_t{126091}, uint64_t{65537}, uint64_t{126092} * 3 + 100000}) {
    SCOPED_TRACE(rest);
    const Bytes file = SmfBytes(31523, {Notes(4, {{rest, 70000, 60, 100}, {rest + 200000, 10, 62, 90}})});
    EXPECT_EQ(Meaning(Compiled(OwnText(file))).Notes, Meaning(file).Notes);
  }
}

}  // namespace
}  // namespace record
