// The commands of tonvik-mml. Each takes the whole argument list (without the program name),
// parses its own options, prints its own errors and returns the exit status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "record/capture.h"
#include "record/convert.h"
#include "record/dialect.h"

namespace platform {
class MidiOutDevice;
}

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

// --record [--input N|NAME] [--device N|NAME|none] [--duration SECONDS] [--take FILE]: a take played
// on a MIDI keyboard (tools/live_record_command.cpp)
int RunRecord(const Args& args);

// The conversion options of --record-to-mml and --record, as the recording dialog's fields.
struct ConversionOptions {
  int Mode = record::kModeFromTempo;
  int Dialect = record::kOwnDialect;
  record::ConvertFields Fields{"120", "", "8", "4", "8"};  // CP932
};
// Takes args[i] and its value when it is a conversion option (--mode, --dialect, --tempo, --length,
// --min, --default, --first): true, or UsageError (tools/take_file.h) when the value is bad; false for
// any other argument. (tools/record_command.cpp)
bool ParseConversionOption(const Args& args, size_t& i, ConversionOptions& options);
// Recalculates `capture` as the recording dialog does and prints the MML on one line, then
// "tempo=<tempo> length=<total length>"; 1 (nothing printed) when there is nothing to convert.
int ConvertAndPrint(const record::Capture& capture, ConversionOptions& options);

// The output device named on the command line (N or NAME); nullptr for "none" and, with `error` set,
// when there is no such device. (tools/play_command.cpp)
std::shared_ptr<platform::MidiOutDevice> ChooseDevice(const std::string& choice, std::string& error);

// While it lives, Ctrl+C, SIGTERM and SIGHUP raise a flag instead of ending the program, so that a
// command stops the normal way (the port reset, the take kept). One at a time. (tools/play_command.cpp)
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  bool Raised() const;

 private:
  void (*previous_[3])(int);
};

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
extern const char* const kLiveRecordHelp;
extern const char* const kMidiHelp;
extern const char* const kRenderHelp;

}  // namespace tools
