// ALSA sequencer devices: every writable sequencer port of the system, then one virtual output port
// of Tonvik's own sequencer client that other programs subscribe to; and the client's input port.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/midi_in.h"
#include "platform/midi_out.h"

struct snd_seq_event;

namespace platform {

// The writable ports in ALSA's order, named "client name:port name", then the virtual port; empty
// when the system has no sequencer. Tonvik's client is created at the first call that finds one and
// kept for the whole run.
std::vector<std::shared_ptr<MidiOutDevice>> AlsaMidiDevices();

// The readable ports of other clients in ALSA's order, named as the output devices are: the sources
// of input.
std::vector<MidiInPort> AlsaMidiInPorts();
// Every name that is not a JACK port's.
bool AlsaClaimsInput(const std::string& source);
// Tonvik's client's input port `in` with `source` subscribed to it; nullptr without a sequencer.
std::unique_ptr<MidiInput> OpenAlsaMidiInput(const std::string& source, MidiInHandler handler);

// Encodes one whole message (a short message, not system exclusive) as a sequencer event without
// addresses; false when there is no such event.
bool EncodeAlsaMessage(std::span<const uint8_t> message, snd_seq_event* event);

// The technology code for a port of ALSA port type `type` (SND_SEQ_PORT_TYPE_* bits).
uint16_t AlsaPortTechnology(unsigned int type);

}  // namespace platform
