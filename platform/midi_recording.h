// A MIDI output device that records every call with its time on the clock (TimeGetTime), so tests can
// assert exact bytes and timing. It can also pass every call on to another device, which is how
// `tonvik-mml --trace` logs what reaches the port.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/midi_out.h"

namespace platform {

struct MidiCall {
  enum class Kind { kOpen, kClose, kShort, kLong, kReset, kVolume };
  Kind kind;
  uint32_t time;               // TimeGetTime() at the call
  std::vector<uint8_t> bytes;  // kShort: the message bytes (1..3, by its status); kLong: all bytes
  uint32_t value = 0;          // kShort: the packed message; kVolume: the volume value

  bool IsMessage() const { return kind == Kind::kShort || kind == Kind::kLong; }
};

// Readable form of a call for test failures, e.g. "12 short 90 3C 7F" or "0 reset".
std::string ToString(const MidiCall& call);

class RecordingMidiOut final : public MidiOutDevice {
 public:
  // Without `forwardTo` the device opens when SetOpenResult allows and goes nowhere; with it, every call
  // is passed on and Open and Caps are the other device's.
  explicit RecordingMidiOut(MidiOutCaps caps = {}, std::shared_ptr<MidiOutDevice> forwardTo = nullptr);

  MidiOutCaps Caps() const override;
  bool Open() override;
  void Close() override;
  void ShortMsg(uint32_t packed) override;
  void LongMsg(std::span<const uint8_t> bytes) override;
  void Reset() override;
  void SetVolume(uint32_t leftRight) override;
  bool Prepare(std::function<void()> settled) override;
  std::string Failure() const override;

  void SetOpenResult(bool opens);
  // Room for `calls` calls, so that recording does not allocate a growing list while timing matters.
  void Reserve(size_t calls);
  // A copy of the calls so far; any thread.
  std::vector<MidiCall> Calls() const;
  // The calls so far, which the device then forgets; any thread. Draining keeps a long run's memory
  // bounded.
  std::vector<MidiCall> TakeCalls();
  // Only the short and long messages.
  std::vector<MidiCall> Messages() const;
  void Clear();

 private:
  void Record(MidiCall call);

  MidiOutCaps caps_;
  std::shared_ptr<MidiOutDevice> forwardTo_;
  mutable std::mutex mutex_;
  bool opens_ = true;
  std::vector<MidiCall> calls_;
};

}  // namespace platform
