// A compiled song (its play image) rendered offline into an audio file, every event at the sample its
// ticks and the tempo map give.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "midi/song_timeline.h"
#include "platform/backends/audio_render.h"

namespace midi {

struct SongRenderOptions {
  platform::AudioRenderOptions audio;
  int32_t loops = 0;  // how many more times a song with a loop point plays its loop
};

struct SongRenderProgress {
  double seconds = 0;       // song time rendered
  double totalSeconds = 0;  // song time up to the end of the last loop (the tail not counted)
  int32_t loop = 0;         // 1.. while a repetition of the loop plays, else 0
};

// The audio format a file name asks for by its extension (.wav, .flac, .ogg in any case); none
// otherwise.
std::optional<platform::AudioFormat> AudioFormatForName(const std::string& path);

// The song's length and loop points at `options`' rate and loop count.
TimelineSummary SummarizeSong(std::span<const uint8_t> image, int32_t timebase,
                              const SongRenderOptions& options);

// Which repetition of the loop plays at `frame` (0 in the first pass and in the tail).
int32_t LoopAtFrame(const TimelineSummary& song, int64_t frame);

// Renders the image into `path` in `format`. Returns false when `progress` returned false (nothing is
// written). Throws platform::RenderError or platform::FileError with the reason.
bool RenderSongFile(const std::string& path, platform::AudioFormat format, std::span<const uint8_t> image,
                    int32_t timebase, const SongRenderOptions& options,
                    const std::function<bool(const SongRenderProgress&)>& progress);

}  // namespace midi
