#include "platform/backends/alsa_devices.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/backends/alsa_events.h"
#include "platform/backends/midi_bytes.h"
#include "platform/clock.h"
#include "platform/timer.h"

namespace platform {
namespace {

constexpr const char* kClientName = "Tonvik";
constexpr const char* kVirtualPortName = "MIDI out";
constexpr const char* kInputPortName = "in";
constexpr unsigned int kWritable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
constexpr unsigned int kReadable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;

struct AlsaPort {
  std::string name;  // "client name:port name", made unique by a " (n)" suffix
  snd_seq_addr_t address{};
  MidiOutCaps caps;
};

// Tonvik's own sequencer client with its ports: the virtual output port, the source of everything sent
// and the port others subscribe to, and the input port `in` (made when an input is first opened). Created
// once per run. The mutex serialises every use of the sequencer handle: the UI thread enumerates and
// sends, the sequencer's timer thread and the input thread send, the input thread reads.
class AlsaClient {
 public:
  // The client, opened at the first call that finds a sequencer; nullptr while there is none. It is
  // never closed: a port may still be closed during program end, and the system closes the client
  // with the process.
  static AlsaClient* Get() {
    static std::mutex creation;
    static AlsaClient* client = nullptr;
    std::lock_guard lock(creation);
    if (client == nullptr) {
      snd_seq_t* seq = nullptr;
      // Without the device file the open fails anyway, and alsa-lib would print why.
      if (access("/dev/snd/seq", R_OK | W_OK) != 0 ||
          snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) {
        return nullptr;
      }
      snd_seq_set_client_name(seq, kClientName);
      const int port = snd_seq_create_simple_port(
          seq, kVirtualPortName, SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
          SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
      if (port < 0) {
        snd_seq_close(seq);
        return nullptr;
      }
      client = new AlsaClient(seq, port);
    }
    return client;
  }

  // The writable ports of other clients, in ALSA's order.
  std::vector<AlsaPort> WritablePorts() { return Ports(kWritable); }
  // The readable ports of other clients, in ALSA's order: the sources of input.
  std::vector<AlsaPort> ReadablePorts() { return Ports(kReadable); }

  // The ports of other clients that have every capability of `wanted`, in ALSA's order.
  std::vector<AlsaPort> Ports(unsigned int wanted) {
    std::lock_guard lock(mutex_);
    std::vector<AlsaPort> ports;
    std::map<std::string, int> seen;
    snd_seq_client_info_t* clientInfo;
    snd_seq_port_info_t* portInfo;
    snd_seq_client_info_alloca(&clientInfo);
    snd_seq_port_info_alloca(&portInfo);
    snd_seq_client_info_set_client(clientInfo, -1);
    const int self = snd_seq_client_id(seq_);
    while (snd_seq_query_next_client(seq_, clientInfo) >= 0) {
      const int client = snd_seq_client_info_get_client(clientInfo);
      if (client == SND_SEQ_CLIENT_SYSTEM || client == self) {
        continue;
      }
      snd_seq_port_info_set_client(portInfo, client);
      snd_seq_port_info_set_port(portInfo, -1);
      while (snd_seq_query_next_port(seq_, portInfo) >= 0) {
        const unsigned int capability = snd_seq_port_info_get_capability(portInfo);
        if ((capability & wanted) != wanted || (capability & SND_SEQ_PORT_CAP_NO_EXPORT) != 0) {
          continue;
        }
        AlsaPort port;
        port.name = std::string(snd_seq_client_info_get_name(clientInfo)) + ":" +
                    snd_seq_port_info_get_name(portInfo);
        const int count = ++seen[port.name];
        if (count > 1) {
          port.name += " (" + std::to_string(count) + ")";
        }
        port.address = *snd_seq_port_info_get_addr(portInfo);
        port.caps.name = port.name;
        port.caps.technology = AlsaPortTechnology(snd_seq_port_info_get_type(portInfo));
        port.caps.voices =
            static_cast<uint16_t>(std::clamp(snd_seq_port_info_get_synth_voices(portInfo), 0, 0xFFFF));
        port.caps.notes =
            static_cast<uint16_t>(std::clamp(snd_seq_port_info_get_midi_voices(portInfo), 0, 0xFFFF));
        if (port.caps.notes == 0) {
          port.caps.notes = port.caps.voices;
        }
        ports.push_back(std::move(port));
      }
    }
    return ports;
  }

  std::optional<snd_seq_addr_t> FindPort(const std::string& name, unsigned int wanted = kWritable) {
    for (const AlsaPort& port : Ports(wanted)) {
      if (port.name == name) {
        return port.address;
      }
    }
    return std::nullopt;
  }

  // Sends one event at once, to `destination` or, without one, to the virtual port's subscribers.
  // Returns ALSA's result: negative when the event could not be delivered (the destination is gone).
  int Send(snd_seq_event_t& event, const std::optional<snd_seq_addr_t>& destination) {
    std::lock_guard lock(mutex_);
    snd_seq_ev_set_source(&event, static_cast<unsigned char>(port_));
    if (destination) {
      snd_seq_ev_set_dest(&event, destination->client, destination->port);
    } else {
      snd_seq_ev_set_subs(&event);
    }
    snd_seq_ev_set_direct(&event);
    return snd_seq_event_output_direct(seq_, &event);
  }

  // The input port, made at the first call and subscribed to the system's announcements (ports that
  // come and go); negative when it cannot be made.
  int InputPort() {
    std::lock_guard lock(mutex_);
    if (inPort_ < 0) {
      inPort_ = snd_seq_create_simple_port(seq_, kInputPortName, kWritable,
                                           SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
      if (inPort_ >= 0) {
        snd_seq_connect_from(seq_, inPort_, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
      }
    }
    return inPort_;
  }

  // Forgets what arrived while no input read the port (announcements of ports that came and went).
  void DropInput() {
    std::lock_guard lock(mutex_);
    snd_seq_drop_input(seq_);
  }

  // Subscribes `source` to the input port (true also when it already is), or ends that subscription.
  bool Subscribe(const snd_seq_addr_t& source, bool on) {
    std::lock_guard lock(mutex_);
    if (!on) return snd_seq_disconnect_from(seq_, inPort_, source.client, source.port) >= 0;
    const int result = snd_seq_connect_from(seq_, inPort_, source.client, source.port);
    return result >= 0 || result == -EBUSY;
  }

  // Waits up to `timeoutMs` for input, then hands every event that is there to `take`, in order.
  template <typename Take>
  void ReadInput(int timeoutMs, Take&& take) {
    std::vector<pollfd> fds;
    {
      std::lock_guard lock(mutex_);
      fds.resize(static_cast<size_t>(snd_seq_poll_descriptors_count(seq_, POLLIN)));
      snd_seq_poll_descriptors(seq_, fds.data(), static_cast<unsigned int>(fds.size()), POLLIN);
    }
    if (poll(fds.data(), fds.size(), timeoutMs) <= 0) {
      return;
    }
    const uint32_t stamp = TimeGetTime();
    for (;;) {
      snd_seq_event_t copy;
      {
        std::lock_guard lock(mutex_);
        if (snd_seq_event_input_pending(seq_, 1) <= 0) return;
        snd_seq_event_t* event = nullptr;
        if (snd_seq_event_input(seq_, &event) < 0 || event == nullptr) return;
        copy = *event;
      }
      take(stamp, copy);
    }
  }

 private:
  AlsaClient(snd_seq_t* seq, int port) : seq_(seq), port_(port) {}

  std::mutex mutex_;
  snd_seq_t* const seq_;
  const int port_;
  int inPort_ = -1;
};

// Tonvik's input port with its source: the source is subscribed at open and again whenever the system
// announces a port of its name (it was unplugged and plugged back in). The thread reads the port and
// calls the handler; it ends with the object. One input at a time.
class AlsaInput final : public MidiInput {
 public:
  AlsaInput(AlsaClient* client, std::string source, MidiInHandler handler)
      : client_(client), source_(std::move(source)), handler_(std::move(handler)) {
    client_->DropInput();
    Connect();
    thread_ = std::thread([this] {
      RaiseThreadPriority();  // a keyboard's note goes to the device from this thread
      Run();
    });
  }

  ~AlsaInput() override {
    stop_ = true;
    thread_.join();
    if (address_) client_->Subscribe(*address_, false);
  }

  bool Connected() const override { return connected_; }

 private:
  // Called at open and on the input thread only.
  void Connect() {
    address_ = client_->FindPort(source_, kReadable);
    connected_ = address_ && client_->Subscribe(*address_, true);
  }

  void Run() {
    while (!stop_) {
      client_->ReadInput(50, [this](uint32_t stamp, const snd_seq_event_t& event) { Handle(stamp, event); });
    }
  }

  void Handle(uint32_t stamp, const snd_seq_event_t& event) {
    switch (event.type) {
      case SND_SEQ_EVENT_PORT_START:
      case SND_SEQ_EVENT_PORT_CHANGE:  // a port's name is set after it starts
        if (!connected_) Connect();
        return;
      case SND_SEQ_EVENT_PORT_EXIT:
      case SND_SEQ_EVENT_CLIENT_EXIT:
        if (address_ && event.data.addr.client == address_->client &&
            (event.type == SND_SEQ_EVENT_CLIENT_EXIT || event.data.addr.port == address_->port)) {
          connected_ = false;
          address_.reset();
        }
        return;
      default:
        break;
    }
    std::array<uint8_t, 3> bytes;
    const int length = DecodeAlsaEvent(event, bytes);
    if (length > 0) handler_(stamp, std::span<const uint8_t>(bytes.data(), static_cast<size_t>(length)));
  }

  AlsaClient* const client_;
  const std::string source_;
  const MidiInHandler handler_;
  std::optional<snd_seq_addr_t> address_;  // the input thread's after construction
  std::atomic<bool> connected_ = false;
  std::atomic<bool> stop_ = false;
  std::thread thread_;
};

// A device of Tonvik's client: a port of another client, or Tonvik's own virtual port.
class AlsaDevice final : public WholeMessageDevice {
 public:
  AlsaDevice(AlsaClient* client, MidiOutCaps caps, bool virtualPort)
      : client_(client), caps_(std::move(caps)), virtualPort_(virtualPort) {}

  void SetCaps(const MidiOutCaps& caps) {
    std::lock_guard lock(capsMutex_);
    caps_ = caps;
  }

  MidiOutCaps Caps() const override {
    std::lock_guard lock(capsMutex_);
    return caps_;
  }

  // A port is looked up by its name again, so a client that restarted under a new number is found
  // and a port that vanished fails to open.
  bool Open() override {
    if (!virtualPort_) {
      destination_ = client_->FindPort(Caps().name);
      if (!destination_) {
        return false;
      }
    }
    open_ = true;
    return true;
  }

  void Close() override {
    if (open_) {
      Reset();
      open_ = false;
    }
  }

  void SetVolume(uint32_t) override {}

 private:
  void SendMessage(std::span<const uint8_t> message) override {
    if (!open_) {
      return;
    }
    snd_seq_event_t event;
    if (message[0] == 0xF0) {
      snd_seq_ev_clear(&event);
      snd_seq_ev_set_sysex(&event, static_cast<unsigned int>(message.size()),
                           const_cast<uint8_t*>(message.data()));
    } else if (!EncodeAlsaMessage(message, &event)) {
      return;
    }
    if (virtualPort_) {
      client_->Send(event, std::nullopt);
      return;
    }
    if (destination_ && client_->Send(event, destination_) >= 0) {
      return;
    }
    // The destination went away; a synth that came back (a new client number) is found by name again.
    destination_ = client_->FindPort(Caps().name);
    if (destination_) {
      client_->Send(event, destination_);
    }
  }

  AlsaClient* const client_;
  mutable std::mutex capsMutex_;
  MidiOutCaps caps_;
  const bool virtualPort_;
  std::optional<snd_seq_addr_t> destination_;
  std::atomic<bool> open_ = false;
};

}  // namespace

std::vector<std::shared_ptr<MidiOutDevice>> AlsaMidiDevices() {
  AlsaClient* client = AlsaClient::Get();
  if (client == nullptr) {
    return {};
  }
  // The same device object for a name as long as the run lasts.
  static std::mutex mutex;
  static std::map<std::string, std::shared_ptr<AlsaDevice>> known;
  static std::shared_ptr<AlsaDevice> virtualDevice;
  std::lock_guard lock(mutex);
  std::vector<std::shared_ptr<MidiOutDevice>> devices;
  for (const AlsaPort& port : client->WritablePorts()) {
    auto& device = known[port.name];
    if (device) {
      device->SetCaps(port.caps);
    } else {
      device = std::make_shared<AlsaDevice>(client, port.caps, false);
    }
    devices.push_back(device);
  }
  if (!virtualDevice) {
    MidiOutCaps caps;
    caps.name = std::string(kClientName) + ":" + kVirtualPortName;
    caps.technology = kModMidiPort;
    virtualDevice = std::make_shared<AlsaDevice>(client, caps, true);
  }
  devices.push_back(virtualDevice);
  return devices;
}

std::vector<MidiInPort> AlsaMidiInPorts() {
  AlsaClient* client = AlsaClient::Get();
  std::vector<MidiInPort> ports;
  if (client == nullptr) return ports;
  for (const AlsaPort& port : client->ReadablePorts()) {
    ports.push_back({port.name, "ALSA"});
  }
  return ports;
}

bool AlsaClaimsInput(const std::string& source) { return !source.ends_with(" (JACK)"); }

std::unique_ptr<MidiInput> OpenAlsaMidiInput(const std::string& source, MidiInHandler handler) {
  AlsaClient* client = AlsaClient::Get();
  if (client == nullptr || client->InputPort() < 0) return nullptr;
  return std::make_unique<AlsaInput>(client, source, std::move(handler));
}

bool EncodeAlsaMessage(std::span<const uint8_t> message, snd_seq_event* event) {
  if (message.empty() || message[0] == 0xF0) {
    return false;
  }
  snd_midi_event_t* parser = nullptr;
  if (snd_midi_event_new(16, &parser) < 0) {
    return false;
  }
  snd_seq_ev_clear(event);
  const long used = snd_midi_event_encode(parser, message.data(), static_cast<long>(message.size()), event);
  snd_midi_event_free(parser);
  return used == static_cast<long>(message.size()) && event->type != SND_SEQ_EVENT_NONE;
}

uint16_t AlsaPortTechnology(unsigned int type) {
  constexpr unsigned int kSynthTypes = SND_SEQ_PORT_TYPE_SYNTH | SND_SEQ_PORT_TYPE_SYNTHESIZER |
                                       SND_SEQ_PORT_TYPE_DIRECT_SAMPLE | SND_SEQ_PORT_TYPE_SAMPLE;
  if ((type & kSynthTypes) == 0) {
    return kModMidiPort;
  }
  if ((type & (SND_SEQ_PORT_TYPE_SOFTWARE | SND_SEQ_PORT_TYPE_APPLICATION)) != 0) {
    return kModSoftwareSynth;
  }
  return (type & SND_SEQ_PORT_TYPE_HARDWARE) != 0 ? kModSynth : kModSoftwareSynth;
}

}  // namespace platform
