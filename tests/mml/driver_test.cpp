// The driver: dispatch, per-track runs, error recording with spans, the end of the text and the work
// limits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mml/conv.h"
#include "mml/state.h"
#include "tests/support/compile_helper.h"

namespace mml_test {
namespace {

using Errors = std::vector<CompiledError>;
using Lines = std::vector<std::string>;

TEST(CompileMML, EmptyTextGivesNoEventsAndNoErrors) {
  Compiled r = Compile("");
  EXPECT_TRUE(r.Events.empty());
  EXPECT_TRUE(r.Errors.empty());
  EXPECT_EQ(r.Raised, "");
}

struct ErrorCase {
  const char* Text;  // UTF-8, LF
  Errors Expected;
};

TEST(CompileMML, ErrorsAreRecordedWithTheirSpansAndCompilationGoesOn) {
  const ErrorCase cases[] = {
      {"cde",
       {{"MIDIトラックを指定して下さい", 0, 1},
        {"MIDIトラックを指定して下さい", 1, 1},
        {"MIDIトラックを指定して下さい", 2, 1}}},
      {"~", {{"コマンドエラー(~)", 0, 1}}},
      {"\x07", {{"コマンドエラー(#7)", 0, 1}}},
      {"\x1F", {{"コマンドエラー(#31)", 0, 1}}},
      {"x\ny", {{"コマンドエラー(x)", 0, 1}, {"コマンドエラー(y)", 3, 1}}},
      {"あ~", {{"コマンドエラー(~)", 2, 1}}},
      {":1cZ", {{"[Part:1]コマンドエラー(Z)", 3, 1}}},
      {":1,3cZ", {{"[Part:3]コマンドエラー(Z)", 5, 1}}},
      {":1,2o9c", {{"[Part:1]指定値(9)が範囲外(-2..8)です", 5, 1}}},
      {":1v 100",
       {{"[Part:1]値を指定してください", 2, 1},
        {"[Part:1]コマンドエラー(1)", 4, 1},
        {"[Part:1]コマンドエラー(0)", 5, 1},
        {"[Part:1]コマンドエラー(0)", 6, 1}}},
  };
  for (const ErrorCase& c : cases) {
    Compiled r = Compile(c.Text);
    EXPECT_EQ(r.Errors, c.Expected) << c.Text;
    EXPECT_EQ(r.Raised, "") << c.Text;
  }
}

TEST(CompileMML, LaterMessagesCarryNoStaleAutomaticParameter) {
  Compiled r = Compile(":1v100,1,1,0,5 c Z");
  ASSERT_EQ(r.Errors.size(), 2u);
  EXPECT_EQ(r.Errors[0].Message, "[Part:1]永久ループです<自動エクスプレッション値でエラー>");
  EXPECT_EQ(r.Errors[1], (CompiledError{"[Part:1]コマンドエラー(Z)", 17, 1}));
}

TEST(CompileMML, PerTrackCommandsRunForEverySelectedTrackFromTheSamePlace) {
  Compiled r = Compile(":1,3 c :2d");
  EXPECT_EQ(r.NoteOns(), (Lines{"0: 90 48 64", "0: 92 48 64", "0: 91 4A 64"}));
}

TEST(CompileMML, TheSixteenthErrorEndsTheCompilation) {
  Compiled fifteen = Compile(std::string(15, '~') + ":1c");
  EXPECT_EQ(fifteen.Errors.size(), 15u);
  EXPECT_EQ(fifteen.Raised, "");
  EXPECT_EQ(fifteen.NoteOns().size(), 1u);

  Compiled sixteen = Compile(std::string(20, '~') + ":1c");
  EXPECT_EQ(sixteen.Errors.size(), 16u);
  EXPECT_EQ(sixteen.Raised, "エラーが多すぎます");
  EXPECT_EQ(sixteen.Errors.back(), (CompiledError{"コマンドエラー(~)", 15, 1}));
  EXPECT_TRUE(sixteen.NoteOns().empty());
}

TEST(CompileMML, ALoneLeadByteBeforeTheEndMarkLosesTheEndOfTheText) {
  Compiled r = CompileRaw(":1c\x81");
  EXPECT_EQ(r.Raised, "コンパイルエラー");
  ASSERT_EQ(r.Errors.size(), 1u);
  EXPECT_EQ(r.Errors[0].Message, "[Part:1]テキストの最後が見つかりません");
}

TEST(CompileMML, AnEndMarkInTheTextEndsTheCompilationThere) {
  Compiled r = CompileRaw(std::string(":1c\x1A~d"));
  EXPECT_EQ(r.NoteOns(), (Lines{"0: 90 48 64"}));
  EXPECT_TRUE(r.Errors.empty());
}

TEST(CompileMML, ArithmeticFaultsAbandonTheCommandWithoutAMessage) {
  Compiled r = Compile(":1c[d]1\\0e");
  EXPECT_TRUE(r.Errors.empty());
  EXPECT_EQ(r.NoteOns(), (Lines{"0: 90 48 64", "96: 90 4C 64"}));
}

TEST(CompileMML, AnEscapeOutsideAMacroIsNoCommand) {
  Compiled r = CompileRaw(":1c\x1B");
  EXPECT_EQ(r.Errors, (Errors{{"[Part:1]コマドエラー(#27)", 3, 1}}));
}

TEST(CompileMML, MessagesOfTheTestCommandGoToTheHandler) {
  std::vector<std::string> shown;
  mml::SetMessageHandler([&](const std::string& text) { shown.push_back(text); });
  Compile(":1,2+5");
  mml::SetMessageHandler(nullptr);
  EXPECT_EQ(shown.size(), 2u);
}

// The three work limits end the compilation like the 16th error, with their own message.
TEST(WorkLimits, NestedRepeatsEndWithTooMuchWork) {
  Compiled r = Compile("[[[[[]65535]65535]65535]65535]65535");
  EXPECT_EQ(r.Raised, "処理が多すぎます");
  ASSERT_FALSE(r.Errors.empty());
  EXPECT_EQ(r.Errors.back().Message, "処理が多すぎます");
}

TEST(WorkLimits, BlanksInRepeatsCountAsWork) {
  Compiled r = Compile(":1[c" + std::string(1 << 20, ' ') + "]65535");
  EXPECT_EQ(r.Raised, "処理が多すぎます");
  EXPECT_LT(r.NoteOns().size(), 65535u);
}

// A command that runs for each selected track counts one step per run: against a limit of 1,000,000,
// 35,000 rests on 32 tracks (1,120,000 runs) are too much, on one track they are not.
TEST(WorkLimits, PerTrackCommandsCountEveryRun) {
  mml::MaxWorkSteps = 1'000'000;
  const std::string manyTracks = Compile(":1.32[[r]1000]35").Raised;
  const std::string oneTrack = Compile(":1[[r]1000]35").Raised;
  mml::MaxWorkSteps = mml::kMaxWorkSteps;
  EXPECT_EQ(manyTracks, "処理が多すぎます");
  EXPECT_EQ(oneTrack, "");
}

std::string NestedBlocksOnAllTracks() {
  std::string text = ":1.32 " + std::string(32, '[') + "r";
  for (int i = 0; i < 32; ++i) text += "]65535";
  return text;
}

// Four calls of the macro one level down, 39 levels deep.
std::string FourWayMacrosOnAllTracks() {
  std::string text = ":!m0,[r]\n";
  for (int i = 1; i < 40; ++i) {
    const std::string inner = "!m" + std::to_string(i - 1) + " ";
    text += ":!m" + std::to_string(i) + ",[" + inner + inner + inner + inner + "]\n";
  }
  return text + ":1.32 !m39";
}

// Under AddressSanitizer a step costs some thirty times more: there these inputs run against a
// twentieth of the limit, as in the fuzz harness, so that the sanitizer runs stay short.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Inputs that once ran for most of a minute before the limit saw them.
TEST(WorkLimits, RunawayInputsOnManyTracksEndWithTooMuchWork) {
  for (const std::string& text : {NestedBlocksOnAllTracks(), FourWayMacrosOnAllTracks()}) {
    mml::MaxWorkSteps = kSanitized ? mml::kMaxWorkSteps / 20 : mml::kMaxWorkSteps;
    Compiled r = Compile(text);
    mml::MaxWorkSteps = mml::kMaxWorkSteps;
    EXPECT_EQ(r.Raised, "処理が多すぎます") << text.substr(0, 40);
    ASSERT_FALSE(r.Errors.empty());
    EXPECT_NE(r.Errors.back().Message.find("処理が多すぎます"), std::string::npos);
  }
}

// A command abandoned without a message, in a loop of millions of passes (an input the fuzzer found): its
// unwinding costs far more than a step, and it once ran 10 s with a tenth of the limit spent.
TEST(WorkLimits, CommandsAbandonedInALoopCountAsWork) {
  const std::string text = ":1 [[\xDBTv0,10,5 c\\]1 [[\xDBTv0,10,5 c\\]622]2622]2";
  mml::MaxWorkSteps = kSanitized ? mml::kMaxWorkSteps / 20 : mml::kMaxWorkSteps;
  Compiled r = CompileRaw(text);
  mml::MaxWorkSteps = mml::kMaxWorkSteps;
  EXPECT_EQ(r.Raised, "処理が多すぎます");
}

TEST(WorkLimits, TooManyEvents) {
  Compiled r = Compile(":1[[c0]2000]1001");
  EXPECT_EQ(r.Raised, "イベント数が多すぎます");
  ASSERT_EQ(r.Errors.size(), 1u);
  EXPECT_EQ(r.Errors[0].Message, "[Part:1]イベント数が多すぎます");
  EXPECT_EQ(mml::EventList.size(), static_cast<size_t>(mml::kMaxEvents));
}

TEST(WorkLimits, TooLargeAnExpansion) {
  std::string text = ":!m,[";
  for (int i = 0; i < 1000; ++i) text += "?1";
  text += "]\n:1!m";
  for (int i = 0; i < 70; ++i) text += "," + std::string(255, 'r');
  Compiled r = Compile(text);
  EXPECT_EQ(r.Raised, "マクロ展開が大きすぎます");
  ASSERT_EQ(r.Errors.size(), 1u);
  EXPECT_LE(mml::Source.size(), static_cast<size_t>(mml::kMaxSourceBytes));
}

TEST(WorkLimits, ANewCompilationStartsFromZero) {
  Compile("[[[[[]65535]65535]65535]65535]65535");
  Compiled r = Compile(":1[c]3");
  EXPECT_EQ(r.Raised, "");
  EXPECT_EQ(r.NoteOns().size(), 3u);
}

}  // namespace
}  // namespace mml_test
