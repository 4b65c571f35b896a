// tonvik-mml: compile MML to MIDI files, play it, and turn takes or MIDI files into MML.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "tools/commands.h"

namespace {

int OutError = 0;  // the reason of the first failed write to standard output

void PrintHelp() {
  tools::PrintOut(
      "usage: tonvik-mml FILE -o OUT | FILE --events | --play FILE | --list-devices | --record |\n"
      "                  --record-to-mml TAKE | --from-midi FILE.mid   (FILE \"-\" = standard input)\n\n");
  tools::PrintOut(tools::kCompileHelp);
  tools::PrintOut(tools::kRenderHelp);
  tools::PrintOut(tools::kPlayHelp);
  tools::PrintOut(tools::kRecordHelp);
  tools::PrintOut(tools::kLiveRecordHelp);
  tools::PrintOut(tools::kMidiHelp);
}

// Picks the command by its first mode option and runs it; returns its exit status.
int RunCommand(const tools::Args& args) {
  if (args.empty()) {
    PrintHelp();
    return 2;
  }
  // The first mode option decides the command; everything else is the compiler. Values of options
  // are skipped, so a take named "--play" or a field text "-h" is taken as the value it is.
  static const std::set<std::string> kTakesValue = {
      "-o",     "--dialect", "--device", "--trace", "--mode",          "--tempo",     "--length",
      "--min",  "--default", "--first",  "--play",  "--record-to-mml", "--from-midi", "--soundfont",
      "--rate", "--gain",    "--loops",  "--tail",  "--input",         "--duration",  "--take"};
  std::string mode;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      PrintHelp();
      return 0;
    }
    if (mode.empty() && (a == "--list-devices" || a == "--play" || a == "--record-to-mml" ||
                         a == "--from-midi" || a == "--record")) {
      mode = a;
    }
    if (kTakesValue.count(a) != 0) ++i;
  }
  if (mode == "--list-devices") return tools::RunListDevices(args);
  if (mode == "--play") return tools::RunPlay(args);
  if (mode == "--record-to-mml") return tools::RunRecordToMml(args);
  if (mode == "--record") return tools::RunRecord(args);
  if (mode == "--from-midi") return tools::RunMidiToMml(args);
  return tools::RunCompile(args);
}

// Whatever the command printed must have arrived: a failed write or flush of standard output ends the
// program with exit 2, however the command went.
int CheckStandardOutput(int status) {
  if (tools::FlushOut()) return status;
  std::fprintf(stderr, "tonvik-mml: standard output: %s\n", std::strerror(OutError));
  return 2;
}

}  // namespace

namespace tools {

void PrintOut(std::string_view text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() && OutError == 0)
    OutError = errno != 0 ? errno : EIO;
}

bool FlushOut() {
  if (std::fflush(stdout) != 0 && OutError == 0) OutError = errno != 0 ? errno : EIO;
  if (std::ferror(stdout) && OutError == 0) OutError = EIO;
  return OutError == 0;
}

}  // namespace tools

int main(int argc, char** argv) {
  // A file size limit makes writes fail (EFBIG) instead of killing the program, so the failed write is
  // cleaned up and reported.
  std::signal(SIGXFSZ, SIG_IGN);
  // A closed standard output or error must not become the number of a file opened later: it is held by
  // a descriptor that refuses writes, so the output fails as it would have.
  for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      const int held = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
      if (held >= 0 && held != fd) {
        ::dup2(held, fd);
        ::close(held);
      }
    }
  }
  return CheckStandardOutput(RunCommand(tools::Args(argv + 1, argv + argc)));
}
