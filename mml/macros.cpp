// Macros: definition, call with argument groups, and the return at the end of an expansion.
#include <cstdint>
#include <string>

#include "mml/lexer.h"
#include "mml/state.h"
#include "mml/text_commands.h"

namespace mml {

namespace {

bool IsEndOfBody(uint8_t b) { return b == 0x00 || b == 0x1A; }

// Blanks and control bytes (<= 0x20) off both ends.
void TrimBody(std::string& body) {
  size_t first = 0;
  while (first < body.size() && static_cast<uint8_t>(body[first]) <= 0x20) ++first;
  size_t last = body.size();
  while (last > first && static_cast<uint8_t>(body[last - 1]) <= 0x20) --last;
  body.erase(last);
  body.erase(0, first);
}

// Highest n of the "?n" in the body, 0 if none.
int32_t CountParams(const std::string& body) {
  int32_t count = 0;
  for (size_t i = 0; i + 1 < body.size(); ++i) {
    if (body[i] != '?') continue;
    int32_t n = body[i + 1] - '0';
    if (n > count) count = n;
    ++i;
  }
  return count;
}

// !name,[body]: copies the body as raw bytes up to the "]" that closes the "[" ("[" and "]" nest).
void DefineMacro() {
  if (MacroCount == kMaxMacros) {
    ScriptError(Cp932Text("マクロは最大") + "1024" + Cp932Text("個しか登録できません"));
  }
  TMacroTable& m = Macros[MacroCount];
  ReadWord(m.Name);
  ExpectComma();
  if (m.Name.empty()) return;
  if (PeekChar() != '[') ScriptError(Cp932Text("マクロ定義開始の[がありません"));
  ++ReadPos;
  m.BodyPos = ReadPos;
  m.Body.clear();
  int32_t depth = 0;
  for (uint8_t b; !IsEndOfBody(b = PeekChar());) {
    ++ReadPos;
    if (b == '[') {
      ++depth;
    } else if (b == ']') {
      if (--depth < 0) break;
    } else if (b == '?') {
      uint8_t n = PeekChar();
      if (n < '1' || n > '9') ScriptError(Cp932Text("パラメータの引数は9までです"));
    }
    m.Body.push_back(static_cast<char>(b));
  }
  TrimBody(m.Body);
  m.ParamCount = CountParams(m.Body);
  m.ReturnPos = -1;
  ++MacroCount;
}

int32_t FindMacro(const std::string& name) {
  for (int32_t i = MacroCount - 1; i >= 0; --i) {
    if (Macros[i].Name == name) return i;
  }
  return -1;
}

// !name[,arg...]: the body is expanded once per group of arguments (once when it takes none), appended
// behind Source with 0x1B, and read from there.
void CallMacro() {
  static std::string name;
  static std::string args[9];
  static std::string expansion;
  ReadWord(name);
  const int32_t index = FindMacro(name);
  if (index < 0) ScriptError(Cp932Text("マクロ名") + name + Cp932Text("は登録されていません"));
  TMacroTable& m = Macros[index];
  if (m.ReturnPos != -1) ScriptError(Cp932Text("マクロ中で自分自身を呼ぶ事はできません"));
  expansion.clear();
  m.PosMap.clear();
  const std::string& body = m.Body;
  const int32_t bodySize = static_cast<int32_t>(body.size());
  int32_t i = 0;
  for (;;) {
    int32_t given = 0;
    i = 0;
    while (IsComma() && given < m.ParamCount) {
      ExpectComma();
      ReadWord(args[given]);
      if (ValueStatus != 2) ++given;
    }
    if (m.ParamCount > 0 && given == 0) break;
    while (i < bodySize) {
      if (body[i] != '?') {
        expansion.push_back(body[i]);
        m.PosMap.push_back(i);
        ++i;
        continue;
      }
      const int32_t n = i + 1 < bodySize ? body[i + 1] - '0' : 0;
      if (n >= 1 && n <= given) {
        const std::string& arg = args[n - 1];
        for (size_t k = 0; k < arg.size(); ++k) {
          expansion.push_back(arg[k]);
          m.PosMap.push_back(k == 0 ? i : i + 2);
        }
        CheckSourceGrowth(expansion.size() + 1);
      }
      i += 2;
    }
    CheckSourceGrowth(expansion.size() + 1);
    if (m.ParamCount == 0) break;
  }
  m.PosMap.push_back(i);
  CountScan(static_cast<int64_t>(expansion.size()));
  m.ReturnPos = ReadPos;
  m.PrevMacro = CurMacro;
  CurMacro = index;
  m.ExpandStart = static_cast<int32_t>(Source.size());
  Source += expansion;
  Source.push_back('\x1B');
  ReadPos = m.ExpandStart;
}

}  // namespace

void MacroCommand() {
  if (TrackMask == 0) {
    DefineMacro();
  } else {
    CallMacro();
  }
}

void MacroReturnCommand() {
  if (CurMacro == -1) ScriptError(Cp932Text("コマドエラー(#27)"));
  TMacroTable& r = Macros[CurMacro];
  ReadPos = r.ReturnPos;
  r.ReturnPos = -1;
  CurMacro = r.PrevMacro;
  if (static_cast<size_t>(r.ExpandStart) < Source.size()) Source.resize(r.ExpandStart);
}

}  // namespace mml
