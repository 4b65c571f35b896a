#include "record/midi_to_mml.h"

#include <algorithm>
#include <array>
#include <limits>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "mml/events.h"
#include "record/convert.h"
#include "record/dialect.h"
#include "record/length_text.h"

namespace record {
namespace {

constexpr int64_t kMaxMmlTick = std::numeric_limits<int32_t>::max();  // the compiler's time is 32-bit
constexpr int64_t kMaxGate = 32767;       // a gate in ticks is a signed 16-bit number
constexpr int64_t kMaxStepPiece = 65536;  // the longest "%n" length piece
constexpr int32_t kOtherTimebase = 96;    // the other dialects are written at 96 ticks a quarter note
constexpr int64_t kMaxOtherTick = int64_t{1} << 24;  // 43,690 bars of four quarters
constexpr int kMaxOctaveSteps = 3;                   // a larger octave jump is written with "o"
constexpr uint8_t kRemoved = 0;                      // status of an event folded into another
constexpr size_t kMaxCountedTracks = 256;            // a file that needs more is told "more than 256"

using LeftOutCounts = std::map<std::string, int64_t>;

struct Note {
  int64_t Onset;
  int64_t Length;  // sounding length in ticks, at least 1
  uint8_t Key;
  uint8_t Velocity;
};

// A channel message, or a meta event (tempo, text, signature) or system exclusive message of the first
// MML track.
struct TimedEvent {
  int64_t Tick;
  uint8_t Status;
  uint8_t Data1;
  uint8_t Data2;
  std::span<const uint8_t> Payload;
  int16_t BankLsb = -1;  // program changes: the bank select of the same tick folded in (-1 none)
  int16_t BankMsb = -1;
};

// The messages of one channel of one file track.
struct Part {
  int Track = 0;
  int Channel = 0;
  std::vector<Note> Notes;
  std::vector<TimedEvent> Events;
  int Program = -1;  // the first program change, 0..127
};

// Notes struck together with the same length: a run of the part's sorted notes.
struct Chord {
  int64_t Onset;
  int64_t Length;
  uint32_t First;
  uint32_t Count;
};

struct Voice {
  std::vector<Chord> Chords;
  int64_t End = 0;  // when the last chord stops sounding
};

// How a voice takes a chord that starts while its last chord still sounds: only a slight (legato)
// overlap, or any overlap the gate can hold. The second is tried when the first needs too many tracks.
enum class OverlapPolicy { kLegato, kAny };

int64_t Scale(int64_t tick, int64_t from, int64_t to) {
  return from == to ? tick : (tick * to + from / 2) / from;
}

// ---- Reading the file into parts ----

// Pairs note-ons with note-offs first in, first out per key, so that a note struck again before its
// release keeps its own length. A note still sounding at the end of its track ends there; a note of no
// length gets one tick (the compiler would put its note-off before its note-on).
class PartCollector {
 public:
  PartCollector(bool smpte, LeftOutCounts& leftOut) : smpte_(smpte), leftOut_(leftOut) {}

