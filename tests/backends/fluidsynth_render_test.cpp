#include <gtest/gtest.h>

#include <cstdio>

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
using testing_support::Wav;

struct Render {
  Wav wav;
  std::vector<double> marks;  // seconds from the open, as the test noted them
};

// Opens a synth rendering to a file, runs `play` with a stopwatch started at the open, closes it
// and reads the file.
template <typename Play>
Render RenderWith(const std::string& name, Play play) {
  const std::string path = TempWav(name);
  auto device = CreateFluidSynthDevice(FileOptions(path));
  Render render;
  WaitUntilSettled(*device);
  if (!device->Open()) {
    ADD_FAILURE() << "the synth did not open with the file driver";
    return render;
  }
  Stopwatch clock;
  play(*device, clock, render.marks);
  device->Close();
  device.reset();  // the audio runs until the synth goes: then the file is complete
  render.wav = ReadWav(path);
  std::remove(path.c_str());
  return render;
}

TEST(FluidSynthDevice, RendersNotesAndFallsSilentAfterTheReset) {
  if (FindGmSoundfont().empty()) {
    GTEST_SKIP() << "no General MIDI soundfont in /usr/share/sounds/sf2/";
  }
  const Render render = RenderWith("phrase", [](MidiOutDevice& synth, const Stopwatch& clock, auto& marks) {
    clock.SleepUntil(0.3);
    marks.push_back(clock.Now());  // 0: first note
    synth.ShortMsg(0x000000C0);    // piano
    synth.ShortMsg(0x007F40B0);    // sustain on: the note-offs below must not end the notes
    for (uint32_t note : {60u, 64u, 67u}) {
      synth.ShortMsg(0x00640090 | note << 8);
    }
    const uint8_t offs[] = {0x90, 60, 0, 64, 0, 67, 0};  // running status in a long message
    synth.LongMsg(offs);
    clock.SleepUntil(0.8);
    marks.push_back(clock.Now());  // 1: the reset
    synth.Reset();
    clock.SleepUntil(2.0);
    marks.push_back(clock.Now());  // 2: the end
  });
  ASSERT_EQ(render.marks.size(), 3u);
  const Wav& wav = render.wav;
  ASSERT_GT(wav.Seconds(), render.marks[2] - 0.1) << "the file holds the whole run";
  const double before = wav.Rms(0.0, render.marks[0] - 0.05);
  const double sounding = wav.Rms(render.marks[0] + 0.05, render.marks[1] - 0.02);
  const double after = wav.Rms(render.marks[2] - 0.4, render.marks[2] - 0.05);
  EXPECT_LT(before, 1e-4) << "near silence before the first note";
  EXPECT_GT(sounding, 0.003) << "sound while the notes are held by the sustain pedal";
  EXPECT_LT(after, 1e-3) << "silence after the reset (sustain off, all notes off); sounding RMS " << sounding;
}

TEST(FluidSynthDevice, VolumeScalesTheGainLinearly) {
  if (FindGmSoundfont().empty()) {
    GTEST_SKIP() << "no General MIDI soundfont in /usr/share/sounds/sf2/";
  }
  // The same note three times: full volume, half (0x7FFF on both sides), zero.
  const Render render = RenderWith("volume", [](MidiOutDevice& synth, const Stopwatch& clock, auto& marks) {
    const uint32_t volumes[] = {0xFFFFFFFF, 0x7FFF7FFF, 0};
    double at = 0.2;
    for (uint32_t volume : volumes) {
      synth.SetVolume(volume);
      clock.SleepUntil(at);
      marks.push_back(clock.Now());
      synth.ShortMsg(0x00644590);
      clock.SleepUntil(at + 0.3);
      synth.Reset();
      synth.ShortMsg(0x000078B0);  // all sound off, so that no tail reaches the next note
      at += 0.5;
    }
    clock.SleepUntil(at);
  });
  ASSERT_EQ(render.marks.size(), 3u);
  double rms[3];
  for (int i = 0; i < 3; ++i) {
    rms[i] = render.wav.Rms(render.marks[i] + 0.03, render.marks[i] + 0.25);
  }
  ASSERT_GT(rms[0], 0.003) << "well above silence at full volume";
  EXPECT_NEAR(rms[1] / rms[0], 0.5, 0.08) << "full " << rms[0] << ", half " << rms[1];
  EXPECT_LT(rms[2], 1e-4);
}

TEST(FluidSynthDevice, GmXgAndGsResetsRestoreTheChannelVolume) {
  if (FindGmSoundfont().empty()) {
    GTEST_SKIP() << "no General MIDI soundfont in /usr/share/sounds/sf2/";
  }
  // Each round mutes channel 0 (volume 0), sends a reset (or none) and plays a note: a reset that
  // reaches the synth brings the volume back, so the note sounds.
  const std::vector<std::vector<uint8_t>> resets = {
      {},
      {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7},
      {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7},
      {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7},
  };
  const Render render = RenderWith("resets", [&](MidiOutDevice& synth, const Stopwatch& clock, auto& marks) {
    double at = 0.1;
    for (const auto& reset : resets) {
      synth.ShortMsg(0x000007B0);
      if (!reset.empty()) {
        synth.LongMsg(reset);
      }
      clock.SleepUntil(at);
      marks.push_back(clock.Now());
      synth.ShortMsg(0x00644590);
      clock.SleepUntil(at + 0.25);
      synth.ShortMsg(0x000078B0);  // all sound off
      synth.ShortMsg(0x00004590);
      at += 0.6;  // room for the reverb to fade
    }
    clock.SleepUntil(at);
  });
  ASSERT_EQ(render.marks.size(), resets.size());
  const char* names[] = {"no reset", "GM reset", "XG reset", "GS reset"};
  for (size_t i = 0; i < resets.size(); ++i) {
    const double rms = render.wav.Rms(render.marks[i] + 0.03, render.marks[i] + 0.22);
    if (i == 0) {
      EXPECT_LT(rms, 1e-4) << names[i] << ": the muted channel stays silent";
    } else {
      EXPECT_GT(rms, 0.003) << names[i] << " did not reach the synth";
    }
  }
}

// Closing and opening (every focus change) neither stops the audio stream nor reloads anything: the
// file driver writes one file for the whole run.
TEST(FluidSynthDevice, AudioKeepsRunningAcrossCloseAndOpen) {
  if (FindGmSoundfont().empty()) {
    GTEST_SKIP() << "no General MIDI soundfont";
  }
  const std::string path = TempWav("keep");
  auto device = CreateFluidSynthDevice(FileOptions(path));
  EXPECT_FALSE(device->Prepare({})) << "the start runs on a thread of its own";
  WaitUntilSettled(*device);
  EXPECT_TRUE(device->Prepare({}));
  const Stopwatch clock;
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(device->Open());
    device->ShortMsg(0x00643C90);
    clock.SleepUntil(0.15 * (i + 1));
    device->Close();
  }
  const double ran = clock.Now();
  device.reset();  // stops the driver: the file is complete
  const Wav wav = ReadWav(path);
  std::remove(path.c_str());
  EXPECT_GT(wav.Seconds(), ran - 0.1) << "one file for the whole run, not one per open";
}

}  // namespace
}  // namespace platform
