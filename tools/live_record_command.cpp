// tonvik-mml --record: a take played on a MIDI keyboard, sounding through the output as it is played,
// printed as MML when it ends (Ctrl+C or --duration) and kept as a take file with --take.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "midi/device_list.h"
#include "midi/port.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/midi_in.h"
#include "platform/midi_out.h"
#include "platform/midi_recording.h"
#include "record/capture.h"
#include "record/input_player.h"
#include "tools/commands.h"
#include "tools/take_file.h"

namespace tools {

const char* const kLiveRecordHelp =
    "tonvik-mml --record [OPTIONS]  record a take from a MIDI input until Ctrl+C or --duration, sounding\n"
    "                               through the output, then print it as --record-to-mml does\n"
    "  --input N|NAME               the input by its number in --list-devices (in<N> or N) or its name\n"
    "                               (default the first one)\n"
    "  --device N|NAME|none         the output device (default -1)\n"
    "  --duration SECONDS           stop after this many seconds\n"
    "  --take FILE                  also write the take in --record-to-mml's format, times from the\n"
    "                               first event\n"
    "  and --record-to-mml's conversion options. Notes on any channel play on channel 1; exit 1 when\n"
    "  nothing was played, 2 on an error.\n";

namespace {

constexpr uint32_t kPollMs = 10;

struct LiveOptions {
  std::string Input;
  std::string Device = "-1";
  std::optional<double> Duration;
  std::optional<std::string> Take;
  ConversionOptions Conversion;
};

LiveOptions ParseLiveOptions(const Args& args) {
  LiveOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--record" || ParseConversionOption(args, i, options.Conversion)) continue;
    if (a != "--input" && a != "--device" && a != "--duration" && a != "--take") {
      throw UsageError{"unknown option for --record: " + a};
    }
    if (i + 1 >= args.size()) throw UsageError{a + " needs a value"};
    const std::string& v = args[++i];
    if (a == "--input") {
      options.Input = v;
    } else if (a == "--device") {
      options.Device = v;
    } else if (a == "--take") {
      options.Take = v;
    } else {
      double seconds = -1;
      auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), seconds);
      if (error != std::errc() || end != v.data() + v.size() || !(seconds > 0) || seconds > 86400) {
        throw UsageError{"--duration needs a number of seconds above 0 and up to 86400, not \"" + v + "\""};
      }
      options.Duration = seconds;
    }
  }
  return options;
}

// The input named on the command line: in<N>, N, or a name; the first input without a choice.
std::string ChooseInput(const std::string& choice) {
  const std::vector<platform::MidiInPort> inputs = platform::MidiInGetPorts();
  if (choice.empty()) {
    if (inputs.empty()) throw UsageError{"no MIDI input (see --list-devices)"};
    return inputs.front().name;
  }
  const std::string digits = choice.starts_with("in") ? choice.substr(2) : choice;
  size_t number = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (!digits.empty() && error == std::errc() && end == digits.data() + digits.size() &&
      number < inputs.size()) {
    return inputs[number].name;
  }
  if (std::optional<int32_t> found = midi::FindInputNumberByName(inputs, choice)) {
    return inputs[static_cast<size_t>(*found)].name;
  }
  throw UsageError{"no MIDI input " + choice + " (see --list-devices)"};
}

// The take as the input thread plays it; the main thread reads it after the input has closed. Program
// and bank changes are sent from the input thread as the window's keys would send them.
class LiveTake final : public record::InputHost {
 public:
  void NotePlayed(int32_t note, bool on, uint32_t stamp) override {
    std::lock_guard lock(mutex_);
    if (!on) {
      record::CaptureNoteRelease(capture_, stamp);
    } else if (record::CaptureEvent(capture_, static_cast<uint8_t>(note), stamp) ==
               record::CaptureResult::kOverflow) {
      overflow_ = true;
    }
    latest_ = latest_ ? std::max(*latest_, stamp) : stamp;
  }
  void ProgramReceived(int32_t program) override {
    program_ = program;
    Select();
  }
  void BankReceived(int32_t bank) override {
    bank_ = bank;
    Select();
  }

