// What the built-in synthesizer and the offline renderer share: FluidSynth's log routing and the
// mapping of one whole MIDI message onto the synth's calls.
#pragma once

#include <fluidsynth.h>

#include <cstdint>
#include <span>

namespace platform {

// FluidSynth's errors and warnings go to stderr; its information and debug lines nowhere.
void RouteFluidSynthLog();

// One whole message (a channel message, or system exclusive from F0 on) to `synth`; system common and
// real-time messages are ignored. The synth must have been created with synth.device-id 0x10 for the
// GS and XG resets to reach it.
void SendMessageToSynth(fluid_synth_t* synth, std::span<const uint8_t> message);

// The device id the built-in synthesizer answers to: the GS and XG resets address 0x10, the GM reset
// 0x7F (all), so with 0x10 all three reach it.
inline constexpr int kSynthDeviceId = 0x10;

}  // namespace platform
