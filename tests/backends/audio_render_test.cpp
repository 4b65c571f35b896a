// Offline rendering: where the notes land in the audio, that two renders are the same, the files
// libsndfile reads back, and the failures.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "midi/song_render.h"
#include "mml/conv.h"
#include "mml/events.h"
#include "mml/state.h"
#include "platform/backends/fluidsynth_device.h"
#include "platform/files.h"

namespace midi {
namespace {

namespace fs = std::filesystem;

struct Song {
  std::vector<uint8_t> image;
  int32_t timebase = 96;
};

Song Compile(const std::string& mml) {
  mml::CompileMML(mml, std::string(1, '\0'));
  EXPECT_TRUE(mml::ErrorList.empty()) << mml::ErrorList.front();
  return {mml::LastPlayImage(), mml::Timebase};
}

struct Audio {
  int rate = 0;
  int channels = 0;
  std::vector<float> frames;  // interleaved
  int64_t Frames() const { return channels == 0 ? 0 : static_cast<int64_t>(frames.size()) / channels; }
  // Root mean square over both channels of [from, to) seconds.
  double Rms(double from, double to) const {
    const int64_t a = std::clamp<int64_t>(std::llround(from * rate), 0, Frames());
    const int64_t b = std::clamp<int64_t>(std::llround(to * rate), a, Frames());
    double sum = 0;
    for (int64_t i = a * channels; i < b * channels; ++i) sum += double(frames[i]) * frames[i];
    return b > a ? std::sqrt(sum / double((b - a) * channels)) : 0;
  }
};

Audio ReadAudio(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
  Audio audio;
  if (file == nullptr) return audio;
  audio.rate = info.samplerate;
  audio.channels = info.channels;
  audio.frames.resize(static_cast<size_t>(info.frames * info.channels));
  EXPECT_EQ(sf_readf_float(file, audio.frames.data(), info.frames), info.frames);
  sf_close(file);
  return audio;
}

class AudioRender : public ::testing::Test {
 protected:
  void SetUp() override {
    if (platform::FindGmSoundfont().empty()) GTEST_SKIP() << "no General MIDI soundfont installed";
    dir_ = fs::temp_directory_path() / ("tonvik-render-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

SongRenderOptions Options(int32_t rate = 44100, double tail = 5, int32_t loops = 0) {
  SongRenderOptions options;
  options.audio.sampleRate = rate;
  options.audio.tailSeconds = tail;
  options.loops = loops;
  return options;
}

// The first frame from `from` seconds on at which the energy of a 1 ms window reaches `threshold`.
std::optional<double> Onset(const Audio& audio, double from, double to, double threshold) {
  const int window = audio.rate / 1000;
  const int64_t a = std::llround(from * audio.rate);
  const int64_t b = std::min<int64_t>(std::llround(to * audio.rate), audio.Frames() - window);
  for (int64_t i = std::max<int64_t>(a, 0); i < b; ++i) {
    double sum = 0;
    for (int64_t k = i; k < i + window; ++k) {
      for (int c = 0; c < audio.channels; ++c)
        sum += double(audio.frames[k * audio.channels + c]) * audio.frames[k * audio.channels + c];
    }
    if (sum / window >= threshold) return double(i) / audio.rate;
  }
  return std::nullopt;
}

TEST_F(AudioRender, NotesStartWhereTheTempoMapPutsThemWithSilenceInTheRests) {
  // Short notes of one key with rests, at three tempos: a quarter note lasts 0.5 s at t120, 0.75 s at
  // t80 and 0.3 s at t200; each note sounds a 32nd and its group (c32r16. = an eighth) ends in rests.
  const Song song =
      Compile(":1 o4 t120 c32r16.r8 c32r16.r4 t80 c32r16.r8 c32r16.r8 t200 c32r16.r2 c32r16.r2\r\n");
  const double expected[] = {0, 0.5, 1.25, 2.0, 2.75, 3.5};
  const SongRenderOptions options = Options(44100, 1);
  ASSERT_TRUE(
      RenderSongFile(Path("song.wav"), platform::AudioFormat::kWav, song.image, song.timebase, options, {}));
  const Audio audio = ReadAudio(Path("song.wav"));
  ASSERT_EQ(audio.rate, 44100);

  // The attack of the instrument delays every onset alike: the first onset is the reference.
  const double threshold = 1e-4;
  std::vector<double> found;
  for (double at : expected) {
    std::optional<double> onset = Onset(audio, at - 0.05, at + 0.1, threshold);
    ASSERT_TRUE(onset) << "no onset near " << at << " s";
    found.push_back(*onset);
  }
  for (size_t i = 1; i < found.size(); ++i) {
    EXPECT_NEAR(found[i] - found[0], expected[i] - expected[0], 0.001) << "note " << i;
  }
  // Before the next note, the one before it has died away (the release and the reverb keep sounding
  // for a while after each note: below -40 dB of the note's attack by the end of its rests).
  const double loud = audio.Rms(found[0], found[0] + 0.05);
  std::vector<double> restEnds(expected + 1, std::end(expected));
  restEnds.push_back(4.25);
  for (double end : restEnds) {
    EXPECT_LT(audio.Rms(found[0] + end - 0.06, found[0] + end - 0.01), loud / 100)
        << "rest before " << end << " s";
  }

  // A second render is the same to the bit.
  ASSERT_TRUE(
      RenderSongFile(Path("again.wav"), platform::AudioFormat::kWav, song.image, song.timebase, options, {}));
  EXPECT_EQ(platform::ReadWholeFile(Path("song.wav")), platform::ReadWholeFile(Path("again.wav")));
}

TEST_F(AudioRender, EachFormatReadsBackWithItsRateChannelsAndLength) {
  // Two bars at t120 (4 s), a loop point after the first bar: one more loop adds 2 s.
  const Song song = Compile(":1 o4 l4 t120 cdef \"*LOOP\" gab>c\r\n");
  struct Case {
    const char* name;
    platform::AudioFormat format;
    int32_t rate;
    int32_t loops;
    int64_t frames;
  };
  const Case cases[] = {
      {"x.wav", platform::AudioFormat::kWav, 44100, 0, 4 * 44100},
      {"x.flac", platform::AudioFormat::kFlac, 48000, 0, 4 * 48000},
      {"x.ogg", platform::AudioFormat::kOgg, 22050, 0, 4 * 22050},
      {"loop.wav", platform::AudioFormat::kWav, 8000, 1, 6 * 8000},
      {"loops.flac", platform::AudioFormat::kFlac, 8000, 3, 10 * 8000},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(
        RenderSongFile(Path(c.name), c.format, song.image, song.timebase, Options(c.rate, 0, c.loops), {}));
    const Audio audio = ReadAudio(Path(c.name));
    EXPECT_EQ(audio.rate, c.rate) << c.name;
    EXPECT_EQ(audio.channels, 2) << c.name;
    EXPECT_EQ(audio.Frames(), c.frames) << c.name;
    EXPECT_GT(audio.Rms(0, 1), 1e-3) << c.name;
  }
  // Twice the same Ogg file too: its stream serial number is fixed.
  ASSERT_TRUE(RenderSongFile(Path("y.ogg"), platform::AudioFormat::kOgg, song.image, song.timebase,
                             Options(22050, 0), {}));
  EXPECT_EQ(platform::ReadWholeFile(Path("x.ogg")), platform::ReadWholeFile(Path("y.ogg")));
}

TEST_F(AudioRender, TheTailEndsAtSilenceOrItsLimit) {
  const Song song = Compile(":1 o4 l4 t120 c r\r\n");  // one second
  ASSERT_TRUE(RenderSongFile(Path("t.wav"), platform::AudioFormat::kWav, song.image, song.timebase,
                             Options(8000, 30), {}));
  const int64_t withTail = ReadAudio(Path("t.wav")).Frames();
  EXPECT_GT(withTail, 8000);
  EXPECT_LT(withTail, 8000 * 30);  // the reverb dies away long before
  ASSERT_TRUE(RenderSongFile(Path("t.wav"), platform::AudioFormat::kWav, song.image, song.timebase,
                             Options(8000, 0.25), {}));
  EXPECT_EQ(ReadAudio(Path("t.wav")).Frames(), 8000 + 2000);
}

TEST_F(AudioRender, ASoundfontThatCannotBeReadIsAnErrorAndWritesNothing) {
  const Song song = Compile(":1 c\r\n");
  platform::WriteFileAtomic(Path("not.sf2"), {"not a soundfont"});
  struct Case {
    std::string soundfont;
    std::string message;
  };
  const Case cases[] = {
      {Path("missing.sf2"),
       "cannot read the soundfont " + Path("missing.sf2") + ": No such file or directory"},
      {dir_.string(), "cannot read the soundfont " + dir_.string() + ": Is a directory"},
      {Path("not.sf2"), "the soundfont " + Path("not.sf2") + " could not be loaded"},
  };
  for (const Case& c : cases) {
    SongRenderOptions options = Options();
    options.audio.soundfont = c.soundfont;
    try {
      RenderSongFile(Path("out.wav"), platform::AudioFormat::kWav, song.image, song.timebase, options, {});
      ADD_FAILURE() << c.soundfont << " was taken";
    } catch (const platform::RenderError& e) {
      EXPECT_EQ(e.what(), c.message);
    }
    EXPECT_FALSE(fs::exists(Path("out.wav")));
  }
}

TEST_F(AudioRender, ACancelledRenderLeavesTheEarlierFileUntouched) {
  const Song song = Compile(":1 o4 l1 t120 cccc\r\n");
  platform::WriteFileAtomic(Path("out.wav"), {"earlier"});
  int calls = 0;
  auto cancel = [&](const SongRenderProgress& p) {
    EXPECT_GT(p.totalSeconds, 7.9);
    return ++calls < 3;
  };
  EXPECT_FALSE(RenderSongFile(Path("out.wav"), platform::AudioFormat::kWav, song.image, song.timebase,
                              Options(), cancel));
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(platform::ReadWholeFile(Path("out.wav")), "earlier");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST(AudioFormatForName, TheExtensionDecidesInAnyCase) {
  EXPECT_EQ(AudioFormatForName("a.wav"), platform::AudioFormat::kWav);
  EXPECT_EQ(AudioFormatForName("dir.x/A.WaV"), platform::AudioFormat::kWav);
  EXPECT_EQ(AudioFormatForName("a.FLAC"), platform::AudioFormat::kFlac);
  EXPECT_EQ(AudioFormatForName("a.ogg"), platform::AudioFormat::kOgg);
  EXPECT_EQ(AudioFormatForName("a.mid"), std::nullopt);
  EXPECT_EQ(AudioFormatForName("wav"), std::nullopt);
  EXPECT_EQ(AudioFormatForName("x.wav/a"), std::nullopt);
}

}  // namespace
}  // namespace midi
