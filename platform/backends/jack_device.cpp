#include "platform/backends/jack_device.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
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
// callback to make room, a whole batch of messages for a bounded time (JackRingWriter).
constexpr size_t kRingBytes = 64 * 1024;
constexpr auto kRingWait = std::chrono::milliseconds(200);
// How long closing waits for the process callback to send what is queued (the reset): two periods,
// at least this.
constexpr auto kCloseWait = std::chrono::milliseconds(100);

// libjack reports a missing server on stderr; the device list simply has no JACK row then.
void QuietJackLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
  });
}

}  // namespace

jack_client_t* OpenJackClient(const JackDeviceOptions& options) {
  QuietJackLog();
  jack_status_t status;
  return options.serverName.empty()
             ? jack_client_open(options.clientName.c_str(), JackNoStartServer, &status)
             : jack_client_open(options.clientName.c_str(),
                                static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                                options.serverName.c_str());
}

namespace {

// What a JACK MIDI port tells about itself: its name, as a MIDI port.
MidiOutCaps PortCaps(const std::string& name) {
  MidiOutCaps caps;
  caps.name = name;
  caps.technology = kModMidiPort;
  return caps;
}

// Threads: Open, Close and the sends come from the UI thread or, during playback, the sequencer's
// timer thread, never both at once: they are the ring buffer's one writer. The JACK process callback
// is its one reader. The shutdown callback runs on a JACK thread and only clears `alive_`.
class JackDevice final : public JackMidiDevice {
 public:
  static std::shared_ptr<JackDevice> Create(const JackDeviceOptions& options) {
    jack_client_t* client = OpenJackClient(options);
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

  MidiOutCaps Caps() const override { return PortCaps(name_); }

  bool Open() override {
    open_ = alive_.load();
    return open_;
  }

  // Sends the driver reset and waits until the process callback has sent it, so that a client closed
  // right after (program end) leaves no note on.
  void Close() override {
    if (open_) {
      Reset();
      open_ = false;
      WaitUntilSent();
    }
  }

  void SetVolume(uint32_t) override {}

  bool ConnectTo(const std::string& destination) override {
    return alive_ && client_ != nullptr &&
           jack_connect(client_, jack_port_name(port_), destination.c_str()) == 0;
  }

  bool Alive() const override { return alive_; }

  uint64_t DroppedMessages() const override { return dropped_; }

  std::vector<std::string> Connections() const override {
    std::vector<std::string> names;
    if (!alive_ || port_ == nullptr) {
      return names;
    }
    const char** connections = jack_port_get_connections(port_);
    for (const char** c = connections; c != nullptr && *c != nullptr; ++c) {
      names.emplace_back(*c);
    }
    jack_free(connections);
    return names;
  }

 private:
  JackDevice(jack_client_t* client, const JackDeviceOptions& options)
      : client_(client),
        ring_(kRingBytes),
        writer_(
            ring_, kRingWait, [] { return std::chrono::steady_clock::now(); },
            [](std::chrono::milliseconds wait) { std::this_thread::sleep_for(wait); }),
        name_(options.clientName + ":" + options.portName + " (JACK)") {}

  // Waits until the ring is empty and the period that took its last messages is out, for two periods
  // or kCloseWait, whichever is longer.
  void WaitUntilSent() {
    if (!alive_ || client_ == nullptr) {
      return;
    }
    const double rate = std::max<double>(jack_get_sample_rate(client_), 1);
    const auto periods =
        std::chrono::microseconds(static_cast<int64_t>(2e6 * jack_get_buffer_size(client_) / rate));
    const auto deadline =
        std::chrono::steady_clock::now() + std::max<std::chrono::microseconds>(periods, kCloseWait);
    auto waiting = [&] { return alive_ && std::chrono::steady_clock::now() < deadline; };
    while (!ring_.Empty() && waiting()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const uint64_t cycle = cycles_;
    while (cycles_ == cycle && waiting()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

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

  // Queues the message for the process callback, stamped with the frame time of now; when the ring
  // is full, waits for the callback to make room (JackRingWriter).
  void SendMessage(std::span<const uint8_t> message) override {
    if (!open_ || !alive_) {
      return;
    }
    if (!writer_.Send(jack_frame_time(client_), message, [this] { return alive_.load(); })) {
      dropped_ = writer_.Dropped();
    }
  }

  // Moves every whole record that fits into this period's port buffer, in order. A message sent
  // during the previous period goes to the same offset in this one (one period of latency, the
  // spacing kept), never before the message ahead of it, and within the period; one stamped within
  // this period (a callback that runs late) waits for the next. A record that does
  // not fit stays for the next period; one larger than the port buffer can ever hold is dropped.
  static int Process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<JackDevice*>(arg);
    void* buffer = jack_port_get_buffer(self->port_, frames);
    jack_midi_clear_buffer(buffer);
    const jack_nframes_t previousStart = jack_last_frame_time(self->client_) - frames;
    jack_nframes_t earliest = 0;
    self->ring_.DrainStamped(
        [&](size_t length, uint32_t stamp) -> uint8_t* {
          const std::optional<uint32_t> at = PeriodOffset(stamp, previousStart, frames, earliest);
          if (!at) {
            return nullptr;  // sent during this period (its callback ran late): the next one takes it
          }
          uint8_t* slot = jack_midi_event_reserve(buffer, *at, length);
          if (slot != nullptr) {
            earliest = *at;
          }
          return slot;
        },
        [buffer](size_t length) {
          return length > jack_midi_max_event_size(buffer) && jack_midi_get_event_count(buffer) == 0;
        });
    self->cycles_.fetch_add(1, std::memory_order_release);
    return 0;
  }

  static void Shutdown(void* arg) { static_cast<JackDevice*>(arg)->alive_ = false; }

  jack_client_t* client_;
  JackMidiRing ring_;
  JackRingWriter writer_;  // used by the sending thread only
  std::atomic<uint64_t> dropped_ = 0;
  std::atomic<uint64_t> cycles_ = 0;  // process cycles run
  jack_port_t* port_ = nullptr;
  const std::string name_;
  std::atomic<bool> alive_ = false;
  std::atomic<bool> open_ = false;
};

// The device list's JACK row. Its client exists only while the port is open, so that an idle program
// (deactivated, or another output chosen) keeps no node in the server's graph that runs every period;
// the port's connections are remembered when it closes and made again when it opens.
class JackRow final : public JackMidiDevice {
 public:
  explicit JackRow(JackDeviceOptions options)
      : options_(std::move(options)), name_(options_.clientName + ":" + options_.portName + " (JACK)") {}

  MidiOutCaps Caps() const override { return PortCaps(name_); }

  bool Open() override {
    if (retired_) {
      return false;
    }
    if (!client_ || !client_->Alive()) {
      DropClient();
      client_ = CreateJackMidiDevice(options_);
      if (!client_) {
        return false;
      }
      for (const std::string& destination : connections_) {
        client_->ConnectTo(destination);
      }
    }
    return client_->Open();
  }

  // Sends the reset, then remembers the connections and closes the client.
  void Close() override {
    if (!client_) {
      return;
    }
    client_->Close();
    if (client_->Alive()) {
      connections_ = client_->Connections();
    }
    DropClient();
  }

  void SetVolume(uint32_t) override {}

  bool ConnectTo(const std::string& destination) override {
    if (!client_ || !client_->ConnectTo(destination)) {
      return false;
    }
    connections_ = client_->Connections();
    return true;
  }
  bool Alive() const override { return !retired_ && (!client_ || client_->Alive()); }
  // The row has a client on a running server (it is open).
  bool Attached() const { return client_ && client_->Alive(); }
  void CloseClient() override {
    retired_ = true;
    DropClient();
  }
  uint64_t DroppedMessages() const override { return dropped_ + (client_ ? client_->DroppedMessages() : 0); }
  std::vector<std::string> Connections() const override {
    return client_ ? client_->Connections() : connections_;
  }
  std::vector<std::string> Links() const override { return Connections(); }
  void SetLinks(std::vector<std::string> links) override { connections_ = std::move(links); }

 private:
  void SendMessage(std::span<const uint8_t> message) override {
    if (client_) {
      client_->LongMsg(message);  // one whole message: the split gives it back unchanged
    }
  }

  void DropClient() {
    if (client_) {
      dropped_ += client_->DroppedMessages();
      client_->CloseClient();
      client_.reset();
    }
  }

  const JackDeviceOptions options_;
  const std::string name_;
  std::shared_ptr<JackMidiDevice> client_;
  std::vector<std::string> connections_;
  uint64_t dropped_ = 0;
  bool retired_ = false;
};

// Whether a server runs: a client opened and closed at once (never starting a server).
bool ServerRuns(const JackDeviceOptions& options) {
  jack_client_t* client = OpenJackClient(options);
  if (client == nullptr) {
    return false;
  }
  jack_client_close(client);
  return true;
}

}  // namespace

std::shared_ptr<JackMidiDevice> CreateJackMidiDevice(const JackDeviceOptions& options) {
  return JackDevice::Create(options);
}

std::vector<std::shared_ptr<MidiOutDevice>> JackMidiDevices() {
  static std::mutex mutex;
  static std::shared_ptr<JackRow> row;
  // Rows handed out stay valid for the whole run, also after their server went away.
  static std::vector<std::shared_ptr<JackRow>> retired;
  std::lock_guard lock(mutex);
  const JackDeviceOptions options;
  // An open row's live client shows the server runs; else a client is opened and closed briefly.
  const bool running = (row && row->Attached()) || ServerRuns(options);
  if (row && (!running || !row->Alive())) {
    row->CloseClient();
    retired.push_back(std::move(row));  // a server that comes back gets a new row
  }
  if (!running) {
    return {};
  }
  if (!row) {
    row = std::make_shared<JackRow>(options);
  }
  return {row};
}

}  // namespace platform
