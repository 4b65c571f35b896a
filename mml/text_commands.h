// Commands that act on the text rather than on a track: macros, comments, track selection, repeat
// blocks and text insertion. The main loop calls them directly, without per-track dispatch.
#pragma once

#include <cstddef>

namespace mml {

void MacroCommand();        // !name,[body] without tracks selected; !name[,arg...] with tracks
void MacroReturnCommand();  // byte 0x1B behind an expansion
void CommentCommand();      // ; to the end of the line, or ;[ ... ]
void TrackSelectCommand();  // :tracklist
void BlockStartCommand();   // [
void BlockEndCommand();     // ][count]
void AlternativeCommand();  // |
void TextCommand();         // #INCLUDE,file  #TEXT,text  #COPYRIGHT,text  #TITLE,text

// Before Source grows by `added` bytes: beyond kMaxSourceBytes the compilation ends with
// "マクロ展開が大きすぎます".
void CheckSourceGrowth(size_t added);

}  // namespace mml
