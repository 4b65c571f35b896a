// Shared setup of the keyboard tests: the recording MIDI device as the default output, a fake clock and
// the settings of a fresh start (standard layout, octave 5, no transposition, velocity 127).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/keys.h"
#include "midi/port.h"
#include "platform/clock.h"
#include "platform/midi_out.h"
#include "platform/midi_recording.h"
#include "settings/settings.h"

namespace app_test {

class KeyboardFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    clock_ = std::make_unique<platform::FakeClock>(1000);
    platform::SetClockForTesting(clock_.get());
    device_ = std::make_shared<platform::RecordingMidiOut>();
    platform::SetMidiOutDevicesForTesting(device_, {});
    settings::Settings = settings::SettingsRecord{};
    midi::OpenPort(-1);
    device_->Clear();
  }
  void TearDown() override {
    midi::ClosePort();
    platform::ClearMidiOutDevicesForTesting();
    platform::SetClockForTesting(nullptr);
  }

  // The short and long messages since the last call, as hex byte strings ("90 3C 7F").
  std::vector<std::string> Sent() {
    std::vector<std::string> out;
    for (const platform::MidiCall& call : device_->Messages()) {
      std::string text;
      char hex[4];
      for (uint8_t b : call.bytes) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        if (!text.empty()) text += ' ';
        text += hex;
      }
      out.push_back(text);
    }
    device_->Clear();
    return out;
  }

  std::unique_ptr<platform::FakeClock> clock_;
  std::shared_ptr<platform::RecordingMidiOut> device_;
};

using Bytes = std::vector<std::string>;

}  // namespace app_test