  void Start() { record::ToggleRecording(capture_, platform::TimeGetTime()); }
  bool Overflowed() {
    std::lock_guard lock(mutex_);
    return overflow_;
  }
  // Stops recording at `now`, or at the latest stamp should that be later.
  record::Capture Stop(uint32_t now) {
    std::lock_guard lock(mutex_);
    if (latest_ && static_cast<int32_t>(*latest_ - now) > 0) now = *latest_;
    if (capture_.Recording) record::ToggleRecording(capture_, now);
    return capture_;
  }

 private:
  void Select() {
    for (uint32_t msg : midi::SelectProgramMessages(midi::kDeviceNone, 0, program_, bank_)) {
      midi::SendFromInput(msg);
    }
  }

  std::mutex mutex_;
  record::Capture capture_;
  bool overflow_ = false;
  std::optional<uint32_t> latest_;
  int32_t program_ = 1;  // the input thread's
  int32_t bank_ = 0;
};

// The capture with its times counted from its first event, as the take file has them.
record::Capture FromFirstEvent(record::Capture capture) {
  const uint32_t first = capture.CaptureTimes[0];
  for (int32_t i = 0; i <= capture.CaptureCount; ++i) capture.CaptureTimes[static_cast<size_t>(i)] -= first;
  capture.CaptureStart = 0;
  capture.CaptureEnd -= first;
  return capture;
}

int Record(const LiveOptions& options) {
  // A take file that cannot be written fails now, before anyone plays into it.
  std::optional<platform::OutputFile> takeFile;
  if (options.Take) takeFile.emplace(*options.Take, false);
  const std::string source = ChooseInput(options.Input);
  std::string error;
  std::shared_ptr<platform::MidiOutDevice> device = ChooseDevice(options.Device, error);
  if (!error.empty()) throw UsageError{error};
  if (!device) {
    platform::MidiOutCaps caps;
    caps.name = "none";
    device = std::make_shared<platform::RecordingMidiOut>(caps, nullptr);
  }
  platform::WaitUntilSettled(*device);
  const std::string deviceName = device->Caps().name;
  midi::OpenPortOn(device);
  if (!midi::PortIsOpen()) {
    const std::string failure = device->Failure();
    throw UsageError{"cannot open MIDI output device " + deviceName +
                     (failure.empty() ? "" : ": " + failure)};
  }

  LiveTake take;
  record::InputPlayer player(take);
  take.Start();
  std::unique_ptr<platform::MidiInput> input = platform::MidiInOpen(
      source,
      [&player](uint32_t stamp, std::span<const uint8_t> message) { player.Receive(stamp, message); });
  if (!input) {
    midi::FinalizeMidiDrive();
    throw UsageError{"cannot open Tonvik's MIDI input for " + source};
  }
  if (!input->Connected()) std::fprintf(stderr, "tonvik-mml: waiting for %s\n", source.c_str());
  {
    StopSignals signals;
    const uint32_t start = platform::TimeGetTime();
    const auto limit =
        options.Duration ? std::optional<uint32_t>(std::lround(*options.Duration * 1000)) : std::nullopt;
    while (!signals.Raised() && !take.Overflowed() && (!limit || platform::TimeGetTime() - start < *limit)) {
      platform::SleepMilliseconds(kPollMs);
    }
  }
  const uint32_t stop = platform::TimeGetTime();
  input.reset();  // no message after this
  player.ReleaseAll(stop);
  midi::FinalizeMidiDrive();
  if (take.Overflowed()) {
    throw UsageError{"the take holds more than " + std::to_string(record::kMaxCaptureEvents) + " events"};
  }
  record::Capture capture = take.Stop(stop);
  if (capture.CaptureCount == 0) return 1;
  capture = FromFirstEvent(capture);
  // The MML is printed before the take file is put in place, so a failing disk loses neither.
  ConversionOptions conversion = options.Conversion;
  const int result = ConvertAndPrint(capture, conversion);
  if (takeFile) {
    takeFile->Write(TakeText(capture));
    takeFile->Commit();
  }
  return result;
}

}  // namespace

int RunRecord(const Args& args) {
  try {
    return Record(ParseLiveOptions(args));
  } catch (const UsageError& e) {
    std::fprintf(stderr, "tonvik-mml: %s\n", e.Message.c_str());
  } catch (const platform::FileError& e) {
    std::fprintf(stderr, "tonvik-mml: %s\n", e.what());
  }
  return 2;
}

}  // namespace tools
