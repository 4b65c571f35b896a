// The readers: lengths, expressions with variables, note numbers, words, scaled values, track lists.
#include "mml/lexer.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "mml/conv.h"
#include "mml/state.h"
#include "tests/support/compile_helper.h"

namespace mml {
namespace {

// Points the reader at `text` outside a compilation, with an empty error list and track 1's default
// length of a quarter note.
void Prepare(const std::string& text) {
  ErrorList.clear();
  TooManyErrors = false;
  CurMacro = -1;
  AutoParamInError = -1;
  CurTrack = 0;
  Tracks[0].DefaultLength = 96;
  Tracks[0].Channel = 5;
  PrepareLexer(mml_test::ToCompilerText(text), 0);
}

// The message of the error a reader raised, "" when it raised none.
template <typename Read>
std::string ErrorOf(const std::string& text, Read read) {
  Prepare(text);
  try {
    read();
  } catch (const EScriptError&) {
    return mml_test::Utf8(ErrorList.back());
  }
  return "";
}

struct LengthCase {
  const char* Text;
  int32_t Ticks;
};

TEST(ReadLength, TicksOfLengthTexts) {
  const LengthCase cases[] = {
      {"4", 96},     {"4.", 144},  {"4..", 168},           {"8..", 84},    {"1", 384},   {"3", 128},
      {"%100", 100}, {"4&8", 144}, {"4&-16", 72},          {"8&%5", 53},   {"", 96},     {"%", 96},
      {"0", 0},      {"-4", 4},    {"4&&8", 96 + 96 + 48}, {"4&--8", 144}, {"%10.", 10}, {"2*2", 96},
  };
  for (const LengthCase& c : cases) {
    Prepare(c.Text);
    EXPECT_EQ(ReadLength(), c.Ticks) << c.Text;
  }
}

TEST(ReadLength, ErrorsNameTheProblem) {
  EXPECT_EQ(ErrorOf("7", ReadLength), "指定された音長では正しい時間が算出できません");
  EXPECT_EQ(ErrorOf("16&-4", ReadLength), "指定値(-72)が範囲外(0..2147483647)です");
  EXPECT_EQ(ErrorOf("%65537", ReadLength), "指定値(65537)が範囲外(0..65536)です");
}

TEST(ReadLength, ParseLengthErrorsCarryNoPartPrefixAndSpanTheValue) {
  EXPECT_EQ(ErrorOf("c7",
                    [] {
                      ++ReadPos;
                      ReadLength();
                    }),
            "指定された音長では正しい時間が算出できません");
  EXPECT_EQ(ErrorStart[1], 1);
  EXPECT_EQ(ErrorLength[1], 1);
}

struct ExprCase {
  const char* Text;
  int32_t Value;
  int32_t EndPos;  // ReadPos afterwards
};

TEST(ReadExpr, OperatorsSignsAndOperands) {
  const ExprCase cases[] = {
      {"2*3+4", 10, 5},
      {"2+3*4", 14, 5},
      {"20\\3", 6, 4},
      {"-20\\3", -6, 5},
      {"10-2-3", 11, 6},
      {"10-2+3", 5, 6},
      {"2*3*4", 24, 5},
      {"&H7f", 127, 4},
      {"&h7F", 127, 4},
      {"&H", 0, 2},
      {"&HFFFFFFFF", -1, 10},
      {"%B200", 72, 5},
      {"%L300", 44, 5},
      {"%H20", 4, 4},
      {"%b", 0, 2},
      {"%b5", 0, 2},
      {"%12", 12, 3},
      {"--5", 5, 3},
      {"+-+5", -5, 4},
      {"5 +1", 5, 1},
      {"2147483647+1", INT_MIN, 12},
      {"4294967297", 1, 10},
      {"%t", 0, 2},
      {"%c", 5, 2},
      {"%l8", 48, 3},
      {"%l4+1", 97, 5},
      {"%n c3", 60, 5},
      {"2*%B200+5", 2 * ((200 + 5) & 0x7F), 9},
      {"3*-2", -6, 4},
  };
  for (const ExprCase& c : cases) {
    Prepare(c.Text);
    EXPECT_EQ(ReadExpr(), c.Value) << c.Text;
    EXPECT_EQ(ReadPos, c.EndPos) << c.Text;
    EXPECT_EQ(TermOnly, 0) << c.Text;
  }
}

TEST(ReadExpr, ValueStatusTellsWhetherANumberWasWritten) {
  Prepare("x");
  EXPECT_EQ(ReadExpr(), 0);
  EXPECT_EQ(ValueStatus, 1);
  Prepare("-");
  ReadExpr();
  EXPECT_EQ(ValueStatus, 1);
  Prepare("5");
  ReadExpr();
  EXPECT_EQ(ValueStatus, 0);
  EXPECT_EQ(ErrorOf("5+", ReadExpr), "数値を指定してください");
  EXPECT_EQ(ErrorOf("5*x", ReadExpr), "数値を指定してください");
}

TEST(ReadExpr, ArithmeticFaultsEndTheCommandWithoutAMessage) {
  for (const char* text : {"1\\0", "&H100000000", "-2147483648\\-1"}) {
    Prepare(text);
    TermOnly = 0;
    EXPECT_ANY_THROW(ReadExpr()) << text;
    EXPECT_TRUE(ErrorList.empty()) << text;
    EXPECT_EQ(TermOnly, 0) << text;
  }
}

// The reader that fails leaves ReadPos where it stopped: a hexadecimal number is made of all its
// digits before it is found too large.
TEST(ReadExpr, ArithmeticFaultsLeaveTheReaderBehindTheOperand) {
  struct Case {
    const char* Text;
    int32_t EndPos;
  };
  const Case cases[] = {{"&H100000000 c", 11}, {"&H1FFFFFFFFF", 12}, {"7\\0 c", 3}, {"&H00000000FF", 12}};
  for (const Case& c : cases) {
    Prepare(c.Text);
    try {
      ReadExpr();
    } catch (...) {
    }
    EXPECT_EQ(ReadPos, c.EndPos) << c.Text;
    EXPECT_TRUE(ErrorList.empty()) << c.Text;
  }
}

TEST(ReadExpr, RandomDrawsStayInRangeAndTheOperatorFollowsTheDraw) {
  for (int i = 0; i < 50; ++i) {
    Prepare("%r3");
    int32_t v = ReadExpr();
    EXPECT_GE(v, 0);
    EXPECT_LE(v, 3);
    Prepare("%r0+100");
    EXPECT_EQ(ReadExpr(), 100);
  }
}

TEST(ReadExpr, TermOnlyComesBackAfterAnError) {
  Prepare("2*%n x");
  EXPECT_THROW(ReadExpr(), EScriptError);
  EXPECT_EQ(TermOnly, 0);
}

TEST(ReadRelExpr, UnderscoreAddsToTheBase) {
  Prepare("_5");
  EXPECT_EQ(ReadRelExpr(10), 15);
  Prepare("_-5");
  EXPECT_EQ(ReadRelExpr(10), 5);
  Prepare("7");
  EXPECT_EQ(ReadRelExpr(10), 7);
  Prepare("x");
  EXPECT_EQ(ReadRelExpr(10), 10);
  EXPECT_EQ(ValueStatus, 1);
  Prepare("_");
  EXPECT_EQ(ReadRelExpr(10), 10);
}

struct NoteCase {
  const char* Text;
  int32_t Note;
};

TEST(ReadNoteNumber, LettersOctavesAndAccidentals) {
  const NoteCase cases[] = {{"c3", 60},   {"a3", 69},    {"c", 0},    {"c1-", 12},
                            {"  b+", 12}, {"c+-+4", 73}, {"g8", 127}, {"c2-", 0}};
  for (const NoteCase& c : cases) {
    Prepare(c.Text);
    EXPECT_EQ(ReadNoteNumber(), c.Note) << c.Text;
  }
  EXPECT_EQ(ErrorOf("g9", ReadNoteNumber), "指定値(139)が範囲外(0..127)です");
  EXPECT_EQ(ErrorOf("c-", ReadNoteNumber), "指定値(-1)が範囲外(0..127)です");
  EXPECT_EQ(ErrorOf("h", ReadNoteNumber), "音符記号を指定してください");
  EXPECT_EQ(ErrorOf("C", ReadNoteNumber), "音符記号を指定してください");
}

struct WordCase {
  const char* Text;
  const char* Word;
  int32_t EndPos;
  uint8_t Status;
};

TEST(ReadWord, QuotedAndPlainWords) {
  const WordCase cases[] = {
      {"\"a b,c\"x", "a b,c", 7, 0},
      {"a b,c", "a", 2, 0},
      {"ab,c", "ab", 2, 0},
      {"\"open", "open", 5, 0},
      {"\"\"", "", 2, 0},
      {",", "", 0, 2},
      {" x", "", 1, 0},
      {"a\"b c", "a\"b", 4, 0},
      {"ab\tc", "ab", 3, 0},
  };
  for (const WordCase& c : cases) {
    Prepare(c.Text);
    std::string word;
    ReadWord(word);
    EXPECT_EQ(word, c.Word) << c.Text;
    EXPECT_EQ(ReadPos, c.EndPos) << c.Text;
    EXPECT_EQ(ValueStatus, c.Status) << c.Text;
  }
}

TEST(ReadWord, ControlByteInsideQuotesIsAnErrorFromTheQuote) {
  std::string word;
  EXPECT_EQ(ErrorOf("x\"ab\ncd\"",
                    [&] {
                      ++ReadPos;
                      ReadWord(word);
                    }),
            "\"は\"で閉じてください");
  EXPECT_EQ(ErrorStart[1], 1);
  EXPECT_EQ(ErrorLength[1], 4);  // from the quote to behind the CR
}

TEST(ReadWord, LongWordsAreReadWholeAndKeep255Bytes) {
  Prepare(std::string(300, 'x') + ",");
  std::string word;
  ReadWord(word);
  EXPECT_EQ(word, std::string(255, 'x'));
  EXPECT_EQ(ReadPos, 300);
}

TEST(ScaleValue, SixteenthsAndAbsoluteValues) {
  EXPECT_EQ(ScaleValue(0x10000 | 15, 96), 90);
  EXPECT_EQ(ScaleValue(0x10000 | (-2 & 0xFFFF), 96), 84);
  EXPECT_EQ(ScaleValue(10, 96), 10);
  EXPECT_EQ(ScaleValue(-10 & 0xFFFF, 96), 86);
  EXPECT_EQ(ScaleValue(0x10000 | (-16 & 0xFFFF), 96), 0);
  EXPECT_EQ(ScaleValue(0x10000 | 15, 2000000000), 1875000000);
  Prepare("%-10");
  EXPECT_EQ(ReadScaled(), 0xFFF6);
  Prepare("15");
  EXPECT_EQ(ReadScaled(), 0x1000F);
  Prepare("65551");
  EXPECT_EQ(ReadScaled(), 0x1000F);
}

struct TrackListCase {
  const char* Text;
  uint32_t Mask;
};

TEST(ReadTrackList, RangesAndLists) {
  const TrackListCase cases[] = {{"1.4", 0xF},     {"4..1", 0xF},         {"1,,3", 0x5}, {"", 0},
                                 {"32", 1u << 31}, {"1.32", 0xFFFFFFFFu}, {"2 3", 0x2},  {",,2", 0x2}};
  for (const TrackListCase& c : cases) {
    Prepare(c.Text);
    ReadTrackList();
    EXPECT_EQ(TrackMask, c.Mask) << c.Text;
  }
  EXPECT_EQ(ErrorOf("33", ReadTrackList), "指定値(33)が範囲外(1..32)です");
  EXPECT_EQ(ErrorOf("1.40", ReadTrackList), "指定値(40)が範囲外(1..32)です");
  EXPECT_EQ(ErrorOf("1.", ReadTrackList), "値を指定してください");
  EXPECT_EQ(ErrorOf("0", ReadTrackList), "指定値(0)が範囲外(1..32)です");
}

TEST(NextChar, SkipsBlanksAndTwoByteCharactersAndNeverLeavesTheText) {
  Prepare("");
  PrepareLexer(std::string(" \t\x82\xA0x\r\ny\x81", 9), 0);
  EXPECT_EQ(NextChar(), 'x');
  EXPECT_EQ(NextChar(), 0x0D);
  EXPECT_EQ(NextChar(), 'y');
  EXPECT_EQ(NextChar(), 0x00);  // the lead byte steps over the 0x1A
  EXPECT_EQ(NextChar(), 0x00);
  EXPECT_EQ(PeekChar(), 0x00);
}

}  // namespace
}  // namespace mml
