// Notes, rests, groups and the automatic parameters they drive (envelopes and key-follow).
#include <climits>
#include <cstdint>
#include <string>

#include "mml/conv.h"
#include "mml/lexer.h"
#include "mml/state.h"
#include "mml/track.h"
#include "mml/track_commands.h"
#include "mml/track_helpers.h"

namespace mml {

namespace {

TTrackTable& Track() { return CurrentTrack(); }

// Marks the messages raised while parameter values are generated with the parameter's name; back to
// -1 on every way out.
class AutoParamScope {
 public:
  AutoParamScope() = default;
  ~AutoParamScope() { AutoParamInError = -1; }
  void Set(int k) { AutoParamInError = k; }
};

// Gate 0 of a note written with an empty gate field and no velocity field: ratio -16.
constexpr int32_t kZeroGate = 0x10000 | (-16 & 0xFFFF);

// Dots behind a tick length: each adds half of the previous addition.
int32_t AddNoteDots(int32_t length) {
  int32_t e = length / 2;
  while (Accept('.')) {
    length = Add32(length, e);
    e /= 2;
  }
  return length;
}

// Dots behind a tick length of a rest: each multiplies the length by 3/2.
// A length that no longer fits counts as negative, as an overflowing note length does.
int32_t AddRestDots(int32_t length) {
  int64_t dotted = length;
  while (Accept('.')) {
    if (dotted <= INT32_MAX) dotted = dotted * 3 / 2;
  }
  return dotted <= INT32_MAX ? static_cast<int32_t>(dotted) : -1;
}

void NoteEvent(int32_t time, int32_t note, int32_t velocity) { ChannelEvent(time, 0x90, note, velocity); }

void ControllerEvent(int32_t time, int32_t controller, int32_t value) {
  ChannelEvent(time, 0xB0, controller, value);
}

// Velocity from the velocity key-follow range: the range's notes map to the steps above the low value.
void FollowVelocity(int32_t note) {
  TTrackTable& t = Track();
  int32_t divisor = Add32(Sub32(t.KeyHighNote[0], t.KeyLowNote[0]), 1);
  if (divisor == 0) {
    t.Value[0] = t.KeyLowValue[0];
    return;
  }
  int32_t steps = Add32(Sub32(note, t.KeyLowNote[0]), 1);
  t.Value[0] =
      Add32(t.KeyLowValue[0], Div32(Mul32(steps, Sub32(t.KeyHighValue[0], t.KeyLowValue[0])), divisor));
}

// Parameters 1..11 that follow the note number, sent when a note with a length is struck.
void FollowKey(int32_t note) {
  TTrackTable& t = Track();
  uint32_t follow = t.AutoEnabled & t.KeyFollowMask;
  if ((follow & ~1u) == 0) return;
  AutoParamScope scope;
  for (int i = 1; i < kAutoParamCount; ++i) {
    if (!(follow & (1u << i))) continue;
    scope.Set(i);
    int32_t span = Sub32(t.KeyHighValue[i], t.KeyLowValue[i]);
    int32_t value;
    if (t.KeyLowNote[i] != t.KeyHighNote[i]) {
      value = Add32(t.KeyLowValue[i], Div32(Mul32(Sub32(note, t.KeyLowNote[i]), span),
                                            Sub32(t.KeyHighNote[i], t.KeyLowNote[i])));
    } else {
      value = Add32(t.KeyLowValue[i], span / 2);
    }
    SendValue(i, value);
  }
}

// Envelopes with the restart flag start again at every newly struck note.
void RestartEnvelopes() {
  TTrackTable& t = Track();
  for (int i = 0; i < kAutoParamCount; ++i) {
    if (t.AutoMode[i] <= 128) continue;
    t.AutoCounter[i] = i == 0 ? 1 : 0;
    t.AutoPos[i] = 0;
    t.AutoBase[i] = t.AutoStart[i];
    SendValue(i, t.AutoStart[i]);
  }
}

// One envelope segment: unsigned 16-bit length, signed 16-bit delta.
struct Segment {
  int32_t Length;
  int32_t Delta;
};

Segment SegmentAt(const std::string& envelope, int32_t pos) {
  auto byte = [&](size_t i) { return static_cast<uint8_t>(envelope[static_cast<size_t>(pos) * 4 + i]); };
  return {byte(0) | (byte(1) << 8), static_cast<int16_t>(static_cast<uint16_t>(byte(2) | (byte(3) << 8)))};
}

// Steps the envelope of parameter k through ticks 0..n-1 from t0. Runs of ticks that neither end a
// segment nor emit a value are passed over in one step; every tick still counts as work.
void StepEnvelope(int k, int32_t t0, int32_t n) {
  TTrackTable& t = Track();
  const std::string& envelope = t.AutoEnvelope[k];
  const int32_t count = static_cast<int32_t>(envelope.size() / 4);
  const int32_t target = t.AutoMode[k] & 127;
  const int32_t interval = t.AutoInterval[k];
  int32_t& counter = t.AutoCounter[k];
  int32_t base = t.AutoBase[k];
  Segment seg = SegmentAt(envelope, t.AutoPos[k]);
  int64_t work = 0;
  for (int32_t i = 0; i < n; ++i) {
    bool wrapped = false;
    while (counter >= seg.Length) {
      int32_t next = t.AutoPos[k] + 1;
      if (next >= count) {
        if (wrapped) ScriptError(Cp932Text("永久ループです"));
        wrapped = true;
        if (target == 127) {
          counter = -1;
          t.Time = Add32(t0, i);
          CountWork(work + 1);
          return;
        }
        next = target - 1;
        counter = 0;
      }
      base = Add32(base, seg.Delta);
      t.AutoBase[k] = base;
      t.AutoPos[k] = next;
      seg = SegmentAt(envelope, next);
      counter = 0;
      if (seg.Length == 0) {
        t.Time = Add32(t0, i);
        SendValue(k, Add32(base, seg.Delta));
      }
    }
    if (counter % interval == 0) {
      t.Time = Add32(t0, i);
      SendValue(k, Add32(base, seg.Delta * counter / seg.Length));
    }
    counter += 1;
    int32_t quiet = n - 1 - i;
    if (seg.Length - counter < quiet) quiet = seg.Length - counter;
    const int32_t sinceValue = counter % interval;
    if (sinceValue == 0) {
      quiet = 0;
    } else if (interval - sinceValue < quiet) {
      quiet = interval - sinceValue;
    }
    counter += quiet;
    i += quiet;
    work += 1 + quiet;
    if (work >= 0x10000) {
      CountWork(work);
      work = 0;
    }
  }
  CountWork(work);
}

// Moves the track on after a note or rest: in a group by the group's step, else by the length.
void MoveOn(int32_t length) {
  TTrackTable& t = Track();
  if (t.GroupStep == -1) {
    AdvanceTime(length);
    return;
  }
  t.GroupLastLength = length;
  t.Time = Add32(t.Time, t.GroupStep);
  t.GroupAdvance = Add32(t.GroupAdvance, t.GroupStep);
}

}  // namespace

void AdvanceTime(int32_t n) {
  TTrackTable& t = Track();
  const int32_t t0 = t.Time;
  if (t.AutoEnabled != 0) {
    AutoParamScope scope;
    for (int k = 0; k < kAutoParamCount; ++k) {
      scope.Set(k);
      if (!(t.AutoEnabled & (1u << k)) || (t.AutoMode[k] & 127) == 0 || t.AutoCounter[k] == -1) continue;
      StepEnvelope(k, t0, n);
    }
  }
  t.Time = Add32(t0, n);
  if (t.Time > EndTime) EndTime = t.Time;
}

// a..g[+-...] | n number[,] ; then [length][,[gate][,velocity]][$][^][~[n]]
void NoteCommand() {
  TTrackTable& t = Track();
  const int32_t held = t.TiedNote;
  int32_t note;
  if (SourceByte(ReadPos - 1) == 'n') {
    note = ReadExpr();
    Accept(',');
  } else {
    ReadPos -= 1;  // the letter is read again with its accidentals
    note = Add32(Add32(Mul32(Add32(t.Octave, 2), 12), t.KeyShift), ReadNoteLetter());
  }
  t.Note = note;
  if (note < 0 || note > 127)
    ScriptError(Cp932Text("音域をオーバーしています(") + std::to_string(note) + ")");

  if ((t.AutoEnabled & t.KeyFollowMask & 1u) != 0) FollowVelocity(note);

  int32_t gateWord = t.Gate;
  int32_t velocity = t.Value[0];
  int32_t length = AddNoteDots(ReadLength());
  if (Accept(',')) {
    int32_t code = ReadScaled();
    const bool gateWritten = ValueStatus != kNoValue;
    if (gateWritten) gateWord = code;
    if (Accept(',')) {
      velocity = ReadRelExpr(velocity);
      CheckRange(velocity, 1, 127);
    } else if (!gateWritten) {
      gateWord = kZeroGate;
    }
  }
  if (length < 0) ScriptError(Cp932Text("音長が負になりました"));
  const int32_t gate = ScaleValue(gateWord, length != 0 ? length : t.DefaultLength);
  const int32_t gateEnd = Add32(t.Time, gate);
  if (gateEnd < 0) ScriptError(Cp932Text("消音時間が負になりました"));
  if (velocity < 1 || velocity > 127) ScriptError(Cp932Text("ベロシティーが1から127の範囲を外れました"));

  t.TiedNote = Accept('$') ? note : kNoNote;
  if (held != note) {
    RestartEnvelopes();
    NoteEvent(t.Time, note, velocity);
    if (length != 0) FollowKey(note);
    if (held != kNoNote) NoteEvent(gateEnd, held, 0);
  }
  if (t.TiedNote == kNoNote) NoteEvent(Accept('^') ? Add32(t.Time, length) : gateEnd, note, 0);

  if (Accept('~')) {
    int32_t n = ReadExpr();
    if (ValueStatus != kNoValue) {
      CheckRange(n, 0, 127);
      ControllerEvent(gateEnd, 5, n);
    }
    ControllerEvent(gateEnd, 65, 127);
    t.PortamentoNote = note;
  } else if (t.PortamentoNote != kNoNote) {
    ControllerEvent(gateEnd, 65, 0);
    t.PortamentoNote = kNoNote;
  }
  MoveOn(length);
}

// r[length]: a rest releases a held note at its end
void RestCommand() {
  TTrackTable& t = Track();
  int32_t length = AddRestDots(ReadLength());
  if (length < 0) ScriptError(Cp932Text("音長が負になりました"));
  if (t.TiedNote != kNoNote) {
    NoteEvent(Add32(t.Time, length), t.TiedNote, 0);
    t.TiedNote = kNoNote;
  }
  MoveOn(length);
}

// {[step]: notes and rests of the group start step ticks apart
void GroupStartCommand() {
  TTrackTable& t = Track();
  int32_t step = ReadExpr();
  if (ValueStatus == kNoValue) {
    step = 0;
  } else {
    CheckRange(step, 0, 2147483647);
  }
  t.GroupStep = step;
  t.GroupAdvance = 0;
}

// }: back to the start of the group, then on by the length of its last note or rest
void GroupEndCommand() {
  TTrackTable& t = Track();
  t.Time = Sub32(t.Time, t.GroupAdvance);
  AdvanceTime(t.GroupLastLength);
  t.GroupStep = -1;
}

// ,[%]mode,interval{,length,delta}
void ParseAutoDef(int k) {
  TTrackTable& t = Track();
  t.AutoCounter[k] = k == 0 ? 1 : 0;
  t.AutoPos[k] = 0;
  t.AutoBase[k] = t.AutoStart[k] = CurrentValue(k);
  if (!Accept(',')) {
    t.AutoMode[k] = 0;
    return;
  }
  int32_t mode = Accept('%') ? Add32(ReadExpr(), 128) : ReadExpr();
  CheckRange(mode, 0, 255);
  if ((mode & 127) == 0) mode |= 127;
  ExpectComma();
  int32_t interval = ReadExpr();
  CheckRange(interval, 1, 65536);
  std::string segments;
  while (Accept(',')) {
    int32_t length = ReadExpr();
    CheckRange(length, 0, 65536);
    ExpectComma();
    int32_t delta = ReadExpr();
    CheckRange(delta, -65536, 65536);
    segments += static_cast<char>(length & 0xFF);
    segments += static_cast<char>((length >> 8) & 0xFF);
    segments += static_cast<char>(delta & 0xFF);
    segments += static_cast<char>((delta >> 8) & 0xFF);
  }
  if (segments.empty()) {
    t.AutoMode[k] = 0;
    return;
  }
  const int32_t target = mode & 127;
  if (target < 127 && target > static_cast<int32_t>(segments.size() / 4)) {
    ScriptError(Cp932Text("繰り返すためのパラメータが足りません"));
  }
  // The definition takes effect only once it is complete, so that a failed one leaves the previous
  // envelope whole.
  t.AutoMode[k] = mode;
  t.AutoInterval[k] = interval;
  t.AutoEnvelope[k] = std::move(segments);
}

}  // namespace mml
