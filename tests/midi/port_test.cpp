#include <gtest/gtest.h>

#include "tests/support/midi_test_util.h"

namespace {

using midi_test::Lines;
using midi_test::ResetPortLines;

class PortTest : public midi_test::PortFixture {};

TEST_F(PortTest, OpeningTheDefaultOutputSendsTheResetSequence) {
  midi::OpenPort(-1);
  EXPECT_TRUE(midi::PortIsOpen());
  EXPECT_TRUE(midi::SupportsVolume());
  EXPECT_EQ(midi::DeviceId, -1);
  std::vector<std::string> expected = {"open"};
  for (const std::string& line : ResetPortLines()) expected.push_back(line);
  EXPECT_EQ(Lines(device_->Calls()), expected);
  EXPECT_TRUE(other_->Calls().empty());
}

TEST_F(PortTest, OpeningANumberedDeviceClosesThePreviousOne) {
  OpenDefault();
  midi::OpenPort(0);
  EXPECT_EQ(midi::DeviceId, 0);
  EXPECT_TRUE(midi::PortIsOpen());
  EXPECT_FALSE(midi::SupportsVolume());
  // Closing applies full master volume first: the volume call on a device that has it.
  EXPECT_EQ(Lines(device_->Calls()), (std::vector<std::string>{"volume FFFFFFFF", "close"}));
  EXPECT_EQ(other_->Calls().size(), 1u + ResetPortLines().size());
}

TEST_F(PortTest, APortThatCannotOpenStaysClosedAndSilent) {
  struct Case {
    const char* name;
    int32_t id;
    bool opens;
  };
  for (const Case& c :
       {Case{"refuses", -1, false}, Case{"no such device", 7, true}, Case{"negative", -2, true}}) {
    SCOPED_TRACE(c.name);
    device_->SetOpenResult(c.opens);
    device_->Clear();
    midi::OpenPort(c.id);
    EXPECT_FALSE(midi::PortIsOpen());
    EXPECT_EQ(midi::DeviceId, c.id);
    midi::SendShort(0x7F3C90);
    midi::SetMasterVolume(10);
    midi::NoteOn(0, 60, 100);
    midi::SendReset(1);
    midi::AllocSongBuffer(3);
    midi::StartPlayback();
    EXPECT_FALSE(midi::IsPlaying());
    EXPECT_TRUE(device_->Calls().empty());
    EXPECT_EQ(clock_.Slept(), 0u);
  }
}

TEST_F(PortTest, ClosePortAppliesFullVolumeAndSendsNoNoteOff) {
  OpenDefault();
  midi::SetMasterVolume(30);
  midi::ClosePort();
  EXPECT_FALSE(midi::PortIsOpen());
  EXPECT_EQ(Lines(device_->Calls()),
            (std::vector<std::string>{"volume 3DFF3DFF", "volume FFFFFFFF", "close"}));
  midi::ClosePort();  // a second close does nothing
  EXPECT_EQ(device_->Calls().size(), 3u);
}

TEST_F(PortTest, MasterVolumeGoesOutAsTheVolumeCallOrTheMasterVolumeMessage) {
  struct Case {
    int32_t id;  // -1 has the volume call, 0 has not
    int32_t volume;
    const char* expected;
  };
  for (const Case& c :
       {Case{-1, 127, "volume FFFFFFFF"}, Case{-1, 64, "volume 81FF81FF"}, Case{-1, 1, "volume 03FF03FF"},
        Case{-1, 0, "volume 00000000"}, Case{-1, 500, "volume FFFFFFFF"}, Case{-1, -4, "volume 00000000"},
        Case{0, 100, "long F0 7F 7F 04 01 00 64 F7"}, Case{0, 0, "long F0 7F 7F 04 01 00 00 F7"},
        Case{0, 999, "long F0 7F 7F 04 01 00 7F F7"}}) {
    SCOPED_TRACE(c.expected);
    midi::OpenPort(c.id);
    auto& device = c.id == -1 ? device_ : other_;
    device->Clear();
    midi::SetMasterVolume(c.volume);
    EXPECT_EQ(Lines(device->Calls()), std::vector<std::string>{c.expected});
  }
}

TEST_F(PortTest, SendShortGoesOutAtOnceWhenNothingPlays) {
  OpenDefault();
  midi::SendShort(0x403CB0);
  midi::SendShort(0x05C1);
  EXPECT_EQ(Lines(device_->Calls()), (std::vector<std::string>{"short B0 3C 40", "short C1 05"}));
}

TEST_F(PortTest, MainWindowMessages) {
  using midi::PackShort;
  struct Case {
    const char* name;
    std::vector<uint32_t> actual;
    std::vector<uint32_t> expected;
  };
  const std::vector<Case> cases = {
      {"note on", {midi::NoteOnMessage(0, 60, 127)}, {PackShort(0x90, 60, 127)}},
      {"note off is velocity 0", {midi::NoteOffMessage(9, 36)}, {PackShort(0x99, 36, 0)}},
      {"volume", midi::VolumeControlMessages(0, 100), {PackShort(0xB0, 11, 127), PackShort(0xB0, 7, 100)}},
      {"no reset type",
       midi::SelectProgramMessages(0, 0, 1, 5),
       {PackShort(0xB0, 32, 0), PackShort(0xB0, 0, 0), PackShort(0xC0, 0)}},
      {"GM",
       midi::SelectProgramMessages(1, 9, 128, 5),
       {PackShort(0xB9, 32, 0), PackShort(0xB9, 0, 0), PackShort(0xC9, 127)}},
      {"XG drums",
       midi::SelectProgramMessages(2, 9, 1, 5),
       {PackShort(0xB9, 32, 5), PackShort(0xB9, 0, 127), PackShort(0xC9, 0)}},
      {"XG melody",
       midi::SelectProgramMessages(2, 0, 17, 5),
       {PackShort(0xB0, 32, 5), PackShort(0xB0, 0, 0), PackShort(0xC0, 16)}},
      {"GS",
       midi::SelectProgramMessages(3, 0, 2, 8),
       {PackShort(0xB0, 0, 8), PackShort(0xB0, 32, 0), PackShort(0xC0, 1)}},
      {"unknown type", midi::SelectProgramMessages(4, 0, 2, 8), {PackShort(0xC0, 1)}},
      {"end of state", midi::EndSendStateMessages(9), {PackShort(0xB9, 123, 0), PackShort(0xB9, 121, 0)}},
      // Hand-edited settings never turn into status bytes or other channels.
      {"out of range", {midi::NoteOnMessage(17, 200, 255)}, {PackShort(0x91, 72, 127)}},
      {"program 0", midi::SelectProgramMessages(7, 0, 0, 0), {PackShort(0xC0, 127)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.actual, c.expected);
  }
}

TEST_F(PortTest, MainWindowSendersGoStraightToTheDevice) {
  OpenDefault();
  midi::NoteOn(0, 60, 100);
  midi::NoteOff(0, 60);
  midi::SetVolumeControl(0, 90);
  midi::SelectProgram(3, 0, 5, 2);
  midi::EndSendState(0);
  EXPECT_EQ(Lines(device_->Calls()),
            (std::vector<std::string>{"short 90 3C 64", "short 90 3C 00", "short B0 0B 7F", "short B0 07 5A",
                                      "short B0 00 02", "short B0 20 00", "short C0 04", "short B0 7B 00",
                                      "short B0 79 00"}));
}

TEST_F(PortTest, SendResetSendsItsMessageAndWaitsFiftyMilliseconds) {
  struct Case {
    int32_t type;
    const char* expected;  // nullptr: nothing, and no wait
  };
  for (const Case& c :
       {Case{0, nullptr}, Case{1, "long F0 7E 7F 09 01 F7"}, Case{2, "long F0 43 10 4C 00 00 7E 00 F7"},
        Case{3, "long F0 41 10 42 12 40 00 7F 00 41 F7"}, Case{4, nullptr}, Case{-1, nullptr}}) {
    SCOPED_TRACE(c.type);
    OpenDefault();
    const uint32_t before = clock_.Now();
    midi::SendReset(c.type);
    if (c.expected) {
      EXPECT_EQ(Lines(device_->Calls()), std::vector<std::string>{c.expected});
      EXPECT_EQ(clock_.Now() - before, 50u);
    } else {
      EXPECT_TRUE(device_->Calls().empty());
      EXPECT_EQ(clock_.Now(), before);
    }
  }
}

TEST_F(PortTest, SendResetWaitsAcrossTheClockWrap) {
  OpenDefault();
  clock_.Set(0xFFFFFFF0u);
  midi::SendReset(2);
  EXPECT_EQ(clock_.Now(), 50u - 16u);
  EXPECT_EQ(clock_.Slept(), 50u);
}

}  // namespace
