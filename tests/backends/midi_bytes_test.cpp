#include "platform/backends/midi_bytes.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

namespace platform {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> Split(const Bytes& bytes) {
  std::vector<Bytes> messages;
  SplitMidiBytes(bytes, [&](std::span<const uint8_t> m) { messages.emplace_back(m.begin(), m.end()); });
  return messages;
}

struct SplitCase {
  const char* what;
  Bytes input;
  std::vector<Bytes> expected;
};

class SplitMidiBytesTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitMidiBytesTest, GivesWholeMessagesInOrder) {
  EXPECT_EQ(Split(GetParam().input), GetParam().expected) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitMidiBytesTest,
    testing::Values(
        SplitCase{"one sysex", {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, {{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}}},
        SplitCase{"sysex then note",
                  {0xF0, 0x41, 0xF7, 0x90, 0x3C, 0x40},
                  {{0xF0, 0x41, 0xF7}, {0x90, 0x3C, 0x40}}},
        SplitCase{"sysex without end runs to the end", {0xF0, 0x43, 0x10}, {{0xF0, 0x43, 0x10}}},
        SplitCase{"running status",
                  {0x90, 0x3C, 0x40, 0x3E, 0x40, 0xC1, 0x05, 0x06},
                  {{0x90, 0x3C, 0x40}, {0x90, 0x3E, 0x40}, {0xC1, 0x05}, {0xC1, 0x06}}},
        SplitCase{"real-time byte inside running status",
                  {0x90, 0x3C, 0x40, 0xF8, 0x3E, 0x40},
                  {{0x90, 0x3C, 0x40}, {0xF8}, {0x90, 0x3E, 0x40}}},
        SplitCase{
            "port select and its data are skipped", {0xF5, 0x02, 0xB0, 0x07, 0x64}, {{0xB0, 0x07, 0x64}}},
        SplitCase{"system common ends running status",
                  {0x90, 0x3C, 0x40, 0xF6, 0x3E, 0x40},
                  {{0x90, 0x3C, 0x40}, {0xF6}}},
        SplitCase{"stray data and a lone F7 are dropped",
                  {0x3C, 0x40, 0xF7, 0xE0, 0x00, 0x40},
                  {{0xE0, 0x00, 0x40}}},
        SplitCase{"a message cut short is dropped", {0xC0, 0x01, 0x90, 0x3C}, {{0xC0, 0x01}}},
        SplitCase{
            "a status byte inside the data restarts", {0x90, 0x3C, 0xB0, 0x40, 0x00}, {{0xB0, 0x40, 0x00}}},
        SplitCase{
            "song position and select", {0xF2, 0x01, 0x02, 0xF3, 0x05}, {{0xF2, 0x01, 0x02}, {0xF3, 0x05}}},
        SplitCase{"nothing", {}, {}}),
    [](const testing::TestParamInfo<SplitCase>& info) {
      std::string name;
      for (const char* c = info.param.what; *c != 0; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c))) {
          name += *c;
        }
      }
      return name;
    });

struct UnpackCase {
  uint32_t packed;
  Bytes expected;
};

TEST(UnpackShortMessage, TakesTheLengthFromTheStatusAndSkipsPortSelect) {
  const UnpackCase cases[] = {
      {0x00403C90, {0x90, 0x3C, 0x40}},
      {0x000005C3, {0xC3, 0x05}},
      {0x00007BB0, {0xB0, 0x7B, 0x00}},
      {0x004000E0, {0xE0, 0x00, 0x40}},
      {0x000000FE, {0xFE}},
      {0x000002F5, {}},
      {0x000001F5, {}},
      {0x000000F0, {}},
      {0x0000003C, {}},
      {0xFFFFFF90, {0x90, 0x7F, 0x7F}},  // stray high bits never make a data byte a status byte
  };
  for (const UnpackCase& c : cases) {
    std::array<uint8_t, 3> bytes;
    const int length = UnpackShortMessage(c.packed, bytes);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + length), c.expected) << std::hex << c.packed;
  }
}

// Collects what a whole-message device would send.
class CollectingDevice final : public WholeMessageDevice {
 public:
  MidiOutCaps Caps() const override { return {}; }
  bool Open() override { return true; }
  void Close() override {}
  void SetVolume(uint32_t) override {}
  std::vector<Bytes> sent;

 private:
  void SendMessage(std::span<const uint8_t> message) override {
    sent.emplace_back(message.begin(), message.end());
  }
};

TEST(WholeMessageDevice, ResetIsSustainOffAndAllNotesOffOnEveryChannelAfterWhatCameBefore) {
  CollectingDevice device;
  device.ShortMsg(0x00643C90);
  device.ShortMsg(0x000002F5);
  const Bytes sysex = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
  device.LongMsg(sysex);
  device.Reset();
  std::vector<Bytes> expected = {{0x90, 0x3C, 0x64}, sysex};
  for (uint8_t channel = 0; channel < 16; ++channel) {
    expected.push_back({static_cast<uint8_t>(0xB0 + channel), 64, 0});
    expected.push_back({static_cast<uint8_t>(0xB0 + channel), 123, 0});
  }
  EXPECT_EQ(device.sent, expected);
}

}  // namespace
}  // namespace platform
