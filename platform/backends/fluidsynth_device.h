// The built-in synthesizer: libfluidsynth with a General MIDI soundfont, playing through the
// system's audio (or, for tests, into a WAV file through FluidSynth's file driver).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/midi_out.h"

namespace platform {

struct FluidSynthOptions {
  // The soundfont to load; empty: the first of FindGmSoundfont().
  std::string soundfont;
  // Audio drivers tried in order at each open; the first that starts is used. Not FluidSynth's own
  // default, which on some systems is JACK and could start a JACK server.
  std::vector<std::string> audioDrivers = {"pipewire", "pulseaudio", "alsa"};
  // With the driver "file": the WAV file the synth renders into (in real time, while open).
  std::string wavFile;
  double sampleRate = 48000;
  int periodSize = 128;  // frames per audio period
  int periods = 2;
  double fullGain = 0.2;  // the synth gain at full volume (w = 0xFFFF on both sides)
};

// The soundfont folders' General MIDI soundfont: default-GM.sf2, FluidR3_GM.sf2, TimGM6mb.sf2 in
// /usr/share/sounds/sf2/, the first that exists; empty when there is none.
std::string FindGmSoundfont();

// Creates the synth and starts loading its soundfont on a background thread; Open waits for the
// load and fails when it failed or when no audio driver starts.
std::shared_ptr<MidiOutDevice> CreateFluidSynthDevice(const FluidSynthOptions& options);

}  // namespace platform
