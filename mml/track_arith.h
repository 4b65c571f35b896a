// 32-bit two's-complement arithmetic of the track commands: results wrap around instead of overflowing.
#pragma once

#include <cstdint>

namespace mml {

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
