#include <cstdio>

#include "tools/commands.h"

namespace tools {

const char* const kCompileHelp = "";

int RunCompile(const Args&) {
  std::fputs("tonvik-mml: compiling is not built yet\n", stderr);
  return 2;
}

}  // namespace tools
