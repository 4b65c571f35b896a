#include "record/convert.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "record/dialect.h"
#include "record/length_text.h"

namespace record {
namespace {

// 625 = 60000 ms per minute / 96 ticks per quarter note: tempo = ticks * 625 / ms.
constexpr int64_t kMsTicksPerTempo = 625;

// The tempo field: an optional sign and decimal digits, within 32 bits; nothing else.
std::optional<int32_t> ParseDecimal(std::string_view text) {
  if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
  int32_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Elapsed milliseconds between two clock readings, as a signed 32-bit number (the clock wraps).
int32_t Elapsed(uint32_t from, uint32_t to) { return static_cast<int32_t>(to - from); }

// a * b div c, formed in 64 bits and truncated toward zero; none when the quotient does not fit in 32
// signed bits. c != 0.
std::optional<int32_t> MulDiv(int64_t a, int64_t b, int64_t c) {
  const int64_t q = a * b / c;
  if (q < std::numeric_limits<int32_t>::min() || q > std::numeric_limits<int32_t>::max()) return std::nullopt;
  return static_cast<int32_t>(q);
}

// a * b div c rounded to a multiple of `step`; none when the quotient, or its rounding up, does not fit
// in 32 signed bits.
std::optional<int32_t> ScaledLength(int64_t a, int64_t b, int64_t c, int32_t step) {
  std::optional<int32_t> raw = MulDiv(a, b, c);
  if (!raw) return std::nullopt;
  const int64_t up = (static_cast<int64_t>(*raw / step) + 1) * step;
  if (*raw % step > step / 2 && up > std::numeric_limits<int32_t>::max()) return std::nullopt;
  return RoundToStep(*raw, step);
}

// The first onset after the opening note or chord, as the milliseconds since the start: the first
// event after event 0 whose elapsed time exceeds `minLen` (compared as a plain number), else the stop.
int32_t FirstGap(const Capture& capture, int32_t count, int32_t minLen) {
  int32_t i = 1;
  while (i < count && Elapsed(capture.CaptureStart, capture.CaptureTimes[i]) <= minLen) ++i;
  return Elapsed(capture.CaptureStart, capture.CaptureTimes[i]);
}

// `pieces` (a LengthToText) rearranged for a compiler that reads a tie's length in steps after a step
// piece and a bare dot after a tie as the default length: the step piece ("%n") goes last, then every
// dot-only piece but the first is written as the default length's text with its dots. "%2&6" becomes
// "6&%2", "32&." becomes "32&4.", "%2&." becomes ".&%2".
std::string StepPieceLast(std::string_view pieces, int32_t defaultTicks) {
  std::vector<std::string_view> list;
  for (size_t start = 0;;) {
    size_t end = pieces.find('&', start);
    list.push_back(pieces.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  std::stable_partition(list.begin(), list.end(), [](std::string_view p) { return !p.starts_with('%'); });
  std::string text;
  for (size_t i = 0; i < list.size(); ++i) {
    if (i > 0) text += '&';
    if (i > 0 && (list[i] == "." || list[i] == "..")) text += DefaultLengthText(defaultTicks);
    text += list[i];
  }
  return text;
}

}  // namespace

const char* NoteName(int note) {
  static constexpr const char* kNames[12] = {"c", "c+", "d", "d+", "e", "f", "f+", "g", "g+", "a", "a+", "b"};
  return kNames[((note % 12) + 12) % 12];
}

int32_t RoundToStep(int32_t value, int32_t step) {
  if (step <= 0) return value;
  int32_t q = value / step;
  int32_t r = value % step;
  int32_t h = step / 2;
  if (r > h) return static_cast<int32_t>((static_cast<int64_t>(q) + 1) * step);
  if (r < h) return q * step;
  return value;
}

std::string NoteLengthText(int32_t ticks, int32_t defaultTicks, int dialect, const std::string& name) {
  if (ticks == 0) return "0";
  dialect = CheckedDialect(dialect);
  std::string pieces = LengthToText(ticks, defaultTicks);
  if (MMLStepPieceLast[dialect]) pieces = StepPieceLast(pieces, defaultTicks);
  std::string text;
  text.reserve(pieces.size());
  for (char c : pieces) {
    if (c != '&') {
      text += c;
      continue;
    }
    text += MMLTieChars[dialect];
    if (!MMLTieJoinsLength[dialect]) text += name;
  }
  return text;
}

bool Recalculate(const Capture& capture, int mode, ConvertFields& fields, ConvertState& state) {
  if (mode < 0 || mode >= kModeCount) return false;
  std::optional<int32_t> tempo = ParseDecimal(fields.Tempo);
  if (!tempo) return false;
  std::optional<int32_t> minLen = TryParseLength(fields.MinLength);
  if (!minLen || *minLen == 0) return false;
  std::optional<int32_t> typedTotal = TryParseLength(fields.Length);
  std::optional<int32_t> defaultTicks = TryParseLength(fields.DefLength);
  if (!typedTotal || !defaultTicks) return false;

  const int32_t count = std::clamp(capture.CaptureCount, 0, kMaxCaptureEvents);
  const int32_t span = Elapsed(capture.CaptureStart, capture.CaptureEnd);
  // A take of no duration has no scale: the timing modes would divide by it. Mode 3 ignores the timing.
  if (span == 0 && mode != kModeAllMinimum) return false;

  std::optional<int32_t> total = *typedTotal;
  std::string tempoText = fields.Tempo;
  std::string lengthText = fields.Length;
  switch (mode) {
    case kModeAsTyped: {
      std::optional<int32_t> computed = MulDiv(*total, kMsTicksPerTempo, span);
      if (!computed) return false;
      tempoText = std::to_string(*computed);
      break;
    }
    case kModeFromTempo:
      if (*tempo <= 0) return false;
      total = ScaledLength(*tempo, span, kMsTicksPerTempo, *minLen);
      if (!total) return false;
      lengthText = LengthToText(*total, -1);
      break;
    case kModeFromFirst: {
      std::optional<int32_t> first = TryParseLength(fields.First);
      if (!first) return false;
      int32_t gap = FirstGap(capture, count, *minLen);
      if (gap == 0) return false;
      total = ScaledLength(span, *first, gap, *minLen);
      if (!total) return false;
      std::optional<int32_t> computed = MulDiv(*total, kMsTicksPerTempo, span);
      if (!computed) return false;
      lengthText = LengthToText(*total, -1);
      tempoText = std::to_string(*computed);
      break;
    }
    case kModeAllMinimum:
      total = MulDiv(static_cast<int64_t>(count) + 1, *minLen, 1);
      if (!total) return false;
      lengthText = LengthToText(*total, -1);
      break;
  }

  std::vector<int32_t> lengths(count, *minLen);
  if (mode != kModeAllMinimum) {
    for (int32_t i = 0; i < count; ++i) {
      int32_t gap = Elapsed(capture.CaptureTimes[i], capture.CaptureTimes[i + 1]);
      std::optional<int32_t> length = ScaledLength(gap, *total, span, *minLen);
      if (!length) return false;
      lengths[i] = *length;
    }
  }
  // The compiler times a track in 32 bits: a take longer than that could not be played back, and
  // its text (six bytes a whole note and a half) would run to gigabytes.
  int64_t sum = 0;
  for (int32_t length : lengths) sum += std::max(length, 0);
  if (sum > std::numeric_limits<int32_t>::max()) return false;

  fields.Tempo = std::move(tempoText);
  fields.Length = std::move(lengthText);
  state.Lengths = std::move(lengths);
  state.TotalTicks = *total;
  state.DefaultTicks = *defaultTicks;
  return true;
}

// Octave changes are measured from note to note (rests keep the reference; the first note gets none).
// A chord is a run of notes of length 0, ended by the next event. With brackets, its notes but the last
// are written bare. The own dialect's last note carries the chord's length twice: before its octave
// change and name (not after a rest "r0", whose "0" it would extend) and after its name. In a dialect
// with the length behind the bracket, the last note is bare too and the whole length, with no default
// left out, follows the closing bracket. Without brackets every chord note is written with length 0. A
// rest of length 0 is "r0" in every dialect: a bare "r" would last the default length.
std::string BuildMML(const Capture& capture, const ConvertState& state, int dialect) {
  dialect = CheckedDialect(dialect);
  const char up = MMLOctaveChars[dialect][0];
  const char down = MMLOctaveChars[dialect][1];
  const bool brackets = HasChordBrackets(dialect);
  const bool lengthBehind = MMLChordLengthBehind[dialect];
  const char open = MMLChordChars[dialect][0];
  const char close = brackets ? MMLChordChars[dialect][1] : '\0';
  const int32_t count = std::clamp(capture.CaptureCount, 0, kMaxCaptureEvents);

  std::string mml;
  int prevNote = -1;
  bool inChord = false;
  bool zeroRestBefore = false;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t len = i < static_cast<int32_t>(state.Lengths.size()) ? state.Lengths[i] : 0;
    const uint8_t code = capture.CaptureNotes[i];
    const bool rest = code == kRestCode;
    std::string name;
    if (rest) {
      name = "r";
      mml += name;
    } else {
      std::string prefix;
      if (prevNote >= 0) {
        int octaves = code / 12 - prevNote / 12;
        prefix.append(octaves > 0 ? octaves : -octaves, octaves > 0 ? up : down);
      }
      prevNote = code;
      name = NoteName(code);
      if (len == 0) {
        if (!inChord && brackets) {
          mml += open;
          inChord = true;
        }
      } else if (inChord && !lengthBehind) {
        if (!zeroRestBefore) mml += NoteLengthText(len, state.DefaultTicks, dialect, name);
        mml += prefix;
        prefix.clear();
      }
      mml += prefix;
      mml += name;
    }
    zeroRestBefore = rest && len == 0;
    if (len != 0 && inChord) {
      inChord = false;
      if (lengthBehind) {
        mml += close;
        mml += NoteLengthText(len, -1, dialect, name);
      } else {
        mml += NoteLengthText(len, state.DefaultTicks, dialect, name);
        mml += close;
      }
    } else if (len != 0 || !brackets || rest) {
      mml += NoteLengthText(len, state.DefaultTicks, dialect, name);
    }
  }
  // A take that ends inside a chord (its last event has length 0): the bracket is closed.
  if (inChord) mml += close;
  return mml;
}

}  // namespace record
