// Comments, track selection, and repeat blocks with alternatives.
#include <cstddef>
#include <cstdint>

#include "mml/lexer.h"
#include "mml/state.h"
#include "mml/text_commands.h"

namespace mml {

namespace {

// The end of what a scan may read, `c` just read by NextChar: the end mark, the end of the macro
// expansion being read, or the end of the working text itself (a lone lead byte can step over the end
// mark). A 0x00 byte within the text is no end for a scan.
bool IsEndOfText(uint8_t c) {
  return c == 0x1A || (c == 0x1B && CurMacro >= 0) ||
         (c == 0x00 && static_cast<size_t>(ReadPos - 1) >= Source.size());
}

[[noreturn]] void MissingBlockEnd() { ScriptError(Cp932Text("[に対する]がありません")); }

}  // namespace

// ; comment to the line break | ;[ comment up to the first ] ]
// The end of the text or of the expansion ends a comment and is left to be read.
void CommentCommand() {
  const bool bracketed = PeekChar() == '[';
  if (bracketed) ++ReadPos;
  const uint8_t close = bracketed ? ']' : 0x0D;
  for (;;) {
    const uint8_t c = NextChar();
    if (c == close) return;
    if (IsEndOfText(c)) {
      --ReadPos;
      return;
    }
  }
}

// :tracklist
void TrackSelectCommand() { ReadTrackList(); }

// [ : the body is skipped on arrival; its ] reads the count and jumps back.
void BlockStartCommand() {
  if (BlockDepth == kMaxBlocks) ScriptError(Cp932Text("これ以上ブロックをネストできません"));
  TBlockEntry& e = Blocks[BlockDepth];
  e.StartPos = ReadPos;
  e.ExitPos = -1;
  for (int32_t depth = 0;;) {
    const uint8_t c = NextChar();
    if (c == '[') {
      ++depth;
    } else if (c == ']') {
      if (--depth < 0) break;
    } else if (IsEndOfText(c)) {
      MissingBlockEnd();
    }
  }
  --ReadPos;
  ++BlockDepth;
}

// ][count]: count 1..65535 (0 or none: 1), evaluated on the first arrival.
void BlockEndCommand() {
  if (BlockDepth == 0) ScriptError(Cp932Text("]に対応する[がありません"));
  --BlockDepth;
  TBlockEntry& e = Blocks[BlockDepth];
  if (e.ExitPos == -1) {
    e.Remaining = ReadExpr();
    if (e.Remaining == 0) e.Remaining = 1;
    ValueStatus = 0;
    CheckRange(e.Remaining, 0, 65535);
    e.ExitPos = ReadPos;
    ++e.Remaining;
    e.Pass = -1;
  }
  if (--e.Remaining == 0) {
    ReadPos = e.ExitPos;
  } else {
    CountScan(ReadPos - e.StartPos);
    ReadPos = e.StartPos;
    ++e.Pass;
    e.AltSkip = false;
    ++BlockDepth;
  }
}

// | : in pass p the common part plays, then p sections are skipped and the next one plays; the | that
// ends it skips the rest of the block.
void AlternativeCommand() {
  if (BlockDepth == 0) ScriptError(Cp932Text("|は[]内で使用します"));
  TBlockEntry& e = Blocks[BlockDepth - 1];
  int32_t sections = e.AltSkip ? e.Remaining - 1 : e.Pass;
  e.AltSkip = !e.AltSkip;
  for (int32_t depth = 0; sections > 0;) {
    const uint8_t c = NextChar();
    if (c == '[') {
      ++depth;
    } else if (c == ']') {
      if (--depth < 0) {
        --ReadPos;
        return;
      }
    } else if (c == '|' && depth == 0) {
      --sections;
    } else if (IsEndOfText(c)) {
      MissingBlockEnd();
    }
  }
}

}  // namespace mml
