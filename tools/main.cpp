// tonvik-mml: compile MML to MIDI files, play it, and turn takes or MIDI files into MML.
#include <cstdio>
#include <string>

#include "tools/commands.h"

namespace {

void PrintHelp() {
  std::fputs(
      "usage: tonvik-mml FILE -o OUT | FILE --events | --play FILE | --list-devices |\n"
      "                  --record-to-mml TAKE | --from-midi FILE.mid   (FILE \"-\" = standard input)\n\n",
      stdout);
  std::fputs(tools::kCompileHelp, stdout);
  std::fputs(tools::kPlayHelp, stdout);
  std::fputs(tools::kRecordHelp, stdout);
}

}  // namespace

int main(int argc, char** argv) {
  tools::Args args(argv + 1, argv + argc);
  if (args.empty()) {
    PrintHelp();
    return 2;
  }
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      PrintHelp();
      return 0;
    }
  }
  // The first mode option decides the command; everything else is the compiler.
  for (const std::string& a : args) {
    if (a == "--list-devices") return tools::RunListDevices(args);
    if (a == "--play") return tools::RunPlay(args);
    if (a == "--record-to-mml") return tools::RunRecordToMml(args);
    if (a == "--from-midi") return tools::RunFromMidi(args);
  }
  return tools::RunCompile(args);
}
