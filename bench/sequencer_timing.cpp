// Timing of the sequencer on the real timer thread: a song of 2,000 events played to the recording
// device. Reports the distribution of (sent - due) in milliseconds (target: every event within -5..+6)
// and the time SequencerTick itself takes (target: under 50 us at the 99th percentile).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <thread>
#include <vector>

#include "midi/port.h"
#include "midi/sequencer.h"
#include "platform/clock.h"
#include "platform/midi_out.h"
#include "platform/midi_recording.h"
#include "platform/timer.h"

namespace {

constexpr int kEvents = 2000;
constexpr int32_t kTimeBase = 480;  // with tempo 500000: 1041 us per tick

struct Song {
  std::vector<uint8_t> image;
  std::vector<uint32_t> dueMs;  // per event, ms after the start time
};

// Note ons and offs with deltas of 0..5 ticks (chords, and about 2.6 ms between events on average).
Song MakeSong() {
  Song song;
  std::mt19937 random(7);
  std::uniform_int_distribution<int> delta(0, 5);
  const uint64_t usPerTick = 500000 / kTimeBase;
  uint32_t due = 100;
  for (int i = 0; i < kEvents; ++i) {
    const uint32_t d = static_cast<uint32_t>(delta(random));
    const uint64_t us = d * usPerTick;
    due += static_cast<uint32_t>(us / 1000 + (us % 1000 >= 500 ? 1 : 0));
    song.image.insert(song.image.end(), {static_cast<uint8_t>(d), 0x90, static_cast<uint8_t>(40 + i % 40),
                                         static_cast<uint8_t>(i % 2 ? 0 : 100)});
    song.dueMs.push_back(due);
  }
  song.image.insert(song.image.end(), {0x00, 0xFF, 0x00});
  return song;
}

// The real timer thread, with every tick timed.
class TimedTimer final : public platform::PeriodicTimer {
 public:
  TimedTimer() { tickNs.reserve(4096); }
  bool Start(uint32_t periodMs, uint32_t resolutionMs, std::function<void()> tick) override {
    return inner_.Start(periodMs, resolutionMs, [this, tick = std::move(tick)] {
      const auto begin = std::chrono::steady_clock::now();
      tick();
      tickNs.push_back(
          std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - begin).count());
    });
  }
  void Kill() override { inner_.Kill(); }
  void Join() override { inner_.Join(); }
  bool Alive() const override { return inner_.Alive(); }

  std::vector<double> tickNs;  // written by the timer thread, read after Join

 private:
  platform::ThreadTimer inner_;
};

template <typename T>
T Percentile(std::vector<T> values, double p) {
  if (values.empty()) return T{};
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1,
                         static_cast<size_t>(p / 100.0 * static_cast<double>(values.size())))];
}

void BM_SequencerTiming(benchmark::State& state) {
  const Song song = MakeSong();
  for (auto _ : state) {
    auto device = std::make_shared<platform::RecordingMidiOut>();
    device->Reserve(kEvents + 1000);
    platform::SetMidiOutDevicesForTesting(device, {});
    TimedTimer timer;
    midi::SetTimerForTesting(&timer);
    midi::OpenPort(-1);
    midi::LoadSong(song.image, kTimeBase);
    device->Clear();
    midi::StartPlayback();
    const uint32_t start = midi::PlaybackStartTime();
    while (midi::IsPlaying()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    midi::FinalizeMidiDrive();
    midi::SetTimerForTesting(nullptr);
    platform::ClearMidiOutDevicesForTesting();

    std::vector<int32_t> late;
    std::map<int32_t, int> histogram;
    // The song's note messages, in order (the master volume message at the start and the reset at the end
    // are left out).
    std::vector<platform::MidiCall> notes;
    for (const platform::MidiCall& call : device->Messages()) {
      if (call.kind == platform::MidiCall::Kind::kShort && call.bytes[0] == 0x90) notes.push_back(call);
    }
    for (size_t i = 0; i < notes.size() && i < song.dueMs.size(); ++i) {
      const int32_t diff = static_cast<int32_t>(notes[i].time - (start + song.dueMs[i]));
      late.push_back(diff);
      ++histogram[diff];
    }
    const auto outside = std::count_if(late.begin(), late.end(), [](int32_t d) { return d < -5 || d > 6; });
    std::fprintf(stderr, "sent - due (ms): count\n");
    for (const auto& [ms, count] : histogram) std::fprintf(stderr, "  %+4d: %d\n", ms, count);

    state.counters["events"] = static_cast<double>(late.size());
    state.counters["late_min_ms"] = *std::min_element(late.begin(), late.end());
    state.counters["late_p50_ms"] = Percentile(late, 50);
    state.counters["late_p99_ms"] = Percentile(late, 99);
    state.counters["late_max_ms"] = *std::max_element(late.begin(), late.end());
    state.counters["outside_-5..+6"] = static_cast<double>(outside);
    state.counters["ticks"] = static_cast<double>(timer.tickNs.size());
    state.counters["tick_p50_us"] = Percentile(timer.tickNs, 50) / 1000.0;
    state.counters["tick_p99_us"] = Percentile(timer.tickNs, 99) / 1000.0;
    state.counters["tick_max_us"] = Percentile(timer.tickNs, 100) / 1000.0;
  }
}
BENCHMARK(BM_SequencerTiming)->Iterations(1)->Unit(benchmark::kMillisecond);

// A device that only counts, so that the next benchmark measures the tick and not the recording.
class CountingDevice final : public platform::MidiOutDevice {
 public:
  platform::MidiOutCaps Caps() const override { return {}; }
  bool Open() override { return true; }
  void Close() override {}
  void ShortMsg(uint32_t) override { ++messages; }
  void LongMsg(std::span<const uint8_t>) override { ++messages; }
  void Reset() override {}
  void SetVolume(uint32_t) override {}
  int64_t messages = 0;
};

// SequencerTick alone: the song above, looped, ticked by hand every 10 ms of a fake clock.
void BM_SequencerTick(benchmark::State& state) {
  Song song = MakeSong();
  song.image.resize(song.image.size() - 3);
  song.image.insert(song.image.begin(), {0x00, 0xFF, 0x03});
  song.image.insert(song.image.end(), {0x00, 0xFF, 0x00});
  auto device = std::make_shared<CountingDevice>();
  platform::SetMidiOutDevicesForTesting(device, {});
  platform::FakeClock clock;
  platform::SetClockForTesting(&clock);
  platform::ManualTimer timer;
  midi::SetTimerForTesting(&timer);
  midi::OpenPort(-1);
  midi::LoadSong(song.image, kTimeBase);
  midi::StartPlayback();
  for (auto _ : state) {
    clock.Advance(10);
    timer.Fire();
  }
  state.counters["messages_per_tick"] =
      static_cast<double>(device->messages) / static_cast<double>(state.iterations());
  clock.SetSleepHook([&timer] { timer.Fire(); });
  midi::FinalizeMidiDrive();
  midi::SetTimerForTesting(nullptr);
  platform::SetClockForTesting(nullptr);
  platform::ClearMidiOutDevicesForTesting();
}
BENCHMARK(BM_SequencerTick);

}  // namespace

BENCHMARK_MAIN();
