// Rendering a 3-minute, 4-track song into a WAV file through the offline renderer: speed as a multiple of
// real time (counter "x_realtime" by the clock, "x_realtime_cpu" by the process's CPU time; run it on one
// core, e.g. taskset -c 0) and the peak resident memory of the process (counter "peak_MiB", Linux
// /proc/self/status).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "midi/song_render.h"
#include "mml/conv.h"
#include "mml/events.h"
#include "mml/state.h"
#include "platform/backends/fluidsynth_device.h"

namespace {

int64_t PeakBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atoll(line.c_str() + 6) * 1024;
  }
  return -1;
}

std::string Repeat(const std::string& bar, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += bar;
  return text;
}

// 90 bars of 4/4 at 120 quarter notes a minute (180 s): melody in eighths, bass in quarters, chords in
// halves, a line in sixteenths, each on its own track and instrument.
std::string ThreeMinuteSong() {
  return ":1 t120 @1 o4 l8 v100 " + Repeat("cdefgfed ", 90) + "\r\n" +  //
         ":2 @34 o2 l4 " + Repeat("cgeg ", 90) + "\r\n" +               //
         ":3 @49 o3 l2 " + Repeat("c0e0g e0g0>c< ", 90) + "\r\n" +      //
         ":4 @74 o5 l16 " + Repeat("cdegcdegcdegcdeg ", 90) + "\r\n";
}

void BM_RenderThreeMinutesFourTracks(benchmark::State& state) {
  if (platform::FindGmSoundfont().empty()) {
    state.SkipWithError("no General MIDI soundfont installed");
    return;
  }
  mml::CompileMML(ThreeMinuteSong(), std::string(1, '\0'));
  if (!mml::ErrorList.empty()) {
    state.SkipWithError("the song does not compile");
    return;
  }
  const std::vector<uint8_t> image = mml::LastPlayImage();
  midi::SongRenderOptions options;  // 44100 Hz, 5 s tail at most
  const double songSeconds =
      static_cast<double>(midi::SummarizeSong(image, mml::Timebase, options).endSample) /
      options.audio.sampleRate;
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("tonvik-bench-render-" + std::to_string(::getpid()) + ".wav"))
                               .string();
  double seconds = 0;
  double cpuSeconds = 0;  // the process's own CPU time: what the render costs on a shared machine
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    midi::RenderSongFile(path, platform::AudioFormat::kWav, image, mml::Timebase, options, {});
    cpuSeconds += static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  std::filesystem::remove(path);
  state.counters["song_s"] = songSeconds;
  state.counters["x_realtime"] = songSeconds * static_cast<double>(state.iterations()) / seconds;
  state.counters["x_realtime_cpu"] = songSeconds * static_cast<double>(state.iterations()) / cpuSeconds;
  state.counters["peak_MiB"] = static_cast<double>(PeakBytes()) / (1024 * 1024);
}
BENCHMARK(BM_RenderThreeMinutesFourTracks)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
