// --record-to-mml TAKE and --from-midi FILE.mid --as-take: a take (typed, or the notes of a MIDI file) turned
// into MML text as the recording dialog does, printed on standard output.
#include <charconv>
#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/text.h"
#include "record/capture.h"
#include "record/convert.h"
#include "record/dialect.h"
#include "record/smf_reader.h"
#include "tools/commands.h"
#include "tools/take_file.h"

namespace tools {

const char* const kRecordHelp =
    "  --record-to-mml TAKE [OPTIONS]   turn a take into MML; TAKE has one event a line, \"<ms> <note 0-127\n"
    "                                   or r>\", then a last line \"<ms> stop\"\n"
    "  --from-midi FILE.mid --as-take [OPTIONS]\n"
    "                                   the same for the note-ons of a MIDI file (all channels but 10)\n"
    "    --mode 0..3       0 total length as given, 1 from the tempo, 2 from the first length,\n"
    "                      3 everything the minimum length (default 1)\n"
    "    --tempo TEXT      tempo (default \"120\")          --length TEXT   total length (default \"\")\n"
    "    --min TEXT        minimum length (default \"8\")   --default TEXT  default length (default \"4\")\n"
    "    --first TEXT      first-note length (default \"8\")\n"
    "    --dialect 0..6    0 own, 1 Sakura, 2 mml2mid, 3 FMP, 4 PMD, 5 Hatena, 6 Mabinogi (default 0)\n"
    "  Prints the MML on one line, then \"tempo=<tempo> length=<total length>\". Exit 1 (nothing printed)\n"
    "  when there is nothing to convert or a field cannot be read, 2 on an error.\n";

namespace {

struct RecordOptions {
  std::string Source;  // TAKE or FILE.mid; "-" is standard input
  ConversionOptions Conversion;
};

int ParseIndex(const std::string& option, const std::string& text, int count) {
  int value = -1;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0 || value >= count) {
    throw UsageError{option + " needs a number from 0 to " + std::to_string(count - 1) + ", not \"" + text +
                     "\""};
  }
  return value;
}

RecordOptions ParseOptions(const Args& args, const std::string& command) {
  RecordOptions options;
  bool haveSource = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (ParseConversionOption(args, i, options.Conversion)) continue;
    if (a != command) throw UsageError{"unknown argument \"" + a + "\" (see --help)"};
    if (i + 1 >= args.size()) throw UsageError{a + " needs a value"};
    if (haveSource) throw UsageError{command + " given twice"};
    options.Source = args[++i];
    haveSource = true;
  }
  return options;
}

}  // namespace

bool ParseConversionOption(const Args& args, size_t& i, ConversionOptions& options) {
  const std::string& a = args[i];
  if (a != "--mode" && a != "--dialect" && a != "--tempo" && a != "--length" && a != "--min" &&
      a != "--default" && a != "--first") {
    return false;
  }
  if (i + 1 >= args.size()) throw UsageError{a + " needs a value"};
  const std::string& v = args[++i];
  if (a == "--mode") {
    options.Mode = ParseIndex(a, v, record::kModeCount);
  } else if (a == "--dialect") {
    options.Dialect = ParseIndex(a, v, record::kDialectCount);
  } else {
    std::string& field = a == "--tempo"     ? options.Fields.Tempo
                         : a == "--length"  ? options.Fields.Length
                         : a == "--min"     ? options.Fields.MinLength
                         : a == "--default" ? options.Fields.DefLength
                                            : options.Fields.First;
    field = platform::Utf8ToCp932(v);
  }
  return true;
}

std::string ReadSource(const std::string& path) {
  // A take or a MIDI file is far smaller than this; one byte beyond it ends reading an endless source
  // such as a device instead of filling the memory.
  constexpr size_t kLimit = size_t{64} << 20;
  std::string bytes =
      path == "-" ? platform::ReadStandardInput(kLimit + 1) : platform::ReadWholeFile(path, kLimit + 1);
  if (bytes.size() > kLimit) throw platform::FileError(InputLabel(path) + ": the file is larger than 64 MiB");
  return bytes;
}

namespace {

record::Capture CaptureOfMidiFile(const std::string& bytes, const std::string& name) {
  record::SmfTake take;
  try {
    take = record::ReadSmfNotes(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  } catch (const record::SmfError& e) {
    throw UsageError{name + ": " + e.what()};
  }
  if (take.Notes.size() > static_cast<size_t>(record::kMaxCaptureEvents)) {
    throw UsageError{name + ": " + std::to_string(take.Notes.size()) +
                     " note-ons; the capture holds at most " + std::to_string(record::kMaxCaptureEvents)};
  }
  record::Capture capture;
  for (const record::SmfNote& n : take.Notes) {
    capture.CaptureNotes[capture.CaptureCount] = n.Note;
    capture.CaptureTimes[capture.CaptureCount] = n.TimeMs;
    capture.CaptureCount += 1;
  }
  capture.CaptureTimes[capture.CaptureCount] = take.StopMs;
  capture.CaptureStart = take.Notes.empty() ? 0 : take.Notes.front().TimeMs;
  capture.CaptureEnd = take.StopMs;
  return capture;
}

template <typename MakeCapture>
int RunConversion(const Args& args, const std::string& command, MakeCapture makeCapture) {
  try {
    RecordOptions options = ParseOptions(args, command);
    if (options.Source.empty()) throw UsageError{command + " needs a file"};
    std::string name = options.Source == "-" ? "<stdin>" : options.Source;
    record::Capture capture = makeCapture(ReadSource(options.Source), name);
    return ConvertAndPrint(capture, options.Conversion);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "tonvik-mml: %s\n", e.Message.c_str());
  } catch (const platform::FileError& e) {
    std::fprintf(stderr, "tonvik-mml: %s\n", e.what());
  } catch (const std::bad_alloc&) {
    std::fputs("tonvik-mml: out of memory\n", stderr);
  }
  return 2;
}

}  // namespace

int ConvertAndPrint(const record::Capture& capture, ConversionOptions& options) {
  if (capture.CaptureCount == 0) return 1;  // like a recording stopped with nothing captured
  record::ConvertState state;
  if (!record::Recalculate(capture, options.Mode, options.Fields, state)) return 1;
  std::string out = platform::Cp932ToUtf8(record::BuildMML(capture, state, options.Dialect)) +
                    "\ntempo=" + platform::Cp932ToUtf8(options.Fields.Tempo) +
                    " length=" + platform::Cp932ToUtf8(options.Fields.Length) + "\n";
  PrintOut(out);
  return 0;
}

int RunRecordToMml(const Args& args) { return RunConversion(args, "--record-to-mml", ParseTake); }

int RunFromMidi(const Args& args) { return RunConversion(args, "--from-midi", CaptureOfMidiFile); }

}  // namespace tools
