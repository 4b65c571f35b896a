// The commands of tonvik-mml. Each takes the whole argument list (without the program name),
// parses its own options, prints its own errors and returns the exit status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tools {

using Args = std::vector<std::string>;

// FILE -o OUT, FILE --events, FILE --dialect N (tools/compile_command.cpp)
int RunCompile(const Args& args);
// --list-devices, --play FILE [--device N|NAME] [--trace LOG] (tools/play_command.cpp)
int RunListDevices(const Args& args);
int RunPlay(const Args& args);
// --record-to-mml TAKE, --from-midi FILE.mid (tools/record_command.cpp)
int RunRecordToMml(const Args& args);
int RunFromMidi(const Args& args);
// --from-midi FILE.mid [--dialect N]: the whole file as MML; with --as-take, RunFromMidi without it
// (tools/midi_command.cpp)
int RunMidiToMml(const Args& args);

// The bytes of a file, or of standard input for "-". Throws platform::FileError when it cannot be read.
// (tools/record_command.cpp)
std::string ReadSource(const std::string& path);

// The name of an input in messages: the path as given, "<stdin>" for "-".
std::string InputLabel(const std::string& path);

// The options of rendering to an audio file (tools/render_command.cpp).
struct RenderOptions {
  std::string Soundfont;  // empty: the built-in synthesizer's
  int32_t Rate = 44100;
  double Gain = -1;  // negative: the built-in synthesizer's
  int32_t Loops = 0;
  double Tail = 5;
  bool Quiet = false;  // also for --play
  bool Given = false;  // any option but --quiet was given
};
// Takes args[i] and its value when it is one of the options above (true; `error` set when it is bad);
// false when it is not one of them.
bool ParseRenderOption(const Args& args, size_t& i, RenderOptions& options, std::string& error);
// Whether OUT names an audio file (.wav, .flac, .ogg, any case).
bool IsAudioOutput(const std::string& path);
// Renders the song of the last build-only compilation into `path`; returns "" or the reason it failed.
std::string RenderCompiledSong(const std::string& path, const RenderOptions& options);

// Reads an MML file ("-" = standard input) as the compiler takes it: CP932 with CR LF line breaks.
// Throws platform::FileError when it cannot be read or holds more than the compiler's working text
// (LABEL: the text is larger than 16 MiB).
std::string ReadMmlInput(const std::string& path);

// Compiles `text` with `outputName`: the + command's text goes to standard output, every recorded
// error to standard error as FILE:LINE:COL: MESSAGE. Returns "" or the message (UTF-8) that ended the
// compilation. (tools/compile_command.cpp)
std::string CompileAndReport(const std::string& fileLabel, const std::string& text,
                             const std::string& outputName);

// Everything a command prints on standard output goes through these (tools/main.cpp): the first failed
// write or flush is remembered with its reason, and the program then ends with exit 2.
void PrintOut(std::string_view text);
bool FlushOut();

// Lines for --help, one block per command file.
extern const char* const kCompileHelp;
extern const char* const kPlayHelp;
extern const char* const kRecordHelp;
extern const char* const kMidiHelp;
extern const char* const kRenderHelp;

}  // namespace tools
