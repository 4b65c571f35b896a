#include "midi/song_render.h"

#include <algorithm>

namespace midi {
namespace {

TimelineOptions Timeline(int32_t timebase, const SongRenderOptions& options) {
  TimelineOptions timeline;
  timeline.timebase = timebase;
  timeline.sampleRate = options.audio.sampleRate;
  timeline.loops = options.loops;
  return timeline;
}

}  // namespace

std::optional<platform::AudioFormat> AudioFormatForName(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return std::nullopt;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (ext == "wav") return platform::AudioFormat::kWav;
  if (ext == "flac") return platform::AudioFormat::kFlac;
  if (ext == "ogg") return platform::AudioFormat::kOgg;
  return std::nullopt;
}

TimelineSummary SummarizeSong(std::span<const uint8_t> image, int32_t timebase,
                              const SongRenderOptions& options) {
  return WalkTimeline(image, Timeline(timebase, options), nullptr);
}

int32_t LoopAtFrame(const TimelineSummary& song, int64_t frame) {
  if (song.loops == 0 || frame < song.passSample || frame >= song.endSample) return 0;
  const int64_t body = std::max<int64_t>((song.endSample - song.passSample) / song.loops, 1);
  return static_cast<int32_t>(std::min<int64_t>((frame - song.passSample) / body + 1, song.loops));
}

#ifdef TONVIK_HAVE_AUDIO_RENDER

bool RenderSongFile(const std::string& path, platform::AudioFormat format, std::span<const uint8_t> image,
                    int32_t timebase, const SongRenderOptions& options,
                    const std::function<bool(const SongRenderProgress&)>& progress) {
  const TimelineSummary song = SummarizeSong(image, timebase, options);
  const double rate = std::max<int32_t>(options.audio.sampleRate, 1);
  platform::RenderProgress frames;
  if (progress) {
    frames = [&](int64_t done) {
      SongRenderProgress p;
      p.seconds = static_cast<double>(std::min(done, song.endSample)) / rate;
      p.totalSeconds = static_cast<double>(song.endSample) / rate;
      p.loop = LoopAtFrame(song, done);
      return progress(p);
    };
  }
  const TimelineOptions timeline = Timeline(timebase, options);
  auto source = [&](const platform::MessageSink& send) {
    WalkTimeline(image, timeline, [&](const TimedMessage& m) { send(m.sample, m.bytes); });
  };
  return platform::RenderAudioFile(path, format, options.audio, source, song.endSample, frames);
}

#else

bool RenderSongFile(const std::string&, platform::AudioFormat, std::span<const uint8_t>, int32_t,
                    const SongRenderOptions&, const std::function<bool(const SongRenderProgress&)>&) {
  throw platform::RenderError(
      "this build cannot render audio (it was built without FluidSynth or libsndfile)");
}

#endif

}  // namespace midi
