// Track commands, notes and automatic parameters, checked through whole compilations: the sorted
// event list (tick and bytes) and the recorded errors with their spans.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "mml/conv.h"
#include "mml/state.h"
#include "platform/text.h"

namespace {

const std::string kBuildOnly(1, '\0');

// "tick:XX XX ..." per event, joined with " | ".
std::string EventsText() {
  std::string out;
  for (const mml::TMidiBuffer& e : mml::EventList) {
    if (!out.empty()) out += " | ";
    out += std::to_string(e.Time) + ":";
    for (size_t i = 0; i < e.Data.size(); ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, i ? " %02X" : "%02X", static_cast<uint8_t>(e.Data[i]));
      out += hex;
    }
  }
  return out;
}

// "message@start+length" per recorded error (message in UTF-8), joined with " | ".
std::string ErrorsText() {
  std::string out;
  for (size_t i = 0; i < mml::ErrorList.size(); ++i) {
    if (!out.empty()) out += " | ";
    out += platform::Cp932ToUtf8(mml::ErrorList[i]) + "@" + std::to_string(mml::ErrorStart[i + 1]) + "+" +
           std::to_string(mml::ErrorLength[i + 1]);
  }
  return out;
}

void Compile(const std::string& mmlUtf8) { mml::CompileMML(platform::Utf8ToCp932(mmlUtf8), kBuildOnly); }

struct Case {
  const char* mml;
  const char* events;
  const char* errors = "";
};

void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mml);
    ASSERT_NO_THROW(Compile(c.mml));
    EXPECT_EQ(EventsText(), c.events);
    EXPECT_EQ(ErrorsText(), c.errors);
  }
}

TEST(TrackCommands, ParameterValuesAndTheirEvents) {
  RunCases({
      {":1v100v100", "0:B0 0B 64"},
      {":1v100v_-1v_1", "0:B0 0B 64 | 0:B0 0B 63 | 0:B0 0B 64"},
      {":1V0", "0:B0 07 00"},
      {":1t120t120", "0:FF 51 03 07 A1 20 | 0:FF 51 03 07 A1 20"},
      {":1p0", "0:B0 0A 40"},
      {":1p-64p63", "0:B0 0A 00 | 0:B0 0A 7F"},
      {":1M5", "0:B0 01 05"},
      {":1B-8191", "0:E0 01 00"},
      {":1B8191", "0:E0 7F 7F"},
      {":1B0", "0:E0 00 40"},
      {":1P0", "0:B0 41 00"},
      {":1P1", "0:B0 41 7F | 0:B0 05 00"},
      {":1P128", "0:B0 41 7F | 0:B0 05 7F"},
      {":1EA1EB2EC3ED4", "0:B0 5B 01 | 0:B0 5C 02 | 0:B0 5D 03 | 0:B0 5E 04"},
      // The effect letter is the next significant character: blanks before it are passed over.
      {":1E B20", "0:B0 5C 14"},
      {":1t1", "0:FF 51 03 93 87 00"},
      {":1t4194303", "0:FF 51 03 00 00 0E"},
      {":3v5", "0:B2 0B 05"},
      {":17v5", "0:B0 0B 05"},
      {":1O16v5", "0:BF 0B 05"},
      {":1.2t60", "0:FF 51 03 0F 42 40"},
      {":1.2v9", "0:B0 0B 09 | 0:B1 0B 09"},
  });
}

TEST(TrackCommands, ParameterErrors) {
  RunCases({
      {":1t0", "", "[Part:1]指定値(0)が範囲外(1..4194303)です@3+1"},
      {":1v128", "", "[Part:1]指定値(128)が範囲外(0..127)です@3+3"},
      {":1v", "", "[Part:1]値を指定してください@2+1"},
      {":1s0", "", "[Part:1]指定値(0)が範囲外(1..127)です@3+1"},
      {":1p64", "", "[Part:1]指定値(64)が範囲外(-64..63)です@3+2"},
      {":1B8192", "", "[Part:1]指定値(8192)が範囲外(-8191..8191)です@3+4"},
      {":1P129", "", "[Part:1]指定値(129)が範囲外(0..128)です@3+3"},
      {":1Ea5", "", "[Part:1]エフェクト記号をいれてください@2+2 | [Part:1]コマンドエラー(5)@4+1"},
      {":1v[", "", "[Part:1]自動パラメータが設定されていません@2+2"},
      {":1v~c3", "", "[Part:1],が必要です@6+1"},
  });
}

