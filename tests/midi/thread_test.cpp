// Real threads: the timer thread and the UI side at the same time. Run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "record/input_player.h"
#include "tests/support/midi_test_util.h"

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

// A device that takes one writer at a time, as an ALSA sequencer handle or the JACK ring does: it counts
// calls that begin while another is still inside (each stays inside a moment, so that an overlap has room
// to happen) and keeps a plain counter that ThreadSanitizer sees written from both threads. While stalled,
// short messages wait inside until Release.
class SingleWriterDevice final : public platform::MidiOutDevice {
 public:
  platform::MidiOutCaps Caps() const override { return midi_test::Caps(platform::kMidiCapsVolume); }
  bool Open() override { return true; }
  void Close() override { Call(); }
  void ShortMsg(uint32_t) override {
    Enter();
    std::unique_lock lock(mutex_);
    waiting_ = stalled_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !stalled_; });
    waiting_ = false;
    lock.unlock();
    Leave();
  }
  void LongMsg(std::span<const uint8_t>) override { Call(); }
  void Reset() override { Call(); }
  void SetVolume(uint32_t) override { Call(); }

  int Overlaps() const { return overlaps_.load(); }
  void Stall() {
    std::lock_guard lock(mutex_);
    stalled_ = true;
  }
  void Release() {
    std::lock_guard lock(mutex_);
    stalled_ = false;
    changed_.notify_all();
  }
  void WaitUntilAShortMessageWaits() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return waiting_; });
  }
  bool AShortMessageWaits() {
    std::lock_guard lock(mutex_);
    return waiting_;
  }

 private:
  void Enter() {
    if (inside_.fetch_add(1) != 0) ++overlaps_;
    ++writes_;
    std::this_thread::sleep_for(std::chrono::microseconds(20));
  }
  void Leave() { inside_.fetch_sub(1); }
  void Call() {
    Enter();
    Leave();
  }

  std::atomic<int> inside_{0};
  std::atomic<int> overlaps_{0};
  uint64_t writes_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stalled_ = false;
  bool waiting_ = false;
};

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

class SingleWriterPlayback : public ::testing::Test {
 protected:
  void SetUp() override {
    writer_ = std::make_shared<SingleWriterDevice>();
    device_ = std::make_shared<platform::RecordingMidiOut>(platform::MidiOutCaps{}, writer_);
    platform::SetMidiOutDevicesForTesting(device_, {});
  }
  void TearDown() override {
    writer_->Release();
    midi::FinalizeMidiDrive();
    platform::ClearMidiOutDevicesForTesting();
    platform::SetClockForTesting(nullptr);
  }
  std::shared_ptr<SingleWriterDevice> writer_;
  std::shared_ptr<platform::RecordingMidiOut> device_;
  platform::FakeClock clock_{1000};  // for the tests that set it
};

TEST_F(SingleWriterPlayback, WindowMessagesNeverMeetTheTickAndKeepTheirOrder) {
  midi::OpenPort(-1);
  ASSERT_TRUE(midi::PortIsOpen());
  midi::LoadSong(LoopingSong(), 96);
  midi::StartPlayback();
  ASSERT_TRUE(midi::IsPlaying());
  // What the keyboard window sends while the edit dialog plays: notes, volume, program, the state's end
  // and a reset message, all on channel 15 (the song uses channel 0).
  std::vector<uint32_t> notes;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
  for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
    const int32_t note = i & 0x7F;
    midi::NoteOn(15, note, 1);
    midi::NoteOff(15, note);
    notes.push_back(midi::NoteOnMessage(15, note, 1));
    notes.push_back(midi::NoteOffMessage(15, note));
    if (i % 50 == 0) {
      midi::SetVolumeControl(15, 100);
      midi::SelectProgram(2, 15, 5, 1);
      midi::EndSendState(15);
    }
    if (i == 100) midi::SendReset(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(midi::IsPlaying());
  midi::StopPlayback();
  EXPECT_EQ(writer_->Overlaps(), 0);

  // The window's notes arrive in the order sent (a queue that wrapped between two ticks may drop some).
  size_t next = 0, arrived = 0;
  bool inOrder = true;
  for (const platform::MidiCall& call : device_->Calls()) {
    if (call.kind != platform::MidiCall::Kind::kShort || call.bytes[0] != 0x9F) continue;
    ++arrived;
    while (next < notes.size() && notes[next] != call.value) ++next;
    if (next == notes.size()) inOrder = false;
    ++next;
  }
  EXPECT_TRUE(inOrder);
  EXPECT_GT(arrived, notes.size() / 2);
}

TEST_F(SingleWriterPlayback, StopPlaybackEndsTheTimerOfATickStalledInTheDevice) {
  // A fake clock: StopPlayback's 3 s of waiting pass at once, while the tick really waits in the device.
  platform::SetClockForTesting(&clock_);
  midi::OpenPort(-1);
  midi::LoadSong(Bytes{0x00, 0x90, 0x3C, 0x40, 0x60, 0x90, 0x3C, 0x00, 0x00, 0xFF, 0x00}, 96);
  writer_->Stall();
  midi::StartPlayback();
  clock_.Advance(200);  // the note is due: the next tick sends it and stays in the device
  writer_->WaitUntilAShortMessageWaits();
  std::thread device([&] {
    while (clock_.Slept() < 3000) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    writer_->Release();
  });
  midi::StopPlayback();
  const bool tickStillInTheDevice = writer_->AShortMessageWaits();
  device.join();
  EXPECT_FALSE(tickStillInTheDevice) << "StopPlayback returned under a running tick";
  EXPECT_FALSE(midi::IsPlaying());
  // The song stopped as a tick would have stopped it: the port's reset comes last.
  const auto calls = device_->Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().kind, platform::MidiCall::Kind::kReset);
  midi::FreeSongBuffer();
  EXPECT_EQ(midi::SongSize(), -1);
}

