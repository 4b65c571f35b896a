// Offline rendering through the built-in synthesizer's engine: a song's messages, each at its sample,
// rendered as fast as the CPU allows and written as a WAV, FLAC or Ogg Vorbis file with libsndfile.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

namespace platform {

enum class AudioFormat { kWav, kFlac, kOgg };

// The render cannot run: no or an unreadable soundfont, a sample rate the synth does not take, a
// format this libsndfile cannot write, audio too long to keep. what() says which.
class RenderError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct AudioRenderOptions {
  std::string soundfont;  // empty: FindGmSoundfont()
  int32_t sampleRate = 44100;
  double gain = -1;        // FluidSynth's gain; negative: the built-in synthesizer's at full volume
  double tailSeconds = 5;  // at most this long after the end while voices or effects still sound
};

// Calls `send` for every message of the song, in time order, with its sample.
using MessageSink = std::function<void(int64_t sample, std::span<const uint8_t> message)>;
using SongSource = std::function<void(const MessageSink& send)>;
// Told the frames rendered so far, now and then; returning false cancels the render.
using RenderProgress = std::function<bool(int64_t frames)>;

// The longest audio a render keeps (it is built in memory and then written in one piece): 2^29 frames,
// 3 h 22 min at 44100 Hz.
inline constexpr int64_t kMaxRenderFrames = int64_t{1} << 29;

// Renders the song that ends at `endSample` into `path` (written as every output file is: atomically,
// an earlier file untouched on failure). FluidSynth renders in blocks of 64 frames and starts what it
// is told at the next block, so each message goes in at the block boundary nearest its sample (at most
// 32 frames away); nothing else moves it. Two renders of the same song give the same audio.
// Returns false when `progress` cancelled (no file is written). Throws RenderError, or FileError for
// the output file.
bool RenderAudioFile(const std::string& path, AudioFormat format, const AudioRenderOptions& options,
                     const SongSource& song, int64_t endSample, const RenderProgress& progress);

// The same into memory: the bytes of the whole file. nullopt when cancelled.
std::optional<std::string> RenderAudio(AudioFormat format, const AudioRenderOptions& options,
                                       const SongSource& song, int64_t endSample,
                                       const RenderProgress& progress);

}  // namespace platform
