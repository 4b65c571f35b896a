#include "record/length_text.h"

#include <gtest/gtest.h>

#include "mml/conv.h"

namespace record {
namespace {

TEST(LengthTable, TwentySevenRowsLongestFirstWithTheEighthBetween) {
  for (size_t i = 1; i < LengthTable.size(); ++i) {
    EXPECT_GT(LengthTable[i - 1].Ticks, LengthTable[i].Ticks) << LengthTable[i].Text;
  }
  EXPECT_STREQ(LengthTable[17].Text, "12..");
  EXPECT_STREQ(LengthTable[18].Text, "8");
  EXPECT_EQ(LengthTable[18].Ticks, 48);
  EXPECT_STREQ(LengthTable[19].Text, "16.");
}

struct LengthCase {
  int32_t ticks;
  int32_t defaultTicks;
  const char* text;
};

TEST(LengthToText, WritesPiecesShortestFirstAndLeavesOutTheDefault) {
  const LengthCase cases[] = {
      {96, 96, ""},
      {144, 96, "."},
      {168, 96, ".."},
      {120, 96, "16&"},
      {240, 96, "8&2"},
      {1248, 96, "&1.&1."},
      {2, 96, "%2"},
      {96, -1, "4"},
      {120, -1, "16&4"},
      {240, 48, "&2"},
      {72, 48, "."},
      {0, 96, ""},
      {-48, 96, ""},
      {1, -1, "%1"},
      {100, -1, "96&4"},
      {130, -1, "%2&3"},
      {2, 2, ""},
      {98, 2, "&4"},
      {2304, -1, "1.&1.&1.&1."},
      {156, 96, "32&."},
      {576, 384, "."},
      {768, 384, "1&1"},
      {768, 768, "1&1"},
      // Five eighths on the straight grid, not a dotted triplet and ticks.
      {240, -1, "8&2"},
      {60, -1, "32&8"},
      // A default that is no n-th note is written out (384 div 144 would name the half note).
      {192, 144, "2"},
      {144, 144, "4."},
      // Off the straight grid every row counts.
      {224, -1, "3.."},
      {136, -1, "48&3"},
  };
  for (const LengthCase& c : cases) {
    EXPECT_EQ(LengthToText(c.ticks, c.defaultTicks), c.text)
        << c.ticks << " ticks, default " << c.defaultTicks;
  }
}

TEST(LengthToText, LongLengthsEndInWholeNotesAndAHalf) {
  std::string expected = "12&3..&1&1";  // 65536 = 56 x 1152 + 768 + 224 + 32
  for (int i = 0; i < 56; ++i) expected += "&1.&1.";
  EXPECT_EQ(LengthToText(65536, 96), expected);
  EXPECT_EQ(LengthToText(1152 * 3, 384), "1.&1.&1.&1.&1.&1.");
}

TEST(LengthToText, LengthsFromTheTableNeverHoldTheDigitZero) {
  for (int32_t ticks = 4; ticks <= 3000; ticks += 4) {
    EXPECT_EQ(LengthToText(ticks, 96).find('0'), std::string::npos) << ticks;
  }
}

TEST(ParseLength, ReadsTheCompilersLengthSyntax) {
  EXPECT_EQ(ParseLength("4"), 96);
  EXPECT_EQ(ParseLength("8&2"), 240);
  EXPECT_EQ(ParseLength("%100"), 100);
  EXPECT_EQ(ParseLength("1.&1."), 1152);
  EXPECT_EQ(ParseLength("4&-16"), 72);
  EXPECT_THROW(ParseLength("7"), mml::EScriptError);
  EXPECT_FALSE(TryParseLength("16&-4").has_value());
  EXPECT_EQ(TryParseLength("8"), 48);
}

TEST(ParseLength, ReadsBackEveryWrittenLength) {
  for (int32_t ticks = 1; ticks <= 5000; ++ticks) {
    ASSERT_EQ(TryParseLength(LengthToText(ticks, -1)), ticks) << LengthToText(ticks, -1);
  }
}

TEST(ParseLength, BadFieldsLeaveTheErrorListOfTheLastCompilation) {
  try {
    mml::CompileMML(":1qqq", std::string(1, '\0'));
  } catch (const mml::EScriptError&) {
  }
  const std::vector<std::string> before = mml::ErrorList;
  ASSERT_FALSE(before.empty());
  for (int i = 0; i < 100; ++i) {
    EXPECT_FALSE(TryParseLength("7").has_value());
    EXPECT_FALSE(TryParseLength("16&-4").has_value());
  }
  EXPECT_EQ(mml::ErrorList, before);
}

}  // namespace
}  // namespace record
