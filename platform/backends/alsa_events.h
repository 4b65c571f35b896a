// Sequencer events as MIDI messages: what Tonvik's ALSA input port receives, turned back into bytes.
#pragma once

#include <array>
#include <cstdint>

struct snd_seq_event;

namespace platform {

// The MIDI message of a channel event (note on/off, key pressure, controller, program change, channel
// pressure, pitch bend) or of the one-byte system real-time and common events; returns its length,
// 0 for every other event (system exclusive, announcements, queue control). A note-on of velocity 0
// stays a note-on of velocity 0.
int DecodeAlsaEvent(const snd_seq_event& event, std::array<uint8_t, 3>& bytes);

}  // namespace platform
