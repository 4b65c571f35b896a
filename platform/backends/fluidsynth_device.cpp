#include "platform/backends/fluidsynth_device.h"

#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/backends/fluidsynth_messages.h"
#include "platform/backends/midi_bytes.h"

namespace platform {
namespace {

constexpr std::array<const char*, 3> kSoundfontFolders = {"soundfonts/", "sounds/sf2/", "sounds/sf3/"};
constexpr std::array<const char*, 3> kSoundfontNames = {"default-GM", "FluidR3_GM", "TimGM6mb"};
constexpr std::array<const char*, 2> kSoundfontExtensions = {".sf2", ".sf3"};
constexpr int kMinAudioPeriod = 64;
constexpr int kMaxAudioPeriod = 8192;

// Whether this FluidSynth build has the audio driver `name`.
bool HasAudioDriver(fluid_settings_t* settings, const std::string& name) {
  struct Search {
    const std::string& name;
    bool found = false;
  } search{name};
  fluid_settings_foreach_option(settings, "audio.driver", &search,
                                [](void* data, const char*, const char* option) {
                                  auto* s = static_cast<Search*>(data);
                                  s->found = s->found || s->name == option;
                                });
  return search.found;
}

// FluidSynth's built-in default soundfont (synth.default-soundfont); empty when it has none.
std::string ConfiguredSoundfont(fluid_settings_t* settings) {
  char* path = nullptr;
  if (settings == nullptr ||
      fluid_settings_getstr_default(settings, "synth.default-soundfont", &path) != FLUID_OK ||
      path == nullptr) {
    return {};
  }
  return path;
}

bool IsFile(const std::string& path) {
  std::error_code error;
  return !path.empty() && std::filesystem::is_regular_file(path, error);
}

// The folders of an XDG path list ("a:b:c"), each ending in '/'; empty entries are skipped.
void AppendDataFolders(const std::string& list, std::vector<std::string>& folders) {
  std::istringstream parts(list);
  std::string folder;
  while (std::getline(parts, folder, ':')) {
    if (folder.empty()) {
      continue;
    }
    if (folder.back() != '/') {
      folder += '/';
    }
    folders.push_back(folder);
  }
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

uint16_t ClampToUint16(int value) { return static_cast<uint16_t>(std::clamp(value, 0, 0xFFFF)); }

std::string JoinNames(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) {
    text += (text.empty() ? "" : ", ") + name;
  }
  return text;
}

// Threads: the UI thread and, during playback, the sequencer's timer thread call the device, never
// both at once (see MidiOutDevice). The start (soundfont load, audio driver) runs on a thread of its
// own; `ready_` publishes the synth to the callers. FluidSynth's own API is thread-safe, which covers
// the audio thread.
class FluidSynthDevice final : public WholeMessageDevice {
 public:
  explicit FluidSynthDevice(const FluidSynthOptions& options) : options_(options), gain_(options.fullGain) {
    RouteFluidSynthLog();
    settings_ = new_fluid_settings();
    if (settings_ == nullptr) {
      return;
    }
    fluid_settings_setnum(settings_, "synth.sample-rate", options_.sampleRate);
    fluid_settings_setnum(settings_, "synth.gain", options_.fullGain);
    fluid_settings_setint(settings_, "audio.period-size", options_.periodSize);
    fluid_settings_setint(settings_, "audio.periods", options_.periods);
    // FluidSynth takes a system-exclusive message only for its own device id (or 0x7F, all). The GS
    // and XG resets address device 0x10, the GM reset 0x7F: with 0x10 all three reach the synth.
    fluid_settings_setint(settings_, "synth.device-id", kSynthDeviceId);
    // On a JACK-only desktop: Tonvik's outputs to the system's playback ports, and no server started.
    fluid_settings_setstr(settings_, "audio.jack.id", "Tonvik synth");
    fluid_settings_setint(settings_, "audio.jack.autoconnect", 1);
    if (std::find(options_.audioDrivers.begin(), options_.audioDrivers.end(), "jack") !=
        options_.audioDrivers.end()) {
      setenv("JACK_NO_START_SERVER", "1", 1);  // before the start thread exists
    }
    if (!options_.wavFile.empty()) {
      fluid_settings_setstr(settings_, "audio.file.name", options_.wavFile.c_str());
    }
  }

  ~FluidSynthDevice() override {
    if (starter_.joinable()) {
      starter_.join();
    }
    if (driver_ != nullptr) {
      delete_fluid_audio_driver(driver_);
    }
    if (synth_ != nullptr) {
      delete_fluid_synth(synth_);
    }
    if (settings_ != nullptr) {
      delete_fluid_settings(settings_);
    }
  }

