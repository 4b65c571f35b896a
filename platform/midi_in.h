// The MIDI input facade: the sources that can play into Tonvik (other programs' and devices' output
// ports) and Tonvik's own input port, connected to the one chosen source. Every backend stamps each
// message with the millisecond clock when it arrives and hands it on from a thread of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace platform {

// A source as listed: its name (stable across runs, "client:port", JACK ports with " (JACK)" after
// it) and the kind of port ("ALSA", "JACK").
struct MidiInPort {
  std::string name;
  std::string type;
};

// One whole message (a channel or system message, never system exclusive) with its arrival time on
// the millisecond clock (TimeGetTime). Called on the input's own thread, one message at a time.
using MidiInHandler = std::function<void(uint32_t stamp, std::span<const uint8_t> message)>;

// Tonvik's input port while it is open. The chosen source is connected to it whenever it exists: one
// that is unplugged and comes back is connected again. Destroying the object ends its thread (no
// handler call runs after that) and disconnects the source.
class MidiInput {
 public:
  virtual ~MidiInput() = default;
  // The chosen source is connected now.
  virtual bool Connected() const = 0;
};

// A source of inputs. Backends are listed in platform/midi_backends.cpp, one row each.
struct MidiInBackend {
  const char* name;
  // The sources now; empty when the backend's system is not there.
  std::vector<MidiInPort> (*ports)();
  // Whether `source` is a name of this backend's form.
  bool (*claims)(const std::string& source);
  // Opens Tonvik's input port and connects `source` (now, or when it appears); nullptr when the
  // backend's system is not there.
  std::unique_ptr<MidiInput> (*open)(const std::string& source, MidiInHandler handler);
};
std::span<const MidiInBackend> MidiInBackends();

// Every backend's sources in table order, enumerated anew.
std::vector<MidiInPort> MidiInGetPorts();
// Opens the input of the backend whose form `source` has; nullptr when there is none or its system
// is not there.
std::unique_ptr<MidiInput> MidiInOpen(const std::string& source, MidiInHandler handler);

}  // namespace platform
