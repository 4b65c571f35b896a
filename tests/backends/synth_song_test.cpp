// A compiled song played by the sequencer's real timer on the built-in synth rendering to a file.
#include <gtest/gtest.h>

#include <cstdio>

#include "midi/port.h"
#include "midi/sequencer.h"
#include "mml/conv.h"
#include "platform/backends/fluidsynth_device.h"
#include "stopwatch.h"
#include "synth_test_options.h"
#include "wav_reader.h"

namespace platform {
namespace {

using testing_support::FileOptions;
using testing_support::ReadWav;
using testing_support::Stopwatch;
using testing_support::TempWav;

TEST(BuiltInSynth, PlaysACompiledSongThroughTheSequencer) {
  if (FindGmSoundfont().empty()) {
    GTEST_SKIP() << "no General MIDI soundfont in /usr/share/sounds/sf2/";
  }
  // Five sixteenth notes at 120 quarter notes a minute: 625 ms of music.
  midi::ConnectCompilerHandOver();
  mml::CompileMML(":1t120o4l16cdefg\r\n", std::string(1, '\xFF'));
  ASSERT_TRUE(mml::ErrorList.empty()) << mml::ErrorList.front();
  ASSERT_GT(midi::SongSize(), 0);

  const std::string path = TempWav("song");
  auto synth = CreateFluidSynthDevice(FileOptions(path));
  WaitUntilSettled(*synth);
  midi::OpenPortOn(synth);
  ASSERT_TRUE(midi::PortIsOpen()) << "the synth did not open with the file driver";
  const Stopwatch clock;
  clock.SleepUntil(0.2);
  const double start = clock.Now();
  midi::StartPlayback();
  while (midi::IsPlaying() && clock.Now() < start + 10) {
    clock.SleepUntil(clock.Now() + 0.01);
  }
  const double end = clock.Now();
  clock.SleepUntil(end + 0.8);
  midi::ClosePort();
  synth.reset();  // the audio runs until the synth goes: then the file is complete

  const testing_support::Wav wav = ReadWav(path);
  std::remove(path.c_str());
  const double firstNote = start + 0.1;  // the sequencer starts 100 ms after StartPlayback
  ASSERT_LT(end - start, 5) << "the song never ended";
  EXPECT_LT(wav.Rms(0, firstNote - 0.03), 1e-4) << "near silence before the first note";
  const double sounding = wav.Rms(firstNote + 0.03, firstNote + 0.6);
  EXPECT_GT(sounding, 0.003) << "sound while the notes play";
  EXPECT_LT(wav.Rms(end + 0.1, end + 0.35), 1e-3)
      << "silence after the song's final reset; sounding " << sounding;
}

}  // namespace
}  // namespace platform
