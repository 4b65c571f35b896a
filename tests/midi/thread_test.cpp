// Real threads: the timer thread and the UI side at the same time. Run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "midi_test_util.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(ThreadTimer, TicksUntilKilledFromInsideTheTick) {
  platform::ThreadTimer timer;
  std::atomic<int> ticks{0};
  ASSERT_TRUE(timer.Start(1, 1, [&] {
    if (++ticks == 5) timer.Kill();
  }));
  while (timer.Alive()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  timer.Join();
  EXPECT_EQ(ticks.load(), 5);
}

TEST(ThreadTimer, JoinStopsARunningTimerAndStartCanRunAgain) {
  platform::ThreadTimer timer;
  std::atomic<int> ticks{0};
  ASSERT_TRUE(timer.Start(1, 1, [&] { ++ticks; }));
  while (ticks.load() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  timer.Join();
  EXPECT_FALSE(timer.Alive());
  const int after = ticks.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(ticks.load(), after);
  ASSERT_TRUE(timer.Start(1, 1, [&] { ++ticks; }));
  while (ticks.load() < after + 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(timer.Alive());
}  // the destructor joins

TEST(ThreadTimer, RefusesAZeroPeriod) {
  platform::ThreadTimer timer;
  EXPECT_FALSE(timer.Start(0, 1, [] {}));
  EXPECT_FALSE(timer.Alive());
}

class ThreadedPlayback : public ::testing::Test {
 protected:
  void SetUp() override {
    device_ = std::make_shared<platform::RecordingMidiOut>(midi_test::Caps(platform::kMidiCapsVolume));
    platform::SetMidiOutDevicesForTesting(device_, {});
    midi::OpenPort(-1);
    ASSERT_TRUE(midi::PortIsOpen());
  }
  void TearDown() override {
    midi::FinalizeMidiDrive();
    platform::ClearMidiOutDevicesForTesting();
  }
  std::shared_ptr<platform::RecordingMidiOut> device_;
};

// A song that loops for ever: a loop point, then notes every 2 ticks (about 10 ms at time base 96).
Bytes LoopingSong() {
  Bytes image = {0x00, 0xFF, 0x03};
  for (uint8_t n = 0; n < 40; ++n) {
    image.insert(image.end(), {0x02, 0x90, static_cast<uint8_t>(0x30 + n), 0x40});
  }
  image.insert(image.end(), {0x02, 0xFF, 0x00});
  return image;
}

TEST_F(ThreadedPlayback, ManySendShortAndVolumeCallsDuringPlayback) {
  midi::LoadSong(LoopingSong(), 96);
  midi::StartPlayback();
  ASSERT_TRUE(midi::IsPlaying());
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
  uint32_t sent = 0;
  while (std::chrono::steady_clock::now() < until) {
    // Key pressure on channel 15 marks the UI's messages; the song uses channel 0 only.
    midi::SendShort(midi::PackShort(0xAF, static_cast<uint8_t>(sent & 0x7F), 1));
    midi::SetMasterVolume(static_cast<int32_t>(sent % 128));
    ++sent;
    if (sent % 16 == 0) std::this_thread::yield();
  }
  midi::StopPlayback();
  EXPECT_FALSE(midi::IsPlaying());
  EXPECT_GT(midi::LoopCount(), 0);

  const auto calls = device_->Calls();
  size_t ui = 0, notes = 0;
  for (const auto& call : calls) {
    if (call.kind == platform::MidiCall::Kind::kShort && call.bytes[0] == 0xAF) ++ui;
    if (call.kind == platform::MidiCall::Kind::kShort && call.bytes[0] == 0x90) ++notes;
  }
  EXPECT_GT(notes, 20u);
  EXPECT_GT(ui, 0u);
  EXPECT_LE(ui, sent);
  // The stop's reset comes last: nothing of the UI side overtook it.
  const auto reset = midi_test::ResetPortLines();
  ASSERT_GE(calls.size(), reset.size());
  std::vector<platform::MidiCall> tail(calls.end() - static_cast<long>(reset.size()), calls.end());
  EXPECT_EQ(midi_test::Lines(tail), reset);
}

TEST_F(ThreadedPlayback, SendShortWhileTheSongEndsByItself) {
  // A short song: the UI side keeps sending across its end; every message after the end goes out at once.
  midi::LoadSong(Bytes{0x00, 0x90, 0x3C, 0x40, 0x04, 0x90, 0x3C, 0x00, 0x00, 0xFF, 0x00}, 96);
  midi::StartPlayback();
  uint32_t sent = 0;
  while (midi::IsPlaying()) {
    midi::SendShort(midi::PackShort(0xAF, 1, 1));
    ++sent;
  }
  for (int i = 0; i < 100; ++i, ++sent) midi::SendShort(midi::PackShort(0xAF, 1, 1));
  midi::StopPlayback();
  size_t ui = 0;
  for (const auto& call : device_->Calls()) {
    if (call.kind == platform::MidiCall::Kind::kShort && call.bytes[0] == 0xAF) ++ui;
  }
  EXPECT_GE(ui, 100u);
  EXPECT_LE(ui, sent);
}

TEST_F(ThreadedPlayback, ClosingThePortDuringPlayback) {
  for (int round = 0; round < 3; ++round) {
    midi::OpenPort(-1);
    midi::LoadSong(LoopingSong(), 96);
    midi::StartPlayback();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    midi::ClosePort();
    EXPECT_FALSE(midi::IsPlaying());
    EXPECT_EQ(device_->Calls().back().kind, platform::MidiCall::Kind::kClose);
  }
}

}  // namespace