TEST(TrackCommands, ProgramAndBank) {
  RunCases({
      {":1@PN1", "0:C0 00"},
      {":1@pn1", "0:C0 00"},
      {":1@SF8", "0:C0 7F"},
      {":1@GT3", "0:C0 1A"},
      {":1@10@_5", "0:C0 0E | 0:C0 09"},
      {":1@1,,5", "0:B0 00 05 | 0:C0 00"},
      {":1@1,5", "0:B0 20 05 | 0:C0 00"},
      {":1@1,5,6", "0:B0 20 05 | 0:B0 00 06 | 0:C0 00"},
      {":1@XY1", "",
       "[Part:1]音色記号が違います@2+1 | [Part:1]コマンドエラー(X)@3+1 | [Part:1]コマンドエラー(Y)@4+1 | "
       "[Part:1]コマンドエラー(1)@5+1"},
      {":1@129", "", "[Part:1]指定値(129)が範囲外(1..128)です@3+3"},
      {":1@PN9", "", "[Part:1]指定値(9)が範囲外(1..8)です@5+1"},
      {":1@1,,", "0:C0 00", "[Part:1]値を指定してください@5+1"},
  });
}

TEST(TrackCommands, RawMessagesLyricsAndMeta) {
  RunCases({
      {":1O3%144,60,100", "0:92 3C 64"},
      {":1%240,65,16,247", "0:F0 03 41 10 F7"},
      {":1%255,1,\"ab\"", "0:FF 01 61 62"},
      {":1%192,5", "0:C0 05"},
      {":1%256", "", "[Part:1]指定値(256)が範囲外(0..255)です@3+3"},
      {":1\"la\"", "0:FF 05 02 6C 61"},
      {":1\"\"", "0:FF 05 00"},
      {":1.3\"x\"", "0:FF 05 01 78"},
      {":1R4,4,4", "0:FF 58 04 04 02 18 08"},
      {":1R6,8,8.", "0:FF 58 04 06 03 12 08"},
      {":1R8,6,4", "",
       "[Part:1]指定できるのは2,3,4,5,6,7,9,12拍子だけです@3+1 | [Part:1]コマンドエラー(,)@4+1 | "
       "[Part:1]コマンドエラー(6)@5+1 | [Part:1]コマンドエラー(,)@6+1 | [Part:1]コマンドエラー(4)@7+1"},
      {":1R4,6,4", "",
       "[Part:1]指定できるのは4,8,16,32,64,128分音符だけです@5+1 | [Part:1]コマンドエラー(,)@6+1 | "
       "[Part:1]コマンドエラー(4)@7+1"},
      {":1R4,4,%1100", "", "[Part:1]指定値(275)が範囲外(1..255)です@8+4"},
      {":1S", "0:B0 43 7F"},
      {":1S+S-", "0:B0 43 7F | 0:B0 43 00"},
      {":1S-S", "0:B0 43 00 | 0:B0 43 7F"},
  });
}

TEST(TrackCommands, TrackStateCommands) {
  RunCases({
      {":1o3c", "0:90 3C 64 | 90:90 3C 00"},
      {":1o3o_1c", "0:90 48 64 | 90:90 48 00"},
      {":1o-2c", "0:90 00 64 | 90:90 00 00"},
      {":1o9", "", "[Part:1]指定値(9)が範囲外(-2..8)です@3+1"},
      {":1o8>c", "", "[Part:1]音域をオーバーしています(132)@5+1"},
      {":1>>c<<<c", "0:90 60 64 | 90:90 60 00 | 96:90 3C 64 | 186:90 3C 00"},
      {":1_2c__-3c", "0:90 4A 64 | 90:90 4A 00 | 96:90 47 64 | 186:90 47 00"},
      {":1_128", "", "[Part:1]指定値(128)が範囲外(-127..127)です@3+3"},
      {":1l8cc", "0:90 48 64 | 45:90 48 00 | 48:90 48 64 | 93:90 48 00"},
      {":1i8c", "0:90 48 64 | 48:90 48 00"},
      {":1i%10c", "0:90 48 64 | 10:90 48 00"},
      {":1i%-10c", "0:90 48 64 | 86:90 48 00"},
      {":1C48c4c", "0:90 48 64 | 45:90 48 00 | 48:90 48 64 | 138:90 48 00"},
      {":1C0", "", "[Part:1]指定値(0)が範囲外(1..65536)です@3+1"},
      {":1O17", "", "[Part:1]指定値(17)が範囲外(1..16)です@3+2"},
      {":1s=10(c", "0:90 48 5A | 90:90 48 00"},
      {":1(5)c", "0:90 48 60 | 90:90 48 00"},
      {":1s127)c", "", "[Part:1]ベロシティーが1から127の範囲を外れました@8+1"},
      {":1s=0", "", "[Part:1]指定値(0)が範囲外(1..127)です@4+1"},
  });
}

