#include "platform/backends/audio_render.h"

#include <fluidsynth.h>
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/backends/fluidsynth_device.h"
#include "platform/backends/fluidsynth_messages.h"
#include "platform/backends/midi_bytes.h"
#include "platform/files.h"

namespace platform {
namespace {

constexpr int kSynthBlock = 64;       // FluidSynth's internal block: what it is told starts at the next one
constexpr int64_t kChunk = 4096;      // frames per write call
constexpr int64_t kTailChunk = 1024;  // frames between the silence checks of the tail
constexpr float kSilence = 0.5f / 32768;  // below half the smallest step of 16-bit audio

struct Cancelled {};

// The file being encoded, kept in memory for libsndfile's virtual I/O.
struct MemoryFile {
  std::string bytes;
  sf_count_t pos = 0;

  static MemoryFile& Of(void* data) { return *static_cast<MemoryFile*>(data); }
  static sf_count_t Length(void* data) { return static_cast<sf_count_t>(Of(data).bytes.size()); }
  static sf_count_t Seek(sf_count_t offset, int whence, void* data) {
    MemoryFile& f = Of(data);
    const sf_count_t base = whence == SEEK_CUR ? f.pos : whence == SEEK_END ? Length(data) : 0;
    if (base + offset < 0) return -1;
    f.pos = base + offset;
    return f.pos;
  }
  static sf_count_t Read(void* out, sf_count_t count, void* data) {
    MemoryFile& f = Of(data);
    const sf_count_t n = std::clamp<sf_count_t>(Length(data) - f.pos, 0, count);
    if (n > 0) std::memcpy(out, f.bytes.data() + f.pos, static_cast<size_t>(n));
    f.pos += n;
    return n;
  }
  static sf_count_t Write(const void* in, sf_count_t count, void* data) {
    MemoryFile& f = Of(data);
    const size_t end = static_cast<size_t>(f.pos + count);
    if (end > f.bytes.size()) f.bytes.resize(end);
    std::memcpy(f.bytes.data() + f.pos, in, static_cast<size_t>(count));
    f.pos += count;
    return count;
  }
  static sf_count_t Tell(void* data) { return Of(data).pos; }
};

// Ogg pages carry a stream serial number that libsndfile draws at random; the same audio must give the
// same file, so every page gets a fixed serial number and its checksum again.
// Page layout: "OggS", version, flags, granule (8), serial (4) at 14, sequence (4), CRC (4) at 22,
// segment count at 26, the segment table, then the segments.
void FixOggSerial(std::string& bytes) {
  static const std::array<uint32_t, 256> kCrc = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t r = i << 24;
      for (int k = 0; k < 8; ++k) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
      table[i] = r;
    }
    return table;
  }();
  constexpr uint32_t kSerial = 0x546F6E76;  // any fixed value
  size_t at = 0;
  while (at + 27 <= bytes.size() && bytes.compare(at, 4, "OggS") == 0) {
    const size_t segments = static_cast<uint8_t>(bytes[at + 26]);
    if (at + 27 + segments > bytes.size()) return;
    size_t size = 27 + segments;
    for (size_t i = 0; i < segments; ++i) size += static_cast<uint8_t>(bytes[at + 27 + i]);
    if (at + size > bytes.size()) return;
    for (int i = 0; i < 4; ++i) {
      bytes[at + 14 + i] = static_cast<char>((kSerial >> (8 * i)) & 0xFF);
      bytes[at + 22 + i] = 0;
    }
    uint32_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
      crc = (crc << 8) ^ kCrc[((crc >> 24) ^ static_cast<uint8_t>(bytes[at + i])) & 0xFF];
    }
    for (int i = 0; i < 4; ++i) bytes[at + 22 + i] = static_cast<char>((crc >> (8 * i)) & 0xFF);
    at += size;
  }
}

int SndfileFormat(AudioFormat format) {
  switch (format) {
    case AudioFormat::kFlac:
      return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    case AudioFormat::kOgg:
      return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    default:
      return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  }
}

const char* FormatName(AudioFormat format) {
  switch (format) {
    case AudioFormat::kFlac:
      return "FLAC";
    case AudioFormat::kOgg:
      return "Ogg Vorbis";
    default:
      return "WAV";
  }
}

