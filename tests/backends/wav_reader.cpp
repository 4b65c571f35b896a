#include "wav_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace platform::testing_support {
namespace {

uint32_t Le32(const std::vector<char>& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8 |
         static_cast<uint8_t>(b[at + 2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}

uint16_t Le16(const std::vector<char>& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

}  // namespace

double Wav::Seconds() const {
  return channels > 0 && sampleRate > 0 ? static_cast<double>(samples.size()) / channels / sampleRate : 0;
}

double Wav::Rms(double from, double to) const {
  const auto frames = static_cast<long>(samples.size() / static_cast<size_t>(std::max(channels, 1)));
  const long first = std::clamp(static_cast<long>(from * sampleRate), 0L, frames);
  const long last = std::clamp(static_cast<long>(to * sampleRate), first, frames);
  double sum = 0;
  for (long i = first * channels; i < last * channels; ++i) {
    const double s = samples[static_cast<size_t>(i)] / 32768.0;
    sum += s * s;
  }
  const long count = (last - first) * channels;
  return count > 0 ? std::sqrt(sum / static_cast<double>(count)) : 0;
}

Wav ReadWav(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0) {
    throw std::runtime_error(path + ": not a RIFF WAVE file (" + std::to_string(b.size()) + " bytes)");
  }
  Wav wav;
  int bits = 0;
  for (size_t at = 12; at + 8 <= b.size();) {
    const uint32_t size = Le32(b, at + 4);
    const size_t body = at + 8;
    const size_t available = std::min<size_t>(size, b.size() - body);
    if (std::memcmp(b.data() + at, "fmt ", 4) == 0 && available >= 16) {
      const uint16_t format = Le16(b, body);
      wav.channels = Le16(b, body + 2);
      wav.sampleRate = static_cast<int>(Le32(b, body + 4));
      bits = Le16(b, body + 14);
      if (format != 1 && format != 0xFFFE) {
        throw std::runtime_error(path + ": sample format " + std::to_string(format) + " is not PCM");
      }
    } else if (std::memcmp(b.data() + at, "data", 4) == 0) {
      if (bits != 16 || wav.channels == 0) {
        throw std::runtime_error(path + ": expected 16-bit PCM before the data, got " + std::to_string(bits) +
                                 " bits");
      }
      wav.samples.resize(available / 2);
      std::memcpy(wav.samples.data(), b.data() + body, wav.samples.size() * 2);
      return wav;
    }
    at = body + size + (size & 1);
  }
  throw std::runtime_error(path + ": no data chunk");
}

}  // namespace platform::testing_support