  // Read from the settings, never from the synth, which may still be loading.
  MidiOutCaps Caps() const override {
    MidiOutCaps caps;
    caps.name = "Built-in synthesizer (FluidSynth)";
    caps.technology = kModSoftwareSynth;
    int polyphony = 0;
    if (settings_ != nullptr) {
      fluid_settings_getint(settings_, "synth.polyphony", &polyphony);
    }
    caps.voices = ClampToUint16(polyphony);
    caps.notes = ClampToUint16(polyphony);
    caps.support = kMidiCapsVolume | kMidiCapsLrVolume;
    caps.latencyMs = 1000.0 * options_.periodSize * options_.periods / options_.sampleRate;
    return caps;
  }

  bool Prepare(std::function<void()> settled) override {
    std::lock_guard lock(mutex_);
    if (state_ == State::kReady || state_ == State::kFailed) {
      return true;
    }
    if (settled) {
      settledCallbacks_.push_back(std::move(settled));
    }
    if (state_ == State::kIdle) {
      state_ = State::kStarting;
      starter_ = std::thread([this] { Start(); });
    }
    return false;
  }

  std::string Failure() const override {
    std::lock_guard lock(mutex_);
    return failure_;
  }

  // Starts the synth if it has not started yet; fails only once its start has failed. Until it is
  // ready, messages are dropped.
  bool Open() override {
    Prepare({});
    std::lock_guard lock(mutex_);
    open_ = state_ != State::kFailed;
    return open_;
  }

  // The synth and its audio keep running: closing silences every channel and resets its controllers.
  void Close() override {
    open_ = false;
    if (!ready_) {
      return;
    }
    fluid_synth_all_sounds_off(synth_, -1);
    for (int channel = 0; channel < 16; ++channel) {
      fluid_synth_cc(synth_, channel, 121, 0);
    }
  }

  // The two sides share the synth's one gain: their mean, linear from 0 to the full gain.
  void SetVolume(uint32_t leftRight) override {
    const double left = leftRight & 0xFFFF;
    const double right = leftRight >> 16;
    gain_ = static_cast<float>(options_.fullGain * (left + right) / (2.0 * 0xFFFF));
    if (ready_) {
      fluid_synth_set_gain(synth_, gain_);
    }
  }

 private:
  enum class State { kIdle, kStarting, kReady, kFailed };

  // On the start thread: loads the soundfont, starts the audio, then runs the waiting callbacks.
  void Start() {
    const std::string failure = StartSynth();
    std::vector<std::function<void()>> callbacks;
    {
      std::lock_guard lock(mutex_);
      state_ = failure.empty() ? State::kReady : State::kFailed;
      failure_ = failure;
      if (!failure.empty()) {
        open_ = false;
      }
      callbacks.swap(settledCallbacks_);
    }
    if (!failure.empty()) {
      std::fprintf(stderr, "tonvik: built-in synthesizer: %s\n", failure.c_str());
    }
    for (const auto& callback : callbacks) {
      callback();
    }
  }

  // Returns why the synth cannot sound, or "" when it is ready.
  std::string StartSynth() {
    if (settings_ == nullptr) {
      return "FluidSynth could not be set up";
    }
    const std::string soundfont = options_.soundfont.empty() ? FindGmSoundfont() : options_.soundfont;
    if (soundfont.empty()) {
      return "no General MIDI soundfont found (install e.g. fluid-soundfont-gm or timgm6mb-soundfont)";
    }
    fluid_synth_t* synth = new_fluid_synth(settings_);
    if (synth == nullptr) {
      return "FluidSynth could not be set up";
    }
    synth_ = synth;
    if (fluid_synth_sfload(synth, soundfont.c_str(), 1) == FLUID_FAILED) {
      return "the soundfont " + soundfont + " could not be loaded";
    }
    std::vector<std::string> tried;
    for (const std::string& name : options_.audioDrivers) {
      if (!HasAudioDriver(settings_, name) ||
          fluid_settings_setstr(settings_, "audio.driver", name.c_str()) != FLUID_OK) {
        continue;
      }
      tried.push_back(name);
      driver_ = new_fluid_audio_driver(settings_, synth);
      if (driver_ != nullptr) {
        break;
      }
    }
    if (driver_ == nullptr) {
      return "no audio output could start (tried: " +
             (tried.empty() ? std::string("none") : JoinNames(tried)) + ")";
    }
    ready_ = true;
    fluid_synth_set_gain(synth, gain_);
    return {};
  }

  void SendMessage(std::span<const uint8_t> message) override {
    if (!open_ || !ready_ || message.empty()) {
      return;
    }
    SendMessageToSynth(synth_, message);
  }

