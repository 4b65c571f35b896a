#include "record/input_player.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "midi/port.h"
#include "platform/midi_recording.h"

namespace record {
namespace {

using Bytes = std::vector<uint8_t>;

// What reached the host, as text: "on 62 @5", "off 62 @9", "program 6", "bank 3".
class Host final : public InputHost {
 public:
  void NotePlayed(int32_t note, bool on, uint32_t stamp) override {
    seen.push_back((on ? "on " : "off ") + std::to_string(note) + " @" + std::to_string(stamp));
  }
  void ProgramReceived(int32_t program) override { seen.push_back("program " + std::to_string(program)); }
  void BankReceived(int32_t bank) override { seen.push_back("bank " + std::to_string(bank)); }
  std::vector<std::string> seen;
};

struct Case {
  const char* what;
  int32_t transpose;
  int32_t deviceType;
  std::vector<Bytes> received;
  std::vector<Bytes> sent;  // on the window's channel 9
  std::vector<std::string> seen;
};

class InputPlayerTest : public testing::Test {
 protected:
  void SetUp() override {
    device_ = std::make_shared<platform::RecordingMidiOut>();
    midi::OpenPortOn(device_);
    device_->Clear();
  }
  void TearDown() override { midi::ClosePort(); }

  std::vector<Bytes> Sent() const {
    std::vector<Bytes> sent;
    for (const platform::MidiCall& call : device_->Messages()) sent.push_back(call.bytes);
    return sent;
  }

  std::shared_ptr<platform::RecordingMidiOut> device_;
};

TEST_F(InputPlayerTest, MessagesPlayAsKeysWouldOnTheWindowsChannel) {
  const Case cases[] = {
      {"a note on any channel sounds transposed with its velocity; its release ends it",
       2,
       0,
       {{0x93, 60, 100}, {0x83, 60, 64}},
       {{0x99, 62, 100}, {0x99, 62, 0}},
       {"on 62 @0", "off 62 @1"}},
      {"velocity 0 is a release; a note already sounding adds nothing, its release still ends it",
       0,
       0,
       {{0x90, 60, 90}, {0x91, 60, 80}, {0x90, 60, 0}, {0x91, 60, 0}},
       {{0x99, 60, 90}, {0x99, 60, 0}},
       {"on 60 @0", "off 60 @2"}},
      {"a note transposed out of range and its release do nothing",
       10,
       0,
       {{0x90, 120, 90}, {0x80, 120, 0}},
       {},
       {}},
      {"pedal, modulation, pitch bend and pressure pass through; other controllers do not",
       0,
       0,
       {{0xB2, 64, 127}, {0xB2, 1, 30}, {0xE2, 0, 0x50}, {0xD2, 40}, {0xB2, 7, 100}, {0xA2, 60, 5}},
       {{0xB9, 64, 127}, {0xB9, 1, 30}, {0xE9, 0, 0x50}, {0xD9, 40}},
       {}},
      {"program change; bank select of the GS kind (MSB)",
       0,
       midi::kDeviceGS,
       {{0xB0, 0, 3}, {0xB0, 32, 4}, {0xC0, 5}},
       {},
       {"bank 3", "program 6"}},
      {"bank select of the XG kind (LSB); none without banks",
       0,
       midi::kDeviceXG,
       {{0xB0, 0, 3}, {0xB0, 32, 4}},
       {},
       {"bank 4"}},
      {"system messages and stray data do nothing", 0, 0, {{0xF8}, {0xFE}, {0x40, 0x40}}, {}, {}},
  };
  for (const Case& c : cases) {
    device_->Clear();
    Host host;
    InputPlayer player(host);
    player.SetChannel(9);
    player.SetTranspose(c.transpose);
    player.SetDeviceType(c.deviceType);
    for (size_t i = 0; i < c.received.size(); ++i) player.Receive(static_cast<uint32_t>(i), c.received[i]);
    EXPECT_EQ(Sent(), c.sent) << c.what;
    EXPECT_EQ(host.seen, c.seen) << c.what;
  }
}

TEST_F(InputPlayerTest, ReleaseAllEndsOnlyTheSoundingNotes) {
  Host host;
  InputPlayer player(host);
  player.Receive(1, Bytes{0x90, 60, 100});
  player.Receive(2, Bytes{0x90, 64, 100});
  player.Receive(3, Bytes{0x80, 60, 0});
  device_->Clear();
  player.ReleaseAll(7);
  EXPECT_EQ(Sent(), (std::vector<Bytes>{{0x90, 64, 0}}));
  EXPECT_EQ(host.seen.back(), "off 64 @7");
}

}  // namespace
}  // namespace record
