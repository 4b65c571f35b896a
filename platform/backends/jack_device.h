// Tonvik's own JACK MIDI output port, present while a JACK server runs. Messages reach the port from
// the JACK process callback through a lock-free ring buffer, in order, system exclusive included.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/backends/midi_bytes.h"
#include "platform/midi_in.h"

typedef struct _jack_client jack_client_t;

namespace platform {

struct JackDeviceOptions {
  std::string clientName = "Tonvik";
  std::string portName = "midi_out";
  std::string serverName;  // empty: the default server
};

class JackMidiDevice : public WholeMessageDevice {
 public:
  // Connects Tonvik's port to the input port `destination` ("client:port"); false when that fails.
  virtual bool ConnectTo(const std::string& destination) = 0;
  // True while the client is attached to a running server.
  virtual bool Alive() const = 0;
  // Detaches from the server for good; the device stays valid and fails to open.
  virtual void CloseClient() = 0;
  // Messages dropped because the ring stayed full past a batch's deadline.
  virtual uint64_t DroppedMessages() const = 0;
  // The ports Tonvik's port is connected to now ("client:port").
  virtual std::vector<std::string> Connections() const = 0;
};

// A client of the options' server (the default one when it has no name), never starting a server;
// nullptr when none runs. libjack's messages are kept quiet.
jack_client_t* OpenJackClient(const JackDeviceOptions& options);

// Opens a client of a running server (never starts one) with one MIDI output port; nullptr when no
// server runs or the client cannot be created.
std::shared_ptr<JackMidiDevice> CreateJackMidiDevice(const JackDeviceOptions& options);

// The device list's JACK row: Tonvik's port on the default server while one runs (a call may open
// and close a client briefly to find out). The row's client exists only while the row is open; its
// connections are remembered when it closes and made again when it opens. The same row object while
// the server lives.
std::vector<std::shared_ptr<MidiOutDevice>> JackMidiDevices();

// The MIDI output ports of other clients of the default server, named "client:port (JACK)": the
// sources of input. Empty while no server runs.
std::vector<MidiInPort> JackMidiInPorts();
// Names of the JACK form ("... (JACK)").
bool JackClaimsInput(const std::string& source);
// Tonvik's JACK input port `midi_in` on a client of its own, with `source` connected to it now and
// whenever a port of that name is registered again; nullptr while no server runs.
std::unique_ptr<MidiInput> OpenJackMidiInput(const std::string& source, MidiInHandler handler);
// The same on the options' server, with the port name `midi_in`.
std::unique_ptr<MidiInput> OpenJackMidiInputOn(const JackDeviceOptions& options, const std::string& source,
                                               MidiInHandler handler);

}  // namespace platform
