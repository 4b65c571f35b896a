// Tonvik's JACK MIDI input port. The process callback copies each event, stamped, into a lock-free ring
// and wakes the input thread, which hands the messages on; the callback neither blocks nor allocates.
#include <jack/jack.h>
#include <jack/midiport.h>
#include <semaphore.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

#include "platform/backends/jack_device.h"
#include "platform/backends/jack_ring.h"
#include "platform/clock.h"
#include "platform/timer.h"

namespace platform {
namespace {

constexpr const char* kJackSuffix = " (JACK)";
constexpr const char* kInputPortName = "midi_in";
constexpr size_t kRingBytes = 64 * 1024;
// The stamps count the server's frames, which keep the player's rhythm to the frame even where the
// cycles run late (a loaded machine, a dummy driver that falls behind the wall clock); only when the
// two clocks are further apart than this (a server restarted, its frame counter jumped) do the stamps
// start anew from the millisecond clock.
constexpr int64_t kStampDriftMs = 1000;

std::string PortOfSource(const std::string& source) {
  return source.ends_with(kJackSuffix) ? source.substr(0, source.size() - std::string(kJackSuffix).size())
                                       : source;
}

// Threads: the process callback (JACK's), the registration callback (JACK's notification thread, only
// raises a flag), the input thread (drains the ring, connects, calls the handler) and the owner's
// (construction, destruction, Connected).
class JackInput final : public MidiInput {
 public:
  static std::unique_ptr<JackInput> Create(const JackDeviceOptions& options, std::string source,
                                           MidiInHandler handler) {
    jack_client_t* client = OpenJackClient(options);
    if (client == nullptr) return nullptr;
    std::unique_ptr<JackInput> input(new JackInput(client, std::move(source), std::move(handler)));
    if (!input->Start()) return nullptr;
    return input;
  }

  ~JackInput() override {
    stop_ = true;
    sem_post(&wake_);
    if (thread_.joinable()) thread_.join();
    jack_client_close(client_);
    sem_destroy(&wake_);
  }

  bool Connected() const override {
    return port_ != nullptr && jack_port_connected_to(port_, source_.c_str()) != 0;
  }

 private:
  JackInput(jack_client_t* client, std::string source, MidiInHandler handler)
      : client_(client), source_(PortOfSource(source)), handler_(std::move(handler)), ring_(kRingBytes) {
    sem_init(&wake_, 0, 0);
  }

  bool Start() {
    port_ = jack_port_register(client_, kInputPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (port_ == nullptr) return false;
    rate_ = std::max<jack_nframes_t>(jack_get_sample_rate(client_), 1);
    jack_set_process_callback(client_, &JackInput::Process, this);
    jack_set_port_registration_callback(client_, &JackInput::Registered, this);
    if (jack_activate(client_) != 0) return false;
    Connect();
    thread_ = std::thread([this] {
      RaiseThreadPriority();  // a keyboard's note goes to the device from this thread
      Run();
    });
    return true;
  }

  void Connect() { jack_connect(client_, source_.c_str(), jack_port_name(port_)); }

  void Run() {
    struct Received {
      uint32_t stamp;
      size_t length;
      std::array<uint8_t, 3> bytes{};
      Received(uint32_t s, size_t l) : stamp(s), length(l) {}
    };
    std::vector<Received> batch;
    while (!stop_) {
      timespec until;
      clock_gettime(CLOCK_REALTIME, &until);
      until.tv_nsec += 100'000'000;
      if (until.tv_nsec >= 1'000'000'000) {
        until.tv_sec += 1;
        until.tv_nsec -= 1'000'000'000;
      }
      sem_timedwait(&wake_, &until);
      if (reconnect_.exchange(false)) Connect();
      batch.clear();
      // Each record is read into its slot before the next is reserved.
      ring_.DrainStamped(
          [&](size_t length, uint32_t stamp) { return batch.emplace_back(stamp, length).bytes.data(); },
          [](size_t length) { return length == 0 || length > 3; });
      for (const Received& received : batch) {
        handler_(received.stamp, std::span<const uint8_t>(received.bytes.data(), received.length));
      }
    }
  }

  static int Process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<JackInput*>(arg);
    void* buffer = jack_port_get_buffer(self->port_, frames);
    const uint32_t count = jack_midi_get_event_count(buffer);
    if (count == 0) return 0;
    const jack_nframes_t cycleStart = jack_last_frame_time(self->client_);
    self->Anchor(cycleStart);
    for (uint32_t i = 0; i < count; ++i) {
      jack_midi_event_t event;
      if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0 || event.buffer[0] == 0xF0) {
        continue;
      }
      self->ring_.TryPushStamped(self->Stamp(cycleStart + event.time),
                                 std::span<const uint8_t>(event.buffer, event.size));
    }
    sem_post(&self->wake_);
    return 0;
  }

