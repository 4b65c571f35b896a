// The tables of MIDI output and input backends: adding a backend is one row. The device list is the
// built-in synthesizer (-1), then every backend's devices in table order; the input list is every input
// backend's sources in table order.
#include <vector>

#include "platform/midi_in.h"
#include "platform/midi_out.h"

#ifdef TONVIK_HAVE_FLUIDSYNTH
#include "platform/backends/fluidsynth_device.h"
#endif
#ifdef TONVIK_HAVE_ALSA
#include "platform/backends/alsa_devices.h"
#endif
#ifdef TONVIK_HAVE_JACK
#include "platform/backends/jack_device.h"
#endif

namespace platform {
namespace {

const std::vector<MidiBackend> kBackends = {
#ifdef TONVIK_HAVE_ALSA
    {"alsa", &AlsaMidiDevices},
#endif
#ifdef TONVIK_HAVE_JACK
    {"jack", &JackMidiDevices},
#endif
};

const std::vector<MidiInBackend> kInBackends = {
#ifdef TONVIK_HAVE_ALSA
    {"alsa", &AlsaMidiInPorts, &AlsaClaimsInput, &OpenAlsaMidiInput},
#endif
#ifdef TONVIK_HAVE_JACK
    {"jack", &JackMidiInPorts, &JackClaimsInput, &OpenJackMidiInput},
#endif
};

}  // namespace

std::span<const MidiBackend> MidiBackends() { return kBackends; }
std::span<const MidiInBackend> MidiInBackends() { return kInBackends; }

// Created at the first enumeration and kept for the run; nothing loads before it is prepared or opened.
std::shared_ptr<MidiOutDevice> DefaultMidiOutDevice() {
#ifdef TONVIK_HAVE_FLUIDSYNTH
  static const std::shared_ptr<MidiOutDevice> synth = [] {
    FluidSynthOptions options;
    options.periodSize = AudioPeriodFromEnvironment();
    return CreateFluidSynthDevice(options);
  }();
  return synth;
#else
  return nullptr;
#endif
}

}  // namespace platform