  void ReadTrack(const SmfTrack& track, int index, std::vector<TimedEvent>& conductor,
                 std::vector<Part>& parts) {
    int partOf[16];
    std::fill(std::begin(partOf), std::end(partOf), -1);
    std::vector<Part> own;
    auto part = [&](int channel) -> Part& {
      if (partOf[channel] < 0) {
        partOf[channel] = static_cast<int>(own.size());
        own.push_back(Part{index, channel, {}, {}, -1});
      }
      return own[partOf[channel]];
    };
    for (KeyQueue& queue : open_) queue = KeyQueue();
    for (const SmfEvent& e : track.Events) {
      if (e.Status == 0xFF) {
        if (e.Data1 != 0x51 && !CarriedMeta(e.Data1, index)) {
          leftOut_["meta event (track or instrument name, port, ...)"] += 1;
        } else if (e.Data1 == 0x51 && smpte_) {
          leftOut_["tempo change of a file in SMPTE time"] += 1;
        } else {
          conductor.push_back({static_cast<int64_t>(e.Tick), e.Status, e.Data1, 0, e.Payload});
        }
        continue;
      }
      if (e.Status == 0xF0) {
        conductor.push_back({static_cast<int64_t>(e.Tick), e.Status, 0, 0, e.Payload});
        continue;
      }
      if (e.Status == 0xF7) {
        leftOut_["system exclusive packet (F7)"] += 1;
        continue;
      }
      const int channel = e.Status & 0x0F;
      const int kind = e.Status >> 4;
      Part& p = part(channel);
      KeyQueue& queue = open_[channel * 128 + e.Data1];
      if (kind == 0x9 && e.Data2 > 0) {
        queue.Notes.push_back(p.Notes.size());
        p.Notes.push_back({static_cast<int64_t>(e.Tick), -1, e.Data1, e.Data2});
      } else if (kind == 0x8 || kind == 0x9) {
        // A release of a key that is not down is no message worth keeping.
        if (queue.Head < queue.Notes.size()) {
          Note& n = p.Notes[queue.Notes[queue.Head++]];
          n.Length = static_cast<int64_t>(e.Tick) - n.Onset;
        }
      } else {
        if (kind == 0xC && p.Program < 0) p.Program = e.Data1;
        p.Events.push_back({static_cast<int64_t>(e.Tick), e.Status, e.Data1, e.Data2, {}});
      }
    }
    for (Part& p : own) {
      for (Note& n : p.Notes) {
        if (n.Length < 0) n.Length = static_cast<int64_t>(track.EndTick) - n.Onset;
        n.Length = std::max<int64_t>(n.Length, 1);
      }
      FoldBankSelect(p.Events);
    }
    std::sort(own.begin(), own.end(), [](const Part& a, const Part& b) { return a.Channel < b.Channel; });
    for (Part& p : own) parts.push_back(std::move(p));
  }

 private:
  // The meta events the first MML track carries besides the tempo: texts, copyright, lyrics, markers,
  // cue points, time and key signatures, and the name of the first file track (the song's name). The
  // names of the other tracks, channel prefixes and ports would mean something else in one track.
  static bool CarriedMeta(uint8_t type, int track) {
    switch (type) {
      case 0x01:
      case 0x02:
      case 0x05:
      case 0x06:
      case 0x07:
      case 0x58:
      case 0x59:
        return true;
      case 0x03:
        return track == 0;
      default:
        return false;
    }
  }

  // Of program changes at one tick only the last one counts; the compiler would put the higher program
  // last, so the others are left out. A program change takes the bank select (controllers 0 and 32)
  // sent right before it at the same tick, once each, into its "@program,lsb,msb".
  void FoldBankSelect(std::vector<TimedEvent>& events) {
    bool folded = false;
    size_t lastProgram = events.size();
    for (size_t i = 0; i < events.size(); ++i) {
      if (events[i].Status >> 4 != 0xC) continue;
      if (lastProgram < events.size() && events[lastProgram].Tick == events[i].Tick) {
        events[lastProgram].Status = kRemoved;
        leftOut_["program change overridden at the same tick"] += 1;
        folded = true;
      }
      lastProgram = i;
    }
    for (size_t i = 0; i < events.size(); ++i) {
      TimedEvent& program = events[i];
      if (program.Status >> 4 != 0xC) continue;
      for (size_t j = i; j-- > 0;) {
        TimedEvent& e = events[j];
        if (e.Tick != program.Tick || e.Status >> 4 != 0xB || (e.Data1 != 0 && e.Data1 != 32)) break;
        int16_t& slot = e.Data1 == 0 ? program.BankMsb : program.BankLsb;
        if (slot >= 0) break;
        slot = e.Data2;
        e.Status = kRemoved;
        folded = true;
      }
    }
    if (folded) {
      std::erase_if(events, [](const TimedEvent& e) { return e.Status == kRemoved; });
    }
  }

