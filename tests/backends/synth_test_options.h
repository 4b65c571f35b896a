// The built-in synth configured for tests: FluidSynth's file driver rendering into a WAV file.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/backends/fluidsynth_device.h"

namespace platform::testing_support {

inline std::string TempWav(const std::string& name) {
  return testing::TempDir() + "tonvik_" + name + "_" + std::to_string(getpid()) + ".wav";
}

inline FluidSynthOptions FileOptions(const std::string& wav) {
  FluidSynthOptions options;
  options.audioDrivers = {"file"};
  options.wavFile = wav;
  options.sampleRate = 44100;
  options.periodSize = 64;
  return options;
}

}  // namespace platform::testing_support
