#include "platform/backends/fluidsynth_device.h"

#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <future>
#include <mutex>

#include "platform/backends/midi_bytes.h"

namespace platform {
namespace {

constexpr const char* kSoundfontFolder = "/usr/share/sounds/sf2/";
constexpr std::array<const char*, 3> kSoundfontNames = {"default-GM.sf2", "FluidR3_GM.sf2", "TimGM6mb.sf2"};

// FluidSynth reports every failed driver probe and load on stderr. A device that cannot open fails
// quietly: the reasons are shown for the first open only (for someone who started the program from a
// terminal), later opens, one at each activation of the program, say nothing.
std::atomic<bool> quietErrors = false;

void LogError(int, const char* message, void*) {
  if (!quietErrors) {
    std::fprintf(stderr, "fluidsynth: %s\n", message);
  }
}

void QuietFluidSynthLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    fluid_set_log_function(FLUID_ERR, &LogError, nullptr);
    fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
    fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
  });
}

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

uint16_t ClampToUint16(int value) { return static_cast<uint16_t>(std::clamp(value, 0, 0xFFFF)); }

// Threads: the UI thread and, during playback, the sequencer's timer thread call the device, never
// both at once (see MidiOutDevice). FluidSynth's own API is thread-safe, which covers the soundfont
// loader thread and the audio thread.
class FluidSynthDevice final : public WholeMessageDevice {
 public:
  explicit FluidSynthDevice(const FluidSynthOptions& options) : options_(options) {
    QuietFluidSynthLog();
    settings_ = new_fluid_settings();
    fluid_settings_setnum(settings_, "synth.sample-rate", options_.sampleRate);
    fluid_settings_setnum(settings_, "synth.gain", options_.fullGain);
    fluid_settings_setint(settings_, "audio.period-size", options_.periodSize);
    fluid_settings_setint(settings_, "audio.periods", options_.periods);
    // FluidSynth takes a system-exclusive message only for its own device id (or 0x7F, all). The GS
    // and XG resets address device 0x10, the GM reset 0x7F: with 0x10 all three reach the synth.
    fluid_settings_setint(settings_, "synth.device-id", 0x10);
    if (!options_.wavFile.empty()) {
      fluid_settings_setstr(settings_, "audio.file.name", options_.wavFile.c_str());
    }
    synth_ = new_fluid_synth(settings_);
    const std::string soundfont = options_.soundfont.empty() ? FindGmSoundfont() : options_.soundfont;
    fluid_synth_t* synth = synth_;
    // The soundfont loads once, off the calling thread: a large one takes seconds.
    soundfontLoaded_ = std::async(std::launch::async, [synth, soundfont] {
                         return synth != nullptr && !soundfont.empty() &&
                                fluid_synth_sfload(synth, soundfont.c_str(), 1) != FLUID_FAILED;
                       }).share();
  }

  ~FluidSynthDevice() override {
    soundfontLoaded_.wait();
    StopAudio();
    if (synth_ != nullptr) {
      delete_fluid_synth(synth_);
    }
    delete_fluid_settings(settings_);
  }

  MidiOutCaps Caps() const override {
    MidiOutCaps caps;
    caps.name = "Built-in synthesizer (FluidSynth)";
    caps.technology = kModSoftwareSynth;
    const int polyphony = synth_ != nullptr ? fluid_synth_get_polyphony(synth_) : 0;
    caps.voices = ClampToUint16(polyphony);
    caps.notes = ClampToUint16(polyphony);
    caps.support = kMidiCapsVolume | kMidiCapsLrVolume;
    return caps;
  }

  // Waits for the soundfont, then starts the first audio driver that opens.
  bool Open() override {
    if (driver_ != nullptr) {
      return true;
    }
    const bool loaded = soundfontLoaded_.get();
    for (const std::string& name : options_.audioDrivers) {
      if (!loaded || driver_ != nullptr || !HasAudioDriver(settings_, name) ||
          fluid_settings_setstr(settings_, "audio.driver", name.c_str()) != FLUID_OK) {
        continue;
      }
      driver_ = new_fluid_audio_driver(settings_, synth_);
    }
    quietErrors = true;
    open_ = driver_ != nullptr;
    return open_;
  }

  void Close() override { StopAudio(); }

  // The two sides share the synth's one gain: their mean, linear from 0 to the full gain.
  void SetVolume(uint32_t leftRight) override {
    if (synth_ == nullptr) {
      return;
    }
    const double left = leftRight & 0xFFFF;
    const double right = leftRight >> 16;
    fluid_synth_set_gain(synth_, static_cast<float>(options_.fullGain * (left + right) / (2.0 * 0xFFFF)));
  }

 private:
  // Silences the synth and stops its audio; the synth and its soundfont stay.
  void StopAudio() {
    open_ = false;
    if (driver_ == nullptr) {
      return;
    }
    fluid_synth_all_sounds_off(synth_, -1);
    delete_fluid_audio_driver(driver_);
    driver_ = nullptr;
  }

  void SendMessage(std::span<const uint8_t> message) override {
    if (!open_ || message.empty()) {
      return;
    }
    const uint8_t status = message[0];
    if (status == 0xF0) {
      // FluidSynth takes the message without F0 and F7; it handles the GM, GS and XG resets.
      size_t length = message.size() - 1;
      if (length > 0 && message.back() == 0xF7) {
        --length;
      }
      fluid_synth_sysex(synth_, reinterpret_cast<const char*>(message.data() + 1), static_cast<int>(length),
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
        fluid_synth_noteoff(synth_, channel, data1);
        break;
      case 0x90:
        if (data2 == 0) {
          fluid_synth_noteoff(synth_, channel, data1);
        } else {
          fluid_synth_noteon(synth_, channel, data1, data2);
        }
        break;
      case 0xA0:
        fluid_synth_key_pressure(synth_, channel, data1, data2);
        break;
      case 0xB0:
        fluid_synth_cc(synth_, channel, data1, data2);
        break;
      case 0xC0:
        fluid_synth_program_change(synth_, channel, data1);
        break;
      case 0xD0:
        fluid_synth_channel_pressure(synth_, channel, data1);
        break;
      default:  // 0xE0
        fluid_synth_pitch_bend(synth_, channel, data1 | (data2 << 7));
        break;
    }
  }

  const FluidSynthOptions options_;
  fluid_settings_t* settings_ = nullptr;
  fluid_synth_t* synth_ = nullptr;
  fluid_audio_driver_t* driver_ = nullptr;
  std::shared_future<bool> soundfontLoaded_;
  std::atomic<bool> open_ = false;
};

}  // namespace

std::string FindGmSoundfont() {
  for (const char* name : kSoundfontNames) {
    const std::string path = std::string(kSoundfontFolder) + name;
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error)) {
      return path;
    }
  }
  return {};
}

std::shared_ptr<MidiOutDevice> CreateFluidSynthDevice(const FluidSynthOptions& options) {
  return std::make_shared<FluidSynthDevice>(options);
}

}  // namespace platform