  const FluidSynthOptions options_;
  fluid_settings_t* settings_ = nullptr;
  // Written by the start thread before `ready_` is set; read by the callers only after.
  fluid_synth_t* synth_ = nullptr;
  fluid_audio_driver_t* driver_ = nullptr;
  std::atomic<bool> ready_ = false;
  std::atomic<bool> open_ = false;
  std::atomic<float> gain_;
  mutable std::mutex mutex_;  // guards the fields below
  State state_ = State::kIdle;
  std::string failure_;
  std::vector<std::function<void()>> settledCallbacks_;
  std::thread starter_;
};

}  // namespace

void SendMessageToSynth(fluid_synth_t* synth, std::span<const uint8_t> message) {
  if (message.empty()) {
    return;
  }
  const uint8_t status = message[0];
  if (status == 0xF0) {
    // FluidSynth takes the message without F0 and F7; it handles the GM, GS and XG resets.
    size_t length = message.size() - 1;
    if (length > 0 && message.back() == 0xF7) {
      --length;
    }
    fluid_synth_sysex(synth, reinterpret_cast<const char*>(message.data() + 1), static_cast<int>(length),
                      nullptr, nullptr, nullptr, 0);
    return;
  }
  if (status >= 0xF0 || message.size() < 2) {
    return;  // system common and real-time messages have nothing to do in the synth
  }
  const int channel = status & 0x0F;
  const int data1 = message[1];
  const int data2 = message.size() > 2 ? message[2] : 0;
  switch (status & 0xF0) {
    case 0x80:
      fluid_synth_noteoff(synth, channel, data1);
      break;
    case 0x90:
      if (data2 == 0) {
        fluid_synth_noteoff(synth, channel, data1);
      } else {
        fluid_synth_noteon(synth, channel, data1, data2);
      }
      break;
    case 0xA0:
      fluid_synth_key_pressure(synth, channel, data1, data2);
      break;
    case 0xB0:
      fluid_synth_cc(synth, channel, data1, data2);
      break;
    case 0xC0:
      fluid_synth_program_change(synth, channel, data1);
      break;
    case 0xD0:
      fluid_synth_channel_pressure(synth, channel, data1);
      break;
    default:  // 0xE0
      fluid_synth_pitch_bend(synth, channel, data1 | (data2 << 7));
      break;
  }
}

int AudioPeriodFromEnvironment() {
  const std::string text = Environment("TONVIK_AUDIO_PERIOD");
  if (text.empty()) {
    return kDefaultAudioPeriod;
  }
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || value < kMinAudioPeriod || value > kMaxAudioPeriod) {
    std::fprintf(stderr, "tonvik: TONVIK_AUDIO_PERIOD=%s is not a period of %d to %d frames; using %d\n",
                 text.c_str(), kMinAudioPeriod, kMaxAudioPeriod, kDefaultAudioPeriod);
    return kDefaultAudioPeriod;
  }
  return static_cast<int>(value);
}

std::vector<std::string> SoundfontCandidates(const std::string& configured) {
  std::vector<std::string> candidates;
  if (!configured.empty()) {
    candidates.push_back(configured);
  }
  std::vector<std::string> dataFolders;
  std::string dataHome = Environment("XDG_DATA_HOME");
  if (dataHome.empty() && !Environment("HOME").empty()) {
    dataHome = Environment("HOME") + "/.local/share";
  }
  AppendDataFolders(dataHome, dataFolders);
  const std::string dataDirs = Environment("XDG_DATA_DIRS");
  AppendDataFolders(dataDirs.empty() ? "/usr/local/share/:/usr/share/" : dataDirs, dataFolders);
  for (const std::string& data : dataFolders) {
    for (const char* folder : kSoundfontFolders) {
      for (const char* name : kSoundfontNames) {
        for (const char* extension : kSoundfontExtensions) {
          candidates.push_back(data + folder + name + extension);
        }
      }
    }
  }
  return candidates;
}

// FluidSynth's errors and warnings go to stderr, for someone who started the program from a terminal;
// the user sees the one reason of a failed start in the window. The synth starts once per run, so
// they appear once.
namespace {
void LogToStderr(int, const char* message, void*) { std::fprintf(stderr, "fluidsynth: %s\n", message); }
}  // namespace

void RouteFluidSynthLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    fluid_set_log_function(FLUID_PANIC, &LogToStderr, nullptr);
    fluid_set_log_function(FLUID_ERR, &LogToStderr, nullptr);
    fluid_set_log_function(FLUID_WARN, &LogToStderr, nullptr);
    fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
  });
}

std::string FindGmSoundfont() {
  RouteFluidSynthLog();
  fluid_settings_t* settings = new_fluid_settings();
  const std::string configured = ConfiguredSoundfont(settings);
  if (settings != nullptr) {
    delete_fluid_settings(settings);
  }
  for (const std::string& path : SoundfontCandidates(configured)) {
    if (IsFile(path)) {
      return path;
    }
  }
  return {};
}

std::shared_ptr<MidiOutDevice> CreateFluidSynthDevice(const FluidSynthOptions& options) {
  return std::make_shared<FluidSynthDevice>(options);
}

}  // namespace platform