  bool smpte_;
  LeftOutCounts& leftOut_;
  // The notes of one key and channel still sounding, oldest first from Head.
  struct KeyQueue {
    std::vector<size_t> Notes;
    size_t Head = 0;
  };
  std::vector<KeyQueue> open_ = std::vector<KeyQueue>(16 * 128);
};

// ---- Voices ----

// The voices of one part, or more than `limit` of them: the search stops there, so that a file of
// thousands of notes struck together stays quick to refuse.
std::vector<Voice> AssignVoices(const std::vector<Note>& notes, OverlapPolicy policy, size_t limit) {
  std::vector<Voice> voices;
  for (size_t i = 0; i < notes.size() && voices.size() <= limit;) {
    size_t j = i + 1;
    while (j < notes.size() && notes[j].Onset == notes[i].Onset && notes[j].Length == notes[i].Length) ++j;
    Chord chord{notes[i].Onset, notes[i].Length, static_cast<uint32_t>(i), static_cast<uint32_t>(j - i)};
    i = j;
    Voice* free = nullptr;
    Voice* overlapped = nullptr;
    for (Voice& v : voices) {
      const Chord& last = v.Chords.back();
      if (last.Onset >= chord.Onset) continue;  // struck together with a different length
      if (v.End <= chord.Onset) {
        if (free == nullptr || v.End > free->End) free = &v;  // the voice that fell silent last
        continue;
      }
      // The last chord then sounds past its step: its gate must fit the gate field.
      const int64_t overlap = v.End - chord.Onset;
      const bool allowed =
          last.Length <= kMaxGate && (policy == OverlapPolicy::kAny || overlap * 4 <= last.Length);
      if (allowed && (overlapped == nullptr || v.End < overlapped->End)) overlapped = &v;
    }
    Voice* target = free != nullptr ? free : overlapped;
    if (target == nullptr) {
      voices.emplace_back();
      target = &voices.back();
    }
    target->Chords.push_back(chord);
    target->End = chord.Onset + chord.Length;
  }
  return voices;
}

// ---- Lengths ----

// Note lengths at any time base for the own dialect: whole notes, then one n-th note piece (dotted ones
// too), or two plain pieces (n up to 32, one dot at most) joined by "&", else the ticks as "%n": a length
// played by hand reads better as "%22" than as "48..&384".
class OwnLengths {
 public:
  explicit OwnLengths(int32_t timebase) : whole_(int64_t{4} * timebase) {
    static constexpr int kDivisors[] = {2, 3, 4, 6, 8, 12, 16, 24, 32, 48, 64, 96, 128, 192, 256, 384};
    constexpr int kMaxPlain = 32;
    for (int n : kDivisors) {
      if (whole_ % n != 0) continue;
      const int64_t base = whole_ / n;
      Add(std::to_string(n), base, n <= kMaxPlain);
      if (base % 2 == 0) Add(std::to_string(n) + ".", base + base / 2, n <= kMaxPlain);
      if (base % 4 == 0) Add(std::to_string(n) + "..", base + base / 2 + base / 4, false);
    }
    std::stable_sort(pieces_.begin(), pieces_.end(),
                     [](const Piece& a, const Piece& b) { return a.Ticks > b.Ticks; });
  }

  // One piece of the table (the whole note included): such a length makes a good default or step.
  bool Single(int64_t ticks) const { return ticks == whole_ || Find(ticks) != nullptr; }

  std::string Text(int64_t ticks) const {
    std::string text;
    auto add = [&text](const std::string& piece) {
      if (!text.empty()) text += '&';
      text += piece;
    };
    while (ticks >= 8 * whole_) {
      const int64_t chunk =
          whole_ <= kMaxStepPiece ? std::min(ticks / whole_, kMaxStepPiece / whole_) * whole_ : whole_;
      add(chunk == whole_ ? "1" : "%" + std::to_string(chunk));
      ticks -= chunk;
    }
    for (; ticks >= whole_; ticks -= whole_) add("1");
    if (ticks == 0) return text;
    if (const Piece* piece = Find(ticks)) {
      add(piece->Text);
      return text;
    }
    for (const Piece& piece : pieces_) {
      if (!piece.Plain || piece.Ticks >= ticks) continue;
      const Piece* rest = Find(ticks - piece.Ticks);
      if (rest != nullptr && rest->Plain) {
        add(piece.Text);
        add(rest->Text);
        return text;
      }
    }
    // At a large time base the rest of a whole note can be longer than one step piece holds.
    for (; ticks > kMaxStepPiece; ticks -= kMaxStepPiece) add("%" + std::to_string(kMaxStepPiece));
    add("%" + std::to_string(ticks));
    return text;
  }

 private:
  struct Piece {
    int64_t Ticks;
    std::string Text;
    bool Plain;
  };

  void Add(std::string text, int64_t ticks, bool plain) {
    if (Find(ticks) == nullptr) pieces_.push_back({ticks, std::move(text), plain});
  }
  const Piece* Find(int64_t ticks) const {
    for (const Piece& piece : pieces_) {
      if (piece.Ticks == ticks) return &piece;
    }
    return nullptr;
  }