std::string CheckedSoundfont(const std::string& given) {
  const std::string path = given.empty() ? FindGmSoundfont() : given;
  if (path.empty()) {
    throw RenderError(
        "no General MIDI soundfont found (install e.g. fluid-soundfont-gm or timgm6mb-soundfont,"
        " or give --soundfont FILE)");
  }
  std::ifstream probe(path, std::ios::binary);
  char first = 0;
  if (!probe || !probe.get(first)) {
    const int err = errno;
    throw RenderError("cannot read the soundfont " + path +
                      (err != 0 ? std::string(": ") + std::strerror(err) : std::string()));
  }
  return path;
}

// One render: the synth, the encoder and the frames done so far.
class Renderer {
 public:
  Renderer(const AudioRenderOptions& options, const RenderProgress& progress)
      : options_(options), progress_(progress), buffer_(2 * kChunk) {}

  ~Renderer() {
    if (sound_ != nullptr) sf_close(sound_);
    if (synth_ != nullptr) delete_fluid_synth(synth_);
    if (settings_ != nullptr) delete_fluid_settings(settings_);
  }

  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;

  // Loads the soundfont into a new synth and opens the encoder; throws RenderError with the reason
  // (what was made so far is released by the destructor). `mostFrames`: the longest the audio can be.
  void Open(AudioFormat format, int64_t mostFrames) {
    RouteFluidSynthLog();
    const std::string soundfont = CheckedSoundfont(options_.soundfont);
    settings_ = new_fluid_settings();
    if (settings_ == nullptr) throw RenderError("FluidSynth could not be set up");
    double low = 0, high = 0;
    fluid_settings_getnum_range(settings_, "synth.sample-rate", &low, &high);
    if (options_.sampleRate < low || options_.sampleRate > high) {
      throw RenderError("the sample rate " + std::to_string(options_.sampleRate) +
                        " Hz is out of the synth's range " + std::to_string(static_cast<int>(low)) + ".." +
                        std::to_string(static_cast<int>(high)));
    }
    fluid_settings_setnum(settings_, "synth.sample-rate", options_.sampleRate);
    fluid_settings_setnum(settings_, "synth.gain",
                          options_.gain < 0 ? FluidSynthOptions().fullGain : options_.gain);
    fluid_settings_setint(settings_, "synth.device-id", kSynthDeviceId);
    fluid_settings_setint(settings_, "synth.threadsafe-api", 0);  // one thread drives it
    fluid_settings_setint(settings_, "synth.cpu-cores", 1);       // no worker threads, one order of work
    synth_ = new_fluid_synth(settings_);
    if (synth_ == nullptr) throw RenderError("FluidSynth could not be set up");
    if (fluid_synth_sfload(synth_, soundfont.c_str(), 1) == FLUID_FAILED) {
      throw RenderError("the soundfont " + soundfont + " could not be loaded");
    }

    SF_INFO info{};
    info.samplerate = options_.sampleRate;
    info.channels = 2;
    info.format = SndfileFormat(format);
    if (!sf_format_check(&info)) {
      throw RenderError(std::string("this libsndfile cannot write ") + FormatName(format) + " files at " +
                        std::to_string(options_.sampleRate) + " Hz");
    }
    if (format == AudioFormat::kWav) {
      // 16-bit stereo: the whole file in one block, instead of growing it (and the peak) by doubling.
      file_.bytes.reserve(static_cast<size_t>(mostFrames) * 4 + 1024);
    }
    io_ = {&MemoryFile::Length, &MemoryFile::Seek, &MemoryFile::Read, &MemoryFile::Write, &MemoryFile::Tell};
    sound_ = sf_open_virtual(&io_, SFM_WRITE, &info, &file_);
    if (sound_ == nullptr) {
      throw RenderError(std::string("cannot write ") + FormatName(format) + ": " + sf_strerror(nullptr));
    }
    sf_command(sound_, SFC_SET_CLIPPING, nullptr, SF_TRUE);  // loud peaks clip instead of wrapping
  }

