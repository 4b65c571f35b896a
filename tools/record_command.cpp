#include <cstdio>

#include "tools/commands.h"

namespace tools {

const char* const kRecordHelp = "";

int RunRecordToMml(const Args&) {
  std::fputs("tonvik-mml: --record-to-mml is not built yet\n", stderr);
  return 2;
}

int RunFromMidi(const Args&) {
  std::fputs("tonvik-mml: --from-midi is not built yet\n", stderr);
  return 2;
}

}  // namespace tools
