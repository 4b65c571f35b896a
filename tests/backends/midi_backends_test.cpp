#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/midi_out.h"

namespace platform {
namespace {

TEST(MidiBackends, TableListsTheBuiltBackendsAlsaBeforeJack) {
  std::vector<std::string> names;
  for (const MidiBackend& backend : MidiBackends()) {
    names.push_back(backend.name);
    EXPECT_NE(backend.devices, nullptr) << backend.name;
  }
  std::vector<std::string> expected;
#ifdef TONVIK_HAVE_ALSA
  expected.push_back("alsa");
#endif
#ifdef TONVIK_HAVE_JACK
  expected.push_back("jack");
#endif
  EXPECT_EQ(names, expected);
}

TEST(MidiBackends, DefaultOutputIsOneBuiltInSynthForTheRun) {
#ifdef TONVIK_HAVE_FLUIDSYNTH
  const auto synth = DefaultMidiOutDevice();
  ASSERT_NE(synth, nullptr);
  EXPECT_EQ(DefaultMidiOutDevice(), synth) << "created once, not at every enumeration";
  EXPECT_EQ(synth->Caps().technology, kModSoftwareSynth);
  MidiOutCaps caps;
  MidiOutGetNumDevs();
  ASSERT_TRUE(MidiOutGetDevCaps(-1, &caps));
  EXPECT_EQ(caps.name, synth->Caps().name);
#else
  EXPECT_EQ(DefaultMidiOutDevice(), nullptr);
#endif
}

}  // namespace
}  // namespace platform