  // A message at `sample`: rendered up to the block boundary nearest to it, then handed to the synth.
  void Send(int64_t sample, std::span<const uint8_t> message) {
    const int64_t boundary = (std::max<int64_t>(sample, 0) + kSynthBlock / 2) / kSynthBlock * kSynthBlock;
    RenderTo(boundary);
    SplitMidiBytes(message, [this](std::span<const uint8_t> whole) { SendMessageToSynth(synth_, whole); });
  }

  // The end of the song at `endSample`: sustain and notes off on every channel (as the sequencer's
  // reset does), then the tail until silence or its limit.
  void Finish(int64_t endSample) {
    RenderTo(endSample);
    std::array<uint8_t, 3> bytes{};
    for (uint32_t packed : DriverResetMessages()) {
      const int n = UnpackShortMessage(packed, bytes);
      SendMessageToSynth(synth_, std::span<const uint8_t>(bytes.data(), static_cast<size_t>(n)));
    }
    const int64_t tailEnd =
        done_ + static_cast<int64_t>(std::llround(options_.tailSeconds * options_.sampleRate));
    while (done_ < tailEnd) {
      const float peak = RenderTo(std::min(done_ + kTailChunk, tailEnd));
      if (peak < kSilence && fluid_synth_get_active_voice_count(synth_) == 0) break;
    }
  }

  std::string Close() {
    const int status = sf_close(sound_);
    sound_ = nullptr;
    if (status != 0) throw RenderError(std::string("cannot encode the audio: ") + sf_error_number(status));
    return std::move(file_.bytes);
  }

 private:
  // Renders up to `frame`; returns the peak of what it rendered.
  float RenderTo(int64_t frame) {
    float peak = 0;
    while (done_ < frame) {
      const int n = static_cast<int>(std::min(kChunk, frame - done_));
      float* out = buffer_.data();
      fluid_synth_write_float(synth_, n, out, 0, 2, out, 1, 2);
      for (int i = 0; i < 2 * n; ++i) peak = std::max(peak, std::fabs(out[i]));
      if (sf_writef_float(sound_, out, n) != n) {
        throw RenderError(std::string("cannot encode the audio: ") + sf_strerror(sound_));
      }
      done_ += n;
      if (progress_ && done_ - reported_ >= options_.sampleRate / 10) {
        reported_ = done_;
        if (!progress_(done_)) throw Cancelled{};
      }
    }
    return peak;
  }

  AudioRenderOptions options_;
  const RenderProgress& progress_;
  std::vector<float> buffer_;
  fluid_settings_t* settings_ = nullptr;
  fluid_synth_t* synth_ = nullptr;
  SF_VIRTUAL_IO io_{};
  MemoryFile file_;
  SNDFILE* sound_ = nullptr;
  int64_t done_ = 0;
  int64_t reported_ = 0;
};

}  // namespace

std::optional<std::string> RenderAudio(AudioFormat format, const AudioRenderOptions& options,
                                       const SongSource& song, int64_t endSample,
                                       const RenderProgress& progress) {
  if (!(options.tailSeconds >= 0) || endSample < 0 ||
      endSample + options.tailSeconds * options.sampleRate > static_cast<double>(kMaxRenderFrames)) {
    const double seconds = static_cast<double>(kMaxRenderFrames) / std::max<int32_t>(options.sampleRate, 1);
    throw RenderError("the audio would be too long: at most " + std::to_string(std::lround(seconds)) +
                      " seconds at " + std::to_string(options.sampleRate) + " Hz, tail included");
  }
  Renderer renderer(options, progress);
  renderer.Open(format,
                endSample + static_cast<int64_t>(std::ceil(options.tailSeconds * options.sampleRate)));
  try {
    song([&renderer](int64_t sample, std::span<const uint8_t> message) { renderer.Send(sample, message); });
    renderer.Finish(endSample);
  } catch (const Cancelled&) {
    return std::nullopt;
  }
  std::string bytes = renderer.Close();
  if (format == AudioFormat::kOgg) FixOggSerial(bytes);
  return bytes;
}

bool RenderAudioFile(const std::string& path, AudioFormat format, const AudioRenderOptions& options,
                     const SongSource& song, int64_t endSample, const RenderProgress& progress) {
  std::optional<std::string> bytes = RenderAudio(format, options, song, endSample, progress);
  if (!bytes) return false;
  WriteFileAtomic(path, {*bytes});
  return true;
}

}  // namespace platform
