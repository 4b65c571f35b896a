#include "platform/backends/fluidsynth_device.h"

#include <gtest/gtest.h>

#include "synth_test_options.h"

namespace platform {
namespace {

using testing_support::FileOptions;
using testing_support::TempWav;

TEST(FluidSynthDevice, CapsDescribeASoftwareSynthWithVolume) {
  FluidSynthOptions options = FileOptions(TempWav("caps"));
  options.soundfont = "/nonexistent/none.sf2";
  auto device = CreateFluidSynthDevice(options);
  const MidiOutCaps caps = device->Caps();
  EXPECT_FALSE(caps.name.empty());
  EXPECT_EQ(caps.technology, kModSoftwareSynth);
  EXPECT_GT(caps.voices, 0);
  EXPECT_EQ(caps.notes, caps.voices);
  EXPECT_EQ(caps.support, kMidiCapsVolume | kMidiCapsLrVolume);
}

TEST(FluidSynthDevice, OpenFailsQuietlyWithoutASoundfont) {
  FluidSynthOptions options = FileOptions(TempWav("nosf"));
  options.soundfont = "/nonexistent/none.sf2";
  auto device = CreateFluidSynthDevice(options);
  EXPECT_FALSE(device->Open());
  EXPECT_FALSE(device->Open()) << "a second open fails the same way";
  device->ShortMsg(0x00643C90);  // nothing to do, and no crash
  device->Close();
}

TEST(FluidSynthDevice, OpenFailsQuietlyWithoutAnAudioDriver) {
  if (FindGmSoundfont().empty()) {
    GTEST_SKIP() << "no General MIDI soundfont in /usr/share/sounds/sf2/";
  }
  FluidSynthOptions options;
  options.audioDrivers = {"no-such-driver"};
  auto device = CreateFluidSynthDevice(options);
  EXPECT_FALSE(device->Open());
}

}  // namespace
}  // namespace platform
