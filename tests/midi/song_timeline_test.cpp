#include "midi/song_timeline.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace midi {
namespace {

std::vector<uint8_t> Bytes(const std::string& hex) {
  std::vector<uint8_t> bytes;
  std::istringstream in(hex);
  std::string pair;
  while (in >> pair) bytes.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
  return bytes;
}

// Every message as "sample: bytes" (with "@loop" after a jump), then "end sample".
std::string Walk(const std::string& image, const TimelineOptions& options,
                 TimelineSummary* summary = nullptr) {
  std::string out;
  const std::vector<uint8_t> bytes = Bytes(image);
  TimelineSummary s = WalkTimeline(bytes, options, [&](const TimedMessage& m) {
    out += std::to_string(m.sample) + ":";
    for (uint8_t b : m.bytes) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02X", b);
      out += hex;
    }
    if (m.loop > 0) out += " @" + std::to_string(m.loop);
    out += "\n";
  });
  out += "end " + std::to_string(s.endSample);
  if (summary != nullptr) *summary = s;
  return out;
}

TimelineOptions At(int32_t rate, int32_t loops = 0, int32_t timebase = 96) {
  TimelineOptions options;
  options.sampleRate = rate;
  options.loops = loops;
  options.timebase = timebase;
  return options;
}

TEST(SongTimeline, EventsLandOnTheSampleOfTheirTickAndTheTempoMap) {
  struct Case {
    const char* name;
    const char* image;
    TimelineOptions options;
    const char* expected;
  };
  const Case cases[] = {
      {"120 bpm until the first tempo event: a quarter note is half a second",
       "00 90 3C 64 60 90 3C 00 00 FF 00", At(48000), "0: 90 3C 64\n24000: 90 3C 00\nend 24000"},
      {"a tempo change converts the deltas after it, not the one before",
       "60 FF 01 03 D0 90 60 90 3C 64 60 FF 00", At(48000), "36000: 90 3C 64\nend 48000"},
      {"a tick of 229.6875 samples rounds to the nearest sample, without drift over many ticks",
       "01 90 3C 64 01 90 3E 64 01 90 40 64 5D FF 00", At(44100),
       "230: 90 3C 64\n459: 90 3E 64\n689: 90 40 64\nend 22050"},
      {"the timebase scales the ticks", "83 60 90 3C 64 00 FF 00", At(1000, 0, 480),
       "500: 90 3C 64\nend 500"},
      {"running status takes the status of the last channel message back",
       "00 90 3C 64 00 3E 64 00 FF 01 07 A1 20 00 40 64 00 FF 00", At(1000),
       "0: 90 3C 64\n0: 90 3E 64\n0: 90 40 64\nend 0"},
      {"system exclusive loses its length, an F7 escape is its bytes alone",
       "00 F0 05 7E 7F 09 01 F7 00 F7 02 F8 FA 00 FF 00", At(1000), "0: F0 7E 7F 09 01 F7\n0: F8 FA\nend 0"},
      {"an image cut short inside a message ends there", "00 90 3C 64 60 90 3C", At(1000),
       "0: 90 3C 64\nend 500"},
      {"an image without its end of song ends after its last event", "00 C0 05 30", At(1000),
       "0: C0 05\nend 0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Walk(c.image, c.options), c.expected) << c.name;
  }
}

TEST(SongTimeline, HoursOfTicksStayExact) {
  // The longest delta at the slowest tempo and 96000 Hz: the product is far beyond 64 bits before the
  // division. 268435455 ticks x 500000 us / 96 x 96000 Hz / 1e6 = 134217727500 samples; at 16777215 us
  // a quarter note it is 4503599342157.825 samples.
  TimelineSummary s;
  Walk("FF FF FF 7F FF 00", At(96000), &s);
  EXPECT_EQ(s.endSample, 134'217'727'500LL);
  Walk("00 FF 01 FF FF FF FF FF FF 7F FF 00", At(96000), &s);
  EXPECT_EQ(s.endSample, 4'503'599'342'158LL);
}

TEST(SongTimeline, TheLoopPlaysAsOftenAsAsked) {
  const char* image = "00 90 3C 64 00 FF 03 60 90 3E 64 60 90 3E 00 00 FF 00";
  TimelineSummary s;
  EXPECT_EQ(Walk(image, At(1000, 0), &s), "0: 90 3C 64\n500: 90 3E 64\n1000: 90 3E 00\nend 1000");
  EXPECT_EQ(s.loops, 0);
  EXPECT_EQ(s.passSample, 1000);
  EXPECT_EQ(s.loopSample, 0);
  EXPECT_EQ(Walk(image, At(1000, 2), &s),
            "0: 90 3C 64\n500: 90 3E 64\n1000: 90 3E 00\n1500: 90 3E 64 @1\n2000: 90 3E 00 @1\n"
            "2500: 90 3E 64 @2\n3000: 90 3E 00 @2\nend 3000");
  EXPECT_EQ(s.loops, 2);
  EXPECT_EQ(s.passSample, 1000);
  EXPECT_EQ(s.endSample, 3000);
}

TEST(SongTimeline, ALoopWithoutTimeIsJumpedToOnceOnly) {
  TimelineSummary s;
  EXPECT_EQ(Walk("60 FF 03 00 B0 07 64 00 FF 00", At(1000, 1000000), &s),
            "500: B0 07 64\n500: B0 07 64 @1\nend 500");
  EXPECT_EQ(s.loops, 1);
}

TEST(SongTimeline, ASongWithoutLoopPointIgnoresTheLoopCount) {
  TimelineSummary s;
  Walk("00 90 3C 64 60 FF 00", At(1000, 3), &s);
  EXPECT_EQ(s.loops, 0);
  EXPECT_EQ(s.loopSample, -1);
  EXPECT_EQ(s.endSample, 500);
}

}  // namespace
}  // namespace midi
