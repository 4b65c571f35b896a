// The reading layer of the MML compiler: bytes of Source at ReadPos, words, numbers, expressions, note
// letters, lengths, scaled values and track lists, and the one error function. Every reader works on
// the compiler state (mml/state.h); errors are raised with ScriptError and span ErrorPos..ReadPos.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "mml/conv.h"
#include "mml/state.h"

namespace mml {

// The byte of Source at `pos`; 0x00 at or beyond its end, so no read leaves the text.
inline uint8_t SourceByte(int32_t pos) {
  return static_cast<uint32_t>(pos) < Source.size() ? static_cast<uint8_t>(Source[pos]) : 0;
}

// The byte at ReadPos; 0x00 at or beyond the end of Source. Does not move.
inline uint8_t PeekChar() { return SourceByte(ReadPos); }

// The next significant byte, ReadPos left behind it: two-byte characters (lead byte >= 0x80), blanks
// and tabs are stepped over; a line break (CR or LF plus the byte after it) is returned as 0x0D.
// 0x00 at or beyond the end of Source.
inline uint8_t NextChar() {
  for (;;) {
    uint8_t b = SourceByte(ReadPos++);
    if (b >= 0x80) {
      ++ReadPos;
    } else if (b == 0x0D || b == 0x0A) {
      ++ReadPos;
      return 0x0D;
    } else if (b != ' ' && b != '\t') {
      return b;
    }
  }
}

// Runs `handler` once per selected track (ascending), each run reading from the same ReadPos with
// CurTrack set and RepeatPerTrack true; stops after a run that cleared RepeatPerTrack.
// No track selected: "MIDIトラックを指定して下さい".
void ForEachTrack(void (*handler)());

// Ends the current command without an error message, as an arithmetic fault of the reader does
// (a hexadecimal number beyond 32 bits, a division by zero).
class ECommandAborted : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Records `message` (CP932) with its span and raises EScriptError. Every compile error goes through it.
[[noreturn]] void ScriptError(const std::string& message);

// The CP932 text of a fixed UTF-8 message, converted once per literal and cached:
//   ScriptError(Cp932Text("音長が負になりました"));
const std::string& Cp932Text(const char* utf8);

// Counts `steps` units of work (envelope ticks; the main loop and ForEachTrack count the commands). Beyond
// MaxWorkSteps in one compilation: "処理が多すぎます", which ends the compilation.
void CountWork(int64_t steps);

// Counts `bytes` of text that is read again (a repeat jumping back, a command read once more for the
// next track) or made (an expansion, an inserted file and the text moved behind it). Far beyond any real
// song (4 bytes for every step of MaxWorkSteps) it is "処理が多すぎます" as well, so that blanks and
// comments in repeats cannot keep the compiler busy without counting as commands.
void CountScan(int64_t bytes);

// Hands the `+` command's text (CP932) to the handler set with SetMessageHandler.
void ShowMessage(const std::string& cp932);

// word = '"' {byte except '"'} ['"'] | {byte except blank, tab, ",", control bytes} [blank | tab]
// At most 255 bytes are kept (longer words are read whole and cut). ValueStatus 2 when nothing at all
// was consumed, else 0. A control byte inside quotes: "\"は\"で閉じてください".
void ReadWord(std::string& word);

// PeekChar is ",".
bool IsComma();

// "," (error ",が必要です" when missing); ErrorPos is set to the comma's place first.
void ExpectComma();

// ValueStatus 1: "値を指定してください" one byte earlier; v outside lo..hi: "指定値(v)が範囲外(lo..hi)です".
void CheckRange(int32_t v, int32_t lo, int32_t hi);

// expr    = {"+" | "-"} operand { ("*" | "\") operand | ("+" | "-") expr }   (no operators when TermOnly)
// operand = "&H" hexdigits | "%" ("l" length | "n" note | "r" operand | "c" | "t" | "B" expr | "L" expr
//           | "H" expr | "b") | ["%"] digits
// ValueStatus 1 when the first operand has no digit (value 0).
int32_t ReadExpr();

// ["_"] expr: with "_" the value is added to base; no value gives base (ValueStatus stays 1).
int32_t ReadRelExpr(int32_t base);

// note letter = [blanks] ("c" | "d" | "e" | "f" | "g" | "a" | "b") {"+" | "-"}: semitone, may leave 0..11.
int32_t ReadNoteLetter();

// note number = note letter [digit ["-"]]: (octave + 2) * 12 + semitone, checked 0..127.
int32_t ReadNoteNumber();

// Ticks of a length: n >= 0 is ticks, -k is a k-th note of a whole note (4 * Timebase), which k must
// divide ("指定された音長では正しい時間が算出できません").
int32_t LengthToTicks(int32_t n);

// A note length in ticks (see conv.h): declared there as part of the public interface.
int32_t ReadLength();

// scaled = "%" expr (absolute, bit 16 clear) | expr (sixteenths, bit 16 set); bits 0..15 the value.
int32_t ReadScaled();

// The value of a scaled code for a range: sixteenths are range * v / 16; a negative result counts back
// from the range.
int32_t ScaleValue(int32_t code, int32_t range);

// digits: an unsigned decimal number, no sign, no operators; ValueStatus 1 (and 0) without a digit.
int32_t ReadTrackNumber();

// tracklist = { {","} number ["." {"."} number] }, numbers 1..32: replaces TrackMask.
void ReadTrackList();

}  // namespace mml
