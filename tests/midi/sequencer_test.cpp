#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <span>
#include <thread>

#include "midi/drive_state.h"
#include "mml/events.h"
#include "tests/support/midi_test_util.h"

namespace {

using midi_test::Lines;
using midi_test::ResetPortLines;
using Bytes = std::vector<uint8_t>;

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class SequencerTest : public midi_test::PortFixture {
 protected:
  // Opens the port, loads `image` and starts it; forgets what the start sent.
  void Play(const Bytes& image, int32_t timebase = 96) {
    OpenDefault();
    midi::LoadSong(image, timebase);
    start_ = clock_.Now();
    midi::StartPlayback();
    ASSERT_TRUE(midi::IsPlaying());
    device_->Clear();
  }
  // Fires the timer every `stepMs` until `untilMs` after the start or until the song stops.
  void Run(uint32_t untilMs, uint32_t stepMs = 1) {
    while (midi::IsPlaying() && clock_.Now() - start_ < untilMs) {
      clock_.Advance(stepMs);
      timer_.Fire();
    }
  }
  // The calls since the start as "ms-after-start kind bytes".
  std::vector<std::string> Sent() {
    std::vector<std::string> lines;
    for (platform::MidiCall call : device_->Calls()) {
      call.time -= start_;
      lines.push_back(platform::ToString(call));
    }
    return lines;
  }
  // The calls without their times.
  std::vector<std::string> SentBytes() { return Lines(device_->Calls()); }

  uint32_t start_ = 0;
};

// With a tick every millisecond an event due at D (ms after the start time, which is the clock at
// StartPlayback + 1) goes out at the first tick that sees it within 5 ms: D - 4 ms after StartPlayback.
std::string At(uint32_t due, const std::string& call) { return std::to_string(due - 4) + " " + call; }

TEST_F(SequencerTest, WorkedExampleOfTheMillisecondConversion) {
  // Time base 96, tempo 500000: 5208 us per tick; 96 ticks are 500 ms, 24 ticks 125 ms.
  Play({0x00, 0xFF, 0x01, 0x07, 0xA1, 0x20, 0x00, 0x90, 0x3C, 0x7F, 0x60,
        0x90, 0x3C, 0x00, 0x18, 0x90, 0x3E, 0x7F, 0x00, 0xFF, 0x00});
  Run(2000);
  EXPECT_FALSE(midi::IsPlaying());
  const auto sent = Sent();
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(sent[0], At(100, "short 90 3C 7F"));
  EXPECT_EQ(sent[1], At(600, "short 90 3C 00"));
  EXPECT_EQ(sent[2], At(725, "short 90 3E 7F"));
}

TEST_F(SequencerTest, EventTimes) {
  struct Case {
    const char* name;
    Bytes image;
    std::vector<std::string> expected;  // the messages before the stop's reset
    int32_t timebase = 96;
    uint32_t clockAtStart = 1000;
  };
  const Case cases[] = {
      {"first delta 0 sounds 100 ms after the start",
       {0x00, 0x90, 0x3C, 0x7F, 0x00, 0xFF, 0x00},
       {At(100, "short 90 3C 7F")}},
      {"first delta counts from the 100 ms",
       {0x30, 0x90, 0x3C, 0x7F, 0x00, 0xFF, 0x00},  // 48 ticks = 250 ms
       {At(350, "short 90 3C 7F")}},
      {"zero deltas go out together in stream order",
       {0x00, 0xB0, 0x07, 0x64, 0x00, 0xC0, 0x05, 0x00, 0x90, 0x3C, 0x7F, 0x00, 0x90, 0x40, 0x7F, 0x00, 0xFF,
        0x00},
       {At(100, "short B0 07 64"), At(100, "short C0 05"), At(100, "short 90 3C 7F"),
        At(100, "short 90 40 7F")}},
      {"a tempo change converts the later deltas, not the one waited for",
       {0x00, 0x90, 0x3C, 0x7F, 0x60, 0xFF, 0x01, 0x03, 0xD0, 0x90, 0x60, 0x90, 0x3C, 0x00, 0x00, 0xFF, 0x00},
       {At(100, "short 90 3C 7F"), At(850, "short 90 3C 00")}},  // 500 ms at 120, then 250 ms at 240
      {"deltas round per event: 1 tick of 5208 us is 5 ms, four are 20 ms not 21",
       {0x01, 0x90, 0x3C, 0x7F, 0x01, 0x90, 0x3D, 0x7F, 0x01, 0x90, 0x3E, 0x7F, 0x01, 0x90, 0x3F, 0x7F, 0x00,
        0xFF, 0x00},
       {At(105, "short 90 3C 7F"), At(110, "short 90 3D 7F"), At(115, "short 90 3E 7F"),
        At(120, "short 90 3F 7F")}},
      {"half a millisecond rounds up: time base 1000 makes a tick 500 us",
       {0x01, 0x90, 0x3C, 0x7F, 0x00, 0xFF, 0x00},
       {At(101, "short 90 3C 7F")},
       1000},
      {"a variable-length delta",
       {0x81, 0x40, 0x90, 0x3C, 0x7F, 0x00, 0xFF, 0x00},  // 192 ticks = 1000 ms
       {At(1100, "short 90 3C 7F")}},
      {"time base 0 is taken as 1 instead of dividing by zero",
       {0x00, 0x90, 0x3C, 0x7F, 0x00, 0xFF, 0x00},
       {At(100, "short 90 3C 7F")},
       0},
      {"the song's clock runs on across the wrap of the millisecond clock",
       {0x00, 0x90, 0x3C, 0x7F, 0x30, 0x90, 0x3C, 0x00, 0x00, 0xFF, 0x00},  // the wrap comes between them
       {At(100, "short 90 3C 7F"), At(350, "short 90 3C 00")},
       96,
       0xFFFFFF00u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clock_.Set(c.clockAtStart);
    Play(c.image, c.timebase);
    Run(3000);
    EXPECT_FALSE(midi::IsPlaying());
    auto sent = Sent();
    ASSERT_EQ(sent.size(), c.expected.size() + ResetPortLines().size());
    sent.resize(c.expected.size());
    EXPECT_EQ(sent, c.expected);
    midi::ClosePort();
  }
}

TEST_F(SequencerTest, EventKinds) {
  struct Case {
    const char* name;
    Bytes events;  // placed after a first delta of 0, followed by 00 FF 00
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"running status",
       {0x90, 0x3C, 0x7F, 0x00, 0x3E, 0x7F, 0x00, 0x3C, 0x00},
       {"short 90 3C 7F", "short 90 3E 7F", "short 90 3C 00"}},
      {"two-byte running status", {0xD2, 0x10, 0x00, 0x20}, {"short D2 10", "short D2 20"}},
      {"control events do not change the running status",
       {0x90, 0x3C, 0x7F, 0x00, 0xFF, 0x02, 0x05, 0x00, 0x3E, 0x7F},
       {"short 90 3C 7F", "short 90 3E 7F"}},
      {"escaped bytes do not change the running status",
       {0x90, 0x3C, 0x7F, 0x00, 0xF7, 0x02, 0xF8, 0xFA, 0x00, 0x3E, 0x7F},
       {"short 90 3C 7F", "long F8 FA", "short 90 3E 7F"}},
      {"system exclusive gets its F0 back",
       {0xF0, 0x05, 0x43, 0x10, 0x4C, 0x00, 0xF7},
       {"long F0 43 10 4C 00 F7"}},
      {"system messages",
       {0xF1, 0x11, 0x00, 0xF2, 0x01, 0x02, 0x00, 0xF3, 0x03, 0x00, 0xF5, 0x01, 0x00, 0xF8},
       {"short F1 11", "short F2 01 02", "short F3 03", "short F5 01", "short F8"}},
      {"unknown control events carry no data", {0xFF, 0x7E, 0x00, 0xC0, 0x01}, {"short C0 01"}},
      {"pitch bend and key pressure",
       {0xE3, 0x00, 0x40, 0x00, 0xA1, 0x3C, 0x10},
       {"short E3 00 40", "short A1 3C 10"}},
      {"a system exclusive event too long for the 1024-byte buffer is skipped whole",
       [] {
         Bytes b = {0xF0, 0x88, 0x00};  // 1024 data bytes: with the F0 one byte too many
         b.insert(b.end(), 1024, 0x11);
         b.insert(b.end(), {0x00, 0x90, 0x3C, 0x7F});
         return b;
       }(),
       {"short 90 3C 7F"}},
      {"a system exclusive event that just fits is sent",
       [] {
         Bytes b = {0xF7, 0x88, 0x00};  // 1024 escaped bytes
         b.insert(b.end(), 1024, 0x22);
         return b;
       }(),
       {"long " +
        [] {
          std::string s;
          for (int i = 0; i < 1024; ++i) s += i ? " 22" : "22";
          return s;
        }()}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes image = {0x00};
    image.insert(image.end(), c.events.begin(), c.events.end());
    image.insert(image.end(), {0x00, 0xFF, 0x00});
    Play(image);
    Run(500);
    EXPECT_FALSE(midi::IsPlaying());
    auto sent = SentBytes();
    ASSERT_EQ(sent.size(), c.expected.size() + ResetPortLines().size());
    EXPECT_EQ(std::vector<std::string>(sent.begin() + static_cast<long>(c.expected.size()), sent.end()),
              ResetPortLines());
    sent.resize(c.expected.size());
    EXPECT_EQ(sent, c.expected);
    midi::ClosePort();
  }
}

TEST_F(SequencerTest, TheEndOfTheSongStopsTheTimerAndResetsThePort) {
  Play({0x00, 0x90, 0x3C, 0x7F, 0x60, 0x90, 0x3C, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x90, 0x40, 0x7F});
  Run(5000, 10);
  EXPECT_FALSE(midi::IsPlaying());
  EXPECT_FALSE(timer_.Alive());
  EXPECT_EQ(SentBytes(), Concat({"short 90 3C 7F", "short 90 3C 00"}, ResetPortLines()));
}

// Passes every call on to a recorder; at the first F5 02 it lets another thread act as the UI side and
// gives it a moment to get its calls through.
class InterruptingDevice final : public platform::MidiOutDevice {
 public:
  InterruptingDevice(std::shared_ptr<platform::MidiOutDevice> to, std::function<void()> ui)
      : to_(std::move(to)), ui_(std::move(ui)) {}
  ~InterruptingDevice() override {
    if (thread_.joinable()) thread_.join();
  }
  platform::MidiOutCaps Caps() const override { return to_->Caps(); }
  bool Open() override { return to_->Open(); }
  void Close() override { to_->Close(); }
  void ShortMsg(uint32_t packed) override {
    to_->ShortMsg(packed);
    if (packed == 0x02F5 && armed_) {
      armed_ = false;
      std::promise<void> done;
      std::future<void> finished = done.get_future();
      thread_ = std::thread([this, done = std::move(done)]() mutable {
        ui_();
        done.set_value();
      });
      finished.wait_for(std::chrono::milliseconds(100));
    }
  }
  void LongMsg(std::span<const uint8_t> bytes) override { to_->LongMsg(bytes); }
  void Reset() override { to_->Reset(); }
  void SetVolume(uint32_t leftRight) override { to_->SetVolume(leftRight); }
  void Arm() { armed_ = true; }
  void JoinUi() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::shared_ptr<platform::MidiOutDevice> to_;
  std::function<void()> ui_;
  bool armed_ = false;
  std::thread thread_;
};

TEST_F(SequencerTest, UiMessagesNeverLandInsideTheResetAtTheEndOfTheSong) {
  struct Case {
    const char* name;
    std::function<void()> ui;
    std::string uiLine;
  };
  const Case cases[] = {
      {"a short message", [] { midi::SendShort(0x05C1); }, "short C1 05"},
      {"a master volume change", [] { midi::SetMasterVolume(64); }, "volume 81FF81FF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto device = std::make_shared<InterruptingDevice>(device_, c.ui);
    midi::OpenPortOn(device);
    midi::LoadSong(Bytes{0x00, 0x90, 0x3C, 0x7F, 0x00, 0xFF, 0x00}, 96);
    start_ = clock_.Now();
    midi::StartPlayback();
    device_->Clear();
    device->Arm();
    Run(200, 10);
    device->JoinUi();
    EXPECT_FALSE(midi::IsPlaying());
    EXPECT_EQ(SentBytes(), Concat(Concat({"short 90 3C 7F"}, ResetPortLines()), {c.uiLine}));
    midi::ClosePort();
  }
}

TEST_F(SequencerTest, ImagesTheTickCannotReadToTheEndStopLikeAnEndOfSong) {
  struct Case {
    const char* name;
    Bytes image;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"empty image", {}, {}},
      {"no end of song", {0x00, 0x90, 0x3C, 0x7F}, {"short 90 3C 7F"}},
      {"ends inside a delta", {0x00, 0x90, 0x3C, 0x7F, 0x81}, {"short 90 3C 7F"}},
      {"ends inside a channel message", {0x00, 0x90, 0x3C}, {}},
      {"ends inside running status", {0x00, 0x90, 0x3C, 0x7F, 0x00, 0x3E}, {"short 90 3C 7F"}},
      {"ends inside a tempo", {0x00, 0xFF, 0x01, 0x07}, {}},
      {"ends after a control event's FF", {0x00, 0xFF}, {}},
      {"ends inside FF 02", {0x00, 0xFF, 0x02}, {}},
      {"ends inside a sysex length", {0x00, 0xF0, 0x85}, {}},
      {"sysex longer than what is left", {0x00, 0xF0, 0x05, 0x01, 0x02}, {}},
      {"data bytes without a status", {0x00, 0x3C, 0x7F}, {}},
      {"running status after system exclusive", {0x00, 0xF0, 0x01, 0xF7, 0x00, 0x3C, 0x7F}, {"long F0 F7"}},
      {"running status after a one-byte system message", {0x00, 0xF8, 0x00, 0x3C}, {"short F8"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Play(c.image);
    Run(1000);
    EXPECT_FALSE(midi::IsPlaying());
    EXPECT_EQ(SentBytes(), Concat(c.expected, ResetPortLines()));
    midi::ClosePort();
  }
}

TEST_F(SequencerTest, RandomImagesNeverReadOutsideTheBufferAndAlwaysStop) {
  // Under AddressSanitizer a read past the song buffer fails here. Bytes are drawn so that control
  // events, system exclusive and long deltas turn up often.
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<uint8_t>(seed >> 16);
  };
  const uint8_t kInteresting[] = {0x00, 0x01, 0x7F, 0x80, 0x81, 0x90, 0xC0, 0xF0, 0xF7, 0xFF, 0x03};
  for (int round = 0; round < 1500; ++round) {
    Bytes image(next() % 48);
    for (uint8_t& b : image) {
      const uint8_t r = next();
      b = r < 128 ? kInteresting[r % sizeof kInteresting] : next();
    }
    Play(image);
    Run(600, 10);
    clock_.SetSleepHook([this] { timer_.Fire(); });
    midi::ClosePort();
    clock_.SetSleepHook(nullptr);
    ASSERT_FALSE(midi::IsPlaying()) << round;
  }
}

TEST_F(SequencerTest, NoSongBufferPlaysNothing) {
  OpenDefault();
  midi::FreeSongBuffer();
  EXPECT_EQ(midi::SongSize(), -1);
  midi::StartPlayback();
  start_ = clock_.Now();
  device_->Clear();
  Run(500);
  EXPECT_FALSE(midi::IsPlaying());
  EXPECT_EQ(SentBytes(), ResetPortLines());
}

TEST_F(SequencerTest, ALoopRepeatsFromTheLoopPointWithTheDeltaAfterIt) {
  // Note A at 100, loop point, B 500 ms later, end of song 500 ms after B; the delta after the loop
  // point is added to the running time at every jump.
  Play({0x00, 0x90, 0x3C, 0x7F, 0x00, 0xFF, 0x03, 0x60, 0x90, 0x3E, 0x7F, 0x60, 0xFF, 0x00});
  Run(2200, 10);
  EXPECT_TRUE(midi::IsPlaying());
  EXPECT_EQ(midi::LoopCount(), 2);
  // With 10 ms ticks an event due at D goes out at the first tick whose clock is at least D - 4 after
  // the start.
  EXPECT_EQ(Sent(),
            (std::vector<std::string>{"100 short 90 3C 7F", "600 short 90 3E 7F", "1600 short 90 3E 7F"}));
}

TEST_F(SequencerTest, ALoopWithoutDurationJumpsOnceAndStops) {
  struct Case {
    const char* name;
    Bytes image;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"zero deltas only",
       {0x00, 0xFF, 0x03, 0x00, 0x90, 0x3C, 0x7F, 0x00, 0xFF, 0x00},
       {"short 90 3C 7F", "short 90 3C 7F"}},
      {"loop point at the end",
       {0x00, 0x90, 0x3C, 0x7F, 0x00, 0xFF, 0x03, 0x00, 0xFF, 0x00},
       {"short 90 3C 7F"}},
      {"loop point at the end of an image without end",
       {0x00, 0x90, 0x3C, 0x7F, 0x00, 0xFF, 0x03},
       {"short 90 3C 7F"}},
      // 1 tick at tempo 1 us per quarter rounds to 0 ms: a loop that is due at once again.
      {"a body that rounds to no time",
       {0x00, 0xFF, 0x01, 0x00, 0x00, 0x01, 0x00, 0xFF, 0x03, 0x01, 0x90, 0x3C, 0x7F, 0x01, 0xFF, 0x00},
       {"short 90 3C 7F", "short 90 3C 7F"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Play(c.image);
    Run(1000);
    EXPECT_FALSE(midi::IsPlaying());
    EXPECT_EQ(midi::LoopCount(), 1);
    EXPECT_EQ(SentBytes(), Concat(c.expected, ResetPortLines()));
    midi::ClosePort();
  }
}

TEST_F(SequencerTest, ALateTickSendsEverythingOverdue) {
  Play({0x00, 0x90, 0x3C, 0x7F, 0x18, 0x90, 0x3E, 0x7F, 0x18, 0x90, 0x40, 0x7F, 0x60, 0x90, 0x43, 0x7F, 0x00,
        0xFF, 0x00});  // due at 100, 225, 350 and 850
  clock_.Advance(400);
  timer_.Fire();
  EXPECT_EQ(Sent(),
            (std::vector<std::string>{"400 short 90 3C 7F", "400 short 90 3E 7F", "400 short 90 40 7F"}));
  // The song's clock is the sum of the deltas, not the time of the late tick: the last note keeps 850.
  Run(2000);
  EXPECT_EQ(Sent()[3], At(850, "short 90 43 7F"));
}

TEST_F(SequencerTest, SendShortDuringPlaybackIsSentAtTheNextTick) {
  Play({0x60, 0x90, 0x3C, 0x7F, 0x00, 0xFF, 0x00});
  midi::SendShort(0x403CB0);
  midi::SendShort(0x05C1);
  EXPECT_TRUE(device_->Calls().empty());
  clock_.Advance(10);
  timer_.Fire();
  EXPECT_EQ(SentBytes(), (std::vector<std::string>{"short B0 3C 40", "short C1 05"}));
}

TEST_F(SequencerTest, TheQueueStartsOverAfterThirtyTwoMessages) {
  Play({0x60, 0x90, 0x3C, 0x7F, 0x00, 0xFF, 0x00});
  for (uint32_t i = 0; i < 34; ++i) {
    midi::SendShort(midi::PackShort(0xB0, 0x10, static_cast<uint8_t>(i)));
  }
  clock_.Advance(10);
  timer_.Fire();
  // Only the messages after the wrap (the 33rd and 34th) are sent.
  EXPECT_EQ(SentBytes(), (std::vector<std::string>{"short B0 10 20", "short B0 10 21"}));
}

TEST_F(SequencerTest, ATickThatFindsBusyTakenSkipsItsPeriod) {
  Play({0x00, 0x90, 0x3C, 0x7F, 0x00, 0xFF, 0x00});
  clock_.Advance(200);
  ASSERT_TRUE(midi::detail::TryTakeBusy());
  timer_.Fire();
  EXPECT_TRUE(device_->Calls().empty());
  midi::detail::ReleaseBusy();
  timer_.Fire();
  EXPECT_EQ(SentBytes()[0], "short 90 3C 7F");
}

TEST_F(SequencerTest, MasterVolumeIsAppliedAtTheStartAndAtTheEndOfTheNextTick) {
  OpenDefault();
  midi::MasterVolume = 64;
  midi::LoadSong(Bytes{0x00, 0x90, 0x3C, 0x7F, 0x60, 0xFF, 0x00}, 96);
  midi::StartPlayback();
  EXPECT_EQ(SentBytes(), std::vector<std::string>{"volume 81FF81FF"});
  device_->Clear();
  midi::SetMasterVolume(1);
  EXPECT_TRUE(device_->Calls().empty());
  clock_.Advance(100);
  timer_.Fire();
  EXPECT_EQ(SentBytes(), (std::vector<std::string>{"short 90 3C 7F", "volume 03FF03FF"}));
}

TEST_F(SequencerTest, StopPlaybackStopsTheTickAndResetsThePort) {
  Play({0x00, 0x90, 0x3C, 0x7F, 0x00, 0xFF, 0x03, 0x60, 0x90, 0x3E, 0x7F, 0x60, 0xFF, 0x00});
  Run(300, 10);
  clock_.SetSleepHook([this] { timer_.Fire(); });
  midi::SendShort(0x05C1);
  midi::StopPlayback();
  EXPECT_FALSE(midi::IsPlaying());
  EXPECT_FALSE(timer_.Alive());
  EXPECT_EQ(clock_.Slept(), 100u);
  // The queue goes out before the stop.
  EXPECT_EQ(SentBytes(), Concat({"short 90 3C 7F", "short C1 05"}, ResetPortLines()));
  // Now nothing plays: the next stop returns at once and sends nothing.
  device_->Clear();
  midi::StopPlayback();
  EXPECT_EQ(clock_.Slept(), 100u);
  EXPECT_TRUE(device_->Calls().empty());
  EXPECT_EQ(midi::detail::PlayFlags.load(), 0u);
}

TEST_F(SequencerTest, ATimerThatCannotStartLeavesNothingToWaitFor) {
  timer_.SetFailStart(true);
  OpenDefault();
  midi::LoadSong(Bytes{0x00, 0x90, 0x3C, 0x7F, 0x00, 0xFF, 0x00}, 96);
  midi::StartPlayback();
  EXPECT_FALSE(midi::IsPlaying());
  midi::StopPlayback();
  midi::ClosePort();
  EXPECT_EQ(clock_.Slept(), 0u);
}

TEST_F(SequencerTest, StopPlaybackStopsTheSongItselfWhenTheTimerIsGone) {
  Play({0x00, 0x90, 0x3C, 0x7F, 0x60, 0xFF, 0x00});
  timer_.Kill();  // the timer died without stopping the song
  midi::StopPlayback();
  EXPECT_FALSE(midi::IsPlaying());
  EXPECT_EQ(clock_.Slept(), 0u);
  EXPECT_EQ(SentBytes(), ResetPortLines());
}

TEST_F(SequencerTest, StopPlaybackSendsTheQueueBeforeStoppingASongWhoseTimerIsGone) {
  Play({0x00, 0x90, 0x3C, 0x7F, 0x60, 0xFF, 0x00});
  midi::SendShort(0x05C1);
  timer_.Kill();
  midi::StopPlayback();
  EXPECT_FALSE(midi::IsPlaying());
  EXPECT_EQ(SentBytes(), Concat({"short C1 05"}, ResetPortLines()));
}

TEST_F(SequencerTest, StopPlaybackEndsATimerThatNeverTicks) {
  Play({0x00, 0x90, 0x3C, 0x7F, 0x60, 0xFF, 0x00});
  midi::SendShort(0x05C1);
  midi::StopPlayback();  // no sleep hook: the timer is alive but never fires
  EXPECT_LE(clock_.Slept(), 3100u);
  EXPECT_GE(clock_.Slept(), 100u);
  // After the wait the timer is ended and the song stopped here: nothing can tick on the buffer.
  EXPECT_FALSE(timer_.Alive());
  EXPECT_FALSE(midi::IsPlaying());
  EXPECT_EQ(SentBytes(), Concat({"short C1 05"}, ResetPortLines()));
}

TEST_F(SequencerTest, WindowMessagesDuringASongGoOutWithTheTickInOrder) {
  Play({0x00, 0x90, 0x3C, 0x7F, 0x60, 0xFF, 0x00});
  midi::NoteOn(0, 0x40, 0x50);
  midi::SetVolumeControl(0, 90);
  midi::NoteOff(0, 0x40);
  EXPECT_TRUE(device_->Calls().empty()) << "nothing reaches the device from the UI thread";
  clock_.Advance(1);
  timer_.Fire();
  EXPECT_EQ(SentBytes(), (std::vector<std::string>{"short 90 40 50", "short B0 0B 7F", "short B0 07 5A",
                                                   "short 90 40 00"}));
  // A reset message goes out at once, while the tick is kept out, after what was queued before it.
  device_->Clear();
  midi::SelectProgram(0, 0, 3, 0);
  midi::SendReset(1);
  EXPECT_EQ(SentBytes(), (std::vector<std::string>{"short B0 20 00", "short B0 00 00", "short C0 02",
                                                   "long F0 7E 7F 09 01 F7"}));
  EXPECT_EQ(midi::detail::Busy.load(), 0);
}

TEST_F(SequencerTest, ClosingThePortStopsThePlayback) {
  Play({0x00, 0x90, 0x3C, 0x7F, 0x60, 0xFF, 0x00});
  clock_.SetSleepHook([this] { timer_.Fire(); });
  midi::ClosePort();
  EXPECT_FALSE(midi::IsPlaying());
  auto expected = ResetPortLines();
  expected.push_back("volume FFFFFFFF");
  expected.push_back("close");
  EXPECT_EQ(SentBytes(), expected);
}

TEST_F(SequencerTest, ANewSongBufferStopsThePlaybackFirst) {
  Play({0x00, 0x90, 0x3C, 0x7F, 0x60, 0xFF, 0x00});
  clock_.SetSleepHook([this] { timer_.Fire(); });
  uint8_t* buffer = midi::AllocSongBuffer(4);
  ASSERT_NE(buffer, nullptr);
  EXPECT_FALSE(midi::IsPlaying());
  EXPECT_EQ(midi::SongSize(), 4);
  EXPECT_EQ(midi::AllocSongBuffer(-5) == nullptr, false);
  EXPECT_EQ(midi::SongSize(), 0);
}

TEST_F(SequencerTest, RestartingPlaysFromTheBeginning) {
  Play({0x00, 0x90, 0x3C, 0x7F, 0x60, 0x90, 0x3E, 0x7F, 0x00, 0xFF, 0x00});
  Run(200, 10);
  clock_.SetSleepHook([this] { timer_.Fire(); });
  midi::StartPlayback();
  start_ = clock_.Now();
  EXPECT_EQ(timer_.Starts(), 2);
  EXPECT_EQ(timer_.Period(), 10u);
  device_->Clear();
  Run(150, 1);
  EXPECT_EQ(Sent(), std::vector<std::string>{At(100, "short 90 3C 7F")});
}

TEST_F(SequencerTest, TheCompilersTestPlayImageLandsInTheSongBuffer) {
  midi::ConnectCompilerHandOver();
  mml::TMidiBufferList events;
  events.Add(0, {0x90, 0x3C, 0x7F});
  events.Add(48, {0x90, 0x3C, 0x00});
  mml::WriteNmm(events, 48, -1, 48, std::string(1, '\xFF'));
  EXPECT_EQ(midi::SongTimeBase, 48);
  ASSERT_EQ(midi::SongSize(), 10);  // 00 90 3C 7F 30 3C 00 00 FF 00: running status
  Play(mml::LastPlayImage(), 48);
  Run(1000);
  EXPECT_EQ(SentBytes()[0], "short 90 3C 7F");
  EXPECT_EQ(Sent()[1], At(600, "short 90 3C 00"));
}

}  // namespace
