#include "platform/backends/alsa_events.h"

#include <alsa/asoundlib.h>

#include <algorithm>

namespace platform {
namespace {

uint8_t Data(int value) { return static_cast<uint8_t>(std::clamp(value, 0, 127)); }

int Message(std::array<uint8_t, 3>& bytes, int status, int channel, int data1 = -1, int data2 = -1) {
  bytes[0] = static_cast<uint8_t>(status | (channel & 0x0F));
  if (data1 < 0) return 1;
  bytes[1] = Data(data1);
  if (data2 < 0) return 2;
  bytes[2] = Data(data2);
  return 3;
}

}  // namespace

int DecodeAlsaEvent(const snd_seq_event& event, std::array<uint8_t, 3>& bytes) {
  const snd_seq_ev_note_t& note = event.data.note;
  const snd_seq_ev_ctrl_t& control = event.data.control;
  switch (event.type) {
    case SND_SEQ_EVENT_NOTEON:
      return Message(bytes, 0x90, note.channel, note.note, note.velocity);
    case SND_SEQ_EVENT_NOTEOFF:
      return Message(bytes, 0x80, note.channel, note.note, note.velocity);  // the release velocity
    case SND_SEQ_EVENT_KEYPRESS:
      return Message(bytes, 0xA0, note.channel, note.note, note.velocity);
    case SND_SEQ_EVENT_CONTROLLER:
      return Message(bytes, 0xB0, control.channel, static_cast<int>(control.param), control.value);
    case SND_SEQ_EVENT_PGMCHANGE:
      return Message(bytes, 0xC0, control.channel, control.value);
    case SND_SEQ_EVENT_CHANPRESS:
      return Message(bytes, 0xD0, control.channel, control.value);
    case SND_SEQ_EVENT_PITCHBEND: {
      // -8192..8191 around the centre 0x2000, sent LSB first.
      const int value = std::clamp(control.value + 8192, 0, 16383);
      return Message(bytes, 0xE0, control.channel, value & 0x7F, value >> 7);
    }
    case SND_SEQ_EVENT_CLOCK:
      return Message(bytes, 0xF8, 0);
    case SND_SEQ_EVENT_START:
      return Message(bytes, 0xFA, 0);
    case SND_SEQ_EVENT_CONTINUE:
      return Message(bytes, 0xFB, 0);
    case SND_SEQ_EVENT_STOP:
      return Message(bytes, 0xFC, 0);
    case SND_SEQ_EVENT_SENSING:
      return Message(bytes, 0xFE, 0);
    case SND_SEQ_EVENT_RESET:
      return Message(bytes, 0xFF, 0);
    default:
      return 0;
  }
}

}  // namespace platform
