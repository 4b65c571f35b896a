// The 128 General MIDI program names and the 16 families of 8 they fall into.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace dialogs {

inline constexpr int32_t kProgramCount = 128;
inline constexpr int32_t kFamilyCount = 16;
inline constexpr int32_t kFamilySize = 8;

// Entry p - 1 is the name of program p (1..128).
extern const std::array<std::string_view, kProgramCount> ProgramNames;
// The tab caption of family f (0..15), UTF-8 and zero-terminated: the source text of its translation.
extern const std::array<std::string_view, kFamilyCount> FamilyNames;

// The name of `program`, clamped into 1..128.
std::string_view ProgramName(int32_t program);

}  // namespace dialogs
