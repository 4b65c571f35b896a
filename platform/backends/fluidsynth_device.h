// The built-in synthesizer: libfluidsynth with a General MIDI soundfont, playing through the
// system's audio (or, for tests, into a WAV file through FluidSynth's file driver).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/midi_out.h"

namespace platform {

// Frames per audio period unless TONVIK_AUDIO_PERIOD says otherwise: smaller periods underrun on a
// busy desktop, and some sound servers then run their whole graph at that period.
inline constexpr int kDefaultAudioPeriod = 256;

struct FluidSynthOptions {
  // The soundfont to load; empty: FindGmSoundfont().
  std::string soundfont;
  // Audio drivers tried in order when the synth starts; the first that starts is used for the whole
  // run. Not FluidSynth's own default, which on some systems is JACK and could start a JACK server:
  // JACK comes after the desktop sound servers and never starts a server.
  std::vector<std::string> audioDrivers = {"pipewire", "pulseaudio", "jack", "alsa"};
  // With the driver "file": the WAV file the synth renders into (in real time, while it runs).
  std::string wavFile;
  double sampleRate = 48000;
  int periodSize = kDefaultAudioPeriod;  // frames per audio period
  int periods = 2;
  double fullGain = 0.2;  // the synth gain at full volume (w = 0xFFFF on both sides)
};

// The period from TONVIK_AUDIO_PERIOD (64..8192 frames), else kDefaultAudioPeriod; a value out of range
// is reported on stderr and not used.
int AudioPeriodFromEnvironment();

// Where a General MIDI soundfont may be, in the order they are tried: `configured` (FluidSynth's
// synth.default-soundfont), then in soundfonts/, sounds/sf2/ and sounds/sf3/ of $XDG_DATA_HOME and of
// every folder of $XDG_DATA_DIRS: default-GM, FluidR3_GM, TimGM6mb, each .sf2 then .sf3.
std::vector<std::string> SoundfontCandidates(const std::string& configured);

// The first of SoundfontCandidates (with FluidSynth's configured default) that is a file; empty when
// there is none.
std::string FindGmSoundfont();

// Creates the device; nothing loads before Prepare or Open. The soundfont then loads and the audio
// driver starts on a thread of their own; both stay for the whole run, and messages sent before they
// are ready are dropped. Open fails once that start has failed.
std::shared_ptr<MidiOutDevice> CreateFluidSynthDevice(const FluidSynthOptions& options);

}  // namespace platform
