#include "record/input_player.h"

#include "midi/port.h"

namespace record {
void InputPlayer::Receive(uint32_t stamp, std::span<const uint8_t> message) {
  if (message.empty() || message[0] < 0x80 || message[0] >= 0xF0) return;
  const uint8_t kind = message[0] & 0xF0;
  const uint8_t data1 = message.size() > 1 ? message[1] & 0x7F : 0;
  const uint8_t data2 = message.size() > 2 ? message[2] & 0x7F : 0;
  const auto status = static_cast<uint8_t>(kind | channel_.load());
  switch (kind) {
    case midi::kNoteOn:
      if (data2 > 0) {
        NoteOn(data1, data2, stamp);
        return;
      }
      [[fallthrough]];
    case midi::kNoteOff:
      NoteOff(data1, stamp);
      return;
    case midi::kControlChange:
      if (data1 == midi::kSustain || data1 == midi::kModulation) {
        midi::SendFromInput(midi::PackShort(status, data1, data2));
      } else if (data1 == midi::BankController(deviceType_)) {
        host_.BankReceived(data2);
      }
      return;
    case midi::kProgramChange:
      host_.ProgramReceived(data1 + 1);
      return;
    case midi::kChannelPressure:
    case midi::kPitchBend:
      midi::SendFromInput(midi::PackShort(status, data1, data2));
      return;
    default:
      return;
  }
}

// As a note key: a note outside 0..127 or already sounding sends nothing; its key-up still ends it.
void InputPlayer::NoteOn(int32_t received, int32_t velocity, uint32_t stamp) {
  const int32_t note = received + transpose_;
  if (note < 0 || note > 127) {
    struck_[received] = -1;
    return;
  }
  struck_[received] = note;
  if (sounding_[note]) return;
  sounding_[note] = true;
  midi::SendFromInput(midi::NoteOnMessage(channel_, note, velocity));
  host_.NotePlayed(note, true, stamp);
}

void InputPlayer::NoteOff(int32_t received, uint32_t stamp) {
  const int32_t note = struck_[received];
  if (note < 0) return;
  struck_[received] = -1;
  sounding_[note] = false;
  midi::SendFromInput(midi::NoteOffMessage(channel_, note));
  host_.NotePlayed(note, false, stamp);
}

void InputPlayer::ReleaseAll(uint32_t stamp) {
  for (int32_t received = 0; received < 128; ++received) {
    NoteOff(received, stamp);
  }
}

}  // namespace record