  int64_t whole_;
  std::vector<Piece> pieces_;  // longest first
};

// "t<tempo>" when a whole tempo gives exactly `micros` microseconds a quarter note (the compiler
// writes 60000000 / tempo), else the tempo event itself through "%". Every "%" command is written with
// a blank in front: right behind a note or rest it would be read as a length in ticks.
std::string TempoCommand(uint32_t micros) {
  constexpr int64_t kMinute = 60'000'000;
  constexpr int64_t kMaxTempo = 4'194'303;
  if (micros > 0) {
    const int64_t guess = kMinute / micros;
    for (int64_t t = std::max<int64_t>(guess - 1, 1); t <= std::min(guess + 1, kMaxTempo); ++t) {
      if (kMinute / t == micros) return "t" + std::to_string(t);
    }
  }
  return " %255,81,3," + std::to_string(micros >> 16 & 0xFF) + "," + std::to_string(micros >> 8 & 0xFF) +
         "," + std::to_string(micros & 0xFF);
}

uint32_t TempoOf(const TimedEvent& e) {
  return uint32_t{e.Payload[0]} << 16 | uint32_t{e.Payload[1]} << 8 | e.Payload[2];
}

// ---- Writing ----

// The controllers with a parameter command, and the command's automatic parameter number.
struct ControllerCommand {
  uint8_t Controller;
  const char* Command;
  int Parameter;
  int Offset;  // subtracted from the controller value (pan is written -64..63)
  const char* Kind;
};
constexpr ControllerCommand kControllerCommands[] = {
    {7, "V", 2, 0, "volume"},         {11, "v", 1, 0, "expression"},     {10, "p", 3, 64, "pan"},
    {1, "M", 4, 0, "modulation"},     {91, "EA", 7, 0, "effect depth"},  {92, "EB", 8, 0, "effect depth"},
    {93, "EC", 9, 0, "effect depth"}, {94, "ED", 10, 0, "effect depth"},
};
constexpr int kPitchBendParameter = 5;
constexpr int kParameterCount = 11;

struct Layout {
  int64_t Step;  // time to the next chord or rest
  int64_t Gate;  // sounding length
};

class TrackWriter {
 public:
  TrackWriter(int dialect, int32_t timebase, const OwnLengths& lengths, LeftOutCounts& leftOut)
      : dialect_(dialect),
        own_(dialect == kOwnDialect),
        timebase_(timebase),
        lengths_(lengths),
        leftOut_(leftOut) {}

  // One MML track: the chords of `voice` (notes from `notes`), and `events` at their ticks.
  std::string Write(int number, const Part& part, const Voice& voice, const std::vector<Note>& notes,
                    const std::vector<TimedEvent>& events) {
    text_.clear();
    pos_ = 0;
    octave_ = kNoOctave;
    velocity_ = 100;
    sent_.fill(false);
    events_ = &events;
    next_ = 0;
    deferred_.clear();
    std::vector<Layout> layout = Plan(voice);
    defaultTicks_ = ChooseDefault(layout);
    if (own_) {
      text_ += ":" + std::to_string(number);
      if (number == 1) text_ += "C" + std::to_string(timebase_);
      text_ += "O" + std::to_string(part.Channel + 1) + "l" + lengths_.Text(defaultTicks_) + "i16 ";
    } else {
      text_ += "l" + DefaultLengthText(defaultTicks_);
    }
    for (size_t k = 0; k < voice.Chords.size(); ++k) {
      const Chord& chord = voice.Chords[k];
      RestTo(chord.Onset);
      WriteChord(chord, layout[k], notes);
      while (next_ < events.size() && events[next_].Tick < pos_ + layout[k].Step)
        deferred_.push_back(next_++);
      pos_ += layout[k].Step;
    }
    if (next_ < events.size()) RestTo(events.back().Tick);
    // The commands that fall inside notes, after the voice: "=tick" and the commands of that tick.
    int64_t at = -1;
    for (size_t i : deferred_) {
      const std::string command = Command(events[i], true);
      if (command.empty()) continue;
      if (events[i].Tick != at) text_ += " =" + std::to_string(events[i].Tick);
      at = events[i].Tick;
      text_ += command;
    }
    return text_;
  }