TEST(TrackCommands, PositionAndCut) {
  RunCases({
      {":1=5=_-10c", "0:90 48 64 | 90:90 48 00"},
      {":1=100c", "100:90 48 64 | 190:90 48 00"},
      {":1=50,2.3:2c:3d", "50:91 48 64 | 50:92 4A 64 | 140:91 48 00 | 140:92 4A 00"},
      {":1=50,2c", "0:90 48 64 | 90:90 48 00"},
      {":1=-5c", "0:90 48 64 | 90:90 48 00"},
  });
  Compile(":1c ^c");
  EXPECT_EQ(mml::CutTime, 96);
  Compile(":1=10:2=20:1.2^");
  EXPECT_EQ(mml::CutTime, 20);
}

TEST(TrackCommands, PositionCopyRestoresTheSelection) {
  // A complete list gives the selection back; a list that fails halfway is abandoned like `:`, leaving
  // the tracks listed so far selected (none: the next command has no track).
  RunCases({
      {":1=5,2 c", "0:90 48 64 | 90:90 48 00"},
      {":1=5,33 c", "", "指定値(33)が範囲外(1..32)です@5+2 | MIDIトラックを指定して下さい@8+1"},
      {":1=5,2,33 c", "0:91 48 64 | 90:91 48 00", "[Part:1]指定値(33)が範囲外(1..32)です@7+2"},
      {":1.2=5,3,4.40 c", "0:92 48 64 | 90:92 48 00", "[Part:1]指定値(40)が範囲外(1..32)です@11+2"},
  });
}

TEST(TrackCommands, TestMessageGoesToTheHandler) {
  std::vector<std::string> shown;
  mml::SetMessageHandler([&](const std::string& text) { shown.push_back(text); });
  Compile(":1.2+7:3+-2");
  mml::SetMessageHandler(nullptr);
  EXPECT_EQ(shown, (std::vector<std::string>{"Test TRK:0 %7", "Test TRK:1 %7", "Test TRK:2 %-2"}));
}

TEST(Notes, PitchLengthGateAndVelocity) {
  RunCases({
      {":1l4c", "0:90 48 64 | 90:90 48 00"},
      {":1o8g", "0:90 7F 64 | 90:90 7F 00"},
      {":1o8g+", "", "[Part:1]音域をオーバーしています(128)@4+2"},
      {":1c-", "0:90 47 64 | 90:90 47 00"},
      {":1_2n60", "0:90 3C 64 | 90:90 3C 00"},
      {":1n60,8", "0:90 3C 64 | 45:90 3C 00"},
      {":1n128", "", "[Part:1]音域をオーバーしています(128)@3+3"},
      {":1c4,16", "0:90 48 64 | 96:90 48 00"},
      {":1c4,%10", "0:90 48 64 | 10:90 48 00"},
      {":1c4,-2", "0:90 48 64 | 84:90 48 00"},
      {":1c4,,50", "0:90 48 32 | 90:90 48 00"},
      {":1c4,,_-50", "0:90 48 32 | 90:90 48 00"},
      {":1c4,,0", "", "[Part:1]指定値(0)が範囲外(1..127)です@6+1"},
      {":1c4,", "0:90 48 00 | 0:90 48 64"},
      {":1c4^", "0:90 48 64 | 96:90 48 00"},
      {":1c4.c", "0:90 48 64 | 135:90 48 00 | 144:90 48 64 | 234:90 48 00"},
      {":1c8..c", "0:90 48 64 | 78:90 48 00 | 84:90 48 64 | 174:90 48 00"},
      {":1c%96..c", "0:90 48 64 | 157:90 48 00 | 168:90 48 64 | 258:90 48 00"},
      {":1c4&8c", "0:90 48 64 | 135:90 48 00 | 144:90 48 64 | 234:90 48 00"},
      {":1c7", "", "[Part:1]指定された音長では正しい時間が算出できません@3+1"},
      {":1c4,-200", "", "[Part:1]消音時間が負になりました@5+4"},
      {":1c4,%-200", "0:90 48 00 | 0:90 48 64"},
      {":1s~c4,b3,10,20c", "0:90 48 0A | 90:90 48 00"},
      {":1s~c3,c5c", "0:90 48 60 | 90:90 48 00"},
      // The followed velocity is not clamped: 64 + 20 * 63 / 13 = 160 fails the note.
      {":1s~c3,c4g4", "", "[Part:1]ベロシティーが1から127の範囲を外れました@10+1"},
  });
}

