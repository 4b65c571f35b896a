// Shared set-up of the port and sequencer tests: a recording device as the default output, a fake
// clock and a manual timer, and small helpers to build play images and expected byte sequences.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "midi/port.h"
#include "midi/sequencer.h"
#include "platform/clock.h"
#include "platform/midi_out.h"
#include "platform/midi_recording.h"
#include "platform/timer.h"

namespace midi_test {

using platform::MidiCall;

inline platform::MidiOutCaps Caps(uint32_t support) {
  platform::MidiOutCaps caps;
  caps.name = "Recorder";
  caps.support = support;
  return caps;
}

// The calls of a device as readable lines, so that a mismatch shows where the sequences part.
inline std::vector<std::string> Lines(const std::vector<MidiCall>& calls, bool withTime = false) {
  std::vector<std::string> lines;
  for (const MidiCall& call : calls) {
    std::string line = platform::ToString(call);
    lines.push_back(withTime ? line : line.substr(line.find(' ') + 1));
  }
  return lines;
}

// Lines of the expected calls, written as "short B0 79 00", "long F0 ...", "reset", "volume FFFFFFFF".
inline std::vector<std::string> ResetPortLines() {
  std::vector<std::string> lines;
  auto silence = [&] {
    static const char* const kHex = "0123456789ABCDEF";
    for (int ch = 0; ch < 16; ++ch) {
      for (const char* cc : {"79", "7B", "78"}) {
        lines.push_back(std::string("short B") + kHex[ch] + " " + cc + " 00");
      }
    }
  };
  lines.push_back("short F5 02");
  silence();
  lines.push_back("short F5 01");
  silence();
  lines.push_back("reset");
  return lines;
}

class PortFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    clock_.Set(1000);
    platform::SetClockForTesting(&clock_);
    midi::SetTimerForTesting(&timer_);
    device_ = std::make_shared<platform::RecordingMidiOut>(Caps(platform::kMidiCapsVolume));
    other_ = std::make_shared<platform::RecordingMidiOut>(Caps(0));
    platform::SetMidiOutDevicesForTesting(device_, {other_});
    midi::MasterVolume = 127;
  }
  void TearDown() override {
    clock_.SetSleepHook([this] { timer_.Fire(); });
    midi::FinalizeMidiDrive();
    midi::SongTimeBase = 96;
    midi::SetTimerForTesting(nullptr);
    platform::SetClockForTesting(nullptr);
    platform::ClearMidiOutDevicesForTesting();
  }
  // Opens the default output and forgets what the open sent.
  void OpenDefault() {
    midi::OpenPort(-1);
    ASSERT_TRUE(midi::PortIsOpen());
    device_->Clear();
  }

  platform::FakeClock clock_;
  platform::ManualTimer timer_;
  std::shared_ptr<platform::RecordingMidiOut> device_;
  std::shared_ptr<platform::RecordingMidiOut> other_;
};

}  // namespace midi_test
