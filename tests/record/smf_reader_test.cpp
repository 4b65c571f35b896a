#include "record/smf_reader.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace record {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Chunk(const char* id, const Bytes& data) {
  uint32_t n = static_cast<uint32_t>(data.size());
  Bytes out = {uint8_t(id[0]),   uint8_t(id[1]),   uint8_t(id[2]),  uint8_t(id[3]),
               uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
  for (uint8_t b : data) out.push_back(b);
  return out;
}

// A file of the given format and division with one MTrk chunk per track body.
Bytes File(uint16_t format, uint16_t division, const std::vector<Bytes>& tracks) {
  uint16_t n = static_cast<uint16_t>(tracks.size());
  Bytes out = Chunk(
      "MThd", {0, uint8_t(format), uint8_t(n >> 8), uint8_t(n), uint8_t(division >> 8), uint8_t(division)});
  for (const Bytes& t : tracks) {
    Bytes chunk = Chunk("MTrk", t);
    out.insert(out.end(), chunk.begin(), chunk.end());
  }
  return out;
}

SmfTake Read(const Bytes& file) { return ReadSmfNotes(file); }

std::vector<std::pair<uint32_t, int>> Notes(const SmfTake& take) {
  std::vector<std::pair<uint32_t, int>> out;
  for (const SmfNote& n : take.Notes) out.emplace_back(n.TimeMs, n.Note);
  return out;
}

using NoteList = std::vector<std::pair<uint32_t, int>>;

TEST(SmfReader, NoteOnsOfEveryChannelButTenAtTheDefaultTempo) {
  // 96 ticks a quarter at 500000 us: a tick is 5208.33 us.
  Bytes track = {0x00, 0x90, 60,   100,  // C at 0
                 0x60, 0x80, 60,   0,    // note off at 96
                 0x00, 0x91, 64,   90,   // E on channel 2 at 96
                 0x00, 0x99, 36,   100,  // drum: not taken
                 0x00, 0x90, 67,   0,    // velocity 0: a note off
                 0x30, 0x90, 62,   1,    // D at 144
                 0x60, 0xFF, 0x2F, 0};   // end at 240
  SmfTake take = Read(File(0, 96, {track}));
  EXPECT_EQ(Notes(take), (NoteList{{0, 60}, {500, 64}, {750, 62}}));
  EXPECT_EQ(take.StopMs, 1250u);
}

TEST(SmfReader, TempoChangesOfAnyTrackApplyToAll) {
  Bytes conductor = {0x60, 0xFF, 0x51, 3, 0x0F, 0x42, 0x40,  // 1,000,000 us a quarter from tick 96
                     0x00, 0xFF, 0x2F, 0};
  Bytes notes = {0x81, 0x40, 0x90, 60,  100,  // tick 192: 500 + 1000 ms
                 0x60, 0x90, 62,   100,       // tick 288: 2500 ms
                 0x00, 0xFF, 0x2F, 0};
  Bytes late = {0x83, 0x60, 0xFF, 0x51, 3, 0x07, 0xA1, 0x20,  // tick 480: 500,000 again
                0x60, 0xFF, 0x2F, 0};                         // end at 576: 4500 + 500 ms
  SmfTake take = Read(File(1, 96, {conductor, notes, late}));
  EXPECT_EQ(Notes(take), (NoteList{{1500, 60}, {2500, 62}}));
  EXPECT_EQ(take.StopMs, 5000u);
}

TEST(SmfReader, SameMillisecondOrdersByTrackThenByOrderInTheTrack) {
  Bytes first = {0x00, 0x90, 70, 100, 0x00, 0x90, 50, 100, 0x00, 0xFF, 0x2F, 0};
  Bytes second = {0x00, 0x90, 40, 100, 0x00, 0x90, 80, 100, 0x00, 0xFF, 0x2F, 0};
  // Division 3 at 1500 us a quarter: a tick is 0.5 ms exactly, which rounds up to 1.
  Bytes third = {0x00, 0xFF, 0x51, 3, 0x00, 0x05, 0xDC, 0x01, 0x90, 30, 100, 0x00, 0xFF, 0x2F, 0};
  SmfTake take = Read(File(1, 3, {second, first, third}));
  EXPECT_EQ(Notes(take), (NoteList{{0, 40}, {0, 80}, {0, 70}, {0, 50}, {1, 30}}));
  EXPECT_EQ(take.StopMs, 1u);
}

