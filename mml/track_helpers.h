// Small helpers shared by the track command and note handlers: the current track, optional command
// characters, channel events, and 32-bit two's-complement arithmetic (results wrap around instead of
// overflowing, as the track positions and parameter values of a compilation do).
#pragma once

#include <cstdint>

#include "mml/conv.h"
#include "mml/lexer.h"
#include "mml/state.h"

namespace mml {

inline TTrackTable& CurrentTrack() { return Tracks[CurTrack]; }

// Consumes c when it stands directly at ReadPos.
inline bool Accept(uint8_t c) {
  if (PeekChar() != c) return false;
  NextChar();
  return true;
}

// A three-byte channel message on the current track's channel.
inline void ChannelEvent(int32_t time, uint8_t status, int32_t data1, int32_t data2) {
  AddEvent(time, {static_cast<uint8_t>(status | (CurrentTrack().Channel & 0x0F)), static_cast<uint8_t>(data1),
                  static_cast<uint8_t>(data2)});
}

inline int32_t Add32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t Sub32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t Mul32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
// Truncates toward zero; b must not be 0. The one quotient that does not fit (INT32_MIN / -1) wraps.
inline int32_t Div32(int32_t a, int32_t b) { return b == -1 ? Sub32(0, a) : a / b; }

}  // namespace mml
