// Turning a captured take into MML text in one of seven dialects.
//
// Everything here is plain data in, plain data out, so that the recording dialog only moves texts:
//
//   record::ConvertFields fields{tempo, length, minLength, defLength, first};  // CP932 field texts
//   record::ConvertState state;   // kept by the dialog between runs (its FLengths, TotalTicks, ...)
//   if (record::Recalculate(capture, mode, fields, state)) {  // mode = item index of the mode combo
//     // fields.Tempo / fields.Length may have changed: put them back into the edit fields (with the
//     // change handler locked), then show the text:
//     memo = record::BuildMML(capture, state, dialect);
//   }                              // false: a field could not be read; nothing changed, nothing shown
//   ...on a change of dialect only:  memo = record::BuildMML(capture, state, dialect);
//
// Lengths are ticks at 96 per quarter note. The dialect index is 0 own, 1 Sakura, 2 mml2mid, 3 FMP,
// 4 PMD, 5 Hatena, 6 Mabinogi (record/dialect.h has the tables); the mode index 0 as typed, 1 from the
// tempo, 2 from the first note's length, 3 everything as the minimum length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "record/capture.h"

namespace record {

enum ConvertMode : int {
  kModeAsTyped = 0,    // "そのまま": the total length is the typed one; the tempo follows
  kModeFromTempo = 1,  // "テンポから計算": the total length follows from the tempo
  kModeFromFirst = 2,  // "先頭音長から計算": from the length of the first note; tempo and total follow
  kModeAllMinimum = 3,  // "全て最小音長として計算": every event gets the minimum length
};
inline constexpr int kModeCount = 4;

// The texts of the dialog's five edit fields, CP932 bytes.
struct ConvertFields {
  std::string Tempo = "120";    // EditTempo: quarter notes per minute, a decimal integer
  std::string Length;           // EditLength: the total length, a length text
  std::string MinLength = "8";  // EditMinLength: the quantisation step
  std::string DefLength = "4";  // EditDefLength: the default length, left out of the text
  std::string First = "8";      // EditFirst: the first note's length (mode 2)
};

// Results of the latest successful recalculation; BuildMML reads them.
struct ConvertState {
  std::vector<int32_t> Lengths;  // one length in ticks per captured event
  int32_t TotalTicks = 0;        // the total length used for scaling
  int32_t DefaultTicks = 0;      // the default length; <= 0: none, every length is written out
};

// Reads the fields, scales the captured times to lengths rounded to the minimum length, and writes the
// computed fields: mode 0 sets fields.Tempo, modes 1 and 3 fields.Length, mode 2 both. Returns false,
// leaving fields and state untouched, when the recalculation stops silently: a field that cannot be read,
// a minimum length of 0, a take of zero duration in modes 0 to 2 (or, in mode 2, a first gap of zero),
// a tempo of 0 or less in mode 1, a mode outside 0..3, a total length, computed tempo or event length
// that does not fit in 32 signed bits, lengths that add up to more than 2^31 - 1 ticks (beyond the
// compiler's time range). Products are formed in 64 bits and divided before they are narrowed.
bool Recalculate(const Capture& capture, int mode, ConvertFields& fields, ConvertState& state);

// The MML text of the take in `dialect` (a single line), from the lengths of the latest recalculation.
// Events beyond state.Lengths count as length 0. An unknown dialect gives the own dialect.
std::string BuildMML(const Capture& capture, const ConvertState& state, int dialect);

// Rounds `value` to a multiple of `step` (> 0): a remainder above half a step rounds up, below it down,
// an exact half is left as it is. Truncating division, so negative values round toward zero.
int32_t RoundToStep(int32_t value, int32_t step);

// The length text of one event in `dialect`: "0" for 0 ticks, otherwise LengthToText with its ties
// written the dialect's way; `name` is the event's symbol ("c+", "r", ...), repeated after each tie
// in the dialects that need it. In a dialect with MMLStepPieceLast the step piece comes last and a
// dot-only piece after the first is written in full ("6^%2", "32^4.").
std::string NoteLengthText(int32_t ticks, int32_t defaultTicks, int dialect, const std::string& name);

// The note name of a pitch class (note mod 12), the same in every dialect.
const char* NoteName(int note);

}  // namespace record
