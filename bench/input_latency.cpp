// MIDI input latency on a private JACK server with the dummy driver at 64 frames and 48 kHz (jackd must
// be installed). A bench client plays Note On / Note Off into Tonvik's input port at the start of a
// period and times, in the server's frames:
//  - BM_InputToOutputPort: until the message leaves Tonvik's JACK MIDI output port (Tonvik's input
//    thread, the one-writer send, the output ring). Target: p99 within one period plus 0.5 ms.
//  - BM_InputToSynthSound: until the first non-silent sample of the built-in synthesizer on FluidSynth's
//    JACK audio driver, at its frame in the period that carries it into the graph. The floor at the
//    loudspeaker is two periods (2.7 ms): one for the MIDI hop, one for the audio, which this count
//    leaves out (the period's samples reach the device after it); add one period to compare.
// The counters give p50, p99 and the maximum in milliseconds, the target and the messages lost.
#include <benchmark/benchmark.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "midi/port.h"
#include "platform/backends/fluidsynth_device.h"
#include "platform/backends/jack_device.h"
#include "platform/midi_in.h"
#include "record/input_player.h"
#include "tests/support/child_process.h"

namespace {

using platform::testing_support::ChildProcess;
using platform::testing_support::FindProgram;

constexpr const char* kServer = "tonvik-bench-input";
constexpr jack_nframes_t kPeriod = 64;
constexpr double kRate = 48000;
constexpr float kAudible = 1e-4f;

double FramesToMs(int64_t frames) { return 1000.0 * static_cast<double>(frames) / kRate; }

double Percentile(std::vector<double> samples, double p) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  return samples[static_cast<size_t>(p * static_cast<double>(samples.size() - 1))];
}

// The keyboard and the listener: a MIDI output into Tonvik's input, a MIDI input from Tonvik's output
// and an audio input from the synthesizer. One message at a time: Send arms it, the process callback
// writes it at offset 0 of the next period and notes when the answer came back.
class BenchClient {
 public:
  BenchClient() {
    jack_status_t status;
    client_ = jack_client_open("bench_keys", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                               &status, kServer);
    if (client_ == nullptr) return;
    out_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    watch_ = jack_port_register(client_, "watch", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    audio_ = jack_port_register(client_, "audio", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client_, &BenchClient::Process, this);
    jack_activate(client_);
  }
  ~BenchClient() {
    if (client_ != nullptr) jack_client_close(client_);
  }
  bool Ready() const {
    return client_ != nullptr && out_ != nullptr && watch_ != nullptr && audio_ != nullptr;
  }
  jack_client_t* Client() const { return client_; }

  // Sends `message` and waits for its answer (a MIDI message on the watch port, or sound); the latency
  // in frames, or -1 when none came within a second.
  int64_t Roundtrip(uint8_t status, uint8_t note, uint8_t velocity) {
    message_[0] = status;
    message_[1] = note;
    message_[2] = velocity;
    answered_ = false;
    sent_ = false;
    armed_ = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!answered_.load()) {
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return static_cast<int32_t>(answerFrame_ - sentFrame_);
  }
  void ListenForSound(bool on) { listenSound_ = on; }
  bool Silent() const { return silentPeriods_.load() > 8; }

 private:
  static int Process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<BenchClient*>(arg);
    const jack_nframes_t cycle = jack_last_frame_time(self->client_);
    void* out = jack_port_get_buffer(self->out_, frames);
    jack_midi_clear_buffer(out);
    if (self->armed_.exchange(false)) {
      jack_midi_event_write(out, 0, self->message_, 3);
      self->sentFrame_ = cycle;
      self->sent_ = true;
    }
    void* watched = jack_port_get_buffer(self->watch_, frames);
    for (uint32_t i = 0; i < jack_midi_get_event_count(watched); ++i) {
      jack_midi_event_t event;
      if (jack_midi_event_get(&event, watched, i) == 0 && event.size == 3 && self->sent_ &&
          !self->listenSound_ && !self->answered_ && (event.buffer[0] & 0xF0) == 0x90 &&
          event.buffer[1] == self->message_[1]) {
        self->answerFrame_ = cycle + event.time;
        self->answered_ = true;
      }
    }
    const auto* samples = static_cast<const float*>(jack_port_get_buffer(self->audio_, frames));
    bool silent = true;
    for (jack_nframes_t i = 0; i < frames; ++i) {
      if (std::fabs(samples[i]) <= kAudible) continue;
      silent = false;
      if (self->sent_ && self->listenSound_ && !self->answered_) {
        self->answerFrame_ = cycle + i;
        self->answered_ = true;
      }
      break;
    }
    self->silentPeriods_ = silent ? self->silentPeriods_ + 1 : 0;
    return 0;
  }

