#include "record/dialect.h"

#include <algorithm>
#include <string_view>

namespace record {
namespace {

// Calls `replace(byte)` for every one-byte character of `text` and copies its result; a byte of 0x80 or
// above starts a two-byte character, which is copied whole (its second byte may be "^" or "\").
template <typename Replace>
void ReplaceCharacters(std::string& text, Replace replace) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) >= 0x80) {
      ++i;
      continue;
    }
    text[i] = replace(text[i]);
  }
}

}  // namespace

int CheckedDialect(int dialect) { return dialect >= 0 && dialect < kDialectCount ? dialect : kOwnDialect; }

bool HasChordBrackets(int dialect) { return std::string_view(MMLChordChars[CheckedDialect(dialect)]) != "0"; }

std::string TurnDialectToOwn(std::string_view text, int dialect) {
  dialect = CheckedDialect(dialect);
  std::string own(text);
  std::string_view octave = MMLOctaveChars[dialect];
  // 1. Octave characters the other way round: "<" -> "#" -> ">", ">" -> "<", then every "#" -> ">".
  if (octave == "<>") {
    ReplaceCharacters(own, [](char c) { return c == '<' ? '>' : c == '>' ? '<' : c == '#' ? '>' : c; });
  }
  // 2. A tie followed by the note name again is the own dialect's tie of two notes, "$". Between two
  //    rests ("r8&r2") there is no note to hold: the pieces join as lengths ("r8&2"), since a "$"
  //    after a rest is no command.
  char tie = MMLTieChars[dialect];
  if (!MMLTieJoinsLength[dialect]) {
    std::string joined;
    joined.reserve(own.size());
    for (size_t i = 0; i < own.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(own[i]);
      if (c >= 0x80) {
        joined.append(own, i, 2);
        ++i;
      } else if (c == static_cast<unsigned char>(tie)) {
        bool restTie = i + 1 < own.size() && own[i + 1] == 'r';
        joined += restTie ? '&' : '$';
        if (restTie) ++i;
      } else {
        joined += own[i];
      }
    }
    own = std::move(joined);
  }
  // 3. A "^" tie joins lengths, which the own dialect writes "&".
  if (tie != '&') {
    ReplaceCharacters(own, [](char c) { return c == '^' ? '&' : c; });
  }
  // 4. One bracket character for both ends of a chord: opening and closing in turn. The own dialect
  //    reads a group's length from its last note, so a length behind the closing bracket goes in
  //    front of the "}".
  std::string_view chord = MMLChordChars[dialect];
  if (chord.size() == 2 && chord[0] == chord[1]) {
    const bool lengthBehind = MMLChordLengthBehind[dialect];
    std::string paired;
    paired.reserve(own.size());
    bool open = true;
    for (size_t i = 0; i < own.size(); ++i) {
      if (static_cast<unsigned char>(own[i]) >= 0x80) {
        paired.append(own, i, 2);
        ++i;
      } else if (own[i] != chord[0]) {
        paired += own[i];
      } else if (open) {
        paired += '{';
        open = false;
      } else {
        size_t end =
            lengthBehind ? std::min(own.find_first_not_of("0123456789.%&", i + 1), own.size()) : i + 1;
        paired.append(own, i + 1, end - (i + 1));
        paired += '}';
        i = end - 1;
        open = true;
      }
    }
    own = std::move(paired);
  }
  return own;
}

int32_t HeaderOctave(const Capture& capture) {
  for (int32_t i = 0; i < capture.CaptureCount && i < kCaptureCapacity; ++i) {
    if (capture.CaptureNotes[i] != kRestCode) return capture.CaptureNotes[i] / 12 - 2;
  }
  return 60 / 12 - 2;
}

std::string TestPlayHeader(const HeaderValues& v) {
  std::string header = ":2t" + v.Tempo + "i15s" + std::to_string(v.Velocity) + "v127V" +
                       std::to_string(v.Volume) + "@" + std::to_string(v.Program) + "o" +
                       std::to_string(v.Octave);
  if (!v.DefLength.empty()) header += "l" + v.DefLength;
  return header;
}

std::string SaveHeader(const HeaderValues& v) {
  std::string header = ":1i16s" + std::to_string(v.Velocity) + "o" + std::to_string(v.Octave) + "@" +
                       std::to_string(v.Program) + "t" + v.Tempo;
  if (!v.DefLength.empty()) header += "l" + v.DefLength;
  return header;
}

std::string TestPlayText(const HeaderValues& values, std::string_view memo, int dialect) {
  return TestPlayHeader(values) + TurnDialectToOwn(memo, dialect);
}

std::string SaveText(const HeaderValues& values, std::string_view memo) {
  return SaveHeader(values) + std::string(memo);
}

}  // namespace record
