#include "platform/midi_in.h"

namespace platform {

std::vector<MidiInPort> MidiInGetPorts() {
  std::vector<MidiInPort> ports;
  for (const MidiInBackend& backend : MidiInBackends()) {
    for (MidiInPort& port : backend.ports()) {
      ports.push_back(std::move(port));
    }
  }
  return ports;
}

std::unique_ptr<MidiInput> MidiInOpen(const std::string& source, MidiInHandler handler) {
  for (const MidiInBackend& backend : MidiInBackends()) {
    if (backend.claims(source)) {
      return backend.open(source, std::move(handler));
    }
  }
  return nullptr;
}

}  // namespace platform