 private:
  static constexpr int kNoOctave = -100;

  // Steps and gates: a chord sounds to the next one's onset, or the next one starts while it still
  // sounds (the gate is longer than the step), or a rest follows. A gap that makes a good length of its
  // own while the note does not is taken as the step, with the note's length as its gate.
  std::vector<Layout> Plan(const Voice& voice) const {
    std::vector<Layout> layout;
    layout.reserve(voice.Chords.size());
    for (size_t k = 0; k < voice.Chords.size(); ++k) {
      const int64_t length = voice.Chords[k].Length;
      if (k + 1 == voice.Chords.size()) {
        layout.push_back({length, length});
        continue;
      }
      const int64_t gap = voice.Chords[k + 1].Onset - voice.Chords[k].Onset;
      const bool gapStep = length >= gap || (Single(gap) && !Single(length) && length <= kMaxGate);
      layout.push_back({gapStep ? gap : length, length});
    }
    return layout;
  }

  bool Single(int64_t ticks) const {
    if (own_) return lengths_.Single(ticks);
    return ticks > 0 && 4 * kOtherTimebase % ticks == 0;
  }

  // The most common step that is a single length piece (an n-th note in the other dialects), else a
  // quarter note.
  int64_t ChooseDefault(const std::vector<Layout>& layout) const {
    std::map<int64_t, int> counts;
    for (const Layout& l : layout) {
      if (Single(l.Step) && (own_ || DefaultLengthText(static_cast<int32_t>(l.Step)) != ""))
        counts[l.Step] += 1;
    }
    int64_t best = own_ ? timebase_ : kOtherTimebase;
    int bestCount = 0;
    for (const auto& [ticks, count] : counts) {
      if (count > bestCount) {
        best = ticks;
        bestCount = count;
      }
    }
    return best;
  }

  std::string LengthText(int64_t ticks, const std::string& name) const {
    if (own_) return ticks == defaultTicks_ ? "" : lengths_.Text(ticks);
    return NoteLengthText(static_cast<int32_t>(ticks), static_cast<int32_t>(defaultTicks_), dialect_, name);
  }

  // A command; its blank (which keeps a "%" command from being read as a length) is left out behind one.
  void Append(const std::string& command) {
    const bool blanks = !command.empty() && command.front() == ' ' && !text_.empty() && text_.back() == ' ';
    text_.append(command, blanks ? 1 : 0);
  }

  // Appended piece by piece: GCC 12 at -O3 takes "r" + string for an overlapping copy (-Wrestrict).
  void Rest(int64_t ticks) { text_.append("r").append(LengthText(ticks, "r")); }

  // Moves to `target` with rests, placing every event due on the way at its tick.
  void RestTo(int64_t target) {
    const std::vector<TimedEvent>& events = *events_;
    for (;;) {
      while (next_ < events.size() && events[next_].Tick <= pos_) Append(Command(events[next_++], false));
      if (pos_ >= target) return;
      const int64_t stop = next_ < events.size() && events[next_].Tick < target ? events[next_].Tick : target;
      Rest(stop - pos_);
      pos_ = stop;
    }
  }

  void WriteOctave(int key) {
    const int octave = key / 12 - 2;
    const int steps = octave - octave_;
    if (octave_ == kNoOctave || steps > kMaxOctaveSteps || steps < -kMaxOctaveSteps) {
      text_ += "o" + std::to_string(octave);
    } else {
      text_.append(steps > 0 ? steps : -steps, MMLOctaveChars[dialect_][steps > 0 ? 0 : 1]);
    }
    octave_ = octave;
  }

  void WriteVelocity(int velocity) {
    if (velocity == velocity_) return;
    velocity_ = velocity;
    if (own_) {
      text_ += "s" + std::to_string(velocity);
    } else {
      leftOut_["velocity change"] += 1;
    }
  }

