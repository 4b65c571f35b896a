// tonvik-mml FILE -o OUT.wav|.flac|.ogg: the compiled song rendered offline through the built-in
// synthesizer's engine into an audio file.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <exception>

#include "midi/song_render.h"
#include "mml/conv.h"
#include "mml/events.h"
#include "mml/state.h"
#include "tools/commands.h"
#include "tools/progress_line.h"

namespace tools {

const char* const kRenderHelp =
    "tonvik-mml FILE -o OUT.wav    render FILE offline through the built-in synthesizer into a WAV,\n"
    "                              FLAC or Ogg Vorbis file (.wav, .flac, .ogg, any case)\n"
    "  --soundfont SF2             the soundfont (default: the one the built-in synthesizer uses)\n"
    "  --rate HZ                   sample rate (default 44100)\n"
    "  --gain G                    FluidSynth's gain, 0..10 (default: the built-in synthesizer's)\n"
    "  --loops N                   a song with a loop point plays its loop N more times (default 0)\n"
    "  --tail SECONDS              keep rendering after the end while voices sound, up to SECONDS\n"
    "                              (default 5; stops early at silence)\n"
    "  --quiet                     no progress line (rendering and --play; shown only on a terminal)\n"
    "  A missing or unreadable soundfont or an audio format that cannot be written: exit 2.\n\n";

namespace {

bool ParseNumber(const std::string& text, double low, double high, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (*end != '\0' || errno != 0 || !std::isfinite(v) || v < low || v > high) return false;
  value = v;
  return true;
}

bool ParseWhole(const std::string& text, long low, long high, long& value) {
  if (text.empty() || text[0] == '+' || text[0] == ' ') return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || errno != 0 || v < low || v > high) return false;
  value = v;
  return true;
}

}  // namespace

bool ParseRenderOption(const Args& args, size_t& i, RenderOptions& options, std::string& error) {
  const std::string& a = args[i];
  if (a == "--quiet") {
    options.Quiet = true;
    return true;
  }
  if (a != "--soundfont" && a != "--rate" && a != "--gain" && a != "--loops" && a != "--tail") return false;
  options.Given = true;
  if (i + 1 >= args.size()) {
    error = a + " needs a value";
    return true;
  }
  const std::string& value = args[++i];
  long whole = 0;
  double number = 0;
  if (a == "--soundfont") {
    if (value.empty()) error = "--soundfont needs a file name";
    options.Soundfont = value;
  } else if (a == "--rate") {
    if (ParseWhole(value, 1, 10'000'000, whole)) {
      options.Rate = static_cast<int32_t>(whole);
    } else {
      error = "--rate needs a sample rate in Hz, e.g. 44100";
    }
  } else if (a == "--gain") {
    if (ParseNumber(value, 0, 10, number)) {
      options.Gain = number;
    } else {
      error = "--gain needs a number from 0 to 10";
    }
  } else if (a == "--loops") {
    if (ParseWhole(value, 0, 1'000'000, whole)) {
      options.Loops = static_cast<int32_t>(whole);
    } else {
      error = "--loops needs a whole number from 0 to 1000000";
    }
  } else if (ParseNumber(value, 0, 3600, number)) {
    options.Tail = number;
  } else {
    error = "--tail needs seconds from 0 to 3600";
  }
  return true;
}

bool IsAudioOutput(const std::string& path) { return midi::AudioFormatForName(path).has_value(); }

std::string RenderCompiledSong(const std::string& path, const RenderOptions& options) {
  const std::optional<platform::AudioFormat> format = midi::AudioFormatForName(path);
  if (!format) return "not an audio file name (.wav, .flac, .ogg): " + path;
  midi::SongRenderOptions render;
  render.audio.soundfont = options.Soundfont;
  render.audio.sampleRate = options.Rate;
  render.audio.gain = options.Gain;
  render.audio.tailSeconds = options.Tail;
  render.loops = options.Loops;
  const std::vector<uint8_t> image = mml::LastPlayImage();
  ProgressLine line(options.Quiet);
  try {
    midi::RenderSongFile(path, *format, image, mml::Timebase, render, [&](const midi::SongRenderProgress& p) {
      line.Show(p.seconds, p.totalSeconds, p.loop);
      return true;
    });
  } catch (const std::exception& e) {
    line.Clear();
    return e.what();
  }
  return "";
}

}  // namespace tools
