// Compiling generated songs to a Standard MIDI File: notes per second and the peak growth of resident
// memory per event (Linux: the high-water mark of /proc/self/status, reset before each compilation).
// The songs use four tracks, macros, repeat blocks with alternatives, envelopes and key-follow.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "mml/conv.h"
#include "mml/state.h"

namespace {

// Resident memory of this process in bytes, from /proc/self/status ("VmRSS:" now, "VmHWM:" peak).
int64_t StatusBytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::atoll(line.c_str() + std::strlen(field)) * 1024;
  }
  return -1;
}

// Starts a new peak: free heap memory goes back to the system, and the high-water mark of resident
// memory drops to the current size.
bool ResetPeak() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.close();
  return !clear.fail();
}

}  // namespace

namespace {

// A song of about `notes` notes on four tracks. Each macro plays ten notes; the tracks repeat them in
// blocks, two of them with alternatives; one pass of all four blocks plays 40 notes.
std::string GenerateSong(int notes) {
  const int passes = notes / 40;
  std::string song =
      "!A,[c8d8e8f8 g8a8b8>c8<g8e8]\r\n"
      "!B,[c16e16g16>c16<b16g16e16c16 d8f8]\r\n"
      "!C,[?1 ?1 ?2 ?2 ?1 ?1 ?2 ?2 ?1 ?2]\r\n"
      "!D,[{0c8e8} g8 [a16b16]2 r8 c8 e8 g8]\r\n"
      ":1 t132 o4 l8 @1 V100,0,8,96,-60,0,0 v100,%0,8,48,-30 [!A |!A |!A ]" +
      std::to_string(passes) +
      "\r\n"
      ":2 o3 l16 @33 p0,127,8,64,40,64,-40 s~c2,c6,60,120 [!B ]" +
      std::to_string(passes) +
      "\r\n"
      ":3 o5 l8 @41 M0,127,8,32,40,32,-40 [!C,c,e |!C,d,f ]" +
      std::to_string(passes) +
      "\r\n"
      ":4 O10 l8 [!D ]" +
      std::to_string(passes) + "\r\n";
  return song;
}

void CompileToSmf(benchmark::State& state) {
  const int notes = static_cast<int>(state.range(0));
  const std::string song = GenerateSong(notes);
  const std::string output =
      (std::filesystem::temp_directory_path() / ("tonvik-bench-" + std::to_string(::getpid()) + ".mid"))
          .string();
  int64_t events = 0;
  int64_t played = 0;
  int64_t peakBytes = 0;
  const bool cold = state.range(1) != 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (cold) {
      // As the first compilation of a run: the event list has no storage yet.
      mml::EventList.Release();
    }
    bool measured = ResetPeak();
    int64_t base = StatusBytes("VmRSS:");
    state.ResumeTiming();
    mml::CompileMML(song, output);
    state.PauseTiming();
    peakBytes = measured ? StatusBytes("VmHWM:") - base : -1;
    state.ResumeTiming();
    events = static_cast<int64_t>(mml::EventList.size());
    played = 0;
    for (const mml::TMidiBuffer& e : mml::EventList) {
      played += (e.Byte(0) >> 4) == 0x9 && e.Byte(2) != 0;
    }
    if (!mml::ErrorList.empty()) {
      state.SkipWithError("the generated song has compile errors");
      break;
    }
  }
  std::filesystem::remove(output);
  state.counters["notes/s"] =
      benchmark::Counter(static_cast<double>(played), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["notes"] = static_cast<double>(played);
  state.counters["events"] = static_cast<double>(events);
  state.counters["peak_bytes/event"] =
      events > 0 ? static_cast<double>(peakBytes) / static_cast<double>(events) : 0;
}

// Arguments: notes; 1 = cold (every compilation starts without list storage, so the peak counts the
// list too), 0 = warm (the list keeps its storage, as repeated test plays do).
BENCHMARK(CompileToSmf)
    ->ArgNames({"notes", "cold"})
    ->Args({10'000, 1})
    ->Args({200'000, 1})
    ->Args({10'000, 0})
    ->Args({200'000, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