  jack_client_t* client_ = nullptr;
  jack_port_t* out_ = nullptr;
  jack_port_t* watch_ = nullptr;
  jack_port_t* audio_ = nullptr;
  uint8_t message_[3] = {};
  std::atomic<bool> armed_ = false;
  std::atomic<bool> sent_ = false;
  std::atomic<bool> answered_ = false;
  std::atomic<bool> listenSound_ = false;
  std::atomic<int> silentPeriods_ = 0;
  jack_nframes_t sentFrame_ = 0;
  jack_nframes_t answerFrame_ = 0;
};

// What a keyboard's message does in the window and in tonvik-mml --record, without the take.
class NoHost final : public record::InputHost {
 public:
  void NotePlayed(int32_t, bool, uint32_t) override {}
  void ProgramReceived(int32_t) override {}
  void BankReceived(int32_t) override {}
};

struct Setup {
  std::unique_ptr<ChildProcess> server;
  std::unique_ptr<BenchClient> client;
  NoHost host;
  std::unique_ptr<record::InputPlayer> player;
  std::unique_ptr<platform::MidiInput> input;
  std::string failure;
};

Setup& Bench() {
  static Setup setup;
  return setup;
}

bool StartServerAndInput() {
  Setup& s = Bench();
  if (s.input) return true;
  if (!s.failure.empty()) return false;
  const std::string jackd = FindProgram("jackd");
  if (jackd.empty()) {
    s.failure = "jackd is missing (Debian package jackd2)";
    return false;
  }
  setenv("JACK_DEFAULT_SERVER", kServer, 1);
  setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
  jack_set_error_function([](const char*) {});
  jack_set_info_function([](const char*) {});
  s.server = std::make_unique<ChildProcess>(
      std::vector<std::string>{jackd, "--no-realtime", "-n", kServer, "-d", "dummy", "-r", "48000", "-p",
                               std::to_string(kPeriod)},
      "", std::chrono::seconds(10));
  for (int i = 0; i < 250; ++i) {
    s.client = std::make_unique<BenchClient>();
    if (s.client->Ready()) break;
    s.client.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!s.client) {
    s.failure = "the private JACK server did not come up";
    return false;
  }
  s.player = std::make_unique<record::InputPlayer>(s.host);
  platform::JackDeviceOptions options;
  options.serverName = kServer;
  s.input = platform::OpenJackMidiInputOn(
      options, "bench_keys:out (JACK)",
      [](uint32_t stamp, std::span<const uint8_t> message) { Bench().player->Receive(stamp, message); });
  for (int i = 0; i < 100 && s.input && !s.input->Connected(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!s.input || !s.input->Connected()) {
    s.failure = "Tonvik's input port did not connect";
    s.input.reset();
    return false;
  }
  return true;
}

// The latencies of one benchmark, with the messages that never came back (lost in an overrun of the
// dummy driver without real-time scheduling).
struct Latencies {
  std::vector<double> ms;
  int lost = 0;

  void Add(benchmark::State& state, int64_t frames) {
    if (frames < 0) {
      ++lost;
      return;
    }
    ms.push_back(FramesToMs(frames));
    state.SetIterationTime(ms.back() / 1e3);
  }
  void Report(benchmark::State& state, double target) const {
    state.counters["p50_ms"] = Percentile(ms, 0.5);
    state.counters["p99_ms"] = Percentile(ms, 0.99);
    state.counters["max_ms"] = Percentile(ms, 1.0);
    state.counters["target_ms"] = target;
    state.counters["period_ms"] = FramesToMs(kPeriod);
    state.counters["lost"] = lost;
  }
};

void BM_InputToOutputPort(benchmark::State& state) {
  if (!StartServerAndInput()) {
    state.SkipWithError(Bench().failure.c_str());
    return;
  }
  platform::JackDeviceOptions options;
  options.serverName = kServer;
  std::shared_ptr<platform::JackMidiDevice> device = platform::CreateJackMidiDevice(options);
  if (!device || !device->ConnectTo("bench_keys:watch")) {
    state.SkipWithError("Tonvik's JACK output port did not come up");
    return;
  }
  midi::OpenPortOn(device);
  BenchClient& client = *Bench().client;
  client.ListenForSound(false);
  Latencies latencies;
  uint8_t note = 36;
  for (auto _ : state) {
    // A new note each time: a message lost in an overrun (the dummy driver without real-time
    // scheduling) leaves no note sounding that would swallow the next Note On.
    note = static_cast<uint8_t>(note == 95 ? 36 : note + 1);
    for (uint8_t velocity : {uint8_t{100}, uint8_t{0}}) {
      latencies.Add(state, client.Roundtrip(0x90, note, velocity));
    }
  }
  latencies.Report(state, FramesToMs(kPeriod) + 0.5);
  midi::ClosePort();
  device->CloseClient();
}
BENCHMARK(BM_InputToOutputPort)->UseManualTime()->Iterations(500)->Unit(benchmark::kMillisecond);

void BM_InputToSynthSound(benchmark::State& state) {
  if (!StartServerAndInput()) {
    state.SkipWithError(Bench().failure.c_str());
    return;
  }
  platform::FluidSynthOptions options;
  options.audioDrivers = {"jack"};
  options.periodSize = kPeriod;
  options.sampleRate = kRate;
  std::shared_ptr<platform::MidiOutDevice> synth = platform::CreateFluidSynthDevice(options);
  platform::WaitUntilSettled(*synth);
  if (!synth->Failure().empty()) {
    state.SkipWithError(("the built-in synthesizer did not start: " + synth->Failure()).c_str());
    return;
  }
  midi::OpenPortOn(synth);
  BenchClient& client = *Bench().client;
  const char** ports =
      jack_get_ports(client.Client(), "^Tonvik synth", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
  const bool connected = ports != nullptr && ports[0] != nullptr &&
                         jack_connect(client.Client(), ports[0], "bench_keys:audio") == 0;
  jack_free(ports);
  if (!connected) {
    state.SkipWithError("the synthesizer's audio port was not found");
    midi::ClosePort();
    return;
  }
  client.ListenForSound(true);
  Latencies latencies;
  const uint8_t note = 72;  // one note: the attack of every note of a soundfont differs
  for (auto _ : state) {
    const int64_t frames = client.Roundtrip(0x90, note, 127);
    client.Roundtrip(0x80, note, 0);                 // no answer: it only ends the note on the input side
    midi::SendShort(midi::PackShort(0xB0, 120, 0));  // all sound off: silence before the next
    for (int i = 0; i < 500 && !client.Silent(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    latencies.Add(state, frames);
  }
  latencies.Report(state, 2 * FramesToMs(kPeriod));
  midi::ClosePort();
}
BENCHMARK(BM_InputToSynthSound)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Bench().input.reset();
  Bench().client.reset();
  Bench().server.reset();
  return 0;
}
