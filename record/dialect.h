// The seven MML dialects the recording conversion writes, and the turning of a dialect's text back
// into the program's own dialect together with the command headers of test play and saving.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "record/capture.h"

namespace record {

inline constexpr int kDialectCount = 7;  // 0 own, 1 Sakura, 2 mml2mid, 3 FMP, 4 PMD, 5 Hatena, 6 Mabinogi
inline constexpr int kOwnDialect = 0;

// Per dialect: the octave-up and octave-down characters.
inline constexpr std::array<const char*, kDialectCount> MMLOctaveChars = {"><", "><", "><", "><",
                                                                          "><", "<>", "><"};
// Set: a tie is followed by a bare length ("c8&4"); clear: by the note name again ("c8&c4").
inline constexpr std::array<bool, kDialectCount> MMLTieJoinsLength = {true,  true,  true, true,
                                                                      false, false, false};
inline constexpr std::array<char, kDialectCount> MMLTieChars = {'&', '^', '^', '&', '&', '&', '&'};
// The opening and closing chord bracket, or "0": no brackets, chord notes are written with length 0.
inline constexpr std::array<const char*, kDialectCount> MMLChordChars = {"{}", "''", "0", "0", "0", "0", "0"};
// Set: the dialect's compiler takes a chord's length from behind its closing bracket and ignores the
// lengths inside: a chord is written with bare notes and its whole length behind ("'ceg'8^2").
inline constexpr std::array<bool, kDialectCount> MMLChordLengthBehind = {false, true,  false, false,
                                                                         false, false, false};
// Set: the dialect's compiler reads a tie's length in steps after a step piece ("%n") and a bare dot
// after a tie as the default length: the step piece is written last, and a dot-only piece after the
// first in full, as the default length's text and its dots ("c32^4.").
inline constexpr std::array<bool, kDialectCount> MMLStepPieceLast = {false, true,  false, false,
                                                                     false, false, false};

// A dialect index clamped into 0..6 (anything else is the own dialect).
int CheckedDialect(int dialect);
bool HasChordBrackets(int dialect);

// `text` in dialect `dialect`, CP932 bytes; returns the text in the own dialect, as test play compiles
// it. In this order: the Hatena octave characters are swapped ("#" also becomes ">"); in dialects that
// repeat the note name after a tie, the tie becomes "$" (a tie followed by "r" joins lengths: "r8&r2"
// becomes "r8&2"); a "^" tie becomes "&"; a chord bracket used for both ends becomes "{" and "}" in
// turn, and in a dialect with the chord's length behind the bracket, the length text right behind a
// closing bracket (the longest run of "0123456789.%&") moves in front of the "}", onto the chord's last
// note: "'ceg'8^2" becomes "{ceg8&2}" ("'ce4g4'" becomes "{ce4g4}" as before). Only whole characters
// are replaced: a byte of 0x80 or above starts a two-byte character, whose second byte is copied
// unchanged.
std::string TurnDialectToOwn(std::string_view text, int dialect);

// The values of the own-dialect header put in front of the text for test play and saving. All texts
// are CP932.
struct HeaderValues {
  std::string Tempo;     // the tempo field, unchanged
  int32_t Velocity = 0;  // the main window's settings
  int32_t Volume = 0;
  int32_t Program = 1;    // 1..128
  int32_t Octave = 3;     // HeaderOctave
  std::string DefLength;  // the default-length field; empty: no "l" part
};

// The octave of the first captured note, numbered as in the own dialect ((note div 12) - 2); a capture
// of rests only gives 3, the octave of note 60.
int32_t HeaderOctave(const Capture& capture);

// ":2t<tempo>i15s<velocity>v127V<volume>@<program>o<octave>[l<default>]"
std::string TestPlayHeader(const HeaderValues& values);
// ":1i16s<velocity>o<octave>@<program>t<tempo>[l<default>]"
std::string SaveHeader(const HeaderValues& values);

// The whole text test play compiles: the header, then the memo turned into the own dialect.
std::string TestPlayText(const HeaderValues& values, std::string_view memo, int dialect);
// The whole text saving compiles: the header, then the memo unchanged.
std::string SaveText(const HeaderValues& values, std::string_view memo);

}  // namespace record
