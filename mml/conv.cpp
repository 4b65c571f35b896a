// The compiler driver: state, reset, the main read loop with its dispatch table, per-track dispatch,
// error recording with text spans, work limits and the output stage.
#include "mml/conv.h"

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "mml/events.h"
#include "mml/lexer.h"
#include "mml/state.h"
#include "mml/text_commands.h"
#include "mml/track.h"
#include "mml/track_commands.h"

namespace mml {

std::string Source;
int32_t ReadPos = 0;
int32_t ErrorPos = 0;
uint8_t ValueStatus = 0;
int32_t TermOnly = 0;
uint32_t TrackMask = 0;
int32_t CurTrack = 0;
bool RepeatPerTrack = false;
int32_t Timebase = 96;
int32_t Tempo = 120;
TTrackTable Tracks[kTrackCount];
TMidiBufferList EventList;
std::vector<std::string> ErrorList;
int32_t ErrorStart[17];
int32_t ErrorLength[17];
bool TooManyErrors = false;
std::string OutputName;
int32_t CutTime = -1;
int32_t EndTime = 0;
int32_t MacroCount = 0;
int32_t CurMacro = -1;
TMacroTable Macros[kMaxMacros];
int32_t InsertCount = 0;
TInsertText Inserts[kMaxInserts];
int32_t BlockDepth = 0;
TBlockEntry Blocks[kMaxBlocks];
int32_t AutoParamInError = -1;
int64_t MaxWorkSteps = kMaxWorkSteps;

namespace {

constexpr size_t kMaxErrors = 16;
// A message quotes at most this much of a macro expansion.
constexpr size_t kMaxQuotedBytes = 1000;

// Set when a work limit was crossed: the main loop lets the error leave the compilation.
bool WorkLimitReached = false;
int64_t WorkSteps = 0;
// Text read again or made by the compilation (see CountScan); bounded by 4 * MaxWorkSteps.
int64_t ScanBytes = 0;
uint8_t CommandChar = 0;

std::function<void(const std::string&)> MessageHandler;

// The PosMap entry for an offset into the expansion; 0 outside the map (a position that is not part of
// the expansion, which the reading of a broken text can reach).
int32_t PosMapAt(const TMacroTable& r, int32_t offset) {
  return offset >= 0 && static_cast<size_t>(offset) < r.PosMap.size() ? r.PosMap[offset] : 0;
}

// Appends `text`, or when it is longer than kMaxQuotedBytes its first characters that fit and "...".
// Every byte of 0x80 or above starts a two-byte character, which is never split.
void AppendQuote(std::string& m, std::string_view text) {
  if (text.size() <= kMaxQuotedBytes) {
    m += text;
    return;
  }
  size_t end = 0;
  for (;;) {
    const size_t next = end + (static_cast<uint8_t>(text[end]) >= 0x80 ? 2 : 1);
    if (next > kMaxQuotedBytes) break;
    end = next;
  }
  m += text.substr(0, end);
  m += "...";
}

// Records `m` with its span and returns the message of the exception to raise.
std::string RecordError(std::string m) {
  if (TrackMask != 0) m = "[Part:" + std::to_string(CurTrack + 1) + "]" + m;
  int32_t s = ErrorPos;
  int32_t e = ReadPos;
  if (CurMacro >= 0) {
    const TMacroTable& r = Macros[CurMacro];
    s = PosMapAt(r, ErrorPos - r.ExpandStart) + r.BodyPos;
    e = PosMapAt(r, ReadPos - r.ExpandStart) + r.BodyPos;
    std::string_view expanded;
    if (ReadPos > r.ExpandStart && static_cast<size_t>(r.ExpandStart) < Source.size()) {
      expanded = std::string_view(Source).substr(r.ExpandStart, ReadPos - r.ExpandStart);
    }
    m += Cp932Text("(展開した!");
    m += r.Name;
    m += Cp932Text("内(");
    AppendQuote(m, expanded);
    m += Cp932Text(")でエラー)");
  }
  if (AutoParamInError >= 0 && AutoParamInError < kAutoParamCount) {
    m += Cp932Text("<自動") + Cp932Text(AutoParamName[AutoParamInError]) + Cp932Text("値でエラー>");
  }
  for (int32_t i = 0; i < InsertCount; ++i) {
    const TInsertText& insert = Inserts[i];
    if (insert.StartPos <= e && e <= insert.EndPos) {
      s = e = insert.StartPos;
      m = "[File:" + insert.Name + "]" + m;
      break;
    }
    s -= insert.EndPos - insert.StartPos + 1;
    e -= insert.EndPos - insert.StartPos + 1;
  }
  if (e == s) e = s + 1;
  ErrorPos = s;
  // Outside a compilation (lengths read through PrepareLexer) the list may be full already: it keeps
  // its first 16 messages.
  if (ErrorList.size() >= kMaxErrors) {
    TooManyErrors = true;
    return Cp932Text("エラーが多すぎます");
  }
  ErrorList.push_back(std::move(m));
  const size_t n = ErrorList.size();
  ErrorStart[n] = s;
  ErrorLength[n] = e - s;
  if (n == kMaxErrors) {
    TooManyErrors = true;
    return Cp932Text("エラーが多すぎます");
  }
  return Cp932Text("コンパイルエラー");
}

// A work limit, or memory running out: recorded like any error, then the compilation ends with the
// limit's own text (or the text of the 16th error when it is that one).
[[noreturn]] void WorkLimitError(const char* utf8) {
  const std::string& text = Cp932Text(utf8);
  std::string what = RecordError(text);
  WorkLimitReached = true;
  throw EScriptError(TooManyErrors ? what : text);
}

// Direct commands of this file.
void LineBreakCommand() {}

// Any byte that is no command: "コマンドエラー(X)", X the byte, or "#" and its value below 0x20.
void CommandErrorCommand() {
  std::string x = CommandChar >= 0x20 ? std::string(1, static_cast<char>(CommandChar))
                                      : "#" + std::to_string(CommandChar);
  ScriptError(Cp932Text("コマンドエラー(") + x + ")");
}

// One row per byte: the handler and whether it runs through ForEachTrack.
struct Command {
  void (*Handler)() = CommandErrorCommand;
  bool PerTrack = false;
};

struct CommandTable {
  Command Rows[256];
  CommandTable() {
    for (int c = 0; c < 256; ++c) {
      if (CommandHandler h = TrackCommandFor(static_cast<uint8_t>(c))) Rows[c] = {h, true};
    }
    const std::pair<uint8_t, void (*)()> direct[] = {
        {0x0D, LineBreakCommand}, {0x1B, MacroReturnCommand}, {'!', MacroCommand},
        {'#', TextCommand},       {';', CommentCommand},      {':', TrackSelectCommand},
        {'[', BlockStartCommand}, {']', BlockEndCommand},     {'|', AlternativeCommand},
    };
    for (const auto& [c, h] : direct) Rows[c] = {h, false};
  }
};

const CommandTable& Commands() {
  static const CommandTable table;
  return table;
}

// The work an abandoned command counts for (see MainLoop).
constexpr int64_t kAbandonedCommandSteps = 256;

// Counts one unit of work; beyond MaxWorkSteps the compilation ends.
inline void CountStep() {
  if (++WorkSteps > MaxWorkSteps) WorkLimitError("処理が多すぎます");
}

// Runs commands until the end of the text; returns the byte that ended it (0x00 or 0x1A).
uint8_t MainLoop() {
  const Command* rows = Commands().Rows;
  for (;;) {
    try {
      for (;;) {
        const uint8_t c = NextChar();
        ErrorPos = ReadPos - 1;
        if (c == 0x00 || c == 0x1A) return c;
        CountStep();
        CommandChar = c;
        const Command& command = rows[c];
        if (command.PerTrack) {
          ForEachTrack(command.Handler);
        } else {
          command.Handler();
        }
      }
    } catch (const EScriptError&) {
      // The command is abandoned where it stands; reading goes on behind it.
      AutoParamInError = -1;
      if (TooManyErrors || WorkLimitReached) throw;
    } catch (const ECommandAborted&) {
      AutoParamInError = -1;
      // Unwinding an abandoned command costs a few microseconds, some hundred steps: a loop that
      // abandons one on every pass reaches the limit in the time the limit stands for.
      CountWork(kAbandonedCommandSteps);
    } catch (const std::bad_alloc&) {
      WorkLimitError("メモリが足りません");
    } catch (const std::length_error&) {
      WorkLimitError("メモリが足りません");
    }
  }
}

bool HasNmmExtension(const std::string& name) {
  const size_t dot = name.find_last_of(".\\/:");
  if (dot == std::string::npos || name[dot] != '.') return false;
  std::string ext = name.substr(dot);
  for (char& ch : ext) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return ext == ".NMM";
}

void ResetState(const std::string& text, const std::string& outputName) {
  // First, since the reset of the tracks below runs through ForEachTrack and counts as work.
  WorkLimitReached = false;
  WorkSteps = 0;
  ScanBytes = 0;
  TooManyErrors = false;
  ErrorList.clear();
  CutTime = -1;
  EndTime = 0;
  TermOnly = 0;
  InsertCount = 0;
  Source.reserve(text.size() + 1);
  Source.assign(text);
  Source.push_back('\x1A');
  ReadPos = 0;
  OutputName = outputName;
  AutoParamInError = -1;
  Timebase = 96;
  MacroCount = 0;
  CurMacro = -1;
  TrackMask = 0xFFFFFFFFu;
  for (TTrackTable& track : Tracks) track = TTrackTable{};
  ForEachTrack(ResetTrack);
  TrackMask = 0;
  EventList.Clear();
  BlockDepth = 0;
}

}  // namespace

[[noreturn]] void ScriptError(const std::string& message) { throw EScriptError(RecordError(message)); }

void CountWork(int64_t steps) {
  WorkSteps += steps;
  if (WorkSteps > MaxWorkSteps) WorkLimitError("処理が多すぎます");
}

void CountScan(int64_t bytes) {
  ScanBytes += bytes;
  if (ScanBytes > 4 * MaxWorkSteps) WorkLimitError("処理が多すぎます");
}

void CheckSourceGrowth(size_t added) {
  if (Source.size() + added > static_cast<size_t>(kMaxSourceBytes))
    WorkLimitError("マクロ展開が大きすぎます");
}

// The main loop counts the command once; every further run of its handler counts one more step.
void ForEachTrack(void (*handler)()) {
  const int32_t start = ReadPos;
  if (TrackMask == 0) ScriptError(Cp932Text("MIDIトラックを指定して下さい"));
  int64_t reread = 0;
  bool first = true;
  for (int32_t i = 0; i < kTrackCount; ++i) {
    if ((TrackMask >> i & 1u) == 0) continue;
    if (!first) {
      reread += ReadPos - start;
      CountStep();
    }
    first = false;
    ReadPos = start;
    CurTrack = i;
    RepeatPerTrack = true;
    handler();
    if (!RepeatPerTrack) break;
  }
  if (reread > 0) CountScan(reread);
}

void AddEvent(int32_t time, std::span<const uint8_t> bytes) {
  if (EventList.size() >= static_cast<size_t>(kMaxEvents)) WorkLimitError("イベント数が多すぎます");
  EventList.Add(time, bytes);
}

void AddEvent(int32_t time, std::initializer_list<uint8_t> bytes) {
  AddEvent(time, std::span<const uint8_t>(bytes.begin(), bytes.size()));
}

void AddEvent(int32_t time, std::string_view bytes) {
  AddEvent(time, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

void SetMessageHandler(std::function<void(const std::string& cp932)> handler) {
  MessageHandler = std::move(handler);
}

void ShowMessage(const std::string& cp932) {
  if (MessageHandler) MessageHandler(cp932);
}

void PrepareLexer(const std::string& text, int32_t pos) {
  TermOnly = 0;
  InsertCount = 0;
  Source.assign(text);
  Source.push_back('\x1A');
  ReadPos = pos;
  Timebase = 96;
  TrackMask = 0;
}

void CompileMML(const std::string& text, const std::string& outputName) {
  ResetState(text, outputName);
  if (MainLoop() == 0x00) ScriptError(Cp932Text("テキストの最後が見つかりません"));
  SortEvents(EventList);
  if (CutTime != -1 && EndTime > CutTime) EndTime = CutTime;
  const bool nmm = HasNmmExtension(OutputName) || OutputName == std::string(1, '\0') || OutputName == "\xFF";
  if (nmm) {
    WriteNmm(EventList, Timebase, CutTime, EndTime, OutputName);
  } else {
    WriteSmf(EventList, Timebase, CutTime, EndTime, OutputName);
  }
  std::string().swap(Source);
}

}  // namespace mml
