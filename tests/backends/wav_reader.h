// Reads a 16-bit PCM WAV file for the tests that check what a synth rendered.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform::testing_support {

struct Wav {
  int sampleRate = 0;
  int channels = 0;
  std::vector<int16_t> samples;  // interleaved

  double Seconds() const;
  // Root mean square of all channels from `from` to `to` seconds, 1.0 being full scale.
  double Rms(double from, double to) const;
};

// Throws std::runtime_error with the reason when the file is no 16-bit PCM WAV.
Wav ReadWav(const std::string& path);

}  // namespace platform::testing_support
