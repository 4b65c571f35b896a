// # commands: #INCLUDE splices a file into the working text; #TEXT, #COPYRIGHT and #TITLE add text
// meta events at tick 0.
#include <cstdint>
#include <string>
#include <string_view>

#include "mml/events.h"
#include "mml/lexer.h"
#include "mml/state.h"
#include "mml/text_commands.h"
#include "platform/files.h"
#include "platform/text.h"

namespace mml {

namespace {

// A code byte before each keyword; a keyword given in the text is found as its first occurrence
// anywhere in this table, and its code is the byte just before it.
constexpr std::string_view kKeywords =
    "\x01"
    "INCLUDE"
    "\x02"
    "TEXT"
    "\x03"
    "COPYRIGHT"
    "\x04"
    "TITLE";
static_assert(kKeywords.size() == 29);
constexpr uint8_t kIncludeCode = 1;
// What an inclusion counts as work besides the bytes it inserts and moves: the file access.
constexpr int64_t kIncludeCost = 4 * 1024;

bool HasFolderPart(const std::string& name) {
#ifdef _WIN32
  return name.find_first_of("\\/:") != std::string::npos;
#else
  return name.find('/') != std::string::npos;
#endif
}

// The file as the compiler reads it: CP932, each line followed by CR LF. Only regular files are read
// (a device or a pipe could give bytes without end, or keep the compiler waiting), and none that could
// not fit the working text. A file that cannot be read is an error at the directive (`directive` its
// first byte), naming the file as written.
std::string LoadIncludeFile(const std::string& cp932Name, int32_t directive) {
  const std::string name = platform::Cp932NameToNative(cp932Name);
  std::string path = name;
  if (!platform::FileExists(path) && !HasFolderPart(name)) {
    path = "/" + name;
    if (!platform::FileExists(path)) path = platform::ExecutableFolder() + "/" + name;
  }
  constexpr size_t kMaxFileBytes = 4 * static_cast<size_t>(kMaxSourceBytes);
  std::string bytes;
  try {
    bytes = platform::ReadRegularFile(path, kMaxFileBytes + 1);
  } catch (const platform::FileError&) {
    ErrorPos = directive;
    ScriptError(Cp932Text("ファイル") + cp932Name + Cp932Text("を読み込めません"));
  }
  if (bytes.size() > kMaxFileBytes) CheckSourceGrowth(bytes.size());
  std::string text = platform::NormalizeLineBreaks(platform::FileTextToCp932(bytes));
  if (!text.empty() && !text.ends_with("\r\n")) text += "\r\n";
  return text;
}

// The file's text is inserted right behind the directive; an insertion inside an earlier inserted text
// widens that entry instead of making a new one.
void Include(int32_t directive) {
  static std::string name;
  ReadWord(name);
  const std::string text = LoadIncludeFile(name, directive);
  CheckSourceGrowth(text.size());
  CountScan(kIncludeCost + static_cast<int64_t>(text.size()) +
            (static_cast<int64_t>(Source.size()) - ReadPos));
  const int32_t length = static_cast<int32_t>(text.size());
  bool inside = false;
  for (int32_t i = 0; i < InsertCount; ++i) {
    TInsertText& insert = Inserts[i];
    if (insert.StartPos <= ReadPos && ReadPos <= insert.EndPos) {
      insert.EndPos += length - 1;
      inside = true;
      break;
    }
  }
  if (!inside) {
    if (InsertCount == kMaxInserts) ScriptError(Cp932Text("これ以上ファイルを挿入できません"));
    TInsertText& insert = Inserts[InsertCount];
    insert.Name = name;
    insert.StartPos = ReadPos;
    insert.EndPos = ReadPos + length - 1;
    ++InsertCount;
  }
  Source.insert(static_cast<size_t>(ReadPos), text);
}

// FF, code - 1, length, text at tick 0.
void TextEvent(uint8_t code) {
  static std::string text;
  static std::string event;
  ReadWord(text);
  event.assign({'\xFF', static_cast<char>(code - 1)});
  AppendVarLen(event, static_cast<int32_t>(text.size()));
  event += text;
  AddEvent(0, event);
}

}  // namespace

// #keyword,argument
void TextCommand() {
  const int32_t directive = ErrorPos;
  static std::string keyword;
  ReadWord(keyword);
  ExpectComma();
  if (ValueStatus == 2) ScriptError(Cp932Text("テキスト名がありません"));
  for (char& ch : keyword) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  const size_t found = keyword.empty() ? std::string_view::npos : kKeywords.find(keyword);
  if (found == std::string_view::npos || found == 0) ScriptError(Cp932Text("テキスト名が違います"));
  const uint8_t code = static_cast<uint8_t>(kKeywords[found - 1]);
  if (code == kIncludeCode) {
    Include(directive);
  } else {
    TextEvent(code);
  }
}

}  // namespace mml
