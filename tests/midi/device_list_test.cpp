#include "midi/device_list.h"

#include <gtest/gtest.h>

#include "tests/support/midi_test_util.h"

namespace {

TEST(DeviceRow, ColumnsOfTheDeviceList) {
  struct Case {
    uint16_t technology, voices, notes;
    uint32_t support;
    const char *type, *voicesText, *notesText, *vc;
  };
  const Case cases[] = {
      {1, 0, 0, 0, "PORT", "--", "--", "×"},
      {2, 32, 16, 1, "GEN ", "32", "16", "○"},
      {3, 1, 1, 3, " SQ ", "1", "1", "◎"},
      {4, 0, 0, 2, " FM ", "--", "--", "×"},  // left/right without the volume bit: no volume
      {5, 0, 0, 0, "MAP ", "--", "--", "×"},
      {6, 0, 0, 0, "SW  ", "--", "--", "×"},
      {7, 256, 256, 1, "SW  ", "256", "256", "○"},
      {0, 0, 0, 0, "--", "--", "--", "×"},
      {8, 0, 0, 0, "--", "--", "--", "×"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.technology);
    platform::MidiOutCaps caps;
    caps.name = " Synth ";
    caps.technology = c.technology;
    caps.voices = c.voices;
    caps.notes = c.notes;
    caps.support = c.support;
    const midi::DeviceRow row = midi::FormatDeviceRow(3, caps);
    EXPECT_EQ(row.Number, 3);
    EXPECT_EQ(row.Name, " Synth ");
    EXPECT_EQ(row.Type, c.type);
    EXPECT_EQ(row.Voices, c.voicesText);
    EXPECT_EQ(row.Notes, c.notesText);
    EXPECT_EQ(row.VC, c.vc);
  }
}

TEST(DeviceRow, NameEndsAtAZeroByte) {
  platform::MidiOutCaps caps;
  caps.name = std::string("Synth\0junk", 10);
  EXPECT_EQ(midi::FormatDeviceRow(0, caps).Name, "Synth");
}

TEST(DeviceRow, TrimsSpacesAndControlCharacters) {
  EXPECT_EQ(midi::TrimDeviceName("  \tSynth A \r\n"), "Synth A");
  EXPECT_EQ(midi::TrimDeviceName(" \x01 "), "");
  EXPECT_EQ(midi::TrimDeviceName("Ünïcode"), "Ünïcode");
}

class DeviceListTest : public midi_test::PortFixture {};

TEST_F(DeviceListTest, ListsTheDefaultOutputFirst) {
  const auto rows = midi::ListDeviceRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].Number, -1);
  EXPECT_EQ(rows[0].VC, "○");
  EXPECT_EQ(rows[1].Number, 0);
  EXPECT_EQ(rows[1].VC, "×");
}

TEST_F(DeviceListTest, AMissingDefaultOutputStillHasItsRow) {
  platform::SetMidiOutDevicesForTesting(nullptr, {});
  const auto rows = midi::ListDeviceRows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Number, -1);
  EXPECT_EQ(rows[0].Type, "MAP ");
}

TEST_F(DeviceListTest, FindsDevicesByTheirTrimmedName) {
  platform::MidiOutCaps caps;
  caps.name = "Port B  ";
  auto b = std::make_shared<platform::RecordingMidiOut>(caps);
  platform::SetMidiOutDevicesForTesting(device_, {other_, b, b});
  EXPECT_EQ(midi::FindDeviceNumberByName("Recorder"), 0);
  EXPECT_EQ(midi::FindDeviceNumberByName("Port B"), 1);  // the first of equal names
  EXPECT_EQ(midi::FindDeviceNumberByName("Port B  "), std::nullopt);
  EXPECT_EQ(midi::FindDeviceNumberByName("recorder"), std::nullopt);
  EXPECT_EQ(midi::FindDeviceNumberByName(""), std::nullopt);
}

TEST(DeviceRow, InstanceNumbersOfClientsAndPortsAreIgnored) {
  const std::pair<const char*, const char*> cases[] = {
      {"FLUID Synth (4711):Synth input port (4711:0)", "FLUID Synth:Synth input port"},
      {"TiMidity:TiMidity port 0", "TiMidity:TiMidity port 0"},
      {"Port B (2)", "Port B"},
      {"Synth (12) Pro:In", "Synth (12) Pro:In"},  // not at the end of a part
      {"Synth (x1):In", "Synth (x1):In"},          // not digits
      {"Synth (1:):In", "Synth (1:):In"},
      {"Synth(12):In", "Synth(12):In"},  // no space before it
      {"(12)", "(12)"},
  };
  for (const auto& [name, stable] : cases) {
    EXPECT_EQ(midi::WithoutInstanceNumbers(name), stable) << name;
  }
}

TEST_F(DeviceListTest, StoredNamesMatchWithoutTheirInstanceNumbers) {
  auto named = [](const char* name) {
    platform::MidiOutCaps caps;
    caps.name = name;
    return std::make_shared<platform::RecordingMidiOut>(caps);
  };
  platform::SetMidiOutDevicesForTesting(
      device_, {other_, named("FLUID Synth (5120):Synth input port (5120:0)"), named("Port B (2)")});
  EXPECT_EQ(midi::FindDeviceNumberByName("FLUID Synth (4711):Synth input port (4711:0)"), 1)
      << "a standalone synth started again under a new process id";
  EXPECT_EQ(midi::FindDeviceNumberByName("Port B (2)"), 2) << "an exact match first";
  EXPECT_EQ(midi::FindDeviceNumberByName("FLUID Synth:Other port"), std::nullopt);
}

// The list is built anew at every showing of the configuration dialog: a device plugged in meanwhile
// moves the chosen one, which must still be the one that opens, is highlighted and is saved.
TEST_F(DeviceListTest, TheChosenDeviceIsFollowedAcrossRebuildsOfTheList) {
  auto named = [](const char* name) {
    platform::MidiOutCaps caps;
    caps.name = name;
    return std::make_shared<platform::RecordingMidiOut>(caps);
  };
  const auto a = named("Synth A");
  const auto b = named("Synth B");
  platform::SetMidiOutDevicesForTesting(device_, {a, b});
  midi::OpenPort(1);
  ASSERT_TRUE(midi::PortIsOpen());
  midi::ClosePort();

  platform::SetMidiOutDevicesForTesting(device_, {named("USB MIDI"), a, b});  // plugged in
  EXPECT_EQ(midi::RefreshDeviceList(), 3);
  EXPECT_EQ(midi::DeviceId, 2);
  b->Clear();
  midi::OpenPort(midi::DeviceId);
  EXPECT_FALSE(b->Calls().empty()) << "the chosen device opens, not the one now at its old number";
  EXPECT_EQ(midi::ChosenDevice(), b);
  midi::ClosePort();

  platform::SetMidiOutDevicesForTesting(device_, {a});  // unplugged
  midi::RefreshDeviceList();
  EXPECT_EQ(midi::DeviceId, midi::kDeviceGone);
  EXPECT_EQ(midi::ChosenDevice(), b) << "its name is still what the settings keep";
  a->Clear();
  midi::OpenPort(midi::DeviceId);
  EXPECT_TRUE(a->Calls().empty()) << "no other device stands in for it";

  midi::DeviceId = 0;  // chosen anew by number
  EXPECT_EQ(midi::ChosenDevice(), a);
  midi::DeviceId = -1;
  EXPECT_EQ(midi::ChosenDevice(), device_);
}

}  // namespace
