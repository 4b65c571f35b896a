// Per-track state of the MML compiler and the table of the twelve automatic parameters.
#pragma once

#include <cstdint>
#include <string>

namespace mml {

inline constexpr int kAutoParamCount = 12;
inline constexpr int kTempoParam = 11;
inline constexpr int kNoNote = 255;     // TiedNote / PortamentoNote: none
inline constexpr uint8_t kNoValue = 1;  // ValueStatus when no number was written

// One MML track. Value-initialising the record (TTrackTable{}) gives the all-zero state that every
// compilation starts from; ResetTrack() then sets the defaults.
struct TTrackTable {
  int32_t Channel = 0;
  int32_t Time = 0;
  int32_t GroupStep = 0;        // -1 outside { }
  int32_t GroupAdvance = 0;     // steps taken inside the current group
  int32_t GroupLastLength = 0;  // length of the last note or rest of the group
  int32_t Note = 0;
  int32_t TiedNote = 0;
  int32_t PortamentoNote = 0;
  int32_t KeyShift = 0;
  int32_t DefaultLength = 0;
  int32_t Gate = 0;  // gate word: bit 16 = sixteenths of the length, bits 0..15 signed value
  int32_t Octave = 0;
  int32_t VelocityStep = 0;
  int32_t Program = 0;
  uint32_t AutoEnabled = 0;
  int32_t AutoCounter[kAutoParamCount] = {};  // -1 = envelope finished
  int32_t AutoMode[kAutoParamCount] = {};     // low 7 bits loop target (127 = none), bit 7 restart per note
  int32_t AutoInterval[kAutoParamCount] = {};
  int32_t AutoPos[kAutoParamCount] = {};
  int32_t AutoBase[kAutoParamCount] = {};
  int32_t AutoStart[kAutoParamCount] = {};
  // 4-byte segments: unsigned 16-bit length, signed 16-bit delta, both little-endian.
  std::string AutoEnvelope[kAutoParamCount];
  uint32_t SentMask = 0;
  uint32_t KeyFollowMask = 0;
  int32_t Value[kAutoParamCount - 1] = {};  // the tempo lives in the global Tempo
  int32_t KeyLowNote[kAutoParamCount] = {};
  int32_t KeyHighNote[kAutoParamCount] = {};
  int32_t KeyLowValue[kAutoParamCount] = {};
  int32_t KeyHighValue[kAutoParamCount] = {};
};

// What a parameter sends: below 0x80 a controller number, else one of these.
inline constexpr uint8_t kKindVelocity = 0x80;
inline constexpr uint8_t kKindPitchBend = 0x81;
inline constexpr uint8_t kKindPortamento = 0x82;
inline constexpr uint8_t kKindTempo = 0xC0;

// k:                                              s    v    V    p    M    B       P    EA  EB  EC  ED  t
inline constexpr uint8_t AutoParamKind[kAutoParamCount] = {0x80, 11, 7,  10, 1,  0x81,
                                                           0x82, 91, 92, 93, 94, 0xC0};
inline constexpr int32_t AutoParamOffset[kAutoParamCount] = {0, 0, 0, 64, 0, 8192, 0, 0, 0, 0, 0, 0};
inline constexpr int32_t AutoParamMax[kAutoParamCount] = {127, 127, 127, 63,  127, 8191,
                                                          128, 127, 127, 127, 127, 4194303};
// Range of the command value, and the key-follow values used when a range gives none.
// The tempo starts at 1: a tempo of 0 has no length of a quarter note.
inline constexpr int32_t AutoParamCommandMin[kAutoParamCount] = {1, 0, 0, -64, 0, -8191, 0, 0, 0, 0, 0, 1};
inline constexpr int32_t AutoParamCommandMax[kAutoParamCount] = {127, 127, 127, 63,  127, 8191,
                                                                 128, 127, 127, 127, 127, 4194303};
inline constexpr int32_t AutoParamKeyLow[kAutoParamCount] = {64, 64, 64, -64, 0, -8191, 1, 0, 0, 0, 0, 120};
inline constexpr int32_t AutoParamKeyHigh[kAutoParamCount] = {127, 127, 127, 63,  127, 8191,
                                                              128, 127, 127, 127, 127, 120};
// Value[k] after ResetTrack (k = 0..10).
inline constexpr int32_t AutoParamReset[kAutoParamCount - 1] = {100, 100, 100, 0, 0, 0, 64, 0, 0, 0, 0};
// Names for error messages, UTF-8: convert with the fixed-text helper before joining them to a message.
inline constexpr const char* AutoParamName[kAutoParamCount] = {
    "ベロシティー", "エクスプレッション", "ボリューム",  "パン",        "モジュレーション", "ピッチベンド",
    "ポルタメント", "エフェクト1",        "エフェクト2", "エフェクト3", "エフェクト4",      "テンポ"};

}  // namespace mml