  void WriteChord(const Chord& chord, const Layout& layout, const std::vector<Note>& notes) {
    const bool group = chord.Count > 1;
    const bool lengthBehind = MMLChordLengthBehind[dialect_];
    const bool brackets = HasChordBrackets(dialect_);
    // The first note's velocity and octave go before the bracket.
    WriteVelocity(notes[chord.First].Velocity);
    WriteOctave(notes[chord.First].Key);
    if (group && brackets) text_ += MMLChordChars[dialect_][0];
    std::string gate;
    if (layout.Gate != layout.Step) {
      if (own_) {
        gate = ",%" + std::to_string(layout.Gate);
      } else {
        leftOut_["gate (sounding length)"] += chord.Count;
      }
    }
    std::string name;
    for (uint32_t i = 0; i < chord.Count; ++i) {
      const Note& n = notes[chord.First + i];
      WriteVelocity(n.Velocity);
      WriteOctave(n.Key);
      name = NoteName(n.Key);
      text_ += name;
      const bool last = i + 1 == chord.Count;
      if (group && !brackets && !last) {
        text_ += "0";
      } else if (!(group && lengthBehind)) {
        text_ += LengthText(layout.Step, name);
        text_ += gate;
      }
    }
    if (group && brackets) {
      text_ += MMLChordChars[dialect_][1];
      if (lengthBehind) text_ += NoteLengthText(static_cast<int32_t>(layout.Step), -1, dialect_, name);
    }
  }

  // The command of one event; `inside` when it falls inside a note and is written after the voice.
  std::string Command(const TimedEvent& e, bool inside) {
    if (e.Status == 0xFF && e.Data1 != 0x51) {
      if (!own_) return LeaveOut("meta event (text, marker, time or key signature, ...)");
      std::string length;  // a meta event's length is a variable-length number (below 2^28 in a file)
      mml::AppendVarLen(length, static_cast<int32_t>(e.Payload.size()));
      std::string text = " %255," + std::to_string(e.Data1);
      for (char b : length) text += "," + std::to_string(static_cast<uint8_t>(b));
      for (uint8_t b : e.Payload) text += "," + std::to_string(b);
      return text;
    }
    if (e.Status == 0xFF) {
      if (own_) return TempoCommand(TempoOf(e));
      if (inside) return LeaveOut("tempo change inside a note");
      return "t" + std::to_string((60'000'000 + TempoOf(e) / 2) / std::max<uint32_t>(TempoOf(e), 1));
    }
    if (e.Status == 0xF0) {
      if (!own_) return LeaveOut("system exclusive");
      std::string text = " %240";
      for (uint8_t b : e.Payload) text += "," + std::to_string(b);
      return text;
    }
    const int kind = e.Status >> 4;
    if (kind == 0xC) {
      if (!own_) {
        if (e.BankLsb >= 0 || e.BankMsb >= 0) LeaveOut("bank select");
        if (inside) return LeaveOut("program change inside a note");
        return "@" + std::to_string(e.Data1 + 1);
      }
      std::string text = "@" + std::to_string(e.Data1 + 1);
      if (e.BankLsb >= 0 || e.BankMsb >= 0) text += "," + (e.BankLsb >= 0 ? std::to_string(e.BankLsb) : "");
      if (e.BankMsb >= 0) text += "," + std::to_string(e.BankMsb);
      return text;
    }
    if (kind == 0xB) {
      for (const ControllerCommand& c : kControllerCommands) {
        if (c.Controller == e.Data1) return Parameter(c.Parameter, c.Command, e.Data2 - c.Offset, c.Kind, e);
      }
      return Raw(e, e.Data1 == 64 ? "sustain pedal" : "controller");
    }
    if (kind == 0xE) {
      const int value = (e.Data1 | e.Data2 << 7) - 8192;
      if (value == -8192) return Raw(e, "pitch bend");  // below the range of "B"
      return Parameter(kPitchBendParameter, "B", value, "pitch bend", e);
    }
    return Raw(e, kind == 0xD ? "channel pressure" : "key pressure");
  }

  // A parameter command, unless the value is the one sent last by it: the compiler would not send that
  // again, so it goes through "%".
  std::string Parameter(int parameter, const char* command, int value, const char* kind,
                        const TimedEvent& e) {
    if (!own_) return LeaveOut(kind);
    if (sent_[parameter] && values_[parameter] == value) return Raw(e, kind);
    sent_[parameter] = true;
    values_[parameter] = value;
    return command + std::to_string(value);
  }

  std::string Raw(const TimedEvent& e, const char* kind) {
    if (!own_) return LeaveOut(kind);
    std::string text = " %" + std::to_string(e.Status & 0xF0) + "," + std::to_string(e.Data1);
    if (e.Status >> 4 != 0xC && e.Status >> 4 != 0xD) text += "," + std::to_string(e.Data2);
    return text;
  }

