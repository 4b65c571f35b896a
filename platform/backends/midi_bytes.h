// Byte-level helpers shared by the MIDI output backends: unpacking short messages, splitting a byte
// string into whole messages, and the messages of the driver reset.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "platform/midi_out.h"

namespace platform {

// Length of the message that starts with `status` (1..3), or 0 when a backend sends nothing for it:
// data bytes, system exclusive (sent as a long message), 0xF7, the undefined 0xF4 and 0xF5 (0xF5
// selects a port on some interfaces; none of these backends has that counterpart).
int SendableMessageLength(uint8_t status);

// The bytes of a packed short message (status in bits 0-7, data 1 in 8-15, data 2 in 16-23).
// Returns how many of `bytes` are used, 0 when the message is skipped.
int UnpackShortMessage(uint32_t packed, std::array<uint8_t, 3>& bytes);

// Splits a byte string into whole messages and calls `send` for each, in order: a system-exclusive
// message runs from 0xF0 up to and including 0xF7 (or to the end of the bytes); other messages take
// their length from the status byte, with running status for channel messages. Bytes that belong to
// no message (stray data, 0xF4, 0xF5, a lone 0xF7) are dropped; a message cut short at the end is
// dropped too.
void SplitMidiBytes(std::span<const uint8_t> bytes,
                    const std::function<void(std::span<const uint8_t> message)>& send);

// The driver reset as packed short messages: on each channel 0..15, Control Change 64 (sustain) 0,
// then Control Change 123 (All Notes Off) 0. Programs and other controllers are kept.
const std::array<uint32_t, 32>& DriverResetMessages();

// A device that sends whole messages as bytes: short messages unpacked (port select skipped), long
// ones split into their messages, the driver reset as its 32 controller messages in order after
// what was sent before.
class WholeMessageDevice : public MidiOutDevice {
 public:
  void ShortMsg(uint32_t packed) final;
  void LongMsg(std::span<const uint8_t> bytes) final;
  void Reset() final;

 protected:
  // One whole message: a channel or system message, or system exclusive from 0xF0 on.
  virtual void SendMessage(std::span<const uint8_t> message) = 0;
};

}  // namespace platform
