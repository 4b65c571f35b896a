// tonvik-mml --list-devices | --play FILE [--device N|NAME|none] [--trace LOG]: the MIDI output
// devices, and test play of an MML file through the timer sequencer, optionally logging every message
// that reaches the port.
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "midi/device_list.h"
#include "midi/port.h"
#include "midi/sequencer.h"
#include "midi/song_render.h"
#include "mml/conv.h"
#include "mml/events.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/midi_in.h"
#include "platform/midi_out.h"
#include "platform/midi_recording.h"
#include "platform/text.h"
#include "tools/commands.h"
#include "tools/progress_line.h"

namespace tools {

const char* const kPlayHelp =
    "tonvik-mml --list-devices     the MIDI output devices, -1 (the default output) first, one line each:\n"
    "                              number, name, type, voices, notes, volume support, output latency\n"
    "                              (tab-separated; the latency of a synthesizer's audio, else --); then\n"
    "                              the MIDI inputs: in<number>, name, type (ALSA or JACK)\n"
    "tonvik-mml --play FILE        compile FILE as test play does and play it; a song with a loop point\n"
    "                              plays until Ctrl+C\n"
    "  --device N|NAME|none        the output device by number or trimmed name (default -1); none plays\n"
    "                              to no device\n"
    "  --trace LOG                 write every message that reached the port to LOG, one line each:\n"
    "                              milliseconds since the start of playback, then the bytes in hex\n"
    "                              (an event is due 101 ms after the start plus its time in the song;\n"
    "                              the port's reset at open comes before the start: negative times)\n"
    "  --quiet                     no progress line (shown on standard error only on a terminal)\n"
    "  Compile errors and exit status as for compiling; 2 also when the device cannot open.\n\n";

namespace {

constexpr int kExitOk = 0;
constexpr int kExitErrors = 1;
constexpr int kExitFailed = 2;
constexpr uint32_t kPollMs = 10;

std::atomic<bool> Interrupted{false};

extern "C" void OnInterrupt(int) { Interrupted.store(true); }

int Fail(const std::string& message) {
  std::fprintf(stderr, "tonvik-mml: %s\n", message.c_str());
  return kExitFailed;
}

struct PlayOptions {
  std::string Input;
  std::string Device = "-1";
  std::optional<std::string> Trace;
  bool Quiet = false;
};

// Returns an error message, or "" when the arguments make sense.
std::string ParseArgs(const Args& args, PlayOptions& options) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--play") {
      if (!hasValue) return "--play needs a file name";
      options.Input = args[++i];
    } else if (a == "--device") {
      if (!hasValue) return "--device needs a number, a name or none";
      options.Device = args[++i];
    } else if (a == "--trace") {
      if (!hasValue) return "--trace needs a file name";
      options.Trace = args[++i];
    } else if (a == "--quiet") {
      options.Quiet = true;
    } else {
      return "unknown option for --play: " + a;
    }
  }
  return "";
}

