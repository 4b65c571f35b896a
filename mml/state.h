// The compiler state: one instance of everything, reset by every compilation. Not thread-safe; the
// compiler runs on one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mml/conv.h"
#include "mml/events.h"
#include "mml/track.h"

namespace mml {

// One macro definition and, while it is being expanded, its expansion.
struct TMacroTable {
  int32_t ExpandStart = 0;  // index in Source where the current expansion begins
  std::string Name;
  std::string Body;             // blanks and control bytes trimmed at both ends
  int32_t BodyPos = 0;          // index in Source of the first body byte of the definition
  int32_t ReturnPos = -1;       // where reading resumes after the expansion; -1 while not expanded
  int32_t PrevMacro = -1;       // CurMacro at the time of the call
  std::vector<int32_t> PosMap;  // offset into Body of each expansion byte, plus one for the byte behind
  int32_t ParamCount = 0;       // highest n of the ?n in the body, 0..9
};

// One open [ ] block.
struct TBlockEntry {
  int32_t Remaining = 0;  // passes still to run, counting the current one
  int32_t Pass = 0;       // number of the current pass, from 0
  bool AltSkip = false;   // toggled by each |
  int32_t StartPos = 0;   // just behind the [
  int32_t ExitPos = -1;   // behind the repeat count; -1 until the ] has been reached once
};

// One file spliced into Source by #INCLUDE.
struct TInsertText {
  std::string Name;  // the name as written in the text (CP932)
  int32_t StartPos = 0;
  int32_t EndPos = 0;  // index of the last inserted byte
};

inline constexpr int kMaxMacros = 1024;
inline constexpr int kMaxInserts = 8;
inline constexpr int kMaxBlocks = 32;
inline constexpr int kTrackCount = 32;

extern std::string Source;   // working text: the caller's text, 0x1A, then macro expansions
extern int32_t ReadPos;      // next byte of Source to read
extern int32_t ErrorPos;     // start of the item being read: the start of an error's span
extern uint8_t ValueStatus;  // last read: 0 a value, 1 no value, 2 an empty word
extern int32_t TermOnly;     // 1: ReadExpr reads one operand and no binary operator
extern uint32_t TrackMask;   // selected tracks, bit n = track n+1
extern int32_t CurTrack;     // track 0..31 for which the current command runs
extern bool RepeatPerTrack;  // a handler that clears it runs once for all selected tracks
extern int32_t Timebase;     // ticks per quarter note
extern int32_t Tempo;        // quarter notes per minute
extern TTrackTable Tracks[kTrackCount];
extern TMidiBufferList EventList;
extern bool TooManyErrors;
extern std::string OutputName;  // file name, or one byte: 0xFF play, 0x00 build only
extern int32_t CutTime;         // end mark of ^, -1 = none
extern int32_t EndTime;         // latest track end time
extern int32_t MacroCount, CurMacro;
extern TMacroTable Macros[kMaxMacros];
extern int32_t InsertCount;
extern TInsertText Inserts[kMaxInserts];
extern int32_t BlockDepth;
extern TBlockEntry Blocks[kMaxBlocks];
extern int32_t AutoParamInError;  // automatic parameter 0..11 whose events are being made, else -1
// The work limit, kMaxWorkSteps; lowered only by the fuzz harness and tests, so that runaway inputs end
// quickly under instrumentation.
extern int64_t MaxWorkSteps;

}  // namespace mml
