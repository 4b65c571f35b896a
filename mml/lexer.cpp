// Readers of the MML compiler: words, numbers, expressions with variables, note letters and numbers,
// lengths, scaled values and track lists.
#include "mml/lexer.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>

#include "mml/state.h"
#include "platform/text.h"

namespace mml {

namespace {

// TermOnly goes back to the value it had on entry on every way out of a reader.
class TermOnlyScope {
 public:
  explicit TermOnlyScope(int32_t value) : saved_(TermOnly) { TermOnly = value; }
  TermOnlyScope(const TermOnlyScope&) = delete;
  TermOnlyScope& operator=(const TermOnlyScope&) = delete;
  ~TermOnlyScope() { TermOnly = saved_; }

 private:
  int32_t saved_;
};

// One generator for the whole run, never reseeded: state = state * 134775813 + 1, and a draw among n
// values is the high half of state * n.
uint32_t RandomState = 0;

int32_t RandomBelow(uint32_t n) {
  RandomState = RandomState * 134775813u + 1u;
  return static_cast<int32_t>((static_cast<uint64_t>(RandomState) * n) >> 32);
}

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

int HexDigit(uint8_t c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// digits: accumulates value * 10 + digit in 32-bit two's complement, without an overflow check.
// No digit: 0 and ValueStatus 1.
int32_t ReadDecimal() {
  if (!IsDigit(PeekChar())) {
    ValueStatus = 1;
    return 0;
  }
  uint32_t value = 0;
  while (IsDigit(PeekChar())) {
    value = value * 10u + (PeekChar() - '0');
    ++ReadPos;
  }
  return static_cast<int32_t>(value);
}

// hexdigits behind "&H": none gives 0. The number is made of all the digits; more than 32 bits end
// the command, with ReadPos behind the last digit.
int32_t ReadHex() {
  uint64_t value = 0;
  bool tooLarge = false;
  for (int d; (d = HexDigit(PeekChar())) >= 0; ++ReadPos) {
    value = value * 16 + d;
    if (value > 0xFFFFFFFFu) {
      tooLarge = true;
      value &= 0xFFFFFFFFu;
    }
  }
  if (tooLarge) throw ECommandAborted("hexadecimal number too large");
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

// "%" letter: the value of a variable; the "%" and the letter are consumed already.
int32_t ReadVariable(uint8_t letter) {
  switch (letter) {
    case 'l': {
      TermOnlyScope scope(1);
      return ReadLength();
    }
    case 'n':
      return ReadNoteNumber();
    case 'r': {
      TermOnlyScope scope(1);
      int32_t x = ReadExpr();
      return RandomBelow(static_cast<uint32_t>(x) + 1u);
    }
    case 'c':
      return Tracks[CurTrack].Channel;
    case 't':
      return CurTrack;
    case 'B': {
      TermOnlyScope scope(0);
      return ReadExpr() & 0x7F;
    }
    case 'L': {
      TermOnlyScope scope(0);
      return ReadExpr() & 0xFF;
    }
    case 'H': {
      TermOnlyScope scope(0);
      return ReadExpr() & 0x0F;
    }
    default:  // 'b'
      return 0;
  }
}

bool IsVariableLetter(uint8_t c) {
  switch (c) {
    case 'l':
    case 'n':
    case 'r':
    case 'c':
    case 't':
    case 'B':
    case 'L':
    case 'H':
    case 'b':
      return true;
    default:
      return false;
  }
}

// operand = "&H" hexdigits | "&h" hexdigits | "%" variable | ["%"] digits
int32_t ReadOperand() {
  uint8_t c = PeekChar();
  uint8_t next = SourceByte(ReadPos + 1);
  if (c == '&' && (next == 'H' || next == 'h')) {
    ReadPos += 2;
    return ReadHex();
  }
  if (c == '%') {
    if (IsVariableLetter(next)) {
      ErrorPos = ReadPos;
      ReadPos += 2;
      return ReadVariable(next);
    }
    ++ReadPos;
  }
  return ReadDecimal();
}

const int32_t kNoteSemitone[7] = {9, 11, 0, 2, 4, 5, 7};  // a b c d e f g

}  // namespace

const std::string& Cp932Text(const char* utf8) {
  static std::unordered_map<const char*, std::string> cache;
  auto it = cache.find(utf8);
  if (it == cache.end()) {
    it = cache.emplace(utf8, platform::Utf8ToCp932(utf8)).first;
  }
  return it->second;
}

void ReadWord(std::string& word) {
  constexpr size_t kMaxWord = 255;
  ValueStatus = 0;
  ErrorPos = ReadPos;
  const int32_t start = ReadPos;
  word.clear();
  if (PeekChar() == '"') {
    ++ReadPos;
    for (;;) {
      uint8_t b = PeekChar();
      if (b == 0x00 || b == 0x1A) break;
      ++ReadPos;
      if (b == '"') break;
      if (b < 0x20) {
        ErrorPos = start;
        ScriptError(Cp932Text("\"は\"で閉じてください"));
      }
      if (word.size() < kMaxWord) word.push_back(static_cast<char>(b));
    }
  } else {
    for (;;) {
      uint8_t b = PeekChar();
      if (b == ' ' || b == '\t') {
        ++ReadPos;
        break;
      }
      if (b == ',' || b < 0x20) break;
      ++ReadPos;
      if (word.size() < kMaxWord) word.push_back(static_cast<char>(b));
    }
  }
  if (ReadPos == start) ValueStatus = 2;
}

bool IsComma() { return PeekChar() == ','; }

void ExpectComma() {
  ErrorPos = ReadPos;
  if (PeekChar() != ',') ScriptError(Cp932Text(",が必要です"));
  NextChar();
}

void CheckRange(int32_t v, int32_t lo, int32_t hi) {
  if (ValueStatus == 1) {
    --ErrorPos;
    ScriptError(Cp932Text("値を指定してください"));
  }
  if (v < lo || v > hi) {
    ScriptError(Cp932Text("指定値(") + std::to_string(v) + Cp932Text(")が範囲外(") + std::to_string(lo) +
                ".." + std::to_string(hi) + Cp932Text(")です"));
  }
}

int32_t ReadExpr() {
  ValueStatus = 0;
  TermOnlyScope scope(TermOnly);
  ErrorPos = ReadPos;
  bool negative = false;
  for (uint8_t c; (c = PeekChar()) == '+' || c == '-'; ++ReadPos) {
    if (c == '-') negative = !negative;
  }
  uint32_t value = static_cast<uint32_t>(ReadOperand());
  if (negative) value = 0u - value;
  if (TermOnly != 0) return static_cast<int32_t>(value);

  const uint8_t firstStatus = ValueStatus;
  for (;;) {
    const uint8_t op = PeekChar();
    if (op == '*' || op == '\\') {
      TermOnly = 1;
    } else if (op == '+' || op == '-') {
      TermOnly = 0;
    } else {
      break;
    }
    ++ReadPos;
    const int32_t right = ReadExpr();
    const int32_t left = static_cast<int32_t>(value);
    switch (op) {
      case '*':
        value = value * static_cast<uint32_t>(right);
        break;
      case '\\':
        if (right == 0 || (left == INT32_MIN && right == -1)) throw ECommandAborted("division fault");
        value = static_cast<uint32_t>(left / right);
        break;
      case '+':
        value = value + static_cast<uint32_t>(right);
        break;
      default:
        value = value - static_cast<uint32_t>(right);
        break;
    }
    if (ValueStatus == 1) ScriptError(Cp932Text("数値を指定してください"));
  }
  ValueStatus = firstStatus;
  return static_cast<int32_t>(value);
}

int32_t ReadRelExpr(int32_t base) {
  if (PeekChar() == '_') {
    ++ReadPos;
    int32_t v = ReadExpr();
    return ValueStatus == 1 ? base
                            : static_cast<int32_t>(static_cast<uint32_t>(base) + static_cast<uint32_t>(v));
  }
  int32_t v = ReadExpr();
  return ValueStatus == 1 ? base : v;
}

int32_t ReadNoteLetter() {
  ErrorPos = ReadPos;
  uint8_t c = NextChar();
  if (c < 'a' || c > 'g') ScriptError(Cp932Text("音符記号を指定してください"));
  int32_t semitone = kNoteSemitone[c - 'a'];
  for (uint8_t a; (a = PeekChar()) == '+' || a == '-'; ++ReadPos) {
    semitone += a == '+' ? 1 : -1;
  }
  ValueStatus = 0;
  return semitone;
}

int32_t ReadNoteNumber() {
  int32_t note = ReadNoteLetter();
  if (IsDigit(PeekChar())) {
    int32_t octave = PeekChar() - '0';
    ++ReadPos;
    if (PeekChar() == '-') {
      ++ReadPos;
      octave = -octave;
    }
    note += (octave + 2) * 12;
  }
  CheckRange(note, 0, 127);
  return note;
}

int32_t LengthToTicks(int32_t n) {
  if (n >= 0) return n;
  const int64_t k = -static_cast<int64_t>(n);
  const int64_t whole = static_cast<int64_t>(Timebase) * 4;
  if (whole % k != 0) ScriptError(Cp932Text("指定された音長では正しい時間が算出できません"));
  return static_cast<int32_t>(whole / k);
}

int32_t ReadLength() {
  uint32_t total = 0;
  bool negative = false;
  for (;;) {
    int32_t v;
    if (PeekChar() == '%') {
      ++ReadPos;
      v = ReadExpr();
      if (ValueStatus == 1) v = Tracks[CurTrack].DefaultLength;
      ValueStatus = 0;
      CheckRange(v, 0, 65536);
    } else {
      v = LengthToTicks(static_cast<int32_t>(0u - static_cast<uint32_t>(ReadExpr())));
      if (ValueStatus == 1) v = LengthToTicks(Tracks[CurTrack].DefaultLength);
      int32_t half = v / 2;
      for (; PeekChar() == '.'; ++ReadPos) {
        v = static_cast<int32_t>(static_cast<uint32_t>(v) + static_cast<uint32_t>(half));
        half /= 2;
      }
    }
    total = negative ? total - static_cast<uint32_t>(v) : total + static_cast<uint32_t>(v);
    if (PeekChar() != '&') break;
    ++ReadPos;
    negative = false;
    for (uint8_t c; (c = PeekChar()) == '+' || c == '-'; ++ReadPos) {
      if (c == '-') negative = !negative;
    }
  }
  ValueStatus = 0;
  CheckRange(static_cast<int32_t>(total), 0, INT32_MAX);
  return static_cast<int32_t>(total);
}

int32_t ReadScaled() {
  if (PeekChar() == '%') return ReadExpr() & 0xFFFF;
  return (ReadExpr() & 0xFFFF) | 0x10000;
}

int32_t ScaleValue(int32_t code, int32_t range) {
  int64_t v = static_cast<int16_t>(code & 0xFFFF);
  if (code & 0x10000) v = static_cast<int64_t>(range) * v / 16;
  if (v < 0) v += range;
  return static_cast<int32_t>(v);
}

int32_t ReadTrackNumber() {
  ErrorPos = ReadPos;
  ValueStatus = 1;
  uint32_t number = 0;
  while (IsDigit(PeekChar())) {
    number = number * 10u + (PeekChar() - '0');
    ++ReadPos;
    ValueStatus = 0;
  }
  return static_cast<int32_t>(number);
}

void ReadTrackList() {
  TrackMask = 0;
  for (uint8_t c; (c = PeekChar()) == ',' || c == '.' || IsDigit(c);) {
    while (PeekChar() == ',') ++ReadPos;
    int32_t first = ReadTrackNumber();
    CheckRange(first, 1, kTrackCount);
    int32_t last = first;
    if (PeekChar() == '.') {
      while (PeekChar() == '.') ++ReadPos;
      last = ReadTrackNumber();
      CheckRange(last, 1, kTrackCount);
      if (first > last) std::swap(first, last);
    }
    for (int32_t t = first; t <= last; ++t) TrackMask |= 1u << (t - 1);
  }
}

}  // namespace mml
