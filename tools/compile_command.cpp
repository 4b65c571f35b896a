// tonvik-mml FILE -o OUT | FILE --events [--dialect N]: compiles an MML file of the own dialect (or of
// dialect N, turned into the own one first) and writes a Standard MIDI File or an NMM file, or lists
// the sorted events. Compile errors go to standard error as FILE:LINE:COL: MESSAGE.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "mml/conv.h"
#include "mml/events.h"
#include "mml/state.h"
#include "platform/files.h"
#include "platform/text.h"
#include "record/dialect.h"
#include "tools/commands.h"

namespace tools {

const char* const kCompileHelp =
    "tonvik-mml FILE -o OUT        compile FILE (\"-\" = standard input) to OUT: a Standard MIDI File,\n"
    "                              or the NMM event stream when OUT ends in .nmm (any case)\n"
    "tonvik-mml FILE --events      list the sorted events, one \"<tick> <hex bytes>\" line each, then\n"
    "                              \"end <end tick>\"\n"
    "  --dialect N                 FILE is in dialect N (0 own, 1 Sakura, 2 mml2mid, 3 FMP, 4 PMD,\n"
    "                              5 Hatena, 6 Mabinogi) and is turned into the own dialect first\n"
    "  FILE is UTF-8 (converted to CP932) or CP932. Errors go to standard error as\n"
    "  FILE:LINE:COL: MESSAGE. Exit status: 0 no errors, 1 errors but the output was made,\n"
    "  2 the compilation was ended (last line \"tonvik-mml: MESSAGE\", no output).\n"
    "  The + command prints its text on standard output.\n\n";

namespace {

constexpr int kExitOk = 0;
constexpr int kExitErrors = 1;
constexpr int kExitEnded = 2;

struct CompileOptions {
  std::string Input;  // "-" = standard input
  std::optional<std::string> Output;
  bool ListEvents = false;
  int Dialect = record::kOwnDialect;
  RenderOptions Render;  // for an audio output
};

int Fail(const std::string& message) {
  std::fprintf(stderr, "tonvik-mml: %s\n", message.c_str());
  return kExitEnded;
}

bool ParseDialect(const std::string& text, int& dialect) {
  if (text.size() != 1 || text[0] < '0' || text[0] >= '0' + record::kDialectCount) {
    return false;
  }
  dialect = text[0] - '0';
  return true;
}

// Returns an error message, or "" when the arguments make sense.
std::string ParseArgs(const Args& args, CompileOptions& options) {
  bool haveInput = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool hasValue = i + 1 < args.size();
    if (a == "-o") {
      if (!hasValue) return "-o needs a file name";
      options.Output = args[++i];
    } else if (a == "--events") {
      options.ListEvents = true;
    } else if (a == "--dialect") {
      if (!hasValue || !ParseDialect(args[i + 1], options.Dialect)) return "--dialect needs a number 0..6";
      ++i;
    } else if (std::string error; ParseRenderOption(args, i, options.Render, error)) {
      if (!error.empty()) return error;
    } else if (a.size() > 1 && a[0] == '-') {
      return "unknown option " + a;
    } else if (haveInput) {
      return "more than one input file: " + options.Input + ", " + a;
    } else {
      options.Input = a;
      haveInput = true;
    }
  }
  if (!haveInput) return "no input file (see --help)";
  if (!options.Output && !options.ListEvents) return "nothing to make: give -o OUT or --events";
  if (options.Render.Given && !(options.Output && IsAudioOutput(*options.Output))) {
    return "--soundfont, --rate, --gain, --loops and --tail need -o OUT.wav, .flac or .ogg";
  }
  return "";
}

struct LineColumn {
  size_t Line = 1;
  size_t Column = 1;
};

// The 1-based line and column of byte `pos` of `text`: CR LF, LF and a lone CR each end a line; a
// two-byte character counts as one column. Characters are taken as the compiler reads them: every
// byte of 0x80 or above starts a two-byte character, whatever byte follows it. A position beyond the
// text is taken as its end.
LineColumn Locate(std::string_view text, size_t pos) {
  LineColumn at;
  pos = std::min(pos, text.size());
  size_t i = 0;
  while (i < pos) {
    uint8_t b = static_cast<uint8_t>(text[i]);
    if (b == '\r' || b == '\n') {
      i += (b == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
      ++at.Line;
      at.Column = 1;
      continue;
    }
    i += b >= 0x80 ? 2 : 1;
    ++at.Column;
  }
  return at;
}

void PrintErrors(const std::string& fileLabel, std::string_view text) {
  for (size_t n = 1; n <= mml::ErrorList.size(); ++n) {
    int32_t start = n < 17 ? mml::ErrorStart[n] : 0;
    LineColumn at = Locate(text, start < 0 ? 0 : static_cast<size_t>(start));
    // Written whole: a message may quote text of the file, zero bytes included.
    std::string line = fileLabel + ":" + std::to_string(at.Line) + ":" + std::to_string(at.Column) + ": " +
                       platform::Cp932ToUtf8(mml::ErrorList[n - 1]) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
  }
}

bool EndsWithNmm(const std::string& name) {
  if (name.size() < 4) return false;
  std::string ext = name.substr(name.size() - 4);
  for (char& c : ext) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return ext == ".NMM";
}

// Writes the compiled events to `path`, a name of the file system as given on the command line.
void WriteOutput(const std::string& path) {
  auto write = EndsWithNmm(path) ? mml::WriteNmmFile : mml::WriteSmfFile;
  write(mml::EventList, mml::Timebase, mml::CutTime, mml::EndTime, path);
}

void PrintEvents() {
  std::string out;
  for (const mml::TMidiBuffer& e : mml::EventList) {
    mml::AppendEventLine(out, e);
    if (out.size() > 65536) {
      PrintOut(out);
      out.clear();
    }
  }
  out += "end " + std::to_string(mml::EndTime) + "\n";
  PrintOut(out);
}

}  // namespace

std::string InputLabel(const std::string& path) { return path == "-" ? "<stdin>" : path; }

std::string ReadMmlInput(const std::string& path) {
  // One byte beyond the working text tells a text that is too large, and ends reading an endless
  // source such as a device.
  constexpr size_t kLimit = mml::kMaxSourceBytes;
  static_assert(kLimit == 16 << 20, "the message names the limit");
  std::string bytes =
      path == "-" ? platform::ReadStandardInput(kLimit + 1) : platform::ReadWholeFile(path, kLimit + 1);
  if (bytes.size() > kLimit) throw platform::FileError(InputLabel(path) + ": the text is larger than 16 MiB");
  return platform::NormalizeLineBreaks(platform::FileTextToCp932(bytes));
}

std::string CompileAndReport(const std::string& fileLabel, const std::string& text,
                             const std::string& outputName) {
  mml::SetMessageHandler([](const std::string& cp932) { PrintOut(platform::Cp932ToUtf8(cp932) + "\n"); });
  std::string ended;
  try {
    mml::CompileMML(text, outputName);
  } catch (const mml::EScriptError& e) {
    ended = platform::Cp932ToUtf8(e.what());
  } catch (const std::exception& e) {
    ended = e.what();
  }
  mml::SetMessageHandler(nullptr);
  FlushOut();  // the + lines come before the errors
  PrintErrors(fileLabel, text);
  return ended;
}

int RunCompile(const Args& args) {
  CompileOptions options;
  std::string usage = ParseArgs(args, options);
  if (!usage.empty()) return Fail(usage);

  std::string fileLabel = InputLabel(options.Input);
  std::string text;
  try {
    text = ReadMmlInput(options.Input);
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
  if (options.Dialect != record::kOwnDialect) {
    text = record::TurnDialectToOwn(text, options.Dialect);
  }

  // Build only: the output file is written here, under the name exactly as given.
  std::string ended = CompileAndReport(fileLabel, text, std::string(1, '\0'));
  if (ended.empty() && options.Output) {
    if (IsAudioOutput(*options.Output)) {
      ended = RenderCompiledSong(*options.Output, options.Render);
    } else {
      try {
        WriteOutput(*options.Output);
      } catch (const std::exception& e) {
        ended = e.what();
      }
    }
  }
  if (!ended.empty()) return Fail(ended);
  if (options.ListEvents) PrintEvents();
  return mml::ErrorList.empty() ? kExitOk : kExitErrors;
}

}  // namespace tools
