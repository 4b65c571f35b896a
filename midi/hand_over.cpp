// Test play: the compiler hands its play image over to the song buffer.
#include "midi/sequencer.h"
#include "mml/events.h"

namespace midi {

void ConnectCompilerHandOver() { mml::SetSongHandOver(LoadSong); }

}  // namespace midi