  std::string LeaveOut(const std::string& kind) {
    leftOut_[kind] += 1;
    return "";
  }

  const int dialect_;
  const bool own_;
  const int32_t timebase_;
  const OwnLengths& lengths_;
  LeftOutCounts& leftOut_;
  std::string text_;
  int64_t pos_ = 0;
  int octave_ = kNoOctave;
  int velocity_ = 100;
  int64_t defaultTicks_ = 0;
  std::array<bool, kParameterCount> sent_{};
  std::array<int, kParameterCount> values_{};
  const std::vector<TimedEvent>* events_ = nullptr;
  size_t next_ = 0;
  std::vector<size_t> deferred_;
};

// Notes (in file order) whose length the written file gives to another note: a key struck twice at one
// tick is written with the softer strike first, while the releases keep their order, so the lengths
// go with the velocities in rising order.
int64_t SwappedDoubleStrikes(const std::vector<Note>& notes) {
  std::vector<uint32_t> order(notes.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    return notes[a].Onset != notes[b].Onset ? notes[a].Onset < notes[b].Onset : notes[a].Key < notes[b].Key;
  });
  int64_t swapped = 0;
  for (size_t i = 0; i < order.size();) {
    size_t j = i + 1;
    while (j < order.size() && notes[order[j]].Onset == notes[order[i]].Onset &&
           notes[order[j]].Key == notes[order[i]].Key) {
      ++j;
    }
    std::vector<uint32_t> bySoftness(order.begin() + i, order.begin() + j);
    std::stable_sort(bySoftness.begin(), bySoftness.end(),
                     [&](uint32_t a, uint32_t b) { return notes[a].Velocity < notes[b].Velocity; });
    for (size_t k = i; k < j; ++k) {
      const Note& written = notes[bySoftness[k - i]];
      swapped += written.Velocity != notes[order[k]].Velocity && written.Length != notes[order[k]].Length;
    }
    i = j;
  }
  return swapped;
}

std::string HeaderComment(int number, const Part& part, size_t voice, size_t voices) {
  std::string text = "; track " + std::to_string(number) + ": channel " + std::to_string(part.Channel + 1) +
                     ", program " +
                     (part.Program < 0 ? std::string("none") : std::to_string(part.Program + 1)) +
                     ", file track " + std::to_string(part.Track + 1);
  if (voices > 1) text += ", voice " + std::to_string(voice + 1) + " of " + std::to_string(voices);
  return text + "\n";
}

}  // namespace

