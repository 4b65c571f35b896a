// Random takes written in every dialect, turned back into the own dialect and compiled: the notes must
// start where the rounded lengths put them.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "mml/conv.h"
#include "mml/state.h"
#include "record/convert.h"
#include "record/dialect.h"

namespace record {
namespace {

using Onsets = std::vector<std::pair<int32_t, int>>;  // (tick, note), sorted

Capture RandomTake(std::mt19937& random) {
  Capture c;
  int count = std::uniform_int_distribution<int>(1, 40)(random);
  uint32_t time = std::uniform_int_distribution<uint32_t>(0, 0xFFFFFFFFu)(random);  // the clock may wrap
  c.CaptureStart = time;
  for (int i = 0; i < count; ++i) {
    int kind = std::uniform_int_distribution<int>(0, 9)(random);
    c.CaptureNotes[i] =
        kind == 0 ? kRestCode : static_cast<uint8_t>(std::uniform_int_distribution<int>(0, 127)(random));
    c.CaptureTimes[i] = time;
    // Some events are struck together (a chord), most follow after up to two seconds.
    if (std::uniform_int_distribution<int>(0, 4)(random) != 0) {
      time += std::uniform_int_distribution<uint32_t>(1, 2000)(random);
    }
  }
  c.CaptureCount = count;
  time += std::uniform_int_distribution<uint32_t>(1, 2000)(random);
  c.CaptureTimes[count] = time;
  c.CaptureEnd = time;
  return c;
}

// Where the take puts each note: at the sum of the lengths before it. A chord (a run of length 0)
// starts together with the event that ends it, and a rest of length 0 takes no time.
Onsets ExpectedOnsets(const Capture& c, const ConvertState& state) {
  Onsets onsets;
  int32_t time = 0;
  for (int32_t i = 0; i < c.CaptureCount; ++i) {
    if (c.CaptureNotes[i] != kRestCode) onsets.emplace_back(time, c.CaptureNotes[i]);
    time += state.Lengths[i];
  }
  std::sort(onsets.begin(), onsets.end());
  return onsets;
}

// What the Sakura compiler needs of a text: no length inside a chord's quotes but a rest's "0", the
// chord's length behind the closing quote (nothing only at the end of the text), no step piece before
// a tie, and no dot-only piece after one.
std::string SakuraFormFault(const std::string& mml) {
  bool inChord = false;
  for (size_t i = 0; i < mml.size(); ++i) {
    const char c = mml[i];
    const bool digit = c >= '0' && c <= '9';
    if (c == '\'') {
      inChord = !inChord;
      // (A chord shorter than a 96th has only a step piece: "%2".)
      const bool lengthBehind =
          i + 1 < mml.size() && ((mml[i + 1] >= '1' && mml[i + 1] <= '9') || mml[i + 1] == '%');
      if (!inChord && !lengthBehind && i + 1 != mml.size()) return "a chord without its length";
    } else if (inChord && (digit || c == '.' || c == '%' || c == '^') && !(c == '0' && mml[i - 1] == 'r')) {
      return "a length inside a chord";
    } else if (c == '^' && i + 1 < mml.size() && mml[i + 1] == '.') {
      return "a dot-only piece after a tie";
    } else if (c == '%') {
      size_t end = mml.find_first_not_of("0123456789", i + 1);
      if (end != std::string::npos && mml[end] == '^') return "a step piece before a tie";
    }
  }
  return {};
}

Onsets CompiledOnsets(const std::string& text) {
  mml::CompileMML(text, std::string(1, '\0'));
  Onsets onsets;
  for (const mml::TMidiBuffer& e : mml::EventList) {
    if ((e.Byte(0) & 0xF0) == 0x90 && e.Data.size() == 3 && e.Byte(2) > 0)
      onsets.emplace_back(e.Time, e.Byte(1));
  }
  std::sort(onsets.begin(), onsets.end());
  return onsets;
}

TEST(RoundTrip, NotesStartWhereTheRoundedLengthsPutThemInEveryDialect) {
  const char* minimums[] = {"8", "16", "32", "12", "%5", "96", "4", "%1"};
  const char* defaults[] = {"4", "8", "16", "4.", "%50", "2", "12", "%2"};
  std::mt19937 random(20261208);
  int compiled = 0;
  for (int round = 0; round < 150; ++round) {
    Capture take = RandomTake(random);
    int mode = std::uniform_int_distribution<int>(0, kModeCount - 1)(random);
    ConvertFields fields{std::to_string(std::uniform_int_distribution<int>(40, 240)(random)), "1",
                         minimums[std::uniform_int_distribution<int>(0, 7)(random)],
                         defaults[std::uniform_int_distribution<int>(0, 7)(random)], "8"};
    ConvertState state;
    if (!Recalculate(take, mode, fields, state)) continue;
    for (int dialect = 0; dialect < kDialectCount; ++dialect) {
      std::string mml = BuildMML(take, state, dialect);
      if (MMLChordLengthBehind[dialect]) {
        ASSERT_EQ(SakuraFormFault(mml), "") << mml;
      }
      HeaderValues header{"120", 100, 100, 1, HeaderOctave(take), fields.DefLength};
      std::string text = TestPlayText(header, mml, dialect);
      Onsets got = CompiledOnsets(text);
      ASSERT_TRUE(mml::ErrorList.empty()) << text << "\n" << mml::ErrorList.front();
      ASSERT_EQ(got, ExpectedOnsets(take, state)) << "dialect " << dialect << ": " << text;
      ++compiled;
    }
  }
  EXPECT_GT(compiled, 500);
}

}  // namespace
}  // namespace record
