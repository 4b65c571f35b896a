// The key logic without a window: layouts, notes, command keys, program entry and capture, checked by the
// exact bytes that reach the recording device.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "keyboard_fixture.h"

namespace app_test {
namespace {

using settings::Settings;

// Records what the key logic asks of its window.
class FakeHost : public app::KeyboardHost {
 public:
  void NoteDrawn(int32_t note) override { drawn.push_back(note); }
  void ValuesChanged() override { ++values; }
  void VolumeChanged() override { ++volumes; }
  void ProgramChanged() override { ++programs; }
  void ChooseProgram() override { commands.push_back("choose"); }
  void ToggleRecording() override {
    commands.push_back("toggle");
    if (record::ToggleRecording(keys->Capture, platform::TimeGetTime()) == record::ToggleResult::kStopped) {
      record::EmptyCapture(keys->Capture);
    }
  }
  void EscapeCommand() override { commands.push_back("escape"); }
  void ConfigCommand() override { commands.push_back("config"); }
  void CaptureOverflow() override { commands.push_back("overflow"); }

  std::vector<int32_t> drawn;
  std::vector<std::string> commands;
  int values = 0;
  int volumes = 0;
  int programs = 0;
  app::Keyboard* keys = nullptr;
};

constexpr uint32_t kKeyC = 0x43, kKeyE = 0x45, kKeyZ = 0x5A, kKeySlash = 0xBF, kKeySpace = 0x20;
constexpr uint32_t kKeyA = 0x41, kKeyYen = 0xDC, kKeyRo = 0xE2;

class KeysTest : public KeyboardFixture {
 protected:
  void SetUp() override {
    KeyboardFixture::SetUp();
    host_.keys = &keys_;
    keys_.BuildKeyTable();
  }
  void Tap(uint32_t key, bool shift = false, bool ctrl = false) {
    keys_.FormKeyDown(key, shift, ctrl);
    keys_.FormKeyUp(key);
  }
  FakeHost host_;
  app::Keyboard keys_{&host_};
};

TEST_F(KeysTest, LayoutsHaveTheirSizesOrdersAndRestKeyLast) {
  EXPECT_EQ(app::StandardLayout().size(), 43u);
  EXPECT_EQ(app::ModLayout().size(), 41u);
  const std::string standardOrder = "AZSXCFVGBNJMK";
  for (size_t i = 0; i < standardOrder.size(); ++i) {
    EXPECT_EQ(app::StandardLayout()[i].code, static_cast<uint8_t>(standardOrder[i])) << i;
    EXPECT_EQ(app::StandardLayout()[i].offset, static_cast<int32_t>(i) - 4) << i;
  }
  EXPECT_EQ(app::StandardLayout()[20].code, 0x31);  // the upper manual starts with 1
  EXPECT_EQ(app::StandardLayout()[20].offset, 8);
  EXPECT_EQ(app::ModLayout()[19].code, 0x51);  // ... with Q in the MOD layout
  EXPECT_EQ(app::ModLayout()[19].offset, 12);
  for (auto layout : {app::StandardLayout(), app::ModLayout()}) {
    EXPECT_EQ(layout.back().code, kKeySpace);
    EXPECT_EQ(layout.back().offset, app::kRestOffset);
  }
}

TEST_F(KeysTest, BuildKeyTableFollowsMappingAndPc98Swap) {
  struct Case {
    int32_t mapping;
    bool pc98;
    int32_t count;
    uint32_t roCode;
    int32_t roIndex;
  };
  for (const Case& c :
       {Case{0, false, 43, kKeyRo, 18}, Case{0, true, 43, 0xDF, 18}, Case{1, false, 41, kKeyRo, 17},
        Case{1, true, 41, 0xDF, 17}, Case{7, false, 43, kKeyRo, 18}}) {
    Settings.Mapping = c.mapping;
    Settings.ForcePC98x1 = c.pc98;
    keys_.BuildKeyTable();
    EXPECT_EQ(keys_.KeyCount, c.count) << c.mapping;
    EXPECT_EQ(keys_.FindKey(c.roCode), c.roIndex) << c.mapping << c.pc98;
    if (c.pc98) {
      EXPECT_EQ(keys_.FindKey(kKeyRo), keys_.KeyCount);
    }
  }
}

TEST_F(KeysTest, FindKeyComparesTheLowByteInTableOrder) {
  EXPECT_EQ(keys_.FindKey(kKeyA), 0);
  EXPECT_EQ(keys_.FindKey(0x100 | kKeyA), 0);
  EXPECT_EQ(keys_.FindKey(kKeySpace), 42);
  EXPECT_EQ(keys_.FindKey(0x0D), keys_.KeyCount);
}

// Key, layout, shift, ctrl, octave, transposition -> the bytes of the key-down and of its key-up.
TEST_F(KeysTest, NoteKeysSoundTheirNotes) {
  struct Case {
    const char* what;
    uint32_t key;
    int32_t mapping;
    bool shift, ctrl;
    int32_t octave, transpose;
    Bytes bytes;
  };
  const Case cases[] = {
      {"C standard", kKeyC, 0, false, false, 5, 0, {"90 3C 7F", "90 3C 00"}},
      {"A standard, -4", kKeyA, 0, false, false, 5, 0, {"90 38 7F", "90 38 00"}},
      {"yen standard, +29", kKeyYen, 0, false, false, 5, 0, {"90 59 7F", "90 59 00"}},
      {"ro standard, +14", kKeyRo, 0, false, false, 5, 0, {"90 4A 7F", "90 4A 00"}},
      {"Z MOD is C", kKeyZ, 1, false, false, 5, 0, {"90 3C 7F", "90 3C 00"}},
      {"C MOD is E", kKeyC, 1, false, false, 5, 0, {"90 40 7F", "90 40 00"}},
      {"yen MOD, +32", kKeyYen, 1, false, false, 5, 0, {"90 5C 7F", "90 5C 00"}},
      {"Shift+C", kKeyC, 0, true, false, 5, 0, {"90 48 7F", "90 48 00"}},
      {"Ctrl+C", kKeyC, 0, false, true, 5, 0, {"90 30 7F", "90 30 00"}},
      {"Shift+Ctrl+C", kKeyC, 0, true, true, 5, 0, {"90 3C 7F", "90 3C 00"}},
      {"transposed", kKeyC, 0, false, false, 5, -5, {"90 37 7F", "90 37 00"}},
      {"octave 10, 120+8 too high", 0x4B, 0, false, false, 10, 0, {}},
      {"octave 10, G fits", 0x4D, 0, false, false, 10, 0, {"90 7F 7F", "90 7F 00"}},
      {"octave 0, A below 0", kKeyA, 0, false, false, 0, 0, {}},
      {"transposed above 127", kKeyE, 0, false, false, 5, 127, {}},
      {"transposed below 0", kKeyC, 0, false, false, 0, -1, {}},
  };
  for (const Case& c : cases) {
    Settings.Mapping = c.mapping;
    Settings.Octave = c.octave;
    Settings.Transpose = c.transpose;
    keys_.BuildKeyTable();
    host_.drawn.clear();
    Tap(c.key, c.shift, c.ctrl);
    EXPECT_EQ(Sent(), c.bytes) << c.what;
    EXPECT_EQ(host_.drawn.size(), c.bytes.size()) << c.what;
    for (uint8_t p : keys_.Pressed) ASSERT_EQ(p, 0) << c.what;
  }
}

TEST_F(KeysTest, ChannelAndVelocityComeFromSettings) {
  Settings.Channel = 9;
  Settings.Velocity = 0;
  Tap(kKeyC);
  EXPECT_EQ(Sent(), (Bytes{"99 3C 00", "99 3C 00"}));
}

TEST_F(KeysTest, HeldKeyPlaysOnceThroughAutoRepeat) {
  keys_.FormKeyDown(kKeyC, false, false);
  EXPECT_EQ(keys_.Pressed[60], 1);
  EXPECT_EQ(keys_.HeldNote[4], 60);
  for (int i = 0; i < 5; ++i) keys_.FormKeyDown(kKeyC, false, false);
  keys_.FormKeyUp(kKeyC);
  keys_.FormKeyUp(kKeyC);  // a second key-up finds nothing held
  EXPECT_EQ(Sent(), (Bytes{"90 3C 7F", "90 3C 00"}));
  EXPECT_EQ(host_.drawn, (std::vector<int32_t>{60, 60}));
  EXPECT_EQ(keys_.Pressed[60], 0);
}

TEST_F(KeysTest, TwoKeysOfTheSameNote) {
  keys_.FormKeyDown(kKeySlash, false, false);  // offset 12
  keys_.FormKeyDown(kKeyE, false, false);      // offset 12 on the upper manual: already sounding
  EXPECT_EQ(Sent(), (Bytes{"90 48 7F"}));
  keys_.FormKeyUp(kKeyE);
  keys_.FormKeyUp(kKeySlash);
  EXPECT_EQ(Sent(), (Bytes{"90 48 00", "90 48 00"}));
}

TEST_F(KeysTest, KeyReleasesTheNoteItStruckWhenTranspositionChanges) {
  keys_.FormKeyDown(kKeyC, false, false);
  keys_.FormKeyDown(0x2D, true, false);   // Shift+Ins: transposition +1 while C is held
  keys_.FormKeyDown(0x2D, false, false);  // Ins: octave 6
  keys_.FormKeyUp(kKeyC);
  EXPECT_EQ(Sent(), (Bytes{"90 3C 7F", "90 3C 00"}));
  EXPECT_EQ(Settings.Transpose, 1);
  EXPECT_EQ(Settings.Octave, 6);
  for (uint8_t p : keys_.Pressed) EXPECT_EQ(p, 0);
}

TEST_F(KeysTest, StepValueStepsAndClamps) {
  struct Case {
    int32_t value;
    uint32_t key;
    bool ctrl;
    int32_t max, min, expected;
  };
  for (const Case& c :
       {Case{5, 1, false, 10, 0, 6}, Case{5, 2, false, 10, 0, 4}, Case{5, 1, true, 127, 0, 15},
        Case{5, 2, true, 128, 1, 1}, Case{128, 1, false, 128, 1, 128}, Case{120, 1, true, 127, 0, 127},
        Case{5, 3, true, 10, 0, 5}, Case{500, 3, false, 128, 1, 128}}) {
    EXPECT_EQ(app::StepValue(c.value, c.key, 1, 2, c.max, c.min, c.ctrl), c.expected)
        << c.value << " " << c.key;
  }
}

// Command key with Shift/Ctrl -> the setting it changes and the bytes sent.
TEST_F(KeysTest, CommandKeysChangeTheirSettings) {
  struct Case {
    const char* what;
    uint32_t key;
    bool shift, ctrl;
    int32_t settings::SettingsRecord::*field;
    int32_t start, expected;
    Bytes bytes;
  };
  using S = settings::SettingsRecord;
  const Case cases[] = {
      {"RollUp velocity", 0x22, false, false, &S::Velocity, 100, 101, {}},
      {"RollDown velocity", 0x21, false, false, &S::Velocity, 100, 99, {}},
      {"Ctrl+RollDown velocity clamps", 0x21, false, true, &S::Velocity, 5, 0, {}},
      {"Ctrl+RollUp velocity clamps", 0x22, false, true, &S::Velocity, 120, 127, {}},
      {"Shift+RollUp volume", 0x22, true, false, &S::Volume, 100, 101, {"B0 0B 7F", "B0 07 65"}},
      {"Shift+RollDown volume at 0", 0x21, true, false, &S::Volume, 0, 0, {"B0 0B 7F", "B0 07 00"}},
      {"Ins octave", 0x2D, false, false, &S::Octave, 5, 6, {}},
      {"Ins octave at 10", 0x2D, false, false, &S::Octave, 10, 10, {}},
      {"Del octave at 0", 0x2E, false, false, &S::Octave, 0, 0, {}},
      {"Shift+Ins transpose", 0x2D, true, false, &S::Transpose, 0, 1, {}},
      {"Shift+Ctrl+Del transpose clamps", 0x2E, true, true, &S::Transpose, -120, -127, {}},
      {"Up program", 0x26, false, false, &S::Program, 1, 2, {"B0 20 00", "B0 00 00", "C0 01"}},
      {"Up program at 128", 0x26, false, false, &S::Program, 128, 128, {"B0 20 00", "B0 00 00", "C0 7F"}},
      {"Ctrl+Down program at 5", 0x28, false, true, &S::Program, 5, 1, {"B0 20 00", "B0 00 00", "C0 00"}},
      {"Right bank ignored for GM", 0x27, false, false, &S::Bank, 3, 3, {}},
      {"unknown key", 0x7A, false, false, &S::Bank, 3, 3, {}},
  };
  for (const Case& c : cases) {
    Settings = settings::SettingsRecord{};
    Settings.DeviceType = 1;
    Settings.*c.field = c.start;
    Sent();
    keys_.FormKeyDown(c.key, c.shift, c.ctrl);
    EXPECT_EQ(Settings.*c.field, c.expected) << c.what;
    EXPECT_EQ(Sent(), c.bytes) << c.what;
  }
}

TEST_F(KeysTest, BankKeysPerDeviceType) {
  struct Case {
    int32_t deviceType, channel;
    uint32_t key;
    int32_t bank;
    Bytes bytes;
  };
  const Case cases[] = {
      {0, 0, 0x27, 4, {}},
      {1, 0, 0x25, 4, {}},
      {2, 0, 0x27, 5, {"B0 20 05", "B0 00 00", "C0 00"}},
      {2, 9, 0x27, 5, {"B9 20 05", "B9 00 7F", "C9 00"}},
      {3, 0, 0x25, 3, {"B0 00 03", "B0 20 00", "C0 00"}},
  };
  for (const Case& c : cases) {
    Settings = settings::SettingsRecord{};
    Settings.DeviceType = c.deviceType;
    Settings.Channel = c.channel;
    Settings.Bank = 4;
    Sent();
    keys_.FormKeyDown(c.key, false, false);
    EXPECT_EQ(Settings.Bank, c.bank) << c.deviceType;
    EXPECT_EQ(Sent(), c.bytes) << c.deviceType;
  }
  Settings.Bank = 127;
  keys_.FormKeyDown(0x27, false, true);
  EXPECT_EQ(Settings.Bank, 127);
}

TEST_F(KeysTest, ProgramEntryWithFunctionKeys) {
  struct Case {
    std::vector<uint32_t> keys;  // F1 = 0x70 ... F10 = 0x79; others are note keys
    std::vector<int32_t> programs;
  };
  const Case cases[] = {
      {{0x70, 0x71, 0x77}, {1, 12, 128}}, {{0x79, 0x74}, {10, 105}},        {{0x72, 0x71, 0x70}, {3, 32, 1}},
      {{0x71, kKeyC, 0x72}, {2, 2, 3}},   {{0x78, 0x78, 0x78}, {9, 99, 1}}, {{0x79, 0x79}, {10, 100}},
  };
  for (const Case& c : cases) {
    keys_.InitKeyState();
    Settings.Program = 50;
    std::vector<int32_t> programs;
    for (uint32_t key : c.keys) {
      Tap(key);
      programs.push_back(Settings.Program);
    }
    EXPECT_EQ(programs, c.programs);
  }
  keys_.InitKeyState();
  Sent();
  Tap(0x72);
  EXPECT_EQ(Sent(), (Bytes{"B0 20 00", "B0 00 00", "C0 02"}));
}

TEST_F(KeysTest, DialogAndRecordingKeysGoToTheWindow) {
  for (uint32_t key : {0x08u, 0x0Du, 0x1Bu, 0x23u}) keys_.FormKeyDown(key, false, false);
  EXPECT_EQ(host_.commands, (std::vector<std::string>{"choose", "toggle", "escape", "config"}));
}

TEST_F(KeysTest, SendStateSendsResetVolumeProgramAndEnd) {
  Settings.DeviceType = 3;
  Settings.Volume = 100;
  Settings.Program = 5;
  Settings.Bank = 2;
  keys_.SendState();
  EXPECT_EQ(Sent(), (Bytes{"F0 41 10 42 12 40 00 7F 00 41 F7", "B0 0B 7F", "B0 07 64", "B0 00 02", "B0 20 00",
                           "C0 04", "B0 7B 00", "B0 79 00"}));
  EXPECT_GE(clock_->Slept(), 50u);
  Settings.DeviceType = 0;
  keys_.SendState();
  EXPECT_EQ(Sent(), (Bytes{"B0 0B 7F", "B0 07 64", "B0 20 00", "B0 00 00", "C0 04", "B0 7B 00", "B0 79 00"}));
}

TEST_F(KeysTest, CaptureRecordsNotesAndRestsWithTheirTimes) {
  keys_.FormKeyDown(0x0D, false, false);  // recording on
  clock_->Set(2000);
  Tap(kKeyC);
  clock_->Set(2100);
  keys_.FormKeyDown(kKeySpace, false, false);
  keys_.FormKeyDown(kKeySpace, false, false);  // auto-repeat: one rest each
  keys_.FormKeyUp(kKeySpace);
  clock_->Set(2300);
  Settings.Transpose = 2;
  keys_.FormKeyDown(kKeyC, true, false);
  clock_->Set(2400);
  keys_.FormKeyUp(kKeyC);
  keys_.FormKeyDown(kKeyA, false, false);  // out of range at octave 0 below: not here, A is 56
  keys_.FormKeyUp(kKeyA);
  const record::Capture& cap = keys_.Capture;
  ASSERT_EQ(cap.CaptureCount, 5);
  EXPECT_EQ(std::vector<int>(cap.CaptureNotes.begin(), cap.CaptureNotes.begin() + 5),
            (std::vector<int>{60, 255, 255, 74, 58}));
  EXPECT_EQ(std::vector<uint32_t>(cap.CaptureTimes.begin(), cap.CaptureTimes.begin() + 5),
            (std::vector<uint32_t>{2000, 2100, 2100, 2300, 2400}));
  EXPECT_EQ(cap.CaptureStart, 2000u);
  EXPECT_EQ(cap.CaptureEnd, 2400u);
}

TEST_F(KeysTest, SilentKeysCaptureNothing) {
  keys_.FormKeyDown(0x0D, false, false);
  Settings.Octave = 0;
  Tap(kKeyA);  // note -4
  Settings.Octave = 5;
  keys_.FormKeyDown(kKeySlash, false, false);
  keys_.FormKeyDown(kKeyE, false, false);  // the same note from another key
  EXPECT_EQ(keys_.Capture.CaptureCount, 1);
}

TEST_F(KeysTest, OverflowAtThe4096thEvent) {
  keys_.FormKeyDown(0x0D, false, false);
  for (int i = 0; i < record::kMaxCaptureEvents; ++i) keys_.FormKeyDown(kKeySpace, false, false);
  EXPECT_EQ(keys_.Capture.CaptureCount, 4095);
  EXPECT_TRUE(host_.commands.size() == 1);
  keys_.FormKeyDown(kKeySpace, false, false);
  EXPECT_EQ(host_.commands.back(), "overflow");
  EXPECT_EQ(keys_.Capture.CaptureCount, 0);
  EXPECT_FALSE(keys_.Capture.Recording);
}

}  // namespace
}  // namespace app_test