  // The stamps count frames from an anchor on the millisecond clock, so that the spacing of the
  // messages is kept to the frame; the anchor is set anew when the two have drifted apart.
  void Anchor(jack_nframes_t cycleStart) {
    const uint32_t now = TimeGetTime();
    if (!anchored_ ||
        std::abs(static_cast<int64_t>(static_cast<int32_t>(StampOf(cycleStart) - now))) > kStampDriftMs) {
      anchored_ = true;
      anchorFrame_ = cycleStart;
      anchorMs_ = now;
    }
  }

  uint32_t StampOf(jack_nframes_t frame) const {
    const int64_t frames = static_cast<int32_t>(frame - anchorFrame_);
    return anchorMs_ + static_cast<uint32_t>((frames * 1000 + rate_ / 2) / rate_);
  }

  // A message's stamp: never before the one ahead of it, also across a new anchor.
  uint32_t Stamp(jack_nframes_t frame) {
    const uint32_t stamp = StampOf(frame);
    if (stamped_ && static_cast<int32_t>(stamp - lastStamp_) < 0) return lastStamp_;
    stamped_ = true;
    lastStamp_ = stamp;
    return stamp;
  }

  static void Registered(jack_port_id_t, int registered, void* arg) {
    auto* self = static_cast<JackInput*>(arg);
    if (registered != 0) {
      self->reconnect_ = true;
      sem_post(&self->wake_);
    }
  }

  jack_client_t* const client_;
  const std::string source_;  // "client:port"
  const MidiInHandler handler_;
  JackMidiRing ring_;
  sem_t wake_;
  std::thread thread_;
  std::atomic<bool> stop_ = false;
  std::atomic<bool> reconnect_ = false;
  jack_port_t* port_ = nullptr;
  int64_t rate_ = 48000;
  // The process callback's own.
  bool anchored_ = false;
  jack_nframes_t anchorFrame_ = 0;
  uint32_t anchorMs_ = 0;
  bool stamped_ = false;
  uint32_t lastStamp_ = 0;
};

}  // namespace

std::vector<MidiInPort> JackMidiInPorts() {
  const JackDeviceOptions options;
  jack_client_t* client = OpenJackClient(options);
  std::vector<MidiInPort> ports;
  if (client == nullptr) return ports;
  const char** names = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
  const std::string own = options.clientName;
  for (const char** name = names; name != nullptr && *name != nullptr; ++name) {
    const std::string port = *name;
    const std::string owner = port.substr(0, port.find(':'));
    // Tonvik's own clients ("Tonvik", or "Tonvik-01" when the server renamed a second one).
    if (owner == own || owner.starts_with(own + "-")) continue;
    ports.push_back({port + kJackSuffix, "JACK"});
  }
  jack_free(names);
  jack_client_close(client);
  return ports;
}

bool JackClaimsInput(const std::string& source) { return source.ends_with(kJackSuffix); }

std::unique_ptr<MidiInput> OpenJackMidiInputOn(const JackDeviceOptions& options, const std::string& source,
                                               MidiInHandler handler) {
  return JackInput::Create(options, source, std::move(handler));
}

std::unique_ptr<MidiInput> OpenJackMidiInput(const std::string& source, MidiInHandler handler) {
  return OpenJackMidiInputOn(JackDeviceOptions{}, source, std::move(handler));
}

}  // namespace platform
