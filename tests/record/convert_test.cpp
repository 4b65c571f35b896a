#include "record/convert.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

namespace record {
namespace {

// A stopped take: (time, note) per event, then the stop time.
Capture Take(std::initializer_list<std::pair<uint32_t, int>> events, uint32_t stop) {
  Capture c;
  for (auto [time, note] : events) {
    c.CaptureNotes[c.CaptureCount] = static_cast<uint8_t>(note);
    c.CaptureTimes[c.CaptureCount] = time;
    c.CaptureCount += 1;
  }
  c.CaptureTimes[c.CaptureCount] = stop;
  c.CaptureStart = c.CaptureTimes[0];
  c.CaptureEnd = stop;
  return c;
}

Capture WorkedExample() { return Take({{1000, 60}, {1500, 62}, {1750, 64}, {2500, 65}}, 3000); }

TEST(RoundToStep, RoundsHalfStepsNeitherWay) {
  const int32_t cases[][3] = {{24, 48, 24},   {25, 48, 48},   {23, 48, 0}, {0, 48, 0}, {96, 48, 96},
                              {120, 48, 120}, {121, 48, 144}, {4, 3, 4},   {5, 3, 6},  {-25, 48, 0},
                              {-30, 48, 0},   {7, 1, 7},      {7, 0, 7}};
  for (const auto& c : cases) EXPECT_EQ(RoundToStep(c[0], c[1]), c[2]) << c[0] << " step " << c[1];
}

TEST(NoteLengthText, WritesTiesTheDialectsWay) {
  struct Case {
    int32_t ticks, defaultTicks;
    int dialect;
    const char* name;
    const char* text;
  } cases[] = {
      {0, 96, 0, "c", "0"},      {0, -1, 4, "c", "0"},        {240, 96, 0, "c", "8&2"},
      {240, 96, 1, "c", "8^2"},  {240, 96, 2, "c", "8^2"},    {240, 96, 3, "c", "8&2"},
      {240, 96, 4, "c", "8&c2"}, {240, 96, 5, "c+", "8&c+2"}, {240, 96, 6, "r", "8&r2"},
      {240, 48, 0, "c", "&2"},   {240, 48, 4, "c", "&c2"},    {120, 96, 1, "c", "16^"},
      {96, 96, 4, "c", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NoteLengthText(c.ticks, c.defaultTicks, c.dialect, c.name), c.text)
        << c.ticks << " ticks in dialect " << c.dialect;
  }
}

TEST(NoteLengthText, SakuraPutsTheStepPieceLastAndWritesLaterDotsInFull) {
  struct Case {
    int32_t ticks, defaultTicks;
    int dialect;
    const char* text;
  } cases[] = {
      // The step piece last: 66 and 98 ticks; the other dialects keep it first.
      {66, 96, 1, "6^%2"},
      {66, -1, 1, "6^%2"},
      {98, 96, 1, "^%2"},
      {66, 96, 0, "%2&6"},
      {66, 96, 2, "%2^6"},
      {98, 96, 2, "%2^"},
      // A dot-only piece after the first is the default length's text with its dots.
      {156, 96, 1, "32^4."},
      {180, 96, 1, "32^4.."},
      {156, 96, 0, "32&."},
      {156, 96, 2, "32^."},
      {76, 48, 1, "96^8."},
      {88, 48, 1, "96^8.."},
      // First it stays a bare dot, also where the step piece moved away from the front.
      {144, 96, 1, "."},
      {168, 96, 1, ".."},
      {146, 96, 1, ".^%2"},
      // Pieces without a step or a later dot are as in the other dialects.
      {240, 96, 1, "8^2"},
      {240, 48, 1, "^2"},
      {1248, 96, 1, "^1.^1."},
      {120, 96, 1, "16^"},
      {98, 2, 1, "^4"},
      {0, 96, 1, "0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NoteLengthText(c.ticks, c.defaultTicks, c.dialect, "c"), c.text)
        << c.ticks << " ticks, default " << c.defaultTicks << ", dialect " << c.dialect;
  }
}

struct BuildCase {
  const char* what;
  std::initializer_list<int> notes;
  std::initializer_list<int32_t> lengths;
  int32_t defaultTicks;
  int dialect;
  const char* mml;
};

template <size_t N>
void ExpectBuilt(const BuildCase (&cases)[N]) {
  for (const BuildCase& c : cases) {
    Capture capture;
    for (int note : c.notes) capture.CaptureNotes[capture.CaptureCount++] = static_cast<uint8_t>(note);
    ConvertState state{std::vector<int32_t>(c.lengths), 0, c.defaultTicks};
    EXPECT_EQ(BuildMML(capture, state, c.dialect), c.mml) << c.what;
  }
}

TEST(BuildMML, WritesEveryDialect) {
  const BuildCase cases[] = {
      {"own example", {60, 64, 72, 255}, {96, 48, 144, 96}, 96, 0, "ce8>c.r"},
      {"chord, own", {60, 64, 67, 60}, {0, 0, 96, 96}, 48, 0, "{ce4g4}c4"},
      {"chord, Sakura", {60, 64, 67}, {0, 0, 96}, 48, 1, "'ceg'4"},
      {"chord, mml2mid", {60, 64, 67}, {0, 0, 96}, 48, 2, "c0e0g4"},
      {"chord, Mabinogi", {60, 64, 67}, {0, 0, 96}, 48, 6, "c0e0g4"},
      {"chord with an octave change", {60, 76}, {0, 96}, 48, 0, "{c4>e4}"},
      {"Hatena octaves", {60, 72, 60}, {96, 96, 96}, 96, 5, "c<c>c"},
      {"octaves measured note to note", {36, 72, 255, 60}, {96, 96, 96, 96}, 96, 0, "c>>>cr<c"},
      {"rest first gives no octave change", {255, 72}, {48, 96}, 96, 0, "r8c"},
      {"zero rest with brackets", {255, 60}, {0, 96}, 96, 0, "r0c"},
      {"zero rest without brackets", {255, 60}, {0, 96}, 96, 3, "r0c"},
      {"long rest, PMD", {255}, {240}, 96, 4, "r8&r2"},
      {"five eighths, PMD", {60}, {240}, 96, 4, "c8&c2"},
      {"five eighths, Sakura", {60}, {240}, 96, 1, "c8^2"},
      {"default eighth", {60}, {240}, 48, 0, "c&2"},
      {"take ending in a chord, own", {60, 64}, {96, 0}, 96, 0, "c{e}"},
      {"take ending in a chord, Sakura", {60, 64, 67}, {96, 0, 0}, 96, 1, "c'eg'"},
      {"take ending in a chord, FMP", {60, 64}, {96, 0}, 96, 3, "ce0"},
      {"chord closed by a rest", {60, 255}, {0, 96}, 48, 0, "{cr4}"},
      {"unknown dialect is the own one", {60, 64}, {0, 96}, 96, 9, "{ce}"},
      {"sharps", {61, 66, 70}, {96, 96, 96}, 96, 0, "c+f+a+"},
  };
  ExpectBuilt(cases);
}

TEST(BuildMML, SakuraChordsCarryTheirWholeLengthBehindTheQuote) {
  const BuildCase cases[] = {
      {"five eighths", {60, 64, 67}, {0, 0, 240}, 96, 1, "'ceg'8^2"},
      {"the default length is written", {60, 64}, {0, 96}, 96, 1, "'ce'4"},
      {"a dotted default is written", {60, 64}, {0, 144}, 96, 1, "'ce'4."},
      {"the step piece last", {60, 64}, {0, 66}, 96, 1, "'ce'6^%2"},
      {"octave changes stay with their notes", {60, 76, 55}, {0, 0, 96}, 48, 1, "'c>e<<g'4"},
      {"closed by a rest", {60, 255}, {0, 96}, 48, 1, "'cr'4"},
      {"then the next note", {60, 64, 72}, {0, 48, 96}, 96, 1, "'ce'8>c"},
      {"two chords", {60, 64, 67, 71}, {0, 96, 0, 48}, 96, 1, "'ce'4'gb'8"},
      {"a note after a tie", {60}, {156}, 96, 1, "c32^4."},
      {"take ending in a chord", {60, 64, 67}, {96, 0, 0}, 96, 1, "c'eg'"},
      // The own dialect keeps the chord's length on its last note, twice.
      {"five eighths, own", {60, 64, 67}, {0, 0, 240}, 96, 0, "{ce8&2g8&2}"},
  };
  ExpectBuilt(cases);
}

TEST(BuildMML, ARestOfLengthZeroIsWrittenR0InEveryDialect) {
  const BuildCase cases[] = {
      {"own", {255, 60}, {0, 96}, 96, 0, "r0c"},
      {"Sakura", {255, 60}, {0, 96}, 96, 1, "r0c"},
      {"mml2mid", {255, 60}, {0, 96}, 96, 2, "r0c"},
      {"PMD", {255, 60}, {0, 96}, 96, 4, "r0c"},
      {"Hatena", {255, 60}, {0, 96}, 96, 5, "r0c"},
      {"at the end", {60, 255}, {96, 0}, 96, 0, "cr0"},
      {"two of them", {255, 255, 60}, {0, 0, 48}, 96, 1, "r0r0c8"},
      // Inside a chord: the own dialect's first copy of the chord's length would run into the "0".
      {"inside a chord, own", {60, 255, 64}, {0, 0, 96}, 48, 0, "{cr0e4}"},
      {"inside a chord, Sakura", {60, 255, 64}, {0, 0, 96}, 48, 1, "'cr0e'4"},
      {"inside a chord, FMP", {60, 255, 64}, {0, 0, 96}, 48, 3, "c0r0e4"},
      {"take ending in it", {60, 255}, {0, 0}, 96, 0, "{cr0}"},
  };
  ExpectBuilt(cases);
}

TEST(Recalculate, FromTheTempoGivesTheWorkedExample) {
  Capture take = WorkedExample();
  ConvertFields fields{"120", "", "8", "4", "8"};
  ConvertState state;
  ASSERT_TRUE(Recalculate(take, kModeFromTempo, fields, state));
  EXPECT_EQ(state.TotalTicks, 384);
  EXPECT_EQ(state.Lengths, (std::vector<int32_t>{96, 48, 144, 96}));
  EXPECT_EQ(fields.Length, "1");
  EXPECT_EQ(fields.Tempo, "120");
  EXPECT_EQ(BuildMML(take, state, 0), "cd8e.f");
  EXPECT_EQ(BuildMML(take, state, 4), "cd8e.f");
}

TEST(Recalculate, EachModeWritesItsFields) {
  struct Case {
    int mode;
    ConvertFields fields;
    const char* tempo;
    const char* length;
    const char* mml;
  } cases[] = {
      {kModeAsTyped, {"1", "1", "8", "4", "8"}, "120", "1", "cd8e.f"},
      {kModeAsTyped, {"1", "2", "8", "4", "8"}, "60", "2", "c8d16e8.f8"},
      {kModeFromTempo, {"60", "", "8", "4", "8"}, "60", "2", "c8d16e8.f8"},
      {kModeFromFirst, {"1", "1", "8", "4", "4"}, "120", "1", "cd8e.f"},
      {kModeFromFirst, {"1", "1", "8", "8", "8"}, "60", "2", "cd16e.f"},
      {kModeAllMinimum, {"999", "1", "8", "4", "8"}, "999", "8&2", "c8d8e8f8"},
      {kModeFromTempo, {"+60", "", "8", "4", "8"}, "+60", "2", "c8d16e8.f8"},
  };
  for (const Case& c : cases) {
    Capture take = WorkedExample();
    ConvertFields fields = c.fields;
    ConvertState state;
    ASSERT_TRUE(Recalculate(take, c.mode, fields, state)) << c.mode;
    EXPECT_EQ(fields.Tempo, c.tempo) << c.mode;
    EXPECT_EQ(fields.Length, c.length) << c.mode;
    EXPECT_EQ(BuildMML(take, state, 0), c.mml) << c.mode;
  }
}

// Lengths of n x 65536 ticks, written as one tie chain.
std::string Ticks65536(int n) {
  std::string text;
  for (int i = 0; i < n; ++i) text += i ? "&%65536" : "%65536";
  return text;
}

TEST(Recalculate, UnreadableFieldsZeroDivisorsAndResultsBeyond32BitsStopSilently) {
  const std::string huge = Ticks65536(16385);  // 2^30 + 65536 ticks
  struct Case {
    const char* what;
    Capture take;
    int mode;
    ConvertFields fields;
  } cases[] = {
      {"tempo not a number", WorkedExample(), kModeAllMinimum, {"12a", "1", "8", "4", "8"}},
      {"tempo empty", WorkedExample(), kModeFromTempo, {"", "1", "8", "4", "8"}},
      {"tempo with two signs", WorkedExample(), kModeFromTempo, {"+-5", "1", "8", "4", "8"}},
      {"tempo with a blank", WorkedExample(), kModeFromTempo, {"120 ", "1", "8", "4", "8"}},
      {"tempo beyond 32 bits", WorkedExample(), kModeFromTempo, {"4294967296", "1", "8", "4", "8"}},
      {"minimum length 0", WorkedExample(), kModeFromTempo, {"120", "1", "%0", "4", "8"}},
      {"minimum length unreadable", WorkedExample(), kModeFromTempo, {"120", "1", "7", "4", "8"}},
      {"total length unreadable", WorkedExample(), kModeFromTempo, {"120", "16&-4", "8", "4", "8"}},
      {"default length unreadable", WorkedExample(), kModeFromTempo, {"120", "1", "8", "5", "8"}},
      {"first length unreadable", WorkedExample(), kModeFromFirst, {"120", "1", "8", "4", "7"}},
      {"span 0", Take({{500, 60}}, 500), kModeFromTempo, {"120", "1", "8", "4", "8"}},
      {"span 0, as typed", Take({{500, 60}}, 500), kModeAsTyped, {"120", "1", "8", "4", "8"}},
      {"first gap 0",
       [] {
         Capture c = Take({{500, 60}}, 500);
         c.CaptureEnd = 700;
         return c;
       }(),
       kModeFromFirst,
       {"120", "1", "8", "4", "8"}},
      {"mode out of range", WorkedExample(), 4, {"120", "1", "8", "4", "8"}},
      {"mode 1, tempo 0", WorkedExample(), kModeFromTempo, {"0", "", "8", "4", "8"}},
      {"mode 1, tempo below 0", WorkedExample(), kModeFromTempo, {"-60", "", "8", "4", "8"}},
      {"mode 1, lowest tempo", WorkedExample(), kModeFromTempo, {"-2147483648", "", "8", "4", "8"}},
      {"mode 1, total beyond 32 bits", WorkedExample(), kModeFromTempo, {"2147483647", "", "8", "4", "8"}},
      {"mode 1, total rounded up beyond 32 bits",
       Take({{0, 60}}, 625),
       kModeFromTempo,
       {"2147483647", "", "8", "4", "8"}},
      {"mode 0, tempo beyond 32 bits", Take({{0, 60}}, 1), kModeAsTyped, {"120", huge, "8", "4", "8"}},
      {"mode 2, total beyond 32 bits",
       Take({{0, 60}, {100, 62}}, 200),
       kModeFromFirst,
       {"120", "", "8", "4", huge}},
      {"mode 2, tempo beyond 32 bits",
       Take({{0, 60}}, 1),
       kModeFromFirst,
       {"120", "", "8", "4", Ticks65536(64)}},
      {"mode 3, total beyond 32 bits", Take({{0, 60}}, 10), kModeAllMinimum, {"120", "", huge, "4", "8"}},
  };
  for (const Case& c : cases) {
    ConvertFields fields = c.fields;
    ConvertState state{{7, 7}, 5, 6};
    EXPECT_FALSE(Recalculate(c.take, c.mode, fields, state)) << c.what;
    EXPECT_EQ(fields.Tempo, c.fields.Tempo) << c.what;
    EXPECT_EQ(fields.Length, c.fields.Length) << c.what;
    EXPECT_EQ(state.Lengths, (std::vector<int32_t>{7, 7})) << c.what;
    EXPECT_EQ(state.TotalTicks, 5) << c.what;
  }
}

TEST(Recalculate, FirstNoteGapAndTempoFollowTheTake) {
  // Mode 2 looks for the first onset more than MinLen milliseconds after the start (MinLen "8" is 48,
  // compared as a plain number), or the stop when there is none; the tempo is truncated.
  struct Case {
    const char* what;
    Capture take;
    int mode;
    ConvertFields fields;
    const char* tempo;
    const char* length;
    const char* mml;
  } cases[] = {
      {"onsets up to 48 ms belong to the opening chord",
       Take({{1000, 60}, {1030, 64}, {1048, 67}, {1500, 62}}, 3000),
       kModeFromFirst,
       {"1", "", "8", "4", "4"},
       "120",
       "1",
       "{ceg}d2."},
      {"no later onset: the gap runs to the stop",
       Take({{1000, 60}, {1020, 62}}, 2000),
       kModeFromFirst,
       {"1", "", "8", "4", "2"},
       "120",
       "2",
       "{c2d2}"},
      {"16th minimum: 30 ms is beyond 24",
       Take({{0, 60}, {30, 62}}, 60),
       kModeFromFirst,
       {"1", "", "16", "4", "16"},
       "500",
       "8",
       "c16d16"},
      {"as typed: the tempo is truncated",
       Take({{0, 60}}, 2001),
       kModeAsTyped,
       {"1", "1", "8", "4", "8"},
       "119",
       "1",
       "c1"},
      {"as typed: a negative span gives a negative tempo",
       Take({{1000, 60}}, 500),
       kModeAsTyped,
       {"1", "1", "8", "4", "8"},
       "-480",
       "1",
       "c1"},
  };
  for (const Case& c : cases) {
    ConvertFields fields = c.fields;
    ConvertState state;
    ASSERT_TRUE(Recalculate(c.take, c.mode, fields, state)) << c.what;
    EXPECT_EQ(fields.Tempo, c.tempo) << c.what;
    EXPECT_EQ(fields.Length, c.length) << c.what;
    EXPECT_EQ(BuildMML(c.take, state, 0), c.mml) << c.what;
  }
}

TEST(Recalculate, AllMinimumIgnoresTheTiming) {
  Capture take = Take({{500, 60}, {500, 62}, {400, 64}}, 501);
  ConvertFields fields{"120", "", "8", "4", "8"};
  ConvertState state;
  ASSERT_TRUE(Recalculate(take, kModeAllMinimum, fields, state));
  EXPECT_EQ(fields.Length, "2");
  EXPECT_EQ(BuildMML(take, state, 0), "c8d8e8");
}

TEST(Recalculate, AllMinimumConvertsATakeOfNoDuration) {
  // Nothing divides by the span in mode 3: a rest and the stop in the same millisecond still convert.
  Capture take = Take({{1794, kRestCode}}, 1794);
  ConvertFields fields{"120", "", "16", "4", "8"};
  ConvertState state;
  ASSERT_TRUE(Recalculate(take, kModeAllMinimum, fields, state));
  EXPECT_EQ(fields.Tempo, "120");
  EXPECT_EQ(fields.Length, "8");
  EXPECT_EQ(BuildMML(take, state, 0), "r16");
  for (int mode : {kModeAsTyped, kModeFromTempo, kModeFromFirst}) {
    EXPECT_FALSE(Recalculate(take, mode, fields, state)) << mode;
  }
}

TEST(Recalculate, OnlyModeOneStopsOnATempoOfZeroOrLess) {
  for (int mode : {kModeAsTyped, kModeFromFirst, kModeAllMinimum}) {
    for (const char* tempo : {"0", "-60"}) {
      ConvertFields fields{tempo, "1", "8", "4", "4"};
      ConvertState state;
      ASSERT_TRUE(Recalculate(WorkedExample(), mode, fields, state)) << mode << " " << tempo;
      EXPECT_EQ(BuildMML(WorkedExample(), state, 0), mode == kModeAllMinimum ? "c8d8e8f8" : "cd8e.f") << mode;
    }
  }
}

TEST(Recalculate, LongTakesScaleIn64Bits) {
  // 50 minutes at tempo 120: 576000 ticks; 1,500,000 ms x 576000 overflows 32 bits.
  Capture take = Take({{0, 60}, {1'500'000, 62}}, 3'000'000);
  ConvertFields fields{"120", "", "8", "4", "8"};
  ConvertState state;
  ASSERT_TRUE(Recalculate(take, kModeFromTempo, fields, state));
  EXPECT_EQ(state.TotalTicks, 576000);
  EXPECT_EQ(state.Lengths, (std::vector<int32_t>{288000, 288000}));
}

TEST(Recalculate, ClockWrapBetweenEventsIsAPositiveGap) {
  Capture take = Take({{0xFFFFFF00u, 60}, {0x00000100u, 62}}, 0x00000300u);
  ConvertFields fields{"120", "", "%1", "4", "8"};
  ConvertState state;
  ASSERT_TRUE(Recalculate(take, kModeFromTempo, fields, state));
  EXPECT_EQ(state.Lengths, (std::vector<int32_t>{98, 98}));
}

TEST(Recalculate, LengthsBeyondTheCompilersTimeRangeStopSilently) {
  const std::string huge = Ticks65536(16385);  // 2^30 + 65536 ticks
  Capture take = Take({{0, 60}, {10, 62}}, 20);
  ConvertFields fields{"120", "", huge, "4", "8"};
  ConvertState state;
  EXPECT_FALSE(Recalculate(take, kModeAllMinimum, fields, state));
  fields.MinLength = "%65536";
  EXPECT_TRUE(Recalculate(take, kModeAllMinimum, fields, state));
  EXPECT_EQ(state.Lengths, (std::vector<int32_t>{65536, 65536}));
}

TEST(Recalculate, SingleNoteLastsTheRoundedTotal) {
  Capture take = Take({{100, 67}}, 1100);
  ConvertFields fields{"90", "", "8", "4", "8"};
  ConvertState state;
  ASSERT_TRUE(Recalculate(take, kModeFromTempo, fields, state));
  EXPECT_EQ(state.TotalTicks, 144);  // 90 x 1000 div 625
  EXPECT_EQ(state.Lengths, (std::vector<int32_t>{144}));
  EXPECT_EQ(fields.Length, "4.");
}

}  // namespace
}  // namespace record