TEST(Notes, TiesRestsAndPortamento) {
  RunCases({
      {":1c4$c4", "0:90 48 64 | 186:90 48 00"},
      {":1c4$d4", "0:90 48 64 | 96:90 4A 64 | 186:90 48 00 | 186:90 4A 00"},
      {":1c4$r4", "0:90 48 64 | 192:90 48 00"},
      {":1c4$", "0:90 48 64"},
      {":1r%96..c", "216:90 48 64 | 306:90 48 00"},
      {":1r4.c", "144:90 48 64 | 234:90 48 00"},
      {":1c~d", "0:90 48 64 | 90:B0 41 7F | 90:90 48 00 | 96:90 4A 64 | 186:B0 41 00 | 186:90 4A 00"},
      {":1c~20d",
       "0:90 48 64 | 90:B0 05 14 | 90:B0 41 7F | 90:90 48 00 | 96:90 4A 64 | 186:B0 41 00 | "
       "186:90 4A 00"},
      {":1c~200", "0:90 48 64 | 90:90 48 00", "[Part:1]指定値(200)が範囲外(0..127)です@4+3"},
      // A rest leaves portamento on; the next note switches it off at the end of its gate.
      {":1c~r d", "0:90 48 64 | 90:B0 41 7F | 90:90 48 00 | 192:90 4A 64 | 282:B0 41 00 | 282:90 4A 00"},
      // A tie over the same note twice strikes once; the next other note releases it at its gate end.
      {":1c$c$d", "0:90 48 64 | 192:90 4A 64 | 282:90 48 00 | 282:90 4A 00"},
      // In a group the rest releases the tie at its own end, counted from its start in the group.
      {":1{10c$r}", "0:90 48 64 | 106:90 48 00"},
  });
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST(Notes, LongDottedLengths) {
  // 15259 * 65536 ticks, dotted: 1,500,020,736 ticks, beyond what a 32-bit product of 3 could hold.
  Compile(":1r" + Repeat("%65536&", 15258) + "%65536.c");
  EXPECT_EQ(ErrorsText(), "");
  ASSERT_EQ(mml::EventList.size(), 2u);
  EXPECT_EQ(mml::EventList[0].Time, 1500020736);
  // A dotted length beyond 2147483647 ticks fails like an overflowing note length.
  Compile(":1r" + Repeat("%65536&", 21845) + "%65536.");
  EXPECT_NE(ErrorsText().find("音長が負になりました"), std::string::npos);
  Compile(":1c" + Repeat("%65536&", 21845) + "%65536.");
  EXPECT_NE(ErrorsText().find("音長が負になりました"), std::string::npos);
}

TEST(Notes, GroupsAndChords) {
  RunCases({
      {":1{0ceg}c",
       "0:90 48 64 | 0:90 4C 64 | 0:90 4F 64 | 90:90 48 00 | 90:90 4C 00 | 90:90 4F 00 | "
       "96:90 48 64 | 186:90 48 00"},
      {":1{ceg}", "0:90 48 64 | 0:90 4C 64 | 0:90 4F 64 | 90:90 48 00 | 90:90 4C 00 | 90:90 4F 00"},
      {":1{10ceg8}c",
       "0:90 48 64 | 10:90 4C 64 | 20:90 4F 64 | 48:90 48 64 | 65:90 4F 00 | 90:90 48 00 | "
       "100:90 4C 00 | 138:90 48 00"},
      {":1l4c0e0g", "0:90 48 64 | 0:90 4C 64 | 0:90 4F 64 | 90:90 48 00 | 90:90 4C 00 | 90:90 4F 00"},
      {":1{-1", "", "[Part:1]指定値(-1)が範囲外(0..2147483647)です@3+2"},
  });
}

TEST(Automation, KeyFollow) {
  RunCases({
      // Volume: 64 + (72 - 60) * 63 / 24 = 95.
      {":1V~c3,c5c", "0:B0 07 5F | 0:90 48 64 | 90:90 48 00"},
      {":1V~c3,c5,0,100c", "0:B0 07 32 | 0:90 48 64 | 90:90 48 00"},
      {":1V~c4,c4,0,100c", "0:B0 07 32 | 0:90 48 64 | 90:90 48 00"},
      {":1V~c3,c5c0", "0:90 48 64 | 90:90 48 00"},
      {":1V=~c3,c5c", "0:90 48 64 | 90:90 48 00"},
      {":1V~c3,c5V]c", "0:90 48 64 | 90:90 48 00"},
      {":1V~c3,c5V]V[c", "0:B0 07 5F | 0:90 48 64 | 90:90 48 00"},
      {":1V~c3,c5V50c", "0:B0 07 32 | 0:90 48 64 | 90:90 48 00"},
      // The default ranges of each parameter, at note 72 of the notes 60..84.
      {":1v~c3,c5c", "0:B0 0B 5F | 0:90 48 64 | 90:90 48 00"},
      {":1p~c3,c5c", "0:B0 0A 3F | 0:90 48 64 | 90:90 48 00"},
      {":1M~c3,c5c", "0:B0 01 3F | 0:90 48 64 | 90:90 48 00"},
      {":1B~c3,c5c", "0:E0 00 40 | 0:90 48 64 | 90:90 48 00"},
      {":1P~c3,c5c", "0:B0 41 7F | 0:B0 05 3F | 0:90 48 64 | 90:90 48 00"},
      {":1EA~c3,c5EB~c3,c5EC~c3,c5ED~c3,c5c",
       "0:B0 5B 3F | 0:B0 5C 3F | 0:B0 5D 3F | 0:B0 5E 3F | 0:90 48 64 | 90:90 48 00"},
      {":1t~c3,c5c", "0:FF 51 03 07 A1 20 | 0:90 48 64 | 90:90 48 00"},
      // A tempo driven to 0 is sent as 1.
      {":1t~c3,c5,0,0c", "0:FF 51 03 93 87 00 | 0:90 48 64 | 90:90 48 00"},
      {":1B~c3,c5,-9000,9000c", "0:E0 00 40 | 0:90 48 64 | 90:90 48 00"},
      {":1B~c3,c5,-9000,9000o3c", "0:E0 00 00 | 0:90 3C 64 | 90:90 3C 00"},
      // A range that fails at its second note leaves the previous range whole.
      {":1V~c3,c5,0,100V~d3,x c", "0:B0 07 32 | 0:90 48 64 | 90:90 48 00",
       "[Part:1]音符記号を指定してください@20+1"},
      // Values that fail at their comma leave the previous values; the new range is taken.
      {":1V~c3,c5,0,100V~c4,c5,7c", "0:B0 07 00 | 0:90 48 64 | 90:90 48 00", "[Part:1],が必要です@24+1"},
  });
}

TEST(Automation, Envelopes) {
  // Volume 100 toward 40 over 96 ticks, a value every 4 ticks.
  Compile(":1V100,0,4,96,-60r1");
  std::vector<std::pair<int32_t, int>> values;
  for (const mml::TMidiBuffer& e : mml::EventList) values.emplace_back(e.Time, e.Byte(2));
  ASSERT_EQ(values.size(), 24u) << EventsText();
  EXPECT_EQ(values[0], (std::pair<int32_t, int>{0, 100}));
  EXPECT_EQ(values[1], (std::pair<int32_t, int>{4, 98}));
  EXPECT_EQ(values[2], (std::pair<int32_t, int>{8, 95}));
  EXPECT_EQ(values[3], (std::pair<int32_t, int>{12, 93}));
  EXPECT_EQ(values[4], (std::pair<int32_t, int>{16, 90}));
  EXPECT_EQ(values.back(), (std::pair<int32_t, int>{92, 43}));

  Compile(":1V100,0,4,96,-60,0,0r1");
  ASSERT_EQ(mml::EventList.size(), 25u);
  EXPECT_EQ(mml::EventList[24].Time, 96);
  EXPECT_EQ(mml::EventList[24].Byte(2), 40);

  RunCases({
      {":1v10,0,2,4,4r1", "0:B0 0B 0A | 2:B0 0B 0C"},
      {":1v10,0,2,4,4,0,0r1", "0:B0 0B 0A | 2:B0 0B 0C | 4:B0 0B 0E"},
      {":1v10,0,1,2,10,0,0r1", "0:B0 0B 0A | 1:B0 0B 0F | 2:B0 0B 14"},
      {":1v10,0,1,2,10r%1r%1r%1", "0:B0 0B 0A | 1:B0 0B 0F"},
      {":1v=10,0,1,2,10r1", "0:B0 0B 0A"},
      // A looping segment of 7 ticks rising by 70, a value every 5 ticks; clamped values are sent again.
      {":1v0,1,5,7,70r%40",
       "0:B0 0B 00 | 5:B0 0B 32 | 7:B0 0B 46 | 12:B0 0B 78 | 14:B0 0B 7F | 19:B0 0B 7F | "
       "21:B0 0B 7F | 26:B0 0B 7F | 28:B0 0B 7F | 33:B0 0B 7F | 35:B0 0B 7F"},
      {":1v0,1,5,7,70r%3r%3r%3c%0", "0:B0 0B 00 | 5:B0 0B 32 | 7:B0 0B 46 | 9:90 48 64 | 99:90 48 00"},
      {":1v=10,0,1,2,10v[r%2", "0:B0 0B 0A | 1:B0 0B 0F"},
      {":1t100,0,1,2,10r%2", "0:FF 51 03 09 27 C0 | 0:FF 51 03 09 27 C0 | 1:FF 51 03 08 B8 24"},
      // A tempo envelope that reaches 0 sends the tempo 1.
      {":1t10,0,1,2,-10,0,0r%3",
       "0:FF 51 03 5B 8D 80 | 0:FF 51 03 5B 8D 80 | 1:FF 51 03 B7 1B 00 | 2:FF 51 03 93 87 00"},
      {":1{0v10,0,1,2,10c%1}", "0:B0 0B 0A | 0:90 48 00 | 0:90 48 64"},
      {":1v10,0,1,2,10{0c%1}", "0:B0 0B 0A | 0:90 48 00 | 0:90 48 64"},
      {":1v10,0,1,2,10{0c%2}", "0:B0 0B 0A | 0:90 48 64 | 1:B0 0B 0F | 1:90 48 00"},
      {":1v100,2,1,10,5", "0:B0 0B 64", "[Part:1]繰り返すためのパラメータが足りません@14+1"},
      {":1v100,0", "0:B0 0B 64", "[Part:1],が必要です@8+1"},
      {":1v100,256,1,1,1", "0:B0 0B 64",
       "[Part:1]指定値(256)が範囲外(0..255)です@7+3 | [Part:1]コマンドエラー(,)@10+1 | "
       "[Part:1]コマンドエラー(1)@11+1 | [Part:1]コマンドエラー(,)@12+1 | "
       "[Part:1]コマンドエラー(1)@13+1 | [Part:1]コマンドエラー(,)@14+1 | "
       "[Part:1]コマンドエラー(1)@15+1"},
      {":1v100,0,0,1,1", "0:B0 0B 64",
       "[Part:1]指定値(0)が範囲外(1..65536)です@9+1 | [Part:1]コマンドエラー(,)@10+1 | "
       "[Part:1]コマンドエラー(1)@11+1 | [Part:1]コマンドエラー(,)@12+1 | "
       "[Part:1]コマンドエラー(1)@13+1"},
      {":1v100,0,1,65537,1", "0:B0 0B 64",
       "[Part:1]指定値(65537)が範囲外(0..65536)です@11+5 | [Part:1]コマンドエラー(,)@16+1 | "
       "[Part:1]コマンドエラー(1)@17+1"},
      {":1v100,0,1,1", "0:B0 0B 64", "[Part:1],が必要です@12+1"},
      // A definition that fails keeps the previous envelope, started again from the value just sent.
      {":1v10,0,1,2,10v20,1,1,2,10,x r%3", "0:B0 0B 0A | 0:B0 0B 14 | 1:B0 0B 19",
       "[Part:1]値を指定してください@26+1 | [Part:1]コマンドエラー(x)@27+1"},
      {":1v10,0,1,2,10v20,3,1,2,10r%3", "0:B0 0B 0A | 0:B0 0B 14 | 1:B0 0B 19",
       "[Part:1]繰り返すためのパラメータが足りません@24+2"},
  });
}

TEST(Automation, LoopingEnvelopeRepeatsAndClamps) {
  Compile(":1v100,1,1,10,5r%200");
  ASSERT_TRUE(mml::ErrorList.empty()) << ErrorsText();
  int at127 = 0;
  int last = 0;
  for (const mml::TMidiBuffer& e : mml::EventList) {
    EXPECT_GE(e.Byte(2), last);
    last = e.Byte(2);
    at127 += e.Byte(2) == 127;
  }
  EXPECT_EQ(mml::EventList[1].Time, 2);
  EXPECT_EQ(mml::EventList[1].Byte(2), 101);
  EXPECT_GT(at127, 1);  // the unclamped value differs from the stored 127, so it is sent again
}

// Messages only, without their spans.
std::string ErrorMessages() {
  std::string out;
  for (const std::string& m : mml::ErrorList) out += platform::Cp932ToUtf8(m) + " | ";
  return out;
}

TEST(Automation, LongRestStepsLikeSingleTicks) {
  // A rest of n ticks must step every envelope exactly as n rests of one tick do, whatever the
  // segments (zero-length jumps included), loop target and interval.
  std::mt19937 rng(12345);
  auto pick = [&](int lo, int hi) {
    return lo + static_cast<int>(rng() % static_cast<unsigned>(hi - lo + 1));
  };
  const char* params[] = {"v", "V", "p", "B", "t", "M"};
  for (int round = 0; round < 300; ++round) {
    const int segments = pick(1, 4);
    std::string def = std::string(params[pick(0, 5)]) + std::to_string(pick(1, 60));
    def += "," + std::string(pick(0, 1) ? "%" : "") + std::to_string(pick(0, segments)) + "," +
           std::to_string(pick(1, 7));
    for (int i = 0; i < segments; ++i) {
      // The last segment has a length, so that no loop is endless.
      def.append(",").append(std::to_string(pick(i + 1 == segments ? 1 : 0, 12)));
      def.append(",").append(std::to_string(pick(-40, 40)));
    }
    std::string whole = ":1" + def, single = ":1" + def;
    for (int i = 0; i < 4; ++i) {
      const int n = pick(1, 60);
      whole.append(" r%").append(std::to_string(n));
      single.append(" ").append(Repeat("r%1", n));
    }
    SCOPED_TRACE(whole);
    Compile(whole);
    const std::string events = EventsText(), errors = ErrorMessages();
    Compile(single);
    EXPECT_EQ(EventsText(), events);
    EXPECT_EQ(ErrorMessages(), errors);
  }
}

TEST(Automation, RestartAtEachNewNote) {
  Compile(":1V100,%0,4,96,-60c2c2c2$c2");
  std::vector<int32_t> restarts;
  for (const mml::TMidiBuffer& e : mml::EventList) {
    if (e.Byte(0) == 0xB0 && e.Byte(2) == 100) restarts.push_back(e.Time);
  }
  EXPECT_EQ(restarts, (std::vector<int32_t>{0, 192, 384}));
}

TEST(Automation, ErrorsNameTheParameterOnlyWhileItIsStepped) {
  RunCases({
      {":1v100,1,1,0,5c c4,,0", "0:B0 0B 64 | 0:B0 0B 6E | 0:90 48 64 | 90:90 48 00",
       "[Part:1]永久ループです<自動エクスプレッション値でエラー>@15+1 | "
       "[Part:1]指定値(0)が範囲外(1..127)です@20+1"},
  });
}

TEST(Automation, EnvelopeTicksCountTowardTheWorkLimit) {
  EXPECT_THROW(Compile(":1v0,1,65536,65535,0[r%65536]3100"), mml::EScriptError);
  ASSERT_FALSE(mml::ErrorList.empty());
  EXPECT_NE(platform::Cp932ToUtf8(mml::ErrorList.back()).find("処理が多すぎます"), std::string::npos);
}

}  // namespace