// A MIDI keyboard's thread plays while the window (the UI side: its own notes, test play started and
// stopped, the port closed and opened by an activation) and the sequencer's tick run: the device sees
// one writer at a time, and the window takes the input's notes from a queue as its event loop would.
class InputQueue final : public record::InputHost {
 public:
  void NotePlayed(int32_t note, bool on, uint32_t) override { Post(note * 2 + (on ? 1 : 0)); }
  void ProgramReceived(int32_t program) override { Post(1000 + program); }
  void BankReceived(int32_t bank) override { Post(2000 + bank); }
  std::vector<int32_t> Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(posted_, {});
  }

 private:
  void Post(int32_t what) {
    std::lock_guard lock(mutex_);
    posted_.push_back(what);
  }
  std::mutex mutex_;
  std::vector<int32_t> posted_;
};

TEST_F(SingleWriterPlayback, AnInputThreadTheWindowAndTheTickShareTheDeviceOneAtATime) {
  midi::OpenPort(-1);
  ASSERT_TRUE(midi::PortIsOpen());
  InputQueue queue;
  record::InputPlayer player(queue);
  player.SetChannel(9);
  std::atomic<bool> stop{false};
  std::thread input([&] {
    for (uint32_t i = 0; !stop.load(); ++i) {
      const auto note = static_cast<uint8_t>(40 + i % 40);
      player.Receive(i, Bytes{0x93, note, 100});
      player.Receive(i, Bytes{0xB3, 64, static_cast<uint8_t>(i % 2 == 0 ? 127 : 0)});
      player.Receive(i, Bytes{0x83, note, 0});
      if (i % 64 == 0) player.Receive(i, Bytes{0xC3, static_cast<uint8_t>(i % 128)});
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    player.ReleaseAll(0);
  });
  size_t handled = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
  for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
    midi::NoteOn(15, i & 0x7F, 1);
    midi::NoteOff(15, i & 0x7F);
    handled += queue.Take().size();
    if (i % 100 == 0) {
      if (midi::IsPlaying()) {
        midi::StopPlayback();
      } else {
        midi::LoadSong(LoopingSong(), 96);
        midi::StartPlayback();
      }
    }
    if (i == 250) {
      midi::ClosePort();
      midi::OpenPort(-1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  stop = true;
  input.join();
  midi::StopPlayback();
  handled += queue.Take().size();
  EXPECT_EQ(writer_->Overlaps(), 0);
  EXPECT_GT(handled, 100u);
  size_t fromInput = 0;
  for (const platform::MidiCall& call : device_->Calls()) {
    if (call.kind == platform::MidiCall::Kind::kShort && (call.bytes[0] == 0x99 || call.bytes[0] == 0xB9)) {
      ++fromInput;
    }
  }
  EXPECT_GT(fromInput, 100u) << "the keyboard's notes and pedal on the window's channel";
}

}  // namespace
