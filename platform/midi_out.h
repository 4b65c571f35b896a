// The MIDI output facade: the few calls the port code needs, numbered as the system's MIDI output
// API numbers its devices (-1 the default output, then 0..n-1).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform {

// Bytes of a short message with this status byte: 3 for 8n 9n An Bn En and F2, 2 for Cn Dn F1 F3 F5,
// 1 for the other system messages, 0 for a data byte (below 0x80).
int ShortMessageLength(uint8_t status);

// Support flags of MidiOutCaps::support.
inline constexpr uint32_t kMidiCapsVolume = 0x0001;
inline constexpr uint32_t kMidiCapsLrVolume = 0x0002;
inline constexpr uint32_t kMidiCapsCache = 0x0004;
inline constexpr uint32_t kMidiCapsStream = 0x0008;

// Technology codes of MidiOutCaps::technology.
inline constexpr uint16_t kModMidiPort = 1;
inline constexpr uint16_t kModSynth = 2;
inline constexpr uint16_t kModSquareSynth = 3;
inline constexpr uint16_t kModFmSynth = 4;
inline constexpr uint16_t kModMapper = 5;
inline constexpr uint16_t kModWavetable = 6;
inline constexpr uint16_t kModSoftwareSynth = 7;

struct MidiOutCaps {
  std::string name;  // stable across runs: no client numbers, no process ids, not truncated
  uint16_t technology = kModMidiPort;
  uint16_t voices = 0;
  uint16_t notes = 0;
  uint16_t channelMask = 0xFFFF;
  uint32_t support = 0;
  double latencyMs = 0;  // output latency of a device with an audio stream of its own; 0 unknown or none
};

// One output device. A device is created once per run; Open and Close start and stop its output
// (and silence it) but never reload a soundfont or restart an audio stream, because the port is opened
// at every activation of the application (a JACK port's client, cheap to make, exists only while open). The UI thread and, during playback, the sequencer's timer
// thread call it, never both at the same time.
class MidiOutDevice {
 public:
  virtual ~MidiOutDevice() = default;
  virtual MidiOutCaps Caps() const = 0;
  // False when the device cannot open now; the caller keeps the port closed and says nothing.
  virtual bool Open() = 0;
  virtual void Close() = 0;
  // Status in bits 0-7, data 1 in bits 8-15, data 2 in bits 16-23.
  virtual void ShortMsg(uint32_t packed) = 0;
  // A whole system-exclusive message (F0 ... F7) or escaped bytes.
  virtual void LongMsg(std::span<const uint8_t> bytes) = 0;
  // The driver reset: sustain off and all notes off on all 16 channels, after what is queued.
  virtual void Reset() = 0;
  // Left volume in the low 16 bits, right in the high 16 bits; devices without kMidiCapsVolume ignore it.
  virtual void SetVolume(uint32_t leftRight) = 0;
  // Starts what the device needs before it can sound (a soundfont to load, an audio stream), once per
  // run and off the calling thread; messages sent before it is ready are dropped. True when the device
  // has settled (ready, or failed for good); otherwise `settled`, when not empty, runs once on another
  // thread when it does. Devices with nothing to start have settled at once.
  virtual bool Prepare(std::function<void()> settled) {
    (void)settled;
    return true;
  }
  // Why the device cannot sound, in a few words for the user; empty while it can or still may.
  virtual std::string Failure() const { return {}; }
  // The ports that the device's own port is connected to ("client:port", a JACK port's connections),
  // kept in the settings between runs; SetLinks gives them back, to be made at the next open. Devices
  // without connections of their own have none.
  virtual std::vector<std::string> Links() const { return {}; }
  virtual void SetLinks(std::vector<std::string> links) { (void)links; }
};

// Starts `device` (Prepare) and waits until it has settled: for tools and tests, never the UI thread.
void WaitUntilSettled(MidiOutDevice& device);

// Enumerates the devices again and returns how many numbered devices there are (not counting -1).
// Device numbers index the list as last enumerated.
int MidiOutGetNumDevs();

// Capabilities of device `id` (-1 included) as last enumerated; false when there is no such device.
bool MidiOutGetDevCaps(int id, MidiOutCaps* caps);

// Device `id` (-1 = the default output) as last enumerated, not opened; nullptr when there is none.
// Holding the pointer keeps the device alive even if it leaves the list.
std::shared_ptr<MidiOutDevice> MidiOutGetDevice(int id);

// The number of `device` in the list as last enumerated (-1 for the default output); none when it is
// not in the list.
std::optional<int> MidiOutIndexOf(const MidiOutDevice* device);

// Opens device `id` (-1 = the default output) as last enumerated; nullptr when it cannot open.
// The pointer stays valid for the whole run.
MidiOutDevice* MidiOutOpen(int id);

// A source of devices. Backends are listed in platform/midi_backends.cpp, one row each; the device
// list is the default output followed by every backend's devices in table order.
struct MidiBackend {
  const char* name;
  // The backend's devices now; the same device objects on every call while they exist.
  std::vector<std::shared_ptr<MidiOutDevice>> (*devices)();
};
std::span<const MidiBackend> MidiBackends();
// The default output (-1); nullptr when there is none.
std::shared_ptr<MidiOutDevice> DefaultMidiOutDevice();

// Tests replace the whole list: `defaultDevice` is -1 (may be null), `devices` are 0..n-1.
void SetMidiOutDevicesForTesting(std::shared_ptr<MidiOutDevice> defaultDevice,
                                 std::vector<std::shared_ptr<MidiOutDevice>> devices);
// Back to the real backends.
void ClearMidiOutDevicesForTesting();

}  // namespace platform
