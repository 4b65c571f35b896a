// Track commands: per-track state changes, parameter values and the events they send.
#include "mml/track_commands.h"

#include <array>
#include <cstdint>
#include <string>

#include "mml/conv.h"
#include "mml/events.h"
#include "mml/lexer.h"
#include "mml/state.h"
#include "mml/track.h"
#include "mml/track_helpers.h"

namespace mml {

namespace {

TTrackTable& Track() { return CurrentTrack(); }

uint8_t ChannelByte(uint8_t status) { return static_cast<uint8_t>(status | (Track().Channel & 0x0F)); }

void SendController(int32_t controller, int32_t value) {
  ChannelEvent(Track().Time, 0xB0, controller, value);
}

// Writes the automation bit of one parameter command on every way out of it.
class AutomationBitWriter {
 public:
  AutomationBitWriter(int k, bool on) : bit_(1u << k), on_(on) {}
  ~AutomationBitWriter() {
    TTrackTable& t = Track();
    t.AutoEnabled = on_ ? (t.AutoEnabled | bit_) : (t.AutoEnabled & ~bit_);
  }
  void SwitchOff() { on_ = false; }

 private:
  uint32_t bit_;
  bool on_;
};

// ~note1,note2[,low,high]: the range is taken once both notes are read, the values once both are read.
void ReadKeyFollow(int k, int32_t keyLowDefault, int32_t keyHighDefault) {
  const int32_t lowNote = ReadNoteNumber();
  ExpectComma();
  const int32_t highNote = ReadNoteNumber();
  TTrackTable& t = Track();
  t.KeyLowNote[k] = lowNote;
  t.KeyHighNote[k] = highNote;
  t.AutoMode[k] = 0;
  t.KeyFollowMask |= 1u << k;
  int32_t low = keyLowDefault;
  int32_t high = keyHighDefault;
  if (IsComma()) {
    NextChar();
    low = ReadExpr();
    ExpectComma();
    high = ReadExpr();
  }
  t.KeyLowValue[k] = low;
  t.KeyHighValue[k] = high;
}

// ---- parameter commands ----

void ParameterCommand(int k) {
  ControlCommand(k, AutoParamCommandMin[k], AutoParamCommandMax[k], AutoParamKeyLow[k], AutoParamKeyHigh[k]);
}

// t: tempo, once
void TempoCommand() {
  RepeatPerTrack = false;
  ParameterCommand(kTempoParam);
}

// s=n: velocity step; else the velocity parameter
void VelocityCommand() {
  if (Accept('=')) {
    int32_t n = ReadExpr();
    CheckRange(n, 1, 127);
    Track().VelocityStep = n;
    return;
  }
  ParameterCommand(0);
}

void ExpressionCommand() { ParameterCommand(1); }
void VolumeCommand() { ParameterCommand(2); }
void PanCommand() { ParameterCommand(3); }
void ModulationCommand() { ParameterCommand(4); }
void PitchBendCommand() { ParameterCommand(5); }
void PortamentoCommand() { ParameterCommand(6); }

// EA..ED: effect depth 1..4
void EffectCommand() {
  uint8_t c = NextChar();
  if (c < 'A' || c > 'D') ScriptError(Cp932Text("エフェクト記号をいれてください"));
  ParameterCommand(7 + (c - 'A'));
}

// ( [n], ) [n]: velocity down / up by n, or by the velocity step
int32_t VelocityChange() {
  int32_t n = ReadExpr();
  return ValueStatus == kNoValue ? Track().VelocityStep : n;
}
void VelocityDownCommand() { Track().Value[0] = Sub32(Track().Value[0], VelocityChange()); }
void VelocityUpCommand() { Track().Value[0] = Add32(Track().Value[0], VelocityChange()); }

// o n | o_n
void OctaveCommand() {
  int32_t n = ReadRelExpr(Track().Octave);
  CheckRange(n, -2, 8);
  Track().Octave = n;
}

// > [n], < [n]
int32_t OctaveStep() {
  int32_t n = ReadExpr();
  return ValueStatus == kNoValue ? 1 : n;
}
void OctaveUpCommand() { Track().Octave = Add32(Track().Octave, OctaveStep()); }
void OctaveDownCommand() { Track().Octave = Sub32(Track().Octave, OctaveStep()); }

// _n | __n
void KeyShiftCommand() {
  int32_t n = ReadRelExpr(Track().KeyShift);
  CheckRange(n, -127, 127);
  Track().KeyShift = n;
}

// l length
void DefaultLengthCommand() { Track().DefaultLength = ReadLength(); }

// i n | i%n
void GateCommand() { Track().Gate = ReadScaled(); }

// C n: ticks per quarter note
void TimebaseCommand() {
  int32_t n = ReadExpr();
  CheckRange(n, 1, 65536);
  Timebase = n;
}

// O n: MIDI channel 1..16
void ChannelCommand() {
  int32_t n = ReadExpr();
  CheckRange(n, 1, 16);
  Track().Channel = n - 1;
}

// Program number of @: a family code and 1..8, or n | _n in 1..128.
int32_t ParseProgram() {
  static constexpr char kFamilies[] = "PNCPORGTBSSTENBRRDPPSLSPSEETPRSF";
  auto upper = [](uint8_t c) { return static_cast<uint8_t>(c >= 'a' && c <= 'z' ? c - 32 : c); };
  uint8_t first = upper(SourceByte(ReadPos));
  uint8_t second = upper(SourceByte(ReadPos + 1));
  for (int family = 0; family < 16; ++family) {
    if (kFamilies[family * 2] == first && kFamilies[family * 2 + 1] == second) {
      ReadPos += 2;
      int32_t n = ReadExpr();
      CheckRange(n, 1, 8);
      return family * 8 + n;
    }
  }
  if (first >= 'A' && first <= 'Z') ScriptError(Cp932Text("音色記号が違います"));
  int32_t n = ReadRelExpr(Track().Program);
  CheckRange(n, 1, 128);
  return n;
}

// @program[,lsb[,msb]]
void ProgramCommand() {
  int32_t p = ParseProgram();
  TTrackTable& t = Track();
  t.Program = p;
  AddEvent(t.Time, {ChannelByte(0xC0), static_cast<uint8_t>(p - 1)});
  if (!IsComma()) return;
  NextChar();
  int32_t lsb = ReadExpr();
  if (ValueStatus != kNoValue) {
    CheckRange(lsb, 0, 127);
    SendController(32, lsb);
  }
  if (!IsComma()) return;
  NextChar();
  int32_t msb = ReadExpr();
  CheckRange(msb, 0, 127);
  SendController(0, msb);
}

// S | S+ | S-: soft pedal
void SoftPedalCommand() {
  const bool off = !Accept('+') && Accept('-');
  SendController(67, off ? 0 : 127);
}

// %byte{,byte|,"text"}: raw message or system exclusive
void RawCommand() {
  int32_t b = ReadExpr();
  CheckRange(b, 0, 255);
  std::string bytes;
  while (IsComma()) {
    NextChar();
    if (PeekChar() == '"') {
      std::string word;
      ReadWord(word);
      bytes += word;
    } else {
      int32_t v = ReadExpr();
      CheckRange(v, 0, 255);
      bytes += static_cast<char>(v);
    }
  }
  TTrackTable& t = Track();
  std::string data;
  if (b < 0xF0) {
    data += static_cast<char>((b & 0xF0) | ((b + t.Channel) & 0x0F));
  } else {
    data += static_cast<char>(b);
    if (b == 0xF0) AppendVarLen(data, static_cast<int32_t>(bytes.size()));
  }
  data += bytes;
  AddEvent(t.Time, data);
}

// "text": lyric, once
void LyricCommand() {
  RepeatPerTrack = false;
  ReadPos -= 1;  // back onto the opening quote, so that the text is read as a quoted word
  std::string text;
  ReadWord(text);
  std::string data("\xFF\x05", 2);
  AppendVarLen(data, static_cast<int32_t>(text.size()));
  data += text;
  AddEvent(Track().Time, data);
}

// R beats,unit,click-length: time signature, once
void TimeSignatureCommand() {
  RepeatPerTrack = false;
  int32_t beats = ReadExpr();
  if (ValueStatus == kNoValue || !(beats == 2 || beats == 3 || beats == 4 || beats == 5 || beats == 6 ||
                                   beats == 7 || beats == 9 || beats == 12)) {
    ScriptError(Cp932Text("指定できるのは2,3,4,5,6,7,9,12拍子だけです"));
  }
  ExpectComma();
  int32_t unit = ReadExpr();
  int32_t unitLog = -1;
  for (int i = 2; i <= 7; ++i) {
    if (unit == (1 << i)) unitLog = i;
  }
  if (ValueStatus == kNoValue || unitLog < 0)
    ScriptError(Cp932Text("指定できるのは4,8,16,32,64,128分音符だけです"));
  ExpectComma();
  int32_t clocks = Mul32(ReadLength(), 24) / Timebase;
  CheckRange(clocks, 1, 255);
  AddEvent(Track().Time, {0xFF, 0x58, 0x04, static_cast<uint8_t>(beats), static_cast<uint8_t>(unitLog),
                          static_cast<uint8_t>(clocks), 0x08});
}

// =n | =_n | =n,tracks: set the track position
void PositionCommand() {
  int32_t value = ReadRelExpr(Track().Time);
  if (value < 0) value = 0;
  if (!IsComma()) {
    Track().Time = value;
    return;
  }
  // A list that fails halfway leaves the tracks it has listed so far selected, as with `:`.
  const uint32_t saved = TrackMask;
  ReadTrackList();
  for (int i = 0; i < kTrackCount; ++i) {
    if (TrackMask & (1u << i)) Tracks[i].Time = value;
  }
  TrackMask = saved;
}

// ^: end mark
void CutCommand() { CutTime = Track().Time; }

// +n: test message
void TestMessageCommand() {
  int32_t n = ReadExpr();
  ShowMessage("Test TRK:" + std::to_string(CurTrack) + " %" + std::to_string(n));
}

constexpr std::array<CommandHandler, 128> BuildCommandTable() {
  std::array<CommandHandler, 128> table{};
  for (uint8_t c : {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'n'}) table[c] = NoteCommand;
  table['r'] = RestCommand;
  table['{'] = GroupStartCommand;
  table['}'] = GroupEndCommand;
  table['t'] = TempoCommand;
  table['s'] = VelocityCommand;
  table['v'] = ExpressionCommand;
  table['V'] = VolumeCommand;
  table['p'] = PanCommand;
  table['M'] = ModulationCommand;
  table['B'] = PitchBendCommand;
  table['P'] = PortamentoCommand;
  table['E'] = EffectCommand;
  table['('] = VelocityDownCommand;
  table[')'] = VelocityUpCommand;
  table['o'] = OctaveCommand;
  table['>'] = OctaveUpCommand;
  table['<'] = OctaveDownCommand;
  table['_'] = KeyShiftCommand;
  table['l'] = DefaultLengthCommand;
  table['i'] = GateCommand;
  table['C'] = TimebaseCommand;
  table['O'] = ChannelCommand;
  table['@'] = ProgramCommand;
  table['S'] = SoftPedalCommand;
  table['%'] = RawCommand;
  table['"'] = LyricCommand;
  table['R'] = TimeSignatureCommand;
  table['='] = PositionCommand;
  table['^'] = CutCommand;
  table['+'] = TestMessageCommand;
  return table;
}

constexpr std::array<CommandHandler, 128> kCommandTable = BuildCommandTable();

}  // namespace

CommandHandler TrackCommandFor(uint8_t c) { return c < kCommandTable.size() ? kCommandTable[c] : nullptr; }

void ResetTrack() {
  TTrackTable& t = Track();
  t = TTrackTable{};
  t.Channel = CurTrack & 15;
  t.GroupStep = -1;
  t.Note = kNoNote;
  t.TiedNote = kNoNote;
  t.PortamentoNote = kNoNote;
  t.DefaultLength = Timebase;
  t.Gate = 0x10000 | 15;
  t.Octave = 4;
  t.VelocityStep = 1;
  t.Program = 1;
  for (int k = 0; k < kAutoParamCount - 1; ++k) t.Value[k] = AutoParamReset[k];
  Tempo = 120;
}

int32_t CurrentValue(int k) { return AutoParamKind[k] < kKindTempo ? Track().Value[k] : Tempo; }

void SendValue(int k, int32_t v) {
  TTrackTable& t = Track();
  const uint8_t kind = AutoParamKind[k];
  const uint32_t bit = 1u << k;
  if (kind < kKindTempo && (t.SentMask & bit) && t.Value[k] == v) return;
  t.SentMask |= bit;
  if (v < -AutoParamOffset[k]) v = -AutoParamOffset[k];
  if (v > AutoParamMax[k]) v = AutoParamMax[k];
  if (kind <= kKindPortamento) {
    t.Value[k] = v;
  } else if (kind == kKindTempo) {
    Tempo = v;
  }
  if (kind < 0x80) {
    SendController(kind, v + AutoParamOffset[k]);
  } else if (kind == kKindPitchBend) {
    int32_t w = v + 8192;
    ChannelEvent(t.Time, 0xE0, w & 127, (w >> 7) & 255);
  } else if (kind == kKindPortamento) {
    if (v == 0) {
      SendController(65, 0);
    } else {
      SendController(65, 127);
      SendController(5, v - 1);
    }
  } else if (kind == kKindTempo) {
    // A tempo of 0 (reached only through an envelope or key-follow) is sent as 1.
    int32_t u = 60000000 / (v > 0 ? v : 1);
    AddEvent(t.Time, {0xFF, 0x51, 0x03, static_cast<uint8_t>(u >> 16), static_cast<uint8_t>(u >> 8),
                      static_cast<uint8_t>(u)});
  }
}

// [ | ] | [=] (~note1,note2[,low,high] | value | _value) [,envelope]
void ControlCommand(int k, int32_t min, int32_t max, int32_t keyLowDefault, int32_t keyHighDefault) {
  TTrackTable& t = Track();
  const uint32_t bit = 1u << k;
  if (Accept('[')) {
    if ((t.AutoMode[k] & 127) == 0 && !(t.KeyFollowMask & bit)) {
      ScriptError(Cp932Text("自動パラメータが設定されていません"));
    }
    t.AutoEnabled |= bit;
    return;
  }
  if (Accept(']')) {
    t.AutoEnabled &= ~bit;
    return;
  }
  AutomationBitWriter automation(k, !Accept('='));
  if (Accept('~')) {
    ReadKeyFollow(k, keyLowDefault, keyHighDefault);
    return;
  }
  t.KeyFollowMask &= ~bit;
  int32_t value = ReadRelExpr(CurrentValue(k));
  if (ValueStatus == kNoValue) automation.SwitchOff();
  CheckRange(value, min, max);
  SendValue(k, value);
  ParseAutoDef(k);
}

}  // namespace mml