MidiToMml ConvertMidiToMml(const SmfFile& file, int dialect) {
  dialect = CheckedDialect(dialect);
  const bool own = dialect == kOwnDialect;
  MidiToMml result;

  // The time base: ticks per quarter note, or for SMPTE time the ticks of one second played as a
  // quarter note at 60 (1.001 s for drop-frame time code).
  const bool smpte = (file.Division & 0x8000) != 0;
  int32_t timebase = file.Division;
  uint32_t smpteTempo = 0;
  if (smpte) {
    const int frames = SmpteFrames(file.Division);
    timebase = (frames == 29 ? 30 : frames) * (file.Division & 0xFF);
    smpteTempo = frames == 29 ? 1'001'000 : 1'000'000;
  }

  std::vector<Part> parts;
  std::vector<TimedEvent> conductor;
  PartCollector collector(smpte, result.LeftOut);
  for (size_t i = 0; i < file.Tracks.size(); ++i) {
    collector.ReadTrack(file.Tracks[i], static_cast<int>(i), conductor, parts);
  }
  const uint8_t smpteTempoBytes[3] = {static_cast<uint8_t>(smpteTempo >> 16),
                                      static_cast<uint8_t>(smpteTempo >> 8),
                                      static_cast<uint8_t>(smpteTempo)};
  if (smpte)
    conductor.insert(conductor.begin(), {0, 0xFF, 0x51, 0, std::span<const uint8_t>(smpteTempoBytes)});
  std::stable_sort(conductor.begin(), conductor.end(),
                   [](const TimedEvent& a, const TimedEvent& b) { return a.Tick < b.Tick; });
  if (parts.empty() && conductor.empty()) return result;
  if (parts.empty()) parts.push_back(Part{0, 0, {}, {}, -1});

  int64_t last = conductor.empty() ? 0 : conductor.back().Tick;
  for (Part& p : parts) {
    for (const Note& n : p.Notes) last = std::max(last, n.Onset + n.Length);
    for (const TimedEvent& e : p.Events) last = std::max(last, e.Tick);
  }
  if (last > kMaxMmlTick) {
    throw MidiToMmlError("the music runs to tick " + std::to_string(last) + "; MML times end at tick " +
                         std::to_string(kMaxMmlTick));
  }

  // The other dialects count 96 ticks a quarter note, and write lengths from whole notes at most
  // three long: their music ends earlier, so that no text grows beyond a few hundred kilobytes a track.
  const int32_t writtenTimebase = own ? timebase : kOtherTimebase;
  if (!own && Scale(last, timebase, kOtherTimebase) > kMaxOtherTick) {
    throw MidiToMmlError("the music runs to tick " + std::to_string(Scale(last, timebase, kOtherTimebase)) +
                         " at 96 a quarter note; the other dialects are written up to tick " +
                         std::to_string(kMaxOtherTick));
  }
  if (!own) {
    for (Part& p : parts) {
      for (Note& n : p.Notes) {
        const int64_t onset = Scale(n.Onset, timebase, kOtherTimebase);
        const int64_t length =
            std::max<int64_t>(Scale(n.Onset + n.Length, timebase, kOtherTimebase) - onset, 1);
        if (onset * timebase != n.Onset * kOtherTimebase || length * timebase != n.Length * kOtherTimebase) {
          result.LeftOut["time base (note rounded to 96 ticks a quarter note)"] += 1;
        }
        n.Onset = onset;
        n.Length = length;
      }
      for (TimedEvent& e : p.Events) e.Tick = Scale(e.Tick, timebase, kOtherTimebase);
    }
    for (TimedEvent& e : conductor) e.Tick = Scale(e.Tick, timebase, kOtherTimebase);
  }
  for (Part& p : parts) {
    result.SwappedNotes += SwappedDoubleStrikes(p.Notes);
    std::stable_sort(p.Notes.begin(), p.Notes.end(), [](const Note& a, const Note& b) {
      return a.Onset != b.Onset     ? a.Onset < b.Onset
             : a.Length != b.Length ? a.Length < b.Length
                                    : a.Key < b.Key;
    });
  }

  std::vector<std::vector<Voice>> voices(parts.size());
  size_t trackCount = 0;
  for (OverlapPolicy policy : {OverlapPolicy::kLegato, OverlapPolicy::kAny}) {
    trackCount = 0;
    for (size_t i = 0; i < parts.size() && trackCount <= kMaxCountedTracks; ++i) {
      voices[i] = AssignVoices(parts[i].Notes, policy, kMaxCountedTracks - trackCount);
      if (voices[i].empty()) voices[i].emplace_back();  // a channel without notes still has its messages
      trackCount += voices[i].size();
    }
    if (trackCount <= static_cast<size_t>(kMmlTrackLimit)) break;
  }
  if (trackCount > static_cast<size_t>(kMmlTrackLimit)) {
    throw MidiToMmlError("the file needs " + std::string(trackCount > kMaxCountedTracks ? "more than " : "") +
                         std::to_string(std::min(trackCount, kMaxCountedTracks)) +
                         " MML tracks; the compiler has " + std::to_string(kMmlTrackLimit));
  }

  const OwnLengths lengths(writtenTimebase);
  TrackWriter writer(dialect, writtenTimebase, lengths, result.LeftOut);
  int number = 0;
  for (size_t i = 0; i < parts.size(); ++i) {
    for (size_t v = 0; v < voices[i].size(); ++v) {
      ++number;
      std::vector<TimedEvent> merged;
      if (number == 1) merged = conductor;
      if (v == 0) {
        merged.insert(merged.end(), parts[i].Events.begin(), parts[i].Events.end());
        std::stable_sort(merged.begin(), merged.end(),
                         [](const TimedEvent& a, const TimedEvent& b) { return a.Tick < b.Tick; });
      }
      result.Text += HeaderComment(number, parts[i], v, voices[i].size());
      result.Text += writer.Write(number, parts[i], voices[i][v], parts[i].Notes, merged);
      result.Text += "\n";
    }
  }
  result.TrackCount = number;
  return result;
}

}  // namespace record
