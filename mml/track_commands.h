// Track commands of the MML compiler: the handlers the main loop dispatches to, and the parameter
// helpers shared by the command and note handlers.
#pragma once

#include <cstdint>

namespace mml {

// A handler reads its arguments at ReadPos for the track CurTrack. Handlers that run only for the first
// selected track clear RepeatPerTrack themselves.
using CommandHandler = void (*)();

// The handler of command character c, or nullptr when c is no track command.
CommandHandler TrackCommandFor(uint8_t c);

// Sets Tracks[CurTrack] to its defaults and the global Tempo to 120.
void ResetTrack();

// Value of parameter k: Value[k] of the current track, the global Tempo for the tempo.
int32_t CurrentValue(int k);

// Stores and sends one value of parameter k at the current track's Time.
void SendValue(int k, int32_t v);

// The syntax shared by s v V p M B P E t, read behind the command letter(s).
void ControlCommand(int k, int32_t min, int32_t max, int32_t keyLowDefault, int32_t keyHighDefault);

// Optional envelope definition behind a parameter value (",mode,interval,length,delta...").
void ParseAutoDef(int k);

// Moves the current track forward n ticks, stepping its envelopes.
void AdvanceTime(int32_t n);

// Note, rest and group handlers.
void NoteCommand();
void RestCommand();
void GroupStartCommand();
void GroupEndCommand();

}  // namespace mml