std::optional<int32_t> ParseDeviceNumber(const std::string& text) {
  try {
    size_t used = 0;
    const long value = std::stol(text, &used);
    if (used == text.size() && value >= -1 && value <= INT32_MAX) return static_cast<int32_t>(value);
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

std::string TraceText(const std::vector<platform::MidiCall>& calls, uint32_t start) {
  std::string text;
  char hex[4];
  for (const platform::MidiCall& call : calls) {
    if (!call.IsMessage()) continue;
    text += std::to_string(static_cast<int32_t>(call.time - start));
    for (uint8_t b : call.bytes) {
      std::snprintf(hex, sizeof hex, " %02X", b);
      text += hex;
    }
    text += '\n';
  }
  return text;
}

// Plays the song buffer on `device` until it ends, Ctrl+C or `poll` returns false; `poll` is called with
// the start time of the playback every kPollMs. Returns the start time, none when the device cannot open.
std::optional<uint32_t> PlayToEnd(std::shared_ptr<platform::MidiOutDevice> device,
                                  const std::function<bool(uint32_t)>& poll) {
  // The built-in synthesizer loads its soundfont first: the song's first notes would be dropped.
  platform::WaitUntilSettled(*device);
  midi::OpenPortOn(std::move(device));
  if (!midi::PortIsOpen()) return std::nullopt;
  // Ctrl+C, and the end of a session or a kill: the song stops the normal way, with the port's reset.
  const StopSignals signals;
  midi::StartPlayback();
  // The moment of StartPlayback: the song's events are due 101 ms after it plus their own times.
  const uint32_t start = midi::PlaybackStartTime() - 1;
  while (midi::IsPlaying() && !signals.Raised() && poll(start)) {
    platform::SleepMilliseconds(kPollMs);
  }
  // StopPlayback lets the tick stop the timer and reset the port; closing applies full master volume.
  midi::StopPlayback();
  midi::ClosePort();
  return start;
}

// The --trace log, written as the messages happen: a song that loops until Ctrl+C keeps no more in
// memory than one poll's messages, and the file holds everything up to the moment the program ends.
class TraceLog {
 public:
  explicit TraceLog(std::optional<std::string> path) : path_(std::move(path)) {}

  // Writes the messages among `calls`; the file is opened (an earlier one truncated) with the first
  // lines, once the port is open. False once a write has failed.
  bool Append(const std::vector<platform::MidiCall>& calls, uint32_t start) {
    if (!path_ || !error_.empty()) return error_.empty();
    try {
      if (!file_) file_.emplace(*path_, true);
      file_->Write(TraceText(calls, start));
    } catch (const platform::FileError& e) {
      error_ = e.what();
      file_.reset();
    }
    return error_.empty();
  }
  // Closes the file; returns "" or the message of the failed write.
  std::string Finish() {
    try {
      if (file_) file_->Commit();
    } catch (const platform::FileError& e) {
      error_ = e.what();
    }
    file_.reset();
    return error_;
  }

 private:
  std::optional<std::string> path_;
  std::optional<platform::OutputFile> file_;
  std::string error_;
};

// Where a playing song is, for the progress line: its events are due 100 ms after the start, and after
// the end of the first pass it repeats from the loop point.
class SongClock {
 public:
  SongClock(const std::vector<uint8_t>& image, int32_t timebase) {
    midi::SongRenderOptions milliseconds;
    milliseconds.audio.sampleRate = 1000;
    song_ = midi::SummarizeSong(image, timebase, milliseconds);
  }
  void Show(ProgressLine& line, uint32_t sinceStart, int32_t loops) const {
    const int64_t elapsed = std::max<int64_t>(static_cast<int64_t>(sinceStart) - kLeadMs, 0);
    int64_t at = std::min(elapsed, song_.passSample);
    const int64_t body = song_.passSample - song_.loopSample;
    if (loops > 0 && song_.loopSample >= 0 && body > 0) {
      at = song_.loopSample + (elapsed - song_.passSample) % body;
    }
    line.Show(static_cast<double>(at) / 1000, static_cast<double>(song_.passSample) / 1000, loops);
  }

 private:
  static constexpr int64_t kLeadMs = 100;
  midi::TimelineSummary song_;
};

}  // namespace

std::shared_ptr<platform::MidiOutDevice> ChooseDevice(const std::string& choice, std::string& error) {
  if (choice == "none") {
    return nullptr;
  }
  const int count = platform::MidiOutGetNumDevs();
  std::optional<int32_t> id = ParseDeviceNumber(choice);
  if (!id) id = midi::FindDeviceNumberByName(choice);
  if (!id || *id >= count) {
    error = "no MIDI output device " + choice + " (see --list-devices)";
    return nullptr;
  }
  midi::DeviceId = *id;
  auto device = platform::MidiOutGetDevice(*id);
  if (!device) error = "no MIDI output device " + choice + " (see --list-devices)";
  return device;
}

StopSignals::StopSignals() {
  Interrupted.store(false);
  previous_[0] = std::signal(SIGINT, OnInterrupt);
  previous_[1] = std::signal(SIGTERM, OnInterrupt);
  previous_[2] = std::signal(SIGHUP, OnInterrupt);
}

StopSignals::~StopSignals() {
  std::signal(SIGINT, previous_[0]);
  std::signal(SIGTERM, previous_[1]);
  std::signal(SIGHUP, previous_[2]);
}

bool StopSignals::Raised() const { return Interrupted.load(); }

int RunListDevices(const Args& args) {
  if (args.size() != 1) return Fail("--list-devices takes no other arguments");
  for (const midi::DeviceRow& row : midi::ListDeviceRows()) {
    PrintOut(std::to_string(row.Number) + "\t" + row.Name + "\t" + row.Type + "\t" + row.Voices + "\t" +
             row.Notes + "\t" + row.VC + "\t" + row.Latency + "\n");
  }
  const std::vector<platform::MidiInPort> inputs = platform::MidiInGetPorts();
  for (size_t i = 0; i < inputs.size(); ++i) {
    PrintOut("in" + std::to_string(i) + "\t" + inputs[i].name + "\t" + inputs[i].type + "\n");
  }
  return kExitOk;
}

int RunPlay(const Args& args) {
  PlayOptions options;
  if (std::string usage = ParseArgs(args, options); !usage.empty()) return Fail(usage);
  if (options.Input.empty()) return Fail("--play needs a file name");

  std::string text;
  try {
    text = ReadMmlInput(options.Input);
  } catch (const std::exception& e) {
    return Fail(e.what());
  }

  std::string error;
  std::shared_ptr<platform::MidiOutDevice> device = ChooseDevice(options.Device, error);
  if (!error.empty()) return Fail(error);

  midi::ConnectCompilerHandOver();
  // Test play: the image lands in the song buffer.
  const std::string label = options.Input == "-" ? "<stdin>" : options.Input;
  if (std::string ended = CompileAndReport(label, text, std::string(1, '\xFF')); !ended.empty()) {
    return Fail(ended);
  }
  const bool hadErrors = !mml::ErrorList.empty();

  // The recorder passes everything on to the device (or nowhere for "none"); what it saw is taken
  // from it every poll, into the trace or nowhere.
  std::shared_ptr<platform::RecordingMidiOut> recorder;
  if (options.Trace || !device) {
    platform::MidiOutCaps caps;
    caps.name = "none";
    recorder = std::make_shared<platform::RecordingMidiOut>(caps, device);
    device = recorder;
  }
  TraceLog trace(options.Trace);
  auto drain = [&](uint32_t start) { return !recorder || trace.Append(recorder->TakeCalls(), start); };
  ProgressLine line(options.Quiet);
  const SongClock clock(mml::LastPlayImage(), midi::SongTimeBase);
  auto poll = [&](uint32_t start) {
    clock.Show(line, platform::TimeGetTime() - start, midi::LoopCount());
    return drain(start);
  };
  const std::string deviceName = device->Caps().name;
  const std::optional<uint32_t> start = PlayToEnd(device, poll);
  line.Clear();
  const std::string failure = device->Failure();
  midi::FinalizeMidiDrive();
  if (!start) {
    return Fail("cannot open MIDI output device " + deviceName + (failure.empty() ? "" : ": " + failure));
  }
  drain(*start);
  if (std::string failed = trace.Finish(); !failed.empty()) return Fail(failed);
  return hadErrors ? kExitErrors : kExitOk;
}

}  // namespace tools