TEST(SmfReader, RunningStatusAcrossMetaAndSysExAndNoEndOfTrack) {
  Bytes track = {0x00, 0x90, 60,   100,  0x60, 62,   100,       // running status
                 0x00, 0xFF, 0x01, 2,    'h',  'i',             // text
                 0x00, 0xF0, 2,    0x7E, 0xF7, 0x60, 64,  100,  // still running
                 0x00, 0xC0, 5,    0x00, 0xE0, 0,    64};       // program and bend; no end-of-track
  SmfTake take = Read(File(0, 96, {track}));
  EXPECT_EQ(Notes(take), (NoteList{{0, 60}, {500, 62}, {1000, 64}}));
  EXPECT_EQ(take.StopMs, 1000u);
}

TEST(SmfReader, SmpteDivisionAndUnknownChunks) {
  Bytes track = {0x87, 0x68, 0x90, 60, 100, 0x00, 0xFF, 0x2F, 0};  // tick 1000
  Bytes file = File(0, 0xE728, {track});                           // 25 fps x 40: a tick is 1 ms
  Bytes extra = Chunk("XYZW", {1, 2, 3});
  file.insert(file.begin() + 14, extra.begin(), extra.end());
  EXPECT_EQ(Notes(Read(file)), (NoteList{{1000, 60}}));
  // 30-frame drop-frame (29.97 fps) x 100: tick 2997 is 999,999 us.
  Bytes drop = {0x97, 0x35, 0x90, 60, 100, 0x00, 0xFF, 0x2F, 0};
  EXPECT_EQ(Notes(Read(File(0, 0xE364, {drop}))), (NoteList{{1000, 60}}));
}

TEST(SmfReader, MalformedFilesAreErrors) {
  Bytes eot = {0x00, 0xFF, 0x2F, 0};
  Bytes truncatedChunk = File(0, 96, {eot});
  truncatedChunk.pop_back();
  Bytes longHeader = Chunk("MThd", {0, 0, 0, 1, 0, 96, 0xAA});
  Bytes longHeaderTrack = Chunk("MTrk", eot);
  longHeader.insert(longHeader.end(), longHeaderTrack.begin(), longHeaderTrack.end());
  Bytes missingTrack = File(1, 96, {eot});
  missingTrack[11] = 2;
  struct Case {
    const char* what;
    Bytes file;
    const char* message;
  } cases[] = {
      {"empty", {}, "file ends inside the header"},
      {"not a MIDI file", {'R', 'I', 'F', 'F', 0, 0, 0, 0}, "no MThd"},
      {"short header", Chunk("MThd", {0, 0, 0, 1}), "shorter than 6"},
      {"format 2", File(2, 96, {eot}), "format 2"},
      {"division 0", File(0, 0, {eot}), "division of 0"},
      {"SMPTE ticks 0", File(0, 0xE700, {eot}), "SMPTE"},
      {"missing track", missingTrack, "before track 2 of 2"},
      {"truncated chunk", truncatedChunk, "inside a track chunk"},
      {"data byte first", File(0, 96, {{0x00, 60, 100}}), "without a status"},
      {"five-byte delta", File(0, 96, {{0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 60, 1}}), "longer than four"},
      {"system common", File(0, 96, {{0x00, 0xF2, 0, 0}}), "no file event"},
      {"status inside a message", File(0, 96, {{0x00, 0x90, 60, 0x90}}), "inside a channel message"},
      {"message cut short", File(0, 96, {{0x00, 0x90, 60}}), "inside a channel message"},
      {"meta cut short", File(0, 96, {{0x00, 0xFF, 0x01, 5, 'a'}}), "inside a meta event"},
      {"short tempo", File(0, 96, {{0x00, 0xFF, 0x51, 2, 1, 2}}), "tempo event"},
      {"too long", File(0, 1, {{0x00, 0xFF, 0x51, 3, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x90, 60, 1}}),
       "longer than 2^31"},
  };
  for (const Case& c : cases) {
    try {
      Read(c.file);
      ADD_FAILURE() << c.what << ": no error";
    } catch (const SmfError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.what << ": " << e.what();
    }
  }
  EXPECT_NO_THROW(Read(longHeader));
}

TEST(SmfReader, FileWithoutTracksOrNotesGivesAnEmptyTake) {
  EXPECT_TRUE(Read(File(1, 96, {})).Notes.empty());
  SmfTake take = Read(File(0, 96, {{0x60, 0x99, 36, 100, 0x00, 0xFF, 0x2F, 0}}));
  EXPECT_TRUE(take.Notes.empty());
  EXPECT_EQ(take.StopMs, 500u);
}

}  // namespace
}  // namespace record
