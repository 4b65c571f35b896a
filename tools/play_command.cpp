#include <cstdio>

#include "tools/commands.h"

namespace tools {

const char* const kPlayHelp = "";

int RunListDevices(const Args&) {
  std::fputs("tonvik-mml: --list-devices is not built yet\n", stderr);
  return 2;
}

int RunPlay(const Args&) {
  std::fputs("tonvik-mml: --play is not built yet\n", stderr);
  return 2;
}

}  // namespace tools
