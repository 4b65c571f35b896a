// tonvik-mml: compile MML to MIDI files, play it, and turn takes or MIDI files into MML.
#include <cstdio>
#include <set>
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
  std::fputs(tools::kMidiHelp, stdout);
}

}  // namespace

int main(int argc, char** argv) {
  tools::Args args(argv + 1, argv + argc);
  if (args.empty()) {
    PrintHelp();
    return 2;
  }
  // The first mode option decides the command; everything else is the compiler. Values of options
  // are skipped, so a take named "--play" or a field text "-h" is taken as the value it is.
  static const std::set<std::string> kTakesValue = {
      "-o",    "--dialect", "--device", "--trace", "--mode",          "--tempo",    "--length",
      "--min", "--default", "--first",  "--play",  "--record-to-mml", "--from-midi"};
  std::string mode;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      PrintHelp();
      return 0;
    }
    if (mode.empty() &&
        (a == "--list-devices" || a == "--play" || a == "--record-to-mml" || a == "--from-midi")) {
      mode = a;
    }
    if (kTakesValue.count(a) != 0) ++i;
  }
  if (mode == "--list-devices") return tools::RunListDevices(args);
  if (mode == "--play") return tools::RunPlay(args);
  if (mode == "--record-to-mml") return tools::RunRecordToMml(args);
  if (mode == "--from-midi") return tools::RunMidiToMml(args);
  return tools::RunCompile(args);
}
