#include "platform/backends/jack_device.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/backends/jack_ring.h"
#include "platform/backends/midi_bytes.h"

namespace platform {
namespace {

// Room for about a second of dense playing; a message that does not fit waits for the process
// callback to make room, for a bounded time.
constexpr size_t kRingBytes = 64 * 1024;
constexpr auto kRingWait = std::chrono::milliseconds(200);

// libjack reports a missing server on stderr; the device list simply has no JACK row then.
void QuietJackLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
  });
}

// Threads: Open, Close and the sends come from the UI thread or, during playback, the sequencer's
// timer thread, never both at once: they are the ring buffer's one writer. The JACK process callback
// is its one reader. The shutdown callback runs on a JACK thread and only clears `alive_`.
class JackDevice final : public JackMidiDevice {
 public:
  static std::shared_ptr<JackDevice> Create(const JackDeviceOptions& options) {
    QuietJackLog();
    jack_status_t status;
    jack_client_t* client =
        options.serverName.empty()
            ? jack_client_open(options.clientName.c_str(), JackNoStartServer, &status)
            : jack_client_open(options.clientName.c_str(),
                               static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                               options.serverName.c_str());
    if (client == nullptr) {
      return nullptr;
    }
    std::shared_ptr<JackDevice> device(new JackDevice(client, options));
    if (!device->Start(options.portName)) {
      return nullptr;
    }
    return device;
  }

  ~JackDevice() override { CloseClient(); }  // before the ring goes

  // Detaches from the server (which stops the process callback); the device stays, dead. Not from
  // the shutdown callback.
  void CloseClient() override {
    alive_ = false;
    open_ = false;
    if (client_ != nullptr) {
      jack_client_close(client_);
      client_ = nullptr;
    }
  }

  MidiOutCaps Caps() const override {
    MidiOutCaps caps;
    caps.name = name_;
    caps.technology = kModMidiPort;
    return caps;
  }

  bool Open() override {
    open_ = alive_.load();
    return open_;
  }

  void Close() override {
    if (open_) {
      Reset();
      open_ = false;
    }
  }

  void SetVolume(uint32_t) override {}

  bool ConnectTo(const std::string& destination) override {
    return alive_ && client_ != nullptr &&
           jack_connect(client_, jack_port_name(port_), destination.c_str()) == 0;
  }

  bool Alive() const override { return alive_; }

 private:
  JackDevice(jack_client_t* client, const JackDeviceOptions& options)
      : client_(client), ring_(kRingBytes), name_(options.clientName + ":" + options.portName + " (JACK)") {}

  bool Start(const std::string& portName) {
    port_ = jack_port_register(client_, portName.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (port_ == nullptr || !ring_.CanHold(0)) {
      return false;
    }
    jack_set_process_callback(client_, &JackDevice::Process, this);
    jack_on_shutdown(client_, &JackDevice::Shutdown, this);
    if (jack_activate(client_) != 0) {
      return false;
    }
    alive_ = true;
    return true;
  }

  // Queues the message for the process callback; when the ring is full, waits a bounded time for
  // the callback to make room.
  void SendMessage(std::span<const uint8_t> message) override {
    if (!open_ || !alive_ || !ring_.CanHold(message.size())) {
      return;
    }
    const auto deadline = std::chrono::steady_clock::now() + kRingWait;
    while (!ring_.TryPush(message)) {
      if (!alive_ || std::chrono::steady_clock::now() > deadline) {
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  // Moves every whole record that fits into this period's port buffer, in order, at the start of
  // the period. A record that does not fit stays for the next period; one larger than the port
  // buffer can ever hold is dropped.
  static int Process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<JackDevice*>(arg);
    void* buffer = jack_port_get_buffer(self->port_, frames);
    jack_midi_clear_buffer(buffer);
    self->ring_.Drain(
        [buffer](size_t length) -> uint8_t* { return jack_midi_event_reserve(buffer, 0, length); },
        [buffer](size_t length) {
          return length > jack_midi_max_event_size(buffer) && jack_midi_get_event_count(buffer) == 0;
        });
    return 0;
  }

  static void Shutdown(void* arg) { static_cast<JackDevice*>(arg)->alive_ = false; }

  jack_client_t* client_;
  JackMidiRing ring_;
  jack_port_t* port_ = nullptr;
  const std::string name_;
  std::atomic<bool> alive_ = false;
  std::atomic<bool> open_ = false;
};

}  // namespace

std::shared_ptr<JackMidiDevice> CreateJackMidiDevice(const JackDeviceOptions& options) {
  return JackDevice::Create(options);
}

std::vector<std::shared_ptr<MidiOutDevice>> JackMidiDevices() {
  static std::mutex mutex;
  static std::shared_ptr<JackMidiDevice> device;
  // Devices handed out stay valid for the whole run, also after their server went away.
  static std::vector<std::shared_ptr<JackMidiDevice>> retired;
  std::lock_guard lock(mutex);
  if (device && !device->Alive()) {
    device->CloseClient();
    retired.push_back(std::move(device));  // a server that comes back gets a new client
  }
  if (!device) {
    device = CreateJackMidiDevice(JackDeviceOptions{});
  }
  if (!device) {
    return {};
  }
  return {device};
}

}  // namespace platform
